// What a host hands the collector it creates, for all of that collector's
// runs: the hooks that hear and steer the counting and the reading
// (RunHooks), and how the runs are set up (RunSettings). Nothing of it is
// kept per thread or per process, so collectors with hooks of their own
// can run side by side.
#ifndef VELNOR_COLLECTOR_RUN_HOOKS_H_
#define VELNOR_COLLECTOR_RUN_HOOKS_H_

#include "collector/count_observer.h"
#include "platform/iislog/read_hooks.h"
#include "platform/wmi/wmi.h"
#include "reportstore/counting_settings.h"

namespace velnor {

// The pointers are not owned: each must outlive the collector given it.
struct RunHooks {
  // Hears each counted record; may be null.
  CountObserver* count_observer = nullptr;
  // Handed to each site's log reader.
  iislog::ReadHooks read;
};

struct RunSettings {
  CountingSettings counting;
  // The Windows directory of each server, for log folders given as
  // "%SystemRoot%\...".
  wmi::WindowsDirectories windows_directories;
};

}  // namespace velnor

#endif  // VELNOR_COLLECTOR_RUN_HOOKS_H_
