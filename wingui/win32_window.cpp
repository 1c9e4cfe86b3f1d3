#include "wingui/win32_window.h"

#include <algorithm>
#include <initializer_list>
#include <set>
#include <string_view>
#include <type_traits>

#include "platform/desktop_open.h"
#include "wingui/message_box.h"
#include "wingui/win32_text.h"

namespace qj::wingui {

namespace {

constexpr wchar_t kWindowClass[] = L"QingjianWindow";
constexpr wchar_t kPanelClass[] = L"QingjianPagePanel";
// Posted to the window when a call from another thread waits in the queue.
constexpr UINT kRunQueuedCalls = WM_APP + 1;
// Room below a combo box's edit line for its drop-down list.
constexpr int kComboListHeight = 200;

COLORREF ToColorRef(Colour c) {
    return static_cast<COLORREF>(c);  // both are 0x00BBGGRR
}

bool IsKind(const ControlRow& row, const char* kindName) {
    return std::string_view(row.kind) == kindName;
}

std::wstring WindowTextOf(HWND hwnd) {
    const int length = GetWindowTextLengthW(hwnd);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int copied = GetWindowTextW(hwnd, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(std::max(copied, 0)));
    return text;
}

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

HINSTANCE Instance() {
    return GetModuleHandleW(nullptr);
}

// The window classes of this file (the main window's with `windowProc`), registered once for the
// process. A class that cannot be registered shows when its window cannot be created.
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
    : layout_(layout), events_(std::move(events)), palette_(palette), threadId_(GetCurrentThreadId()) {}

Win32Window::~Win32Window() {
    Close();
    for (auto& [key, font] : fonts_) {
        DeleteObject(font);
    }
    for (HBRUSH brush : {panelBrush_, paneBrush_, editBrush_}) {
        if (brush) {
            DeleteObject(brush);
        }
    }
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
    for (const ControlRow& row : layout_.controls) {
        if (!entries_.emplace(row.name, Entry{row}).second) {
            *error = Text("duplicate control ") + row.name;
            return false;
        }
    }
    // The parents and pages the rows name, before any window exists.
    for (const auto& [name, entry] : entries_) {
        const Text parent = entry.row.parent;
        if (parent.empty()) {
            continue;
        }
        const Entry* container = Find(parent);
        if (!container || !(IsKind(container->row, kind::kTab) || IsKind(container->row, kind::kGroup))) {
            *error = name + ": no container " + parent;
            return false;
        }
        if (IsKind(container->row, kind::kTab) &&
            (entry.row.page < 0 || entry.row.page >= static_cast<int>(container->row.pages.size()))) {
            *error = name + ": no page " + std::to_string(entry.row.page);
            return false;
        }
    }

    RegisterClasses(WindowProc);

    HDC screen = GetDC(nullptr);
    scale_ = GetDeviceCaps(screen, LOGPIXELSX) / 96.0;
    ReleaseDC(nullptr, screen);
    panelBrush_ = CreateSolidBrush(ToColorRef(palette_.panel));
    paneBrush_ = CreateSolidBrush(ToColorRef(palette_.pane));
    editBrush_ = CreateSolidBrush(RGB(0xFF, 0xFF, 0xFF));

    // The client area holds every top-level control; the window is fixed and can only be
    // minimised.
    int width = 0;
    int height = 0;
    for (const ControlRow& row : layout_.controls) {
        if (std::string_view(row.parent).empty()) {
            width = std::max(width, row.left + row.width);
            height = std::max(height, row.top + row.height);
        }
    }
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    RECT frame = Scaled(0, 0, width, height);
    AdjustWindowRectEx(&frame, style, FALSE, 0);
    window_ = CreateWindowExW(0, kWindowClass, ToWide(layout_.title).c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT,
                              frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, Instance(), this);
    if (!window_) {
        *error = "the window could not be created (error " + std::to_string(GetLastError()) + ")";
        return false;
    }

    // Parents before children, whatever the control order.
    std::set<Text> building;
    std::function<bool(const Text&)> build = [&](const Text& name) {
        Entry& entry = entries_.at(name);
        if (entry.hwnd) {
            return true;
        }
        if (!building.insert(name).second) {
            *error = "parent cycle at " + name;
            return false;
        }
        const Text parent = entry.row.parent;
        if (!parent.empty() && !build(parent)) {
            return false;
        }
        return BuildControl(entry, error);
    };
    for (const ControlRow& row : layout_.controls) {
        if (!build(row.name)) {
            Close();
            return false;
        }
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

bool Win32Window::BuildControl(Entry& entry, Text* error) {
    const ControlRow& row = entry.row;
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
        SetWindowSubclass(entry.hwnd, ContainerProc, 1, reinterpret_cast<DWORD_PTR>(this));
    } else if (IsKind(row, kind::kGroup)) {
        // A group box draws its frame only; what it encloses is painted by it, since the page body
        // under it is clipped away wherever the group box lies.
        SetWindowSubclass(entry.hwnd, ContainerProc, 1, reinterpret_cast<DWORD_PTR>(this));
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
    return true;
}

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

const ControlRow* Win32Window::RowOf(const Text& name) const {
    auto it = entries_.find(name);
    return it == entries_.end() ? nullptr : &it->second.row;
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

std::size_t Win32Window::WaitingCalls() const {
    std::lock_guard lock(callMutex_);
    return pendingCalls_.size();
}

void Win32Window::BeginClosing() {
    std::lock_guard lock(callMutex_);
    closing_ = true;
    for (const auto& call : pendingCalls_) {
        std::lock_guard callLock(call->mutex);
        if (!call->started) {
            call->cancelled = true;
            call->done.notify_all();
        }
    }
    queuedCalls_.clear();
}

void Win32Window::Close() {
    BeginClosing();
    if (window_ && GetCurrentThreadId() == threadId_) {
        DestroyWindow(window_);  // WM_NCDESTROY forgets the handles
    }
}

template <class F>
auto Win32Window::OnWindowThread(F&& fn) const -> decltype(fn()) {
    using Result = decltype(fn());
    using Stored = std::conditional_t<std::is_void_v<Result>, bool, Result>;
    if (GetCurrentThreadId() == threadId_) {
        if (!window_) {
            return Result();
        }
        return fn();
    }
    auto call = std::make_shared<PendingCall>();
    auto result = std::make_shared<std::optional<Stored>>();
    call->work = [result, &fn] {
        if constexpr (std::is_void_v<Result>) {
            fn();
            result->emplace(true);
        } else {
            result->emplace(fn());
        }
    };
    {
        std::lock_guard lock(callMutex_);
        if (closing_ || !window_) {
            return Result();
        }
        pendingCalls_.push_back(call);
        queuedCalls_.push_back(call);
        PostMessageW(window_, kRunQueuedCalls, 0, 0);
    }
    {
        std::unique_lock callLock(call->mutex);
        call->done.wait(callLock, [&] { return call->finished || call->cancelled; });
    }
    {
        std::lock_guard lock(callMutex_);
        std::erase(pendingCalls_, call);
    }
    if constexpr (!std::is_void_v<Result>) {
        return result->has_value() ? std::move(**result) : Result();
    }
}

void Win32Window::RunQueuedCalls() {
    // One call at a time: a call that opens a modal loop (a message box) lets the calls behind it
    // run inside that loop, as each posted message takes the next one.
    for (;;) {
        std::shared_ptr<PendingCall> call;
        {
            std::lock_guard lock(callMutex_);
            if (queuedCalls_.empty()) {
                return;
            }
            call = queuedCalls_.front();
            queuedCalls_.pop_front();
        }
        {
            std::lock_guard callLock(call->mutex);
            if (call->cancelled) {
                continue;
            }
            call->started = true;
        }
        if (window_) {
            call->work();
        }
        std::lock_guard callLock(call->mutex);
        call->finished = true;
        call->done.notify_all();
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
        RemoveWindowSubclass(hwnd, ContainerProc, 1);
    } else if (message == WM_ERASEBKGND && self->IsKindOf(self->FindByHandle(hwnd), kind::kGroup)) {
        RECT client{};
        GetClientRect(hwnd, &client);
        const bool onPage = self->FindByHandle(hwnd)->physicalParent != self->window_;
        FillRect(reinterpret_cast<HDC>(wParam), &client, onPage ? self->paneBrush_ : self->panelBrush_);
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
        case WM_ERASEBKGND: {
            RECT client{};
            GetClientRect(hwnd, &client);
            FillRect(reinterpret_cast<HDC>(wParam), &client, panelBrush_);
            return 1;
        }
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
    switch (message) {
        case WM_COMMAND: {
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
                const Text name = entry->row.name;
                if (events_.clicked) {
                    events_.clicked(*this, name);
                }
                return 0;
            }
            if (code == EN_CHANGE && IsSingleLineEdit(entry->row) && !fixingLineBreaks_) {
                // Pasted or typed line breaks never stay in a one-line box.
                const std::wstring text = WindowTextOf(entry->hwnd);
                if (text.find_first_of(L"\r\n") != std::wstring::npos) {
                    DWORD caret = 0;
                    SendMessageW(entry->hwnd, EM_GETSEL, reinterpret_cast<WPARAM>(&caret), 0);
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
                    SetWindowTextW(entry->hwnd, kept.c_str());
                    SendMessageW(entry->hwnd, EM_SETSEL, keptCaret, keptCaret);
                    fixingLineBreaks_ = false;
                }
                return 0;
            }
            return std::nullopt;
        }
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            const Entry* entry = FindByHandle(header->hwndFrom);
            if (!entry) {
                return std::nullopt;
            }
            if (IsKind(entry->row, kind::kTab) && header->code == TCN_SELCHANGE) {
                const int page = static_cast<int>(SendMessageW(entry->hwnd, TCM_GETCURSEL, 0, 0));
                Find(entry->row.name)->tabPage = page;
                UpdatePageVisibility();
                const Text name = entry->row.name;
                if (events_.pageSwitched) {
                    events_.pageSwitched(*this, name, page);
                }
                return 0;
            }
            if (IsKind(entry->row, kind::kList) && header->code == NM_DBLCLK) {
                const Text name = entry->row.name;
                if (events_.doubleClicked) {
                    events_.doubleClicked(*this, name);
                }
                return 0;
            }
            if (IsKind(entry->row, kind::kList) && header->code == NM_CUSTOMDRAW) {
                auto* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(lParam);
                switch (draw->nmcd.dwDrawStage) {
                    case CDDS_PREPAINT:
                        return CDRF_NOTIFYITEMDRAW;
                    case CDDS_ITEMPREPAINT:
                        return CDRF_NOTIFYSUBITEMDRAW;
                    case CDDS_ITEMPREPAINT | CDDS_SUBITEM: {
                        const auto [text, background] = ListCellDrawColours(
                            entry->row.name, static_cast<int>(draw->nmcd.dwItemSpec), draw->iSubItem);
                        draw->clrText = ToColorRef(text);
                        draw->clrTextBk = ToColorRef(background);
                        return CDRF_NEWFONT;
                    }
                    default:
                        return CDRF_DODEFAULT;
                }
            }
            return std::nullopt;
        }
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLOREDIT: {
            const Entry* entry = FindByHandle(reinterpret_cast<HWND>(lParam));
            if (!entry) {
                return std::nullopt;
            }
            HDC dc = reinterpret_cast<HDC>(wParam);
            if (IsKind(entry->row, kind::kEdit) || IsKind(entry->row, kind::kCombo)) {
                SetTextColor(dc, ToColorRef(entry->row.textColour.value_or(RgbColour(0, 0, 0))));
                SetBkColor(dc, RGB(0xFF, 0xFF, 0xFF));
                return reinterpret_cast<LRESULT>(editBrush_);
            }
            // Labels, check and radio boxes and group boxes are transparent: they take the colour
            // of what lies under them, the page body or the window.
            const bool onPage = entry->physicalParent != window_;
            const Colour fallback = IsKind(entry->row, kind::kGroup) ? palette_.groupTitle : palette_.text;
            SetTextColor(dc, ToColorRef(entry->row.textColour.value_or(fallback)));
            SetBkColor(dc, ToColorRef(onPage ? palette_.pane : palette_.panel));
            SetBkMode(dc, TRANSPARENT);
            return reinterpret_cast<LRESULT>(onPage ? paneBrush_ : panelBrush_);
        }
        default:
            return std::nullopt;
    }
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

std::vector<Text> Win32Window::ControlsOfKind(const Text& kindName) const {
    std::vector<Text> names;
    for (const ControlRow& row : layout_.controls) {
        if (kindName == row.kind) {
            names.push_back(row.name);
        }
    }
    return names;
}

bool Win32Window::HasControl(const Text& name) const {
    return entries_.count(name) != 0;
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

void Win32Window::ProcessPendingMessages() {
    if (GetCurrentThreadId() != threadId_) {
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

}  // namespace qj::wingui
