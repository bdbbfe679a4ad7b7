// The sites of IIS 7 and later, from applicationHost.config.
#ifndef VELNOR_SITECONFIG_APPLICATION_HOST_H_
#define VELNOR_SITECONFIG_APPLICATION_HOST_H_

#include "siteconfig/iis_sites.h"
#include "siteconfig/xml_document.h"

namespace velnor::siteconfig {

// The default log directory of both services when neither the site nor
// <siteDefaults> names one.
inline constexpr char kApplicationHostDefaultLogDirectory[] =
    "%SystemDrive%\\inetpub\\logs\\LogFiles";

// Reads <sites> of `application_host` (<system.applicationHost>, a child of
// the root `configuration`). Each <site name id> is a web site unless all
// its bindings are ftp; one with an ftp binding or an <ftpServer> element is
// an FTP site as well. A site's log directory is its own <logFile
// directory> (<ftpServer><logFile directory> for FTP), else the same under
// <siteDefaults>, else kApplicationHostDefaultLogDirectory; the other
// <logFile> attributes inherit the same way, attribute by attribute.
// Marks a site whose logging is off (in <logFile>, or by <httpLogging
// dontLog> of the server or of a <location> with the site's name), whose
// web logs are not W3C or go to event tracing only; and every site of a
// service that logs centrally (<log centralLogFileMode> of
// system.applicationHost, or of system.ftpServer for FTP). The result is
// not yet finished (FinishSites).
IisSites ReadApplicationHost(XmlElement configuration,
                             XmlElement application_host);

}  // namespace velnor::siteconfig

#endif  // VELNOR_SITECONFIG_APPLICATION_HOST_H_
