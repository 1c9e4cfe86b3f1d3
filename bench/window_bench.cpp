// The same run through the Qt window (offscreen) and through the batch mode, in one go: 5,000
// articles of about 4 KB from a local chat service that answers at once, 16 workers. Each run is a
// process of its own (fresh program folder, its own peak memory); the window's runs also measure
// the longest time the window's thread did not get to its events.
//
// Prints "window over batch, 5000 articles, 16 workers: N.N", "window with preview over batch: N.N",
// "longest window stall with preview: N ms" and "window memory with preview: N MB".

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QStyleFactory>
#include <QTimer>
#include <httplib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/batch_mode.h"
#include "app/control_names.h"
#include "app/handlers.h"
#include "app/main_window_controls.h"
#include "app/main_window_job.h"
#include "app/process_state.h"
#include "gui/message_box.h"
#include "gui/qt_window.h"
#include "gui/skin_gui.h"
#include "http/http_instance.h"
#include "platform/file_system.h"
#include "platform/program_folder.h"
#include "run/keyword_queue.h"
#include "settings/ini_file.h"
#include "settings/settings_store.h"
#include "text/code_page.h"

namespace {

constexpr int kWorkers = 16;
int g_articles = 5000;
std::string g_base;
std::vector<std::string> g_homes;  // the program folders of the runs, removed when all are over

// A streamed chat reply whose article is about 4 KB as the program keeps it (GBK): twenty
// paragraphs of Chinese text, then the usage and the end mark.
std::string StreamedReply() {
    std::string paragraph;
    for (int i = 0; i < 50; ++i) {
        paragraph += "\xe6\xb3\xa1\xe8\x84\x9a\xe7\x9a\x84\xe5\xa5\xbd\xe5\xa4\x84\xe3\x80\x82";  // 泡脚的好处。 (UTF-8)
    }
    const std::string chunk = "data: {\"id\":\"c1\",\"object\":\"chat.completion.chunk\",\"choices\":[{\"index\":0,"
                              "\"delta\":{\"content\":\"" +
                              paragraph + "\\n\\n\"},\"finish_reason\":null}]}\n\n";
    std::string reply;
    for (int i = 0; i < 7; ++i) {
        reply += chunk;
    }
    return reply +
           "data: {\"id\":\"c1\",\"object\":\"chat.completion.chunk\",\"choices\":[{\"index\":0,\"delta\":{},"
           "\"finish_reason\":\"stop\"}],\"usage\":{\"prompt_tokens\":12,\"completion_tokens\":900,"
           "\"total_tokens\":912}}\n\ndata: [DONE]\n\n";
}

pid_t ServeInChild() {
    httplib::Server server;
    const int port = server.bind_to_any_port("127.0.0.1");
    g_base = "http://127.0.0.1:" + std::to_string(port) + "/v1";
    const pid_t child = ::fork();
    if (child == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        const std::string reply = StreamedReply();
        server.new_task_queue = [] { return new httplib::ThreadPool(32); };
        server.set_tcp_nodelay(true);
        server.Post(".*", [&reply](const httplib::Request&, httplib::Response& response) {
            response.set_content(reply, "text/event-stream");
        });
        server.listen_after_bind();
        ::_exit(0);
    }
    return child;
}

// A fresh program folder with the keyword list, made the program folder of this process.
std::string FreshHome() {
    char folder[] = "/tmp/qingjian-bench-window-XXXXXX";
    if (!::mkdtemp(folder)) {
        return {};
    }
    ::setenv("QINGJIAN_HOME", folder, 1);
    qj::Bytes list;
    for (int i = 0; i < g_articles; ++i) {
        list += qj::Utf8ToAnsi("关键词") + std::to_string(i) + "\r\n";
    }
    if (!qj::EnsureFolder(qj::ProgramPath("OpenAi")) || !qj::ReplaceFileContents(qj::ProgramPath(qj::kKeywordListTail), list)) {
        return {};
    }
    return folder;
}

long PeakKilobytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return 0;
}

struct Measured {
    double seconds = 0;
    double stallMs = 0;
    long peakKb = 0;
    int articles = 0;
};

