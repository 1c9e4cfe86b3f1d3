#include "services/completion.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <random>

#include "services/chat_completion.h"
#include "text/code_page.h"
#include "text/regex_matcher.h"
#include "text/text_helpers.h"

namespace qj {
namespace {

const CompletionProfile kOne = InterfaceOneProfile("https://api.openai.com", "https://relay-one.example");
const CompletionProfile kTwo = InterfaceTwoProfile("http://127.0.0.1:8080", "https://relay-two.example");

TEST(CompletionProfile, BodiesAndHeaderBlocks) {
    EXPECT_EQ(kOne.url, "https://api.openai.com/v1/completions");
    EXPECT_EQ(kTwo.url, "http://127.0.0.1:8080/v1/engines/text-davinci-003-playground/completions");
    EXPECT_EQ(CompletionBody(kOne, "泡脚对身体有什么好处"), kOne.bodyTemplate);
    EXPECT_EQ(kOne.bodyTemplate,
              "{\"model\":\"text-davinci-003\",\"max_tokens\":2038,\"top_p\":1,\"best_of\":1,\"temperature\":0.5,"
              "\"frequency_penalty\":0,\"presence_penalty\":0,\"prompt\":\"泡脚对身体有什么好处\",\"echo\":true,"
              "\"stream\":false}");
    // The fixed length line of interface two is the length of its body in UTF-8.
    EXPECT_EQ(kTwo.bodyTemplate.size(), 164u);
    EXPECT_EQ(AnsiToUtf8(kTwo.bodyTemplate).size(), 170u);

    EXPECT_EQ(CompletionHeaders(kOne, "sk-1"),
              "Host: api.openai.com\r\nConnection: keep-alive\r\nAuthorization:Bearer sk-1\r\n"
              "User-Agent: Mozilla/5.0 (Windows NT 10.0; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
              "Chrome/86.0.4240.198 Safari/537.36\r\nContent-Type: application/json\r\nAccept: */*\r\n"
              "Origin: https://relay-one.example\r\nSec-Fetch-Site: cross-site\r\nSec-Fetch-Mode: cors\r\n"
              "Sec-Fetch-Dest: empty\r\nReferer: https://relay-one.example/vip.html");
    const Text two = CompletionHeaders(kTwo, "");
    EXPECT_TRUE(two.starts_with(
        "Host: 127.0.0.1:8080\r\nConnection: keep-alive\r\nContent-Length: 170\r\nAuthorization: Bearer \r\n"));
    EXPECT_TRUE(two.ends_with("Referer: https://relay-two.example/\r\n"));
}

TEST(CompletionProfile, KeywordIsEscapedForJson) {
    EXPECT_EQ(JsonEscape("a\"b\\c\n\x01"), "a\\\"b\\\\c\\n\\u0001");
    EXPECT_EQ(JsonEscape("誠"), "誠");  // a double-byte character whose second byte is a backslash
    const Text body = CompletionBody(kTwo, "x\",\"model\":\"evil");
    EXPECT_NE(body.find("\"prompt\":\"x\\\",\\\"model\\\":\\\"evil\""), Text::npos);
    EXPECT_EQ(HostOfOrigin("https://a.b:8443"), "a.b:8443");
    EXPECT_EQ(HostOfOrigin("http://h/x"), "h");
}

// UTF-8 as GBK, zero bytes kept.
Text GbkOf(const std::string& utf8) {
    Text gbk;
    std::size_t from = 0;
    for (std::size_t zero = utf8.find('\0'); zero != std::string::npos; zero = utf8.find('\0', from)) {
        gbk += Utf8ToAnsi(utf8.substr(from, zero - from)) + '\0';
        from = zero + 1;
    }
    return gbk + Utf8ToAnsi(utf8.substr(from));
}

// Whatever bytes a keyword holds (lone lead bytes before a quotation mark, a backslash or a zero
// byte, or at the end; the euro sign byte; control bytes), every interface's body is valid JSON
// and its prompt holds the keyword's characters, each byte that is no character as "?", and
// nothing of the text around the keyword is lost.
TEST(RequestBodies, AnyKeywordGivesValidJsonThatHoldsIt) {
    static constexpr char kBytes[] = {'a',    '"',    '\\',   '\0',   '\x01', '\n',   '\x7F', '\x80', '\x81', '\xD6',
                                      '\xD0', '\xA1', '\x40', '\x5C', '\xFF', '\xAA', '\xE9', '\t',   '/'};
    std::mt19937 random(936);
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kBytes - 1);
    std::uniform_int_distribution<std::size_t> length(1, 8);
    ChatRequestConfig chat;
    chat.model = "m";
    chat.promptTemplate = "写：{关键词}。";
    std::vector<Text> keywords = {"\x80\"", "\xD6\"", "\xD6", "\xD6\0x", "100\x80"};
    for (int round = 0; round < 3000; ++round) {
        Text keyword;
        for (std::size_t k = length(random); k > 0; --k) {
            keyword.push_back(kBytes[pick(random)]);
        }
        keywords.push_back(keyword);
    }
    for (const Text& keyword : keywords) {
        const Text expected = Utf16ToGbk(GbkToUtf16(keyword));
        for (const CompletionProfile* profile : {&kOne, &kTwo}) {
            // The body goes on the wire as UTF-8.
            const nlohmann::json body =
                nlohmann::json::parse(AnsiToUtf8(CompletionBody(*profile, keyword)), nullptr, false);
            ASSERT_FALSE(body.is_discarded()) << testing::PrintToString(keyword);
            EXPECT_EQ(GbkOf(body["prompt"].get<std::string>()), expected) << testing::PrintToString(keyword);
            EXPECT_EQ(body.size(), nlohmann::json::parse(AnsiToUtf8(profile->bodyTemplate)).size());
        }
        const nlohmann::json body = nlohmann::json::parse(ChatRequestBody(chat, keyword), nullptr, false);
        ASSERT_FALSE(body.is_discarded()) << testing::PrintToString(keyword);
        const Text message = GbkOf(body["messages"][0]["content"].get<std::string>());
        if (keyword.find('\n') == Text::npos) {
            EXPECT_EQ(message, "写：" + expected + "。") << testing::PrintToString(keyword);
        }
    }
}

TEST(ExtractCompletionText, InterfaceOneTakesTheWholeJsonString) {
    const Text reply =
        "{\"id\":\"cmpl-1\",\"object\":\"text_completion\",\"choices\":[{\"text\":\"泡脚\\n\\n第一段\\n"
        "他说\\\"好\\\" \\u4e2d\\ud83d\\ude00\",\"index\":0}]}";
    const ExtractedText e = ExtractCompletionText(kOne, reply);
    EXPECT_TRUE(e.ok);
    EXPECT_EQ(e.text, "泡脚\r\n第一段\r\n他说\"好\" 中?");

    // The GBK character 誠 ends in a backslash byte; it must not escape the closing quotation mark.
    EXPECT_EQ(ExtractCompletionText(kOne, "{\"choices\":[{\"text\":\"誠\"}]}").text, "誠");
    // The euro sign is one byte, 0x80; the quotation mark behind it still closes the text.
    EXPECT_EQ(
        ExtractCompletionText(kOne, Utf8ToAnsi("{\"choices\":[{\"text\":\"100\xE2\x82\xAC\",\"index\":0}]}")).text,
        "100\x80");
    // A success marker without a text gives an empty text; no success marker is a failure.
    const ExtractedText noText = ExtractCompletionText(kOne, "{\"error\":{\"message\":\"choices missing\"}}");
    EXPECT_TRUE(noText.ok);
    EXPECT_EQ(noText.text, "");
    EXPECT_FALSE(ExtractCompletionText(kOne, "{\"error\":{\"message\":\"Incorrect API key\"}}").ok);
    EXPECT_FALSE(ExtractCompletionText(kOne, "").ok);
    // A string that never closes gives no text.
    EXPECT_EQ(ExtractCompletionText(kOne, "{\"choices\":[{\"text\":\"cut off").text, "");
}

// Interface one's text decoded the plain way: the JSON string as UTF-16, its escapes resolved
// there, back to GBK; line feeds replaced step by step; the ends trimmed by the expression.
Text TextThroughUtf16(const Text& reply) {
    const std::size_t at = reply.find("[{\"text\":\"");
    if (at == Text::npos) {
        return {};
    }
    const std::size_t begin = at + 10;
    const std::size_t close = JsonStringEnd(reply, begin);
    if (close == Text::npos) {
        return {};
    }
    const std::u16string raw = GbkToUtf16(std::string_view(reply).substr(begin, close - begin));
    std::u16string decoded;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != u'\\' || i + 1 == raw.size()) {
            decoded.push_back(raw[i]);
            continue;
        }
        const char16_t e = raw[++i];
        const std::u16string_view plain = u"bfnrt";
        const std::size_t known = plain.find(e);
        const std::u16string hex = raw.substr(i + 1, 4);
        if (known != std::u16string_view::npos) {
            decoded.push_back(u"\b\f\n\r\t"[known]);
        } else if (e == u'u' && hex.size() == 4 && hex.find_first_not_of(u"0123456789abcdefABCDEF") == hex.npos) {
            decoded.push_back(static_cast<char16_t>(std::stoi(std::string(hex.begin(), hex.end()), nullptr, 16)));
            i += 4;
        } else {
            decoded.push_back(e);
        }
    }
    Text text = ReplaceAll(ReplaceAll(ReplaceAll(Utf16ToGbk(decoded), "\r\n", "\n"), "\n\n", "\n"), "\n", "\r\n");
    if (text.starts_with("\r\n")) {
        text.erase(0, 2);
    }
    if (text.ends_with("\r\n")) {
        text.resize(text.size() - 2);
    }
    RegexMatcher matcher;
    return matcher.Run("(?:^\\r|\\n$)", text) ? matcher.Replace("") : "(invalid)";
}

