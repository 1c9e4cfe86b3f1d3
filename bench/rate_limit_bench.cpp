// A run against a local chat-completion service with a budget of requests per short window and
// 200 ms latency: 500 keywords with 并发数 32. Our throughput over the budget, the share of 429
// answers and the failed keywords; the same list through the official openai Node SDK (32 at a
// time, its default retries) beside it; and two endpoints, each with a budget of its own.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>

#include "app/main_window_controls.h"
#include "app/process_state.h"
#include "bench/bench_job.h"
#include "bench/bench_report.h"
#include "app/main_window_job.h"
#include "http/http_instance.h"
#include "tests/support/local_chat_service.h"
#include "platform/file_system.h"
#include "platform/program_folder.h"
#include "text/code_page.h"
#include "app/control_names.h"
#include "window/memory_window.h"

namespace {

using qj::testing::LocalChatService;

constexpr int kConcurrency = 32;
constexpr auto kLatency = std::chrono::milliseconds(200);
constexpr auto kWindow = std::chrono::milliseconds(1000);
constexpr int kRequestsPerWindow = 20;
int g_keywords = 500;
LocalChatService* g_service = nullptr;

struct Outcome {
    double seconds = 0;
    int failed = -1;
};
Outcome g_one;
Outcome g_two;

// One whole run on the in-memory window with `key` as the main key and `backups` in the backup
// endpoint box.
void TimedRun(benchmark::State& state, const std::string& key, const std::string& backups, Outcome& outcome) {
    for (auto _ : state) {
        state.PauseTiming();
        if (!qj::bench::WriteFreshList(g_keywords)) {
            state.SkipWithError("the keyword list cannot be written");
            break;
        }
        qj::MemoryWindow window(qj::MainWindowLayout().controls);
        window.SetNumber(qj::control::kRadioInterfaceThree, qj::kPropChecked, 1);
        window.SetText(qj::control::kEditInterfaceThreeBaseUrl, qj::kPropContent, g_service->Base());
        window.SetText(qj::control::kEditOpenAiKey, qj::kPropContent, key);
        window.SetText(qj::control::kEditInterfaceThreeBackups, qj::kPropContent, backups);
        window.SetText(qj::control::kEditConcurrency, qj::kPropContent, std::to_string(kConcurrency));
        // As many retries as the SDK makes by default.
        window.SetText(qj::control::kEditRetryCount, qj::kPropContent, "2");
        qj::SetMainWindow(&window);
        const auto start = std::chrono::steady_clock::now();
        state.ResumeTiming();
        const qj::JobSummary summary = qj::RunOnWindow(window);
        state.PauseTiming();
        outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        outcome.failed = g_keywords - summary.succeeded;
        qj::SetMainWindow(nullptr);
        state.ResumeTiming();
    }
}

void BM_OneBudget(benchmark::State& state) {
    TimedRun(state, "sk-one", "", g_one);
}
BENCHMARK(BM_OneBudget)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

void BM_TwoBudgets(benchmark::State& state) {
    TimedRun(state, "sk-two-a", "- sk-two-b", g_two);
}
BENCHMARK(BM_TwoBudgets)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

// The Node SDK's seconds and failed keywords; seconds below 0 when it could not run.
Outcome NodeBaseline() {
    Outcome outcome{-1, -1};
    const std::string folder = QJ_NODE_BASELINE;
    if (!std::filesystem::exists(folder + "/node_modules/openai")) {
        return outcome;
    }
    const std::string command = "node " + folder + "/openai_rate_limited.mjs " + g_service->Base() + " sk-node " +
                                std::to_string(g_keywords) + " " + std::to_string(kConcurrency);
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        if (std::fscanf(pipe, "%lf %d", &outcome.seconds, &outcome.failed) != 2) {
            outcome = {-1, -1};
        }
        ::pclose(pipe);
    }
    return outcome;
}

double BudgetPerSecond() {
    return kRequestsPerWindow / std::chrono::duration<double>(kWindow).count();
}

double ThroughputOverBudget(const Outcome& outcome) {
    return outcome.seconds > 0 ? (g_keywords - outcome.failed) / outcome.seconds / BudgetPerSecond() : 0.0;
}

double RateLimitedShare(const LocalChatService::Counts& counts) {
    return counts.requests > 0 ? 100.0 * counts.rateLimited / counts.requests : 0.0;
}

}  // namespace

int main(int argc, char** argv) {
    g_keywords = qj::bench::KeywordCount(g_keywords);
    const std::string folder = qj::bench::MakeProgramHome();
    if (folder.empty()) {
        return 1;
    }
    qj::HttpGlobalInit();
    LocalChatService service(kWindow, kLatency);
    for (const char* key : {"sk-one", "sk-two-a", "sk-two-b", "sk-node"}) {
        service.Plan(key, {.requestsPerWindow = kRequestsPerWindow});
    }
    g_service = &service;

    qj::bench::RunAll(argc, argv);
    const Outcome node = NodeBaseline();
    std::filesystem::remove_all(folder);

    std::printf("rate-limited throughput over budget: %.2f\n", ThroughputOverBudget(g_one));
    std::printf("429 share: %.1f%%\n", RateLimitedShare(service.Of("sk-one")));
    std::printf("failed keywords: %d\n", g_one.failed);
    if (node.seconds > 0) {
        std::printf("openai node sdk, rate-limited throughput over budget: %.2f\n", ThroughputOverBudget(node));
        std::printf("openai node sdk, 429 share: %.1f%%\n", RateLimitedShare(service.Of("sk-node")));
        std::printf("openai node sdk, failed keywords: %d\n", node.failed);
    } else {
        std::printf("openai node sdk baseline: not run (npm install in bench/node failed)\n");
    }
    std::printf("two-endpoint throughput over one budget: %.2f\n", ThroughputOverBudget(g_two));
    return 0;
}
