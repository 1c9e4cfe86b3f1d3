#pragma once

#include <atomic>
#include <ctime>
#include <string_view>

#include "http/http_request.h"
#include "services/generator.h"

#include "text/types.h"

namespace qj {

// The fixed data of one generation interface. Hosts and origins come from the deployment.
struct CompletionProfile {
    int interfaceNumber = 1;  // 1 or 2
    Text url;
    int method = 1;  // POST
    Text bodyTemplate;
    Text samplePrompt;  // the part of the body template the keyword replaces
    Text headerBlock;   // with the placeholder "【key】" for the API key
    Text successMarker;
    Text textMarker;
    bool allPieces = false;  // interface two: every piece of the streamed reply, in order
};

// Origins are scheme, host and optional port, without a trailing slash ("https://api.openai.com").
CompletionProfile InterfaceOneProfile(const Text& openAiOrigin, const Text& relayOneOrigin);
CompletionProfile InterfaceTwoProfile(const Text& openAiOrigin, const Text& relayTwoOrigin);

// The host (and port) of an origin, for a Host line: "https://a.b:8443/x" gives "a.b:8443".
Text HostOfOrigin(const Text& origin);

// The keyword as the content of a JSON string: quotation mark, backslash and control bytes (the
// zero byte too) escaped; double-byte characters (whose second byte may be a backslash) stay as
// they are; a lead byte without a trail byte behind it is no character and becomes \ufffd, so it
// cannot take a quotation mark or a control byte with it. Whatever the bytes, the string is valid.
Text JsonEscape(const Text& text);

// The request body and header block of one keyword.
Text CompletionBody(const CompletionProfile& profile, const Text& keyword);
Text CompletionHeaders(const CompletionProfile& profile, const Text& key);

// One request for one keyword; blocks for the whole exchange. When `cancel` becomes true the
// exchange is aborted (a failure of kind kCancelled). A key holding a line break or a zero byte
// would split or lose its Authorization line: nothing is sent (kRefusedHeader, "Authorization").
[[nodiscard]] Result<HttpResponse> RequestCompletion(const CompletionProfile& profile, const Text& keyword,
                                                     const Text& key, const std::atomic<bool>* cancel = nullptr);

// Judges one exchange of interface one or two. A refused header line makes settings that cannot
// work (every keyword would fail alike); otherwise success is the profile's marker in the reply
// (taken up to its first zero byte and converted from UTF-8), and that reply text is the error
// detail. `cancelled`: the stop request came during the exchange.
GenerationOutcome CompletionOutcome(const CompletionProfile& profile, const Result<HttpResponse>& reply,
                                    bool cancelled, std::time_t now);

// Whether a key cannot go into a header line as it is: it holds CR, LF or a zero byte.
bool KeyBreaksHeaderLine(std::string_view key);

// For the run log: a request header line could not be sent, and which (the API key's Authorization
// line is named as the key).
Text RefusedHeaderReason(const Text& headerName);

struct ExtractedText {
    bool ok = false;
    Text text;
};

// Judges a reply by the profile's success marker and cuts the generated text out of it (trimmed).
ExtractedText ExtractCompletionText(const CompletionProfile& profile, const Text& reply);

// Decodes the JSON string that starts right behind an opening quotation mark at `begin` of `text`
// (GBK) and runs to the first unescaped quotation mark. Sets `end` to the offset of that closing
// mark, or npos (and returns empty text) when there is none. Escapes \" \\ \/ \b \f \n \r \t and
// \uXXXX (surrogate pairs too) are decoded; characters GBK lacks become "?".
Text DecodeJsonString(const Text& text, std::size_t begin, std::size_t* end);

// Offset of the first unescaped quotation mark at or after `begin`, stepping over double-byte
// characters; npos when there is none.
std::size_t JsonStringEnd(const Text& text, std::size_t begin);

}  // namespace qj
