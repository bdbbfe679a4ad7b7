// libpq, loaded when a PostgreSQL store is first used rather than linked:
// it and the libraries it pulls in (TLS, Kerberos, LDAP, ...) cost every
// run about 10 ms of loading, page faults and relocations before main,
// and most runs write SQLite files. pg_library.cpp defines libpq's own
// functions, the few this folder calls, each passing the call on to the
// loaded library, so that the code calling them is the same as if libpq
// were linked.
#ifndef VELNOR_PLATFORM_ADO_PG_LIBRARY_H_
#define VELNOR_PLATFORM_ADO_PG_LIBRARY_H_

#include <string>

namespace velnor::ado::pg {

// Loads libpq if it is not loaded yet. Returns why it cannot be loaded
// (naming the library and the package to install), or "" once it is;
// a later call tries again. A call of libpq's functions while it cannot be
// loaded raises PgError "08001" (a connection that could not be made) with
// the same reason.
std::string PgLibraryProblem();

}  // namespace velnor::ado::pg

#endif  // VELNOR_PLATFORM_ADO_PG_LIBRARY_H_
