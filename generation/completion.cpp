#include "generation/completion.h"

#include "generation/chat_reply.h"
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

CompletionReply RequestCompletion(const CompletionProfile& profile, const Text& keyword, const Text& key,
                                  const std::atomic<bool>* cancel) {
    CompletionReply reply;
    if (KeyBreaksHeaderLine(key)) {
        // Put into the block, a line break would cut the Authorization line in two, and the
        // second half would be dropped as a line without a name.
        reply.refusedHeader = "Authorization";
        return reply;
    }
    Text headers = CompletionHeaders(profile, key);
    HttpRequestParams params;
    params.url = profile.url;
    params.method = profile.method;
    params.body = CompletionBody(profile, keyword);
    params.headers = &headers;
    params.timeoutSeconds = kCompletionTimeoutSeconds;
    params.status = &reply.status;
    params.responseHeaders = &reply.responseHeaders;
    params.cancel = cancel;
    params.transferError = &reply.error;
    params.refusedHeader = &reply.refusedHeader;
    const Bytes bytes = HttpRequest(params);
    reply.text = Utf8ToAnsi(std::string_view(bytes.c_str()));
    reply.cancelled = cancel && cancel->load();
    return reply;
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
    const std::size_t close = JsonStringEnd(text, begin);
    if (end) {
        *end = close;
    }
    if (close == Text::npos) {
        return {};
    }
    const std::u16string raw = GbkToUtf16(std::string_view(text).substr(begin, close - begin));
    std::u16string out;
    out.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const char16_t c = raw[i];
        if (c != u'\\' || i + 1 >= raw.size()) {
            out.push_back(c);
            continue;
        }
        const char16_t e = raw[++i];
        switch (e) {
            case u'b':
                out.push_back(u'\b');
                break;
            case u'f':
                out.push_back(u'\f');
                break;
            case u'n':
                out.push_back(u'\n');
                break;
            case u'r':
                out.push_back(u'\r');
                break;
            case u't':
                out.push_back(u'\t');
                break;
            case u'u': {
                const long v = HexNumber(std::u16string_view(raw), i + 1, 4);
                if (v < 0) {
                    out.push_back(e);  // malformed: keep the letter, as a lenient reader would
                    break;
                }
                out.push_back(static_cast<char16_t>(v));
                i += 4;
                break;
            }
            default:
                out.push_back(e);  // \" \\ \/ and anything else stand for themselves
        }
    }
    // Surrogate pairs arrive as two \u escapes and are joined by the GBK encoder as one character.
    return Utf16ToGbk(out);
}

namespace {

// Line feeds of a decoded text become CR LF; a paragraph break (two line feeds) becomes one CR LF.
Text NormaliseLineBreaks(const Text& text) {
    Text t = ReplaceAll(text, "\r\n", "\n");
    t = ReplaceAll(t, "\n\n", "\n");
    return ReplaceAll(t, "\n", "\r\n");
}

}  // namespace

GenerationOutcome CompletionOutcome(const CompletionProfile& profile, const CompletionReply& reply, std::time_t now) {
    GenerationOutcome outcome;
    outcome.cancelled = reply.cancelled;
    if (!reply.refusedHeader.empty()) {
        outcome.unusableSettings = true;
        outcome.errorDetail = RefusedHeaderReason(reply.refusedHeader);
        return outcome;
    }
    const ExtractedText extracted = ExtractCompletionText(profile, reply.text);
    outcome.ok = extracted.ok;
    outcome.text = extracted.text;
    outcome.errorDetail = reply.text;
    ClassifyStatus(outcome, reply.status, reply.text);
    outcome.retryAfterSeconds = RetryAfterSeconds(reply.responseHeaders, now);
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
    result.text = TrimLineBreaks(text);
    return result;
}

}  // namespace qj
