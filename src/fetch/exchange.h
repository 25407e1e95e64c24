// runRequest: the worker's side of a fetch, one HTTP/1.1 exchange through the
// HTTP layer with the built-in default headers; and the URL parts it uses.
#pragma once

#include "text/memory_stream.h"
#include "text/text.h"

namespace nds {

// Built-in texts are plain arrays, not Text objects: a worker abandoned after a
// timeout may still be using them while the process ends.

// The tags that open the request and the response record of a mailbox.
inline constexpr char kRequestTag[] = "Vexmoor";
inline constexpr char kResponseTag[] = "Vexmoor_OK";

inline constexpr char kUserAgent[] = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";
inline constexpr char kDefaultAcceptLine[] =
    "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, "
    "application/x-shockwave-flash, application/vnd.ms-excel, "
    "application/vnd.ms-powerpoint, application/msword, */*\r\n";
inline constexpr char kDefaultLanguageLine[] = "Accept-Language: zh-cn\r\n";
inline constexpr char kDefaultContentTypeLine[] =
    "Content-Type: application/x-www-form-urlencoded\r\n";
inline constexpr int kReadSize = 512;
inline constexpr int kHeaderBufferSize = 1024;

// Reads the request record, empties the mailbox, runs the exchange and writes
// the response record; true when the exchange ran to its end.
bool runRequest(MemoryStream* mailbox);

Text urlHost(const Text& url, bool keepPort = false);
Text urlPath(const Text& url);
int urlPort(const Text& url);

}  // namespace nds
