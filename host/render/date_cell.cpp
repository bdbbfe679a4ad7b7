// Date cells: parsed with the same reading the grid's text was written
// with, so every text the run writes round-trips.
#include "host/render/date_cell.h"

#include <fmt/format.h>

#include "platform/automation/ole_date.h"

namespace velnor::host {

bool ParseTimeFormat(const std::string& text, TimeFormat& format) {
  if (text == "grid") {
    format = TimeFormat::kGrid;
  } else if (text == "iso") {
    format = TimeFormat::kIso;
  } else {
    return false;
  }
  return true;
}

std::string FormatDateCell(std::string_view text, TimeFormat format) {
  if (format == TimeFormat::kGrid) return std::string(text);
  std::optional<double> date = automation::ParseDateText(text);
  if (!date) return std::string(text);
  automation::DateParts p = automation::PartsOf(*date);
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}Z", p.year, p.month,
                     p.day, p.hour, p.minute, p.second);
}

}  // namespace velnor::host
