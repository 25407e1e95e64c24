// fetchUrl: the request record goes into a fresh mailbox, a worker runs the
// exchange, and the user-interface thread waits in a loop that dispatches
// events on every wake-up, so windows stay live while a page loads.

#include "fetch/fetch.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <utility>

#include "fetch/exchange.h"
#include "platform/events.h"
#include "platform/worker.h"

namespace nds {

namespace {

std::function<void(const Text&)>& fetchObserver() {
    static std::function<void(const Text&)> observer;
    return observer;
}

// The worker's start routine. It holds its own reference to the mailbox, so
// a call that gave up waiting can release its side at any time.
uint32_t runWorker(void* parameter) {
    std::unique_ptr<FetchMailbox> mailbox(static_cast<FetchMailbox*>(parameter));
    return runRequest(mailbox->get()) ? 1 : 0;
}

// Closes the thread handle on every way out of the wait, including a handler
// that ends the program from inside processEvents.
struct WorkerHandle {
    WorkerThread* worker;
    ~WorkerHandle() { closeWorker(worker); }
};

uint32_t waitLengthMs(int32_t timeoutSeconds) {
    const int64_t seconds = timeoutSeconds > 0 ? timeoutSeconds : kDefaultWaitSeconds;
    // 0xFFFFFFFF would mean "forever" to the system wait.
    const int64_t longest = std::numeric_limits<uint32_t>::max() - 1;
    return static_cast<uint32_t>(std::min<int64_t>(seconds * 1000, longest));
}

}  // namespace

void setFetchObserver(std::function<void(const Text& url)> observer) {
    fetchObserver() = std::move(observer);
}

Bytes fetchUrl(const Text& url, const Text& method, const Text& proxy, const Text& user,
               const Text& password, const Text& headers, const Text& body, int32_t timeoutSeconds,
               Text* responseHeadersOut) {
    if (fetchObserver()) fetchObserver()(url);

    FetchMailbox mailbox = openMemoryStream();
    writeValues(*mailbox, kRequestTag, url, method, proxy, user, password, headers, body);
    const uint32_t waitMs = waitLengthMs(timeoutSeconds);

    auto* workerReference = new FetchMailbox(mailbox);
    WorkerThread* worker = startWorker(runWorker, workerReference);
    if (!worker) {
        delete workerReference;
        if (responseHeadersOut) *responseHeadersOut = {};
        return {};
    }

    uint32_t result;
    {
        WorkerHandle handle{worker};
        do {
            result = waitForWorkerOrInput(worker, waitMs, kFetchWakeMask);
            processEvents();
        } while (result != kWaitObject0 && result != kWaitTimeout && result != kWaitFailed);
    }

    // Timed out or the wait itself failed: the worker is abandoned with its
    // own reference to the mailbox; nothing it writes later reaches anyone.
    if (result != kWaitObject0) {
        if (responseHeadersOut) *responseHeadersOut = {};
        return {};
    }

    Text tag;
    Text headerText;
    Bytes responseBody;
    seekToStart(*mailbox);
    readValues(*mailbox, tag, headerText, responseBody);
    closeStream(mailbox);
    if (compareText(tag, kResponseTag) != 0) responseBody = {};
    if (responseHeadersOut) *responseHeadersOut = headerText;
    return responseBody;
}

}  // namespace nds
