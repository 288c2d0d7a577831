// What the router takes: the names its database can hold and the paths a
// payload may install. The installer refuses a package that breaks a rule,
// and "qpk build" refuses to make one.
#pragma once
#include <string>

// Why name cannot be a relation's name (it is kept as a word of the
// database's token files), or null when it can.
const char* relationNameProblem(const std::string& name);
// The same for a package's own name, which also names its entry folder.
const char* packageNameProblem(const std::string& name);

// Where a regular file of the payload lands: "/flash", then prefix ("/" for
// an enabled package, "/x/NAME/" for a disabled one), then the stored path,
// with empty and "." components dropped. Empty, with *problem set, when the
// file cannot be installed there.
std::string installedPath(const std::string& prefix, const std::string& stored, const char** problem);
