#include "wingui/win32_main.h"

#include "app/handlers.h"
#include "app/main_window_controls.h"
#include "app/windowed_run.h"
#include "skin/builtin_skin.h"
#include "wingui/message_box.h"
#include "wingui/win32_window.h"

namespace qj::wingui {

int RunMainWindow(const WindowLayout& layout, const SkinPalette& palette) {
    return RunMainWindowUntilClosed(Win32Window::Create(layout, MainWindowEvents(), palette), ShowMessageBox);
}

int RunWindowedProgram() {
    BecomeDpiAware();
    INITCOMMONCONTROLSEX controls{sizeof controls,
                                  ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    return RunMainWindow(MainWindowLayout(), PaletteOfSkin(BuiltInSkin()));
}

void ReleaseOwnConsole() {
    DWORD processes[2];
    if (GetConsoleProcessList(processes, 2) == 1) {
        FreeConsole();
    }
}

}  // namespace qj::wingui
