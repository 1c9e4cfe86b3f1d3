// The generation job's own cost per keyword (take from the list, build the request, read a 4 KB
// reply, write the file, log) against a local service that answers at once, over lists of 1,000,
// 10,000 and 200,000 keywords, beside the bare HTTP round trip of the same request and the bare
// file work a keyword needs on this disk, alone and between two requests as the job meets it.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <httplib.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "app/main_window_controls.h"
#include "bench/bench_job.h"
#include "bench/bench_report.h"
#include "services/completion.h"
#include "run/job.h"
#include "http/http_instance.h"
#include "http/http_request.h"
#include "platform/file_system.h"
#include "platform/program_folder.h"
#include "settings/deployment.h"
#include "settings/ini_file.h"
#include "settings/settings_store.h"
#include "text/code_page.h"
#include "app/control_names.h"
#include "window/memory_window.h"

namespace {

constexpr int kLongList = 200000;
constexpr int kTakenFromLongList = 10000;
// Other work on the machine only ever slows a run down: each figure is the fastest of a few runs,
// taken in shuffled order.
constexpr int kRepeats = 3;

double Fastest(const std::vector<double>& seconds) {
    return *std::min_element(seconds.begin(), seconds.end());
}

std::string g_origin;
std::size_t g_articleBytes = 0;
qj::bench::RunTally g_longListTally;

// A reply of interface one whose text is about 4 KB of Chinese.
std::string MakeReply() {
    std::string text;
    while (text.size() < 4096) {
        text += qj::AnsiToUtf8("泡脚可以促进血液循环，缓解疲劳，改善睡眠。") + "\\n";
    }
    return R"({"id":"cmpl-1","object":"text_completion","choices":[{"text":")" + text + R"(","index":0}]})";
}

void Repeated(benchmark::internal::Benchmark* b) {
    b->Repetitions(kRepeats)->ComputeStatistics("min", Fastest)->ReportAggregatesOnly(true);
}

// The request of one keyword, as the job sends it, without the job around it.
void RoundTrip() {
    static const qj::CompletionProfile profile = qj::InterfaceOneProfile(g_origin, "https://relay-one.example");
    static const qj::Bytes body = qj::AnsiToUtf8(qj::CompletionBody(profile, "关键词1"));
    qj::HttpRequestParams params;
    params.url = profile.url;
    params.method = 1;
    params.bodyBytes = body;
    params.headers = qj::CompletionHeaders(profile, "sk-bench");
    params.timeoutSeconds = 600000;
    benchmark::DoNotOptimize(qj::HttpRequest(params));
}

void BM_RoundTrip(benchmark::State& state) {
    for (auto _ : state) {
        RoundTrip();
    }
}
BENCHMARK(BM_RoundTrip)->Iterations(2000)->Unit(benchmark::kMicrosecond)->Apply(Repeated);

// One iteration is a whole run over a list of `keywords` lines; the time reported is per keyword.
void BM_Job(benchmark::State& state) {
    qj::bench::TimeRuns(state, static_cast<int>(state.range(0)), [](qj::MemoryWindow&) {});
}
BENCHMARK(BM_Job)->Arg(1000)->Iterations(3)->Unit(benchmark::kMillisecond)->Apply(Repeated);
BENCHMARK(BM_Job)->Arg(10000)->Iterations(1)->Unit(benchmark::kMillisecond)->Apply(Repeated);

// The same number of keywords as above, taken from the front of a list twenty times as long.
void BM_JobOnLongList(benchmark::State& state) {
    qj::bench::TimeRuns(
        state, kTakenFromLongList, [](qj::MemoryWindow&) {}, kLongList, &g_longListTally);
}
BENCHMARK(BM_JobOnLongList)->Iterations(1)->Unit(benchmark::kMillisecond)->Apply(Repeated);

// The least file work one keyword needs: its article written to a new file and renamed into place
// in the output folder, and one journal line appended and removed again.
class FileWork {
public:
    FileWork() {
        static int run = 0;  // a new folder each time, as WriteFreshList gives the job
        folder_ = qj::NativePath(qj::ProgramPath("OpenAi/floor-" + std::to_string(++run)));
        std::filesystem::create_directories(folder_);
        journalFd_ = ::open((folder_ / "journal.txt").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    }
    ~FileWork() { ::close(journalFd_); }

    // The work of one keyword; false (and the state skipped) when it failed.
    bool Do(benchmark::State& state) {
        const std::string name = stem_ + std::to_string(next_++);
        const std::string temporary = (folder_ / ("." + name + ".tmp")).native();
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        const bool ok =
            fd >= 0 && ::write(fd, article_.data(), article_.size()) == static_cast<ssize_t>(article_.size());
        if (fd < 0 || ::close(fd) != 0 || !ok ||
            ::rename(temporary.c_str(), (folder_ / (name + ".txt")).c_str()) != 0) {
            state.SkipWithError("the output file could not be written");
            return false;
        }
        const std::string line = "+" + name + "\r\n";
        if (::write(journalFd_, line.data(), line.size()) != static_cast<ssize_t>(line.size()) ||
            ::ftruncate(journalFd_, 0) != 0) {
            state.SkipWithError("the journal could not be written");
            return false;
        }
        return true;
    }

private:
    std::filesystem::path folder_;
    int journalFd_ = -1;
    const std::string article_ = std::string(g_articleBytes, 'x');
    // The names as the file system gets them; making them is no file work.
    const std::string stem_ = qj::AnsiToUtf8("关键词");
    int next_ = 0;
};

// The file work alone, one keyword's after the other.
void BM_FileWorkAlone(benchmark::State& state) {
    FileWork work;
    for (auto _ : state) {
        if (!work.Do(state)) {
            break;
        }
    }
}
BENCHMARK(BM_FileWorkAlone)->Iterations(10000)->Unit(benchmark::kMicrosecond)->Apply(Repeated);

// The file work as the job meets it: between two requests. On this disk the file system goes on
// working behind the calls, and the next request takes longer than it does after another request
// or after CPU work of the same length; the job pays that too. Each iteration times a request
// with the file work in front of it and a request alone, in turn, so that both see the same
// moments of the machine; its time is the difference.
void BM_FileFloor(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    FileWork work;
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        RoundTrip();
        const Clock::time_point alone = Clock::now();
        if (!work.Do(state)) {
            break;
        }
        RoundTrip();
        const Clock::time_point end = Clock::now();
        state.SetIterationTime(std::chrono::duration<double>((end - alone) - (alone - start)).count());
    }
}
BENCHMARK(BM_FileFloor)->Iterations(10000)->UseManualTime()->Unit(benchmark::kMicrosecond)->Apply(Repeated);

// The local service runs in a process of its own, so that what this process writes is the job's.
pid_t ServeInChild(httplib::Server& server, int* port) {
    *port = server.bind_to_any_port("127.0.0.1");
    const pid_t child = ::fork();
    if (child == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        const std::string reply = MakeReply();
        server.set_tcp_nodelay(true);
        server.Post(".*", [&reply](const httplib::Request&, httplib::Response& response) {
            response.set_content(reply, "application/json");
        });
        server.listen_after_bind();
        ::_exit(0);
    }
    return child;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string folder = qj::bench::MakeProgramHome();
    if (folder.empty()) {
        return 1;
    }
    httplib::Server server;
    int port = 0;
    const pid_t service = ServeInChild(server, &port);
    qj::HttpGlobalInit();

    g_origin = "http://127.0.0.1:" + std::to_string(port);
    const qj::Text ini = qj::ProgramPath(qj::kSettingsFileTail);
    if (const qj::Result<void> written = qj::WriteIniValue(ini, qj::kDeploymentSection, "OpenAI", g_origin);
        !written) {
        std::fprintf(stderr, "the deployment cannot be written: %s\n", qj::Describe(written.error()).c_str());
    }
    qj::LoadDeployment(ini);
    const qj::CompletionProfile profile = qj::InterfaceOneProfile(g_origin, "https://relay-one.example");
    g_articleBytes = qj::ExtractCompletionText(profile, qj::Utf8ToAnsi(MakeReply())).text.size();

    ::setenv("BENCHMARK_ENABLE_RANDOM_INTERLEAVING", "true", 0);
    const auto report = qj::bench::RunAll(argc, argv);
    ::kill(service, SIGTERM);
    ::waitpid(service, nullptr, 0);
    std::filesystem::remove_all(folder);

    const double roundTrip = report.SecondsOfFirst("BM_RoundTrip/", "_min");
    const double perKeyword1k = report.SecondsOfFirst("BM_Job/1000/", "_min") / 1000;
    const double perKeyword10k = report.SecondsOfFirst("BM_Job/10000/", "_min") / 10000;
    const double perKeyword200k = report.SecondsOfFirst("BM_JobOnLongList/", "_min") / kTakenFromLongList;
    const double floor = report.SecondsOfFirst("BM_FileFloor/", "_min");
    const double fileWorkAlone = report.SecondsOfFirst("BM_FileWorkAlone/", "_min");
    const double small = perKeyword1k - roundTrip;
    const double large = perKeyword10k - roundTrip;
    std::printf("round trip per keyword: %.0f us\n", roundTrip * 1e6);
    std::printf("job overhead per keyword: %.0f us\n", large * 1e6);
    std::printf("list-length growth 1k->10k: %.1f\n", small > 0 ? large / small : 0.0);
    std::printf("list-length growth 10k->200k: %.1f\n", perKeyword10k > 0 ? perKeyword200k / perKeyword10k : 0.0);
    std::printf("bytes written per keyword at 200k lines: %lld\n",
                g_longListTally.keywords > 0 ? g_longListTally.bytesWritten / g_longListTally.keywords : 0);
    std::printf("file floor per keyword: %.0f us\n", floor * 1e6);
    std::printf("job overhead over file floor: %.1f\n", floor > 0 ? large / floor : 0.0);
    std::printf("file work alone per keyword: %.0f us\n", fileWorkAlone * 1e6);
    std::printf("job overhead over file work alone: %.1f\n", fileWorkAlone > 0 ? large / fileWorkAlone : 0.0);
    return 0;
}
