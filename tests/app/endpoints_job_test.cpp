// Runs of interface three over several endpoints: failover, rests, pacing by the rate limits a
// local service announces, and a real proxy with credentials.

#include <gtest/gtest.h>

#include <set>

#include "job_fixture.h"
#include "services/endpoint_pool.h"
#include "run/job.h"
#include "services/chat_completion.h"
#include "services/retry_policy.h"
#include "local_chat_service.h"
#include "local_servers.h"
#include "platform/file_system.h"
#include "platform/program_folder.h"
#include "temporary_home.h"
#include "text/text_helpers.h"
#include "app/control_names.h"
#include "app/run_log.h"

namespace qj {
namespace {

using testing::LocalChatService;
using Plan = LocalChatService::KeyPlan;

class EndpointsJobTest : public testing::JobFixture {
protected:
    void SetUp() override {
        JobFixture::SetUp();
        retry::SetTimeScale(0.01);
        window_.SetNumber(control::kRadioInterfaceThree, kPropChecked, 1);
        window_.SetText(control::kEditOpenAiKey, kPropContent, "sk-main");
    }
    void TearDown() override {
        SetChatTimeoutSeconds(600);
        JobFixture::TearDown();
    }

    JobSummary Run(const std::string& base, const Text& backups, int workers, int retries = 0) {
        window_.SetText(control::kEditInterfaceThreeBaseUrl, kPropContent, base);
        window_.SetText(control::kEditInterfaceThreeBackups, kPropContent, backups);
        window_.SetText(control::kEditConcurrency, kPropContent, std::to_string(workers));
        window_.SetText(control::kEditRetryCount, kPropContent, std::to_string(retries));
        ClearLog();
        return JobFixture::Run();
    }

