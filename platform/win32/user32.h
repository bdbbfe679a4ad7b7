// The few user32 facilities the collection run needs, on top of the forms
// toolkit: whether input waits, and a modal message box. (The event pump
// itself is forms::DoEvents.)
#ifndef VELNOR_PLATFORM_WIN32_USER32_H_
#define VELNOR_PLATFORM_WIN32_USER32_H_

#include <cstdint>
#include <functional>
#include <string_view>

namespace velnor::win32 {

// Message box styles and results used by this system.
inline constexpr int32_t kMbYesNo = 4;
inline constexpr int32_t kMbIconQuestion = 32;
inline constexpr int32_t kMbDefButton2 = 256;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

// Nonzero when user input (a key, a click on the showing window) or a posted
// event waits to be processed by forms::DoEvents on this thread.
int32_t GetInputState();

// Shows `text` in a modal box titled `title` and returns the result of the
// button chosen (1 OK, 2 Cancel, 6 Yes, 7 No). `style` sums a button set
// (0 OK, 1 OK/Cancel, 3 Yes/No/Cancel, 4 Yes/No), an icon (32 question) and
// the default button (0 first, 256 second, 512 third); other button sets
// raise 5. Pending posted events run while the box is open. Without a
// terminal the box is answered by its first button with a line on standard
// error. A responder set with SetMessageBoxResponder answers instead.
int MessageBox(std::string_view text, std::string_view title, int32_t style);

// Installs the stand-in for the user that tests use: while set, MessageBox
// shows nothing and returns what `responder` returns for the same arguments.
// An empty function removes it. Applies to the calling thread.
using MessageBoxResponder = std::function<int(
    std::string_view text, std::string_view title, int32_t style)>;
void SetMessageBoxResponder(MessageBoxResponder responder);

}  // namespace velnor::win32

#endif  // VELNOR_PLATFORM_WIN32_USER32_H_
