// The signal handler only bumps a lock-free counter, which is all a handler
// may safely do. SA_RESTART keeps blocking calls in libraries (ncurses,
// SQLite, the SMB client) going instead of failing with EINTR; the loops
// that matter check the counter themselves.
#include "platform/interrupt/interrupt.h"

#include <atomic>
#include <csignal>

namespace velnor::interrupt {
namespace {

std::atomic<int> g_count{0};
static_assert(std::atomic<int>::is_always_lock_free);

int g_scopes = 0;
struct sigaction g_old_int = {};
struct sigaction g_old_term = {};

extern "C" void OnInterrupt(int) {
  g_count.fetch_add(1, std::memory_order_relaxed);
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
}

CatchScope::~CatchScope() {
  if (--g_scopes > 0) return;
  sigaction(SIGINT, &g_old_int, nullptr);
  sigaction(SIGTERM, &g_old_term, nullptr);
}

int InterruptCount() { return g_count.load(std::memory_order_relaxed); }

bool Interrupted() { return InterruptCount() > 0; }

void Forget() { g_count.store(0, std::memory_order_relaxed); }

}  // namespace velnor::interrupt
