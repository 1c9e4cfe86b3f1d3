#include "checks/check_settings.h"

#include <algorithm>
#include <cstdlib>

#include "text/ascii.h"
#include "text/text_helpers.h"

namespace qj {

namespace {

// A whole number within [low, high]; `empty` when the box holds none.
int BoxNumber(std::string_view typed, int low, int high, int empty) {
    const std::string_view digits = TrimAsciiBlanks(typed);
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string_view::npos) {
        return empty;
    }
    return std::clamp(std::atoi(Text(digits).c_str()), low, high);
}

bool IsAbsolutePath(std::string_view path) {
    const bool drive = path.size() >= 2 && path[1] == ':' &&
                       ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
    return drive || path.starts_with('/') || path.starts_with('\\');
}

}  // namespace

CheckSettings ReadCheckSettings(const CheckSettingsText& typed, const Text& programFolder) {
    CheckSettings settings;
    settings.continuations = BoxNumber(typed.continuations, 0, kMaxContinuations, kDefaultContinuations);
    settings.minCharacters = BoxNumber(typed.minCharacters, 0, 999'999'999, 0);
    settings.similarity = BoxNumber(typed.similarity, 0, kMaxSimilarity, 0);
    std::size_t from = 0;
    const Text& phrases = typed.refusalPhrases;
    while (from < phrases.size()) {
        const std::size_t end = FindLineBreak(phrases, from);
        const Text phrase = TrimSpaces(TrimAsciiBlanks(std::string_view(phrases).substr(from, end - from)));
        // A box that holds only "-" keeps the check off across a restart: an empty value in the
        // settings file brings back the prefilled phrases.
        if (!phrase.empty() && phrase != "-") {
            settings.refusalPhrases.push_back(phrase);
        }
        from = end + 1;
    }
    const Text file(TrimAsciiBlanks(typed.bannedWordFile));
    if (!file.empty()) {
        settings.bannedWordFile = IsAbsolutePath(file) ? file : programFolder + file;
    }
    return settings;
}

}  // namespace qj
