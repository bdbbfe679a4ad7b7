// The shared text helpers: which blanks go, which letters fold, and the
// order a case-blind map keeps.
#include "platform/automation/text.h"

#include <gtest/gtest.h>

#include <map>

namespace velnor::automation {
namespace {

TEST(TextTest, TrimTakesOnlyTheGivenBlanksAtBothEnds) {
  EXPECT_EQ(Trim(" \t a b \t "), "a b");
  EXPECT_EQ(Trim("\r a \r"), "\r a \r");  // CR is kept by default
  EXPECT_EQ(Trim("\r a \r", " \t\r"), "a");
  EXPECT_EQ(Trim("\t a ", " "), "\t a");
  EXPECT_EQ(Trim(" \t "), "");
  EXPECT_EQ(Trim(""), "");
}

TEST(TextTest, OnlyAsciiLettersFold) {
  EXPECT_EQ(AsciiLowered("SRV1_Web-Log.MDB"), "srv1_web-log.mdb");
  EXPECT_EQ(AsciiLowered("\xC3\x89T\xC3\x89"), "\xC3\x89t\xC3\x89");  // ÉTÉ
  EXPECT_TRUE(EqualsIgnoringAsciiCase("W3C Extended", "w3c EXTENDED"));
  EXPECT_FALSE(
      EqualsIgnoringAsciiCase("\xC3\x89t\xC3\xA9", "\xC3\xA9t\xC3\xA9"));
  EXPECT_FALSE(EqualsIgnoringAsciiCase("ab", "abc"));
  EXPECT_FALSE(EqualsIgnoringAsciiCase("[", "{"));  // 0x5B and 0x7B
  EXPECT_TRUE(StartsWithIgnoringAsciiCase("%SystemDrive%\\x", "%systemdrive%"));
  EXPECT_FALSE(StartsWithIgnoringAsciiCase("%System", "%systemdrive%"));
}

TEST(TextTest, CaseBlindMapHoldsOneKeyPerSpellingAndOrdersByFoldedBytes) {
  std::map<std::string, int, LessIgnoringAsciiCase> map;
  map["srv2"] = 2;
  map["SRV1"] = 1;
  map["Srv2"] = 3;  // the same key
  map["_x"] = 4;    // '_' (0x5F) sorts before every folded letter
  ASSERT_EQ(map.size(), 3u);
  EXPECT_EQ(map.find(std::string_view("SRV2"))->second, 3);
  std::string order;
  for (const auto& [key, value] : map) order += key + ",";
  EXPECT_EQ(order, "_x,SRV1,srv2,");
}

}  // namespace
}  // namespace velnor::automation
