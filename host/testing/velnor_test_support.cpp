// Running the built velnor, and the logs the tests write for it.
#include "host/testing/velnor_test_support.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>

#include "reportdb/report_files.h"

namespace velnor::host {

using testing::Contains;
using testing::QueryRows;
using testing::ReadFile;
using testing::Rows;
using testing::StartProgram;
using testing::WaitFor;

namespace fs = std::filesystem;

std::string WebLog(long records, const std::string& day) {
  std::string log = "#Fields: date time c-ip cs-method cs-uri-stem sc-status\n";
  for (long i = 0; i < records; ++i) {
    char line[96];
    std::snprintf(line, sizeof line,
                  "%s %02ld:%02ld:%02ld 10.0.0.%ld GET /p%ld.htm 200\n",
                  day.c_str(), i / 3600 % 24, i / 60 % 60, i % 60, i % 250,
                  i % 50);
    log += line;
  }
  return log;
}

const char kIisHeader[] =
    "#Software: Microsoft Internet Information Services 10.0\r\n"
    "#Fields: date time s-ip cs-method cs-uri-stem s-port c-ip sc-status\r\n";

std::string IisRecords(const std::string& day, int count, int first, int urls) {
  static const int kStatuses[] = {200, 200, 304, 404, 200, 500, 200, 301};
  std::string text;
  for (int i = first; i < first + count; ++i) {
    const int second = i * 7 % 86400;
    char line[128];
    std::snprintf(line, sizeof line,
                  "%s %02d:%02d:%02d 10.0.0.5 GET /p%d.htm 80 10.1.1.1 %d\r\n",
                  day.c_str(), second / 3600, second / 60 % 60, second % 60,
                  i % urls, kStatuses[i % 8]);
    text += line;
  }
  return text;
}

std::string IisLog(const std::string& day, int count, int urls) {
  return kIisHeader + IisRecords(day, count, 0, urls);
}

std::vector<std::string> CollectArgs(const std::string& server,
                                     const std::string& db_dir,
                                     std::vector<std::string> more) {
  std::vector<std::string> args = {"collect",    "--server",   server,
                                   "--from",     "2024-06-03", "--to",
                                   "2024-06-05", "--db-dir",   db_dir};
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

Rows SiteTotalRows(const fs::path& db_dir, const std::string& server) {
  return QueryRows(
      db_dir / reportdb::ReportDatabaseFileName(
                   reportdb::ReportKind::kHitsByHour, server, false),
      "select Identifier, [No of Hits] from tblTotalAccess "
      "order by rowid");
}

long HitsCounted(const fs::path& db_dir, const std::string& server) {
  return std::stol(
      QueryRows(db_dir / reportdb::ReportDatabaseFileName(
                             reportdb::ReportKind::kHitsByHour, server, false),
                "select total([No of Hits]) from tblGeneral")
          .at(0)
          .at(0));
}

pid_t StartVelnor(const std::vector<std::string>& args, const fs::path& dir,
                  const std::function<void()>& in_child) {
  return StartProgram(VELNOR_EXE, args, dir, in_child);
}

VelnorRun RunVelnor(const std::vector<std::string>& args, const fs::path& dir) {
  return FinishVelnor(StartVelnor(args, dir), dir);
}

VelnorRun RunVelnorSignalledAt(const std::string& calls, int nth,
                               const std::string& signal,
                               const std::vector<std::string>& args,
                               const fs::path& dir) {
  std::vector<std::string> traced = {
      "-f",
      "-qq",
      "-o",
      "/dev/null",
      "-e",
      "inject=" + calls + ":signal=" + signal + ":when=" + std::to_string(nth),
      VELNOR_EXE};
  traced.insert(traced.end(), args.begin(), args.end());
  return FinishVelnor(StartProgram(kStrace, traced, dir), dir);
}

namespace {

// The state letter of /proc/PID/stat ('T' stopped, 'Z' ended), or 0 when
// the process is gone.
char ProcessState(pid_t pid) {
  const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  const size_t name_end = stat.rfind(')');
  return name_end == std::string::npos || name_end + 2 >= stat.size()
             ? '\0'
             : stat[name_end + 2];
}

// Stops `pid` and waits until it no longer runs: kill() returns before a
// process on another core has stopped.
void Stop(pid_t pid) {
  ::kill(pid, SIGSTOP);
  WaitFor(
      [&] {
        const char state = ProcessState(pid);
        return state == 'T' || state == 't' || state == 'Z' || state == 0;
      },
      std::chrono::seconds(5));
}

}  // namespace

bool StopOnceHoldingLock(pid_t pid, const fs::path& lock_file,
                         const std::function<bool()>& also) {
  // With what follows the number, so that process 123 does not match 1234.
  const std::string holder = "velnor process " + std::to_string(pid) + ",";
  const bool holds =
      WaitFor([&] { return Contains(ReadFile(lock_file), holder); },
              std::chrono::seconds(30));
  Stop(pid);
  if (!holds || !also) return holds;
  // `also` is asked only while the run stands still, and the run goes on in
  // short steps between, so that it cannot end between a true answer and
  // the stop, however slow the machine and `also`.
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (!also()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    ::kill(pid, SIGCONT);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    Stop(pid);
  }
  return Contains(ReadFile(lock_file), holder);
}

bool WaitForStderr(const fs::path& dir, const std::string& text,
                   std::chrono::milliseconds limit) {
  return WaitFor([&] { return Contains(ReadFile(dir / "stderr"), text); },
                 limit);
}

Throttle::Throttle(pid_t pid, std::chrono::milliseconds running)
    : thread_([this, pid, running] {
        while (!stop_) {
          ::kill(pid, SIGCONT);
          std::this_thread::sleep_for(running);
          ::kill(pid, SIGSTOP);
          std::this_thread::sleep_for(std::chrono::milliseconds(100) - running);
        }
        ::kill(pid, SIGCONT);
      }) {}

Throttle::~Throttle() {
  stop_ = true;
  thread_.join();
}

}  // namespace velnor::host
