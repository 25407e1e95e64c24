// The HTTP layer, shaped like the WinINet calls the exchange makes. On Windows
// each call forwards to WinINet; on Linux the posix layer reproduces WinINet's
// behaviour on top of libcurl. Every text argument may be null, which is how an
// empty text goes out. All calls block; all are safe to call from any thread.
#pragma once

#include <cstdint>

namespace nds {

using NetHandle = void*;

inline constexpr uint32_t kOpenTypeDirect = 1;        // INTERNET_OPEN_TYPE_DIRECT
inline constexpr uint32_t kOpenTypeProxy = 3;         // INTERNET_OPEN_TYPE_PROXY
inline constexpr uint32_t kServiceHttp = 3;           // INTERNET_SERVICE_HTTP
inline constexpr uint32_t kFlagReload = 0x80000000u;  // INTERNET_FLAG_RELOAD
inline constexpr uint32_t kQueryRawHeadersCrlf = 22;  // HTTP_QUERY_RAW_HEADERS_CRLF

NetHandle netOpen(const char* agent, uint32_t accessType, const char* proxy,
                  const char* proxyBypass, uint32_t flags);
NetHandle netConnect(NetHandle root, const char* host, int port, const char* user,
                     const char* password, uint32_t service, uint32_t flags, uintptr_t context);
NetHandle netOpenRequest(NetHandle connection, const char* method, const char* path,
                         const char* version, const char* referrer, const char** acceptTypes,
                         uint32_t flags, uintptr_t context);
bool netSendRequest(NetHandle request, const char* headers, uint32_t headersLength,
                    const void* optional, uint32_t optionalLength);
// Hands out the next bytes of the body, at most toRead; *read is 0 at the end. At the end
// of a body that a broken connection or a time limit cut short, the call fails.
bool netReadFile(NetHandle request, void* buffer, uint32_t toRead, uint32_t* read);
// On success writes the text and a NUL and sets *length to the text's length;
// when text plus NUL do not fit, fails, leaves the buffer untouched and sets
// *length to the size needed (NUL included).
bool netQueryInfo(NetHandle request, uint32_t infoLevel, void* buffer, uint32_t* length,
                  uint32_t* index);
bool netSetCookie(const char* url, const char* name, const char* data);
bool netCloseHandle(NetHandle handle);

}  // namespace nds
