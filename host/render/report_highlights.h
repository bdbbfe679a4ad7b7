// The busiest day of week and hour of a site, as the text report and the
// page state them. Several buckets may share the largest count; a report
// that named only one of them would state a preference the data does not
// have, so every tied bucket is named.
#ifndef VELNOR_HOST_RENDER_REPORT_HIGHLIGHTS_H_
#define VELNOR_HOST_RENDER_REPORT_HIGHLIGHTS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "reportdb/report_reader.h"

namespace velnor::host {

// The buckets with the largest count, in report order. `names` is empty
// when no bucket has a hit.
struct Busiest {
  std::vector<std::string> names;
  int64_t hits = 0;
  bool tie() const { return names.size() > 1; }
};

// Weekday names as stored ("Monday").
Busiest BusiestDays(const reportdb::SiteReport& site);
// Hours as "09:00", in the time of the log.
Busiest BusiestHours(const reportdb::SiteReport& site);

// "Monday", "Monday and Friday", "Monday, Tuesday and Friday"; past four
// names, the first three and "N more". "none" when `names` is empty.
std::string JoinNames(const std::vector<std::string>& names);

// A sentence for the text report: "Monday (180 hits)", "Monday, Tuesday
// and Wednesday (a tie, 180 hits each)", or "none (no hits)".
std::string DescribeBusiest(const Busiest& busiest);

// What the hours of a report are: the time written in the log, which W3C
// extended logs keep in UTC whatever the server's time zone.
inline constexpr const char* kLogTimeNote = "log time: UTC for W3C logs";

}  // namespace velnor::host

#endif  // VELNOR_HOST_RENDER_REPORT_HIGHLIGHTS_H_
