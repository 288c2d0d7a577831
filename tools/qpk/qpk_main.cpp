// qpk: builds, inspects, signs and verifies package files.
#include <cstdio>
#include <cstring>

#include "qpk/commands.h"

namespace {

void usage(FILE* out) {
  std::fprintf(out,
               "usage: qpk COMMAND [options]\n"
               "\n"
               "commands:\n"
               "  build         make a signed package file from a directory tree\n"
               "  build-bundle  make a bundle from signed member package files\n"
               "  info          show every part of a package file\n"
               "  keygen        make a signing key pair\n"
               "  sign          sign a package file again\n"
               "  verify        check the signatures of a package file\n"
               "\n"
               "\"qpk COMMAND --help\" describes a command.\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    usage(stderr);
    return 2;
  }
  const char* command = argv[1];
  if (std::strcmp(command, "--help") == 0 || std::strcmp(command, "-h") == 0 ||
      std::strcmp(command, "help") == 0) {
    usage(stdout);
    return 0;
  }
  // Each command sees its own name as argv[0].
  int subArgc = argc - 1;
  char** subArgv = argv + 1;
  if (std::strcmp(command, "build") == 0) return qpk::runBuildCommand(subArgc, subArgv);
  if (std::strcmp(command, "build-bundle") == 0) return qpk::runBuildBundleCommand(subArgc, subArgv);
  if (std::strcmp(command, "info") == 0) return qpk::runInfoCommand(subArgc, subArgv);
  if (std::strcmp(command, "keygen") == 0) return qpk::runKeygenCommand(subArgc, subArgv);
  if (std::strcmp(command, "sign") == 0) return qpk::runSignCommand(subArgc, subArgv);
  if (std::strcmp(command, "verify") == 0) return qpk::runVerifyCommand(subArgc, subArgv);
  std::fprintf(stderr, "qpk: unknown command \"%s\"\n", command);
  usage(stderr);
  return 2;
}
