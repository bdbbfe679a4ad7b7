// Keys as the report database tells them apart: the identifier and the URL
// compare byte for byte, or with ASCII letters folded where their column
// compares so (SQLite's NOCASE, velnor_nocase); the bucket compares as a
// number. Two keys the database takes for one have the same KeyHash.
#ifndef VELNOR_REPORTSTORE_KEY_MATCH_H_
#define VELNOR_REPORTSTORE_KEY_MATCH_H_

#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>

namespace velnor::key_match {

// For the identifier and the URL: whether the column folds ASCII letters.
using Caseless = std::array<bool, 2>;

inline char Folded(char c, bool caseless) {
  return caseless && c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

// Whether the column takes `a` and `b` for the same text. The run's texts
// hold no NUL byte (a record's URL or a sites file's line with one is
// refused), so folding every byte compares as the database does even where
// a stored text holds one (at a NUL, SQLite's NOCASE looks no further).
inline bool SameText(std::string_view a, std::string_view b, bool caseless) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [caseless](char x, char y) {
                      return Folded(x, caseless) == Folded(y, caseless);
                    });
}

// FNV-1a of the folded identifier and URL and of the bucket.
inline uint64_t KeyHash(std::string_view identifier, std::string_view url,
                        int32_t bucket, const Caseless& caseless) {
  uint64_t hash = 14695981039346656037u;
  auto mix = [&](uint64_t value) { hash = (hash ^ value) * 1099511628211u; };
  for (char c : identifier) {
    mix(static_cast<unsigned char>(Folded(c, caseless[0])));
  }
  mix(0x100);  // no byte: the end of the identifier
  for (char c : url) mix(static_cast<unsigned char>(Folded(c, caseless[1])));
  mix(static_cast<uint32_t>(bucket));
  return hash;
}

}  // namespace velnor::key_match

#endif  // VELNOR_REPORTSTORE_KEY_MATCH_H_
