// The command line words in process, for what a run does not print (the
// usage line for unknown words is checked end to end in run_start_test.cpp).
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

TEST(CommandLine, EveryWordOfTheTable) {
  Parsed none = parse({});
  EXPECT_EQ(CommandLineOutcome::Run, none.outcome);
  EXPECT_TRUE(none.settings.commitAtOnce);
  EXPECT_EQ(0u, none.settings.tolerated);
  Parsed p = parse({"-q", "--safe", "-down", "--reinstall", "-b", "--force", "--noupgrade", "-i", "--month", "3",
                    "-r", "/a", "-r", "/mnt", "--show"});
  EXPECT_EQ(CommandLineOutcome::Run, p.outcome);
  EXPECT_TRUE(p.settings.quiet && p.settings.show);
  EXPECT_FALSE(p.settings.commitAtOnce);
  EXPECT_EQ(0x22u, p.settings.tolerated);
  EXPECT_EQ("/mnt", p.settings.root);  // the later root replaces the earlier
  EXPECT_EQ("\nResuming upgrade...\n", p.out);
  // Argument words take the next word whatever it is.
  EXPECT_EQ("--commit", parse({"--month", "--bogus", "-r", "--commit"}).settings.root);
}

TEST(CommandLine, StoppingWordsAndTheModes) {
  Parsed cleanup = parse({"--cleanup", "--bogus", "--show", "--commit"});
  EXPECT_EQ(CommandLineOutcome::Run, cleanup.outcome);
  EXPECT_TRUE(cleanup.settings.cleanup);
  EXPECT_FALSE(cleanup.settings.show);
  Parsed input = parse({"-", "-q", "--bogus"});
  EXPECT_TRUE(input.settings.fromStandardInput);
  EXPECT_FALSE(input.settings.quiet);
  EXPECT_EQ(CommandLineOutcome::Commit, parse({"-r", "/mnt", "--commit", "--bogus"}).outcome);
  EXPECT_EQ(CommandLineOutcome::Cancel, parse({"--cancel", "--commit"}).outcome);
}

}  // namespace
