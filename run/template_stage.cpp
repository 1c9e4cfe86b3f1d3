#include "run/template_stage.h"

#include "run/output_files.h"
#include "templates/article_form.h"
#include "templates/link_loader.h"
#include "templates/template_settings.h"
#include "text/ascii.h"

namespace qj {

namespace {

std::vector<Text> Pieces(std::string_view prompt, const PromptValues& values) {
    std::vector<Text> pieces;
    for (PromptPiece& piece : FillPieces(prompt, values)) {
        pieces.push_back(std::move(piece.text));
    }
    return pieces;
}

bool Wrote(const GenerationOutcome& outcome) {
    return outcome.ok && !outcome.cancelled && !outcome.unusableSettings && !outcome.text.empty();
}

}  // namespace

TemplateStage::TemplateStage(const RunInputs& inputs, const Text& programFolder, LogSink log)
    : interfaceThree_(inputs.request.chosen == Interface::kThree && !inputs.request.chat.endpoints.empty()),
      steps_(StepsOf(inputs.templates)),
      linkSource_(TrimAsciiBlanks(inputs.templates.linkSource)),
      linksPerArticle_(LinksPerArticle(inputs.templates.linksPerArticle)),
      programFolder_(programFolder),
      log_(std::move(log)) {
    if (interfaceThree_) {
        const ChatRequestConfig& main = inputs.request.chat.endpoints.front().config;
        articlePrompt_ = main.promptTemplate;
        systemPrompt_ = main.systemPrompt;
    }
}

bool TemplateStage::Prepare(const std::optional<KeywordColumns>& columns, const StopToken& stop) {
    columns_ = columns;
    if (interfaceThree_ && (steps_.HasTitle() || steps_.HasOutline() || columns_)) {
        const Text problem =
            CheckStepTemplates(steps_, articlePrompt_, systemPrompt_, columns_ ? &*columns_ : nullptr);
        if (!problem.empty()) {
            log_("错误信息：" + problem);
            return false;
        }
    }
    if (!linkSource_.empty()) {
        LinkLoading how{.programFolder = programFolder_, .log = log_, .cancel = stop.Flag()};
        LoadedLinks loaded = LoadInternalLinks(linkSource_, how);
        if (stop.StopRequested()) {
            return false;
        }
        if (!loaded.error.empty()) {
            log_("错误信息：" + loaded.error);
            return false;
        }
        links_ = LinkSet(std::move(loaded.links));
    }
    return true;
}

bool TemplateStage::Active(const KeywordRow& row) const {
    return interfaceThree_ && (steps_.HasTitle() || steps_.HasOutline() || columns_ || row.HasColumns());
}

ChatMessages TemplateStage::Messages(const Text& userTemplate, const PromptValues& values) const {
    ChatMessages messages;
    if (!systemPrompt_.empty()) {
        messages.system = Pieces(systemPrompt_, values);
    }
    messages.user = Pieces(userTemplate, values);
    return messages;
}

TemplateStage::Written TemplateStage::Ask(RequestStage& request, const KeywordRow& row, const StopToken& stop,
                                          const ArticleRequest& article) const {
    Written written;
    if (!Active(row)) {
        // Interfaces one and two know no columns: they are asked for the keyword alone.
        written.outcome = article(row.HasColumns() ? row.keyword() : row.line(), nullptr);
        return written;
    }
    const Text& keyword = row.keyword();
    PromptValues values{.row = &row};
    std::optional<TokenUsage> usage;
    int requests = 0;
    // One step's request; false when the keyword ends with it.
    const auto step = [&](Step which, const char* name) {
        const ChatMessages messages = Messages(StepTemplate(steps_, which, articlePrompt_, systemPrompt_), values);
        written.outcome = which == Step::kArticle ? article(keyword, &messages) : request.Ask(keyword, stop, {}, &messages);
        requests += written.outcome.requests;
        if (written.outcome.usage) {
            if (!usage) {
                usage = TokenUsage();
            }
            *usage += *written.outcome.usage;
        }
        if (Wrote(written.outcome) || which == Step::kArticle) {
            return true;
        }
        if (!written.outcome.cancelled && !written.outcome.unusableSettings) {
            written.outcome.ok = false;
            written.outcome.errorDetail = Text(name) + "：" +
                                          (written.outcome.errorDetail.empty() ? Text("回复中没有内容")
                                                                               : written.outcome.errorDetail);
        }
        return false;
    };
    bool going = true;
    if (steps_.HasTitle()) {
        going = step(Step::kTitle, "标题步骤");
        if (going) {
            const Text title = TitleFromReply(written.outcome.text);
            if (title.empty()) {
                written.outcome.ok = false;
                written.outcome.errorDetail = "标题步骤：回复中没有标题";
                going = false;
            } else {
                log_("关键词【" + keyword + "】的标题：" + title);
                values.title = title;
                written.title = title;
            }
        }
    }
    if (going && steps_.HasOutline()) {
        going = step(Step::kOutline, "大纲步骤");
        if (going) {
            log_("关键词【" + keyword + "】的大纲已写好");
            values.outline = written.outcome.text;
        }
    }
    if (going) {
        step(Step::kArticle, "");
    }
    written.outcome.usage = usage;
    written.outcome.requests = requests;
    return written;
}

Text TemplateStage::Finish(const std::optional<Text>& title, const Text& text, const KeywordRow& row,
                          bool asHtml) const {
    if (!title && links_.empty()) {
        return asHtml ? ToParagraphHtml(text) : text;
    }
    return FinishArticle(title, text, asHtml ? &ToParagraphHtml : nullptr, links_,
                         LinkRules{.maxLinks = linksPerArticle_, .ownKeyword = row.keyword()});
}

}  // namespace qj
