// Files in a site's log folder that a run will not read because the server
// keeps a log-file registry and they are not in it: a new day's log after a
// --refresh-registry run, or a whole folder of a site that was never
// registered. Found before the run, so that the summary can say so instead
// of reporting "0 records" as if the site had no traffic; registered on
// request, so that the run reads them.
#ifndef VELNOR_HOST_COLLECT_UNREGISTERED_FILES_H_
#define VELNOR_HOST_COLLECT_UNREGISTERED_FILES_H_

#include <functional>
#include <string>
#include <vector>

#include "host/collect/log_folders.h"
#include "reportdb/log_file_registry.h"

namespace velnor::host {

struct UnregisteredFiles {
  const SiteFolder* site = nullptr;
  std::vector<std::string> names;  // in the folder's order
  // Those of `names` that may hold records of the run's window: the ones
  // the run misses.
  std::vector<std::string> in_window;
  std::string newest;  // of `in_window`, by modification time
  // The site has registered files, so only registering the new ones gets
  // them read; otherwise --log-site-level reads the whole folder.
  bool site_registered = false;
};

// Whether the file `name` of the site whose folder is `folder` may hold
// records of the days the run counts for that site.
using InWindow =
    std::function<bool(const SiteFolder& folder, const std::string& name)>;

// The files of each listed folder of `folders` that a run with these flags
// will skip, with those of them that `in_window` keeps. Empty when
// `server` has no registered file at all (the run then reads every folder
// whole).
std::vector<UnregisteredFiles> FindUnregisteredFiles(
    reportdb::LogFileRegistry& registry, const std::string& server,
    const std::vector<SiteFolder>& folders, bool log_site_level,
    bool refresh_registry, const InWindow& in_window);

// The summary's line for the files of `files` in the window (there must be
// one): the site, how many files, the newest and the option that gets them
// read.
std::string UnregisteredNote(const UnregisteredFiles& files);

}  // namespace velnor::host

#endif  // VELNOR_HOST_COLLECT_UNREGISTERED_FILES_H_
