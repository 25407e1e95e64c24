// FLTK 1.3 window backend for Linux: both forms as real X11 windows with their
// controls, timers on FLTK timeouts, the fetch wait on Fl::wait woken by
// Fl::awake, message boxes, the HTML view on Fl_Help_View, and xdg-open.
// Leaves out window icons, hover underlining of links and the skin styles 2-3.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "shell/window_backend.h"

class Fl_Window;

namespace nds::fltk {

class NativeWindow;

class FltkBackend : public WindowBackend {
public:
    FltkBackend();
    ~FltkBackend() override;

    ScreenSize screenSize() override;
    void createWindow(const WindowForm& form, int left, int top) override;
    void showWindow(WindowId window) override;
    void activateWindow(WindowId window) override;
    void destroyWindow(WindowId window) override;
    void moveWindow(WindowId window, int left, int top) override;
    void moveControl(WindowId window, ControlId control, int left, int top) override;
    void setText(WindowId window, ControlId control, const Text& text) override;
    void setDisabled(WindowId window, ControlId control, bool disabled) override;
    void setPosition(WindowId window, ControlId control, int position) override;
    void setHtml(WindowId window, ControlId control, const Bytes& html) override;
    void setTimer(WindowId window, ControlId control, int periodMs) override;
    void setSkinStyle(int style) override;
    void showMessage(const Text& caption, const Text& text) override;
    void openUrl(const Text& url) override;
    void processEvents() override;
    uint32_t waitForWorkerOrInput(WorkerThread* worker, uint32_t timeoutMs,
                                  uint32_t wakeMask) override;
    void runEventLoop() override;
    void requestLoopEnd() override;
    [[noreturn]] void endProcess(int code) override;

    // Timer callbacks count here, so a fetch's wait can tell that a tick ran.
    void noteTimerTick() { ++ticks_; }

private:
    struct Timer {
        FltkBackend* backend = nullptr;
        WindowId window{};
        ControlId control{};
        double periodS = 0;
        bool running = false;
    };
    static void timerFired(void* data);
    void stopTimers(WindowId window);
    NativeWindow* native(WindowId window);
    // Windows already closed, kept until no handler can be on the stack.
    void buryDeadWindows();

    std::array<NativeWindow*, kWindowCount> windows_{};
    std::vector<Fl_Window*> dead_;
    std::map<std::pair<int, int>, std::unique_ptr<Timer>> timers_;
    uint64_t ticks_ = 0;
    bool loopEndRequested_ = false;
};

}  // namespace nds::fltk
