// Loads the horizontal grid environment library, asks it for its interfaces and tries to create
// an environment, printing what a host sees.
//
// Usage: lumetra_demo [library path] [environment code]

#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "LumetraVeskEnvironmentHorizontalGrid.h"

namespace {

using Lumetra::InterfaceContract::ArrayInMarshaler;
using Lumetra::InterfaceContract::ArrayOutMarshaler;
using Lumetra::InterfaceContract::ExceptionCode;
using Lumetra::InterfaceContract::IExceptionData;
using Lumetra::InterfaceContract::IInterface;
using Lumetra::InterfaceContract::InterfaceID;
using Lumetra::InterfaceContract::IUnsafe;
using Lumetra::InterfaceContract::LongBool;
using Lumetra::Vesk::Environment::IEnvironment;
using Lumetra::Vesk::Environment::IEnvironmentConstructor;
using Lumetra::Vesk::Environment::MarkerIndex;
using Lumetra::Vesk::Environment::HorizontalGrid::ILibrary;
using Vector3 = LumetraMath::vector<float, 3>;

/// Collects an out-array into a vector.
template <class T>
struct Collected {
    std::vector<T> elements;

    ArrayOutMarshaler::Intermediate marshaler() {
        return {this, [](void* context, std::uint32_t count) -> void* {
                    auto& self = *static_cast<Collected*>(context);
                    self.elements.resize(count);
                    return self.elements.data();
                }};
    }
};

unsigned codeValue(ExceptionCode code) { return static_cast<unsigned>(code); }

std::string message(IUnsafe& object) {
    void* face = nullptr;
    if (object.QueryInterface(IExceptionData::interfaceId, &face) != ExceptionCode::Ok) return "(no message)";
    Collected<char> text;
    static_cast<IExceptionData*>(face)->getMessage(text.marshaler());
    return std::string(text.elements.begin(), text.elements.end());
}

void showInterfaces(ILibrary& library) {
    struct Named {
        const char* name;
        InterfaceID id;
    };
    const Named interfaces[] = {
        {"IUnsafe", IUnsafe::interfaceId},
        {"IInterface", IInterface::interfaceId},
        {"IExceptionData", IExceptionData::interfaceId},
        {"IEnvironmentConstructor", IEnvironmentConstructor::interfaceId},
        {"ILibrary", ILibrary::interfaceId},
        {"IEnvironment", IEnvironment::interfaceId},
    };
    for (const Named& named : interfaces) {
        void* face = nullptr;
        const ExceptionCode code = library.QueryInterface(named.id, &face);
        std::printf("  %-24s 0x%08X %s\n", named.name, codeValue(code),
                    face == nullptr ? "(none)" : face == &library ? "library face" : "separate face");
        // IExceptionData comes without a reference; every other face carries one.
        if (face != nullptr && named.id != IExceptionData::interfaceId) static_cast<IInterface*>(face)->Release();
    }
}

void showEnvironment(IEnvironment& environment) {
    LongBool isMutable{};
    environment.isMutable(&isMutable);
    Collected<Vector3> markers;
    const ExceptionCode code = environment.getMarkers(markers.marshaler());
    std::printf("environment: mutable 0x%08X, getMarkers 0x%08X, %zu markers\n",
                static_cast<unsigned>(isMutable), codeValue(code), markers.elements.size());
    for (std::size_t i = 0; i < markers.elements.size() && i < 6; ++i) {
        const Vector3& m = markers.elements[i];
        std::printf("  marker %zu: (%g, %g, %g)\n", i, static_cast<double>(m.x), static_cast<double>(m.y),
                    static_cast<double>(m.z));
    }
}

}  // namespace

int main(int argc, char** argv) {
    const char* const path = argc > 1 ? argv[1] : LUMETRA_LIBRARY_PATH;
    const std::string code = argc > 2 ? argv[2] : "";

    void* const handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        std::fprintf(stderr, "cannot load %s: %s\n", path, dlerror());
        return 1;
    }
    const auto getLibraryInterface = reinterpret_cast<GetLibraryInterfaceFunction>(dlsym(handle, "getLibraryInterface"));
    if (getLibraryInterface == nullptr) {
        std::fprintf(stderr, "%s exports no getLibraryInterface\n", path);
        return 1;
    }
    std::printf("loaded %s\n", path);

    ILibrary* library = nullptr;
    const ExceptionCode entry = getLibraryInterface(nullptr, &library);
    std::printf("getLibraryInterface: 0x%08X\n", codeValue(entry));
    if (library == nullptr) return 1;

    std::printf("interfaces of the library:\n");
    showInterfaces(*library);

    IEnvironment* environment = nullptr;
    const ExceptionCode created =
        library->createEnvironment({code.data(), static_cast<std::uint32_t>(code.size())}, &environment);
    std::printf("createEnvironment (%zu bytes of code): 0x%08X", code.size(), codeValue(created));
    if (created == ExceptionCode::Ok) {
        std::printf("\n");
        showEnvironment(*environment);
        environment->Release();
    } else {
        std::printf(" \"%s\"\n", message(*library).c_str());
    }

    std::printf("library released, count now %u\n", library->Release());
    return 0;
}
