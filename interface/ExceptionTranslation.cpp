#include "interface/ExceptionTranslation.h"

#include <new>
#include <stdexcept>
#include <string>

#include "interface/Exception.h"
#include "interface/ThreadMessage.h"

namespace Lumetra::InterfaceContract {

namespace {

ExceptionCode report(ExceptionCode code, const char* text) noexcept {
    std::string& message = threadMessage();
    try {
        message = text;
    } catch (...) {
        // A stale text from an earlier failure would mislead more than no text.
        message.clear();
    }
    return code;
}

}  // namespace

ExceptionCode translateCurrentException() noexcept {
    try {
        throw;
    } catch (const Exception& e) {
        return report(e.code, e.message.c_str());
    } catch (const std::invalid_argument& e) {
        return report(ExceptionCode::InvalidArgument, e.what());
    } catch (const std::bad_alloc& e) {
        return report(ExceptionCode::OutOfMemory, e.what());
    } catch (const std::exception& e) {
        return report(ExceptionCode::Failed, e.what());
    } catch (...) {
        return report(ExceptionCode::Failed, "");
    }
}

}  // namespace Lumetra::InterfaceContract
