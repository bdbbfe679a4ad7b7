// progress_demo end to end: in a real terminal (tmux) the window is drawn,
// Cancel is pressed, the question answered No and then Yes, and the terminal
// comes back; without a terminal the plain lines appear and SIGINT cancels.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

std::string Output(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
      out.append(buffer, n);
    pclose(pipe);
  }
  return out;
}

// Polls `read` until `done` accepts it or ten seconds pass; returns the last
// text read.
std::string WaitFor(const std::function<std::string()>& read,
                    const std::function<bool(const std::string&)>& done) {
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  std::string text = read();
  while (!done(text) && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    text = read();
  }
  return text;
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

int RecordNumber(const std::string& screen) {
  std::smatch match;
  static const std::regex kRecord("Processing Record # : (\\d+)");
  return std::regex_search(screen, match, kRecord) ? std::stoi(match[1]) : -1;
}

// A tmux server of its own (private socket), killed however the test ends.
class Tmux {
 public:
  Tmux() : tmux_("tmux -L velnor-progress-" + std::to_string(getpid()) + " ") {}
  ~Tmux() {
    std::string socket = Output(tmux_ + "display-message -p '#{socket_path}'");
    Output(tmux_ + "kill-server 2>/dev/null");
    while (!socket.empty() && socket.back() == '\n') socket.pop_back();
    if (!socket.empty()) unlink(socket.c_str());  // kill-server leaves it
  }

  void Start(const std::string& command) {
    Output(tmux_ + "new-session -d -x 100 -y 30 -s demo '" + command + "'");
  }
  void Keys(const std::string& keys) {
    Output(tmux_ + "send-keys -t demo " + keys);
  }
  std::string Screen() { return Output(tmux_ + "capture-pane -p -t demo"); }

 private:
  std::string tmux_;
};

TEST(ProgressDemoTest, TerminalWindowCancelNoThenYes) {
  if (system("command -v tmux >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "tmux is not installed";
  }
  Tmux tmux;
  tmux.Start(std::string("TERM=xterm-256color ") + PROGRESS_DEMO_PATH +
             " 3 400 20; echo DEMO-ENDED; sleep 60");
  auto screen = [&] { return tmux.Screen(); };

  std::string shown = WaitFor(screen, [](const std::string& s) {
    return Has(s, "% Completed") && Has(s, "Processing Record # : ") &&
           Has(s, "[#");
  });
  EXPECT_TRUE(std::regex_search(shown, std::regex(" \\d+% Completed ")))
      << shown;
  EXPECT_TRUE(Has(shown, "Collecting data for site Site 1 (W3SVC1)")) << shown;
  EXPECT_TRUE(Has(shown, "[ Cancel ]")) << shown;

  tmux.Keys("c");
  shown = WaitFor(screen, [](const std::string& s) {
    // The whole box: a capture may fall between the writes of one paint.
    return Has(s, "Do you want to cancel this operation?") && Has(s, "[ No ]");
  });
  ASSERT_TRUE(Has(shown, "Do you want to cancel this operation?")) << shown;
  EXPECT_TRUE(Has(shown, "VELNOR") && Has(shown, "[ Yes ]") &&
              Has(shown, "[ No ]"))
      << shown;

  tmux.Keys("Enter");  // No is the default
  const int record_after_no =
      RecordNumber(WaitFor(screen, [](const std::string& s) {
        return !Has(s, "Do you want") && RecordNumber(s) >= 0;
      }));
  shown = WaitFor(screen, [&](const std::string& s) {
    return RecordNumber(s) > record_after_no + 5;
  });
  EXPECT_GT(RecordNumber(shown), record_after_no + 5)
      << "the run did not go on";
  EXPECT_FALSE(Has(shown, "DEMO-ENDED")) << shown;

  tmux.Keys("M-c");  // Alt+C
  shown = WaitFor(screen, [](const std::string& s) {
    // The whole box: a capture may fall between the writes of one paint.
    return Has(s, "Do you want to cancel this operation?") && Has(s, "[ No ]");
  });
  ASSERT_TRUE(Has(shown, "Do you want to cancel this operation?")) << shown;
  tmux.Keys("Left Enter");  // from No to Yes
  shown = WaitFor(screen,
                  [](const std::string& s) { return Has(s, "DEMO-ENDED"); });
  EXPECT_TRUE(Has(shown, "progress_demo: cancelled after")) << shown;
  // The dialog is gone: the terminal shows the shell's own screen again.
  EXPECT_FALSE(Has(shown, "[ Cancel ]")) << shown;
  EXPECT_FALSE(Has(shown, "% Completed")) << shown;
}

TEST(ProgressDemoTest, WithoutTerminalPrintsLinesAndStopsOnInterrupt) {
  char err_path[] = "/tmp/progress_demo_err_XXXXXX";
  char out_path[] = "/tmp/progress_demo_out_XXXXXX";
  int err_fd = mkstemp(err_path);
  int out_fd = mkstemp(out_path);
  ASSERT_GE(err_fd, 0);
  ASSERT_GE(out_fd, 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    int null_fd = open("/dev/null", O_RDONLY);
    dup2(null_fd, STDIN_FILENO);
    dup2(out_fd, STDOUT_FILENO);
    dup2(err_fd, STDERR_FILENO);
    execl(PROGRESS_DEMO_PATH, PROGRESS_DEMO_PATH, "3", "1000", "10",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  auto read_file = [](const char* path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  };
  std::string err = WaitFor([&] { return read_file(err_path); },
                            [](const std::string& s) {
                              return Has(s, "Collecting data for site Site 1");
                            });
  kill(pid, SIGINT);
  int status = 0;
  waitpid(pid, &status, 0);
  err = read_file(err_path);
  std::string out = read_file(out_path);
  close(err_fd);
  close(out_fd);
  unlink(err_path);
  unlink(out_path);

  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(Has(err,
                  "0% Completed | Collecting data for site Site 1 "
                  "(W3SVC1)\n"))
      << err;
  EXPECT_FALSE(Has(err, "Processing Record")) << err;
  EXPECT_FALSE(Has(err, "\x1b[")) << "escape sequences in plain output";
  EXPECT_TRUE(Has(err, "VELNOR: Do you want to cancel this operation? Yes"))
      << err;
  EXPECT_TRUE(Has(out, "progress_demo: cancelled after")) << out;
}

}  // namespace
