// The visitor set's parsing of addresses and its packed form.
//
// Packed, a set is base64 over three sorted lists, each its count and then
// its entries as unsigned LEB128 varints: the IPv4 addresses and then the
// IPv6 ones each as its difference from the one before (the first from
// zero), so that the many addresses of a busy day take two or three bytes
// each; then the texts, each its length and its bytes.
#include "statistics/visitor_set.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <vector>

#include "absl/strings/escaping.h"
#include "statistics/varint.h"

namespace velnor::statistics {
namespace {

// The address `text` spells in IPv4's strict dotted form, if it does.
std::optional<uint32_t> ParseV4(std::string_view text) {
  uint32_t address = 0;
  size_t pos = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (pos >= text.size() || text[pos] != '.') return std::nullopt;
      ++pos;
    }
    const size_t start = pos;
    uint32_t value = 0;
    while (pos < text.size() && pos - start < 4 && text[pos] >= '0' &&
           text[pos] <= '9') {
      value = value * 10 + static_cast<uint32_t>(text[pos] - '0');
      ++pos;
    }
    const size_t digits = pos - start;
    if (digits == 0 || digits > 3 || value > 255) return std::nullopt;
    if (digits > 1 && text[start] == '0') return std::nullopt;
    address = address << 8 | value;
  }
  if (pos != text.size()) return std::nullopt;
  return address;
}

// The IPv6 address `text` spells, in any of its spellings, if it does.
std::optional<absl::uint128> ParseV6(std::string_view text) {
  std::array<char, INET6_ADDRSTRLEN> spelled{};
  if (text.size() >= spelled.size() ||
      text.find(':') == std::string_view::npos) {
    return std::nullopt;
  }
  std::memcpy(spelled.data(), text.data(), text.size());
  std::array<unsigned char, 16> bytes{};
  if (::inet_pton(AF_INET6, spelled.data(), bytes.data()) != 1) {
    return std::nullopt;
  }
  absl::uint128 address = 0;
  for (unsigned char byte : bytes) address = address << 8 | byte;
  return address;
}

// Writes the distinct values of `set` and `extra`, sorted.
template <typename T>
void PutSorted(std::string& out, const absl::flat_hash_set<T>& set,
               std::optional<T> extra = std::nullopt) {
  std::vector<T> sorted(set.begin(), set.end());
  if (extra && !set.contains(*extra)) sorted.push_back(*extra);
  std::sort(sorted.begin(), sorted.end());
  PutVarint(out, sorted.size());
  T before = 0;
  for (const T& value : sorted) {
    PutVarint(out, value - before);
    before = value;
  }
}

// Reads what PutSorted wrote into `set`: differences past the first above
// zero, and no sum past T's range.
template <typename T>
bool GetSorted(std::string_view in, size_t& pos, absl::flat_hash_set<T>& set) {
  const std::optional<uint64_t> count = GetVarint<uint64_t>(in, pos);
  if (!count || *count > in.size() - pos) return false;
  set.reserve(set.size() + *count);
  T value = 0;
  for (uint64_t i = 0; i < *count; ++i) {
    const std::optional<T> step = GetVarint<T>(in, pos);
    if (!step || (i > 0 && *step == 0) || value + *step < value) return false;
    value += *step;
    set.insert(value);
  }
  return true;
}

}  // namespace

void VisitorSet::Insert(std::string_view text) {
  if (const std::optional<uint32_t> v4 = ParseV4(text)) {
    // After the insert, which may move the slots when the set grows.
    if (waiting_v4_) v4_.insert(*waiting_v4_);
    v4_.prefetch(*v4);
    waiting_v4_ = v4;
  } else if (const std::optional<absl::uint128> v6 = ParseV6(text)) {
    v6_.insert(*v6);
  } else if (const absl::string_view name(text.data(), text.size());
             !texts_.contains(name)) {
    texts_.emplace(text);
  }
}

void VisitorSet::Merge(const VisitorSet& other) {
  v4_.insert(other.v4_.begin(), other.v4_.end());
  if (other.waiting_v4_) v4_.insert(*other.waiting_v4_);
  v6_.insert(other.v6_.begin(), other.v6_.end());
  texts_.insert(other.texts_.begin(), other.texts_.end());
}

std::string VisitorSet::Pack() const {
  std::string bytes;
  PutSorted(bytes, v4_, waiting_v4_);
  PutSorted(bytes, v6_);
  std::vector<std::string_view> texts(texts_.begin(), texts_.end());
  std::sort(texts.begin(), texts.end());
  PutVarint(bytes, texts.size());
  for (std::string_view text : texts) {
    PutVarint(bytes, text.size());
    bytes += text;
  }
  return absl::Base64Escape(absl::string_view(bytes.data(), bytes.size()));
}

bool VisitorSet::MergePacked(std::string_view packed) {
  std::string bytes;
  if (!absl::Base64Unescape(absl::string_view(packed.data(), packed.size()),
                            &bytes)) {
    return false;
  }
  size_t pos = 0;
  if (!GetSorted(bytes, pos, v4_) || !GetSorted(bytes, pos, v6_)) {
    return false;
  }
  const std::optional<uint64_t> count = GetVarint<uint64_t>(bytes, pos);
  if (!count) return false;
  for (uint64_t i = 0; i < *count; ++i) {
    const std::optional<uint64_t> size = GetVarint<uint64_t>(bytes, pos);
    if (!size || *size > bytes.size() - pos) return false;
    texts_.emplace(bytes, pos, *size);
    pos += *size;
  }
  return pos == bytes.size();
}

}  // namespace velnor::statistics
