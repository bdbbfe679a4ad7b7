// The statistics' side of a run: hears each record the run counts, keeps
// its statistics per site and day (statistics/day_statistics.h) and passes
// the record on, so that the ledger hears exactly the records the
// statistics keep.
#ifndef VELNOR_HOST_COLLECT_RUN_STATISTICS_H_
#define VELNOR_HOST_COLLECT_RUN_STATISTICS_H_

#include <memory>

#include "component/velnor.h"
#include "statistics/day_statistics.h"

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

 private:
  statistics::RunStatistics statistics_;
  CountObserver* next_;
};

}  // namespace velnor::host

#endif  // VELNOR_HOST_COLLECT_RUN_STATISTICS_H_
