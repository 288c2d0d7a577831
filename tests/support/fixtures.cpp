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

std::string linkText(const ScratchRoot& root, const std::string& routerPath) {
  return readLink(root.host(routerPath));
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

std::map<std::string, std::string> flashTree(const ScratchRoot& root) {
  std::map<std::string, std::string> tree;
  for (const std::string& relative : root.list("/flash")) {
    const std::string path = "/flash/" + relative;
    struct stat st;
    if (path == "/flash/postlog" || ::lstat(root.host(path).c_str(), &st) != 0) continue;
    tree[path] = S_ISLNK(st.st_mode) ? "-> " + linkText(root, path) : root.read(path);
  }
  return tree;
}

std::string versionLine(const char* versionText) { return std::to_string(version(versionText)) + " 1000\n"; }

void writeEntry(ScratchRoot& root, const std::string& name, const std::map<std::string, std::string>& files) {
  ::mkdir(root.host("/flash/var/pdb/" + name).c_str(), 0755);
  for (const auto& [file, content] : files) root.write("/flash/var/pdb/" + name + "/" + file, content);
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

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
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

bool runIsolated(const std::function<void()>& fn, const std::vector<std::pair<std::string, std::string>>& tmpfs,
                 const std::string& chrootTo) {
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    bool ready = unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    if (!ready) ADD_FAILURE() << "cannot make a private mount namespace";
    for (const auto& [hostPath, size] : tmpfs) {
      mkdir(hostPath.c_str(), 0755);
      if (ready && mount("tmpfs", hostPath.c_str(), "tmpfs", 0, ("size=" + size).c_str()) != 0) {
        ADD_FAILURE() << "cannot mount tmpfs on " << hostPath;
        ready = false;
      }
    }
    if (ready && !chrootTo.empty() && (chroot(chrootTo.c_str()) != 0 || chdir("/") != 0)) {
      ADD_FAILURE() << "cannot change root to " << chrootTo;
      ready = false;
    }
    if (ready) fn();
    std::fflush(nullptr);
    _exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace fixtures
