// The sites of IIS 6, from MetaBase.xml.
#ifndef VELNOR_SITECONFIG_METABASE_H_
#define VELNOR_SITECONFIG_METABASE_H_

#include "siteconfig/iis_sites.h"
#include "siteconfig/xml_document.h"

namespace velnor::siteconfig {

// The default log directory of IIS 6 when neither the site nor its service
// names one.
inline constexpr char kMetabaseDefaultLogDirectory[] =
    "%WinDir%\\System32\\LogFiles";

// Reads the <MBProperty> element of the root `configuration`: IIsWebServer
// at Location /LM/W3SVC/<id> and IIsFtpServer at /LM/MSFTPSVC/<id> are the
// sites (templates elsewhere are not), named by ServerComment. A site's
// LogFileDirectory, LogType and LogPluginClsid are its own, else those of
// IIsWebService (/LM/W3SVC) or IIsFtpService (/LM/MSFTPSVC), else IIS's
// defaults (kMetabaseDefaultLogDirectory, logging on, W3C). Element names
// are matched without regard to namespace, which tools that saved the file
// sometimes dropped. Marks a site whose logging is off or not W3C, and
// every web site when the web service logs centrally. The result is not
// yet finished (FinishSites).
IisSites ReadMetabase(XmlElement configuration);

}  // namespace velnor::siteconfig

#endif  // VELNOR_SITECONFIG_METABASE_H_
