// The progress window's controls at their design places and its handlers.
#include "progress/frm_progress_dialog.h"

#include <string>

#include "platform/automation/error_state.h"
#include "platform/automation/object.h"
#include "progress/processing_dialog.h"

namespace velnor {
namespace {

// Client area in twips.
constexpr int kClientWidth = 4950;
constexpr int kClientHeight = 1845;

}  // namespace

std::shared_ptr<frmProgressDialog> frmProgressDialog::Instance() {
  thread_local std::shared_ptr<frmProgressDialog> instance(
      new frmProgressDialog());
  return instance;
}

frmProgressDialog::frmProgressDialog()
    : forms::Window("Collecting data...", kClientWidth, kClientHeight),
      lblOverallProcessDescription(
          std::make_shared<forms::Label>(*this, forms::Rect{105, 120, 4725, 405}, 1)),
      txtOverallProcessDescription(std::make_shared<forms::RichTextBox>(
          *this, forms::Rect{660, 210, 3105, 165}, 4)),
      lblCurrentProcessDescription(
          std::make_shared<forms::Label>(*this, forms::Rect{105, 555, 4725, 420}, 2)),
      txtCurrentProcessDescription(std::make_shared<forms::RichTextBox>(
          *this, forms::Rect{660, 585, 3075, 165}, 5)),
      pbrProgress(std::make_shared<forms::ProgressBar>(
          *this, forms::Rect{210, 1050, 4545, 285}, 6)),
      cmdCancel(std::make_shared<forms::CommandButton>(
          *this, forms::Rect{1800, 1410, 1245, 375}, 0, "&Cancel")),
      txtHidden(std::make_shared<forms::TextBox>(
          *this, forms::ControlKind::kTextBox, forms::Rect{-60, 1620, 1125, 405},
          3, "Hidden textbox")) {
  txtHidden->SetDesignVisible(false);
  SetCancelButton(cmdCancel.get());
  SetLoadHandler([this] { Form_Load(); });
  SetActivateHandler([this] { Form_Activate(); });
  cmdCancel->SetClickHandler([this] { cmdCancel_Click(); });
  txtOverallProcessDescription->SetChangeHandler(
      [this] { txtOverallProcessDescription_Change(); });
  txtCurrentProcessDescription->SetChangeHandler(
      [this] { txtCurrentProcessDescription_Change(); });
  // Every change of a description line, and of the hidden box, lets waiting
  // input through: this is where Cancel clicks arrive during a run.
  lblOverallProcessDescription->SetChangeHandler([] { forms::DoEvents(); });
  lblCurrentProcessDescription->SetChangeHandler([] { forms::DoEvents(); });
  txtHidden->SetChangeHandler([] { forms::DoEvents(); });
}

frmProgressDialog::~frmProgressDialog() = default;

void frmProgressDialog::Form_Load() {
  txtOverallProcessDescription->SetVisible(false);
  txtCurrentProcessDescription->SetVisible(false);
  txtOverallProcessDescription->SetEnabled(true);
  txtCurrentProcessDescription->SetEnabled(true);
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

void frmProgressDialog::cmdCancel_Click() {
  txtOverallProcessDescription->SetEnabled(false);
  txtCurrentProcessDescription->SetEnabled(false);
  OnCancelClicked.Raise();
}

void frmProgressDialog::txtOverallProcessDescription_Change() {
  lblOverallProcessDescription->SetCaption(txtOverallProcessDescription->Text());
  forms::DoEvents();
}

void frmProgressDialog::txtCurrentProcessDescription_Change() {
  lblCurrentProcessDescription->SetCaption(txtCurrentProcessDescription->Text());
}

}  // namespace velnor
