// The comparison is the run's: names without regard to case, as the
// registry and Windows compare them.
#include "host/collect/unregistered_files.h"

#include <set>

#include "host/common/command_support.h"
#include "platform/automation/text.h"

namespace velnor::host {

std::vector<UnregisteredFiles> FindUnregisteredFiles(
    reportdb::LogFileRegistry& registry, const std::string& server,
    const std::vector<SiteFolder>& folders, bool log_site_level,
    bool refresh_registry, const InWindow& in_window) {
  std::vector<UnregisteredFiles> found;
  if (registry.ServerFileCount(server) == 0) return found;
  for (const SiteFolder& folder : folders) {
    if (!folder.listed || folder.files.empty()) continue;
    std::vector<std::string> registered = registry.SiteFiles(folder.site_name);
    // A site without registrations reads its whole folder with either flag.
    if (registered.empty() && (log_site_level || refresh_registry)) continue;
    std::set<std::string, automation::LessIgnoringAsciiCase> known(
        registered.begin(), registered.end());
    UnregisteredFiles files{&folder, {}, {}, "", !registered.empty()};
    int64_t newest_time = 0;
    for (const unc::DirEntry& file : folder.files) {
      if (known.contains(file.name)) continue;
      files.names.push_back(file.name);
      if (!in_window(folder, file.name)) continue;
      files.in_window.push_back(file.name);
      if (files.newest.empty() || file.modified_time > newest_time) {
        files.newest = file.name;
        newest_time = file.modified_time;
      }
    }
    if (!files.names.empty()) found.push_back(std::move(files));
  }
  return found;
}

std::string UnregisteredNote(const UnregisteredFiles& files) {
  const size_t count = files.in_window.size();
  const bool one = count == 1;
  std::string note =
      "site " + Shown(files.site->identifier) + " (" +
      Shown(files.site->site_name) + "): " + std::to_string(count) +
      (one ? " log file" : " log files") + " in " + Shown(files.site->folder) +
      (one ? " is" : " are") + " not registered (newest " +
      Shown(files.newest) + ") and " + (one ? "was" : "were") + " not read; ";
  note += files.site_registered
              ? "--register-new-files registers and reads " +
                    std::string(one ? "it" : "them")
              : "--log-site-level reads the folder (--refresh-registry also "
                "registers it)";
  return note;
}

}  // namespace velnor::host
