#pragma once
// Counted smart pointer for anything with AddRef and Release: host-facing interfaces
// (InterfacePtr<IEnvironment>) as well as the library's own objects (InterfacePtr<Library>).

#include <cstddef>
#include <utility>

namespace Lumetra::InterfaceContract {

template <class T>
class InterfacePtr {
public:
    InterfacePtr() noexcept = default;
    InterfacePtr(std::nullptr_t) noexcept {}

    /// Takes a new reference to `pointer` (which may be null).
    explicit InterfacePtr(T* pointer) noexcept : pointer_(pointer) {
        if (pointer_) pointer_->AddRef();
    }

    /// Takes over a reference the caller already owns, e.g. one QueryInterface added.
    static InterfacePtr adopt(T* pointer) noexcept {
        InterfacePtr result;
        result.pointer_ = pointer;
        return result;
    }

    InterfacePtr(const InterfacePtr& other) noexcept : InterfacePtr(other.pointer_) {}
    InterfacePtr(InterfacePtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}

    InterfacePtr& operator=(InterfacePtr other) noexcept {
        std::swap(pointer_, other.pointer_);
        return *this;
    }

    ~InterfacePtr() { reset(); }

    void reset() noexcept {
        if (T* old = std::exchange(pointer_, nullptr)) old->Release();
    }

    T* get() const noexcept { return pointer_; }
    T* operator->() const noexcept { return pointer_; }
    T& operator*() const noexcept { return *pointer_; }
    explicit operator bool() const noexcept { return pointer_ != nullptr; }

    /// Hands out the reference: the caller becomes responsible for releasing it.
    [[nodiscard]] T* detach() noexcept { return std::exchange(pointer_, nullptr); }

    /// Stores this pointer into a caller's out slot with one reference of the caller's own.
    /// A different non-null pointer already in the slot is taken out and released first; the
    /// slot holding this very pointer is left as it is.
    template <class Slot>
    void storeInto(Slot** slot) const noexcept {
        Slot* const incoming = pointer_;
        if (*slot == incoming) return;
        if (Slot* const previous = *slot) {
            *slot = nullptr;
            previous->Release();
        }
        *slot = incoming;
        if (incoming) incoming->AddRef();
    }

private:
    T* pointer_ = nullptr;
};

}  // namespace Lumetra::InterfaceContract
