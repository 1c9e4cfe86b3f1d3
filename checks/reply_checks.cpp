#include "checks/reply_checks.h"

#include "checks/fingerprint.h"
#include "text/ascii.h"
#include "text/gbk.h"
#include "text/text_helpers.h"

namespace qj {

namespace {

// Codes of review refusals as services put them into an error reply.
constexpr std::string_view kReviewCodes[] = {
    "content_filter", "DataInspectionFailed", "data_inspection_failed", "content_policy_violation", "sensitive_content",
};

// What review refusals say in words.
constexpr std::string_view kReviewWords[] = {
    "内容审核",       "敏感内容",      "不安全或敏感",
    "违规内容",       "内容安全",      "安全审核",
    "审核未通过",     "high risk",     "content management policy",
    "content policy", "safety system", "inappropriate content",
};

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

// Byte by byte: a UTF-8 body is no GBK text, whose searches would step over a byte behind a lead.
bool ContainsAsciiNoCase(std::string_view haystack, std::string_view needle) {
    for (std::size_t i = 0; i + needle.size() <= haystack.size(); ++i) {
        if (EqualsNoCase(haystack.substr(i, needle.size()), needle)) {
            return true;
        }
    }
    return false;
}

bool IsBlankUnit(std::string_view text, std::size_t at, std::size_t length) {
    return length == 1 ? IsAsciiBlank(text[at]) : text.substr(at, 2) == "\xA1\xA1";
}

// The first `characters` characters of a text in the form refusal phrases are compared in.
Text ComparedForm(std::string_view text, std::size_t characters) {
    Text form;
    bool blank = false;
    for (std::size_t i = 0, counted = 0; i < text.size() && counted < characters; ++counted) {
        const std::size_t length = GbkUnitLength(text, i);
        const auto lead = static_cast<unsigned char>(text[i]);
        const auto trail = length == 2 ? static_cast<unsigned char>(text[i + 1]) : 0;
        if (IsBlankUnit(text, i, length)) {
            blank = true;
            i += length;
            continue;
        }
        if (blank && !form.empty()) {
            form.push_back(' ');
        }
        blank = false;
        if (length == 2 && lead == 0xA3 && trail >= 0xA1) {
            form.push_back(LowerAscii(static_cast<char>(trail - 0x80)));  // full-width form
        } else if (length == 2 && lead == 0xA1 && (trail == 0xAE || trail == 0xAF)) {
            form.push_back('\'');  // curly apostrophes
        } else if (length == 1) {
            form.push_back(LowerAscii(text[i]));
        } else {
            form.append(text.substr(i, length));
        }
        i += length;
    }
    return form;
}

Text ListOfWords(const std::vector<Text>& words) {
    constexpr std::size_t kNamed = 5;
    Text list;
    for (std::size_t i = 0; i < words.size() && i < kNamed; ++i) {
        list += (i ? "、" : "") + words[i];
    }
    if (words.size() > kNamed) {
        list += "等" + std::to_string(words.size()) + "个";
    }
    return list;
}

}  // namespace

bool IsCutOffFinish(std::string_view finishReason) {
    return EqualsNoCase(TrimAsciiBlanks(finishReason), "length");
}

bool IsReviewFinish(std::string_view finishReason) {
    finishReason = TrimAsciiBlanks(finishReason);
    return EqualsNoCase(finishReason, "content_filter") || EqualsNoCase(finishReason, "sensitive");
}

bool SaysStoppedByReview(std::string_view body, std::string_view message) {
    for (const std::string_view code : kReviewCodes) {
        if (ContainsAsciiNoCase(body, code)) {
            return true;
        }
    }
    for (const std::string_view words : kReviewWords) {
        if (FindText(message, words, 0, true) != kNotFound) {
            return true;
        }
    }
    return false;
}

std::size_t CountCharacters(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = GbkUnitLength(text, i);
        count += IsBlankUnit(text, i, length) ? 0 : 1;
        i += length;
    }
    return count;
}

bool OpensWithRefusal(std::string_view text, const std::vector<Text>& phrases, std::size_t characters) {
    const Text opening = ComparedForm(text, characters);
    for (const Text& phrase : phrases) {
        const Text form = ComparedForm(phrase, phrase.size());
        if (!form.empty() && FindText(opening, form) != kNotFound) {
            return true;
        }
    }
    return false;
}

ArticleChecks::ArticleChecks(CheckSettings settings, BannedWords words, DuplicateIndex* duplicates)
    : settings_(std::move(settings)), words_(std::move(words)), duplicates_(duplicates) {}

CheckVerdict ArticleChecks::Check(const Text& text, std::string_view finishReason, const Text& fileName,
                                  const Text& keyword) {
    CheckVerdict verdict;
    const auto stop = [&verdict](ArticleCheck check, Text reason) {
        verdict.stopped = check;
        verdict.reason = std::move(reason);
        return verdict;
    };
    if (IsCutOffFinish(finishReason)) {
        return stop(ArticleCheck::kCutOff, "回复被截断");
    }
    if (IsReviewFinish(finishReason)) {
        return stop(ArticleCheck::kReview, "内容审核未通过");
    }
    if (!settings_.refusalPhrases.empty() && OpensWithRefusal(text, settings_.refusalPhrases)) {
        return stop(ArticleCheck::kRefusal, "模型拒绝写作");
    }
    if (settings_.minCharacters > 0) {
        const std::size_t count = CountCharacters(text);
        if (count < static_cast<std::size_t>(settings_.minCharacters)) {
            return stop(ArticleCheck::kTooShort, "字数不足（" + std::to_string(count) + "字）");
        }
    }
    verdict.article = text;
    if (!words_.empty()) {
        BannedWords::Result scanned = words_.Apply(text);
        if (!scanned.found.empty()) {
            return stop(ArticleCheck::kBannedWords, "含违禁词：" + ListOfWords(scanned.found));
        }
        verdict.article = std::move(scanned.text);
        verdict.replaced = scanned.replaced;
    }
    if (settings_.similarity > 0 && duplicates_ && CountCharacters(verdict.article) >= kFingerprintedCharacters) {
        verdict.duplicate = duplicates_->Admit(ArticleFingerprint(verdict.article), fileName, keyword);
        if (verdict.duplicate) {
            return stop(ArticleCheck::kDuplicate, "与【" + verdict.duplicate->keyword + "】的文章重复");
        }
    }
    return verdict;
}

Result<void> ArticleChecks::Written(const Text& fileName) {
    return settings_.similarity > 0 && duplicates_ ? duplicates_->Written(fileName) : Success();
}

void ArticleChecks::NotWritten(const Text& fileName) {
    if (settings_.similarity > 0 && duplicates_) {
        duplicates_->Withdraw(fileName);
    }
}

}  // namespace qj
