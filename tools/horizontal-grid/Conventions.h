#pragma once
// The command-line conventions every subcommand shares: usage errors exit 2 under the tool's
// prefix, misspelt names get a suggestion, bounds read as people write them, and the default
// library is found next to the installed tool.

#include <stdexcept>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

namespace Lumetra::Tools {

inline constexpr const char* toolName = "lumetra-horizontal-grid";
inline constexpr int usageErrorStatus = 2;

/// A command line that asks for something meaningless: reported like a parse error (status 2).
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// The candidate nearest to `name` by edit distance if it is close enough to be a typo, else "".
std::string closestName(const std::string& name, const std::vector<std::string>& candidates);

/// " (did you mean X?)" for the closest candidate, or "".
std::string didYouMean(const std::string& name, const std::vector<std::string>& candidates);

/// Fails with a UsageError naming the nearest option for every "--name" that the selected
/// subcommand does not know. CLI11 would otherwise take a misspelt option for a positional value.
void checkOptionNames(CLI::App& tool, const std::vector<std::string>& arguments);

/// Prints "lumetra-horizontal-grid: error: MESSAGE" and a pointer to --help; returns status 2.
int reportUsageError(const std::string& message);

/// Validators whose messages state the bound as written ("must be greater than 0").
const CLI::Validator& positiveNumber();
const CLI::Validator& nonNegativeNumber();
/// For unsigned options: refuses "-1", which the parser would otherwise wrap around.
const CLI::Validator& notNegative();

/// The library the tool loads by default: the installed one beside the tool
/// (<tool dir>/../lib/<name>) when it exists, else the one this build made.
std::string defaultLibraryPath();

/// The text of --version: the tool's version and the library it would load.
std::string versionText();

}  // namespace Lumetra::Tools
