// ProcessingDialog and frmProgressDialog driven like the collector drives
// them: a scripted collector's PrepareReport runs inside the modal window,
// reports through the controller and closes the dialog at its end.
#include "progress/processing_dialog.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "platform/automation/error_state.h"
#include "platform/forms/forms.h"
#include "progress/frm_progress_dialog.h"
#include "testing/raised_error.h"

namespace velnor {
namespace {

class ScriptedCollector : public automation::Object {
 public:
  void CallMethod(std::string_view name) override {
    if (name != "PrepareReport") return Object::CallMethod(name);
    ++start_up_calls;
    if (script) script();
  }

  std::function<void()> script;
  int start_up_calls = 0;
};

class ProcessingDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = frmProgressDialog::Instance();
    window_->SetPresentation({forms::BackendPreference::kHeadless, {}});
    dialog_ = std::make_shared<ProcessingDialog>();
    collector_ = std::make_shared<ScriptedCollector>();
    dialog_->SetDataCollectorObject(collector_);
    dialog_->SetProgressDialog(window_);
    dialog_->SetCancelHandler([this] { ++cancel_events_; });
  }

  // Shows the dialog; `body` runs as the run, then the run closes the dialog.
  void Run(const std::function<void()>& body) {
    collector_->script = [this, body] {
      body();
      dialog_->CloseDialog();
    };
    dialog_->ShowDialog();
  }

  std::shared_ptr<frmProgressDialog> window_;
  std::shared_ptr<ProcessingDialog> dialog_;
  std::shared_ptr<ScriptedCollector> collector_;
  int cancel_events_ = 0;
};

TEST_F(ProcessingDialogTest, TitleShowsRoundedPercentageBarShowsCount) {
  std::vector<std::string> titles;
  std::vector<float> values;
  Run([&] {
    EXPECT_EQ(window_->Caption(), " 0% Completed");
    dialog_->SetProgress(0, 8);
    EXPECT_EQ(window_->Caption(), " 0% Completed");
    for (auto [done, total] :
         {std::pair{1, 8}, {3, 8}, {5, 8}, {7, 8}, {2, 3}}) {
      dialog_->SetProgress(done, total);
      titles.push_back(window_->Caption());
      values.push_back(window_->pbrProgress->Value());
    }
  });
  EXPECT_EQ(titles, (std::vector<std::string>{
                        " 12% Completed", " 38% Completed", " 62% Completed",
                        " 88% Completed", " 67% Completed"}));
  EXPECT_EQ(values, (std::vector<float>{1, 3, 5, 7, 2}));
  EXPECT_EQ(collector_->start_up_calls, 1);
  EXPECT_FALSE(window_->Showing());

  // An unchanged percentage leaves the title alone; the bar still follows.
  Run([&] {
    dialog_->SetProgress(1, 8);  // 12
    window_->SetCaption("untouched");
    dialog_->SetProgress(2, 16);  // 12.5 rounds to the even 12
    EXPECT_EQ(window_->Caption(), "untouched");
    EXPECT_EQ(window_->pbrProgress->Value(), 2);
    dialog_->SetProgress(3, 16);  // 18.75 -> 19
    EXPECT_EQ(window_->Caption(), " 19% Completed");
  });
}

TEST_F(ProcessingDialogTest, OutOfRangeAndOverflowChangeNothing) {
  Run([&] {
    dialog_->SetMaxProgressBarValue(10);
    dialog_->SetProgress(5, 4);
    EXPECT_EQ(window_->Caption(), " 125% Completed");
    EXPECT_EQ(window_->pbrProgress->Value(), 5);

    dialog_->SetMaxProgressBarValue(4);
    EXPECT_EQ(window_->pbrProgress->Max(), 4);
    EXPECT_EQ(window_->pbrProgress->Value(), 0);
    window_->SetCaption("before");
    dialog_->SetProgress(5, 4);  // beyond the bar's maximum
    dialog_->SetProgress(-1, 10);
    dialog_->SetProgress(3, 0);
    EXPECT_EQ(window_->Caption(), "before");
    EXPECT_EQ(window_->pbrProgress->Value(), 0);
    EXPECT_EQ(automation::Err().Number(), 0);

    dialog_->SetMaxProgressBarValue(0);
    dialog_->SetMaxProgressBarValue(-3);
    EXPECT_EQ(window_->pbrProgress->Max(), 4);

    dialog_->SetMaxProgressBarValue(30000000);
    dialog_->SetProgress(21474837, 30000000);  // hundredfold overflows
    EXPECT_EQ(window_->Caption(), "before");
    EXPECT_EQ(window_->pbrProgress->Value(), 0);
    dialog_->SetProgress(21474836, 30000000);  // the largest that fits
    EXPECT_EQ(window_->Caption(), " 72% Completed");
    EXPECT_EQ(automation::Err().Number(), 0);
  });
}

TEST_F(ProcessingDialogTest, MembersAreInertOutsideTheShowingState) {
  auto call_inert = [&] {
    dialog_->SetReportDescription("ignored");
    dialog_->SetReportItemDescription("ignored");
    dialog_->EnableCancelButton(false);
    dialog_->ShowProgressBar(false);
    EXPECT_TRUE(dialog_->CancelButtonEnabled());
    EXPECT_EQ(dialog_->CallBackProcedureName(), "PrepareReport");
  };
  call_inert();
  Run([&] {
    EXPECT_TRUE(window_->cmdCancel->Enabled());
    EXPECT_TRUE(window_->pbrProgress->Visible());
    EXPECT_NE(window_->lblOverallProcessDescription->Caption(), "ignored");
    dialog_->SetReportItemDescription("Processing Record # : 1");
    EXPECT_EQ(window_->lblCurrentProcessDescription->Caption(),
              "Processing Record # : 1");
  });
  dialog_->CloseDialog();  // a second close does nothing
  call_inert();
  EXPECT_EQ(window_->lblCurrentProcessDescription->Caption(),
            "Processing Record # : 1");
}

