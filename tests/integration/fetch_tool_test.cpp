// netdisk-fetch, the command-line face of the fetch stack, run as a process.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "support/loopback_server.h"

namespace {

using nds::test::httpResponse;
using nds::test::LoopbackServer;

struct ToolRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

ToolRun runTool(const std::string& arguments) {
    const std::string errFile = testing::TempDir() + "netdisk-fetch.err";
    const std::string command = std::string(NETDISK_FETCH) + " " + arguments + " 2>" + errFile;
    ToolRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    char buffer[4096];
    std::size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
    const int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream err(errFile);
    std::stringstream text;
    text << err.rdbuf();
    run.err = text.str();
    return run;
}

TEST(FetchTool, FetchesEveryUrlInOrderInOneProcess) {
    LoopbackServer server([](LoopbackServer::Connection& c, const LoopbackServer::Request& r) {
        if (r.requestLine.starts_with("GET /one"))
            c.write(httpResponse(200, std::string("first\0", 6), "Set-Cookie: tool=yes\r\n"));
        else
            c.write(httpResponse(200, "second", "X-Last: 1\r\n"));
        c.close();
    });
    const std::string headersFile = testing::TempDir() + "netdisk-fetch.headers";
    const ToolRun run = runTool("--headers-out " + headersFile + " " + server.url("/one") + " " +
                                server.url("/two"));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, std::string("first\0second", 12));
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_NE(server.requests()[1].raw.find("tool=yes"), std::string::npos)
        << "the cookie of the first response goes with the second request";

    std::ifstream in(headersFile, std::ios::binary);
    std::stringstream headers;
    headers << in.rdbuf();
    EXPECT_TRUE(headers.str().starts_with("HTTP/1.1 200")) << headers.str();
    EXPECT_NE(headers.str().find("X-Last: 1\r\n"), std::string::npos) << "the last fetch's";
}

TEST(FetchTool, OptionsBecomeTheArgumentsOfTheFetch) {
    LoopbackServer server([](LoopbackServer::Connection& c, const LoopbackServer::Request&) {
        c.write(httpResponse(200, "posted"));
        c.close();
    });
    const ToolRun run = runTool("-X POST -H 'X-One: 1' -H 'X-Two: 2' -d 'a=b' " + server.url("/p"));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "posted");
    ASSERT_EQ(server.requests().size(), 1u);
    const auto request = server.requests()[0];
    EXPECT_EQ(request.requestLine, "POST /p HTTP/1.1");
    EXPECT_NE(request.raw.find("\r\nX-One: 1\r\nX-Two: 2\r\n"), std::string::npos) << request.raw;
    EXPECT_EQ(request.body, "a=b");
}

TEST(FetchTool, AFailedFetchIsAnEmptyBodyNotAnError) {
    const ToolRun run =
        runTool("http://127.0.0.1:" + std::to_string(LoopbackServer::refusedPort()) + "/");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "");
}

TEST(FetchTool, UsageErrorsExitWithTwo) {
    for (const char* arguments : {"", "--bogus http://x/", "-H", "--timeout soon http://x/"}) {
        const ToolRun run = runTool(arguments);
        EXPECT_EQ(run.exitCode, 2) << arguments;
        EXPECT_TRUE(run.err.starts_with("netdisk-fetch: ")) << arguments << ": " << run.err;
        EXPECT_EQ(run.out, "") << arguments;
    }
}

}  // namespace
