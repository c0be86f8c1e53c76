#pragma once
// The environment the demo runs on: a real-sized layout of 37 long bars on a 20 x 12 grid of
// 0.6 cells under a ceiling. Made with this tool: "generate --seed 1", then five rounds of
// "suggest --dead-zones --apply 4" until every position of the coverage lattice was covered.

#include <string_view>

namespace Lumetra::Tools {

inline constexpr std::string_view defaultEnvironmentCode =
    "Agxsb25nIGNlaWxpbmcUDDMzoz/NzMw+NfqOPQAAAAAAAAAAAQAAIECamRk/ACUSBQAOBQEGCgEABgEAAgAOCgENAgMSCAIJCgAJ"
    "AQESAgMIBAEHBwMEBQEDAAMLBgIBCQERCwMSBwINCgEPCgMTBgADBQEFBAEEAgAFAQIIAAMKAQMMAQMLAQEQAAATAQEJCwAHCwEF"
    "CwECCwMACgM=";

}  // namespace Lumetra::Tools
