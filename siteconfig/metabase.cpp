// MetaBase.xml: the web and FTP services and their sites, each a flat
// element whose Location gives its place in the metabase tree.
#include "siteconfig/metabase.h"

#include "platform/automation/text.h"

namespace velnor::siteconfig {
namespace {

using automation::EqualsIgnoringAsciiCase;

// The log module of the W3C extended format; the others are the IIS,
// NCSA and ODBC formats.
constexpr char kW3cLogModule[] = "{FF160663-DE82-11CF-BC0A-00AA006111E0}";

bool IsTrue(std::string_view value) {
  return EqualsIgnoringAsciiCase(value, "TRUE") || value == "1";
}

// The property `name` of the site, else of its service, else `fallback`.
std::string Inherited(const XmlElement& site,
                      const std::optional<XmlElement>& service,
                      const char* name, const char* fallback) {
  if (auto value = site.Attribute(name)) return *value;
  if (service) {
    if (auto value = service->Attribute(name)) return *value;
  }
  return fallback;
}

std::string LoggingProblem(const XmlElement& site,
                           const std::optional<XmlElement>& service) {
  if (Inherited(site, service, "LogType", "1") == "0") {
    return "logging is off (LogType=\"0\")";
  }
  std::string module =
      Inherited(site, service, "LogPluginClsid", kW3cLogModule);
  if (!EqualsIgnoringAsciiCase(module, kW3cLogModule)) {
    return "it logs in another format than W3C (LogPluginClsid=\"" + module +
           "\")";
  }
  return "";
}

std::string CentralLogging(const std::optional<XmlElement>& web_service) {
  if (!web_service) return "";
  if (IsTrue(
          web_service->Attribute("CentralBinaryLoggingEnabled").value_or(""))) {
    return "the server writes one central binary log for all its web sites "
           "(CentralBinaryLoggingEnabled=\"TRUE\"), which is not W3C text; "
           "switch IIS to one W3C log file per site to collect them";
  }
  if (IsTrue(web_service->Attribute("CentralW3CLoggingEnabled").value_or(""))) {
    return "the server writes one central W3C log for all its web sites "
           "(CentralW3CLoggingEnabled=\"TRUE\"), which has no log folder per "
           "site; switch IIS to one log file per site to collect them";
  }
  return "";
}

// The site id of `location` below the service at `service_location`
// ("/LM/W3SVC/12" gives "12"), or "" when it is not directly below it.
std::string SiteIdOf(std::string_view location,
                     std::string_view service_location) {
  if (location.size() <= service_location.size() + 1 ||
      !EqualsIgnoringAsciiCase(location.substr(0, service_location.size()),
                               service_location) ||
      location[service_location.size()] != '/') {
    return "";
  }
  std::string_view id = location.substr(service_location.size() + 1);
  if (id.find('/') != std::string_view::npos) return "";
  return std::string(id);
}

}  // namespace

IisSites ReadMetabase(XmlElement configuration) {
  IisSites found;
  std::optional<XmlElement> properties = configuration.Child("MBProperty");
  if (!properties) return found;
  // Each service with what it is called and where it is in the metabase,
  // and its own element once found.
  struct Kind {
    IisService service;
    const char* service_element;
    const char* site_element;
    const char* location;
    std::optional<XmlElement> settings;
  };
  Kind kinds[] = {
      {IisService::kWeb, "IIsWebService", "IIsWebServer", "/LM/W3SVC", {}},
      {IisService::kFtp, "IIsFtpService", "IIsFtpServer", "/LM/MSFTPSVC", {}},
  };
  const std::vector<XmlElement> elements = properties->Children();
  for (Kind& kind : kinds) {
    for (const XmlElement& element : elements) {
      if (element.Name() == kind.service_element &&
          EqualsIgnoringAsciiCase(element.Attribute("Location").value_or(""),
                                  kind.location)) {
        kind.settings = element;
      }
    }
  }
  found.web_unsupported = CentralLogging(kinds[0].settings);
  for (const XmlElement& element : elements) {
    for (const Kind& kind : kinds) {
      if (element.Name() != kind.site_element) continue;
      std::string id =
          SiteIdOf(element.Attribute("Location").value_or(""), kind.location);
      if (id.empty()) continue;  // a template or another node, not a site
      IisSite site;
      site.service = kind.service;
      site.id = std::move(id);
      site.name = element.Attribute("ServerComment").value_or("");
      site.log_directory = Inherited(element, kind.settings, "LogFileDirectory",
                                     kMetabaseDefaultLogDirectory);
      site.not_collected = LoggingProblem(element, kind.settings);
      found.sites.push_back(std::move(site));
    }
  }
  return found;
}

}  // namespace velnor::siteconfig
