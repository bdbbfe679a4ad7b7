// `velnor collect` in a real terminal (tmux): the progress dialog with the
// host's status line under it, and Ctrl+C or SIGTERM while it shows doing
// what they do without a terminal: the Cancel click answered Yes, the
// site's total written, the summary printed, exit status 130, and the
// databases closed cleanly (no write-ahead logs left).
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>

#include "host/testing/velnor_test_support.h"
#include "testing/test_support.h"
#include "testing/tmux_session.h"

namespace velnor::host {
namespace {

using testing::Contains;
using testing::ReadFile;
using testing::Rows;
using testing::TempDir;
using testing::TmuxSession;
using testing::WaitFor;
using testing::WriteFile;

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::seconds;

// Enough for a run that lasts while the test looks at it and interrupts it.
constexpr long kRecords = 1000000;

class CollectTuiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::string why = TmuxSession::Unavailable(); !why.empty()) {
      VELNOR_SKIP_WITHOUT_TOOL(why);
    }
    fs::create_directory(dir_ / "db");
    ASSERT_EQ(RunVelnor({"init-db", "--db-dir", "db", "--server", "SRV1"}, dir_)
                  .status,
              0);
    WriteFile(dir_ / "shares/SRV1/C$/logs/W3SVC1/u_ex240604.log",
              WebLog(kRecords, "2024-06-04"));
  }

  // Runs in the terminal, of type `term`, a bash script that runs the
  // collect, velnor's process id in velnor.pid, and then shows its exit
  // status. (bash goes on after a child that handled Ctrl+C; dash would
  // die of it with the child.) The process stops itself once its id is
  // written and goes on as velnor only when the throttle lets it, so that
  // none of the run is read at full speed, however late a loaded machine
  // lets the test see the id. It runs for `running` in every 100 ms.
  void StartCollect(const std::string& term = "xterm-256color",
                    milliseconds running = milliseconds(10)) {
    fs::path script = dir_ / "run.sh";
    WriteFile(script,
              "cd '" + dir_.string() +
                  "'\n"
                  "sh -c 'echo $$ >velnor.pid; kill -STOP $$; exec env TERM=" +
                  term + " " + VELNOR_EXE +
                  " collect --server SRV1 --from 2024-06-03 --to 2024-06-05 "
                  "--db-dir db --share-root shares --site "
                  "\"Main Site,C:\\\\logs,1\"'\n"
                  "echo EXIT=$?\nsleep 120\n");
    fs::remove(dir_ / "velnor.pid");
    tmux_.Start("bash " + script.string());
    // Throttled (to a tenth by default) until the test signals it, so that
    // even a fast build is still reading when the test looks at the dialog.
    throttle_.reset();
    ASSERT_TRUE(WaitFor(
        [&] {
          return fs::exists(dir_ / "velnor.pid") &&
                 !ReadFile(dir_ / "velnor.pid").empty();
        },
        seconds(30)));
    throttle_ = std::make_unique<Throttle>(
        std::stoi(ReadFile(dir_ / "velnor.pid")), running);
  }

  // Sends `keys` (Ctrl+C) or the signal `signal` to the run, which stays
  // throttled until it has ended (Ended): let go at full speed, a fast
  // build could finish its file before the keys come through the terminal.
  void Interrupt(const std::string& keys, int signal = 0) {
    if (!keys.empty()) tmux_.Keys(keys);
    if (signal != 0) kill(std::stoi(ReadFile(dir_ / "velnor.pid")), signal);
  }

  // Waits for the dialog with its status line; returns the screen.
  std::string Dialog() {
    static const std::regex kStatus(
        "u_ex24060[45]\\.log: [0-9.]+ of [0-9.]+ MB, [1-9]\\d* records/s, "
        "~[0-9a-z ]+ "
        "left");
    return tmux_.WaitForScreen(
        [](const std::string& s) { return std::regex_search(s, kStatus); },
        seconds(90));
  }

  // The run's end, let go at full speed once the interrupt has long come
  // through: on a loaded machine a throttled run may get so little of its
  // running time that even its cancelled end would outlast the wait.
  std::string Ended() {
    auto ended = [](const std::string& s) { return Contains(s, "EXIT="); };
    std::string screen = tmux_.WaitForScreen(ended, seconds(5));
    throttle_.reset();
    if (!ended(screen)) screen = tmux_.WaitForScreen(ended, seconds(60));
    return screen;
  }

  Rows Totals() const { return SiteTotalRows(dir_ / "db", "SRV1"); }
  long Hits() const { return HitsCounted(dir_ / "db", "SRV1"); }

  // The run shown on `screen` was cancelled after `counted` records, which
  // are what the databases hold; they were closed cleanly.
  void ExpectCancelledAndKept(const std::string& screen, long counted_before) {
    EXPECT_TRUE(Contains(screen, "EXIT=130")) << screen;
    EXPECT_FALSE(Contains(screen, "[ Cancel ]")) << screen;
    std::smatch summary;
    ASSERT_TRUE(std::regex_search(
        screen, summary,
        std::regex("cancelled after 1 site of SRV1 \\(web\\): (\\d+) records")))
        << screen;
    const long counted = std::stol(summary[1]);
    EXPECT_GT(counted, 0);
    EXPECT_LT(counted, kRecords);
    EXPECT_EQ(Totals().back(), (std::vector<std::string>{"1", summary[1]}));
    EXPECT_EQ(Hits(), counted_before + counted);
    for (const auto& file : fs::directory_iterator(dir_ / "db")) {
      EXPECT_FALSE(file.path().string().ends_with("-wal")) << file.path();
    }
  }

  TempDir tmp_{"collect_tui_test"};
  const fs::path& dir_ = tmp_.path();
  TmuxSession tmux_;
  std::unique_ptr<Throttle> throttle_;
};

