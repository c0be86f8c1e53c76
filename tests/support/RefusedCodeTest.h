#pragma once
// A fixture for tests that hand the library environment codes it must refuse.

#include <gtest/gtest.h>

#include <string>

#include "simulation/LibraryHost.h"

namespace Lumetra::Testing {

class RefusedCodeTest : public ::testing::Test {
protected:
    /// The code and message of a creation that must fail; the slot must stay untouched.
    CallFailed failureOf(const std::string& code) {
        const InterfacePtr<ILibrary> library = host.createLibrary();
        IEnvironment* slot = nullptr;
        const ExceptionCode result = createEnvironment(*library, code, &slot);
        EXPECT_EQ(slot, nullptr);
        return CallFailed(result, threadMessage(*library));
    }

    LibraryHost host;
};

}  // namespace Lumetra::Testing
