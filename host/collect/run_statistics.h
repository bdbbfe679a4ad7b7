// The statistics' side of a run: hears each record the run counts, keeps
// its statistics per site and day (statistics/day_statistics.h) and passes
// the record on, so that the ledger hears exactly the records the
// statistics keep.
#ifndef VELNOR_HOST_COLLECT_RUN_STATISTICS_H_
#define VELNOR_HOST_COLLECT_RUN_STATISTICS_H_

#include <cstdint>
#include <future>
#include <memory>

#include "component/velnor.h"
#include "statistics/day_statistics.h"
#include "statistics/statistics_store.h"

namespace velnor::host {

class RunStatisticsObserver : public CountObserver {
 public:
  // `ftp`: the run reads FTP logs. Each record goes on to `next` (the
  // ledger), which must outlive this.
  RunStatisticsObserver(bool ftp, CountObserver* next)
      : statistics_(ftp), next_(next) {}

  void RecordCounted(const CountedRecord& record) override;

  // An empty observer for one part of the run (a site read beside others),
  // passing its records on to `next` (the part's ledger), which must outlive
  // it; merged into this one with Merge, the parts in the order of the run.
  std::unique_ptr<RunStatisticsObserver> MakePart(CountObserver* next) const;
  // Takes in what `part` kept, as the part of the run that came after.
  void Merge(const RunStatisticsObserver& part);

  const statistics::RunStatistics& statistics() const { return statistics_; }

  // Starts making the rows of run `run_id` for the statistics tables on a
  // thread of their own, once the run has heard its last record: they
  // depend on nothing else, and a store's server meanwhile takes the
  // counts. The observer must hear and merge nothing more.
  void PackInBackground(int64_t run_id);
  // The rows of run `run_id`: those PackInBackground makes (for the same
  // run), waited for, or made now when it was not called.
  statistics::RunRows Rows(int64_t run_id);

 private:
  statistics::RunStatistics statistics_;
  CountObserver* next_;
  // Last, so that it is waited for before what it reads is destroyed.
  std::future<statistics::RunRows> packing_;
};

}  // namespace velnor::host

#endif  // VELNOR_HOST_COLLECT_RUN_STATISTICS_H_
