// One installer run on a scratch root as a table row: what goes in; status, output, flash tree and log.
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "staging/atomic_writer.h"
#include "support/fixtures.h"

namespace scenario {

using namespace fixtures;
using Tree = std::map<std::string, std::string>;
using Files = std::vector<std::pair<std::string, std::string>>;  // upload name or router path, bytes

inline const std::string kGone = "<gone>";
inline const Tree kMarker = {{"/flash/PCKGS_CHANGED", ""}};
inline const std::vector<std::string> kPipe = {"-"};

struct Row {
  const char* what;
  Files first = {};    // installed through a first run
  Tree setup = {};     // router path -> bytes; a path ending in "/" is a folder, kGone removes
  Files uploads = {};  // a plain name goes to the download folder
  std::vector<std::string> args = {}; std::string input = {};
  std::map<std::string, std::string> env = {};
  int status = 0; std::string out = {};  // the whole plain output
  std::optional<Tree> flash = {};       // the whole flash tree after the run; unset: as before it
  Tree also = {};                       // other router paths -> bytes (kGone: absent)
  std::optional<std::string> log = {};  // the whole post-install log; unset: the old log, then the messages
  std::vector<std::pair<std::string, std::string>> mounts = {};  // tmpfs {router path, size}
  std::function<void(ScratchRoot&)> prepare = {};                 // after the setup, inside the mounts
};

// The union; b's bytes win.
inline Tree operator+(Tree a, const Tree& b) {
  for (const auto& [path, bytes] : b) a[path] = bytes;
  return a;
}

// A package of the given files, built at time 1000 and signed; with() changes it in place.
inline qpk::PackageSpec S(const std::string& name, const char* versionText, const Tree& files = {}) {
  std::vector<qpk::FileEntry> entries;
  for (const auto& [path, data] : files) entries.push_back(file(path, data));
  return spec(name, versionText, entries);
}
template <typename Spec, typename Change>
Spec with(Spec s, const Change& change) {
  change(s);
  return s;
}
inline auto needs(const char* name) { return [name](auto& s) { s.dependencies.push_back(relation(name)); }; }
inline auto provides(const char* name) { return [name](auto& s) { s.provides.push_back(relation(name)); }; }
inline auto withBlob(const std::string& bytes) { return [bytes](auto& s) { s.blob = bytes; }; }
inline auto withFlags(uint32_t flags) { return [flags](auto& s) { s.flags = flags; }; }
inline const auto unsignedForm = [](auto& s) { s.signature = qpk::SignatureForm::None; };
inline const auto unrecorded = [](auto& s) { s.magic = UnrecordedMagic; };
inline auto listing(const std::vector<Relation>& members) { return [members](qpk::BundleSpec& b) { b.memberList = members; }; }
inline std::string pack(const std::string& name, const char* versionText, const Tree& files = {}) {
  return build(S(name, versionText, files));
}
inline Files base() { return {{"base.qpk", pack("base", "1.0", {{"/bin/base", "b"}})}}; }

// A recorded entry with the files it put below "/flash" (given without it), plus more entry files.
inline Tree entry(const std::string& name, const char* versionText, const Tree& files, const Tree& more = {}) {
  const std::string dir = "/flash/var/pdb/" + name + "/";
  Tree tree = {{dir + "version", std::to_string(version(versionText)) + " 1000\n"}, {dir + "deps", ""}, {dir + "files", ""}};
  for (const auto& [path, data] : files) {
    tree["/flash" + path] = data;
    tree[dir + "files"] += "flash" + path + "\n";
  }
  for (const auto& [leaf, data] : more) tree[dir + leaf] = data;
  return tree;
}
inline const Tree kBase = entry("base", "1.0", {{"/bin/base", "b"}});
// An entry kept as its stored image (a package with a blob, or a bundle), with the files it put below "/flash".
inline Tree imaged(const std::string& name, const std::string& image, const Tree& files = {}) {
  Tree tree = {{"/flash/var/pdb/" + name + "/image", image}};
  for (const auto& [path, data] : files) tree["/flash" + path] = data;
  return tree;
}

// A stream of parts in the given order; type 0 stands for raw bytes.
inline std::string stream(const std::vector<std::pair<uint16_t, std::string>>& parts) {
  qpk::PartWriter writer;
  for (const auto& [type, data] : parts) type == 0 ? writer.raw(data) : writer.part(type, data);
  return writer.finish();
}

inline void play(const Row& row) {
  ScratchRoot root;
  const auto body = [&] {
    if (!row.first.empty()) installFirst(root, row.first);
    for (const auto& [path, bytes] : row.setup) {
      if (bytes == kGone) root.remove(path);
      else if (path.back() == '/') makeDirectories(root.host(path));
      else root.write(path, bytes);
    }
    if (row.prepare) row.prepare(root);
    for (const auto& [name, bytes] : row.uploads) root.write(name[0] == '/' ? name : kDownload + name, bytes);
    const Tree before = flashTree(root);
    const std::string log = root.read("/flash/postlog");
    const RunResult run = root.run(row.args, row.env, row.input);
    EXPECT_EQ(std::tie(run.status, run.outPlain), std::tie(row.status, row.out)) << row.what;
    EXPECT_EQ(differences(row.flash.value_or(before), flashTree(root)), std::vector<std::string>{}) << row.what;
    for (const auto& [path, bytes] : row.also) EXPECT_EQ(root.exists(path) ? root.read(path) : kGone, bytes) << path;
    // Every message of the run joins the log; the resumption line is no message.
    std::string messages = row.out;
    if (messages.rfind("\nResuming upgrade...\n", 0) == 0) messages.erase(0, 21);
    EXPECT_EQ(root.read("/flash/postlog"), row.log.value_or(log + messages)) << row.what;
    // No row leaves a manifest or temporaries ("--safe" ones fail).
    EXPECT_EQ(snapshot(root, {"/ram/.installer"}), State{}) << row.what;
    EXPECT_FALSE(root.exists("/ram/MANIFEST")) << row.what;
  };
  if (row.mounts.empty()) return body();
  std::vector<std::pair<std::string, std::string>> mounts;
  for (const auto& [path, size] : row.mounts) mounts.push_back({root.host(path), size});
  EXPECT_TRUE(runIsolated(body, mounts)) << row.what;
}

}  // namespace scenario
