#pragma once

#include <cstddef>
#include <functional>
#include <map>

#include "window/control_table.h"
#include "window/window_thread_calls.h"

namespace qj {

// What a window drawn by a toolkit (Qt widgets, native Win32 controls) has in common, written once:
// the control table it is built from, the events it raises, and the calls from other threads.
//
// The window belongs to the thread that creates it (the window thread), which runs the toolkit's
// event loop. A call from another thread runs on the window thread and waits for it, so it is
// synchronous; posted work runs there without being waited for. The window thread never waits on
// another thread, so this cannot deadlock. Once the window is closing (Close, or the toolkit's end
// of the window), calls from other threads return at once with empty results, and calls still
// queued are released, so no worker waits forever. A toolkit's window adds the widgets.
class ToolkitWindow : public WindowModel {
public:
    ~ToolkitWindow() override;

    std::vector<Text> ControlsOfKind(const Text& kindName) const final;
    bool HasControl(const Text& name) const final;
    void Post(std::function<void()> work) final;

    const ControlRow* RowOf(const Text& name) const;
    // Calls from other threads now waiting for the window thread.
    std::size_t WaitingCalls() const { return calls_.WaitingCalls(); }

    // Window thread only, from here on.
    // Whether the widgets still exist (the window was neither closed nor destroyed by the user).
    virtual bool IsOpen() const = 0;
    // Shows the window centred on its screen.
    virtual void ShowCentred() = 0;
    // Runs the toolkit's event loop until the window is closed; returns the loop's exit code.
    virtual int RunEventLoop() = 0;
    // Ends the calls from other threads and destroys the widgets; the object itself stays valid
    // for late callers. Also done by a toolkit window's destructor.
    void Close();

protected:
    ToolkitWindow(const WindowLayout& layout, WindowEvents events);

    const WindowLayout& Layout() const { return layout_; }
    bool OnOwnThread() const { return calls_.OnWindowThread(); }

    // Builds every control of the table with BuildControl, each container before what it holds;
    // false with the reason when the table cannot be built (TableProblem) or a control was not.
    bool BuildControls(Text* error);
    // Makes the widget of one row, whose container (if any) exists already.
    virtual bool BuildControl(const ControlRow& row, Text* error) = 0;

    // Asks the window thread to call RunQueuedCalls soon (see WindowThreadCalls::RunQueued);
    // called from any thread, never once closing has begun.
    virtual void WakeWindowThread() = 0;
    void RunQueuedCalls() { calls_.RunQueued(); }
    // The window is ending (Close, the event loop's end, the user's close box): calls from other
    // threads no longer wait for it. Any thread.
    void BeginClosing() { calls_.BeginClosing(); }
    // Destroys the widgets; window thread, after BeginClosing.
    virtual void DestroyWidgets() = 0;

    // Runs `fn` on the window thread while the window is open; an empty result otherwise.
    template <class F>
    auto OnWindowThread(F&& fn) const -> decltype(fn());

    // What the user did, handed to the program.
    void RaiseClicked(const Text& name);
    void RaisePageSwitched(const Text& name, int page);
    void RaiseDoubleClicked(const Text& name);

private:
    WindowLayout layout_;
    WindowEvents events_;
    std::map<Text, ControlRow> rows_;
    mutable WindowThreadCalls calls_;
};

template <class F>
auto ToolkitWindow::OnWindowThread(F&& fn) const -> decltype(fn()) {
    using Result = decltype(fn());
    return calls_.Call([&]() -> Result {
        if (!IsOpen()) {
            return Result();
        }
        return fn();
    });
}

}  // namespace qj
