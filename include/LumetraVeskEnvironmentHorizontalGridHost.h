#pragma once
// Header-only helpers for C++ hosts of libLumetraVeskEnvironmentHorizontalGrid.so: load the
// library with a clear error, hold references that release themselves, collect out-arrays into
// std::vector (OutArray), and turn result codes into messages. Every failure throws
// Lumetra::Host::Error.
//
//     Lumetra::Host::Library library;                       // LUMETRA_LIBRARY_PATH, or a path
//     auto environment = library.createEnvironment(code);  // Ref<IEnvironment>
//     std::vector<Vector3> markers = Lumetra::Host::markers(*environment);
//     Lumetra::Host::Match result = Lumetra::Host::match(*environment, rays);
//
// The library stays loaded for the life of the process, so interfaces never outlive their code.

#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "LumetraVeskEnvironmentHorizontalGrid.h"

#ifndef LUMETRA_LIBRARY_PATH
// The file name alone: dlopen then searches LD_LIBRARY_PATH and the system's library folders.
#define LUMETRA_LIBRARY_PATH "libLumetraVeskEnvironmentHorizontalGrid.so"
#endif

namespace Lumetra::Host {

using InterfaceContract::ArrayInMarshaler;
using InterfaceContract::ArrayOutMarshaler;
using InterfaceContract::ExceptionCode;
using InterfaceContract::IExceptionData;
using InterfaceContract::IUnsafe;
using InterfaceContract::LongBool;
using Vesk::Environment::IEnvironment;
using Vesk::Environment::MarkerIndex;
using Vesk::Environment::HorizontalGrid::ILibrary;
using Vector3 = LumetraMath::vector<float, 3>;
using Pose = LumetraMath::poseP3Q<float>;

/// The name of a result code, e.g. "InvalidPointer".
inline const char* codeName(ExceptionCode code) {
    switch (code) {
        case ExceptionCode::Ok: return "Ok";
        case ExceptionCode::NoInterface: return "NoInterface";
        case ExceptionCode::InvalidPointer: return "InvalidPointer";
        case ExceptionCode::Failed: return "Failed";
        case ExceptionCode::OutOfMemory: return "OutOfMemory";
        case ExceptionCode::InvalidArgument: return "InvalidArgument";
    }
    return "unknown result";
}

/// A failed load or call: the result code (Failed for a library that would not load) and the
/// message, the calling thread's message of the library or the loader's text.
class Error : public std::runtime_error {
public:
    Error(ExceptionCode code, const std::string& message)
        : std::runtime_error(describe(code, message)), code_(code), message_(message) {}

    ExceptionCode code() const noexcept { return code_; }
    const std::string& message() const noexcept { return message_; }

private:
    static std::string describe(ExceptionCode code, const std::string& message) {
        char number[16];
        std::snprintf(number, sizeof number, "0x%08X", static_cast<unsigned>(code));
        return std::string(codeName(code)) + " (" + number + "): " + message;
    }

    ExceptionCode code_;
    std::string message_;
};

/// Receives one out-array: pass marshaler() to the call, then take() the elements.
template <class T>
class OutArray {
public:
    ArrayOutMarshaler::Intermediate marshaler() noexcept { return {this, &OutArray::allocate}; }

    /// The delivered elements; throws Error(OutOfMemory) when they could not be stored.
    std::vector<T> take() {
        if (failed_) throw Error(ExceptionCode::OutOfMemory, "no memory for an out-array");
        return std::move(elements_);
    }

private:
    static void* allocate(void* context, std::uint32_t count) noexcept {
        auto& self = *static_cast<OutArray*>(context);
        try {
            self.elements_.resize(count);
        } catch (...) {  // nothing may be thrown across the library: decline the data, report later
            self.failed_ = true;
            return nullptr;
        }
        return self.elements_.data();
    }

