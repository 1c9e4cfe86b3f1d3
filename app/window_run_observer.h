#pragma once

#include <memory>
#include <thread>

#include "run/run_observer.h"
#include "window/window_model.h"

namespace qj {

// What a run shows in the main window: its log lines at the end of the run log, its figures in the
// title and the progress bar, 开始 disabled while it goes on. Everything is posted to the window's
// thread, so the run's workers never wait for the window: lines that come while earlier ones are
// still on their way join them and go into the run log in one append at most every 100 ms, and
// only the latest figures are shown. The run log keeps its last lines only (see the control table); the run's log file keeps
// them all. Made on the window's thread (it remembers the window's title), used from any thread;
// the window must outlive what was posted.
class WindowRunObserver : public RunObserver {
public:
    explicit WindowRunObserver(WindowModel& window);
    // What is still waiting is posted.
    ~WindowRunObserver() override;
    WindowRunObserver(const WindowRunObserver&) = delete;
    WindowRunObserver& operator=(const WindowRunObserver&) = delete;

    void Logged(const Text& line) override;
    void Progress(const ProgressFigures& figures, bool over) override;
    void Running(bool running) override;

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
    std::thread pacer_;
};

}  // namespace qj
