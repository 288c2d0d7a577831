// Version texts both ways.
#include "model/version.h"

#include <gtest/gtest.h>

// Worked values print and parse back; types without a name print bare.
TEST(VersionText, WorkedValuesAndTheirParse) {
  const std::pair<Version, const char*> cases[] = {
      {0x062E6609, "6.46.9"}, {0x062E6600, "6.46"},  {0x062E6203, "6.46beta3"}, {0x062E6300, "6.46rc"},
      {0x062E6101, "6.46alpha1"}, {0x062E6100, "6.46alpha"}, {0x03166600, "3.22"}, {0x00006600, "0.0"},
      {0x07016204, "7.1beta4"}, {0xFFFF66FF, "255.255.255"}};
  for (const auto& [version, text] : cases) {
    EXPECT_EQ(text, versionText(version));
    Version parsed = 0;
    EXPECT_TRUE(parseVersionText(text, &parsed)) << text;
    EXPECT_EQ(version, parsed) << text;
  }
  EXPECT_EQ("6.469", versionText(0x062E0009));
  EXPECT_EQ("3.22", versionText(0x03160000));
  EXPECT_EQ("255.255255", versionText(0xFFFFFFFF));
}

// Only texts versionText would print parse; a refusal leaves the value alone.
TEST(VersionText, ParseRefusesWhatVersionTextNeverPrints) {
  for (const char* text : {"", "6", "6.", ".46", "6.46.", "6.46.0", "6.256", "256.1", "6.46gamma1", "6.46rc0",
                           "6.46.9x", "-1.2", "6.046", "6.46 ", "1.2.3.4", "6.46rc1000"}) {
    Version v = 0x12345678;
    EXPECT_FALSE(parseVersionText(text, &v)) << text;
    EXPECT_EQ(0x12345678u, v) << text;
  }
  Version v = 0;
  EXPECT_FALSE(parseVersionText(std::string("6.4\0" "6", 4), &v));
}
