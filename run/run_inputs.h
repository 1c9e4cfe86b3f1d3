#pragma once

#include <atomic>
#include <memory>

#include "checks/check_settings.h"
#include "publishing/publish_settings.h"
#include "publishing/publisher.h"
#include "run/keyword_queue.h"
#include "services/chat_endpoints.h"
#include "services/completion.h"
#include "templates/template_settings.h"

namespace qj {

// A setting the user may change while a run goes on, which the run honours keyword by keyword:
// whoever shows the setting (the window, on a click of its check box) sets it, the run reads it.
// Never a call into a window.
class LiveSwitch {
public:
    explicit LiveSwitch(bool on = false) : on_(on) {}
    bool On() const { return on_.load(std::memory_order_relaxed); }
    void Set(bool on) { on_.store(on, std::memory_order_relaxed); }

private:
    std::atomic<bool> on_;
};

// Everything a run needs, read once when it starts (from the window at the click on 开始, from
// 配置.ini in the batch mode) and checked there. A run goes through its stages in this order, and
// each stage's settings are a struct of their own here; a stage added later (checks of the reply, a
// run report, cost, publishing) brings its own struct and reads nothing else.

// Take a keyword: the keyword list and the files beside it, and whether a keyword whose article
// exists already is passed over.
struct TakeSettings {
    JobPaths files;
    std::shared_ptr<const LiveSwitch> skipExisting = std::make_shared<LiveSwitch>();
};

// Ask the service: which interface, with which key, endpoints, pace and retries.
struct RequestSettings {
    Interface chosen = Interface::kOne;
    Text key;                       // the main key as typed
    CompletionProfile completion;   // interfaces one and two
    ChatEndpointPlan chat;          // interface three: its endpoints, or why its settings cannot work
    int workers = 1;                // 1 to kMaxWorkers: keywords asked for at once
    int retries = 0;                // 0 to retry::kMaxRetries: further tries of a transient failure
};

// Check the reply: the article checks, and the fingerprints of the output folder's articles (for the
// duplicate check) kept in a file beside it.
struct CheckStageSettings {
    CheckSettings checks;
    Text outputFolder;     // ends with the separator
    Text fingerprintFile;  // empty: no duplicate check
};

// Write the article: in which form.
struct WriteSettings {
    std::shared_ptr<const LiveSwitch> asHtml = std::make_shared<LiveSwitch>();
};

// Tell what happens: whether the run log shows each article.
struct ReportSettings {
    std::shared_ptr<const LiveSwitch> preview = std::make_shared<LiveSwitch>();
};

// Record the outcome: the run report (one row per keyword taken) goes into this folder as
// <start time>.csv; empty: no report.
struct RecordSettings {
    Text reportFolder;
};

// Count what the run costs: the price table that turns tokens into money, and the cap at which the
// run takes no further keyword.
struct CostSettings {
    Text priceTable;  // 价格.txt of the program folder
    Text cap;         // as typed; empty: none
};

// Interface three through the provider's batch interface instead of one request per keyword.
struct BatchSettings {
    bool on = false;
    unsigned long long megabytesPerPart = 100;  // a part's input file at most
    bool failedDirect = true;  // lines that failed or expired: a direct request (else the failure list)
    Text record;               // OpenAi/批量任务.txt of the program folder
};

// Publish the article onto the user's sites right after it is written: the page of publishing as
// read (the sites, or why none can be used) and the files of publishing.
struct PublishStageSettings {
    publishing::PublishSettingsReading reading;
    publishing::PublishFiles files;
};

struct RunInputs {
    TakeSettings take;
    RequestSettings request;
    TemplateSettings templates;  // interface three's steps and the list's columns; the internal links
    CheckStageSettings check;
    WriteSettings write;
    RecordSettings record;
    ReportSettings report;
    PublishStageSettings publish;
    CostSettings cost;
    BatchSettings batch;
};

inline constexpr int kMaxWorkers = 32;

}  // namespace qj
