// The statistics through their public interface: records of real layouts
// added, a day split in two parts (merged in memory, or written as two runs
// into a real statistics file) giving the figures of the whole day, and the
// file made whole or not at all.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/automation/ole_date.h"
#include "statistics/day_statistics.h"
#include "statistics/statistics_store.h"
#include "testing/test_support.h"

namespace velnor::statistics {
namespace {

using iislog::FieldLayout;
using iislog::RecordFields;

// Feeds records of one #Fields layout, each a line of values.
class Feed {
 public:
  explicit Feed(std::string_view fields)
      : layout_(FieldLayout::Parse(fields)) {}

  // Splits `line` at blanks (no quoting needed here) and adds it.
  void Add(RunStatistics& run, std::string_view site, Day day,
           std::string line) {
    lines_.push_back(std::move(line));
    std::vector<std::string_view> values;
    ASSERT_TRUE(iislog::SplitValues(lines_.back(), &values));
    ASSERT_EQ(values.size(), layout_.size());
    const std::optional<std::string_view> status =
        RecordFields(&layout_, values).Text(iislog::Field::kStatus);
    run.Add(site, day,
            status ? static_cast<int32_t>(*iislog::ParseInteger(*status)) : 0,
            RecordFields(&layout_, values));
  }

 private:
  FieldLayout layout_;
  std::vector<std::string> lines_;  // the views point into these
};

Day Jan(int day) {
  return static_cast<Day>(automation::DateSerial(2024, 1, day));
}

const char kFull[] = "c-ip cs-uri-stem sc-status sc-bytes cs-bytes time-taken";
const char kNoBytes[] = "c-ip cs-uri-stem sc-status time-taken";

// One day of site 1 in two parts: 100 hits with times 1..100 ms, five
// addresses, a 404 and a 500, and a 503 in the second part, whose file
// lacks the bytes.
void FirstPart(RunStatistics& run) {
  Feed feed(kFull);
  for (int i = 1; i <= 60; ++i) {
    const int status = i == 7 ? 404 : i == 8 ? 500 : 200;
    feed.Add(run, "1", Jan(31),
             "10.0.0." + std::to_string(i % 3) + " /p" + std::to_string(i % 2) +
                 " " + std::to_string(status) + " 100 " +
                 (i == 1 ? "-" : "10") + " " + std::to_string(i));
  }
}
void SecondPart(RunStatistics& run) {
  Feed feed(kNoBytes);
  for (int i = 61; i <= 100; ++i) {
    const int status = i == 99 ? 503 : 301;
    feed.Add(run, "1", Jan(31),
             "10.0.0." + std::to_string(i % 5) + " /q " +
                 std::to_string(status) + " " + std::to_string(i));
  }
  Feed other("cs-uri-stem sc-status");  // another day, nothing but hits
  other.Add(run, "1", Jan(31) + 1, "/r 200");
}

// What both parts make, whichever way they were combined.
void ExpectWholeDay(const DayFigures& day) {
  EXPECT_EQ(day.hits, 100);
  EXPECT_EQ(day.hits_by_class, (std::array<int64_t, 5>{0, 58, 39, 1, 2}));
  ASSERT_TRUE(day.bytes_sent);
  EXPECT_EQ(day.bytes_sent->value, 6000);  // 60 hits of 100, the rest absent
  EXPECT_EQ(day.bytes_sent->hits, 60);
  ASSERT_TRUE(day.bytes_received);
  EXPECT_EQ(day.bytes_received->value, 590);  // one "-"
  EXPECT_EQ(day.bytes_received->hits, 59);
  ASSERT_TRUE(day.visitors);
  EXPECT_EQ(day.visitors->value, 5);  // 10.0.0.0-2, then 0-4
  EXPECT_EQ(day.visitors->hits, 100);
  EXPECT_FALSE(day.sessions);
  ASSERT_TRUE(day.time_taken);
  EXPECT_EQ(day.time_taken->p50, 50);
  EXPECT_EQ(day.time_taken->p95, 95);
  EXPECT_EQ(day.time_taken->p99, 99);
  EXPECT_DOUBLE_EQ(day.time_taken->mean, 50.5);
  EXPECT_EQ(day.top_not_found.size(), 1u);
  EXPECT_EQ(day.top_not_found[0].url, "/p1");
  ASSERT_EQ(day.top_server_errors.size(), 2u);
  EXPECT_EQ(day.top_server_errors[0].url, "/p0");  // a tie: by URL
  EXPECT_EQ(day.top_server_errors[1].url, "/q");
  // /q: 61..100 = 3220 ms; /p1: odd 1..59 = 900; /p0: even 2..60 = 930.
  ASSERT_EQ(day.top_time_taken.size(), 3u);
  EXPECT_EQ(day.top_time_taken[0].url, "/q");
  EXPECT_EQ(day.top_time_taken[0].value, 3220);
  EXPECT_EQ(day.top_time_taken[1].value, 930);
  EXPECT_EQ(day.top_time_taken[2].value, 900);
}

class StatisticsTest : public ::testing::Test {
 protected:
  std::string Path() const {
    return (tmp_.path() / StatisticsFileName("SRV1", false)).string();
  }
  void WriteRun(int64_t run_id, const RunStatistics& run) {
    auto session = ado::Session::Begin();
    StatisticsStore store(*session, session->Attach(Path()));
    store.Write(run_id, run);
    session->Commit();
  }
  std::vector<DayFigures> ReadBack() {
    auto session = ado::Session::Begin();
    StatisticsStore store(*session, session->Attach(Path()));
    std::vector<DayFigures> days = store.ReadDays();
    session->Commit();
    return days;
  }

