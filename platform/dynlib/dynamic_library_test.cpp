// Loading libraries on first use: the reasons given for a library that is
// not there and a function a library lacks, and functions found working.
#include "platform/dynlib/dynamic_library.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace velnor::dynlib {
namespace {

constexpr char kMath[] = "libm.so.6";

TEST(DynamicLibraryTest, ALibraryThatIsNotThereIsRefusedWithTheLoadersReason) {
  try {
    Library library("libvelnor-not-installed.so.9");
    FAIL() << "a missing library loaded";
  } catch (const LoadError& error) {
    EXPECT_NE(std::string(error.what()).find("libvelnor-not-installed.so.9"),
              std::string::npos)
        << error.what();
    EXPECT_EQ(error.missing(), "");
  }
}

TEST(DynamicLibraryTest, AFunctionTheLibraryLacksIsNamed) {
  const Library math(kMath);
  double (*function)(double) = nullptr;
  try {
    math.Find("velnor_no_such_function", function);
    FAIL() << "a missing function was found";
  } catch (const LoadError& error) {
    EXPECT_STREQ(error.what(), "libm.so.6 lacks velnor_no_such_function");
    EXPECT_EQ(error.missing(), "velnor_no_such_function");
  }
  EXPECT_EQ(math.FindOptional<double (*)(double)>("velnor_no_such_function"),
            nullptr);
}

TEST(DynamicLibraryTest, FunctionsFoundAreTheLibrarysOwn) {
  const Library math(kMath);
  double (*cosine)(double) = nullptr;
  math.Find("cos", cosine);
  ASSERT_NE(cosine, nullptr);
  EXPECT_DOUBLE_EQ(cosine(0.5), std::cos(0.5));
  auto square_root = math.FindOptional<double (*)(double)>("sqrt");
  ASSERT_NE(square_root, nullptr);
  EXPECT_DOUBLE_EQ(square_root(6.25), 2.5);
  // A second load of a loaded library finds the same functions.
  double (*again)(double) = nullptr;
  Library(kMath).Find("cos", again);
  EXPECT_EQ(again, cosine);
}

}  // namespace
}  // namespace velnor::dynlib
