#include "tools/horizontal-grid/CodeInput.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <stdexcept>

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

LoadedCode decodeCode(std::string code) {
    std::erase_if(code, [](unsigned char c) { return std::isspace(c) != 0; });
    if (code.empty()) throw std::runtime_error("the environment code is empty");

    LoadedCode loaded;
    try {
        loaded.description = Vesk::Environment::HorizontalGrid::decodeEnvironmentCode(code);
        // The record decoded, so its first bytes hold a readable version number.
        const std::vector<std::uint8_t> bytes = LumetraSerialization::Base64Converter::decode(code);
        LumetraSerialization::Cursor cursor(bytes);
        loaded.version = static_cast<unsigned>(LumetraSerialization::UVarint::read(cursor));
    } catch (const std::exception& error) {
        throw std::runtime_error(std::string("invalid environment code: ") + error.what());
    }
    loaded.code = std::move(code);
    return loaded;
}

LoadedCode loadCode(const InputSource& source) { return decodeCode(readInput(source, "environment code")); }

}  // namespace Lumetra::Tools