  testing::TempDir tmp_{"velnor-statistics"};
};

TEST_F(StatisticsTest, ADaySplitOverTwoRunsReadsAsTheWholeDay) {
  ASSERT_TRUE(CreateStatistics(Path()));
  RunStatistics first(false), second(false);
  FirstPart(first);
  SecondPart(second);
  WriteRun(1, first);
  WriteRun(2, second);
  std::vector<DayFigures> days = ReadBack();
  ASSERT_EQ(days.size(), 2u);
  ExpectWholeDay(days[0]);
  EXPECT_EQ(days[1].day, Jan(31) + 1);
  EXPECT_EQ(days[1].hits, 1);
  EXPECT_FALSE(days[1].bytes_sent);  // absent, not zero
  EXPECT_FALSE(days[1].visitors);
  EXPECT_FALSE(days[1].time_taken);
  EXPECT_TRUE(days[1].top_time_taken.empty());

  // The same parts merged in memory first, as two workers' would be.
  std::filesystem::remove(Path());
  ASSERT_TRUE(CreateStatistics(Path()));
  first.Merge(second);
  WriteRun(1, first);
  days = ReadBack();
  ASSERT_EQ(days.size(), 2u);
  ExpectWholeDay(days[0]);
}

TEST_F(StatisticsTest, FtpSessionsFromEitherKindOfFtpLog) {
  ASSERT_TRUE(CreateStatistics(Path()));
  RunStatistics run(true);
  Feed classic("c-ip cs-method cs-uri-stem sc-status");
  classic.Add(run, "1", Jan(2), "1.1.1.1 [2]USER anonymous 331");
  classic.Add(run, "1", Jan(2), "1.1.1.1 [2]PASS - 230");
  classic.Add(run, "1", Jan(2), "1.1.1.1 [3]sent /a 226");
  classic.Add(run, "1", Jan(2), "1.1.1.1 USER x 331");  // names no session
  Feed newer("c-ip cs-method sc-status sc-bytes x-session");
  newer.Add(run, "2", Jan(2), "::1 RETR 226 1000 {a-b}");
  newer.Add(run, "2", Jan(2), "::1 STOR 226 24 {a-c}");
  newer.Add(run, "2", Jan(2), "::1 QUIT 221 - {a-b}");
  WriteRun(1, run);
  const std::vector<DayFigures> days = ReadBack();
  ASSERT_EQ(days.size(), 2u);
  EXPECT_EQ(days[0].sessions->value, 2);
  EXPECT_EQ(days[0].sessions->hits, 3);
  EXPECT_FALSE(days[0].bytes_sent);
  EXPECT_EQ(days[1].sessions->value, 2);
  EXPECT_EQ(days[1].bytes_sent->value, 1024);
  EXPECT_EQ(days[1].visitors->value, 1);

  // A web run counts no sessions, whatever its methods look like.
  RunStatistics web(false);
  classic.Add(web, "1", Jan(2), "1.1.1.1 [2]USER anonymous 331");
  EXPECT_EQ(web.days().begin()->second.session_hits, 0);
}

TEST(NearestRankTest, IsTheSmallestValueCoveringTheRank) {
  const std::map<int64_t, int64_t> one = {{7, 1}};
  EXPECT_EQ(NearestRank(one, 1, 50), 7);
  EXPECT_EQ(NearestRank(one, 1, 99), 7);
  // 1, 2, 2, 2, 10: rank ceil(0.5 * 5) = 3 is 2; 0.95 * 5 rounds up to 5.
  const std::map<int64_t, int64_t> five = {{1, 1}, {2, 3}, {10, 1}};
  EXPECT_EQ(NearestRank(five, 5, 50), 2);
  EXPECT_EQ(NearestRank(five, 5, 95), 10);
  EXPECT_EQ(NearestRank(five, 5, 20), 1);
  EXPECT_EQ(NearestRank(five, 5, 21), 2);
}

TEST_F(StatisticsTest, TheFileIsMadeOnceAndNeverTouchedAgain) {
  ASSERT_TRUE(CreateStatistics(Path()));
  RunStatistics run(false);
  FirstPart(run);
  WriteRun(1, run);
  EXPECT_FALSE(CreateStatistics(Path()));
  EXPECT_EQ(ReadBack().size(), 1u);
  // Nothing of the temporary file it was built under is left.
  int entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(tmp_.path())) {
    EXPECT_EQ(entry.path().filename(), StatisticsFileName("SRV1", false));
    ++entries;
  }
  EXPECT_EQ(entries, 1);
}

}  // namespace
}  // namespace velnor::statistics
