// The generation job's own cost per keyword (take from the list, build the request, read a 4 KB
// reply, write the file, log) against a local service that answers at once, over lists of 1,000
// and 10,000 keywords, beside the bare HTTP round trip of the same request.

#include <benchmark/benchmark.h>
#include <httplib.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <thread>

#include "app/control_names.h"
#include "app/deployment.h"
#include "app/file_system.h"
#include "app/ini_file.h"
#include "app/main_window_controls.h"
#include "app/memory_window.h"
#include "app/program_folder.h"
#include "bench/bench_job.h"
#include "bench/bench_report.h"
#include "generation/completion.h"
#include "generation/generation_job.h"
#include "http/http_instance.h"
#include "http/http_request.h"
#include "text/code_page.h"

namespace {

std::string g_origin;
std::string g_reply;

// A reply of interface one whose text is about 4 KB of Chinese.
std::string MakeReply() {
    std::string text;
    while (text.size() < 4096) {
        text += qj::AnsiToUtf8("泡脚可以促进血液循环，缓解疲劳，改善睡眠。") + "\\n";
    }
    return R"({"id":"cmpl-1","object":"text_completion","choices":[{"text":")" + text + R"(","index":0}]})";
}

void BM_RoundTrip(benchmark::State& state) {
    const qj::CompletionProfile profile = qj::InterfaceOneProfile(g_origin, "https://relay-one.example");
    const qj::Bytes body = qj::AnsiToUtf8(qj::CompletionBody(profile, "关键词1"));
    for (auto _ : state) {
        qj::Text headers = qj::CompletionHeaders(profile, "sk-bench");
        qj::HttpRequestParams params;
        params.url = profile.url;
        params.method = 1;
        params.bodyBytes = body;
        params.headers = &headers;
        params.timeoutSeconds = 600000;
        benchmark::DoNotOptimize(qj::HttpRequest(params));
    }
}
BENCHMARK(BM_RoundTrip)->Iterations(2000)->Unit(benchmark::kMicrosecond);

// One iteration is a whole run over a list of `keywords` lines; the time reported is per keyword.
void BM_Job(benchmark::State& state) {
    qj::bench::TimeRuns(state, static_cast<int>(state.range(0)), [](qj::MemoryWindow&) {});
}
BENCHMARK(BM_Job)->Arg(1000)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Job)->Arg(10000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    char folder[] = "/tmp/qingjian-bench-XXXXXX";
    ::setenv("QINGJIAN_HOME", ::mkdtemp(folder), 1);
    qj::HttpGlobalInit();
    qj::EnsureFolder(qj::ProgramPath("OpenAi"));

    g_reply = MakeReply();
    httplib::Server server;
    server.set_tcp_nodelay(true);
    server.Post(".*", [](const httplib::Request&, httplib::Response& response) {
        response.set_content(g_reply, "application/json");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { server.listen_after_bind(); });
    g_origin = "http://127.0.0.1:" + std::to_string(port);
    const qj::Text ini = qj::ProgramPath(qj::kSettingsFileTail);
    if (const std::optional<qj::FileError> failure =
            qj::WriteIniValue(ini, qj::kDeploymentSection, "OpenAI", g_origin)) {
        std::fprintf(stderr, "the deployment cannot be written: %s\n", qj::Describe(*failure).c_str());
    }
    qj::LoadDeployment(ini);

    const auto report = qj::bench::RunAll(argc, argv);
    server.stop();
    serving.join();
    std::filesystem::remove_all(folder);

    const double roundTrip = report.SecondsOf("BM_RoundTrip/iterations:2000");
    const double small = report.SecondsOf("BM_Job/1000/iterations:3") / 1000 - roundTrip;
    const double large = report.SecondsOf("BM_Job/10000/iterations:1") / 10000 - roundTrip;
    std::printf("round trip per keyword: %.0f us\n", roundTrip * 1e6);
    std::printf("job overhead per keyword: %.0f us\n", large * 1e6);
    std::printf("list-length growth 1k->10k: %.1f\n", small > 0 ? large / small : 0.0);
    return 0;
}
