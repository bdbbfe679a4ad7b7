// Resolution through the servers' Windows directories and the
// administrative shares, and the listing through the directory search
// functions.
#include "loglocation/log_locator.h"

#include <cstring>

#include "dbsupport/error_log.h"
#include "platform/automation/error_state.h"
#include "platform/win32/find_file.h"
#include "platform/wmi/wmi.h"

namespace velnor {
namespace {

using automation::Err;
using automation::ErrorHandler;
using automation::ResumeNext;

// Logs the pending error, if any, and tells whether there was one.
bool LogPendingError(const char* source, const char* procedure) {
  if (Err().Number() == 0) return false;
  WriteErrorLog(Err().Number(), Err().Description(), source, procedure);
  return true;
}

// Leaving a procedure that handles its own errors ends any pending error, so
// none reaches the caller.
struct ClearErrOnExit {
  ~ClearErrOnExit() { Err().Clear(); }
};

std::string ColonsToDollars(std::string text) {
  for (char& c : text) c = c == ':' ? '$' : c;
  return text;
}

}  // namespace

std::string LogLocator::GetLogFilePath(std::string_view strLogPath,
                                       std::string_view strServerName) {
  ClearErrOnExit clear_on_exit;
  Err().Clear();
  if (!strServerName.empty()) mstrServerName_ = strServerName;
  const std::string prefix = "\\\\" + mstrServerName_ + "\\";

  if (!strLogPath.starts_with("%")) {
    std::string converted;
    ResumeNext([&] { converted = ColonsToDollars(std::string(strLogPath)); });
    if (LogPendingError(kLogParserSource, "GetLogFilePath")) return "";
    return prefix + converted;
  }

  const std::string windows_directory =
      windows_directories_.Of(mstrServerName_);
  if (windows_directory.empty()) {
    WriteErrorLog(wmi::kErrRpcServerUnavailable, wmi::kRpcServerUnavailableText,
                  kLogParserWmiSource, "GetLogFilePath");
    return "";
  }

  // The variable reference, whatever its name, stands for the Windows
  // directory; everything from the first backslash is kept.
  size_t first_backslash = strLogPath.find('\\');
  std::string_view rest = first_backslash == std::string_view::npos
                              ? std::string_view()
                              : strLogPath.substr(first_backslash);
  return prefix + ColonsToDollars(windows_directory) + std::string(rest);
}

automation::StringArray LogLocator::GetLogFilesFromDirectory(
    std::string_view strPath) {
  ClearErrOnExit clear_on_exit;
  ErrorHandler on_error([] {
    WriteErrorLog(Err().Number(), Err().Description(), kLogParserSource,
                  "GetLogFilesFromDirectory");
  });
  // Callers test element 0 for "nothing found", so the array is never empty.
  automation::StringArray files{""};
  int32_t count = 0;
  win32::WIN32_FIND_DATAA udtFindData;
  const std::string pattern = std::string(strPath) + "\\*.*";
  win32::HANDLE hSearch =
      win32::FindFirstFileA(shares_, pattern.c_str(), &udtFindData);
  if (hSearch == win32::InvalidHandleValue()) return files;
  do {
    on_error([&] {
      std::string name(udtFindData.cFileName,
                       ::strnlen(udtFindData.cFileName, win32::MAX_PATH));
      if (name == "." || name == "..") return;
      files.resize(count + 1);
      files[count] = std::move(name);
      ++count;
    });
  } while (win32::FindNextFileA(hSearch, &udtFindData) != 0);
  win32::FindClose(hSearch);
  return files;
}

std::string SiteLogFolderName(bool is_ftp, std::string_view identifier) {
  return (is_ftp ? "MSFTPSVC" : "W3SVC") + std::string(identifier);
}

}  // namespace velnor
