// The backend for runs without a terminal (a service, cron, a pipe): nothing
// is drawn; standard error gets one line for every change of the window's
// topmost label and the caption at most once a second, lines a log file or a
// cron mail can hold. An interrupt (SIGINT, SIGTERM) is the user's click on
// the window's cancel button, and a message box is answered by its first
// button, Yes, with a line saying so, because nobody is there to answer.
#include <poll.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>

#include "platform/forms/backends.h"
#include "platform/forms/forms.h"

namespace velnor::forms::internal {
namespace {

volatile std::sig_atomic_t g_interrupted = 0;

// Async-signal-safe: only records the request; DoEvents turns it into a click.
extern "C" void OnInterrupt(int) { g_interrupted = 1; }

using Clock = std::chrono::steady_clock;
constexpr auto kCaptionInterval = std::chrono::seconds(1);

std::string Trimmed(const std::string& text) {
  size_t first = text.find_first_not_of(' ');
  return first == std::string::npos ? "" : text.substr(first);
}

class HeadlessBackend : public Backend {
 public:
  void Open(Window& window) override {
    window_ = &window;
    printed_line_.clear();
    printed_caption_.clear();
    caption_time_ = Clock::time_point();
    g_interrupted = 0;
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &old_int_);
    sigaction(SIGTERM, &action, &old_term_);
  }

  void Close(Window& window) override {
    // The last caption (100% at a normal end) is worth its line even when
    // it came within the second.
    if (Trimmed(window.Caption()) != printed_caption_) PrintCaption(window);
    sigaction(SIGINT, &old_int_, nullptr);
    sigaction(SIGTERM, &old_term_, nullptr);
    window_ = nullptr;
  }

  void Update(Window& window, bool) override {
    if (const Label* headline = Headline(window)) {
      if (!headline->Caption().empty() &&
          headline->Caption() != printed_line_) {
        printed_line_ = headline->Caption();
        std::fprintf(stderr, "%s\n", printed_line_.c_str());
      }
    }
    if (Trimmed(window.Caption()) != printed_caption_ &&
        Clock::now() - caption_time_ >= kCaptionInterval) {
      PrintCaption(window);
    }
  }

  void ReadInput(int wait_ms) override {
    for (int waited = 0; !g_interrupted && waited < wait_ms; waited += 10) {
      poll(nullptr, 0, 10);
    }
    if (!g_interrupted || window_ == nullptr) return;
    g_interrupted = 0;
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
  // The topmost visible label: the line that says what the window is doing.
  static const Label* Headline(const Window& window) {
    const Label* headline = nullptr;
    for (const Control* control : window.Controls()) {
      if (control->Kind() != ControlKind::kLabel || !control->Visible()) {
        continue;
      }
      if (headline == nullptr ||
          control->Bounds().top < headline->Bounds().top) {
        headline = static_cast<const Label*>(control);
      }
    }
    return headline;
  }

  void PrintCaption(const Window& window) {
    printed_caption_ = Trimmed(window.Caption());
    caption_time_ = Clock::now();
    if (!printed_caption_.empty()) {
      std::fprintf(stderr, "%s\n", printed_caption_.c_str());
    }
  }

  Window* window_ = nullptr;
  std::string printed_line_;
  std::string printed_caption_;
  Clock::time_point caption_time_;
  struct sigaction old_int_ = {};
  struct sigaction old_term_ = {};
};

}  // namespace

std::unique_ptr<Backend> MakeHeadlessBackend() {
  return std::make_unique<HeadlessBackend>();
}

}  // namespace velnor::forms::internal
