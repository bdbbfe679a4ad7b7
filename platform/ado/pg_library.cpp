// libpq's functions that this folder calls, defined here and passed on to
// the library, which the first of them loads. A function added to
// the callers must be added to the list: until it is, the command does not
// link.
#include "platform/ado/pg_library.h"

#include <libpq-fe.h>

#include "platform/ado/pg_connection.h"
#include "platform/dynlib/dynamic_library.h"
#include "platform/interrupt/interrupt.h"

namespace velnor::ado::pg {
namespace {

constexpr char kLibrary[] = "libpq.so.5";
constexpr char kPackage[] = "libpq5";

// libpq waits for the server's answer with no limit of its own, so a store
// that stops answering in the middle of a run (a frozen host, a link gone
// silent) would hold the run past Ctrl+C and SIGTERM for ever. Every call
// that waits for the server is abandoned a second after an interrupt: a
// run that had not sent its COMMIT is rolled back by the server with the
// connection, one that had is kept or not as the server decided, which
// the ledger's runs show.
constexpr char kWaitNote[] =
    "velnor: stopped while the PostgreSQL store did not answer; nothing of "
    "the run was stored unless its commit had been sent (velnor runs shows "
    "whether it was)\n";

// Each function named once: the loader looks it up by this name and keeps
// it in a member of the same name.
#define VELNOR_PQ_FUNCTIONS(X) \
  X(PQclear)                   \
  X(PQcmdStatus)               \
  X(PQconnectdbParams)         \
  X(PQconninfoFree)            \
  X(PQconninfoParse)           \
  X(PQdescribePrepared)        \
  X(PQerrorMessage)            \
  X(PQexec)                    \
  X(PQexecParams)              \
  X(PQexecPrepared)            \
  X(PQfinish)                  \
  X(PQfname)                   \
  X(PQfreemem)                 \
  X(PQftype)                   \
  X(PQgetResult)               \
  X(PQgetisnull)               \
  X(PQgetlength)               \
  X(PQgetvalue)                \
  X(PQnfields)                 \
  X(PQnparams)                 \
  X(PQntuples)                 \
  X(PQparameterStatus)         \
  X(PQprepare)                 \
  X(PQputCopyData)             \
  X(PQputCopyEnd)              \
  X(PQresultErrorField)        \
  X(PQresultErrorMessage)      \
  X(PQresultStatus)            \
  X(PQsetClientEncoding)       \
  X(PQsetNoticeProcessor)      \
  X(PQstatus)                  \
  X(PQtransactionStatus)       \
  X(PQuser)

struct PqLibrary {
// The member's name is a declarator, which parentheses would not keep.
// NOLINTNEXTLINE(bugprone-macro-parentheses)
#define VELNOR_PQ_MEMBER(name) decltype(&::name) name;
  VELNOR_PQ_FUNCTIONS(VELNOR_PQ_MEMBER)
#undef VELNOR_PQ_MEMBER
};

PqLibrary LoadPq() {
  try {
    const dynlib::Library library(kLibrary);
    PqLibrary pq{};
#define VELNOR_PQ_LOAD(name) library.Find(#name, pq.name);
    VELNOR_PQ_FUNCTIONS(VELNOR_PQ_LOAD)
#undef VELNOR_PQ_LOAD
    return pq;
  } catch (const dynlib::LoadError& error) {
    throw PgError("08001", std::string("the PostgreSQL client library cannot "
                                       "be loaded: ") +
                               error.what() + "; install the package " +
                               kPackage);
  }
}

#undef VELNOR_PQ_FUNCTIONS

// Raises when the library cannot be loaded, and tries again at the next
// call.
const PqLibrary& Pq() {
  static const PqLibrary library = LoadPq();
  return library;
}

}  // namespace

std::string PgLibraryProblem() {
  try {
    Pq();
    return "";
  } catch (const PgError& error) {
    return error.what();
  }
}

}  // namespace velnor::ado::pg

using velnor::ado::pg::kWaitNote;
using velnor::ado::pg::Pq;
using velnor::interrupt::AbandonScope;

