// web: the browser room designer, a static site built by `./dev.sh web`: written into a
// directory (any HTTP server can serve it) or served from this machine's loopback address only.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

#include <fmt/core.h>

#include "tools/horizontal-grid/Commands.h"
#include "tools/horizontal-grid/Conventions.h"
#include "tools/horizontal-grid/SiteRequest.h"

namespace Lumetra::Tools {
namespace {

namespace fs = std::filesystem;

struct WebOptions {
    std::string site;    ///< the built site; empty: the installed one, else the build tree's
    std::string output;  ///< write the site here instead of serving it
    int port = 8080;
};

/// <prefix>/share/lumetra-horizontal-grid/web beside <prefix>/bin, else build/web of the source tree.
fs::path defaultSite() {
    std::error_code error;
    const fs::path executable = fs::read_symlink("/proc/self/exe", error);
    if (!error) {
        const fs::path installed = executable.parent_path().parent_path() / "share" / toolName / "web";
        if (fs::exists(installed / "index.html", error)) return installed;
    }
    return LUMETRA_WEB_SITE_DIR;
}

fs::path siteDirectory(const WebOptions& options) {
    const fs::path site = options.site.empty() ? defaultSite() : fs::path(options.site);
    std::error_code error;
    if (!fs::exists(site / "index.html", error) || !fs::exists(site / "module" / "lumetra.wasm", error))
        throw std::runtime_error(fmt::format("no built site in {}: build it with ./dev.sh web, or name it with --site",
                                             site.string()));
    return site;
}

void sendAll(int socket, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(socket, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return;  // the browser went away
        sent += static_cast<std::size_t>(n);
    }
}

void respond(int socket, int status, std::string_view reason, std::string_view type, const std::string& body, bool head,
             const std::string& tag = {}) {
    sendAll(socket, fmt::format("HTTP/1.1 {} {}\r\nContent-Type: {}\r\nContent-Length: {}\r\nCache-Control: no-cache\r\n"
                                "{}X-Content-Type-Options: nosniff\r\nConnection: close\r\n\r\n",
                                status, reason, type, body.size(), tag.empty() ? "" : "ETag: " + tag + "\r\n"));
    if (!head) sendAll(socket, body);
}

/** A validator of the file's size and time: the browser asks again, and gets "not modified". */
std::string entityTag(const fs::path& file) {
    std::error_code error;
    const auto size = fs::file_size(file, error);
    const auto time = fs::last_write_time(file, error).time_since_epoch().count();
    return fmt::format("\"{:x}-{:x}\"", size, time);
}

/** Whether the request head carries If-None-Match with `tag`. */
bool unchanged(std::string head, const std::string& tag) {
    for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::size_t field = head.find("\r\nif-none-match:");
    return field != std::string::npos && head.find(tag, field) < head.find("\r\n", field + 2);
}

/// Answers one connection: reads the request head (at most 16 KiB), sends the file or an error.
void serveConnection(int socket, const fs::path& site) {
    const timeval timeout{5, 0};
    ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 16384) {
        const ssize_t n = ::recv(socket, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        head.append(buffer, static_cast<std::size_t>(n));
    }
    const auto request = parseRequestLine(std::string_view(head).substr(0, head.find("\r\n")));
    if (!request) return respond(socket, 400, "Bad Request", "text/plain", "bad request\n", false);
    const fs::path file = site / request->file;
    std::error_code error;
    std::ifstream in(file, std::ios::binary);
    if (!fs::is_regular_file(file, error) || !in)
        return respond(socket, 404, "Not Found", "text/plain", "not found\n", request->head);
    const std::string tag = entityTag(file);
    if (unchanged(head, tag)) return respond(socket, 304, "Not Modified", contentType(request->file), {}, true, tag);
    const std::string body((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    respond(socket, 200, "OK", contentType(request->file), body, request->head, tag);
}

int serve(const fs::path& site, int port) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    if (listener < 0) throw std::runtime_error("cannot open a socket");
    const int yes = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);  // this machine only
    if (::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || ::listen(listener, 16) != 0) {
        ::close(listener);
        throw std::runtime_error(fmt::format("cannot listen on 127.0.0.1:{}: is the port in use? Try --port", port));
    }
    socklen_t length = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    fmt::print("serving {} at http://127.0.0.1:{}/ (this machine only; Ctrl-C stops)\n", site.string(), ntohs(address.sin_port));
    std::fflush(stdout);
    for (;;) {
        const int connection = ::accept(listener, nullptr, nullptr);
        if (connection < 0) continue;
        serveConnection(connection, site);
        ::close(connection);
    }
}

int runWeb(const WebOptions& options) {
    const fs::path site = siteDirectory(options);
    if (options.output.empty()) return serve(site, options.port);
    fs::create_directories(options.output);
    fs::copy(site, options.output, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    fmt::print("wrote the room designer to {}: serve it with any HTTP server (for example `python3 -m http.server` "
               "there) and open index.html through it\n", options.output);
    return 0;
}

}  // namespace

void addWebCommand(CLI::App& tool, CommandRunner& selected) {
    auto options = std::make_shared<WebOptions>();
    CLI::App* command = tool.add_subcommand("web", "Serve the browser room designer on this machine, or write its files");
    command->footer("The designer runs the library in the browser (WebAssembly): nothing leaves the machine. The site "
                    "is static: any HTTP server can serve the directory -o writes. Pages opened as file:// cannot start "
                    "the worker, so serve them.");
    command->add_option("--site", options->site, "The built site (default: the installed one, else build/web)");
    command->add_option("-o,--output", options->output, "Write the site into this directory instead of serving it");
    command->add_option("--port", options->port, "Port on 127.0.0.1 to serve at (0: any free one)")
        ->check(CLI::Range(0, 65535))
        ->capture_default_str();
    selectOnParse(*command, selected, options, runWeb);
}

}  // namespace Lumetra::Tools
