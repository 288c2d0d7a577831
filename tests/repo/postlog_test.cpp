// The post-install log, in-process inside a chrooted child of a scratch root.
#include <gtest/gtest.h>

#include <optional>

#include "repo/repository.h"
#include "support/fixtures.h"

using namespace fixtures;

namespace {

TEST(Postlog, TakeoverAppendAndTheReservedZeroBytes) {
  const struct {
    const char* what;
    std::optional<std::string> before;  // none: no log yet
    bool takeOver;
    std::vector<std::string> read;  // the log lines after a takeover
    std::string written;            // the log after "x" was written
  } cases[] = {
      // The unterminated "b" was cut off mid-write and is dropped.
      {"takeover", "a\n\nb", true, {"a", ""}, "a\n\nx\n"},
      {"takeover without a log", std::nullopt, true, {}, "x\n"},
      {"zero bytes of an interrupted run", std::string(4096, '\0'), true, {}, "x\n"},
      {"append", "old\n", false, {}, "old\nx\n"},
  };
  for (const auto& c : cases) {
    ScratchRoot root;
    if (c.before) root.write("/flash/postlog", *c.before);
    EXPECT_TRUE(root.runInside([&c] {
      Repository repository;
      if (c.takeOver) {
        repository.takeOverPostlog();
        EXPECT_EQ(repository.logLines, c.read);
        EXPECT_EQ(readFile(kPostlogPath), std::string(4096, '\0'));
      }
      repository.logLines.push_back("x");
      repository.writePostlog();
      EXPECT_EQ(readFile(kPostlogPath), c.written);
    })) << c.what;
  }
  // Taken over and nothing to say: the log ends up empty; without a
  // takeover or messages it is not touched at all.
  ScratchRoot root;
  EXPECT_TRUE(root.runInside([] {
    Repository quiet;
    quiet.writePostlog();
    EXPECT_FALSE(pathExists(kPostlogPath));
    Repository repository;
    repository.takeOverPostlog();
    repository.writePostlog();
    EXPECT_EQ(readFile(kPostlogPath), "");
  }));
}

}  // namespace