TEST_F(CollectTuiTest, CtrlCOrSigtermInTheDialogIsCancelAnsweredYes) {
  StartCollect();
  std::string screen = Dialog();
  // The window as the run drives it, the host's line under it.
  EXPECT_TRUE(std::regex_search(screen, std::regex(" \\d+% Completed ")))
      << screen;
  EXPECT_TRUE(Contains(screen, "Collecting data for site 'Main Site'"))
      << screen;
  EXPECT_TRUE(Contains(screen, "Processing Record # : ")) << screen;
  EXPECT_TRUE(Contains(screen, "[ Cancel ]")) << screen;
  EXPECT_LT(screen.find("[ Cancel ]"), screen.find(" records/s")) << screen;

  Interrupt("C-c");
  ExpectCancelledAndKept(Ended(), 0);
  ASSERT_EQ(Totals().size(), 1u);
  const long first = Hits();

  // The next day's file too: the rest of the first file alone could be
  // counted by a fast build before the dialog showed.
  WriteFile(dir_ / "shares/SRV1/C$/logs/W3SVC1/u_ex240605.log",
            WebLog(kRecords, "2024-06-05"));
  StartCollect();
  Dialog();
  Interrupt("", SIGTERM);
  ExpectCancelledAndKept(Ended(), first);
  EXPECT_EQ(Totals().size(), 2u);
}

// A terminal made smaller than the dialog during the run still shows the
// bar and Cancel, inside the box, and Enter on Cancel asks and cancels.
TEST_F(CollectTuiTest, CancelStaysOnAScreenOfFiveLinesAndEnterCancels) {
  StartCollect();
  Dialog();
  tmux_.Resize(20, 5);
  static const std::regex kBarAndCancel(
      "Processing R.*\\n.*\\[#*\\.+\\].*\\n.*\\[ Cancel \\]");
  const std::string small = tmux_.WaitForScreen(
      [](const std::string& s) { return std::regex_search(s, kBarAndCancel); },
      seconds(10));
  EXPECT_TRUE(std::regex_search(small, kBarAndCancel)) << small;
  EXPECT_FALSE(Contains(small, "Processing R...Can")) << small;
  tmux_.Keys("Enter");
  tmux_.WaitForScreen(
      [](const std::string& s) { return Contains(s, "[ Yes ]"); }, seconds(10));
  tmux_.Resize(100, 30);
  tmux_.Keys("y");
  ExpectCancelledAndKept(Ended(), 0);
}

// A terminal that cannot place its cursor gets the plain progress lines
// rather than a dialog drawn over itself, and Ctrl+C cancels there too.
// The interrupt waits for a tenth of the bytes read, so that records are
// counted before it however slowly the run starts (a sanitizer build). A
// plain line comes every 2 s of the clock, so the run is throttled to a
// fiftieth: an optimised build, which reads the file in about 0.2 s of its
// time, then reads it in some 10 s, over several lines below 95%, and a
// slow one reaches its tenth well within the wait.
TEST_F(CollectTuiTest, ADumbTerminalGetsThePlainLines) {
  StartCollect("dumb", milliseconds(2));
  static const std::regex kTenth(
      "[1-9]\\d% Completed \\| Collecting data for site 'Main Site'");
  const std::string screen = tmux_.WaitForScreen(
      [](const std::string& s) { return std::regex_search(s, kTenth); },
      seconds(240));
  EXPECT_TRUE(Contains(screen, "% Completed | Collecting data")) << screen;
  Interrupt("C-c");
  ExpectCancelledAndKept(Ended(), 0);
}

// A site of one large file moves the dialog's percentage and bar while the
// file is read: they follow the bytes read, not the files done.
TEST_F(CollectTuiTest, OneLargeFileMovesTheBarAndThePercentageAsItIsRead) {
  StartCollect();
  Dialog();
  static const std::regex kProgress(
      " (\\d+)% Completed [\\s\\S]*?\\[(#*)\\.+\\]");
  int first_percent = -1;
  size_t first_filled = 0;
  std::string seen;
  const std::string screen = tmux_.WaitForScreen(
      [&](const std::string& s) {
        std::smatch progress;
        if (!std::regex_search(s, progress, kProgress)) return false;
        const int percent = std::stoi(progress[1]);
        const size_t filled = progress[2].length();
        seen += std::to_string(percent) + "% " + std::to_string(filled) + "#\n";
        if (percent == 0 || filled == 0) return false;
        if (first_percent < 0) {
          first_percent = percent;
          first_filled = filled;
          return false;
        }
        return percent > first_percent && filled > first_filled;
      },
      seconds(90));
  EXPECT_GT(first_percent, 0) << seen << screen;
  EXPECT_TRUE(Contains(screen, "[ Cancel ]")) << seen << screen;
  std::smatch last;
  ASSERT_TRUE(std::regex_search(screen, last, kProgress)) << seen << screen;
  EXPECT_GT(std::stoi(last[1]), first_percent) << seen;
  EXPECT_LT(std::stoi(last[1]), 100) << seen;
  EXPECT_GT(last[2].length(), first_filled) << seen;
  Interrupt("C-c");
  EXPECT_TRUE(Contains(Ended(), "EXIT=130"));
}

}  // namespace
}  // namespace velnor::host
