// The two calls of the fetch wait loop, answered by whichever window runtime
// the program runs on. Both run on the user-interface thread.
#pragma once

#include <cstdint>

#include "platform/worker.h"

namespace nds {

inline constexpr uint32_t kWaitObject0 = 0;
inline constexpr uint32_t kWaitInput = 1;  // WAIT_OBJECT_0 + 1: input of the mask's kinds
inline constexpr uint32_t kWaitTimeout = 258;
inline constexpr uint32_t kWaitFailed = 0xFFFFFFFFu;
// QS_KEY | QS_MOUSEMOVE | QS_MOUSEBUTTON | QS_POSTMESSAGE | QS_TIMER | QS_PAINT
// | QS_HOTKEY | QS_RAWINPUT; sent messages are not in it.
inline constexpr uint32_t kFetchWakeMask = 0x04BF;

// Sleeps until the worker has ended (kWaitObject0), input of the mask's kinds
// is pending (kWaitInput), or timeoutMs passed (kWaitTimeout).
uint32_t waitForWorkerOrInput(WorkerThread* worker, uint32_t timeoutMs, uint32_t wakeMask);
// Dispatches every event pending for the user-interface thread.
void processEvents();

}  // namespace nds
