// The statistics beyond the counts, end to end: velnor collect over logs
// written here (and a real FTP log), then velnor report in every format,
// each figure compared with what this test works out from the log lines
// itself: sums, distinct addresses and sessions, nearest-rank percentiles
// and the top URLs. Covers a run across a month end, a file whose fields
// change to drop the bytes, a day without them, a day collected in part and
// then finished, a repeat refused, FTP logs with and without bytes, and a
// statistics database of the earlier design (a row per client, time-taken
// value and URL) read, collected into and upgraded by init-db with the
// same figures.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "host/testing/earlier_statistics.h"
#include "host/testing/velnor_test_support.h"

namespace velnor::host {
namespace {

using testing::Contains;
using testing::ProgramRun;
using testing::ReadFile;
using testing::Shell;
using testing::TempDir;
using testing::Words;
using testing::WriteFile;

namespace fs = std::filesystem;

// Per day: figure name to its text, as every format should show it; a
// figure whose field the logs did not carry has no entry.
using Figures = std::map<std::string, std::string>;
using DayFigures = std::map<std::string, Figures>;
// Per day and list (top_404, top_5xx, top_time_taken): URL and value.
using TopLists =
    std::map<std::string,
             std::map<std::string, std::vector<std::pair<std::string, long>>>>;

struct Expected {
  DayFigures figures;
  TopLists tops;
};

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream in(line);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

std::string Mean(long sum, long count) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f",
                static_cast<double>(sum) / static_cast<double>(count));
  return text;
}

// What the logs' records of a day hold.
struct LogDay {
  long hits = 0;
  long classes[5] = {0, 0, 0, 0, 0};
  long sent = 0, sent_hits = 0, received = 0, received_hits = 0;
  std::set<std::string> clients, sessions;
  std::vector<long> times;
  std::map<std::string, std::array<long, 3>> urls;  // 404s, 5xx, time
};

// The days `from` to `to` (YYYY-MM-DD) of the logs, worked out from their
// lines: the latest #Fields names the values, a time-only layout takes the
// day of the latest #Date.
std::map<std::string, LogDay> LogDays(const std::vector<std::string>& texts,
                                      const std::string& from,
                                      const std::string& to, bool ftp) {
  std::map<std::string, LogDay> days;
  for (const std::string& text : texts) {
    std::vector<std::string> names;
    std::string directive_day;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.starts_with("#Fields:")) {
        names = Split(line.substr(8));
      } else if (line.starts_with("#Date: ")) {
        directive_day = line.substr(7, 10);
      }
      const std::vector<std::string> values = Split(line);
      if (line.empty() || line[0] == '#' || values.size() != names.size()) {
        continue;
      }
      std::map<std::string, std::string> record;
      for (size_t i = 0; i < names.size(); ++i) {
        if (values[i] != "-") record[names[i]] = values[i];
      }
      const std::string day =
          record.contains("date") ? record["date"] : directive_day;
      if (day < from || day > to) continue;
      LogDay& d = days[day];
      ++d.hits;
      const long status = std::stol(record["sc-status"]);
      if (status >= 100 && status < 600) ++d.classes[status / 100 - 1];
      if (record.contains("sc-bytes")) {
        d.sent += std::stol(record["sc-bytes"]);
        ++d.sent_hits;
      }
      if (record.contains("cs-bytes")) {
        d.received += std::stol(record["cs-bytes"]);
        ++d.received_hits;
      }
      if (record.contains("c-ip")) d.clients.insert(record["c-ip"]);
      const std::string method = record["cs-method"];
      if (ftp && record.contains("x-session")) {
        d.sessions.insert(record["x-session"]);
      } else if (ftp && method.starts_with("[")) {
        d.sessions.insert(method.substr(0, method.find(']') + 1));
      }
      long taken = 0;
      if (record.contains("time-taken")) {
        taken = std::stol(record["time-taken"]);
        d.times.push_back(taken);
      }
      if (record.contains("cs-uri-stem")) {
        auto& url = d.urls[record["cs-uri-stem"]];
        url[0] += status == 404;
        url[1] += status / 100 == 5;
        url[2] += taken;
      }
    }
  }
  return days;
}

