#include "support/fixtures.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "platform/endian.h"

// Designated initializers leave the members they do not name at their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace fixtures {

const bool kKeysLoaded = (keys(), true);

const qpk::SigningKeys& keys() {
  static const qpk::SigningKeys k = qpk::developmentKeys(INSTALLER_SOURCE_DIR);
  return k;
}

Version version(const char* text) {
  Version v = 0;
  EXPECT_TRUE(parseVersionText(text, &v)) << text;
  return v;
}

Relation relation(const std::string& name, const char* minVersion) {
  return {.name = name, .minVersion = minVersion != nullptr ? version(minVersion) : 0};
}

qpk::FileEntry file(const std::string& path, const std::string& data, uint16_t mode) {
  return {.path = path, .data = data, .mode = mode};
}

qpk::PackageSpec spec(const std::string& name, const char* versionText, std::vector<qpk::FileEntry> files) {
  return {.name = name, .version = version(versionText), .buildTime = 1000, .files = std::move(files)};
}

qpk::BundleSpec bundle(const std::string& name, const char* versionText, std::vector<qpk::PackageSpec> members,
                       std::optional<std::string> blob) {
  return {.name = name, .version = version(versionText), .buildTime = 1000, .members = std::move(members),
          .blob = std::move(blob)};
}

std::string build(const qpk::PackageSpec& s, const qpk::SigningKeys& signingKeys) {
  std::string out, error;
  EXPECT_TRUE(qpk::buildPackage(s, signingKeys, &out, &error)) << error;
  return out;
}

std::string buildBundle(const qpk::BundleSpec& s) {
  std::string out, error;
  EXPECT_TRUE(qpk::buildBundle(s, keys(), &out, &error)) << error;
  return out;
}

std::string readLink(const std::string& path) {
  std::error_code error;
  return std::filesystem::read_symlink(path, error).string();
}

void installFirst(ScratchRoot& root, const std::vector<std::pair<std::string, std::string>>& files) {
  for (const auto& [name, content] : files) root.write(kDownload + name, content);
  const RunResult run = root.run({});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  for (const auto& entry : files) root.remove(std::string(kDownload) + entry.first);
  root.remove("/flash/PCKGS_CHANGED");
}

bool hasLine(const std::string& text, const std::string& line) {
  const std::string lines = "\n" + text + (text.empty() || text.ends_with('\n') ? "" : "\n");
  return lines.find("\n" + line + "\n") != std::string::npos;
}

// A folder's names as readdir gives them, without "." and "..".
static std::vector<std::string> readdirOrder(const std::string& path) {
  std::vector<std::string> names;
  std::error_code error;
  for (std::filesystem::directory_iterator it(path, error), end; it != end; it.increment(error))
    names.push_back(it->path().filename().string());
  return names;
}

State snapshot(const ScratchRoot& root, const std::vector<std::string>& tops) {
  State state;
  std::error_code error;
  for (const std::string& top : tops) {
    const std::string base = root.host(top);
    for (std::filesystem::recursive_directory_iterator it(base, error), end; it != end; it.increment(error)) {
      const std::string host = it->path().string(), path = top + host.substr(base.size());
      if (it->is_symlink(error)) state[path] = "l:" + readLink(host);
      else if (it->is_directory(error)) state[path] = "d";
      else if (path != "/flash/postlog") state[path] = "f:" + readFile(host);
    }
  }
  return state;
}

void restore(const ScratchRoot& root, const State& state, const std::vector<std::string>& tops) {
  for (const std::string& top : tops)
    for (const std::string& name : listFolder(root.host(top))) root.remove(top + "/" + name);
  for (const auto& [path, entry] : state) {  // a folder sorts before what it holds
    if (std::none_of(tops.begin(), tops.end(), [&](const std::string& top) { return path.starts_with(top + "/"); }))
      continue;
    const std::string host = root.host(path);
    if (entry == "d") ::mkdir(host.c_str(), 0755);
    else if (entry[0] == 'f') writeFile(host, entry.substr(2));
    else if (::symlink(entry.c_str() + 2, host.c_str()) != 0) ADD_FAILURE() << "symlink " << host;
  }
}

std::vector<std::string> differences(const State& before, const State& after, size_t limit) {
  std::map<std::string, std::string> marks;
  for (const auto& [path, entry] : before) marks[path] = after.contains(path) ? "" : "-";
  for (const auto& [path, entry] : after) marks[path] = !before.contains(path) ? "+" : before.at(path) != entry ? "~" : "";
  std::vector<std::string> out;
  for (const auto& [path, mark] : marks)
    if (!mark.empty() && out.size() < limit) out.push_back(mark + path);
  return out;
}

std::map<std::string, std::string> flashTree(const ScratchRoot& root) {
  std::map<std::string, std::string> tree;
  for (const auto& [path, entry] : snapshot(root, {"/flash"}))
    if (entry != "d") tree[path] = (entry[0] == 'l' ? "-> " : "") + entry.substr(2);
  return tree;
}

std::vector<PartSpan> partsOf(const std::string& file) {
  std::vector<PartSpan> parts;
  for (size_t at = 8; at + 6 <= file.size(); at += 6 + static_cast<size_t>(parts.back().length)) {
    const auto* p = reinterpret_cast<const uint8_t*>(file.data()) + at;
    parts.push_back({at, decodeFixed16(p), decodeFixed32(p + 2)});
  }
  return parts;
}

void writeEntry(ScratchRoot& root, const std::string& name, const std::map<std::string, std::string>& files) {
  ::mkdir(root.host("/flash/var/pdb/" + name).c_str(), 0755);
  for (const auto& [file, content] : files) root.write("/flash/var/pdb/" + name + "/" + file, content);
}

void installEntry(ScratchRoot& root, const std::string& name, const std::string& deps, const std::string& state) {
  std::map<std::string, std::string> files = {
      {"version", std::to_string(version("1.0")) + " 100\n"}, {"deps", deps}, {"files", "flash/bin/" + name + "\n"}};
  if (!state.empty()) files[state] = "auto\n";
  writeEntry(root, name, files);
  root.write("/flash/bin/" + name, "binary of " + name);
}

std::vector<std::string> listingOrder(const ScratchRoot& root) {
  std::vector<std::string> names = readdirOrder(root.host("/flash/var/pdb"));
  std::erase_if(names, [](const std::string& name) { return name[0] == '.'; });
  return names;
}

void writeFile(const std::string& path, const std::string& content, unsigned mode) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!(out << content).flush()) ADD_FAILURE() << "cannot write " << path;
  chmod(path.c_str(), mode);
}

bool pathExists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

unsigned fileMode(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) != 0 ? 0xFFFFFFFFu : st.st_mode & 07777;
}

std::vector<std::string> listFolder(const std::string& path) {
  std::vector<std::string> names = readdirOrder(path);
  std::sort(names.begin(), names.end());
  return names;
}

std::map<std::string, std::string> stagedView(const StagedChanges& staged) {
  std::map<std::string, std::string> view;
  for (const auto& [target, change] : staged)
    view[target] = change.kind == ChangeKind::MoveTemporary ? readFile(change.data)
                   : change.kind == ChangeKind::Remove      ? "<remove>"
                                                            : "<other>";
  return view;
}

}  // namespace fixtures
