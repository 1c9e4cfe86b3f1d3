#include "generation/completion.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <random>

#include "generation/interface_three.h"
#include "text/code_page.h"

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

}  // namespace
}  // namespace qj
