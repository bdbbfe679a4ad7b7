// The toolkit's model and event queue, the headless backend, the message
// box's button and text rules, and the streaming grid.
#include "platform/forms/forms.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/automation/error_state.h"
#include "platform/forms/backends.h"
#include "platform/forms/streaming_grid.h"
#include "testing/raised_error.h"

namespace velnor::forms {
namespace {

int ErrorNumberOf(const std::function<void()>& statement) {
  return velnor::testing::ErrorOf(statement).number();
}

class FormsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DoEvents();  // nothing left over from another test
  }
};

TEST_F(FormsTest, DoEventsRunsOnlyWhatWasPendingWhenItStarted) {
  std::vector<std::string> ran;
  PostEvent([&] {
    ran.emplace_back("first");
    PostEvent([&] { ran.emplace_back("posted by first"); });
  });
  PostEvent([&] { ran.emplace_back("second"); });
  EXPECT_TRUE(EventsPending());
  DoEvents();
  EXPECT_EQ(ran, (std::vector<std::string>{"first", "second"}));
  EXPECT_TRUE(EventsPending());
  DoEvents();
  EXPECT_EQ(ran.back(), "posted by first");
  EXPECT_FALSE(EventsPending());

  // A nested call runs what is pending, and the outer call does not run it
  // again.
  ran.clear();
  PostEvent([&] {
    ran.emplace_back("outer start");
    DoEvents();
    ran.emplace_back("outer end");
  });
  PostEvent([&] { ran.emplace_back("next"); });
  DoEvents();
  EXPECT_EQ(ran,
            (std::vector<std::string>{"outer start", "next", "outer end"}));
}

TEST_F(FormsTest, EventReachesEverySubscriberUntilDisconnected) {
  Event event;
  int a = 0, b = 0;
  int id_a = event.Connect([&] { ++a; });
  event.Connect([&] { ++b; });
  event.Raise();
  event.Disconnect(id_a);
  event.Raise();
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 2);
}

TEST_F(FormsTest, ProgressBarRefusesValuesOutsideItsRange) {
  Window window("w", 8);
  ProgressBar bar(window, {});
  bar.SetValue(100);
  EXPECT_EQ(ErrorNumberOf([&] { bar.SetValue(100.5f); }), 380);
  EXPECT_EQ(ErrorNumberOf([&] { bar.SetValue(-1); }), 380);
  EXPECT_EQ(bar.Value(), 100);
  EXPECT_EQ(ErrorNumberOf([&] { bar.SetMin(100); }), 380);
  bar.SetMax(40);  // pulls the value into the new range
  EXPECT_EQ(bar.Value(), 40);
  EXPECT_EQ(ErrorNumberOf([&] { bar.SetMax(0); }), 380);
  EXPECT_EQ(bar.Max(), 40);
}

TEST_F(FormsTest, ChangeNotificationsAndDesignValuesOnLoad) {
  Window window("Design title", 8);
  Label label(window, {});
  CommandButton button(window, {}, "&Cancel");
  int label_changes = 0, clicks = 0;
  label.SetChangeHandler([&] { ++label_changes; });
  button.SetClickHandler([&] { ++clicks; });
  label.SetCaption("x");
  label.SetCaption("x");
  EXPECT_EQ(label_changes, 2);

  EXPECT_EQ(button.AccessKey(), 'C');
  EXPECT_EQ(button.DisplayCaption(), "Cancel");
  button.Click();
  button.SetEnabled(false);
  button.Click();
  EXPECT_EQ(clicks, 1);

  window.SetCaption("changed");
  window.SetActivateHandler([&] { PostEvent([&] { window.Unload(); }); });
  window.SetPresentation({BackendPreference::kHeadless, {}});
  window.ShowModal();  // loads first: the design values come back
  EXPECT_EQ(window.Caption(), "Design title");
  EXPECT_EQ(label.Caption(), "");
  EXPECT_TRUE(button.Enabled());
}

TEST_F(FormsTest, ModalShowRunsActivationAndEndsAtUnload) {
  Window window("w", 8);
  CommandButton cancel(window, {}, "&Cancel");
  window.SetCancelButton(&cancel);
  int activations = 0, loads = 0;
  window.SetLoadHandler([&] { ++loads; });
  window.SetActivateHandler([&] {
    ++activations;
    EXPECT_EQ(ErrorNumberOf([&] { window.ShowModal(); }), 400);
    PostEvent([&] { window.Unload(); });
  });
  window.SetPresentation({BackendPreference::kHeadless, {}});
  window.ShowModal();
  EXPECT_EQ(activations, 1);
  EXPECT_EQ(loads, 1);
  EXPECT_FALSE(window.Showing());
}

