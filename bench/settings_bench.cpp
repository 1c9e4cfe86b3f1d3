// 保存配置 as the file system sees it: how many times one save opens 配置.ini and how many times
// it replaces the file, counted by watching the program folder (inotify), and the time of a save.

#include <sys/inotify.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "app/handlers.h"
#include "app/main_window_controls.h"
#include "bench/bench_job.h"
#include "bench/bench_report.h"
#include "settings/settings_store.h"
#include "app/control_names.h"
#include "window/memory_window.h"

namespace {

// A main window as a user leaves it: keys, addresses, a prompt and a few endpoints filled in.
void FillIn(qj::MemoryWindow& window) {
    window.SetText(qj::control::kEditOpenAiKey, qj::kPropContent, "sk-0123456789abcdefghijklmnopqrstuvwxyz");
    window.SetText(qj::control::kEditInterfaceThreePrompt, qj::kPropContent, "请围绕{关键词}写一篇文章。\r\n分段。");
    qj::Text backups;
    for (int i = 0; i < 20; ++i) {
        backups += "https://api" + std::to_string(i) + ".example/v1 sk-key" + std::to_string(i) + " model\r\n";
    }
    window.SetText(qj::control::kEditInterfaceThreeBackups, qj::kPropContent, backups);
}

struct FileEvents {
    int opened = 0;    // opens of the settings file (reads, or a write in place)
    int replaced = 0;  // renames onto it, or writes of it closed
};

// Counts what happens to the settings file in the program folder while `action` runs.
template <class Action>
FileEvents Watch(const std::string& folder, Action action) {
    FileEvents events;
    const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0 || ::inotify_add_watch(fd, folder.c_str(), IN_OPEN | IN_MOVED_TO | IN_CLOSE_WRITE) < 0) {
        std::perror("inotify");
        return {-1, -1};
    }
    action();
    const std::string name = qj::NativePath(qj::kSettingsFileTail);
    alignas(inotify_event) char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            break;  // every event of the action is queued before it returned
        }
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->len > 0 && name == event->name) {
                if (event->mask & IN_OPEN) {
                    ++events.opened;
                }
                if (event->mask & (IN_MOVED_TO | IN_CLOSE_WRITE)) {
                    ++events.replaced;
                }
            }
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    ::close(fd);
    return events;
}

void BM_SettingsSave(benchmark::State& state) {
    qj::MemoryWindow window(qj::MainWindowLayout().controls);
    FillIn(window);
    for (auto _ : state) {
        qj::OnSaveSettingsClicked(window);
    }
}
BENCHMARK(BM_SettingsSave)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    const std::string folder = qj::bench::MakeProgramHome();
    if (folder.empty()) {
        return 1;
    }
    // A save over an existing file, as every save after the first is.
    qj::MemoryWindow window(qj::MainWindowLayout().controls);
    FillIn(window);
    qj::OnSaveSettingsClicked(window);
    const FileEvents events = Watch(folder, [&] { qj::OnSaveSettingsClicked(window); });
    const bool saved = !window.ShownMessages().empty() && window.ShownMessages().back().text == "保存成功！";

    qj::bench::RunAll(argc, argv);
    std::filesystem::remove_all(folder);
    if (!saved) {
        std::fprintf(stderr, "the save failed\n");
        return 1;
    }
    std::printf("settings save, file reads: %d\n", events.opened);
    std::printf("settings save, files replaced: %d\n", events.replaced);
    return 0;
}
