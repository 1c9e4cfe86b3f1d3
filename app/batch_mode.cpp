#include "app/batch_mode.h"

#include <csignal>
#include <cstdio>
#include <cstring>

#include "app/handlers.h"
#include "app/main_window_controls.h"
#include "app/memory_window.h"
#include "app/stop_flag.h"
#include "generation/generation_job.h"
#include "text/code_page.h"
#include "text/run_log.h"
#include "text/text_helpers.h"

namespace qj {

namespace {

constexpr const char* kUsage =
    "usage: qingjian [--batch]\n"
    "\n"
    "  (no option)  open the window\n"
    "  --batch      without a window: restore the settings of 配置.ini, run the keyword list to its\n"
    "               end, print every run-log line; exit 0 when no keyword failed, 1 when one did,\n"
    "               130 when interrupted (the keyword in flight goes back into the list)\n"
    "  --help       show this text\n"
    "\n"
    "QINGJIAN_HOME selects the program folder (default: the folder of the executable).\n";

volatile std::sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) {
    g_interrupted = 1;
    StopRequested.store(true);
}

void PrintLogText(const Text& text) {
    const std::string utf8 = AnsiToUtf8(ReplaceAll(text, "\r\n", "\n"));
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
    std::fflush(stdout);
}

}  // namespace

bool WantsBatchMode(int argc, char** argv) {
    return argc > 1 && argv[1] != nullptr;
}

int RunBatchMode(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(AnsiToUtf8(kUsage).c_str(), stdout);
        return kBatchAllDone;
    }
    if (argc != 2 || std::strcmp(argv[1], "--batch") != 0) {
        std::fputs(AnsiToUtf8(kUsage).c_str(), stderr);
        return kBatchUsageError;
    }

    MemoryWindow window(MainWindowLayout().controls);
    SetMainWindow(&window);
    OnMainWindowCreated(window);
    window.SetAppendObserver([](const Text& name, const Text& text) {
        if (name == kRunLogControl) {
            PrintLogText(text);
        }
    });

    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    const JobSummary summary = GenerationJob();
    RunLog("本次任务：" + ProgressText(summary.figures));
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    SetMainWindow(nullptr);

    if (g_interrupted) {
        return kBatchInterrupted;
    }
    return summary.failed > 0 ? kBatchSomeFailed : kBatchAllDone;
}

}  // namespace qj
