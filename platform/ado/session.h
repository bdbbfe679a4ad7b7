// Session: one unit of work over several databases, committed all at once
// or not at all. While a session is current on a thread, every Connection
// opened on that thread joins it: the Connection's statements run in the
// session's one transaction, Connection::Close commits nothing, and the
// changes of every joined database become visible together when the
// session's owner calls Commit. A Connection opened with no current session
// gets a session of its own, committed when it closes.
//
// A collection run is one session (its four report databases, and the
// host's own files beside them), so a run killed at any moment leaves every
// database as before it, and readers never see half a run.
#ifndef VELNOR_PLATFORM_ADO_SESSION_H_
#define VELNOR_PLATFORM_ADO_SESSION_H_

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ado/engine.h"
#include "platform/automation/error_state.h"

namespace velnor::ado {

// How long a run waits for another process's lock before it gives up.
inline constexpr int kDefaultLockWaitMs = 5000;

class Session {
 public:
  // A session over `engine` (SQLite when null) that becomes the thread's
  // current one, replacing any other until it ends.
  static std::shared_ptr<Session> Begin(int lock_wait_ms = kDefaultLockWaitMs,
                                        std::unique_ptr<Engine> engine = {});
  // A session that only reads (not current either): what it reads of all
  // its databases is one committed state. Its databases need not be
  // writable; Commit ends the reading.
  static std::shared_ptr<Session> BeginReading(
      int lock_wait_ms, std::unique_ptr<Engine> engine = {});
  // A session over `engine` (SQLite when null) that is never current, for
  // one Connection or one short unit of work of its own.
  static std::shared_ptr<Session> Private(int lock_wait_ms,
                                          std::unique_ptr<Engine> engine = {});
  // The thread's current session, or null.
  static std::shared_ptr<Session> Current();

  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  // Rolls back what was not committed; stops being current.
  ~Session();

  // Makes the database `path` (a Windows path: "\" separates folders too)
  // part of the session and returns its schema; a path joined before gives
  // the same schema again. Raises as Engine::Attach does.
  std::string Attach(std::string_view path);
  // The file a schema stands for, as Attach was given it.
  const std::string& PathOf(const std::string& schema) const;

  // Prepares `sql` for the database of `schema`. The session's transaction
  // begins before its first statement, waiting for other writers as long
  // as the session allows.
  std::unique_ptr<Statement> Prepare(std::string_view sql,
                                     const std::string& schema);

  // How a column of the database of `schema` compares texts (see
  // Engine::EqualityOf).
  TextEquality EqualityOf(const std::string& schema, const std::string& table,
                          const std::string& column) {
    return engine_->EqualityOf(schema, table, column);
  }
  // Engine::CopyRows into the database of `schema`, in the session's
  // transaction (begun as by Prepare).
  bool CopyRows(const std::string& schema, std::string_view table,
                const std::vector<std::string>& columns,
                const Engine::RowBatches& next) {
    BeginOnce();
    return engine_->CopyRows(schema, table, columns, next);
  }
  // Engine::BulkLoads.
  bool BulkLoads() const { return engine_->BulkLoads(); }

  // Engine::BuildIndexes for the database of `schema`.
  void BuildIndexes(const std::string& schema, const std::string& table) {
    engine_->BuildIndexes(schema, table);
  }
  // Engine::AppendLeavingIndexesOut for the database of `schema`.
  void AppendLeavingIndexesOut(const std::string& schema,
                               const std::string& table,
                               const std::string& index,
                               const std::function<void()>& append) {
    engine_->AppendLeavingIndexesOut(schema, table, index, PathOf(schema),
                                     append);
  }
  // Engine::EnsureIndex for the database of `schema`, in the session's
  // transaction.
  void EnsureIndex(const std::string& schema, const std::string& table,
                   const IndexDefinition& index) {
    BeginOnce();
    engine_->EnsureIndex(schema, table, index, PathOf(schema));
  }

  // Runs `work` in a transaction of its own, committed at once, while the
  // session's transaction has not begun (or after it ended): what `work`
  // writes is kept whatever becomes of the session's, as a run's start is,
  // and costs no second connection to the databases. A raise of `work`
  // rolls back what it wrote and is passed on; so is a failed commit's.
  // Raises when the session's transaction has begun.
  void CommitApart(const std::function<void()>& work);

  // Makes every change visible at once and ends the session (it stops being
  // current). Raises, with every database left as before the session, when
  // the commit fails or an earlier failure spoiled the transaction; the
  // description names the databases and the cause. Raises
  // CommitOutcomeUnknown (engine.h) when it cannot be told whether the
  // commit was kept.
  void Commit();
  // Undoes every change and ends the session.
  void Rollback();
  // True once a failure spoiled the transaction (see Engine::Failed), or
  // Fail was called.
  bool Failed() const { return failure_.has_value() || engine_->Failed(); }
  // Spoils the transaction for a reason the databases cannot see (a count
  // that no longer fits its column, say): nothing of it will be kept, and
  // Commit rolls back and raises `error`. The first reason given is kept.
  void Fail(const automation::AutomationError& error);

 private:
  Session(int lock_wait_ms, std::unique_ptr<Engine> engine, bool writing);
  // Begins the session's transaction, where it has not begun yet.
  void BeginOnce();
  void End();

  int lock_wait_ms_;
  bool writing_;
  std::unique_ptr<Engine> engine_;
  bool began_ = false;
  std::optional<automation::AutomationError> failure_;  // from Fail
  // Joined files by their real path (so that one file joined under two
  // names is one database), and the names they were joined under.
  std::map<std::string, std::string> schema_by_file_;
  std::map<std::string, std::string> path_by_schema_;
};

}  // namespace velnor::ado

#endif  // VELNOR_PLATFORM_ADO_SESSION_H_
