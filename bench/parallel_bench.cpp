// Throughput of a run with 1, 4 and 16 workers against a local chat-completion service that
// answers each request after 200 ms, and the same list done by the official openai Node SDK at 16
// requests at a time, as the baseline a user might write instead.

#include <benchmark/benchmark.h>
#include <httplib.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <thread>

#include "app/main_window_controls.h"
#include "bench/bench_job.h"
#include "bench/bench_report.h"
#include "run/job.h"
#include "http/http_instance.h"
#include "platform/file_system.h"
#include "platform/program_folder.h"
#include "text/code_page.h"
#include "app/control_names.h"
#include "window/memory_window.h"

namespace {

constexpr int kLatencyMs = 200;
int g_keywords = 200;
std::string g_base;

// A streamed chat reply: a few pieces of text, the usage, the end mark.
std::string StreamedReply() {
    std::string reply;
    for (int i = 0; i < 5; ++i) {
        reply += R"(data: {"id":"c1","object":"chat.completion.chunk","choices":[{"index":0,"delta":{"content":")"
                 "\xe6\xb3\xa1\xe8\x84\x9a\xe7\x9a\x84\xe5\xa5\xbd\xe5\xa4\x84\xe3\x80\x82"
                 R"("},"finish_reason":null}]})"
                 "\n\n";
    }
    reply += R"(data: {"id":"c1","object":"chat.completion.chunk","choices":[{"index":0,"delta":{},)"
             R"("finish_reason":"stop"}],"usage":{"prompt_tokens":12,"completion_tokens":40,"total_tokens":52}})"
             "\n\ndata: [DONE]\n\n";
    return reply;
}

void BM_Workers(benchmark::State& state) {
    const auto workers = std::to_string(state.range(0));
    qj::bench::TimeRuns(state, g_keywords, [&workers](qj::MemoryWindow& window) {
        window.SetNumber(qj::control::kRadioInterfaceThree, qj::kPropChecked, 1);
        window.SetText(qj::control::kEditInterfaceThreeBaseUrl, qj::kPropContent, g_base);
        window.SetText(qj::control::kEditConcurrency, qj::kPropContent, workers);
    });
}
BENCHMARK(BM_Workers)->Arg(1)->Arg(4)->Arg(16)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

// Seconds the Node SDK baseline took, or a negative number when it could not run.
double NodeBaseline(int concurrency) {
    const std::string folder = QJ_NODE_BASELINE;
    if (!std::filesystem::exists(folder + "/node_modules/openai")) {
        return -1;
    }
    const std::string out = std::filesystem::temp_directory_path() / "qingjian-bench-node";
    const std::string command = "node " + folder + "/openai_baseline.mjs " + g_base + " " + std::to_string(g_keywords) +
                                " " + std::to_string(concurrency) + " " + out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        return -1;
    }
    double seconds = -1;
    if (std::fscanf(pipe, "%lf", &seconds) != 1) {
        seconds = -1;
    }
    ::pclose(pipe);
    std::filesystem::remove_all(out);
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    g_keywords = qj::bench::KeywordCount(g_keywords);
    const std::string folder = qj::bench::MakeProgramHome();
    if (folder.empty()) {
        return 1;
    }
    qj::HttpGlobalInit();

    httplib::Server server;
    server.new_task_queue = [] { return new httplib::ThreadPool(64); };
    server.set_tcp_nodelay(true);
    const std::string reply = StreamedReply();
    server.Post("/v1/chat/completions", [&reply](const httplib::Request&, httplib::Response& response) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kLatencyMs));
        response.set_content(reply, "text/event-stream");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { server.listen_after_bind(); });
    g_base = "http://127.0.0.1:" + std::to_string(port) + "/v1";

    const auto report = qj::bench::RunAll(argc, argv);
    const double node = NodeBaseline(16);
    server.stop();
    serving.join();
    std::filesystem::remove_all(folder);

    const double one = report.SecondsOf("BM_Workers/1/iterations:1/real_time");
    const double four = report.SecondsOf("BM_Workers/4/iterations:1/real_time");
    const double sixteen = report.SecondsOf("BM_Workers/16/iterations:1/real_time");
    for (const auto& [workers, seconds] : {std::pair{1, one}, {4, four}, {16, sixteen}}) {
        std::printf("keywords per second, %d workers: %.1f\n", workers, seconds > 0 ? g_keywords / seconds : 0.0);
    }
    std::printf("scaling 4 workers: %.1f\n", four > 0 ? one / four : 0.0);
    std::printf("scaling 16 workers: %.1f\n", sixteen > 0 ? one / sixteen : 0.0);
    if (node > 0) {
        std::printf("keywords per second, openai node sdk, 16 at a time: %.1f\n", g_keywords / node);
        std::printf("qingjian over node sdk, 16 at a time: %.2f\n", sixteen > 0 ? node / sixteen : 0.0);
    } else {
        std::printf("openai node sdk baseline: not run (npm install in bench/node failed)\n");
    }
    return 0;
}
