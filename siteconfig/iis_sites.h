// The sites an IIS server is configured with, as read from its own
// configuration, and what decides whether a site can be collected: its log
// directory must be one this machine can reach through the server's
// administrative shares, and the descriptor handed to the collector
// ("name,log directory,id") must carry it unchanged.
#ifndef VELNOR_SITECONFIG_IIS_SITES_H_
#define VELNOR_SITECONFIG_IIS_SITES_H_

#include <string>
#include <string_view>
#include <vector>

#include "siteconfig/xml_document.h"

namespace velnor::siteconfig {

enum class IisService { kWeb, kFtp };

// "web" or "ftp".
std::string_view ServiceWord(IisService service);

struct IisSite {
  IisService service = IisService::kWeb;
  // As configured; a run of digits for every site that can be collected.
  std::string id;
  std::string name;
  // The directory the service writes the site's logs below (in W3SVC<id>,
  // MSFTPSVC<id> or FTPSVC<id>), as IIS has it: the site's own, else the
  // service's default, else IIS's built-in one, e.g.
  // "%SystemDrive%\inetpub\logs\LogFiles".
  std::string log_directory;
  // Empty for a site that is collected; otherwise why it is not, e.g.
  // "logging is off (logFile enabled=\"false\")".
  std::string not_collected;

  bool operator==(const IisSite&) const = default;
};

struct IisSites {
  // Web sites by id, then FTP sites by id; a site that is both is listed
  // under each service.
  std::vector<IisSite> sites;
  // Non-empty when no site of the service can be collected on this server,
  // and why (central logging); every site of the service then carries it.
  std::string web_unsupported;
  std::string ftp_unsupported;

  // The sites of `service`, in order.
  std::vector<IisSite> Of(IisService service) const;
  // The server-wide reason of `service`, or "".
  const std::string& UnsupportedReason(IisService service) const;
};

// "name,log directory,id": the site descriptor the collector takes.
std::string Descriptor(const IisSite& site);

// Why the log directory `directory` cannot be reached through the server's
// administrative shares, or "" when it can: a drive-letter path, or one
// that starts with %SystemDrive%, %SystemRoot% or %WinDir% (which the
// server's Windows directory resolves) and holds no other variable.
std::string UnreachableDirectory(std::string_view directory);

// Completes what a configuration reader found: writes numeric ids without
// leading zeros; gives each site the server-wide reason of its service;
// marks the sites whose id is not a number, whose id an earlier collected
// site of the service already has (both would count the same log folder),
// whose name or directory holds a comma (a descriptor cannot carry it) or
// a control character, whose name is blank or starts with "#" or a blank
// (a --sites file would drop the site or its name's blanks), or
// whose directory cannot be reached through an administrative share
// (UnreachableDirectory); then orders the sites by service and numeric id,
// keeping the configuration's order among equal ids.
IisSites FinishSites(IisSites found);

// The sites configured by an IIS configuration file: applicationHost.config
// of IIS 7 and later, or MetaBase.xml of IIS 6, told apart by content.
// Raises kErrInvalidFileFormat, naming `source`, for a document that is
// neither.
IisSites ReadIisSites(const XmlDocument& document, const std::string& source);

}  // namespace velnor::siteconfig

#endif  // VELNOR_SITECONFIG_IIS_SITES_H_
