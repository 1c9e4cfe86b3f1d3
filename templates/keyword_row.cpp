#include "templates/keyword_row.h"

#include <charconv>

#include "templates/blanks.h"
#include "text/gbk.h"
#include "text/text_helpers.h"

namespace qj {

namespace {

// Pieces of a header typed by hand: between blanks (space, full-width space) and commas (ASCII or
// full-width), empty pieces dropped.
std::vector<Text> SplitOnBlanksAndCommas(std::string_view text) {
    std::vector<Text> pieces(1);
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t unit = GbkUnitLength(text, i);
        const std::string_view c = text.substr(i, unit);
        if (c == " " || c == "," || c == kWideSpace || c == "\xA3\xAC") {  // ，
            if (!pieces.back().empty()) {
                pieces.emplace_back();
            }
        } else {
            pieces.back() += c;
        }
        i += unit;
    }
    if (pieces.back().empty()) {
        pieces.pop_back();
    }
    return pieces;
}

}  // namespace

std::optional<KeywordColumns> ReadColumnHeader(std::string_view line) {
    std::string_view names;
    if (line.starts_with(kColumnHeaderMark)) {
        names = line.substr(kColumnHeaderMark.size());
    } else if (line.starts_with(kColumnHeaderMarkAscii)) {
        names = line.substr(kColumnHeaderMarkAscii.size());
    } else {
        return std::nullopt;
    }
    KeywordColumns columns;
    if (names.find('\t') != std::string_view::npos) {
        // A tab is never part of a double-byte character.
        for (const Text& name : SplitText(names, "\t")) {
            columns.names.emplace_back(TrimBlanks(name));
        }
    } else {
        columns.names = SplitOnBlanksAndCommas(names);
    }
    return columns;
}

KeywordRow::KeywordRow(Text line, const KeywordColumns* columns) : line_(std::move(line)) {
    fields_.clear();
    std::size_t from = 0;
    for (std::size_t tab = line_.find('\t'); tab != Text::npos; tab = line_.find('\t', from)) {
        fields_.push_back(line_.substr(from, tab - from));
        from = tab + 1;
    }
    fields_.push_back(line_.substr(from));
    if (columns) {
        names_ = columns->names;
    }
}

std::optional<Text> KeywordRow::Field(std::string_view name) const {
    if (name == kKeywordFieldName) {
        return keyword();
    }
    auto value = [this](std::size_t index) { return index < fields_.size() ? fields_[index] : Text(); };
    for (std::size_t i = 0; i < names_.size(); ++i) {
        if (!names_[i].empty() && names_[i] == name) {
            return value(i);
        }
    }
    if (name.starts_with(kColumnNumberPrefix)) {
        const std::string_view digits = name.substr(kColumnNumberPrefix.size());
        std::size_t number = 0;
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
        if (error == std::errc() && end == digits.data() + digits.size() && !digits.empty() && number >= 1 &&
            digits.front() != '0') {
            return value(number - 1);
        }
    }
    return std::nullopt;
}

Text KeywordRow::FieldOr(std::string_view name, const Text& fallback) const {
    const std::optional<Text> field = Field(name);
    return field && !field->empty() ? *field : fallback;
}

}  // namespace qj