// What every format should show of those days.
Expected FromLogs(const std::vector<std::string>& texts,
                  const std::string& from, const std::string& to, bool ftp) {
  Expected expected;
  for (auto& [day, d] : LogDays(texts, from, to, ftp)) {
    Figures& f = expected.figures[day];
    for (int i = 0; i < 5; ++i) {
      f["hits_" + std::to_string(i + 1) + "xx"] = std::to_string(d.classes[i]);
    }
    if (d.sent_hits > 0) f["bytes_sent"] = std::to_string(d.sent);
    if (d.received_hits > 0) f["bytes_received"] = std::to_string(d.received);
    if (!d.clients.empty()) f["visitors"] = std::to_string(d.clients.size());
    if (!d.sessions.empty()) f["sessions"] = std::to_string(d.sessions.size());
    if (!d.times.empty()) {
      std::sort(d.times.begin(), d.times.end());
      const long n = static_cast<long>(d.times.size());
      for (int p : {50, 95, 99}) {
        // Nearest rank: the value at rank ceil(p/100 * n).
        const long rank = (p * n + 99) / 100;
        f[std::string("p").append(std::to_string(p))] =
            std::to_string(d.times[rank - 1]);
      }
      long sum = 0;
      for (long t : d.times) sum += t;
      f["mean"] = Mean(sum, n);
    }
    const char* kLists[] = {"top_404", "top_5xx", "top_time_taken"};
    for (int list = 0; list < 3; ++list) {
      std::vector<std::pair<std::string, long>> top;
      for (const auto& [url, values] : d.urls) {
        if (values[list] > 0) top.emplace_back(url, values[list]);
      }
      std::sort(top.begin(), top.end(), [](const auto& a, const auto& b) {
        return a.second != b.second ? a.second > b.second : a.first < b.first;
      });
      if (top.size() > 10) top.resize(10);
      if (!top.empty()) expected.tops[day][kLists[list]] = top;
    }
  }
  return expected;
}

// The figures' headings in the text report and the page.
const std::map<std::string, std::string> kLabels = {
    {"1xx", "hits_1xx"},
    {"2xx", "hits_2xx"},
    {"3xx", "hits_3xx"},
    {"4xx", "hits_4xx"},
    {"5xx", "hits_5xx"},
    {"Sent", "bytes_sent"},
    {"Received", "bytes_received"},
    {"Visitors", "visitors"},
    {"Sessions", "sessions"},
    {"p50 ms", "p50"},
    {"p95 ms", "p95"},
    {"p99 ms", "p99"},
    {"Mean ms", "mean"}};
const std::map<std::string, std::string> kListLabels = {
    {"404s", "top_404"},
    {"5xx", "top_5xx"},
    {"Time taken (ms)", "top_time_taken"}};

// Adds a row of `cells` under `headings` to `figures`; "-" is no figure.
void AddRow(const std::vector<std::string>& headings,
            const std::vector<std::string>& cells, DayFigures& figures) {
  ASSERT_EQ(cells.size(), headings.size());
  Figures& day = figures[cells[0]];
  for (size_t i = 1; i < cells.size(); ++i) {
    ASSERT_TRUE(kLabels.contains(headings[i])) << headings[i];
    if (cells[i] != "-") day[kLabels.at(headings[i])] = cells[i];
  }
}

Expected FromCsv(const std::string& csv) {
  Expected shown;
  static const std::regex kRow(
      "1,[^,]*,(statistic|top_404|top_5xx|top_time_taken),([0-9-]+),([^,]*),"
      "([0-9.]+)\r");
  std::istringstream lines(csv);
  for (std::string line; std::getline(lines, line);) {
    std::smatch m;
    if (!std::regex_match(line, m, kRow)) continue;
    if (m[1] == "statistic") {
      shown.figures[m[2]][m[3]] = m[4];
    } else {
      shown.tops[m[2]][m[1]].emplace_back(m[3], std::stol(m[4]));
    }
  }
  return shown;
}

