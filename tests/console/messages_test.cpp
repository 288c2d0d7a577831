// The messages byte for byte: prefixes, the log, the 255-byte cut, the progress line.
#include "console/messages.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <sstream>

#include "model/package.h"
#include "repo/repository.h"

namespace {

const std::string kHide = "\x1b[?25l\r", kShow = "\r\x1b[?25h";

// Each step, what it writes, and the progress line after it.
const std::tuple<std::function<void()>, std::string, std::string> kSteps[] = {
    {[] { printWarning("could not open repo"); }, "WARNING: could not open repo\n", ""},
    {[] { printError("broken package %s", "foo-1.0"); }, "ERROR: broken package foo-1.0\n", ""},
    {[] { printWarning("%s", std::string(300, 'x').c_str()); }, "WARNING: " + std::string(255, 'x') + "\n", ""},
    {[] { printInfo("%s", std::string(256, 'z').c_str()); }, std::string(255, 'z') + "\n", ""},
    {[] { setProgressLine("enabling foo-1.0..."); }, kHide + "enabling foo-1.0..." + kShow, "enabling foo-1.0..."},
    {[] { setProgressLine("enabling foo-1.0..."); }, "", "enabling foo-1.0..."},  // unchanged: nothing written
    {[] { setProgressLine("enabling b..."); }, kHide + "enabling b...      " + kShow, "enabling b..."},
    // A warning blanks the line with 79 spaces and draws it again below.
    {[] { printWarning("can not enable %s", "foo"); },
     "\r" + std::string(79, ' ') + "\rWARNING: can not enable foo\nenabling b...", "enabling b..."},
    // Errors and information lines erase it for good.
    {[] { printError("can not disable"); }, kHide + std::string(13, ' ') + kShow + "ERROR: can not disable\n", ""},
    {[] { setProgressLine("enabling foo..."); }, kHide + "enabling foo..." + kShow, "enabling foo..."},
    {[] { printInfo("enabled %s", "foo"); }, kHide + std::string(15, ' ') + kShow + "enabled foo\n", ""},
};

// After the steps, write failures by errno, and a member named by its bundle.
TEST(Messages, EachStepByteForByte) {
  Repository& repository = Repository::instance();
  repository.reset();
  std::ostringstream out;
  setConsoleStream(&out);
  for (const auto& [step, written, progress] : kSteps) {
    step();
    EXPECT_EQ(std::make_pair(out.str(), repository.progressLine), std::make_pair(written, progress));
    out.str("");
  }
  Package p("foo");
  p.version = makeVersion(1, 2, Final, 3);
  for (int error : {ENOSPC, EIO, EACCES}) {
    errno = error;
    reportWriteFailure(p, "/flash/foo/bin");
  }
  p.bundle = Relation{"system", makeVersion(6, 46, Final, 1), makeVersion(6, 46, Final, 1), 0};
  reportBrokenPackage(p);
  setConsoleStream(nullptr);
  // The log holds the messages as printed, without the progress line.
  EXPECT_EQ(repository.logLines,
            (std::vector<std::string>{"WARNING: could not open repo", "ERROR: broken package foo-1.0",
                                      "WARNING: " + std::string(255, 'x'), std::string(255, 'z'),
                                      "WARNING: can not enable foo", "ERROR: can not disable", "enabled foo",
                                      "ERROR: installation of foo-1.2.3 failed: disk is too small",
                                      "ERROR: installation of foo-1.2.3 failed: disk error",
                                      "ERROR: installation of foo-1.2.3 failed: could not create /flash/foo/bin: Permission denied",
                                      "ERROR: installation of system-6.46.1 failed: broken package"}));
  repository.reset();
}

}  // namespace
