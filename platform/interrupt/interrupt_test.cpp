// Interrupts as the work sees them: counted, and ending the process only
// where an AbandonScope marks a call that does not return within a second
// of one. Each case runs in a child process (a death test), since the
// interrupt that ends a call ends its process.
#include "platform/interrupt/interrupt.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace velnor::interrupt {
namespace {

using std::chrono::milliseconds;
using ::testing::ExitedWithCode;

constexpr char kNote[] = "abandoned the call\n";

// A call that takes `time` inside an AbandonScope.
void CallTaking(milliseconds time) {
  AbandonScope abandon(kNote);
  std::this_thread::sleep_for(time);
}

class InterruptTest : public ::testing::Test {
 protected:
  // The children start as threads of a process that has threads.
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(InterruptTest, ACallThatOutlastsAnInterruptBySecondsEndsTheProcess) {
  // The interrupt comes while the call waits.
  EXPECT_EXIT(
      {
        CatchScope catching;
        std::thread([] {
          std::this_thread::sleep_for(milliseconds(100));
          ::kill(::getpid(), SIGINT);
        }).detach();
        CallTaking(milliseconds(10000));
        std::_Exit(0);
      },
      ExitedWithCode(130), "abandoned the call");
  // The interrupt came first: the work, stopping, makes a call that hangs.
  EXPECT_EXIT(
      {
        CatchScope catching;
        ::raise(SIGTERM);
        CallTaking(milliseconds(10000));
        std::_Exit(0);
      },
      ExitedWithCode(130), "abandoned the call");
}

TEST_F(InterruptTest, ACallThatReturnsInTimeOrIsWaitedOnKeepsTheProcess) {
  // Returned within its second: no alarm is left to end the stop later.
  EXPECT_EXIT(
      {
        CatchScope catching;
        ::raise(SIGINT);
        CallTaking(milliseconds(300));
        std::this_thread::sleep_for(milliseconds(1500));
        std::_Exit(Interrupted() ? 0 : 1);
      },
      ExitedWithCode(0), "");
  // On a thread another waits for, a call's own scope gives no second of
  // its own: only the waiter's counts.
  EXPECT_EXIT(
      {
        CatchScope catching;
        ::raise(SIGINT);
        std::thread([] {
          WaitedOnScope waited_on;
          CallTaking(milliseconds(1500));
        }).join();
        std::_Exit(0);
      },
      ExitedWithCode(0), "");
}

}  // namespace
}  // namespace velnor::interrupt
