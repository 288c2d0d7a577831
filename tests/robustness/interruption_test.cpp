// Runs cut off at each file-changing system call in turn, by strace's fault
// injection, then one more run on the same root. Whatever the moment, flash
// must end with exactly the old package set or exactly the new one, and no
// temporary anywhere.
//  - KillSweep: the run is killed (SIGKILL); each run is chrooted to a
//    scratch root in a private mount namespace.
//  - PowerCut: "/flash" is an ext4 image on a loop device; right after the
//    kill the image file is copied, so the copy holds only what reached the
//    disk (the file system's dirty pages never do), and the next run starts
//    on the copy, with an empty "/ram".
// The normal suite cuts at a sample of the calls; every call with
//   INSTALLER_FULL_SWEEP=1 build/<dir>/tests/test_robustness --gtest_filter='KillSweep*:PowerCut*'
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <sstream>

#include <unistd.h>

#include "robustness/robustness.h"
#include "support/fixtures.h"

using namespace fixtures;

namespace {

// Calls that change a file or a folder, or may (openat creates). Names
// unknown to a processor's system call table are passed over ("?").
constexpr const char* kChangingCalls =
    "?openat,?open,?creat,?write,?writev,?pwrite64,?rename,?renameat,?renameat2,?unlink,?unlinkat,?mkdir,?mkdirat,"
    "?rmdir,?symlink,?symlinkat,?link,?linkat,?chmod,?fchmod,?fchmodat,?ftruncate,?fsync,?fdatasync,?sync";
constexpr const char* kTraceLog = "/strace.log";  // outside what the snapshots compare

std::string text(const std::string& seed, size_t size) {
  std::string out;
  while (out.size() < size) out += seed + std::to_string(out.size()) + "\n";
  out.resize(size);
  return out;
}

struct Scenario {
  std::string name;
  std::function<void(ScratchRoot&)> setup;  // makes the state before the run
  std::vector<std::string> args;             // the run that is killed
  std::string stdinData;
  std::vector<std::string> recovery;          // the run after the kill
};

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

using Calls = std::vector<std::pair<std::string, int>>;

// Runs args under strace, chrooted to root; with inject, killed at that call.
// Returns the changing calls of the run, in order, each with its ordinal
// among the calls of its name: what "inject=NAME:when=N" needs to strike
// exactly there.
Calls traced(ScratchRoot& root, const std::vector<std::string>& args, const std::string& stdinData,
             const std::pair<std::string, int>* killAt, RunResult* result) {
  std::vector<std::string> wrapper = {"/usr/bin/strace", "-qq", "-o", kTraceLog, "-e",
                                      std::string("trace=") + kChangingCalls};
  if (killAt != nullptr) {
    wrapper.insert(wrapper.end(),
                   {"-e", "inject=" + killAt->first + ":signal=SIGKILL:when=" + std::to_string(killAt->second)});
  }
  *result = root.runChrooted(args, {}, stdinData, wrapper);
  Calls calls;
  std::map<std::string, int> seen;
  std::istringstream log(root.read(kTraceLog));
  for (std::string line; std::getline(log, line);) {
    const size_t open = line.find('(');
    if (open == std::string::npos || line[0] == '+' || line[0] == '-') continue;
    const std::string name = line.substr(0, open);
    calls.emplace_back(name, ++seen[name]);
  }
  root.remove(kTraceLog);
  return calls;
}

struct Sets {
  State oldFlash, newFlash;
  std::map<std::string, int> tally;
};

// The recovery run, then the verdict on flash and on leftovers.
void judge(const ScratchRoot& root, const std::vector<std::string>& recovery, Sets& sets, const std::string& where) {
  const RunResult next = root.runChrooted(recovery);
  EXPECT_FALSE(robust::isAbnormal(next)) << where << ": " << next.out << next.err;
  const State after = snapshot(root);
  std::string leftovers;
  for (const auto& [path, entry] : after)
    if (isLeftover(path)) leftovers += " " + path;
  EXPECT_EQ(leftovers, "") << where;
  const State flash = flashOf(after);
  if (flash == sets.oldFlash) {
    ++sets.tally["old set"];
  } else if (flash == sets.newFlash) {
    const bool finished = next.outPlain.find("finished the changes of an interrupted run") != std::string::npos;
    ++sets.tally[finished ? "new set, finished by the next run" : "new set"];
  } else {
    ++sets.tally["MIXED"];
    std::string diff;
    for (const std::string& d : differences(sets.newFlash, flash, 6)) diff += " " + d;
    ADD_FAILURE() << where << ": neither the old nor the new set; against the new:" << diff;
  }
}

std::string callText(size_t k, const std::pair<std::string, int>& call) {
  return "call " + std::to_string(k) + " (" + call.first + " #" + std::to_string(call.second) + ")";
}

// Kills the scenario's run at each sampled call and judges the recovery.
// With finishing, the recovery itself is also killed at each sampled call
// wherever the first kill left a commit to finish.
void sweep(const Scenario& s, size_t stride, bool finishing = false) {
  ScratchRoot root;
  s.setup(root);
  const State before = snapshot(root);
  RunResult run;
  const Calls calls = traced(root, s.args, s.stdinData, nullptr, &run);
  ASSERT_FALSE(robust::isAbnormal(run)) << run.out << run.err;
  root.runChrooted(s.recovery);
  Sets sets{flashOf(before), flashOf(snapshot(root)), {}};
  ASSERT_NE(sets.oldFlash, sets.newFlash) << s.name;

  size_t interrupted = 0, missed = 0, points = 0;
  for (size_t k : robust::sweepOffsets(calls.size(), stride)) {
    restore(root, before);
    const std::string where = s.name + ", killed at " + callText(k, calls[k]);
    traced(root, s.args, s.stdinData, &calls[k], &run);
    ++points;
    // A sanitizer's runtime may make a write more or less near the end.
    if (!robust::isAbnormal(run)) ++missed;
    if (!finishing || !root.exists("/flash/.installer/commit") || interrupted++ % 4 != 0) {
      judge(root, s.recovery, sets, where);
      continue;
    }
    // A second kill, while the next run finishes the commit.
    const State killed = snapshot(root);
    const Calls recoveryCalls = traced(root, s.recovery, "", nullptr, &run);
    for (size_t m : robust::sweepOffsets(recoveryCalls.size(), stride)) {
      restore(root, killed);
      traced(root, s.recovery, "", &recoveryCalls[m], &run);
      judge(root, s.recovery, sets, where + ", then while finishing at " + callText(m, recoveryCalls[m]));
    }
  }
  EXPECT_LE(missed * 20, points) << s.name << ": " << missed << " of " << points << " kills did not strike";
  std::printf("%s: %zu changing calls\n", s.name.c_str(), calls.size());
  for (const auto& [outcome, count] : sets.tally) std::printf("  %4d kills: %s\n", count, outcome.c_str());
}

// Installed: alpha (a stored image, files before and after the database
// folder), beta, gamma, delta and the bundle suite (m1, m2). The upgrade
// brings alpha 2.0 (drops /www/old.html), beta 2.0 and suite 2.0 (m1, m3;
// drops m2), and carries out a scheduled disable (gamma) and uninstall (delta).
qpk::PackageSpec alpha(const char* version, bool withOld) {
  std::vector<qpk::FileEntry> files = {file("/bin/alpha", text(version, 3000)), file("/lib/libalpha.so", text("lib", 2000)),
                                       file("/www/alpha.html", text(version, 500))};
  if (withOld) files.push_back(file("/www/old.html", "old"));
  qpk::PackageSpec s = spec("alpha", version, files);
  s.blob = text("blob", 1000);
  return s;
}

void installedSet(ScratchRoot& root) {
  installFirst(root, {{"alpha.qpk", build(alpha("1.0", true))},
                      {"beta.qpk", build(spec("beta", "1.0", {file("/bin/beta", "b1"), file("/www/beta.html", "b1")}))},
                      {"gamma.qpk", build(spec("gamma", "1.0", {file("/www/gamma.html", "g")}))},
                      {"delta.qpk", build(spec("delta", "1.0", {file("/lib/delta.so", "d")}))},
                      {"suite.qpk", buildBundle(bundle("suite", "1.0",
                                                       {spec("m1", "1.0", {file("/www/m1.html", "m1")}),
                                                        spec("m2", "1.0", {file("/bin/m2", "m2")})}))}});
}

void upgradeUploads(ScratchRoot& root) {
  upload(root, "alpha.qpk", build(alpha("2.0", false)));
  upload(root, "beta.qpk", build(spec("beta", "2.0", {file("/bin/beta", "b2"), file("/www/beta.html", "b2")})));
  upload(root, "suite.qpk", buildBundle(bundle("suite", "2.0", {spec("m1", "2.0", {file("/www/m1.html", "m1 v2")}),
                                                                spec("m3", "1.0", {file("/www/m3.html", "m3")})})));
  root.write("/ram/pdb/gamma/schedule", "disable\n");
  root.write("/ram/pdb/delta/schedule", "uninstall\n");
}

// After a kill, the next run must not redo the upgrade by itself: the uploads
// and requests are taken away, so it can only finish or drop what was begun.
const std::vector<std::string> kRecoverOnly = {"--cancel"};

Scenario upgradeRun() {
  return {"upgrade run",
          [](ScratchRoot& root) {
            installedSet(root);
            upgradeUploads(root);
          },
          {}, "", kRecoverOnly};
}

Scenario safeThenCommit() {
  return {"--safe, then --commit",
          [](ScratchRoot& root) {
            installedSet(root);
            upgradeUploads(root);
            ASSERT_EQ(root.runChrooted({"--safe"}).status, 0);
          },
          {"--commit"}, "", kRecoverOnly};
}

Scenario standardInput() {
  return {"installer -", [](ScratchRoot& root) { installedSet(root); }, {"-"}, build(alpha("2.0", false)), kRecoverOnly};
}

// ---- power cuts: "/flash" on an ext4 image ----

int sh(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

void copyImage(const std::string& from, const std::string& to) {
  EXPECT_EQ(sh("cp --sparse=always " + from + " " + to), 0) << from;
}

void powerCuts(const Scenario& s, size_t stride) {
  if (sh("(command -v mkfs.ext4 && losetup -f)") != 0) GTEST_SKIP() << "needs mkfs.ext4 and a free loop device";
  ScratchRoot root;
  const std::string flash = root.host("/flash"), image = root.path() + ".img", work = root.path() + ".work",
                    cut = root.path() + ".cut";
  EXPECT_TRUE(runIsolated([&] {
    // A loop device freed by the last unmount may not be free again at
    // once; a mount is tried a few times.
    auto mountImage = [&](const std::string& file) {
      for (int attempt = 0; attempt < 20; ++attempt) {
        if (sh("mount -o loop " + file + " " + flash) == 0) return true;
        ::usleep(100000);
      }
      ADD_FAILURE() << "cannot mount " << file;
      return false;
    };
    ASSERT_EQ(sh("truncate -s 24M " + image + " && mkfs.ext4 -q -F " + image), 0);
    ASSERT_TRUE(mountImage(image));
    ASSERT_EQ(sh("mkdir -p " + flash + "/var/pdb " + flash + "/rw/pckg " + flash + "/var/pckg"), 0);
    s.setup(root);
    const State before = snapshot(root);
    ASSERT_EQ(sh("umount " + flash), 0);

    copyImage(image, work);
    ASSERT_TRUE(mountImage(work));
    RunResult run;
    const Calls calls = traced(root, s.args, s.stdinData, nullptr, &run);
    root.runChrooted(s.recovery);
    Sets sets{flashOf(before), flashOf(snapshot(root)), {}};
    sh("umount " + flash);

    for (size_t k : robust::sweepOffsets(calls.size(), stride)) {
      // Fresh file names each time: mount would reuse a loop device still
      // bound to a file of the same name, with that file's old pages.
      const std::string workK = work + std::to_string(k), cutK = cut + std::to_string(k);
      copyImage(image, workK);
      if (!mountImage(workK)) continue;
      restore(root, before, {"/ram", "/rw", "/tmp"});  // never writing to the image
      traced(root, s.args, s.stdinData, &calls[k], &run);
      copyImage(workK, cutK);  // what reached the disk
      sh("umount " + flash);
      ::unlink(workK.c_str());
      if (!mountImage(cutK)) continue;
      sh("rm -rf " + root.host("/ram") + "/*");  // the RAM disk is empty after a power cut
      judge(root, s.recovery, sets, s.name + ", power cut at " + callText(k, calls[k]));
      sh("umount " + flash);
      ::unlink(cutK.c_str());
    }
    std::printf("%s: %zu changing calls\n", s.name.c_str(), calls.size());
    for (const auto& [outcome, count] : sets.tally) std::printf("  %4d power cuts: %s\n", count, outcome.c_str());
  }));
  for (const std::string& file : {image, work, cut}) ::unlink(file.c_str());
}

TEST(PowerCut, UpgradeRun) { powerCuts(upgradeRun(), 9); }

TEST(KillSweep, UpgradeRunAndItsRecovery) { sweep(upgradeRun(), 2, true); }
TEST(KillSweep, SafeRunThenCommit) { sweep(safeThenCommit(), 2); }
TEST(KillSweep, StandardInput) { sweep(standardInput(), 2); }

}  // namespace
