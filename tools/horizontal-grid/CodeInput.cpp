#include "tools/horizontal-grid/CodeInput.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <span>
#include <sstream>
#include <stdexcept>

#include <fmt/core.h>

#include "serialization/Base64Converter.h"
#include "serialization/Cursor.h"
#include "serialization/UVarint.h"

namespace Lumetra::Tools {

void addInputOptions(CLI::App& command, InputSource& source, const std::string& name, const std::string& what) {
    command.add_option(name, source.text, what + ", or @path of a file holding it (default: standard input)");
    command.add_option("-f,--file", source.file, "Read the " + what + " from this file (\"-\": standard input)");
}

std::string readTextFile(const std::string& path) {
    if (path == "-") {
        std::ostringstream text;
        text << std::cin.rdbuf();
        if (std::cin.bad()) throw std::runtime_error("cannot read standard input");
        return text.str();
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error("cannot read " + path + ": " + std::strerror(errno));
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad()) throw std::runtime_error("cannot read " + path);
    return text;
}

std::string readInput(const InputSource& source, const std::string& what) {
    if (!source.text.empty() && !source.file.empty())
        throw std::runtime_error("give the " + what + " either as an argument or with --file, not both");
    if (!source.file.empty()) return readTextFile(source.file);
    if (source.text.starts_with('@')) return readTextFile(source.text.substr(1));
    if (!source.text.empty()) return source.text;
    if (isatty(STDIN_FILENO) != 0)
        throw std::runtime_error("no " + what + " given: pass it as an argument, as @path, with --file, or on standard input");
    return readTextFile("-");
}

void writeOutput(const std::string& path, const std::string& text) {
    if (path.empty() || path == "-") {
        std::cout << text << std::flush;
        if (!std::cout) throw std::runtime_error("cannot write to standard output");
        return;
    }
    std::ofstream file(path, std::ios::binary);
    file << text;
    file.close();
    if (!file) throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
}

namespace {

namespace Record = Vesk::Environment::HorizontalGrid::Serialization;

/// Bytes the record at the start of `bytes` takes, or nothing when it cannot be read.
std::optional<std::size_t> recordLength(std::span<const std::uint8_t> bytes) {
    try {
        LumetraSerialization::Cursor cursor(bytes);
        Record::Versioned::read(cursor);
        return bytes.size() - cursor.remaining();
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

/// For a record that ends too early: the fewest bytes it needs, found by completing it with zeros
/// (the shortest value of every field). Nothing when no completion makes it readable.
std::optional<std::size_t> neededLength(const std::vector<std::uint8_t>& bytes) {
    constexpr std::size_t largestCompletion = std::size_t{1} << 24;
    std::vector<std::uint8_t> padded(bytes);
    const auto readsWith = [&](std::size_t extra) {
        padded.resize(bytes.size() + extra, 0);
        return recordLength(padded).has_value();
    };
    if (bytes.empty() || !readsWith(largestCompletion)) return std::nullopt;
    std::size_t low = 0, high = largestCompletion;  // low does not read, high does
    while (high - low > 1) {
        const std::size_t middle = low + (high - low) / 2;
        (readsWith(middle) ? high : low) = middle;
    }
    return bytes.size() + high;
}

/// A name with an extension ("floor2.code", "rooms/a.txt") or a file that exists.
bool looksLikeFileName(const std::string& text) {
    std::error_code error;
    if (std::filesystem::is_regular_file(text, error)) return true;
    const std::size_t dot = text.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == text.size()) return false;
    return std::all_of(text.begin() + static_cast<std::ptrdiff_t>(dot) + 1, text.end(),
                       [](unsigned char c) { return std::isalnum(c) != 0; });
}

/// What a person needs to hear beside the library's message about `code`.
std::string failureHint(const std::string& code) {
    std::vector<std::uint8_t> bytes;
    try {
        bytes = LumetraSerialization::Base64Converter::decode(code);
    } catch (const std::exception&) {
        // Both alphabets are read, and padding.
        const std::size_t bad = code.find_first_not_of(
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/-_=");
        if (bad == std::string::npos) return "";
        if (looksLikeFileName(code))
            return fmt::format(" — to read the code from the file {0}, write @{0}", code);
        const auto c = static_cast<unsigned char>(code[bad]);
        return fmt::format(" — character {} at position {} (not counting spaces) cannot be part of a code",
                           std::isprint(c) != 0 ? fmt::format("'{}'", code[bad]) : fmt::format("0x{:02x}", c), bad + 1);
    }
    if (recordLength(bytes)) return "";
    if (const auto needed = neededLength(bytes))
        return fmt::format(" — the code is truncated after {} of at least {} bytes: was it copied completely?",
                           bytes.size(), *needed);
    return "";
}

}  // namespace

LoadedCode decodeCode(std::string code) {
    std::erase_if(code, [](unsigned char c) { return std::isspace(c) != 0; });
    if (code.empty()) throw std::runtime_error("the environment code is empty");
    if (code.front() == '{' || code.front() == '[')
        throw std::runtime_error("this looks like JSON, not an environment code: use encode to make a code of it");

    LoadedCode loaded;
    std::size_t extraBytes = 0;
    try {
        loaded.description = Vesk::Environment::HorizontalGrid::decodeEnvironmentCode(code);
        // The record decoded, so its first bytes hold a readable version number.
        const std::vector<std::uint8_t> bytes = LumetraSerialization::Base64Converter::decode(code);
        LumetraSerialization::Cursor cursor(bytes);
        loaded.version = static_cast<unsigned>(LumetraSerialization::UVarint::read(cursor));
        extraBytes = bytes.size() - recordLength(bytes).value_or(bytes.size());
    } catch (const std::exception& error) {
        throw std::runtime_error(std::string("invalid environment code: ") + error.what() + failureHint(code));
    }
    // The library reads the record and ignores what follows; a person wants to know.
    if (extraBytes > 0)
        fmt::print(stderr, "lumetra-horizontal-grid: warning: {} byte{} after the record {} ignored: was something "
                           "appended to the code?\n",
                   extraBytes, extraBytes == 1 ? "" : "s", extraBytes == 1 ? "is" : "are");
    loaded.code = std::move(code);
    return loaded;
}

LoadedCode loadCode(const InputSource& source) { return decodeCode(readInput(source, "environment code")); }

}  // namespace Lumetra::Tools
