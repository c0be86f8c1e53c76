#pragma once
// The envelope table of `evaluate --envelope`: a summary by ray profile, tilt and geometry, then
// per cell the success, the pose errors and covariance honesty, and the times; as text (Markdown
// tables) or JSON.

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "simulation/Envelope.h"

namespace Lumetra::Tools {

std::string envelopeMarkdown(const std::vector<Testing::EnvelopeResult>& results,
                             const Testing::EnvelopeSettings& settings);
nlohmann::json envelopeJson(const std::vector<Testing::EnvelopeResult>& results,
                            const Testing::EnvelopeSettings& settings);

/// `text` put between the lines "<!-- envelope begin -->" and "<!-- envelope end -->" of the file
/// at `path`; throws std::runtime_error when the file lacks them.
void replaceInReadme(const std::string& path, const std::string& text);

}  // namespace Lumetra::Tools
