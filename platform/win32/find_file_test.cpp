// Directory searches through local and UNC paths, as the listing code drives
// them: first, next until zero, close.
#include "platform/win32/find_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/unc/unc.h"
#include "testing/test_support.h"

namespace velnor::win32 {
namespace {

namespace fs = std::filesystem;
using testing::WriteFile;
using Found = std::vector<std::pair<std::string, bool>>;

class FindFileTest : public ::testing::Test {
 protected:
  // Every entry a search of `pattern` delivers, as name and directory flag.
  Found Search(const std::string& pattern) const {
    Found found;
    WIN32_FIND_DATAA data;
    HANDLE handle = FindFirstFileA(shares_, pattern.c_str(), &data);
    if (handle == InvalidHandleValue()) return found;
    do {
      found.emplace_back(data.cFileName,
                         data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    } while (FindNextFileA(handle, &data));
    EXPECT_NE(FindClose(handle), 0);
    std::sort(found.begin(), found.end());
    return found;
  }

  unc::ShareAccess shares_;
  testing::TempDir tmp_{"find_file_test"};
  const fs::path dir_ = tmp_.path();
};

TEST_F(FindFileTest, ListsFilesAndFoldersOfALocalDirectory) {
  WriteFile(dir_ / "a.log", "x");
  WriteFile(dir_ / "B.TXT", "y");
  fs::create_directory(dir_ / "sub");
  EXPECT_EQ(Search(dir_.string() + "\\*.*"),
            (Found{{"B.TXT", false}, {"a.log", false}, {"sub", true}}));
  EXPECT_EQ(Search(dir_.string() + "\\*.LOG"), (Found{{"a.log", false}}));
  EXPECT_TRUE(Search(dir_.string() + "\\*.mdb").empty());
}

TEST_F(FindFileTest, UnsearchableDirectoriesGiveTheInvalidHandle) {
  fs::create_directory(dir_ / "empty");
  WIN32_FIND_DATAA data;
  for (const std::string& pattern :
       {dir_.string() + "/empty\\*.*", dir_.string() + "/missing\\*.*",
        std::string("\\\\NOSRV\\C$\\x\\*.*"), std::string("no-separator")}) {
    EXPECT_EQ(FindFirstFileA(shares_, pattern.c_str(), &data),
              InvalidHandleValue())
        << pattern;
  }
  EXPECT_EQ(FindNextFileA(InvalidHandleValue(), &data), 0);
  EXPECT_EQ(FindClose(InvalidHandleValue()), 0);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(InvalidHandleValue()), ~uintptr_t{0});
}

TEST_F(FindFileTest, SearchesUncDirectoriesThroughTheShareRoot) {
  WriteFile(dir_ / "SRV1/C$/Logs/W3SVC1/ex070312.log", "x");
  shares_.share_root = dir_.string();
  EXPECT_EQ(Search("\\\\srv1\\c$\\logs\\w3svc1\\*.*"),
            (Found{{"ex070312.log", false}}));
}

}  // namespace
}  // namespace velnor::win32
