#include "support/loopback_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>

namespace nds::test {

namespace {

constexpr size_t kMaxRequestBytes = size_t{64} << 20;

sockaddr_in loopbackAddress(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

int boundPort(int fd) {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) return 0;
    return ntohs(address.sin_port);
}

// The Content-Length of a request head, 0 when it has none.
size_t contentLength(std::string_view head) {
    size_t pos = 0;
    while ((pos = head.find("\r\n", pos)) != std::string_view::npos) {
        pos += 2;
        std::string_view line = head.substr(pos, head.find("\r\n", pos) - pos);
        constexpr std::string_view kName = "content-length:";
        if (line.size() < kName.size()) continue;
        bool same = std::equal(kName.begin(), kName.end(), line.begin(), [](char a, char b) {
            return a == std::tolower(static_cast<unsigned char>(b));
        });
        if (same) return std::strtoull(std::string(line.substr(kName.size())).c_str(), nullptr, 10);
    }
    return 0;
}

const char* reasonPhrase(int status) {
    switch (status) {
        case 100:
            return "Continue";
        case 200:
            return "OK";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 303:
            return "See Other";
        case 307:
            return "Temporary Redirect";
        case 308:
            return "Permanent Redirect";
        case 401:
            return "Unauthorized";
        case 404:
            return "Not Found";
        case 500:
            return "Internal Server Error";
        default:
            return "Status";
    }
}

}  // namespace

std::string httpResponse(int status, std::string_view body, std::string_view extraHeaders) {
    std::string out = "HTTP/1.1 " + std::to_string(status) + " " + reasonPhrase(status) + "\r\n";
    out += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    out += extraHeaders;
    out += "\r\n";
    out += body;
    return out;
}

LoopbackServer::LoopbackServer(Script script) : script_(std::move(script)) {
    if (pipe2(wakePipe_, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopbackAddress(0);
    if (listenFd_ < 0 ||
        bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listenFd_, 64) != 0) {
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port_ = boundPort(listenFd_);
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

LoopbackServer::~LoopbackServer() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        // Unblocks sends to a client that does not read and reads from a silent one.
        for (int fd : openFds_) shutdown(fd, SHUT_RDWR);
    }
    stopSignal_.notify_all();
    char wake = 1;
    (void)!write(wakePipe_[1], &wake, 1);
    acceptThread_.join();
    for (std::thread& t : threads_) t.join();
    close(listenFd_);
    close(wakePipe_[0]);
    close(wakePipe_[1]);
}

std::string LoopbackServer::url(std::string_view path) const {
    return "http://" + address() + std::string(path);
}

std::string LoopbackServer::address() const { return "127.0.0.1:" + std::to_string(port_); }

std::vector<LoopbackServer::Request> LoopbackServer::requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

int LoopbackServer::connectionCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return connections_;
}

int LoopbackServer::refusedPort() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopbackAddress(0);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error("cannot bind on 127.0.0.1");
    // Kept bound, never listening, until the process ends: connections to it are
    // refused, and no other socket (of this or a parallel test process) can take the
    // port over in the meantime.
    return boundPort(fd);
}

bool LoopbackServer::waitReadable(int fd) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
    while (true) {
        int n = poll(fds, 2, -1);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || (fds[1].revents & POLLIN)) return false;
        if (fds[0].revents) return true;
    }
}

void LoopbackServer::acceptLoop() {
    while (waitReadable(listenFd_)) {
        int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) {
            close(fd);
            break;
        }
        openFds_.push_back(fd);
        int index = connections_++;
        threads_.emplace_back([this, fd, index] { serve(fd, index); });
    }
}

bool LoopbackServer::readRequest(Connection& connection, Request& request) {
    std::string& buffer = connection.pending_;
    size_t headEnd;
    size_t total = 0;
    while (true) {
        headEnd = buffer.find("\r\n\r\n");
        if (headEnd != std::string::npos) {
            total = headEnd + 4 + contentLength(std::string_view(buffer).substr(0, headEnd + 2));
            if (buffer.size() >= total) break;
        }
        if (buffer.size() > kMaxRequestBytes || !waitReadable(connection.fd_)) return false;
        char chunk[16384];
        ssize_t n = recv(connection.fd_, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        buffer.append(chunk, static_cast<size_t>(n));
    }
    request.raw = buffer.substr(0, total);
    request.requestLine = buffer.substr(0, buffer.find("\r\n"));
    request.body = buffer.substr(headEnd + 4, total - headEnd - 4);
    request.connection = connection.index_;
    buffer.erase(0, total);
    return true;
}

void LoopbackServer::serve(int fd, int index) {
    Connection connection(*this, fd, index);
    Request request;
    while (!connection.closed_ && readRequest(connection, request)) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(request);
        }
        script_(connection, request);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    openFds_.erase(std::remove(openFds_.begin(), openFds_.end(), fd), openFds_.end());
    close(fd);
}

bool LoopbackServer::Connection::write(std::string_view bytes) {
    while (!bytes.empty()) {
        {
            std::lock_guard<std::mutex> lock(server_.mutex_);
            if (server_.stopping_ || closed_) return false;
        }
        ssize_t n = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

void LoopbackServer::Connection::sleep(std::chrono::milliseconds duration) {
    std::unique_lock<std::mutex> lock(server_.mutex_);
    server_.stopSignal_.wait_for(lock, duration, [this] { return server_.stopping_; });
}

void LoopbackServer::Connection::close() {
    if (closed_) return;
    closed_ = true;
    shutdown(fd_, SHUT_WR);
    // Let the client read to the end before the socket goes: closing with unread input
    // would reset the connection and could cost the client the last bytes.
    pollfd fds[2] = {{fd_, POLLIN, 0}, {server_.wakePipe_[0], POLLIN, 0}};
    char chunk[4096];
    while (poll(fds, 2, 2000) > 0 && !(fds[1].revents & POLLIN)) {
        if (recv(fd_, chunk, sizeof chunk, 0) <= 0) break;
    }
}

void LoopbackServer::Connection::holdOpen() {
    char chunk[4096];
    while (server_.waitReadable(fd_)) {
        ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
    }
    closed_ = true;
}

}  // namespace nds::test
