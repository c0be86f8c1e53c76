// web: writes a built site elsewhere, and serves it on the loopback address without letting a
// request reach a file outside it.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <regex>

#include "tests/tools/ToolRunner.h"

extern char** environ;

namespace Lumetra::Testing {
namespace {

/// A site with what `web` looks for, and a secret beside it.
std::string fakeSite(const ScratchDirectory& scratch) {
    std::filesystem::create_directories(scratch.file("site/module"));
    scratch.write("site/index.html", "<!doctype html><title>designer</title>");
    scratch.write("site/module/lumetra.wasm", std::string("\0asm", 4));
    scratch.write("secret", "not for the browser");
    return scratch.file("site");
}

/// One request to 127.0.0.1:port; the whole response.
std::string fetch(int port, const std::string& request) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string response;
    if (::connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        ::send(s, request.data(), request.size(), 0);
        char buffer[4096];
        for (ssize_t n; (n = ::recv(s, buffer, sizeof buffer, 0)) > 0;) response.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(s);
    return response;
}

TEST(WebCommand, WritesTheSiteAndRefusesAMissingOne) {
    const ScratchDirectory scratch;
    const std::string site = fakeSite(scratch);
    const ToolResult written = runTool({"web", "--site", site, "-o", scratch.file("copy")});
    EXPECT_EQ(written.status, 0) << written.err;
    EXPECT_EQ(readFile(scratch.file("copy/index.html")), readFile(site + "/index.html"));
    EXPECT_TRUE(std::filesystem::exists(scratch.file("copy/module/lumetra.wasm")));

    const ToolResult missing = runTool({"web", "--site", scratch.file("nothing")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("no built site in"), std::string::npos) << missing.err;
}

TEST(WebCommand, ServesTheSiteAndNothingBeyondIt) {
    const ScratchDirectory scratch;
    const std::string site = fakeSite(scratch);
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<std::string> arguments{LUMETRA_TOOL_PATH, "web", "--site", site, "--port", "0"};
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t server = 0;
    ASSERT_EQ(posix_spawn(&server, LUMETRA_TOOL_PATH, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    std::string line;
    char c;
    while (line.find('\n') == std::string::npos && ::read(out[0], &c, 1) == 1) line += c;
    std::smatch port;
    ASSERT_TRUE(std::regex_search(line, port, std::regex(R"(http://127\.0\.0\.1:(\d+)/)"))) << line;
    const int number = std::stoi(port[1]);

    const std::string index = fetch(number, "GET / HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(index.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << index;
    EXPECT_NE(index.find("Content-Type: text/html"), std::string::npos);
    EXPECT_NE(index.find("<title>designer</title>"), std::string::npos);
    const std::string wasm = fetch(number, "GET /module/lumetra.wasm?v=2 HTTP/1.1\r\n\r\n");
    EXPECT_NE(wasm.find("Content-Type: application/wasm"), std::string::npos) << wasm;
    for (const char* escape : {"GET /../secret HTTP/1.1", "GET /%2e%2e/secret HTTP/1.1", "GET /module/..%2F..%2Fsecret HTTP/1.1",
                               "POST / HTTP/1.1", "GET secret HTTP/1.1", "nonsense"}) {
        const std::string refused = fetch(number, std::string(escape) + "\r\n\r\n");
        EXPECT_EQ(refused.rfind("HTTP/1.1 400 Bad Request", 0), 0u) << escape << ": " << refused;
        EXPECT_EQ(refused.find("not for the browser"), std::string::npos) << escape;
    }
    EXPECT_EQ(fetch(number, "GET /missing.js HTTP/1.1\r\n\r\n").rfind("HTTP/1.1 404", 0), 0u);

    ::kill(server, SIGTERM);
    ::waitpid(server, nullptr, 0);
    ::close(out[0]);
}

}  // namespace
}  // namespace Lumetra::Testing
