// lumetra-horizontal-grid: looks at, draws, tries and improves horizontal grid environment codes.

#include <cstdio>
#include <algorithm>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include <fmt/core.h>

#include "tools/horizontal-grid/Commands.h"
#include "tools/horizontal-grid/Conventions.h"

int main(int argc, char** argv) {
    using namespace Lumetra::Tools;
    CLI::App tool{"Looks at, draws, tries and improves horizontal grid environment codes.\n"
                  "Codes are read from the CODE argument, from a file (@path or --file path) or from standard "
                  "input.",
                  "lumetra-horizontal-grid"};
    tool.require_subcommand(1, 1);
    tool.set_help_all_flag("--help-all", "Print the help of every subcommand");
    tool.set_version_flag("--version", [] { return versionText(); }, "Print the versions of the tool and library");
    tool.footer("Exit status: 0 on success, 1 when the input or the library fails, 2 on a usage error.");

    CommandRunner selected;
    addDescribeCommand(tool, selected);
    addEncodeCommand(tool, selected);
    addGenerateCommand(tool, selected);
    addRenderCommand(tool, selected);
    addSimulateCommand(tool, selected);
    addCoverageCommand(tool, selected);
    addSuggestCommand(tool, selected);
    addDemoCommand(tool, selected);
    addEvaluateCommand(tool, selected);
    addReplayCommand(tool, selected);
    addWebCommand(tool, selected);

    try {
        checkOptionNames(tool, std::vector<std::string>(argv + std::min(argc, 1), argv + argc));
        tool.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // Help and version are "errors" with status 0 that CLI11 prints itself.
        if (error.get_exit_code() == 0) return tool.exit(error);
        return reportUsageError(error.what());
    } catch (const UsageError& error) {
        return reportUsageError(error.what());
    }
    try {
        const int status = selected();
        if (std::fflush(stdout) != 0) throw std::runtime_error("cannot write the output");
        return status;
    } catch (const UsageError& error) {
        return reportUsageError(error.what());
    } catch (const std::exception& error) {
        fmt::print(stderr, "{}: error: {}\n", toolName, error.what());
        return 1;
    }
}
