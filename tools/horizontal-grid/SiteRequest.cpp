#include "tools/horizontal-grid/SiteRequest.h"

#include <array>
#include <utility>

namespace Lumetra::Tools {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

/// Percent-decoded path, or nothing for a bad escape or a control byte.
std::optional<std::string> decodePath(std::string_view path) {
    std::string decoded;
    for (std::size_t i = 0; i < path.size(); ++i) {
        char c = path[i];
        if (c == '%') {
            if (i + 2 >= path.size()) return std::nullopt;
            const int high = hexValue(path[i + 1]), low = hexValue(path[i + 2]);
            if (high < 0 || low < 0) return std::nullopt;
            c = static_cast<char>(high * 16 + low);
            i += 2;
        }
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f || c == '\\') return std::nullopt;
        decoded += c;
    }
    return decoded;
}

}  // namespace

std::optional<SiteRequest> parseRequestLine(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::size_t first = line.find(' ');
    if (first == std::string_view::npos) return std::nullopt;
    const std::size_t second = line.find(' ', first + 1);
    if (second == std::string_view::npos || line.substr(second + 1).rfind("HTTP/", 0) != 0) return std::nullopt;
    const std::string_view method = line.substr(0, first);
    SiteRequest request;
    if (method == "HEAD") request.head = true;
    else if (method != "GET") return std::nullopt;

    std::string_view target = line.substr(first + 1, second - first - 1);
    if (target.empty() || target.front() != '/') return std::nullopt;
    target = target.substr(0, target.find_first_of("?#"));
    const auto path = decodePath(target);
    if (!path) return std::nullopt;

    // Segment by segment: nothing that climbs out, nothing hidden, no empty names.
    std::string_view rest = *path;
    rest.remove_prefix(1);
    while (!rest.empty()) {
        const std::size_t slash = rest.find('/');
        const std::string_view segment = rest.substr(0, slash);
        if (segment.empty() || segment.front() == '.') return std::nullopt;
        request.file += segment;
        if (slash == std::string_view::npos) break;
        request.file += '/';
        rest.remove_prefix(slash + 1);
    }
    if (request.file.empty() || request.file.back() == '/') request.file += "index.html";
    return request;
}

std::string_view contentType(std::string_view file) {
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 9> types{{
        {".html", "text/html; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".mjs", "text/javascript; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".wasm", "application/wasm"},
        {".json", "application/json"},
        {".svg", "image/svg+xml"},
        {".png", "image/png"},
        {".webmanifest", "application/manifest+json"},
    }};
    for (const auto& [extension, type] : types)
        if (file.size() >= extension.size() && file.substr(file.size() - extension.size()) == extension) return type;
    return "application/octet-stream";
}

}  // namespace Lumetra::Tools
