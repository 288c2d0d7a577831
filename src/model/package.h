// Package records and relations: what is read from package files, loaded from
// the database and installed.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/file_set.h"
#include "model/version.h"

// One dependency, provision or conflict entry. A plain value.
struct Relation {
  std::string name;
  Version minVersion = 0;  // inclusive; 0 = no bound
  Version maxVersion = 0;  // inclusive; 0 = no upper bound
  int32_t priority = 0;    // provisions only
};

enum class PendingAction : int32_t {
  None = 0,
  Uninstall = 1,
  Enable = 2,
  Disable = 3,
};

// "", "uninstall", "enable", "disable", indexed by PendingAction.
const char* actionName(PendingAction action);

// The package database: one entry folder per installed package.
inline constexpr const char* kDatabaseDirectory = "/flash/var/pdb/";

inline constexpr uint32_t kFlagBootImage = 0x1;
inline constexpr uint32_t kFlagStateOnly = 0x2;

struct PackageInfo {
  PackageInfo() = default;
  explicit PackageInfo(std::string packageName) : name(std::move(packageName)) {}
  PackageInfo(const PackageInfo&) = default;
  PackageInfo& operator=(const PackageInfo&) = default;
  virtual ~PackageInfo() = default;

  // identity
  std::string name;
  Version version = 0;
  uint32_t buildTime = 0;
  uint32_t flags = 0;

  std::string text24;
  std::string architecture;
  std::string text2;
  std::string note;
  bool hasBlob = false;
  std::vector<Relation> dependencies;
  std::vector<Relation> provides;
  std::vector<Relation> conflicts;
  bool isBundle = false;
  // Member headers of a bundle file, in file order. Copies of a record share them.
  std::vector<std::shared_ptr<PackageInfo>> members;
};

// An installed package, or one being installed.
struct Package : PackageInfo {
  Package() = default;
  explicit Package(std::string packageName) : PackageInfo(std::move(packageName)) {}

  FileSet files;            // final absolute paths the package installed
  Relation bundle;          // empty name: not installed through a bundle
  bool disabled = false;
  bool byUser = false;      // state chosen by the user ("user"), else "auto"
  PendingAction action = PendingAction::None;
};

// version and buildTime both 0xFFFFFFFF: never conflicts, never a provider.
inline bool isPlaceholder(const PackageInfo& p) {
  return p.version == 0xFFFFFFFFu && p.buildTime == 0xFFFFFFFFu;
}

// name-version, always with the version: "foo-0.0".
std::string packageLabel(const PackageInfo& package);
// name alone when minVersion is 0, else name-version.
std::string relationLabel(const Relation& relation);
// the bundle's relationLabel for a bundle member, else packageLabel.
std::string reportLabel(const Package& package);
