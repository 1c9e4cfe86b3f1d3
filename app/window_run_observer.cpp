#include "app/window_run_observer.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "app/control_names.h"
#include "app/main_window_controls.h"

namespace qj {

namespace {

using Clock = std::chrono::steady_clock;

// How often, at most, the run log gets the lines that came meanwhile: a person reads no faster,
// and each append costs the window's thread the same whether it brings one line or many.
constexpr auto kAppendInterval = std::chrono::milliseconds(100);

// What one append may bring at most: the window's thread lays out every line it gets, and must get
// back to its events soon. Lines that come faster than that are more than anyone reads as they pass:
// the run log then shows the last of them (the run's log file keeps them all).
constexpr std::size_t kMostBytesPerAppend = 16 * 1024;
constexpr int kMostLinesPerAppend = 500;

// Lines waiting for the window beyond this are older than what the next append can show.
constexpr std::size_t kMostBytesWaiting = 4 * kMostBytesPerAppend;

// Cuts whole lines from the start of `text` until it is at most `limit` bytes long (a single line
// longer than that stays whole).
void KeepLastBytes(Text& text, std::size_t limit) {
    if (text.size() <= limit) {
        return;
    }
    const std::size_t cut = text.find('\n', text.size() - limit);
    if (cut != Text::npos && cut + 1 < text.size()) {
        text.erase(0, cut + 1);
    }
}

// How many line breaks a text holds, up to `limit`.
int LineBreaks(std::string_view text, int limit) {
    int breaks = 0;
    for (std::size_t i = 0; i < text.size() && breaks <= limit; ++i) {
        if (text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'))) {
            ++breaks;
        }
    }
    return breaks;
}

}  // namespace

// What waits to be shown, kept alive by the work posted for it.
struct WindowRunObserver::Shared {
    Shared(WindowModel& window, Text title) : window(window), title(std::move(title)) {}

    WindowModel& window;
    const Text title;

    std::mutex mutex;
    std::condition_variable wake;
    Text lines;
    bool appendPosted = false;  // an append is on its way to the window and takes every line there is
    Clock::time_point lastPosted{};
    bool stopping = false;
    std::optional<std::pair<ProgressFigures, bool>> figures;
    bool figuresPosted = false;
    // One append at a time, in order: a window that runs posted work at once (in memory) runs it on
    // the posting thread.
    std::mutex appending;

    // Window thread: the lines that came so far go into the run log. More than the box keeps would
    // only push out what it shows: the box then shows the last of them alone.
    void AppendLines() {
        std::lock_guard order(appending);
        Text taken;
        {
            std::lock_guard lock(mutex);
            taken.swap(lines);
            appendPosted = false;
        }
        wake.notify_all();
        if (taken.empty()) {
            return;
        }
        if (taken.size() > kMostBytesPerAppend || LineBreaks(taken, kMostLinesPerAppend) >= kMostLinesPerAppend) {
            KeepLastLines(taken, kMostLinesPerAppend);
            KeepLastBytes(taken, kMostBytesPerAppend);
            window.SetText(control::kEditRunLog, kPropContent, taken);
            window.AppendText(control::kEditRunLog, "");  // the end in view
        } else {
            window.AppendText(control::kEditRunLog, taken);
        }
    }

    // Whether an append is to be posted for the lines there are (none is on its way); with the lock
    // held. The caller posts it (PostAppend) once the lock is released: a window that runs posted
    // work at once runs it on the posting thread, and the append takes the lock.
    bool ClaimAppendLocked() {
        if (lines.empty() || appendPosted) {
            return false;
        }
        appendPosted = true;
        lastPosted = Clock::now();
        return true;
    }

    static void PostAppend(const std::shared_ptr<Shared>& self) {
        self->window.Post([self] { self->AppendLines(); });
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
    : shared_(std::make_shared<Shared>(window, window.GetText(kWindowItself, kPropCaption))) {
    // Posts the lines that came, at most every kAppendInterval and never while an append is on its way.
    pacer_ = std::thread([shared = shared_] {
        std::unique_lock lock(shared->mutex);
        while (!shared->stopping) {
            if (shared->lines.empty() || shared->appendPosted) {
                shared->wake.wait(lock);
                continue;
            }
            const Clock::time_point due = shared->lastPosted + kAppendInterval;
            if (Clock::now() < due) {
                shared->wake.wait_until(lock, due);
                continue;
            }
            if (shared->ClaimAppendLocked()) {
                lock.unlock();
                Shared::PostAppend(shared);
                lock.lock();
            }
        }
    });
}

WindowRunObserver::~WindowRunObserver() {
    bool post = false;
    {
        std::lock_guard lock(shared_->mutex);
        shared_->stopping = true;
        post = shared_->ClaimAppendLocked();
    }
    shared_->wake.notify_all();
    pacer_.join();
    if (post) {
        Shared::PostAppend(shared_);
    }
}

void WindowRunObserver::Logged(const Text& line) {
    {
        std::lock_guard lock(shared_->mutex);
        const bool first = shared_->lines.empty();
        shared_->lines += line;
        if (shared_->lines.size() > kMostBytesWaiting) {
            KeepLastBytes(shared_->lines, kMostBytesPerAppend);
        }
        if (!first) {
            return;
        }
    }
    shared_->wake.notify_all();
}

void WindowRunObserver::Progress(const ProgressFigures& figures, bool over) {
    bool postLines = false;
    bool postFigures = false;
    {
        std::lock_guard lock(shared_->mutex);
        // The lines of the run come before its final figures (and before the run says it is over).
        postLines = over && shared_->ClaimAppendLocked();
        shared_->figures.emplace(figures, over);
        postFigures = !shared_->figuresPosted;
        shared_->figuresPosted = true;
    }
    if (postLines) {
        Shared::PostAppend(shared_);
    }
    if (postFigures) {
        shared_->window.Post([shared = shared_] { shared->ShowFigures(); });
    }
}

void WindowRunObserver::Running(bool running) {
    bool postLines = false;
    {
        std::lock_guard lock(shared_->mutex);
        postLines = shared_->ClaimAppendLocked();
    }
    if (postLines) {
        Shared::PostAppend(shared_);
    }
    shared_->window.Post([shared = shared_, running] {
        shared->window.SetNumber(control::kButtonStart, kPropDisabled, running ? 1 : 0);
    });
}

}  // namespace qj
