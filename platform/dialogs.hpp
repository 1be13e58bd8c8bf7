// Dialogs shown to the user: message boxes and the selection window. The
// host (or the host harness) may install its own provider; the default one
// shows real windows on Windows and, on POSIX, answers safely at once.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace vtsd::platform {

enum class BoxKind {
  Info,      // information icon, OK (the listener's "run the exchange" box)
  Question,  // question icon, Yes and No
  Notice,    // information icon, OK, owned by the selection window
};

enum class BoxAnswer { Ok, Yes, No, Closed };

struct MessageBoxRequest {
  BoxKind kind = BoxKind::Info;
  std::string caption;
  std::string text;
  // The answer given when nobody is there to answer (no provider installed,
  // or the harness has no action queued).
  BoxAnswer safe_answer = BoxAnswer::Ok;
};

// Lets another thread end a box that is waiting for the user, without
// killing the thread that shows it. Close() is thread-safe; a box shown after
// Close() ends at once.
class BoxCloser {
 public:
  void Close();
  bool IsClosed();
  // The provider registers how to end the box it shows; it runs at once if
  // Close() came first. Pass an empty function when the box is gone.
  void SetCloseAction(std::function<void()> action);

 private:
  std::mutex mutex_;
  bool closed_ = false;
  std::function<void()> action_;
};

struct SelectionWindowRequest {
  bool choose_source = false;  // true: one line; false: several lines
  std::string caption;
  std::string ok_text;
  std::string cancel_text;
  std::vector<std::string> items;
};

// What the user did in an open selection window.
struct SelectionWindowEvent {
  enum Kind {
    Ok,         // OK pressed; `selected` holds the chosen lines' indices, ascending
    Cancel,     // Cancel pressed
    Close,      // a close request (Alt+F4, the title bar)
    Destroyed,  // the window went away otherwise
  } kind = Destroyed;
  std::vector<int> selected;
};

class DialogProvider {
 public:
  virtual ~DialogProvider() = default;
  // Shows a box and waits for the answer. `closer`, when given, may end it
  // from another thread; the answer is then Closed.
  virtual BoxAnswer ShowMessageBox(const MessageBoxRequest& request, BoxCloser* closer) = 0;
  // Waits for the user's next action in the selection window described by
  // `request` (shown on the first wait, kept open between waits).
  virtual SelectionWindowEvent WaitSelectionWindow(const SelectionWindowRequest& request) = 0;
  // The selection window is finished with (confirmed, cancelled or gone).
  virtual void CloseSelectionWindow() {}
};

// The provider in force: the installed one, else the platform's default.
DialogProvider& Dialogs();
// Installs a provider (not owned); nullptr restores the default.
void InstallDialogProvider(DialogProvider* provider);
DialogProvider& DefaultDialogProvider();

}  // namespace vtsd::platform
