#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "text/types.h"

namespace qj {

// Gathers the header lines of the last response of a transfer as they arrive. A status line starts
// a new response (a redirect, an interim 100 reply or a proxy's tunnel reply came before), so only
// the final response's lines remain; lines after the blank line that closes a header section (the
// trailer of a chunked body) are not kept.
class ResponseHeaderCollector {
public:
    // One line as received, line break included.
    void OnLine(std::string_view line);
    void Clear() { lines_.clear(); }
    // Whether the last response's header section was closed by its blank line.
    bool Complete() const { return complete_; }

    // "Name: value" lines in the order received, joined by CR LF, in the program's code page: a
    // line that is valid UTF-8 is converted from it, any other is taken byte for byte (a server
    // may well send GBK).
    Text Block() const;

private:
    std::vector<std::string> lines_;
    bool complete_ = false;
};

}  // namespace qj
