// GetInputState and MessageBox over the forms toolkit's headless backend.
#include "platform/win32/user32.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "platform/forms/forms.h"
#include "testing/raised_error.h"

namespace velnor::win32 {
namespace {

class User32Test : public ::testing::Test {
 protected:
  void SetUp() override {
    forms::DoEvents();  // nothing left over from another test
  }

  // Runs `ask` while a window shown headless is showing, as a run asks its
  // questions.
  static void WhileHeadlessWindowShows(const std::function<void()>& ask) {
    forms::Window window("w", 8);
    window.SetPresentation({forms::BackendPreference::kHeadless, {}});
    window.SetActivateHandler([&] {
      ask();
      window.Unload();
    });
    window.ShowModal();
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
  WhileHeadlessWindowShows([] {
    EXPECT_EQ(MessageBox("Sure? ", "VELNOR", 292), kIdYes);
    EXPECT_EQ(MessageBox("Done", "VELNOR", 0), 1);
    EXPECT_EQ(
        velnor::testing::ErrorOf([] { MessageBox("?", "t", 2); }).number(), 5);
  });
  std::string out = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(out.find("VELNOR: Sure? Yes"), std::string::npos) << out;
}

}  // namespace
}  // namespace velnor::win32
