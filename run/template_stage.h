#pragma once

#include <functional>
#include <mutex>
#include <optional>

#include "platform/stop_token.h"
#include "run/request_stage.h"
#include "run/run_inputs.h"
#include "templates/internal_links.h"
#include "templates/keyword_row.h"
#include "templates/prompt_fill.h"

namespace qj {

// Interface three's templates in a run: the columns of the keyword list, the title and outline
// steps before the article, and the internal links of the finished article. Without any of them
// (or on interfaces one and two) a keyword goes as a single request and its text is written as it
// came. Safe for the run's workers once prepared.
class TemplateStage {
public:
    TemplateStage(const RunInputs& inputs, const Text& programFolder, LogSink log);

    // Before the first keyword: checks the templates against the list's columns and reads the
    // links. False, with the reason logged, when the run cannot go on with them.
    bool Prepare(const std::optional<KeywordColumns>& columns, const StopToken& stop);

    // The row of a line of the list, with the list's column names (on every interface: the file
    // name and the log use its first field, and publishing its 分类 and 标签).
    KeywordRow Row(const Text& line) const { return KeywordRow(line, columns_ ? &*columns_ : nullptr); }

    struct Written {
        // Of the last request made; its usage and requests summed over all steps.
        GenerationOutcome outcome;
        std::optional<Text> title;  // what the title step wrote
    };
    // The article's own request: the keyword (or line) to ask for and, when the templates fill
    // them, the messages to send instead of the keyword's.
    using ArticleRequest = std::function<GenerationOutcome(const Text& keyword, const ChatMessages* messages)>;
    // The keyword's text: the steps one after another, each a request through the request stage,
    // then the article through `article`; a step that fails (or is stopped) ends there with its
    // outcome.
    Written Ask(RequestStage& request, const KeywordRow& row, const StopToken& stop,
                const ArticleRequest& article) const;

    // The article as its file holds it: `text` is the article step's text, `title` the title
    // step's.
    Text Finish(const std::optional<Text>& title, const Text& text, const KeywordRow& row, bool asHtml) const;

private:
    bool Active(const KeywordRow& row) const;
    ChatMessages Messages(const Text& userTemplate, const PromptValues& values) const;

    const bool interfaceThree_;
    const ArticleSteps steps_;
    const Text linkSource_;
    const int linksPerArticle_;
    const Text programFolder_;
    const LogSink log_;
    Text articlePrompt_;
    Text systemPrompt_;
    std::optional<KeywordColumns> columns_;
    LinkSet links_;
};

}  // namespace qj
