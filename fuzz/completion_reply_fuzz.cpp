// libFuzzer target: the replies of interfaces one and two, and the request body a keyword makes.
// Properties: a reply is judged and cut without a crash, and a refused one has no text; the body of
// any keyword is valid JSON on the wire, and a keyword of valid GBK comes back from it unchanged;
// the JSON string reader ends on an unescaped quotation mark.
#include <nlohmann/json.hpp>

#include "fuzz_support.h"
#include "services/completion.h"
#include "text/code_page.h"

namespace {

using qj::fuzz::Shown;

const qj::CompletionProfile& Profile(int interfaceNumber) {
    static const qj::CompletionProfile one =
        qj::InterfaceOneProfile("https://api.openai.com", "https://relay-one.example");
    static const qj::CompletionProfile two =
        qj::InterfaceTwoProfile("https://api.openai.com", "https://relay-two.example");
    return interfaceNumber == 1 ? one : two;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const qj::Text bytes(reinterpret_cast<const char*>(data), size);

    for (const int interfaceNumber : {1, 2}) {
        const qj::CompletionProfile& profile = Profile(interfaceNumber);
        const qj::ExtractedText extracted = qj::ExtractCompletionText(profile, bytes);
        QJ_FUZZ_CHECK(extracted.ok || extracted.text.empty(), "reply " + Shown(bytes));

        const std::string wire = qj::GbkToWire(qj::CompletionBody(profile, bytes));
        const nlohmann::json body = nlohmann::json::parse(wire, nullptr, false);
        QJ_FUZZ_CHECK(!body.is_discarded() && body.is_object() && body.contains("prompt") && body["prompt"].is_string(),
                      "keyword " + Shown(bytes) + " gives the body " + Shown(wire));
        if (qj::fuzz::IsValidGbk(bytes)) {
            const qj::Text prompt = qj::Utf8ToAnsi(body["prompt"].get<std::string>());
            QJ_FUZZ_CHECK(prompt == bytes, "keyword " + Shown(bytes) + " comes back as " + Shown(prompt));
        }
    }

    std::size_t end = 0;
    static_cast<void>(qj::DecodeJsonString(bytes, 0, &end));
    QJ_FUZZ_CHECK(end == qj::JsonStringEnd(bytes, 0) && (end == qj::Text::npos || bytes[end] == '"'),
                  "string " + Shown(bytes));
    return 0;
}
