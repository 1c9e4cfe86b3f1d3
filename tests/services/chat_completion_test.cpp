#include "services/chat_completion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <nlohmann/json.hpp>
#include <thread>

#include "chat_test_server.h"
#include "services/chat_urls.h"
#include "services/chat_key_check.h"
#include "services/prompt_template.h"
#include "local_servers.h"
#include "text/code_page.h"

namespace qj {
namespace {

using testing::HttpReply;
using testing::kSseDone;
using testing::SendChunkedStream;
using testing::SseChunk;
using testing::SseUsage;

const Text kOpenAiBase = "https://api.openai.com/v1";

TEST(ResolveChatEndpoints, BaseUrlsAsUsersTypeThem) {
    const struct {
        Text typed;
        Text chat;
        Text models;
    } cases[] = {
        {"", "https://api.openai.com/v1/chat/completions", "https://api.openai.com/v1/models"},
        {"  \r\n", "https://api.openai.com/v1/chat/completions", "https://api.openai.com/v1/models"},
        {"https://api.deepseek.com/v1", "https://api.deepseek.com/v1/chat/completions",
         "https://api.deepseek.com/v1/models"},
        {" https://api.moonshot.cn/v1// ", "https://api.moonshot.cn/v1/chat/completions",
         "https://api.moonshot.cn/v1/models"},
        {"http://localhost:11434", "http://localhost:11434/v1/chat/completions", "http://localhost:11434/v1/models"},
        {"https://dashscope.aliyuncs.com/compatible-mode/v1/chat/completions",
         "https://dashscope.aliyuncs.com/compatible-mode/v1/chat/completions",
         "https://dashscope.aliyuncs.com/compatible-mode/v1/models"},
        {"HTTPS://relay.example/v1/Chat/Completions/", "HTTPS://relay.example/v1/Chat/Completions",
         "HTTPS://relay.example/v1/models"},
        {"https://x.example/openai/v1?api-version=2024-06-01",
         "https://x.example/openai/v1/chat/completions?api-version=2024-06-01",
         "https://x.example/openai/v1/models?api-version=2024-06-01"},
    };
    for (const auto& c : cases) {
        const ChatEndpoints endpoints = ResolveChatEndpoints(c.typed, kOpenAiBase);
        EXPECT_EQ(endpoints.error, "") << c.typed;
        EXPECT_EQ(endpoints.chatUrl, c.chat) << c.typed;
        EXPECT_EQ(endpoints.modelsUrl, c.models) << c.typed;
    }
    EXPECT_NE(ResolveChatEndpoints("api.deepseek.com/v1", kOpenAiBase).error.find("http://"), Text::npos);
    EXPECT_NE(ResolveChatEndpoints("ftp://x.example", kOpenAiBase).error, "");
    EXPECT_NE(ResolveChatEndpoints("https:///v1", kOpenAiBase).error, "");
}

TEST(ResolveInterfaceThree, DefaultsAndSettingsThatCannotWork) {
    ResolvedInterfaceThree resolved = ResolveInterfaceThree({}, kOpenAiBase);
    EXPECT_EQ(resolved.error, "");
    EXPECT_EQ(resolved.config.model, "gpt-4o-mini");
    EXPECT_EQ(resolved.config.promptTemplate, BuiltInPromptTemplate());
    EXPECT_TRUE(MentionsKeyword(BuiltInPromptTemplate()));
    EXPECT_EQ(resolved.config.systemPrompt, "");
    EXPECT_FALSE(resolved.config.temperature);

    InterfaceThreeSettings settings;
    settings.model = " deepseek-chat ";
    settings.temperature = " 0.7 ";
    settings.promptTemplate = "  \r\n";
    resolved = ResolveInterfaceThree(settings, kOpenAiBase);
    EXPECT_EQ(resolved.error, "");
    EXPECT_EQ(resolved.config.model, "deepseek-chat");
    EXPECT_EQ(resolved.config.temperature, 0.7);
    EXPECT_EQ(resolved.config.promptTemplate, BuiltInPromptTemplate());

    settings.temperature = "0.7度";
    EXPECT_NE(ResolveInterfaceThree(settings, kOpenAiBase).error.find("温度必须是数字"), Text::npos);
    settings.temperature = "nan";
    EXPECT_NE(ResolveInterfaceThree(settings, kOpenAiBase).error, "");
    settings.temperature = "";
    settings.promptTemplate = "写一篇文章";
    EXPECT_NE(ResolveInterfaceThree(settings, kOpenAiBase).error.find("{关键词}"), Text::npos);
    settings.systemPrompt = "你是{关键词}方面的专家";  // the keyword in the system message is enough
    EXPECT_EQ(ResolveInterfaceThree(settings, kOpenAiBase).error, "");
    settings.baseUrl = "localhost:8080";
    EXPECT_NE(ResolveInterfaceThree(settings, kOpenAiBase).error.find("API地址"), Text::npos);
}

TEST(ChatRequestBody, AJsonBodyBuiltFromTheSettings) {
    ChatRequestConfig config;
    config.model = "qwen-plus";
    config.promptTemplate = "关键词：{关键词}\r\n再说一次：{关键词}";
    config.systemPrompt = "你是作者，只写{关键词}";
    config.temperature = 0.3;
    // A keyword that would break a hand-made body, and one with a double-byte character ending in
    // a backslash byte.
    const Text keyword = "say \"hi\"\\ 誠";
    const nlohmann::json body = nlohmann::json::parse(ChatRequestBody(config, keyword));
    EXPECT_EQ(body["model"], "qwen-plus");
    EXPECT_EQ(body["stream"], true);
    EXPECT_EQ(body["stream_options"]["include_usage"], true);
    EXPECT_DOUBLE_EQ(body["temperature"].get<double>(), 0.3);
    ASSERT_EQ(body["messages"].size(), 2u);
    EXPECT_EQ(body["messages"][0]["role"], "system");
    EXPECT_EQ(body["messages"][0]["content"], AnsiToUtf8("你是作者，只写" + keyword));
    EXPECT_EQ(body["messages"][1]["role"], "user");
    EXPECT_EQ(body["messages"][1]["content"], AnsiToUtf8("关键词：" + keyword + "\n再说一次：" + keyword));

    config.systemPrompt.clear();
    config.temperature.reset();
    const nlohmann::json plain = nlohmann::json::parse(ChatRequestBody(config, "k"));
    EXPECT_EQ(plain["messages"].size(), 1u);
    EXPECT_FALSE(plain.contains("temperature"));

    EXPECT_EQ(ChatRequestHeaders(" sk-1\r\n", true),
              "Content-Type: application/json\r\nAccept: text/event-stream, application/json\r\n"
              "User-Agent: Qingjian/1.0\r\nAuthorization: Bearer sk-1");
    EXPECT_EQ(ChatRequestHeaders("", false), "Accept: application/json\r\nUser-Agent: Qingjian/1.0");
}

// A server of the protocol that answers every request with `reply` and records what it got.
class ChatServer {
public:
    explicit ChatServer(test::RawServer::Responder responder) : server_(std::move(responder)) {}
    Text Base(const std::string& path = "/v1") const { return server_.Url(path); }
    std::vector<test::RawRequest> Requests() { return server_.Requests(); }

private:
    test::RawServer server_;
};

ChatRequestConfig ConfigFor(const Text& base) {
    const ResolvedInterfaceThree resolved = ResolveInterfaceThree({.baseUrl = base}, kOpenAiBase);
    EXPECT_EQ(resolved.error, "");
    return resolved.config;
}

TEST(RequestChatCompletion, AStreamedReplyBecomesTheText) {
    ChatServer server([](int socket, const test::RawRequest&) {
        const std::string stream = SseChunk(AnsiToUtf8("第一段")) + SseChunk("\\n\\n") +
                                   SseChunk(AnsiToUtf8("第二段") + "\\ud83d\\ude00") + SseUsage(20, 30) + kSseDone;
        test::RawServer::Send(socket, HttpReply(200, "text/event-stream", stream));
    });
    ChatRequestConfig config = ConfigFor(server.Base());
    config.model = "m1";
    config.promptTemplate = "写{关键词}";
    const GenerationOutcome outcome = RequestChatCompletion(config, "苹果", "sk-abc");
    EXPECT_TRUE(outcome.ok) << outcome.errorDetail;
    EXPECT_EQ(outcome.text, "第一段\r\n\r\n第二段?");
    EXPECT_EQ(outcome.status, 200);
    EXPECT_FALSE(outcome.transient);
    ASSERT_TRUE(outcome.usage);
    EXPECT_EQ(outcome.usage->promptTokens, 20);
    EXPECT_EQ(outcome.usage->completionTokens, 30);
    EXPECT_EQ(outcome.usage->totalTokens, 50);

    const std::vector<test::RawRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].RequestLine(), "POST /v1/chat/completions HTTP/1.1");
    const std::vector<std::string> lines = requests[0].HeaderLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Authorization: Bearer sk-abc"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Content-Type: application/json"), lines.end());
    const nlohmann::json body = nlohmann::json::parse(requests[0].body);
    EXPECT_EQ(body["model"], "m1");
    EXPECT_EQ(body["messages"][0]["content"], AnsiToUtf8("写苹果"));
}

