#pragma once
// The one part of `web --serve` that reads what a browser sends: the request line of an HTTP
// request turned into a file of the site, or refused. No path leaves the site's directory.

#include <optional>
#include <string>
#include <string_view>

namespace Lumetra::Tools {

struct SiteRequest {
    bool head = false;  ///< HEAD: the headers only
    std::string file;   ///< relative to the site, never empty, without "..", "." or empty segments
};

/// "GET /app/main.js?x HTTP/1.1" → {false, "app/main.js"}; "/" and paths ending in "/" name their
/// index.html. Nothing for another method, a malformed line or a path that could leave the site.
std::optional<SiteRequest> parseRequestLine(std::string_view line);

/// The media type of a file by its extension (application/octet-stream when unknown).
std::string_view contentType(std::string_view file);

}  // namespace Lumetra::Tools
