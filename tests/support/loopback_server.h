// A scripted HTTP server on 127.0.0.1 for tests that need a server to answer in a
// particular way, hostile answers included. It listens on an ephemeral port; on each
// connection it reads one request at a time (head plus a Content-Length body), records
// its bytes exactly and hands it to the test's script, which answers with raw bytes,
// sleeps, closes, or holds the connection without a word. When the script returns
// without closing, the next request on the same connection goes to the script too.
//
//   nds::test::LoopbackServer server([](auto& connection, const auto& request) {
//       connection.write(nds::test::httpResponse(200, "hello"));
//   });
//   ... fetch server.url("/path") ...
//   server.requests()[0].raw   // "GET /path HTTP/1.1\r\nHost: ...\r\n\r\n"
//
// The destructor stops everything at once, even a script sleeping or a client that
// never reads: sleeps return early, writes fail, held connections are dropped.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace nds::test {

class LoopbackServer {
public:
    struct Request {
        std::string raw;          // every byte received for this request, body included
        std::string requestLine;  // the first line, without its line end
        std::string body;
        int connection = 0;  // 0 for the first connection accepted, 1 for the next...
    };

    // What a script can do with its connection.
    class Connection {
    public:
        // False when the client has gone or the server is stopping.
        bool write(std::string_view bytes);
        // Sleeps, or returns early when the server is stopping.
        void sleep(std::chrono::milliseconds duration);
        // Sends the end of the stream (what ends a body without a length) and closes.
        void close();
        // Says nothing: keeps the connection open until the client closes it or the
        // server is stopping; then closes it.
        void holdOpen();
        int index() const { return index_; }

    private:
        friend class LoopbackServer;
        Connection(LoopbackServer& server, int fd, int index)
            : server_(server), fd_(fd), index_(index) {}
        LoopbackServer& server_;
        int fd_;
        int index_;
        bool closed_ = false;
        std::string pending_;  // bytes received beyond the current request
    };

    using Script = std::function<void(Connection& connection, const Request& request)>;

    explicit LoopbackServer(Script script);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int port() const { return port_; }
    // "http://127.0.0.1:PORT" followed by path.
    std::string url(std::string_view path = "/") const;
    // "127.0.0.1:PORT", for proxy lists and Host lines.
    std::string address() const;
    // Every request received so far, in arrival order.
    std::vector<Request> requests() const;
    int connectionCount() const;

    // A port on 127.0.0.1 where nothing listens, so that connecting is refused; it
    // stays so for the rest of the process.
    static int refusedPort();

private:
    void acceptLoop();
    void serve(int fd, int index);
    bool readRequest(Connection& connection, Request& request);
    bool waitReadable(int fd);  // false when the server is stopping

    Script script_;
    int listenFd_ = -1;
    int wakePipe_[2] = {-1, -1};
    int port_ = 0;
    mutable std::mutex mutex_;
    std::condition_variable stopSignal_;
    bool stopping_ = false;
    std::vector<Request> requests_;
    std::vector<int> openFds_;
    std::vector<std::thread> threads_;
    int connections_ = 0;
    std::thread acceptThread_;
};

// "HTTP/1.1 <status> <reason>\r\nContent-Length: <n>\r\n<extraHeaders>\r\n<body>";
// extraHeaders are complete lines, each ended by CR LF.
std::string httpResponse(int status, std::string_view body, std::string_view extraHeaders = {});

}  // namespace nds::test
