#pragma once

#include <functional>

#include "app/main_window_controls.h"
#include "local_deployment.h"
#include "notice_site.h"
#include "temporary_home.h"
#include "app/control_names.h"
#include "window/memory_window.h"

namespace qj::testing {

// The main window in memory whose event handling can act as a user would meanwhile: the action
// runs once, the first time the window handles its events while `when` holds.
class ScriptedWindow : public MemoryWindow {
public:
    ScriptedWindow() : MemoryWindow(MainWindowLayout().controls) {}

    void ActMeanwhile(std::function<bool()> when, std::function<void()> action) {
        when_ = std::move(when);
        action_ = std::move(action);
    }
    void ProcessPendingMessages() override {
        if (action_ && when_()) {
            std::function<void()> action = std::move(action_);
            action_ = nullptr;
            action();
        }
    }
    int AdvertRows() const { return ListRowCount(control::kListAdverts); }

private:
    std::function<bool()> when_;
    std::function<void()> action_;
};

// A program folder, the maker's two sites on 127.0.0.1 and the main window in memory.
class NoticeFixture {
public:
    NoticeFixture(NoticeSite::Answer adverts, NoticeSite::Answer version)
        : secondary(std::move(adverts), std::move(version)),
          main({404, ""}, {404, ""}),
          deployment_(LocalSites{.mainSite = main.Origin(), .secondarySite = secondary.Origin()}) {}

    TemporaryHome home;
    NoticeSite secondary;  // asked first
    NoticeSite main;       // the fallback: answers nothing usable unless a test says so
    ScriptedWindow window;

private:
    LocalDeployment deployment_;
};

}  // namespace qj::testing
