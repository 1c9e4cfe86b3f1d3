#include "services/completion.h"

#include <algorithm>

#include "checks/reply_checks.h"
#include "services/chat_reply.h"
#include "http/http_request.h"
#include "http/request_headers.h"
#include "text/ascii.h"
#include "text/code_page.h"
#include "text/gbk.h"
#include "text/text_helpers.h"
#include "text/unescape.h"

namespace qj {

namespace {

constexpr const char* kKeyPlaceholder = "【key】";
constexpr const char* kUserAgent =
    "User-Agent: Mozilla/5.0 (Windows NT 10.0; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/86.0.4240.198 Safari/537.36";
// Replies may take as long as the connection stays open.
constexpr int kCompletionTimeoutSeconds = 600000;

}  // namespace

Text HostOfOrigin(const Text& origin) {
    std::size_t start = origin.find("://");
    start = start == Text::npos ? 0 : start + 3;
    const std::size_t end = origin.find_first_of("/?#", start);
    return origin.substr(start, end == Text::npos ? Text::npos : end - start);
}

CompletionProfile InterfaceOneProfile(const Text& openAiOrigin, const Text& relayOneOrigin) {
    CompletionProfile p;
    p.interfaceNumber = 1;
    p.url = openAiOrigin + "/v1/completions";
    p.samplePrompt = "泡脚对身体有什么好处";
    p.bodyTemplate =
        "{\"model\":\"text-davinci-003\",\"max_tokens\":2038,\"top_p\":1,\"best_of\":1,\"temperature\":0.5,"
        "\"frequency_penalty\":0,\"presence_penalty\":0,\"prompt\":\"" +
        p.samplePrompt + "\",\"echo\":true,\"stream\":false}";
    p.headerBlock = "Host: " + HostOfOrigin(openAiOrigin) +
                    "\r\n"
                    "Connection: keep-alive\r\n"
                    "Authorization:Bearer " +
                    kKeyPlaceholder + "\r\n" + kUserAgent +
                    "\r\n"
                    "Content-Type: application/json\r\n"
                    "Accept: */*\r\n"
                    "Origin: " +
                    relayOneOrigin +
                    "\r\n"
                    "Sec-Fetch-Site: cross-site\r\n"
                    "Sec-Fetch-Mode: cors\r\n"
                    "Sec-Fetch-Dest: empty\r\n"
                    "Referer: " +
                    relayOneOrigin + "/vip.html";
    p.successMarker = "choices";
    p.textMarker = "[{\"text\":\"";
    p.allPieces = false;
    return p;
}

CompletionProfile InterfaceTwoProfile(const Text& openAiOrigin, const Text& relayTwoOrigin) {
    CompletionProfile p;
    p.interfaceNumber = 2;
    p.url = openAiOrigin + "/v1/engines/text-davinci-003-playground/completions";
    p.samplePrompt = "槟榔是毒品吗";
    p.bodyTemplate = "{\"prompt\":\"" + p.samplePrompt +
                     "\",\"max_tokens\":256,\"temperature\":0.7,\"top_p\":1,\"frequency_penalty\":0,"
                     "\"presence_penalty\":0,\"best_of\":1,\"echo\":true,\"logprobs\":0,\"stream\":true}";
    p.headerBlock = "Host: " + HostOfOrigin(openAiOrigin) +
                    "\r\n"
                    "Connection: keep-alive\r\n"
                    "Content-Length: 170\r\n"
                    "Authorization: Bearer " +
                    kKeyPlaceholder + "\r\n" + kUserAgent +
                    "\r\n"
                    "Content-Type: application/json\r\n"
                    "Accept: */*\r\n"
                    "Origin: " +
                    relayTwoOrigin +
                    "\r\n"
                    "Sec-Fetch-Site: cross-site\r\n"
                    "Sec-Fetch-Mode: cors\r\n"
                    "Sec-Fetch-Dest: empty\r\n"
                    "Referer: " +
                    relayTwoOrigin + "/\r\n";
    p.successMarker = "text_completion";
    p.textMarker = "[{\"text\": \"";
    p.allPieces = true;
    return p;
}

Text JsonEscape(const Text& text) {
    static constexpr char kHex[] = "0123456789abcdef";
    Text out;
    out.reserve(text.size() + 8);
    for (std::size_t i = 0; i < text.size();) {
        if (IsGbkLeadByte(static_cast<unsigned char>(text[i]))) {
            if (i + 1 < text.size() && IsGbkTrailByte(static_cast<unsigned char>(text[i + 1]))) {
                out.append(text, i, 2);
                i += 2;
            } else {
                out += "\\ufffd";
                i += 1;
            }
            continue;
        }
        const auto c = static_cast<unsigned char>(text[i++]);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    out += "\\u00";
                    out.push_back(kHex[c >> 4]);
                    out.push_back(kHex[c & 0x0F]);
                } else {
                    out.push_back(static_cast<char>(c));
                }
        }
    }
    return out;
}

