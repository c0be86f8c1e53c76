// encode: the JSON that describe --json writes (or one written by hand) back into a version 2 code.

#include <memory>

#include <fmt/core.h>

#include "simulation/EnvironmentCodeWriter.h"
#include "tools/horizontal-grid/CodeInput.h"
#include "tools/horizontal-grid/Commands.h"
#include "tools/horizontal-grid/DescriptionJson.h"

namespace Lumetra::Tools {
namespace {

struct EncodeOptions {
    InputSource input;
    std::string output;
};

Json parseJson(const std::string& text) {
    try {
        return Json::parse(text);
    } catch (const Json::parse_error& error) {
        throw std::runtime_error(std::string("the input is not JSON: ") + error.what());
    }
}

int runEncode(const EncodeOptions& options) {
    const EnvironmentDescription description = descriptionFromJson(parseJson(readInput(options.input, "JSON description")));
    // The record allows an empty grid, but nothing could ever be placed or matched on it.
    if (description.size.x == 0 || description.size.y == 0)
        throw std::runtime_error(fmt::format("the grid {} x {} has no cells: \"size.x\" and \"size.y\" must be at least 1",
                                             description.size.x, description.size.y));
    // The checks and messages of the library, so that what encodes also loads.
    try {
        Vesk::Environment::HorizontalGrid::validateEnvironmentDescription(description);
    } catch (const std::exception& error) {
        throw std::runtime_error(std::string("invalid environment: ") + error.what());
    }
    const std::string code = LumetraTest::writeEnvironmentCode(description, 2);
    writeOutput(options.output, code + "\n");
    return 0;
}

}  // namespace

void addEncodeCommand(CLI::App& tool, CommandRunner& selected) {
    auto options = std::make_shared<EncodeOptions>();
    CLI::App* command = tool.add_subcommand(
        "encode", "Write the version 2 code of a JSON description (as describe --json writes it)");
    command->footer("The fields are those of describe --json; its \"version\", \"room\", \"markers\" and \"catalogue\" "
                    "are ignored, \"connectors\" may be left out (false). A bar is {\"x\", \"y\", \"rotationDegrees\"}: its cell's "
                    "column and row, and 0, 90, 180 or 270; its \"properties\" byte may stand for the rotation, and "
                    "\"rotation\" in quarter turns (0 to 3) is read too. Lengths are in metres.");
    addInputOptions(*command, options->input, "json", "JSON description");
    command->add_option("-o,--output", options->output, "Write the code to this file instead of standard output");
    selectOnParse(*command, selected, options, runEncode);
}

}  // namespace Lumetra::Tools
