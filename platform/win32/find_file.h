// The kernel32 directory search in its ANSI form, over the UNC layer so that
// "\\SERVER\C$\...\*.*" and local folders are searched alike.
//
// A search takes a snapshot of the directory when it starts; FindNextFileA
// walks that snapshot. Names are bytes as the file system holds them.
#ifndef VELNOR_PLATFORM_WIN32_FIND_FILE_H_
#define VELNOR_PLATFORM_WIN32_FIND_FILE_H_

#include <cstdint>

#include "platform/unc/unc.h"

namespace velnor::win32 {

using HANDLE = void*;
using BOOL = int32_t;
using DWORD = uint32_t;

inline constexpr DWORD MAX_PATH = 260;
inline constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;

// The invalid handle value: all bits set.
inline HANDLE InvalidHandleValue() {
  return reinterpret_cast<HANDLE>(  // NOLINT(performance-no-int-to-ptr)
      ~uintptr_t{0});
}

// The find-data record. Only the fields this system reads are filled.
struct WIN32_FIND_DATAA {
  DWORD dwFileAttributes = 0;
  // The entry's name up to its first NUL; names of 260 bytes or more are
  // cut to 259 so the NUL always fits.
  char cFileName[MAX_PATH] = {};
};

// Starts a search of `lpFileName`, reached through `shares`: a directory, a
// backslash and a pattern
// ("*.*" and "*" match every name; other patterns match like the shell,
// without regard to case). Fills `lpFindFileData` with the first match and
// returns a handle the caller must pass to FindClose, or returns
// InvalidHandleValue() when the directory cannot be searched (missing,
// unreachable, unreadable) or nothing matches. Never raises.
HANDLE FindFirstFileA(const unc::ShareAccess& shares, const char* lpFileName,
                      WIN32_FIND_DATAA* lpFindFileData);

// Fills `lpFindFileData` with the next match and returns non-zero, or returns
// 0 when there is none (or the handle is invalid).
BOOL FindNextFileA(HANDLE hFindFile, WIN32_FIND_DATAA* lpFindFileData);

// Ends the search and frees the handle; returns 0 for an invalid handle.
BOOL FindClose(HANDLE hFindFile);

}  // namespace velnor::win32

#endif  // VELNOR_PLATFORM_WIN32_FIND_FILE_H_
