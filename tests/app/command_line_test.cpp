#include "app/command_line.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

namespace {

struct Parsed {
  CommandLineOutcome outcome;
  RunSettings settings;
  std::string out;
};

Parsed parse(std::vector<const char*> words) {
  words.insert(words.begin(), "installer");
  Parsed parsed;
  std::ostringstream out;
  parsed.outcome = parseCommandLine(static_cast<int>(words.size()), words.data(), &parsed.settings, out);
  parsed.out = out.str();
  return parsed;
}

}  // namespace

TEST(CommandLine, DefaultsWithoutWords) {
  Parsed p = parse({});
  EXPECT_EQ(CommandLineOutcome::Run, p.outcome);
  EXPECT_FALSE(p.settings.quiet || p.settings.show || p.settings.cleanup || p.settings.fromStandardInput);
  EXPECT_TRUE(p.settings.commitAtOnce);
  EXPECT_EQ(0u, p.settings.tolerated);
  EXPECT_EQ("", p.settings.root);
  EXPECT_EQ("", p.out);
}

TEST(CommandLine, EveryWordOfTheTable) {
  Parsed p = parse({"-q", "--safe", "-down", "--reinstall", "-b", "--force", "--noupgrade", "-i", "--month", "3",
                    "-r", "/mnt", "--show"});
  EXPECT_EQ(CommandLineOutcome::Run, p.outcome);
  EXPECT_TRUE(p.settings.quiet);
  EXPECT_FALSE(p.settings.commitAtOnce);
  EXPECT_EQ(0x22u, p.settings.tolerated);
  EXPECT_EQ("/mnt", p.settings.root);
  EXPECT_TRUE(p.settings.show);
  EXPECT_EQ("\nResuming upgrade...\n", p.out);
}

TEST(CommandLine, LaterRootReplacesEarlier) {
  EXPECT_EQ("/b", parse({"-r", "/a", "-r", "/b"}).settings.root);
}

TEST(CommandLine, ArgumentWordsTakeTheNextWordWhateverItIs) {
  Parsed p = parse({"--month", "--bogus", "-r", "--commit"});
  EXPECT_EQ(CommandLineOutcome::Run, p.outcome);
  EXPECT_EQ("--commit", p.settings.root);
}

TEST(CommandLine, UnknownOrIncompleteWordsGiveUsage) {
  for (std::vector<const char*> words : std::vector<std::vector<const char*>>{
           {"--bogus"}, {"-r"}, {"--month"}, {"-q", "-r"}, {"-Q"}, {"--SHOW"}, {"--show="}, {""}, {"-rr", "/x"},
           {"--safe", "--cleanupx"}}) {
    Parsed p = parse(words);
    EXPECT_EQ(CommandLineOutcome::Usage, p.outcome) << words.back();
    EXPECT_EQ("", p.out);
  }
}

TEST(CommandLine, StoppingWordsIgnoreTheRest) {
  Parsed cleanup = parse({"--cleanup", "--bogus", "--show", "--commit"});
  EXPECT_EQ(CommandLineOutcome::Run, cleanup.outcome);
  EXPECT_TRUE(cleanup.settings.cleanup);
  EXPECT_FALSE(cleanup.settings.show);

  Parsed input = parse({"-", "-q", "--bogus"});
  EXPECT_EQ(CommandLineOutcome::Run, input.outcome);
  EXPECT_TRUE(input.settings.fromStandardInput);
  EXPECT_FALSE(input.settings.quiet);

  Parsed showFirst = parse({"--show", "--cleanup"});
  EXPECT_TRUE(showFirst.settings.show);
  EXPECT_TRUE(showFirst.settings.cleanup);
}

TEST(CommandLine, CommitAndCancelEndTheReadingAtOnce) {
  Parsed commit = parse({"-r", "/mnt", "--reinstall", "--commit", "--bogus"});
  EXPECT_EQ(CommandLineOutcome::Commit, commit.outcome);
  EXPECT_EQ("\nResuming upgrade...\n", commit.out);
  EXPECT_EQ(CommandLineOutcome::Cancel, parse({"--cancel", "--commit"}).outcome);
  // The usage case ends the reading too: a later --commit is never seen.
  EXPECT_EQ(CommandLineOutcome::Usage, parse({"--bogus", "--commit"}).outcome);
}
