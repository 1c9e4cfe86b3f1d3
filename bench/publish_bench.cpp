// 200 posts to one local WordPress (scripts/wordpress-peer.sh, started and stopped here), four at a
// time: through the publisher (journal, post, confirmation by asking the site again, ledger), and
// through a bare libcurl loop of four threads that only sends the same posts, as the baseline.

#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <thread>

#include "bench/bench_report.h"
#include "http/base64.h"
#include "http/http_instance.h"
#include "platform/file_system.h"
#include "publishing/article.h"
#include "publishing/publisher.h"
#include "text/code_page.h"

namespace {

using namespace qj;

constexpr int kPosts = 200;
constexpr int kConcurrency = 4;
constexpr int kRounds = 9;

std::map<std::string, std::string> g_peer;  // url, user, app-password
int g_round = 0;

// An article of about 2 KB: a title line and paragraphs.
Text ArticleText(int round, int k) {
    Text text = "性能测试" + std::to_string(round) + "-" + std::to_string(k) + "\r\n";
    for (int p = 0; p < 6; ++p) {
        for (int c = 0; c < 12; ++c) {
            text += "春天来了，草木发芽，";
        }
        text += "结束。\r\n";
    }
    return text;
}

// A fresh program folder holding this round's articles.
std::filesystem::path NewHome(int round) {
    const std::filesystem::path home = std::filesystem::path(QJ_BENCH_PEER_FOLDER) / ("home-" + std::to_string(round));
    std::filesystem::remove_all(home);
    std::filesystem::create_directories(home / "OpenAi" / u8"生成内容");
    for (int k = 0; k < kPosts; ++k) {
        std::ofstream(home / "OpenAi" / u8"生成内容" / ("a" + std::to_string(k) + ".txt"), std::ios::binary)
            << ArticleText(round, k);
    }
    return home;
}

size_t Collect(char* data, size_t size, size_t count, void* body) {
    static_cast<std::string*>(body)->append(data, size * count);
    return size * count;
}

void BareLibcurl(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        const int round = ++g_round;
        std::vector<std::string> bodies;
        for (int k = 0; k < kPosts; ++k) {
            const publishing::Article article = publishing::MakeArticle("a.txt", "a", ArticleText(round, k));
            // The same post the publisher sends: title, content, status.
            bodies.push_back(nlohmann::json{{"title", GbkToWire(article.title)},
                                            {"content", GbkToWire(article.html)},
                                            {"status", "publish"}}
                                 .dump());
        }
        const std::string url = g_peer["url"] + "/wp-json/wp/v2/posts?_fields=id,link";
        const std::string authorization =
            "Authorization: Basic " + Base64Encode(g_peer["user"] + ":" + g_peer["app-password"]);
        std::atomic<int> next{0};
        std::atomic<int> created{0};
        state.ResumeTiming();
        std::vector<std::thread> threads;
        for (int t = 0; t < kConcurrency; ++t) {
            threads.emplace_back([&] {
                CURL* easy = curl_easy_init();
                curl_slist* headers = nullptr;
                for (const char* line : {authorization.c_str(), "Content-Type: application/json; charset=UTF-8",
                                         "Accept: application/json", "Expect:"}) {
                    headers = curl_slist_append(headers, line);
                }
                std::string answer;
                curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
                curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
                curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, Collect);
                curl_easy_setopt(easy, CURLOPT_WRITEDATA, &answer);
                for (int k = next++; k < kPosts; k = next++) {
                    answer.clear();
                    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, bodies[k].c_str());
                    long status = 0;
                    if (curl_easy_perform(easy) == CURLE_OK &&
                        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK && status == 201) {
                        ++created;
                    }
                }
                curl_slist_free_all(headers);
                curl_easy_cleanup(easy);
            });
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
        if (created != kPosts) {
            state.SkipWithError("the bare loop did not create every post");
        }
    }
}

class Silent : public publishing::PublishObserver {
public:
    void Log(const Text&) override {}
};

void Publisher(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        const std::filesystem::path home = NewHome(++g_round);
        publishing::PublishTexts texts;
        texts.sites = "wordpress " + g_peer["url"] + " " + g_peer["user"] + " " + g_peer["app-password"];
        publishing::PublishSettings settings = publishing::ReadPublishSettings(texts, "").settings;
        settings.workersPerSite = kConcurrency;
        Silent observer;
        std::atomic<bool> stop{false};
        state.ResumeTiming();
        publishing::Publisher publisher(settings,
                                        publishing::PublishFiles::InProgramFolder(
                                            WireToGbk(reinterpret_cast<const char*>(home.u8string().c_str()))),
                                        observer, stop, [](int, const Text&) { return std::chrono::seconds(1); });
        if (publisher.Start()) {
            state.SkipWithError("the publisher did not start");
            continue;
        }
        publisher.PublishFolder();
        if (publisher.Finish().published != kPosts) {
            state.SkipWithError("the publisher did not publish every post");
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN);
    HttpGlobalInit();
    const std::string peer = QJ_WORDPRESS_PEER;
    const std::string folder = QJ_BENCH_PEER_FOLDER;
    // A new site every time: one that earlier runs filled would slow both sides down.
    std::system(("'" + peer + "' stop '" + folder + "'").c_str());
    std::filesystem::remove_all(folder);
    if (std::system(("'" + peer + "' start '" + folder + "' >/dev/null").c_str()) != 0) {
        std::printf("publish bench: the WordPress peer did not start\n");
        return 1;
    }
    std::ifstream in(folder + "/wordpress.txt");
    for (std::string line; std::getline(in, line);) {
        const std::size_t space = line.find(' ');
        g_peer[line.substr(0, space)] = line.substr(space + 1);
    }
    // The two take turns, each going first in every other round, so that both meet a site of the
    // same size (every round makes it larger).
    for (int round = 0; round < kRounds; ++round) {
        const auto bare = [&] {
            benchmark::RegisterBenchmark(("BareLibcurl/" + std::to_string(round)).c_str(), BareLibcurl)
                ->Iterations(1)
                ->UseRealTime()
                ->Unit(benchmark::kMillisecond);
        };
        const auto publisher = [&] {
            benchmark::RegisterBenchmark(("Publisher/" + std::to_string(round)).c_str(), Publisher)
                ->Iterations(1)
                ->UseRealTime()
                ->Unit(benchmark::kMillisecond);
        };
        if (round % 2 == 0) {
            bare();
            publisher();
        } else {
            publisher();
            bare();
        }
    }
    const auto report = bench::RunAll(argc, argv);
    std::system(("'" + peer + "' stop '" + folder + "'").c_str());

    // The median of the rounds' ratios, the steadiest figure on a shared machine.
    std::vector<double> ratios;
    for (int round = 0; round < kRounds; ++round) {
        const double publisher = report.SecondsOf("Publisher/" + std::to_string(round) + "/iterations:1/real_time");
        if (publisher > 0) {
            ratios.push_back(report.SecondsOf("BareLibcurl/" + std::to_string(round) + "/iterations:1/real_time") /
                             publisher);
        }
    }
    if (!ratios.empty()) {
        std::sort(ratios.begin(), ratios.end());
        std::printf("publish throughput over bare curl: %.1f\n", ratios[ratios.size() / 2]);
    }
    return 0;
}
