#pragma once

// Waiting on the test thread for what the native window's thread does.

#include <windows.h>

#include <functional>

#include "wingui/win32_window.h"

namespace qj::testing {

// Lets the window thread handle its messages until the condition holds; false after twenty
// seconds. The wait itself sleeps until a message arrives or ten milliseconds pass.
inline bool PumpUntil(wingui::Win32Window& window, const std::function<bool()>& condition) {
    const ULONGLONG end = GetTickCount64() + 20000;
    while (!condition()) {
        if (GetTickCount64() > end) {
            return false;
        }
        window.ProcessPendingMessages();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return true;
}

}  // namespace qj::testing
