// Discovery of a server's sites, the Windows directory it feeds to the WMI
// stand-in, and the choice of sites for a collect run.
#include "siteconfig/site_discovery.h"

#include <algorithm>
#include <set>

#include "platform/automation/error_state.h"
#include "platform/automation/text.h"

namespace velnor::siteconfig {
namespace {

// Fills `refusal` and returns false, so a check reads `return Refuse(...)`.
bool Refuse(Refusal& refusal, std::string problem, std::string help) {
  refusal = {std::move(problem), std::move(help)};
  return false;
}

// Runs `step`; on an error refuses with `problem`: <the error's
// description> and `help`.
template <class Step>
bool Attempt(Step&& step, const std::string& problem, const std::string& help,
             Refusal& refusal) {
  if (automation::ResumeNext(std::forward<Step>(step))) return true;
  std::string reason = automation::Err().Description();
  automation::Err().Clear();
  return Refuse(refusal, problem + ": " + reason, help);
}

std::string SiteLabel(const IisSite& site) {
  return std::string(ServiceWord(site.service)) + " site " + site.id + " \"" +
         site.name + "\"";
}

// The ids of "1,3"; false for anything else.
bool ParseIds(const std::string& text, std::set<std::string>& ids) {
  std::string_view rest = text;
  while (true) {
    size_t comma = rest.find(',');
    std::string_view id = automation::Trim(rest.substr(0, comma));
    if (id.empty() || id.find_first_not_of("0123456789") != id.npos) {
      return false;
    }
    // "01" is site 1, as IIS has it.
    size_t first = std::min(id.find_first_not_of('0'), id.size() - 1);
    ids.emplace(id.substr(first));
    if (comma == std::string_view::npos) return true;
    rest.remove_prefix(comma + 1);
  }
}

std::string IdList(const std::vector<IisSite>& sites) {
  std::string list;
  for (const IisSite& site : sites)
    list += (list.empty() ? "" : ", ") + site.id;
  return list.empty() ? "none" : list;
}

// The sites of `service` chosen by `site_ids` (every one when empty);
// false after a refusal for an id that is missing or not collected.
bool ChooseSites(const std::string& server, IisService service,
                 const std::vector<IisSite>& of_service,
                 const std::string& site_ids, std::vector<IisSite>& chosen,
                 Refusal& refusal) {
  std::set<std::string> ids;
  if (!site_ids.empty() && !ParseIds(site_ids, ids)) {
    return Refuse(refusal,
                  "--site-id " + site_ids + " is not a list of site ids",
                  "write the ids separated by commas, like 1,3");
  }
  for (const IisSite& site : of_service) {
    if ((ids.empty() || ids.contains(site.id)) && site.not_collected.empty()) {
      chosen.push_back(site);
    }
  }
  const std::string word(ServiceWord(service));
  for (const std::string& id : ids) {
    auto same_id = [&](const IisSite& site) { return site.id == id; };
    if (std::any_of(chosen.begin(), chosen.end(), same_id)) continue;
    auto site = std::find_if(of_service.begin(), of_service.end(), same_id);
    if (site == of_service.end()) {
      return Refuse(refusal,
                    "--site-id: " + server + " has no " + word +
                        " site with the id " + id,
                    "its " + word + " sites have the ids " +
                        IdList(of_service) + "; velnor sites --server " +
                        server + " lists them");
    }
    return Refuse(refusal,
                  "--site-id: " + SiteLabel(*site) + " of " + server +
                      " cannot be collected: " + site->not_collected,
                  "leave its id out of --site-id");
  }
  return true;
}

}  // namespace

bool DiscoverSites(const unc::ShareAccess& shares, const std::string& server,
                   wmi::WindowsDirectories& windows_directories,
                   Discovery& discovery, Refusal& refusal) {
  const std::string given = windows_directories.Of(server);
  discovery.windows_directory_given = !given.empty();
  const std::string find_help =
      given.empty()
          ? "give the server's Windows directory with --windows-dir " + server +
                "=C:\\Windows, or check the share root or SMB "
                "credentials"
          : "check --windows-dir " + server + "=" + given +
                ", or leave it out to search the drives C$ to Z$";
  if (!Attempt(
          [&] { discovery.config = FindServerConfig(shares, server, given); },
          "cannot find the IIS configuration of " + server, find_help,
          refusal)) {
    return false;
  }
  if (given.empty()) {
    windows_directories.Set(server, discovery.config.windows_directory);
  }
  return Attempt(
      [&] { discovery.sites = ReadServerSites(shares, discovery.config.path); },
      "cannot read the IIS configuration of " + server,
      "repair the file on the server, or give the sites with --site or "
      "--sites",
      refusal);
}

std::vector<std::string> DiscoveryNotes(const std::string& server,
                                        const Discovery& discovery) {
  const std::string& windows = discovery.config.windows_directory;
  return {
      "sites of " + server + " read from " + discovery.config.path,
      "Windows directory of " + server + ": " + windows +
          (discovery.windows_directory_given
               ? " (given)"
               : " (found on " + windows.substr(0, 1) + "$)"),
  };
}

bool AddDiscoveredSites(const unc::ShareAccess& shares,
                        const std::string& server, bool ftp,
                        const std::string& site_ids,
                        wmi::WindowsDirectories& windows_directories,
                        std::vector<std::string>& sites,
                        std::vector<std::string>& notes, Refusal& refusal) {
  Discovery discovery;
  if (!DiscoverSites(shares, server, windows_directories, discovery, refusal)) {
    return false;
  }
  const IisService service = ftp ? IisService::kFtp : IisService::kWeb;
  const std::string word(ServiceWord(service));
  const std::string& unsupported = discovery.sites.UnsupportedReason(service);
  if (!unsupported.empty()) {
    return Refuse(refusal,
                  "the " + word + " sites of " + server +
                      " cannot be collected: " + unsupported,
                  "read from " + discovery.config.path);
  }
  const std::vector<IisSite> of_service = discovery.sites.Of(service);
  std::vector<IisSite> chosen;
  if (!ChooseSites(server, service, of_service, site_ids, chosen, refusal)) {
    return false;
  }
  if (chosen.empty()) {
    return Refuse(refusal,
                  server + " has no " + word + " site that can be collected",
                  "velnor sites --server " + server + (ftp ? " --ftp" : "") +
                      " lists the sites found and why each is left out");
  }
  std::vector<std::string> found = DiscoveryNotes(server, discovery);
  notes.insert(notes.end(), found.begin(), found.end());
  for (const IisSite& site : of_service) {
    if (site_ids.empty() && !site.not_collected.empty()) {
      notes.push_back("not collected: " + SiteLabel(site) + ": " +
                      site.not_collected);
    }
  }
  for (const IisSite& site : chosen) {
    sites.push_back(Descriptor(site));
  }
  return true;
}

}  // namespace velnor::siteconfig
