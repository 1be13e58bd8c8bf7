// The component's dialog provider inside the host harness: each message box
// and selection window that waits for the user is recorded in the harness's
// DialogScript and answered with the next queued action.
#pragma once

#include "platform/dialogs.hpp"
#include "tools/vtsd-host/dialog_script.hpp"

namespace vtsd::host {

class ScriptedDialogProvider : public platform::DialogProvider {
 public:
  explicit ScriptedDialogProvider(DialogScript& script) : script_(script) {}

  // Waits as the queued action says: after_ms first (a close through the
  // BoxCloser ends the wait early and answers Closed); "none" waits until
  // the component closes the box through the BoxCloser. A box shown after
  // its closer was closed ends at once and is not listed: it never waited.
  platform::BoxAnswer ShowMessageBox(const platform::MessageBoxRequest& request,
                                     platform::BoxCloser* closer) override;

  // Listed each time it waits. "ok" selects the "choose" lines (matched by
  // text, first unused line of that text; in source mode the last match
  // wins, as a single-selection list keeps only the last click) and presses
  // OK; "cancel" and "close" are the Cancel button and a close request;
  // "yes"/"no" count as OK/Cancel; "none" lets the window go away otherwise.
  platform::SelectionWindowEvent WaitSelectionWindow(
      const platform::SelectionWindowRequest& request) override;

 private:
  DialogScript& script_;
};

}  // namespace vtsd::host
