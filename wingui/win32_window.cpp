#include "wingui/win32_window.h"

#include <algorithm>
#include <string_view>

#include "platform/desktop_open.h"
#include "wingui/message_box.h"
#include "wingui/win32_text.h"
#include "wingui/win32_window_internal.h"

namespace qj::wingui {

using namespace detail;

std::wstring detail::WindowTextOf(HWND hwnd) {
    const int length = GetWindowTextLengthW(hwnd);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int copied = GetWindowTextW(hwnd, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(std::max(copied, 0)));
    return text;
}

namespace {

std::wstring ListCellOf(HWND list, int row, int column) {
    std::wstring buffer(256, L'\0');
    for (;;) {
        LVITEMW item{};
        item.iSubItem = column;
        item.pszText = buffer.data();
        item.cchTextMax = static_cast<int>(buffer.size());
        const auto copied = static_cast<std::size_t>(
            SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item)));
        if (copied + 1 < buffer.size()) {
            buffer.resize(copied);
            return buffer;
        }
        buffer.resize(buffer.size() * 4);
    }
}

}  // namespace

Win32Window::Entry* Win32Window::Find(const Text& name) {
    auto it = entries_.find(name);
    return it == entries_.end() ? nullptr : &it->second;
}

const Win32Window::Entry* Win32Window::Find(const Text& name) const {
    auto it = entries_.find(name);
    return it == entries_.end() || !it->second.hwnd ? nullptr : &it->second;
}

const Win32Window::Entry* Win32Window::FindByHandle(HWND hwnd) const {
    auto it = names_.find(hwnd);
    return it == names_.end() ? nullptr : Find(it->second);
}

bool Win32Window::IsKindOf(const Entry* entry, const char* kindName) const {
    return entry && IsKind(entry->row, kindName);
}

HWND Win32Window::Control(const Text& name) const {
    const Entry* entry = window_ ? Find(name) : nullptr;
    return entry ? entry->hwnd : nullptr;
}

RECT Win32Window::GeometryInParent(const Text& name) const {
    const Entry* entry = window_ ? Find(name) : nullptr;
    if (!entry) {
        return {};
    }
    RECT rect{};
    GetWindowRect(entry->hwnd, &rect);
    const Text parent = entry->row.parent;
    HWND reference = parent.empty() ? window_ : Find(parent)->hwnd;
    POINT origin{0, 0};
    if (reference == window_) {
        ClientToScreen(window_, &origin);
    } else {
        RECT outer{};
        GetWindowRect(reference, &outer);
        origin = {outer.left, outer.top};
    }
    if (IsKindOf(entry, kind::kCombo)) {
        // The drop-down list's room is not part of the control's place.
        rect.bottom = rect.top + static_cast<LONG>(entry->row.height * scale_ + 0.5);
    }
    return RECT{rect.left - origin.x, rect.top - origin.y, rect.right - origin.x, rect.bottom - origin.y};
}

bool Win32Window::ShownOnItsPage(const ControlRow& row) const {
    for (Text p = row.parent, child = row.name; !p.empty();) {
        const Entry& container = entries_.at(p);
        if (IsKind(container.row, kind::kTab) && entries_.at(child).row.page != container.tabPage) {
            return false;
        }
        child = p;
        p = container.row.parent;
    }
    return true;
}

void Win32Window::UpdatePageVisibility() {
    for (auto& [name, entry] : entries_) {
        if (entry.hwnd) {
            ShowWindow(entry.hwnd, ShownOnItsPage(entry.row) ? SW_SHOWNA : SW_HIDE);
        }
    }
}

void Win32Window::CheckRadio(const Entry& radio) {
    for (auto& [name, other] : entries_) {
        if (&other != &radio && IsKind(other.row, kind::kRadio) &&
            std::string_view(other.row.parent) == radio.row.parent && other.row.page == radio.row.page && other.hwnd) {
            SendMessageW(other.hwnd, BM_SETCHECK, BST_UNCHECKED, 0);
        }
    }
    SendMessageW(radio.hwnd, BM_SETCHECK, BST_CHECKED, 0);
}

