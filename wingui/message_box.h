#pragma once

#include <string>
#include <vector>

#include "window/window_model.h"

namespace qj::wingui {

struct AnsweredMessageBox {
    Text text;
    Text caption;
    MessageIcon icon = MessageIcon::kNone;
};

// A modal message box (MessageBoxW) with an OK button and no owner; returns when it is closed.
void ShowMessageBox(const Text& text, const Text& caption, MessageIcon icon);

// Tests: the next message box is not shown; it is recorded and counts as answered with OK. Answers
// queue up, one per message box.
void QueueMessageBoxAnswer();
// The message boxes answered from the queue so far, oldest first; the record is emptied.
std::vector<AnsweredMessageBox> TakeAnsweredMessageBoxes();

}  // namespace qj::wingui
