// The parts the toolkit shares with its two backends and nobody else: the
// backend factories, the button sets of message boxes, the event runner
// that leaves input alone, the throttle that keeps per-record calls cheap,
// and the hand-over of interrupts and of the host's status line.
#ifndef VELNOR_PLATFORM_FORMS_BACKENDS_H_
#define VELNOR_PLATFORM_FORMS_BACKENDS_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/forms/forms.h"

namespace velnor::forms::internal {

// The dialog drawn with ncurses on the terminal of stdin and stderr; null
// when that terminal's type is unknown to the terminfo database.
std::unique_ptr<Backend> MakeTerminalBackend();
// Plain progress lines on standard error (none when `quiet`); interrupts
// click Cancel.
std::unique_ptr<Backend> MakeHeadlessBackend(bool quiet);

struct MessageButton {
  const char* caption;
  char key;    // upper-case access key
  int result;  // automation result: 1 OK, 2 Cancel, 6 Yes, 7 No
};

// The buttons of a message box style (its low four bits: 0 OK, 1 OK and
// Cancel, 3 Yes, No and Cancel, 4 Yes and No); raises 5 for other sets.
std::vector<MessageButton> MessageButtons(int32_t style);
// Index of the default button (bits 8 to 11 of the style), kept within
// `count`.
size_t DefaultButton(int32_t style, size_t count);

// Runs the events pending now, without reading input (see DoEvents).
void RunPendingEvents();

// True at most once per interval. It reads the kernel's coarse monotonic
// clock (a few nanoseconds, a few milliseconds' resolution), so that a
// backend can afford to ask on every call a run makes per record.
class Throttle {
 public:
  explicit Throttle(std::chrono::milliseconds interval);
  // True when the interval has passed since the last true answer (or since
  // construction or Expire); it then starts again.
  bool Due();
  // The next Due answers true.
  void Expire() { expired_ = true; }

 private:
  int64_t NowMs() const;

  int64_t interval_ms_;
  int64_t last_ms_;
  bool expired_ = true;
};

// True once for every interrupt caught since it last answered true (see
// platform/interrupt): the backend then clicks the window's cancel button.
bool TakeInterrupt();

// `text` with control characters as blanks (bytes that are not UTF-8 as
// U+FFFD), cut to `width` terminal columns and ending in "..." when it was
// cut. Columns are libutf8proc's: a wide (CJK) character or an emoji takes
// two, a combining mark none; a cut never splits a user-perceived
// character (a letter from its marks, an emoji sequence).
std::string Ellipsize(std::string_view text, int width);

}  // namespace velnor::forms::internal

#endif  // VELNOR_PLATFORM_FORMS_BACKENDS_H_