TEST_F(ProcessingDialogTest, CancelButtonRequestHoldsAtTheNextActivation) {
  Run([&] {
    dialog_->EnableCancelButton(false);
    EXPECT_FALSE(window_->cmdCancel->Enabled());
  });
  EXPECT_FALSE(dialog_->CancelButtonEnabled());
  Run([&] {
    EXPECT_FALSE(window_->cmdCancel->Enabled());
    EXPECT_TRUE(window_->cmdCancel->Visible());
    window_->cmdCancel->Click();  // a disabled button takes no clicks
    dialog_->EnableCancelButton(true);
  });
  EXPECT_EQ(cancel_events_, 0);
  Run([&] { EXPECT_TRUE(window_->cmdCancel->Enabled()); });
}

TEST_F(ProcessingDialogTest,
       EveryCancelClickRaisesTheEventAtADescriptionChange) {
  Run([&] {
    forms::PostEvent([this] { window_->cmdCancel->Click(); });
    forms::PostEvent([this] { window_->cmdCancel->Click(); });
    EXPECT_EQ(cancel_events_, 0);  // nothing arrives before events run
    dialog_->SetReportDescription("Collecting data for site Default");
    EXPECT_EQ(cancel_events_, 2);
    EXPECT_TRUE(window_->cmdCancel->Enabled());
  });
}

TEST_F(ProcessingDialogTest, OnlyANewShowCallsAgain) {
  Run([&] {
    dialog_->SetProgress(1, 2);
    window_->Activate();  // later activations make no start-up call
    forms::PostEvent([this] { window_->Activate(); });
    forms::DoEvents();
  });
  EXPECT_EQ(window_->Caption(), " 50% Completed");
  EXPECT_EQ(collector_->start_up_calls, 1);

  // The collector makes a fresh controller per run; the window is reused.
  auto second = std::make_shared<ProcessingDialog>();
  second->SetDataCollectorObject(collector_);
  second->SetProgressDialog(window_);
  int second_events = 0;
  second->SetCancelHandler([&] { ++second_events; });
  dialog_.reset();
  std::string title_at_start;
  collector_->script = [&] {
    title_at_start = window_->Caption();
    window_->cmdCancel->Click();
    second->CloseDialog();
  };
  second->ShowDialog();
  EXPECT_EQ(title_at_start, " 0% Completed");
  EXPECT_EQ(collector_->start_up_calls, 2);
  EXPECT_EQ(second_events, 1);
  EXPECT_EQ(cancel_events_, 0);  // the first controller is gone
}

TEST_F(ProcessingDialogTest, FailingRunUnloadsTheWindowAndReachesTheCaller) {
  collector_->script = [] { automation::Raise(automation::kErrFileNotFound); };
  EXPECT_EQ(testing::ErrorOf([&] { dialog_->ShowDialog(); }).number(),
            automation::kErrFileNotFound);
  EXPECT_FALSE(window_->Showing());
  Run([] {});
  EXPECT_EQ(collector_->start_up_calls, 2);
}

TEST_F(ProcessingDialogTest, WithoutWindowOrCollector) {
  auto lone = std::make_shared<ProcessingDialog>();
  lone->SetDataCollectorObject(collector_);
  lone->ShowDialog();  // no window: nothing happens
  EXPECT_EQ(collector_->start_up_calls, 0);

  // The controller does not keep its collector alive.
  collector_.reset();
  EXPECT_EQ(dialog_->DataCollectorObject(), nullptr);
  EXPECT_EQ(testing::ErrorOf([&] { dialog_->ShowDialog(); }).number(),
            automation::kErrObjectNotSet);
  EXPECT_FALSE(window_->Showing());
}

TEST_F(ProcessingDialogTest, HeadlessOutputIsOneLineOfTitleSiteAndStatus) {
  const auto status = [] { return std::string("host status"); };
  window_->SetPresentation({forms::BackendPreference::kHeadless, status});
  auto run = [&] {
    ::testing::internal::CaptureStderr();
    Run([&] {
      dialog_->SetReportDescription("Collecting data for site A");
      dialog_->SetReportItemDescription("Processing Record # : ", 1);
      dialog_->SetProgress(1, 2);
      dialog_->SetReportDescription("Collecting data for site B");
      dialog_->SetProgress(2, 2);
    });
    return ::testing::internal::GetCapturedStderr();
  };
  // The counter was composed for the window all the same.
  std::string out = run();
  EXPECT_EQ(window_->lblCurrentProcessDescription->Caption(),
            "Processing Record # : 1");
  // Lines come at most every two seconds: this run has time for the first,
  // and the state the window closed in ends them.
  EXPECT_EQ(out,
            "0% Completed | Collecting data for site A | host status\n"
            "100% Completed | Collecting data for site B | host status\n");

  window_->SetPresentation({forms::BackendPreference::kQuiet, status});
  EXPECT_EQ(run(), "");
}

}  // namespace
}  // namespace velnor
