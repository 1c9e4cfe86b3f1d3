#include "app/run_log.h"

#include <gtest/gtest.h>

#include <thread>

#include "app/control_names.h"
#include "window/memory_window.h"

namespace qj {
namespace {

std::tm At(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

TEST(RunLogTimeStamp, DropsTrailingZeroParts) {
    EXPECT_EQ(RunLogTimeStamp(At(2023, 2, 11, 9, 5, 7)), "2023年2月11日9时5分7秒");
    EXPECT_EQ(RunLogTimeStamp(At(2023, 2, 11, 9, 5, 0)), "2023年2月11日9时5分");
    EXPECT_EQ(RunLogTimeStamp(At(2023, 2, 11, 9, 0, 0)), "2023年2月11日9时");
    EXPECT_EQ(RunLogTimeStamp(At(2023, 2, 11, 0, 0, 0)), "2023年2月11日");
    EXPECT_EQ(RunLogTimeStamp(At(2023, 12, 1, 0, 0, 5)), "2023年12月1日0时0分5秒");
    EXPECT_EQ(RunLogTimeStamp(At(2023, 12, 1, 0, 30, 0)), "2023年12月1日0时30分");
}

class RunLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetRunLogWindow(&window_);
        SetRunLogClock([] { return At(2023, 2, 11, 9, 5, 7); });
    }
    void TearDown() override {
        SetRunLogClock(nullptr);
        SetRunLogWindow(nullptr);
    }

    static constexpr ControlRow kControls[] = {{.name = "编辑框_运行日志", .kind = "编辑框", .multiLine = true}};
    MemoryWindow window_{kControls};
};

TEST_F(RunLogTest, AppendsWholeLinesAtTheEnd) {
    window_.SetText(control::kEditRunLog, kPropContent, "about\r\n");
    RunLog("任务完成！");
    RunLog("");
    EXPECT_EQ(window_.GetText(control::kEditRunLog, kPropContent),
              "about\r\n【2023年2月11日9时5分7秒】 > > >  任务完成！\r\n【2023年2月11日9时5分7秒】 > > >  \r\n");
}

TEST_F(RunLogTest, LinesFromSeveralThreadsStayWhole) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 200; ++i) {
                RunLog("0123456789");
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    const Text log = window_.GetText(control::kEditRunLog, kPropContent);
    const Text line = RunLogLine("0123456789", At(2023, 2, 11, 9, 5, 7));
    ASSERT_EQ(log.size(), line.size() * 800);
    for (size_t i = 0; i < log.size(); i += line.size()) {
        ASSERT_EQ(log.compare(i, line.size(), line), 0) << "at " << i;
    }
}

TEST(RunLog, WithoutAWindowDoesNothing) {
    SetRunLogWindow(nullptr);
    RunLog("nobody listens");
}

}  // namespace
}  // namespace qj