// The batch mode as a user starts it: 配置.ini with interface three at the local service.
Measured RunBatch(bool preview) {
    const qj::Text ini = qj::ProgramPath(qj::kSettingsFileTail);
    bool written = qj::WriteIniValue(ini, qj::kind::kRadio, qj::control::kRadioInterfaceThree, "\xD5\xE6") &&  // 真
                   qj::WriteIniValue(ini, qj::kind::kEdit, qj::control::kEditInterfaceThreeBaseUrl, g_base) &&
                   qj::WriteIniValue(ini, qj::kind::kEdit, qj::control::kEditConcurrency, std::to_string(kWorkers));
    if (preview) {
        written = written && qj::WriteIniValue(ini, qj::kind::kCheck, qj::control::kCheckPreview, "\xD5\xE6");
    }
    if (!written) {
        return {};
    }
    // Every line of the log goes to standard output, as for a user who sends it to a file.
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    std::FILE* sink = std::fopen("/dev/null", "w");
    ::dup2(::fileno(sink), STDOUT_FILENO);
    char arg0[] = "qingjian";
    char arg1[] = "--batch";
    char* argv[] = {arg0, arg1, nullptr};
    const auto start = std::chrono::steady_clock::now();
    const int code = qj::RunBatchMode(2, argv);
    Measured measured;
    measured.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    std::fclose(sink);
    measured.articles = code == qj::kBatchAllDone ? g_articles : 0;
    return measured;
}

// The program's window, offscreen, with the same settings; 开始 clicked, the event loop run until
// the run is over and the window has shown all it was sent.
Measured RunWindow(bool preview) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int argc = 1;
    char arg0[] = "qingjian";
    char* argv[] = {arg0, nullptr};
    QApplication app(argc, argv);
    if (QStyle* style = QStyleFactory::create(QStringLiteral("Fusion"))) {
        QApplication::setStyle(style);
    }
    qj::gui::InstallPendingMessagesHook();
    qj::ApplyBuiltInSkin();
    std::unique_ptr<qj::ToolkitWindow> window = qj::gui::QtWindow::Create(qj::MainWindowLayout(), qj::MainWindowEvents());
    if (!window) {
        return {};
    }
    qj::SetMainWindow(window.get());
    qj::OnMainWindowCreated(*window);
    window->ShowCentred();
    window->SetNumber(qj::control::kRadioInterfaceThree, qj::kPropChecked, 1);
    window->SetText(qj::control::kEditInterfaceThreeBaseUrl, qj::kPropContent, g_base);
    window->SetText(qj::control::kEditConcurrency, qj::kPropContent, std::to_string(kWorkers));
    window->SetNumber(qj::control::kCheckPreview, qj::kPropChecked, preview ? 1 : 0);
    app.processEvents();

    // The longest stretch between two turns of the event loop while the run goes on, seen by a
    // timer that asks for a turn every 10 ms (a finer one would cost the run its own time).
    QElapsedTimer sinceLastTurn;
    qint64 longestGapNs = 0;
    QTimer turns;
    turns.setTimerType(Qt::PreciseTimer);
    turns.setInterval(10);
    QObject::connect(&turns, &QTimer::timeout, [&] {
        longestGapNs = std::max(longestGapNs, sinceLastTurn.nsecsElapsed());
        sinceLastTurn.restart();
    });
    QEventLoop loop;
    QTimer watch;
    watch.setInterval(20);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!qj::GenerationJobRunning()) {
            loop.quit();
        }
    });

    const auto start = std::chrono::steady_clock::now();
    sinceLastTurn.start();
    turns.start();
    watch.start();
    qj::HandleClick(*window, qj::control::kButtonStart);
    loop.exec();
    app.processEvents();  // what the run posted last
    Measured measured;
    measured.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    turns.stop();
    watch.stop();
    measured.stallMs = static_cast<double>(longestGapNs) / 1e6;
    measured.articles = static_cast<int>(window->GetNumber(qj::control::kProgressRun, qj::kPropProgressValue));
    qj::SetMainWindow(nullptr);
    window->Close();
    // The run's thread may still say its last line: the window stays (closed) for it, as in the
    // program.
    static_cast<void>(window.release());
    return measured;
}

