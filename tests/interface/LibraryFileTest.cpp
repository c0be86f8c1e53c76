// The built shared library as a file: what it exports, what it needs from the system, and what
// runs when it is loaded. Read with binutils, as a packager would check it.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#ifndef LUMETRA_STATIC_RUNTIME
#define LUMETRA_STATIC_RUNTIME 1
#endif

namespace {

const std::string libraryPath = LUMETRA_LIBRARY_PATH;

std::string run(const std::string& command) {
    std::string output;
    FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
    if (pipe == nullptr) return output;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
    pclose(pipe);
    return output;
}

std::vector<std::vector<std::string>> fieldsOfLines(const std::string& text) {
    std::vector<std::vector<std::string>> lines;
    std::istringstream input(text);
    for (std::string line; std::getline(input, line);) {
        std::istringstream words(line);
        std::vector<std::string> fields;
        for (std::string word; words >> word;) fields.push_back(word);
        lines.push_back(fields);
    }
    return lines;
}

std::string readelf(const std::string& options) { return run("readelf " + options + " '" + libraryPath + "'"); }

bool haveReadelf() { return !run("readelf --version").empty(); }

TEST(LibraryFile, ExportsOnlyTheEntryPoint) {
    if (!haveReadelf()) GTEST_SKIP() << "readelf is not installed";
    std::vector<std::string> defined;
    // Num: Value Size Type Bind Vis Ndx Name
    for (const auto& fields : fieldsOfLines(readelf("--dyn-syms -W"))) {
        if (fields.size() < 8 || fields[0].back() != ':' || fields[6] == "UND") continue;
        if (fields[4] == "GLOBAL" || fields[4] == "WEAK" || fields[4] == "UNIQUE") {
            defined.push_back(fields[7] + " " + fields[3] + " " + fields[5]);
        }
    }
    EXPECT_EQ(defined, (std::vector<std::string>{"getLibraryInterface FUNC DEFAULT"}));
}

TEST(LibraryFile, NeedsOnlyTheCAndMathLibraries) {
    if (!LUMETRA_STATIC_RUNTIME) GTEST_SKIP() << "built against the shared C++ runtime";
    if (!haveReadelf()) GTEST_SKIP() << "readelf is not installed";
    const std::set<std::string> allowed = {"[libc.so.6]", "[libm.so.6]", "[ld-linux-x86-64.so.2]"};
    std::vector<std::string> needed;
    for (const auto& fields : fieldsOfLines(readelf("-d"))) {
        if (fields.size() >= 5 && fields[1] == "(NEEDED)") needed.push_back(fields[4]);
    }
    EXPECT_FALSE(needed.empty());
    for (const std::string& library : needed) EXPECT_TRUE(allowed.count(library)) << library;
}

// Load-time constructors may come from the C runtime's frame setup and from the statically linked
// C++ runtime (whose sources end in .cc), never from the library's own sources (.cpp).
TEST(LibraryFile, RunsNoConstructorsOfItsOwnWhenLoaded) {
    if (!LUMETRA_STATIC_RUNTIME) GTEST_SKIP() << "built against the shared C++ runtime";
    if (!haveReadelf()) GTEST_SKIP() << "readelf is not installed";

    std::uint64_t begin = 0, end = 0;
    for (const auto& fields : fieldsOfLines(readelf("-S -W"))) {
        // [Nr] Name Type Address Off Size ...; "[ 9]" splits into two fields.
        for (std::size_t i = 0; i + 4 < fields.size(); ++i) {
            if (fields[i] == ".init_array") {
                begin = std::stoull(fields[i + 2], nullptr, 16);
                end = begin + std::stoull(fields[i + 4], nullptr, 16);
            }
        }
    }
    if (begin == end) return;  // nothing runs at load time

    std::map<std::uint64_t, std::string> functions;
    for (const auto& fields : fieldsOfLines(readelf("-s -W"))) {
        if (fields.size() >= 8 && fields[3] == "FUNC") functions[std::stoull(fields[1], nullptr, 16)] = fields[7];
    }
    if (functions.empty()) GTEST_SKIP() << "the library carries no symbol table";

    int entries = 0;
    for (const auto& fields : fieldsOfLines(readelf("-r -W"))) {
        if (fields.size() < 4 || fields[2] != "R_X86_64_RELATIVE") continue;
        const std::uint64_t offset = std::stoull(fields[0], nullptr, 16);
        if (offset < begin || offset >= end) continue;
        ++entries;
        const auto function = functions.find(std::stoull(fields[3], nullptr, 16));
        ASSERT_NE(function, functions.end()) << "unnamed load-time constructor at 0x" << fields[3];
        const std::string& name = function->second;
        const bool fromRuntime = name == "frame_dummy" ||
                                 (name.rfind("_GLOBAL__sub_I_", 0) == 0 && name.size() > 3 &&
                                  name.compare(name.size() - 3, 3, ".cc") == 0);
        EXPECT_TRUE(fromRuntime) << "load-time constructor " << name;
    }
    EXPECT_EQ(static_cast<std::uint64_t>(entries) * 8, end - begin) << "every entry was checked";
}

}  // namespace
