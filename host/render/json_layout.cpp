// The layout of LaidOut: one member a line down to a given depth for what
// holds objects, one line for the rest; scalars written by nlohmann's
// serializer.
#include "host/render/json_layout.h"

#include <fmt/format.h>

#include "host/render/text_format.h"

namespace velnor::host {
namespace {

bool HoldsObject(const Json& value) {
  if (!value.is_structured()) return false;
  for (const Json& item : value) {
    if (item.is_object() || HoldsObject(item)) return true;
  }
  return false;
}

// nlohmann's serializer escapes the C0 controls but writes DEL and the C1
// controls (U+0080 to U+009F) as they are; a terminal that shows the output
// may act on those (U+009B starts a sequence as ESC [ does), so they are
// escaped here too. The dump is valid UTF-8, in which the bytes 0xC2 0x80
// to 0xC2 0x9F are the C1 controls and nothing else.
void AppendScalar(std::string& out, const Json& value) {
  const std::string dumped =
      value.dump(-1, ' ', false, Json::error_handler_t::replace);
  if (dumped.find_first_of("\x7F\xC2") == std::string::npos) {
    out += dumped;
    return;
  }
  for (size_t i = 0; i < dumped.size(); ++i) {
    const auto byte = static_cast<unsigned char>(dumped[i]);
    const auto next = static_cast<unsigned char>(
        i + 1 < dumped.size() ? dumped[i + 1] : '\0');
    if (byte == 0x7F) {
      out += "\\u007f";
    } else if (byte == 0xC2 && next >= 0x80 && next <= 0x9F) {
      out += fmt::format("\\u{:04x}", next);
      ++i;
    } else {
      out += dumped[i];
    }
  }
}

void AppendOneLine(std::string& out, const Json& value) {
  if (value.is_object()) {
    out += '{';
    bool first = true;
    for (const auto& member : value.items()) {
      if (!first) out += ", ";
      first = false;
      AppendScalar(out, Json(member.key()));
      out += ": ";
      AppendOneLine(out, member.value());
    }
    out += '}';
  } else if (value.is_array()) {
    out += '[';
    for (size_t i = 0; i < value.size(); ++i) {
      if (i > 0) out += ", ";
      AppendOneLine(out, value[i]);
    }
    out += ']';
  } else {
    AppendScalar(out, value);
  }
}

void AppendLaidOut(std::string& out, const Json& value, int level,
                   int spread_levels) {
  const bool spread = !value.empty() && level < spread_levels &&
                      ((level == 0 && value.is_object()) || HoldsObject(value));
  if (!spread) {
    AppendOneLine(out, value);
    return;
  }
  // Two spaces a level; `level` is never negative.
  const auto indent = [](int depth) {
    return std::string(2 * static_cast<size_t>(depth), ' ');
  };
  const std::string inner = indent(level + 1);
  out += value.is_object() ? "{\n" : "[\n";
  size_t i = 0;
  for (const auto& item : value.items()) {
    out += inner;
    if (value.is_object()) {
      AppendScalar(out, Json(item.key()));
      out += ": ";
    }
    AppendLaidOut(out, item.value(), level + 1, spread_levels);
    out += ++i < value.size() ? ",\n" : "\n";
  }
  out += indent(level);
  out += value.is_object() ? '}' : ']';
}

}  // namespace

Json JsonText(std::string_view text) { return Json(CleanUtf8(text, false)); }

Json JsonTextOrNull(std::string_view text) {
  return text.empty() ? Json(nullptr) : JsonText(text);
}

std::string LaidOut(const Json& value, int spread_levels) {
  std::string out;
  AppendLaidOut(out, value, 0, spread_levels);
  return out;
}

}  // namespace velnor::host
