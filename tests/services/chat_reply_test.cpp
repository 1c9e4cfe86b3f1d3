#include "services/chat_reply.h"

#include <gtest/gtest.h>

#include <climits>

#include "text/code_page.h"

namespace qj {
namespace {

// One streamed chunk carrying a piece of text (UTF-8 on the wire).
std::string Chunk(const std::string& utf8Piece) {
    return "data: "
           "{\"id\":\"c1\",\"object\":\"chat.completion.chunk\",\"choices\":[{\"index\":0,\"delta\":{\"content\":\"" +
           utf8Piece + "\"},\"finish_reason\":null}]}\n\n";
}

const std::string kFinish =
    "data: {\"choices\":[{\"index\":0,\"delta\":{},\"finish_reason\":\"stop\"}],\"usage\":null}\n\n";
const std::string kUsage =
    "data: {\"choices\":[],\"usage\":{\"prompt_tokens\":12,\"completion_tokens\":34,\"total_tokens\":46}}\n\n";
const std::string kDone = "data: [DONE]\n\n";

ChatReply ReadInPieces(const std::string& stream, const std::vector<std::size_t>& cuts) {
    ChatStreamReader reader;
    std::size_t from = 0;
    for (const std::size_t cut : cuts) {
        reader.Feed(std::string_view(stream).substr(from, cut - from));
        from = cut;
    }
    reader.Feed(std::string_view(stream).substr(from));
    reader.Finish();
    return reader.reply();
}

TEST(ChatStreamReader, AStreamGivesTheSameReplyWhereverItIsCut) {
    const std::string stream = ": keep-alive\n\n" + Chunk(AnsiToUtf8("你好")) + Chunk("\\n\\u4e16") +
                               Chunk(AnsiToUtf8("界") + "!") + kFinish + kUsage + kDone;
    const ChatReply whole = ParseChatReply(stream);
    EXPECT_EQ(whole.content, AnsiToUtf8("你好\n世界!"));
    EXPECT_TRUE(whole.complete);
    EXPECT_TRUE(whole.recognised);
    EXPECT_EQ(whole.finishReason, "stop");
    ASSERT_TRUE(whole.usage);
    EXPECT_EQ(whole.usage->promptTokens, 12);
    EXPECT_EQ(whole.usage->completionTokens, 34);
    EXPECT_EQ(whole.usage->totalTokens, 46);
    EXPECT_TRUE(whole.error.empty());
    EXPECT_TRUE(whole.malformed.empty());

    // Every cut into two pieces: inside "data:", inside a UTF-8 character, between CR and LF ...
    for (std::size_t cut = 1; cut < stream.size(); ++cut) {
        const ChatReply reply = ReadInPieces(stream, {cut});
        ASSERT_EQ(reply.content, whole.content) << "cut at " << cut;
        ASSERT_TRUE(reply.complete) << cut;
        ASSERT_TRUE(reply.usage) << cut;
    }
    // ... and one byte at a time.
    std::vector<std::size_t> everyByte;
    for (std::size_t cut = 1; cut < stream.size(); ++cut) {
        everyByte.push_back(cut);
    }
    EXPECT_EQ(ReadInPieces(stream, everyByte).content, whole.content);
}

TEST(ChatStreamReader, LineEndsAndEventShapesOfDifferentServers) {
    const std::string lf = Chunk("a") + Chunk("b") + kDone;
    std::string crlf;
    std::string cr;
    for (const char c : lf) {
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
        cr += c == '\n' ? '\r' : c;
    }
    for (const std::string& stream : {lf, crlf, cr}) {
        for (std::size_t cut = 1; cut < stream.size(); ++cut) {
            const ChatReply reply = ReadInPieces(stream, {cut});
            ASSERT_EQ(reply.content, "ab") << cut;
            ASSERT_TRUE(reply.complete) << cut;
        }
    }
    // No empty line between events, "data:" without a blank, other fields and comments.
    const std::string packed =
        "event: message\nid: 1\ndata:{\"choices\":[{\"delta\":{\"content\":\"x\"}}]}\n"
        "data: {\"choices\":[{\"delta\":{\"content\":\"y\"}}]}\n: ping\nretry: 10\ndata: [DONE]";
    const ChatReply reply = ParseChatReply(packed);
    EXPECT_EQ(reply.content, "xy");
    EXPECT_TRUE(reply.complete);
    // One JSON object spread over two data lines of one event.
    EXPECT_EQ(
        ParseChatReply("data: {\"choices\":[{\"delta\":\ndata: {\"content\":\"z\"}}]}\n\ndata: [DONE]\n\n").content,
        "z");
    // Content given as a list of parts.
    EXPECT_EQ(ParseChatReply(
                  "data: {\"choices\":[{\"delta\":{\"content\":[{\"type\":\"text\",\"text\":\"p\"}]}}]}\n\n" + kDone)
                  .content,
              "p");
    // Reasoning is not part of the article; nothing after [DONE] counts.
    EXPECT_EQ(ParseChatReply("data: {\"choices\":[{\"delta\":{\"reasoning_content\":\"hmm\",\"content\":null}}]}\n\n" +
                             Chunk("ok") + kDone + Chunk("late"))
                  .content,
              "ok");
}

TEST(ChatStreamReader, TheEndOfAStream) {
    // Cut in the middle of the text: incomplete.
    const ChatReply cut = ParseChatReply(Chunk("half") + "data: {\"choices\":[{\"delta\":{\"content\":\"of it");
    EXPECT_FALSE(cut.complete);
    EXPECT_EQ(cut.content, "half");
    EXPECT_EQ(cut.malformed, "");  // a cut, not bad data
    EXPECT_FALSE(ParseChatReply(Chunk("a") + Chunk("b")).complete);
    // A finish_reason ends the text even when [DONE] never comes.
    const ChatReply finished = ParseChatReply(Chunk("all") + kFinish);
    EXPECT_TRUE(finished.complete);
    EXPECT_EQ(finished.content, "all");
    // Usage reported inside the last choice, and no usage at all.
    const ChatReply inChoice =
        ParseChatReply(Chunk("k") +
                       "data: {\"choices\":[{\"delta\":{},\"finish_reason\":\"stop\",\"usage\":{\"prompt_tokens\":1,"
                       "\"completion_tokens\":2}}]}\n\n" +
                       kDone);
    ASSERT_TRUE(inChoice.usage);
    EXPECT_EQ(inChoice.usage->totalTokens, 3);
    EXPECT_FALSE(ParseChatReply(Chunk("k") + kDone).usage);
    // Nothing of the protocol at all.
    const ChatReply page = ParseChatReply("<html><body>Welcome</body></html>");
    EXPECT_FALSE(page.recognised);
    EXPECT_FALSE(page.complete);
}

TEST(ChatStreamReader, ErrorsAndMalformedData) {
    const ChatReply error = ParseChatReply(
        Chunk("a") + "data: {\"error\":{\"message\":\"The server is overloaded\",\"type\":\"server_error\"}}\n\n");
    EXPECT_EQ(error.error, "The server is overloaded");
    EXPECT_EQ(ParseChatReply("event: error\ndata: {\"error\":\"model not found\"}\n\n").error, "model not found");
    EXPECT_TRUE(ParseChatReply(Chunk("a") + "data: {\"error\":null,\"choices\":[]}\n\n" + kDone).error.empty());

    const ChatReply malformed = ParseChatReply(Chunk("a") + "data: {not json}\n\n" + kDone);
    EXPECT_EQ(malformed.malformed, "{not json}");
    // Half a UTF-8 character inside a JSON string is not JSON.
    EXPECT_FALSE(
        ParseChatReply("data: {\"choices\":[{\"delta\":{\"content\":\"\xE4\xBD\"}}]}\n\n" + kDone).malformed.empty());
}

TEST(ParseChatReply, AServerThatDoesNotStream) {
    const std::string body =
        "\xEF\xBB\xBF  {\n \"id\":\"x\",\"object\":\"chat.completion\",\"choices\":[{\"index\":0,\"message\":{\"role\":"
        "\"assistant\",\"content\":\"" +
        AnsiToUtf8("全文") +
        "\"},\"finish_reason\":\"length\"}],\"usage\":{\"prompt_tokens\":5,\"completion_tokens\":7,\"total_tokens\":"
        "12}}\n";
    const ChatReply reply = ParseChatReply(body);
    EXPECT_TRUE(reply.complete);
    EXPECT_EQ(reply.content, AnsiToUtf8("全文"));
    EXPECT_EQ(reply.finishReason, "length");
    ASSERT_TRUE(reply.usage);
    EXPECT_EQ(reply.usage->totalTokens, 12);

    EXPECT_EQ(ParseChatReply("{\"error\":{\"message\":\"Incorrect API key\",\"code\":\"invalid_api_key\"}}").error,
              "Incorrect API key");
    EXPECT_EQ(ParseChatReply("{\"object\":\"error\",\"message\":\"bad model\",\"code\":404}").error, "bad model");
    EXPECT_FALSE(ParseChatReply("{\"choices\":[{\"message\":").malformed.empty());
}

TEST(ServiceErrorMessage, TheServiceOwnWordsNotARawDump) {
    const struct {
        std::string body;
        Text expected;
    } cases[] = {
        {"{\"error\":{\"message\":\"Incorrect API key provided: sk-1.\",\"type\":\"invalid_request_error\"}}",
         "Incorrect API key provided: sk-1."},
        {"{\"error\":\"model 'llama9' not found\"}", "model 'llama9' not found"},
        {"{\"error\":{\"code\":\"x\"}}", "{\"code\":\"x\"}"},
        {"{\"object\":\"error\",\"message\":\"The model does not exist.\",\"code\":404}", "The model does not exist."},
        {"{\"detail\":\"Not Found\"}", "Not Found"},
        {"{\"message\":\"" + AnsiToUtf8("余额不足") + "\"}", "余额不足"},
        {"data: {\"error\":{\"message\":\"Rate limit reached\"}}\n\n", "Rate limit reached"},
        {"<html><head><title>502 Bad Gateway</title></head><body>nginx</body></html>", "502 Bad Gateway"},
        {"  upstream\r\n\r\n  timed   out \n", "upstream timed out"},
        {"\xB7\xFE\xCE\xF1\xC6\xF7\xC3\xA6", "服务器忙"},  // a GBK body stays GBK
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ServiceErrorMessage(c.body), c.expected) << c.body;
    }
    // A long reply is cut on a whole character.
    std::string longBody;
    for (int i = 0; i < 400; ++i) {
        longBody += AnsiToUtf8("错");
    }
    const Text cut = ServiceErrorMessage(longBody);
    EXPECT_LE(cut.size(), 303u);
    EXPECT_TRUE(cut.ends_with("错..."));
}

// Token counts from a hostile server: numbers too large for any request, negative or fractional
// are no counts; the others add up without overflowing.
TEST(ChatReply, TokenCountsOutOfAnySensibleRangeAreAbsent) {
    const struct {
        const char* usage;
        std::optional<std::array<long long, 3>> counted;
    } rows[] = {
        {R"({"prompt_tokens":80000000000000000000,"completion_tokens":5})", std::array<long long, 3>{0, 5, 5}},
        {R"({"prompt_tokens":9223372036854775807,"completion_tokens":9223372036854775807})", std::nullopt},
        {R"({"prompt_tokens":18446744073709551615})", std::nullopt},
        {R"({"prompt_tokens":-1,"completion_tokens":2,"total_tokens":-3})", std::array<long long, 3>{0, 2, 2}},
        {R"({"prompt_tokens":1e300,"total_tokens":7})", std::array<long long, 3>{0, 0, 7}},
        {R"({"prompt_tokens":2.9,"completion_tokens":1000000000})",
         std::array<long long, 3>{2, 1000000000, 1000000002}},
        {R"({"prompt_tokens":"12"})", std::nullopt},
    };
    for (const auto& row : rows) {
        const ChatReply reply = ParseChatReply(std::string(R"({"choices":[],"usage":)") + row.usage + "}");
        ASSERT_EQ(reply.usage.has_value(), row.counted.has_value()) << row.usage;
        if (row.counted) {
            EXPECT_EQ(reply.usage->promptTokens, (*row.counted)[0]) << row.usage;
            EXPECT_EQ(reply.usage->completionTokens, (*row.counted)[1]) << row.usage;
            EXPECT_EQ(reply.usage->totalTokens, (*row.counted)[2]) << row.usage;
        }
    }
}

TEST(ChatTextToGbk, TheTextAsTheProgramKeepsIt) {
    EXPECT_EQ(ChatTextToGbk(AnsiToUtf8("\n\n  第一段\n\n第二段\r\n第三段\r第四段  \n")),
              "第一段\r\n\r\n第二段\r\n第三段\r\n第四段");
    // Characters GBK lacks become "?"; zero bytes are dropped rather than ending the text.
    EXPECT_EQ(ChatTextToGbk("A\xF0\x9F\x98\x80" + std::string(1, '\0') + "B"), "A?B");
    EXPECT_EQ(ChatTextToGbk(AnsiToUtf8("<think>\n想一想\n</think>\n\n正文")), "正文");
    EXPECT_EQ(ChatTextToGbk(AnsiToUtf8("正文<think>x</think>")), "正文<think>x</think>");
    EXPECT_EQ(ChatTextToGbk(" \n "), "");
}

}  // namespace
}  // namespace qj
