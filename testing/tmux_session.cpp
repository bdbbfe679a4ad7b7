// tmux through its command line; every session is named "run".
#include "testing/tmux_session.h"

#include <unistd.h>

#include "testing/test_support.h"

namespace velnor::testing {

std::string TmuxSession::Unavailable() {
  return Shell("command -v tmux").status == 0 ? "" : "tmux is not installed";
}

TmuxSession::TmuxSession()
    : tmux_("tmux -L velnor-test-" + std::to_string(::getpid()) + " ") {}

TmuxSession::~TmuxSession() {
  std::string socket =
      Shell(tmux_ + "display-message -p '#{socket_path}' 2>/dev/null").out;
  Shell(tmux_ + "kill-server 2>/dev/null");
  while (!socket.empty() && socket.back() == '\n') socket.pop_back();
  if (!socket.empty()) ::unlink(socket.c_str());  // kill-server leaves it
}

// A second command replaces the first in its pane rather than in a new
// session: killing the only session ends the server, and a new-session
// racing that exit can find the socket of a server that is going away.
void TmuxSession::Start(const std::string& command) {
  if (Shell(tmux_ + "respawn-pane -k -t run " + ShellQuoted(command) +
            " 2>/dev/null")
          .status == 0) {
    return;
  }
  Shell(tmux_ + "new-session -d -x 100 -y 30 -s run " + ShellQuoted(command));
}

void TmuxSession::Resize(int columns, int rows) {
  Shell(tmux_ + "resize-window -t run -x " + std::to_string(columns) + " -y " +
        std::to_string(rows));
}

void TmuxSession::Keys(const std::string& keys) {
  Shell(tmux_ + "send-keys -t run " + keys);
}

std::string TmuxSession::Screen() {
  return Shell(tmux_ + "capture-pane -p -t run").out;
}

std::string TmuxSession::WaitForScreen(
    const std::function<bool(const std::string&)>& done,
    std::chrono::milliseconds limit) {
  std::string screen;
  WaitFor(
      [&] {
        screen = Screen();
        return done(screen);
      },
      limit);
  return screen;
}

}  // namespace velnor::testing
