#pragma once

// The real sites the publishing tests publish to, started by the test run (the ctest fixture
// publishing_peers: scripts/wordpress-peer.sh and scripts/form-site-peer.sh) in the folder that the
// build names QJ_PUBLISHING_PEERS; and what the tests need around a publication: articles in a program
// folder, an observer that keeps the log, a look at the site's own records.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "http/base64.h"
#include "http/http_request.h"
#include "publishing/publisher.h"
#include "temporary_home.h"
#include "test_environment.h"
#include "text/code_page.h"

namespace qj::testing {

// "name value" lines of a peer file; the value is the rest of the line.
inline std::map<std::string, std::string> PeerFile([[maybe_unused]] const char* name) {
    std::map<std::string, std::string> values;
#if defined(QJ_PUBLISHING_PEERS)
    std::ifstream in(std::filesystem::path(QJ_PUBLISHING_PEERS) / name);
#else
    std::ifstream in;
#endif
    for (std::string line; std::getline(in, line);) {
        const std::size_t space = line.find(' ');
        if (space != std::string::npos) {
            values[line.substr(0, space)] = line.substr(space + 1);
        }
    }
    return values;
}

struct WordPressPeer {
    std::string url;
    std::string user;
    std::string appPassword;  // as WordPress shows it, with spaces

    // The site's line of the site box.
    std::string SiteLine() const { return "wordpress " + url + " " + user + " " + appPassword; }

    // GET of a REST route ("/wp/v2/posts?...") as the administrator; the JSON answer.
    nlohmann::json Get(const std::string& routeAndQuery) const {
        HttpRequestParams params;
        params.url = url + "/wp-json" + routeAndQuery;
        params.headers = "Authorization: Basic " + Base64Encode(user + ":" + appPassword);
        params.timeoutSeconds = 60;
        const Bytes body = HttpRequest(params).value_or(HttpResponse{}).body;
        return nlohmann::json::parse(body, nullptr, false);
    }

    // Every post (any status but the bin) whose title is exactly `title` (UTF-8).
    std::vector<nlohmann::json> PostsTitled(const std::string& title) const {
        std::vector<nlohmann::json> posts;
        const nlohmann::json found =
            Get("/wp/v2/posts?status=any&context=edit&per_page=100&search=" + UrlEncode(title, true, false));
        if (found.is_array()) {
            for (const nlohmann::json& post : found) {
                if (post["title"]["raw"] == title) {
                    posts.push_back(post);
                }
            }
        }
        return posts;
    }
};

inline WordPressPeer WordPress() {
    auto values = PeerFile("wordpress.txt");
    return {values["url"], values["user"], values["app-password"]};
}

inline std::string FormSiteUrl() {
    return PeerFile("form-site.txt")["url"];
}

// A name no other test (nor an earlier run of this one) uses: `prefix` and random digits.
inline std::string UniqueName(const std::string& prefix) {
    static std::mt19937_64 generator{std::random_device{}() ^
                                     static_cast<unsigned long long>(
                                         std::chrono::steady_clock::now().time_since_epoch().count())};
    return prefix + std::to_string(generator() % 1000000000000ULL);
}

// A publication's log, kept; calls may come from several threads.
class KeptLog : public publishing::PublishObserver {
public:
    void Log(const Text& line) override {
        std::lock_guard lock(mutex_);
        lines_.push_back(line);
    }
    std::vector<Text> Lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    // Whether a line holds `part` (GBK).
    bool Holds(const Text& part) {
        for (const Text& line : Lines()) {
            if (line.find(part) != Text::npos) {
                return true;
            }
        }
        return false;
    }
    // The whole log as UTF-8, for a failure message.
    std::string Utf8() {
        std::string all;
        for (const Text& line : Lines()) {
            all += GbkToWire(line) + "\n";
        }
        return all;
    }

private:
    std::mutex mutex_;
    std::vector<Text> lines_;
};

// A program folder with articles in its output folder.
class PublishingHome : public TemporaryHome {
public:
    std::filesystem::path OpenAi() const { return Path() / "OpenAi"; }
    std::filesystem::path Articles() const { return OpenAi() / u8"生成内容"; }

    // Writes an article file (name and content GBK).
    void AddArticle(const Text& fileName, const Text& content) const {
        std::filesystem::create_directories(Articles());
        WriteBytes(Articles() / std::filesystem::path(reinterpret_cast<const char8_t*>(GbkToWire(fileName).c_str())),
                   content);
    }
    std::string Read(const char8_t* name) const { return ReadBytes(OpenAi() / name); }
    std::vector<std::string> LedgerLines() const { return Lines(Read(u8"发布记录.txt")); }

    static std::vector<std::string> Lines(const std::string& text) {
        std::vector<std::string> lines;
        for (std::size_t start = 0; start < text.size();) {
            std::size_t end = text.find("\r\n", start);
            if (end == std::string::npos) {
                end = text.size();
            }
            lines.push_back(text.substr(start, end - start));
            start = end + 2;
        }
        return lines;
    }

    // The program folder as the core names it (GBK).
    Text Folder() const { return WireToGbk(reinterpret_cast<const char*>(Path().u8string().c_str())); }
};

// One publication of the folder's unpublished articles, from start to finish.
inline publishing::PublishSummary PublishFolder(const PublishingHome& home, publishing::PublishSettings settings,
                                                KeptLog& log, int* handed = nullptr) {
    std::atomic<bool> stop{false};
    publishing::Publisher publisher(std::move(settings), publishing::PublishFiles::InProgramFolder(home.Folder()), log,
                                    stop, [](int, const Text&) { return std::chrono::milliseconds(20); });
    if (std::optional<Error> error = publisher.Start()) {
        log.Log("start failed: " + Describe(*error));
        return {};
    }
    const int count = publisher.PublishFolder();
    if (handed) {
        *handed = count;
    }
    return publisher.Finish();
}

// Settings read from the page's texts, as a run reads them.
inline publishing::PublishSettings Settings(const PublishingHome& home, const Text& sites,
                                            const Text& status = "发布", const Text& categories = {},
                                            const Text& tags = {}) {
    publishing::PublishTexts texts;
    texts.sites = sites;
    texts.status = status;
    texts.categories = categories;
    texts.tags = tags;
    publishing::PublishSettingsReading reading = publishing::ReadPublishSettings(texts, home.Folder());
    for (const Text& problem : reading.problems) {
        ADD_FAILURE() << GbkToWire(problem);
    }
    return reading.settings;
}

}  // namespace qj::testing
