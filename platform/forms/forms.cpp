// The toolkit's model: controls, windows, the per-thread event queue and the
// choice of backend. Drawing and input live in the backends.
#include "platform/forms/forms.h"

#include <time.h>
#include <unistd.h>
#include <utf8proc.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/automation/error_state.h"
#include "platform/forms/backends.h"
#include "platform/interrupt/interrupt.h"

namespace velnor::forms {
namespace {

using automation::kErrInvalidPropertyValue;
using automation::Raise;

// Events carry a sequence number so that DoEvents can stop at the ones that
// were pending when it started, even when nested calls consume some of them.
struct PendingEvent {
  uint64_t sequence;
  std::function<void()> run;
};

struct EventQueue {
  std::deque<PendingEvent> events;
  uint64_t next_sequence = 0;
};

// The toolkit's state is per thread, as a platform's user-interface thread
// owns its message queue and windows: the queue, and the window showing.
EventQueue& Queue() {
  thread_local EventQueue queue;
  return queue;
}

// The window that shows on this thread, with the backend it shows on.
thread_local Window* tl_showing_window = nullptr;
thread_local Backend* tl_showing_backend = nullptr;

// Interrupts already turned into clicks (see TakeInterrupt): the process's,
// as the interrupts counted are.
std::atomic<int> g_delivered_interrupts{0};

// The backends are made on first use and kept for the process: a terminal
// backend owns the terminal's state, which is set up once.
Backend& PreferredBackend(BackendPreference preference) {
  static std::unique_ptr<Backend> terminal;
  static bool terminal_tried = false;
  static std::unique_ptr<Backend> headless;
  static std::unique_ptr<Backend> quiet;
  if (preference == BackendPreference::kQuiet) {
    if (!quiet) quiet = internal::MakeHeadlessBackend(true);
    return *quiet;
  }
  if (preference == BackendPreference::kAuto && isatty(STDIN_FILENO) &&
      isatty(STDERR_FILENO)) {
    if (!terminal_tried) {
      terminal_tried = true;
      terminal = internal::MakeTerminalBackend();
    }
    if (terminal) return *terminal;
  }
  if (!headless) headless = internal::MakeHeadlessBackend(false);
  return *headless;
}

}  // namespace

namespace internal {

void RunPendingEvents() {
  EventQueue& queue = Queue();
  const uint64_t limit = queue.next_sequence;
  while (!queue.events.empty() && queue.events.front().sequence < limit) {
    std::function<void()> run = std::move(queue.events.front().run);
    queue.events.pop_front();
    if (run) run();
  }
}

std::vector<MessageButton> MessageButtons(int32_t style) {
  switch (style & 0xF) {
    case 0:
      return {{"OK", 'O', 1}};
    case 1:
      return {{"OK", 'O', 1}, {"Cancel", 'C', 2}};
    case 3:
      return {{"Yes", 'Y', 6}, {"No", 'N', 7}, {"Cancel", 'C', 2}};
    case 4:
      return {{"Yes", 'Y', 6}, {"No", 'N', 7}};
    default:
      Raise(automation::kErrInvalidProcedureCall,
            "Message box style " + std::to_string(style) +
                " asks for a button set this toolkit does not offer; use "
                "OK, OK/Cancel, Yes/No/Cancel or Yes/No");
  }
}

size_t DefaultButton(int32_t style, size_t count) {
  auto index = static_cast<size_t>((style >> 8) & 0xF);
  return index < count ? index : 0;
}

Throttle::Throttle(std::chrono::milliseconds interval)
    : interval_ms_(interval.count()), last_ms_(NowMs()) {}

bool Throttle::Due() {
  const int64_t now = NowMs();
  if (!expired_ && now - last_ms_ < interval_ms_) return false;
  expired_ = false;
  last_ms_ = now;
  return true;
}

int64_t Throttle::NowMs() const {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  return int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}

bool TakeInterrupt() {
  const int caught = interrupt::InterruptCount();
  const int delivered = g_delivered_interrupts.load(std::memory_order_relaxed);
  if (caught == delivered) return false;
  // A count that went down was forgotten (interrupt::Forget): start over.
  g_delivered_interrupts.store(caught, std::memory_order_relaxed);
  return caught > delivered;
}

namespace {

// One user-perceived character (a letter with its combining marks, an
// emoji sequence) as the terminal gets it, and the columns it takes.
struct Shown {
  std::string bytes;
  int columns = 0;
};

// `text` as such characters: control characters become blanks and bytes
// that are not UTF-8 become U+FFFD, so that nothing moves the cursor.
std::vector<Shown> ShownCharacters(std::string_view text) {
  std::vector<Shown> shown;
  const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
  const auto size = static_cast<utf8proc_ssize_t>(text.size());
  utf8proc_int32_t state = 0;
  utf8proc_int32_t previous = -1;
  for (utf8proc_ssize_t at = 0; at < size;) {
    utf8proc_int32_t code = 0;
    utf8proc_ssize_t length = utf8proc_iterate(bytes + at, size - at, &code);
    std::string piece;
    if (length < 1) {
      code = 0xFFFD, length = 1, piece = "\xEF\xBF\xBD";
    } else if (code < 0x20 || (code >= 0x7F && code <= 0x9F)) {
      code = ' ', piece = " ";
    } else {
      piece = text.substr(static_cast<size_t>(at), static_cast<size_t>(length));
    }
    if (previous < 0 ||
        utf8proc_grapheme_break_stateful(previous, code, &state)) {
      shown.emplace_back();
    }
    // A cluster is as wide as its widest part: a wide letter's marks and
    // the joined parts of an emoji sequence take no columns of their own.
    shown.back().bytes += piece;
    shown.back().columns =
        std::max(shown.back().columns, std::max(utf8proc_charwidth(code), 0));
    previous = code;
    at += length;
  }
  return shown;
}

}  // namespace

std::string Ellipsize(std::string_view text, int width) {
  if (width <= 0) return "";
  const std::vector<Shown> shown = ShownCharacters(text);
  int columns = 0;
  for (const Shown& character : shown) columns += character.columns;
  const bool cut = columns > width;
  const int room = cut && width > 3 ? width - 3 : width;
  std::string out;
  columns = 0;
  for (const Shown& character : shown) {
    if (columns + character.columns > room) break;
    out += character.bytes;
    columns += character.columns;
  }
  return cut && width > 3 ? out + "..." : out;
}

}  // namespace internal

void DoEvents() {
  if (tl_showing_window != nullptr) {
    tl_showing_backend->ReadInput(0);
    // ReadInput may have run nothing that unloads, but stay defensive: the
    // window may have stopped showing in between.
    if (tl_showing_window != nullptr) {
      tl_showing_backend->Update(*tl_showing_window, false);
    }
  }
  internal::RunPendingEvents();
}

void PostEvent(std::function<void()> event) {
  EventQueue& queue = Queue();
  queue.events.push_back({queue.next_sequence++, std::move(event)});
}

bool EventsPending() {
  if (tl_showing_window != nullptr) tl_showing_backend->ReadInput(0);
  return !Queue().events.empty();
}

int Event::Connect(Handler handler) {
  int id = next_id_++;
  handlers_.emplace(id, std::move(handler));
  return id;
}

void Event::Disconnect(int id) { handlers_.erase(id); }

void Event::Raise() {
  // Walk by id so that handlers may change the subscriptions meanwhile.
  int last = next_id_;
  for (auto it = handlers_.begin();
       it != handlers_.end() && it->first < last;) {
    int id = it->first;
    Handler handler = it->second;
    handler();
    it = handlers_.upper_bound(id);
  }
}

void StatusChanged() {
  if (tl_showing_window != nullptr) {
    tl_showing_backend->Update(*tl_showing_window, false);
  }
}

Backend& CurrentBackend(BackendPreference preference) {
  if (tl_showing_backend != nullptr) return *tl_showing_backend;
  return PreferredBackend(preference);
}

// ---------------------------------------------------------------------------
// Controls

Control::Control(Window& parent, ControlKind kind, Place place)
    : parent_(&parent), kind_(kind), place_(place) {
  parent.controls_.push_back(this);
}

Control::~Control() {
  if (parent_ == nullptr) return;
  auto& controls = parent_->controls_;
  controls.erase(std::remove(controls.begin(), controls.end(), this),
                 controls.end());
}

void Control::SetVisible(bool visible) {
  visible_ = visible;
  Changed();
}

void Control::SetEnabled(bool enabled) {
  enabled_ = enabled;
  Changed();
}

void Control::ResetToDesign() {
  visible_ = true;
  enabled_ = true;
}

void Control::Changed() {
  if (parent_ != nullptr) parent_->ModelChanged(false);
}

void Control::Notify(const std::function<void()>& handler) {
  if (handler) handler();
}

Label::Label(Window& parent, Place place)
    : Control(parent, ControlKind::kLabel, place) {}

const std::string& Label::Caption() const {
  if (pending_number_) {
    char digits[24];
    auto end = std::to_chars(digits, std::end(digits), *pending_number_).ptr;
    caption_.append(digits, end);
    pending_number_.reset();
  }
  return caption_;
}

void Label::SetCaption(std::string_view caption) {
  caption_.assign(caption);
  pending_number_.reset();
  Changed();
  Notify(on_change_);
}

void Label::SetCaption(std::string_view prefix, int64_t number) {
  caption_.assign(prefix);
  pending_number_ = number;
  Changed();
  Notify(on_change_);
}

void Label::SetChangeHandler(std::function<void()> handler) {
  on_change_ = std::move(handler);
}

void Label::Refresh() { Changed(); }

void Label::ResetToDesign() {
  Control::ResetToDesign();
  caption_.clear();
  pending_number_.reset();
}

ProgressBar::ProgressBar(Window& parent, Place place)
    : Control(parent, ControlKind::kProgressBar, place) {}

void ProgressBar::SetMin(float min) {
  if (!(min < max_)) Raise(kErrInvalidPropertyValue);
  min_ = min;
  value_ = std::max(value_, min_);
  Changed();
}

void ProgressBar::SetMax(float max) {
  if (!(max > min_)) Raise(kErrInvalidPropertyValue);
  max_ = max;
  value_ = std::min(value_, max_);
  Changed();
}

void ProgressBar::SetValue(float value) {
  if (!(value >= min_ && value <= max_)) Raise(kErrInvalidPropertyValue);
  value_ = value;
  Changed();
}

void ProgressBar::ResetToDesign() {
  Control::ResetToDesign();
  min_ = 0;
  max_ = 100;
  value_ = 0;
}

CommandButton::CommandButton(Window& parent, Place place, std::string caption)
    : Control(parent, ControlKind::kButton, place),
      caption_(std::move(caption)) {}

std::string CommandButton::DisplayCaption() const {
  std::string shown;
  for (size_t i = 0; i < caption_.size(); ++i) {
    // "&&" stands for one ampersand.
    if (caption_[i] == '&' && i + 1 < caption_.size()) ++i;
    shown += caption_[i];
  }
  return shown;
}

char CommandButton::AccessKey() const {
  for (size_t i = 0; i + 1 < caption_.size(); ++i) {
    if (caption_[i] != '&') continue;
    if (caption_[i + 1] != '&') {
      auto key = static_cast<unsigned char>(caption_[i + 1]);
      return static_cast<char>(std::toupper(key));
    }
    ++i;
  }
  return 0;
}

void CommandButton::SetClickHandler(std::function<void()> handler) {
  on_click_ = std::move(handler);
}

void CommandButton::Click() {
  if (!Enabled() || !Visible()) return;
  Notify(on_click_);
}

// ---------------------------------------------------------------------------
// Window

Window::Window(std::string design_caption, int rows)
    : design_caption_(std::move(design_caption)),
      caption_(design_caption_),
      rows_(rows) {}

Window::~Window() {
  Unload();  // gives the terminal back if the window still shows
  for (Control* control : controls_) control->parent_ = nullptr;
}

void Window::SetCaption(std::string_view caption) {
  caption_.assign(caption);
  ModelChanged(false);
}

void Window::Load() {
  if (loaded_) return;
  loaded_ = true;
  caption_ = design_caption_;
  for (Control* control : controls_) control->ResetToDesign();
  if (on_load_) on_load_();
}

void Window::ShowModal() {
  if (showing_) Raise(400, "Form already displayed; can't show modally");
  Load();
  Backend& backend = CurrentBackend(presentation_.backend);
  backend_ = &backend;
  showing_ = true;
  tl_showing_window = this;
  tl_showing_backend = &backend;
  backend.Open(*this);
  PostEvent([this] {
    if (tl_showing_window == this) Activate();
  });
  try {
    while (loaded_) {
      DoEvents();
      if (loaded_) backend.ReadInput(50);
    }
  } catch (...) {
    Unload();
    throw;
  }
}

void Window::Unload() {
  if (!loaded_) return;
  loaded_ = false;
  if (!showing_) return;
  showing_ = false;
  if (tl_showing_window == this) {
    tl_showing_window = nullptr;
    tl_showing_backend = nullptr;
  }
  backend_->Close(*this);
  backend_ = nullptr;
}

void Window::Activate() {
  if (showing_ && on_activate_) on_activate_();
}

void Window::Refresh() { ModelChanged(true); }

void Window::SetLoadHandler(std::function<void()> handler) {
  on_load_ = std::move(handler);
}

void Window::SetActivateHandler(std::function<void()> handler) {
  on_activate_ = std::move(handler);
}

void Window::ModelChanged(bool force) {
  if (showing_) backend_->Update(*this, force);
}

}  // namespace velnor::forms
