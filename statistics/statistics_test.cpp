// The statistics through their public interface: records of real layouts
// added, a day split in two parts (merged in memory, or written as two runs
// into a real statistics file) giving the figures of the whole day, the
// visitors of every kind of address and slow requests' percentiles exact
// against figures worked out here, and the file made whole or not at all.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "absl/strings/escaping.h"
#include "platform/automation/ole_date.h"
#include "statistics/day_statistics.h"
#include "statistics/packed_figures.h"
#include "statistics/statistics_store.h"
#include "statistics/visitor_set.h"
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
    store.Write(PackRun(run_id, run));
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

// The visitor an address stands for, worked out with the C library: its
// bytes when it is an IPv4 or IPv6 address, else its text.
std::string Visitor(const std::string& address) {
  unsigned char bytes[16];
  if (inet_pton(AF_INET, address.c_str(), bytes) == 1) {
    return std::string("4").append(reinterpret_cast<char*>(bytes), 4);
  }
  if (inet_pton(AF_INET6, address.c_str(), bytes) == 1) {
    return std::string("6").append(reinterpret_cast<char*>(bytes), 16);
  }
  return "t" + address;
}

TEST_F(StatisticsTest, VisitorsAndSlowTimesOfADayInPartsAreExact) {
  // Spellings that are one visitor or not, then many drawn addresses of
  // every kind, with repeats; and times with a long tail.
  std::vector<std::string> addresses = {
      "10.0.0.1",        "10.0.0.1",     "010.0.0.1",       "0.0.0.0",
      "1.2.3.256",       "1.2.3",        "255.255.255.255", "::1",
      "0:0:0:0:0:0:0:1", "2001:DB8::1",  "2001:db8:0::1",   "::ffff:10.0.0.1",
      "fe80::1%4",       "host.example", "HOST.example",    "::",
  };
  unsigned x = 11;
  auto next = [&x](unsigned n) {
    x = x * 1103515245u + 12345u;
    return (x >> 8) % n;
  };
  for (int i = 0; i < 6000; ++i) {
    const unsigned kind = next(10);
    if (kind < 6) {
      addresses.push_back(
          std::to_string(next(3)) + "." + std::to_string(next(256)) + "." +
          std::to_string(next(256)) + "." + std::to_string(next(256)));
    } else if (kind < 9) {
      char text[64];
      std::snprintf(text, sizeof text, "2001:db8:%x::%x:%x", next(4),
                    next(0x10000), next(0x10000));
      addresses.push_back(text);
    } else {
      addresses.push_back("client-" + std::to_string(next(300)));
    }
  }
  std::vector<int64_t> times;
  for (size_t i = 0; i < addresses.size(); ++i) {
    const unsigned t = next(100);
    times.push_back(t < 80 ? next(300) : t < 97 ? next(20000) : next(2000000));
  }
  std::set<std::string> visitors;
  for (const std::string& address : addresses)
    visitors.insert(Visitor(address));
  ASSERT_EQ(visitors.count(Visitor("::1")), 1u);
  std::vector<int64_t> sorted = times;
  std::sort(sorted.begin(), sorted.end());
  auto rank = [&](int percent) {
    return sorted[(percent * sorted.size() + 99) / 100 - 1];
  };

  // Two runs of the day, the second from the middle of the first on, and
  // the same parts merged in memory as two workers' would be.
  Feed feed("c-ip time-taken");
  RunStatistics first(false), second(false);
  for (size_t i = 0; i < addresses.size(); ++i) {
    RunStatistics& part = i < addresses.size() * 2 / 3 ? first : second;
    feed.Add(part, "1", Jan(5), addresses[i] + " " + std::to_string(times[i]));
    if (i >= addresses.size() / 3 && i < addresses.size() * 2 / 3) {
      feed.Add(second, "1", Jan(5), addresses[i] + " 0");
      times.push_back(0);
    }
  }
  std::sort(times.begin(), times.end());
  sorted = times;
  for (bool merged : {false, true}) {
    SCOPED_TRACE(merged ? "merged" : "two runs");
    std::filesystem::remove(Path());
    ASSERT_TRUE(CreateStatistics(Path()));
    if (merged) {
      RunStatistics whole(false);
      whole.Merge(first);
      whole.Merge(second);
      WriteRun(1, whole);
    } else {
      WriteRun(1, first);
      WriteRun(2, second);
    }
    const std::vector<DayFigures> days = ReadBack();
    ASSERT_EQ(days.size(), 1u);
    ASSERT_TRUE(days[0].visitors);
    EXPECT_EQ(days[0].visitors->value, static_cast<int64_t>(visitors.size()));
    EXPECT_EQ(days[0].visitors->hits, static_cast<int64_t>(times.size()));
    ASSERT_TRUE(days[0].time_taken);
    EXPECT_EQ(days[0].time_taken->p50, rank(50));
    EXPECT_EQ(days[0].time_taken->p95, rank(95));
    EXPECT_EQ(days[0].time_taken->p99, rank(99));
    // One row per run and day, however many visitors it holds.
    EXPECT_EQ(testing::QueryRows(Path(), "SELECT count(*) FROM day_visitors"),
              (testing::Rows{{merged ? "1" : "2"}}));
  }

  // A row that is no packed set is refused, naming the day and the file.
  testing::ExecSql(Path(), "UPDATE day_visitors SET clients = 'AAA='");
  try {
    ReadBack();
    ADD_FAILURE() << "read a garbled row";
  } catch (const automation::AutomationError& error) {
    EXPECT_NE(error.description().find("site 1 on 2024-01-05"),
              std::string::npos)
        << error.description();
    EXPECT_NE(error.description().find(Path()), std::string::npos);
  }
}

