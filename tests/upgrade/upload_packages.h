// Signed test packages for upgrade runs, built with the package builder and
// uploaded into a scratch root. Shared by the upgrade, repo and app tests.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "model/version.h"
#include "qpk/package_builder.h"
#include "support/scratch_root.h"

namespace uploads {

inline constexpr const char* kDownload = "/rw/pckg/.download/";
inline constexpr const char* kFlashUpload = "/flash/rw/pckg/";
inline constexpr const char* kFlashPackages = "/flash/var/pckg/";

inline Version version(const char* text) {
  Version v = 0;
  EXPECT_TRUE(parseVersionText(text, &v)) << text;
  return v;
}

inline Relation relation(const std::string& name, const char* minVersion = nullptr) {
  Relation r;
  r.name = name;
  if (minVersion != nullptr) r.minVersion = version(minVersion);
  return r;
}

inline qpk::PackageSpec spec(const std::string& name, const char* versionText,
                             std::vector<qpk::FileEntry> files = {}) {
  qpk::PackageSpec s;
  s.name = name;
  s.version = version(versionText);
  s.buildTime = 1000;
  s.files = std::move(files);
  return s;
}

inline qpk::FileEntry file(const std::string& path, const std::string& data) {
  qpk::FileEntry entry;
  entry.path = path;
  entry.data = data;
  return entry;
}

inline const qpk::SigningKeys& keys() {
  static const qpk::SigningKeys developmentKeys = qpk::developmentKeys(INSTALLER_SOURCE_DIR);
  return developmentKeys;
}

inline std::string build(const qpk::PackageSpec& s, const qpk::SigningKeys& signingKeys = keys()) {
  std::string out, error;
  EXPECT_TRUE(qpk::buildPackage(s, signingKeys, &out, &error)) << error;
  return out;
}

inline std::string buildBundle(const qpk::BundleSpec& s) {
  std::string out, error;
  EXPECT_TRUE(qpk::buildBundle(s, keys(), &out, &error)) << error;
  return out;
}

// A bundle that keeps a stored image, as bundles on a router do: the blob
// part makes the upload its entry's image, and the image is what ties the
// members to their bundle when the database is loaded.
inline std::string bundleWithBlob(const std::string& name, const char* versionText,
                                  const std::vector<qpk::PackageSpec>& members, const std::string& blob) {
  qpk::BundleSpec s;
  s.name = name;
  s.version = version(versionText);
  s.buildTime = 1000;
  s.members = members;
  s.blob = blob;
  return buildBundle(s);
}

// Writes a built package file into an upload directory of the scratch root.
inline std::string upload(ScratchRoot& root, const std::string& fileName, const std::string& content,
                          const std::string& directory = kDownload) {
  root.write(directory + fileName, content);
  return content;
}

inline std::string linkText(const ScratchRoot& root, const std::string& routerPath) {
  char buffer[512];
  const ssize_t n = readlink(root.host(routerPath).c_str(), buffer, sizeof buffer);
  return n < 0 ? std::string() : std::string(buffer, static_cast<size_t>(n));
}

inline bool hasLine(const std::string& text, const std::string& line) {
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (text.compare(start, end - start, line) == 0 && end - start == line.size()) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace uploads
