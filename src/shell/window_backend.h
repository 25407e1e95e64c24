// What a window backend (headless, FLTK, Win32) provides to the runtime core.
// The core owns every property value, the bindings and the open/closed rules;
// a backend only mirrors them in native widgets and feeds the user's input
// back through the functions of shell/runtime.h (userClick, userMoveWindow...).
// Every call comes on the user-interface thread.
#pragma once

#include <cstdint>

#include "platform/worker.h"
#include "shell/form_types.h"
#include "text/text.h"

namespace nds {

// Thrown by a backend's endProcess where the process must not really end (the
// headless runtime under a test); runProgram catches it.
struct ProgramExit {
    int code = 0;
};

struct ScreenSize {
    int width = 0, height = 0;
};

class WindowBackend {
public:
    virtual ~WindowBackend() = default;

    virtual ScreenSize screenSize() = 0;

    // Builds the native window and its controls from the form and the core's
    // current values (runtime.h), at the outer corner (left, top), not shown.
    virtual void createWindow(const WindowForm& form, int left, int top) = 0;
    virtual void showWindow(WindowId window) = 0;
    // An open window: restored when minimised, else made the active window.
    virtual void activateWindow(WindowId window) = 0;
    virtual void destroyWindow(WindowId window) = 0;

    // The core's own moves; a backend must not report them back as user moves.
    virtual void moveWindow(WindowId window, int left, int top) = 0;
    virtual void moveControl(WindowId window, ControlId control, int left, int top) = 0;

    // Mirrors of property writes, each already validated and clamped.
    virtual void setText(WindowId window, ControlId control, const Text& text) = 0;
    virtual void setDisabled(WindowId window, ControlId control, bool disabled) = 0;
    virtual void setPosition(WindowId window, ControlId control, int position) = 0;
    virtual void setHtml(WindowId window, ControlId control, const Bytes& html) = 0;
    // period <= 0 stops the timer; a positive one restarts it, first tick one
    // period later. Ticks come back through userTimerTick.
    virtual void setTimer(WindowId window, ControlId control, int periodMs) = 0;

    virtual void setSkinStyle(int style) = 0;
    // A task-modal box with one OK button; returns when it is closed. Timers
    // keep ticking meanwhile.
    virtual void showMessage(const Text& caption, const Text& text) = 0;
    virtual void openUrl(const Text& url) = 0;

    virtual void processEvents() = 0;
    virtual uint32_t waitForWorkerOrInput(WorkerThread* worker, uint32_t timeoutMs,
                                          uint32_t wakeMask) = 0;
    // Runs until the core asks for the end with requestLoopEnd.
    virtual void runEventLoop() = 0;
    // The last window is gone: the loop ends once the handler on the stack
    // returns to it (a request made inside a fetch's wait stays pending).
    virtual void requestLoopEnd() = 0;
    // Ends the process with the code; the exit routine has already run.
    [[noreturn]] virtual void endProcess(int code) = 0;
};

}  // namespace nds
