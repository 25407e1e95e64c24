// The window runtime core that every backend shares. It owns the bindings,
// which windows are open and every property value; a backend only mirrors the
// values in native widgets and feeds the user's input back in.
//
// Handlers nest freely: a property write raises position-changed before it
// returns, and a fetch's wait pumps events, so any function here can be
// re-entered from a handler it called. Nothing here is held across a handler
// call: bindings are walked by index, windows are looked up again afterwards,
// and a window's generation tells whether it was closed (and maybe reopened)
// meanwhile.
#include "shell/runtime.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/events.h"

namespace nds {
namespace {

struct ControlState {
    int32_t left = 0, top = 0;
    Text caption;
    Text text;
    int32_t disabled = 0;
    int32_t timerPeriod = 0;
    int32_t position = 0;
    Bytes html;
};

struct WindowState {
    bool open = false;
    bool closing = false;     // its will-be-destroyed handler is running
    uint64_t generation = 0;  // a new value each time the window is created
    int32_t left = 0, top = 0;
    Text caption;
    std::vector<ControlState> controls;  // parallel to the form's controls
};

// Stands in when no backend is installed (before runProgram, after it, or for
// a tool that fetches without windows): no windows, no input, and a wait that
// only watches the worker.
class NullBackend final : public WindowBackend {
public:
    ScreenSize screenSize() override { return {}; }
    void createWindow(const WindowForm&, int, int) override {}
    void showWindow(WindowId) override {}
    void activateWindow(WindowId) override {}
    void destroyWindow(WindowId) override {}
    void moveWindow(WindowId, int, int) override {}
    void moveControl(WindowId, ControlId, int, int) override {}
    void setText(WindowId, ControlId, const Text&) override {}
    void setDisabled(WindowId, ControlId, bool) override {}
    void setPosition(WindowId, ControlId, int) override {}
    void setHtml(WindowId, ControlId, const Bytes&) override {}
    void setTimer(WindowId, ControlId, int) override {}
    void setSkinStyle(int) override {}
    void showMessage(const Text&, const Text&) override {}
    void openUrl(const Text&) override {}
    void processEvents() override {}
    uint32_t waitForWorkerOrInput(WorkerThread* worker, uint32_t timeoutMs,
                                  uint32_t wakeMask) override {
        // Nothing can wake this wait but the worker's end, so it polls at a
        // pace that costs nothing next to a network exchange.
        using Clock = std::chrono::steady_clock;
        const bool forever = timeoutMs == 0xFFFFFFFFu;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            if (workerEnded(worker)) return kWaitObject0;  // null: no thread, ended
            if (!forever && Clock::now() >= deadline) return kWaitTimeout;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    void runEventLoop() override {}
    void requestLoopEnd() override {}
    [[noreturn]] void endProcess(int code) override { throw ProgramExit{code}; }
};

NullBackend nullBackend;

struct Runtime {
    WindowBackend* backend = &nullBackend;
    std::vector<WindowForm> forms;
    std::vector<Binding> bindings;
    std::vector<WindowState> windows;  // parallel to forms
    uint64_t nextGeneration = 1;
    void (*exitRoutine)() = nullptr;
    bool exitRoutineRan = false;
    bool ended = false;  // no event is delivered any more
    int skin = 0;
};

Runtime& rt() {
    static Runtime runtime;
    return runtime;
}

WindowBackend& backend() { return *rt().backend; }

int windowIndex(WindowId window) {
    const Runtime& r = rt();
    for (size_t i = 0; i < r.forms.size(); ++i) {
        if (r.forms[i].id == window) return static_cast<int>(i);
    }
    return -1;
}

// The index of an open window, or -1.
int openWindowIndex(WindowId window) {
    int i = windowIndex(window);
    return i >= 0 && rt().windows[i].open ? i : -1;
}

int controlIndex(const WindowForm& form, ControlId control) {
    for (size_t i = 0; i < form.controls.size(); ++i) {
        if (form.controls[i].id == control) return static_cast<int>(i);
    }
    return -1;
}

bool stillOpen(int windowIndex, uint64_t generation) {
    const WindowState& w = rt().windows[windowIndex];
    return w.open && w.generation == generation;
}

bool anyWindowOpen() {
    for (const WindowState& w : rt().windows) {
        if (w.open) return true;
    }
    return false;
}

bool hasProperty(ControlKind kind, Property p) {
    const std::vector<Property>& props = propertiesOf(kind);
    return std::find(props.begin(), props.end(), p) != props.end();
}

bool isButton(ControlKind kind) {
    return kind == ControlKind::PushButton || kind == ControlKind::ImageButton;
}

bool isLabel(ControlKind kind) {
    return kind == ControlKind::Label || kind == ControlKind::TransparentLabel;
}

PropertyValue defaultValue(Property p) {
    switch (p) {
        case Property::caption:
        case Property::text:
            return Text();
        case Property::htmlContent:
            return Bytes();
        default:
            return int32_t{0};
    }
}

int32_t clampPosition(const ControlForm& form, int32_t value) {
    const int32_t lo = std::min(form.rangeMin, form.rangeMax);
    const int32_t hi = std::max(form.rangeMin, form.rangeMax);
    return std::clamp(value, lo, hi);
}

ControlState initialState(const ControlForm& form) {
    ControlState s;
    s.left = form.left;
    s.top = form.top;
    if (form.kind == ControlKind::EditBox) {
        s.text = form.text;
    } else {
        s.caption = form.text;
    }
    s.disabled = form.disabled ? 1 : 0;
    s.timerPeriod = form.timerPeriod;
    s.position = clampPosition(form, 0);
    return s;
}

// Runs every handler bound to the event. The table is walked by index and
// each binding copied before its call, so a handler may do anything.
void raise(WindowId window, ControlId control, Event event) {
    for (size_t i = 0; i < rt().bindings.size(); ++i) {
        if (rt().ended) return;
        const Binding b = rt().bindings[i];
        if (b.window == window && b.control == control && b.event == event && b.handler) {
            b.handler();
        }
    }
}

void raisePress(WindowId window, ControlId control, int x, int y, int keys) {
    for (size_t i = 0; i < rt().bindings.size(); ++i) {
        if (rt().ended) return;
        const Binding b = rt().bindings[i];
        if (b.window != window || b.control != control || b.event != Event::leftButtonPressed) {
            continue;
        }
        if (b.pressHandler) {
            b.pressHandler(x, y, keys);
        } else if (b.handler) {
            b.handler();
        }
    }
}

void raiseLink(WindowId window, ControlId control, const Text& href) {
    for (size_t i = 0; i < rt().bindings.size(); ++i) {
        if (rt().ended) return;
        const Binding b = rt().bindings[i];
        if (b.window == window && b.control == control && b.event == Event::linkPressed &&
            b.linkHandler) {
            b.linkHandler(href);
        }
    }
}

void runExitRoutineOnce() {
    Runtime& r = rt();
    r.ended = true;
    if (r.exitRoutineRan) return;
    r.exitRoutineRan = true;
    if (r.exitRoutine) r.exitRoutine();
}

void closeWindow(WindowId window) {
    Runtime& r = rt();
    const int wi = openWindowIndex(window);
    if (wi < 0 || r.windows[wi].closing) return;  // a close already under way finishes it
    r.windows[wi].closing = true;
    const uint64_t generation = r.windows[wi].generation;
    raise(window, ControlId::self, Event::willBeDestroyed);
    if (!stillOpen(wi, generation)) return;

    const WindowForm& form = r.forms[wi];
    for (size_t ci = 0; ci < form.controls.size(); ++ci) {
        ControlState& cs = r.windows[wi].controls[ci];
        if (form.controls[ci].kind == ControlKind::Timer && cs.timerPeriod > 0) {
            cs.timerPeriod = 0;
            backend().setTimer(window, form.controls[ci].id, 0);
        }
    }
    // Closed before the backend destroys its widgets, so whatever the
    // destruction reports back finds the window gone.
    r.windows[wi].open = false;
    r.windows[wi].closing = false;
    backend().destroyWindow(window);
    if (!anyWindowOpen()) backend().requestLoopEnd();
}

void writeWindowProperty(int wi, Property property, const PropertyValue& value) {
    Runtime& r = rt();
    const WindowId window = r.forms[wi].id;
    WindowState& ws = r.windows[wi];
    if (property == Property::caption) {
        if (const Text* t = std::get_if<Text>(&value)) {
            ws.caption = *t;
            backend().setText(window, ControlId::self, ws.caption);
        }
        return;
    }
    if (property != Property::left && property != Property::top) return;
    const int32_t* n = std::get_if<int32_t>(&value);
    if (!n) return;
    const int32_t left = property == Property::left ? *n : ws.left;
    const int32_t top = property == Property::top ? *n : ws.top;
    if (left == ws.left && top == ws.top) return;
    ws.left = left;
    ws.top = top;
    backend().moveWindow(window, left, top);
    raise(window, ControlId::self, Event::positionChanged);
}

}  // namespace

int runProgram(WindowBackend& installed, int (*programMain)()) {
    Runtime& r = rt();
    r.backend = &installed;
    r.ended = false;
    r.exitRoutine = nullptr;
    r.exitRoutineRan = false;
    int code = 0;
    try {
        code = programMain();
        runExitRoutineOnce();
    } catch (const ProgramExit& exit) {
        // exitProgram has run the routine already; this covers a backend
        // whose endProcess was reached some other way.
        code = exit.code;
        runExitRoutineOnce();
    } catch (...) {
        // An error nothing could handle: the routine still runs once, and the
        // platform's entry reports the error.
        runExitRoutineOnce();
        r.backend = &nullBackend;
        throw;
    }
    r.backend = &nullBackend;
    return code;
}

void initWindowRuntime(std::span<const WindowForm> forms, std::span<const Binding> bindings) {
    Runtime& r = rt();
    r.forms.assign(forms.begin(), forms.end());
    r.bindings.assign(bindings.begin(), bindings.end());
    r.windows.assign(r.forms.size(), WindowState{});
    r.skin = 0;
}

void registerExitRoutine(void (*routine)()) { rt().exitRoutine = routine; }

void runEventLoop() {
    // With no window open the loop has nothing to wait for: it ends at once.
    if (!anyWindowOpen()) backend().requestLoopEnd();
    backend().runEventLoop();
}

void loadWindow(WindowId window) {
    Runtime& r = rt();
    const int wi = windowIndex(window);
    if (wi < 0) return;
    if (r.windows[wi].open) {
        backend().activateWindow(window);
        return;
    }
    const WindowForm& form = r.forms[wi];
    const ScreenSize screen = backend().screenSize();

    WindowState fresh;
    fresh.open = true;
    fresh.generation = r.nextGeneration++;
    fresh.left = std::max(0, (screen.width - form.width) / 2);
    fresh.top = std::max(0, (screen.height - form.height) / 2);
    fresh.caption = form.caption;
    for (const ControlForm& c : form.controls) fresh.controls.push_back(initialState(c));
    const uint64_t generation = fresh.generation;
    const int left = fresh.left, top = fresh.top;
    r.windows[wi] = std::move(fresh);

    backend().createWindow(form, left, top);
    for (size_t ci = 0; ci < form.controls.size(); ++ci) {
        if (!stillOpen(wi, generation)) return;
        const ControlForm& c = form.controls[ci];
        if (c.kind == ControlKind::Timer && r.windows[wi].controls[ci].timerPeriod > 0) {
            backend().setTimer(window, c.id, r.windows[wi].controls[ci].timerPeriod);
        }
    }
    raise(window, ControlId::self, Event::created);
    if (!stillOpen(wi, generation)) return;
    raise(window, ControlId::self, Event::positionChanged);
    if (!stillOpen(wi, generation)) return;
    backend().showWindow(window);
}

PropertyValue readProperty(WindowId window, ControlId control, Property property) {
    Runtime& r = rt();
    const int wi = openWindowIndex(window);
    if (wi < 0) return defaultValue(property);
    const WindowState& ws = r.windows[wi];
    if (control == ControlId::self) {
        switch (property) {
            case Property::left:
                return ws.left;
            case Property::top:
                return ws.top;
            case Property::caption:
                return ws.caption;
            default:
                return defaultValue(property);
        }
    }
    const WindowForm& form = r.forms[wi];
    const int ci = controlIndex(form, control);
    if (ci < 0 || !hasProperty(form.controls[ci].kind, property)) return defaultValue(property);
    const ControlState& cs = ws.controls[ci];
    switch (property) {
        case Property::left:
            return cs.left;
        case Property::top:
            return cs.top;
        case Property::caption:
            return cs.caption;
        case Property::text:
            return cs.text;
        case Property::disabled:
            return cs.disabled;
        case Property::timerPeriod:
            return cs.timerPeriod;
        case Property::position:
            return cs.position;
        case Property::htmlContent:
            return cs.html;
    }
    return defaultValue(property);
}

void writeProperty(WindowId window, ControlId control, Property property,
                   const PropertyValue& value) {
    Runtime& r = rt();
    const int wi = openWindowIndex(window);
    if (wi < 0) return;
    if (control == ControlId::self) {
        writeWindowProperty(wi, property, value);
        return;
    }
    const WindowForm& form = r.forms[wi];
    const int ci = controlIndex(form, control);
    if (ci < 0) return;
    const ControlForm& cf = form.controls[ci];
    if (!hasProperty(cf.kind, property)) return;
    ControlState& cs = r.windows[wi].controls[ci];
    const int32_t* n = std::get_if<int32_t>(&value);
    const Text* t = std::get_if<Text>(&value);
    switch (property) {
        case Property::left:
        case Property::top: {
            if (!n) return;
            const int32_t left = property == Property::left ? *n : cs.left;
            const int32_t top = property == Property::top ? *n : cs.top;
            if (left == cs.left && top == cs.top) return;
            cs.left = left;
            cs.top = top;
            backend().moveControl(window, control, left, top);
            return;
        }
        case Property::caption:
            if (!t) return;
            cs.caption = *t;
            backend().setText(window, control, cs.caption);
            return;
        case Property::text:
            if (!t) return;
            cs.text = *t;
            backend().setText(window, control, cs.text);
            return;
        case Property::disabled:
            if (!n) return;
            cs.disabled = *n != 0 ? 1 : 0;
            backend().setDisabled(window, control, cs.disabled != 0);
            return;
        case Property::timerPeriod:
            if (!n) return;
            cs.timerPeriod = *n;
            backend().setTimer(window, control, *n > 0 ? *n : 0);
            return;
        case Property::position:
            if (!n) return;
            cs.position = clampPosition(cf, *n);
            backend().setPosition(window, control, cs.position);
            return;
        case Property::htmlContent:
            // HTML is bytes; a Text is taken as its bytes, since converted
            // pages come out of the code-page conversion as Text.
            if (const Bytes* b = std::get_if<Bytes>(&value)) {
                cs.html = *b;
            } else if (t) {
                cs.html = Bytes(t->view());
            } else {
                return;
            }
            backend().setHtml(window, control, cs.html);
            return;
    }
}

int32_t readInt(WindowId window, ControlId control, Property property) {
    PropertyValue v = readProperty(window, control, property);
    const int32_t* n = std::get_if<int32_t>(&v);
    return n ? *n : 0;
}

Text readText(WindowId window, ControlId control, Property property) {
    PropertyValue v = readProperty(window, control, property);
    if (Text* t = std::get_if<Text>(&v)) return std::move(*t);
    if (const Bytes* b = std::get_if<Bytes>(&v)) return Text(b->view());
    return Text();
}

void showMessage(const Text& text) { backend().showMessage(kMessageCaption, text); }

void exitProgram(int code) {
    runExitRoutineOnce();  // stops event delivery first
    backend().endProcess(code);
    // A backend's endProcess does not return; should one ever do so, the
    // program still ends here, through runProgram.
    throw ProgramExit{code};
}

void openUrl(const Text& url) { backend().openUrl(url); }

void setSkinStyle(int style) {
    rt().skin = style;
    backend().setSkinStyle(style);
}

bool isWindowOpen(WindowId window) { return openWindowIndex(window) >= 0; }

bool programEnded() { return rt().ended; }

int skinStyle() { return rt().skin; }

const WindowForm& formOf(WindowId window) {
    static const WindowForm none;
    const int wi = windowIndex(window);
    return wi >= 0 ? rt().forms[wi] : none;
}

std::span<const WindowForm> windowForms() { return rt().forms; }

void userClick(WindowId window, ControlId control) {
    Runtime& r = rt();
    const int wi = openWindowIndex(window);
    if (r.ended || wi < 0) return;
    const int ci = controlIndex(r.forms[wi], control);
    if (ci < 0 || !isButton(r.forms[wi].controls[ci].kind)) return;
    if (r.windows[wi].controls[ci].disabled) return;
    raise(window, control, Event::clicked);
}

void userPressLabel(WindowId window, ControlId control, int x, int y, int keys) {
    Runtime& r = rt();
    const int wi = openWindowIndex(window);
    if (r.ended || wi < 0) return;
    const int ci = controlIndex(r.forms[wi], control);
    if (ci < 0 || !isLabel(r.forms[wi].controls[ci].kind)) return;
    raisePress(window, control, x, y, keys);
}

void userKey(WindowId window, Key key) {
    Runtime& r = rt();
    const int wi = openWindowIndex(window);
    if (r.ended || wi < 0) return;
    const WindowForm& form = r.forms[wi];
    if (key == Key::Esc) {
        if (form.escCloses) closeWindow(window);
    } else if (form.defaultButton != ControlId::self) {
        userClick(window, form.defaultButton);
    }
}

void userMoveWindow(WindowId window, int left, int top) {
    Runtime& r = rt();
    const int wi = openWindowIndex(window);
    if (r.ended || wi < 0) return;
    WindowState& ws = r.windows[wi];
    // A backend reporting the core's own move back lands here with the place
    // the core already holds: nothing is raised.
    if (ws.left == left && ws.top == top) return;
    ws.left = left;
    ws.top = top;
    raise(window, ControlId::self, Event::positionChanged);
}

void userEditText(WindowId window, ControlId control, const Text& text) {
    Runtime& r = rt();
    const int wi = openWindowIndex(window);
    if (r.ended || wi < 0) return;
    const int ci = controlIndex(r.forms[wi], control);
    if (ci < 0) return;
    const ControlForm& cf = r.forms[wi].controls[ci];
    if (cf.kind != ControlKind::EditBox || cf.readOnly) return;
    r.windows[wi].controls[ci].text = text;
}

void userPressLink(WindowId window, ControlId control, const Text& href) {
    Runtime& r = rt();
    const int wi = openWindowIndex(window);
    if (r.ended || wi < 0) return;
    const int ci = controlIndex(r.forms[wi], control);
    if (ci < 0 || r.forms[wi].controls[ci].kind != ControlKind::HtmlView) return;
    raiseLink(window, control, href);
}

void userCloseWindow(WindowId window) {
    if (rt().ended) return;
    closeWindow(window);
}

void userTimerTick(WindowId window, ControlId control) {
    Runtime& r = rt();
    const int wi = openWindowIndex(window);
    if (r.ended || wi < 0) return;
    const int ci = controlIndex(r.forms[wi], control);
    if (ci < 0 || r.forms[wi].controls[ci].kind != ControlKind::Timer) return;
    if (r.windows[wi].controls[ci].timerPeriod <= 0) return;
    raise(window, control, Event::tick);
}

// The fetch's wait loop, answered by the installed backend.
uint32_t waitForWorkerOrInput(WorkerThread* worker, uint32_t timeoutMs, uint32_t wakeMask) {
    return backend().waitForWorkerOrInput(worker, timeoutMs, wakeMask);
}

void processEvents() { backend().processEvents(); }

}  // namespace nds
