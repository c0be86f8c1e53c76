#pragma once
// Writes a picture by its file's extension: .png and .pdf rendered from the SVG document, anything
// else (or standard output) as the SVG text itself.

#include <string>

namespace Lumetra::Tools {

/// `svg` to `path` as PNG (at `dotsPerInch` for documents sized in physical units), PDF or SVG.
void writePicture(const std::string& path, const std::string& svg, double dotsPerInch = 96);

}  // namespace Lumetra::Tools
