// Worker threads of platform/worker.h on std::thread: each routine runs on a detached
// thread that shares its "ended" flag with the caller's handle.
// Leaves out exit codes (nothing reads them) and any way to stop a running routine.
#include "platform/worker.h"

#include <atomic>
#include <memory>
#include <new>
#include <system_error>
#include <thread>

namespace nds {

namespace {

// Shared by the handle and the thread, so either may go first: closeWorker never waits,
// and workerEnded still answers after the thread has gone.
struct WorkerState {
    std::atomic<bool> ended{false};
};

std::atomic<void (*)()> endedHook{nullptr};

}  // namespace

struct WorkerThread {
    std::shared_ptr<WorkerState> state;
};

WorkerThread* startWorker(WorkerRoutine routine, void* parameter) {
    if (routine == nullptr) return nullptr;
    try {
        auto worker = std::make_unique<WorkerThread>();
        worker->state = std::make_shared<WorkerState>();
        std::thread([state = worker->state, routine, parameter] {
            routine(parameter);
            state->ended.store(true, std::memory_order_release);
            // After the flag, so that a runtime woken by the hook sees the end.
            if (void (*hook)() = endedHook.load(std::memory_order_acquire)) hook();
        }).detach();
        return worker.release();
    } catch (const std::system_error&) {
        return nullptr;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

// A null handle stands for no thread at all, which has nothing left to run.
bool workerEnded(WorkerThread* worker) {
    return worker == nullptr || worker->state->ended.load(std::memory_order_acquire);
}

void closeWorker(WorkerThread* worker) { delete worker; }

void setWorkerEndedHook(void (*hook)()) { endedHook.store(hook, std::memory_order_release); }

}  // namespace nds
