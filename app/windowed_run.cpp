#include "app/windowed_run.h"

#include <chrono>
#include <thread>

#include "app/handlers.h"
#include "app/main_window_job.h"
#include "app/process_state.h"
#include "app/startup.h"

namespace qj {

namespace {

// How long the end of the program waits for a stopped run to put its keywords back: its requests
// are aborted at once, so it ends well within this.
constexpr std::chrono::seconds kRunEndWait{3};

}  // namespace

int RunMainWindowUntilClosed(std::unique_ptr<ToolkitWindow> window, const MessageShower& showMessage) {
    if (!window) {
        showMessage(StartUpFailureText(), kStartUpErrorCaption, MessageIcon::kError);
        return kWindowFailedExitCode;
    }
    SetMainWindow(window.get());
    OnMainWindowCreated(*window);
    window->ShowCentred();
    const int code = window->RunEventLoop();
    SetMainWindow(nullptr);
    window->Close();
    // A run still going: stop it (the window no longer answers it).
    RequestRunStop();
    const auto end = std::chrono::steady_clock::now() + kRunEndWait;
    while (GenerationJobRunning() && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // Worker threads may still hold the window and call it until the process ends.
    static_cast<void>(window.release());
    return code;
}

}  // namespace qj
