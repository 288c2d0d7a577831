// Runs cut off at file-changing calls (strace's fault injection), then one settling run: flash must hold
// exactly the old or the new package set and no temporary. PowerCut keeps only what reached an ext4 disk.
#include <gtest/gtest.h>

#include "robustness/robustness.h"

using namespace fixtures;

namespace {

// Calls that change a file or a folder, or may; "?" passes over a name this processor lacks.
constexpr const char* kChangingCalls =
    "?openat,?open,?creat,?write,?writev,?pwrite64,?rename,?renameat,?renameat2,?unlink,?unlinkat,?mkdir,?mkdirat,"
    "?rmdir,?symlink,?symlinkat,?link,?linkat,?chmod,?fchmod,?fchmodat,?ftruncate,?fsync,?fdatasync,?sync";
constexpr const char* kTraceLog = "/strace.log";
const std::vector<std::string> kSettle = {"--cancel"};  // after a cut: finishes or drops what was begun
using Args = std::vector<std::string>;

// The upgrade: alpha 2.0 (an image; drops a file), beta 2.0, suite 2.0 (m1, m3 for m1, m2), gamma off, delta gone.
qpk::PackageSpec alpha(const char* version) {
  qpk::PackageSpec s = spec("alpha", version, {file("/bin/alpha", std::string(3000, version[0])),
                                               file("/lib/libalpha.so", std::string(2000, 'l')),
                                               file("/www/alpha.html", std::string(500, version[0]))});
  if (version[0] == '1') s.files.push_back(file("/www/old.html", "old"));
  s.blob = std::string(1000, 'b');
  return s;
}

void setUp(ScratchRoot& root, const Args& args, const Args& first) {
  installFirst(root, {{"alpha.qpk", build(alpha("1.0"))},
                      {"beta.qpk", build(spec("beta", "1.0", {file("/bin/beta", "b1"), file("/www/beta.html", "b1")}))},
                      {"gamma.qpk", build(spec("gamma", "1.0", {file("/www/gamma.html", "g")}))},
                      {"delta.qpk", build(spec("delta", "1.0", {file("/lib/delta.so", "d")}))},
                      {"suite.qpk", buildBundle(bundle("suite", "1.0",
                                                       {spec("m1", "1.0", {file("/www/m1.html", "m1")}),
                                                        spec("m2", "1.0", {file("/bin/m2", "m2")})}))}});
  if (args == Args{"-"}) return;
  root.write("/rw/pckg/.download/alpha.qpk", build(alpha("2.0")));
  root.write("/rw/pckg/.download/beta.qpk", build(spec("beta", "2.0", {file("/bin/beta", "b2"), file("/www/beta.html", "b2")})));
  root.write("/rw/pckg/.download/suite.qpk", buildBundle(bundle("suite", "2.0", {spec("m1", "2.0", {file("/www/m1.html", "m1 v2")}),
                                                                spec("m3", "1.0", {file("/www/m3.html", "m3")})})));
  root.write("/ram/pdb/gamma/schedule", "disable\n");
  root.write("/ram/pdb/delta/schedule", "uninstall\n");
  EXPECT_TRUE(first.empty() || root.runChrooted(first).status == 0);
}

// What a run may leave: temporaries, or the image copy of "installer -".
bool isLeftover(const std::string& path) {
  const std::string name = path.substr(path.rfind('/') + 1);
  return path.find("/.installer") != std::string::npos || path == "/flash/var/pdb/image" ||
         (name.size() == 9 && name.compare(0, 3, "tmp") == 0);
}

// Flash without them (a "--safe" run's temporaries are there before a "--commit").
State flashOf(const State& state) {
  State out;
  for (const auto& [path, entry] : state)
    if (path.compare(0, 6, "/flash") == 0 && !isLeftover(path)) out[path] = entry;
  return out;
}

using Call = std::pair<std::string, int>;

// Runs args under strace, killed at killAt when given. Returns the changing calls with their ordinals.
std::vector<Call> traced(ScratchRoot& root, const Args& args, const std::string& stdinData,
                         const Call* killAt, RunResult& result) {
  std::vector<std::string> wrapper = {"/usr/bin/strace", "-qq", "-o", kTraceLog, "-e", std::string("trace=") + kChangingCalls};
  if (killAt != nullptr)
    wrapper.insert(wrapper.end(), {"-e", "inject=" + killAt->first + ":signal=SIGKILL:when=" + std::to_string(killAt->second)});
  result = root.runChrooted(args, {}, stdinData, wrapper);
  std::vector<Call> calls;
  std::map<std::string, int> seen;
  std::istringstream log(root.read(kTraceLog));
  for (std::string line; std::getline(log, line);) {
    const std::string name = line.substr(0, line.find('('));
    if (name.size() < line.size() && line[0] != '+' && line[0] != '-') calls.emplace_back(name, ++seen[name]);
  }
  root.remove(kTraceLog);
  return calls;
}

// Cuts the run at each sampled call between prepare and settle (what survives), then judges the
// settling run. With finishing, every fourth cut that leaves a commit has the settling run cut too.
using Step = std::function<bool(const std::string& tag)>;
void sweep(ScratchRoot& root, const Args& args, const State& before, size_t stride, const std::string& cut,
           bool finishing, const Step& prepare, const Step& settle = nullptr) {
  const std::string stdinData = args == Args{"-"} ? build(alpha("2.0")) : "";
  RunResult run;
  ASSERT_TRUE(prepare("base"));
  const std::vector<Call> calls = traced(root, args, stdinData, nullptr, run);
  EXPECT_FALSE(robust::isAbnormal(run)) << run.out << run.err;
  root.runChrooted(kSettle);
  const State oldFlash = flashOf(before), newFlash = flashOf(snapshot(root));
  ASSERT_NE(oldFlash, newFlash);
  auto judge = [&](const std::string& where) {
    const RunResult next = root.runChrooted(kSettle);
    EXPECT_FALSE(robust::isAbnormal(next)) << where << ": " << next.out << next.err;
    const State after = snapshot(root), flash = flashOf(after);
    for (const auto& [path, entry] : after) EXPECT_FALSE(isLeftover(path)) << where << " left " << path;
    EXPECT_TRUE(flash == oldFlash || flash == newFlash) << where << ": neither the old nor the new set; against the new: "
                                                        << ::testing::PrintToString(differences(newFlash, flash, 6));
  };

  const std::vector<size_t> offsets = robust::sweepOffsets(calls.size(), stride);
  size_t finishes = 0, missed = 0;
  for (size_t k : offsets) {
    const std::string tag = std::to_string(k), where = cut + " at " + calls[k].first + " #" + std::to_string(calls[k].second);
    ASSERT_TRUE(prepare(tag)) << where;
    traced(root, args, stdinData, &calls[k], run);
    missed += !robust::isAbnormal(run);  // a sanitizer's runtime may write more or less near the end
    ASSERT_TRUE(!settle || settle(tag)) << where;
    if (!finishing || !root.exists("/flash/.installer/commit") || finishes++ % 4 != 0) {
      judge(where);
    } else {
      const State killed = snapshot(root);
      const std::vector<Call> again = traced(root, kSettle, "", nullptr, run);
      for (size_t m : robust::sweepOffsets(again.size(), stride)) {
        restore(root, killed);
        traced(root, kSettle, "", &again[m], run);
        judge(where + ", then while finishing at " + again[m].first + " #" + std::to_string(again[m].second));
      }
    }
  }
  EXPECT_LE(missed * 20, offsets.size()) << missed << " of " << offsets.size() << " cuts did not strike";
}

void killSweep(const Args& args, const Args& first = {}, bool finishing = false) {
  ScratchRoot root;
  setUp(root, args, first);
  const State before = snapshot(root);
  sweep(root, args, before, 2, "kill", finishing, [&](const std::string&) {
    restore(root, before);
    return true;
  });
}

TEST(KillSweep, UpgradeRunAndItsRecovery) { killSweep({}, {}, true); }
TEST(KillSweep, SafeRunThenCommit) { killSweep({"--commit"}, {"--safe"}); }
TEST(KillSweep, StandardInput) { killSweep({"-"}); }

int sh(const std::string& command) { return std::system(("(" + command + ") >/dev/null 2>&1").c_str()); }

// Each cut on a fresh image copy, the next run on a copy of its disk; new names, as mount reuses bound loops.
TEST(PowerCut, UpgradeRun) {
  if (sh("command -v mkfs.ext4 && losetup -f") != 0) GTEST_SKIP() << "needs mkfs.ext4 and a free loop device";
  ScratchRoot root;
  const std::string flash = root.host("/flash"), files = root.path() + ".";
  auto mount = [&](const std::string& name) {  // a loop device just freed may not be free again at once
    return sh("for i in $(seq 20); do mount -o loop " + files + name + " " + flash + " && exit 0; sleep 0.1; done; exit 1") == 0;
  };
  State before;
  auto prepare = [&](const std::string& tag) {
    sh("umount " + flash + "; rm -f " + files + "work* " + files + "cut*");
    if (sh("cp --sparse=always " + files + "img " + files + "work" + tag) != 0 || !mount("work" + tag)) return false;
    restore(root, before, {"/ram", "/rw", "/tmp"});  // never writing to the image
    return true;
  };
  auto settle = [&](const std::string& tag) {  // the RAM disk is empty after a power cut
    return sh("cp --sparse=always " + files + "work" + tag + " " + files + "cut" + tag + " && umount " + flash) == 0 &&
           mount("cut" + tag) && sh("rm -rf " + root.host("/ram") + "/*") == 0;
  };
  EXPECT_TRUE(runIsolated([&] {
    ASSERT_EQ(sh("truncate -s 24M " + files + "img && mkfs.ext4 -q -F " + files + "img"), 0);
    ASSERT_TRUE(mount("img"));
    ASSERT_EQ(sh("mkdir -p " + flash + "/var/pdb " + flash + "/rw/pckg " + flash + "/var/pckg"), 0);
    setUp(root, {}, {});
    before = snapshot(root);
    ASSERT_EQ(sh("umount " + flash), 0);
    sweep(root, {}, before, 9, "power cut", false, prepare, settle);
    sh("umount " + flash);
  }));
  sh("rm -f " + files + "img " + files + "work* " + files + "cut*");
}

}  // namespace
