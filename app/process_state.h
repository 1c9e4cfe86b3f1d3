#pragma once

#include <functional>

#include "text/types.h"

namespace qj {

inline constexpr const char* kProgramVersionNumber = "1.0";

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

}  // namespace qj
