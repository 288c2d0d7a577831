#include "model/install_rules.h"

#include <limits.h>

#include "model/package.h"

const char* relationNameProblem(const std::string& name) {
  // "" and "." would name the database folder itself, ".." its parent.
  if (name.empty() || name == "." || name == "..") return "is empty, \".\" or \"..\"";
  for (unsigned char c : name) {
    if (c == '/') return "holds a \"/\"";
    if (c <= 0x20 || c == 0x7F) return "holds whitespace or a control byte";
  }
  return nullptr;
}

const char* packageNameProblem(const std::string& name) {
  if (const char* problem = relationNameProblem(name)) return problem;
  // The loader passes entries beginning with "." over: such a package could
  // never be listed or removed. "image" is where "installer -" copies the
  // piped package.
  if (name[0] == '.') return "begins with \".\"";
  if (name == "image") return "is \"image\", the name of the piped package's copy";
  return nullptr;
}

std::string installedPath(const std::string& prefix, const std::string& stored, const char** problem) {
  const std::string relative = prefix + stored;
  // The files list holds one path a line, and the manifest splits at spaces.
  if (relative.find_first_of(std::string(" \n\0", 3)) != std::string::npos) {
    *problem = "holds a space, a newline or a NUL";
    return "";
  }
  // A file needs a name of its own: a path ending in "/" or "." names a
  // folder, whose later uninstallation would empty it of other packages' files.
  const std::string last = relative.substr(relative.rfind('/') + 1);
  if (last.empty() || last == ".") {
    *problem = "names a folder";
    return "";
  }
  std::string path = "/flash";
  size_t start = 0;
  while (start < relative.size()) {
    size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    const std::string part = relative.substr(start, end - start);
    if (part == "..") {
      *problem = "climbs out with \"..\"";
      return "";
    }
    if (part.size() > NAME_MAX) {
      *problem = "has a component longer than 255 bytes";
      return "";
    }
    if (!part.empty() && part != ".") path += "/" + part;
    start = end + 1;
  }
  // A payload in the database could make packages that were never
  // installed, or rewrite another package's file list.
  const std::string database(kDatabaseDirectory);
  if (path + "/" == database || path.compare(0, database.size(), database) == 0) {
    *problem = "lands in the package database";
    return "";
  }
  if (path.size() >= PATH_MAX) {
    *problem = "is longer than a path may be";
    return "";
  }
  return path;
}