TEST(RequestChatCompletion, AServerThatIgnoresStreamAndOneWithoutUsage) {
    ChatServer plain([](int socket, const test::RawRequest&) {
        test::RawServer::Send(
            socket, HttpReply(200, "application/json",
                              "{\"object\":\"chat.completion\",\"choices\":[{\"message\":{\"role\":\"assistant\","
                              "\"content\":\"" +
                                  AnsiToUtf8("整篇") + "\\r\\n" + AnsiToUtf8("文章") +
                                  "\"},\"finish_reason\":\"stop\"}],\"usage\":{\"prompt_tokens\":3,"
                                  "\"completion_tokens\":4,\"total_tokens\":7}}"));
    });
    GenerationOutcome outcome = RequestChatCompletion(ConfigFor(plain.Base()), "k", "");
    EXPECT_TRUE(outcome.ok) << outcome.errorDetail;
    EXPECT_EQ(outcome.text, "整篇\r\n文章");
    ASSERT_TRUE(outcome.usage);
    EXPECT_EQ(outcome.usage->totalTokens, 7);
    // No key: no Authorization line at all (local servers need none).
    for (const std::string& line : plain.Requests().at(0).HeaderLines()) {
        EXPECT_NE(line.rfind("Authorization", 0), 0u) << line;
    }

    ChatServer noUsage([](int socket, const test::RawRequest&) {
        test::RawServer::Send(socket, HttpReply(200, "text/event-stream", SseChunk("x") + kSseDone));
    });
    outcome = RequestChatCompletion(ConfigFor(noUsage.Base()), "k", "key");
    EXPECT_TRUE(outcome.ok);
    EXPECT_EQ(outcome.text, "x");
    EXPECT_FALSE(outcome.usage);
}

