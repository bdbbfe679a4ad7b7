// Test support: a program in a real terminal, a tmux server of the test's
// own (a private socket), to type into and read the screen of. The server
// is killed however the test ends.
#ifndef VELNOR_TESTING_TMUX_SESSION_H_
#define VELNOR_TESTING_TMUX_SESSION_H_

#include <chrono>
#include <functional>
#include <string>

namespace velnor::testing {

class TmuxSession {
 public:
  // Why tmux cannot run here (it is not installed), or "".
  static std::string Unavailable();

  TmuxSession();
  ~TmuxSession();
  TmuxSession(const TmuxSession&) = delete;
  TmuxSession& operator=(const TmuxSession&) = delete;

  // Runs the shell command `command` in a new 100x30 terminal, ending the
  // one started before, if any.
  void Start(const std::string& command);
  // Makes the terminal `columns` wide and `rows` high, as a user's drag of
  // its window does (the program gets SIGWINCH).
  void Resize(int columns, int rows);
  // Types `keys` as tmux send-keys names them ("C-c", "Enter", "x").
  void Keys(const std::string& keys);
  // The text on the screen now.
  std::string Screen();
  // Reads the screen until `done` accepts it or `limit` passes; returns
  // the last screen read.
  std::string WaitForScreen(const std::function<bool(const std::string&)>& done,
                            std::chrono::milliseconds limit);

 private:
  std::string tmux_;
};

}  // namespace velnor::testing

#endif  // VELNOR_TESTING_TMUX_SESSION_H_
