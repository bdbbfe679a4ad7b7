// What a host hands the collector it creates, for all of that collector's
// runs: the hooks that hear and steer the counting and the reading
// (RunHooks), and how the runs are set up (RunSettings). Nothing of it is
// kept per thread or per process, so collectors with hooks of their own
// can run side by side.
#ifndef VELNOR_COLLECTOR_RUN_HOOKS_H_
#define VELNOR_COLLECTOR_RUN_HOOKS_H_

#include <cstdint>
#include <functional>
#include <memory>
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

// The hooks of one part of a run (one site) that a worker reads and counts
// while other parts are read: a count observer, read observers, a planner
// and counters of its own, so that nothing a worker calls is shared with
// another thread. Made on the run's thread, used on the worker's only
// while the part is read, and then either merged or dropped on the run's
// thread.
class RunPart {
 public:
  virtual ~RunPart() = default;
  // Hears each record the part counts; may be null.
  virtual CountObserver* count_observer() = 0;
  // Handed to the part's log reader; its pointers live as long as the part.
  virtual iislog::ReadHooks read_hooks() = 0;
  // Takes in what the part heard as the run's own hooks would have heard
  // it then: parts are merged in the order a run in sequence reads them,
  // each after the parts before it. A part that is destroyed without being
  // merged (the sites after a Cancel) is as if never read.
  virtual void Merge() = 0;
};

// Makes the parts of a run that reads several sites at once.
class RunPartMaker {
 public:
  virtual ~RunPartMaker() = default;
  // The hooks of the next part, on the run's thread, in the order of the
  // parts.
  virtual std::unique_ptr<RunPart> MakePart() = 0;
};

// The pointers are not owned: each must outlive the collector given it.
struct RunHooks {
  // Hears each counted record; may be null.
  CountObserver* count_observer = nullptr;
  // Handed to each site's log reader.
  iislog::ReadHooks read;
  // Moves the progress bar instead of the files of each site; may be null.
  ProgressMeasure* progress = nullptr;
  // Makes per-site hooks, so that sites can be read side by side while
  // `count_observer` and `read` hear them; null when they cannot be. A run
  // with a count observer or read observers and no part maker reads its
  // sites one after another.
  RunPartMaker* parts = nullptr;
  // The host's status line under the progress window (see
  // forms::Presentation); empty: none.
  std::function<std::string()> status_line;
  // Called on the run's thread once a counting run has heard its last
  // record, before it writes the counts (which, into a store, the server
  // takes a while over): what the host makes of the counted records alone
  // can be made meanwhile. Empty: none.
  std::function<void()> counted;
};

struct RunSettings {
  CountingSettings counting;
  // The Windows directory of each server, for log folders given as
  // "%SystemRoot%\...".
  wmi::WindowsDirectories windows_directories;
  // The most sites read and counted at once, each on a thread of its own;
  // 1 reads them one after another on the run's thread.
  int workers = 1;
  // How the progress window is shown: in the terminal, as plain lines or
  // not at all.
  forms::BackendPreference progress_window = forms::BackendPreference::kAuto;
  // How the servers' shares are reached, for the log files and their
  // folders.
  unc::ShareAccess shares;
};

}  // namespace velnor

#endif  // VELNOR_COLLECTOR_RUN_HOOKS_H_