// The text report's statistics section: its table and its top URLs.
Expected FromText(const std::string& text) {
  Expected shown;
  const size_t start = text.find("\nStatistics by day (");
  if (start == std::string::npos) return shown;
  std::istringstream lines(text.substr(start + 1));
  std::string line;
  std::getline(lines, line);  // the section's title
  std::getline(lines, line);
  const std::vector<std::string> headings = [&] {
    // Headings hold blanks ("p50 ms"): columns are two blanks apart.
    std::vector<std::string> cells;
    std::regex gap("  +");
    for (std::sregex_token_iterator it(line.begin() + 2, line.end(), gap, -1),
         end;
         it != end; ++it) {
      cells.push_back(*it);
    }
    return cells;
  }();
  while (std::getline(lines, line) && !line.empty()) {
    AddRow(headings, Split(line), shown.figures);
  }
  if (std::getline(lines, line) && Contains(line, "Top URLs of each day")) {
    static const std::regex kTop("    ([0-9-]+)  +(.+?)  +([0-9]+)  +(\\S+)");
    while (std::getline(lines, line) && !line.empty()) {
      std::smatch m;
      EXPECT_TRUE(std::regex_match(line, m, kTop)) << line;
      shown.tops[m[1]][kListLabels.at(m[2])].emplace_back(m[4],
                                                          std::stol(m[3]));
    }
  }
  return shown;
}

std::vector<std::string> Cells(const std::string& row, const char* tag) {
  std::vector<std::string> cells;
  const std::regex cell(std::string("<") + tag + "[^>]*>([^<]*)</" + tag + ">");
  for (std::sregex_iterator it(row.begin(), row.end(), cell), end; it != end;
       ++it) {
    cells.push_back((*it)[1]);
  }
  return cells;
}

// The page's statistics tables, as the browser would read their cells.
Expected FromHtml(const std::string& html) {
  Expected shown;
  static const std::regex kTable(
      "<table class=\"statistics "
      "sortable\"><thead><tr>(.*?)</tr></thead><tbody>\n"
      "([^]*?)</tbody>");
  static const std::regex kTop(
      "<table class=\"statistics top "
      "sortable\"><thead>.*?</thead><tbody>\n([^]*?)"
      "</tbody>");
  std::smatch m;
  if (!std::regex_search(html, m, kTable)) return shown;
  const std::vector<std::string> headings = Cells(m[1], "th");
  std::istringstream rows(m[2]);
  for (std::string row; std::getline(rows, row);) {
    AddRow(headings, Cells(row, "td"), shown.figures);
  }
  if (std::regex_search(html, m, kTop)) {
    std::istringstream tops(m[1]);
    for (std::string row; std::getline(tops, row);) {
      // The URL's cell holds the whole URL in its title.
      std::smatch url;
      EXPECT_TRUE(
          std::regex_search(row, url, std::regex("title=\"([^\"]*)\"")));
      const std::vector<std::string> cells = Cells(row, "td");
      EXPECT_EQ(cells.size(), 4u) << row;
      shown.tops[cells[0]][kListLabels.at(cells[1])].emplace_back(
          url[1], std::stol(cells[2]));
    }
  }
  return shown;
}

// A figure of the JSON report as text, as the other formats show it: a
// figure is a whole number, a mean one of two decimals.
std::string JsonFigure(const nlohmann::json& value, bool mean) {
  if (mean && value.is_number()) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value.get<double>());
    return text;
  }
  EXPECT_TRUE(value.is_number_integer()) << value;
  return value.is_number_integer() ? std::to_string(value.get<long>()) : "";
}

// The JSON report's statistics of site 1: per day an object with its
// date, the figures the logs carried, the time taken in one object and the
// top lists.
Expected FromJson(const std::string& text) {
  Expected shown;
  const nlohmann::json report = nlohmann::json::parse(text);
  for (const nlohmann::json& site : report.at("sites")) {
    if (site.at("identifier") != "1" || !site.contains("statistics")) continue;
    for (const nlohmann::json& day : site.at("statistics")) {
      const std::string date = day.at("date");
      Figures& figures = shown.figures[date];
      for (const auto& [key, value] : day.items()) {
        if (key == "date") continue;
        if (key == "time_taken_ms") {
          EXPECT_EQ(value.size(), 4u) << value;
          for (const auto& [percentile, ms] : value.items()) {
            figures[percentile] = JsonFigure(ms, percentile == "mean");
          }
        } else if (key.starts_with("top_")) {
          const char* name = key == "top_time_taken" ? "ms" : "hits";
          for (const nlohmann::json& url : value) {
            EXPECT_EQ(url.size(), 2u) << url;
            shown.tops[date][key].emplace_back(url.at("url"), url.at(name));
          }
        } else {
          figures[key] = JsonFigure(value, false);
        }
      }
    }
  }
  return shown;
}

