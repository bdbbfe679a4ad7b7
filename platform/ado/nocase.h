// The NOCASE collation, installed on every connection in place of SQLite's
// own: the same order, compared a machine word at a time. Report tables
// keep their keys in NOCASE indexes, so every look-up runs this comparison
// a dozen times or more.
#ifndef VELNOR_PLATFORM_ADO_NOCASE_H_
#define VELNOR_PLATFORM_ADO_NOCASE_H_

#include <sqlite3.h>

namespace velnor::ado {

// Compares two UTF-8 texts of the given byte sizes as SQLite's built-in
// NOCASE does: ASCII letters without regard to case, all other bytes as
// they are, then the shorter text first; a NUL byte at the same place in
// both ends the byte comparison there. Only the sign of the result is
// meaningful. The signature is that of sqlite3_create_collation_v2's
// comparison.
int NoCaseCompare(void* unused, int size_a, const void* a, int size_b,
                  const void* b);

// Installs NoCaseCompare as "NOCASE" on `db`; existing indexes stay valid
// because the order is the same. Returns SQLite's result code.
int InstallNoCase(sqlite3* db);

}  // namespace velnor::ado

#endif  // VELNOR_PLATFORM_ADO_NOCASE_H_
