#pragma once

// Runs through the main window in a test's program folder, against a local completion service.

#include <gtest/gtest.h>

#include "app/process_state.h"
#include "job_test_support.h"
#include "platform/program_folder.h"

namespace qj::testing {

// What a run needs before 开始 is clicked: the deployment in force pointing at `service`, the
// folder of the keyword list, and no stop request.
inline void PrepareRuns(const LocalCompletionService& service) {
    service.Deploy();
    LoadDeployment(ProgramPath(kSettingsFileTail));
    ASSERT_TRUE(EnsureFolder(ProgramPath("OpenAi")));
    StartRunStop();
}

// Every request waits until the service ends (at most thirty seconds) before it is answered: the
// keyword of a run stays in flight meanwhile.
inline void AnswerLate(LocalCompletionService& service) {
    service.SetAnswer([&service](const httplib::Request&, httplib::Response& response) {
        service.Stall(30000);
        response.set_content(InterfaceOneReply("late"), "application/json");
    });
}

}  // namespace qj::testing
