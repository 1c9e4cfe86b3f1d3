#include "run/check_stage.h"

#include "platform/file_system.h"

namespace qj {

namespace {

void AddUsage(GenerationOutcome& total, const GenerationOutcome& part) {
    if (part.usage) {
        if (total.usage) {
            *total.usage += *part.usage;
        } else {
            total.usage = part.usage;
        }
    }
}

}  // namespace

CheckStage::CheckStage(const CheckStageSettings& settings, int retries, const LogSink& log)
    : settings_(settings), asksAgain_(retries + 1), log_(log) {}

bool CheckStage::Prepare() {
    const CheckSettings& checks = settings_.checks;
    BannedWords words;
    if (!checks.bannedWordFile.empty()) {
        const Result<Bytes> file = ReadFileBytes(checks.bannedWordFile);
        if (!file) {
            Log("错误信息：违禁词文件无法读取 " + Describe(file.error()) + "，本次任务没有开始");
            return false;
        }
        words = BannedWords(ReadBannedWords(*file));
        Log("违禁词文件共" + std::to_string(words.size()) + "个词：" + checks.bannedWordFile);
    }
    if (checks.similarity > 0 && !settings_.fingerprintFile.empty()) {
        duplicates_ = std::make_unique<DuplicateIndex>(settings_.outputFolder, settings_.fingerprintFile,
                                                       checks.similarity);
        const DuplicateIndex::Opened opened = duplicates_->Open();
        if (opened.error) {
            // The check still holds for what could be read and for this run's articles.
            Log("错误信息：文章指纹文件 " + Describe(*opened.error));
        }
        if (opened.read > 0) {
            Log("已为" + std::to_string(opened.read) + "篇文章建立指纹");
        }
    }
    checks_.emplace(checks, std::move(words), duplicates_.get());
    return true;
}

CheckedReply CheckStage::Obtain(const Text& keyword, const Text& fileName, RequestStage& request,
                                const StopToken& stop, const ChatMessages* messages) {
    const CheckSettings& settings = settings_.checks;
    CheckedReply checked;
    GenerationOutcome& total = checked.outcome;
    int requests = 0;
    FollowUp followUp;
    for (int asked = 0;; ++asked) {
        GenerationOutcome outcome = request.Ask(keyword, stop, followUp, messages);
        requests += outcome.requests;
        Text text = outcome.text;
        // A cut-off article of a chat service is continued while continuations are left.
        for (int continued = 0; outcome.ok && IsCutOffFinish(outcome.finishReason) && request.CanContinue() &&
                                continued < settings.continuations;
             ++continued) {
            AddUsage(total, outcome);
            figures_.Continued();
            Log("关键词【" + keyword + "】的回复被截断，第" + std::to_string(continued + 1) + "次请求续写");
            const FollowUp more{.hint = followUp.hint, .written = text, .continuationPrompt = settings.continuationPrompt};
            outcome = request.Ask(keyword, stop, more, messages);
            requests += outcome.requests;
            text += outcome.text;
        }
        AddUsage(total, outcome);
        const std::optional<TokenUsage> usage = total.usage;
        total = std::move(outcome);
        total.usage = usage;
        total.requests = requests;
        if (!total.ok || total.text.empty()) {
            if (total.reviewRefused) {
                figures_.Stopped(ArticleCheck::kReview);
                checked.failedCheck = "内容审核未通过";
            }
            return checked;
        }
        total.text = text;
        CheckVerdict verdict = checks_->Check(text, total.finishReason, fileName, keyword);
        if (!verdict.stopped) {
            figures_.Replaced(verdict.replaced);
            checked.passed = true;
            checked.article = std::move(verdict.article);
            return checked;
        }
        figures_.Stopped(*verdict.stopped);
        if (!AsksAgain(*verdict.stopped) || asked >= asksAgain_) {
            checked.failedCheck = verdict.reason;
            return checked;
        }
        Log("关键词【" + keyword + "】未通过检查：" + verdict.reason + "，重新请求");
        if (*verdict.stopped == ArticleCheck::kDuplicate) {
            followUp.hint = kVariationHint;
        }
    }
}

void CheckStage::Written(const Text& fileName) {
    if (Result<void> e = checks_->Written(fileName); !e) {
        // The article counts for this run; the next one reads it from the folder again.
        Log("错误信息：文章指纹文件 " + Describe(e.error()));
    }
}

void CheckStage::NotWritten(const Text& fileName) {
    checks_->NotWritten(fileName);
}

void CheckStage::LogFigures() const {
    if (checks_ && figures_.Any()) {
        Log(figures_.ClosingLine(settings_.checks, !checks_->bannedWords().empty()));
    }
}

}  // namespace qj