// `page` in the frame of a page whose script reads, once it is drawn,
// the statistics tables as the browser shows them (a hidden table is
// left out) and writes them as JSON into <pre id="read">.
std::string DomReadingPage(const std::string& page) {
  std::string srcdoc;
  for (char c : page) {
    srcdoc += c == '&' ? "&amp;" : c == '"' ? "&quot;" : std::string(1, c);
  }
  return "<!DOCTYPE html><html><body><iframe id=\"page\" "
         "style=\"width:1280px;height:3000px\" srcdoc=\"" +
         srcdoc + "\"></iframe>" + R"(<script>
addEventListener('load', () => {
  const doc = document.getElementById('page').contentDocument;
  const text = c => c.innerText.trim();
  const out = [...doc.querySelectorAll('table.statistics')]
      .filter(t => t.getBoundingClientRect().height > 0)
      .map(t => ({top: t.classList.contains('top'),
                  head: [...t.tHead.rows[0].cells].map(text),
                  rows: [...t.tBodies[0].rows].map(r => [...r.cells].map(
                      c => c.title ? c.title : text(c)))}));
  const pre = document.createElement('pre');
  pre.id = 'read';
  pre.textContent = JSON.stringify(out);
  document.body.appendChild(pre);
});
</script></body></html>)";
}

// The statistics tables read from the DOM, as the other formats' readers
// give them; the top URLs whole, from their hover titles.
Expected FromDom(const nlohmann::json& tables) {
  Expected shown;
  for (const nlohmann::json& table : tables) {
    const std::vector<std::string> head = table.at("head");
    for (const std::vector<std::string> row : table.at("rows")) {
      if (!table.at("top")) {
        AddRow(head, row, shown.figures);
        continue;
      }
      EXPECT_EQ(row.size(), 4u);
      shown.tops[row[0]][kListLabels.at(row[1])].emplace_back(
          row[3], std::stol(row[2]));
    }
  }
  return shown;
}

class CollectStatisticsTest : public ::testing::Test {
 protected:
  VelnorRun Velnor(const std::vector<std::string>& args,
                   const std::string& now) {
    ::setenv("VELNOR_TEST_NOW", now.c_str(), 1);
    return RunVelnor(args, dir_.path());
  }
  void TearDown() override { ::unsetenv("VELNOR_TEST_NOW"); }

  VelnorRun Collect(std::vector<std::string> more, const std::string& now) {
    std::vector<std::string> args =
        Words("collect --server SRV1 --no-tui --db-dir " + db_.string() +
              " --share-root " + (dir_.path() / "shares").string());
    if (!fs::exists(db_)) {
      fs::create_directories(db_);
      args.emplace_back("--create-db");
    }
    args.insert(args.end(), more.begin(), more.end());
    return Velnor(args, now);
  }

  // Every format of the report shows `expected`, neither more nor less.
  void ExpectEveryFormatShows(const Expected& expected, bool ftp = false) {
    for (const char* format : {"csv", "text", "html", "json"}) {
      std::vector<std::string> args = {"report",   "--db-dir", db_.string(),
                                       "--server", "SRV1",     "--format",
                                       format};
      if (ftp) args.emplace_back("--ftp");
      VelnorRun report = Velnor(args, "2030-01-01T00:00:00Z");
      ASSERT_EQ(report.status, 0) << report.err;
      const std::string f = format;
      const Expected shown = f == "csv"    ? FromCsv(report.out)
                             : f == "text" ? FromText(report.out)
                             : f == "json" ? FromJson(report.out)
                                           : FromHtml(report.out);
      if (f == "json") {
        // A day a line, its date first, then the status classes.
        for (const auto& [day, figures] : expected.figures) {
          EXPECT_TRUE(Contains(report.out, "\n        {\"date\": \"" + day +
                                               "\", \"hits_1xx\": "))
              << day << report.out;
        }
      }
      EXPECT_EQ(shown.figures, expected.figures) << format;
      EXPECT_EQ(shown.tops, expected.tops) << format;
    }
  }

