#include "console/messages.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sstream>

#include "model/package.h"
#include "repo/repository.h"

namespace {

const std::string kBlank = "\r" + std::string(79, ' ') + "\r";

class Messages : public ::testing::Test {
 protected:
  void SetUp() override {
    Repository::instance().reset();
    setConsoleStream(&out_);
  }
  void TearDown() override {
    setConsoleStream(nullptr);
    Repository::instance().reset();
  }
  // What was written since the last call.
  std::string take() {
    std::string text = out_.str();
    out_.str("");
    return text;
  }
  Repository& repository() { return Repository::instance(); }

  std::ostringstream out_;
};

}  // namespace

// The message operations byte for byte: prefixes and the log, quiet mode,
// the 255-byte cut, and the progress line with its 79-space blanking.
TEST_F(Messages, PrefixesAndLog) {
  printWarning("could not open repo");
  printError("broken package %s", "foo-1.0");
  printInfo("installed %s", "foo-1.0");
  emitMessage(nullptr, "%d%%", 5);
  EXPECT_EQ("WARNING: could not open repo\nERROR: broken package foo-1.0\ninstalled foo-1.0\n5%\n", take());
  EXPECT_EQ((std::vector<std::string>{"WARNING: could not open repo", "ERROR: broken package foo-1.0",
                                      "installed foo-1.0", "5%"}),
            repository().logLines);
}

TEST_F(Messages, QuietPrintsAndRecordsNothing) {
  repository().quiet = true;
  printWarning("w");
  printError("e");
  printInfo("i");
  setProgressLine("enabling foo...");
  EXPECT_EQ("", take());
  EXPECT_TRUE(repository().logLines.empty());
  EXPECT_EQ("", repository().progressLine);
}

TEST_F(Messages, FormattedTextIsCutAt255BytesPlusPrefix) {
  std::string longText(300, 'x');
  printWarning("%s", longText.c_str());
  std::string expected = "WARNING: " + std::string(255, 'x');
  EXPECT_EQ(expected + "\n", take());
  EXPECT_EQ(expected, repository().logLines.back());
  printInfo("%s", std::string(255, 'y').c_str());
  EXPECT_EQ(std::string(255, 'y') + "\n", take());
  printInfo("%s", std::string(256, 'z').c_str());
  EXPECT_EQ(std::string(255, 'z') + "\n", take());
}

TEST_F(Messages, ProgressLineDrawing) {
  setProgressLine("enabling foo-1.0...");
  EXPECT_EQ("\x1b[?25l\renabling foo-1.0...\r\x1b[?25h", take());
  EXPECT_EQ("enabling foo-1.0...", repository().progressLine);
  setProgressLine("enabling foo-1.0...");
  EXPECT_EQ("", take());  // unchanged text writes nothing
  setProgressLine("enabling b...");
  EXPECT_EQ("\x1b[?25l\renabling b...      \r\x1b[?25h", take());  // 6 shorter, 6 spaces
  setProgressLine("enabling longer-2.0...");
  EXPECT_EQ("\x1b[?25l\renabling longer-2.0...\r\x1b[?25h", take());
  setProgressLine("");
  EXPECT_EQ("\x1b[?25l\r" + std::string(22, ' ') + "\r\x1b[?25h", take());
  EXPECT_EQ("", repository().progressLine);
  setProgressLine("");
  EXPECT_EQ("", take());
}

TEST_F(Messages, WarningRedrawsTheProgressLine) {
  setProgressLine("enabling foo-1.0...");
  take();
  printWarning("can not enable %s: %s conflicts with it", "foo-1.0", "bar-2.0");
  EXPECT_EQ(kBlank + "WARNING: can not enable foo-1.0: bar-2.0 conflicts with it\nenabling foo-1.0...", take());
  EXPECT_EQ("enabling foo-1.0...", repository().progressLine);
  EXPECT_EQ("WARNING: can not enable foo-1.0: bar-2.0 conflicts with it", repository().logLines.back());
}

TEST_F(Messages, ErrorsAndInfoEraseTheProgressLineForGood) {
  setProgressLine("disabling foo...");
  take();
  printError("can not uninstall or disable all packages");
  EXPECT_EQ("\x1b[?25l\r" + std::string(16, ' ') + "\r\x1b[?25hERROR: can not uninstall or disable all packages\n",
            take());
  EXPECT_EQ("", repository().progressLine);
  setProgressLine("enabling foo...");
  take();
  printInfo("enabled %s", "foo");
  EXPECT_EQ("\x1b[?25l\r" + std::string(15, ' ') + "\r\x1b[?25henabled foo\n", take());
  EXPECT_EQ((std::vector<std::string>{"ERROR: can not uninstall or disable all packages", "enabled foo"}),
            repository().logLines);
}

TEST_F(Messages, WriteFailuresByErrnoAndMembersByTheirBundle) {
  Package p("foo");
  p.version = makeVersion(1, 2, Final, 3);
  for (int error : {28, 5, 13}) {
    errno = error;
    reportWriteFailure(p, "/flash/foo/bin");
  }
  p.bundle = Relation{"system", makeVersion(6, 46, Final, 1), makeVersion(6, 46, Final, 1), 0};
  reportBrokenPackage(p);
  EXPECT_EQ((std::vector<std::string>{"ERROR: installation of foo-1.2.3 failed: disk is too small",
                                      "ERROR: installation of foo-1.2.3 failed: disk error",
                                      "ERROR: installation of foo-1.2.3 failed: could not create /flash/foo/bin: "
                                      "Permission denied",
                                      "ERROR: installation of system-6.46.1 failed: broken package"}),
            repository().logLines);
}
