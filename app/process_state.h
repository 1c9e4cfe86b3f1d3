#pragma once

#include <atomic>
#include <functional>

#include "app/row_colours.h"
#include "notices/advert_list.h"
#include "platform/stop_token.h"
#include "run/run_inputs.h"
#include "settings/deployment.h"
#include "text/types.h"
#include "window/window_model.h"

namespace qj {

// The state the program keeps once per process, all of it here. The layers below are handed what
// they need (a window, the deployment, a stop flag, the advert addresses) and keep none of it.

inline constexpr const char* kProgramVersionNumber = "1.0";

// The stop request of the run under way: each run starts with a fresh one (StartRunStop), and 结束
// (or the end of the program) asks for it; the run looks at it between keywords and its requests end
// when it is asked for. Asked for while no run goes on, it stops nothing to come.
StopSource StartRunStop();
void RequestRunStop();
bool RunStopRequested();

// The switches a run honours keyword by keyword, which the user may change while it goes on: the
// window sets them from its check boxes when a run starts and on every click of one.
struct RunSwitches {
    std::shared_ptr<LiveSwitch> preview = std::make_shared<LiveSwitch>();
    std::shared_ptr<LiveSwitch> asHtml = std::make_shared<LiveSwitch>();
    std::shared_ptr<LiveSwitch> skipExisting = std::make_shared<LiveSwitch>();
};
const RunSwitches& LiveRunSwitches();

// Taken by the click on 开始 before the run's worker starts, released by the run just before 开始
// is enabled again: one run at a time.
inline std::atomic<bool> GenerationRunExists{false};

// How many runs' threads have not yet ended: a run's thread still posts its last lines and state to
// the window after it released GenerationRunExists.
inline std::atomic<int> GenerationRunThreads{0};

// The main window, set by start-up (or a test) before any handler runs; null when there is none.
// The run log writes to it.
WindowModel* MainWindow();
void SetMainWindow(WindowModel* window);

// The deployment values in force: the defaults until LoadDeployment ran.
const Deployment& CurrentDeployment();
// Reads the overrides of the settings file once at start-up, before any worker thread exists.
void LoadDeployment(const Text& iniPath);

// The addresses of the advert list's rows, and the colours of its cells.
AdvertLinkList& AdvertLinks();
RowColourTable& RowColours();

// The version the program shows (set by the main window's created sequence). Any thread.
Text ProgramVersion();
void SetProgramVersion(const Text& version);

// Adds a routine to the exit routine, which releases the process-wide state when the program
// ends; routines run in reverse order of registration.
void AtProgramExit(std::function<void()> release);

// Registers the exit routine with the C runtime (once; later calls do nothing).
void InstallExitRoutine();

// Runs the exit routine now (what the C runtime does at exit); each routine runs once.
void ReleaseProcessState();

// Everything as a fresh process has it (tests): no stop request, no main window (the run log
// writes nowhere), the default deployment, no advert addresses or cell colours, no version, every
// switch off. The run guard belongs to a run in flight and stays as it is, as do the exit routines.
void ResetProcessState();

}  // namespace qj
