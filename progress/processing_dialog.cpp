// The progress controller: state checks, the percentage arithmetic and the
// cancel relay. Failures of SetMaxProgressBarValue and SetProgress end them
// quietly, as progress display must never disturb the run.
#include "progress/processing_dialog.h"

#include <cstdint>
#include <limits>
#include <string>

#include "platform/automation/error_state.h"
#include "platform/automation/variant.h"
#include "progress/frm_progress_dialog.h"

namespace velnor {
namespace {

// Runs `statement`, dropping any failure and leaving no pending error.
template <class Statement>
void Quietly(Statement&& statement) {
  if (!automation::ResumeNext(std::forward<Statement>(statement))) {
    automation::Err().Clear();
  }
}

}  // namespace

ProcessingDialog::~ProcessingDialog() { Disconnect(); }

void ProcessingDialog::ShowProgressBar(bool blnShow) {
  if (Showing()) objProgressDlg->pbrProgress->SetVisible(blnShow);
}

void ProcessingDialog::SetMaxProgressBarValue(int32_t lValue) {
  if (lValue <= 0) return;
  Quietly([&] {
    if (!Showing()) return;
    forms::ProgressBar& bar = *objProgressDlg->pbrProgress;
    bar.SetMin(0);
    bar.SetMax(static_cast<float>(lValue));
    bar.SetValue(0);
  });
}

void ProcessingDialog::SetProgress(int32_t lCompleted, int32_t lTotal) {
  if (lCompleted < 0 || lTotal < 1) return;
  Quietly([&] {
    if (!Showing()) return;
    const int64_t hundredfold = int64_t{lCompleted} * 100;
    if (hundredfold > std::numeric_limits<int32_t>::max()) {
      automation::Raise(automation::kErrOverflow);
    }
    const auto percent = automation::RoundToInteger<int32_t>(
        static_cast<double>(hundredfold) / lTotal);
    // The bar refuses a count beyond its range, which must leave the
    // caption alone too.
    objProgressDlg->pbrProgress->SetValue(static_cast<float>(lCompleted));
    if (percent != lLastPercent) {
      lLastPercent = percent;
      std::string title = " ";
      title += std::to_string(percent);
      title += "% Completed";
      objProgressDlg->SetCaption(title);
    }
  });
}

void ProcessingDialog::ShowDialog() {
  if (!objProgressDlg) return;
  blnDialogShown = true;
  objProgressDlg->objProcessingDialog = weak_from_this();
  try {
    objProgressDlg->ShowModal();
  } catch (...) {
    blnDialogShown = false;  // the window was unloaded on the way out
    throw;
  }
  forms::DoEvents();
}

void ProcessingDialog::CloseDialog() {
  if (!Showing()) return;
  blnDialogShown = false;
  objProgressDlg->Unload();
}

void ProcessingDialog::SetProgressDialog(
    std::shared_ptr<frmProgressDialog> vNewValue) {
  Disconnect();
  objProgressDlg = std::move(vNewValue);
  if (objProgressDlg) {
    cancel_subscription_ = objProgressDlg->OnCancelClicked.Connect(
        [this] { objProgressDlg_OnCancelClicked(); });
  }
}

void ProcessingDialog::SetReportDescription(std::string_view strDescription) {
  if (!Showing()) return;
  forms::Label& label = *objProgressDlg->lblOverallProcessDescription;
  label.SetCaption(strDescription);
  label.Refresh();
}

void ProcessingDialog::SetReportItemDescription(
    std::string_view strDescription) {
  if (!Showing()) return;
  forms::Label& label = *objProgressDlg->lblCurrentProcessDescription;
  label.SetCaption(strDescription);
  label.Refresh();
}

void ProcessingDialog::SetReportItemDescription(std::string_view prefix,
                                                int64_t number) {
  if (!Showing()) return;
  forms::Label& label = *objProgressDlg->lblCurrentProcessDescription;
  label.SetCaption(prefix, number);
  label.Refresh();
}

void ProcessingDialog::EnableCancelButton(bool blnEnable) {
  if (!Showing()) return;
  blnCancelButtonEnabled = blnEnable;
  objProgressDlg->cmdCancel->SetEnabled(blnEnable);
}

void ProcessingDialog::objProgressDlg_OnCancelClicked() {
  if (!objProgressDlg) return;
  std::function<void()> handler = onReportCollectionCanceled;
  if (handler) handler();
}

void ProcessingDialog::Disconnect() {
  if (objProgressDlg && cancel_subscription_ != 0) {
    objProgressDlg->OnCancelClicked.Disconnect(cancel_subscription_);
  }
  cancel_subscription_ = 0;
}

}  // namespace velnor
