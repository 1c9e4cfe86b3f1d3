// The colours of the native window: the skin's panel and pane colours under the transparent
// controls, the edit boxes' own colours, and the per-cell colours of the lists.

#include "wingui/win32_window.h"
#include "wingui/win32_window_internal.h"

namespace qj::wingui {

using namespace detail;

namespace {

constexpr COLORREF kWhite = RGB(0xFF, 0xFF, 0xFF);

}  // namespace

void Win32Window::CreateBrushes() {
    panelBrush_ = CreateSolidBrush(ToColorRef(palette_.panel));
    paneBrush_ = CreateSolidBrush(ToColorRef(palette_.pane));
    editBrush_ = CreateSolidBrush(kWhite);
}

void Win32Window::DeleteBrushes() {
    for (HBRUSH brush : {panelBrush_, paneBrush_, editBrush_}) {
        if (brush) {
            DeleteObject(brush);
        }
    }
}

void Win32Window::EraseBackground(HWND hwnd, HDC dc) {
    RECT client{};
    GetClientRect(hwnd, &client);
    const Entry* group = FindByHandle(hwnd);
    const bool onPage = group && group->physicalParent != window_;
    FillRect(dc, &client, onPage ? paneBrush_ : panelBrush_);
}

std::optional<LRESULT> Win32Window::HandleColourMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NOTIFY) {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        const Entry* entry = FindByHandle(header->hwndFrom);
        if (!IsKindOf(entry, kind::kList) || header->code != NM_CUSTOMDRAW) {
            return std::nullopt;
        }
        auto* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(lParam);
        switch (draw->nmcd.dwDrawStage) {
            case CDDS_PREPAINT:
                return CDRF_NOTIFYITEMDRAW;
            case CDDS_ITEMPREPAINT:
                return CDRF_NOTIFYSUBITEMDRAW;
            case CDDS_ITEMPREPAINT | CDDS_SUBITEM: {
                const auto [text, background] =
                    ListCellDrawColours(entry->row.name, static_cast<int>(draw->nmcd.dwItemSpec), draw->iSubItem);
                draw->clrText = ToColorRef(text);
                draw->clrTextBk = ToColorRef(background);
                return CDRF_NEWFONT;
            }
            default:
                return CDRF_DODEFAULT;
        }
    }
    if (message != WM_CTLCOLORSTATIC && message != WM_CTLCOLORBTN && message != WM_CTLCOLOREDIT) {
        return std::nullopt;
    }
    const Entry* entry = FindByHandle(reinterpret_cast<HWND>(lParam));
    if (!entry) {
        return std::nullopt;
    }
    HDC dc = reinterpret_cast<HDC>(wParam);
    if (IsKind(entry->row, kind::kEdit) || IsKind(entry->row, kind::kCombo)) {
        SetTextColor(dc, ToColorRef(entry->row.textColour.value_or(RgbColour(0, 0, 0))));
        SetBkColor(dc, kWhite);
        return reinterpret_cast<LRESULT>(editBrush_);
    }
    // Labels, check and radio boxes and group boxes are transparent: they take the colour of what
    // lies under them, the page body or the window.
    const bool onPage = entry->physicalParent != window_;
    const Colour fallback = IsKind(entry->row, kind::kGroup) ? palette_.groupTitle : palette_.text;
    SetTextColor(dc, ToColorRef(entry->row.textColour.value_or(fallback)));
    SetBkColor(dc, ToColorRef(onPage ? palette_.pane : palette_.panel));
    SetBkMode(dc, TRANSPARENT);
    return reinterpret_cast<LRESULT>(onPage ? paneBrush_ : panelBrush_);
}

std::pair<Colour, Colour> Win32Window::ListCellDrawColours(const Text& name, int row, int column) const {
    const Entry* entry = Find(name);
    Colour text = RgbColour(0, 0, 0);
    Colour background = RgbColour(0xFF, 0xFF, 0xFF);
    if (!entry) {
        return {text, background};
    }
    text = static_cast<Colour>(SendMessageW(entry->hwnd, LVM_GETTEXTCOLOR, 0, 0));
    background = static_cast<Colour>(SendMessageW(entry->hwnd, LVM_GETBKCOLOR, 0, 0));
    if (auto list = cellColours_.find(name); list != cellColours_.end()) {
        if (auto cell = list->second.find({row, column}); cell != list->second.end()) {
            text = cell->second.text.value_or(text);
            background = cell->second.background.value_or(background);
        }
    }
    return {text, background};
}

void Win32Window::ListSetCellColours(const Text& name, int row, int column, std::optional<Colour> text,
                                     std::optional<Colour> background) {
    OnWindowThread([&] {
        const Entry* entry = Find(name);
        if (!IsKindOf(entry, kind::kList) || row < 0 || column < 0) {
            return;
        }
        auto& cells = cellColours_[name];
        if (text || background) {
            cells[{row, column}] = CellColours{text, background};
        } else {
            cells.erase({row, column});
        }
        RECT cell{};
        cell.top = column;
        cell.left = LVIR_BOUNDS;
        if (SendMessageW(entry->hwnd, LVM_GETSUBITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&cell))) {
            InvalidateRect(entry->hwnd, &cell, FALSE);
        }
    });
}

Colour Win32Window::ListTextColour(const Text& name) const {
    return OnWindowThread([&]() -> Colour {
        const Entry* entry = Find(name);
        return IsKindOf(entry, kind::kList) ? static_cast<Colour>(SendMessageW(entry->hwnd, LVM_GETTEXTCOLOR, 0, 0))
                                            : 0;
    });
}

Colour Win32Window::ListBackgroundColour(const Text& name) const {
    return OnWindowThread([&]() -> Colour {
        const Entry* entry = Find(name);
        return IsKindOf(entry, kind::kList) ? static_cast<Colour>(SendMessageW(entry->hwnd, LVM_GETBKCOLOR, 0, 0)) : 0;
    });
}

}  // namespace qj::wingui
