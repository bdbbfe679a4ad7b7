// The observer keeps positions only; the line is composed when a backend
// shows it, at most some thirty times a second.
#include "host/collect/run_progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

#include "dbsupport/error_log.h"
#include "host/common/command_support.h"
#include "platform/automation/text.h"
#include "platform/forms/forms.h"

namespace velnor::host {
namespace {

std::string Megabytes(uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", static_cast<double>(bytes) / 1e6);
  return text;
}

std::string Duration(double seconds) {
  const long s = std::lround(seconds);
  if (s < 60) return std::to_string(s) + " s";
  if (s < 3600) {
    return std::to_string(s / 60) + " min " + std::to_string(s % 60) + " s";
  }
  return std::to_string(s / 3600) + " h " + std::to_string(s / 60 % 60) +
         " min";
}

// The error-log line of a file's garbled lines, if it had any.
void WriteSkippedLines(const iislog::FileReadReport& report) {
  if (report.skipped_lines == 0) return;
  const bool one = report.skipped_lines == 1;
  WriteErrorLog(
      0,
      std::to_string(report.skipped_lines) + (one ? " line" : " lines") +
          " of " + report.path + (one ? " is" : " are") +
          " not a record of the log's #Fields layout and " +
          (one ? "was" : "were") + " skipped; the first is line " +
          std::to_string(report.first_skipped_line) +
          ". Look at the file there: a cut-off or garbled line, or records "
          "that do not match the #Fields line above them.",
      "velnor collect", "ReadLogFile");
}

}  // namespace

RunProgress::RunProgress(const std::vector<SiteFolder>& folders,
                         const iislog::ReadCounters& counters)
    : folders_(folders),
      counters_(counters),
      started_(Clock::now()),
      at_start_(counters) {
  std::set<std::string> seen;
  for (const SiteFolder& folder : folders_) {
    if (seen.insert(folder.folder).second) listed_bytes_ += folder.bytes;
  }
}

void RunProgress::FileOpened(std::string_view path) {
  const FileInFolder in_folder = FindFileFolder(folders_, path);
  file_ = in_folder.name;
  if (site_known_ && in_folder.folder != nullptr &&
      automation::EqualsIgnoringAsciiCase(folders_[site_].folder,
                                          in_folder.folder->folder)) {
    return;
  }
  // A new site: the folders before it count as done, read or not.
  site_known_ = in_folder.folder != nullptr;
  if (site_known_)
    site_ = static_cast<size_t>(in_folder.folder - folders_.data());
  done_before_site_ = 0;
  std::set<std::string> seen;
  for (size_t i = 0; site_known_ && i < site_; ++i) {
    if (seen.insert(folders_[i].folder).second) {
      done_before_site_ += folders_[i].bytes;
    }
  }
  bytes_at_site_start_ = counters_.bytes;
}

void RunProgress::ChunkRead() { forms::StatusChanged(); }

void RunProgress::FileClosed(const iislog::FileReadReport& report) {
  WriteSkippedLines(report);
}

std::unique_ptr<RunProgress::Part> RunProgress::MakePart() {
  parts_ = true;
  return std::make_unique<Part>(*this);
}

void RunProgress::Part::FileOpened(std::string_view path) {
  std::lock_guard lock(progress_.file_mutex_);
  progress_.file_ = FindFileFolder(progress_.folders_, path).name;
}

void RunProgress::Part::ChunkRead() {
  progress_.part_bytes_ += counters.bytes - published_.bytes;
  progress_.part_records_ += counters.records - published_.records;
  published_ = counters;
}

void RunProgress::Part::FileClosed(const iislog::FileReadReport& report) {
  ChunkRead();
  WriteSkippedLines(report);
}

iislog::ReadCounters RunProgress::Totals() const {
  return {counters_.bytes + part_bytes_, counters_.records + part_records_};
}

std::string RunProgress::FileName() const {
  std::lock_guard lock(file_mutex_);
  return file_;
}

uint64_t RunProgress::DoneBytes() const {
  if (parts_) return static_cast<uint64_t>(part_bytes_.load());
  if (file_.empty()) return 0;
  const auto site_read =
      static_cast<uint64_t>(counters_.bytes - bytes_at_site_start_);
  return done_before_site_ +
         (site_known_ ? std::min(site_read, folders_[site_].bytes) : 0);
}

int32_t RunProgress::PartsDone() const {
  if (listed_bytes_ == 0) return 0;
  const uint64_t done = std::min(DoneBytes(), listed_bytes_);
  return static_cast<int32_t>(static_cast<double>(done) /
                              static_cast<double>(listed_bytes_) *
                              kProgressParts);
}

std::string RunProgress::StatusLine() const {
  const std::string file = FileName();
  if (file.empty()) return "";
  const iislog::ReadCounters now = Totals();
  // Sites read side by side are one span of everything listed, which no
  // one file's name would tell.
  const bool site_known = site_known_ || parts_;
  std::string line = (parts_ ? std::string("all sites") : Shown(file)) + ": ";
  if (parts_) {
    line += Megabytes(DoneBytes()) + " of " + Megabytes(listed_bytes_);
  } else {
    line += Megabytes(static_cast<uint64_t>(now.bytes - bytes_at_site_start_));
    if (site_known_) line += " of " + Megabytes(folders_[site_].bytes);
  }
  line += " MB";
  const double seconds =
      std::chrono::duration<double>(Clock::now() - started_).count();
  if (seconds < 1) return line;
  char rate[48];
  std::snprintf(rate, sizeof rate, ", %.0f records/s",
                static_cast<double>(now.records - at_start_.records) / seconds);
  line += rate;
  const double bytes_per_second =
      static_cast<double>(now.bytes - at_start_.bytes) / seconds;
  const uint64_t done = DoneBytes();
  if (site_known && bytes_per_second > 0 && done <= listed_bytes_) {
    line +=
        ", ~" +
        Duration(static_cast<double>(listed_bytes_ - done) / bytes_per_second) +
        " left";
  }
  return line;
}

}  // namespace velnor::host
