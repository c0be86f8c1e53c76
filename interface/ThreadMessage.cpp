#include "interface/ThreadMessage.h"

#include "interface/ArrayMarshaling.h"

namespace Lumetra::InterfaceContract {

std::string& threadMessage() {
    // Function-local so that a thread that never needs it never constructs it.
    thread_local std::string message;
    return message;
}

ExceptionCode deliverThreadMessage(ArrayOutMarshaler::Intermediate message) noexcept {
    try {
        requireAllocator(message);
        // A copy, so that an allocator that sets the message cannot pull the text away.
        const std::string text = threadMessage();
        deliverOutArray(message, text.data(), outArrayCount(text.size()));
        return ExceptionCode::Ok;
    } catch (...) {
        return ExceptionCode::Failed;
    }
}

ExceptionCode replaceThreadMessage(ArrayInMarshaler::Intermediate message) noexcept {
    try {
        std::string text = copyInText(message);
        threadMessage().swap(text);
        return ExceptionCode::Ok;
    } catch (...) {
        return ExceptionCode::Failed;
    }
}

}  // namespace Lumetra::InterfaceContract
