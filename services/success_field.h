#pragma once

#include <string_view>

#include "text/text_helpers.h"

namespace qj {

// Whether a service reply reports success by the word "success", as the relay's balance service
// and the Wenxin token service write it ("msg":"success", "success":true). A "success" field set
// to false (false or "false") is the failure it says, although the word is there.
inline bool ReplySaysSuccess(std::string_view reply) {
    if (FindText(reply, "success") == kNotFound) {
        return false;
    }
    static constexpr std::string_view kField = "\"success\"";
    const auto skipBlanks = [&](std::size_t p) {
        while (p < reply.size() && (reply[p] == ' ' || reply[p] == '\t' || reply[p] == '\r' || reply[p] == '\n')) {
            ++p;
        }
        return p;
    };
    for (std::size_t at = FindText(reply, kField); at != kNotFound; at = FindText(reply, kField, at + 1)) {
        std::size_t p = skipBlanks(at + kField.size());
        if (p >= reply.size() || reply[p] != ':') {
            continue;
        }
        const std::string_view value = reply.substr(skipBlanks(p + 1));
        if (value.starts_with("false") || value.starts_with("\"false\"")) {
            return false;
        }
    }
    return true;
}

}  // namespace qj
