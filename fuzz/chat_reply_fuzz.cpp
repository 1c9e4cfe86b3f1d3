// libFuzzer target: the replies of interface three (chat completions, whole or streamed) and what
// is made of them. Properties: a stream fed in arbitrary pieces reads exactly as fed whole; no
// token count or Retry-After is undefined behaviour, and a wait is never negative; texts for the
// log stay on one line and within their size; generated text keeps CR LF line breaks only; any
// keyword gives a JSON body, and any key a header block of the same lines. A Retry-After as an HTTP
// date, written by the calendar of the C library, or as a number, reads as the seconds it names,
// and the wait before the next try is never shorter than it (up to the bound) nor, without it,
// longer than the back-off's cap. No rate-limit header asks for a wait beyond the longest one, and
// whether a reply brought anything but keep-alive comments does not depend on how it was cut.
#include <nlohmann/json.hpp>
#include <random>

#include <climits>

#include "fuzz_support.h"
#include "services/chat_reply.h"
#include "services/chat_completion.h"
#include "services/rate_limits.h"
#include "services/retry_policy.h"
#include "text/text_helpers.h"

namespace {

using qj::fuzz::Shown;

bool SameReply(const qj::ChatReply& a, const qj::ChatReply& b) {
    auto usage = [](const qj::ChatReply& r) {
        return r.usage ? std::make_tuple(true, r.usage->promptTokens, r.usage->completionTokens, r.usage->totalTokens)
                       : std::make_tuple(false, 0LL, 0LL, 0LL);
    };
    return a.content == b.content && a.error == b.error && a.finishReason == b.finishReason && usage(a) == usage(b) &&
           a.recognised == b.recognised && a.complete == b.complete && a.malformed == b.malformed;
}

bool OnOneLine(std::string_view text) {
    return text.find_first_of("\r\n") == std::string_view::npos;
}

// Every CR is followed by LF and every LF follows a CR.
bool OnlyCrLfBreaks(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n')) {
            return false;
        }
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) {
            return false;
        }
    }
    return true;
}

// `at` as an HTTP date ("Sun, 06 Nov 1994 08:49:37 GMT").
std::string HttpDate(std::time_t at) {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm utc{};
    gmtime_r(&at, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[utc.tm_wday], utc.tm_mday,
                  kMonths[utc.tm_mon], utc.tm_year + 1900, utc.tm_hour, utc.tm_min, utc.tm_sec);
    return text;
}

