#pragma once

#include <optional>

#include "platform/result.h"
#include "settings/deployment.h"
#include "text/types.h"
#include "window/window_model.h"

namespace qj {

// What a credit service is asked: one request of the HTTP layer.
struct CreditRequest {
    Text url;
    int method = 0;
    std::optional<Text> body;
    Text headers;
};

// What a credit reply says.
struct CreditFigures {
    bool ok = false;  // the reply is a success
    Text available;   // the figures as the reply writes them; empty when a marker is missing
    Text used;
};

// One credit service: how its request is built and how its reply is read.
struct CreditService {
    CreditRequest (*request)(const Deployment& deployment, const Text& key);
    CreditFigures (*read)(const Text& reply);
};

// Interface one asks the OpenAI credit grants with the key as its bearer token.
CreditService InterfaceOneCredit();
// Interface two asks the relay's balance with the key as a form field.
CreditService InterfaceTwoCredit();

// The service that the interface radio boxes of the window choose.
CreditService ChosenCreditService(WindowModel& window);

// The value of the fixed key field of interface two.
inline constexpr const char* kInterfaceTwoKeyField = "Qm4TzR8vKp2WxN6bJd0LsYh3FgUe7A";

// "余额：" + available + " 美元,已使用：" + used + " 美元".
Text CreditResultLine(const CreditFigures& figures);

// Sends the request; the reply up to its first zero byte, whatever its status.
[[nodiscard]] Result<Text> SendCreditRequest(const CreditRequest& request);

// One whole query on the calling thread: reads the interface and the key from the window, asks the
// deployment's service and shows the outcome (the result line in 透明标签3, or the failure message
// box after the button's caption is restored). On interface three the key is checked against the
// service's model list instead, and 透明标签3 says how many models it may use.
void CreditQuery(WindowModel& window, const Deployment& deployment);

// Runs CreditQuery on a worker thread of its own that nobody waits for; several may run at once.
// The window must outlive the worker (the program's window lives until the process ends).
void StartCreditQuery(WindowModel& window, const Deployment& deployment);

// Workers of StartCreditQuery that have not ended yet.
int RunningCreditQueries();

}  // namespace qj
