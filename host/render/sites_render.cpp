// Text, CSV, JSON and sites-file renderings of a site listing.
#include "host/render/sites_render.h"

#include <algorithm>
#include <string_view>

#include "host/render/json_layout.h"
#include "host/render/text_format.h"

namespace velnor::host {
namespace {

using siteconfig::ServiceWord;

const std::vector<std::string> kColumns = {
    "service", "id",     "name",  "log directory",
    "folder",  "exists", "files", "collected"};

std::string ExistsWord(FolderState state) {
  switch (state) {
    case FolderState::kMissing:
      return "no";
    case FolderState::kPresent:
      return "yes";
    case FolderState::kUnreadable:
      return "unreadable";
    case FolderState::kUnresolved:
      break;
  }
  return "";
}

std::string FilesText(const SiteRow& row) {
  return row.state == FolderState::kPresent ? std::to_string(row.log_files)
                                            : "";
}

// The cells of a row in kColumns order, the reason apart.
std::vector<std::string> Cells(const SiteRow& row) {
  const siteconfig::IisSite& site = row.site;
  return {std::string(ServiceWord(site.service)),
          site.id,
          site.name,
          site.log_directory,
          row.folder,
          ExistsWord(row.state),
          FilesText(row),
          site.not_collected.empty() ? "yes" : "no"};
}

void RenderText(const SitesListing& listing, std::ostream& out) {
  for (const std::string& note : listing.notes) out << note << "\n";
  if (!listing.unsupported.empty()) {
    out << ServiceWord(listing.service) << " sites of " << listing.server
        << " cannot be collected: " << listing.unsupported << "\n";
  }
  std::vector<std::vector<std::string>> table = {kColumns};
  for (const SiteRow& row : listing.rows) {
    std::vector<std::string> cells = Cells(row);
    if (!row.site.not_collected.empty()) {
      cells.back() += ": " + row.site.not_collected;
    }
    for (std::string& cell : cells) cell = CleanUtf8(cell, true);
    table.push_back(std::move(cells));
  }
  std::vector<size_t> widths(kColumns.size(), 0);
  for (const auto& cells : table) {
    for (size_t i = 0; i < cells.size(); ++i) {
      widths[i] = std::max(widths[i], DisplayWidth(cells[i]));
    }
  }
  out << "\n";
  for (const auto& cells : table) {
    for (size_t i = 0; i + 1 < cells.size(); ++i) {
      out << cells[i]
          << std::string(widths[i] - DisplayWidth(cells[i]) + 2, ' ');
    }
    out << cells.back() << "\n";
  }
  for (const SiteRow& row : listing.rows) {
    if (row.state == FolderState::kUnreadable) {
      out << CleanUtf8(row.folder_error, true) << "\n";
    }
  }
}

void RenderCsv(const SitesListing& listing, std::ostream& out) {
  std::vector<std::string> header = kColumns;
  header.emplace_back("reason");
  std::vector<std::vector<std::string>> lines = {header};
  for (const SiteRow& row : listing.rows) {
    std::vector<std::string> cells = Cells(row);
    cells.push_back(row.state == FolderState::kUnreadable &&
                            row.site.not_collected.empty()
                        ? row.folder_error
                        : row.site.not_collected);
    lines.push_back(std::move(cells));
  }
  for (const auto& cells : lines) {
    for (size_t i = 0; i < cells.size(); ++i) {
      out << (i == 0 ? "" : ",") << CsvField(cells[i]);
    }
    out << "\r\n";
  }
}

Json JsonSite(const SiteRow& row) {
  const siteconfig::IisSite& site = row.site;
  Json exists = row.state == FolderState::kPresent   ? Json(true)
                : row.state == FolderState::kMissing ? Json(false)
                                                     : Json(nullptr);
  return {{"service", std::string(ServiceWord(site.service))},
          {"id", JsonText(site.id)},
          {"name", JsonText(site.name)},
          {"log_directory", JsonText(site.log_directory)},
          {"folder", JsonTextOrNull(row.folder)},
          {"folder_exists", exists},
          {"log_files", row.state == FolderState::kPresent ? Json(row.log_files)
                                                           : Json(nullptr)},
          {"folder_error", JsonTextOrNull(row.folder_error)},
          {"collected", site.not_collected.empty()},
          {"reason", JsonTextOrNull(site.not_collected)}};
}

void RenderJson(const SitesListing& listing, std::ostream& out) {
  Json sites = Json::array();
  for (const SiteRow& row : listing.rows) sites.push_back(JsonSite(row));
  const Json json = {
      {"server", JsonText(listing.server)},
      {"service", std::string(ServiceWord(listing.service))},
      {"configuration", JsonText(listing.configuration)},
      {"windows_directory", JsonText(listing.windows_directory)},
      {"windows_directory_given", listing.windows_directory_given},
      {"unsupported", JsonTextOrNull(listing.unsupported)},
      {"sites", sites}};
  out << LaidOut(json, 2) << "\n";  // one site a line
}

void RenderSitesFile(const SitesListing& listing, std::ostream& out) {
  const bool ftp = listing.service == siteconfig::IisService::kFtp;
  out << "# " << (ftp ? "FTP" : "Web") << " sites of " << listing.server
      << ", for velnor collect" << (ftp ? " --ftp" : "") << " --sites FILE\n";
  // A comment is one line whatever the configuration held: a line break
  // in a site's name or id would start a line that collect reads.
  auto comment = [](std::string_view text) { return CleanUtf8(text, true); };
  for (const std::string& note : listing.notes) {
    out << "# " << comment(note) << "\n";
  }
  // collect takes the line as it takes the option: the sites' %SystemDrive%
  // directories need it.
  if (!listing.windows_directory.empty()) {
    out << "--windows-dir " << listing.server << "="
        << listing.windows_directory << "\n";
  }
  for (const SiteRow& row : listing.rows) {
    if (row.site.not_collected.empty()) {
      out << siteconfig::Descriptor(row.site) << "\n";
    } else {
      out << "# not collected: " << comment(siteconfig::Descriptor(row.site))
          << ": " << comment(row.site.not_collected) << "\n";
    }
  }
}

}  // namespace

bool ParseSitesFormat(const std::string& text, SitesFormat& format) {
  static const std::pair<const char*, SitesFormat> kNames[] = {
      {"text", SitesFormat::kText},
      {"csv", SitesFormat::kCsv},
      {"json", SitesFormat::kJson},
      {"sites", SitesFormat::kSites}};
  for (const auto& [name, value] : kNames) {
    if (text == name) {
      format = value;
      return true;
    }
  }
  return false;
}

void RenderSites(const SitesListing& listing, SitesFormat format,
                 std::ostream& out) {
  switch (format) {
    case SitesFormat::kText:
      RenderText(listing, out);
      break;
    case SitesFormat::kCsv:
      RenderCsv(listing, out);
      break;
    case SitesFormat::kJson:
      RenderJson(listing, out);
      break;
    case SitesFormat::kSites:
      RenderSitesFile(listing, out);
      break;
  }
}

}  // namespace velnor::host
