// The search for the configuration file over the drive shares, and its
// reading with a size limit.
#include "siteconfig/server_config.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <optional>

#include "platform/automation/error_state.h"
#include "platform/automation/text.h"
#include "platform/unc/unc.h"

namespace velnor::siteconfig {
namespace {

using automation::AutomationError;

bool IsMissing(const AutomationError& error) {
  return error.number() == automation::kErrFileNotFound ||
         error.number() == automation::kErrPathNotFound;
}

// True when `path` can be opened; false when it does not exist. Any other
// failure (refused credentials, a server gone) is raised: it would hide
// the file on every drive alike.
bool FileExists(const unc::ShareAccess& shares, const std::string& path) {
  try {
    unc::OpenForReading(shares, path);
    return true;
  } catch (const AutomationError& error) {
    if (IsMissing(error)) return false;
    throw;
  }
}

// The configuration file in the Windows folder at UNC `folder`, or nothing.
std::optional<std::string> ConfigIn(const unc::ShareAccess& shares,
                                    const std::string& folder) {
  for (const char* file : {kApplicationHostFile, kMetabaseFile}) {
    std::string path = folder + "\\" + file;
    if (FileExists(shares, path)) return path;
  }
  return std::nullopt;
}

// The drive letter of an administrative drive share ("D$" gives 'D'), or 0.
char DriveOf(std::string_view share) {
  if (share.size() != 2 || share[1] != '$') return 0;
  char letter =
      static_cast<char>(std::toupper(static_cast<unsigned char>(share[0])));
  return letter >= 'C' && letter <= 'Z' ? letter : '\0';
}

ServerConfig FindUnder(const unc::ShareAccess& shares,
                       const std::string& server,
                       const std::string& windows_directory) {
  const std::string& dir = windows_directory;
  if (dir.size() < 3 || !std::isalpha(static_cast<unsigned char>(dir[0])) ||
      dir[1] != ':' || dir[2] != '\\') {
    automation::Raise(automation::kErrInvalidProcedureCall,
                      "Invalid procedure call: the Windows directory " + dir +
                          " of " + server +
                          " is not a path with a drive letter, like "
                          "C:\\Windows.");
  }
  const std::string folder =
      "\\\\" + server + "\\" + dir[0] + "$" + dir.substr(2);
  if (auto path = ConfigIn(shares, folder)) return {dir, *path};
  automation::Raise(automation::kErrFileNotFound,
                    "File not found: no IIS configuration in " + folder +
                        ": neither " + kApplicationHostFile + " nor " +
                        kMetabaseFile + " is there.");
}

ServerConfig Search(const unc::ShareAccess& shares, const std::string& server) {
  std::vector<std::pair<char, std::string>> drives;
  for (const std::string& share : unc::ListShares(shares, server)) {
    if (char letter = DriveOf(share)) drives.emplace_back(letter, share);
  }
  std::sort(drives.begin(), drives.end());
  std::string looked;
  std::string unlisted;
  for (const auto& [letter, share] : drives) {
    const std::string root = "\\\\" + server + "\\" + share;
    looked += (looked.empty() ? "" : ", ") + share;
    std::vector<unc::DirEntry> entries;
    try {
      entries = unc::ListDirectory(shares, root);
    } catch (const AutomationError& error) {
      unlisted += " " + error.description();
      continue;
    }
    for (const char* windows : {"Windows", "WINNT"}) {
      for (const unc::DirEntry& entry : entries) {
        if (!entry.is_directory ||
            !automation::EqualsIgnoringAsciiCase(entry.name, windows))
          continue;
        if (auto path = ConfigIn(shares, root + "\\" + entry.name)) {
          return {std::string(1, letter) + ":\\" + entry.name, *path};
        }
      }
    }
  }
  automation::Raise(
      automation::kErrFileNotFound,
      "File not found: no IIS configuration found on " + server +
          (drives.empty()
               ? ": it has no drive share (C$ to Z$)."
               : ": looked for " + std::string(kApplicationHostFile) + " and " +
                     kMetabaseFile + " under Windows and WINNT on " + looked +
                     "." + unlisted));
}

std::string ReadLimited(const unc::ShareAccess& shares,
                        const std::string& path) {
  std::unique_ptr<unc::InputFile> file = unc::OpenForReading(shares, path);
  std::string bytes;
  char buffer[65536];
  while (size_t got = file->Read(buffer, sizeof buffer)) {
    bytes.append(buffer, got);
    if (bytes.size() > kMaxXmlBytes) break;
  }
  return bytes;
}

}  // namespace

ServerConfig FindServerConfig(const unc::ShareAccess& shares,
                              const std::string& server,
                              const std::string& windows_directory) {
  return windows_directory.empty()
             ? Search(shares, server)
             : FindUnder(shares, server, windows_directory);
}

IisSites ReadServerSites(const unc::ShareAccess& shares,
                         const std::string& path) {
  return ReadIisSites(XmlDocument::Parse(ReadLimited(shares, path), path),
                      path);
}

}  // namespace velnor::siteconfig