TEST(RequestChatCompletion, AStreamSplitAtAwkwardBytes) {
    const std::string character = AnsiToUtf8("汉");  // three bytes
    const std::string stream = SseChunk("A" + character + "B") + SseChunk("C") + SseUsage(1, 2) + kSseDone;
    const std::size_t inCharacter = stream.find(character) + 1;
    const std::size_t inSecondEvent = stream.find("data:", inCharacter) + 20;
    const std::size_t betweenCrAndLf = stream.find("\n\n", inSecondEvent) + 1;
    ChatServer server([&](int socket, const test::RawRequest&) {
        SendChunkedStream(
            socket, {stream.substr(0, inCharacter), stream.substr(inCharacter, inSecondEvent - inCharacter),
                     stream.substr(inSecondEvent, betweenCrAndLf - inSecondEvent), stream.substr(betweenCrAndLf)});
    });
    const GenerationOutcome outcome = RequestChatCompletion(ConfigFor(server.Base()), "k", "key");
    EXPECT_TRUE(outcome.ok) << outcome.errorDetail;
    EXPECT_EQ(outcome.text, "A汉BC");
    ASSERT_TRUE(outcome.usage);
    EXPECT_EQ(outcome.usage->totalTokens, 3);
}

TEST(RequestChatCompletion, ErrorRepliesAreFailuresWithTheServiceMessage) {
    const struct {
        int status;
        std::string extraHeaders;
        std::string body;
        Text detail;
        bool transient;
        std::optional<int> retryAfter;
    } cases[] = {
        {401, "",
         "{\"error\":{\"message\":\"Incorrect API key provided: sk-x.\",\"type\":\"invalid_request_error\",\"code\":"
         "\"invalid_api_key\"}}",
         "Incorrect API key provided: sk-x.（HTTP 401）", false, std::nullopt},
        {429, "Retry-After: 20\r\n",
         "{\"error\":{\"message\":\"Rate limit reached for requests\",\"type\":\"requests\"}}",
         "Rate limit reached for requests（HTTP 429）", true, 20},
        // A used-up quota is as final as a refused key, whatever the Retry-After.
        {429, "Retry-After: 20\r\n",
         "{\"error\":{\"message\":\"You exceeded your current quota.\",\"type\":\"insufficient_quota\"}}",
         "You exceeded your current quota.（HTTP 429）", false, 20},
        {429, "", "{\"error\":{\"message\":\"" + AnsiToUtf8("用户额度不足") + "\",\"type\":\"one_api_error\"}}",
         "用户额度不足（HTTP 429）", false, std::nullopt},
        {500, "", "{\"error\":{\"message\":\"" + AnsiToUtf8("服务器内部错误") + "\"}}", "服务器内部错误（HTTP 500）",
         true, std::nullopt},
        {503, "", "", "服务返回了错误（HTTP 503）", true, std::nullopt},
        {404, "", "{\"detail\":\"Not Found\"}", "Not Found（HTTP 404）", false, std::nullopt},
    };
    for (const auto& c : cases) {
        ChatServer server([&](int socket, const test::RawRequest&) {
            test::RawServer::Send(socket, HttpReply(c.status, "application/json", c.body, c.extraHeaders));
        });
        const GenerationOutcome outcome = RequestChatCompletion(ConfigFor(server.Base()), "k", "key");
        EXPECT_FALSE(outcome.ok) << c.status;
        EXPECT_FALSE(outcome.cancelled);
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.errorDetail, c.detail);
        EXPECT_EQ(outcome.transient, c.transient) << c.status;
        EXPECT_EQ(outcome.rateLimited, c.status == 429 && c.transient) << c.body;
        EXPECT_EQ(outcome.retryAfterSeconds, c.retryAfter) << c.status;
    }

    // An error object inside a stream that began well.
    ChatServer midStream([](int socket, const test::RawRequest&) {
        test::RawServer::Send(socket,
                              HttpReply(200, "text/event-stream",
                                        SseChunk("part") + "data: {\"error\":{\"message\":\"overloaded\"}}\n\n"));
    });
    const GenerationOutcome outcome = RequestChatCompletion(ConfigFor(midStream.Base()), "k", "key");
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.errorDetail, "overloaded");
}

