#pragma once

// The set-up of the tests of a run: a program folder, the main window in memory whose settings a run
// reads and which shows what it reports, and what a test reads back (the list's files, the run log).

#include <gtest/gtest.h>

#include <ctime>

#include "app/control_names.h"
#include "app/main_window_controls.h"
#include "app/main_window_job.h"
#include "app/process_state.h"
#include "app/run_log.h"
#include "platform/file_system.h"
#include "platform/program_folder.h"
#include "run/keyword_list.h"
#include "services/retry_policy.h"
#include "temporary_home.h"
#include "text/code_page.h"
#include "text/text_helpers.h"
#include "window/memory_window.h"

namespace qj::testing {

// 2023年2月11日9时5分7秒, the moment of every line of a test that asks for a fixed clock.
inline std::tm FixedRunLogTime() {
    std::tm t{};
    t.tm_year = 123;
    t.tm_mon = 1;
    t.tm_mday = 11;
    t.tm_hour = 9;
    t.tm_min = 5;
    t.tm_sec = 7;
    return t;
}

class JobFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ResetProcessState();
        ASSERT_TRUE(EnsureFolder(ProgramPath("OpenAi")));
        SetRunLogWindow(&window_);
    }

    void TearDown() override {
        retry::SetTimeScale(1.0);
        SetRunLogClock(nullptr);
        SetRunLogWindow(nullptr);
        ResetProcessState();
    }

    // A run over the list with the window's settings and the fixture's deployment, to its end.
    JobSummary Run() { return RunOnWindow(window_, deployment_); }

    void SetBox(const char* control, const Text& text) { window_.SetText(control, kPropContent, text); }
    void Check(const char* control, bool checked = true) { window_.SetNumber(control, kPropChecked, checked ? 1 : 0); }

    void WriteList(const Bytes& contents) { ASSERT_TRUE(ReplaceFileContents(paths_.keywordList, contents)); }
    static Bytes Read(const Text& path) { return ReadFileBytes(path).value_or("<missing>"); }

    Text Log() const { return window_.GetText(control::kEditRunLog, kPropContent); }
    bool Logged(const Text& words) const { return Log().find(words) != Text::npos; }
    void ClearLog() { window_.SetText(control::kEditRunLog, kPropContent, ""); }

    // The messages of the run log, time stamps removed.
    TextList Messages() const {
        TextList messages;
        for (const Text& line : SplitText(Log(), "\r\n")) {
            const std::size_t at = line.find("】 > > >  ");
            if (at != Text::npos) {
                messages.push_back(line.substr(at + Text("】 > > >  ").size()));
            } else {
                messages.push_back(line);  // a continuation line of a multi-line message
            }
        }
        return messages;
    }

    TemporaryHome home_;
    MemoryWindow window_{MainWindowLayout().controls};
    Deployment deployment_ = DefaultDeployment();
    JobPaths paths_ = JobPathsIn(ProgramFolder());
};

// The messages as UTF-8, one per line, for a failure's report.
inline std::string Utf8Lines(const TextList& messages) {
    std::string lines;
    for (const Text& m : messages) {
        lines += AnsiToUtf8(m) + "\n";
    }
    return lines;
}

}  // namespace qj::testing
