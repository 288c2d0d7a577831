#include "model/package.h"

const char* actionName(PendingAction action) {
  static const char* const kNames[] = {"", "uninstall", "enable", "disable"};
  int index = static_cast<int>(action);
  if (index < 0 || index > 3) return "";
  return kNames[index];
}

std::string packageLabel(const PackageInfo& package) {
  return package.name + "-" + versionText(package.version);
}

std::string relationLabel(const Relation& relation) {
  if (relation.minVersion == 0) return relation.name;
  return relation.name + "-" + versionText(relation.minVersion);
}

std::string reportLabel(const Package& package) {
  if (!package.bundle.name.empty()) return relationLabel(package.bundle);
  return packageLabel(package);
}
