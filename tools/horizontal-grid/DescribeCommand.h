#pragma once
// describe's options and run, for the commands that show a description of their own (demo).

#include "tools/horizontal-grid/CodeInput.h"

namespace Lumetra::Tools {

struct DescribeOptions {
    InputSource input;
    bool json = false;
    bool summary = false;
    bool markers = false;  ///< the marker positions alone
    bool csv = false;      ///< with markers: as comma-separated values
};

/// Prints the description of the code `options.input` holds; returns the exit status.
int runDescribe(const DescribeOptions& options);

}  // namespace Lumetra::Tools
