// Directory searches through local and UNC paths, as the listing code drives
// them: first, next until zero, close.
#include "platform/win32/find_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/unc/unc.h"

namespace velnor::win32 {
namespace {

namespace fs = std::filesystem;

class FindFileTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = fs::temp_directory_path() / "find_file_test_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    unc::SetShareRoot("");
    fs::remove_all(dir_);
  }

  // Every entry a search of `pattern` delivers, as name and directory flag.
  static std::vector<std::pair<std::string, bool>> Search(
      const std::string& pattern) {
    std::vector<std::pair<std::string, bool>> found;
    WIN32_FIND_DATAA data;
    HANDLE handle = FindFirstFileA(pattern.c_str(), &data);
    if (handle == InvalidHandleValue()) return found;
    do {
      found.emplace_back(data.cFileName,
                         data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    } while (FindNextFileA(handle, &data));
    EXPECT_NE(FindClose(handle), 0);
    std::sort(found.begin(), found.end());
    return found;
  }

  fs::path dir_;
};

TEST_F(FindFileTest, ListsFilesAndFoldersOfALocalDirectory) {
  std::ofstream(dir_ / "a.log") << "x";
  std::ofstream(dir_ / "B.TXT") << "y";
  fs::create_directory(dir_ / "sub");
  using Found = std::vector<std::pair<std::string, bool>>;
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
    EXPECT_EQ(FindFirstFileA(pattern.c_str(), &data), InvalidHandleValue())
        << pattern;
  }
  EXPECT_EQ(FindNextFileA(InvalidHandleValue(), &data), 0);
  EXPECT_EQ(FindClose(InvalidHandleValue()), 0);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(InvalidHandleValue()), ~uintptr_t{0});
}

TEST_F(FindFileTest, SearchesUncDirectoriesThroughTheShareRoot) {
  fs::create_directories(dir_ / "SRV1/C$/Logs/W3SVC1");
  std::ofstream(dir_ / "SRV1/C$/Logs/W3SVC1/ex070312.log") << "x";
  unc::SetShareRoot(dir_.string());
  EXPECT_EQ(
      Search("\\\\srv1\\c$\\logs\\w3svc1\\*.*"),
      (std::vector<std::pair<std::string, bool>>{{"ex070312.log", false}}));
}

}  // namespace
}  // namespace velnor::win32