// The extraction decodes, normalises and trims in single passes over GBK; it must give what the
// plain way gives for any text of escapes (surrogate pairs and halves, malformed ones, a final
// backslash), characters, bytes that are none, raw line breaks and quotation marks.
TEST(ExtractCompletionText, AgreesWithDecodingThroughUtf16) {
    static const Text kPieces[] = {"a",        "中",      "誠",      "\xD6",    "\x80",    "\xFF",    "\xA2\xA0",
                                   "\xA2\xAB", "\r",      "\n",      "\\n",     "\\r",     "\\r\\n",  "\\\"",
                                   "\\\\",     "\\/",     "\\t",     "\\b",     "\\f",     "\\x",     "\\中",
                                   "\\\xD6",   "\\u4e2d", "\\u000a", "\\u000D", "\\u0000", "\\ud83d", "\\ude00",
                                   "\\u12",    "\\u20AC", "\\uE000", "\"",      "\\"};
    std::mt19937 random(4096);
    std::uniform_int_distribution<std::size_t> pick(0, std::size(kPieces) - 1);
    std::uniform_int_distribution<int> length(0, 16);
    for (int round = 0; round < 20000; ++round) {
        Text content;
        for (int k = length(random); k > 0; --k) {
            content += kPieces[pick(random)];
        }
        const Text head = "{\"object\":\"text_completion\",\"choices\":[{\"text\":\"";
        const Text reply = head + content + "\",\"index\":0}]}";
        // Whole, and cut off behind the content, where the string may never close.
        for (const Text& r : {reply, head + content}) {
            ASSERT_EQ(ExtractCompletionText(kOne, r).text, TextThroughUtf16(r)) << testing::PrintToString(content);
            std::size_t end = 0;
            static_cast<void>(DecodeJsonString(r, head.size(), &end));
            ASSERT_EQ(end, JsonStringEnd(r, head.size())) << testing::PrintToString(content);
        }
    }
}

