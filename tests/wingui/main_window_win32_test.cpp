// The main window on native controls with the program's handlers: its place and look as the
// table gives them, what the user saves coming back in a new window, start-up until the window is
// closed.

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <thread>

#include "app/handlers.h"
#include "app/main_window_controls.h"
#include "app/process_state.h"
#include "app/startup.h"
#include "platform/program_folder.h"
#include "settings/settings_store.h"
#include "skin/builtin_skin.h"
#include "temporary_home.h"
#include "win32_test_support.h"
#include "window_picture.h"
#include "wingui/message_box.h"
#include "wingui/win32_main.h"
#include "wingui/win32_text.h"
#include "wingui/win32_window.h"

namespace qj {
namespace {

using testing::OpenedMainWindow;
using testing::ReadBytes;
using testing::TemporaryHome;
using wingui::Win32Window;

std::filesystem::path SettingsFile() {
    return NativePath(ProgramPath(kSettingsFileTail));
}

bool ShownOnItsPage(Win32Window& window, const ControlRow& row, int shownPage) {
    for (Text parent = row.parent, child = row.name; !parent.empty();) {
        const ControlRow* outer = window.RowOf(parent);
        if (std::string_view(outer->kind) == kind::kTab && window.RowOf(child)->page != shownPage) {
            return false;
        }
        child = parent;
        parent = outer->parent;
    }
    return true;
}

TEST(MainWindowWin32, OpensFixedAndCentredAtTheTablesGeometryOnItsFirstPage) {
    TemporaryHome home;
    OpenedMainWindow window;
    HWND top = window->TopLevel();
    EXPECT_EQ(window->GetText(kWindowItself, kPropCaption), "青笺");
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(top, GWL_STYLE));
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME);

    const double scale = window->Scale();
    auto scaled = [scale](int v) { return static_cast<LONG>(v * scale + 0.5); };
    RECT client{};
    GetClientRect(top, &client);
    EXPECT_EQ(client.right, scaled(1016));
    EXPECT_EQ(client.bottom, scaled(738));
    RECT frame{};
    GetWindowRect(top, &frame);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(top, MONITOR_DEFAULTTOPRIMARY), &monitor);
    EXPECT_NEAR(frame.left + frame.right, monitor.rcWork.left + monitor.rcWork.right, 1);
    EXPECT_NEAR(frame.top + frame.bottom, monitor.rcWork.top + monitor.rcWork.bottom, 1);

    ASSERT_EQ(window->CurrentTabPage(control::kTabMain), page::kWenxin);
    const std::wstring family = wingui::WindowFontFamily();
    for (const ControlRow& row : MainWindowLayout().controls) {
        SCOPED_TRACE(row.name);
        const RECT place = window->GeometryInParent(row.name);
        EXPECT_EQ(place.left, scaled(row.left));
        EXPECT_EQ(place.top, scaled(row.top));
        EXPECT_EQ(place.right - place.left, scaled(row.left + row.width) - scaled(row.left));
        EXPECT_EQ(place.bottom - place.top, scaled(row.top + row.height) - scaled(row.top));
        EXPECT_EQ(IsWindowVisible(window->Control(row.name)) != FALSE, ShownOnItsPage(*window, row, page::kWenxin));

        LOGFONTW font{};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(window->Control(row.name), WM_GETFONT, 0, 0)), sizeof font,
                   &font);
        EXPECT_EQ(font.lfHeight, -scaled(row.fontPixels > 0 ? row.fontPixels : 12));
        EXPECT_EQ(font.lfWeight, row.bold ? FW_BOLD : FW_NORMAL);
        if (!family.empty()) {
            EXPECT_EQ(std::wstring(font.lfFaceName), family);
        }
    }
    // The run log opens with the about text, the version label carries the version.
    EXPECT_EQ(window->GetText(control::kEditRunLog, kPropContent).rfind("软件名称：青笺\r\n版本号：1.0\r\n", 0), 0u);
    EXPECT_EQ(window->GetText(control::kLabelCurrentVersion, kPropContent), "当前版本：1.0");
    EXPECT_FALSE(std::filesystem::exists(SettingsFile()));
}