Text CompletionBody(const CompletionProfile& profile, const Text& keyword) {
    return ReplaceAll(profile.bodyTemplate, profile.samplePrompt, JsonEscape(keyword));
}

Text CompletionHeaders(const CompletionProfile& profile, const Text& key) {
    return ReplaceAll(profile.headerBlock, kKeyPlaceholder, key);
}

bool KeyBreaksHeaderLine(std::string_view key) {
    return key.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

Text RefusedHeaderReason(const Text& headerName) {
    if (SameHeaderName(headerName, "Authorization")) {
        return "API秘钥中含有换行符或其他不能写进请求头的字符，Authorization 请求头无法发送，请求没有发出。"
               "请重新填写API秘钥（不要带换行）";
    }
    return "请求头 " + headerName + " 中含有换行符或其他不能发送的字符，请求没有发出";
}

Result<HttpResponse> RequestCompletion(const CompletionProfile& profile, const Text& keyword, const Text& key,
                                       const std::atomic<bool>* cancel) {
    HttpRequestParams params;
    params.url = profile.url;
    if (KeyBreaksHeaderLine(key)) {
        // Put into the block, a line break would cut the Authorization line in two, and the
        // second half would be dropped as a line without a name.
        return Error{.kind = ErrorKind::kRefusedHeader, .where = params.url, .reason = "Authorization"};
    }
    params.method = profile.method;
    params.body = CompletionBody(profile, keyword);
    params.headers = CompletionHeaders(profile, key);
    params.timeoutSeconds = kCompletionTimeoutSeconds;
    params.cancel = cancel;
    return HttpRequest(params);
}

std::size_t JsonStringEnd(const Text& text, std::size_t begin) {
    for (std::size_t i = begin; i < text.size();) {
        const char c = text[i];
        if (c == '"') {
            return i;
        }
        if (c == '\\') {
            // The escaped unit is skipped whole, whatever it is.
            i += 1;
            if (i < text.size()) {
                i += GbkUnitLength(text, i);
            }
            continue;
        }
        i += GbkUnitLength(text, i);
    }
    return Text::npos;
}

Text DecodeJsonString(const Text& text, std::size_t begin, std::size_t* end) {
    // One pass finds the end as JsonStringEnd does (an escape takes the unit behind the backslash
    // along; the four digits of a \u escape are ASCII units) and decodes on the way. The string is
    // read as UTF-16 and written back as GBK, without a UTF-16 copy of it: a unit between escapes
    // comes back as GbkRoundTrip gives it, and only \u escapes are gathered as UTF-16, so that a
    // surrogate pair of two escapes is still one character to the encoder.
    const std::string_view s(text);
    if (end) {
        *end = Text::npos;
    }
    Text out;
    out.reserve(s.size() - std::min(begin, s.size()));  // escapes only shrink what follows the start
    std::u16string escaped;
    const auto flushEscaped = [&] {
        if (!escaped.empty()) {
            out += Utf16ToGbk(escaped);
            escaped.clear();
        }
    };
    std::size_t plain = begin;  // start of the units not written yet
    bool plainKept = true;      // and whether they all come back unchanged
    const auto writePlain = [&](std::size_t to) {
        if (plain < to) {
            flushEscaped();
            if (plainKept) {
                out.append(s, plain, to - plain);
            } else {
                AppendGbkRoundTrip(out, s.substr(plain, to - plain));
            }
        }
        plainKept = true;
    };
    std::size_t i = begin;
    for (;;) {
        i += GbkKeptSpan(s.substr(i), '"', '\\');
        if (i >= s.size()) {
            return {};
        }
        if (static_cast<unsigned char>(s[i]) >= 0x80) {
            plainKept = false;
            i += GbkUnitLength(s, i);
            continue;
        }
        if (s[i] == '"') {
            break;
        }
        writePlain(i);
        const std::size_t at = i + 1;  // the escaped unit
        if (at >= s.size()) {
            return {};
        }
        const std::size_t length = GbkUnitLength(s, at);
        i = at + length;
        plain = i;
        if (s[at] == 'u') {
            const long v = HexNumber(s, at + 1, 4);
            if (v >= 0) {
                escaped.push_back(static_cast<char16_t>(v));
                i += 4;
                plain = i;
                continue;
            }
        }
        flushEscaped();
        switch (s[at]) {
            case 'b':
                out.push_back('\b');
                break;
            case 'f':
                out.push_back('\f');
                break;
            case 'n':
                out.push_back('\n');
                break;
            case 'r':
                out.push_back('\r');
                break;
            case 't':
                out.push_back('\t');
                break;
            default:
                // \" \\ \/ and anything else stand for themselves; a malformed \u keeps its letter,
                // as a lenient reader would.
                AppendGbkRoundTrip(out, s.substr(at, length));
        }
    }
    if (end) {
        *end = i;
    }
    flushEscaped();
    writePlain(i);
    return out;
}

namespace {

// Line feeds of a decoded text become CR LF; a paragraph break (two line feeds) becomes one CR LF.
// In one pass what replacing "\r\n" by "\n", then "\n\n" by "\n", then "\n" by "\r\n" gives: after
// the first step a run of k line feeds is left with (k + 1) / 2 of them. Line breaks are whole GBK
// units, so bytes are compared directly.
Text NormaliseLineBreaks(const Text& text) {
    Text out;
    out.reserve(text.size() + text.size() / 8);
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const std::size_t at = FindLineBreak(text, i);
        out.append(text, i, at - i);
        if (at == n) {
            break;
        }
        i = at;
        std::size_t feeds = 0;
        while (i < n) {
            if (text[i] == '\n') {
                i += 1;
            } else if (text[i] == '\r' && i + 1 < n && text[i + 1] == '\n') {
                i += 2;
            } else {
                break;
            }
            ++feeds;
        }
        if (feeds == 0) {
            out.push_back('\r');  // a CR of its own
            i += 1;
            continue;
        }
        for (std::size_t k = 0; k < (feeds + 1) / 2; ++k) {
            out += "\r\n";
        }
    }
    return out;
}

// The last finish reason a reply (or the pieces of a streamed one) names; empty when none does.
Text LastFinishReason(const Text& reply) {
    constexpr std::string_view kField = "\"finish_reason\"";
    std::size_t at = reply.rfind(kField);
    while (at != Text::npos) {
        std::size_t from = reply.find_first_not_of(" \t\r\n", at + kField.size());
        if (from != Text::npos && reply[from] == ':') {
            from = reply.find_first_not_of(" \t\r\n", from + 1);
            if (from != Text::npos && reply[from] == '"') {
                const std::size_t end = reply.find('"', from + 1);
                if (end != Text::npos) {
                    return reply.substr(from + 1, end - from - 1);
                }
            }
        }
        // null: a piece before the last one; look further back.
        at = at == 0 ? Text::npos : reply.rfind(kField, at - 1);
    }
    return {};
}

}  // namespace

