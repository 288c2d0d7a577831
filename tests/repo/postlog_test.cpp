// The post-install log, in-process inside a chrooted child of a scratch root.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "repo/repository.h"
#include "support/scratch_root.h"

namespace {

std::string readLog() {
  std::ifstream in(kPostlogPath, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(Postlog, TakeoverReadsFullLinesAndReservesZeroBytes) {
  ScratchRoot root;
  root.write("/flash/postlog", "a\n\nb");
  EXPECT_TRUE(root.runInside([] {
    Repository repository;
    repository.logLines.push_back("earlier");
    repository.takeOverPostlog();
    EXPECT_TRUE(repository.postlogTakenOver);
    // The unterminated "b" was cut off mid-write and is dropped.
    EXPECT_EQ(repository.logLines, (std::vector<std::string>{"earlier", "a", ""}));
    EXPECT_EQ(readLog(), std::string(4096, '\0'));
    repository.logLines.push_back("later");
    repository.writePostlog();
    EXPECT_EQ(readLog(), "earlier\na\n\nlater\n");
  }));
}

TEST(Postlog, TakeoverWithoutOldLogStillReserves) {
  ScratchRoot root;
  EXPECT_TRUE(root.runInside([] {
    Repository repository;
    repository.takeOverPostlog();
    EXPECT_TRUE(repository.logLines.empty());
    EXPECT_EQ(readLog().size(), 4096u);
    // Taken over and nothing to say: the log ends up empty.
    repository.writePostlog();
    EXPECT_EQ(readLog(), "");
  }));
}

TEST(Postlog, ZeroBytesOfAnInterruptedRunAreDropped) {
  ScratchRoot root;
  root.write("/flash/postlog", std::string(4096, '\0'));
  EXPECT_TRUE(root.runInside([] {
    Repository repository;
    repository.takeOverPostlog();
    EXPECT_TRUE(repository.logLines.empty());
    repository.logLines.push_back("x");
    repository.writePostlog();
    EXPECT_EQ(readLog(), "x\n");
  }));
}

TEST(Postlog, WithoutTakeoverMessagesAreAppended) {
  ScratchRoot root;
  root.write("/flash/postlog", "old\n");
  EXPECT_TRUE(root.runInside([] {
    Repository repository;
    repository.logLines = {"one", "two"};
    repository.writePostlog();
    EXPECT_EQ(readLog(), "old\none\ntwo\n");
  }));
}

TEST(Postlog, WithoutTakeoverOrMessagesTheFileIsNotTouched) {
  ScratchRoot root;
  EXPECT_TRUE(root.runInside([] {
    Repository repository;
    repository.writePostlog();
  }));
  EXPECT_FALSE(root.exists("/flash/postlog"));
}

}  // namespace
