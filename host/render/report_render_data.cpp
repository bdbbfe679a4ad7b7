// The machine-readable shapes of a report: CSV and JSON.
#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "host/render/report_days.h"
#include "host/render/report_render.h"
#include "host/render/report_statistics.h"
#include "host/render/runs_table.h"
#include "host/render/text_format.h"

namespace velnor::host {

using reportdb::Bucket;
using reportdb::Report;
using reportdb::SiteReport;
using reportdb::StatusCount;
using reportdb::UrlCount;
namespace {

class CsvWriter {
 public:
  explicit CsvWriter(std::string* out) : out_(out) {
    *out_ += "Identifier,Site Name,Section,Key,Label,Hits\r\n";
  }
  void Row(const SiteReport& site, std::string_view section,
           std::string_view key, std::string_view label, int64_t hits) {
    Row(site, section, key, label, std::to_string(hits));
  }
  void Row(const SiteReport& site, std::string_view section,
           std::string_view key, std::string_view label,
           std::string_view value) {
    *out_ += CsvField(site.identifier) + "," + CsvField(site.name) + "," +
             std::string(section) + "," + std::string(key) + "," +
             CsvField(label) + "," + std::string(value) + "\r\n";
  }

 private:
  std::string* out_;
};

// Writes `items` as a JSON array, one item per line at `indent`.
template <class Items, class ItemToJson>
void JsonList(std::string& out, const Items& items, std::string_view indent,
              ItemToJson to_json) {
  if (items.empty()) {
    out += "[]";
    return;
  }
  out += "[\n";
  for (size_t i = 0; i < items.size(); ++i) {
    out += std::string(indent) + "  " + to_json(items[i]);
    out += i + 1 < items.size() ? ",\n" : "\n";
  }
  out += std::string(indent) + "]";
}

template <class Numbers>
std::string JsonNumbers(const Numbers& numbers) {
  std::string out = "[";
  for (size_t i = 0; i < numbers.size(); ++i) {
    if (i > 0) out += ", ";
    out += std::to_string(numbers[i]);
  }
  return out + "]";
}

std::string BucketJson(const Bucket& bucket) {
  return "{\"number\": " + std::to_string(bucket.sort) +
         ", \"name\": " + JsonString(bucket.label) +
         ", \"hits\": " + std::to_string(bucket.hits) + "}";
}

std::string UrlJson(const UrlCount& url) {
  return "{\"url\": " + JsonString(url.url) +
         ", \"hits\": " + std::to_string(url.hits) + "}";
}

std::string DayJson(const reportdb::DayCount& day) {
  return "{\"day\": " + JsonString(ledger::DayText(day.day)) +
         ", \"weekday\": " + JsonString(WeekdayName(day.day)) +
         ", \"weekend\": " + (IsWeekend(day.day) ? "true" : "false") +
         ", \"complete\": " + (day.complete ? "true" : "false") +
         ", \"hits\": " + std::to_string(day.hits) +
         ", \"hits_2xx\": " + std::to_string(day.hits_by_class[0]) +
         ", \"hits_3xx\": " + std::to_string(day.hits_by_class[1]) +
         ", \"hits_4xx\": " + std::to_string(day.hits_by_class[2]) +
         ", \"hits_5xx\": " + std::to_string(day.hits_by_class[3]) + "}";
}

void SiteJson(std::string& out, const SiteReport& site, bool is_ftp,
              const DayLimit& days) {
  const char* kIndent = "      ";
  out += "    {\n";
  out += std::string(kIndent) +
         "\"identifier\": " + JsonString(site.identifier) + ",\n";
  out += std::string(kIndent) + "\"name\": " + JsonString(site.name) + ",\n";
  out += std::string(kIndent) + "\"weekdays\": ";
  JsonList(out, site.weekdays, kIndent, BucketJson);
  out += ",\n" + std::string(kIndent) + "\"months\": ";
  JsonList(out, site.months, kIndent, BucketJson);
  out += ",\n" + std::string(kIndent) +
         "\"hours\": " + JsonNumbers(site.hours) + ",\n";
  out += std::string(kIndent) + "\"statuses\": ";
  JsonList(out, site.statuses, kIndent, [](const StatusCount& status) {
    return "{\"code\": " + std::to_string(status.code) +
           ", \"label\": " + JsonString(status.label) +
           ", \"sort\": " + std::to_string(status.sort) +
           ", \"hits\": " + std::to_string(status.hits) + "}";
  });
  out += ",\n" + std::string(kIndent) + "\"top_urls\": ";
  JsonList(out, site.top_urls, kIndent, UrlJson);
  if (is_ftp) {
    out += ",\n" + std::string(kIndent) + "\"commands_without_path\": ";
    JsonList(out, site.commands_without_path, kIndent, UrlJson);
  }
  out += ",\n" + std::string(kIndent) + "\"runs\": " + JsonNumbers(site.runs) +
         ",\n";
  out += std::string(kIndent) +
         "\"runs_total\": " + std::to_string(site.runs_total) + ",\n";
  out += std::string(kIndent) + "\"days\": ";
  JsonList(out, ShownDays(site, days), kIndent, DayJson);
  out += "\n    }";
}

}  // namespace

std::string RenderCsv(const Report& report, const DayLimit& days) {
  std::string out;
  CsvWriter csv(&out);
  for (const SiteReport& site : report.sites) {
    for (const Bucket& day : site.weekdays) {
      csv.Row(site, "weekday", std::to_string(day.sort), day.label, day.hits);
    }
    for (const Bucket& month : site.months) {
      csv.Row(site, "month", std::to_string(month.sort), month.label,
              month.hits);
    }
    for (size_t hour = 0; hour < site.hours.size(); ++hour) {
      csv.Row(site, "hour", std::to_string(hour), "", site.hours[hour]);
    }
    for (const StatusCount& status : site.statuses) {
      csv.Row(site, "status", std::to_string(status.code), status.label,
              status.hits);
    }
    for (size_t i = 0; i < site.top_urls.size(); ++i) {
      csv.Row(site, "url", std::to_string(i + 1), site.top_urls[i].url,
              site.top_urls[i].hits);
    }
    const std::vector<UrlCount>& commands = site.commands_without_path;
    for (size_t i = 0; i < commands.size(); ++i) {
      csv.Row(site, "command", std::to_string(i + 1), commands[i].url,
              commands[i].hits);
    }
    for (size_t i = 0; i < site.runs.size(); ++i) {
      csv.Row(site, "run", std::to_string(i + 1), "", site.runs[i]);
    }
    csv.Row(site, "runs-total", "", "", site.runs_total);
    for (const reportdb::DayCount& day : ShownDays(site, days)) {
      std::string label = WeekdayName(day.day);
      if (IsWeekend(day.day)) label += " (weekend)";
      if (!day.complete) label += " (in part)";
      csv.Row(site, "day", ledger::DayText(day.day), label, day.hits);
    }
    for (const statistics::DayFigures* day : ShownStatistics(site, days)) {
      const std::string key = ledger::DayText(day->day);
      for (const DayFigure& figure : FiguresOf(*day, report.is_ftp)) {
        if (figure.value)
          csv.Row(site, "statistic", key, figure.key, *figure.value);
      }
      for (const TopList& list : TopLists(*day)) {
        for (const statistics::UrlValue& url : *list.urls) {
          csv.Row(site, list.key, key, url.url, url.value);
        }
      }
    }
  }
  return out;
}

std::string RenderJson(const Report& report, const DayLimit& days) {
  std::string out =
      "{\n  \"server\": " + JsonString(report.server) +
      ",\n  \"service\": " + (report.is_ftp ? "\"ftp\"" : "\"web\"") +
      ",\n  \"sites\": ";
  if (report.sites.empty()) {
    out += "[]";
  } else {
    out += "[\n";
    for (size_t i = 0; i < report.sites.size(); ++i) {
      SiteJson(out, report.sites[i], report.is_ftp, days);
      out += i + 1 < report.sites.size() ? ",\n" : "\n";
    }
    out += "  ]";
  }
  out += ",\n  \"ledger\": ";
  if (!report.has_ledger) return out + "null\n}\n";
  out += "{\"runs\": ";
  JsonList(out, ShownRuns(report, days), "  ",
           [](const ledger::RunRow& run) { return RunJson(run, false); });
  return out + "}\n}\n";
}

}  // namespace velnor::host
