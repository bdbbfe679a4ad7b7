// The renderers on hand-made reports: bar scaling, cutting and escaping of
// texts that arrive from log files with any bytes in them.
#include "host/render/report_render.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "host/render/json_layout.h"
#include "ledger/ledger_store.h"

namespace velnor::host {

using reportdb::Report;
using reportdb::SiteReport;
namespace {

Report OneSite(std::vector<int64_t> weekday_hits, std::string url = "/") {
  SiteReport site;
  site.identifier = "1";
  site.name = "Site";
  for (size_t i = 0; i < weekday_hits.size(); ++i) {
    site.weekdays.push_back({static_cast<int64_t>(i + 1),
                             "Day" + std::to_string(i + 1), weekday_hits[i]});
  }
  site.top_urls.push_back({std::move(url), 3});
  Report report;
  report.server = "SRV1";
  report.sites.push_back(std::move(site));
  return report;
}

std::string LineWith(const std::string& text, const std::string& start) {
  size_t at = text.find("\n" + start);
  if (at == std::string::npos) return "";
  return text.substr(at + 1, text.find('\n', at + 1) - at - 1);
}

std::string Blocks(int n) {
  std::string blocks;
  for (int i = 0; i < n; ++i) blocks += "\u2588";
  return blocks;
}

TEST(RenderTextTest, BarsScaleToTheLargestCountInEighths) {
  std::string text = RenderText(OneSite({80, 40, 1, 0, 81000000000}), {});
  std::string largest = Blocks(40);
  EXPECT_EQ(LineWith(text, "  Day5"), "  Day5  81000000000  " + largest);
  EXPECT_EQ(LineWith(text, "  Day4"), "  Day4            0");
  // 1 of 81e9 rounds to nothing but still shows.
  EXPECT_EQ(LineWith(text, "  Day3"), "  Day3            1  \u258F");

  text = RenderText(OneSite({80, 40, 1}), {});
  EXPECT_EQ(LineWith(text, "  Day2"), "  Day2  40  " + Blocks(20));
  EXPECT_EQ(LineWith(text, "  Day3"), "  Day3   1  \u258C");  // 4 eighths
}

// Days are told as ranges, those counted in part as well: a site whose
// logs stopped coming has months of such days.
TEST(RenderTextTest, DaysCollectedAreRangesAlsoWhereCountedInPart) {
  Report report = OneSite({1});
  report.has_ledger = true;
  const ledger::Day first = ledger::ParseDayText("2024-06-01");
  for (ledger::Day day = first; day < first + 120; ++day) {
    if (day == first + 3) continue;
    report.sites[0].days.push_back({day, 1, {}, day < first + 2});
  }
  EXPECT_EQ(LineWith(RenderText(report, {}), "  Days collected:"),
            "  Days collected:  site 1: 2024-06-01 to 2024-06-03, 2024-06-05 "
            "to 2024-09-28 (2024-06-03, 2024-06-05 to 2024-09-28 in part)");
}

TEST(RenderTextTest, LongAndHostileTextsAreCutAndDefused) {
  std::string url = "/" + std::string(100, 'a');
  std::string text = RenderText(OneSite({1}, url), {});
  EXPECT_NE(text.find("/" + std::string(58, 'a') + "\u2026  3"),
            std::string::npos)
      << text;
  text = RenderText(OneSite({1}, "/\x1b[2Jx\xff"), {});
  EXPECT_EQ(text.find('\x1b'), std::string::npos);
  EXPECT_NE(text.find("/\uFFFD[2Jx\uFFFD"), std::string::npos);
}

TEST(CleanUtf8Test, KeepsValidTextAndReplacesEachBadByte) {
  EXPECT_EQ(CleanUtf8("Caf\xC3\xA9 \xF0\x9F\x98\x80", false),
            "Caf\xC3\xA9 \xF0\x9F\x98\x80");
  EXPECT_EQ(CleanUtf8("a\xC3", false), "a\uFFFD");          // cut short
  EXPECT_EQ(CleanUtf8("\xC0\xAF", false), "\uFFFD\uFFFD");  // overlong
  EXPECT_EQ(CleanUtf8("\xED\xA0\x80", false),
            "\uFFFD\uFFFD\uFFFD");  // surrogate
  EXPECT_EQ(CleanUtf8("\xF4\x90\x80\x80", false),
            "\uFFFD\uFFFD\uFFFD\uFFFD");  // above U+10FFFF
  EXPECT_EQ(CleanUtf8("a\tb\x7f\xC2\x85", false), "a\tb\x7f\xC2\x85");
  EXPECT_EQ(CleanUtf8("a\tb\x7f\xC2\x85", true), "a\uFFFDb\uFFFD\uFFFD");
  EXPECT_EQ(CleanUtf8(std::string("a\0b", 3), false), "a\uFFFDb");
}

TEST(RenderDataTest, CsvAndJsonEscapeWhatTheirSyntaxNeeds) {
  Report report = OneSite({}, "/a\"b,c\nd\\\x01");
  report.sites[0].hours[5] = 2;
  report.sites[0].runs = {4, 5};
  report.sites[0].runs_total = 9;
  std::string csv = RenderCsv(report);
  EXPECT_EQ(csv.rfind("Identifier,Site Name,Section,Key,Label,Hits\r\n", 0),
            0u);
  EXPECT_NE(csv.find("\r\n1,Site,url,1,\"/a\"\"b,c\nd\\\uFFFD\",3\r\n"),
            std::string::npos);
  EXPECT_NE(csv.find("\r\n1,Site,hour,5,,2\r\n"), std::string::npos);
  EXPECT_NE(csv.find("\r\n1,Site,run,2,,5\r\n1,Site,runs-total,,,9\r\n"),
            std::string::npos);

  std::string json = RenderJson(report);
  EXPECT_NE(json.find("{\"url\": \"/a\\\"b,c\\nd\\\\\\u0001\", \"hits\": 3}"),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("\"hours\": [0, 0, 0, 0, 0, 2, 0,"), std::string::npos);
  EXPECT_NE(json.find("\"runs\": [4, 5],\n      \"runs_total\": 9,\n"),
            std::string::npos);
}

// Whatever the databases hold, the JSON parses and gives back the texts as
// they were cleaned, and a ledger's runs come one a line.
TEST(RenderDataTest, JsonParsesBackToTheReportsTexts) {
  const std::string hostile = "/\b\f\x1b[2J\x7f\xC3\xA9\xF0\x9F\x98\x80\xff\"";
  Report report = OneSite({2, 0, 1}, hostile);
  report.sites[0].name = "Caf\xC3\xA9 \x01";
  report.has_ledger = true;
  ledger::RunRow run;
  run.run_id = 7;
  run.server = "SRV1";
  run.sites = "1,2";
  run.first_day = ledger::ParseDayText("2024-06-03");
  run.last_day = ledger::ParseDayText("2024-06-04");
  run.mode = "count";
  run.started = "2024-06-05T02:00:00Z";
  run.outcome = ledger::Outcome::kCompleted;
  run.records = 12;
  report.runs = {run, run};
  report.runs[1].run_id = 8;
  const std::string text = RenderJson(report);
  const nlohmann::json json = nlohmann::json::parse(text);
  const nlohmann::json& site = json["sites"][0];
  EXPECT_EQ(site["top_urls"][0]["url"],
            "/\b\f\x1b[2J\x7f\xC3\xA9\xF0\x9F\x98\x80\uFFFD\"");
  EXPECT_EQ(site["name"], "Caf\xC3\xA9 \x01");
  EXPECT_EQ(site["weekdays"][2]["hits"], 1);
  const nlohmann::json& runs = json["ledger"]["runs"];
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0]["sites"], nlohmann::json::array({"1", "2"}));
  EXPECT_EQ(runs[0]["ended"], nullptr);
  EXPECT_EQ(runs[1]["first_day"], "2024-06-03");
  EXPECT_EQ(runs[1]["outcome"], "completed");
  EXPECT_NE(text.find("\"ledger\": {\n    \"runs\": [\n      {\"run\": 7, "),
            std::string::npos)
      << text;
  // No raw control character reaches the output.
  for (char c : text) {
    EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 && c != '\n') << text;
  }
}

