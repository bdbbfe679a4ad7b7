// GetInputState and MessageBox over the forms toolkit's backend.
#include "platform/win32/user32.h"

#include <utility>

#include "platform/forms/forms.h"

namespace velnor::win32 {
namespace {

// Per thread, as message boxes belong to the thread whose window shows
// them.
MessageBoxResponder& Responder() {
  thread_local MessageBoxResponder responder;
  return responder;
}

}  // namespace

int32_t GetInputState() { return forms::EventsPending() ? 1 : 0; }

int MessageBox(std::string_view text, std::string_view title, int32_t style) {
  if (const MessageBoxResponder& responder = Responder()) {
    return responder(text, title, style);
  }
  return forms::CurrentBackend().MessageBox(text, title, style);
}

void SetMessageBoxResponder(MessageBoxResponder responder) {
  Responder() = std::move(responder);
}

}  // namespace velnor::win32
