#include "qpk/package_builder.h"