TEST(RequestChatCompletion, AStreamCutBeforeDoneIsAFailure) {
    // The connection closes in the middle of a chunk.
    ChatServer chunkCut([](int socket, const test::RawRequest&) {
        test::RawServer::Send(socket,
                              "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\n"
                              "Transfer-Encoding: chunked\r\n\r\n");
        const std::string piece = SseChunk("half");
        char size[16];
        std::snprintf(size, sizeof size, "%zx\r\n", piece.size() + 100);
        test::RawServer::Send(socket, size + piece);
    });
    GenerationOutcome outcome = RequestChatCompletion(ConfigFor(chunkCut.Base()), "k", "key");
    EXPECT_FALSE(outcome.ok);
    EXPECT_TRUE(outcome.transient);
#if defined(_WIN32)
    // WinHttp hands over a chunked body cut inside a chunk as if it were whole; the missing [DONE]
    // still tells the reply is incomplete.
    EXPECT_EQ(outcome.status, 200);
    EXPECT_EQ(outcome.errorDetail, "回复在结束标记 [DONE] 之前中断，内容不完整");
#else
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.errorDetail.rfind("网络请求失败：", 0), 0u) << outcome.errorDetail;
#endif

    // A reply delimited by the end of the connection, which ends before [DONE].
    ChatServer closed([](int socket, const test::RawRequest&) {
        test::RawServer::Send(socket,
                              "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nConnection: close\r\n\r\n" +
                                  SseChunk("half") + "data: {\"choices\":[{\"delta\":{\"content\":\"of");
    });
    outcome = RequestChatCompletion(ConfigFor(closed.Base()), "k", "key");
    EXPECT_FALSE(outcome.ok);
    EXPECT_TRUE(outcome.transient);
    EXPECT_EQ(outcome.status, 200);
    EXPECT_EQ(outcome.errorDetail, "回复在结束标记 [DONE] 之前中断，内容不完整");

    // Nobody listening at all.
    const test::RefusingPort refusing;
    ChatRequestConfig nowhere = ConfigFor(refusing.Url("/v1"));
    outcome = RequestChatCompletion(nowhere, "k", "key");
    EXPECT_FALSE(outcome.ok);
    EXPECT_TRUE(outcome.transient);
    EXPECT_EQ(outcome.errorDetail.rfind("网络请求失败：", 0), 0u);
}

