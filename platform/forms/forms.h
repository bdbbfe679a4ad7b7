// Stands in for the form library the progress window was designed with, cut
// to what that one window uses: a modal window with labels, a progress bar
// and command buttons, the per-thread event queue that keeps it responsive
// (DoEvents, PostEvent), message boxes, and the backends that put the window
// in front of a user: a dialog drawn over the terminal, or plain progress
// lines on standard error when no terminal is there.
//
// Everything runs on the caller's thread; nothing runs in the background.
// A window is shown modally by ShowModal, which runs the event loop until the
// window is unloaded. Long work inside a handler keeps the window alive by
// calling DoEvents now and then: user input (a click on a button) becomes a
// pending event and runs inside that call.
#ifndef VELNOR_PLATFORM_FORMS_FORMS_H_
#define VELNOR_PLATFORM_FORMS_FORMS_H_

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velnor::forms {

class Window;

// ---------------------------------------------------------------------------
// Events

// Runs the events that are pending when it starts, then returns. Events
// posted while these run (also by nested DoEvents calls) wait for the next
// call. Before running them it reads waiting user input of the backend of the
// showing window, which turns clicks into pending events, and repaints the
// window when its throttle allows.
void DoEvents();

// Queues `event` on the calling thread's event queue; the next DoEvents (or
// the modal loop of a showing window) runs it. Tests use this to act as the
// user at a chosen moment, for example to click a button while a long
// handler runs:
//   forms::PostEvent([] { frmProgressDialog::Instance()->cmdCancel->Click();
//   });
void PostEvent(std::function<void()> event);

// True when an event is pending on the calling thread (after reading the
// waiting input of the showing window's backend).
bool EventsPending();

// A notification with any number of subscribers, raised in the order they
// connected. Handlers may connect or disconnect during Raise; a handler
// disconnected during Raise is still called if Raise had not reached it.
class Event {
 public:
  using Handler = std::function<void()>;
  // Returns the subscription's id, used by Disconnect.
  int Connect(Handler handler);
  // Unknown ids are ignored.
  void Disconnect(int id);
  void Raise();

 private:
  int next_id_ = 1;
  std::map<int, Handler> handlers_;
};

// ---------------------------------------------------------------------------
// Controls

// The width, in character cells, of the window's inside as designed; a
// narrower terminal scales the columns of every Place.
inline constexpr int kDesignWidth = 70;

// A control's place in its window, in character cells of the window's inside
// kDesignWidth wide: the row from the top, the first column and the width.
struct Place {
  int row = 0;
  int col = 0;
  int width = 0;
};

enum class ControlKind { kLabel, kProgressBar, kButton };

// The part every control shares: visibility, enabled state and its place. A
// control belongs to the window given at construction and must not outlive
// it except as an inert object (its changes then reach no backend). Loading
// the window resets every control to its design values.
class Control {
 public:
  Control(Window& parent, ControlKind kind, Place place);
  virtual ~Control();
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  ControlKind Kind() const { return kind_; }
  const Place& Placement() const { return place_; }

  bool Visible() const { return visible_; }
  void SetVisible(bool visible);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);

  // Restores the design values; called by Window::Load.
  virtual void ResetToDesign();

 protected:
  // Tells the showing window's backend that the model changed.
  void Changed();
  // Runs `handler` when set.
  static void Notify(const std::function<void()>& handler);

 private:
  friend class Window;
  Window* parent_;
  ControlKind kind_;
  Place place_;
  bool visible_ = true;
  bool enabled_ = true;
};

// A line of text. Every SetCaption raises the change notification, even with
// the same text.
class Label : public Control {
 public:
  Label(Window& parent, Place place);
  const std::string& Caption() const;
  void SetCaption(std::string_view caption);
  // The caption `prefix` followed by `number` in decimal digits. The text
  // is composed only when Caption is read (a backend paints it), so a
  // counter shown for every record costs no text work per record.
  void SetCaption(std::string_view prefix, int64_t number);
  void SetChangeHandler(std::function<void()> handler);
  // Redraws the label now; the terminal backend may defer this to keep
  // painting within its frame rate.
  void Refresh();
  void ResetToDesign() override;

 private:
  // caption_ lacks the digits of pending_number_ until Caption composes it.
  mutable std::string caption_;
  mutable std::optional<int64_t> pending_number_;
  std::function<void()> on_change_;
};

// A progress bar with single-precision Min, Max and Value (design range 0 to
// 100, value 0). A Value outside Min..Max, a Min not below Max or a Max not
// above Min raise AutomationError 380 "Invalid property value" and change
// nothing. A new range pulls the value inside it.
class ProgressBar : public Control {
 public:
  ProgressBar(Window& parent, Place place);
  float Min() const { return min_; }
  void SetMin(float min);
  float Max() const { return max_; }
  void SetMax(float max);
  float Value() const { return value_; }
  void SetValue(float value);
  void ResetToDesign() override;

 private:
  float min_ = 0;
  float max_ = 100;
  float value_ = 0;
};

