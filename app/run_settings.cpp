#include "app/run_settings.h"

#include <algorithm>
#include <cstdlib>

#include "app/control_names.h"
#include "batch/batch_lines.h"
#include "batch/batch_record.h"
#include "cost/price_table.h"
#include "platform/program_folder.h"
#include "services/retry_policy.h"
#include "text/ascii.h"

namespace qj {

namespace {

// A whole number typed into an edit box, within [low, high]; `fallback` when the box is empty or
// holds something else, the nearest bound when the number lies outside.
int BoundedNumber(const Text& typed, int low, int high, int fallback) {
    const Text text(TrimAsciiBlanks(typed));
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != Text::npos) {
        return fallback;
    }
    return std::clamp(std::atoi(text.c_str()), low, high);
}

// Beside the output folder: the fingerprints of its articles, and the run reports.
constexpr const char* kFingerprintFileTail = "OpenAi/文章指纹.txt";
constexpr const char* kRunReportFolderTail = "OpenAi/运行报告/";

Text Below(const Text& folder, const char* tail) {
    return folder + kPathSeparator + tail;
}

}  // namespace

Interface ChosenInterface(const SettingReader& settings) {
    if (settings.IsChecked(control::kRadioInterfaceThree)) {
        return Interface::kThree;
    }
    return settings.IsChecked(control::kRadioInterfaceOne) ? Interface::kOne : Interface::kTwo;
}

PublishStageSettings ReadPublishInputs(const SettingReader& settings, const Text& programFolder, int retries) {
    const publishing::PublishTexts texts{
        .sites = settings.TextOf(control::kEditPublishSites),
        .status = settings.TextOf(control::kEditPublishStatus),
        .categories = settings.TextOf(control::kEditPublishCategories),
        .tags = settings.TextOf(control::kEditPublishTags),
        .postsPerDay = settings.TextOf(control::kEditPublishPerDay),
        .hours = settings.TextOf(control::kEditPublishHours),
        .afterEachArticle = settings.IsChecked(control::kCheckPublishOn),
        .everySite = settings.IsChecked(control::kCheckPublishEverySite),
    };
    PublishStageSettings publish{.reading = publishing::ReadPublishSettings(texts, programFolder),
                                 .files = publishing::PublishFiles::InProgramFolder(programFolder)};
    publish.reading.settings.retries = retries;
    return publish;
}

InterfaceThreeSettings ReadChatSettings(const SettingReader& settings) {
    return InterfaceThreeSettings{
        .baseUrl = settings.TextOf(control::kEditInterfaceThreeBaseUrl),
        .model = settings.TextOf(control::kEditInterfaceThreeModel),
        .promptTemplate = settings.TextOf(control::kEditInterfaceThreePrompt),
        .systemPrompt = settings.TextOf(control::kEditInterfaceThreeSystemPrompt),
        .temperature = settings.TextOf(control::kEditInterfaceThreeTemperature),
        .backupEndpoints = settings.TextOf(control::kEditInterfaceThreeBackups),
        .proxy = settings.TextOf(control::kEditInterfaceThreeProxy),
    };
}

CheckSettingsText ReadCheckSettingsText(const SettingReader& settings) {
    return CheckSettingsText{
        .continuations = settings.TextOf(control::kEditChecksContinuations),
        .refusalPhrases = settings.TextOf(control::kEditChecksRefusalPhrases),
        .minCharacters = settings.TextOf(control::kEditChecksMinCharacters),
        .bannedWordFile = settings.TextOf(control::kEditChecksBannedWords),
        .similarity = settings.TextOf(control::kEditChecksSimilarity),
    };
}

RunInputs ReadRunInputs(const SettingReader& settings, const Deployment& deployment, const Text& programFolder,
                        const RunSwitches& switches) {
    switches.preview->Set(settings.IsChecked(control::kCheckPreview));
    switches.asHtml->Set(settings.IsChecked(control::kCheckSaveAsHtml));
    switches.skipExisting->Set(settings.IsChecked(control::kCheckSkipExisting));

    RunInputs inputs;
    inputs.take.files = JobPathsIn(programFolder);
    inputs.take.skipExisting = switches.skipExisting;

    RequestSettings& request = inputs.request;
    request.chosen = ChosenInterface(settings);
    request.key = settings.TextOf(control::kEditOpenAiKey);
    switch (request.chosen) {
        case Interface::kOne:
            request.completion = InterfaceOneProfile(deployment.openAi, deployment.relayOne);
            break;
        case Interface::kTwo:
            request.completion = InterfaceTwoProfile(deployment.openAi, deployment.relayTwo);
            break;
        case Interface::kThree:
            request.chat = PlanChatEndpoints(ReadChatSettings(settings), DefaultChatBaseUrl(deployment));
            break;
    }
    request.workers = BoundedNumber(settings.TextOf(control::kEditConcurrency), 1, kMaxWorkers, 1);
    request.retries = BoundedNumber(settings.TextOf(control::kEditRetryCount), 0, retry::kMaxRetries, 0);

    inputs.cost.priceTable = programFolder + kPathSeparator + kPriceTableTail;
    inputs.cost.cap = settings.TextOf(control::kEditCostCap);
    inputs.batch.on = request.chosen == Interface::kThree && settings.IsChecked(control::kCheckInterfaceThreeBatch);
    inputs.batch.megabytesPerPart = static_cast<unsigned long long>(
        BoundedNumber(settings.TextOf(control::kEditInterfaceThreeBatchMegabytes), 1, 100000,
                      static_cast<int>(kDefaultMegabytesPerPart)));
    inputs.batch.failedDirect = settings.IsChecked(control::kCheckInterfaceThreeBatchFailedDirect);
    inputs.batch.record = programFolder + kPathSeparator + kBatchRecordTail;
    inputs.templates = TemplateSettings{
        .titlePrompt = settings.TextOf(control::kEditInterfaceThreeTitlePrompt),
        .outlinePrompt = settings.TextOf(control::kEditInterfaceThreeOutlinePrompt),
        .linkSource = settings.TextOf(control::kEditInternalLinks),
        .linksPerArticle = settings.TextOf(control::kEditInternalLinksPerArticle),
    };

    inputs.check.checks = ReadCheckSettings(ReadCheckSettingsText(settings), programFolder + kPathSeparator);
    inputs.check.outputFolder = inputs.take.files.outputFolder;
    inputs.check.fingerprintFile = Below(programFolder, kFingerprintFileTail);
    inputs.record.reportFolder = Below(programFolder, kRunReportFolderTail);

    inputs.write.asHtml = switches.asHtml;
    inputs.report.preview = switches.preview;
    inputs.publish = ReadPublishInputs(settings, programFolder, request.retries);
    return inputs;
}

}  // namespace qj
