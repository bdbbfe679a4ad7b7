// The run state of a LogParser: the fields CollectIISLogData stores from its
// arguments and the collection run, the report store and the log location
// read. They outlive a run: the next CollectIISLogData overwrites all of
// them except the grid and the site collection, which only set arguments
// replace.
#ifndef VELNOR_COLLECTOR_RUN_STATE_H_
#define VELNOR_COLLECTOR_RUN_STATE_H_

#include <memory>
#include <string>

#include "platform/automation/collection.h"
#include "platform/automation/object.h"
#include "progress/processing_dialog.h"

namespace velnor {

struct RunState {
  // A Cancel click is pending: set by the click, cleared when the user
  // declines the confirmation, left set when the user confirms.
  bool mblnCancelRequested = false;
  std::string mstrServerName;
  double mdtStartDate = 0;  // OLE dates; the run uses their date parts
  double mdtEndDate = 0;
  bool mblnIsFTPCollection = false;
  bool mblnRefreshDateInServerLevel = false;
  bool mblnLogSitelevel = false;
  std::string mstrAppPath;  // always ends with "\"
  bool mblnIsCollectRawData = false;
  automation::ObjectRef mobjGrd;  // released by every run
  std::shared_ptr<automation::Collection> mcolSiteCollection;
  std::shared_ptr<ProcessingDialog> objProgressDialog;
};

}  // namespace velnor

#endif  // VELNOR_COLLECTOR_RUN_STATE_H_
