// Text cut, padded and wrapped for a terminal, with the characters that
// take other than one column: wide CJK characters, combining marks, emoji
// sequences. Columns are counted as the terminal shows them.
#include "host/render/text_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "host/render/runs_table.h"

namespace velnor::host {
namespace {

// "é" as e and a combining acute accent; a thumb with a skin tone; a family
// joined by zero-width joiners: each one character on the screen.
const std::string kAccented = "e\u0301";
const std::string kThumb = "\U0001F44D\U0001F3FD";
const std::string kFamily = "\U0001F469\u200D\U0001F469\u200D\U0001F467";

TEST(TextFormatTest, CutsFallBetweenCharactersAndCountColumns) {
  EXPECT_EQ(DisplayWidth("\u65E5\u672C\u8A9E"), 6u);  // 日本語
  EXPECT_EQ(DisplayWidth(kAccented + kAccented), 2u);
  EXPECT_EQ(DisplayWidth(kThumb), 2u);
  EXPECT_EQ(DisplayWidth(kFamily), 2u);

  // Two wide characters and the mark fill 5 columns; a third would not fit.
  EXPECT_EQ(CutText("\u65E5\u672C\u8A9E\u30C6\u30AD", 5), "\u65E5\u672C\u2026");
  EXPECT_EQ(CutText("\u65E5\u672C\u8A9E\u30C6\u30AD", 6), "\u65E5\u672C\u2026");
  std::string accents;
  for (int i = 0; i < 6; ++i) accents += kAccented;
  EXPECT_EQ(CutText(accents, 4, "..."), kAccented + "...");
  EXPECT_EQ(CutText(accents, 6), accents);
  EXPECT_EQ(CutText(kFamily + kThumb + kFamily + "x", 5),
            kFamily + kThumb + "\u2026");
  EXPECT_EQ(CutText(kFamily + kThumb + kFamily + "x", 4), kFamily + "\u2026");
  // Whatever the width asked for, every cut is whole characters: it keeps
  // a run of the clusters below and adds the mark.
  const std::vector<std::string> clusters = {
      "a", kAccented, "\u65E5", kThumb, kFamily, "b", kAccented, "\u8A9E"};
  std::string mixed;
  std::vector<std::string> prefixes = {""};
  for (const std::string& cluster : clusters) {
    mixed += cluster;
    prefixes.push_back(mixed);
  }
  for (size_t width = 2; width <= 14; ++width) {
    const std::string cut = CutText(mixed, width);
    EXPECT_LE(DisplayWidth(cut), width) << width;
    const bool whole =
        std::find(prefixes.begin(), prefixes.end(),
                  cut.substr(0, cut.rfind("\u2026"))) != prefixes.end();
    EXPECT_TRUE(whole || cut == mixed) << width << ": " << cut;
  }
}

TEST(TextFormatTest, PaddedColumnsLineUpAndLongLinesWrapWhole) {
  const std::string table = AlignedColumns({{"name", "hits"},
                                            {"\u65E5\u672C\u8A9E", "1"},
                                            {"caf" + kAccented, "2"},
                                            {kThumb + kFamily, "3"}},
                                           "");
  // Each second column starts at the same screen column.
  size_t start = 0;
  for (size_t line = 0; start < table.size(); ++line) {
    const size_t end = table.find('\n', start);
    const std::string row = table.substr(start, end - start);
    const std::string first = row.substr(0, row.find_last_of(' ') + 1);
    EXPECT_EQ(DisplayWidth(first), 8u) << row;
    start = end + 1;
  }
  EXPECT_EQ(PadToWidth("\u65E5", 4), "\u65E5  ");

  const std::string text = "ReadLogFile: 2 lines of \\\\SRV1\\C$\\" +
                           std::string(30, 'x') + " are \u65E5\u672C " +
                           kFamily + kFamily + kFamily + " not records";
  const std::vector<std::string> lines = WrapText(text, 12);
  std::string joined;
  for (const std::string& line : lines) {
    EXPECT_LE(DisplayWidth(line), 12u) << line;
    joined += line;
  }
  std::string without_blanks = text;
  std::erase(without_blanks, ' ');
  std::erase(joined, ' ');
  EXPECT_EQ(joined, without_blanks);
  EXPECT_EQ(WrapText("short", 12), std::vector<std::string>{"short"});
  EXPECT_EQ(WrapText("a\u65E5\u65E5", 4),
            (std::vector<std::string>{"a\u65E5", "\u65E5"}));
}

}  // namespace
}  // namespace velnor::host
