// Sites read and counted side by side, each on a worker thread, with the
// same result as reading them one after another on the run's thread.
//
// The unit of work is a site: all of its files, in order, with one reader.
// Within a site a file's reading depends on the files before it (the
// ledger's plan of a log read under two names, the site's counter), across
// sites nothing does, so sites are the largest units that keep every
// result. Each part (site) has its own reader (with its own read-ahead),
// its own RunTally, its own error-log lines (ErrorLogCapture) and its own
// hooks (RunPart, from the host's RunPartMaker); a worker touches nothing
// else of the run: no database, no window, no shared counter but the
// atomics it publishes (records shown, files done).
//
// The run's thread does everything else, in the order of a run in
// sequence:
// - first it plans every site (its descriptor, log folder, registered or
//   listed files and reader), keeping the error-log lines of each and
//   leaving the registry's new rows for later, so that a Cancel leaves the
//   registry as a run in sequence would;
// - then, site by site: the window's texts, the site's planning lines, its
//   registry rows, then it waits for the site's worker while it keeps the
//   window alive (counter, bar, Cancel), and merges the part: its
//   error-log lines, its counts (ReportStore::AddCounts: new rows keep the
//   order they were first counted in), its hooks (RunPart::Merge), its
//   total in tblTotalAccess; then, while the workers read on, it writes
//   the counts so far where that gives the rows and error-log lines of
//   writing them at the end (ReportStore::WriteFinishedSites), looking
//   for a Cancel between batches of rows.
// A confirmed Cancel stops every worker at its next record; the part being
// waited for is merged as far as it was read, the parts after it are
// dropped, so the run is one that a run in sequence cancelled at that
// record would have made. Workers read at most one part more ahead of the
// merged ones than there are workers, so that finished parts held in
// memory stay few, yet a worker that finishes a part while the run's
// thread merges and writes the one before it (workers that began
// together end together) begins the next at once rather than waiting for
// that write.
//
// Runs that stay on the run's thread (CanReadSitesAtOnce): raw mode (each
// record is a grid row, in order), a database counted record by record
// (each record is written in the run's session), a run without a window
// (each record's counter would be an error-log line), hooks that are not
// per part, one site, sites that share a name (each reads the registry rows
// of the other) and, with part hooks, sites that share an identifier (a
// part's planner sees only its own files of the site). With the
// memory limit reached, the counts are written at the end of a site rather
// than at the record that reached it.
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "collector/collection_run.h"
#include "dbsupport/error_log.h"
#include "platform/automation/text.h"
#include "platform/forms/forms.h"
#include "platform/interrupt/interrupt.h"
#include "platform/win32/user32.h"

namespace velnor {

struct CollectionRun::SitePart {
  std::string descriptor;
  // Planned on the run's thread.
  Site site;
  automation::StringArray files;
  bool no_files = false;
  automation::StringArray register_later;
  std::vector<ErrorLogEntry> chosen_lines;  // choosing the files
  std::vector<ErrorLogEntry> reader_lines;  // making the reader
  std::unique_ptr<RunPart> hooks;
  std::shared_ptr<iislog::IISLog> reader;
  // Read by the worker; the run's thread reads these once `done`.
  RunTally tally;
  std::vector<ErrorLogEntry> read_lines;
  // Published by the worker as it reads.
  std::atomic<int32_t> shown_records{0};
  std::atomic<int32_t> files_done{0};
  // Under the workers' mutex.
  bool taken = false;
  bool done = false;

  int32_t FileCount() const {
    return no_files ? 0 : automation::UBound(files) + 1;
  }
};

// The workers of one run and what they share with the run's thread.
class CollectionRun::PartWorkers {
 public:
  using Read = std::function<void(SitePart&, const std::atomic<bool>& stop)>;

  PartWorkers(std::vector<std::unique_ptr<SitePart>>& parts, size_t count,
              Read read)
      : parts_(parts), ahead_(count + 1), read_(std::move(read)) {
    for (size_t i = 0; i < count; ++i)
      threads_.emplace_back([this] { Work(); });
  }
  ~PartWorkers() {
    Stop();
    for (std::thread& thread : threads_) thread.join();
  }

  // Waits until part `index` is read (or, once stopped, was never begun),
  // calling `tick` on this thread every 50 ms meanwhile.
  void Await(size_t index, const std::function<void()>& tick) {
    std::unique_lock lock(mutex_);
    const SitePart& part = *parts_[index];
    while (!part.done && !(stop_ && !part.taken)) {
      changed_.wait_for(lock, std::chrono::milliseconds(50));
      lock.unlock();
      tick();
      lock.lock();
    }
  }
  // Part `index` is merged: workers may read one part further.
  void Merged(size_t index) {
    {
      std::lock_guard lock(mutex_);
      merged_ = index + 1;
    }
    changed_.notify_all();
  }
  // Every worker stops at its next record and begins no other part.
  void Stop() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
  }

 private:
  void Work() {
    for (;;) {
      SitePart* part = nullptr;
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] {
          return stop_ || next_ >= parts_.size() || next_ < merged_ + ahead_;
        });
        if (stop_ || next_ >= parts_.size()) return;
        part = parts_[next_++].get();
        part->taken = true;
      }
      read_(*part, stop_);
      {
        std::lock_guard lock(mutex_);
        part->done = true;
      }
      changed_.notify_all();
    }
  }

  std::vector<std::unique_ptr<SitePart>>& parts_;
  const size_t ahead_;
  const Read read_;
  std::mutex mutex_;
  std::condition_variable changed_;
  size_t next_ = 0;    // the next part a worker takes
  size_t merged_ = 0;  // the parts merged so far
  // Written under the mutex, read by the workers at each record without it.
  std::atomic<bool> stop_ = false;
  std::vector<std::thread> threads_;
};

