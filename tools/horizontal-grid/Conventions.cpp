#include "tools/horizontal-grid/Conventions.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <system_error>

#include <fmt/core.h>

#include "simulation/LibraryHost.h"

namespace Lumetra::Tools {
namespace {

std::size_t editDistance(const std::string& a, const std::string& b) {
    // d[i][j]: edits from the first i letters of a to the first j of b; a swap of two neighbours
    // ("nosie") counts as one edit.
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[a.size()][b.size()];
}

/// Names of the long options `command` knows, without their dashes.
std::vector<std::string> longNames(const CLI::App& command) {
    std::vector<std::string> names;
    for (const CLI::Option* option : command.get_options())
        for (const std::string& name : option->get_lnames()) names.push_back(name);
    return names;
}

CLI::Validator boundValidator(const char* description, bool (*accepts)(double), std::string problem) {
    return CLI::Validator(
        [accepts, problem](const std::string& text) {
            double value = 0;
            if (!CLI::detail::lexical_cast(text, value) || !std::isfinite(value))
                return "Value " + text + " is not a finite number";
            return accepts(value) ? std::string() : "Value " + text + " " + problem;
        },
        description);
}

}  // namespace

std::string closestName(const std::string& name, const std::vector<std::string>& candidates) {
    std::string best;
    std::size_t bestDistance = std::numeric_limits<std::size_t>::max();
    for (const std::string& candidate : candidates) {
        const std::size_t distance = editDistance(name, candidate);
        if (distance < bestDistance) bestDistance = distance, best = candidate;
    }
    // A third of the letters wrong is still a typo; more is another word (and names of one or two
    // letters are too short to guess from).
    const std::size_t allowed = std::min(name.size(), best.size()) / 3;
    return bestDistance <= allowed ? best : std::string();
}

std::string didYouMean(const std::string& name, const std::vector<std::string>& candidates) {
    const std::string closest = closestName(name, candidates);
    return closest.empty() ? std::string() : fmt::format(" (did you mean {}?)", closest);
}

void checkOptionNames(CLI::App& tool, const std::vector<std::string>& arguments) {
    const CLI::App* command = &tool;
    for (const std::string& argument : arguments) {
        if (argument == "--") return;
        if (command == &tool) {
            const auto found = tool.get_subcommands([&](const CLI::App* sub) { return sub->check_name(argument); });
            if (!found.empty()) {
                command = found.front();
                continue;
            }
            if (!argument.starts_with('-')) {
                std::vector<std::string> names;
                for (const CLI::App* sub : tool.get_subcommands([](const CLI::App*) { return true; }))
                    names.push_back(sub->get_name());
                throw UsageError(fmt::format("unknown subcommand {}{}", argument, didYouMean(argument, names)));
            }
        }
        if (!argument.starts_with("--") || argument.size() == 2) continue;
        const std::string name = argument.substr(2, argument.find('=') - 2);
        std::vector<std::string> known = longNames(*command);
        if (std::find(known.begin(), known.end(), name) != known.end()) continue;
        for (std::string& option : known) option = "--" + option;
        throw UsageError(fmt::format("unknown option --{}{}", name, didYouMean("--" + name, known)));
    }
}

int reportUsageError(const std::string& message) {
    fmt::print(stderr, "{}: error: {}\nRun with --help for the options.\n", toolName, message);
    return usageErrorStatus;
}

const CLI::Validator& positiveNumber() {
    static const CLI::Validator validator =
        boundValidator("POSITIVE", [](double value) { return value > 0; }, "must be greater than 0");
    return validator;
}

const CLI::Validator& nonNegativeNumber() {
    static const CLI::Validator validator =
        boundValidator("NONNEGATIVE", [](double value) { return value >= 0; }, "must not be negative");
    return validator;
}

const CLI::Validator& notNegative() {
    static const CLI::Validator validator(
        [](const std::string& text) {
            const std::size_t first = text.find_first_not_of(" \t");
            return first != std::string::npos && text[first] == '-' ? "Value " + text + " must not be negative"
                                                                     : std::string();
        },
        "");
    return validator;
}

std::string defaultLibraryPath() {
    const std::filesystem::path built = LUMETRA_LIBRARY_PATH;
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return built.string();
    const std::filesystem::path installed = executable.parent_path().parent_path() / "lib" / built.filename();
    return std::filesystem::exists(installed, error) ? installed.string() : built.string();
}

std::string versionText() {
    const std::string library = defaultLibraryPath();
    std::string state = "loads";
    try {
        const Testing::LibraryHost host(library);
    } catch (const std::exception& error) {
        state = std::string("cannot be loaded: ") + error.what();
    }
    // The library has no version query of its own: it is the one built with the tool.
    return fmt::format("{} {}\nlibrary {} (built as version {}; {})", toolName, LUMETRA_TOOL_VERSION, library,
                       LUMETRA_TOOL_VERSION, state);
}

}  // namespace Lumetra::Tools
