// The signal handler only bumps a lock-free counter, which is all a handler
// may safely do. SA_RESTART keeps blocking calls in libraries (ncurses,
// SQLite, the SMB client) going instead of failing with EINTR; the loops
// that matter check the counter themselves. Inside an AbandonScope the
// handler also sets an alarm, whose handler ends the process if the scope
// still lives: write(2), alarm(2) and _exit(2) are async-signal-safe.
#include "platform/interrupt/interrupt.h"

#include <unistd.h>

#include <atomic>
#include <csignal>

namespace velnor::interrupt {
namespace {

// Signals are delivered to the process, not to a thread or a run, so what
// their handlers and the catching scopes keep is the process's.
std::atomic<int> g_count{0};
static_assert(std::atomic<int>::is_always_lock_free);

std::atomic<int> g_abandoning{0};
static_assert(std::atomic<int>::is_always_lock_free);

int g_scopes = 0;
struct sigaction g_old_int = {};
struct sigaction g_old_term = {};
struct sigaction g_old_alarm = {};

// Set on a thread inside a WaitedOnScope.
thread_local bool t_waited_on = false;

std::atomic<const char*> g_note{""};
static_assert(std::atomic<const char*>::is_always_lock_free);

extern "C" void OnInterrupt(int) {
  g_count.fetch_add(1, std::memory_order_relaxed);
  if (g_abandoning.load(std::memory_order_relaxed) > 0) ::alarm(1);
}

extern "C" void OnAlarm(int) {
  if (g_abandoning.load(std::memory_order_relaxed) == 0) return;
  const char* note = g_note.load(std::memory_order_relaxed);
  size_t length = 0;
  while (note[length] != '\0')
    ++length;  // strlen: safe only since POSIX.1-2016
  [[maybe_unused]] ssize_t written = ::write(STDERR_FILENO, note, length);
  ::_exit(130);  // as a shell reports a process ended by SIGINT
}

}  // namespace

CatchScope::CatchScope() {
  if (g_scopes++ > 0) return;
  struct sigaction action = {};
  action.sa_handler = OnInterrupt;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &g_old_int);
  sigaction(SIGTERM, &action, &g_old_term);
  action.sa_handler = OnAlarm;
  sigaction(SIGALRM, &action, &g_old_alarm);
}

CatchScope::~CatchScope() {
  if (--g_scopes > 0) return;
  sigaction(SIGINT, &g_old_int, nullptr);
  sigaction(SIGTERM, &g_old_term, nullptr);
  ::alarm(0);
  sigaction(SIGALRM, &g_old_alarm, nullptr);
}

// The scope comes after an interrupt (the work stopping, say, and closing
// what it read): its call gets the same second as one the interrupt finds.
AbandonScope::AbandonScope(const char* note) : active_(!t_waited_on) {
  if (!active_) return;
  g_note.store(note, std::memory_order_relaxed);
  g_abandoning.fetch_add(1, std::memory_order_relaxed);
  if (Interrupted()) ::alarm(1);
}

// The call returned in time: the run's own checks take the interrupt from
// here, and no alarm may end the graceful stop.
AbandonScope::~AbandonScope() {
  if (!active_) return;
  if (g_abandoning.fetch_sub(1, std::memory_order_relaxed) == 1) ::alarm(0);
}

WaitedOnScope::WaitedOnScope() { t_waited_on = true; }

WaitedOnScope::~WaitedOnScope() { t_waited_on = false; }

int InterruptCount() { return g_count.load(std::memory_order_relaxed); }

bool Interrupted() { return InterruptCount() > 0; }

void Forget() { g_count.store(0, std::memory_order_relaxed); }

}  // namespace velnor::interrupt
