// What the router would refuse, told before a package is built: the same
// rules the installer applies (model/install_rules.h).
#include "model/install_rules.h"
#include "qpk/package_builder.h"

namespace qpk {

std::string routerProblem(const PackageSpec& spec) {
  if (const char* problem = packageNameProblem(spec.name)) return "package name \"" + spec.name + "\" " + problem;
  for (const auto* list : {&spec.dependencies, &spec.provides, &spec.conflicts}) {
    for (const Relation& relation : *list) {
      if (const char* problem = relationNameProblem(relation.name)) {
        return "relation name \"" + relation.name + "\" " + problem;
      }
    }
  }
  for (const FileEntry& file : spec.files) {
    const char* problem = nullptr;
    if ((file.mode & 0xF000) == 0x8000 && installedPath("/", file.path, &problem).empty()) {
      return "payload path \"" + file.path + "\" " + problem;
    }
  }
  if ((spec.flags & kFlagStateOnly) && !spec.blob && spec.magic != UnrecordedMagic) {
    return "a state-only package needs --blob FILE: its entry is kept only by its stored image";
  }
  return "";
}

}  // namespace qpk
