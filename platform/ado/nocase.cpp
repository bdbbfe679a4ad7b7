// Word-at-a-time NOCASE. Equal words hold equal letters whatever their
// case, so only the first word that differs (or holds a NUL, where SQLite's
// comparison stops) is compared byte by byte with case folded.
#include "platform/ado/nocase.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/automation/text.h"

namespace velnor::ado {
namespace {

// Folds only the ASCII capitals, as SQLite's table does.
int Fold(unsigned char c) {
  return static_cast<unsigned char>(
      automation::AsciiLower(static_cast<char>(c)));
}

bool HasZeroByte(uint64_t word) {
  constexpr uint64_t kOnes = 0x0101010101010101u;
  constexpr uint64_t kHighs = 0x8080808080808080u;
  return ((word - kOnes) & ~word & kHighs) != 0;
}

}  // namespace

int NoCaseCompare(void* /*unused*/, int size_a, const void* a, int size_b,
                  const void* b) {
  // SQLite orders a missing text before any other, even an empty one.
  if (a == nullptr) return b == nullptr ? 0 : -1;
  if (b == nullptr) return 1;
  const auto* left = static_cast<const unsigned char*>(a);
  const auto* right = static_cast<const unsigned char*>(b);
  const int common = std::min(size_a, size_b);
  int i = 0;
  for (; i + 8 <= common; i += 8) {
    uint64_t x;
    uint64_t y;
    std::memcpy(&x, left + i, sizeof x);
    std::memcpy(&y, right + i, sizeof y);
    if (x != y || HasZeroByte(x)) break;
  }
  for (; i < common; ++i) {
    const int difference = Fold(left[i]) - Fold(right[i]);
    if (difference != 0) return difference;
    // Past a NUL SQLite looks no further than the sizes.
    if (left[i] == 0) break;
  }
  return size_a - size_b;
}

int InstallNoCase(sqlite3* db) {
  return sqlite3_create_collation_v2(db, "NOCASE", SQLITE_UTF8, nullptr,
                                     NoCaseCompare, nullptr);
}

}  // namespace velnor::ado
