// netdisk-demo-service [--port N] [--corpus FILE] [--log FILE]: the demo search
// service on 127.0.0.1 (default port 8765; port 0 picks a free one). Prints its
// address first, then serves until SIGTERM or SIGINT.

#include <httplib.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "demo_service.h"

namespace {

[[noreturn]] void usage(const std::string& why) {
    std::fprintf(stderr,
                 "netdisk-demo-service: %s\n"
                 "usage: netdisk-demo-service [--port N] [--corpus FILE] [--log FILE]\n",
                 why.c_str());
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
    int port = 8765;
    std::string corpusPath = nds::demo::defaultCorpusPath();
    std::string logPath;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) usage("option " + arg + " needs a value");
            return argv[++i];
        };
        if (arg == "--port") {
            const std::string v = value();
            char* end = nullptr;
            errno = 0;
            const long p = std::strtol(v.c_str(), &end, 10);
            if (v.empty() || *end || errno || p < 0 || p > 65535) usage("bad port " + v);
            port = static_cast<int>(p);
        } else if (arg == "--corpus") {
            corpusPath = value();
        } else if (arg == "--log") {
            logPath = value();
        } else if (arg == "-h" || arg == "--help") {
            usage("a local search service with made-up share links");
        } else {
            usage("unknown argument " + arg);
        }
    }

    std::vector<nds::demo::Entry> corpus;
    std::string error;
    if (corpusPath.empty() || !nds::demo::loadCorpus(corpusPath, corpus, error)) {
        std::fprintf(stderr, "netdisk-demo-service: %s\n",
                     corpusPath.empty() ? "no corpus found" : error.c_str());
        return 1;
    }
    std::FILE* logFile = nullptr;
    if (!logPath.empty()) {
        logFile = std::fopen(logPath.c_str(), "ab");
        if (!logFile) {
            std::fprintf(stderr, "netdisk-demo-service: cannot open %s: %s\n", logPath.c_str(),
                         std::strerror(errno));
            return 1;
        }
    }
    nds::demo::RequestLog log(logFile);

    // The signals go to one thread that waits for them; every other thread,
    // the server's pool included, has them blocked.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    httplib::Server server;
    nds::demo::installRoutes(server, corpus, log);
    const char* host = "127.0.0.1";
    if (port == 0) {
        port = server.bind_to_any_port(host);
        if (port < 0) {
            std::fprintf(stderr, "netdisk-demo-service: cannot bind %s\n", host);
            return 1;
        }
    } else if (!server.bind_to_port(host, port)) {
        std::fprintf(stderr, "netdisk-demo-service: cannot bind %s:%d\n", host, port);
        return 1;
    }
    std::printf("netdisk-demo-service: http://%s:%d/ (%zu entries)\n", host, port, corpus.size());
    std::fflush(stdout);

    std::atomic<bool> stopping{false};
    std::thread waiter([&] {
        int sig = 0;
        sigwait(&stopSignals, &sig);
        stopping = true;
        server.stop();
    });
    server.listen_after_bind();
    if (!stopping) {
        // The listener ended on its own; the waiter would wait forever.
        std::fprintf(stderr, "netdisk-demo-service: the server failed\n");
        std::_Exit(1);
    }
    waiter.join();
    if (logFile) std::fclose(logFile);
    return 0;
}
