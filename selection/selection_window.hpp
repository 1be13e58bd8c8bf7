// The selection window: a list of lines with OK and Cancel through which the
// user picks the download source (one line) or the documents (several
// lines). The window itself is the platform's (the "WinForUser" window on
// Windows, the host harness's scripted dialog elsewhere); this file holds
// what it means: captions, the confirmation, the notice, the cancel question
// and the result text.
#pragma once

#include <string>
#include <vector>

#include "base/messages.hpp"

namespace vtsd {

// Ends every chosen line in a document-mode result: U+051E in UTF-8.
constexpr const char kChoiceSeparator[] = "\xD4\x9E";

// The one selection window's state. Only one window exists at a time.
struct SelectionWindowStateRecord {
  bool chooseSource = false;  // true: one line (source); false: several (documents)
  bool isRunning = false;     // true while the window is waited on
  std::string resultText;     // the confirmed choice
  bool isCancelled = false;   // the user confirmed a cancel; cleared by the caller
};

SelectionWindowStateRecord& SelectionWindowState();

// Shows the window with `items` in the given order, waits until the user
// confirms a choice or a cancel and sets `out` to the confirmed choice:
// in source mode the chosen line, in document mode every chosen line in list
// order, each followed by kChoiceSeparator. A confirmed cancel, and a window
// that went away without OK or a confirmed cancel, set isCancelled and leave
// `out` empty. Raises the build-failure message when the reported choice
// does not name lines of the list.
void ShowSelectionWindow(bool choose_source, const std::vector<std::string>& items,
                         std::string& out);

namespace selection_window_text {
extern const Msg kSourceCaption;
extern const Msg kDocumentCaption;
extern const Msg kOkButton;
extern const Msg kCancelButton;
extern const Msg kNoticeCaption;
extern const Msg kNotice;
extern const Msg kExitCaption;
extern const Msg kExitQuestion;
extern const Msg kBuildFailed;
}  // namespace selection_window_text

}  // namespace vtsd