    TextList WriteList(int count) {
        TextList keywords;
        Bytes list;
        for (int i = 0; i < count; ++i) {
            keywords.push_back("k" + std::to_string(i));
            list += keywords.back() + "\r\n";
        }
        EXPECT_TRUE(ReplaceFileContents(paths_.keywordList, list));
        return keywords;
    }
    static Bytes Read(const Text& path) { return ReadFileBytes(path).value_or(""); }
    std::set<Text> Listed() const {
        const TextList lines = ListLines(Read(paths_.keywordList));
        return {lines.begin(), lines.end()};
    }

};

// One endpoint refuses the key, one fails with 500, one says its quota is used up, one never
// answers: each keyword ends on the one that works, the failing ones rest after what their kind of
// failure allows, and nothing reaches the failure list.
TEST_F(EndpointsJobTest, KeywordsFailOverToTheEndpointThatWorks) {
    LocalChatService service;
    service.Plan("sk-main", {.failStatus = 401, .errorBody = R"({"error":{"message":"Incorrect API key"}})"});
    service.Plan("sk-broken", {.failStatus = 500});
    service.Plan("sk-quota", {.failStatus = 429, .errorBody = R"({"error":{"code":"insufficient_quota"}})"});
    service.Plan("sk-stall", {.stall = true});
    SetChatTimeoutSeconds(1);
    retry::SetTimeScale(0.2);  // rests of 12 s and more: no endpoint comes back during this run
    const TextList keywords = WriteList(8);
    const JobSummary summary =
        Run(service.Base(),
            "- sk-broken\r\n# a comment\r\n\r\n- sk-quota -\r\n- sk-stall\r\n- sk-good-0001\r\nftp://x k m\r\n", 1, 2);

    EXPECT_EQ(summary.succeeded, 8) << Log();
    EXPECT_EQ(summary.failed, 0);
    EXPECT_EQ(summary.end, RunEnd::kListDone);
    for (const Text& keyword : keywords) {
        EXPECT_FALSE(Read(paths_.outputFolder + keyword + ".txt").empty()) << keyword;
    }
    EXPECT_EQ(Read(paths_.failureList), "");
    // A refusal is not tried again; a transient failure is, as often as the retries allow, and
    // the third in a row rests the endpoint.
    EXPECT_EQ(service.Of("sk-main").requests, 1);
    EXPECT_EQ(service.Of("sk-quota").requests, 1);
    EXPECT_EQ(service.Of("sk-broken").requests, 3);
    EXPECT_EQ(service.Of("sk-stall").requests, 3);
    EXPECT_EQ(service.Of("sk-good-0001").answered, 8);

    EXPECT_TRUE(Logged("备用接口第7行无法使用，已跳过：API地址必须以 http:// 或 https:// 开头")) << Log();
    EXPECT_TRUE(
        Logged("端点1（主设置）：" + service.Base() + "/chat/completions，模型 gpt-4o-mini，密钥 同「API秘钥」，直连"));
    EXPECT_TRUE(Logged("端点5：" + service.Base() + "/chat/completions，模型 gpt-4o-mini，密钥 sk-…0001，直连"));
    EXPECT_TRUE(Logged("端点1无法使用（Incorrect API key（HTTP 401）），休息10分钟")) << Log();
    EXPECT_TRUE(Logged("端点2连续失败3次，休息1分钟"));
    EXPECT_TRUE(Logged("端点4连续失败3次，休息1分钟"));
    EXPECT_TRUE(Logged("关键词【k0】请求失败（端点2，HTTP 500），"));
    EXPECT_TRUE(Logged("关键词【k0】改由端点5生成"));
    EXPECT_TRUE(Logged("端点2：文章0篇，失败3次，429回答0次")) << Log();
    EXPECT_TRUE(Logged("端点5：文章8篇，失败0次，429回答0次")) << Log();
    EXPECT_EQ(Log().find("sk-good"), Text::npos);  // keys are never logged whole
}

// Credentials and keys written into an address are masked wherever the log shows it (the list of
// endpoints, a line left out); the requests go to the address as written.
TEST_F(EndpointsJobTest, SecretsInAddressesStayOutOfTheLog) {
    LocalChatService service;
    const std::string base = service.Base();
    const std::string hostPath = base.substr(std::string("http://").size());
    WriteList(2);
    const JobSummary summary = Run(
        "http://qj:hunter2pass@" + hostPath + "?api_key=sk-query-0123456789&v=2",
        base + "?access_token=tok-abcdefghij9876 sk-second\r\nftp://qj:hunter2pass@h?key=sk-bad-0123456789 k m\r\n", 1);
    EXPECT_EQ(summary.succeeded, 2) << Log();
    EXPECT_EQ(service.Of("sk-main").answered + service.Of("sk-second").answered, 2);
    EXPECT_TRUE(Logged("端点1（主设置）：http://q…:***@" + hostPath + "/chat/completions?api_key=sk-…6789&v=2，"))
        << Log();
    EXPECT_TRUE(Logged("端点2：" + base + "/chat/completions?access_token=tok…9876，"));
    EXPECT_TRUE(Logged(
        "备用接口第2行无法使用，已跳过：API地址必须以 http:// 或 https:// 开头，现在是：ftp://q…:***@h?key=sk-…6789"));
    for (const char* secret : {"hunter2", "sk-query-0", "tok-abcdefghij", "sk-bad-0"}) {
        EXPECT_EQ(Log().find(secret), Text::npos) << secret;
    }
}

// An endpoint that failed three times in a row rests and is used again after its rest; when every
// endpoint rests or refuses, the run ends and the keywords go back into the list.
TEST_F(EndpointsJobTest, RestedEndpointsComeBackAndARunWithoutAnyEndsKeepingItsKeywords) {
    {
        LocalChatService service(std::chrono::milliseconds(1000), std::chrono::milliseconds(40));
        service.Plan("sk-main", {.failStatus = 503, .failFirst = 3});
        WriteList(30);
        const JobSummary summary = Run(service.Base(), "- sk-good", 1);
        EXPECT_EQ(summary.succeeded, 30) << Log();
        EXPECT_TRUE(Logged("端点1连续失败3次，休息1分钟")) << Log();
        EXPECT_TRUE(Logged("端点1休息结束，重新使用")) << Log();
        EXPECT_GT(service.Of("sk-main").answered, 0);
        EXPECT_EQ(service.Of("sk-main").answered + service.Of("sk-good").answered, 30);
    }

    LocalChatService service;
    service.Plan("sk-main", {.failStatus = 401});
    service.Plan("sk-dry", {.failStatus = 402, .errorBody = R"({"error":{"message":"Insufficient Balance"}})"});
    const TextList keywords = WriteList(6);
    const JobSummary summary = Run(service.Base(), "- sk-dry", 2);
    EXPECT_EQ(summary.end, RunEnd::kEndedEarly);
    EXPECT_EQ(summary.succeeded + summary.failed, 0);
    EXPECT_EQ(Listed(), std::set<Text>(keywords.begin(), keywords.end()));
    EXPECT_EQ(Read(paths_.journal), "");
    EXPECT_EQ(Read(paths_.failureList), "");
    EXPECT_EQ(SplitText(Log(), "错误信息：接口三的所有端点都在休息，本次任务提前结束").size(), 2u) << Log();
    EXPECT_TRUE(Logged("端点2无法使用（Insufficient Balance（HTTP 402）），休息10分钟"));
    // Only the keywords under way when the refusals came (one per worker) met them.
    EXPECT_LE(service.Of("sk-main").requests + service.Of("sk-dry").requests, 4);
}

// Two endpoints, each with a hard budget per window (one of requests, one of tokens), share the
// keywords by what they have left; the run keeps within both budgets instead of running into 429s.
// So does one endpoint with a budget of five and eight workers, whose replies may come back in
// another order than the service wrote them.
TEST_F(EndpointsJobTest, RequestsKeepWithinTheBudgetsTheRepliesAnnounce) {
    LocalChatService service(std::chrono::milliseconds(300), std::chrono::milliseconds(30), 50);
    service.Plan("sk-main", {.requestsPerWindow = 4});
    service.Plan("sk-tokens", {.tokensPerWindow = 150});
    WriteList(40);
    const JobSummary summary = Run(service.Base(), "- sk-tokens", 8);
    EXPECT_EQ(summary.succeeded, 40) << Log();
    EXPECT_EQ(service.Of("sk-main").rateLimited, 0) << Log();
    EXPECT_EQ(service.Of("sk-tokens").rateLimited, 0) << Log();
    EXPECT_GE(service.Of("sk-main").answered, 12);
    EXPECT_GE(service.Of("sk-tokens").answered, 10);
    EXPECT_TRUE(Logged("端点1的服务限额：每个周期请求4个，")) << Log();
    EXPECT_TRUE(Logged("端点2的服务限额：每个周期Token 150个，")) << Log();

    for (int round = 0; round < 3; ++round) {
        LocalChatService five(std::chrono::milliseconds(250));
        five.Plan("sk-main", {.requestsPerWindow = 5});
        WriteList(30);
        EXPECT_EQ(Run(five.Base(), "", 8).succeeded, 30) << Log();
        EXPECT_EQ(five.Of("sk-main").rateLimited, 0) << Log();
    }
}

// A wait a reply asks for is capped at ten minutes and logged, and never keeps a keyword from an
// endpoint with room. A 429 is the pace's business, not the keyword's: the keyword goes again, and
// an endpoint that keeps answering 429 rests, so that the run ends with its keywords kept instead of
// failing them all.
TEST_F(EndpointsJobTest, RateLimitsHoldEndpointsBackButFailNoKeyword) {
    LocalChatService service;
    const std::string tooMany = R"({"error":{"message":"Rate limit reached","type":"requests"}})";
    service.Plan("sk-main", {.failStatus = 429, .errorBody = tooMany, .headers = {{"Retry-After", "99999"}}});
    WriteList(6);
    EXPECT_EQ(Run(service.Base(), "- sk-good", 2, 1).succeeded, 6) << Log();
    EXPECT_EQ(service.Of("sk-main").requests, 1);
    EXPECT_EQ(service.Of("sk-good").answered, 6);
    EXPECT_TRUE(Logged("端点1的回复要求等待超过10分钟，最多等待10分钟")) << Log();
    EXPECT_TRUE(Logged("端点1回答请求过多（HTTP 429），并发数降为1，暂停600秒")) << Log();

    service.Plan("sk-main", {.failStatus = 429, .errorBody = tooMany, .headers = {{"retry-after-ms", "20"}}});
    const TextList keywords = WriteList(8);
    const JobSummary summary = Run(service.Base(), "", 8);
    EXPECT_EQ(summary.end, RunEnd::kEndedEarly);
    EXPECT_EQ(summary.failed, 0);
    EXPECT_EQ(Listed(), std::set<Text>(keywords.begin(), keywords.end()));
    EXPECT_EQ(Read(paths_.failureList), "");
    EXPECT_TRUE(Logged("次回答请求过多（HTTP 429），休息1分钟")) << Log();
    EXPECT_TRUE(Logged("错误信息：接口三的端点在休息，本次任务提前结束")) << Log();
    // Each keyword went again at most so often.
    EXPECT_LE(service.Of("sk-main").requests, 1 + 8 * (EndpointPool::kRateLimitedGoes + 1)) << Log();
}

// Through tinyproxy with basic authentication: the right password gets through; a wrong or missing
// one, a proxy nobody listens on, or one that answers the tunnel request with garbage, closes at
// once or never answers, is named in the log and ends the run with the keywords kept (the endpoint
// rests at once); an endpoint line may go direct instead.
TEST_F(EndpointsJobTest, AProxyWithCredentials) {
    LocalChatService service;
    test::TinyProxy proxy("qj", "s3cret");
    ASSERT_TRUE(proxy.running());
    const Text address = proxy.Address();

    WriteList(2);
    window_.SetText(control::kEditInterfaceThreeProxy, kPropContent, "http://qj:s3cret@" + address);
    EXPECT_EQ(Run(service.Base(), "", 2).succeeded, 2) << Log();
    EXPECT_TRUE(Logged("端点1（主设置）：" + service.Base() +
                       "/chat/completions，模型 gpt-4o-mini，密钥 同「API秘钥」，代理 qj@" + address));
    EXPECT_EQ(service.Of("sk-main").answered, 2);

    // A TLS service, reached through the proxy's tunnel.
    test::LibServer tls(true);
    tls.server().Post("/v1/chat/completions", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("data: {\"choices\":[{\"delta\":{\"content\":\"x\"}}]}\n\ndata: [DONE]\n\n",
                             "text/event-stream");
    });
    tls.Start();
    const test::RefusingPort refusing;
    // Proxies that answer the tunnel request with garbage, close at once, or never answer it.
    test::RawServer garbage([](test::SocketId socket, const test::RawRequest&) {
        test::RawServer::Send(socket, "SSH-2.0-OpenSSH_9.2\r\n\r\n");
    });
    test::RawServer closing([](test::SocketId, const test::RawRequest&) {});
    std::unique_ptr<test::RawServer> silent;
    silent = std::make_unique<test::RawServer>([&](test::SocketId, const test::RawRequest&) { silent->Stall(60000); });
    const auto local = [](int port) { return "127.0.0.1:" + std::to_string(port); };
    SetChatTimeoutSeconds(1);  // also the longest the tunnel may take to open
    const struct {
        Text proxy;
        std::string base;
        Text reason;
    } refused[] = {
        {local(garbage.port()), service.Base(), "代理服务器 " + local(garbage.port()) + " 连接不上："},
        {local(closing.port()), service.Base(), "代理服务器 " + local(closing.port()) + " 连接不上："},
        {local(silent->port()), service.Base(), "代理服务器 " + local(silent->port()) + " 连接不上："},
        {"http://qj:wrong@" + address, service.Base(), "代理服务器 qj@" + address + " 拒绝了用户名或密码（HTTP 401）"},
        {"http://qj@" + address, service.Base(), "代理服务器 qj@" + address + " 拒绝了用户名或密码（HTTP 401）"},
        {"http://qj:wrong@" + address, tls.Url("/v1"), "代理服务器 qj@" + address + " 拒绝了用户名或密码（HTTP 401）"},
        {"127.0.0.1:" + std::to_string(refusing.port()), service.Base(), "连接不上："},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.proxy + " " + c.base);
        const TextList keywords = WriteList(3);
        window_.SetText(control::kEditInterfaceThreeProxy, kPropContent, c.proxy);
        const JobSummary summary = Run(c.base, "", 2);
        EXPECT_EQ(summary.end, RunEnd::kEndedEarly);
        EXPECT_TRUE(Logged(c.reason)) << Log();
        EXPECT_EQ(Listed(), std::set<Text>(keywords.begin(), keywords.end()));
        EXPECT_EQ(Read(paths_.failureList), "");
    }
    EXPECT_EQ(service.Of("sk-main").requests, 2);

    // The proxy box refuses, the backup line goes direct.
    WriteList(2);
    window_.SetText(control::kEditInterfaceThreeProxy, kPropContent, "http://qj:wrong@" + address);
    EXPECT_EQ(Run(service.Base(), "- sk-direct - 直连", 1).succeeded, 2) << Log();
    EXPECT_EQ(service.Of("sk-direct").answered, 2);
}

}  // namespace
}  // namespace qj

