// Example host: loads the horizontal grid environment library, creates an environment from its
// code, builds the camera frame a turned tracker at a known pose would see, and matches it.
//
// Usage: match_one_frame [library path]   (default: the installed library)

#include <cmath>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include <LumetraVeskEnvironmentHorizontalGrid/LumetraVeskEnvironmentHorizontalGridHost.h>

namespace Host = Lumetra::Host;
using Host::MarkerIndex;
using Host::Vector3;

// A 10 x 8 grid of 0.6 cells with seven bars (1.275 long) under a ceiling at 2.5.
const std::string environmentCode =
    "AgV0cnVzcwoIMzOjP83MzD41+o49AAAAAAAAAAABAAAgQJqZGT8ABwYEAQgAAgUHAwIFAwkGAgkDAwUBAg==";

int main(int argc, char** argv) try {
    const Host::Library library(argc > 1 ? argv[1] : LUMETRA_LIBRARY_PATH);
    const Host::Ref<Host::IEnvironment> environment = library.createEnvironment(environmentCode);
    const std::vector<Vector3> markers = Host::markerPositions(*environment);

    // The tracker is 1.2 below the ceiling, turned by 0.5 rad about the vertical axis, and sees the
    // markers within 1 rad of straight up. Its rays are unit directions in its own frame.
    const Vector3 position{0.3f, 1.3f, -0.2f};
    const auto rotation = LumetraMath::quaternionFromAxisAngle(Vector3{0, 1, 0}, 0.5f);
    std::vector<Vector3> rays;
    std::vector<MarkerIndex> shown;
    for (MarkerIndex marker = 0; marker < markers.size(); ++marker) {
        const Vector3 toMarker = markers[marker] - position;
        const Vector3 direction = toMarker / LumetraMath::length(toMarker);
        if (direction.y < std::cos(1.0f)) continue;
        rays.push_back(LumetraMath::mul(LumetraMath::conjugate(rotation), direction));
        shown.push_back(marker);
    }

    const Host::Match result = Host::match(*environment, rays);
    const auto& pose = result.pose;
    std::printf("%zu markers, %zu rays: %s\n", markers.size(), rays.size(), result.matched ? "matched" : "not matched");
    std::printf("position (%.4f, %.4f, %.4f), true (%.4f, %.4f, %.4f)\n", pose.position.x, pose.position.y,
                pose.position.z, position.x, position.y, position.z);
    std::printf("rotation (%.4f, %.4f, %.4f, %.4f), true (%.4f, %.4f, %.4f, %.4f)\n", pose.rotation.x,
                pose.rotation.y, pose.rotation.z, pose.rotation.w, rotation.x, rotation.y, rotation.z, rotation.w);
    for (std::size_t ray = 0; ray < result.markerIndices.size(); ++ray)
        std::printf("ray %zu: marker %u (shows %u)\n", ray, result.markerIndices[ray], shown[ray]);
    return result.matched && result.markerIndices == shown ? 0 : 1;
} catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
}
