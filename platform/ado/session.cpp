// The thread's current session is held weakly: the owner's reference keeps
// it alive, and a session whose owner let go is no longer current.
#include "platform/ado/session.h"

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <utility>

#include "platform/ado/ado.h"

namespace velnor::ado {
namespace {

// Per thread, as the engine's transaction of a workspace is: the
// connections a thread opens join the transaction that thread began.
thread_local std::weak_ptr<Session> current;

// The file's real path when it exists, so that "a/../x.mdb" and "x.mdb"
// are one database.
std::string RealPath(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (!real) return path;
  std::string result = real;
  ::free(real);
  return result;
}

}  // namespace

Session::Session(int lock_wait_ms, std::unique_ptr<Engine> engine, bool writing)
    : lock_wait_ms_(lock_wait_ms),
      writing_(writing),
      engine_(engine ? std::move(engine) : MakeSqliteEngine()) {}

std::shared_ptr<Session> Session::Begin(int lock_wait_ms,
                                        std::unique_ptr<Engine> engine) {
  std::shared_ptr<Session> session(
      new Session(lock_wait_ms, std::move(engine), true));
  current = session;
  return session;
}

std::shared_ptr<Session> Session::BeginReading(int lock_wait_ms,
                                               std::unique_ptr<Engine> engine) {
  return std::shared_ptr<Session>(
      new Session(lock_wait_ms, std::move(engine), false));
}

std::shared_ptr<Session> Session::Private(int lock_wait_ms,
                                          std::unique_ptr<Engine> engine) {
  return std::shared_ptr<Session>(
      new Session(lock_wait_ms, std::move(engine), true));
}

std::shared_ptr<Session> Session::Current() { return current.lock(); }

Session::~Session() { engine_->Rollback(); }

std::string Session::Attach(std::string_view windows_path) {
  // The host composes database paths the Windows way, folder and file
  // joined by a backslash: on this machine a backslash separates folders
  // too.
  std::string path(windows_path);
  std::replace(path.begin(), path.end(), '\\', '/');
  path = std::filesystem::path(path).lexically_normal().string();
  std::string file = RealPath(path);
  auto joined = schema_by_file_.find(file);
  if (joined != schema_by_file_.end()) return joined->second;
  std::string schema = engine_->Attach(path, lock_wait_ms_, writing_);
  schema_by_file_.emplace(file, schema);
  path_by_schema_.emplace(schema, path);
  return schema;
}

const std::string& Session::PathOf(const std::string& schema) const {
  return path_by_schema_.at(schema);
}

void Session::BeginOnce() {
  if (began_) return;
  if (writing_) {
    engine_->Begin(lock_wait_ms_);
  } else {
    engine_->BeginRead(lock_wait_ms_);
  }
  began_ = true;
}

std::unique_ptr<Statement> Session::Prepare(std::string_view sql,
                                            const std::string& schema) {
  BeginOnce();
  return engine_->Prepare(sql, schema, PathOf(schema));
}

void Session::End() {
  began_ = false;
  if (current.lock().get() == this) current.reset();
}

void Session::Commit() {
  End();
  // The failure spoiled this transaction only.
  if (std::optional<automation::AutomationError> failure =
          std::exchange(failure_, std::nullopt)) {
    engine_->Rollback();
    throw *failure;
  }
  engine_->Commit(lock_wait_ms_);
}

void Session::CommitApart(const std::function<void()>& work) {
  if (began_) {
    automation::Raise(kErrUnspecified,
                      "A transaction apart was asked for after the session's "
                      "first statement.");
  }
  engine_->BeginApart(lock_wait_ms_);
  began_ = true;
  try {
    work();
  } catch (...) {
    began_ = false;
    failure_.reset();
    engine_->Rollback();
    throw;
  }
  began_ = false;
  if (std::optional<automation::AutomationError> failure =
          std::exchange(failure_, std::nullopt)) {
    engine_->Rollback();
    throw *failure;
  }
  engine_->Commit(lock_wait_ms_);
}

void Session::Fail(const automation::AutomationError& error) {
  if (!failure_) failure_ = error;
}

void Session::Rollback() {
  End();
  failure_.reset();
  engine_->Rollback();
}

}  // namespace velnor::ado
