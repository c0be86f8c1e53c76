// lumetra-horizontal-grid: looks at, draws, tries and improves horizontal grid environment codes.

#include <cstdio>
#include <exception>
#include <stdexcept>

#include <fmt/core.h>

#include "tools/horizontal-grid/Commands.h"

int main(int argc, char** argv) {
    using namespace Lumetra::Tools;
    CLI::App tool{"Looks at, draws, tries and improves horizontal grid environment codes.\n"
                  "Codes are read from the CODE argument, from a file (@path or --file path) or from standard "
                  "input.",
                  "lumetra-horizontal-grid"};
    tool.require_subcommand(1, 1);
    tool.set_help_all_flag("--help-all", "Print the help of every subcommand");

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

    try {
        tool.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return tool.exit(error);
    }
    try {
        const int status = selected();
        if (std::fflush(stdout) != 0) throw std::runtime_error("cannot write the output");
        return status;
    } catch (const std::exception& error) {
        fmt::print(stderr, "lumetra-horizontal-grid: error: {}\n", error.what());
        return 1;
    }
}
