// Worker threads, shaped like CreateThread / CloseHandle: one thread per fetch,
// started at once, never joined by the caller.
#pragma once

#include <cstdint>

namespace nds {

struct WorkerThread;  // the platform's thread handle
using WorkerRoutine = uint32_t (*)(void* parameter);

// Starts `routine(parameter)` on a new thread; null when no thread could be
// started (the routine then never runs).
WorkerThread* startWorker(WorkerRoutine routine, void* parameter);
// True once the routine has returned.
bool workerEnded(WorkerThread* worker);
// Gives up the caller's handle; a thread still running goes on by itself.
void closeWorker(WorkerThread* worker);
// Called on the worker's own thread right after a routine returns, so that a
// runtime sleeping in its wait can wake up. One hook per process.
void setWorkerEndedHook(void (*hook)());

}  // namespace nds