  // Headless Chromium shows the page's statistics tables with `expected`.
  void ExpectTheBrowserShows(const Expected& expected) {
    if (access("/usr/bin/chromium", X_OK) != 0) {
      VELNOR_SKIP_WITHOUT_TOOL("chromium is not installed (Debian package)");
    }
    VelnorRun page = Velnor({"report", "--db-dir", db_.string(), "--server",
                             "SRV1", "--format", "html"},
                            "2030-01-01T00:00:00Z");
    ASSERT_EQ(page.status, 0) << page.err;
    const fs::path reader = dir_.path() / "reader.html";
    WriteFile(reader, DomReadingPage(page.out));
    const fs::path log = dir_.path() / "chromium.log";
    ProgramRun chromium = Shell(
        "/usr/bin/chromium --headless --no-sandbox --disable-gpu "
        "--disable-quic --no-first-run --disable-background-networking "
        "--disable-component-update --disable-sync --user-data-dir=" +
        (dir_.path() / "profile").string() +
        " --window-size=1400,1000 --virtual-time-budget=5000 --dump-dom "
        "file://" +
        reader.string() + " 2>" + log.string());
    ASSERT_EQ(chromium.status, 0) << ReadFile(log);
    const size_t start = chromium.out.find("<pre id=\"read\">");
    ASSERT_NE(start, std::string::npos) << ReadFile(log);
    std::string json = chromium.out.substr(
        start + 15, chromium.out.find("</pre>", start) - start - 15);
    for (auto [entity, plain] : {std::pair{"&quot;", "\""},
                                 {"&lt;", "<"},
                                 {"&gt;", ">"},
                                 {"&amp;", "&"}}) {
      for (size_t at; (at = json.find(entity)) != std::string::npos;) {
        json.replace(at, std::string(entity).size(), plain);
      }
    }
    const Expected shown = FromDom(nlohmann::json::parse(json));
    EXPECT_EQ(shown.figures, expected.figures) << "browser";
    EXPECT_EQ(shown.tops, expected.tops) << "browser";
  }

  TempDir dir_{"collect_statistics"};
  fs::path shares_ = dir_.path() / "shares/SRV1/D$/Logs";
  fs::path db_ = dir_.path() / "db";
};

// A web log of `count` records on `day` with every field the statistics
// read, from `seed` on: addresses, pages, statuses and times drawn from
// small pools so that they repeat; `bytes` false drops sc-bytes and
// cs-bytes from the layout.
std::string WebRecords(const std::string& day, int count, unsigned seed,
                       bool bytes, bool header = true) {
  static const int kStatuses[] = {200, 200, 200, 304, 404, 500,
                                  200, 301, 503, 101, 200, 404};
  std::string text;
  if (header) {
    text += "#Software: Microsoft Internet Information Services 10.0\r\n";
    text += std::string("#Fields: date time s-ip cs-method cs-uri-stem ") +
            "cs-uri-query s-port cs-username c-ip cs(User-Agent) sc-status " +
            "sc-substatus sc-win32-status " +
            (bytes ? "sc-bytes cs-bytes " : "") + "time-taken\r\n";
  }
  unsigned x = seed;
  auto next = [&x](unsigned n) {
    x = x * 1103515245u + 12345u;
    return (x >> 16) % n;
  };
  for (int i = 0; i < count; ++i) {
    const int second = (i * 37) % 86400;
    char time[16];
    std::snprintf(time, sizeof time, "%02d:%02d:%02d", second / 3600,
                  second / 60 % 60, second % 60);
    text += day + " " + time + " 10.0.0.5 GET /page" +
            std::to_string(next(23)) + ".htm - 80 - 192.168." +
            std::to_string(next(3)) + "." + std::to_string(next(40)) +
            " Mozilla/5.0 " + std::to_string(kStatuses[next(12)]) + " 0 0 ";
    if (bytes) {
      text += std::to_string(next(90000)) + " " +
              (next(10) == 0 ? "-" : std::to_string(200 + next(900))) + " ";
    }
    // A skewed spread with a long tail, and now and then no time.
    const unsigned t = next(100);
    text += (t == 0 ? "-" : std::to_string(t < 90 ? next(200) : next(9000))) +
            "\r\n";
  }
  return text;
}

