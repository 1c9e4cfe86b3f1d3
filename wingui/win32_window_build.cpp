// Building the native window from its table: the window classes, the fonts, the controls and
// their first state.

#include <initializer_list>

#include "wingui/win32_text.h"
#include "wingui/win32_window.h"
#include "wingui/win32_window_internal.h"

namespace qj::wingui {

using namespace detail;

namespace {

// Room below a combo box's edit line for its drop-down list.
constexpr int kComboListHeight = 200;

// The window classes of the native window (the main window's with `windowProc`), registered once
// for the process. A class that cannot be registered shows when its window cannot be created.
void RegisterClasses(WNDPROC windowProc) {
    static const bool registered = [windowProc] {
        const auto add = [](const wchar_t* name, WNDPROC procedure, HICON icon) {
            WNDCLASSEXW cls{};
            cls.cbSize = sizeof cls;
            cls.lpfnWndProc = procedure;
            cls.hInstance = Instance();
            cls.hCursor = LoadCursorW(nullptr, IDC_ARROW);
            cls.hIcon = icon;
            cls.lpszClassName = name;
            RegisterClassExW(&cls);
        };
        add(kPanelClass, DefWindowProcW, nullptr);
        add(kWindowClass, windowProc, LoadIconW(nullptr, IDI_APPLICATION));
        return true;
    }();
    static_cast<void>(registered);
}

bool FontFamilyInstalled(const wchar_t* family) {
    HDC dc = GetDC(nullptr);
    LOGFONTW wanted{};
    wanted.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(wanted.lfFaceName, family, LF_FACESIZE);
    bool found = false;
    EnumFontFamiliesExW(
        dc, &wanted,
        [](const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) -> int {
            *reinterpret_cast<bool*>(found) = true;
            return 0;
        },
        reinterpret_cast<LPARAM>(&found), 0);
    ReleaseDC(nullptr, dc);
    return found;
}

}  // namespace

std::wstring WindowFontFamily() {
    static const std::wstring family = []() -> std::wstring {
        for (const wchar_t* candidate : {L"宋体", L"SimSun", L"Microsoft YaHei", L"微软雅黑"}) {
            if (FontFamilyInstalled(candidate)) {
                return candidate;
            }
        }
        return {};
    }();
    return family;
}

void BecomeDpiAware() {
    using SetContext = BOOL(WINAPI*)(HANDLE);
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    // Looked up by name: systems before Windows 10 1703 lack it, and the program still starts there.
    const auto setContext =
        reinterpret_cast<SetContext>(reinterpret_cast<void*>(GetProcAddress(user32, "SetProcessDpiAwarenessContext")));
    // System-aware: the window is laid out once, at the system's DPI (Scale()); a per-monitor
    // awareness would owe a new layout on every move to a screen of another DPI.
    if (setContext && setContext(DPI_AWARENESS_CONTEXT_SYSTEM_AWARE)) {
        return;
    }
    SetProcessDPIAware();
}

std::unique_ptr<Win32Window> Win32Window::Create(const WindowLayout& layout, WindowEvents events,
                                                 const SkinPalette& palette, Text* error) {
    std::unique_ptr<Win32Window> window(new Win32Window(layout, std::move(events), palette));
    Text reason;
    if (!window->Build(&reason)) {
        if (error) {
            *error = reason;
        }
        return nullptr;
    }
    return window;
}

Win32Window::Win32Window(const WindowLayout& layout, WindowEvents events, const SkinPalette& palette)
    : ToolkitWindow(layout, std::move(events)), palette_(palette) {}

Win32Window::~Win32Window() {
    Close();
    for (auto& [key, font] : fonts_) {
        DeleteObject(font);
    }
    DeleteBrushes();
}

RECT Win32Window::Scaled(int left, int top, int width, int height) const {
    auto s = [this](int v) { return static_cast<LONG>(v * scale_ + (v >= 0 ? 0.5 : -0.5)); };
    return RECT{s(left), s(top), s(left + width), s(top + height)};
}

HFONT Win32Window::FontFor(const ControlRow& row) {
    const int pixels = row.fontPixels > 0 ? row.fontPixels : 12;
    const std::pair<int, bool> key{pixels, row.bold};
    if (auto it = fonts_.find(key); it != fonts_.end()) {
        return it->second;
    }
    LOGFONTW font{};
    const std::wstring family = WindowFontFamily();
    if (family.empty()) {
        GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font);
    } else {
        lstrcpynW(font.lfFaceName, family.c_str(), LF_FACESIZE);
        font.lfCharSet = GB2312_CHARSET;
    }
    font.lfHeight = -static_cast<LONG>(pixels * scale_ + 0.5);
    font.lfWidth = 0;
    font.lfWeight = row.bold ? FW_BOLD : FW_NORMAL;
    font.lfQuality = CLEARTYPE_QUALITY;
    HFONT handle = CreateFontIndirectW(&font);
    fonts_[key] = handle;
    return handle;
}

