// The native selection window: the "WinForUser" top-level window with a list
// and two buttons, run by its own message loop on the calling thread. The
// Windows dialog provider hands it the selection-window waits and owns the
// notice and cancel question to it.
#pragma once

#include <windows.h>

#include "platform/dialogs.hpp"

namespace vtsd::platform {

// Shows the window on the first wait after it was closed, then runs its
// message loop until the user presses OK or Cancel, asks to close it, or the
// window goes away. An OK reports the selected lines' indices; -1 stands for
// lines that could not be read, and is also the answer when the window
// cannot be made at all.
SelectionWindowEvent WaitNativeSelectionWindow(const SelectionWindowRequest& request);

// Destroys the window (when open) and drops its class.
void CloseNativeSelectionWindow();

// The open selection window, or null: the owner of the notice and of the
// cancel question.
HWND OpenSelectionWindow();

}  // namespace vtsd::platform
