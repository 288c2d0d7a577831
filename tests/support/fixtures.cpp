#include "support/fixtures.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <sstream>

#include "platform/endian.h"

namespace fixtures {

namespace {
const bool kKeysLoaded = (keys(), true);
}  // namespace

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
  Relation r;
  r.name = name;
  if (minVersion != nullptr) r.minVersion = version(minVersion);
  return r;
}

qpk::FileEntry file(const std::string& path, const std::string& data, uint16_t mode) {
  qpk::FileEntry entry;
  entry.path = path;
  entry.data = data;
  entry.mode = mode;
  return entry;
}

qpk::PackageSpec spec(const std::string& name, const char* versionText, std::vector<qpk::FileEntry> files) {
  qpk::PackageSpec s;
  s.name = name;
  s.version = version(versionText);
  s.buildTime = 1000;
  s.files = std::move(files);
  return s;
}

qpk::BundleSpec bundle(const std::string& name, const char* versionText, std::vector<qpk::PackageSpec> members,
                       std::optional<std::string> blob) {
  qpk::BundleSpec b;
  b.name = name;
  b.version = version(versionText);
  b.buildTime = 1000;
  b.members = std::move(members);
  b.blob = std::move(blob);
  return b;
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

std::string upload(ScratchRoot& root, const std::string& fileName, const std::string& content,
                   const std::string& directory) {
  root.write(directory + fileName, content);
  return content;
}

std::string readLink(const std::string& path) {
  char buffer[512];
  const ssize_t n = readlink(path.c_str(), buffer, sizeof buffer);
  return n < 0 ? std::string() : std::string(buffer, static_cast<size_t>(n));
}

void installFirst(ScratchRoot& root, const std::vector<std::pair<std::string, std::string>>& files) {
  for (const auto& [name, content] : files) upload(root, name, content);
  const RunResult run = root.run({});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  for (const auto& entry : files) root.remove(std::string(kDownload) + entry.first);
  root.remove("/flash/PCKGS_CHANGED");
}

bool hasLine(const std::string& text, const std::string& line) {
  std::istringstream lines(text);
  for (std::string each; std::getline(lines, each);) {
    if (each == line) return true;
  }
  return false;
}

namespace {

void walk(const std::string& host, const std::string& router, State& state) {
  for (const std::string& name : listFolder(host)) {
    const std::string hostPath = host + "/" + name, routerPath = router + "/" + name;
    struct stat st;
    if (::lstat(hostPath.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      state[routerPath] = "d";
      walk(hostPath, routerPath, state);
    } else if (S_ISLNK(st.st_mode)) {
      state[routerPath] = "l:" + readLink(hostPath);
    } else if (routerPath != "/flash/postlog") {
      state[routerPath] = "f:" + readFile(hostPath);
    }
  }
}

bool below(const std::string& path, const std::vector<std::string>& tops) {
  for (const std::string& top : tops)
    if (path.compare(0, top.size() + 1, top + "/") == 0) return true;
  return false;
}

}  // namespace

State snapshot(const ScratchRoot& root, const std::vector<std::string>& tops) {
  State state;
  for (const std::string& top : tops) walk(root.host(top), top, state);
  return state;
}

void restore(const ScratchRoot& root, const State& state, const std::vector<std::string>& tops) {
  for (const std::string& top : tops)
    for (const std::string& name : listFolder(root.host(top))) removeTree(root.host(top) + "/" + name);
  for (const auto& [path, entry] : state) {  // a folder sorts before what it holds
    if (!below(path, tops)) continue;
    const std::string host = root.host(path);
    if (entry == "d") {
      ::mkdir(host.c_str(), 0755);
    } else if (entry.compare(0, 2, "l:") == 0) {
      if (::symlink(entry.c_str() + 2, host.c_str()) != 0) ADD_FAILURE() << "symlink " << host;
    } else {
      writeFile(host, entry.substr(2));
    }
  }
}

std::vector<std::string> differences(const State& before, const State& after, size_t limit) {
  std::vector<std::string> out;
  auto b = before.begin();
  auto a = after.begin();
  while ((b != before.end() || a != after.end()) && out.size() < limit) {
    if (a == after.end() || (b != before.end() && b->first < a->first)) {
      out.push_back("-" + (b++)->first);
    } else if (b == before.end() || a->first < b->first) {
      out.push_back("+" + (a++)->first);
    } else {
      if (a->second != b->second) out.push_back("~" + a->first);
      ++a, ++b;
    }
  }
  return out;
}

std::map<std::string, std::string> flashTree(const ScratchRoot& root) {
  std::map<std::string, std::string> tree;
  for (const auto& [path, entry] : snapshot(root, {"/flash"})) {
    if (entry != "d") tree[path] = entry[0] == 'l' ? "-> " + entry.substr(2) : entry.substr(2);
  }
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

std::string versionLine(const char* versionText) { return std::to_string(version(versionText)) + " 1000\n"; }

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
  std::vector<std::string> names;
  if (DIR* d = opendir(root.host("/flash/var/pdb").c_str())) {
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    }
    closedir(d);
  }
  return names;
}

void writeFile(const std::string& path, const std::string& content, unsigned mode) {
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) ADD_FAILURE() << "cannot write " << path;
  }
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
  std::vector<std::string> names;
  if (DIR* d = opendir(path.c_str())) {
    while (struct dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::map<std::string, std::string> stagedView(const StagedChanges& staged) {
  std::map<std::string, std::string> view;
  for (const auto& [target, change] : staged) {
    view[target] = change.kind == ChangeKind::MoveTemporary ? readFile(change.data)
                   : change.kind == ChangeKind::Remove      ? "<remove>"
                                                            : "<other>";
  }
  return view;
}

}  // namespace fixtures
