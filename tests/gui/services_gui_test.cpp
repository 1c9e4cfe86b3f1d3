// The window's services clicked for real, offscreen, against local servers: the credit query, the
// Wenxin test and the two notice pages.

#include <gtest/gtest.h>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <set>

#include "app/process_state.h"
#include "app/service_queries.h"
#include "gui/message_box.h"
#include "gui_test_support.h"
#include "local_deployment.h"
#include "local_servers.h"
#include "notice_site.h"
#include "notices/advert_list.h"
#include "temporary_home.h"

namespace qj {
namespace {

using test::RawRequest;
using test::RawServer;
using testing::G;
using testing::LocalDeployment;
using testing::LocalOrigin;
using testing::NoticeSite;
using testing::OpenedMainWindow;
using testing::TemporaryHome;
using testing::UrlRecorder;
using testing::WaitFor;

RawServer::Responder Reply(const std::string& body, RawServer** stallOn = nullptr, int delayMs = 0) {
    return [=](int socket, const RawRequest&) {
        if (stallOn && *stallOn && (*stallOn)->Stall(delayMs)) {
            return;
        }
        RawServer::Send(socket, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                                    "\r\nConnection: close\r\n\r\n" + body);
    };
}

void ClickTab(OpenedMainWindow& window, int page) {
    auto* tab = window.Get<QTabWidget>(control::kTabMain);
    QTest::mouseClick(tab->tabBar(), Qt::LeftButton, Qt::NoModifier, tab->tabBar()->tabRect(page).center());
}

QStringList AdvertRows(OpenedMainWindow& window) {
    QStringList rows;
    auto* list = window.Get<QTreeWidget>(control::kListAdverts);
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        rows << list->topLevelItem(i)->text(0) + QLatin1Char('|') + list->topLevelItem(i)->text(1);
    }
    return rows;
}

bool CreditQueriesEnd() {
    return WaitFor([] { return RunningCreditQueries() == 0; });
}

TEST(ServicesGui, CreditQueryOnInterfaceOneShowsTheFigures) {
    TemporaryHome home;
    RawServer server(Reply(R"({"object":"credit_summary","total_used":0.42,"total_available":17.58,"x":1})"));
    LocalDeployment deployment({.openAi = LocalOrigin(server.port())});
    OpenedMainWindow window;
    window->SetCurrentTabPage(control::kTabMain, page::kChatGpt);
    QTest::keyClicks(window.Get<QLineEdit>(control::kEditOpenAiKey), QStringLiteral("sk-gui"));

    window.Click(control::kButtonQueryCredit);
    // The worker fills the label first and restores the caption after it: judge both once it ended.
    ASSERT_TRUE(CreditQueriesEnd());
    EXPECT_EQ(window.Get<QLabel>(control::kLabelCredit)->text(), QStringLiteral("余额：17.58 美元,已使用：0.42 美元"));
    EXPECT_EQ(window.Get<QPushButton>(control::kButtonQueryCredit)->text(), QStringLiteral("查询余额"));
    ASSERT_EQ(server.Requests().size(), 1u);
    const std::vector<std::string> lines = server.Requests()[0].HeaderLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Authorization: Bearer sk-gui"), lines.end());
}

TEST(ServicesGui, ARefusedCreditQueryRestoresTheCaptionAndSaysSo) {
    TemporaryHome home;
    RawServer server(Reply(R"({"success":false,"msg":"invalid key"})"));
    LocalDeployment deployment({.relayTwoApi = LocalOrigin(server.port())});
    OpenedMainWindow window;
    window.Click(control::kRadioInterfaceTwo);
    window.Get<QLabel>(control::kLabelCredit)->setText(QStringLiteral("余额：5"));

    gui::QueueMessageBoxAnswer();
    window.Click(control::kButtonQueryCredit);
    EXPECT_TRUE(window.Get<QLabel>(control::kLabelCredit)->text().isEmpty());
    std::vector<gui::AnsweredMessageBox> answered;
    EXPECT_TRUE(WaitFor([&] {
        for (auto& box : gui::TakeAnsweredMessageBoxes()) {
            answered.push_back(box);
        }
        return !answered.empty();
    }));
    ASSERT_TRUE(CreditQueriesEnd());
    ASSERT_EQ(answered.size(), 1u);
    EXPECT_EQ(answered[0].text, QStringLiteral("余额查询失败，请确认API秘钥正确！"));
    EXPECT_EQ(answered[0].caption, QStringLiteral("信息："));
    EXPECT_EQ(window.Get<QPushButton>(control::kButtonQueryCredit)->text(), QStringLiteral("查询余额"));
    EXPECT_TRUE(window.Get<QLabel>(control::kLabelCredit)->text().isEmpty());
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0].RequestLine(), "POST /chat/balance HTTP/1.1");
}