TEST_F(CollectStatisticsTest, AMonthEndWithAndWithoutBytesInEveryFormat) {
  std::vector<std::string> logs = {
      WebRecords("2024-01-30", 300, 1, true),
      // IIS restarted with fewer fields: the day's bytes cover part of it.
      WebRecords("2024-01-31", 250, 2, true) +
          WebRecords("2024-01-31", 150, 3, false),
      WebRecords("2024-02-01", 200, 4, false),  // no bytes at all
  };
  WriteFile(shares_ / "W3SVC1/u_ex240130.log", logs[0]);
  WriteFile(shares_ / "W3SVC1/u_ex240131.log", logs[1]);
  WriteFile(shares_ / "W3SVC1/u_ex240201.log", logs[2]);
  VelnorRun run = Collect({"--site", "Site,D:\\Logs,1", "--from", "2024-01-30",
                           "--to", "2024-02-01"},
                          "2024-02-05T08:00:00Z");
  ASSERT_EQ(run.status, 0) << run.err;
  const Expected expected = FromLogs(logs, "2024-01-30", "2024-02-01", false);
  ASSERT_EQ(expected.figures.size(), 3u);
  EXPECT_FALSE(expected.figures.at("2024-02-01").contains("bytes_sent"));
  EXPECT_TRUE(expected.figures.at("2024-01-31").contains("bytes_sent"));
  ExpectEveryFormatShows(expected);
  ExpectTheBrowserShows(expected);

  // The same run with --no-statistics keeps the counts only.
  fs::remove_all(db_);
  VelnorRun counts_only =
      Collect({"--site", "Site,D:\\Logs,1", "--from", "2024-01-30", "--to",
               "2024-02-01", "--no-statistics"},
              "2024-02-05T08:00:00Z");
  ASSERT_EQ(counts_only.status, 0) << counts_only.err;
  EXPECT_FALSE(fs::exists(db_ / "velnor_statistics_SRV1_web.sqlite"));
  ExpectEveryFormatShows({});
}

TEST_F(CollectStatisticsTest, ADayCollectedInPartThenFinishedIsExactOnce) {
  const std::string kDay = "2024-06-11";
  const std::string morning = WebRecords(kDay, 180, 7, true);
  WriteFile(shares_ / "W3SVC1/u_ex240611.log", morning);
  const std::vector<std::string> site = {"--site", "Site,D:\\Logs,1"};
  auto with = [&](std::vector<std::string> more) {
    more.insert(more.begin(), site.begin(), site.end());
    return more;
  };
  VelnorRun first =
      Collect(with({"--from", kDay, "--to", kDay, "--partial-day"}),
              "2024-06-11T10:00:00Z");
  ASSERT_EQ(first.status, 0) << first.err;
  ExpectEveryFormatShows(FromLogs({morning}, kDay, kDay, false));

  // The rest of the day, with the same addresses and times drawn again:
  // the visitors and percentiles are those of the whole day, not sums.
  const std::string rest = WebRecords(kDay, 220, 8, true, false);
  WriteFile(shares_ / "W3SVC1/u_ex240611.log", morning + rest);
  VelnorRun night = Collect(with({"--since-last"}), "2024-06-12T02:30:00Z");
  ASSERT_EQ(night.status, 0) << night.err;
  EXPECT_TRUE(Contains(night.err, "220 records")) << night.err;
  const Expected whole = FromLogs({morning + rest}, kDay, kDay, false);
  ExpectEveryFormatShows(whole);

  // Counted whole: a repeat is refused and changes nothing.
  const fs::path statistics = db_ / "velnor_statistics_SRV1_web.sqlite";
  const std::string before = ReadFile(statistics);
  VelnorRun again =
      Collect(with({"--from", kDay, "--to", kDay}), "2024-06-12T03:00:00Z");
  EXPECT_EQ(again.status, 2) << again.err;
  EXPECT_EQ(ReadFile(statistics), before);
  ExpectEveryFormatShows(whole);
}

