#include "templates/blanks.h"

#include "text/ascii.h"
#include "text/gbk.h"

namespace qj {

bool EndsWithWhole(std::string_view text, std::string_view tail) {
    if (!text.ends_with(tail)) {
        return false;
    }
    std::size_t i = 0;
    while (i < text.size() - tail.size()) {
        i += GbkUnitLength(text, i);
    }
    return i == text.size() - tail.size();
}

std::string_view TrimBlanks(std::string_view text) {
    for (;;) {
        text = TrimAsciiBlanks(text);
        if (text.starts_with(kWideSpace)) {
            text.remove_prefix(kWideSpace.size());
        } else if (EndsWithWhole(text, kWideSpace)) {
            text.remove_suffix(kWideSpace.size());
        } else {
            return text;
        }
    }
}

}  // namespace qj
