// Headless window backend: the window runtime's event pump, timers and fetch
// wait on a real steady clock and a condition variable, with scripted input in
// place of a user. Leaves out every widget: the runtime core holds the values.
#include "platform/headless/headless_backend.h"

#include <algorithm>
#include <climits>
#include <cstdio>

#include "platform/events.h"
#include "platform/worker.h"
#include "shell/runtime.h"

namespace nds {
namespace {

// Wake-mask bits: timers wake a wait under QS_TIMER, scripted input (keys,
// clicks, moves, typing) under any of the other input kinds.
constexpr uint32_t kTimerBit = 0x0010;                        // QS_TIMER
constexpr uint32_t kInputBits = kFetchWakeMask & ~kTimerBit;  // keys, mouse, posts, paint...
constexpr uint32_t kInfinite = 0xFFFFFFFFu;

// Guards current_ against a worker's hook running while a backend goes away.
std::mutex hookMutex;

}  // namespace

HeadlessBackend* HeadlessBackend::current_ = nullptr;

HeadlessBackend::HeadlessBackend(ScreenSize screen)
    : screen_(screen), start_(std::chrono::steady_clock::now()) {
    {
        std::lock_guard<std::mutex> lock(hookMutex);
        current_ = this;
    }
    setWorkerEndedHook(&HeadlessBackend::wakeFromWorker);
}

HeadlessBackend::~HeadlessBackend() {
    std::lock_guard<std::mutex> lock(hookMutex);
    if (current_ == this) current_ = nullptr;
}

void HeadlessBackend::wakeFromWorker() {
    std::lock_guard<std::mutex> lock(hookMutex);
    HeadlessBackend* backend = current_;
    if (!backend) return;
    {
        std::lock_guard<std::mutex> wakeLock(backend->wakeMutex_);
        ++backend->wakeCount_;
    }
    backend->wake_.notify_all();
}

int64_t HeadlessBackend::nowMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start_)
        .count();
}

void HeadlessBackend::queueInput(int delayMs, std::function<void()> action) {
    inputs_.push_back(Input{nowMs() + std::max(delayMs, 0), inputOrder_++, std::move(action)});
}

int HeadlessBackend::pendingInputs() const { return static_cast<int>(inputs_.size()); }

void HeadlessBackend::setDriver(std::function<bool()> step) { driver_ = std::move(step); }

int64_t HeadlessBackend::nextDueMs(uint32_t wakeMask) const {
    int64_t next = INT64_MAX;
    if (wakeMask & kInputBits) {
        for (const Input& in : inputs_) next = std::min(next, in.dueMs);
    }
    if (wakeMask & kTimerBit) {
        for (const auto& [key, timer] : timers_) next = std::min(next, timer.dueMs);
    }
    return next;
}

bool HeadlessBackend::somethingDue(int64_t now, uint32_t wakeMask) const {
    return nextDueMs(wakeMask) <= now;
}

void HeadlessBackend::pumpTurn() {
    const int64_t turnStart = nowMs();
    const uint64_t orderLimit = inputOrder_;  // input queued by this turn waits for the next
    for (;;) {
        // Handlers may queue input, start and stop timers and pump events
        // themselves (a fetch's wait): look everything up afresh each time.
        int inputIndex = -1;
        for (size_t i = 0; i < inputs_.size(); ++i) {
            const Input& in = inputs_[i];
            if (in.dueMs > turnStart || in.order >= orderLimit) continue;
            if (inputIndex < 0 || in.dueMs < inputs_[inputIndex].dueMs ||
                (in.dueMs == inputs_[inputIndex].dueMs && in.order < inputs_[inputIndex].order)) {
                inputIndex = static_cast<int>(i);
            }
        }
        auto timer = timers_.end();
        for (auto it = timers_.begin(); it != timers_.end(); ++it) {
            if (it->second.dueMs > turnStart) continue;
            if (timer == timers_.end() || it->second.dueMs < timer->second.dueMs) timer = it;
        }
        if (inputIndex < 0 && timer == timers_.end()) return;

        if (inputIndex >= 0 &&
            (timer == timers_.end() || inputs_[inputIndex].dueMs <= timer->second.dueMs)) {
            std::function<void()> action = std::move(inputs_[inputIndex].action);
            inputs_.erase(inputs_.begin() + inputIndex);
            if (action) action();
        } else {
            // Next tick one period from now, not from when it was due: a late
            // timer ticks once, it does not catch up in a burst.
            timer->second.dueMs = nowMs() + timer->second.periodMs;
            const auto [window, control] = timer->first;
            userTimerTick(static_cast<WindowId>(window), static_cast<ControlId>(control));
        }
    }
}

void HeadlessBackend::runDriverStep() {
    // Taken out while it runs, so a step may set a new driver.
    std::function<bool()> step = std::move(driver_);
    driver_ = nullptr;
    const bool more = step();
    if (more && !driver_) driver_ = std::move(step);
}

