// netdisk-fetch: one or more fetches through the program's own stack (fetchUrl,
// the exchange, the HTTP layer), in one process and in order, on the headless
// runtime. Bodies go to standard output byte for byte, one after another.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "fetch/fetch.h"
#include "platform/headless/headless_backend.h"
#include "shell/runtime.h"

namespace {

struct Options {
    std::string method, proxy, user, password, headers, body, headersOut;
    int32_t timeoutSeconds = 0;
    std::vector<std::string> urls;
};

Options options;

[[noreturn]] void usage(const std::string& why) {
    std::fprintf(stderr,
                 "netdisk-fetch: %s\nusage: netdisk-fetch [-X METHOD] [-H LINE]... [-d BODY] "
                 "[--proxy P] [--user U] [--password W] [--timeout SECONDS] "
                 "[--headers-out FILE] URL [URL...]\n",
                 why.c_str());
    std::exit(2);
}

bool parseSeconds(const char* s, int32_t& out) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(s, &end, 10);
    if (!*s || *end || errno || v < 0 || v > 2147483) return false;
    out = static_cast<int32_t>(v);
    return true;
}

void parse(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) usage("option " + arg + " needs a value");
            return argv[++i];
        };
        if (arg == "-X")
            options.method = value();
        else if (arg == "-H")
            options.headers += std::string(value()) + "\r\n";
        else if (arg == "-d")
            options.body = value();
        else if (arg == "--proxy")
            options.proxy = value();
        else if (arg == "--user")
            options.user = value();
        else if (arg == "--password")
            options.password = value();
        else if (arg == "--headers-out")
            options.headersOut = value();
        else if (arg == "--timeout") {
            if (!parseSeconds(value(), options.timeoutSeconds))
                usage("--timeout takes a whole number of seconds");
        } else if (arg.size() > 1 && arg[0] == '-')
            usage("unknown option " + arg);
        else
            options.urls.push_back(arg);
    }
    if (options.urls.empty()) usage("no URL given");
}

int fetchAll() {
    using nds::Text;
    Text headerText;
    for (const std::string& url : options.urls) {
        const nds::Bytes body =
            nds::fetchUrl(Text(url), Text(options.method), Text(options.proxy), Text(options.user),
                          Text(options.password), Text(options.headers), Text(options.body),
                          options.timeoutSeconds, &headerText);
        std::fwrite(body.data(), 1, body.size(), stdout);
        std::fflush(stdout);
    }
    if (!options.headersOut.empty()) {
        std::ofstream out(options.headersOut, std::ios::binary | std::ios::trunc);
        out << headerText.str();
        if (!out) {
            std::fprintf(stderr, "netdisk-fetch: cannot write %s\n", options.headersOut.c_str());
            return 1;
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    parse(argc, argv);
    nds::HeadlessBackend backend;
    return nds::runProgram(backend, fetchAll);
}
