#include "http/request_headers.h"

#include <algorithm>

#include "text/ascii.h"
#include "text/code_page.h"

namespace qj {

namespace {

bool IsTokenChar(char c) {
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
        return true;
    }
    return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool IsToken(std::string_view name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), IsTokenChar);
}

bool IsSafeValue(std::string_view value) {
    return value.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

}  // namespace

bool SameHeaderName(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

bool RequestHeaders::Set(std::string_view name, std::string_view value) {
    if (!IsToken(name) || !IsSafeValue(value)) {
        return false;
    }
    const auto same = [&](const auto& line) { return SameHeaderName(line.first, name); };
    if (auto it = std::find_if(lines_.begin(), lines_.end(), same); it != lines_.end()) {
        it->second = Text(value);
    } else {
        lines_.emplace_back(Text(name), Text(value));
    }
    return true;
}

bool RequestHeaders::Has(std::string_view name) const {
    return std::any_of(lines_.begin(), lines_.end(),
                       [&](const auto& line) { return SameHeaderName(line.first, name); });
}

std::vector<std::pair<std::string, std::string>> WireHeaderPairs(const RequestHeaders& headers) {
    std::vector<std::pair<std::string, std::string>> wire;
    for (const auto& [name, value] : headers.Lines()) {
        if (!SameHeaderName(name, "Content-Length")) {
            wire.emplace_back(name, GbkToWire(TrimAscii(value, kSpaceAndTab)));
        }
    }
    return wire;
}

std::vector<std::string> WireHeaderLines(const RequestHeaders& headers, bool sendsBody) {
    std::vector<std::string> wire;
    for (const auto& [name, utf8] : WireHeaderPairs(headers)) {
        // "Name;" is how the transport is told to send a header with an empty value.
        wire.push_back(utf8.empty() ? name + ";" : name + ": " + utf8);
    }
    // "Name:" with nothing behind it removes a header the transport would add by itself.
    if (!headers.Has("Accept")) {
        wire.emplace_back("Accept:");
    }
    if (!headers.Has("Expect")) {
        wire.emplace_back("Expect:");
    }
    if (sendsBody && !headers.Has("Content-Type")) {
        wire.emplace_back("Content-Type:");
    }
    return wire;
}

}  // namespace qj
