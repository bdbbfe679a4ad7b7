// The replacement NOCASE must order every pair of texts exactly as SQLite's
// built-in one does, or indexes made with the built-in one would be
// searched wrongly. Random texts with long shared prefixes, letters of both
// cases, the bytes next to the letters, NULs and bytes above 0x7F are
// compared both ways.
#include "platform/ado/nocase.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <random>
#include <string>

namespace velnor::ado {
namespace {

int Sign(int value) { return (value > 0) - (value < 0); }

// The built-in collation's verdict: -1, 0 or 1.
int BuiltInOrder(sqlite3_stmt* stmt, const std::string& a,
                 const std::string& b) {
  sqlite3_reset(stmt);
  sqlite3_bind_text(stmt, 1, a.data(), static_cast<int>(a.size()),
                    SQLITE_STATIC);
  sqlite3_bind_text(stmt, 2, b.data(), static_cast<int>(b.size()),
                    SQLITE_STATIC);
  EXPECT_EQ(sqlite3_step(stmt), SQLITE_ROW);
  return sqlite3_column_int(stmt, 0);
}

TEST(NoCaseTest, OrdersLikeTheBuiltInCollation) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  sqlite3_stmt* stmt = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db,
                               "select case when ?1 = ?2 collate nocase then 0 "
                               "when ?1 < ?2 collate nocase then -1 else 1 end",
                               -1, &stmt, nullptr),
            SQLITE_OK);
  // Capitals with the high bit set (0xC1, 0xDA) must not fold; 0x01 after
  // a NUL is what a word-wide NUL test can mistake for another NUL.
  constexpr char kBytes[] = "aAzZbB@[`{/09\0\x01\xc1\xda\xa9\x80\xff_";
  const std::string alphabet(kBytes, sizeof kBytes - 1);
  std::mt19937 random(20240611);
  auto text = [&](size_t length) {
    std::string result;
    for (size_t i = 0; i < length; ++i) {
      result += alphabet[random() % alphabet.size()];
    }
    return result;
  };
  for (int round = 0; round < 20000; ++round) {
    std::string prefix = text(random() % 24);
    std::string a = prefix + text(random() % 12);
    std::string b = prefix + text(random() % 12);
    // Half the pairs differ only in the case of their letters.
    if (round % 2 == 1) {
      b = a;
      for (char& c : b) {
        if (random() % 2 && c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
      }
      if (random() % 4 == 0) b += text(1 + random() % 3);
    }
    ASSERT_EQ(Sign(NoCaseCompare(nullptr, static_cast<int>(a.size()), a.data(),
                                 static_cast<int>(b.size()), b.data())),
              BuiltInOrder(stmt, a, b))
        << "a=" << ::testing::PrintToString(a)
        << " b=" << ::testing::PrintToString(b);
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
}

}  // namespace
}  // namespace velnor::ado
