// Example host: loads the horizontal grid environment library, creates an environment from its
// code, builds the camera frame a tracker at a known pose would see, and matches it.
//
// Usage: match_one_frame [library path]   (default: the installed library)

#include <dlfcn.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "LumetraVeskEnvironmentHorizontalGrid.h"

using namespace Lumetra::InterfaceContract;
using Lumetra::Vesk::Environment::IEnvironment;
using Lumetra::Vesk::Environment::MarkerIndex;
using Lumetra::Vesk::Environment::HorizontalGrid::ILibrary;
using Vector3 = LumetraMath::vector<float, 3>;

// A 10 x 8 grid of 0.6 cells with seven bars (1.275 long) under a ceiling at 2.5.
const std::string environmentCode =
    "AgV0cnVzcwoIMzOjP83MzD41+o49AAAAAAAAAAABAAAgQJqZGT8ABwYEAQgAAgUHAwIFAwkGAgkDAwUBAg==";

// Out-arrays: the library calls allocate once with the element count, then fills the memory.
template <class T>
ArrayOutMarshaler::Intermediate collectInto(std::vector<T>& elements) {
    return {&elements, [](void* context, std::uint32_t count) -> void* {
                auto& target = *static_cast<std::vector<T>*>(context);
                target.resize(count);
                return target.data();
            }};
}

template <class T>
ArrayInMarshaler::Intermediate arrayIn(const T& elements) {
    return {elements.data(), static_cast<std::uint32_t>(elements.size())};
}

// The calling thread's message about its last failure.
std::string lastMessage(IUnsafe& object) {
    void* exceptionData = nullptr;  // not reference counted: never released
    object.QueryInterface(IExceptionData::interfaceId, &exceptionData);
    std::vector<char> text;
    static_cast<IExceptionData*>(exceptionData)->getMessage(collectInto(text));
    return {text.begin(), text.end()};
}

int main(int argc, char** argv) {
    // The library stays loaded until the process ends.
    const char* const path = argc > 1 ? argv[1] : LUMETRA_LIBRARY_PATH;
    void* const handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    const auto getLibraryInterface =
        handle ? reinterpret_cast<GetLibraryInterfaceFunction>(dlsym(handle, "getLibraryInterface")) : nullptr;
    if (getLibraryInterface == nullptr) {
        std::fprintf(stderr, "cannot load %s: %s\n", path, dlerror());
        return 1;
    }

    ILibrary* library = nullptr;
    if (getLibraryInterface(nullptr, &library) != ExceptionCode::Ok) return 1;
    IEnvironment* environment = nullptr;
    if (library->createEnvironment(arrayIn(environmentCode), &environment) != ExceptionCode::Ok) {
        std::fprintf(stderr, "createEnvironment failed: %s\n", lastMessage(*library).c_str());
        library->Release();
        return 1;
    }
    library->Release();  // the environment does not need it

    std::vector<Vector3> markers;
    environment->getMarkers(collectInto(markers));

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

    std::vector<MarkerIndex> indices;
    LumetraMath::poseP3Q<float> pose{};
    LongBool matched = LongBool::False;
    if (environment->match(arrayIn(rays), collectInto(indices), &pose, &matched) != ExceptionCode::Ok) {
        std::fprintf(stderr, "match failed: %s\n", lastMessage(*environment).c_str());
        environment->Release();
        return 1;
    }
    environment->Release();

    std::printf("%zu markers, %zu rays: %s\n", markers.size(), rays.size(),
                matched == LongBool::True ? "matched" : "not matched");
    std::printf("position (%.4f, %.4f, %.4f), true (%.4f, %.4f, %.4f)\n", pose.position.x, pose.position.y,
                pose.position.z, position.x, position.y, position.z);
    std::printf("rotation (%.4f, %.4f, %.4f, %.4f), true (%.4f, %.4f, %.4f, %.4f)\n", pose.rotation.x,
                pose.rotation.y, pose.rotation.z, pose.rotation.w, rotation.x, rotation.y, rotation.z, rotation.w);
    for (std::size_t ray = 0; ray < indices.size(); ++ray)
        std::printf("ray %zu: marker %u (shows %u)\n", ray, indices[ray], shown[ray]);
    return matched == LongBool::True && indices == shown ? 0 : 1;
}
