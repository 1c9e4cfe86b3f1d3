#include <atomic>
#include <system_error>
#include <thread>

#include "app/control_names.h"
#include "app/handlers.h"
#include "app/process_state.h"
#include "app/run_log.h"
#include "app/service_queries.h"
#include "services/credit_query.h"
#include "services/wenxin_client.h"
#include "window/responsive_wait.h"

namespace qj {

namespace {

constexpr const char* kIdleCaption = "查询余额";
constexpr const char* kBusyCaption = "查询中..";
constexpr const char* kFailureText = "余额查询失败，请确认API秘钥正确！";

std::atomic<int> g_runningQueries{0};

// The outcome of a query in the window: the label's text, or the failure box once the button's
// caption is back (the box waits for the user).
void ShowCreditAnswer(WindowModel& window, const Result<Text>& answer) {
    if (!answer) {
        window.SetText(control::kButtonQueryCredit, kPropCaption, kIdleCaption);
        window.MessageBox(kFailureText, kDefaultMessageCaption, MessageIcon::kNone);
        return;
    }
    window.SetText(control::kLabelCredit, kPropContent, *answer);
    window.SetText(control::kButtonQueryCredit, kPropCaption, kIdleCaption);
}

Interface ChosenInterface(const WindowModel& window) {
    if (window.GetNumber(control::kRadioInterfaceThree, kPropChecked)) {
        return Interface::kThree;
    }
    return window.GetNumber(control::kRadioInterfaceOne, kPropChecked) ? Interface::kOne : Interface::kTwo;
}

}  // namespace

CreditQueryInputs CreditQueryInputsFrom(const WindowModel& window, const Deployment& deployment) {
    return CreditQueryInputs{.chosen = ChosenInterface(window),
                             .key = window.GetText(control::kEditOpenAiKey, kPropContent),
                             .chatBaseUrl = window.GetText(control::kEditInterfaceThreeBaseUrl, kPropContent),
                             .deployment = deployment};
}

void QueryCredit(WindowModel& window, const Deployment& deployment) {
    ShowCreditAnswer(window, CreditQuery(CreditQueryInputsFrom(window, deployment)));
}

void StartCreditQuery(WindowModel& window, const Deployment& deployment) {
    const CreditQueryInputs inputs = CreditQueryInputsFrom(window, deployment);
    ++g_runningQueries;
    try {
        std::thread([&window, inputs] {
            ShowCreditAnswer(window, CreditQuery(inputs));
            --g_runningQueries;
        }).detach();
    } catch (const std::system_error&) {
        --g_runningQueries;
        ShowCreditAnswer(window, Error{.kind = ErrorKind::kNoReply, .reason = "no thread"});
    }
}

int RunningCreditQueries() {
    return g_runningQueries.load();
}

void RunWenxinTest(WindowModel& window, const Deployment& deployment) {
    const WenxinKeys keys{.apiKey = window.GetText(control::kEditWenxinApiKey, kPropContent),
                          .secretKey = window.GetText(control::kEditWenxinSecretKey, kPropContent)};
    WenxinTest(
        keys, deployment,
        [&window](const std::function<void()>& exchange) { RunKeepingWindowResponsive(window, exchange); },
        [](const Text& message) { RunLog(message); });
}

// The button is not disabled: each click starts a query of its own, and the last to end is shown.
void OnQueryCreditClicked(WindowModel& window) {
    window.SetText(control::kButtonQueryCredit, kPropCaption, kBusyCaption);
    window.SetText(control::kLabelCredit, kPropContent, "");
    StartCreditQuery(window, CurrentDeployment());
}

void OnTestClicked(WindowModel& window) {
    RunWenxinTest(window, CurrentDeployment());
}

}  // namespace qj
