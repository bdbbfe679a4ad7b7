// frmProgressDialog: the modal progress window shown while a collection run
// works: a caption with the percentage done, two description lines, a
// progress bar and a Cancel button. It is driven through its controller
// (ProcessingDialog); on its own it makes the start-up call that begins the
// run once per load, turns Cancel clicks into OnCancelClicked, and processes
// pending events whenever a description line changes, which is what keeps
// Cancel clickable while the run occupies the thread. Tests click Cancel as
// a user would: forms::PostEvent([] { ...->cmdCancel->Click(); }).
#ifndef VELNOR_PROGRESS_FRM_PROGRESS_DIALOG_H_
#define VELNOR_PROGRESS_FRM_PROGRESS_DIALOG_H_

#include <memory>

#include "platform/forms/forms.h"

namespace velnor {

class ProcessingDialog;

class frmProgressDialog : public forms::Window {
 public:
  // The calling thread's window, created on first use and reused by every
  // run on that thread.
  static std::shared_ptr<frmProgressDialog> Instance();

  ~frmProgressDialog() override;

  // The controls, by their design names, top to bottom.
  const std::shared_ptr<forms::Label> lblOverallProcessDescription;
  const std::shared_ptr<forms::Label> lblCurrentProcessDescription;
  const std::shared_ptr<forms::ProgressBar> pbrProgress;
  const std::shared_ptr<forms::CommandButton> cmdCancel;

  // Raised on every click of cmdCancel (no parameters). Subscribers connect
  // and disconnect through the Event.
  forms::Event OnCancelClicked;

  // The controller that shows the window, written by its ShowDialog before
  // the modal show and read once per load at first activation. Held weakly:
  // the controller holds the window.
  std::weak_ptr<ProcessingDialog> objProcessingDialog;

 private:
  frmProgressDialog();

  void Form_Load();
  // Makes the start-up call on the first activation of each load. Raises 91
  // when no controller is attached or the controller has no collector.
  void Form_Activate();
  void cmdCancel_Click();

  bool blnActivated = false;
};

}  // namespace velnor

#endif  // VELNOR_PROGRESS_FRM_PROGRESS_DIALOG_H_