TEST_F(CollectStatisticsTest,
       TheEarlierDesignOfPerItemRowsReadsAlikeAndUpgrades) {
  // IPv4, IPv6 and host names among the addresses; URLs with a
  // character of base64's alphabet and bytes beyond ASCII.
  auto mixed = [](std::string text) {
    text = std::regex_replace(text, std::regex(" 192\\.168\\.1\\."),
                              " 2001:db8::");
    text = std::regex_replace(text, std::regex("/page1"), "/caf\xc3\xa9+1");
    return std::regex_replace(text, std::regex(" 192\\.168\\.2\\."), " host-");
  };
  const std::string kDay = "2024-06-11";
  const std::string morning = mixed(WebRecords(kDay, 180, 7, true));
  const std::string rest = mixed(WebRecords(kDay, 220, 8, true, false));
  ASSERT_TRUE(Contains(morning, " 2001:db8::") && Contains(morning, " host-") &&
              Contains(morning, "/caf\xc3\xa9+1"));
  const std::string header = morning.substr(0, morning.find("\r\n" + kDay) + 2);
  const fs::path statistics = db_ / "velnor_statistics_SRV1_web.sqlite";
  // Puts the visitors, times taken and URLs back in the earlier design: a
  // row per client, ms value or URL of the day and run, the runs in the
  // order of `parts` (each with its #Fields).
  auto earlier = [&](const std::vector<std::string>& parts) {
    EarlierStatisticsSql sql;
    for (size_t run = 0; run < parts.size(); ++run) {
      const std::string which =
          "ORDER BY run_id LIMIT 1 OFFSET " + std::to_string(run);
      const LogDay day = LogDays({parts[run]}, kDay, kDay, false).at(kDay);
      for (const std::string& client : day.clients) {
        sql.AddVisitor(which, client);
      }
      std::map<long, long> times;
      for (long ms : day.times) ++times[ms];
      for (const auto& [ms, hits] : times) sql.AddTimeTaken(which, ms, hits);
      for (const auto& [url, figures] : day.urls) {
        if (figures != std::array<long, 3>{}) sql.AddUrl(which, url, figures);
      }
    }
    testing::ExecSql(statistics, sql.sql());
  };
  // Each table of this design holds one row per run.
  auto expect_packed_rows = [&](const char* rows) {
    for (const char* sql :
         {"SELECT count(*) FROM day_visitors WHERE clients IS NOT NULL",
          "SELECT count(*) FROM day_time_taken WHERE histogram IS NOT NULL",
          "SELECT count(*) FROM day_urls WHERE urls IS NOT NULL"}) {
      EXPECT_EQ(testing::QueryRows(statistics, sql), testing::Rows{{rows}})
          << sql;
    }
  };
  const std::vector<std::string> site = {"--site", "Site,D:\\Logs,1"};
  WriteFile(shares_ / "W3SVC1/u_ex240611.log", morning);
  VelnorRun first =
      Collect({site[0], site[1], "--from", kDay, "--to", kDay, "--partial-day"},
              "2024-06-11T10:00:00Z");
  ASSERT_EQ(first.status, 0) << first.err;
  const Expected part = FromLogs({morning}, kDay, kDay, false);
  ExpectEveryFormatShows(part);
  earlier({morning});
  ExpectEveryFormatShows(part);

  // A run into it converts it in its commit.
  WriteFile(shares_ / "W3SVC1/u_ex240611.log", morning + rest);
  VelnorRun night =
      Collect({site[0], site[1], "--since-last"}, "2024-06-12T02:30:00Z");
  ASSERT_EQ(night.status, 0) << night.err;
  const Expected whole = FromLogs({morning + rest}, kDay, kDay, false);
  ExpectEveryFormatShows(whole);
  expect_packed_rows("2");

  // init-db converts it, once.
  earlier({morning, header + rest});
  ExpectEveryFormatShows(whole);
  const std::vector<std::string> init = {"init-db", "--db-dir", db_.string(),
                                         "--server", "SRV1"};
  VelnorRun upgrade = Velnor(init, "2024-06-12T03:00:00Z");
  ASSERT_EQ(upgrade.status, 0) << upgrade.err;
  EXPECT_TRUE(Contains(upgrade.out, "upgraded " + statistics.string()))
      << upgrade.out;
  expect_packed_rows("2");
  ExpectEveryFormatShows(whole);
  VelnorRun again = Velnor(init, "2024-06-12T03:00:00Z");
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_TRUE(Contains(again.out, "left " + statistics.string())) << again.out;
}

