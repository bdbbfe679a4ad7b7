// The machine-readable shapes of a report (CSV and JSON) and the UTF-8
// cleaning every shape relies on.
#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "host/report_render.h"

namespace velnor::host {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// Length of the well-formed UTF-8 sequence at the start of `text`, or 0.
size_t SequenceLength(std::string_view text, char32_t* code_point) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char lead = byte(0);
  size_t length;
  char32_t value;
  char32_t minimum;
  if (lead < 0x80) {
    *code_point = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, value = lead & 0x1F, minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, value = lead & 0x0F, minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, value = lead & 0x07, minimum = 0x10000;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (byte(i) & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF ||
      (value >= 0xD800 && value <= 0xDFFF)) {
    return 0;
  }
  *code_point = value;
  return length;
}

bool IsControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

std::string CsvField(std::string_view raw) {
  std::string text = CleanUtf8(raw, false);
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

class CsvWriter {
 public:
  explicit CsvWriter(std::string* out) : out_(out) {
    *out_ += "Identifier,Site Name,Section,Key,Label,Hits\r\n";
  }
  void Row(const SiteReport& site, std::string_view section,
           std::string_view key, std::string_view label, int64_t hits) {
    *out_ += CsvField(site.identifier) + "," + CsvField(site.name) + "," +
             std::string(section) + "," + std::string(key) + "," +
             CsvField(label) + "," + std::to_string(hits) + "\r\n";
  }

 private:
  std::string* out_;
};

std::string JsonString(std::string_view raw) {
  std::string text = CleanUtf8(raw, false);
  std::string quoted = "\"";
  for (char c : text) {
    switch (c) {
      case '"':
        quoted += "\\\"";
        break;
      case '\\':
        quoted += "\\\\";
        break;
      case '\n':
        quoted += "\\n";
        break;
      case '\r':
        quoted += "\\r";
        break;
      case '\t':
        quoted += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x",
                        static_cast<unsigned>(c));
          quoted += escape;
        } else {
          quoted += c;
        }
    }
  }
  return quoted + "\"";
}

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

void SiteJson(std::string& out, const SiteReport& site) {
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
  JsonList(out, site.top_urls, kIndent, [](const UrlCount& url) {
    return "{\"url\": " + JsonString(url.url) +
           ", \"hits\": " + std::to_string(url.hits) + "}";
  });
  out += ",\n" + std::string(kIndent) + "\"runs\": " + JsonNumbers(site.runs) +
         ",\n";
  out += std::string(kIndent) +
         "\"runs_total\": " + std::to_string(site.runs_total) + "\n    }";
}

}  // namespace

std::string CleanUtf8(std::string_view text, bool replace_controls) {
  std::string clean;
  clean.reserve(text.size());
  while (!text.empty()) {
    char32_t code_point = 0;
    size_t length = SequenceLength(text, &code_point);
    if (length == 0) {
      clean += kReplacement;
      length = 1;
    } else if (replace_controls && IsControl(code_point)) {
      clean += kReplacement;
    } else {
      clean += text.substr(0, length);
    }
    text.remove_prefix(length);
  }
  return clean;
}

size_t CharCount(std::string_view text) {
  size_t count = 0;
  for (char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return count;
}

std::string CutText(std::string_view text, size_t max_chars) {
  max_chars = std::max<size_t>(max_chars, 1);
  std::string clean = CleanUtf8(text, true);
  if (CharCount(clean) <= max_chars) return clean;
  size_t kept = 0;
  size_t end = 0;
  for (; end < clean.size(); ++end) {
    bool starts_char = (static_cast<unsigned char>(clean[end]) & 0xC0) != 0x80;
    if (starts_char && kept++ == max_chars - 1) break;
  }
  return clean.substr(0, end) + "\u2026";
}

std::string RenderCsv(const Report& report) {
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
    for (size_t i = 0; i < site.runs.size(); ++i) {
      csv.Row(site, "run", std::to_string(i + 1), "", site.runs[i]);
    }
    csv.Row(site, "runs-total", "", "", site.runs_total);
  }
  return out;
}

std::string RenderJson(const Report& report) {
  std::string out =
      "{\n  \"server\": " + JsonString(report.server) +
      ",\n  \"service\": " + (report.is_ftp ? "\"ftp\"" : "\"web\"") +
      ",\n  \"sites\": ";
  if (report.sites.empty()) return out + "[]\n}\n";
  out += "[\n";
  for (size_t i = 0; i < report.sites.size(); ++i) {
    SiteJson(out, report.sites[i]);
    out += i + 1 < report.sites.size() ? ",\n" : "\n";
  }
  return out + "  ]\n}\n";
}

}  // namespace velnor::host
