#include "app/run_log.h"

#include <memory>
#include <mutex>

#include "app/control_names.h"

namespace qj {

namespace {

using Target = std::function<void(const Text& line)>;

std::mutex g_targetMutex;
std::shared_ptr<const Target> g_target;

}  // namespace

void RunLog(const Text& message) {
    std::shared_ptr<const Target> target;
    {
        std::lock_guard lock(g_targetMutex);
        target = g_target;
    }
    if (target && *target) {
        (*target)(RunLogLineNow(message));
    }
}

void SetRunLogTarget(Target target) {
    std::lock_guard lock(g_targetMutex);
    g_target = target ? std::make_shared<const Target>(std::move(target)) : nullptr;
}

void SetRunLogWindow(WindowModel* window) {
    if (!window) {
        SetRunLogTarget({});
        return;
    }
    SetRunLogTarget([window](const Text& line) { window->AppendText(control::kEditRunLog, line); });
}

}  // namespace qj
