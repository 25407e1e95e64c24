// runRequest: the worker thread's side of a fetch. One exchange through the
// HTTP layer: take the request record out of the mailbox, send it with the
// built-in default headers, read the body in 512-byte chunks, write the
// response record back, then record the response's cookies.

#include "fetch/exchange.h"

#include <algorithm>
#include <string>

#include "platform/http.h"

namespace nds {

namespace {

constexpr char kHttpVersion[] = "HTTP/1.1";
constexpr char kProxyPrefix[] = "http=";
constexpr char kScheme[] = "http://";
constexpr char kSetCookie[] = "Set-Cookie: ";
constexpr int kSetCookieLength = 12;
constexpr int kDefaultPort = 80;

// The three handles of one exchange, closed in reverse order of opening.
void closeHandles(NetHandle request, NetHandle connection, NetHandle root) {
    if (request) netCloseHandle(request);
    if (connection) netCloseHandle(connection);
    if (root) netCloseHandle(root);
}

bool lacksHeader(const Text& headerText, const Text& name) {
    return findText(headerText, name, 1, true) == -1;
}

// Empty or only spaces means "none": a null pointer for the HTTP layer.
const char* unlessBlank(const Text& t) { return removeAllSpaces(t).empty() ? nullptr : t.c_str(); }

// The URL as the default Referer line carries it. The keyword reaches the URL
// unescaped, so a line break typed or pasted into it must not end the line
// and start a header of its own: control bytes go out percent-encoded.
Text refererValue(const Text& url) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char ch : url.view()) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += ch;
        }
    }
    return Text(std::move(out));
}

Text withDefaultHeaders(const Text& headers, const Text& url) {
    Text headerText = headers;
    if (lacksHeader(headerText, "Accept: "))
        headerText = concatText(headerText, kDefaultAcceptLine);
    if (lacksHeader(headerText, "Referer: "))
        headerText = concatText(headerText, "Referer: ", refererValue(url), "\r\n");
    if (lacksHeader(headerText, "Accept-Language: "))
        headerText = concatText(headerText, kDefaultLanguageLine);
    return headerText;
}

Bytes readBody(NetHandle request) {
    auto chunks = openMemoryStream();
    for (;;) {
        Bytes buffer = blankBytes(kReadSize);
        uint32_t read = 0;
        netReadFile(request, buffer.data(), kReadSize, &read);
        if (read == 0) break;
        writeBytes(*chunks,
                   bytesLeft(buffer, static_cast<int>(std::min<uint32_t>(read, kReadSize))));
    }
    seekToStart(*chunks);
    Bytes body = readBytes(*chunks, streamLength(*chunks));
    closeStream(chunks);
    return body;
}

// The raw headers as the layer wrote them, or the 1024 spaces the buffer was
// prepared with when they did not fit or the query failed.
Text readHeaderText(NetHandle request) {
    std::string buffer = blankText(kHeaderBufferSize).str();
    uint32_t length = kHeaderBufferSize;
    netQueryInfo(request, kQueryRawHeadersCrlf, buffer.data(), &length, nullptr);
    return Text(std::string_view(buffer.c_str()));
}

void recordCookies(const Text& headerText, const Text& host) {
    const Text cookieUrl = concatText(kScheme, host);
    auto lines = openMemoryStream();
    writeText(*lines, headerText);
    seekToStart(*lines);
    while (!atEnd(*lines)) {
        const Text line = readLine(*lines);
        if (findText(line, kSetCookie, 1, true) == -1) continue;
        const Text rest = replaceText(line, 1, kSetCookieLength);
        const int equals = findText(rest, "=");
        const Text name = textLeft(rest, equals - 1);
        const Text data = textRight(rest, textLength(rest) - equals);
        netSetCookie(cookieUrl.c_str(), name.cOrNull(), data.cOrNull());
    }
    closeStream(lines);
}

}  // namespace

