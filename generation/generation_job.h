#pragma once

#include <atomic>
#include <functional>

#include "app/window_model.h"
#include "generation/completion.h"
#include "generation/keyword_queue.h"

namespace qj {

// Names of the controls the job reads and writes.
namespace job_controls {
inline constexpr const char* kInterfaceOne = "\xB5\xA5\xD1\xA1\xBF\xF2_\xBD\xD3\xBF\xDA\xD2\xBB";  // 单选框_接口一
inline constexpr const char* kApiKey = "\xB1\xE0\xBC\xAD\xBF\xF2_OpenAi_API\xC3\xD8\xD4\xBF";     // 编辑框_OpenAi_API秘钥
inline constexpr const char* kPreview =
    "\xD1\xA1\xD4\xF1\xBF\xF2_\xD4\xA4\xC0\xC0\xC9\xFA\xB3\xC9\xC4\xDA\xC8\xDD";  // 选择框_预览生成内容
inline constexpr const char* kSaveAsHtml =
    "\xD1\xA1\xD4\xF1\xBF\xF2_\xD2\xD4HTML\xD4\xB4\xC2\xEB\xD0\xCE\xCA\xBD\xB1\xA3\xB4\xE6";  // 选择框_以HTML源码形式保存
inline constexpr const char* kStart = "\xB0\xB4\xC5\xA5_\xBF\xAA\xCA\xBC";  // 按钮_开始
}  // namespace job_controls

// The process-wide stop flag: set by the Stop button, cleared when a run starts.
std::atomic<bool>& StopRequested();

// What one interface made of one keyword.
struct GenerationOutcome {
    bool ok = false;         // the reply is a success
    Text text;               // the generated text, trimmed
    Text errorDetail;        // logged after "错误信息：" on failure; empty: no such line
    bool cancelled = false;  // the exchange was aborted by the stop flag
};

// Turns a keyword into an outcome; `cancel` aborts the exchange when it becomes true.
using Generator = std::function<GenerationOutcome(const Text& keyword, const Text& key, const std::atomic<bool>* cancel)>;

// The generator of a completion interface (one or two).
Generator CompletionGenerator(CompletionProfile profile);

struct JobSummary {
    int succeeded = 0;
    int failed = 0;
    int returned = 0;  // keywords put back into the list by a stop
};

// One complete run over the keyword list: the window's controls are read at the moments the job
// needs them, every step is logged, and every keyword taken ends in its output file, in the failure
// list, or back in the keyword list. `chooseGenerator` is asked once, at the start, with the window;
// `onRunEnding` runs just before 开始 is enabled again.
JobSummary RunGenerationJob(WindowModel& window, KeywordQueue& queue,
                            const std::function<Generator(WindowModel&)>& chooseGenerator,
                            const std::function<void()>& onRunEnding = {});

// The generator the window's interface choice asks for, with the deployment's hosts.
Generator ChosenGenerator(WindowModel& window);

// A run on the main window over the program folder's keyword list.
JobSummary GenerationJob(const std::function<void()>& onRunEnding = {});

// The click on 开始: starts GenerationJob on a worker thread unless a run exists already (the
// guard is taken on the calling thread before the worker starts). Returns false when a run exists.
bool StartGenerationJob();

// True while a run exists.
bool GenerationJobRunning();

}  // namespace qj
