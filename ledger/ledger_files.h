// Where the collection ledger of one server and service lives: a file of
// its own beside the report databases, named after the server and service
// as they are, so that a run locks and commits only its own ledger and
// runs of other servers in the same folder never wait for it.
#ifndef VELNOR_LEDGER_LEDGER_FILES_H_
#define VELNOR_LEDGER_LEDGER_FILES_H_

#include <optional>
#include <string>
#include <string_view>

namespace velnor::ledger {

// "velnor_ledger_SRV1_web.sqlite" or "velnor_ledger_SRV1_ftp.sqlite".
std::string LedgerFileName(std::string_view server, bool is_ftp);
// The file in the folder `db_dir`.
std::string LedgerPath(const std::string& db_dir, std::string_view server,
                       bool is_ftp);

// The server and service a ledger file name stands for.
struct LedgerName {
  std::string server;
  bool is_ftp = false;
};
// What LedgerFileName made `file_name` from; nothing for another name.
std::optional<LedgerName> ParseLedgerFileName(std::string_view file_name);
// What a ledger's schema in a PostgreSQL store (the file name as the
// engine maps it: lower case, without extension) stands for; the server
// comes back in lower case. Nothing for another name.
std::optional<LedgerName> ParseLedgerSchemaName(std::string_view schema);

}  // namespace velnor::ledger

#endif  // VELNOR_LEDGER_LEDGER_FILES_H_
