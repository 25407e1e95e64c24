// fetchUrl: one HTTP exchange on a worker thread while the calling
// user-interface thread keeps dispatching events. Every failure, and a
// timeout, comes back as the empty body.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "text/memory_stream.h"
#include "text/text.h"

namespace nds {

// The record that carries one request to the worker and the response back.
// Shared by the call and its worker, so a worker abandoned after a timeout
// writes only into a mailbox nobody reads any more.
using FetchMailbox = std::shared_ptr<MemoryStream>;

inline constexpr int32_t kDefaultWaitSeconds = 90;

// Every argument but url is optional: an empty text is an absent one, a
// timeout of 0 (or below) means 90 seconds a wait, a null responseHeadersOut
// is not written.
Bytes fetchUrl(const Text& url, const Text& method = {}, const Text& proxy = {},
               const Text& user = {}, const Text& password = {}, const Text& headers = {},
               const Text& body = {}, int32_t timeoutSeconds = 0,
               Text* responseHeadersOut = nullptr);

// Told the URL of every fetchUrl call before it starts; for tools and tests
// that show what the program fetches.
void setFetchObserver(std::function<void(const Text& url)> observer);

}  // namespace nds
