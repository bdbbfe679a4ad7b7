// Unsigned LEB128 varints, the integers of the statistics' packed texts:
// seven bits a byte, low bits first, the top bit set on every byte but the
// last.
#ifndef VELNOR_STATISTICS_VARINT_H_
#define VELNOR_STATISTICS_VARINT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velnor::statistics {

// Appends `value` (an unsigned integer type) to `out`.
template <typename T>
void PutVarint(std::string& out, T value) {
  while (value >= 0x80) {
    out.push_back(static_cast<char>(static_cast<uint8_t>(value) | 0x80));
    value >>= 7;
  }
  out.push_back(static_cast<char>(static_cast<uint8_t>(value)));
}

// Reads a varint of at most T's bits at `pos`, moving past it; nothing
// when `in` ends first or the value does not fit T.
template <typename T>
std::optional<T> GetVarint(std::string_view in, size_t& pos) {
  constexpr int kBits = sizeof(T) * 8;
  T value = 0;
  for (int shift = 0; shift < kBits; shift += 7) {
    if (pos >= in.size()) return std::nullopt;
    const auto byte = static_cast<uint8_t>(in[pos++]);
    const T bits = T(byte & 0x7f);
    if ((bits << shift) >> shift != bits) return std::nullopt;  // too large
    value |= bits << shift;
    if ((byte & 0x80) == 0) return value;
  }
  return std::nullopt;
}

}  // namespace velnor::statistics

#endif  // VELNOR_STATISTICS_VARINT_H_
