#include "services/chat_reply.h"

#include <algorithm>
#include <array>
#include <climits>
#include <nlohmann/json.hpp>
#include <optional>
#include <string_view>

#include "text/ascii.h"
#include "text/code_page.h"
#include "text/gbk.h"
#include "text/text_helpers.h"

namespace qj {

namespace {

using Json = nlohmann::json;

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::size_t kMalformedSampleBytes = 200;

std::string_view WithoutBom(std::string_view body) {
    if (body.starts_with(kUtf8Bom)) {
        body.remove_prefix(kUtf8Bom.size());
    }
    return body;
}

std::string Dump(const Json& value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

const Json* Member(const Json& object, const char* name) {
    if (!object.is_object()) {
        return nullptr;
    }
    const auto it = object.find(name);
    return it == object.end() ? nullptr : &*it;
}

const std::string* StringMember(const Json& object, const char* name) {
    const Json* member = Member(object, name);
    return member && member->is_string() ? &member->get_ref<const std::string&>() : nullptr;
}

// The message of an error object. In a reply with an error status, looser shapes count too
// ({"message": …}, {"detail": …}), as gateways and local servers send them.
std::string ErrorMessageOf(const Json& value, bool errorStatus) {
    if (!value.is_object()) {
        return {};
    }
    if (const Json* error = Member(value, "error"); error && !error->is_null()) {
        if (error->is_string()) {
            return error->get_ref<const std::string&>();
        }
        if (error->is_boolean() && !error->get<bool>()) {
            return {};
        }
        for (const char* name : {"message", "msg"}) {
            if (const std::string* message = StringMember(*error, name); message && !message->empty()) {
                return *message;
            }
        }
        return Dump(*error);
    }
    const std::string* object = StringMember(value, "object");
    if (errorStatus || (object && *object == "error")) {
        for (const char* name : {"message", "msg", "detail"}) {
            if (const std::string* message = StringMember(value, name); message && !message->empty()) {
                return *message;
            }
        }
        if (const Json* detail = Member(value, "detail"); detail && !detail->is_null()) {
            return Dump(*detail);
        }
        if (object && *object == "error") {
            return Dump(value);
        }
    }
    return {};
}

// More tokens than any request can use: a count beyond it is nonsense from a broken or hostile
// server, and counts below it can be added up for a whole run without overflowing.
constexpr long long kMaxTokenCount = 1'000'000'000;

// A token count of the usage object; nullopt when it is missing or no sensible count (negative,
// too large, not a number).
std::optional<long long> Count(const Json& usage, const char* name) {
    const Json* value = Member(usage, name);
    if (!value || !value->is_number()) {
        return std::nullopt;
    }
    if (value->is_number_float()) {
        const double count = value->get<double>();
        if (!(count >= 0 && count <= static_cast<double>(kMaxTokenCount))) {
            return std::nullopt;
        }
        return static_cast<long long>(count);
    }
    if (value->is_number_unsigned()) {
        const auto count = value->get<unsigned long long>();
        return count <= static_cast<unsigned long long>(kMaxTokenCount) ? std::optional<long long>(count)
                                                                        : std::nullopt;
    }
    const auto count = value->get<long long>();
    return (count >= 0 && count <= kMaxTokenCount) ? std::optional<long long>(count) : std::nullopt;
}

std::optional<TokenUsage> UsageOf(const Json* usage) {
    if (!usage || !usage->is_object()) {
        return std::nullopt;
    }
    const std::optional<long long> prompt = Count(*usage, "prompt_tokens");
    const std::optional<long long> completion = Count(*usage, "completion_tokens");
    const std::optional<long long> total = Count(*usage, "total_tokens");
    if (!prompt && !completion && !total) {
        return std::nullopt;
    }
    TokenUsage counted;
    counted.promptTokens = prompt.value_or(0);
    counted.completionTokens = completion.value_or(0);
    counted.totalTokens = total.value_or(counted.promptTokens + counted.completionTokens);
    return counted;
}

// A message content is a string, or a list of parts of which the text parts count.
void AppendContent(const Json* content, std::string& out) {
    if (!content) {
        return;
    }
    if (content->is_string()) {
        out += content->get_ref<const std::string&>();
        return;
    }
    if (content->is_array()) {
        for (const Json& part : *content) {
            if (const std::string* text = StringMember(part, "text")) {
                out += *text;
            }
        }
    }
}

}  // namespace

bool ReadChatJson(std::string_view json, bool streamed, ChatReply& reply) {
    const Json value = Json::parse(json, nullptr, false);
    if (value.is_discarded() || !value.is_object()) {
        return false;
    }
    reply.recognised = true;
    if (reply.error.empty()) {
        reply.error = ErrorMessageOf(value, false);
    }
    if (const Json* choices = Member(value, "choices"); choices && choices->is_array() && !choices->empty()) {
        const Json& choice = choices->front();
        if (const Json* message = Member(choice, streamed ? "delta" : "message")) {
            AppendContent(Member(*message, "content"), reply.content);
        }
        if (const std::string* finish = StringMember(choice, "finish_reason"); finish && !finish->empty()) {
            reply.finishReason = *finish;
        }
        // Some services put the count into the last choice instead of the chunk.
        if (std::optional<TokenUsage> usage = UsageOf(Member(choice, "usage"))) {
            reply.usage = usage;
        }
    }
    if (std::optional<TokenUsage> usage = UsageOf(Member(value, "usage"))) {
        reply.usage = usage;
    }
    return true;
}

void ChatStreamReader::Feed(std::string_view bytes) {
    while (!bytes.empty()) {
        if (crPending_) {
            crPending_ = false;
            if (bytes.front() == '\n') {
                bytes.remove_prefix(1);
                continue;
            }
        }
        const std::size_t end = bytes.find_first_of("\r\n");
        if (end == std::string_view::npos) {
            line_.append(bytes);
            return;
        }
        line_.append(bytes.substr(0, end));
        crPending_ = bytes[end] == '\r';
        bytes.remove_prefix(end + 1);
        OnLine(line_);
        line_.clear();
    }
}

void ChatStreamReader::Finish() {
    ending_ = true;
    if (!line_.empty()) {
        OnLine(line_);
        line_.clear();
    }
    crPending_ = false;
    DispatchEvent();
    reply_.complete = done_ || !reply_.finishReason.empty();
}

void ChatStreamReader::OnLine(std::string_view line) {
    if (line.empty()) {
        DispatchEvent();
        return;
    }
    if (line.front() == ':') {
        return;  // a comment, often a keep-alive
    }
    const std::size_t colon = line.find(':');
    const std::string_view field = line.substr(0, colon);
    if (field != "data") {
        return;  // event, id and retry fields say nothing about the text
    }
    std::string_view value = colon == std::string_view::npos ? std::string_view() : line.substr(colon + 1);
    if (value.starts_with(' ')) {
        value.remove_prefix(1);
    }
    if (eventHasData_) {
        const std::string_view held = TrimAsciiBlanks(eventData_);
        if (held == "[DONE]" || Json::accept(held)) {
            DispatchEvent();
        }
    }
    if (eventHasData_) {
        eventData_.push_back('\n');
    }
    eventData_.append(value);
    eventHasData_ = true;
}

void ChatStreamReader::DispatchEvent() {
    if (!eventHasData_) {
        return;
    }
    OnEventData(eventData_);
    eventData_.clear();
    eventHasData_ = false;
}

void ChatStreamReader::OnEventData(std::string_view data) {
    if (done_) {
        return;
    }
    data = TrimAsciiBlanks(data);
    if (data.empty()) {
        return;
    }
    if (data == "[DONE]") {
        done_ = true;
        return;
    }
    // Data left unfinished by the end of the stream is a cut, not a malformed event.
    if (!ReadChatJson(data, true, reply_) && reply_.malformed.empty() && !ending_) {
        reply_.malformed = std::string(data.substr(0, kMalformedSampleBytes));
    }
}

ChatReply ParseChatReply(std::string_view body) {
    body = WithoutBom(body);
    const std::string_view trimmed = TrimAsciiBlanks(body);
    if (trimmed.starts_with('{')) {
        ChatReply reply;
        if (ReadChatJson(trimmed, false, reply)) {
            reply.complete = true;
        } else {
            reply.malformed = std::string(trimmed.substr(0, kMalformedSampleBytes));
        }
        return reply;
    }
    ChatStreamReader reader;
    reader.Feed(body);
    reader.Finish();
    return reader.reply();
}

Text ShortReplyText(std::string_view body, std::size_t maxBytes) {
    // Only the start is shown; a long body is cut before it is converted, on a UTF-8 boundary.
    const std::size_t enough = maxBytes * 4 + 64;
    if (body.size() > enough) {
        std::size_t end = enough;
        while (end > 0 && (static_cast<unsigned char>(body[end]) & 0xC0) == 0x80) {
            --end;
        }
        body = body.substr(0, end);
    }
    Text text;
    if (IsCleanUtf8(body)) {
        text = Utf8ToAnsi(body);
    } else {
        text.reserve(body.size());
        for (const char c : body) {
            if (c != '\0') {
                text.push_back(c);
            }
        }
    }
    Text folded;
    bool blankPending = false;
    bool cut = false;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t unit = GbkUnitLength(text, i);
        if (unit == 1 && IsAsciiBlank(text[i])) {
            blankPending = !folded.empty();
            ++i;
            continue;
        }
        const std::size_t needed = unit + (blankPending ? 1 : 0);
        if (folded.size() + needed > maxBytes) {
            cut = true;
            break;
        }
        if (blankPending) {
            folded.push_back(' ');
            blankPending = false;
        }
        folded.append(text, i, unit);
        i += unit;
    }
    if (cut) {
        folded += "...";
    }
    return folded;
}

Text ServiceErrorMessage(std::string_view body) {
    body = TrimAsciiBlanks(WithoutBom(body));
    if (body.empty()) {
        return {};
    }
    if (body.starts_with('{')) {
        const Json value = Json::parse(body, nullptr, false);
        if (!value.is_discarded()) {
            const std::string message = ErrorMessageOf(value, true);
            if (!message.empty()) {
                return ShortReplyText(message);
            }
        }
    }
    if (body.find("data:") != std::string_view::npos) {
        const ChatReply reply = ParseChatReply(body);
        if (!reply.error.empty()) {
            return ShortReplyText(reply.error);
        }
    }
    if (const std::size_t title = FindText(body, "<title", 0, true); title != kNotFound) {
        const std::size_t open = body.find('>', title);
        const std::size_t close = open == std::string_view::npos ? kNotFound : FindText(body, "</title", open, true);
        if (close != kNotFound) {
            const Text text = ShortReplyText(body.substr(open + 1, close - open - 1));
            if (!text.empty()) {
                return text;
            }
        }
    }
    return ShortReplyText(body);
}

bool StreamProgress::Feed(std::string_view bytes) {
    bool progress = false;
    for (const char c : bytes) {
        if (c == '\n' || c == '\r') {
            lineStart_ = true;
            continue;
        }
        if (lineStart_) {
            lineStart_ = false;
            comment_ = c == ':';
        }
        progress |= !comment_;
    }
    return progress;
}

Text ChatTextToGbk(std::string_view utf8) {
    std::string clean;
    clean.reserve(utf8.size());
    for (const char c : utf8) {
        if (c != '\0') {
            clean.push_back(c);
        }
    }
    const Text gbk = Utf8ToAnsi(clean);

    // Line breaks as LF first; no trail byte of a double-byte character is a CR, LF, blank or "<".
    std::string text;
    text.reserve(gbk.size());
    for (std::size_t i = 0; i < gbk.size(); ++i) {
        if (gbk[i] == '\r') {
            text.push_back('\n');
            if (i + 1 < gbk.size() && gbk[i + 1] == '\n') {
                ++i;
            }
        } else {
            text.push_back(gbk[i]);
        }
    }
    std::string_view body = TrimAsciiBlanks(text);
    // A reasoning model may put its thoughts in front of the article.
    if (body.starts_with("<think>")) {
        const std::size_t close = body.find("</think>");
        if (close != std::string_view::npos) {
            body = TrimAsciiBlanks(body.substr(close + 8));
        }
    }
    return ReplaceAll(body, "\n", "\r\n");
}

}  // namespace qj
