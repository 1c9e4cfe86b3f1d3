// The update page: the program's version at once, then the published version notice.

#include <gtest/gtest.h>

#include "app/handlers.h"
#include "app/process_state.h"
#include "notice_window.h"
#include "notices/notice_sources.h"

namespace qj {
namespace {

using testing::NoticeFixture;

Text Label(const WindowModel& window) {
    return window.GetText(control::kLabelCurrentVersion, kPropContent);
}
Text Notice(const WindowModel& window) {
    return window.GetText(control::kEditLatestVersion, kPropContent);
}

class VersionPageTest : public ::testing::Test {
protected:
    void SetUp() override { SetProgramVersion("1.0"); }
};

TEST_F(VersionPageTest, ShowsTheVersionAndThePublishedNoticeUnchanged) {
    NoticeFixture f({200, "广告----http://a.test/"}, {200, "\r\n最新版本：1.2\r\n\r\n下载：http://d.test/\r\n"});
    f.window.ListAddRow(control::kListAdverts, "1");
    HandlePageSwitch(f.window, control::kTabMain, page::kUpdate);
    EXPECT_EQ(Label(f.window), "当前软件版本：1.0");
    EXPECT_EQ(Notice(f.window), "\r\n最新版本：1.2\r\n\r\n下载：http://d.test/\r\n");
    EXPECT_EQ(f.window.AdvertRows(), 0);
    EXPECT_EQ(f.secondary.AdvertHits(), 0);
}

TEST_F(VersionPageTest, AnEmptyPrimaryFallsBackToTheMainSite) {
    NoticeFixture f({200, ""}, {200, ""});
    f.main.SetVersion({200, "主站的版本说明"});
    HandlePageSwitch(f.window, control::kTabMain, page::kUpdate);
    EXPECT_EQ(f.secondary.VersionHits(), 1);
    EXPECT_EQ(f.main.VersionHits(), 1);
    EXPECT_EQ(Notice(f.window), "主站的版本说明");
}

TEST_F(VersionPageTest, TheLabelIsRewrittenWhenBothFetchesFail) {
    NoticeFixture f({404, ""}, {404, ""});
    f.window.SetText(control::kLabelCurrentVersion, kPropContent, "旧的");
    f.window.SetText(control::kEditLatestVersion, kPropContent, "旧的说明");
    HandlePageSwitch(f.window, control::kTabMain, page::kUpdate);
    EXPECT_EQ(Label(f.window), "当前软件版本：1.0");
    EXPECT_EQ(Notice(f.window), BuiltInVersionNotice(f.main.Origin()));
}

TEST_F(VersionPageTest, TheLabelComesBeforeTheFetchAndALaterShowingWins) {
    NoticeFixture f({200, ""}, {200, "第一次", 300});
    Text labelDuringFetch;
    f.window.ActMeanwhile([&] { return f.secondary.VersionHits() == 1; },
                          [&] {
                              labelDuringFetch = Label(f.window);
                              f.secondary.SetVersion({200, "第二次"});
                              HandlePageSwitch(f.window, control::kTabMain, page::kUpdate);
                          });
    HandlePageSwitch(f.window, control::kTabMain, page::kUpdate);
    EXPECT_EQ(labelDuringFetch, "当前软件版本：1.0");
    EXPECT_EQ(Notice(f.window), "第二次");
}

TEST_F(VersionPageTest, LeavingThePageDuringTheFetchStillShowsTheNotice) {
    NoticeFixture f({200, ""}, {200, "说明", 300});
    f.window.ActMeanwhile([] { return true; }, [&] { HandlePageSwitch(f.window, control::kTabMain, page::kChatGpt); });
    HandlePageSwitch(f.window, control::kTabMain, page::kUpdate);
    EXPECT_EQ(Notice(f.window), "说明");
}

}  // namespace
}  // namespace qj
