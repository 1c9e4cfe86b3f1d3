// The program on Windows: the main window of native controls, or with --batch the window-less run
// on the console it was started from.

#include "app/batch_mode.h"
#include "app/startup.h"
#include "wingui/win32_main.h"

int main(int argc, char** argv) {
    qj::PrepareProcess();
    if (qj::WantsBatchMode(argc, argv)) {
        return qj::RunBatchMode(argc, argv);
    }
    // A double-click gives a console program a console of its own; the window needs none.
    qj::wingui::ReleaseOwnConsole();
    return qj::wingui::RunWindowedProgram();
}