TEST(ServicesGui, TheWenxinTestKeepsTheWindowResponsive) {
    TemporaryHome home;
    RawServer* self = nullptr;
    RawServer server(Reply(R"({"code":110,"msg":"invalid client"})", &self, 400));
    self = &server;
    LocalDeployment deployment({.wenxin = LocalOrigin(server.port())});
    OpenedMainWindow window;
    window->SetCurrentTabPage(control::kTabMain, page::kWenxin);
    QTest::keyClicks(window.Get<QLineEdit>(control::kEditWenxinApiKey), QStringLiteral("ak"));
    QTest::keyClicks(window.Get<QLineEdit>(control::kEditWenxinSecretKey), QStringLiteral("sk"));
    auto* log = window.Get<QPlainTextEdit>(control::kEditRunLog);
    const QString before = log->toPlainText();

    bool timerRan = false;
    QTimer::singleShot(50, [&] { timerRan = true; });
    window.Click(control::kButtonTest);
    // The click returns when both requests are over; the timer ran meanwhile.
    EXPECT_TRUE(timerRan);
    const std::vector<RawRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].body, "grant_type=client_credentials&client_id=ak&client_secret=sk");
    EXPECT_TRUE(requests[1].RequestLine().ends_with("/zeus?access_token= HTTP/1.1"));
    const QString added = log->toPlainText().mid(before.size());
    EXPECT_TRUE(added.endsWith(QStringLiteral("】 > > >  获取accessToken失败，请确认API Key和 Secret key是否正确！\n")))
        << added.toStdString();
    EXPECT_EQ(added.count(QLatin1Char('\n')), 1);
}

TEST(ServicesGui, TheBusinessPageListsAdvertsThatOpenOnDoubleClick) {
    TemporaryHome home;
    NoticeSite site(
        {200, G("青笺官网----https://site.test/\r\n本地----file:///etc/passwd\r\n工具----http://tool.test/a")},
        {200, G("最新版本：1.1")});
    LocalDeployment deployment({.mainSite = site.Origin(), .secondarySite = site.Origin()});
    SetProgramVersion("1.0");
    UrlRecorder recorder;
    OpenedMainWindow window;

    ClickTab(window, page::kBusiness);
    EXPECT_EQ(AdvertRows(window),
              (QStringList{QStringLiteral("1|青笺官网"), QStringLiteral("2|本地"), QStringLiteral("3|工具")}));
    auto* list = window.Get<QTreeWidget>(control::kListAdverts);
    const std::set<QRgb> table = {qRgb(255, 0, 0), qRgb(0, 0, 255), qRgb(144, 0, 255), qRgb(0, 255, 0), qRgb(0, 0, 0)};
    for (int row = 0; row < 3; ++row) {
        const QVariant foreground = list->topLevelItem(row)->data(1, Qt::ForegroundRole);
        if (foreground.isValid()) {
            EXPECT_TRUE(table.count(foreground.value<QBrush>().color().rgb())) << row;
        }
    }

    // A user's double-click: the first click selects the row, the second opens it.
    for (int row : {0, 1, 2}) {
        const QPoint at = list->visualItemRect(list->topLevelItem(row)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    }
    EXPECT_EQ(recorder.opened, (std::vector<QUrl>{QUrl(QStringLiteral("https://site.test/")),
                                                  QUrl(QStringLiteral("http://tool.test/a"))}));

    // Again: the same rows, numbered from 1.
    ClickTab(window, page::kChatGpt);
    EXPECT_EQ(list->topLevelItemCount(), 0);
    ClickTab(window, page::kBusiness);
    EXPECT_EQ(AdvertRows(window).size(), 3);
    EXPECT_EQ(AdvertRows(window).front(), QStringLiteral("1|青笺官网"));

    ClickTab(window, page::kUpdate);
    EXPECT_EQ(list->topLevelItemCount(), 0);
    EXPECT_EQ(window.Get<QLabel>(control::kLabelCurrentVersion)->text(), QStringLiteral("当前软件版本：1.0"));
    EXPECT_EQ(window.Get<QPlainTextEdit>(control::kEditLatestVersion)->toPlainText(), QStringLiteral("最新版本：1.1"));
}

TEST(ServicesGui, SwitchingPagesDuringTheAdvertFetchLeavesOneCleanList) {
    TemporaryHome home;
    NoticeSite site({200, G("一----http://a.test/\r\n二----http://b.test/"), 300}, {200, "v"});
    LocalDeployment deployment({.mainSite = site.Origin(), .secondarySite = site.Origin()});
    OpenedMainWindow window;

    // While the first fetch waits for its answer the user goes to another page and back.
    QTimer::singleShot(80, [&] { ClickTab(window, page::kChatGpt); });
    QTimer::singleShot(120, [&] { ClickTab(window, page::kBusiness); });
    ClickTab(window, page::kBusiness);
    EXPECT_TRUE(WaitFor([&] { return site.AdvertHits() == 2 && AdvertRows(window).size() == 2; }));
    QTest::qWait(50);
    EXPECT_EQ(window.Get<QTabWidget>(control::kTabMain)->currentIndex(), page::kBusiness);
    EXPECT_EQ(AdvertRows(window), (QStringList{QStringLiteral("1|一"), QStringLiteral("2|二")}));
    EXPECT_EQ(AdvertLinks().Items(), (TextList{"http://a.test/", "http://b.test/"}));
}

}  // namespace
}  // namespace qj
