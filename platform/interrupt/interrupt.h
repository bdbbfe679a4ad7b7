// Interrupts (SIGINT, SIGTERM) as a request to stop rather than a kill.
// While they are caught, a signal only counts itself; the work in progress
// looks at the count at points of its own choosing (the event pump, the log
// reader's line loop) and ends the way a confirmed Cancel ends, so counts
// made so far are kept and totals still written.
//
// The count is process-wide and never goes down by itself: once interrupted,
// every loop that checks stops at its next check, however deep it is.
#ifndef VELNOR_PLATFORM_INTERRUPT_INTERRUPT_H_
#define VELNOR_PLATFORM_INTERRUPT_INTERRUPT_H_

namespace velnor::interrupt {

// Catches SIGINT and SIGTERM while at least one CatchScope lives. The
// dispositions in force before the first scope come back when the last one
// ends. Scopes are made and ended on one thread (the main one).
class CatchScope {
 public:
  CatchScope();
  ~CatchScope();
  CatchScope(const CatchScope&) = delete;
  CatchScope& operator=(const CatchScope&) = delete;
};

// Marks a call that may wait where no check of the count can reach (an SMB
// server that takes the connection and never answers, a pipe no one
// reads). An interrupt that comes while one lives (on any thread), or came
// before it was made, gives the call a second to return; past that the
// process ends at once, with exit status 130 after `note` (a whole line of
// static storage; the latest scope's) on standard error. Only for work that
// ending the process undoes whole: the run's databases roll back what a
// process that ended before its commit left. Does nothing on a thread
// inside a WaitedOnScope.
class AbandonScope {
 public:
  explicit AbandonScope(const char* note);
  ~AbandonScope();
  AbandonScope(const AbandonScope&) = delete;
  AbandonScope& operator=(const AbandonScope&) = delete;

 private:
  bool active_;
};

// Marks the calling thread, while it lives, as one that works for another
// thread that waits for it inside an AbandonScope of its own (a read-ahead
// thread): the waiter's second counts, not one of each call, so that a
// slow call that an interrupt finds in progress, but that returns within a
// second of the waiter's scope, does not end the process.
class WaitedOnScope {
 public:
  WaitedOnScope();
  ~WaitedOnScope();
  WaitedOnScope(const WaitedOnScope&) = delete;
  WaitedOnScope& operator=(const WaitedOnScope&) = delete;
};

// The number of interrupts caught so far. Async-signal-safe to read.
int InterruptCount();

// True once an interrupt has been caught (and not forgotten by Forget).
bool Interrupted();

// Forgets the interrupts caught so far, for a process that handled one and
// goes on with new work (a test, say).
void Forget();

}  // namespace velnor::interrupt

#endif  // VELNOR_PLATFORM_INTERRUPT_INTERRUPT_H_
