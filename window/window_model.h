#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "text/types.h"

namespace qj {

// Properties of a control, addressed by number as the program's handlers do.
enum Property : int {
    kPropDisabled = 6,         // every control: disabled (number, 0/1)
    kPropContent = 8,          // edit box content, label caption (text)
    kPropComboText = 9,        // combo box edit text (text)
    kPropCaption = 10,         // button caption (text); also accepted for check and radio boxes
    kPropChecked = 18,         // check box, radio box: checked (number, 0/1)
    kPropComboSelection = 19,  // combo box: current selection, 0-based, -1 none (number)
    kPropListSelection = 35,   // list view: selected row, 0-based, -1 none (number)
    // Beyond the classic set: the progress bar of a run.
    kPropProgressMaximum = 100,  // progress bar: the value of a full bar (number)
    kPropProgressValue = 101,    // progress bar: the value shown (number)
};

// The empty name stands for the window itself: its caption (kPropCaption) is the title.
inline constexpr const char* kWindowItself = "";

// Kind names of the controls; the four persistable ones double as settings-file sections.
namespace kind {
inline constexpr const char* kEdit = "\xB1\xE0\xBC\xAD\xBF\xF2";                  // 编辑框
inline constexpr const char* kCheck = "\xD1\xA1\xD4\xF1\xBF\xF2";                 // 选择框
inline constexpr const char* kRadio = "\xB5\xA5\xD1\xA1\xBF\xF2";                 // 单选框
inline constexpr const char* kCombo = "\xD7\xE9\xBA\xCF\xBF\xF2";                 // 组合框
inline constexpr const char* kButton = "\xB0\xB4\xC5\xA5";                        // 按钮
inline constexpr const char* kLabel = "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9";         // 透明标签
inline constexpr const char* kGroup = "\xB7\xD6\xD7\xE9\xBF\xF2";                 // 分组框
inline constexpr const char* kTab = "\xD1\xA1\xD4\xF1\xBC\xD0";                   // 选择夹
inline constexpr const char* kList = "\xB3\xAC\xBC\xB6\xC1\xD0\xB1\xED\xBF\xF2";  // 超级列表框
inline constexpr const char* kProgress = "\xBD\xF8\xB6\xC8\xCC\xF5";              // 进度条
}  // namespace kind

enum class MessageIcon { kNone, kInformation, kWarning, kError, kQuestion };

// The caption of a message box when none is given.
inline constexpr const char* kDefaultMessageCaption = "\xD0\xC5\xCF\xA2\xA3\xBA";  // 信息：

// Colours are Windows colour values 0x00BBGGRR.
using Colour = std::uint32_t;

constexpr Colour RgbColour(unsigned red, unsigned green, unsigned blue) {
    return (blue & 0xFF) << 16 | (green & 0xFF) << 8 | (red & 0xFF);
}

// The window model: everything the program's core knows of a window. Controls are addressed by
// name (a GBK text, the name of the control table); the implementation may be the Qt window or
// the in-memory window. Every operation may be called from any thread and is synchronous: when it
// returns, its effect is in the window. A name that is not a control, or a property the control
// does not have, reads as empty text / 0 and writes nothing. The name kWindowItself ("") addresses
// the window's title through kPropCaption.
class WindowModel {
public:
    virtual ~WindowModel() = default;

    // Names of the controls of a kind, in the window's control order.
    virtual std::vector<Text> ControlsOfKind(const Text& kindName) const = 0;
    virtual bool HasControl(const Text& name) const = 0;

    virtual Text GetText(const Text& name, int property) const = 0;
    virtual void SetText(const Text& name, int property, const Text& value) = 0;
    virtual long long GetNumber(const Text& name, int property) const = 0;
    virtual void SetNumber(const Text& name, int property, long long value) = 0;

    // Appends to an edit box: caret to the end, the text inserted there, the end scrolled into view.
    virtual void AppendText(const Text& name, const Text& text) = 0;

    // Tab controls: the 0-based index of the page shown. Setting it shows that page without
    // raising the page-switched event, which only the user's switch raises.
    virtual int CurrentTabPage(const Text& name) const = 0;
    virtual void SetCurrentTabPage(const Text& name, int page) = 0;

    // Combo boxes.
    virtual int ComboItemCount(const Text& name) const = 0;
    virtual Text ComboItemText(const Text& name, int index) const = 0;
    virtual long long ComboItemData(const Text& name, int index) const = 0;
    virtual void ComboClear(const Text& name) = 0;
    virtual void ComboAddItem(const Text& name, const Text& text, long long data) = 0;

    // Report-view list views.
    virtual int ListRowCount(const Text& name) const = 0;
    virtual void ListClear(const Text& name) = 0;
    // Appends a row whose column 0 holds `firstCell`; returns its index.
    virtual int ListAddRow(const Text& name, const Text& firstCell) = 0;
    virtual Text ListCellText(const Text& name, int row, int column) const = 0;
    virtual void ListSetCellText(const Text& name, int row, int column, const Text& text) = 0;
    // Per-cell colours; no value means the list's own colour.
    virtual void ListSetCellColours(const Text& name, int row, int column, std::optional<Colour> text,
                                    std::optional<Colour> background) = 0;
    virtual Colour ListTextColour(const Text& name) const = 0;
    virtual Colour ListBackgroundColour(const Text& name) const = 0;

    // A modal message box with an OK button and no owner; returns when it is closed.
    virtual void MessageBox(const Text& text, const Text& caption, MessageIcon icon) = 0;
    // Opens a file, a folder or a web address with its default action; failures are silent.
    virtual void ShellOpen(const Text& target) = 0;
    // Lets the window's thread handle its pending events; does nothing on another thread.
    virtual void ProcessPendingMessages() = 0;

    // Runs `work` on the window's thread without waiting for it: the way for a worker to show
    // something (a log line, progress, a caption) without being held up by the window. Posted work
    // runs in the order it was posted, before any later call made on the window's thread, and not
    // at all once the window is closing; it addresses the window through this model.
    virtual void Post(std::function<void()> work) = 0;
};

// What the program does when the user acts on a control of a window. The window calls these on its
// own thread; an empty function ignores the event.
struct WindowEvents {
    std::function<void(WindowModel& window, const Text& control)> clicked;
    std::function<void(WindowModel& window, const Text& control, int page)> pageSwitched;
    std::function<void(WindowModel& window, const Text& control)> doubleClicked;
};

// A single-line edit box never holds CR or LF, however its text arrives (typed, pasted, restored
// from the settings file, set by the program): a key pasted with its line break would otherwise
// end up inside a request header or split a settings line. Every window applies this to what a
// single-line edit box is given; multi-line boxes keep their line breaks.
Text WithoutLineBreaks(std::string_view text);

// Cuts whole lines from the start of `text` until at most `keptLines` line breaks are left in it,
// so that a box of that many lines, each ended by its break, keeps the last of them (and what
// follows the last break). A line break is CR LF, or a CR or LF of its own. Nothing is cut for
// `keptLines` 0 or less.
void KeepLastLines(Text& text, int keptLines);

// What a control keeps of a text it is given: the text up to its first zero byte (texts reach
// controls zero-terminated), on one line (WithoutLineBreaks) in a single-line edit box.
Text KeptText(std::string_view text, bool singleLineEdit);

}  // namespace qj