TEST(MainWindowWin32, WhatTheUserSavesComesBackInANewWindow) {
    TemporaryHome home;
    {
        OpenedMainWindow window;
        window.Type(control::kEditOpenAiKey, L"sk-typed\"key\r\n");
        window.Type(control::kEditWenxinSecretKey, L"文心秘钥");
        window.Type(control::kEditLatestVersion, L"第一行\r\n第二行");
        window.Type(control::kEditInterfaceThreePrompt, L"写{关键词}\r\n分段");
        window.Click(control::kCheckSaveAsHtml);
        window.Click(control::kRadioInterfaceThree);
        ASSERT_EQ(window->GetNumber(control::kCheckSaveAsHtml, kPropChecked), 1);
        ASSERT_EQ(window->GetNumber(control::kRadioInterfaceOne, kPropChecked), 0);
        wingui::QueueMessageBoxAnswer();
        window.Click(control::kButtonSaveSettings);
        const auto answered = wingui::TakeAnsweredMessageBoxes();
        ASSERT_EQ(answered.size(), 1u);
        EXPECT_EQ(answered[0].text, "保存成功！");
        EXPECT_EQ(answered[0].caption, kDefaultMessageCaption);
        const std::string file = ReadBytes(SettingsFile());
        EXPECT_NE(file.find("编辑框_OpenAi_API秘钥=sk-typed#引号key\r\n"), std::string::npos);
        EXPECT_NE(file.find("编辑框_最新版本=第一行><br><第二行\r\n"), std::string::npos);
        EXPECT_NE(file.find("单选框_接口三=真\r\n"), std::string::npos);
        EXPECT_EQ(file.find("运行日志"), std::string::npos);
    }
    OpenedMainWindow restarted;
    EXPECT_EQ(restarted->GetText(control::kEditOpenAiKey, kPropContent), "sk-typed\"key");
    EXPECT_EQ(restarted->GetText(control::kEditWenxinSecretKey, kPropContent), "文心秘钥");
    EXPECT_EQ(restarted->GetText(control::kEditLatestVersion, kPropContent), "第一行\r\n第二行");
    EXPECT_EQ(restarted->GetText(control::kEditInterfaceThreePrompt, kPropContent), "写{关键词}\r\n分段");
    EXPECT_EQ(restarted->GetNumber(control::kCheckSaveAsHtml, kPropChecked), 1);
    EXPECT_EQ(restarted->GetNumber(control::kCheckPreview, kPropChecked), 0);
    EXPECT_EQ(restarted->GetNumber(control::kRadioInterfaceThree, kPropChecked), 1);
    EXPECT_EQ(restarted->GetNumber(control::kRadioInterfaceOne, kPropChecked), 0);
}

TEST(MainWindowWin32, StartUpRunsTheWindowUntilTheUserClosesIt) {
    TemporaryHome home;
    WindowModel* during = nullptr;
    Text log;
    // A worker meets the window as the program's threads do: through calls the window thread
    // carries out, then it closes the window as the user would.
    std::thread user([&] {
        const ULONGLONG end = GetTickCount64() + 20000;
        while (!MainWindow() && GetTickCount64() < end) {
            std::this_thread::yield();
        }
        during = MainWindow();
        if (during) {
            log = during->GetText(control::kEditRunLog, kPropContent);
            PostMessageW(dynamic_cast<Win32Window*>(during)->TopLevel(), WM_CLOSE, 0, 0);
        }
    });
    EXPECT_EQ(wingui::RunMainWindow(MainWindowLayout(), {}), 0);
    user.join();
    ASSERT_NE(during, nullptr);
    EXPECT_EQ(log.rfind("软件名称：青笺", 0), 0u);
    EXPECT_EQ(MainWindow(), nullptr);
    // The window outlives its controls for late callers, which now get nothing at once.
    std::thread late([&] { log = during->GetText(control::kEditRunLog, kPropContent); });
    late.join();
    EXPECT_EQ(log, "");
    StartRunStop();
}

TEST(MainWindowWin32, AWindowThatCannotBeCreatedEndsStartUpWithMinusOne) {
    const ControlRow broken[] = {{.name = "a", .kind = kind::kButton, .parent = "nowhere"}};
    wingui::QueueMessageBoxAnswer();
    EXPECT_EQ(wingui::RunMainWindow(WindowLayout{.title = "x", .controls = broken}, {}), -1);
    const auto answered = wingui::TakeAnsweredMessageBoxes();
    ASSERT_EQ(answered.size(), 1u);
    EXPECT_EQ(answered[0].text, "运行时出错!\r\n\r\n错误信息：载入启动窗口失败\r\n");
    EXPECT_EQ(answered[0].caption, "错误");
    EXPECT_EQ(answered[0].icon, MessageIcon::kError);
}

// Every page draws something at the window's size. With QJ_SCREENSHOT_DIR set (a Windows path),
// saves a picture of every tab page there (pageN.bmp), to look at the layout.
TEST(MainWindowWin32, EveryPageRenders) {
    TemporaryHome home;
    OpenedMainWindow window;
    const char* folder = std::getenv("QJ_SCREENSHOT_DIR");
    std::size_t pages = 0;  // every page of the table
    for (const ControlRow& row : MainWindowLayout().controls) {
        if (Text(row.name) == control::kTabMain) {
            pages = row.pages.size();
        }
    }
    for (int page = 0; page < static_cast<int>(pages); ++page) {
        window->SetCurrentTabPage(control::kTabMain, page);
        RedrawWindow(window->TopLevel(), nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        window->ProcessPendingMessages();
        const testing::ClientPicture picture = testing::CaptureClient(window->TopLevel());
        EXPECT_EQ(picture.width, static_cast<int>(1016 * window->Scale() + 0.5));
        EXPECT_EQ(picture.height, static_cast<int>(738 * window->Scale() + 0.5));
        // The tab strip's captions and the controls draw more than one colour.
        std::set<std::uint32_t> colours;
        for (std::size_t i = 0; i + 2 < picture.rows.size() && colours.size() < 3; i += 3) {
            colours.insert(picture.rows[i] | picture.rows[i + 1] << 8 | picture.rows[i + 2] << 16);
        }
        EXPECT_GE(colours.size(), 3u) << "page " << page;
        if (folder && *folder) {
            const std::wstring path = wingui::ToWide(Utf8ToAnsi(folder)) + L"\\page" + std::to_wstring(page) + L".bmp";
            EXPECT_TRUE(testing::SaveBmp(picture, path));
        }
    }
}

}  // namespace
}  // namespace qj
