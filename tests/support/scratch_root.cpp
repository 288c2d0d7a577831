#include "support/scratch_root.h"
