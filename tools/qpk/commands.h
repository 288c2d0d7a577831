// The qpk subcommands; each returns the tool's exit status.
#pragma once

namespace qpk {
int runBuildCommand(int argc, char** argv);   // qpk build ...
int runInfoCommand(int argc, char** argv);    // qpk info FILE
int runKeygenCommand(int argc, char** argv);  // qpk keygen ...
int runSignCommand(int argc, char** argv);    // qpk sign ...
int runVerifyCommand(int argc, char** argv);  // qpk verify FILE
}  // namespace qpk
