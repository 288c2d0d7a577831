// "--show": the table of installed packages; nothing is changed or logged.
#include "app/modes.h"
#include "repo/repository.h"

int runShowMode(Repository& repository) {
  repository.printListing();
  return 0;
}
