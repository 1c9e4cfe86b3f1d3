#include "wingui/message_box.h"

#include <mutex>

#include "wingui/win32_api.h"
#include "wingui/win32_text.h"

namespace qj::wingui {

namespace {

std::mutex g_mutex;
int g_answers = 0;
std::vector<AnsweredMessageBox> g_answered;

UINT IconFlags(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::kInformation:
            return MB_ICONINFORMATION;
        case MessageIcon::kWarning:
            return MB_ICONWARNING;
        case MessageIcon::kError:
            return MB_ICONERROR;
        case MessageIcon::kQuestion:
            return MB_ICONQUESTION;
        case MessageIcon::kNone:
            break;
    }
    return 0;
}

}  // namespace

void ShowMessageBox(const Text& text, const Text& caption, MessageIcon icon) {
    {
        std::lock_guard lock(g_mutex);
        if (g_answers > 0) {
            --g_answers;
            g_answered.push_back({text, caption, icon});
            return;
        }
    }
    // No owner: the box stays usable while the main window is busy or gone, as the program's
    // message boxes always were. MB_SETFOREGROUND brings it up over other programs' windows.
    MessageBoxW(nullptr, ToWide(text).c_str(), ToWide(caption).c_str(), MB_OK | MB_SETFOREGROUND | IconFlags(icon));
}

void QueueMessageBoxAnswer() {
    std::lock_guard lock(g_mutex);
    ++g_answers;
}

std::vector<AnsweredMessageBox> TakeAnsweredMessageBoxes() {
    std::lock_guard lock(g_mutex);
    std::vector<AnsweredMessageBox> answered;
    answered.swap(g_answered);
    return answered;
}

}  // namespace qj::wingui
