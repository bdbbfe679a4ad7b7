// A day's URL figures and time-taken histogram packed each into one text,
// so that a run stores one row per site and day for either instead of one
// per URL or per value: fewer rows to write, and a text any engine's
// column holds (PostgreSQL text holds no NUL byte).
//
// A packed text is base64 over bytes that open with the form's version (1)
// and then hold unsigned LEB128 varints (varint.h):
//
// URLs       the count, then each URL in byte order: how many leading bytes
//            it shares with the URL before (0 for the first), the length and
//            bytes of the rest, then its 404s, its 5xx and its time taken
//            in ms. A URL's bytes are kept exactly, whatever they are.
// histogram  the count, then each value smallest first: its ms as the
//            difference from the value before (the first from zero), then
//            its hits.
//
// A reader refuses (false) a text of another version or that does not
// decode to exactly such a list, rather than read figures that may be
// wrong.
#ifndef VELNOR_STATISTICS_PACKED_FIGURES_H_
#define VELNOR_STATISTICS_PACKED_FIGURES_H_

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "statistics/day_statistics.h"

namespace velnor::statistics {

// One URL's figures, as packed.
struct UrlEntry {
  std::string_view url;
  const UrlFigures* figures;
};
// `urls`, in rising byte order of their URLs with none twice, as one text.
std::string PackSortedUrls(const std::vector<UrlEntry>& urls);
// `urls` as one text, the same whatever order the map holds them in.
std::string PackUrls(const UrlMap& urls);
// Adds the figures of each URL of `packed`, a text PackUrls made, to those
// `urls` holds. False, with some of them added, when `packed` is not such
// a text.
bool MergePackedUrls(std::string_view packed, UrlMap& urls);

// `histogram` as one text.
std::string PackTimes(const TimeHistogram& histogram);
// Adds the hits of each value of `packed`, a text PackTimes made, to
// `histogram` (ms to hits). False, with some of them added, when `packed`
// is not such a text.
bool MergePackedTimes(std::string_view packed,
                      std::map<int64_t, int64_t>& histogram);

}  // namespace velnor::statistics

#endif  // VELNOR_STATISTICS_PACKED_FIGURES_H_