TEST_F(CollectStatisticsTest, FtpLogsShowSessionsAndBytesWhereTheyAreLogged) {
  // A real IIS 4 FTP log: time only, the day from #Date, sessions in the
  // commands' "[n]".
  const std::string log =
      ReadFile(fs::path(VELNOR_SOURCE_DIR) /
               "platform/iislog/testdata/ftp-iis4-msftpsvc-time-only.log");
  WriteFile(shares_ / "MSFTPSVC1/ex001009.log", log);
  VelnorRun run = Collect({"--ftp", "--site", "FTP,D:\\Logs,1", "--from",
                           "2000-10-09", "--to", "2000-10-10"},
                          "2000-10-12T08:00:00Z");
  ASSERT_EQ(run.status, 0) << run.err;
  const Expected expected = FromLogs({log}, "2000-10-09", "2000-10-10", true);
  ASSERT_EQ(expected.figures.size(), 2u);
  EXPECT_EQ(expected.figures.at("2000-10-09").at("sessions"), "2");
  EXPECT_FALSE(expected.figures.at("2000-10-09").contains("bytes_sent"));
  ExpectEveryFormatShows(expected, true);

  // A later FTP log that carries its sessions (x-session), bytes and time
  // taken: the day shows them beside the old days that do not.
  std::string modern =
      "#Software: Microsoft Internet Information Services 10.0\r\n"
      "#Fields: date time c-ip c-port cs-username s-ip s-port cs-method "
      "cs-uri-stem sc-status sc-win32-status sc-substatus x-session "
      "x-fullpath sc-bytes cs-bytes time-taken\r\n";
  unsigned x = 5;
  for (int i = 0; i < 120; ++i) {
    x = x * 1103515245u + 12345u;
    const unsigned r = x >> 16;
    // Appended, not "{" + ...: GCC 12 warns falsely (-Wrestrict) of a
    // literal + a temporary in optimised builds.
    const std::string session =
        std::string("{").append(std::to_string(r % 7)).append("a1b2c3}");
    const int status = r % 5 == 0 ? 550 : r % 11 == 0 ? 451 : 226;
    modern +=
        "2024-06-04 1" + std::to_string(r % 10) + ":00:0" +
        std::to_string(r % 10) + " 192.168.7." + std::to_string(r % 4) +
        " 5100" + std::to_string(r % 9) + " - 10.0.0.5 21 RETR /pub/file" +
        std::to_string(r % 13) + ".zip " + std::to_string(status) + " 0 0 " +
        session + " /pub/file.zip " + std::to_string(r % 70000) + " " +
        std::to_string(40 + r % 60) + " " + std::to_string(r % 3000) + "\r\n";
  }
  WriteFile(shares_ / "MSFTPSVC1/u_ex240604.log", modern);
  VelnorRun later = Collect({"--ftp", "--site", "FTP,D:\\Logs,1", "--from",
                             "2024-06-04", "--to", "2024-06-04"},
                            "2024-06-05T08:00:00Z");
  ASSERT_EQ(later.status, 0) << later.err;
  Expected both = FromLogs({log, modern}, "2000-10-09", "2024-06-04", true);
  ASSERT_EQ(both.figures.size(), 3u);
  for (const char* key : {"sessions", "bytes_sent", "bytes_received", "p99"}) {
    EXPECT_TRUE(both.figures.at("2024-06-04").contains(key)) << key;
  }
  EXPECT_EQ(both.figures.at("2024-06-04").at("sessions"), "7");
  ExpectEveryFormatShows(both, true);
}

}  // namespace
}  // namespace velnor::host
