#pragma once

// What the files of the native window share, and nothing outside them uses.

#include <string>

#include "window/window_model.h"
#include "wingui/win32_api.h"

namespace qj::wingui::detail {

inline constexpr wchar_t kWindowClass[] = L"QingjianWindow";
inline constexpr wchar_t kPanelClass[] = L"QingjianPagePanel";
// Posted to the window when a call from another thread waits in the queue.
inline constexpr UINT kRunQueuedCalls = WM_APP + 1;
// The subclass of tab controls and group boxes, whose controls' notifications reach them.
inline constexpr UINT_PTR kContainerSubclass = 1;

inline COLORREF ToColorRef(Colour c) {
    return static_cast<COLORREF>(c);  // both are 0x00BBGGRR
}

inline HINSTANCE Instance() {
    return GetModuleHandleW(nullptr);
}

// The whole text of a window or control.
std::wstring WindowTextOf(HWND hwnd);

}  // namespace qj::wingui::detail