bool runRequest(MemoryStream* mailbox) {
    if (!mailbox) return false;
    seekToStart(*mailbox);
    Text tag;
    readValues(*mailbox, tag);
    if (compareText(tag, kRequestTag) != 0) return false;

    Text url, method, proxy, user, password, headers, body;
    readValues(*mailbox, url, method, proxy, user, password, headers, body);
    seekToStart(*mailbox);
    deleteBytes(*mailbox, streamLength(*mailbox));

    const Text host = urlHost(url, false);
    const Text path = urlPath(url);

    NetHandle root = removeAllSpaces(proxy).empty()
                         ? netOpen(kUserAgent, kOpenTypeDirect, nullptr, nullptr, 0)
                         : netOpen(kUserAgent, kOpenTypeProxy,
                                   concatText(kProxyPrefix, proxy).c_str(), nullptr, 0);
    if (!root) return false;

    NetHandle connection = netConnect(root, host.cOrNull(), urlPort(url), unlessBlank(user),
                                      unlessBlank(password), kServiceHttp, 0, 0);
    if (!connection) {
        closeHandles(nullptr, nullptr, root);
        return false;
    }

    NetHandle request = netOpenRequest(connection, method.cOrNull(), path.cOrNull(), kHttpVersion,
                                       nullptr, nullptr, kFlagReload, 0);
    if (!request) {
        closeHandles(nullptr, connection, root);
        return false;
    }

    Text headerText = withDefaultHeaders(headers, url);
    const Text verb = toUpper(method);
    if (method.empty() || compareText(verb, "GET") == 0) {
        netSendRequest(request, headerText.cOrNull(), textLength(headerText), nullptr, 0);
    } else if (compareText(verb, "POST") == 0) {
        if (!body.empty()) {
            if (lacksHeader(headerText, "Content-Type: "))
                headerText = concatText(headerText, kDefaultContentTypeLine);
            headerText =
                concatText(headerText, "Content-Length: ", toText(textLength(body)), "\r\n");
        }
        netSendRequest(request, headerText.cOrNull(), textLength(headerText), body.cOrNull(),
                       textLength(body));
    } else {
        closeHandles(request, connection, root);
        return false;
    }

    const Bytes responseBody = readBody(request);
    const Text responseHeaders = readHeaderText(request);
    seekToStart(*mailbox);
    writeValues(*mailbox, kResponseTag, responseHeaders, responseBody);
    closeHandles(request, connection, root);

    if (findText(responseHeaders, kSetCookie, 1, true) != -1) recordCookies(responseHeaders, host);
    return true;
}

Text urlHost(const Text& url, bool keepPort) {
    const int scheme = findText(url, kScheme);
    const int start = scheme == -1 ? 1 : scheme + textLength(kScheme);
    const int slash = findText(url, "/", start);
    Text part =
        slash == -1 ? textMid(url, start, textLength(url)) : textMid(url, start, slash - start);
    if (!keepPort) {
        const int colon = findText(part, ":");
        if (colon != -1) part = textLeft(part, colon - 1);
    }
    return toLower(part);
}

Text urlPath(const Text& url) {
    const Text host = urlHost(url, false);
    // The host is looked for from where it starts, after the scheme: from
    // position 1, a host such as "p" or "tp" would be found inside "http://"
    // and the path would begin at the scheme's slashes.
    const int scheme = findText(url, kScheme);
    const int from = scheme == -1 ? 1 : scheme + textLength(kScheme);
    const int at = host.empty() ? from : findText(url, host, from, true);
    const int slash = findText(url, "/", at == -1 ? from : at);
    if (slash == -1) return "/";
    return textRight(url, textLength(url) - slash + 1);
}

int urlPort(const Text& url) {
    const Text hostAndPort = urlHost(url, true);
    const int colon = findText(hostAndPort, ":");
    if (colon == -1) return kDefaultPort;
    return truncateToInteger(toNumber(textRight(hostAndPort, textLength(hostAndPort) - colon)));
}

}  // namespace nds
