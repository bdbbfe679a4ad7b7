// Class registration and creation: the component's classes and the
// platform classes the run creates by name.
#include "component/velnor.h"

#include <mutex>
#include <utility>

#include "collector/log_parser.h"
#include "platform/ado/ado.h"
#include "platform/iislog/iis_log.h"

namespace velnor {

void RegisterVelnorClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    ado::RegisterClasses();
    iislog::RegisterClasses();
    automation::RegisterClass(std::string(kLogParserProgId),
                              [] { return std::make_shared<LogParser>(); });
  });
}

std::shared_ptr<LogParserInterface> CreateLogParser(RunHooks hooks,
                                                    RunSettings settings) {
  RegisterVelnorClasses();
  return std::make_shared<LogParser>(std::move(hooks), std::move(settings));
}

RunSummary LastRunSummary(const LogParserInterface& parser) {
  auto* log_parser = dynamic_cast<const LogParser*>(&parser);
  return log_parser ? log_parser->last_run() : RunSummary{};
}

}  // namespace velnor
