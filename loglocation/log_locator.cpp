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
  const std::string strPrefix = "\\\\" + mstrServerName_ + "\\";

  if (!strLogPath.starts_with("%")) {
    std::string strConverted;
    ResumeNext(
        [&] { strConverted = ColonsToDollars(std::string(strLogPath)); });
    if (LogPendingError(kLogParserSource, "GetLogFilePath")) return "";
    return strPrefix + strConverted;
  }

  const std::string strWindowsDirectory =
      wmi::ConfiguredWindowsDirectory(mstrServerName_);
  if (strWindowsDirectory.empty()) {
    WriteErrorLog(wmi::kErrRpcServerUnavailable, wmi::kRpcServerUnavailableText,
                  kLogParserWmiSource, "GetLogFilePath");
    return "";
  }

  // The variable reference, whatever its name, stands for the Windows
  // directory; everything from the first backslash is kept.
  size_t lFirstBackslash = strLogPath.find('\\');
  std::string_view strRest = lFirstBackslash == std::string_view::npos
                                 ? std::string_view()
                                 : strLogPath.substr(lFirstBackslash);
  return strPrefix + ColonsToDollars(strWindowsDirectory) +
         std::string(strRest);
}

automation::StringArray LogLocator::GetLogFilesFromDirectory(
    std::string_view strPath) {
  ClearErrOnExit clear_on_exit;
  ErrorHandler on_error([] {
    WriteErrorLog(Err().Number(), Err().Description(), kLogParserSource,
                  "GetLogFilesFromDirectory");
  });
  // Callers test element 0 for "nothing found", so the array is never empty.
  automation::StringArray strFiles{""};
  int32_t lCount = 0;
  win32::WIN32_FIND_DATAA udtFindData;
  const std::string strPattern = std::string(strPath) + "\\*.*";
  win32::HANDLE hSearch =
      win32::FindFirstFileA(strPattern.c_str(), &udtFindData);
  if (hSearch == win32::InvalidHandleValue()) return strFiles;
  do {
    on_error([&] {
      std::string strName(udtFindData.cFileName,
                          ::strnlen(udtFindData.cFileName, win32::MAX_PATH));
      if (strName == "." || strName == "..") return;
      strFiles.resize(lCount + 1);
      strFiles[lCount] = std::move(strName);
      ++lCount;
    });
  } while (win32::FindNextFileA(hSearch, &udtFindData) != 0);
  win32::FindClose(hSearch);
  return strFiles;
}

std::string SiteLogFolderName(bool is_ftp, std::string_view identifier) {
  return (is_ftp ? "MSFTPSVC" : "W3SVC") + std::string(identifier);
}

}  // namespace velnor
