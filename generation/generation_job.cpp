#include "generation/generation_job.h"

#include <thread>

#include "app/control_names.h"
#include "app/deployment.h"
#include "app/program_folder.h"
#include "generation/interface_three.h"
#include "generation/output_files.h"
#include "text/run_log.h"

namespace qj {

namespace {

std::atomic<bool> g_runExists{false};

void LogFailure(const Text& keyword, const Text& detail) {
    RunLog("关键词【" + keyword + "】内容生成失败！");
    if (!detail.empty()) {
        RunLog("错误信息：" + detail);
    }
}

// Records a failed keyword; when even that fails, the keyword goes back into the list instead.
void RecordFailure(KeywordQueue& queue, const Text& keyword, const Text& detail, JobSummary& summary) {
    LogFailure(keyword, detail);
    if (std::optional<FileError> e = AppendFailedKeyword(queue.paths().failureList, keyword)) {
        RunLog("错误信息：" + Describe(*e));
        queue.Return(keyword);
        ++summary.returned;
        return;
    }
    queue.Finish(keyword);
    ++summary.failed;
}

Text TokenCounts(const TokenUsage& usage) {
    return "输入" + std::to_string(usage.promptTokens) + "，输出" + std::to_string(usage.completionTokens) + "，合计" +
           std::to_string(usage.totalTokens);
}

// Records what became of a keyword. Returns false when the run must end (stopped, or settings that
// cannot work).
bool SettleKeyword(WindowModel& window, KeywordQueue& queue, const Text& keyword, const GenerationOutcome& outcome,
                   JobSummary& summary) {
    if (outcome.unusableSettings) {
        RunLog("错误信息：" + outcome.errorDetail);
    }
    if (outcome.cancelled || outcome.unusableSettings) {
        queue.Return(keyword);
        ++summary.returned;
        RunLog("关键词【" + keyword + "】已放回待采集关键词列表");
        return false;
    }
    if (!outcome.ok) {
        RecordFailure(queue, keyword, outcome.errorDetail, summary);
        return true;
    }
    if (window.GetNumber(control::kCheckPreview, kPropChecked)) {
        RunLog(outcome.text);
    }
    if (outcome.text.empty()) {
        // A success without text would otherwise vanish without a trace.
        RecordFailure(queue, keyword, outcome.errorDetail, summary);
        return true;
    }
    Text text = outcome.text;
    if (window.GetNumber(control::kCheckSaveAsHtml, kPropChecked)) {
        text = ToParagraphHtml(text);
    }
    if (std::optional<FileError> e = SaveGeneratedText(queue.paths().outputFolder, keyword, text)) {
        RecordFailure(queue, keyword, Describe(*e), summary);
        return true;
    }
    queue.Finish(keyword);
    ++summary.succeeded;
    RunLog("关键词【" + keyword + "】内容生成成功，已保存到本地目录中！");
    return true;
}

// The whole work for one keyword. Returns false when the run must end.
bool GenerateForKeyword(WindowModel& window, KeywordQueue& queue, const Generator& generate, const Text& keyword,
                        JobSummary& summary) {
    RunLog("开始生成关键词【" + keyword + "】相关内容");
    RunLog("Chat GPT 思考中，请耐心等待.....");
    const Text key = window.GetText(control::kEditOpenAiKey, kPropContent);
    const GenerationOutcome outcome = generate(keyword, key, &StopRequested);
    const bool goOn = SettleKeyword(window, queue, keyword, outcome, summary);
    if (outcome.usage) {
        RunLog("关键词【" + keyword + "】消耗Token：" + TokenCounts(*outcome.usage));
        summary.tokens += *outcome.usage;
        ++summary.keywordsWithTokens;
    }
    return goOn;
}

}  // namespace

Generator CompletionGenerator(CompletionProfile profile) {
    return [profile = std::move(profile)](const Text& keyword, const Text& key, const std::atomic<bool>* cancel) {
        const CompletionReply reply = RequestCompletion(profile, keyword, key, cancel);
        GenerationOutcome outcome;
        outcome.cancelled = reply.cancelled;
        const ExtractedText extracted = ExtractCompletionText(profile, reply.text);
        outcome.ok = extracted.ok;
        outcome.text = extracted.text;
        outcome.errorDetail = reply.text;
        outcome.status = reply.status;
        outcome.transient = IsTransientStatus(reply.status);
        return outcome;
    };
}

Generator ChosenGenerator(WindowModel& window) {
    const Deployment& d = CurrentDeployment();
    if (window.GetNumber(control::kRadioInterfaceThree, kPropChecked)) {
        return InterfaceThreeGenerator(ReadInterfaceThreeSettings(window), DefaultChatBaseUrl());
    }
    if (window.GetNumber(control::kRadioInterfaceOne, kPropChecked)) {
        return CompletionGenerator(InterfaceOneProfile(d.openAi, d.relayOne));
    }
    return CompletionGenerator(InterfaceTwoProfile(d.openAi, d.relayTwo));
}

JobSummary RunGenerationJob(WindowModel& window, KeywordQueue& queue,
                            const std::function<Generator(WindowModel&)>& chooseGenerator,
                            const std::function<void()>& onRunEnding) {
    JobSummary summary;
    StopRequested.store(false);
    window.SetNumber(control::kButtonStart, kPropDisabled, 1);
    const Generator generate = chooseGenerator(window);

    const bool listLocked = queue.TryLockRun();
    if (!listLocked) {
        RunLog("错误信息：另一个青笺程序正在处理关键词列表 " + queue.paths().keywordList);
    } else {
        std::optional<FileError> recoverError;
        queue.Recover(&recoverError);
        if (recoverError) {
            RunLog("错误信息：" + Describe(*recoverError));
        }
    }
    while (listLocked && !StopRequested.load()) {
        const KeywordQueue::Taken taken = queue.TakeNextKeyword();
        if (taken.kind == KeywordQueue::Taken::Kind::kError) {
            RunLog("错误信息：" + Describe(*taken.error));
            break;
        }
        if (taken.kind == KeywordQueue::Taken::Kind::kEnd) {
            break;
        }
        if (!GenerateForKeyword(window, queue, generate, taken.keyword, summary)) {
            break;
        }
    }
    if (summary.keywordsWithTokens > 0) {
        RunLog("本次任务共消耗Token：" + TokenCounts(summary.tokens) + "（" +
               std::to_string(summary.keywordsWithTokens) + "个关键词）");
    }
    queue.UnlockRun();
    if (onRunEnding) {
        onRunEnding();
    }
    window.SetNumber(control::kButtonStart, kPropDisabled, 0);
    RunLog("任务完成！");
    return summary;
}

JobSummary GenerationJob(const std::function<void()>& onRunEnding) {
    WindowModel* window = MainWindow();
    if (!window) {
        if (onRunEnding) {
            onRunEnding();
        }
        return {};
    }
    KeywordQueue queue(JobPathsIn(ProgramFolder()));
    return RunGenerationJob(*window, queue, ChosenGenerator, onRunEnding);
}

bool StartGenerationJob() {
    if (g_runExists.exchange(true)) {
        return false;
    }
    if (WindowModel* window = MainWindow()) {
        window->SetNumber(control::kButtonStart, kPropDisabled, 1);
    }
    // The guard is released before 开始 is enabled again, so a click on the enabled button always
    // starts a run.
    std::thread([] { GenerationJob([] { g_runExists.store(false); }); }).detach();
    return true;
}

bool GenerationJobRunning() { return g_runExists.load(); }

int RecoverInterruptedKeywords(const Text& programFolder) {
    KeywordQueue queue(JobPathsIn(programFolder));
    return queue.TryLockRun() ? queue.Recover() : 0;
}

}  // namespace qj