TEST_F(FormsTest, MessageBoxDefaultButtonAndEllipsis) {
  EXPECT_EQ(internal::DefaultButton(292, 2), 1u);
  EXPECT_EQ(internal::DefaultButton(4 + 512, 2), 0u);
  EXPECT_EQ(internal::Ellipsize("short", 10), "short");
  EXPECT_EQ(internal::Ellipsize("a long description", 10), "a long ...");
  EXPECT_EQ(internal::Ellipsize("tab\there", 8), "tab here");
  // UTF-8 sequences stay whole: "é" counts as one character.
  EXPECT_EQ(internal::Ellipsize("caf\xC3\xA9 au lait", 7), "caf\xC3\xA9...");
}

// Cut by the columns a terminal gives each character, never inside one.
TEST_F(FormsTest, EllipsisMeasuresTerminalColumns) {
  const std::string kanji =
      "\u6F22\u5B57\u30C6\u30AD\u30B9\u30C8";  // 12 columns
  EXPECT_EQ(internal::Ellipsize(kanji, 12), kanji);
  EXPECT_EQ(internal::Ellipsize(kanji, 8), "\u6F22\u5B57...");
  // Seven columns leave four before the dots: a wide character does not
  // fit in the last one.
  EXPECT_EQ(internal::Ellipsize("a" + kanji, 7), "a\u6F22...");
  // A combining acute takes no column and stays with its letter.
  const std::string decomposed = "cafe\u0301 au lait";
  EXPECT_EQ(internal::Ellipsize(decomposed, 7), "cafe\u0301...");
  EXPECT_EQ(internal::Ellipsize("cafe\u0301", 4), "cafe\u0301");
  // An emoji sequence joined by ZWJ is one character of two columns.
  const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467";
  EXPECT_EQ(internal::Ellipsize(family + "abcdef", 5), family + "...");
  EXPECT_EQ(internal::Ellipsize(family + "abc", 5), family + "abc");
  EXPECT_EQ(internal::Ellipsize("x\U0001F600y", 4), "x\U0001F600y");
  EXPECT_EQ(internal::Ellipsize("x\U0001F600yz", 4), "x...");
  // Bytes that are not UTF-8 cannot reach the terminal as they are.
  EXPECT_EQ(internal::Ellipsize("a\xFF\x1B[2J", 10), "a\uFFFD [2J");
}

// Keeps what a StreamingGrid passes on.
struct KeptRows : GridWriter {
  explicit KeptRows(std::vector<std::vector<std::string>>& rows) : rows(rows) {}
  void Row(const std::vector<std::string>& cells) override {
    rows.push_back(cells);
  }
  void End(const GridLayout& finished) override { layout = finished; }
  std::vector<std::vector<std::string>>& rows;
  GridLayout layout;
};

TEST(StreamingGridTest, RowsGoOutWhenCompleteAndAreThenOutOfReach) {
  std::vector<std::vector<std::string>> rows;
  auto writer = std::make_unique<KeptRows>(rows);
  const KeptRows& kept = *writer;
  StreamingGrid grid(1000, std::move(writer));
  grid.SetRows(1);
  grid.SetCols(2);
  grid.SetTextMatrix(0, 1, automation::Variant(int32_t{7}));
  grid.AddItem("a");
  grid.SetTextMatrix(1, 1, automation::Variant("b"));
  // The header was complete when the first row came.
  EXPECT_EQ(rows, (std::vector<std::vector<std::string>>{{"", "7"}}));
  EXPECT_EQ(grid.Rows(), 2);
  EXPECT_EQ(ErrorNumberOf([&] { (void)grid.TextMatrix(0, 1); }), 381);
  EXPECT_EQ(ErrorNumberOf([&] { grid.SetRows(0); }), 30009);
  EXPECT_EQ(grid.TextMatrix(1, 1), "b");
  grid.SetColWidth(1, 500);
  grid.SetMergeCol(0, true);
  grid.SetFixedCols(0);
  grid.Finish();
  EXPECT_EQ(rows,
            (std::vector<std::vector<std::string>>{{"", "7"}, {"a", "b"}}));
  EXPECT_EQ(kept.layout.col_widths, (std::vector<float>{-1, 500}));
  EXPECT_EQ(kept.layout.merge_cols, (std::vector<bool>{true, false}));
  EXPECT_EQ(kept.layout.fixed_cols, 0);
}

}  // namespace
}  // namespace velnor::forms
