#include "services/chat_urls.h"

#include "services/endpoint_lines.h"
#include "text/ascii.h"
#include "text/text_helpers.h"

namespace qj {

namespace {

constexpr std::string_view kChatPath = "/chat/completions";

// What surrounds an address typed or pasted into its box.
constexpr std::string_view kAddressBlanks = " \t\r\n";

bool EndsWithIgnoreCase(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && FindText(text.substr(text.size() - tail.size()), tail, 0, true) == 0;
}

}  // namespace

ChatEndpoints ResolveChatEndpoints(const Text& typed, const Text& defaultBase) {
    ChatEndpoints endpoints;
    std::string_view address = TrimAscii(typed, kAddressBlanks);
    if (address.empty()) {
        address = TrimAscii(defaultBase, kAddressBlanks);
    }
    std::size_t schemeLength = 0;
    if (FindText(address, "https://", 0, true) == 0) {
        schemeLength = 8;
    } else if (FindText(address, "http://", 0, true) == 0) {
        schemeLength = 7;
    } else {
        endpoints.error = "API地址必须以 http:// 或 https:// 开头，现在是：" + MaskedUrl(address);
        return endpoints;
    }
    const std::size_t queryAt = address.find_first_of("?#", schemeLength);
    const std::string_view query = queryAt == std::string_view::npos ? std::string_view() : address.substr(queryAt);
    std::string_view path = address.substr(0, queryAt);
    while (path.size() > schemeLength && path.back() == '/') {
        path.remove_suffix(1);
    }
    const std::size_t hostEnd = path.find('/', schemeLength);
    if (path.substr(schemeLength, hostEnd == std::string_view::npos ? std::string_view::npos : hostEnd - schemeLength)
            .empty()) {
        endpoints.error = "API地址中缺少主机名：" + MaskedUrl(address);
        return endpoints;
    }

    Text base;
    if (EndsWithIgnoreCase(path, kChatPath)) {
        endpoints.chatUrl = Text(path);
        base = Text(path.substr(0, path.size() - kChatPath.size()));
    } else {
        base = Text(path);
        if (hostEnd == std::string_view::npos) {
            base += "/v1";
        }
        endpoints.chatUrl = base + Text(kChatPath);
    }
    endpoints.chatUrl += query;
    endpoints.modelsUrl = base + "/models" + Text(query);
    return endpoints;
}

}  // namespace qj
