// The credit query against local servers: what each interface sends byte for byte, how replies are
// judged, and what the window shows.

#include "app/service_queries.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/main_window_controls.h"
#include "credit_window.h"
#include "window/memory_window.h"
#include "http_test_util.h"
#include "local_servers.h"
#include "local_sites.h"
#include "temporary_home.h"
#include "app/control_names.h"
#include "app/run_log.h"

namespace qj {
namespace {

using test::RawRequest;
using test::RawServer;
using testing::DeploymentWith;
using testing::LocalOrigin;
using Lines = std::vector<std::string>;

constexpr const char* kBrowserAgent =
    "User-Agent: Mozilla/5.0 (Windows NT 10.0; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/86.0.4240.198 Safari/537.36";
const Text kFailureText = "余额查询失败，请确认API秘钥正确！";

RawServer::Responder Reply(int status, const std::string& body) {
    return [status, body](int socket, const RawRequest&) {
        RawServer::Send(socket, "HTTP/1.1 " + std::to_string(status) + " X\r\nContent-Length: " +
                                    std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    };
}

// A window in memory that remembers the button's caption at the moment a message box appears.
class CreditWindow : public testing::CreditControls<MemoryWindow> {
public:
    CreditWindow() : CreditControls(MainWindowLayout().controls) { SetRunLogWindow(this); }
    ~CreditWindow() override { SetRunLogWindow(nullptr); }

    void MessageBox(const Text& text, const Text& caption, MessageIcon icon) override {
        captionAtBox = GetText(control::kButtonQueryCredit, kPropCaption);
        MemoryWindow::MessageBox(text, caption, icon);
    }

    Text captionAtBox;
};

class CreditQueryTest : public ::testing::Test {
protected:
    // A deployment whose OpenAI host and relay API both are `server`; the relay sites are names only.
    void PointAt(const RawServer& server) {
        deployment_ = DeploymentWith({
            .openAi = LocalOrigin(server.port()),
            .relayOne = "https://one.relay.test",
            .relayTwo = "https://two.relay.test",
            .relayTwoApi = LocalOrigin(server.port()),
        });
    }
    std::string Host(const RawServer& server) { return "Host: 127.0.0.1:" + std::to_string(server.port()); }

    testing::TemporaryHome home_;
    Deployment deployment_ = DefaultDeployment();
    CreditWindow window_;
};

TEST_F(CreditQueryTest, InterfaceOneAsksTheCreditGrantsWithTheKeyAsBearer) {
    RawServer server(Reply(200, R"({"object":"credit_summary","total_granted":18.0,"total_used":1.25,)"
                                R"("total_available":16.75,"grants":{"data":[]}})"));
    PointAt(server);
    window_.Choose(1, "sk-abc123");
    QueryCredit(window_, deployment_);

    ASSERT_EQ(server.Requests().size(), 1u);
    const RawRequest request = server.Requests()[0];
    EXPECT_EQ(request.RequestLine(), "GET /dashboard/billing/credit_grants HTTP/1.1");
    EXPECT_EQ(
        request.HeaderLines(),
        test::OnTheWire(Lines{Host(server), "Authorization: Bearer sk-abc123", kBrowserAgent,
                              "Content-Type: application/json", "Accept: */*", "Origin: https://one.relay.test",
                              "Sec-Fetch-Site: cross-site", "Sec-Fetch-Mode: cors", "Sec-Fetch-Dest: empty",
                              "Referer: https://one.relay.test/vip.html", "Accept-Language: zh-cn"}));
    EXPECT_EQ(request.body, "");

    EXPECT_EQ(window_.Label(), "余额：16.75 美元,已使用：1.25 美元");
    EXPECT_EQ(window_.Caption(), "查询余额");
    EXPECT_TRUE(window_.ShownMessages().empty());
}

TEST_F(CreditQueryTest, InterfaceOneRefusalRestoresTheCaptionBeforeTheFailureBox) {
    RawServer server(
        Reply(401, R"({"error":{"message":"Incorrect API key provided","type":"invalid_request_error"}})"));
    PointAt(server);
    window_.Choose(1, "");
    QueryCredit(window_, deployment_);

    ASSERT_EQ(server.Requests().size(), 1u);
    const Lines lines = server.Requests()[0].HeaderLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Authorization: Bearer"), lines.end());  // empty key still sent
    ASSERT_EQ(window_.ShownMessages().size(), 1u);
    EXPECT_EQ(window_.ShownMessages()[0].text, kFailureText);
    EXPECT_EQ(window_.ShownMessages()[0].caption, "信息：");
    EXPECT_EQ(window_.captionAtBox, "查询余额");
    EXPECT_EQ(window_.Label(), "");
}

TEST_F(CreditQueryTest, RepliesAreJudgedByTheirMarkersOnly) {
    struct Case {
        int interfaceNumber;
        std::string reply;
        bool ok;
        Text label;
    };
    const Case cases[] = {
        // The marker without the figure markers shows both figures empty.
        {1, R"({"total_used"})", true, "余额： 美元,已使用： 美元"},
        {1, R"({"total_available":5.5})", false, ""},
        {1, "", false, ""},
        // Figures are taken as they stand, quotation marks and all.
        {2, R"({"success":true,"data":{"total_use":"0.50","balance":"9.50"}})", true,
         "余额：\"9.50\" 美元,已使用：\"0.50\" 美元"},
        {2, R"({"msg":"success","balance":3})", true, "余额：3 美元,已使用： 美元"},
        // A success field set to false is the failure it says it is.
        {2, R"({"success":false,"msg":"key invalid","balance":0})", false, ""},
        {2, R"({"success" : "false"})", false, ""},
        {2, R"({"code":1,"msg":"error"})", false, ""},
        {2, "<html>502 Bad Gateway</html>", false, ""},
    };
    for (const Case& c : cases) {
        RawServer server(Reply(200, c.reply));
        PointAt(server);
        CreditWindow window;
        window.Choose(c.interfaceNumber, "sk-x");
        QueryCredit(window, deployment_);
        EXPECT_EQ(window.Label(), c.label) << c.reply;
        EXPECT_EQ(window.Caption(), "查询余额") << c.reply;
        EXPECT_EQ(window.ShownMessages().size(), c.ok ? 0u : 1u) << c.reply;
    }
}

TEST_F(CreditQueryTest, InterfaceTwoPostsTheKeyFormWithItsOwnBlockAndTheRealLength) {
    RawServer server(Reply(200, R"({"success":true,"data":{"use":12.5,"balance":87.5}})"));
    PointAt(server);
    const Text key = "sk-" + Text(60, 'k');  // not the 51 characters the fixed length line is made for
    window_.Choose(2, key);
    QueryCredit(window_, deployment_);

    ASSERT_EQ(server.Requests().size(), 1u);
    const RawRequest request = server.Requests()[0];
    const std::string body = "appkey=" + key + "&key=Qm4TzR8vKp2WxN6bJd0LsYh3FgUe7A";
    EXPECT_EQ(request.RequestLine(), "POST /chat/balance HTTP/1.1");
    EXPECT_EQ(request.HeaderLines(),
              test::OnTheWire(Lines{Host(server), "Accept: application/json, text/javascript, */*; q=0.01",
                                    kBrowserAgent, "Content-Type: application/x-www-form-urlencoded; charset=UTF-8",
                                    "Origin: https://two.relay.test", "Sec-Fetch-Site: same-site",
                                    "Sec-Fetch-Mode: cors", "Sec-Fetch-Dest: empty", "Referer: https://two.relay.test/",
                                    "Accept-Language: zh-cn", "Content-Length: " + std::to_string(body.size())}));
    EXPECT_EQ(request.body, body);
    EXPECT_EQ(window_.Label(), "余额：87.5 美元,已使用：12.5 美元");
    EXPECT_EQ(window_.Caption(), "查询余额");
}

TEST_F(CreditQueryTest, NoServiceAtAllIsTheSameFailure) {
    const test::RefusingPort refusing;
    deployment_ = DeploymentWith({.relayTwoApi = LocalOrigin(refusing.port())});
    window_.Choose(2, "sk-x");
    QueryCredit(window_, deployment_);
    ASSERT_EQ(window_.ShownMessages().size(), 1u);
    EXPECT_EQ(window_.ShownMessages()[0].text, kFailureText);
    EXPECT_EQ(window_.Label(), "");
}

TEST_F(CreditQueryTest, InterfaceThreeChecksTheKeyAgainstTheModelList) {
    RawServer server([](int socket, const RawRequest& request) {
        const bool good = request.head.find("Authorization: Bearer sk-good\r\n") != std::string::npos &&
                          request.RequestLine() == "GET /v1/models HTTP/1.1";
        const std::string body = good ? R"({"object":"list","data":[{"id":"a"},{"id":"b"}]})"
                                      : R"({"error":{"message":"Incorrect API key"}})";
        RawServer::Send(socket, std::string(good ? "HTTP/1.1 200 OK" : "HTTP/1.1 401 No") + "\r\nContent-Length: " +
                                    std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    });
    window_.SetNumber(control::kRadioInterfaceThree, kPropChecked, 1);
    window_.SetText(control::kEditInterfaceThreeBaseUrl, kPropContent, server.Url("/v1"));
    window_.SetText(control::kEditOpenAiKey, kPropContent, "sk-good");
    QueryCredit(window_, deployment_);
    EXPECT_EQ(window_.Label(), "密钥有效，可用模型：2个");
    EXPECT_EQ(window_.Caption(), "查询余额");
    EXPECT_TRUE(window_.ShownMessages().empty());

    window_.SetText(control::kLabelCredit, kPropContent, "");
    window_.SetText(control::kEditOpenAiKey, kPropContent, "sk-bad");
    QueryCredit(window_, deployment_);
    EXPECT_EQ(window_.Label(), "");
    ASSERT_EQ(window_.ShownMessages().size(), 1u);
    EXPECT_EQ(window_.ShownMessages()[0].text, kFailureText);
    EXPECT_EQ(window_.captionAtBox, "查询余额");
}

}  // namespace
}  // namespace qj