    std::vector<T> elements_;
    bool failed_ = false;
};

/// An in-array view of `elements` (they must outlive the call).
template <class T>
ArrayInMarshaler::Intermediate from(const std::vector<T>& elements) {
    if (elements.size() > UINT32_MAX) throw std::length_error("more than 2^32 - 1 elements");
    return {elements.data(), static_cast<std::uint32_t>(elements.size())};
}
inline ArrayInMarshaler::Intermediate from(std::string_view text) {
    if (text.size() > UINT32_MAX) throw std::length_error("more than 2^32 - 1 bytes");
    return {text.data(), static_cast<std::uint32_t>(text.size())};
}

/// The calling thread's message about its last failure, read through `object`.
inline std::string lastMessage(IUnsafe& object) {
    void* exceptionData = nullptr;  // not reference counted: never released
    if (object.QueryInterface(IExceptionData::interfaceId, &exceptionData) != ExceptionCode::Ok) return {};
    OutArray<char> text;
    if (static_cast<IExceptionData*>(exceptionData)->getMessage(text.marshaler()) != ExceptionCode::Ok) return {};
    const std::vector<char> bytes = text.take();
    return {bytes.begin(), bytes.end()};
}

/// Throws Error with the thread's message unless `code` is Ok.
inline void check(ExceptionCode code, IUnsafe& object) {
    if (code != ExceptionCode::Ok) throw Error(code, lastMessage(object));
}

/// Holds one reference to an interface and releases it when destroyed. Copies add a reference.
template <class T>
class Ref {
public:
    Ref() noexcept = default;
    Ref(const Ref& other) noexcept : pointer_(other.pointer_) {
        if (pointer_) pointer_->AddRef();
    }
    Ref(Ref&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
    Ref& operator=(Ref other) noexcept {
        std::swap(pointer_, other.pointer_);
        return *this;
    }
    ~Ref() { reset(); }

    void reset() noexcept {
        if (T* old = std::exchange(pointer_, nullptr)) old->Release();
    }
    /// The slot for a call that hands out a reference; whatever was held is released first.
    T** put() noexcept {
        reset();
        return &pointer_;
    }

    T* get() const noexcept { return pointer_; }
    T* operator->() const noexcept { return pointer_; }
    T& operator*() const noexcept { return *pointer_; }
    explicit operator bool() const noexcept { return pointer_ != nullptr; }

private:
    T* pointer_ = nullptr;
};

/// The loaded shared library. Never unloaded: objects made from it may live on.
class Library {
public:
    explicit Library(const std::string& path = LUMETRA_LIBRARY_PATH) : path_(path) {
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) throw Error(ExceptionCode::Failed, "cannot load " + path + ": " + loaderError());
        entry_ = reinterpret_cast<GetLibraryInterfaceFunction>(dlsym(handle, "getLibraryInterface"));
        if (entry_ == nullptr)
            throw Error(ExceptionCode::Failed, "no getLibraryInterface in " + path + ": " + loaderError());
    }

    const std::string& path() const noexcept { return path_; }

    /// A new library object (ILibrary).
    Ref<ILibrary> create() const {
        Ref<ILibrary> library;
        const ExceptionCode code = entry_(nullptr, library.put());
        if (code != ExceptionCode::Ok) throw Error(code, "getLibraryInterface failed");
        return library;
    }

    /// An environment made from its code by a new library object.
    Ref<IEnvironment> createEnvironment(std::string_view code) const {
        const Ref<ILibrary> library = create();
        Ref<IEnvironment> environment;
        check(library->createEnvironment(from(code), environment.put()), *library);
        return environment;
    }

private:
    static std::string loaderError() {
        const char* text = dlerror();
        return text ? text : "unknown loader error";
    }

    std::string path_;
    GetLibraryInterfaceFunction entry_ = nullptr;
};

/// The environment's markers, three per bar; a marker's index is its number.
inline std::vector<Vector3> markers(IEnvironment& environment) {
    OutArray<Vector3> result;
    check(environment.getMarkers(result.marshaler()), environment);
    return result.take();
}

struct Match {
    bool matched = false;
    Pose pose{};                        ///< the tracker's pose when matched
    std::vector<MarkerIndex> markers;  ///< one per ray when matched (MarkerNotFound, MarkerUnidentified)
};

/// Identifies the rays of one frame (unit directions in the tracker's frame).
inline Match match(IEnvironment& environment, const std::vector<Vector3>& rays) {
    Match result;
    OutArray<MarkerIndex> markers;
    LongBool matched = LongBool::False;
    check(environment.match(from(rays), markers.marshaler(), &result.pose, &matched), environment);
    result.markers = markers.take();
    result.matched = matched == LongBool::True;
    return result;
}

/// Identifies the rays when the tracker's position is known: one marker index per ray.
inline std::vector<MarkerIndex> matchByPosition(IEnvironment& environment, const std::vector<Vector3>& rays,
                                                const Vector3& position) {
    OutArray<MarkerIndex> result;
    check(environment.matchByPosition(from(rays), position, result.marshaler()), environment);
    return result.take();
}

}  // namespace Lumetra::Host
