#include "app/process_state.h"

#include <cstdlib>
#include <mutex>
#include <vector>

#include "app/run_log.h"

namespace qj {

namespace {

struct ProcessState {
    std::mutex mutex;
    Text version;
    std::vector<std::function<void()>> releases;
    std::atomic<WindowModel*> mainWindow{nullptr};
    Deployment deployment = DefaultDeployment();
    AdvertLinkList adverts;
    RowColourTable colours;
    StopSource runStop;
    RunSwitches switches;
};

// Never destroyed: worker threads may still read it while the process ends; the exit routine
// releases what it holds, later users find it empty.
ProcessState& State() {
    static ProcessState* state = new ProcessState;
    return *state;
}

}  // namespace

StopSource StartRunStop() {
    std::lock_guard lock(State().mutex);
    State().runStop = StopSource();
    return State().runStop;
}

void RequestRunStop() {
    std::lock_guard lock(State().mutex);
    State().runStop.RequestStop();
}

bool RunStopRequested() {
    std::lock_guard lock(State().mutex);
    return State().runStop.StopRequested();
}

const RunSwitches& LiveRunSwitches() {
    return State().switches;
}

WindowModel* MainWindow() {
    return State().mainWindow.load();
}

void SetMainWindow(WindowModel* window) {
    State().mainWindow.store(window);
    SetRunLogWindow(window);
}

const Deployment& CurrentDeployment() {
    return State().deployment;
}

void LoadDeployment(const Text& iniPath) {
    State().deployment = ReadDeployment(iniPath);
}

AdvertLinkList& AdvertLinks() {
    return State().adverts;
}

RowColourTable& RowColours() {
    return State().colours;
}

Text ProgramVersion() {
    std::lock_guard lock(State().mutex);
    return State().version;
}

void SetProgramVersion(const Text& version) {
    std::lock_guard lock(State().mutex);
    State().version = version;
}

void AtProgramExit(std::function<void()> release) {
    std::lock_guard lock(State().mutex);
    State().releases.push_back(std::move(release));
}

void ReleaseProcessState() {
    std::vector<std::function<void()>> releases;
    {
        std::lock_guard lock(State().mutex);
        State().version.clear();
        State().version.shrink_to_fit();
        releases.swap(State().releases);
    }
    for (auto it = releases.rbegin(); it != releases.rend(); ++it) {
        (*it)();
    }
}

void InstallExitRoutine() {
    static const bool installed = [] {
        std::atexit([] { ReleaseProcessState(); });
        return true;
    }();
    (void)installed;
}

void ResetProcessState() {
    {
        std::lock_guard lock(State().mutex);
        State().runStop = StopSource();
    }
    for (const std::shared_ptr<LiveSwitch>& s :
         {State().switches.preview, State().switches.asHtml, State().switches.skipExisting}) {
        s->Set(false);
    }
    SetMainWindow(nullptr);
    State().deployment = DefaultDeployment();
    AdvertLinks().Release();
    RowColours().Release();
    SetProgramVersion({});
}

}  // namespace qj
