#include "simulation/LibraryHost.h"

#include <dlfcn.h>

#include <iomanip>
#include <sstream>
#include <utility>

namespace Lumetra::InterfaceContract {

void PrintTo(ExceptionCode code, std::ostream* out) {
    const char* name = nullptr;
    switch (code) {
        case ExceptionCode::Ok: name = "Ok"; break;
        case ExceptionCode::NoInterface: name = "NoInterface"; break;
        case ExceptionCode::InvalidPointer: name = "InvalidPointer"; break;
        case ExceptionCode::Failed: name = "Failed"; break;
        case ExceptionCode::OutOfMemory: name = "OutOfMemory"; break;
        case ExceptionCode::InvalidArgument: name = "InvalidArgument"; break;
    }
    const auto flags = out->flags();
    if (name != nullptr) *out << name << ' ';
    *out << "(0x" << std::hex << std::setw(8) << std::setfill('0') << static_cast<std::uint32_t>(code) << ')';
    out->flags(flags);
}

void PrintTo(LongBool value, std::ostream* out) {
    const auto flags = out->flags();
    *out << "LongBool 0x" << std::hex << static_cast<std::uint32_t>(value);
    out->flags(flags);
}

}  // namespace Lumetra::InterfaceContract

namespace Lumetra::Testing {

namespace {

std::string describe(ExceptionCode code, const std::string& message) {
    std::ostringstream text;
    InterfaceContract::PrintTo(code, &text);
    text << ": " << message;
    return text.str();
}

InterfaceContract::IExceptionData& exceptionData(InterfaceContract::IUnsafe& object) {
    void* face = nullptr;
    if (object.QueryInterface(InterfaceContract::IExceptionData::interfaceId, &face) != ExceptionCode::Ok)
        throw std::runtime_error("object has no IExceptionData");
    return *static_cast<InterfaceContract::IExceptionData*>(face);
}

}  // namespace

CallFailed::CallFailed(ExceptionCode errorCode, const std::string& text)
    : std::runtime_error(describe(errorCode, text)), code(errorCode), message(text) {}

LibraryHost::LibraryHost(const std::string& path) {
    // Never unloaded: objects or thread-local messages may outlive a host object.
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (handle_ == nullptr) throw std::runtime_error(std::string("cannot load library: ") + dlerror());
    getLibraryInterface_ = reinterpret_cast<GetLibraryInterfaceFunction>(dlsym(handle_, "getLibraryInterface"));
    if (getLibraryInterface_ == nullptr) throw std::runtime_error("library exports no getLibraryInterface");
}

LibraryHost::~LibraryHost() { dlclose(handle_); }

InterfacePtr<ILibrary> LibraryHost::createLibrary() const {
    ILibrary* library = nullptr;
    const ExceptionCode code = getLibraryInterface_(nullptr, &library);
    if (code != ExceptionCode::Ok) throw CallFailed(code, "getLibraryInterface failed");
    return InterfacePtr<ILibrary>::adopt(library);
}

InterfacePtr<IEnvironment> LibraryHost::createEnvironment(std::string_view code) const {
    const InterfacePtr<ILibrary> library = createLibrary();
    IEnvironment* environment = nullptr;
    expectOk(Testing::createEnvironment(*library, code, &environment), *library);
    return InterfacePtr<IEnvironment>::adopt(environment);
}

std::string threadMessage(InterfaceContract::IUnsafe& object) {
    OutArray<char> text;
    if (exceptionData(object).getMessage(text.marshaler()) != ExceptionCode::Ok)
        throw std::runtime_error("getMessage failed");
    return std::string(text.elements.begin(), text.elements.end());
}

void setThreadMessage(InterfaceContract::IUnsafe& object, std::string_view text) {
    if (exceptionData(object).setMessage(inText(text)) != ExceptionCode::Ok)
        throw std::runtime_error("setMessage failed");
}

void expectOk(ExceptionCode code, InterfaceContract::IUnsafe& object) {
    if (code != ExceptionCode::Ok) throw CallFailed(code, threadMessage(object));
}

ExceptionCode createEnvironment(IEnvironmentConstructor& constructor, std::string_view code, IEnvironment** slot) {
    return constructor.createEnvironment(inText(code), slot);
}

bool isMutable(IEnvironment& environment) {
    LongBool result{};
    expectOk(environment.isMutable(&result), environment);
    return result != LongBool::False;
}

std::vector<Vector3> getMarkers(IEnvironment& environment) {
    OutArray<Vector3> markers;
    expectOk(environment.getMarkers(markers.marshaler()), environment);
    return markers.elements;
}

bool filterRay(IEnvironment& environment, const Vector3& ray, const Vector3& reference) {
    LongBool result{};
    expectOk(environment.filterRay(ray, reference, &result), environment);
    return result != LongBool::False;
}

MatchOutcome match(IEnvironment& environment, const std::vector<Vector3>& rays) {
    MatchOutcome outcome;
    OutArray<MarkerIndex> indices;
    LongBool matched{};
    expectOk(environment.match(inArray(rays), indices.marshaler(), &outcome.pose, &matched), environment);
    outcome.matched = matched != LongBool::False;
    outcome.markerIndices = std::move(indices.elements);
    return outcome;
}

std::vector<MarkerIndex> matchByPosition(IEnvironment& environment, const std::vector<Vector3>& rays,
                                         const Vector3& position) {
    OutArray<MarkerIndex> indices;
    expectOk(environment.matchByPosition(inArray(rays), position, indices.marshaler()), environment);
    return indices.elements;
}

}  // namespace Lumetra::Testing
