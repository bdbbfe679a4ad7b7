// The bar charts (SVG) of a report page and the markup pieces the page
// shares with them. Every function returns markup whose texts are escaped;
// none fails.
#ifndef VELNOR_HOST_RENDER_HTML_CHARTS_H_
#define VELNOR_HOST_RENDER_HTML_CHARTS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "host/render/report_days.h"
#include "reportdb/report_reader.h"

namespace velnor::host::html {

// `raw` as clean UTF-8 (control characters and invalid sequences replaced)
// with the characters HTML gives a meaning escaped: & < > " '.
std::string Escape(std::string_view raw);

// 1234567 as "1,234,567".
std::string Grouped(int64_t value);

// The first `n` characters (not bytes) of clean UTF-8 text.
std::string FirstChars(const std::string& clean, size_t n);

// A <figure> of `chart` (markup) under `caption` (markup).
std::string Figure(std::string_view caption, const std::string& chart);

// A small column chart of weekday or month buckets, each labelled by its
// name's first three characters, half a desktop page wide.
std::string BucketChart(const std::vector<reportdb::Bucket>& buckets,
                        std::string_view x_title);

// The hits of each hour of the day.
std::string HourChart(const reportdb::SiteReport& site);

// The hits of each status code of `site`, or a note that there are none.
std::string StatusChart(const reportdb::SiteReport& site, bool is_ftp);

// The hits of each of `entries` (URLs, paths or commands) under `title`,
// or `none` (markup) when there are none.
std::string EntryChart(const std::vector<reportdb::UrlCount>& entries,
                       std::string_view title, std::string_view none);

// The figure of the ledger's daily series of `site` within `limit`: a bar
// per day, or per week for a series over a quarter long; a note instead
// when the report has no ledger or the ledger no days.
std::string DaysFigure(const reportdb::Report& report,
                       const reportdb::SiteReport& site, const DayLimit& limit);

}  // namespace velnor::host::html

#endif  // VELNOR_HOST_RENDER_HTML_CHARTS_H_
