// The walk from a package that will be enabled to everything it needs, with
// the provider lookups of the caller's choice (the engine passes its index).
#pragma once
#include "model/package.h"
#include "resolve/provider_index.h"

class Repository;

void keepDependencies(Repository& repository, Package& package, int verbosity, const ProviderSource& source);
void requireProvider(Repository& repository, Package& provider, const Package& dependent, int verbosity,
                     const ProviderSource& source);
