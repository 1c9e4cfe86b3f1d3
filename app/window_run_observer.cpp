#include "app/window_run_observer.h"

#include <algorithm>
#include <mutex>
#include <optional>

#include "app/control_names.h"

namespace qj {

// What waits to be shown, kept alive by the work posted for it.
struct WindowRunObserver::Shared {
    WindowModel& window;
    const Text title;

    std::mutex mutex;
    Text lines;
    bool linesPosted = false;
    std::optional<std::pair<ProgressFigures, bool>> figures;
    bool figuresPosted = false;
    // One append at a time, in order: a window that runs posted work at once (in memory) runs it on
    // the posting thread.
    std::mutex appending;

    void AppendLines() {
        std::lock_guard order(appending);
        Text taken;
        {
            std::lock_guard lock(mutex);
            taken.swap(lines);
            linesPosted = false;
        }
        if (!taken.empty()) {
            window.AppendText(control::kEditRunLog, taken);
        }
    }

    void ShowFigures() {
        std::optional<std::pair<ProgressFigures, bool>> shown;
        {
            std::lock_guard lock(mutex);
            shown.swap(figures);
            figuresPosted = false;
        }
        if (!shown) {
            return;
        }
        const auto& [f, over] = *shown;
        const long long settled = f.succeeded + f.failed + f.skipped;
        window.SetNumber(control::kProgressRun, kPropProgressMaximum, std::max<long long>(1, settled + f.remaining));
        window.SetNumber(control::kProgressRun, kPropProgressValue, settled);
        window.SetText(kWindowItself, kPropCaption, over ? title : title + " - " + ProgressText(f));
    }
};

WindowRunObserver::WindowRunObserver(WindowModel& window)
    : shared_(std::make_shared<Shared>(window, window.GetText(kWindowItself, kPropCaption))) {}

void WindowRunObserver::Logged(const Text& line) {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->lines += line;
        if (shared_->linesPosted) {
            return;
        }
        shared_->linesPosted = true;
    }
    shared_->window.Post([shared = shared_] { shared->AppendLines(); });
}

void WindowRunObserver::Progress(const ProgressFigures& figures, bool over) {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->figures.emplace(figures, over);
        if (shared_->figuresPosted) {
            return;
        }
        shared_->figuresPosted = true;
    }
    shared_->window.Post([shared = shared_] { shared->ShowFigures(); });
}

void WindowRunObserver::Running(bool running) {
    shared_->window.Post([shared = shared_, running] {
        shared->window.SetNumber(control::kButtonStart, kPropDisabled, running ? 1 : 0);
    });
}

}  // namespace qj
