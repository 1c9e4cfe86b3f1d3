#pragma once

// One generation run as the benchmarks time it: a fresh list, a fresh in-memory main window, only
// the run itself on the clock.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <functional>
#include <string>

#include "app/control_names.h"
#include "app/file_system.h"
#include "app/main_window_controls.h"
#include "app/memory_window.h"
#include "app/program_folder.h"
#include "generation/generation_job.h"

namespace qj::bench {

// A keyword list of `keywords` lines in the program folder, and no output from earlier runs.
// False when the list cannot be written.
inline bool WriteFreshList(int keywords) {
    Bytes list;
    for (int i = 0; i < keywords; ++i) {
        list += "关键词" + std::to_string(i) + "\r\n";
    }
    std::filesystem::remove_all(NativePath(ProgramPath(kOutputFolderTail)));
    return !ReplaceFileContents(ProgramPath(kKeywordListTail), list);
}

// Every iteration of `state` is one whole run over `keywords` keywords; `configure` sets the
// window's controls before it starts.
inline void TimeRuns(benchmark::State& state, int keywords, const std::function<void(MemoryWindow&)>& configure) {
    for (auto _ : state) {
        state.PauseTiming();
        if (!WriteFreshList(keywords)) {
            state.SkipWithError("the keyword list cannot be written");
            break;
        }
        MemoryWindow window(MainWindowLayout().controls);
        window.SetText(control::kEditOpenAiKey, kPropContent, "sk-bench");
        configure(window);
        SetMainWindow(&window);
        KeywordQueue queue(JobPathsIn(ProgramFolder()));
        state.ResumeTiming();
        const JobSummary summary = RunGenerationJob(window, queue, ChosenGenerator);
        state.PauseTiming();
        SetMainWindow(nullptr);
        if (summary.succeeded != keywords) {
            state.SkipWithError("not every keyword succeeded");
        }
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * keywords);
}

}  // namespace qj::bench
