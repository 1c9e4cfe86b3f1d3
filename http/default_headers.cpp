#include "http/default_headers.h"

#include <array>

#include "text/text_helpers.h"

namespace qj {

namespace {

constexpr std::array<std::string_view, 8> kVerbs = {"GET",     "POST",   "HEAD",  "PUT",
                                                    "OPTIONS", "DELETE", "TRACE", "CONNECT"};

struct DefaultLine {
    std::string_view probe;
    std::string_view line;
    bool followedByUrl;
    bool postOnly;
};

constexpr std::array<DefaultLine, 5> kDefaultLines = {{
    {"Accept:", "\r\nAccept: */*", false, false},
    {"Referer:", "\r\nReferer: ", true, false},
    {"Accept-Language:", "\r\nAccept-Language: zh-cn", false, false},
    {"User-Agent:", "\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)", false, false},
    {"Content-Type:", "\r\nContent-Type: application/x-www-form-urlencoded", false, true},
}};

}  // namespace

int EffectiveMethod(int method) {
    return (method < 0 || method >= static_cast<int>(kVerbs.size())) ? kMethodGet : method;
}

std::string_view VerbOfMethod(int method) {
    return kVerbs[EffectiveMethod(method)];
}

void AddDefaultHeaders(Text& block, std::string_view url, int method) {
    for (const DefaultLine& row : kDefaultLines) {
        if (row.postOnly && EffectiveMethod(method) != kMethodPost) {
            continue;
        }
        if (FindText(block, row.probe, 0, true) != kNotFound) {
            continue;
        }
        block.append(row.line);
        if (row.followedByUrl) {
            block.append(url);
        }
    }
}

}  // namespace qj
