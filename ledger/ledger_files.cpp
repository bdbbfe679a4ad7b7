// Ledger file names.
#include "ledger/ledger_files.h"

namespace velnor::ledger {
namespace {

constexpr std::string_view kPrefix = "velnor_ledger_";
constexpr std::string_view kWeb = "_web.sqlite";
constexpr std::string_view kFtp = "_ftp.sqlite";

}  // namespace

std::string LedgerFileName(std::string_view server, bool is_ftp) {
  return std::string(kPrefix) + std::string(server) +
         std::string(is_ftp ? kFtp : kWeb);
}

std::string LedgerPath(const std::string& db_dir, std::string_view server,
                       bool is_ftp) {
  return db_dir + "/" + LedgerFileName(server, is_ftp);
}

std::optional<LedgerName> ParseLedgerFileName(std::string_view file_name) {
  if (!file_name.starts_with(kPrefix)) return std::nullopt;
  file_name.remove_prefix(kPrefix.size());
  for (bool is_ftp : {false, true}) {
    std::string_view ending = is_ftp ? kFtp : kWeb;
    if (file_name.size() > ending.size() && file_name.ends_with(ending)) {
      file_name.remove_suffix(ending.size());
      return LedgerName{std::string(file_name), is_ftp};
    }
  }
  return std::nullopt;
}

std::optional<LedgerName> ParseLedgerSchemaName(std::string_view schema) {
  return ParseLedgerFileName(std::string(schema) + ".sqlite");
}

}  // namespace velnor::ledger
