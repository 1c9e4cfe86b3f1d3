// The buttons that ask services (查询余额, 测试) on the main window in memory, against local
// servers named by the deployment in force.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/handlers.h"
#include "app/main_window_controls.h"
#include "app/process_state.h"
#include "credit_window.h"
#include "app/service_queries.h"
#include "local_deployment.h"
#include "local_servers.h"
#include "temporary_home.h"
#include "app/control_names.h"
#include "window/memory_window.h"

namespace qj {
namespace {

using test::RawRequest;
using test::RawServer;
using testing::LocalDeployment;
using testing::LocalOrigin;

class ServiceButtonsTest : public ::testing::Test {
protected:
    void SetUp() override { SetMainWindow(&window_); }
    void TearDown() override { ResetProcessState(); }

    // The deployment's OpenAI host and relay API both are `server`.
    void PointAt(const RawServer& server) {
        deployment_.emplace(testing::LocalSites{
            .openAi = LocalOrigin(server.port()),
            .relayOne = "https://one.relay.test",
            .relayTwo = "https://two.relay.test",
            .relayTwoApi = LocalOrigin(server.port()),
        });
    }

    testing::TemporaryHome home_;
    std::optional<LocalDeployment> deployment_;
    // The main window in memory, with the credit query's controls at hand.
    testing::CreditControls<MemoryWindow> window_{MainWindowLayout().controls};
};

TEST_F(ServiceButtonsTest, TheButtonStartsQueriesThatRunSideBySide) {
    // Neither request is answered before both have arrived, so two queries must be under way at once.
    std::atomic<int> arrived{0};
    RawServer* self = nullptr;
    RawServer server([&](int socket, const RawRequest&) {
        ++arrived;
        for (int i = 0; i < 500 && arrived.load() < 2; ++i) {
            if (self->Stall(10)) {
                return;
            }
        }
        const std::string body = R"({"total_used":1,"total_available":2,})";
        RawServer::Send(socket, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                                    "\r\nConnection: close\r\n\r\n" + body);
    });
    self = &server;
    PointAt(server);
    window_.Choose(1, "sk-x");
    window_.SetText(control::kLabelCredit, kPropContent, "old");
    window_.SetText(control::kButtonQueryCredit, kPropCaption, "查询余额");

    HandleClick(window_, control::kButtonQueryCredit);
    EXPECT_EQ(window_.Label(), "");
    EXPECT_EQ(window_.Caption(), "查询中..");
    HandleClick(window_, control::kButtonQueryCredit);
    for (int i = 0; i < 1000 && RunningCreditQueries() > 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(RunningCreditQueries(), 0);
    EXPECT_EQ(arrived.load(), 2);
    EXPECT_EQ(window_.Label(), "余额：2 美元,已使用：1 美元");
    EXPECT_EQ(window_.Caption(), "查询余额");
}

TEST_F(ServiceButtonsTest, TheTestButtonRunsTheWenxinTestOnTheDeploymentsService) {
    RawServer server([](int socket, const RawRequest&) {
        const std::string body = R"({"code":0,"msg":"success","data":"token"})";
        RawServer::Send(socket, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                                    "\r\nConnection: close\r\n\r\n" + body);
    });
    deployment_.emplace(testing::LocalSites{.wenxin = LocalOrigin(server.port())});
    window_.SetText(control::kEditWenxinApiKey, kPropContent, "ak-1");
    HandleClick(window_, control::kButtonTest);
    const std::vector<RawRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].RequestLine(), "POST /moduleApi/portal/api/oauth/token HTTP/1.1");
    EXPECT_NE(requests[0].body.find("client_id=ak-1&"), std::string::npos);
    EXPECT_EQ(
        requests[1].RequestLine().rfind("POST /moduleApi/portal/api/rest/1.0/ernie/3.0.25/zeus?access_token=token ", 0),
        0u);
}

}  // namespace
}  // namespace qj
