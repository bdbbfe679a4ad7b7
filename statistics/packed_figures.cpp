// The packed texts of a day's URL figures and time-taken histogram.
#include "statistics/packed_figures.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <vector>

#include "absl/strings/escaping.h"
#include "statistics/varint.h"

namespace velnor::statistics {
namespace {

constexpr char kVersion = 1;

std::string Encode(const std::string& bytes) {
  return absl::Base64Escape(absl::string_view(bytes.data(), bytes.size()));
}

// The bytes of `packed` past its version, or nothing when it is not
// base64 of this version's form.
std::optional<std::string> Decode(std::string_view packed) {
  std::string bytes;
  if (!absl::Base64Unescape(absl::string_view(packed.data(), packed.size()),
                            &bytes) ||
      bytes.empty() || bytes[0] != kVersion) {
    return std::nullopt;
  }
  return bytes;
}

// A figure, never negative: the varint of its value.
void PutFigure(std::string& out, int64_t value) {
  PutVarint(out, static_cast<uint64_t>(value));
}

std::optional<int64_t> GetFigure(std::string_view in, size_t& pos) {
  const std::optional<uint64_t> value = GetVarint<uint64_t>(in, pos);
  if (!value || *value > std::numeric_limits<int64_t>::max()) {
    return std::nullopt;
  }
  return static_cast<int64_t>(*value);
}

}  // namespace

std::string PackSortedUrls(const std::vector<UrlEntry>& urls) {
  std::string bytes(1, kVersion);
  PutVarint(bytes, urls.size());
  std::string_view before;
  for (const UrlEntry& entry : urls) {
    const std::string_view url = entry.url;
    const auto shared = static_cast<size_t>(
        std::mismatch(url.begin(), url.end(), before.begin(), before.end())
            .first -
        url.begin());
    PutVarint(bytes, shared);
    PutVarint(bytes, url.size() - shared);
    bytes.append(url.substr(shared));
    PutFigure(bytes, entry.figures->not_found);
    PutFigure(bytes, entry.figures->server_errors);
    PutFigure(bytes, entry.figures->time_taken_ms);
    before = url;
  }
  return Encode(bytes);
}

std::string PackUrls(const UrlMap& urls) {
  std::vector<UrlEntry> sorted;
  sorted.reserve(urls.size());
  for (const auto& [url, figures] : urls) sorted.push_back({url, &figures});
  std::sort(sorted.begin(), sorted.end(),
            [](const UrlEntry& a, const UrlEntry& b) { return a.url < b.url; });
  return PackSortedUrls(sorted);
}

bool MergePackedUrls(std::string_view packed, UrlMap& urls) {
  const std::optional<std::string> bytes = Decode(packed);
  if (!bytes) return false;
  size_t pos = 1;
  const std::optional<uint64_t> count = GetVarint<uint64_t>(*bytes, pos);
  if (!count) return false;
  std::string url;
  for (uint64_t i = 0; i < *count; ++i) {
    const std::optional<uint64_t> shared = GetVarint<uint64_t>(*bytes, pos);
    const std::optional<uint64_t> rest = GetVarint<uint64_t>(*bytes, pos);
    if (!shared || !rest || *shared > url.size() ||
        *rest > bytes->size() - pos) {
      return false;
    }
    std::string next = url.substr(0, *shared);
    next.append(*bytes, pos, *rest);
    pos += *rest;
    // In strictly rising order, so that no URL is listed twice.
    if (i > 0 && !(url < next)) return false;
    url = std::move(next);
    std::optional<int64_t> figures[3];
    for (auto& figure : figures) figure = GetFigure(*bytes, pos);
    if (!figures[0] || !figures[1] || !figures[2]) return false;
    UrlFigures& into = urls[url];
    into.not_found += *figures[0];
    into.server_errors += *figures[1];
    into.time_taken_ms += *figures[2];
  }
  return pos == bytes->size();
}

std::string PackTimes(const TimeHistogram& histogram) {
  std::string values;
  uint64_t count = 0;
  int64_t before = 0;
  histogram.ForEach([&](int64_t ms, int64_t hits) {
    PutFigure(values, ms - before);
    PutFigure(values, hits);
    before = ms;
    ++count;
  });
  std::string bytes(1, kVersion);
  PutVarint(bytes, count);
  return Encode(bytes + values);
}

bool MergePackedTimes(std::string_view packed,
                      std::map<int64_t, int64_t>& histogram) {
  const std::optional<std::string> bytes = Decode(packed);
  if (!bytes) return false;
  size_t pos = 1;
  const std::optional<uint64_t> count = GetVarint<uint64_t>(*bytes, pos);
  if (!count) return false;
  int64_t ms = 0;
  for (uint64_t i = 0; i < *count; ++i) {
    const std::optional<int64_t> step = GetFigure(*bytes, pos);
    const std::optional<int64_t> hits = GetFigure(*bytes, pos);
    if (!step || !hits || (i > 0 && *step == 0) ||
        *step > std::numeric_limits<int64_t>::max() - ms) {
      return false;
    }
    ms += *step;
    histogram[ms] += *hits;
  }
  return pos == bytes->size();
}

}  // namespace velnor::statistics
