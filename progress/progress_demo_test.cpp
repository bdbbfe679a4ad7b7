// progress_demo end to end: in a real terminal (tmux) the window is drawn,
// Cancel is pressed, the question answered No and then Yes, and the terminal
// comes back; without a terminal the plain lines appear and SIGINT cancels.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <regex>
#include <string>

#include "testing/test_support.h"
#include "testing/tmux_session.h"

namespace velnor::testing {
namespace {

constexpr std::chrono::seconds kPatience(10);

int RecordNumber(const std::string& screen) {
  std::smatch match;
  static const std::regex kRecord("Processing Record # : (\\d+)");
  return std::regex_search(screen, match, kRecord) ? std::stoi(match[1]) : -1;
}

// The whole question box: a capture may fall between the writes of one
// paint.
bool AsksToCancel(const std::string& screen) {
  return Contains(screen, "Do you want to cancel this operation?") &&
         Contains(screen, "[ No ]");
}

TEST(ProgressDemoTest, TerminalWindowCancelNoThenYes) {
  if (std::string why = TmuxSession::Unavailable(); !why.empty()) {
    VELNOR_SKIP_WITHOUT_TOOL(why);
  }
  TmuxSession tmux;
  tmux.Start(std::string("TERM=xterm-256color ") + PROGRESS_DEMO_PATH +
             " 3 400 20; echo DEMO-ENDED; sleep 60");

  std::string shown = tmux.WaitForScreen(
      [](const std::string& s) {
        return Contains(s, "% Completed") &&
               Contains(s, "Processing Record # : ") && Contains(s, "[#");
      },
      kPatience);
  EXPECT_TRUE(std::regex_search(shown, std::regex(" \\d+% Completed ")))
      << shown;
  EXPECT_TRUE(Contains(shown, "Collecting data for site Site 1 (W3SVC1)"))
      << shown;
  EXPECT_TRUE(Contains(shown, "[ Cancel ]")) << shown;

  tmux.Keys("c");
  shown = tmux.WaitForScreen(AsksToCancel, kPatience);
  ASSERT_TRUE(AsksToCancel(shown)) << shown;
  EXPECT_TRUE(Contains(shown, "VELNOR") && Contains(shown, "[ Yes ]")) << shown;

  tmux.Keys("Enter");  // No is the default
  const int record_after_no = RecordNumber(tmux.WaitForScreen(
      [](const std::string& s) {
        return !Contains(s, "Do you want") && RecordNumber(s) >= 0;
      },
      kPatience));
  shown = tmux.WaitForScreen(
      [&](const std::string& s) {
        return RecordNumber(s) > record_after_no + 5;
      },
      kPatience);
  EXPECT_GT(RecordNumber(shown), record_after_no + 5)
      << "the run did not go on";
  EXPECT_FALSE(Contains(shown, "DEMO-ENDED")) << shown;

  tmux.Keys("M-c");  // Alt+C
  shown = tmux.WaitForScreen(AsksToCancel, kPatience);
  ASSERT_TRUE(AsksToCancel(shown)) << shown;
  tmux.Keys("Left Enter");  // from No to Yes
  shown = tmux.WaitForScreen(
      [](const std::string& s) { return Contains(s, "DEMO-ENDED"); },
      kPatience);
  EXPECT_TRUE(Contains(shown, "progress_demo: cancelled after")) << shown;
  // The dialog is gone: the terminal shows the shell's own screen again.
  EXPECT_FALSE(Contains(shown, "[ Cancel ]")) << shown;
  EXPECT_FALSE(Contains(shown, "% Completed")) << shown;
}

TEST(ProgressDemoTest, WithoutTerminalPrintsLinesAndStopsOnInterrupt) {
  TempDir dir("progress_demo");
  pid_t pid = StartProgram(PROGRESS_DEMO_PATH, {"3", "1000", "10"}, dir.path());
  WaitFor(
      [&] {
        return Contains(ReadFile(dir.path() / "stderr"),
                        "Collecting data for site Site 1");
      },
      kPatience);
  kill(pid, SIGINT);
  ProgramRun run = FinishProgram(pid, dir.path());

  EXPECT_EQ(run.status, 0) << "-1: ended by a signal";
  EXPECT_TRUE(Contains(run.err,
                       "0% Completed | Collecting data for site Site 1 "
                       "(W3SVC1)\n"))
      << run.err;
  EXPECT_FALSE(Contains(run.err, "Processing Record")) << run.err;
  EXPECT_FALSE(Contains(run.err, "\x1b["))
      << "escape sequences in plain output";
  EXPECT_TRUE(
      Contains(run.err, "VELNOR: Do you want to cancel this operation? Yes"))
      << run.err;
  EXPECT_TRUE(Contains(run.out, "progress_demo: cancelled after")) << run.out;
}

}  // namespace
}  // namespace velnor::testing
