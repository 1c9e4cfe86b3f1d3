// The messages of the native window and its controls: the user's clicks, page switches and
// double-clicks become the program's events, calls from other threads run, and the window's end
// ends the calls and the message loop.

#include "platform/desktop_open.h"
#include "text/text_helpers.h"
#include "wingui/win32_window.h"
#include "wingui/win32_window_internal.h"

namespace qj::wingui {

using namespace detail;

void Win32Window::WakeWindowThread() {
    PostMessageW(window_, kRunQueuedCalls, 0, 0);
}

int Win32Window::RunEventLoop() {
    quitOnDestroy_ = true;
    // Long text collections on the window thread let the window answer meanwhile.
    SetPendingMessagesHook([this] { ProcessPendingMessages(); });
    MSG message;
    int code = 0;
    for (;;) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) {
            code = static_cast<int>(message.wParam);
            break;
        }
        if (got < 0) {
            break;
        }
        // Tab and the arrow keys move between the controls, as in a dialog.
        if (!IsOpen() || !IsDialogMessageW(window_, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    SetPendingMessagesHook({});
    return code;
}

void Win32Window::ProcessPendingMessages() {
    if (!OnOwnThread()) {
        return;
    }
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // The loop that owns the thread must still see it.
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

LRESULT CALLBACK Win32Window::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<Win32Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) {
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    return self->HandleMessage(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK Win32Window::ContainerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                            DWORD_PTR data) {
    auto* self = reinterpret_cast<Win32Window*>(data);
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(hwnd, ContainerProc, kContainerSubclass);
    } else if (message == WM_ERASEBKGND && self->IsKindOf(self->FindByHandle(hwnd), kind::kGroup)) {
        self->EraseBackground(hwnd, reinterpret_cast<HDC>(wParam));
        return 1;
    } else if (std::optional<LRESULT> handled = self->HandleControlMessage(message, wParam, lParam)) {
        return *handled;
    }
    return DefSubclassProc(hwnd, message, wParam, lParam);
}

LRESULT Win32Window::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case kRunQueuedCalls:
            RunQueuedCalls();
            return 0;
        case WM_ERASEBKGND:
            EraseBackground(hwnd, reinterpret_cast<HDC>(wParam));
            return 1;
        case WM_CLOSE:
            BeginClosing();
            DestroyWindow(hwnd);
            return 0;
        case WM_NCDESTROY: {
            BeginClosing();
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            window_ = nullptr;
            for (auto& [name, entry] : entries_) {
                entry.hwnd = nullptr;
            }
            names_.clear();
            pagePanels_.clear();
            if (quitOnDestroy_) {
                PostQuitMessage(0);
            }
            break;
        }
        default:
            if (std::optional<LRESULT> handled = HandleControlMessage(message, wParam, lParam)) {
                return *handled;
            }
            break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

std::optional<LRESULT> Win32Window::HandleControlMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (std::optional<LRESULT> handled = HandleColourMessage(message, wParam, lParam)) {
        return handled;
    }
    if (message == WM_COMMAND) {
        const Entry* entry = FindByHandle(reinterpret_cast<HWND>(lParam));
        if (!entry) {
            return std::nullopt;
        }
        const WORD code = HIWORD(wParam);
        if (code == BN_CLICKED && (IsKind(entry->row, kind::kButton) || IsKind(entry->row, kind::kCheck) ||
                                   IsKind(entry->row, kind::kRadio))) {
            if (IsKind(entry->row, kind::kRadio)) {
                CheckRadio(*entry);
            }
            RaiseClicked(entry->row.name);
            return 0;
        }
        if (code == EN_CHANGE && IsSingleLineEdit(entry->row) && !fixingLineBreaks_) {
            KeepOnOneLine(*entry);
            return 0;
        }
        return std::nullopt;
    }
    if (message == WM_NOTIFY) {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        const Entry* entry = FindByHandle(header->hwndFrom);
        if (!entry) {
            return std::nullopt;
        }
        if (IsKind(entry->row, kind::kTab) && header->code == TCN_SELCHANGE) {
            const int page = static_cast<int>(SendMessageW(entry->hwnd, TCM_GETCURSEL, 0, 0));
            Find(entry->row.name)->tabPage = page;
            UpdatePageVisibility();
            RaisePageSwitched(entry->row.name, page);
            return 0;
        }
        if (IsKind(entry->row, kind::kList) && header->code == NM_DBLCLK) {
            RaiseDoubleClicked(entry->row.name);
            return 0;
        }
    }
    return std::nullopt;
}

// Pasted or typed line breaks never stay in a one-line box; the caret stays after what was typed.
void Win32Window::KeepOnOneLine(const Entry& edit) {
    const std::wstring text = WindowTextOf(edit.hwnd);
    if (text.find_first_of(L"\r\n") == std::wstring::npos) {
        return;
    }
    DWORD caret = 0;
    SendMessageW(edit.hwnd, EM_GETSEL, reinterpret_cast<WPARAM>(&caret), 0);
    std::wstring kept;
    DWORD keptCaret = caret;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\r' || text[i] == L'\n') {
            keptCaret -= i < caret ? 1 : 0;
        } else {
            kept += text[i];
        }
    }
    fixingLineBreaks_ = true;
    SetWindowTextW(edit.hwnd, kept.c_str());
    SendMessageW(edit.hwnd, EM_SETSEL, keptCaret, keptCaret);
    fixingLineBreaks_ = false;
}

}  // namespace qj::wingui
