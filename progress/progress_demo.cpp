// progress_demo: a fake collection run behind the progress window, for
// trying the window out and for the end-to-end test. It walks a few sites
// and records, sets the descriptions and the progress like the real run,
// and checks its cancel flag after every record: a Cancel click asks
// "Do you want to cancel this operation? "; Yes stops, No goes on.
//
// Usage: progress_demo [sites [records-per-site [milliseconds-per-record]]]
// The last line, printed on standard output after the window is gone,
// tells how the run ended.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "platform/automation/object.h"
#include "platform/forms/forms.h"
#include "platform/win32/user32.h"
#include "progress/frm_progress_dialog.h"
#include "progress/processing_dialog.h"

namespace {

using velnor::frmProgressDialog;
using velnor::ProcessingDialog;

class DemoCollector : public velnor::automation::Object,
                      public std::enable_shared_from_this<DemoCollector> {
 public:
  DemoCollector(int sites, int records, int delay_ms)
      : sites_(sites), records_(records), delay_ms_(delay_ms) {}

  void Run() {
    dialog_ = std::make_shared<ProcessingDialog>();
    dialog_->SetDataCollectorObject(shared_from_this());
    dialog_->SetProgressDialog(frmProgressDialog::Instance());
    dialog_->SetCancelHandler([this] { cancel_requested_ = true; });
    dialog_->ShowProgressBar(true);
    dialog_->EnableCancelButton(true);
    dialog_->ShowDialog();
  }

  void CallMethod(std::string_view name) override {
    if (name != "PrepareReport") return Object::CallMethod(name);
    Collect();
    dialog_->CloseDialog();
  }

  bool cancelled() const { return cancelled_; }
  int done() const { return done_; }

 private:
  void Collect() {
    const int total = sites_ * records_;
    dialog_->SetMaxProgressBarValue(total);
    for (int site = 1; site <= sites_ && !cancelled_; ++site) {
      dialog_->SetReportDescription("Collecting data for site Site " +
                                    std::to_string(site) + " (W3SVC" +
                                    std::to_string(site) + ")");
      for (int record = 1; record <= records_; ++record) {
        dialog_->SetReportItemDescription("Processing Record # : " +
                                          std::to_string(record));
        std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms_));
        dialog_->SetProgress(++done_, total);
        if (cancel_requested_ && ConfirmCancel()) break;
      }
      if (velnor::win32::GetInputState() != 0) velnor::forms::DoEvents();
    }
  }

  bool ConfirmCancel() {
    using namespace velnor::win32;
    int answer = MessageBox("Do you want to cancel this operation? ", "VELNOR",
                            kMbYesNo + kMbIconQuestion + kMbDefButton2);
    if (answer == kIdYes) {
      cancelled_ = true;
      return true;
    }
    cancel_requested_ = false;
    return false;
  }

  int sites_;
  int records_;
  int delay_ms_;
  std::shared_ptr<ProcessingDialog> dialog_;
  bool cancel_requested_ = false;
  bool cancelled_ = false;
  int done_ = 0;
};

int Argument(int argc, char** argv, int index, int fallback) {
  return argc > index ? std::max(1, std::atoi(argv[index])) : fallback;
}

}  // namespace

int main(int argc, char** argv) {
  auto collector = std::make_shared<DemoCollector>(Argument(argc, argv, 1, 3),
                                                   Argument(argc, argv, 2, 200),
                                                   Argument(argc, argv, 3, 10));
  collector->Run();
  std::printf("progress_demo: %s after %d records\n",
              collector->cancelled() ? "cancelled" : "finished",
              collector->done());
  return 0;
}
