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
#include "run/publish_stage.h"
#include "settings/setting_reader.h"
#include "settings/settings_store.h"
#include "text/code_page.h"
#include "text/text_helpers.h"

namespace qj {

namespace {

constexpr const char* kUsage =
    "usage: qingjian [--batch [--publish]]\n"
    "\n"
    "  (no option)  open the window\n"
    "  --batch      without a window: restore the settings of 配置.ini, run the keyword list to its\n"
    "               end, print every run-log line\n"
    "  --batch --publish\n"
    "               without a window: publish the articles of OpenAi/生成内容 not yet published\n"
    "               to the sites of the page 发布设置 (see OpenAi/发布记录.txt), print every line\n"
    "  --help       show this text\n"
    "\n"
    "exit codes of --batch:\n"
    "  0    the list was done, no keyword failed\n"
    "  1    the list was done, some keywords failed (see OpenAi/采集失败采集关键词.txt)\n"
    "  2    usage error\n"
    "  3    the run could not start: another program works on the list, the list cannot be read\n"
    "       (not a regular file, larger than 512 MB), or the keywords of an interrupted run could\n"
    "       not be put back (the log says why)\n"
    "  4    the run ended with keywords left: the spending cap (编辑框_费用上限) reached, keywords\n"
    "       behind an empty or blank line of the list\n"
    "       (or a line where another encoding begins), settings that cannot work, every endpoint\n"
    "       of interface three resting, or a file that cannot be written (the log says why); the\n"
    "       keyword in flight is back in the list\n"
    "  5    配置.ini is missing or cannot be read (the log names the file and the reason); the\n"
    "       run did not start and no keyword was taken\n"
    "  130  interrupted by Ctrl+C or SIGTERM (the keyword in flight goes back into the list)\n"
    "exit codes of --batch --publish: 0 every article published, 1 some failed (see\n"
    "  OpenAi/发布失败关键词.txt), 3 another program publishes or the files of publishing cannot be read, 4 no site can be used or\n"
    "  a file of publishing cannot be written, 5 as above, 130 interrupted (what is left is\n"
    "  published the next time)\n"
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
    const bool publish = argc == 3 && std::strcmp(argv[1], "--batch") == 0 && std::strcmp(argv[2], "--publish") == 0;
    if (!publish && (argc != 2 || std::strcmp(argv[1], "--batch") != 0)) {
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
    StopSource stop;
    InterruptWatch watch(stop.Flag());
    if (publish) {
        const PublishOutcome outcome = PublishGenerated(inputs.publish, RunLog, stop.Token());
        const bool interrupted = watch.End();
        SetRunLogTarget({});
        if (interrupted) {
            return kBatchInterrupted;
        }
        if (!inputs.publish.reading.error.empty() || outcome.summary.fileError) {
            return kBatchEndedEarly;
        }
        if (!outcome.started) {
            return kBatchNotStarted;
        }
        return outcome.summary.failed > 0 || outcome.summary.left > 0 ? kBatchSomeFailed : kBatchAllDone;
    }
    PrintingObserver observer;
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