// A stream that sends nothing but keep-alive comments brings nothing: it ends as idle after the
// time-out instead of holding the keyword for as long as the service keeps it open.
TEST(RequestChatCompletion, KeepAliveCommentsAreNoProgress) {
    constexpr int kMostPings = 300;
    std::atomic<int> pings{0};
    ChatServer server([&](int socket, const test::RawRequest&) {
        test::RawServer::Send(socket,
                              "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nConnection: close\r\n\r\n");
        // A ping every 100 ms for at most half a minute, then the service gives up.
        while (pings.load() < kMostPings && test::RawServer::Send(socket, ": ping\n\n")) {
            ++pings;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    SetChatTimeoutSeconds(1);
    const GenerationOutcome outcome = RequestChatCompletion(ConfigFor(server.Base()), "k", "key");
    SetChatTimeoutSeconds(600);
    EXPECT_FALSE(outcome.ok);
    EXPECT_TRUE(outcome.transient);
    EXPECT_NE(outcome.errorDetail.find("no data moved"), Text::npos) << outcome.errorDetail;
    EXPECT_LT(pings.load(), kMostPings);
}

TEST(RequestChatCompletion, RepliesThatAreNotTheProtocol) {
    const struct {
        std::string body;
        Text detailStart;
    } cases[] = {
        {"<html><title>Portal</title></html>", "服务的回复不是对话补全格式："},
        {"", "服务返回了空回复（HTTP 200）"},
        {"data: {\"choices\":[{\"delta\":{}, \"finish_reason\":\"content_filter\"}]}\n\n" + kSseDone,
         "服务没有返回任何内容（finish_reason：content_filter）"},
        {"data: oops\n\n" + kSseDone, "无法解析服务的回复：oops"},
    };
    for (const auto& c : cases) {
        ChatServer server([&](int socket, const test::RawRequest&) {
            test::RawServer::Send(socket, HttpReply(200, "text/event-stream", c.body));
        });
        const GenerationOutcome outcome = RequestChatCompletion(ConfigFor(server.Base()), "k", "key");
        EXPECT_FALSE(outcome.ok) << c.body;
        EXPECT_EQ(outcome.errorDetail.rfind(c.detailStart, 0), 0u) << outcome.errorDetail;
    }
}

TEST(RequestChatCompletion, TheBaseUrlDecidesWhereTheRequestGoes) {
    ChatServer server([](int socket, const test::RawRequest&) {
        test::RawServer::Send(socket, HttpReply(200, "text/event-stream", SseChunk("ok") + kSseDone));
    });
    const std::pair<std::string, std::string> cases[] = {
        {"/v1", "/v1/chat/completions"},
        {"/v1/", "/v1/chat/completions"},
        {"", "/v1/chat/completions"},
        {"/", "/v1/chat/completions"},
        {"/compatible-mode/v1/chat/completions", "/compatible-mode/v1/chat/completions"},
        {"/api/v1?tenant=7", "/api/v1/chat/completions?tenant=7"},
    };
    for (const auto& [typedPath, requested] : cases) {
        const GenerationOutcome outcome = RequestChatCompletion(ConfigFor(server.Base(typedPath)), "k", "key");
        EXPECT_TRUE(outcome.ok) << typedPath << ": " << outcome.errorDetail;
        EXPECT_EQ(server.Requests().back().RequestLine(), "POST " + requested + " HTTP/1.1") << typedPath;
    }
}

TEST(RequestChatCompletion, TheStopFlagAbortsTheExchange) {
    std::atomic<bool> cancel{false};
    ChatServer server([&](int socket, const test::RawRequest&) {
        test::RawServer::Send(
            socket,
            "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nConnection: close\r\n\r\n" + SseChunk("slow"));
        cancel = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    });
    const GenerationOutcome outcome = RequestChatCompletion(ConfigFor(server.Base()), "k", "key", &cancel);
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_FALSE(outcome.ok);
}

TEST(InterfaceThreeGenerator, SettingsThatCannotWorkSendNothing) {
    ChatServer server([](int socket, const test::RawRequest&) {
        test::RawServer::Send(socket, HttpReply(200, "text/event-stream", SseChunk("ok") + kSseDone));
    });
    const Generator generate = InterfaceThreeGenerator({.baseUrl = server.Base(), .temperature = "warm"}, kOpenAiBase);
    const GenerationOutcome outcome = generate("k", "key", nullptr);
    EXPECT_TRUE(outcome.unusableSettings);
    EXPECT_FALSE(outcome.ok);
    EXPECT_NE(outcome.errorDetail.find("warm"), Text::npos);
    EXPECT_TRUE(server.Requests().empty());

    const GenerationOutcome good =
        InterfaceThreeGenerator({.baseUrl = server.Base()}, kOpenAiBase)("k", "key", nullptr);
    EXPECT_TRUE(good.ok);
    EXPECT_FALSE(good.unusableSettings);
}

TEST(InterfaceThreeKeyCheck, TheModelListSaysTheKeyWorks) {
    ChatServer server([](int socket, const test::RawRequest& request) {
        const std::vector<std::string> lines = request.HeaderLines();
        if (std::find(lines.begin(), lines.end(), "Authorization: Bearer sk-good") != lines.end()) {
            test::RawServer::Send(socket, HttpReply(200, "application/json",
                                                    "{\"object\":\"list\",\"data\":[{\"id\":\"a\"},{\"id\":\"b\"},"
                                                    "{\"id\":\"c\"}]}"));
        } else {
            test::RawServer::Send(socket,
                                  HttpReply(401, "application/json",
                                            "{\"error\":{\"message\":\"Incorrect API key provided\",\"code\":401}}"));
        }
    });
    KeyCheckResult result = InterfaceThreeKeyCheck(server.Base("/v1/"), "sk-good", kOpenAiBase);
    EXPECT_TRUE(result) << result.error().reason;
    EXPECT_EQ(result->modelCount, 3);
    EXPECT_EQ(result->status, 200);
    EXPECT_EQ(KeyCheckCaption(*result), "密钥有效，可用模型：3个");
    EXPECT_EQ(server.Requests().back().RequestLine(), "GET /v1/models HTTP/1.1");

    // A full chat URL asks the models of its base.
    result = InterfaceThreeKeyCheck(server.Base("/v1/chat/completions"), "sk-good", kOpenAiBase);
    EXPECT_TRUE(result);
    EXPECT_EQ(server.Requests().back().RequestLine(), "GET /v1/models HTTP/1.1");

    result = InterfaceThreeKeyCheck(server.Base(""), "sk-bad", kOpenAiBase);
    EXPECT_FALSE(result);
    EXPECT_EQ(result.error().code, 401);
    EXPECT_EQ(result.error().reason, "Incorrect API key provided（HTTP 401）");
    EXPECT_EQ(server.Requests().back().RequestLine(), "GET /v1/models HTTP/1.1");
}

TEST(InterfaceThreeKeyCheck, RepliesWithoutAModelList) {
    ChatServer page([](int socket, const test::RawRequest&) {
        test::RawServer::Send(socket, HttpReply(200, "text/html", "<html><title>Login</title></html>"));
    });
    KeyCheckResult result = InterfaceThreeKeyCheck(page.Base(), "k", kOpenAiBase);
    EXPECT_FALSE(result);
    EXPECT_EQ(result.error().reason, "回复中没有模型列表：Login（HTTP 200）");

    const test::RefusingPort refusing;
    result = InterfaceThreeKeyCheck(refusing.Url(), "k", kOpenAiBase);
    EXPECT_FALSE(result);
    EXPECT_EQ(result.error().code, 0);
    EXPECT_EQ(result.error().reason.rfind("网络请求失败：", 0), 0u);

    result = InterfaceThreeKeyCheck("localhost", "k", kOpenAiBase);
    EXPECT_FALSE(result);
    EXPECT_NE(result.error().reason.find("http://"), Text::npos);

    // A key with a line break inside is not checked in a shortened form: nothing is sent.
    result = InterfaceThreeKeyCheck(page.Base(), "sk-a\r\nb", kOpenAiBase);
    EXPECT_FALSE(result);
    EXPECT_EQ(result.error().reason.rfind("API秘钥中含有换行符", 0), 0u);
    EXPECT_EQ(page.Requests().size(), 1u);
}

}  // namespace
}  // namespace qj
