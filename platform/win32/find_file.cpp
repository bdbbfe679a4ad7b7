// The search handle is a heap-allocated snapshot of the matching entries and
// a cursor into it; the handle value is its address.
#include "platform/win32/find_file.h"

#include <fnmatch.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/automation/error_state.h"
#include "platform/unc/unc.h"

namespace velnor::win32 {
namespace {

struct Search {
  std::vector<unc::DirEntry> entries;
  size_t next = 0;
};

bool Matches(const std::string& pattern, const std::string& name) {
  if (pattern == "*" || pattern == "*.*") return true;
  return ::fnmatch(pattern.c_str(), name.c_str(), FNM_CASEFOLD) == 0;
}

void Fill(const unc::DirEntry& entry, WIN32_FIND_DATAA* data) {
  data->dwFileAttributes =
      entry.is_directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
  size_t length = std::min<size_t>(entry.name.size(), MAX_PATH - 1);
  std::memcpy(data->cFileName, entry.name.data(), length);
  data->cFileName[length] = '\0';
}

Search* SearchOf(HANDLE handle) {
  if (handle == nullptr || handle == InvalidHandleValue()) return nullptr;
  return static_cast<Search*>(handle);
}

}  // namespace

HANDLE FindFirstFileA(const unc::ShareAccess& shares, const char* lpFileName,
                      WIN32_FIND_DATAA* lpFindFileData) {
  std::string path = lpFileName == nullptr ? "" : lpFileName;
  size_t separator = path.find_last_of("\\/");
  if (separator == std::string::npos || lpFindFileData == nullptr) {
    return InvalidHandleValue();
  }
  std::string pattern = path.substr(separator + 1);
  auto search = std::make_unique<Search>();
  try {
    for (unc::DirEntry& entry :
         unc::ListDirectory(shares, path.substr(0, separator))) {
      if (Matches(pattern, entry.name))
        search->entries.push_back(std::move(entry));
    }
  } catch (const automation::AutomationError&) {
    return InvalidHandleValue();
  }
  if (search->entries.empty()) return InvalidHandleValue();
  Fill(search->entries[search->next++], lpFindFileData);
  return search.release();
}

BOOL FindNextFileA(HANDLE hFindFile, WIN32_FIND_DATAA* lpFindFileData) {
  Search* search = SearchOf(hFindFile);
  if (search == nullptr || lpFindFileData == nullptr ||
      search->next >= search->entries.size()) {
    return 0;
  }
  Fill(search->entries[search->next++], lpFindFileData);
  return 1;
}

BOOL FindClose(HANDLE hFindFile) {
  Search* search = SearchOf(hFindFile);
  delete search;
  return search != nullptr;
}

}  // namespace velnor::win32
