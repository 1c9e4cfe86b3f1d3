#include "gui/message_box.h"

#include <deque>
#include <mutex>

namespace qj::gui {

namespace {

std::mutex g_mutex;
std::deque<QMessageBox::StandardButton> g_answers;
std::vector<AnsweredMessageBox> g_answered;

QMessageBox::Icon QtIcon(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::kInformation:
            return QMessageBox::Information;
        case MessageIcon::kWarning:
            return QMessageBox::Warning;
        case MessageIcon::kError:
            return QMessageBox::Critical;
        case MessageIcon::kQuestion:
            return QMessageBox::Question;
        case MessageIcon::kNone:
            break;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

QMessageBox::StandardButton ShowMessageBox(const QString& text, const QString& caption, MessageIcon icon) {
    QMessageBox box(QtIcon(icon), caption, text, QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    {
        std::lock_guard lock(g_mutex);
        if (!g_answers.empty()) {
            const QMessageBox::StandardButton answer = g_answers.front();
            g_answers.pop_front();
            g_answered.push_back({box.text(), box.windowTitle(), icon});
            return answer;
        }
    }
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void QueueMessageBoxAnswer(QMessageBox::StandardButton answer) {
    std::lock_guard lock(g_mutex);
    g_answers.push_back(answer);
}

std::vector<AnsweredMessageBox> TakeAnsweredMessageBoxes() {
    std::lock_guard lock(g_mutex);
    std::vector<AnsweredMessageBox> answered;
    answered.swap(g_answered);
    return answered;
}

}  // namespace qj::gui
