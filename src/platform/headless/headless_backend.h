// Headless window backend: the runtime with no screen, on a real clock. It
// keeps no widgets (the runtime core holds every value), records what a user
// would see, and delivers scripted user input through its event pump, so input
// can land in the middle of a fetch's wait. Leaves out drawing and fonts.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "shell/window_backend.h"

namespace nds {

class HeadlessBackend : public WindowBackend {
public:
    explicit HeadlessBackend(ScreenSize screen = {1280, 1024});
    ~HeadlessBackend() override;

    // What a user would see, told as it happens.
    std::function<void(const Text& text)> onMessage;
    std::function<void(const Text& url)> onOpenUrl;
    std::function<void(WindowId window)> onWindowOpened;
    std::function<void(WindowId window)> onWindowClosed;
    // And kept, for tests.
    std::vector<Text> messages;
    std::vector<Text> openedUrls;
    int exitCode = -1;  // the code endProcess was given, -1 before

    // Scripted user input: `action` (typically a call of userClick, userKey,
    // userMoveWindow, userEditText or userPressLink) runs as input through the
    // event pump `delayMs` from now, in the order queued among equal times.
    void queueInput(int delayMs, std::function<void()> action);
    int pendingInputs() const;

    // The top-level loop calls `step` whenever nothing is due; step runs one
    // script line (it may call the user* functions, queueInput or runFor) and
    // returns false when it has nothing more to do.
    void setDriver(std::function<bool()> step);
    // Runs the event loop for `ms` of real time: due timers tick, due input
    // arrives. For drivers and tests; returns early when the program ends.
    void runFor(int ms);

    // Milliseconds on this backend's steady clock, from its construction.
    int64_t nowMs() const;
    // The core asked for the loop's end and the top-level loop has not yet
    // returned to it (a request made inside a fetch's wait stays pending).
    bool loopEndPending() const { return loopEndRequested_; }

    // WindowBackend
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
    // Throws ProgramExit{code}: the process of a test or tool goes on.
    [[noreturn]] void endProcess(int code) override;

private:
    struct Timer {
        int periodMs = 0;
        int64_t dueMs = 0;
    };
    struct Input {
        int64_t dueMs;
        uint64_t order;
        std::function<void()> action;
    };

    // Earliest time at which a timer or an input is due, or INT64_MAX; with
    // a wake mask, only the kinds of the mask count.
    int64_t nextDueMs(uint32_t wakeMask = ~0u) const;
    bool somethingDue(int64_t now, uint32_t wakeMask = ~0u) const;
    // One turn of the pump: every input and every timer due when the turn
    // began, in due order; a timer ticks at most once a turn.
    void pumpTurn();
    void runDriverStep();
    // Sleeps until `untilMs` or a worker's end, whichever first; `seenWakes`
    // is wakes() read before the caller checked its conditions, so a worker
    // that ended in between is not missed.
    uint64_t wakes() const;
    void sleepUntil(int64_t untilMs, uint64_t seenWakes);
    static void wakeFromWorker();

    ScreenSize screen_;
    std::chrono::steady_clock::time_point start_;
    std::map<std::pair<int, int>, Timer> timers_;
    std::vector<Input> inputs_;
    uint64_t inputOrder_ = 0;
    std::function<bool()> driver_;
    bool loopEndRequested_ = false;

    mutable std::mutex wakeMutex_;
    std::condition_variable wake_;
    uint64_t wakeCount_ = 0;
    // The backend the worker-ended hook wakes (the newest one alive).
    static HeadlessBackend* current_;
};

}  // namespace nds
