// 2,000 sequential GETs of a 1 KB body from a local server: HttpRequest with a new handle per call,
// HttpRequest with a reused handle, and a bare libcurl loop on one easy handle as the baseline.

#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <httplib.h>
#include <signal.h>

#include <cstdio>
#include <thread>

#include "bench/bench_report.h"
#include "http/http_request.h"

namespace {

constexpr int kRequests = 2000;
std::string g_url;

void NewHandlePerCall(benchmark::State& state) {
    for (auto _ : state) {
        qj::HttpRequestParams params;
        params.url = g_url;
        benchmark::DoNotOptimize(qj::HttpRequest(params));
    }
}

void ReusedInstance(benchmark::State& state) {
    qj::HttpInstance instance;
    for (auto _ : state) {
        qj::HttpRequestParams params;
        params.url = g_url;
        params.reuseInstance = &instance;
        benchmark::DoNotOptimize(qj::HttpRequest(params));
    }
}

size_t Collect(char* data, size_t size, size_t count, void* body) {
    static_cast<std::string*>(body)->append(data, size * count);
    return size * count;
}

// The baseline asks for the same header lines that HttpRequest sends with its defaults, so that
// both put the same work on the server and the difference is the client's own.
void BareLibcurl(benchmark::State& state) {
    CURL* easy = curl_easy_init();
    std::string body;
    const std::string referer = "Referer: " + g_url;
    curl_slist* headers = nullptr;
    for (const char* line : {"Accept: */*", referer.c_str(), "Accept-Language: zh-cn",
                             "User-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)"}) {
        headers = curl_slist_append(headers, line);
    }
    curl_easy_setopt(easy, CURLOPT_URL, g_url.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
    for (auto _ : state) {
        body.clear();
        curl_easy_perform(easy);
        benchmark::DoNotOptimize(body);
    }
    curl_easy_cleanup(easy);
    curl_slist_free_all(headers);
}

// Each repetition is 2,000 requests; the ratios use the median repetition, which a busy machine
// disturbs less than a single run.
constexpr int kRepetitions = 5;
BENCHMARK(NewHandlePerCall)
    ->Iterations(kRequests)
    ->Repetitions(kRepetitions)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(ReusedInstance)
    ->Iterations(kRequests)
    ->Repetitions(kRepetitions)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BareLibcurl)->Iterations(kRequests)->Repetitions(kRepetitions)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN);
    qj::HttpGlobalInit();
    httplib::Server server;
    server.set_keep_alive_max_count(1000000);
    server.set_tcp_nodelay(true);
    const std::string kilobyte(1024, 'k');
    server.Get("/kb", [&](const httplib::Request&, httplib::Response& response) {
        response.set_content(kilobyte, "text/plain");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread listener([&] { server.listen_after_bind(); });
    while (!server.is_running()) {
        std::this_thread::yield();
    }
    g_url = "http://127.0.0.1:" + std::to_string(port) + "/kb";

    const auto report = qj::bench::RunAll(argc, argv);
    server.stop();
    listener.join();

    // Medians of the repetitions, the steadiest figure on a shared machine.
    const double baseline = report.SecondsOfFirst("BareLibcurl", "_median");
    if (baseline > 0) {
        std::printf("reuse ratio: %.1f\n", report.SecondsOfFirst("ReusedInstance", "_median") / baseline);
        std::printf("new-handle ratio: %.1f\n", report.SecondsOfFirst("NewHandlePerCall", "_median") / baseline);
    }
    return 0;
}