void CheckRetryAfter(std::int64_t at, std::uint64_t seconds, int attempt, double jitter, std::time_t now) {
    const std::string date = HttpDate(static_cast<std::time_t>(at));
    const std::optional<int> fromDate = qj::RetryAfterSeconds("Retry-After: " + date, now);
    QJ_FUZZ_CHECK(fromDate == std::clamp<std::int64_t>(at - now, 0, INT_MAX),
                  date + " reads as " + (fromDate ? std::to_string(*fromDate) : "nothing"));
    const std::optional<int> fromNumber = qj::RetryAfterSeconds("retry-after:\t" + std::to_string(seconds) + " ", now);
    QJ_FUZZ_CHECK(fromNumber == static_cast<int>(std::min<std::uint64_t>(seconds, INT_MAX)),
                  std::to_string(seconds) + " reads as " + (fromNumber ? std::to_string(*fromNumber) : "nothing"));

    using std::chrono::milliseconds;
    for (const std::optional<int> asked : {std::optional<int>(), fromDate}) {
        const milliseconds wait = qj::retry::Delay(attempt, asked, jitter);
        const milliseconds floor = asked ? std::chrono::seconds(std::min(*asked, qj::retry::kMaxRetryAfterSeconds))
                                         : milliseconds(0);
        QJ_FUZZ_CHECK(wait >= floor && wait >= milliseconds(800) && wait <= std::max(floor, milliseconds(60000)),
                      "retry " + std::to_string(attempt) + " waits " + std::to_string(wait.count()) + " ms after " +
                          date);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const int status = input.ConsumeIntegralInRange<int>(0, 599);
    const std::size_t logBytes = input.ConsumeIntegralInRange<std::size_t>(0, 400);
    std::minstd_rand pieces(input.ConsumeIntegral<std::uint32_t>());
    const std::string headers = input.ConsumeRandomLengthString(300);
    // The calendar's range: years 1 to 9999.
    const auto at = input.ConsumeIntegralInRange<std::int64_t>(-62135596800LL, 253402300799LL);
    const auto seconds = input.ConsumeIntegral<std::uint64_t>();
    const int attempt = input.ConsumeIntegralInRange<int>(-2, 40);
    const double jitter = input.ConsumeProbability<double>();
    const std::string body = input.ConsumeRemainingBytesAsString();

    qj::ChatStreamReader whole;
    whole.Feed(body);
    whole.Finish();
    qj::ChatStreamReader cut;
    for (std::size_t at = 0; at < body.size();) {
        const std::size_t length = std::min<std::size_t>(body.size() - at, 1 + pieces() % 24);
        cut.Feed(std::string_view(body).substr(at, length));
        at += length;
    }
    cut.Finish();
    QJ_FUZZ_CHECK(SameReply(whole.reply(), cut.reply()), "stream " + Shown(body));
    // Whether a reply brought anything but keep-alive does not depend on how it was cut.
    qj::StreamProgress progressWhole;
    qj::StreamProgress progressCut;
    bool anyPiece = false;
    for (std::size_t at = 0; at < body.size();) {
        const std::size_t length = std::min<std::size_t>(body.size() - at, 1 + pieces() % 24);
        anyPiece |= progressCut.Feed(std::string_view(body).substr(at, length));
        at += length;
    }
    QJ_FUZZ_CHECK(progressWhole.Feed(body) == anyPiece, "progress of " + Shown(body));

    const std::time_t now = 1700000000;
    const qj::GenerationOutcome outcome =
        qj::ChatOutcome({.reply = qj::HttpResponse{.status = status, .headers = headers, .body = body}}, now);
    QJ_FUZZ_CHECK(!outcome.retryAfterSeconds || *outcome.retryAfterSeconds >= 0, "headers " + Shown(headers));
    const std::optional<int> retryAfter = qj::RetryAfterSeconds(headers, now);
    QJ_FUZZ_CHECK(!retryAfter || *retryAfter >= 0, "headers " + Shown(headers));
    CheckRetryAfter(at, seconds, attempt, jitter, now);
    // No header makes anyone wait longer than the longest wait, nor less than nothing.
    const qj::RateLimits limits = qj::ReadRateLimits(headers, now);
    for (const std::optional<std::chrono::milliseconds>& wait :
         {limits.retryAfter, limits.requests.reset, limits.tokens.reset}) {
        QJ_FUZZ_CHECK(!wait || (wait->count() >= 0 && *wait <= qj::kLongestWait), "headers " + Shown(headers));
    }

    const qj::Text shortText = qj::ShortReplyText(body, logBytes);
    // At most the bytes asked for, and "..." behind a text that was cut.
    QJ_FUZZ_CHECK(shortText.size() <= logBytes + 3 && OnOneLine(shortText),
                  Shown(shortText) + " for " + std::to_string(logBytes) + " bytes of the body " + Shown(body));
    QJ_FUZZ_CHECK(OnOneLine(qj::ServiceErrorMessage(body)), "body " + Shown(body));
    const qj::Text generated = qj::ChatTextToGbk(body);
    QJ_FUZZ_CHECK(generated.find('\0') == qj::Text::npos && OnlyCrLfBreaks(generated), "text " + Shown(body));

    // The headers stand in for a keyword and a key: any bytes, a typed or pasted value.
    static const qj::ChatRequestConfig config = qj::ResolveInterfaceThree({}, "http://127.0.0.1:9/v1").config;
    const qj::Bytes request = qj::ChatRequestBody(config, headers);
    QJ_FUZZ_CHECK(!nlohmann::json::parse(request, nullptr, false).is_discarded(), "keyword " + Shown(headers));
    const qj::TextList lines = qj::SplitText(qj::ChatRequestHeaders(headers, true), "\r\n");
    QJ_FUZZ_CHECK(lines.size() == 3 || lines.size() == 4, "key " + Shown(headers));
    for (const qj::Text& line : lines) {
        QJ_FUZZ_CHECK(OnOneLine(line) && line.find('\0') == qj::Text::npos, "key " + Shown(headers));
    }
    return 0;
}
