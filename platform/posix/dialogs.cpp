// Without a host-installed provider there is nobody to answer on POSIX: every
// box takes its safe answer at once and a selection window is cancelled. No
// call blocks and nothing reads standard input.
#include "platform/dialogs.hpp"

namespace vtsd::platform {

namespace {
class SafeDialogProvider : public DialogProvider {
 public:
  BoxAnswer ShowMessageBox(const MessageBoxRequest& request, BoxCloser*) override {
    return request.safe_answer;
  }
  SelectionWindowEvent WaitSelectionWindow(const SelectionWindowRequest&) override {
    SelectionWindowEvent e;
    e.kind = SelectionWindowEvent::Cancel;
    return e;
  }
};
}  // namespace

DialogProvider& DefaultDialogProvider() {
  static SafeDialogProvider provider;
  return provider;
}

}  // namespace vtsd::platform
