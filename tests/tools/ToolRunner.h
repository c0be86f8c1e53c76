#pragma once
// Runs the built lumetra-horizontal-grid with arguments and standard input, collecting its exit
// status and both outputs.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace Lumetra::Testing {

struct ToolResult {
    int status = -1;
    std::string out;
    std::string err;
};

/// A scratch directory removed with the object.
class ScratchDirectory {
public:
    ScratchDirectory() {
        std::string pattern = (std::filesystem::temp_directory_path() / "lumetra-tool-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a scratch directory");
        path_ = pattern;
    }
    ~ScratchDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    std::string file(const std::string& name) const { return (path_ / name).string(); }

    std::string write(const std::string& name, const std::string& content) const {
        std::ofstream(file(name), std::ios::binary) << content;
        return file(name);
    }

private:
    std::filesystem::path path_;
};

inline std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

inline std::string shellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

/// Runs `program` with `arguments`, feeding `input` on standard input.
inline ToolResult runProgram(const std::string& program, const std::vector<std::string>& arguments,
                             const std::string& input = "") {
    const ScratchDirectory scratch;
    std::string command = shellQuoted(program);
    // Appended piece by piece: g++ 12 misreads "text" + std::string temporaries as overlapping copies.
    for (const std::string& argument : arguments) command.append(" ").append(shellQuoted(argument));
    command.append(" <").append(shellQuoted(scratch.write("in", input)));
    command.append(" >").append(shellQuoted(scratch.file("out")));
    command.append(" 2>").append(shellQuoted(scratch.file("err")));
    const int status = std::system(command.c_str());
    ToolResult result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = readFile(scratch.file("out"));
    result.err = readFile(scratch.file("err"));
    return result;
}

/// Runs the tool; a sanitizer report on its standard error fails the calling test.
inline ToolResult runTool(const std::vector<std::string>& arguments, const std::string& input = "") {
    ToolResult result = runProgram(LUMETRA_TOOL_PATH, arguments, input);
    if (result.err.find("Sanitizer") != std::string::npos || result.err.find("runtime error:") != std::string::npos)
        ADD_FAILURE() << "sanitizer report from the tool:\n" << result.err;
    return result;
}

/// The output without its final line break.
inline std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

}  // namespace Lumetra::Testing
