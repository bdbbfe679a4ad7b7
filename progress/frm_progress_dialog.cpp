// The progress window's controls at their design places and its handlers.
#include "progress/frm_progress_dialog.h"

#include <string>

#include "platform/automation/error_state.h"
#include "platform/automation/object.h"
#include "progress/processing_dialog.h"

namespace velnor {
namespace {

// The inside of the window in character cells (see forms::Place).
constexpr int kRows = 8;

}  // namespace

// The window's default instance is per thread, as the toolkit's windows
// are (platform/forms).
std::shared_ptr<frmProgressDialog> frmProgressDialog::Instance() {
  thread_local std::shared_ptr<frmProgressDialog> instance(
      new frmProgressDialog());
  return instance;
}

frmProgressDialog::frmProgressDialog()
    : forms::Window("Collecting data...", kRows),
      lblOverallProcessDescription(
          std::make_shared<forms::Label>(*this, forms::Place{0, 1, 66})),
      lblCurrentProcessDescription(
          std::make_shared<forms::Label>(*this, forms::Place{2, 1, 66})),
      pbrProgress(
          std::make_shared<forms::ProgressBar>(*this, forms::Place{4, 2, 64})),
      cmdCancel(std::make_shared<forms::CommandButton>(
          *this, forms::Place{6, 25, 17}, "&Cancel")) {
  SetCancelButton(cmdCancel.get());
  SetLoadHandler([this] { Form_Load(); });
  SetActivateHandler([this] { Form_Activate(); });
  cmdCancel->SetClickHandler([this] { cmdCancel_Click(); });
  // Every change of a description line lets waiting input through: this is
  // where Cancel clicks arrive during a run.
  lblOverallProcessDescription->SetChangeHandler([] { forms::DoEvents(); });
  lblCurrentProcessDescription->SetChangeHandler([] { forms::DoEvents(); });
}

frmProgressDialog::~frmProgressDialog() = default;

void frmProgressDialog::Form_Load() {
  blnActivated = false;
  SetCaption(" 0% Completed");
}

void frmProgressDialog::Form_Activate() {
  // Activation repeats (after a message box, for one); only the first of a
  // load may start a run.
  if (blnActivated) return;
  blnActivated = true;
  std::shared_ptr<ProcessingDialog> controller = objProcessingDialog.lock();
  if (!controller) automation::Raise(automation::kErrObjectNotSet);
  if (!controller->CancelButtonEnabled()) cmdCancel->SetEnabled(false);
  Refresh();
  forms::DoEvents();
  const std::string procedure = controller->CallBackProcedureName();
  automation::ObjectRef collector = controller->DataCollectorObject();
  controller.reset();  // the collector keeps its controller alive itself
  automation::CallByName(collector, procedure);
}

void frmProgressDialog::cmdCancel_Click() { OnCancelClicked.Raise(); }

}  // namespace velnor
