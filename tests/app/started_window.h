#pragma once

// The main window as start-up opens it, in memory, and what its first save writes.

#include <string>

#include "app/handlers.h"
#include "app/main_window_controls.h"
#include "app/process_state.h"
#include "checks/check_settings.h"
#include "text/text_helpers.h"
#include "window/memory_window.h"

namespace qj::testing {

// A started main window in memory: the window of the table, its created sequence run, and the
// process-wide main window pointing at it while it lives.
class StartedWindow {
public:
    StartedWindow() : window_(MainWindowLayout().controls) {
        SetMainWindow(&window_);
        OnMainWindowCreated(window_);
    }
    ~StartedWindow() { SetMainWindow(nullptr); }
    MemoryWindow& operator*() { return window_; }
    MemoryWindow* operator->() { return &window_; }

private:
    MemoryWindow window_;
};

// The file the first save of the designed window writes (in the encoding of the test's literals).
inline const std::string kDesignedSettingsFile =
    "[编辑框]\r\n"
    "编辑框_百度文心_Secretkey=\r\n"
    "编辑框_百度文心_APIKEY=\r\n"
    "编辑框_OpenAi_API秘钥=\r\n"
    "编辑框_最新版本=\r\n"
    "编辑框_接口三_API地址=\r\n"
    "编辑框_接口三_模型=\r\n"
    "编辑框_接口三_温度=\r\n"
    "编辑框_接口三_提示词=\r\n"
    "编辑框_接口三_系统提示词=\r\n"
    "编辑框_并发数=\r\n"
    "编辑框_失败重试次数=\r\n"
    "编辑框_接口三_代理=\r\n"
    "编辑框_接口三_备用接口=\r\n"
    "编辑框_检查_续写次数=2\r\n"
    "编辑框_检查_最少字数=\r\n"
    "编辑框_检查_相似度=3\r\n"
    "编辑框_检查_违禁词=\r\n"
    "编辑框_检查_拒答短语=" + ReplaceAll(kDefaultRefusalPhrases, "\r\n", "><br><") + "\r\n"
    "编辑框_发布_站点=\r\n"
    "编辑框_发布_状态=\r\n"
    "编辑框_发布_分类=\r\n"
    "编辑框_发布_标签=\r\n"
    "编辑框_发布_每天篇数=\r\n"
    "编辑框_发布_时段=\r\n"
    "编辑框_费用上限=\r\n"
    "编辑框_接口三_批量上限MB=\r\n"
    "编辑框_接口三_标题提示词=\r\n"
    "编辑框_接口三_大纲提示词=\r\n"
    "编辑框_内链=\r\n"
    "编辑框_内链_每篇=\r\n"
    "[选择框]\r\n"
    "选择框_以HTML源码形式保存=假\r\n"
    "选择框_预览生成内容=假\r\n"
    "选择框_跳过已生成=假\r\n"
    "选择框_发布_开启=假\r\n"
    "选择框_发布_每站都发=假\r\n"
    "选择框_接口三_批量=假\r\n"
    "选择框_接口三_批量失败直接请求=假\r\n"
    "[单选框]\r\n"
    "单选框_接口二=假\r\n"
    "单选框_接口一=真\r\n"
    "单选框_接口三=假\r\n";

}  // namespace qj::testing
