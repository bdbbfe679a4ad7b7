// The host's own account of a run in progress, for the status line under
// the progress dialog and the plain progress lines: the file being read,
// how far into the site's files the run is (bytes read of the bytes its
// folder listed), records per second and an estimate of the time left; and
// the measure the dialog's bar and percentage follow, the bytes read of the
// bytes every site's folder listed. It
// watches the log reader (never a call per record) and also turns each
// file's garbled-line count into one error-log line, so that skipped lines
// are never lost silently.
#ifndef VELNOR_HOST_COLLECT_RUN_PROGRESS_H_
#define VELNOR_HOST_COLLECT_RUN_PROGRESS_H_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "component/velnor.h"
#include "host/collect/log_folders.h"

namespace velnor::host {

class RunProgress : public iislog::ReadObserver, public ProgressMeasure {
 public:
  // Composes the window's status line from what it hears as a read observer
  // and from `counters`, the totals of the readers it hears. `folders` (the
  // survey of the run's sites, in order) and `counters` must outlive this
  // object.
  RunProgress(const std::vector<SiteFolder>& folders,
              const iislog::ReadCounters& counters);
  RunProgress(const RunProgress&) = delete;
  RunProgress& operator=(const RunProgress&) = delete;

  // "u_ex240604.log: 12.3 of 48.0 MB, 210000 records/s, ~3 s left": the
  // file, the bytes read of the site's listed bytes, the rate of records
  // read and the time the rest of the run's listed bytes will take at the
  // rate so far; with sites read side by side (MakePart), "all sites" and
  // the bytes read of everything listed. Empty before the first file; what
  // cannot be known yet (the rate in the first second) is left out.
  std::string StatusLine() const;

  // The listed bytes of the sites before the one being read and the bytes
  // read of that one (never more than its folder listed), in parts of
  // everything listed; 0 while nothing is listed.
  int32_t PartsDone() const override;

  void FileOpened(std::string_view path) override;
  void ChunkRead() override;
  void FileClosed(const iislog::FileReadReport& report) override;

  // The observer of one site of a run that reads sites side by side (a
  // RunPart's), on its worker's thread: its reader adds to `counters`,
  // which it adds to this progress at each chunk; it names the file being
  // read, and writes the site's garbled-line lines. Once a part is made,
  // the line and the measure follow the bytes every part read of
  // everything listed.
  class Part : public iislog::ReadObserver {
   public:
    explicit Part(RunProgress& progress) : progress_(progress) {}
    void FileOpened(std::string_view path) override;
    void ChunkRead() override;
    void FileClosed(const iislog::FileReadReport& report) override;

    iislog::ReadCounters counters;

   private:
    RunProgress& progress_;
    iislog::ReadCounters published_;
  };
  std::unique_ptr<Part> MakePart();

 private:
  using Clock = std::chrono::steady_clock;

  // What every reader read: the counters', and the parts'.
  iislog::ReadCounters Totals() const;
  std::string FileName() const;

  const std::vector<SiteFolder>& folders_;
  const iislog::ReadCounters& counters_;
  uint64_t listed_bytes_ = 0;  // of every folder, each counted once
  Clock::time_point started_;
  iislog::ReadCounters at_start_;
  // Listed bytes done: the folders before the site read, and of its own.
  uint64_t DoneBytes() const;

  std::string file_;  // name of the file being read
  size_t site_ = 0;   // index in folders_ of that file's folder
  bool site_known_ = false;
  uint64_t done_before_site_ = 0;  // listed bytes of the folders before it
  int64_t bytes_at_site_start_ = 0;

  // Sites are read side by side (MakePart): what their readers read, and
  // the name of the file opened last, which the workers write.
  std::atomic<bool> parts_ = false;
  std::atomic<int64_t> part_bytes_ = 0;
  std::atomic<int64_t> part_records_ = 0;
  mutable std::mutex file_mutex_;
};

}  // namespace velnor::host

#endif  // VELNOR_HOST_COLLECT_RUN_PROGRESS_H_