GenerationOutcome CompletionOutcome(const CompletionProfile& profile, const Result<HttpResponse>& reply,
                                    bool cancelled, std::time_t now) {
    GenerationOutcome outcome;
    outcome.cancelled = cancelled;
    if (!reply && reply.error().kind == ErrorKind::kRefusedHeader) {
        outcome.unusableSettings = true;
        outcome.errorDetail = RefusedHeaderReason(reply.error().reason);
        return outcome;
    }
    const Text text = reply ? Utf8ToAnsi(std::string_view(reply->body.c_str())) : Text();
    ExtractedText extracted = ExtractCompletionText(profile, text);
    outcome.ok = extracted.ok;
    outcome.text = std::move(extracted.text);
    outcome.errorDetail = text;
    ClassifyStatus(outcome, reply ? reply->status : 0, text);
    outcome.retryAfterSeconds = RetryAfterSeconds(reply ? std::string_view(reply->headers) : std::string_view(), now);
    outcome.finishReason = LastFinishReason(text);
    if (outcome.ok && IsReviewFinish(outcome.finishReason)) {
        outcome.ok = false;
        outcome.reviewRefused = true;
        outcome.errorDetail = "内容审核未通过（finish_reason：" + outcome.finishReason + "）";
    } else if (!outcome.ok && SaysStoppedByReview(text, text)) {
        outcome.reviewRefused = true;
        outcome.transient = false;
        outcome.rateLimited = false;
    }
    return outcome;
}

ExtractedText ExtractCompletionText(const CompletionProfile& profile, const Text& reply) {
    ExtractedText result;
    if (FindText(reply, profile.successMarker) == kNotFound) {
        return result;
    }
    result.ok = true;
    Text text;
    if (!profile.allPieces) {
        const std::size_t at = FindText(reply, profile.textMarker);
        if (at != kNotFound) {
            text = NormaliseLineBreaks(DecodeJsonString(reply, at + profile.textMarker.size(), nullptr));
        }
    } else {
        std::size_t from = 0;
        while (true) {
            const std::size_t at = FindText(reply, profile.textMarker, from);
            if (at == kNotFound) {
                break;
            }
            const std::size_t begin = at + profile.textMarker.size();
            const std::size_t close = JsonStringEnd(reply, begin);
            if (close == Text::npos) {
                break;
            }
            const Text piece = ReplaceAll(std::string_view(reply).substr(begin, close - begin), "\\n", "\r\n");
            text += UnescapeUnicode(piece);
            from = begin;
        }
    }
    // A decoded text comes back unchanged from the way through UTF-16; the joined pieces of
    // interface two need not.
    result.text = profile.allPieces ? TrimLineBreaks(text) : TrimLineBreaksOfRoundTrip(text);
    return result;
}

}  // namespace qj