// Each set's last IPv4 address waits beside the set until the next Insert:
// sizes, packed forms and merges taken right after any Insert count it
// exactly once, whether it is new or a repeat, alone or among other kinds.
TEST(VisitorSetTest, TheLastAddressInsertedCountsEverywhere) {
  const std::vector<std::string> addresses = {
      "10.0.0.1", "10.0.0.2", "10.0.0.1", "::1",      "10.0.0.3",
      "host-a",   "10.0.0.3", "10.0.0.2", "10.0.0.4", "10.0.0.4"};
  VisitorSet set, evens;
  std::set<std::string> seen, seen_evens;
  for (size_t i = 0; i < addresses.size(); ++i) {
    SCOPED_TRACE(addresses[i]);
    set.Insert(addresses[i]);
    seen.insert(addresses[i]);
    EXPECT_EQ(set.size(), seen.size());
    VisitorSet unpacked;
    ASSERT_TRUE(unpacked.MergePacked(set.Pack()));
    EXPECT_EQ(unpacked.size(), seen.size());
    EXPECT_EQ(unpacked.Pack(), set.Pack());
    if (i % 2 == 0) {
      evens.Insert(addresses[i]);
      seen_evens.insert(addresses[i]);
    }
    // A merge takes the other set's waiting address, and the target's own
    // waiting address stays counted once.
    VisitorSet merged = evens;
    merged.Merge(set);
    EXPECT_EQ(merged.size(), seen.size());
    VisitorSet reverse = set;
    reverse.Merge(evens);
    EXPECT_EQ(reverse.Pack(), set.Pack());
    EXPECT_EQ(evens.size(), seen_evens.size());
  }
}

// The packed forms keep every URL's exact bytes and every figure, add up
// when merged, and refuse texts they did not write.
TEST(PackedFiguresTest, UrlsAndHistogramsRoundTripExactly) {
  const std::string long_url = "/" + std::string(20000, 'x') + "\xe9";
  const std::vector<std::pair<std::string, UrlFigures>> entries = {
      {"", {1, 0, 0}},
      {"/a", {0, 2, 3}},
      {"/a/b", {4, 0, 0}},  // the one before as its prefix
      {"/ab", {0, 0, 5}},
      {"/caf\xc3\xa9/\x01\x7f\x80\xff", {6, 7, 8}},
      {"/+/=?a=b+c", {9, 0, 0}},  // the base64 alphabet's own characters
      {long_url, {0, 0, int64_t{1} << 61}},
  };
  UrlMap forward, backward;
  backward.reserve(1000);  // another iteration order
  for (const auto& [url, figures] : entries) forward[url] = figures;
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    backward[it->first] = it->second;
  }
  const std::string packed = PackUrls(forward);
  EXPECT_EQ(PackUrls(backward), packed);
  std::string bytes;
  ASSERT_TRUE(absl::Base64Unescape(packed, &bytes));
  EXPECT_LT(bytes.size(), long_url.size() + 200u);

  auto as_list = [](const UrlMap& urls) {
    std::map<std::string, std::array<int64_t, 3>> list;
    for (const auto& [url, f] : urls) {
      list[url] = {f.not_found, f.server_errors, f.time_taken_ms};
    }
    return list;
  };
  UrlMap read;
  ASSERT_TRUE(MergePackedUrls(packed, read));
  EXPECT_EQ(as_list(read), as_list(forward));
  ASSERT_TRUE(MergePackedUrls(packed, read));
  EXPECT_EQ(read.size(), entries.size());
  EXPECT_EQ(read["/a"].time_taken_ms, 6);
  EXPECT_EQ(read[long_url].time_taken_ms, int64_t{1} << 62);

  UrlMap none;
  ASSERT_TRUE(MergePackedUrls(PackUrls(UrlMap()), none));
  EXPECT_TRUE(none.empty());

  TimeHistogram histogram;
  const std::map<int64_t, int64_t> times = {
      {0, 3}, {1, 1}, {4095, 2}, {4096, 5}, {1000000000, 1}};
  for (const auto& [ms, hits] : times) histogram.Add(ms, hits);
  std::map<int64_t, int64_t> summed;
  ASSERT_TRUE(MergePackedTimes(PackTimes(histogram), summed));
  EXPECT_EQ(summed, times);
  ASSERT_TRUE(MergePackedTimes(PackTimes(histogram), summed));
  EXPECT_EQ(summed.at(4096), 10);
  std::map<int64_t, int64_t> empty;
  ASSERT_TRUE(MergePackedTimes(PackTimes(TimeHistogram()), empty));
  EXPECT_TRUE(empty.empty());

  // Cut short, of another version, not base64, or a URL listed twice.
  std::string twice;
  twice.push_back(1);
  twice.push_back(2);
  for (int i = 0; i < 2; ++i) twice += std::string("\0\1a\1\0\0", 6);
  for (const std::string& bad :
       {packed.substr(0, packed.size() - 8), absl::Base64Escape("\x02\x00"),
        std::string("not*base64"), absl::Base64Escape(twice)}) {
    UrlMap urls;
    std::map<int64_t, int64_t> hist;
    EXPECT_FALSE(MergePackedUrls(bad, urls)) << bad;
    EXPECT_FALSE(MergePackedTimes(bad, hist)) << bad;
  }
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
