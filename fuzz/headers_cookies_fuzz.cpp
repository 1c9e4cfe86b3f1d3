// libFuzzer target: the header and cookie rules. Properties: normalising a header block is
// idempotent and keeps only lines with a colon; a request line the rules accept can never put a
// line break or zero byte on the wire; a cookie item holds no attribute; merging the same fresh
// cookies twice changes nothing, and no deleted cookie stays in the jar. The headers collected of a
// transfer are "Name: value" lines of its final response only: a redirect or an interim reply
// before it, and trailer lines behind its header section, change nothing.
#include "fuzz_support.h"
#include "http/cookie_jar.h"
#include "http/default_headers.h"
#include "http/header_block.h"
#include "http/request_headers.h"
#include "http/response_headers.h"
#include "text/text_helpers.h"

namespace {

using qj::fuzz::Shown;

bool EndsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const int method = input.ConsumeIntegralInRange<int>(-1, 8);
    const std::string name = input.ConsumeRandomLengthString(24);
    const std::string value = input.ConsumeRandomLengthString(48);
    const std::string old = input.ConsumeRandomLengthString(200);
    const std::string block = input.ConsumeRemainingBytesAsString();

    const qj::HeaderBlock normal = qj::NormalizeHeaderBlock(block);
    QJ_FUZZ_CHECK(qj::NormalizeHeaderBlock(normal) == normal, "block " + Shown(block));
    for (const qj::Text& line : qj::SplitText(normal, "\r\n")) {
        QJ_FUZZ_CHECK(qj::FindText(line, ":") != qj::kNotFound, "block " + Shown(block));
        static_cast<void>(qj::HeaderName(line));
        static_cast<void>(qj::HeaderValue(line));
    }
    qj::Text completed = block;
    qj::AddDefaultHeaders(completed, value, method);
    QJ_FUZZ_CHECK(completed.starts_with(block), "block " + Shown(block));

    qj::RequestHeaders headers;
    const bool accepted = headers.Set(name, value);
    static_cast<void>(headers.Set(qj::HeaderName(block), qj::HeaderValue(block)));
    for (const std::string& line : qj::WireHeaderLines(headers, method == 1)) {
        QJ_FUZZ_CHECK(line.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos,
                      "line " + Shown(line) + " from " + Shown(name) + ": " + Shown(value));
    }
    if (accepted) {
        QJ_FUZZ_CHECK(value.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos,
                      "accepted " + Shown(name) + ": " + Shown(value));
    }

    // The block as the header lines of a response, alone and as the last of a transfer.
    std::vector<std::string_view> blockLines;
    for (std::size_t at = 0; at < block.size();) {
        const std::size_t lineFeed = block.find('\n', at);
        const std::size_t end = lineFeed == std::string::npos ? block.size() : lineFeed + 1;
        blockLines.push_back(std::string_view(block).substr(at, end - at));
        at = end;
    }
    qj::ResponseHeaderCollector collector;
    for (const std::string_view line : blockLines) {
        collector.OnLine(line);
    }
    const qj::Text received = collector.Block();
    for (const qj::Text& line : qj::SplitText(received, "\r\n")) {
        QJ_FUZZ_CHECK(line.find(':') != qj::Text::npos, "headers " + Shown(block) + " collected as " + Shown(received));
    }
    qj::ResponseHeaderCollector transfer;
    for (const std::string_view line : {"HTTP/1.1 302 Found\r\n", "Location: /next\r\n", "Set-Cookie: early=1\r\n",
                                        "\r\n", "HTTP/1.1 100 Continue\r\n", "\r\n", "HTTP/1.1 200 OK\r\n"}) {
        transfer.OnLine(line);
    }
    for (const std::string_view line : blockLines) {
        transfer.OnLine(line);
    }
    transfer.OnLine("\r\n");
    for (const qj::Text& piece : qj::SplitText(old, "\n")) {
        transfer.OnLine("X-Checksum: " + piece + "\r\n");
        transfer.OnLine("Set-Cookie: trailer=1\r\n");
    }
    transfer.OnLine("\r\n");
    QJ_FUZZ_CHECK(transfer.Block() == received && transfer.Complete(),
                  "headers " + Shown(block) + " collected as " + Shown(received) + " alone, as " +
                      Shown(transfer.Block()) + " in a transfer");

    const qj::CookieText fresh = qj::ExtractCookies(received);
    for (const qj::Text& item : qj::SplitText(fresh, "; ")) {
        QJ_FUZZ_CHECK(item.find(';') == qj::Text::npos, "headers " + Shown(received));
    }
    // The jar a former reply left: its Set-Cookie lines are the pieces of `old`.
    std::string former;
    for (const qj::Text& piece : qj::SplitText(old, "\n")) {
        former += "Set-Cookie: " + piece + "\r\n";
    }
    qj::CookieText jar = qj::ExtractCookies(former);
    const qj::CookieText formerJar = jar;
    const qj::CookieText merged = qj::MergeCookies(jar, fresh);
    QJ_FUZZ_CHECK(jar == merged, "jar " + Shown(formerJar));
    for (const qj::Text& item : qj::SplitText(merged, "; ")) {
        QJ_FUZZ_CHECK(!EndsWith(item, "=deleted"), "jar " + Shown(formerJar) + " fresh " + Shown(fresh));
    }
    QJ_FUZZ_CHECK(qj::MergeCookies(jar, fresh) == merged, "jar " + Shown(formerJar) + " fresh " + Shown(fresh) +
                                                              " merged " + Shown(merged) + " then " + Shown(jar));
    return 0;
}
