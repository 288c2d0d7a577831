// The qpk subcommands; each returns the tool's exit status.
#pragma once
#include <cstdint>
#include <iosfwd>

namespace qpk {
int runBuildCommand(int argc, char** argv);   // qpk build ...
int runBuildBundleCommand(int argc, char** argv);  // qpk build-bundle ...
int runInfoCommand(int argc, char** argv);    // qpk info [--json] FILE
int runKeygenCommand(int argc, char** argv);  // qpk keygen ...
int runSignCommand(int argc, char** argv);    // qpk sign ...
int runVerifyCommand(int argc, char** argv);  // qpk verify [--json] ... FILE

// What "qpk info" prints of a package file of fileSize bytes read from in
// (named path in the output), as text or as one JSON document; 0 when the
// file is whole.
int describePackageFile(std::istream& in, uint64_t fileSize, const char* path, bool json = false);
}  // namespace qpk
