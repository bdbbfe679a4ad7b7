// The clock. An OLE date counts days from 30 December 1899, 25569 days
// before 1 January 1970.
#include "host/collect/collect_clock.h"

#include <cstdio>
#include <cstdlib>

namespace velnor::host {
namespace {

constexpr long kOleDayOf1970 = 25569;
constexpr long kSecondsPerDay = 24L * 60 * 60;

// "2024-06-12T02:30:01Z" as seconds since 1970, or -1.
std::time_t ParseUtcStamp(const char* text) {
  std::tm parts{};
  char zone = 0;
  int read = 0;
  if (std::sscanf(text, "%4d-%2d-%2dT%2d:%2d:%2d%c%n", &parts.tm_year,
                  &parts.tm_mon, &parts.tm_mday, &parts.tm_hour, &parts.tm_min,
                  &parts.tm_sec, &zone, &read) != 7 ||
      zone != 'Z' || text[read] != '\0') {
    return -1;
  }
  parts.tm_year -= 1900;
  parts.tm_mon -= 1;
  return ::timegm(&parts);
}

}  // namespace

std::time_t CollectNow() {
  if (const char* hook = std::getenv("VELNOR_TEST_NOW")) {
    std::time_t now = ParseUtcStamp(hook);
    if (now >= 0) return now;
  }
  return std::time(nullptr);
}

ledger::Day LogDayOf(std::time_t now) {
  return static_cast<ledger::Day>(now / kSecondsPerDay + kOleDayOf1970);
}

std::string UtcStamp(std::time_t time) {
  std::tm parts{};
  gmtime_r(&time, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

}  // namespace velnor::host
