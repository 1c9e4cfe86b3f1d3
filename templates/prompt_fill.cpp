#include "templates/prompt_fill.h"

#include "text/ascii.h"
#include "text/gbk.h"

namespace qj {

namespace {

// Longer names than this are no placeholders (a brace pair around a sentence).
constexpr std::size_t kMaxPlaceholderName = 64;

struct Placeholder {
    std::size_t at = 0;      // of "{"
    std::size_t length = 0;  // through "}"
    std::string_view name;
};

// The next {name} at or after `from`: the name between the braces holds no brace, no line break,
// and whole characters ("}" may be the second byte of a double-byte character, which ends nothing).
std::optional<Placeholder> NextPlaceholder(std::string_view text, std::size_t from) {
    std::optional<std::size_t> open;
    for (std::size_t i = from; i < text.size();) {
        const std::size_t unit = GbkUnitLength(text, i);
        const char c = text[i];
        if (unit == 1 && c == '{') {
            open = i;
        } else if (unit == 1 && (c == '\r' || c == '\n')) {
            open.reset();
        } else if (unit == 1 && c == '}' && open) {
            const std::string_view name = text.substr(*open + 1, i - *open - 1);
            if (!name.empty() && name.size() <= kMaxPlaceholderName) {
                return Placeholder{*open, i + 1 - *open, name};
            }
            open.reset();
        }
        i += unit;
    }
    return std::nullopt;
}

// What a placeholder stands for; nullopt when it names nothing.
std::optional<Text> ValueOf(std::string_view name, const PromptValues& values) {
    if (name == kTitleFieldName && values.title) {
        return values.title;
    }
    if (name == kOutlineFieldName && values.outline) {
        return values.outline;
    }
    if (values.row) {
        if (std::optional<Text> field = values.row->Field(name)) {
            return field;
        }
    }
    if (name == kTitleFieldName || name == kOutlineFieldName) {
        return Text();  // a later step's result, not written yet
    }
    return std::nullopt;
}

Text Braced(std::string_view name) {
    Text braced(1, '{');
    braced.append(name);
    braced.push_back('}');
    return braced;
}

bool ColumnNamed(const KeywordColumns* columns, std::string_view name) {
    if (!columns) {
        return false;
    }
    for (const Text& column : columns->names) {
        if (column == name) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::vector<PromptPiece> FillPieces(std::string_view prompt, const PromptValues& values) {
    std::vector<PromptPiece> pieces;
    std::size_t from = 0;
    for (std::optional<Placeholder> p = NextPlaceholder(prompt, 0); p; p = NextPlaceholder(prompt, p->at + p->length)) {
        std::optional<Text> value = ValueOf(p->name, values);
        if (!value) {
            continue;
        }
        if (p->at > from) {
            pieces.push_back({Text(prompt.substr(from, p->at - from)), false});
        }
        pieces.push_back({std::move(*value), true});
        from = p->at + p->length;
    }
    if (from < prompt.size()) {
        pieces.push_back({Text(prompt.substr(from)), false});
    }
    return pieces;
}

Text FillPrompt(std::string_view prompt, const PromptValues& values) {
    Text filled;
    for (const PromptPiece& piece : FillPieces(prompt, values)) {
        filled += piece.text;
    }
    return filled;
}

bool UsesPlaceholder(std::string_view prompt, std::string_view name) {
    for (std::optional<Placeholder> p = NextPlaceholder(prompt, 0); p; p = NextPlaceholder(prompt, p->at + p->length)) {
        if (p->name == name) {
            return true;
        }
    }
    return false;
}

bool ArticleSteps::HasTitle() const {
    return !TrimAsciiBlanks(titlePrompt).empty();
}

bool ArticleSteps::HasOutline() const {
    return !TrimAsciiBlanks(outlinePrompt).empty();
}

Text StepTemplate(const ArticleSteps& steps, Step step, const Text& articlePrompt, const Text& systemPrompt) {
    Text prompt = step == Step::kTitle     ? steps.titlePrompt
                  : step == Step::kOutline ? steps.outlinePrompt
                                           : articlePrompt;
    auto mentioned = [&](std::string_view name) {
        return UsesPlaceholder(prompt, name) || UsesPlaceholder(systemPrompt, name);
    };
    if (step != Step::kTitle && steps.HasTitle() && !mentioned(kTitleFieldName)) {
        prompt += "\r\n\r\n\xCE\xC4\xD5\xC2\xB1\xEA\xCC\xE2\xA3\xBA" + Braced(kTitleFieldName);  // 文章标题：
    }
    if (step == Step::kArticle && steps.HasOutline() && !mentioned(kOutlineFieldName)) {
        prompt +=
            "\r\n\r\n\xC7\xEB\xB0\xB4\xD5\xD5\xD2\xD4\xCF\xC2\xB4\xF3\xB8\xD9\xD0\xB4\xD7\xF7\xA3\xBA\r\n" +  // 请按照以下大纲写作：
            Braced(kOutlineFieldName);
    }
    return prompt;
}

Text CheckStepTemplates(const ArticleSteps& steps, const Text& articlePrompt, const Text& systemPrompt,
                        const KeywordColumns* columns) {
    const Text invalid = "接口三设置有误：";
    const Text keyword = Braced(kKeywordFieldName);
    const bool named = UsesPlaceholder(articlePrompt, kKeywordFieldName) ||
                       UsesPlaceholder(systemPrompt, kKeywordFieldName) ||
                       (steps.HasTitle() && UsesPlaceholder(steps.titlePrompt, kKeywordFieldName)) ||
                       (steps.HasOutline() && UsesPlaceholder(steps.outlinePrompt, kKeywordFieldName));
    if (!named) {
        return invalid + "提示词中没有" + keyword + "，关键词无法写进请求";
    }
    struct Use {
        const Text* prompt;
        const char* what;
        bool titleBefore;
        bool outlineBefore;
    };
    const Use uses[] = {
        {&steps.titlePrompt, "标题提示词", false, false},
        {&steps.outlinePrompt, "大纲提示词", steps.HasTitle(), false},
        {&articlePrompt, "提示词", steps.HasTitle(), steps.HasOutline()},
    };
    for (const Use& use : uses) {
        if (UsesPlaceholder(*use.prompt, kTitleFieldName) && !use.titleBefore &&
            !ColumnNamed(columns, kTitleFieldName)) {
            return invalid + use.what + "用了" + Braced(kTitleFieldName) +
                   (steps.HasTitle() ? "，但标题在它之后才写" : "，但没有填写标题提示词");
        }
        if (UsesPlaceholder(*use.prompt, kOutlineFieldName) && !use.outlineBefore &&
            !ColumnNamed(columns, kOutlineFieldName)) {
            return invalid + use.what + "用了" + Braced(kOutlineFieldName) +
                   (steps.HasOutline() ? "，但大纲在它之后才写" : "，但没有填写大纲提示词");
        }
    }
    return {};
}

}  // namespace qj