void Win32Window::ShowCentred() {
    if (!window_) {
        return;
    }
    RECT frame{};
    GetWindowRect(window_, &frame);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(window_, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& work = monitor.rcWork;
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    SetWindowPos(window_, nullptr, work.left + (work.right - work.left - width) / 2,
                 work.top + (work.bottom - work.top - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ShowWindow(window_, SW_SHOW);
    UpdateWindow(window_);
}

void Win32Window::DestroyWidgets() {
    if (window_ && OnOwnThread()) {
        DestroyWindow(window_);  // WM_NCDESTROY forgets the handles
    }
}

Text Win32Window::GetText(const Text& name, int property) const {
    return OnWindowThread([&]() -> Text {
        if (name == kWindowItself) {
            return property == kPropCaption ? FromWide(WindowTextOf(window_)) : Text();
        }
        const Entry* entry = Find(name);
        if (!entry || IsKind(entry->row, kind::kTab) || IsKind(entry->row, kind::kList) ||
            IsKind(entry->row, kind::kProgress) ||
            (property != kPropContent && property != kPropComboText && property != kPropCaption)) {
            return {};
        }
        return FromWide(WindowTextOf(entry->hwnd));
    });
}

void Win32Window::SetText(const Text& name, int property, const Text& value) {
    OnWindowThread([&] {
        if (name == kWindowItself) {
            if (property == kPropCaption) {
                SetWindowTextW(window_, ToWide(value).c_str());
            }
            return;
        }
        const Entry* entry = Find(name);
        if (!entry || IsKind(entry->row, kind::kTab) || IsKind(entry->row, kind::kList) ||
            IsKind(entry->row, kind::kProgress) ||
            (property != kPropContent && property != kPropComboText && property != kPropCaption)) {
            return;
        }
        Text text = value;
        if (IsSingleLineEdit(entry->row)) {
            text = WithoutLineBreaks(value);
        } else if (IsKind(entry->row, kind::kEdit) || IsKind(entry->row, kind::kLabel)) {
            text = WithCrLfBreaks(value);
            if (IsKind(entry->row, kind::kEdit)) {
                KeepLastLines(text, entry->row.keptLines);
            }
        }
        SetWindowTextW(entry->hwnd, ToWide(text).c_str());
        if (IsKind(entry->row, kind::kLabel) || IsKind(entry->row, kind::kGroup)) {
            // A transparent control leaves the old text under the new one unless what lies under it
            // is painted again.
            RECT place{};
            GetWindowRect(entry->hwnd, &place);
            MapWindowPoints(nullptr, entry->physicalParent, reinterpret_cast<POINT*>(&place), 2);
            InvalidateRect(entry->physicalParent, &place, TRUE);
        }
    });
}

long long Win32Window::GetNumber(const Text& name, int property) const {
    return OnWindowThread([&]() -> long long {
        const Entry* entry = Find(name);
        if (!entry) {
            return 0;
        }
        HWND hwnd = entry->hwnd;
        switch (property) {
            case kPropDisabled:
                return IsWindowEnabled(hwnd) ? 0 : 1;
            case kPropChecked:
                if (IsKind(entry->row, kind::kCheck) || IsKind(entry->row, kind::kRadio)) {
                    return SendMessageW(hwnd, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
                }
                return 0;
            case kPropComboSelection:
                if (IsKind(entry->row, kind::kCombo)) {
                    return static_cast<long long>(static_cast<int>(SendMessageW(hwnd, CB_GETCURSEL, 0, 0)));
                }
                return 0;
            case kPropListSelection:
                if (IsKind(entry->row, kind::kList)) {
                    return static_cast<int>(
                        SendMessageW(hwnd, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
                }
                return 0;
            case kPropProgressValue:
                if (IsKind(entry->row, kind::kProgress)) {
                    return static_cast<long long>(SendMessageW(hwnd, PBM_GETPOS, 0, 0));
                }
                return 0;
            case kPropProgressMaximum:
                if (IsKind(entry->row, kind::kProgress)) {
                    return static_cast<long long>(SendMessageW(hwnd, PBM_GETRANGE, FALSE, 0));
                }
                return 0;
            default:
                return 0;
        }
    });
}

void Win32Window::SetNumber(const Text& name, int property, long long value) {
    OnWindowThread([&] {
        const Entry* entry = Find(name);
        if (!entry) {
            return;
        }
        HWND hwnd = entry->hwnd;
        switch (property) {
            case kPropDisabled:
                EnableWindow(hwnd, value == 0);
                break;
            case kPropChecked:
                if (IsKind(entry->row, kind::kRadio) && value != 0) {
                    CheckRadio(*entry);
                } else if (IsKind(entry->row, kind::kCheck) || IsKind(entry->row, kind::kRadio)) {
                    SendMessageW(hwnd, BM_SETCHECK, value != 0 ? BST_CHECKED : BST_UNCHECKED, 0);
                }
                break;
            case kPropComboSelection:
                if (IsKind(entry->row, kind::kCombo)) {
                    const auto count = static_cast<long long>(SendMessageW(hwnd, CB_GETCOUNT, 0, 0));
                    SendMessageW(hwnd, CB_SETCURSEL, static_cast<WPARAM>(value >= 0 && value < count ? value : -1), 0);
                }
                break;
            case kPropListSelection:
                if (IsKind(entry->row, kind::kList)) {
                    const auto count = static_cast<long long>(SendMessageW(hwnd, LVM_GETITEMCOUNT, 0, 0));
                    LVITEMW state{};
                    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
                    state.state = 0;
                    SendMessageW(hwnd, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&state));
                    if (value >= 0 && value < count) {
                        state.state = LVIS_SELECTED | LVIS_FOCUSED;
                        SendMessageW(hwnd, LVM_SETITEMSTATE, static_cast<WPARAM>(value),
                                     reinterpret_cast<LPARAM>(&state));
                        SendMessageW(hwnd, LVM_ENSUREVISIBLE, static_cast<WPARAM>(value), FALSE);
                    }
                }
                break;
            case kPropProgressValue:
                if (IsKind(entry->row, kind::kProgress)) {
                    const auto maximum = static_cast<long long>(SendMessageW(hwnd, PBM_GETRANGE, FALSE, 0));
                    SendMessageW(hwnd, PBM_SETPOS, static_cast<WPARAM>(std::clamp<long long>(value, 0, maximum)), 0);
                }
                break;
            case kPropProgressMaximum:
                if (IsKind(entry->row, kind::kProgress)) {
                    SendMessageW(hwnd, PBM_SETRANGE32, 0,
                                 static_cast<LPARAM>(std::clamp<long long>(value, 0, 1 << 30)));
                }
                break;
            default:
                break;
        }
    });
}

// A box that keeps its last lines only loses the first ones (the text in it has CR LF breaks only).
void Win32Window::DropFirstLines(const Entry& entry) {
    const std::wstring text = WindowTextOf(entry.hwnd);
    int breaks = 0;
    for (std::size_t i = text.size(); i >= 2; --i) {
        if (text[i - 2] == L'\r' && text[i - 1] == L'\n' && ++breaks > entry.row.keptLines) {
            SendMessageW(entry.hwnd, EM_SETSEL, 0, static_cast<LPARAM>(i));
            SendMessageW(entry.hwnd, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
            const int end = GetWindowTextLengthW(entry.hwnd);
            SendMessageW(entry.hwnd, EM_SETSEL, end, end);
            return;
        }
    }
}

void Win32Window::AppendText(const Text& name, const Text& text) {
    OnWindowThread([&] {
        const Entry* entry = Find(name);
        if (!entry || !IsKind(entry->row, kind::kEdit)) {
            return;
        }
        const std::wstring added = ToWide(entry->row.multiLine ? WithCrLfBreaks(text) : WithoutLineBreaks(text));
        const int end = GetWindowTextLengthW(entry->hwnd);
        SendMessageW(entry->hwnd, EM_SETSEL, end, end);
        SendMessageW(entry->hwnd, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(added.c_str()));
        if (entry->row.multiLine && entry->row.keptLines > 0) {
            DropFirstLines(*entry);
        }
        SendMessageW(entry->hwnd, EM_SCROLLCARET, 0, 0);
    });
}

int Win32Window::CurrentTabPage(const Text& name) const {
    return OnWindowThread([&] {
        const Entry* entry = Find(name);
        return IsKindOf(entry, kind::kTab) ? static_cast<int>(SendMessageW(entry->hwnd, TCM_GETCURSEL, 0, 0)) : -1;
    });
}

void Win32Window::SetCurrentTabPage(const Text& name, int page) {
    OnWindowThread([&] {
        Entry* entry = Find(name);
        if (IsKindOf(entry, kind::kTab) && page >= 0 && page < static_cast<int>(entry->row.pages.size())) {
            // TCM_SETCURSEL raises no notification: the program's switch is not the user's.
            SendMessageW(entry->hwnd, TCM_SETCURSEL, page, 0);
            entry->tabPage = page;
            UpdatePageVisibility();
        }
    });
}

int Win32Window::ComboItemCount(const Text& name) const {
    return OnWindowThread([&] {
        const Entry* entry = Find(name);
        return IsKindOf(entry, kind::kCombo) ? static_cast<int>(SendMessageW(entry->hwnd, CB_GETCOUNT, 0, 0)) : 0;
    });
}

Text Win32Window::ComboItemText(const Text& name, int index) const {
    return OnWindowThread([&]() -> Text {
        const Entry* entry = Find(name);
        if (!IsKindOf(entry, kind::kCombo) || index < 0) {
            return {};
        }
        const LRESULT length = SendMessageW(entry->hwnd, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
        if (length == CB_ERR) {
            return {};
        }
        std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
        SendMessageW(entry->hwnd, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
        text.resize(static_cast<std::size_t>(length));
        return FromWide(text);
    });
}

long long Win32Window::ComboItemData(const Text& name, int index) const {
    return OnWindowThread([&]() -> long long {
        const Entry* entry = Find(name);
        if (!IsKindOf(entry, kind::kCombo) || index < 0 ||
            index >= static_cast<int>(SendMessageW(entry->hwnd, CB_GETCOUNT, 0, 0))) {
            return 0;
        }
        return static_cast<long long>(SendMessageW(entry->hwnd, CB_GETITEMDATA, static_cast<WPARAM>(index), 0));
    });
}

void Win32Window::ComboClear(const Text& name) {
    OnWindowThread([&] {
        if (const Entry* entry = Find(name); IsKindOf(entry, kind::kCombo)) {
            SendMessageW(entry->hwnd, CB_RESETCONTENT, 0, 0);
        }
    });
}

void Win32Window::ComboAddItem(const Text& name, const Text& text, long long data) {
    OnWindowThread([&] {
        const Entry* entry = Find(name);
        if (!IsKindOf(entry, kind::kCombo)) {
            return;
        }
        const std::wstring item = ToWide(text);
        const LRESULT index = SendMessageW(entry->hwnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
        if (index >= 0) {
            SendMessageW(entry->hwnd, CB_SETITEMDATA, static_cast<WPARAM>(index), static_cast<LPARAM>(data));
        }
    });
}

int Win32Window::ListRowCount(const Text& name) const {
    return OnWindowThread([&] {
        const Entry* entry = Find(name);
        return IsKindOf(entry, kind::kList) ? static_cast<int>(SendMessageW(entry->hwnd, LVM_GETITEMCOUNT, 0, 0)) : 0;
    });
}

void Win32Window::ListClear(const Text& name) {
    OnWindowThread([&] {
        if (const Entry* entry = Find(name); IsKindOf(entry, kind::kList)) {
            SendMessageW(entry->hwnd, LVM_DELETEALLITEMS, 0, 0);
            cellColours_.erase(name);
        }
    });
}

int Win32Window::ListAddRow(const Text& name, const Text& firstCell) {
    return OnWindowThread([&] {
        const Entry* entry = Find(name);
        if (!IsKindOf(entry, kind::kList)) {
            return -1;
        }
        std::wstring text = ToWide(firstCell);
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = static_cast<int>(SendMessageW(entry->hwnd, LVM_GETITEMCOUNT, 0, 0));
        item.pszText = text.data();
        return static_cast<int>(SendMessageW(entry->hwnd, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    });
}

Text Win32Window::ListCellText(const Text& name, int row, int column) const {
    return OnWindowThread([&]() -> Text {
        const Entry* entry = Find(name);
        if (!IsKindOf(entry, kind::kList) || row < 0 || column < 0 ||
            row >= static_cast<int>(SendMessageW(entry->hwnd, LVM_GETITEMCOUNT, 0, 0))) {
            return {};
        }
        return FromWide(ListCellOf(entry->hwnd, row, column));
    });
}

void Win32Window::ListSetCellText(const Text& name, int row, int column, const Text& text) {
    OnWindowThread([&] {
        const Entry* entry = Find(name);
        if (!IsKindOf(entry, kind::kList) || row < 0 || column < 0) {
            return;
        }
        std::wstring cell = ToWide(text);
        LVITEMW item{};
        item.iSubItem = column;
        item.pszText = cell.data();
        SendMessageW(entry->hwnd, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    });
}

void Win32Window::MessageBox(const Text& text, const Text& caption, MessageIcon icon) {
    OnWindowThread([&] { ShowMessageBox(text, caption, icon); });
}

void Win32Window::ShellOpen(const Text& target) {
    OnWindowThread([&] {
        if (opener_) {
            opener_(target);
        } else {
            static_cast<void>(OpenOnDesktop(target));
        }
    });
}

}  // namespace qj::wingui
