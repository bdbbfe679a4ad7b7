// ProcessingDialog: the controller between a data collector and the
// progress window frmProgressDialog. The collector never touches the window:
// it creates one controller per run, hands it the window and itself, shows
// the window through ShowDialog (which blocks while the run executes inside
// the window's start-up call), reports progress through SetProgress and the
// description setters, and learns of Cancel through the cancel handler.
//
// The window is *showing* from ShowDialog until CloseDialog while a window is
// attached. The members documented "only while showing" do nothing at all
// otherwise. The collector uses every member but those the window reads
// (DataCollectorObject, CancelButtonEnabled, CallBackProcedureName); what
// the dialog shows is read off the window's controls.
//
// Ownership: the controller must be owned by a std::shared_ptr (ShowDialog
// hands the window a weak reference to it). It holds the window strongly and
// the collector weakly, because the collector owns the controller.
#ifndef VELNOR_PROGRESS_PROCESSING_DIALOG_H_
#define VELNOR_PROGRESS_PROCESSING_DIALOG_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/automation/object.h"

namespace velnor {

class frmProgressDialog;

class ProcessingDialog : public std::enable_shared_from_this<ProcessingDialog> {
 public:
  ProcessingDialog() = default;
  ~ProcessingDialog();
  ProcessingDialog(const ProcessingDialog&) = delete;
  ProcessingDialog& operator=(const ProcessingDialog&) = delete;

  // Only while showing: shows or hides the progress bar.
  void ShowProgressBar(bool blnShow);
  // Only while showing, and only for lValue > 0: range 0..lValue, value 0.
  // Failures are swallowed.
  void SetMaxProgressBarValue(int32_t lValue);
  // Only while showing: moves the bar to lCompleted and, when the rounded
  // percentage (half to even, not clamped) differs from the last one
  // written, sets the caption to " <percent>% Completed". Negative counts,
  // totals below 1, lCompleted above 21474836 (its hundredfold overflows)
  // and values the bar refuses change nothing. Failures are swallowed.
  void SetProgress(int32_t lCompleted, int32_t lTotal);
  // Shows the attached window modally (nothing without one) and returns after
  // CloseDialog unloaded it and pending events ran once. The window's
  // start-up call, and with it the whole run, executes inside. Failures of
  // the window (such as a missing collector) are raised after the window was
  // unloaded.
  void ShowDialog();
  // Only while showing: ends the showing state and unloads the window; the
  // window stays attached for a later ShowDialog.
  void CloseDialog();

  // Attaches the window (null detaches) and subscribes to its
  // OnCancelClicked, dropping the subscription to an earlier window.
  void SetProgressDialog(std::shared_ptr<frmProgressDialog> vNewValue);

  // Only while showing: the upper / lower description line. Each call
  // processes pending events once (a Cancel click may run inside).
  void SetReportDescription(std::string_view strDescription);
  void SetReportItemDescription(std::string_view strDescription);
  // SetReportItemDescription(prefix + number in decimal digits), with the
  // text composed only when the window draws it: a counter shown for every
  // record costs no text work per record.
  void SetReportItemDescription(std::string_view prefix, int64_t number);

  // The collector the window calls back; empty once the collector is gone.
  automation::ObjectRef DataCollectorObject() const {
    return objDataCollector.lock();
  }
  void SetDataCollectorObject(const automation::ObjectRef& vNewValue) {
    objDataCollector = vNewValue;
  }

  // Only while showing: stores the request, then applies it to cmdCancel.
  void EnableCancelButton(bool blnEnable);
  // The last request stored; the window applies it at its first activation
  // of every load.
  bool CancelButtonEnabled() const { return blnCancelButtonEnabled; }

  // The method the window calls on DataCollectorObject: "PrepareReport".
  std::string CallBackProcedureName() const { return "PrepareReport"; }

  // onReportCollectionCanceled: `handler` runs on every Cancel click while a
  // window is attached, nested inside whatever processed pending events.
  // An empty function disconnects.
  void SetCancelHandler(std::function<void()> handler) {
    onReportCollectionCanceled = std::move(handler);
  }

 private:
  bool Showing() const { return objProgressDlg != nullptr && blnDialogShown; }
  void objProgressDlg_OnCancelClicked();
  void Disconnect();

  std::shared_ptr<frmProgressDialog> objProgressDlg;
  int cancel_subscription_ = 0;
  bool blnDialogShown = false;
  bool blnCancelButtonEnabled = true;
  std::weak_ptr<automation::Object> objDataCollector;
  int32_t lLastPercent = 0;
  std::function<void()> onReportCollectionCanceled;
};

}  // namespace velnor

#endif  // VELNOR_PROGRESS_PROCESSING_DIALOG_H_
