// Request lines as a browser (or anyone on this machine) might send them to `web`: whatever the
// bytes, a path the server accepts stays inside the site's directory.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/FuzzCheck.h"
#include "tools/horizontal-grid/SiteRequest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const auto request = Lumetra::Tools::parseRequestLine(line);
    if (!request) return 0;
    const std::string& file = request->file;
    LUMETRA_FUZZ_CHECK(!file.empty() && file.front() != '/' && file.back() != '/', "file \"%s\"", file.c_str());
    std::string_view rest = file;
    while (!rest.empty()) {
        const std::size_t slash = rest.find('/');
        const std::string_view segment = rest.substr(0, slash);
        LUMETRA_FUZZ_CHECK(!segment.empty() && segment.front() != '.', "segment of \"%s\"", file.c_str());
        for (const char c : segment)
            LUMETRA_FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20 && c != 0x7f && c != '\\', "byte in \"%s\"", file.c_str());
        if (slash == std::string_view::npos) break;
        rest.remove_prefix(slash + 1);
    }
    (void)Lumetra::Tools::contentType(file);
    return 0;
}
