// The backend for an interactive terminal: the showing window is drawn with
// ncurses as a centred dialog box (caption in the top border, controls at
// their places, their columns scaled when the terminal is narrower than the
// design, the host's status line under the box), and message boxes are
// drawn over it. Input is read without blocking from DoEvents; keys and
// mouse clicks on a button become pending click events. Ctrl+C (SIGINT) and
// SIGTERM are the Cancel click answered Yes, as without a terminal: the click
// is posted and every message box after an interrupt is answered by its first
// button without asking.
//
// The terminal must come back in its original state whatever happens:
// Close restores it, and so do handlers for SIGSEGV and SIGABRT (restore,
// then re-raise with the default action) and an atexit hook, for a program
// that dies while the window shows.
#include <curses.h>
#include <poll.h>
#include <term.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <clocale>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "platform/forms/backends.h"
#include "platform/forms/forms.h"
#include "platform/interrupt/interrupt.h"

namespace velnor::forms::internal {
namespace {

// Painting at most ~30 times a second keeps a run that changes a label for
// every record from spending its time in the terminal; looking for input
// every 10 ms keeps it from spending its time in poll(2).
constexpr auto kFrameInterval = std::chrono::milliseconds(33);
constexpr auto kInputInterval = std::chrono::milliseconds(10);

// Whether the screen is up, for the fatal-signal and exit handlers that
// restore the terminal: the process's, as the terminal and the signals are.
volatile std::sig_atomic_t g_screen_active = 0;

void RestoreTerminal() {
  if (!g_screen_active) return;
  g_screen_active = 0;
  endwin();
}

const int kFatalSignals[] = {SIGSEGV, SIGABRT};

extern "C" void OnFatalSignal(int signal_number) {
  RestoreTerminal();
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

extern "C" void RestoreAtExit() { RestoreTerminal(); }

// A rectangle in screen cells.
struct Cells {
  int row = 0;
  int col = 0;
  int width = 0;
  bool Contains(int y, int x) const {
    return y == row && x >= col && x < col + width;
  }
};

class TerminalBackend : public Backend {
 public:
  void Open(Window& window) override {
    window_ = &window;
    focus_ = FirstFocusable();
    catching_.emplace();
    StartScreen();
    Paint();
  }

  void Close(Window&) override {
    window_ = nullptr;
    focus_ = nullptr;
    EndScreen();
    catching_.reset();
  }

  void Update(Window&, bool force) override {
    dirty_ = true;
    if (force || paint_throttle_.Due()) Paint();
  }

  void ReadInput(int wait_ms) override {
    if (screen_ == nullptr) return;
    if (window_ != nullptr && window_->CancelButton() != nullptr &&
        TakeInterrupt()) {
      CommandButton* cancel = window_->CancelButton();
      PostEvent([cancel] { cancel->Click(); });
    }
    // A mere check for input (every description change) looks at the
    // terminal only now and then.
    if (wait_ms == 0 && !input_throttle_.Due()) return;
    // Before waiting the screen must be current; a check must not paint
    // past the throttle, and getch is left alone unless input waits, since
    // it refreshes too.
    if (wait_ms > 0 && dirty_) Paint();
    pollfd input = {STDIN_FILENO, POLLIN, 0};
    if (poll(&input, 1, wait_ms) <= 0) return;
    timeout(0);
    for (int key = getch(); key != ERR; key = getch()) {
      HandleWindowKey(key);
      timeout(0);
    }
  }

  int MessageBox(std::string_view text, std::string_view title,
                 int32_t style) override {
    const std::vector<MessageButton> choices = MessageButtons(style);
    // After Ctrl+C nobody waits for the question: the interrupt was the
    // answer.
    if (interrupt::Interrupted()) return choices.front().result;
    size_t focus = DefaultButton(style, choices.size());
    const bool own_screen = screen_ == nullptr;
    if (own_screen) StartScreen();
    std::string shown(text);
    if (style & 32) shown.insert(0, "(?) ");
    int result = 0;
    while (result == 0) {
      std::vector<Cells> places = PaintMessageBox(shown, title, choices, focus);
      timeout(100);
      int key = getch();
      if (interrupt::Interrupted()) {
        result = choices.front().result;
      } else if (key == ERR) {
        RunPendingEvents();  // posted events still run under a message box
        continue;
      }
      if (result == 0) result = MessageBoxKey(key, choices, places, focus);
    }
    if (own_screen) {
      EndScreen();
    } else if (window_ != nullptr) {
      Paint();
      // Closing the box makes the window the active window again.
      Window* window = window_;
      PostEvent([window] { window->Activate(); });
    }
    return result;
  }

 private:
  void StartScreen() {
    const char* ctype = std::setlocale(LC_CTYPE, nullptr);
    saved_ctype_ = ctype != nullptr ? ctype : "C";
    // UTF-8 descriptions need the user's character set, not "C".
    if (saved_ctype_ == "C" || saved_ctype_ == "POSIX") {
      std::setlocale(LC_CTYPE, "");
    }
    screen_ = newterm(nullptr, stderr, stdin);
    set_term(screen_);
    g_screen_active = 1;
    InstallHandlers();
    cbreak();  // keeps Ctrl+C an interrupt
    noecho();
    keypad(stdscr, TRUE);
    curs_set(0);
    set_escdelay(25);
    mousemask(BUTTON1_PRESSED | BUTTON1_RELEASED | BUTTON1_CLICKED, nullptr);
    mouseinterval(0);
    paint_throttle_.Expire();
  }

  void EndScreen() {
    if (screen_ == nullptr) return;
    RestoreTerminal();
    RemoveHandlers();
    delscreen(screen_);
    screen_ = nullptr;
    std::setlocale(LC_CTYPE, saved_ctype_.c_str());
  }

  void InstallHandlers() {
    // Once for the process, whose terminal it restores.
    [[maybe_unused]] static const int at_exit = std::atexit(RestoreAtExit);
    struct sigaction action = {};
    action.sa_handler = OnFatalSignal;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < std::size(kFatalSignals); ++i) {
      sigaction(kFatalSignals[i], &action, &saved_actions_[i]);
    }
  }

  void RemoveHandlers() {
    for (size_t i = 0; i < std::size(kFatalSignals); ++i) {
      sigaction(kFatalSignals[i], &saved_actions_[i], nullptr);
    }
  }

  // --- the window -------------------------------------------------------

  int InnerWidth() const { return std::clamp(COLS - 4, 10, kDesignWidth); }
  int DesignHeight() const { return std::max(3, window_->Rows()); }
  // The design's rows, or as many as the terminal has below and above the
  // box's borders.
  int InnerHeight() const {
    return std::max(1, std::min(DesignHeight(), LINES - 2));
  }

  // The box's row of `design_row`, or -1 when it is not shown. A box of
  // fewer rows than the design packs the rows that hold a control, and
  // when even these are too many it keeps the last of them (the bar and
  // the buttons), so that Cancel stays on a screen of a few lines.
  int InnerRow(int design_row) const {
    const int row = std::clamp(design_row, 0, DesignHeight() - 1);
    if (InnerHeight() == DesignHeight()) return row;
    std::vector<int> used;
    for (const Control* control : window_->Controls()) {
      if (control->Visible()) used.push_back(control->Placement().row);
    }
    std::sort(used.begin(), used.end());
    used.erase(std::unique(used.begin(), used.end()), used.end());
    const int index = static_cast<int>(
        std::lower_bound(used.begin(), used.end(), row) - used.begin());
    const int hidden =
        std::max(0, static_cast<int>(used.size()) - InnerHeight());
    return index < hidden ? -1 : index - hidden;
  }
  int BoxTop() const { return std::max(0, (LINES - InnerHeight() - 2) / 2); }
  int BoxLeft() const { return std::max(0, (COLS - InnerWidth() - 2) / 2); }

  Cells Place(const Control& control) const {
    const forms::Place& place = control.Placement();
    const int w = InnerWidth();
    Cells cells;
    const int row = InnerRow(place.row);
    cells.row = row < 0 ? -1 : BoxTop() + 1 + row;
    int col = std::clamp(place.col * w / kDesignWidth, 0, w - 1);
    cells.col = BoxLeft() + 1 + col;
    cells.width = std::clamp(place.width * w / kDesignWidth, 1, w - col);
    return cells;
  }

  // The cells a button's "[ caption ]" occupies, centred in its place.
  Cells ButtonCells(const CommandButton& button) const {
    Cells cells = Place(button);
    int length = static_cast<int>(button.DisplayCaption().size()) + 4;
    cells.col += std::max(0, (cells.width - length) / 2);
    cells.width = length;
    return cells;
  }

  // The first button that takes clicks, in construction order.
  CommandButton* FirstFocusable() const {
    for (Control* control : window_->Controls()) {
      if (control->Kind() == ControlKind::kButton && control->Visible() &&
          control->Enabled()) {
        return static_cast<CommandButton*>(control);
      }
    }
    return nullptr;
  }

  void DrawBox(int top, int left, int height, int width,
               std::string_view title) {
    for (int row = top; row < top + height; ++row) {
      mvhline(row, left, ' ', width);
    }
    mvaddch(top, left, ACS_ULCORNER);
    mvhline(top, left + 1, ACS_HLINE, width - 2);
    mvaddch(top, left + width - 1, ACS_URCORNER);
    mvvline(top + 1, left, ACS_VLINE, height - 2);
    mvvline(top + 1, left + width - 1, ACS_VLINE, height - 2);
    mvaddch(top + height - 1, left, ACS_LLCORNER);
    mvhline(top + height - 1, left + 1, ACS_HLINE, width - 2);
    mvaddch(top + height - 1, left + width - 1, ACS_LRCORNER);
    std::string shown = Ellipsize(title, width - 4) + " ";
    int col = left + std::max(1, (width - static_cast<int>(shown.size())) / 2);
    attron(A_BOLD);
    mvaddstr(top, col, shown.c_str());
    attroff(A_BOLD);
  }

  void DrawButton(const CommandButton& button, Cells cells) {
    const bool enabled = button.Enabled();
    const int attributes = static_cast<int>(
        !enabled ? A_DIM : (&button == focus_ ? A_REVERSE : 0));
    // Drawn from where the cursor is, the caption must not follow another
    // control's text when its own place is off the screen.
    if (move(cells.row, cells.col) == ERR) return;
    attron(attributes);
    addstr("[ ");
    std::string caption = button.DisplayCaption();
    char key = button.AccessKey();
    bool marked = false;
    for (char c : caption) {
      bool is_key = enabled && !marked && key != 0 &&
                    std::toupper(static_cast<unsigned char>(c)) == key;
      if (is_key) attron(A_UNDERLINE);
      addch(static_cast<unsigned char>(c));
      if (is_key) attroff(A_UNDERLINE);
      marked = marked || is_key;
    }
    addstr(" ]");
    attroff(attributes);
  }

  void DrawBar(const ProgressBar& bar, Cells cells) {
    int inner = std::max(1, cells.width - 2);
    double span = bar.Max() - bar.Min();
    double part = span > 0 ? (bar.Value() - bar.Min()) / span : 0;
    int filled =
        std::clamp(static_cast<int>(std::lround(part * inner)), 0, inner);
    std::string text(1, '[');
    text.append(filled, '#').append(inner - filled, '.').push_back(']');
    mvaddstr(cells.row, cells.col, text.c_str());
  }

  void Paint() {
    if (screen_ == nullptr || window_ == nullptr) return;
    erase();
    DrawBox(BoxTop(), BoxLeft(), InnerHeight() + 2, InnerWidth() + 2,
            window_->Caption());
    for (const Control* control : window_->Controls()) {
      Cells cells = Place(*control);
      if (!control->Visible() || cells.row < 0) continue;
      switch (control->Kind()) {
        case ControlKind::kLabel:
          mvaddstr(cells.row, cells.col,
                   Ellipsize(static_cast<const Label*>(control)->Caption(),
                             cells.width)
                       .c_str());
          break;
        case ControlKind::kProgressBar:
          DrawBar(*static_cast<const ProgressBar*>(control), cells);
          break;
        case ControlKind::kButton: {
          auto* button = static_cast<const CommandButton*>(control);
          DrawButton(*button, ButtonCells(*button));
          break;
        }
      }
    }
    DrawStatusLine();
    refresh();
    dirty_ = false;
  }

  // The host's line, under the box and as wide as it.
  void DrawStatusLine() {
    const int row = BoxTop() + InnerHeight() + 2;
    if (row >= LINES) return;
    std::string status = window_->StatusLineText();
    if (status.empty()) return;
    mvaddstr(row, BoxLeft() + 1, Ellipsize(status, InnerWidth()).c_str());
  }

  static bool Usable(const CommandButton* button) {
    return button != nullptr && button->Visible() && button->Enabled();
  }

  void PostClick(CommandButton* button) {
    PostEvent([button] { button->Click(); });
  }

  void HandleWindowKey(int key) {
    if (window_ == nullptr) return;
    if (!Usable(focus_)) focus_ = FirstFocusable();
    if (key == KEY_RESIZE) {
      clear();
      Paint();
    } else if (key == KEY_MOUSE) {
      MEVENT event;
      if (getmouse(&event) != OK ||
          !(event.bstate & (BUTTON1_RELEASED | BUTTON1_CLICKED))) {
        return;
      }
      for (Control* control : window_->Controls()) {
        auto* button = control->Kind() == ControlKind::kButton
                           ? static_cast<CommandButton*>(control)
                           : nullptr;
        if (Usable(button) && ButtonCells(*button).Contains(event.y, event.x)) {
          PostClick(button);
        }
      }
    } else if (key == '\n' || key == '\r' || key == KEY_ENTER || key == ' ') {
      if (Usable(focus_)) PostClick(focus_);
    } else if (key >= 0 && key < 256 && std::isalnum(key)) {
      // A letter alone or after Escape (how terminals send Alt+letter).
      for (Control* control : window_->Controls()) {
        auto* button = control->Kind() == ControlKind::kButton
                           ? static_cast<CommandButton*>(control)
                           : nullptr;
        if (Usable(button) && button->AccessKey() == std::toupper(key)) {
          PostClick(button);
        }
      }
    }
  }

  // --- message boxes ----------------------------------------------------

  std::vector<Cells> PaintMessageBox(const std::string& text,
                                     std::string_view title,
                                     const std::vector<MessageButton>& choices,
                                     size_t focus) {
    if (window_ != nullptr) Paint();
    int choices_width = 0;
    for (const MessageButton& b : choices) {
      choices_width += static_cast<int>(std::string_view(b.caption).size()) + 6;
    }
    int width =
        std::clamp(std::max(static_cast<int>(text.size()), choices_width) + 6,
                   30, std::max(30, COLS - 2));
    width = std::min(width, COLS);
    const int height = 7;
    const int top = std::max(0, (LINES - height) / 2);
    const int left = std::max(0, (COLS - width) / 2);
    std::string boxed_title(1, ' ');
    boxed_title.append(title);
    DrawBox(top, left, height, width, boxed_title);
    mvaddstr(top + 2, left + 3, Ellipsize(text, width - 6).c_str());
    std::vector<Cells> places;
    int col = left + std::max(1, (width - choices_width + 2) / 2);
    for (size_t i = 0; i < choices.size(); ++i) {
      std::string caption("[ ");
      caption.append(choices[i].caption).append(" ]");
      Cells cells{top + 4, col, static_cast<int>(caption.size())};
      places.push_back(cells);
      if (i == focus) attron(A_REVERSE);
      mvaddstr(cells.row, cells.col, caption.c_str());
      if (i == focus) attroff(A_REVERSE);
      col += cells.width + 2;
    }
    refresh();
    return places;
  }

  // Returns the chosen button's result, or 0 while the box stays open.
  static int MessageBoxKey(int key, const std::vector<MessageButton>& choices,
                           const std::vector<Cells>& places, size_t& focus) {
    const size_t count = choices.size();
    switch (key) {
      case KEY_LEFT:
      case KEY_BTAB:
        focus = (focus + count - 1) % count;
        return 0;
      case KEY_RIGHT:
      case '\t':
        focus = (focus + 1) % count;
        return 0;
      case '\n':
      case '\r':
      case ' ':
      case KEY_ENTER:
        return choices[focus].result;
      case KEY_MOUSE: {
        MEVENT event;
        if (getmouse(&event) != OK ||
            !(event.bstate & (BUTTON1_RELEASED | BUTTON1_CLICKED))) {
          return 0;
        }
        for (size_t i = 0; i < count; ++i) {
          if (places[i].Contains(event.y, event.x)) return choices[i].result;
        }
        return 0;
      }
      default:
        for (const MessageButton& b : choices) {
          if (key >= 0 && key < 256 && std::toupper(key) == b.key) {
            return b.result;
          }
        }
        return 0;
    }
  }

  SCREEN* screen_ = nullptr;
  Window* window_ = nullptr;
  CommandButton* focus_ = nullptr;
  bool dirty_ = false;
  Throttle paint_throttle_{kFrameInterval};
  Throttle input_throttle_{kInputInterval};
  std::optional<interrupt::CatchScope> catching_;
  std::string saved_ctype_;
  struct sigaction saved_actions_[std::size(kFatalSignals)] = {};
};

}  // namespace

std::unique_ptr<Backend> MakeTerminalBackend() {
  int error = 0;
  // Only checks that the terminal type is known and can place the cursor;
  // the screen starts at Open. One that cannot (TERM=dumb, an editor's
  // shell buffer) would get the whole box as one line of borders.
  if (setupterm(nullptr, STDERR_FILENO, &error) != OK) return nullptr;
  const char* move_cursor = tigetstr("cup");
  const bool addressable = move_cursor != nullptr &&
                           move_cursor != reinterpret_cast<const char*>(-1);
  del_curterm(cur_term);
  if (!addressable) return nullptr;
  return std::make_unique<TerminalBackend>();
}

}  // namespace velnor::forms::internal