uint64_t HeadlessBackend::wakes() const {
    std::lock_guard<std::mutex> lock(wakeMutex_);
    return wakeCount_;
}

void HeadlessBackend::sleepUntil(int64_t untilMs, uint64_t seenWakes) {
    std::unique_lock<std::mutex> lock(wakeMutex_);
    auto woken = [&] { return wakeCount_ != seenWakes; };
    if (untilMs == INT64_MAX) {
        wake_.wait(lock, woken);
    } else {
        wake_.wait_until(lock, start_ + std::chrono::milliseconds(untilMs), woken);
    }
}

void HeadlessBackend::processEvents() { pumpTurn(); }

uint32_t HeadlessBackend::waitForWorkerOrInput(WorkerThread* worker, uint32_t timeoutMs,
                                               uint32_t wakeMask) {
    const int64_t deadline =
        timeoutMs == kInfinite ? INT64_MAX : nowMs() + static_cast<int64_t>(timeoutMs);
    for (;;) {
        const uint64_t seen = wakes();
        const int64_t now = nowMs();
        // A null handle is no thread at all: it has ended (platform/worker.h).
        if (workerEnded(worker)) return kWaitObject0;
        if (somethingDue(now, wakeMask)) return kWaitInput;
        if (now >= deadline) return kWaitTimeout;
        sleepUntil(std::min(deadline, nextDueMs(wakeMask)), seen);
    }
}

void HeadlessBackend::runEventLoop() {
    while (!loopEndRequested_) {
        const uint64_t seen = wakes();
        const int64_t now = nowMs();
        if (somethingDue(now)) {
            pumpTurn();
        } else if (driver_) {
            runDriverStep();
        } else {
            const int64_t next = nextDueMs();
            if (next == INT64_MAX) {
                // No timer runs, no input is queued and no script is left:
                // nothing can ever close the remaining windows.
                std::fprintf(stderr,
                             "netdisk-search: the event loop can never end (no timer, no "
                             "input, no script left); ending with code 70\n");
                exitProgram(70);
            }
            sleepUntil(next, seen);
        }
    }
    loopEndRequested_ = false;  // consumed: a later loop runs again
}

void HeadlessBackend::runFor(int ms) {
    const int64_t end = nowMs() + std::max(ms, 0);
    for (;;) {
        if (programEnded() || loopEndRequested_) return;
        const uint64_t seen = wakes();
        const int64_t now = nowMs();
        if (somethingDue(now)) {
            pumpTurn();
            continue;
        }
        if (now >= end) return;
        sleepUntil(std::min(end, nextDueMs()), seen);
    }
}

void HeadlessBackend::requestLoopEnd() { loopEndRequested_ = true; }

void HeadlessBackend::endProcess(int code) {
    exitCode = code;
    throw ProgramExit{code};
}

ScreenSize HeadlessBackend::screenSize() { return screen_; }

void HeadlessBackend::createWindow(const WindowForm& form, int left, int top) {
    if (onWindowOpened) onWindowOpened(form.id);
}

void HeadlessBackend::showWindow(WindowId window) {}

void HeadlessBackend::activateWindow(WindowId window) {}

void HeadlessBackend::destroyWindow(WindowId window) {
    // The core stops a window's timers before it destroys it; this also drops
    // any it did not know about.
    for (auto it = timers_.begin(); it != timers_.end();) {
        it = it->first.first == static_cast<int>(window) ? timers_.erase(it) : std::next(it);
    }
    if (onWindowClosed) onWindowClosed(window);
}

void HeadlessBackend::moveWindow(WindowId window, int left, int top) {}

void HeadlessBackend::moveControl(WindowId window, ControlId control, int left, int top) {}

void HeadlessBackend::setText(WindowId window, ControlId control, const Text& text) {}

void HeadlessBackend::setDisabled(WindowId window, ControlId control, bool disabled) {}

void HeadlessBackend::setPosition(WindowId window, ControlId control, int position) {}

void HeadlessBackend::setHtml(WindowId window, ControlId control, const Bytes& html) {}

void HeadlessBackend::setTimer(WindowId window, ControlId control, int periodMs) {
    const std::pair<int, int> key{static_cast<int>(window), static_cast<int>(control)};
    if (periodMs <= 0) {
        timers_.erase(key);
    } else {
        timers_[key] = Timer{periodMs, nowMs() + periodMs};
    }
}

void HeadlessBackend::setSkinStyle(int style) {}

void HeadlessBackend::showMessage(const Text& caption, const Text& text) {
    // The box is closed at once, as by a user who reads it and presses OK.
    messages.push_back(text);
    if (onMessage) onMessage(text);
}

void HeadlessBackend::openUrl(const Text& url) {
    openedUrls.push_back(url);
    if (onOpenUrl) onOpenUrl(url);
}

}  // namespace nds
