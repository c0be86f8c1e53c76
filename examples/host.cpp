// A complete host: load the library, create an environment from its code, match one frame.
// Usage: host [library [environment code]]
#include <cstdio>
#include <exception>
#include <vector>

#include <LumetraVeskEnvironmentHorizontalGrid/LumetraVeskEnvironmentHorizontalGridHost.h>

namespace Host = Lumetra::Host;

int main(int argc, char** argv) try {
    // LUMETRA_LIBRARY_PATH comes from the CMake package or pkg-config (see below).
    const Host::Library library(argc > 1 ? argv[1] : LUMETRA_LIBRARY_PATH);
    const Host::Ref<Host::IEnvironment> environment = library.createEnvironment(
        argc > 2 ? argv[2] : "AgV0cnVzcwoIMzOjP83MzD41+o49AAAAAAAAAAABAAAgQJqZGT8ABwYEAQgAAgUHAwIFAwkGAgkDAwUBAg==");

    // The frame of an unturned tracker at (0.3, 1.3, -0.2): unit rays towards every marker.
    const Host::Vector3 position{0.3f, 1.3f, -0.2f};
    std::vector<Host::Vector3> rays;
    for (const Host::Vector3& marker : Host::markerPositions(*environment))
        rays.push_back((marker - position) / LumetraMath::length(marker - position));

    const Host::Match result = Host::match(*environment, rays);
    if (!result.matched) {
        std::printf("not matched\n");
        return 1;
    }
    const Host::Vector3& found = result.pose.position;
    std::printf("matched %zu rays: position (%.3f, %.3f, %.3f), first ray shows marker %u\n", rays.size(),
                found.x, found.y, found.z, result.markerIndices[0]);
    return 0;
} catch (const std::exception& error) {  // Host::Error: a failed load or call, with its message
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
}
