#include "generation/completion.h"

#include <gtest/gtest.h>

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

TEST(ExtractCompletionText, InterfaceOneTakesTheWholeJsonString) {
    const Text reply =
        "{\"id\":\"cmpl-1\",\"object\":\"text_completion\",\"choices\":[{\"text\":\"泡脚\\n\\n第一段\\n"
        "他说\\\"好\\\" \\u4e2d\\ud83d\\ude00\",\"index\":0}]}";
    const ExtractedText e = ExtractCompletionText(kOne, reply);
    EXPECT_TRUE(e.ok);
    EXPECT_EQ(e.text, "泡脚\r\n第一段\r\n他说\"好\" 中?");

    // The GBK character 誠 ends in a backslash byte; it must not escape the closing quotation mark.
    EXPECT_EQ(ExtractCompletionText(kOne, "{\"choices\":[{\"text\":\"誠\"}]}").text, "誠");
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
