// The backend for runs without a terminal (a service, cron, a pipe): nothing
// is drawn; standard error gets at most one progress line every two seconds
// and one for the state the window closes in, lines a log file or a cron
// mail can hold: the caption, the window's topmost label and the host's
// status line. The quiet variant prints no
// progress line at all. An interrupt (SIGINT, SIGTERM) is the user's click on
// the window's cancel button, and a message box is answered by its first
// button, Yes, with a line saying so, because nobody is there to answer.
#include <poll.h>

#include <cstdio>
#include <optional>
#include <string>

#include "platform/automation/text.h"
#include "platform/forms/backends.h"
#include "platform/forms/forms.h"
#include "platform/interrupt/interrupt.h"

namespace velnor::forms::internal {
namespace {

constexpr auto kLineInterval = std::chrono::seconds(2);

class HeadlessBackend : public Backend {
 public:
  explicit HeadlessBackend(bool quiet) : quiet_(quiet) {}

  void Open(Window& window) override {
    window_ = &window;
    printed_line_.clear();
    line_throttle_ = Throttle(kLineInterval);
    catching_.emplace();
  }

  // The state the window closes in ("100% Completed ...") ends the lines,
  // so that a log shows how far the run came, however short it was.
  void Close(Window& window) override {
    if (!quiet_) PrintLine(window);
    catching_.reset();
    window_ = nullptr;
  }

  // Cheap unless a line is due: a run calls this for every record.
  void Update(Window& window, bool) override {
    if (quiet_ || !line_throttle_.Due()) return;
    // Before the window says what it does there is nothing worth a line;
    // the next update may print at once.
    if (!PrintLine(window)) line_throttle_.Expire();
  }

  void ReadInput(int wait_ms) override {
    for (int waited = 0; !interrupt::Interrupted() && waited < wait_ms;
         waited += 10) {
      poll(nullptr, 0, 10);
    }
    if (window_ == nullptr || !TakeInterrupt()) return;
    if (CommandButton* button = window_->CancelButton()) {
      std::fprintf(stderr, "Interrupted: %s\n",
                   button->DisplayCaption().c_str());
      PostEvent([button] { button->Click(); });
    }
  }

  int MessageBox(std::string_view text, std::string_view title,
                 int32_t style) override {
    MessageButton answer = MessageButtons(style).front();
    std::fprintf(stderr, "%.*s: %.*s%s (answered, no terminal to ask)\n",
                 static_cast<int>(title.size()), title.data(),
                 static_cast<int>(text.size()), text.data(), answer.caption);
    return answer.result;
  }

 private:
  // A line a log viewer shows whole, whatever a site's name.
  static constexpr int kMaxLineChars = 300;

  // Prints the caption, the headline and the status line unless they are
  // the line printed last; false while the window has no headline yet.
  bool PrintLine(const Window& window) {
    const Label* headline = Headline(window);
    if (headline == nullptr || headline->Caption().empty()) return false;
    std::string line(automation::Trim(window.Caption(), " "));
    line += " | " + headline->Caption();
    if (std::string status = window.StatusLineText(); !status.empty()) {
      line += " | " + status;
    }
    if (line == printed_line_) return true;
    printed_line_ = line;
    std::fprintf(stderr, "%s\n", Ellipsize(line, kMaxLineChars).c_str());
    return true;
  }

  // The topmost visible label: the line that says what the window is doing.
  static const Label* Headline(const Window& window) {
    const Label* headline = nullptr;
    for (const Control* control : window.Controls()) {
      if (control->Kind() != ControlKind::kLabel || !control->Visible()) {
        continue;
      }
      if (headline == nullptr ||
          control->Placement().row < headline->Placement().row) {
        headline = static_cast<const Label*>(control);
      }
    }
    return headline;
  }

  const bool quiet_;
  Window* window_ = nullptr;
  std::string printed_line_;
  Throttle line_throttle_{kLineInterval};
  std::optional<interrupt::CatchScope> catching_;
};

}  // namespace

std::unique_ptr<Backend> MakeHeadlessBackend(bool quiet) {
  return std::make_unique<HeadlessBackend>(quiet);
}

}  // namespace velnor::forms::internal
