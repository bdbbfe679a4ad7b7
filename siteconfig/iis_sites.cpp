// The checks that decide which configured sites can be collected, their
// order, and the choice between the two configuration readers.
#include "siteconfig/iis_sites.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <tuple>

#include "platform/automation/error_state.h"
#include "platform/automation/text.h"
#include "siteconfig/application_host.h"
#include "siteconfig/metabase.h"

namespace velnor::siteconfig {
namespace {

using automation::EqualsIgnoringAsciiCase;

bool IsNumber(std::string_view text) {
  // IIS 6 made ids of up to ten digits from a hash of the site's name.
  return !text.empty() && text.size() <= 10 &&
         text.find_first_not_of("0123456789") == std::string_view::npos;
}

std::string Quoted(std::string_view text) {
  std::string quoted;
  quoted.reserve(text.size() + 2);
  quoted += '"';
  quoted += text;
  quoted += '"';
  return quoted;
}

bool HasControlCharacter(std::string_view text) {
  return std::any_of(text.begin(), text.end(),
                     [](unsigned char c) { return c < 0x20 || c == 0x7F; });
}

// Why the name cannot travel in a line of a --sites file unchanged, or "":
// collect --discover-sites must collect exactly the sites, under exactly
// the names, that such a file from velnor sites gives.
std::string NameProblem(std::string_view name) {
  if (automation::Trim(name).empty()) {
    return "it has no name, which a site descriptor needs";
  }
  if (name.find(',') != std::string_view::npos) {
    return "its name holds a comma, which a site descriptor cannot carry";
  }
  if (HasControlCharacter(name)) {
    return "its name holds a control character (a line break or tab, say), "
           "which a line of a --sites file cannot carry";
  }
  if (name.front() == '#' || name.front() == ' ' || name.front() == '\t') {
    return "its name starts with \"#\" or a blank, which a --sites file "
           "takes for a comment or drops; give it by hand with --site";
  }
  return "";
}

// The first reason a site cannot be collected, other than the server-wide
// one and a repeated id.
std::string SiteProblem(const IisSite& site) {
  if (!IsNumber(site.id)) {
    return "its id " + Quoted(site.id) + " is not a number";
  }
  if (std::string problem = NameProblem(site.name); !problem.empty()) {
    return problem;
  }
  if (HasControlCharacter(site.log_directory)) {
    return "its log directory holds a control character (a line break or "
           "tab, say), which a line of a --sites file cannot carry";
  }
  if (site.log_directory.find(',') != std::string::npos) {
    return "its log directory " + site.log_directory +
           " holds a comma, which a site descriptor cannot carry";
  }
  return UnreachableDirectory(site.log_directory);
}

// Ids as numbers first, in numeric order; anything else after them.
auto OrderKey(const IisSite& site) {
  bool number = IsNumber(site.id);
  return std::make_tuple(site.service, !number,
                         number ? std::stoll(site.id) : 0LL);
}

}  // namespace

std::string_view ServiceWord(IisService service) {
  return service == IisService::kWeb ? "web" : "ftp";
}

// The collector puts the Windows directory in place of a leading variable,
// and the host the Windows drive in place of %SystemDrive%, so only
// variables that stand for those work.
std::string UnreachableDirectory(std::string_view directory) {
  if (directory.starts_with("\\\\") || directory.starts_with("//")) {
    return "its logs go to the network share " + std::string(directory) +
           ", not to a folder of the server";
  }
  std::string_view rest = directory;
  if (directory.starts_with("%")) {
    size_t end = directory.find('%', 1);
    std::string_view variable = directory.substr(
        1, end == std::string_view::npos ? std::string_view::npos : end - 1);
    bool known = end != std::string_view::npos &&
                 (EqualsIgnoringAsciiCase(variable, "SystemDrive") ||
                  EqualsIgnoringAsciiCase(variable, "SystemRoot") ||
                  EqualsIgnoringAsciiCase(variable, "WinDir"));
    if (!known) {
      return "its log directory " + std::string(directory) +
             " starts with a variable only the server knows";
    }
    rest = directory.substr(end + 1);
    if (!rest.empty() && rest.front() != '\\') {
      return "its log directory " + std::string(directory) +
             " does not continue with a backslash after the variable";
    }
  } else if (directory.size() < 2 ||
             !std::isalpha(static_cast<unsigned char>(directory[0])) ||
             directory[1] != ':' ||
             (directory.size() > 2 && directory[2] != '\\')) {
    return "its log directory " + Quoted(directory) +
           " is not a path that starts with a drive letter";
  }
  if (rest.find('%') != std::string_view::npos) {
    return "its log directory " + std::string(directory) +
           " holds a variable only the server knows";
  }
  return "";
}

std::vector<IisSite> IisSites::Of(IisService service) const {
  std::vector<IisSite> of;
  for (const IisSite& site : sites) {
    if (site.service == service) of.push_back(site);
  }
  return of;
}

const std::string& IisSites::UnsupportedReason(IisService service) const {
  return service == IisService::kWeb ? web_unsupported : ftp_unsupported;
}

std::string Descriptor(const IisSite& site) {
  return site.name + "," + site.log_directory + "," + site.id;
}

IisSites FinishSites(IisSites found) {
  // The collected site that took each id first; the service writes one
  // folder per id, so a second site would count it again.
  std::map<std::pair<IisService, long long>, std::string> taken;
  for (IisSite& site : found.sites) {
    // The log folder is W3SVC7 for id "07" as well.
    if (IsNumber(site.id)) site.id = std::to_string(std::stoll(site.id));
    if (site.not_collected.empty()) {
      site.not_collected = found.UnsupportedReason(site.service);
    }
    if (site.not_collected.empty()) site.not_collected = SiteProblem(site);
    if (!site.not_collected.empty()) continue;
    auto [first, inserted] =
        taken.try_emplace({site.service, std::stoll(site.id)}, site.name);
    if (!inserted) {
      site.not_collected = "site " + Quoted(first->second) +
                           ", listed before it, has the same id " + site.id +
                           " and is collected from that log folder";
    }
  }
  std::stable_sort(found.sites.begin(), found.sites.end(),
                   [](const IisSite& a, const IisSite& b) {
                     return OrderKey(a) < OrderKey(b);
                   });
  return found;
}

IisSites ReadIisSites(const XmlDocument& document, const std::string& source) {
  XmlElement root = document.Root();
  if (root.Name() == "configuration") {
    if (auto host = root.Child("system.applicationHost")) {
      return FinishSites(ReadApplicationHost(root, *host));
    }
    if (root.Child("MBProperty")) return FinishSites(ReadMetabase(root));
  }
  automation::Raise(kErrInvalidFileFormat,
                    source +
                        " is not an IIS configuration: it has neither "
                        "<configuration><system.applicationHost> (IIS 7 "
                        "and later) nor <configuration><MBProperty> "
                        "(IIS 6).");
}

}  // namespace velnor::siteconfig
