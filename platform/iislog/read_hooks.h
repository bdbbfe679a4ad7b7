// Everything a host hands a reader to hear and steer its reading: the
// observers, the planner and the counters. A reader has its own hooks
// (IISLog::SetHooks), so readers on different threads, each with hooks of
// their own, share nothing.
#ifndef VELNOR_PLATFORM_IISLOG_READ_HOOKS_H_
#define VELNOR_PLATFORM_IISLOG_READ_HOOKS_H_

#include <vector>

#include "platform/iislog/read_observer.h"
#include "platform/iislog/read_plan.h"

namespace velnor::iislog {

// The pointers are not owned: each must outlive the readers given it.
struct ReadHooks {
  // Hear every event, in this order; none may be null.
  std::vector<ReadObserver*> observers;
  // Plans every file the reader opens; null reads every file whole.
  ReadPlanner* planner = nullptr;
  // Totals the reader adds to; null counts nothing.
  ReadCounters* counters = nullptr;
};

}  // namespace velnor::iislog

#endif  // VELNOR_PLATFORM_IISLOG_READ_HOOKS_H_
