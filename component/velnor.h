// The public interface of the VELNOR Log Analysis component: the collector
// class LogParser, reached through LogParserInterface, and the way a host
// creates it.
//
// A host creates one LogParser, gives it the path of an error log with
// SetErrorLogPath, and calls CollectIISLogData for one server, one service
// (web or FTP), a period of whole days and a set of sites. The call shows a
// modal progress window and returns when the run has ended, been cancelled
// or failed. Failures never reach the host: each is one line in the error
// log. The report databases must exist (`velnor init-db` makes them); the
// component only selects, appends and updates rows.
//
// What a host hears of a run and how it steers it (RunHooks: the counted
// records, the files read, the plan of each file's reading) and how the
// run is set up (RunSettings: counting in memory, the servers' Windows
// directories) are handed to the collector when it is created; this header
// declares all of it.
#ifndef VELNOR_COMPONENT_VELNOR_H_
#define VELNOR_COMPONENT_VELNOR_H_

#include <memory>
#include <string_view>

#include "collector/log_parser_interface.h"
#include "collector/run_hooks.h"
#include "collector/run_summary.h"
#include "loglocation/site_log_folder_name.h"

namespace velnor {

// The name under which the collector class is registered.
inline constexpr std::string_view kLogParserProgId =
    "VELNORLogAnalysis.LogParser";

// Registers the component's classes and the platform classes it creates by
// name ("ADODB.Connection", "ADODB.Recordset", "MSWC.IISLog"). Idempotent.
void RegisterVelnorClasses();

// Creates a LogParser whose runs report to `hooks` (whose pointers must
// outlive it) and run with `settings`, registering the classes first.
// Never null.
std::shared_ptr<LogParserInterface> CreateLogParser(RunHooks hooks = {},
                                                    RunSettings settings = {});

// The summary of the last run of a collector created by CreateLogParser.
RunSummary LastRunSummary(const LogParserInterface& parser);

}  // namespace velnor

#endif  // VELNOR_COMPONENT_VELNOR_H_