TEST(ExtractCompletionText, InterfaceTwoJoinsEveryPiece) {
    auto event = [](const Text& piece) {
        return "data: {\"object\":\"text_completion\",\"choices\":[{\"text\": \"" + piece + "\",\"index\":0}]}\n\n";
    };
    EXPECT_EQ(ExtractCompletionText(kTwo, event("A") + event("\\n") + event("B") + "data: [DONE]\n\n").text, "A\r\nB");
    EXPECT_EQ(ExtractCompletionText(kTwo, event("\\u4f60") + event("\\u597d") + event("it's")).text, "你好it's");
    // An escaped quotation mark stays inside its piece; no piece ends in a stray backslash.
    EXPECT_EQ(ExtractCompletionText(kTwo, event("say \\\"hi\\\"") + event("!")).text, "say \"hi\"!");
    EXPECT_FALSE(ExtractCompletionText(kTwo, "{\"error\":\"bad\"}").ok);
}

// The finishing reason of a completion reply is its last one that names one: a reply cut off at the
// length limit is told as such, one stopped by review is no success and says so.
TEST(CompletionOutcome, TheLastFinishReasonDecides) {
    const auto piece = [](const char* text, const char* finish) {
        return "data: {\"object\":\"text_completion\",\"choices\":[{\"text\": \"" + std::string(text) +
               "\",\"index\":0,\"finish_reason\": " + finish + "}]}\n\n";
    };
    const auto outcome = [](const std::string& body) {
        HttpResponse reply;
        reply.status = 200;
        reply.body = body;
        return CompletionOutcome(kTwo, reply, false, 0);
    };
    const GenerationOutcome cut = outcome(piece("A", "null") + piece("B", "\"length\"") + "data: [DONE]\n\n");
    EXPECT_TRUE(cut.ok);
    EXPECT_EQ(cut.text, "AB");
    EXPECT_EQ(cut.finishReason, "length");
    EXPECT_EQ(outcome(piece("A", "null")).finishReason, "");
    const GenerationOutcome filtered = outcome(piece("A", "null") + piece("", "\"content_filter\""));
    EXPECT_FALSE(filtered.ok);
    EXPECT_TRUE(filtered.reviewRefused);
    EXPECT_FALSE(filtered.transient);
}

}  // namespace
}  // namespace qj
