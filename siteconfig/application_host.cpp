// applicationHost.config: sites, their bindings and log settings, and the
// server's central logging modes.
#include "siteconfig/application_host.h"

#include "platform/automation/text.h"

namespace velnor::siteconfig {
namespace {

using automation::EqualsIgnoringAsciiCase;

bool ContainsFolded(std::string_view text, std::string_view part) {
  for (size_t i = 0; i + part.size() <= text.size(); ++i) {
    if (EqualsIgnoringAsciiCase(text.substr(i, part.size()), part)) return true;
  }
  return false;
}

// A <logFile> element of a site and the one of <siteDefaults> it inherits
// from; either may be missing.
struct LogFileSetting {
  std::optional<XmlElement> own;
  std::optional<XmlElement> defaults;

  // The attribute as IIS takes it: the site's, else the default's, else
  // `fallback`. An empty value counts as none.
  std::string Get(const char* attribute, const char* fallback) const {
    for (const auto& element : {own, defaults}) {
      if (!element) continue;
      std::string value = element->Attribute(attribute).value_or("");
      if (!value.empty()) return value;
    }
    return fallback;
  }
};

std::optional<XmlElement> ChildOf(const std::optional<XmlElement>& element,
                                  std::string_view name) {
  return element ? element->Child(name) : std::nullopt;
}

std::string Attribute(const std::optional<XmlElement>& element,
                      const char* name) {
  if (!element) return "";
  return element->Attribute(name).value_or("");
}

// Why the <logFile> settings keep a site's web logs from being collected,
// or "".
std::string WebLoggingProblem(const LogFileSetting& log) {
  if (EqualsIgnoringAsciiCase(log.Get("enabled", "true"), "false")) {
    return "logging is off (logFile enabled=\"false\")";
  }
  std::string format = log.Get("logFormat", "W3C");
  if (!EqualsIgnoringAsciiCase(format, "W3C")) {
    return "it logs in the " + format +
           " format, not W3C (logFile logFormat=\"" + format + "\")";
  }
  std::string target = log.Get("logTargetW3C", "File");
  if (!ContainsFolded(target, "File")) {
    return "it logs to event tracing only, not to files (logFile "
           "logTargetW3C=\"" +
           target + "\")";
  }
  return "";
}

std::string FtpLoggingProblem(const LogFileSetting& log) {
  if (EqualsIgnoringAsciiCase(log.Get("enabled", "true"), "false")) {
    return "FTP logging is off (ftpServer logFile enabled=\"false\")";
  }
  return "";
}

std::string WebCentralLogging(const std::optional<XmlElement>& log) {
  std::string mode = Attribute(log, "centralLogFileMode");
  if (EqualsIgnoringAsciiCase(mode, "CentralW3C")) {
    return "the server writes one central W3C log for all its web sites "
           "(centralLogFileMode=\"CentralW3C\"), which has no log folder per "
           "site; switch IIS to one log file per site to collect them";
  }
  if (EqualsIgnoringAsciiCase(mode, "CentralBinary")) {
    return "the server writes one central binary log for all its web sites "
           "(centralLogFileMode=\"CentralBinary\"), which is not W3C text; "
           "switch IIS to one W3C log file per site to collect them";
  }
  return "";
}

std::string FtpCentralLogging(const std::optional<XmlElement>& log) {
  if (!EqualsIgnoringAsciiCase(Attribute(log, "centralLogFileMode"), "Central"))
    return "";
  return "the server writes one central log for all its FTP sites "
         "(system.ftpServer log centralLogFileMode=\"Central\"), which has no "
         "log folder per site; switch IIS to one log file per site to "
         "collect them";
}

// The dontLog setting of <system.webServer><httpLogging> in `scope` (the
// root or a <location>), or "" when it has none.
std::string DontLog(const std::optional<XmlElement>& scope) {
  return Attribute(ChildOf(ChildOf(scope, "system.webServer"), "httpLogging"),
                   "dontLog");
}

// True when the HTTP logging module is told not to log the site `name`:
// by a <location path="name"> or, without one that says otherwise, by the
// server's own setting: at the root or in a <location path=""> (or "."),
// which IIS takes for the server itself and writes to unlock a section.
bool HttpLoggingOff(XmlElement configuration, const std::string& name) {
  std::string server = DontLog(configuration);
  for (const XmlElement& location : configuration.Children()) {
    if (location.Name() != "location") continue;
    std::string path = location.Attribute("path").value_or("");
    while (path.ends_with("/")) path.pop_back();
    std::string dont_log = DontLog(location);
    if (dont_log.empty()) continue;
    if (EqualsIgnoringAsciiCase(path, name)) {
      return EqualsIgnoringAsciiCase(dont_log, "true");
    }
    if (path.empty() || path == ".") server = dont_log;
  }
  return EqualsIgnoringAsciiCase(server, "true");
}

struct Protocols {
  bool ftp = false;
  bool other = false;
};

Protocols ProtocolsOf(XmlElement site) {
  Protocols protocols;
  std::optional<XmlElement> bindings = site.Child("bindings");
  if (!bindings) return protocols;
  for (const XmlElement& binding : bindings->Children()) {
    if (binding.Name() != "binding") continue;
    bool ftp = EqualsIgnoringAsciiCase(
        binding.Attribute("protocol").value_or(""), "ftp");
    (ftp ? protocols.ftp : protocols.other) = true;
  }
  return protocols;
}

// Why the web logs of the site `name` are not collected, or "".
std::string WebSiteProblem(XmlElement configuration, const std::string& name,
                           const Protocols& protocols,
                           const LogFileSetting& log) {
  if (protocols.ftp && !protocols.other) {
    return "it serves FTP only (all its bindings are ftp)";
  }
  if (HttpLoggingOff(configuration, name)) {
    return "logging is off (httpLogging dontLog=\"true\")";
  }
  return WebLoggingProblem(log);
}

}  // namespace

IisSites ReadApplicationHost(XmlElement configuration,
                             XmlElement application_host) {
  IisSites found;
  found.web_unsupported = WebCentralLogging(application_host.Child("log"));
  found.ftp_unsupported = FtpCentralLogging(
      ChildOf(configuration.Child("system.ftpServer"), "log"));
  std::optional<XmlElement> sites = application_host.Child("sites");
  if (!sites) return found;
  std::optional<XmlElement> defaults = sites->Child("siteDefaults");
  for (const XmlElement& site : sites->Children()) {
    if (site.Name() != "site") continue;
    IisSite entry;
    entry.id = site.Attribute("id").value_or("");
    entry.name = site.Attribute("name").value_or("");
    const Protocols protocols = ProtocolsOf(site);
    const std::optional<XmlElement> ftp_server = site.Child("ftpServer");

    LogFileSetting web{site.Child("logFile"), ChildOf(defaults, "logFile")};
    IisSite web_site = entry;
    web_site.log_directory =
        web.Get("directory", kApplicationHostDefaultLogDirectory);
    web_site.not_collected =
        WebSiteProblem(configuration, entry.name, protocols, web);
    found.sites.push_back(std::move(web_site));

    if (!protocols.ftp && !ftp_server) continue;
    LogFileSetting ftp{ChildOf(ftp_server, "logFile"),
                       ChildOf(ChildOf(defaults, "ftpServer"), "logFile")};
    IisSite ftp_site = std::move(entry);
    ftp_site.service = IisService::kFtp;
    ftp_site.log_directory =
        ftp.Get("directory", kApplicationHostDefaultLogDirectory);
    // FTP settings left behind when the site's ftp binding was removed
    // serve nothing: the FTP service logs nothing for it.
    ftp_site.not_collected =
        protocols.ftp ? FtpLoggingProblem(ftp)
                      : "it has FTP settings (ftpServer) but no ftp binding, "
                        "so it serves no FTP";
    found.sites.push_back(std::move(ftp_site));
  }
  return found;
}

}  // namespace velnor::siteconfig
