#pragma once
// The subcommands of lumetra-horizontal-grid. Each adds itself to the tool and, when the command
// line selects it, stores what to run into `selected`; running returns the exit status.

#include <functional>
#include <memory>

#include <CLI/CLI.hpp>

namespace Lumetra::Tools {

using CommandRunner = std::function<int()>;

void addDescribeCommand(CLI::App& tool, CommandRunner& selected);
void addEncodeCommand(CLI::App& tool, CommandRunner& selected);
void addGenerateCommand(CLI::App& tool, CommandRunner& selected);
void addRenderCommand(CLI::App& tool, CommandRunner& selected);
void addSimulateCommand(CLI::App& tool, CommandRunner& selected);
void addCoverageCommand(CLI::App& tool, CommandRunner& selected);
void addSuggestCommand(CLI::App& tool, CommandRunner& selected);
void addDemoCommand(CLI::App& tool, CommandRunner& selected);
void addEvaluateCommand(CLI::App& tool, CommandRunner& selected);
void addReplayCommand(CLI::App& tool, CommandRunner& selected);
void addWebCommand(CLI::App& tool, CommandRunner& selected);

/// Registers `options` (kept alive by the runner) so that `run(*options)` becomes the selection.
template <class Options, class Run>
void selectOnParse(CLI::App& command, CommandRunner& selected, std::shared_ptr<Options> options, Run run) {
    command.callback([&selected, options, run] { selected = [options, run] { return run(*options); }; });
}

}  // namespace Lumetra::Tools
