#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "services/token_usage.h"
#include "text/types.h"

namespace qj {

// What a chat-completion reply said. Texts are UTF-8, as they came.
struct ChatReply {
    std::string content;       // the generated text: every delta of a stream, or the one message
    std::string error;         // the message of an error object in the reply; empty when none
    std::string finishReason;  // the last finish_reason given
    std::optional<TokenUsage> usage;
    bool recognised = false;  // at least one event or object of the protocol was read
    bool complete = false;    // a whole JSON reply, or a stream that reached [DONE] or a finish_reason
    std::string malformed;    // the start of the first data that was not JSON; empty when none
};

// Reads a streamed reply (server-sent events whose data lines carry JSON chunks, ending with
// "data: [DONE]") from pieces cut anywhere, also inside a line or a UTF-8 character. Lines end
// with LF, CR LF or CR; events end with an empty line, and a data line that follows a complete JSON
// value of the same event starts a new one, for servers that leave out the empty line.
class ChatStreamReader {
public:
    void Feed(std::string_view bytes);
    // The stream ended: a last line without a line break, and a last event without an empty line,
    // still count.
    void Finish();
    const ChatReply& reply() const { return reply_; }

private:
    void OnLine(std::string_view line);
    void DispatchEvent();
    void OnEventData(std::string_view data);

    std::string line_;
    bool crPending_ = false;  // the last byte fed was a CR: an LF right behind it belongs to it
    std::string eventData_;
    bool eventHasData_ = false;
    bool done_ = false;
    bool ending_ = false;
    ChatReply reply_;
};

// Tells which bytes of a reply, fed in order, bring anything: in an event stream, comment lines (a
// colon first, such as the ": ping" a service sends to keep the connection open) and empty lines
// bring nothing. A reply that brings nothing for the idle time-out is idle.
class StreamProgress {
public:
    // True when these bytes hold any byte of another line.
    bool Feed(std::string_view bytes);

private:
    bool lineStart_ = true;
    bool comment_ = false;
};

// A whole reply body: one JSON object (a server that does not stream) or a stream.
ChatReply ParseChatReply(std::string_view body);

// Reads one JSON chunk or reply object into `reply`; `streamed` chooses delta or message.
// Returns false when the data is not JSON.
[[nodiscard]] bool ReadChatJson(std::string_view json, bool streamed, ChatReply& reply);

// The service's own words about a failed request (GBK, on one line, at most about 300 bytes): the
// message of a JSON error object, the title of an HTML page, or the start of the reply text.
// Empty for an empty body.
Text ServiceErrorMessage(std::string_view body);

// The start of a reply for a log line: GBK (UTF-8 when the bytes are UTF-8, else taken as GBK),
// blanks and line breaks folded into one blank, cut to at most `maxBytes` whole characters.
Text ShortReplyText(std::string_view body, std::size_t maxBytes = 300);

// Generated UTF-8 text as the program keeps it: GBK (characters GBK lacks become "?"), zero bytes
// dropped, every line break CR LF, a leading <think>…</think> block of a reasoning model left out,
// blank lines and blanks at the start and the end removed.
Text ChatTextToGbk(std::string_view utf8);

}  // namespace qj
