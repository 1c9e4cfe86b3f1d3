#include "generation/generation_job.h"

#include <thread>

#include "app/deployment.h"
#include "app/program_folder.h"
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
    if (FileError e = AppendFailedKeyword(queue.paths().failureList, keyword); !e.empty()) {
        RunLog("错误信息：" + e);
        queue.Return(keyword);
        ++summary.returned;
        return;
    }
    queue.Finish(keyword);
    ++summary.failed;
}

// The whole work for one keyword. Returns false when the run must end (stopped).
bool GenerateForKeyword(WindowModel& window, KeywordQueue& queue, const Generator& generate, const Text& keyword,
                        JobSummary& summary) {
    RunLog("开始生成关键词【" + keyword + "】相关内容");
    RunLog("Chat GPT 思考中，请耐心等待.....");
    const Text key = window.GetText(job_controls::kApiKey, kPropContent);
    const GenerationOutcome outcome = generate(keyword, key, &StopRequested());

    if (outcome.cancelled) {
        queue.Return(keyword);
        ++summary.returned;
        RunLog("关键词【" + keyword + "】已放回待采集关键词列表");
        return false;
    }
    if (!outcome.ok) {
        RecordFailure(queue, keyword, outcome.errorDetail, summary);
        return true;
    }
    if (window.GetNumber(job_controls::kPreview, kPropChecked)) {
        RunLog(outcome.text);
    }
    if (outcome.text.empty()) {
        // A success without text would otherwise vanish without a trace.
        RecordFailure(queue, keyword, outcome.errorDetail, summary);
        return true;
    }
    Text text = outcome.text;
    if (window.GetNumber(job_controls::kSaveAsHtml, kPropChecked)) {
        text = ToParagraphHtml(text);
    }
    if (FileError e = SaveGeneratedText(queue.paths().outputFolder, keyword, text); !e.empty()) {
        RecordFailure(queue, keyword, e, summary);
        return true;
    }
    queue.Finish(keyword);
    ++summary.succeeded;
    RunLog("关键词【" + keyword + "】内容生成成功，已保存到本地目录中！");
    return true;
}

}  // namespace

std::atomic<bool>& StopRequested() {
    static std::atomic<bool> flag{false};
    return flag;
}

Generator CompletionGenerator(CompletionProfile profile) {
    return [profile = std::move(profile)](const Text& keyword, const Text& key, const std::atomic<bool>* cancel) {
        const CompletionReply reply = RequestCompletion(profile, keyword, key, cancel);
        GenerationOutcome outcome;
        outcome.cancelled = reply.cancelled;
        const ExtractedText extracted = ExtractCompletionText(profile, reply.text);
        outcome.ok = extracted.ok;
        outcome.text = extracted.text;
        outcome.errorDetail = reply.text;
        return outcome;
    };
}

Generator ChosenGenerator(WindowModel& window) {
    const Deployment& d = CurrentDeployment();
    if (window.GetNumber(job_controls::kInterfaceOne, kPropChecked)) {
        return CompletionGenerator(InterfaceOneProfile(d.openAi, d.relayOne));
    }
    return CompletionGenerator(InterfaceTwoProfile(d.openAi, d.relayTwo));
}

JobSummary RunGenerationJob(WindowModel& window, KeywordQueue& queue,
                            const std::function<Generator(WindowModel&)>& chooseGenerator,
                            const std::function<void()>& onRunEnding) {
    JobSummary summary;
    StopRequested().store(false);
    window.SetNumber(job_controls::kStart, kPropDisabled, 1);
    const Generator generate = chooseGenerator(window);

    FileError recoverError;
    queue.Recover(&recoverError);
    if (!recoverError.empty()) {
        RunLog("错误信息：" + recoverError);
    }
    while (!StopRequested().load()) {
        const KeywordQueue::Taken taken = queue.TakeNextKeyword();
        if (taken.kind == KeywordQueue::Taken::Kind::kError) {
            RunLog("错误信息：" + taken.error);
            break;
        }
        if (taken.kind == KeywordQueue::Taken::Kind::kEnd) {
            break;
        }
        if (!GenerateForKeyword(window, queue, generate, taken.keyword, summary)) {
            break;
        }
    }
    if (onRunEnding) {
        onRunEnding();
    }
    window.SetNumber(job_controls::kStart, kPropDisabled, 0);
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
        window->SetNumber(job_controls::kStart, kPropDisabled, 1);
    }
    // The guard is released before 开始 is enabled again, so a click on the enabled button always
    // starts a run.
    std::thread([] { GenerationJob([] { g_runExists.store(false); }); }).detach();
    return true;
}

bool GenerationJobRunning() { return g_runExists.load(); }

}  // namespace qj
