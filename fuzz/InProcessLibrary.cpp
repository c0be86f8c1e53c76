#include "fuzz/InProcessLibrary.h"

#include "fuzz/FuzzCheck.h"

namespace LumetraFuzz {

ILibrary& library() {
    static ILibrary* const instance = [] {
        ILibrary* created = nullptr;
        const ExceptionCode code = getLibraryInterface(nullptr, &created);
        LUMETRA_FUZZ_CHECK(code == ExceptionCode::Ok && created != nullptr, "getLibraryInterface failed");
        return created;
    }();
    return *instance;
}

std::string threadMessage() {
    void* face = nullptr;
    const ExceptionCode lookup =
        library().QueryInterface(Lumetra::InterfaceContract::IExceptionData::interfaceId, &face);
    LUMETRA_FUZZ_CHECK(lookup == ExceptionCode::Ok && face != nullptr, "the library has no IExceptionData");
    OutArray<char> message;
    const ExceptionCode code =
        static_cast<Lumetra::InterfaceContract::IExceptionData*>(face)->getMessage(message.marshaler());
    LUMETRA_FUZZ_CHECK(code == ExceptionCode::Ok && message.allocateCalls == 1, "getMessage failed");
    return {message.elements.begin(), message.elements.end()};
}

ExceptionCode createEnvironment(std::string_view code, IEnvironment** slot) {
    return library().createEnvironment({code.data(), static_cast<std::uint32_t>(code.size())}, slot);
}

IEnvironment& requireEnvironment(std::string_view code) {
    IEnvironment* environment = nullptr;
    const ExceptionCode result = createEnvironment(code, &environment);
    LUMETRA_FUZZ_CHECK(result == ExceptionCode::Ok && environment != nullptr, "code %.*s refused: %s",
                       static_cast<int>(code.size()), code.data(), threadMessage().c_str());
    return *environment;
}

}  // namespace LumetraFuzz
