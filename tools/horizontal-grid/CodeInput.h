#pragma once
// Where a subcommand's input text comes from: the positional argument, "@path" in its place,
// --file path, or standard input when neither is given.

#include <string>

#include <CLI/CLI.hpp>

#include "environment/EnvironmentRecord.h"

namespace Lumetra::Tools {

using Vesk::Environment::HorizontalGrid::EnvironmentDescription;

struct InputSource {
    std::string text;  ///< the argument: the text itself, or "@path"
    std::string file;  ///< --file
};

/// Adds the positional argument `name` and --file to `command`; `what` names the input in help texts.
void addInputOptions(CLI::App& command, InputSource& source, const std::string& name, const std::string& what);

/// The input text. Throws std::runtime_error when a file cannot be read, when both an argument and
/// --file are given, or when nothing is given and standard input is a terminal.
std::string readInput(const InputSource& source, const std::string& what);

/// The whole content of a file; "-" is standard input.
std::string readTextFile(const std::string& path);

/// Writes `text` to the file `path`, or to standard output for "" or "-".
void writeOutput(const std::string& path, const std::string& text);

/// A decoded and validated environment code with the version its record was stored in.
struct LoadedCode {
    std::string code;  ///< the code without whitespace
    unsigned version = 0;
    EnvironmentDescription description;
};

/// Reads the code from `source` (whitespace anywhere in it is ignored) and decodes it as the
/// library does. Throws std::runtime_error with the library's message.
LoadedCode loadCode(const InputSource& source);
LoadedCode decodeCode(std::string code);

}  // namespace Lumetra::Tools
