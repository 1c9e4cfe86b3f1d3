#pragma once

#include <QMessageBox>
#include <QString>
#include <vector>

#include "window/window_model.h"

namespace qj::gui {

struct AnsweredMessageBox {
    QString text;
    QString caption;
    MessageIcon icon = MessageIcon::kNone;
};

// A modal message box with an OK button and no owner; returns the button that closed it.
QMessageBox::StandardButton ShowMessageBox(const QString& text, const QString& caption, MessageIcon icon);

// Tests: the next message box is built but not shown; it returns `answer` at once and is recorded.
// Answers queue up, one per message box.
void QueueMessageBoxAnswer(QMessageBox::StandardButton answer = QMessageBox::Ok);
// The message boxes answered from the queue so far, oldest first; the record is emptied.
std::vector<AnsweredMessageBox> TakeAnsweredMessageBoxes();

}  // namespace qj::gui
