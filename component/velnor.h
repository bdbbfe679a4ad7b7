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
#ifndef VELNOR_COMPONENT_VELNOR_H_
#define VELNOR_COMPONENT_VELNOR_H_

#include <memory>
#include <string_view>

#include "collector/log_parser_interface.h"
#include "collector/run_summary.h"

namespace velnor {

// The name under which the collector class is registered.
inline constexpr std::string_view kLogParserProgId =
    "VELNORLogAnalysis.LogParser";

// Registers the component's classes and the platform classes it creates by
// name ("ADODB.Connection", "ADODB.Recordset", "MSWC.IISLog"). Idempotent.
void RegisterVelnorClasses();

// Creates a LogParser by its registered name, registering the classes
// first. Never null.
std::shared_ptr<LogParserInterface> CreateLogParser();

// The summary of the last run of a collector created by CreateLogParser.
RunSummary LastRunSummary(const LogParserInterface& parser);

}  // namespace velnor

#endif  // VELNOR_COMPONENT_VELNOR_H_
