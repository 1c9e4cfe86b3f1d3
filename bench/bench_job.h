#pragma once

// One generation run as the benchmarks time it: a fresh list, a fresh in-memory main window, only
// the run itself on the clock.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "app/main_window_controls.h"
#include "app/process_state.h"
#include "app/main_window_job.h"
#include "platform/file_system.h"
#include "platform/program_folder.h"
#include "text/code_page.h"
#include "app/control_names.h"
#include "window/memory_window.h"

namespace qj::bench {

// How many keywords a run takes: QJ_BENCH_KEYWORDS when it is set, else `fallback`.
inline int KeywordCount(int fallback) {
    const char* count = std::getenv("QJ_BENCH_KEYWORDS");
    return count ? std::max(1, std::atoi(count)) : fallback;
}

// A fresh temporary folder made the program folder (QINGJIAN_HOME), with its OpenAi folder in it.
// Empty, and said on standard error, when it cannot be made.
inline std::string MakeProgramHome() {
    char folder[] = "/tmp/qingjian-bench-XXXXXX";
    if (!::mkdtemp(folder)) {
        std::perror("mkdtemp");
        return {};
    }
    ::setenv("QINGJIAN_HOME", folder, 1);
    if (const Result<void> made = EnsureFolder(ProgramPath("OpenAi")); !made) {
        std::fprintf(stderr, "cannot create %s\n", AnsiToUtf8(Describe(made.error())).c_str());
        return {};
    }
    return folder;
}

// A keyword list whose first `keywords` lines a run takes, and no output from earlier runs. With
// `lines` beyond them, an empty line ends the run there and the rest of the list stays behind it,
// as in a long list of which a run does a part. False when the list cannot be written.
inline bool WriteFreshList(int keywords, int lines = 0) {
    Bytes list;
    for (int i = 0; i < keywords; ++i) {
        list += "关键词" + std::to_string(i) + "\r\n";
    }
    if (lines > keywords) {
        list += "\r\n";
        for (int i = keywords + 1; i < lines; ++i) {
            list += "关键词" + std::to_string(i) + "\r\n";
        }
    }
    if (!ReplaceFileContents(ProgramPath(kKeywordListTail), list)) {
        return false;
    }
    // Moved aside, not removed: the file system would make the next run pay for the deletion
    // (a new file avoids freshly freed slots), which no user's run does. The program removes
    // its whole folder at the end.
    static int earlier = 0;
    std::error_code error;
    std::filesystem::rename(NativePath(ProgramPath(kOutputFolderTail)),
                            NativePath(ProgramPath("OpenAi/earlier-" + std::to_string(++earlier))), error);
    return true;
}

// Bytes this process has handed to write calls so far (files, pipes and sockets alike).
inline long long BytesWrittenSoFar() {
    long long written = -1;
    if (FILE* io = std::fopen("/proc/self/io", "r")) {
        char name[32];
        long long value = 0;
        while (std::fscanf(io, "%31s %lld", name, &value) == 2) {
            if (std::string(name) == "wchar:") {
                written = value;
            }
        }
        std::fclose(io);
    }
    return written;
}

// What the timed runs wrote, over all iterations.
struct RunTally {
    long long bytesWritten = 0;
    long long keywords = 0;
};

// Every iteration of `state` is one whole run over `keywords` keywords (of a list of `lines`
// lines, see WriteFreshList); `configure` sets the window's controls before it starts.
inline void TimeRuns(benchmark::State& state, int keywords, const std::function<void(MemoryWindow&)>& configure,
                     int lines = 0, RunTally* tally = nullptr) {
    for (auto _ : state) {
        state.PauseTiming();
        if (!WriteFreshList(keywords, lines)) {
            state.SkipWithError("the keyword list cannot be written");
            break;
        }
        MemoryWindow window(MainWindowLayout().controls);
        window.SetText(control::kEditOpenAiKey, kPropContent, "sk-bench");
        configure(window);
        SetMainWindow(&window);
        const long long before = BytesWrittenSoFar();
        state.ResumeTiming();
        const JobSummary summary = RunOnWindow(window);
        state.PauseTiming();
        if (tally) {
            tally->bytesWritten += BytesWrittenSoFar() - before;
            tally->keywords += keywords;
        }
        SetMainWindow(nullptr);
        if (summary.succeeded != keywords) {
            state.SkipWithError("not every keyword succeeded");
        }
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * keywords);
}

}  // namespace qj::bench
