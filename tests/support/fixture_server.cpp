// nds-fixture-server --dir DIR [--port N] [--delay-ms MS]: scripted result pages
// on 127.0.0.1 for the end-to-end tests. /s?q=NAME&p=P answers with the bytes
// of DIR/NAME.pP.html when that file exists, else DIR/NAME.html, else 404 with
// an empty body. A NAME that begins with "slow" is answered MS milliseconds
// late (default 1000). Port 0 (the default) picks a free port; the address is
// printed first. Stops on SIGTERM or SIGINT.

#include <httplib.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

bool plainName(const std::string& s) {
    if (s.empty()) return false;
    for (char c : s) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '_';
        if (!ok) return false;
    }
    return true;
}

bool readFile(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream all;
    all << in.rdbuf();
    out = all.str();
    return true;
}

[[noreturn]] void usage(const char* why) {
    std::fprintf(stderr,
                 "nds-fixture-server: %s\nusage: nds-fixture-server --dir DIR [--port N] "
                 "[--delay-ms MS]\n",
                 why);
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
    std::string dir;
    int port = 0;
    int delayMs = 1000;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) usage("every option takes a value");
        const std::string value = argv[++i];
        if (arg == "--dir") {
            dir = value;
        } else if (arg == "--port") {
            port = std::atoi(value.c_str());
        } else if (arg == "--delay-ms") {
            delayMs = std::atoi(value.c_str());
        } else {
            usage("unknown option");
        }
    }
    if (dir.empty()) usage("--dir is required");

    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    httplib::Server server;
    // Not httplib's SO_REUSEPORT: a busy port must fail, not be shared.
    server.set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    server.Get("/s", [&](const httplib::Request& req, httplib::Response& res) {
        const std::string name = req.get_param_value("q");
        if (name.rfind("slow", 0) == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        }
        std::string body;
        const bool found =
            plainName(name) &&
            ((req.has_param("p") && plainName(req.get_param_value("p")) &&
              readFile(dir + "/" + name + ".p" + req.get_param_value("p") + ".html", body)) ||
             readFile(dir + "/" + name + ".html", body));
        if (!found) {
            res.status = 404;
            res.set_content("", "text/html");
            return;
        }
        res.set_content(body, "text/html; charset=utf-8");
    });

    const char* host = "127.0.0.1";
    if (port == 0) {
        port = server.bind_to_any_port(host);
        if (port < 0) usage("cannot bind");
    } else if (!server.bind_to_port(host, port)) {
        usage("cannot bind");
    }
    std::printf("nds-fixture-server: http://%s:%d/\n", host, port);
    std::fflush(stdout);

    std::atomic<bool> stopping{false};
    std::thread waiter([&] {
        int sig = 0;
        sigwait(&stopSignals, &sig);
        stopping = true;
        server.stop();
    });
    server.listen_after_bind();
    if (!stopping) std::_Exit(1);
    waiter.join();
    return 0;
}