bool CollectionRun::CanReadSitesAtOnce(
    const automation::Collection& sites) const {
  if (workers_ < 2 || sites.Count() < 2 || state_.mblnIsCollectRawData ||
      !store_.CountsAllInMemory() || !state_.objProgressDialog) {
    return false;
  }
  const bool shared_hooks =
      hooks_.count_observer != nullptr || !hooks_.read.observers.empty() ||
      hooks_.read.planner != nullptr || hooks_.read.counters != nullptr;
  if (shared_hooks && hooks_.parts == nullptr) return false;
  std::vector<automation::StringArray> fields;
  for (const std::string& descriptor : sites) {
    fields.push_back(automation::Split(descriptor, ","));
    // A descriptor without its three fields is an error-log line of its
    // own at each step that reads it.
    if (fields.back().size() < 3) return false;
  }
  for (size_t i = 0; i < fields.size(); ++i) {
    for (size_t j = 0; j < i; ++j) {
      if (automation::EqualsIgnoringAsciiCase(fields[i][0], fields[j][0])) {
        return false;
      }
      if (hooks_.parts != nullptr && fields[i][2] == fields[j][2]) return false;
    }
  }
  return true;
}

void CollectionRun::CollectSitesAtOnce(const automation::Collection& sites) {
  std::vector<std::unique_ptr<SitePart>> parts;
  for (const std::string& descriptor : sites) {
    parts.push_back(std::make_unique<SitePart>());
    parts.back()->descriptor = descriptor;
    PlanPart(*parts.back());
  }
  const size_t at_once = std::min(parts.size(), static_cast<size_t>(workers_));
  summary_.sites_at_once = static_cast<int32_t>(at_once);
  PartWorkers workers(parts, at_once,
                      [this](SitePart& part, const std::atomic<bool>& stop) {
                        ReadPart(part, stop);
                      });
  for (size_t index = 0; index < parts.size(); ++index) {
    SitePart& part = *parts[index];
    ++summary_.sites;
    ShowSiteStart(part.site.name);
    WriteErrorLog(part.chosen_lines);
    if (!part.register_later.empty()) {
      step_([&] { RegisterLogFiles(part.site, part.register_later); });
    }
    ShowFilesStart(part.FileCount());
    WriteErrorLog(part.reader_lines);
    workers.Await(index, [&] {
      step_([&] {
        Dialog().SetReportItemDescription(
            "Processing Record # : ",
            part.shown_records.load(std::memory_order_relaxed));
      });
      ShowProgress(part.files_done.load(std::memory_order_relaxed),
                   part.FileCount());
      LookForCancel(workers);
    });
    MergePart(part);
    workers.Merged(index);
    FinishSite(part.site);
    if (CancelCheck(CheckPoint::kSite)) break;
    // Written while the workers read the sites after it; one site's rows
    // can take seconds, so a Cancel is looked for between its batches.
    if (index + 1 < parts.size()) {
      step_(
          [&] { store_.WriteFinishedSites([&] { LookForCancel(workers); }); });
    }
  }
}

void CollectionRun::LookForCancel(PartWorkers& workers) {
  if (win32::GetInputState() != 0) forms::DoEvents();
  // Once confirmed, the workers are stopped and nothing asks again.
  if (!cancel_confirmed_ && CancelCheck(CheckPoint::kRecord)) workers.Stop();
}

void CollectionRun::PlanPart(SitePart& part) {
  ErrorLogCapture capture;
  ParseSite(part.descriptor, part.site, /*show=*/false);
  part.files = ChooseLogFiles(part.site, part.no_files, &part.register_later);
  part.chosen_lines = capture.Take();
  if (hooks_.parts != nullptr) part.hooks = hooks_.parts->MakePart();
  part.reader =
      CreateReader(part.hooks ? part.hooks->read_hooks() : iislog::ReadHooks{});
  part.reader_lines = capture.Take();
}

void CollectionRun::ReadPart(SitePart& part, const std::atomic<bool>& stop) {
  ErrorLogCapture capture;
  if (part.reader && !part.no_files) {
    const SiteReading reading{
        .reader = part.reader.get(),
        .count_observer = part.hooks ? part.hooks->count_observer() : nullptr,
        .tally = &part.tally,
        .stop = &stop,
        .shown_records = &part.shown_records};
    const int32_t file_count = part.FileCount();
    for (int32_t index = 0; index < file_count; ++index) {
      ReadLogFile(part.site, part.files[static_cast<size_t>(index)], reading);
      // Ctrl+C ends the reader's file; the Cancel it clicks comes to the
      // run's thread, which stops the workers.
      if (WorkerStopped(stop) || interrupt::Interrupted()) break;
      part.files_done.store(index + 1, std::memory_order_relaxed);
    }
  }
  // The reader's last file is closed, its hooks heard all of it.
  part.reader.reset();
  part.read_lines = capture.Take();
}

void CollectionRun::MergePart(SitePart& part) {
  WriteErrorLog(part.read_lines);
  store_.AddCounts(part.tally);
  if (part.hooks) part.hooks->Merge();
  // The texts a run in sequence leaves: the counter of the site's last
  // record, the bar after its last file.
  if (part.site.record_counter > 0) {
    step_([&] {
      Dialog().SetReportItemDescription("Processing Record # : ",
                                        part.shown_records.load());
    });
  }
  ShowProgress(part.files_done.load(), part.FileCount());
}

bool CollectionRun::WorkerStopped(const std::atomic<bool>& stop) {
  return stop.load(std::memory_order_relaxed);
}

}  // namespace velnor
