#pragma once

#include <optional>

#include "platform/result.h"
#include "settings/deployment.h"
#include "text/types.h"
#include "services/generator.h"

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
    Text available;  // the figures as the reply writes them; empty when a marker is missing
    Text used;
};

// One credit service: how its request is built and how its reply is read (a reply that is no
// success is a failure of kind kBadReply holding it).
struct CreditService {
    CreditRequest (*request)(const Deployment& deployment, const Text& key);
    Result<CreditFigures> (*read)(const Text& reply);
};

// Interface one asks the OpenAI credit grants with the key as its bearer token.
CreditService InterfaceOneCredit();
// Interface two asks the relay's balance with the key as a form field.
CreditService InterfaceTwoCredit();

// The value of the fixed key field of interface two.
inline constexpr const char* kInterfaceTwoKeyField = "Qm4TzR8vKp2WxN6bJd0LsYh3FgUe7A";

// "余额：" + available + " 美元,已使用：" + used + " 美元".
Text CreditResultLine(const CreditFigures& figures);

// Sends the request; the reply up to its first zero byte, whatever its status.
[[nodiscard]] Result<Text> SendCreditRequest(const CreditRequest& request);

// What 查询余额 asks: the interface chosen and the key typed, with the deployment's hosts and, for
// interface three, its address as typed.
struct CreditQueryInputs {
    Interface chosen = Interface::kOne;
    Text key;
    Text chatBaseUrl;
    Deployment deployment;
};

// One whole query on the calling thread: what the credit label shows (the result line, or on
// interface three, whose key is checked against the service's model list, how many models it may
// use), or why there is nothing to show.
[[nodiscard]] Result<Text> CreditQuery(const CreditQueryInputs& inputs);

}  // namespace qj
