// What a host hands the collector it creates, for all of that collector's
// runs: the hooks that hear and steer the counting and the reading
// (RunHooks), and how the runs are set up (RunSettings). Nothing of it is
// kept per thread or per process, so collectors with hooks of their own
// can run side by side.
#ifndef VELNOR_COLLECTOR_RUN_HOOKS_H_
#define VELNOR_COLLECTOR_RUN_HOOKS_H_

#include <cstdint>
#include <functional>
#include <string>

#include "collector/count_observer.h"
#include "platform/forms/forms.h"
#include "platform/iislog/read_hooks.h"
#include "platform/unc/unc.h"
#include "platform/wmi/wmi.h"
#include "reportstore/counting_settings.h"

namespace velnor {

// The parts of the progress bar a measure counts in.
inline constexpr int32_t kProgressParts = 1000;

// A host's own measure of how far its run is (bytes read of the bytes its
// log folders hold, say). Given one, the progress bar and the percentage
// follow it, also while a file is read, rather than the files done of each
// site, which leave a one-file site at 0% until its end.
class ProgressMeasure {
 public:
  virtual ~ProgressMeasure() = default;
  // The parts done, from 0 to kProgressParts; cheap, as the bar asks often.
  virtual int32_t PartsDone() const = 0;
};

// The pointers are not owned: each must outlive the collector given it.
struct RunHooks {
  // Hears each counted record; may be null.
  CountObserver* count_observer = nullptr;
  // Handed to each site's log reader.
  iislog::ReadHooks read;
  // Moves the progress bar instead of the files of each site; may be null.
  ProgressMeasure* progress = nullptr;
  // The host's status line under the progress window (see
  // forms::Presentation); empty: none.
  std::function<std::string()> status_line;
};

struct RunSettings {
  CountingSettings counting;
  // The Windows directory of each server, for log folders given as
  // "%SystemRoot%\...".
  wmi::WindowsDirectories windows_directories;
  // How the progress window is shown: in the terminal, as plain lines or
  // not at all.
  forms::BackendPreference progress_window = forms::BackendPreference::kAuto;
  // How the servers' shares are reached, for the log files and their
  // folders.
  unc::ShareAccess shares;
};

}  // namespace velnor

#endif  // VELNOR_COLLECTOR_RUN_HOOKS_H_
