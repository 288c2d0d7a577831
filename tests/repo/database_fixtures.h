// Helpers for the package database tests: package images made with the
// builder, entry directories written into a scratch root, the database
// directory in the order the system lists it, and a staged set read back.
#pragma once
#include <dirent.h>
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "qpk/package_builder.h"
#include "staging/staged_changes.h"
#include "support/scratch_root.h"

namespace dbtest {

inline constexpr Version kV1 = makeVersion(1, 0, Final, 0);             // "1.0"
inline constexpr Version kV6469 = makeVersion(6, 46, Final, 9);         // "6.46.9"
inline constexpr Version kV7b4 = makeVersion(7, 1, Beta, 4);            // "7.1beta4"
inline constexpr uint32_t kBuilt = 1796508901;                          // Dec/05/2026 22:15:01 UTC

inline const qpk::SigningKeys& keys() {
  static const qpk::SigningKeys k = qpk::developmentKeys(INSTALLER_SOURCE_DIR);
  return k;
}

inline qpk::PackageSpec spec(const std::string& name, Version version, uint32_t buildTime = kBuilt) {
  qpk::PackageSpec s;
  s.name = name;
  s.version = version;
  s.buildTime = buildTime;
  s.files = {{"bin/" + name, "payload of " + name}};
  return s;
}

inline std::string image(const qpk::PackageSpec& s) {
  std::string file, error;
  EXPECT_TRUE(qpk::buildPackage(s, keys(), &file, &error)) << error;
  return file;
}

inline std::string bundleImage(const qpk::BundleSpec& s) {
  std::string file, error;
  EXPECT_TRUE(qpk::buildBundle(s, keys(), &file, &error)) << error;
  return file;
}

// An entry directory from small files: {"version": "...", "files": "..."}.
inline void writeEntryFiles(ScratchRoot& root, const std::string& name,
                            const std::map<std::string, std::string>& files) {
  root.write("/flash/var/pdb/" + name + "/.keep", "");
  root.remove("/flash/var/pdb/" + name + "/.keep");
  for (const auto& [file, content] : files) root.write("/flash/var/pdb/" + name + "/" + file, content);
}

// The database directory's names in the order readdir gives them, which is
// the order the loader must keep.
inline std::vector<std::string> listingOrder(const ScratchRoot& root) {
  std::vector<std::string> names;
  if (DIR* d = opendir(root.host("/flash/var/pdb").c_str())) {
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    }
    closedir(d);
  }
  return names;
}

inline std::string readWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Target -> what the commit would put there: the temporary's bytes for a
// move of a temporary, "<remove>" for a removal. Must run where the
// temporaries are visible (inside the scratch root).
inline std::map<std::string, std::string> stagedView(const StagedChanges& staged) {
  std::map<std::string, std::string> view;
  for (const auto& [target, change] : staged) {
    if (change.kind == ChangeKind::MoveTemporary) {
      view[target] = readWhole(change.data);
    } else if (change.kind == ChangeKind::Remove) {
      view[target] = "<remove>";
    } else {
      view[target] = "<other>";
    }
  }
  return view;
}

}  // namespace dbtest
