// The Date column of a raw listing in the form the user asked for: the
// grid's own text ("6/3/2024 1:10:45 AM"), or ISO 8601 for programs.
#ifndef VELNOR_HOST_RENDER_DATE_CELL_H_
#define VELNOR_HOST_RENDER_DATE_CELL_H_

#include <string>
#include <string_view>

namespace velnor::host {

enum class TimeFormat { kGrid, kIso };

// Parses "grid" or "iso"; false for anything else.
bool ParseTimeFormat(const std::string& text, TimeFormat& format);

// The grid text of a log record's date and time as `format` writes it.
// kIso gives "2024-06-03T01:10:45Z": W3C extended logs are written in UTC,
// and the time of day is always there, midnight included. Text that is not
// a date (an empty cell) is returned unchanged.
std::string FormatDateCell(std::string_view text, TimeFormat format);

}  // namespace velnor::host

#endif  // VELNOR_HOST_RENDER_DATE_CELL_H_
