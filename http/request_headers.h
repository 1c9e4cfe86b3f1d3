#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "text/types.h"

namespace qj {

// The header lines one request sets, in the order they were set. Setting a name again (ASCII
// letters without regard to case) replaces the value of the earlier line in its place. A name that
// is not an HTTP token, or a value holding CR, LF or a zero byte, is refused, so a header block can
// never smuggle an extra line onto the wire.
class RequestHeaders {
public:
    // Returns false when the line was refused.
    [[nodiscard]] bool Set(std::string_view name, std::string_view value);
    bool Has(std::string_view name) const;
    const std::vector<std::pair<Text, Text>>& Lines() const { return lines_; }

private:
    std::vector<std::pair<Text, Text>> lines_;
};

// The lines as they go on the wire, in order: each value trimmed of spaces and tabs and in UTF-8.
// Content-Length lines are left out: the transport writes the real length of the body it sends.
std::vector<std::pair<std::string, std::string>> WireHeaderPairs(const RequestHeaders& headers);

// The lines handed to libcurl, UTF-8, in order. Content-Length lines are left out: the
// transport writes the real length of the body it sends. Entries that switch off the transport's
// own extras follow: its default Accept, "Expect: 100-continue", and for a body without a
// Content-Type line its form Content-Type.
std::vector<std::string> WireHeaderLines(const RequestHeaders& headers, bool sendsBody);

// Whether two header names are equal, ASCII letters without regard to case.
bool SameHeaderName(std::string_view a, std::string_view b);

}  // namespace qj
