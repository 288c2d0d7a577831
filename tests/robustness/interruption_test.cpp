// Runs cut off at each file-changing system call in turn (strace's fault
// injection), then one settling run: flash must end with exactly the old or
// exactly the new package set, and no temporary anywhere. KillSweep kills
// the run (SIGKILL) on a chrooted scratch root; PowerCut runs on an ext4
// image on a loop device and copies the image right after the kill, so only
// what reached the disk survives, and empties "/ram". The normal suite cuts
// at a sample of the calls; INSTALLER_FULL_SWEEP=1 at every one.
#include <gtest/gtest.h>

#include <unistd.h>

#include <functional>

#include "robustness/robustness.h"

using namespace fixtures;

namespace {

// Calls that change a file or a folder, or may (openat creates). Names
// unknown to a processor's system call table are passed over ("?").
constexpr const char* kChangingCalls =
    "?openat,?open,?creat,?write,?writev,?pwrite64,?rename,?renameat,?renameat2,?unlink,?unlinkat,?mkdir,?mkdirat,"
    "?rmdir,?symlink,?symlinkat,?link,?linkat,?chmod,?fchmod,?fchmodat,?ftruncate,?fsync,?fdatasync,?sync";
constexpr const char* kTraceLog = "/strace.log";  // outside what the snapshots compare
// The run after a cut: it settles what the cut run left and never starts
// the upgrade again, so it can only finish or drop what was begun.
const std::vector<std::string> kSettle = {"--cancel"};

// Installed: alpha (a stored image, files before and after the database
// folder), beta, gamma, delta and the bundle suite (m1, m2). The upgrade
// brings alpha 2.0 (drops /www/old.html), beta 2.0 and suite 2.0 (m1, m3;
// drops m2), and carries out a scheduled disable (gamma) and uninstall (delta).
qpk::PackageSpec alpha(const char* version, bool withOld) {
  std::vector<qpk::FileEntry> files = {file("/bin/alpha", std::string(3000, version[0])),
                                       file("/lib/libalpha.so", std::string(2000, 'l')),
                                       file("/www/alpha.html", std::string(500, version[0]))};
  if (withOld) files.push_back(file("/www/old.html", "old"));
  qpk::PackageSpec s = spec("alpha", version, files);
  s.blob = std::string(1000, 'b');
  return s;
}

// The run that is cut: with the upgrade's uploads and requests in place or
// (from standard input) alpha 2.0 alone, after an optional first run.
struct Scenario {
  std::string name;
  std::vector<std::string> args;
  std::vector<std::string> first;
};
const Scenario kUpgradeRun{"upgrade run", {}, {}};
const Scenario kSafeThenCommit{"--safe, then --commit", {"--commit"}, {"--safe"}};
const Scenario kStandardInput{"installer -", {"-"}, {}};

bool piped(const Scenario& s) { return s.args == std::vector<std::string>{"-"}; }

void setUp(ScratchRoot& root, const Scenario& s) {
  installFirst(root, {{"alpha.qpk", build(alpha("1.0", true))},
                      {"beta.qpk", build(spec("beta", "1.0", {file("/bin/beta", "b1"), file("/www/beta.html", "b1")}))},
                      {"gamma.qpk", build(spec("gamma", "1.0", {file("/www/gamma.html", "g")}))},
                      {"delta.qpk", build(spec("delta", "1.0", {file("/lib/delta.so", "d")}))},
                      {"suite.qpk", buildBundle(bundle("suite", "1.0",
                                                       {spec("m1", "1.0", {file("/www/m1.html", "m1")}),
                                                        spec("m2", "1.0", {file("/bin/m2", "m2")})}))}});
  if (piped(s)) return;
  upload(root, "alpha.qpk", build(alpha("2.0", false)));
  upload(root, "beta.qpk", build(spec("beta", "2.0", {file("/bin/beta", "b2"), file("/www/beta.html", "b2")})));
  upload(root, "suite.qpk", buildBundle(bundle("suite", "2.0", {spec("m1", "2.0", {file("/www/m1.html", "m1 v2")}),
                                                                spec("m3", "1.0", {file("/www/m3.html", "m3")})})));
  root.write("/ram/pdb/gamma/schedule", "disable\n");
  root.write("/ram/pdb/delta/schedule", "uninstall\n");
  if (!s.first.empty()) {
    EXPECT_EQ(root.runChrooted(s.first).status, 0);
  }
}

// What a run may leave: a folder or file of the program's temporaries, or the
// image copy of "installer -".
bool isLeftover(const std::string& path) {
  const std::string name = path.substr(path.rfind('/') + 1);
  return path.find("/.installer") != std::string::npos || path == "/flash/var/pdb/image" ||
         (name.size() == 9 && name.compare(0, 3, "tmp") == 0);
}

// Flash without the leftovers: a "--safe" run's temporaries are part of the
// state before a "--commit", and never of the state after it.
State flashOf(const State& state) {
  State out;
  for (const auto& [path, entry] : state)
    if (path.compare(0, 6, "/flash") == 0 && !isLeftover(path)) out[path] = entry;
  return out;
}

using Call = std::pair<std::string, int>;

// Runs args under strace, chrooted to root; with killAt, killed at that call.
// Returns the changing calls of the run, in order, each with its ordinal
// among the calls of its name: what "inject=NAME:when=N" needs to strike
// exactly there.
std::vector<Call> traced(ScratchRoot& root, const std::vector<std::string>& args, const std::string& stdinData,
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

std::string callText(size_t k, const Call& call) {
  return "call " + std::to_string(k) + " (" + call.first + " #" + std::to_string(call.second) + ")";
}

struct Sets {
  State oldFlash, newFlash;
  std::map<std::string, int> tally;
};

// The settling run, then the verdict on flash and on leftovers.
void judge(ScratchRoot& root, Sets& sets, const std::string& where) {
  const RunResult next = root.runChrooted(kSettle);
  EXPECT_FALSE(robust::isAbnormal(next)) << where << ": " << next.out << next.err;
  const State after = snapshot(root), flash = flashOf(after);
  for (const auto& [path, entry] : after) EXPECT_FALSE(isLeftover(path)) << where << " left " << path;
  const bool finished = hasLine(next.outPlain, "finished the changes of an interrupted run");
  ++sets.tally[flash == sets.oldFlash   ? "old set"
               : flash != sets.newFlash ? "MIXED"
               : finished               ? "new set, finished by the next run"
                                        : "new set"];
  EXPECT_TRUE(flash == sets.oldFlash || flash == sets.newFlash)
      << where << ": neither the old nor the new set; against the new: "
      << ::testing::PrintToString(differences(sets.newFlash, flash, 6));
}

// Where the cut run's flash lives: prepare puts the state before the run in
// place, settle leaves what survives the cut, release cleans up after the
// verdict. Each gets a tag unique to the cut.
struct Medium {
  std::function<bool(const std::string&)> prepare;
  std::function<bool(const std::string&)> settle = [](const std::string&) { return true; };
  std::function<void(const std::string&)> release = [](const std::string&) {};
};

// Cuts the scenario's run at each sampled call and judges the next run.
// With finishing, wherever every fourth cut left a commit to finish, the
// next run is itself killed at each sampled call, then judged.
void sweep(ScratchRoot& root, const Scenario& s, const State& before, const Medium& medium, size_t stride,
           const std::string& cut, bool finishing = false) {
  const std::string stdinData = piped(s) ? build(alpha("2.0", false)) : "";
  RunResult run;
  ASSERT_TRUE(medium.prepare("base"));
  const std::vector<Call> calls = traced(root, s.args, stdinData, nullptr, run);
  EXPECT_FALSE(robust::isAbnormal(run)) << run.out << run.err;
  root.runChrooted(kSettle);
  Sets sets{flashOf(before), flashOf(snapshot(root)), {}};
  medium.release("base");
  ASSERT_NE(sets.oldFlash, sets.newFlash) << s.name;

  size_t finishes = 0, missed = 0, points = 0;
  for (size_t k : robust::sweepOffsets(calls.size(), stride)) {
    const std::string tag = std::to_string(k), where = s.name + ", " + cut + " at " + callText(k, calls[k]);
    const bool ready = medium.prepare(tag);
    if (ready) {
      traced(root, s.args, stdinData, &calls[k], run);
      ++points;
      // A sanitizer's runtime may make a write more or less near the end.
      missed += !robust::isAbnormal(run);
    }
    if (!ready || !medium.settle(tag)) {
      ADD_FAILURE() << where << ": the cut state could not be set up";
    } else if (!finishing || !root.exists("/flash/.installer/commit") || finishes++ % 4 != 0) {
      judge(root, sets, where);
    } else {
      const State killed = snapshot(root);
      const std::vector<Call> again = traced(root, kSettle, "", nullptr, run);
      for (size_t m : robust::sweepOffsets(again.size(), stride)) {
        restore(root, killed);
        traced(root, kSettle, "", &again[m], run);
        judge(root, sets, where + ", then while finishing at " + callText(m, again[m]));
      }
    }
    medium.release(tag);
  }
  EXPECT_LE(missed * 20, points) << s.name << ": " << missed << " of " << points << " cuts did not strike";
  std::printf("%s: %zu changing calls\n", s.name.c_str(), calls.size());
  for (const auto& [outcome, count] : sets.tally) std::printf("  %4d %ss: %s\n", count, cut.c_str(), outcome.c_str());
}

// Kills on the scratch root itself: every cut starts from a restored snapshot.
void killSweep(const Scenario& s, size_t stride, bool finishing = false) {
  ScratchRoot root;
  setUp(root, s);
  const State before = snapshot(root);
  const Medium inPlace{[&](const std::string&) {
    restore(root, before);
    return true;
  }};
  sweep(root, s, before, inPlace, stride, "kill", finishing);
}

TEST(KillSweep, UpgradeRunAndItsRecovery) { killSweep(kUpgradeRun, 2, true); }
TEST(KillSweep, SafeRunThenCommit) { killSweep(kSafeThenCommit, 2); }
TEST(KillSweep, StandardInput) { killSweep(kStandardInput, 2); }

int sh(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

// Power cuts on "/flash" as an ext4 image: each cut runs on a fresh copy of
// the image, and the next run on a copy of what the cut left on it.
TEST(PowerCut, UpgradeRun) {
  if (sh("(command -v mkfs.ext4 && losetup -f)") != 0) GTEST_SKIP() << "needs mkfs.ext4 and a free loop device";
  ScratchRoot root;
  const std::string flash = root.host("/flash"), image = root.path() + ".img";
  // Fresh file names for each cut: mount would reuse a loop device still
  // bound to a file of the same name, with that file's old pages.
  auto work = [&](const std::string& tag) { return root.path() + ".work" + tag; };
  auto cut = [&](const std::string& tag) { return root.path() + ".cut" + tag; };
  // A loop device freed by the last unmount may not be free again at once.
  auto mount = [&](const std::string& file) {
    for (int attempt = 0; attempt < 20; ++attempt, ::usleep(100000))
      if (sh("mount -o loop " + file + " " + flash) == 0) return true;
    return false;
  };
  auto copy = [&](const std::string& from, const std::string& to) {
    return sh("cp --sparse=always " + from + " " + to) == 0;
  };
  EXPECT_TRUE(runIsolated([&] {
    ASSERT_EQ(sh("truncate -s 24M " + image + " && mkfs.ext4 -q -F " + image), 0);
    ASSERT_TRUE(mount(image));
    ASSERT_EQ(sh("mkdir -p " + flash + "/var/pdb " + flash + "/rw/pckg " + flash + "/var/pckg"), 0);
    setUp(root, kUpgradeRun);
    const State before = snapshot(root);
    ASSERT_EQ(sh("umount " + flash), 0);
    Medium disk;
    disk.prepare = [&](const std::string& tag) {
      if (!copy(image, work(tag)) || !mount(work(tag))) return false;
      restore(root, before, {"/ram", "/rw", "/tmp"});  // never writing to the image
      return true;
    };
    disk.settle = [&](const std::string& tag) {
      const bool copied = copy(work(tag), cut(tag));  // what reached the disk
      sh("umount " + flash);
      // The RAM disk is empty after a power cut.
      return copied && mount(cut(tag)) && sh("rm -rf " + root.host("/ram") + "/*") == 0;
    };
    disk.release = [&](const std::string& tag) {
      sh("umount " + flash);
      ::unlink(work(tag).c_str());
      ::unlink(cut(tag).c_str());
    };
    sweep(root, kUpgradeRun, before, disk, 9, "power cut");
  }));
  ::unlink(image.c_str());
}

}  // namespace