TEST(JsonLayoutTest, SpreadsWhatHoldsObjectsDownToTheLevelAsked) {
  const Json value = {
      {"a", {1, 2}},
      {"b", Json::array({{{"c", {{"d", 1}}}}, {{"e", nullptr}}})},
      {"f", Json::object()}};
  EXPECT_EQ(LaidOut(value, 0),
            "{\"a\": [1, 2], \"b\": [{\"c\": {\"d\": 1}}, {\"e\": null}], "
            "\"f\": {}}");
  EXPECT_EQ(LaidOut(value, 2),
            "{\n  \"a\": [1, 2],\n  \"b\": [\n    {\"c\": {\"d\": 1}},\n"
            "    {\"e\": null}\n  ],\n  \"f\": {}\n}");
  EXPECT_EQ(LaidOut(value, 3),
            "{\n  \"a\": [1, 2],\n  \"b\": [\n    {\n      \"c\": {\"d\": 1}\n"
            "    },\n    {\"e\": null}\n  ],\n  \"f\": {}\n}");
  EXPECT_EQ(LaidOut(Json::array(), 5), "[]");
  EXPECT_EQ(LaidOut(JsonText("\xff\t"), 0), "\"\uFFFD\\t\"");
}

}  // namespace
}  // namespace velnor::host
