#include "app/program_state.h"

#include <cstdlib>
#include <mutex>
#include <vector>

namespace qj {

namespace {

struct ProcessState {
    std::mutex mutex;
    Text version;
    std::vector<std::function<void()>> releases;
};

// Never destroyed: worker threads may still read it while the process ends.
ProcessState& State() {
    static ProcessState* state = new ProcessState;
    return *state;
}

}  // namespace

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

}  // namespace qj
