// The post-install log, in a chrooted child of a scratch root: a takeover
// reads the lines of a finished log and reserves 4096 zero bytes; a write
// appends. An unterminated last line was cut off mid-write and is dropped.
#include <gtest/gtest.h>

#include <optional>

#include "repo/repository.h"
#include "support/fixtures.h"

using namespace fixtures;

namespace {

TEST(Postlog, TakeoverAppendAndTheReservedZeroBytes) {
  const struct {
    std::optional<std::string> before;  // none: no log yet
    bool takeOver;
    std::vector<std::string> read, said;  // the lines taken over; what the run says
    std::optional<std::string> written;   // none: the log is not touched
  } cases[] = {
      {"a\n\nb", true, {"a", ""}, {"x"}, "a\n\nx\n"},
      {std::nullopt, true, {}, {"x"}, "x\n"},
      {std::string(4096, '\0'), true, {}, {"x"}, "x\n"},  // an interrupted run's reservation
      {"old\n", false, {}, {"x"}, "old\nx\n"},
      {std::nullopt, true, {}, {}, ""},
      {std::nullopt, false, {}, {}, std::nullopt},
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
      repository.logLines.insert(repository.logLines.end(), c.said.begin(), c.said.end());
      repository.writePostlog();
      EXPECT_EQ(pathExists(kPostlogPath) ? std::optional(readFile(kPostlogPath)) : std::nullopt, c.written);
    })) << c.before.value_or("no log");
  }
}

}  // namespace
