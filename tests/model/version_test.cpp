#include "model/version.h"

#include <gtest/gtest.h>

#include "model/package.h"

TEST(VersionText, WorkedValues) {
  EXPECT_EQ("6.46.9", versionText(0x062E6609));
  EXPECT_EQ("6.46", versionText(0x062E6600));
  EXPECT_EQ("6.46beta3", versionText(0x062E6203));
  EXPECT_EQ("6.46rc", versionText(0x062E6300));
  EXPECT_EQ("6.46alpha1", versionText(0x062E6101));
  EXPECT_EQ("6.46alpha", versionText(0x062E6100));
  EXPECT_EQ("3.22", versionText(0x03160000));
  EXPECT_EQ("6.469", versionText(0x062E0009));
  EXPECT_EQ("255.255255", versionText(0xFFFFFFFF));
  EXPECT_EQ("0.0", versionText(0));
}

TEST(VersionText, ParseIsTheInverseForNamedTypes) {
  for (const char* text : {"6.46.9", "6.46", "6.46rc2", "7.1beta4", "6.46alpha1", "6.46alpha", "0.0",
                           "255.255.255", "6.46rc"}) {
    Version v = 0;
    ASSERT_TRUE(parseVersionText(text, &v)) << text;
    EXPECT_EQ(text, versionText(v));
  }
  Version v = 0;
  ASSERT_TRUE(parseVersionText("6.46", &v));
  EXPECT_EQ(makeVersion(6, 46, Final, 0), v);
  ASSERT_TRUE(parseVersionText("7.1beta4", &v));
  EXPECT_EQ(makeVersion(7, 1, Beta, 4), v);
}

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

TEST(VersionOrder, PreReleasesSortBelowTheFinal) {
  Version rc1 = makeVersion(6, 46, ReleaseCandidate, 1);
  EXPECT_LT(rc1, makeVersion(6, 46, Final, 0));
  EXPECT_GT(rc1, makeVersion(6, 46, Beta, 255));
  EXPECT_LT(makeVersion(6, 46, Final, 0), makeVersion(6, 46, Final, 1));
  EXPECT_GT(makeVersion(6, 47, Alpha, 1), makeVersion(6, 46, Final, 255));
}

TEST(Labels, PackageRelationAndBundleMember) {
  PackageInfo foo("foo");
  EXPECT_EQ("foo-0.0", packageLabel(foo));
  foo.version = makeVersion(6, 46, Final, 9);
  EXPECT_EQ("foo-6.46.9", packageLabel(foo));

  Relation onFoo{"foo", 0, 0, 0};
  EXPECT_EQ("foo", relationLabel(onFoo));
  onFoo.maxVersion = makeVersion(7, 0, Final, 0);  // only the first bound counts
  EXPECT_EQ("foo", relationLabel(onFoo));
  onFoo.minVersion = makeVersion(6, 46, ReleaseCandidate, 2);
  EXPECT_EQ("foo-6.46rc2", relationLabel(onFoo));

  Package member("dhcp");
  member.version = makeVersion(6, 46, Final, 0);
  EXPECT_EQ("dhcp-6.46", reportLabel(member));
  member.bundle = Relation{"tarnwick", makeVersion(6, 46, Final, 1), makeVersion(6, 46, Final, 1), 0};
  EXPECT_EQ("tarnwick-6.46.1", reportLabel(member));
  member.bundle = Relation{"tarnwick", 0, 0, 0};  // name only, from the database
  EXPECT_EQ("tarnwick", reportLabel(member));
}

TEST(Labels, ActionNames) {
  EXPECT_STREQ("", actionName(PendingAction::None));
  EXPECT_STREQ("uninstall", actionName(PendingAction::Uninstall));
  EXPECT_STREQ("enable", actionName(PendingAction::Enable));
  EXPECT_STREQ("disable", actionName(PendingAction::Disable));
  EXPECT_STREQ("", actionName(static_cast<PendingAction>(7)));
}
