#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "templates/keyword_row.h"
#include "text/types.h"

namespace qj {

// The names of the steps' results in a template: {标题} and {大纲}.
inline constexpr std::string_view kTitleFieldName = "\xB1\xEA\xCC\xE2";    // 标题
inline constexpr std::string_view kOutlineFieldName = "\xB4\xF3\xB8\xD9";  // 大纲

// What the placeholders of one keyword's templates stand for: the fields of its row, and the
// results of the steps done so far.
struct PromptValues {
    const KeywordRow* row = nullptr;
    std::optional<Text> title{};    // once the title step wrote one
    std::optional<Text> outline{};  // once the outline step wrote one
};

// A template cut at its placeholders, in order: literal text, and the values that replace
// placeholders. A value is converted for the wire on its own, so that a byte of it that is no whole
// character never joins the template's next byte.
struct PromptPiece {
    Text text;
    bool value = false;
};

// Every {name} that names something is replaced: {关键词}, a column of the row (by the header's
// name or as {列N}), {标题} and {大纲} (a step's result, else a column of that name). A column the
// line lacks is empty, and so is a step's result not written yet. A {name} that names nothing stays
// as written: a prompt may hold braces of its own.
std::vector<PromptPiece> FillPieces(std::string_view prompt, const PromptValues& values);

// The filled template as one text.
Text FillPrompt(std::string_view prompt, const PromptValues& values);

// Whether a template uses the placeholder {name}.
bool UsesPlaceholder(std::string_view prompt, std::string_view name);

// The title and outline steps that come before the article, each optional.
struct ArticleSteps {
    Text titlePrompt;    // empty: no title step
    Text outlinePrompt;  // empty: no outline step

    bool HasTitle() const;
    bool HasOutline() const;
};

enum class Step { kTitle, kOutline, kArticle };

// The template a step sends: its own (`articlePrompt` for the article), with the results of the
// earlier steps appended that neither it nor the system prompt mentions, so that every result
// reaches the model: the outline is written for the title, and the article for both.
Text StepTemplate(const ArticleSteps& steps, Step step, const Text& articlePrompt, const Text& systemPrompt);

// Why templates cannot work together, for the run log (empty when they can): none of the prompts
// names {关键词} (every keyword would get the same text), or a prompt uses {标题} or {大纲} that no
// step writes before it and no column of the list supplies.
Text CheckStepTemplates(const ArticleSteps& steps, const Text& articlePrompt, const Text& systemPrompt,
                        const KeywordColumns* columns);

}  // namespace qj
