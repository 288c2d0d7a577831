// An ordered set of unique paths in ascending byte order.
#pragma once
#include <set>
#include <string>

using FileSet = std::set<std::string>;
