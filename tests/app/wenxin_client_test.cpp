// The Wenxin test against a local server: the token request, the generation request that follows it
// with the header block the first one completed, and the one run-log line of a refused token.

#include "app/service_queries.h"

#include <gtest/gtest.h>

#include "app/main_window_controls.h"
#include "services/wenxin_client.h"
#include "window/memory_window.h"
#include "http_test_util.h"
#include "local_servers.h"
#include "local_sites.h"
#include "temporary_home.h"
#include "text/code_page.h"
#include "app/control_names.h"
#include "app/run_log.h"

namespace qj {
namespace {

using test::RawRequest;
using test::RawServer;
using test::Utf8;
using testing::DeploymentWith;
using testing::LocalOrigin;
using Lines = std::vector<std::string>;

constexpr const char* kTokenPath = "/moduleApi/portal/api/oauth/token";
constexpr const char* kGenerationPath = "/moduleApi/portal/api/rest/1.0/ernie/3.0.25/zeus";
const Text kFailureLine = "获取accessToken失败，请确认API Key和 Secret key是否正确！";

// Answers the token request with `tokenReply` and anything else with a generation result.
RawServer::Responder WenxinService(std::string tokenReply) {
    return [tokenReply](int socket, const RawRequest& request) {
        const bool token = request.RequestLine().find(kTokenPath) != std::string::npos;
        const std::string body = token ? tokenReply : R"({"code":0,"msg":"success","data":{"result":"x"}})";
        RawServer::Send(socket, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                                    "\r\nConnection: close\r\n\r\n" + body);
    };
}

class WenxinTestTest : public ::testing::Test {
protected:
    void Start(std::string tokenReply) {
        server_.emplace(WenxinService(std::move(tokenReply)));
        deployment_ = DeploymentWith({.wenxin = LocalOrigin(server_->port())});
        SetRunLogWindow(&window_);
    }
    void TearDown() override { SetRunLogWindow(nullptr); }

    void Keys(const Text& apiKey, const Text& secretKey) {
        window_.SetText(control::kEditWenxinApiKey, kPropContent, apiKey);
        window_.SetText(control::kEditWenxinSecretKey, kPropContent, secretKey);
    }
    std::string Url(const std::string& pathAndQuery) { return LocalOrigin(server_->port()) + pathAndQuery; }
    // The header lines every request of the test carries, the Referer naming the token URL.
    Lines CommonLines(std::size_t bodyLength) {
        return Lines{"Host: 127.0.0.1:" + std::to_string(server_->port()),
                     "Content-Type: application/x-www-form-urlencoded",
                     "Accept: */*",
                     "Referer: " + Url(kTokenPath),
                     "Accept-Language: zh-cn",
                     "User-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)",
                     "Content-Length: " + std::to_string(bodyLength)};
    }
    std::string RunLogText() { return window_.GetText(control::kEditRunLog, kPropContent); }

