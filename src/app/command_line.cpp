#include "app/command_line.h"

#include <cstring>
#include <ostream>

#include "resolve/check_candidate.h"

CommandLineOutcome parseCommandLine(int argc, const char* const* argv, RunSettings* settings, std::ostream& out) {
  for (int i = 1; i < argc; ++i) {
    const char* word = argv[i];
    // A word that takes an argument but comes last matches no row and ends
    // in the usage line.
    bool hasNext = i + 1 < argc;
    if (std::strcmp(word, "--cleanup") == 0) {
      settings->cleanup = true;
      break;
    } else if (std::strcmp(word, "--safe") == 0) {
      settings->commitAtOnce = false;
    } else if (std::strcmp(word, "-r") == 0 && hasNext) {
      settings->root = argv[++i];
    } else if (std::strcmp(word, "-") == 0) {
      settings->fromStandardInput = true;
      break;
    } else if (std::strcmp(word, "-q") == 0) {
      settings->quiet = true;
    } else if (std::strcmp(word, "-down") == 0) {
      settings->tolerated |= kOutcomeOlder;
    } else if (std::strcmp(word, "--reinstall") == 0) {
      out << "\nResuming upgrade...\n";
      out.flush();
      settings->tolerated |= kOutcomeEqual;
    } else if (std::strcmp(word, "-b") == 0 || std::strcmp(word, "--force") == 0 ||
               std::strcmp(word, "--noupgrade") == 0 || std::strcmp(word, "-i") == 0) {
      // accepted for older callers; no effect
    } else if (std::strcmp(word, "--month") == 0 && hasNext) {
      ++i;
    } else if (std::strcmp(word, "--commit") == 0) {
      return CommandLineOutcome::Commit;
    } else if (std::strcmp(word, "--cancel") == 0) {
      return CommandLineOutcome::Cancel;
    } else if (std::strcmp(word, "--show") == 0) {
      settings->show = true;
    } else {
      return CommandLineOutcome::Usage;
    }
  }
  return CommandLineOutcome::Run;
}
