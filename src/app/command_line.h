// The settings of one run, read from the command line.
#pragma once
#include <cstdint>
#include <iosfwd>
#include <string>

struct RunSettings {
  bool quiet = false;              // "-q"
  bool show = false;               // "--show"
  bool cleanup = false;            // "--cleanup"
  bool fromStandardInput = false;  // "-"
  bool commitAtOnce = true;        // "--safe" leaves the changes in the manifest
  uint32_t tolerated = 0;          // acceptance outcome bits: "-down" 0x02, "--reinstall" 0x20
  std::string root;                // "-r <root>"; empty: stay in "/"
};

// What the command line asks for once it has been read.
enum class CommandLineOutcome {
  Run,     // change root, open the repository, run the chosen mode
  Usage,   // an unknown or incomplete word: print the usage line, change nothing
  Commit,  // "--commit": carry out the waiting manifest, before any root change
  Cancel,  // "--cancel": drop the waiting manifest
};

inline constexpr const char* kUsageLine = "usage: installer [-q] [-r <root>] [-]";

// Reads argv[1..argc) left to right into *settings, stopping after "--cleanup"
// or "-", and at once on "--commit", "--cancel" or a word it does not know.
// "--reinstall" writes its resumption line to out as soon as it is read.
CommandLineOutcome parseCommandLine(int argc, const char* const* argv, RunSettings* settings, std::ostream& out);
