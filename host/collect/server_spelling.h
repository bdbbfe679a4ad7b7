// Server names are Windows names: "web01" and "WEB01" are one server. The
// report databases carry the name in their file names, so a collect for
// "--server web01" must use QDX_..._WEB01.mdb when that is what exists, and
// never make a second set that differs only in case.
#ifndef VELNOR_HOST_COLLECT_SERVER_SPELLING_H_
#define VELNOR_HOST_COLLECT_SERVER_SPELLING_H_

#include <string>

namespace velnor::host {

// Replaces `server` by the spelling under which report databases of the
// service exist in `db_dir`, when they exist under one spelling that equals
// it without regard to ASCII case; leaves it alone when there are none.
// Prints the usage mistake and returns false when databases exist under
// two or more such spellings.
bool MatchServerSpelling(const std::string& db_dir, bool ftp,
                         std::string& server);

}  // namespace velnor::host

#endif  // VELNOR_HOST_COLLECT_SERVER_SPELLING_H_
