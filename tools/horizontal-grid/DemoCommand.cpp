// demo: the tool's main steps on an embedded real-sized environment: its description, its picture
// and the figures of a few hundred synthetic frames matched and identified through the library, and
// of a walk tracked.

#include <memory>
#include <string>

#include <fmt/core.h>

#include "tools/horizontal-grid/Commands.h"
#include "tools/horizontal-grid/DefaultEnvironment.h"
#include "tools/horizontal-grid/DescribeCommand.h"
#include "tools/horizontal-grid/RenderCommand.h"
#include "tools/horizontal-grid/SimulateCommand.h"

namespace Lumetra::Tools {
namespace {

struct DemoOptions {
    std::string svg = "demo.svg";
    std::size_t frames = 300;
};

int runDemo(const DemoOptions& options) {
    InputSource code;
    code.text = defaultEnvironmentCode;

    // The picture first: an unwritable path then fails before anything is printed.
    RenderOptions render;
    render.input = code;
    render.output = options.svg;
    if (const int status = runRender(render); status != 0) return status;

    fmt::print("demo environment (give this code to any other subcommand)\n{}\n\n", defaultEnvironmentCode);
    DescribeOptions describe;
    describe.input = code;
    describe.summary = true;
    if (const int status = runDescribe(describe); status != 0) return status;
    fmt::print("\npicture      {}\n\n", options.svg);

    // The same random poses (fixed default seed) matched and identified, then a walk tracked.
    for (const char* method : {"match", "identify", "track"}) {
        SimulateOptions simulate;
        simulate.input = code;
        simulate.frames = options.frames;
        simulate.method = method;
        simulate.methodGiven = true;
        if (simulate.method == "track") simulate.walkSeconds = 5;
        fmt::print("{}{} through {}\n", simulate.method == "match" ? "" : "\n",
                   simulate.method == "track" ? "a walk tracked" : simulate.method, simulate.tracker.library);
        if (const int status = runSimulate(simulate); status != 0) return status;
    }
    return 0;
}

}  // namespace

void addDemoCommand(CLI::App& tool, CommandRunner& selected) {
    auto options = std::make_shared<DemoOptions>();
    CLI::App* command = tool.add_subcommand(
        "demo", "Describe, draw and simulate an embedded real-sized environment");
    command->add_option("--svg", options->svg, "Where to write the picture")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
        ->capture_default_str();
    command->add_option("-n,--frames", options->frames, "Number of simulated frames")
        ->check(CLI::Range(std::size_t{1}, std::size_t{10000000}))
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
        ->capture_default_str();
    selectOnParse(*command, selected, options, runDemo);
}

}  // namespace Lumetra::Tools
