// Cost of one record's progress report (the item counter, which processes
// pending events, plus the bar and title) inside a showing progress window,
// as the record loop makes it, on the headless backend and on the terminal
// backend drawing into a pseudo terminal. Text is composed and the terminal
// painted only at the backend's pace, so both cost tens of nanoseconds.
#include <benchmark/benchmark.h>
#include <pty.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "platform/automation/object.h"
#include "platform/forms/forms.h"
#include "progress/frm_progress_dialog.h"
#include "progress/processing_dialog.h"

namespace {

using velnor::frmProgressDialog;
using velnor::ProcessingDialog;

class BenchCollector : public velnor::automation::Object {
 public:
  explicit BenchCollector(benchmark::State& state) : state_(state) {}
  void CallMethod(std::string_view) override {
    const int32_t total = 1 << 20;
    dialog->SetMaxProgressBarValue(total);
    dialog->SetReportDescription("Collecting data for site Default Web Site");
    int32_t record = 0;
    for (auto _ : state_) {
      ++record;
      dialog->SetReportItemDescription("Processing Record # : ", record);
      dialog->SetProgress(record % total, total);
    }
    dialog->CloseDialog();
  }
  std::shared_ptr<ProcessingDialog> dialog;

 private:
  benchmark::State& state_;
};

void RunRecords(benchmark::State& state,
                velnor::forms::BackendPreference backend) {
  auto collector = std::make_shared<BenchCollector>(state);
  collector->dialog = std::make_shared<ProcessingDialog>();
  collector->dialog->SetDataCollectorObject(collector);
  std::shared_ptr<frmProgressDialog> window = frmProgressDialog::Instance();
  window->SetPresentation({backend, {}});
  collector->dialog->SetProgressDialog(window);
  collector->dialog->ShowDialog();
}

void BM_RecordProgressHeadless(benchmark::State& state) {
  RunRecords(state, velnor::forms::BackendPreference::kHeadless);
}
BENCHMARK(BM_RecordProgressHeadless);

// Puts a pseudo terminal behind stdin and stderr, drained by a thread, so
// that the terminal backend is chosen and paints for real.
void BM_RecordProgressTerminal(benchmark::State& state) {
  int master = -1, slave = -1;
  winsize size = {30, 100, 0, 0};
  if (openpty(&master, &slave, nullptr, nullptr, &size) != 0) {
    state.SkipWithError("no pseudo terminal");
    return;
  }
  setenv("TERM", "xterm-256color", 1);
  const int saved_in = dup(STDIN_FILENO), saved_err = dup(STDERR_FILENO);
  dup2(slave, STDIN_FILENO);
  dup2(slave, STDERR_FILENO);
  std::atomic<bool> done{false};
  std::thread drain([&] {
    char buffer[65536];
    while (!done && read(master, buffer, sizeof buffer) > 0) {
    }
  });
  RunRecords(state, velnor::forms::BackendPreference::kAuto);
  dup2(saved_in, STDIN_FILENO);
  dup2(saved_err, STDERR_FILENO);
  done = true;
  close(slave);
  close(master);
  drain.join();
  close(saved_in);
  close(saved_err);
}
BENCHMARK(BM_RecordProgressTerminal);

}  // namespace