// One run in a child process; its figures come back through a pipe.
Measured InChild(const std::function<Measured()>& run) {
    int channel[2];
    if (::pipe(channel) != 0) {
        return {};
    }
    std::fflush(stdout);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        const std::string home = FreshHome();
        Measured measured;
        if (!home.empty()) {
            qj::HttpGlobalInit();
            qj::LoadDeployment(qj::ProgramPath(qj::kSettingsFileTail));
            measured = run();
            measured.peakKb = PeakKilobytes();
        }
        // The folder stays until every run is over: 5,000 files deleted just before the next run
        // creates its own would slow that run's file creation (the file system reuses what was just
        // freed), and the first run of all would be the only one spared.
        const std::string figures = std::to_string(measured.seconds) + " " + std::to_string(measured.stallMs) + " " +
                                    std::to_string(measured.peakKb) + " " + std::to_string(measured.articles) + " " +
                                    home;
        static_cast<void>(::write(channel[1], figures.data(), figures.size()));
        ::_exit(0);
    }
    ::close(channel[1]);
    std::string figures;
    char buffer[256];
    for (ssize_t n; (n = ::read(channel[0], buffer, sizeof buffer)) > 0;) {
        figures.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(channel[0]);
    ::waitpid(child, nullptr, 0);
    Measured measured;
    char home[256] = {};
    if (std::sscanf(figures.c_str(), "%lf %lf %ld %d %255s", &measured.seconds, &measured.stallMs, &measured.peakKb,
                    &measured.articles, home) == 5) {
        g_homes.emplace_back(home);
    }
    return measured;
}

}  // namespace

int main() {
    if (const char* count = std::getenv("QJ_BENCH_KEYWORDS")) {
        g_articles = std::max(1, std::atoi(count));
    }
    const pid_t service = ServeInChild();
    // One kind of run alone in this process (to profile it): batch, window or preview.
    if (const char* mode = std::getenv("QJ_BENCH_WINDOW_MODE")) {
        const std::string which = mode;
        const std::string home = FreshHome();
        qj::HttpGlobalInit();
        const Measured m = which == "batch" ? RunBatch(false) : RunWindow(which == "preview");
        std::printf("%s: %.2f s, stall %.1f ms, %d articles\n", mode, m.seconds, m.stallMs, m.articles);
        ::kill(service, SIGTERM);
        std::filesystem::remove_all(home);
        return 0;
    }
    // Rounds of the three runs one after the other, so that the load of the machine meets them
    // alike; each run's best round counts (its stall and memory: the worst).
    Measured batch, window, previewed;
    const auto keep = [](Measured& best, const Measured& m) {
        if (best.articles == 0 || (m.articles != 0 && m.seconds < best.seconds)) {
            const Measured worst{.stallMs = std::max(best.stallMs, m.stallMs), .peakKb = std::max(best.peakKb, m.peakKb)};
            best = m;
            best.stallMs = worst.stallMs;
            best.peakKb = worst.peakKb;
        } else {
            best.stallMs = std::max(best.stallMs, m.stallMs);
            best.peakKb = std::max(best.peakKb, m.peakKb);
        }
    };
    const int rounds = std::getenv("QJ_BENCH_ROUNDS") ? std::max(1, std::atoi(std::getenv("QJ_BENCH_ROUNDS"))) : 3;
    for (int round = 0; round < rounds; ++round) {
        keep(batch, InChild([] { return RunBatch(false); }));
        keep(window, InChild([] { return RunWindow(false); }));
        keep(previewed, InChild([] { return RunWindow(true); }));
    }
    ::kill(service, SIGTERM);
    ::waitpid(service, nullptr, 0);
    for (const std::string& home : g_homes) {
        std::filesystem::remove_all(home);
    }

    std::printf("%-34s %8s %10s %10s %9s\n", "run", "seconds", "stall ms", "peak MB", "articles");
    for (const auto& [name, m] : {std::pair{"batch", batch}, {"window", window}, {"window with preview", previewed}}) {
        std::printf("%-34s %8.2f %10.1f %10.1f %9d\n", name, m.seconds, m.stallMs, m.peakKb / 1024.0, m.articles);
    }
    if (batch.articles != g_articles || window.articles != g_articles || previewed.articles != g_articles) {
        std::printf("window bench: not every run wrote every article\n");
        return 1;
    }
    std::printf("window over batch, %d articles, %d workers: %.1f\n", g_articles, kWorkers, window.seconds / batch.seconds);
    std::printf("window with preview over batch: %.1f\n", previewed.seconds / batch.seconds);
    std::printf("longest window stall with preview: %.0f ms\n", previewed.stallMs);
    std::printf("window memory with preview: %.0f MB\n", previewed.peakKb / 1024.0);
    return 0;
}
