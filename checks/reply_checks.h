#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "checks/banned_words.h"
#include "checks/check_settings.h"
#include "checks/duplicate_index.h"
#include "text/types.h"

namespace qj {

// The checks a reply goes through before it is written as an article, in their order.
enum class ArticleCheck { kCutOff, kReview, kRefusal, kTooShort, kBannedWords, kDuplicate };
inline constexpr int kArticleCheckCount = 6;

// Whether a keyword whose reply this check stopped is asked for again (refusal, length, banned
// words, duplicate: another answer may pass), rather than failing as it is (a cut-off reply whose
// continuations are spent; a review refusal, which the request stage has taken to the next endpoint
// already).
constexpr bool AsksAgain(ArticleCheck check) {
    return check != ArticleCheck::kCutOff && check != ArticleCheck::kReview;
}

// A reply's finish_reason says the model stopped at its length limit.
bool IsCutOffFinish(std::string_view finishReason);
// A reply's finish_reason says the provider's review stopped it (content_filter, sensitive).
bool IsReviewFinish(std::string_view finishReason);
// An error reply says the content was refused by review: its body (as it came, UTF-8) names a
// review code (content_filter, DataInspectionFailed, content_policy_violation...) or its message
// (GBK, as the service put it) says so in words, as a code such as 1301 comes with.
bool SaysStoppedByReview(std::string_view body, std::string_view message);

// The characters of a text as the length check counts them: every character but blanks (ASCII ones
// and the full-width space), a Chinese character one like any other.
std::size_t CountCharacters(std::string_view gbk);

// Whether one of the phrases stands in the first `characters` characters of the text. ASCII letters
// compare without case, full-width letters, digits and punctuation as their ASCII forms, curly
// apostrophes as straight ones, and a run of blanks as one blank.
bool OpensWithRefusal(std::string_view gbk, const std::vector<Text>& phrases, std::size_t characters = 200);

// The fewest characters an article has for the duplicate check to look at it: the fingerprint of a
// few sentences says little (a handful of 3-grams moves half its bits), and a reply that short is the
// length check's matter.
inline constexpr std::size_t kFingerprintedCharacters = 100;

// What the checks made of a reply.
struct CheckVerdict {
    std::optional<ArticleCheck> stopped;  // nullopt: the reply is an article
    Text reason;                          // why, for 「关键词【…】未通过检查：reason」
    Text article;                         // the text to write, banned words replaced
    int replaced = 0;                     // how many occurrences of banned words were
    std::optional<NearDuplicate> duplicate;
};

// The checks of one run. The duplicate check keeps the fingerprint of an article it lets through:
// the run says whether the article was written (Written) or not (NotWritten). Safe for the run's
// workers.
class ArticleChecks {
public:
    // `duplicates` (opened) is required when settings.similarity is not 0, and outlives this.
    ArticleChecks(CheckSettings settings, BannedWords words, DuplicateIndex* duplicates);

    const CheckSettings& settings() const { return settings_; }
    const BannedWords& bannedWords() const { return words_; }

    // The checks of a reply's text (GBK, its continuations joined), in their order, the first that
    // stops it deciding; `fileName` is the name its article would have.
    CheckVerdict Check(const Text& text, std::string_view finishReason, const Text& fileName, const Text& keyword);

    [[nodiscard]] Result<void> Written(const Text& fileName);
    void NotWritten(const Text& fileName);

private:
    const CheckSettings settings_;
    const BannedWords words_;
    DuplicateIndex* const duplicates_;
};

}  // namespace qj
