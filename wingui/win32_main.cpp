#include "wingui/win32_main.h"

#include <chrono>
#include <thread>

#include "app/handlers.h"
#include "app/main_window_controls.h"
#include "app/main_window_job.h"
#include "app/process_state.h"
#include "app/startup.h"
#include "skin/builtin_skin.h"
#include "text/text_helpers.h"
#include "wingui/message_box.h"
#include "wingui/win32_window.h"

namespace qj::wingui {

int RunMainWindow(const WindowLayout& layout, const SkinPalette& palette) {
    std::unique_ptr<Win32Window> window = Win32Window::Create(layout, MainWindowEvents(), palette);
    if (!window) {
        ShowMessageBox(StartUpFailureText(), kStartUpErrorCaption, MessageIcon::kError);
        return kWindowFailedExitCode;
    }
    window->QuitOnDestroy(true);
    SetMainWindow(window.get());
    // Long text collections on the window thread let the window answer meanwhile.
    SetPendingMessagesHook([w = window.get()] { w->ProcessPendingMessages(); });
    OnMainWindowCreated(*window);
    window->ShowCentred();
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
        if (!window->IsOpen() || !IsDialogMessageW(window->TopLevel(), &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    SetPendingMessagesHook({});
    SetMainWindow(nullptr);
    window->Close();
    // A run still going: stop it, so that its keywords in flight go back into the list before the
    // process ends (its requests are aborted at once; the window no longer answers it).
    StopRequested = true;
    for (int i = 0; i < 300 && GenerationJobRunning(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // Worker threads may still hold the window and call it until the process ends; it stays valid
    // for them (every call now returns at once).
    static_cast<void>(window.release());
    return code;
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
