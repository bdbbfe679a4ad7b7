// GetInputState and MessageBox over the forms toolkit's headless backend.
#include "platform/win32/user32.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/forms/forms.h"
#include "testing/raised_error.h"

namespace velnor::win32 {
namespace {

class User32Test : public ::testing::Test {
 protected:
  void SetUp() override {
    forms::SetBackendPreference(forms::BackendPreference::kHeadless);
    forms::DoEvents();  // nothing left over from another test
  }
};

TEST_F(User32Test, InputStateTellsWhetherEventsArePending) {
  EXPECT_EQ(GetInputState(), 0);
  forms::PostEvent([] {});
  EXPECT_NE(GetInputState(), 0);
  forms::DoEvents();
  EXPECT_EQ(GetInputState(), 0);
}

TEST_F(User32Test, MessageBoxGoesToTheResponderOrIsAnsweredHeadless) {
  std::string seen;
  SetMessageBoxResponder(
      [&](std::string_view text, std::string_view title, int32_t style) {
        seen = std::string(title) + "|" + std::string(text) + "|" +
               std::to_string(style);
        return kIdNo;
      });
  EXPECT_EQ(MessageBox("Sure? ", "VELNOR", 292), kIdNo);
  EXPECT_EQ(seen, "VELNOR|Sure? |292");

  SetMessageBoxResponder({});
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBox("Sure? ", "VELNOR", 292), kIdYes);
  EXPECT_EQ(MessageBox("Done", "VELNOR", 0), 1);
  std::string out = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(out.find("VELNOR: Sure? Yes"), std::string::npos) << out;
  EXPECT_EQ(velnor::testing::ErrorOf([] { MessageBox("?", "t", 2); }).number(),
            5);
}

}  // namespace
}  // namespace velnor::win32
