#pragma once

// A chat-completion service on 127.0.0.1 whose replies are scripted per keyword: a whole article,
// an article cut off at the length limit and its rest, a refusal, a reply stopped by review (as a
// finish reason or as an error reply), a short reply, an article with a banned word, a near copy of
// another keyword's article. Without a script a keyword gets its own article, different from every
// other keyword's. The keyword is the first line of a request's first user message (the tests'
// prompt is "{关键词}"). Replies are streamed as the services stream them. Every request is kept.

#ifdef _WIN32
#include <winsock2.h>
#endif
#include <httplib.h>
#ifdef _WIN32
#undef MessageBox
#endif

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qj::testing {

class ArticleService {
public:
    enum class Reply {
        kArticle,      // the keyword's article, finish_reason stop
        kCutOff,       // its first half, finish_reason length
        kRest,         // its second half (the answer to a continuation), finish_reason stop
        kRefusal,      // a refusal in Chinese
        kFiltered,     // a few words, finish_reason content_filter
        kReviewError,  // HTTP 400 with a review code
        kShort,        // one short sentence
        kBanned,       // the article with `word` in its middle
        kCopy,         // the article of keyword `word` with one character changed
    };
    struct Step {
        Reply reply = Reply::kArticle;
        std::string word{};  // UTF-8
    };
    struct Request {
        std::string keyword;  // UTF-8
        std::string body;
    };

    ArticleService() {
        server_.Post("/v1/chat/completions", [this](const httplib::Request& request, httplib::Response& response) {
            Answer(request, response);
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    ~ArticleService() {
        server_.stop();
        thread_.join();
    }

    std::string Base() const { return "http://127.0.0.1:" + std::to_string(port_) + "/v1"; }

    // The replies to a keyword's requests from now on, one step per request (continuations
    // included); the last step answers every further request.
    void Script(const std::string& keyword, std::vector<Step> steps) {
        std::lock_guard lock(mutex_);
        scripts_[keyword] = {std::move(steps), 0};
    }

    std::vector<Request> Requests() {
        std::lock_guard lock(mutex_);
        return requests_;
    }

    // The requests of one keyword, in order.
    std::vector<std::string> BodiesOf(const std::string& keyword) {
        std::vector<std::string> bodies;
        for (const Request& r : Requests()) {
            if (r.keyword == keyword) {
                bodies.push_back(r.body);
            }
        }
        return bodies;
    }

    // A keyword's article (UTF-8): about 600 Chinese characters in sentences and paragraphs, made
    // from the keyword alone.
    static std::string ArticleOf(const std::string& keyword) { return Joined(CharactersOf(keyword)); }

    // The texts of the replies that are no articles (UTF-8, whatever the tests' literals are).
    static std::string Utf8(const char8_t* text) { return reinterpret_cast<const char*>(text); }
    static std::string Refusal() { return Utf8(u8"作为一个人工智能语言模型，我无法为您撰写这篇文章。"); }
    static std::string ShortReply() { return Utf8(u8"好处很多。"); }

private:
    // UTF-8 characters, one string each.
    static std::vector<std::string> CharactersOf(const std::string& keyword) {
        std::uint64_t state = 1469598103934665603ull;
        for (const char c : keyword) {
            state = (state ^ static_cast<unsigned char>(c)) * 1099511628211ull;
        }
        const auto next = [&state] {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            return state;
        };
        std::vector<std::string> characters;
        for (int sentence = 0; characters.size() < 600; ++sentence) {
            for (int i = 8 + static_cast<int>(next() % 20); i > 0; --i) {
                // CJK unified ideographs, all of which GBK holds.
                const std::uint32_t code = 0x4E00 + static_cast<std::uint32_t>(next() % (0x9FA5 - 0x4E00));
                characters.push_back({static_cast<char>(0xE0 | code >> 12),
                                      static_cast<char>(0x80 | (code >> 6 & 0x3F)),
                                      static_cast<char>(0x80 | (code & 0x3F))});
            }
            characters.push_back(sentence % 3 == 2 ? "\xE3\x80\x82" : "\xEF\xBC\x8C");  // 。 or ，
            if (sentence % 5 == 4) {
                characters.push_back("\n");
            }
        }
        return characters;
    }

    static std::string Joined(const std::vector<std::string>& characters, std::size_t from = 0,
                              std::size_t to = std::string::npos) {
        std::string text;
        for (std::size_t i = from; i < characters.size() && i < to; ++i) {
            text += characters[i];
        }
        return text;
    }

    static std::string Escaped(const std::string& text) {
        std::string escaped;
        for (const char c : text) {
            escaped += c == '\n' ? std::string("\\n") : c == '"' ? std::string("\\\"") : std::string(1, c);
        }
        return escaped;
    }

    // The first line of the first user message, as the JSON writer put it.
    static std::string KeywordOf(const std::string& body) {
        const std::string marker = "\"role\":\"user\",\"content\":\"";
        const std::size_t at = body.find(marker);
        if (at == std::string::npos) {
            return {};
        }
        const std::size_t from = at + marker.size();
        std::size_t end = body.find('"', from);
        end = std::min(end, body.find("\\n", from));
        end = std::min(end, body.find("\\r", from));
        return body.substr(from, end - from);
    }

    static std::string Stream(const std::string& text, const std::string& finishReason) {
        std::string stream;
        // Pieces of about 60 bytes, cut between characters.
        for (std::size_t from = 0; from < text.size();) {
            std::size_t to = std::min(text.size(), from + 60);
            while (to < text.size() && (static_cast<unsigned char>(text[to]) & 0xC0) == 0x80) {
                ++to;
            }
            stream += R"(data: {"choices":[{"index":0,"delta":{"content":")" + Escaped(text.substr(from, to - from)) +
                      R"("},"finish_reason":null}]})"
                      "\n\n";
            from = to;
        }
        return stream + R"(data: {"choices":[{"index":0,"delta":{},"finish_reason":")" + finishReason +
               R"("}],"usage":{"prompt_tokens":20,"completion_tokens":300,"total_tokens":320}})"
               "\n\n" +
               "data: [DONE]\n\n";
    }

    void Answer(const httplib::Request& request, httplib::Response& response) {
        const std::string keyword = KeywordOf(request.body);
        Step step;
        {
            std::lock_guard lock(mutex_);
            requests_.push_back({keyword, request.body});
            if (auto it = scripts_.find(keyword); it != scripts_.end() && !it->second.first.empty()) {
                auto& [steps, next] = it->second;
                step = steps[std::min(next, steps.size() - 1)];
                ++next;
            }
        }
        const std::vector<std::string> characters = CharactersOf(keyword);
        const std::size_t half = characters.size() / 2;
        std::string text;
        std::string finish = "stop";
        switch (step.reply) {
            case Reply::kArticle:
                text = Joined(characters);
                break;
            case Reply::kCutOff:
                text = Joined(characters, 0, half);
                finish = "length";
                break;
            case Reply::kRest:
                text = Joined(characters, half);
                break;
            case Reply::kRefusal:
                text = Refusal();
                break;
            case Reply::kFiltered:
                text = Utf8(u8"关于这个话题");
                finish = "content_filter";
                break;
            case Reply::kReviewError:
                response.status = 400;
                response.set_content(
                    R"({"code":"DataInspectionFailed","message":"Input data may contain inappropriate content."})",
                    "application/json");
                return;
            case Reply::kShort:
                text = ShortReply();
                break;
            case Reply::kBanned:
                text = Joined(characters, 0, half) + step.word + Joined(characters, half);
                break;
            case Reply::kCopy: {
                std::vector<std::string> copy = CharactersOf(step.word);
                copy[copy.size() / 2] = "\xE5\x8F\x98";  // 变
                text = Joined(copy);
                break;
            }
        }
        response.set_content(Stream(text, finish), "text/event-stream");
    }

    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::map<std::string, std::pair<std::vector<Step>, std::size_t>> scripts_;
    std::vector<Request> requests_;
};

}  // namespace qj::testing