    testing::TemporaryHome home_;
    std::optional<RawServer> server_;
    Deployment deployment_;
    MemoryWindow window_{MainWindowLayout().controls};
};

const std::string kGenerationBody =
    "text=%E8%DB%E8%BD%D2%BB%CC%EC%B3%D4%B6%E0%C9%D9%C1%A3%D7%EE%BA%C3&async=1&typeId=1&seq_len=512&min_dec_len=2"
    "&topp=0.8&task_prompt=qa&penalty_score=1.2&is_unidirectional=0&min_dec_penalty_text=" +
    Utf8(u8"。?：！") + "[<S>]&mask_type=word";

TEST_F(WenxinTestTest, TokenThenOneGenerationRequestCarryingTheCompletedBlock) {
    Start(R"({"code":0,"msg":"success","data":"24.6a1b-c2d3.2592000.17"})");
    Keys("ak-1", "sk-2");
    RunWenxinTest(window_, deployment_);

    const std::vector<RawRequest> requests = server_->Requests();
    ASSERT_EQ(requests.size(), 2u);
    const std::string tokenBody = "grant_type=client_credentials&client_id=ak-1&client_secret=sk-2";
    EXPECT_EQ(requests[0].RequestLine(), std::string("POST ") + kTokenPath + " HTTP/1.1");
    EXPECT_EQ(requests[0].HeaderLines(), test::OnTheWire(CommonLines(tokenBody.size())));
    EXPECT_EQ(requests[0].body, tokenBody);

    EXPECT_EQ(requests[1].RequestLine(),
              std::string("POST ") + kGenerationPath + "?access_token=24.6a1b-c2d3.2592000.17 HTTP/1.1");
    EXPECT_EQ(requests[1].HeaderLines(), test::OnTheWire(CommonLines(kGenerationBody.size())));
    EXPECT_EQ(requests[1].body, kGenerationBody);
    EXPECT_EQ(RunLogText(), "");  // the answer is not shown anywhere
}

TEST_F(WenxinTestTest, ARefusedTokenIsLoggedOnceAndTheGenerationGoesOutWithoutIt) {
    Start(R"({"code":110,"msg":"invalid client","data":"nope"})");
    Keys("", "");
    RunWenxinTest(window_, deployment_);

    const std::vector<RawRequest> requests = server_->Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].body, "grant_type=client_credentials&client_id=&client_secret=");
    EXPECT_EQ(requests[1].RequestLine(), std::string("POST ") + kGenerationPath + "?access_token= HTTP/1.1");
    EXPECT_EQ(requests[1].body, kGenerationBody);
    const std::string log = RunLogText();
    EXPECT_EQ(log.find("\r\n"), log.size() - 2);  // exactly one line
    EXPECT_TRUE(log.ends_with("】 > > >  " + kFailureLine + "\r\n")) << log;
}

TEST_F(WenxinTestTest, KeysGoIntoTheFormAsTheyStand) {
    Start(R"({"msg":"success"})");  // success without a token: the token is empty, nothing is logged
    Keys("a&b=c ", "密钥");
    RunWenxinTest(window_, deployment_);

    const std::vector<RawRequest> requests = server_->Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].body, "grant_type=client_credentials&client_id=a&b=c &client_secret=" + Utf8(u8"密钥"));
    EXPECT_EQ(requests[1].RequestLine(), std::string("POST ") + kGenerationPath + "?access_token= HTTP/1.1");
    EXPECT_EQ(RunLogText(), "");
}

TEST_F(WenxinTestTest, WithoutAServiceTheTokenFailureIsLogged) {
    const test::RefusingPort refusing;
    deployment_ = DeploymentWith({.wenxin = LocalOrigin(refusing.port())});
    SetRunLogWindow(&window_);
    RunWenxinTest(window_, deployment_);
    EXPECT_TRUE(RunLogText().ends_with(kFailureLine + "\r\n"));
}

// The token is the JSON string value of "data", quotation mark to quotation mark, once the reply
// says success.
TEST(WenxinTokenReply, TokenOnlyBehindTheExactMarker) {
    EXPECT_EQ(ReadWenxinTokenReply(R"({"data":"t-1","msg":"success"})").value_or("<failed>"), "t-1");
    EXPECT_FALSE(ReadWenxinTokenReply(R"({"data":"t-1"})").ok());
    EXPECT_TRUE(ReadWenxinTokenReply(R"({"msg":"success","data": "spaced"})").ok());
    EXPECT_EQ(ReadWenxinTokenReply(R"({"msg":"success","data": "spaced"})").value_or("<failed>"), "");
    EXPECT_EQ(ReadWenxinTokenReply(R"({"msg":"success","data":"unterminated)").value_or("<failed>"), "");
    // The word alone is not enough: a success field set to false is a refusal.
    EXPECT_FALSE(ReadWenxinTokenReply(R"({"success":false,"msg":"success is not yours","data":"t-1"})").ok());
    EXPECT_FALSE(ReadWenxinTokenReply(R"({"data":"t-1", "success" : "false"})").ok());
    EXPECT_EQ(ReadWenxinTokenReply(R"({"success":false,"data":"t-1"})").value_or(""), "");
    EXPECT_TRUE(ReadWenxinTokenReply(R"({"success":true,"data":"t-2"})").ok());
}

}  // namespace
}  // namespace qj
