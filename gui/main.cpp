#include <cstdio>
#include <cstdlib>

#include "app/batch_mode.h"
#include "app/startup.h"
#include "text/code_page.h"

#ifdef QJ_HAS_GUI
#include "gui/gui_main.h"

namespace {

bool HasDisplay() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (platform && *platform) || (display && *display) || (wayland && *wayland);
}

}  // namespace
#endif

int main(int argc, char** argv) {
    qj::PrepareProcess();
    if (qj::WantsBatchMode(argc, argv)) {
        return qj::RunBatchMode(argc, argv);
    }
#ifdef QJ_HAS_GUI
    if (HasDisplay()) {
        return qj::gui::RunWindowedProgram(argc, argv);
    }
    std::fprintf(stderr, "%s(no display: DISPLAY is not set)\n", qj::AnsiToUtf8(qj::StartUpFailureText()).c_str());
    return qj::kWindowFailedExitCode;
#else
    std::fprintf(stderr, "qingjian 1.0: this build has no window (configured with QJ_GUI=OFF); use --batch.\n");
    return 1;
#endif
}
