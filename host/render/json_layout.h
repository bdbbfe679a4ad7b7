// JSON as velnor writes it: values built with nlohmann's ordered_json (keys
// keep the order they were set in) and laid out so that a person can read
// the output and a diff of two outputs stays small.
#ifndef VELNOR_HOST_RENDER_JSON_LAYOUT_H_
#define VELNOR_HOST_RENDER_JSON_LAYOUT_H_

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace velnor::host {

using Json = nlohmann::ordered_json;

// A JSON string of `text`, cleaned to valid UTF-8 first (invalid bytes
// and NUL become U+FFFD) so that building and writing it cannot fail.
Json JsonText(std::string_view text);

// JsonText(text), or null when `text` is empty.
Json JsonTextOrNull(std::string_view text);

// `value` as text, without a final line end. A container spreads one
// member a line, each line indented two blanks deeper than the container's
// own, when it lies less than `spread_levels` levels deep (the outermost
// value is level 0) and is the outermost object or holds an object at any
// depth; any other is written on one line
// (`{"code": 404, "hits": 2}`, `[4, 0, 2]`). Empty containers are `{}` and
// `[]`. Texts are escaped by nlohmann's serializer (UTF-8 kept as it is;
// control characters as \n, \t, \u001b...), and DEL and the C1 controls,
// which it keeps, as \u007f and \u0080 to \u009f.
std::string LaidOut(const Json& value, int spread_levels);

}  // namespace velnor::host

#endif  // VELNOR_HOST_RENDER_JSON_LAYOUT_H_
