// Placeholder until the acceptance check is built.
#include "resolve/check_candidate.h"

bool flaggedState = false;
void initFlaggedState() {}
