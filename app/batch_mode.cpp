#include "app/batch_mode.h"

#include <cstring>

#include "app/handlers.h"
#include "app/main_window_controls.h"
#include "app/process_state.h"
#include "app/run_log.h"
#include "app/run_settings.h"
#include "platform/console.h"
#include "platform/program_folder.h"
#include "platform/signals.h"
#include "run/job.h"
#include "settings/setting_reader.h"
#include "settings/settings_store.h"
#include "text/code_page.h"
#include "text/text_helpers.h"

namespace qj {

namespace {

constexpr const char* kUsage =
    "usage: qingjian [--batch]\n"
    "\n"
    "  (no option)  open the window\n"
    "  --batch      without a window: restore the settings of 配置.ini, run the keyword list to its\n"
    "               end, print every run-log line\n"
    "  --help       show this text\n"
    "\n"
    "exit codes of --batch:\n"
    "  0    the list was done, no keyword failed\n"
    "  1    the list was done, some keywords failed (see OpenAi/采集失败采集关键词.txt)\n"
    "  2    usage error\n"
    "  3    the run could not start: another program works on the list, the list cannot be read\n"
    "       (not a regular file, larger than 512 MB), or the keywords of an interrupted run could\n"
    "       not be put back (the log says why)\n"
    "  4    the run ended with keywords left: keywords behind an empty or blank line of the list\n"
    "       (or a line where another encoding begins), settings that cannot work, every endpoint\n"
    "       of interface three resting, or a file that cannot be written (the log says why); the\n"
    "       keyword in flight is back in the list\n"
    "  5    配置.ini is missing or cannot be read (the log names the file and the reason); the\n"
    "       run did not start and no keyword was taken\n"
    "  130  interrupted by Ctrl+C or SIGTERM (the keyword in flight goes back into the list)\n"
    "\n"
    "QINGJIAN_HOME selects the program folder (default: the folder of the executable).\n";

void PrintLogText(const Text& text) {
    WriteStandardOutput(AnsiToUtf8(ReplaceAll(text, "\r\n", "\n")));
}

// A run's report on standard output: its lines; the figures come at the end.
class PrintingObserver : public RunObserver {
public:
    void Logged(const Text& line) override { PrintLogText(line); }
    void Progress(const ProgressFigures&, bool) override {}
    void Running(bool) override {}
};

}  // namespace

bool WantsBatchMode(int argc, char** argv) {
    return argc > 1 && argv[1] != nullptr;
}

int RunBatchMode(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        WriteStandardOutput(AnsiToUtf8(kUsage));
        return kBatchAllDone;
    }
    if (argc != 2 || std::strcmp(argv[1], "--batch") != 0) {
        WriteStandardError(AnsiToUtf8(kUsage));
        return kBatchUsageError;
    }

    // Every line goes to standard output: what the settings file calls for, the run's lines, the
    // figures at the end.
    SetRunLogTarget(PrintLogText);
    // The window may open with its defaults; a run may not: it would spend the list on settings
    // nobody chose (no key, the first interface).
    const IniRead settings = ReadIniDocument(ProgramPath(kSettingsFileTail));
    if (!settings) {
        RunLog("错误信息：无法读取配置文件 " + Describe(settings.error()) + "，本次任务没有开始" +
               (settings.error().kind == ErrorKind::kMissing ? "（在窗口中按「保存配置」即可建立它）" : ""));
        SetRunLogTarget({});
        return kBatchNoSettings;
    }
    LogSettingsFileNotes(settings);

    // The settings as the window would show them after restoring the file, without a window.
    const RunSwitches switches;
    const RunInputs inputs = ReadRunInputs(StoredSettings(MainWindowLayout().controls, *settings),
                                           CurrentDeployment(), ProgramFolder(), switches);
    PrintingObserver observer;
    StopSource stop;
    InterruptWatch watch(stop.Flag());
    const JobSummary summary = RunJob(inputs, observer, stop.Token(), {.interrupted = [&watch] { return watch.Interrupted(); }});
    RunLog("本次任务：" + ProgressText(summary.figures));
    const bool interrupted = watch.End();
    SetRunLogTarget({});

    if (interrupted) {
        return kBatchInterrupted;
    }
    switch (summary.end) {
        case RunEnd::kListDone:
            return summary.failed > 0 ? kBatchSomeFailed : kBatchAllDone;
        case RunEnd::kNotStarted:
            return kBatchNotStarted;
        case RunEnd::kEndedEarly:
            return kBatchEndedEarly;
        case RunEnd::kStopped:
            break;
    }
    return kBatchInterrupted;
}

}  // namespace qj