bool Win32Window::Build(Text* error) {
    if (Text problem = TableProblem(Layout().controls); !problem.empty()) {
        // Refused before any window exists.
        *error = problem;
        return false;
    }
    RegisterClasses(WindowProc);

    HDC screen = GetDC(nullptr);
    scale_ = GetDeviceCaps(screen, LOGPIXELSX) / 96.0;
    ReleaseDC(nullptr, screen);
    CreateBrushes();

    // The client area holds every top-level control; the window is fixed and can only be
    // minimised.
    const ClientSize client = ClientSizeOf(Layout());
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    RECT frame = Scaled(0, 0, client.width, client.height);
    AdjustWindowRectEx(&frame, style, FALSE, 0);
    window_ = CreateWindowExW(0, kWindowClass, ToWide(Layout().title).c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT,
                              frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, Instance(), this);
    if (!window_) {
        *error = "the window could not be created (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    if (!BuildControls(error)) {
        Close();
        return false;
    }
    // Group boxes lie under the controls they frame, and every page's panel under all of them.
    for (auto& [name, entry] : entries_) {
        if (IsKind(entry.row, kind::kGroup)) {
            SetWindowPos(entry.hwnd, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        }
    }
    for (HWND panel : pagePanels_) {
        SetWindowPos(panel, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    UpdatePageVisibility();
    return true;
}

bool Win32Window::BuildControl(const ControlRow& row, Text* error) {
    Entry& entry = entries_.insert_or_assign(row.name, Entry{row}).first->second;
    // Controls of a tab page are children of the tab control, placed relative to it as a whole;
    // controls of a group box are siblings of the group box, offset by its place. Their
    // notifications reach the window through the container's subclass.
    HWND parent = window_;
    int left = row.left;
    int top = row.top;
    if (const Text container = row.parent; !container.empty()) {
        const Entry& outer = entries_.at(container);
        if (IsKind(outer.row, kind::kTab)) {
            parent = outer.hwnd;
        } else {
            parent = outer.physicalParent;
            left += outer.physicalLeft;
            top += outer.physicalTop;
        }
    }
    entry.physicalLeft = left;
    entry.physicalTop = top;
    entry.physicalParent = parent;

    const std::wstring caption = ToWide(CaptionOf(row));
    DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
    DWORD exStyle = 0;
    const wchar_t* cls = nullptr;
    std::wstring text = caption;
    int height = row.height;

    if (IsKind(row, kind::kEdit)) {
        cls = L"EDIT";
        exStyle = WS_EX_CLIENTEDGE;
        style |= WS_TABSTOP;
        if (row.multiLine) {
            style |= ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL | WS_VSCROLL;
            text = ToWide(WithCrLfBreaks(CaptionOf(row)));
        } else {
            style |= ES_AUTOHSCROLL;
            text = ToWide(WithoutLineBreaks(CaptionOf(row)));
        }
    } else if (IsKind(row, kind::kButton)) {
        cls = L"BUTTON";
        style |= BS_PUSHBUTTON | WS_TABSTOP;
    } else if (IsKind(row, kind::kCheck)) {
        cls = L"BUTTON";
        style |= BS_AUTOCHECKBOX | WS_TABSTOP;
    } else if (IsKind(row, kind::kRadio)) {
        // Checked by hand: a group is the radio boxes of one parent and page, whatever the order
        // of the windows.
        cls = L"BUTTON";
        style |= BS_RADIOBUTTON | WS_TABSTOP;
    } else if (IsKind(row, kind::kCombo)) {
        cls = WC_COMBOBOXW;
        style |= CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP;
        height += kComboListHeight;
    } else if (IsKind(row, kind::kLabel)) {
        cls = L"STATIC";
        style |= SS_NOPREFIX | (row.multiLine ? SS_LEFT : SS_LEFTNOWORDWRAP | SS_CENTERIMAGE);
    } else if (IsKind(row, kind::kGroup)) {
        cls = L"BUTTON";
        style |= BS_GROUPBOX;
    } else if (IsKind(row, kind::kTab)) {
        cls = WC_TABCONTROLW;
        style |= WS_CLIPCHILDREN | WS_TABSTOP;
        text.clear();
    } else if (IsKind(row, kind::kProgress)) {
        cls = PROGRESS_CLASSW;
        text.clear();
    } else if (IsKind(row, kind::kList)) {
        cls = WC_LISTVIEWW;
        exStyle = WS_EX_CLIENTEDGE;
        style |= LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | WS_TABSTOP;
        text.clear();
    } else {
        *error = Text(row.name) + ": unknown kind " + row.kind;
        return false;
    }

    const RECT place = Scaled(left, top, row.width, height);
    entry.hwnd = CreateWindowExW(exStyle, cls, text.c_str(), style, place.left, place.top, place.right - place.left,
                                 place.bottom - place.top, parent, nullptr, Instance(), nullptr);
    if (!entry.hwnd) {
        *error = Text(row.name) + ": not created (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    names_[entry.hwnd] = row.name;
    SendMessageW(entry.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(row)), FALSE);
    SetUpControl(entry, place);
    return true;
}

void Win32Window::SetUpControl(Entry& entry, const RECT& place) {
    const ControlRow& row = entry.row;
    if (IsKind(row, kind::kEdit)) {
        // The default limit (32767 characters) would cut the run log short.
        SendMessageW(entry.hwnd, EM_SETLIMITTEXT, 0, 0);
    } else if (IsKind(row, kind::kCheck) || IsKind(row, kind::kRadio)) {
        SendMessageW(entry.hwnd, BM_SETCHECK, row.checked ? BST_CHECKED : BST_UNCHECKED, 0);
    } else if (IsKind(row, kind::kTab)) {
        int index = 0;
        for (const char* page : row.pages) {
            std::wstring pageCaption = ToWide(page);
            TCITEMW item{};
            item.mask = TCIF_TEXT;
            item.pszText = pageCaption.data();
            SendMessageW(entry.hwnd, TCM_INSERTITEMW, index++, reinterpret_cast<LPARAM>(&item));
        }
        entry.tabPage = row.shownPage >= 0 && row.shownPage < static_cast<int>(row.pages.size()) ? row.shownPage : 0;
        SendMessageW(entry.hwnd, TCM_SETCURSEL, entry.tabPage, 0);
        // The body of the pages, in the skin's pane colour: the tab control paints its own body
        // in the system's colour, which labels on it would not match.
        RECT body{0, 0, place.right - place.left, place.bottom - place.top};
        SendMessageW(entry.hwnd, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&body));
        HWND panel =
            CreateWindowExW(0, kPanelClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, body.left, body.top,
                            body.right - body.left, body.bottom - body.top, entry.hwnd, nullptr, Instance(), nullptr);
        if (panel) {
            SetClassLongPtrW(panel, GCLP_HBRBACKGROUND, reinterpret_cast<LONG_PTR>(paneBrush_));
            pagePanels_.push_back(panel);
        }
        SetWindowSubclass(entry.hwnd, ContainerProc, kContainerSubclass, reinterpret_cast<DWORD_PTR>(this));
    } else if (IsKind(row, kind::kGroup)) {
        // A group box draws its frame only; what it encloses is painted by it, since the page body
        // under it is clipped away wherever the group box lies.
        SetWindowSubclass(entry.hwnd, ContainerProc, kContainerSubclass, reinterpret_cast<DWORD_PTR>(this));
    } else if (IsKind(row, kind::kProgress)) {
        SendMessageW(entry.hwnd, PBM_SETRANGE32, 0, 100);
        SendMessageW(entry.hwnd, PBM_SETPOS, 0, 0);
    } else if (IsKind(row, kind::kList)) {
        SendMessageW(entry.hwnd, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER,
                     LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
        SendMessageW(entry.hwnd, LVM_SETTEXTCOLOR, 0, RGB(0, 0, 0));
        SendMessageW(entry.hwnd, LVM_SETBKCOLOR, 0, RGB(0xFF, 0xFF, 0xFF));
        SendMessageW(entry.hwnd, LVM_SETTEXTBKCOLOR, 0, RGB(0xFF, 0xFF, 0xFF));
        int index = 0;
        for (const ListColumn& column : row.columns) {
            std::wstring header = ToWide(column.header);
            LVCOLUMNW lv{};
            lv.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
            lv.fmt = column.alignment == Alignment::kCentre  ? LVCFMT_CENTER
                     : column.alignment == Alignment::kRight ? LVCFMT_RIGHT
                                                             : LVCFMT_LEFT;
            lv.cx = static_cast<int>(column.width * scale_ + 0.5);
            lv.pszText = header.data();
            SendMessageW(entry.hwnd, LVM_INSERTCOLUMNW, index++, reinterpret_cast<LPARAM>(&lv));
        }
    }
}

}  // namespace qj::wingui