// A push button. The caption marks its access key with "&" ("&Cancel": C).
class CommandButton : public Control {
 public:
  CommandButton(Window& parent, Place place, std::string caption);
  const std::string& Caption() const { return caption_; }
  // The caption without the "&" marker.
  std::string DisplayCaption() const;
  // The access key in upper case, or 0 when the caption has none.
  char AccessKey() const;
  void SetClickHandler(std::function<void()> handler);
  // Clicks the button as a user would: nothing happens while it is disabled
  // or hidden, otherwise the click handler runs now.
  void Click();

 private:
  std::string caption_;
  std::function<void()> on_click_;
};

// ---------------------------------------------------------------------------
// Window and backends

// What puts a showing window in front of the user. One backend serves the
// process; it is chosen when a window is shown while no other window shows.
class Backend {
 public:
  virtual ~Backend() = default;
  // The window starts showing (modal loop entered).
  virtual void Open(Window& window) = 0;
  // The window was unloaded; the backend gives the terminal back.
  virtual void Close(Window& window) = 0;
  // The window's model changed; with `force` the window is drawn now,
  // otherwise when the backend's throttle allows.
  virtual void Update(Window& window, bool force) = 0;
  // Reads waiting input and posts the events it means (a button click).
  // Waits up to `wait_ms` milliseconds for input when none waits.
  virtual void ReadInput(int wait_ms) = 0;
  // A modal message box; returns the automation result of the chosen
  // button (1 OK, 2 Cancel, 6 Yes, 7 No).
  virtual int MessageBox(std::string_view text, std::string_view title,
                         int32_t style) = 0;
};

enum class BackendPreference {
  kAuto,      // the terminal when stdin and stderr are terminals, else headless
  kHeadless,  // never draw; plain progress lines on standard error
  kQuiet,     // never draw, no progress lines (message boxes still answered)
};

// How a window is put in front of the user: a property of each window, so
// that two windows (two runs) may be shown differently.
struct Presentation {
  // Chooses the backend when the window is shown while no other shows.
  BackendPreference backend = BackendPreference::kAuto;
  // The host's own status line, shown under the window's controls in the
  // terminal and appended to the plain progress lines. Called only when the
  // line is shown (a paint, a progress line), so what it reports may change
  // as often as it likes. Empty: no line.
  std::function<std::string()> status_line;
};

// Tells the showing window that the status line's facts changed: it is
// redrawn when the backend's throttle allows. Runs no events, so it is safe
// anywhere, also deep inside work that must not see a click.
void StatusChanged();

// The backend in use: the one of the showing window, else the one
// `preference` chooses.
Backend& CurrentBackend(
    BackendPreference preference = BackendPreference::kAuto);

// A top-level window with a caption and controls. ShowModal loads it (the
// controls take their design values, then the load handler runs), shows it
// and runs the event loop until Unload.
class Window {
 public:
  // `rows`: the height of the window's inside in character cells.
  Window(std::string design_caption, int rows);
  virtual ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string_view caption);
  int Rows() const { return rows_; }
  // Controls in construction order.
  const std::vector<Control*>& Controls() const { return controls_; }
  // The button that an interrupt (Ctrl+C without a terminal) clicks.
  CommandButton* CancelButton() const { return cancel_button_; }
  void SetCancelButton(CommandButton* button) { cancel_button_ = button; }

  // True between the start of ShowModal's loop and Unload.
  bool Showing() const { return showing_; }

  // Shows the window modally and returns after Unload. The activation
  // handler runs as the first event of the loop. Raises 400 "Form already
  // displayed; can't show modally" when the window shows already. Failures
  // of handlers leave through here after the window has been unloaded.
  void ShowModal();
  // Closes the window: the modal loop ends when control returns to it.
  // Nothing happens when it is not loaded.
  void Unload();
  // The window becomes the active window again: runs the activation
  // handler while showing.
  void Activate();
  // Draws the window now.
  void Refresh();

  // Takes effect the next time the window is shown.
  void SetPresentation(Presentation presentation) {
    presentation_ = std::move(presentation);
  }
  // The status line as it reads now; empty without one.
  std::string StatusLineText() const {
    return presentation_.status_line ? presentation_.status_line() : "";
  }

  void SetLoadHandler(std::function<void()> handler);
  void SetActivateHandler(std::function<void()> handler);

 private:
  friend class Control;
  // Loads the window if it is not loaded: design values, then the load
  // handler.
  void Load();
  void ModelChanged(bool force);

  std::string design_caption_;
  std::string caption_;
  int rows_;
  std::vector<Control*> controls_;
  CommandButton* cancel_button_ = nullptr;
  bool loaded_ = false;
  bool showing_ = false;
  Backend* backend_ = nullptr;
  Presentation presentation_;
  std::function<void()> on_load_;
  std::function<void()> on_activate_;
};

}  // namespace velnor::forms

#endif  // VELNOR_PLATFORM_FORMS_FORMS_H_