// The definitions of libpq's declarations (libpq-fe.h), in its order of
// the list above.
void PQclear(PGresult* res) { Pq().PQclear(res); }
char* PQcmdStatus(PGresult* res) { return Pq().PQcmdStatus(res); }
PGconn* PQconnectdbParams(const char* const* keywords,
                          const char* const* values, int expand_dbname) {
  return Pq().PQconnectdbParams(keywords, values, expand_dbname);
}
void PQconninfoFree(PQconninfoOption* options) { Pq().PQconninfoFree(options); }
PQconninfoOption* PQconninfoParse(const char* conninfo, char** errmsg) {
  return Pq().PQconninfoParse(conninfo, errmsg);
}
PGresult* PQdescribePrepared(PGconn* conn, const char* stmt) {
  AbandonScope abandon(kWaitNote);
  return Pq().PQdescribePrepared(conn, stmt);
}
char* PQerrorMessage(const PGconn* conn) { return Pq().PQerrorMessage(conn); }
PGresult* PQexec(PGconn* conn, const char* query) {
  AbandonScope abandon(kWaitNote);
  return Pq().PQexec(conn, query);
}
PGresult* PQexecParams(PGconn* conn, const char* command, int n_params,
                       const Oid* param_types, const char* const* param_values,
                       const int* param_lengths, const int* param_formats,
                       int result_format) {
  AbandonScope abandon(kWaitNote);
  return Pq().PQexecParams(conn, command, n_params, param_types, param_values,
                           param_lengths, param_formats, result_format);
}
PGresult* PQexecPrepared(PGconn* conn, const char* stmt_name, int n_params,
                         const char* const* param_values,
                         const int* param_lengths, const int* param_formats,
                         int result_format) {
  AbandonScope abandon(kWaitNote);
  return Pq().PQexecPrepared(conn, stmt_name, n_params, param_values,
                             param_lengths, param_formats, result_format);
}
void PQfinish(PGconn* conn) { Pq().PQfinish(conn); }
char* PQfname(const PGresult* res, int field_num) {
  return Pq().PQfname(res, field_num);
}
void PQfreemem(void* ptr) { Pq().PQfreemem(ptr); }
Oid PQftype(const PGresult* res, int field_num) {
  return Pq().PQftype(res, field_num);
}
PGresult* PQgetResult(PGconn* conn) {
  AbandonScope abandon(kWaitNote);
  return Pq().PQgetResult(conn);
}
int PQgetisnull(const PGresult* res, int tup_num, int field_num) {
  return Pq().PQgetisnull(res, tup_num, field_num);
}
int PQgetlength(const PGresult* res, int tup_num, int field_num) {
  return Pq().PQgetlength(res, tup_num, field_num);
}
char* PQgetvalue(const PGresult* res, int tup_num, int field_num) {
  return Pq().PQgetvalue(res, tup_num, field_num);
}
int PQnfields(const PGresult* res) { return Pq().PQnfields(res); }
int PQnparams(const PGresult* res) { return Pq().PQnparams(res); }
int PQntuples(const PGresult* res) { return Pq().PQntuples(res); }
const char* PQparameterStatus(const PGconn* conn, const char* param_name) {
  return Pq().PQparameterStatus(conn, param_name);
}
PGresult* PQprepare(PGconn* conn, const char* stmt_name, const char* query,
                    int n_params, const Oid* param_types) {
  AbandonScope abandon(kWaitNote);
  return Pq().PQprepare(conn, stmt_name, query, n_params, param_types);
}
int PQputCopyData(PGconn* conn, const char* buffer, int nbytes) {
  AbandonScope abandon(kWaitNote);
  return Pq().PQputCopyData(conn, buffer, nbytes);
}
int PQputCopyEnd(PGconn* conn, const char* errormsg) {
  AbandonScope abandon(kWaitNote);
  return Pq().PQputCopyEnd(conn, errormsg);
}
char* PQresultErrorField(const PGresult* res, int fieldcode) {
  return Pq().PQresultErrorField(res, fieldcode);
}
char* PQresultErrorMessage(const PGresult* res) {
  return Pq().PQresultErrorMessage(res);
}
ExecStatusType PQresultStatus(const PGresult* res) {
  return Pq().PQresultStatus(res);
}
int PQsetClientEncoding(PGconn* conn, const char* encoding) {
  AbandonScope abandon(kWaitNote);
  return Pq().PQsetClientEncoding(conn, encoding);
}
PQnoticeProcessor PQsetNoticeProcessor(PGconn* conn, PQnoticeProcessor proc,
                                       void* arg) {
  return Pq().PQsetNoticeProcessor(conn, proc, arg);
}
ConnStatusType PQstatus(const PGconn* conn) { return Pq().PQstatus(conn); }
PGTransactionStatusType PQtransactionStatus(const PGconn* conn) {
  return Pq().PQtransactionStatus(conn);
}
char* PQuser(const PGconn* conn) { return Pq().PQuser(conn); }
