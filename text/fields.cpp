#include "text/fields.h"

#include "text/ascii.h"
#include "text/gbk.h"

namespace qj {

TextList BlankSeparatedFields(std::string_view line) {
    constexpr std::string_view kFullWidthBlank = "\xA1\xA1";
    TextList fields;
    Text field;
    const auto close = [&] {
        if (!field.empty()) {
            fields.push_back(std::move(field));
            field.clear();
        }
    };
    for (std::size_t at = 0; at < line.size();) {
        if (IsAsciiBlank(line[at])) {
            close();
            ++at;
        } else if (line.substr(at).starts_with(kFullWidthBlank)) {
            close();
            at += kFullWidthBlank.size();
        } else {
            const std::size_t unit = GbkUnitLength(line, at);
            field.append(line.substr(at, unit));
            at += unit;
        }
    }
    close();
    return fields;
}

}  // namespace qj
