// The window runtime as the program's handlers see it, and the core that every
// backend shares: bindings, which windows are open, property values and their
// clamping, writes to closed windows, and the rule that a write of left or top
// that moves an open window raises its position-changed event before the
// write returns.
#pragma once

#include <functional>
#include <span>

#include "shell/form_types.h"
#include "shell/window_backend.h"
#include "text/text.h"

namespace nds {

struct Binding {
    WindowId window;
    ControlId control;
    Event event;
    void (*handler)() = nullptr;
    // Labels: the pointer position and key state of the press.
    void (*pressHandler)(int x, int y, int keys) = nullptr;
    // resultView: the href of a pressed link.
    void (*linkHandler)(const Text& href) = nullptr;
};

inline constexpr char kMessageCaption[] = "\xD0\xC5\xCF\xA2\xA3\xBA";  // 信息：

// Platform entry: installs the backend, runs programMain and makes sure the
// exit routine runs exactly once, whichever road ends the program. Returns the
// process exit code.
int runProgram(WindowBackend& backend, int (*programMain)());

// Called by programMain first: the windows and bindings of this run.
void initWindowRuntime(std::span<const WindowForm> forms, std::span<const Binding> bindings);
void registerExitRoutine(void (*routine)());
void runEventLoop();

// The operations the handlers use.
void loadWindow(WindowId window);
PropertyValue readProperty(WindowId window, ControlId control, Property property);
void writeProperty(WindowId window, ControlId control, Property property,
                   const PropertyValue& value);
int32_t readInt(WindowId window, ControlId control, Property property);
Text readText(WindowId window, ControlId control, Property property);
void showMessage(const Text& text);
[[noreturn]] void exitProgram(int code);
void openUrl(const Text& url);
void setSkinStyle(int style);

// State, for backends, tools and tests.
bool isWindowOpen(WindowId window);
bool programEnded();
int skinStyle();
const WindowForm& formOf(WindowId window);
std::span<const WindowForm> windowForms();

// The user's input, fed in by a backend. Each runs the bound handler at once,
// nested in the caller; input to a closed window, a disabled button, or after
// exitProgram is dropped.
void userClick(WindowId window, ControlId control);
void userPressLabel(WindowId window, ControlId control, int x, int y, int keys);
void userKey(WindowId window, Key key);
void userMoveWindow(WindowId window, int left, int top);
void userEditText(WindowId window, ControlId control, const Text& text);
void userPressLink(WindowId window, ControlId control, const Text& href);
void userCloseWindow(WindowId window);
void userTimerTick(WindowId window, ControlId control);

}  // namespace nds
