// getLibraryInterface and createEnvironment as a host sees them through the loaded library.

#include <gtest/gtest.h>

#include <string>

#include "simulation/LibraryHost.h"
#include "tests/interface/CountingFakes.h"

namespace Lumetra::Testing {
namespace {

// What the decoder answers for an empty code.
const std::string unreadableCodeMessage = "LumetraSerialization error buf != nullptr";

std::uint32_t referenceCount(InterfaceContract::IInterface& object) {
    const std::uint32_t count = object.AddRef() - 1;
    object.Release();
    return count;
}

class LibraryEntry : public ::testing::Test {
protected:
    LibraryHost host;
};

TEST_F(LibraryEntry, EveryCallCreatesAnIndependentLibraryWithOneReference) {
    const InterfacePtr<ILibrary> first = host.createLibrary();
    const InterfacePtr<ILibrary> second = host.createLibrary();
    ASSERT_TRUE(first && second);
    EXPECT_NE(first.get(), second.get());
    EXPECT_EQ(referenceCount(*first), 1u);
    EXPECT_EQ(referenceCount(*second), 1u);
}

TEST_F(LibraryEntry, ReleasesTheHostInterfaceExactlyOnce) {
    CountingInterface hostInterface;
    ILibrary* slot = nullptr;
    ASSERT_EQ(host.getLibraryInterface()(&hostInterface, &slot), ExceptionCode::Ok);
    const auto library = InterfacePtr<ILibrary>::adopt(slot);
    EXPECT_EQ(hostInterface.releases, 1);
    EXPECT_EQ(hostInterface.addRefs, 0);
}

TEST_F(LibraryEntry, ReleasesWhatTheSlotHeldBefore) {
    CountingLibrary previous;
    ILibrary* slot = &previous;
    ASSERT_EQ(host.getLibraryInterface()(nullptr, &slot), ExceptionCode::Ok);
    const auto library = InterfacePtr<ILibrary>::adopt(slot);
    EXPECT_NE(slot, &previous);
    EXPECT_EQ(previous.releases, 1);
    EXPECT_EQ(previous.addRefs, 0);
    EXPECT_EQ(referenceCount(*library), 1u);
}

TEST_F(LibraryEntry, NullSlotIsRejectedAfterTheHostInterfaceIsReleased) {
    CountingInterface hostInterface;
    EXPECT_EQ(host.getLibraryInterface()(&hostInterface, nullptr), ExceptionCode::InvalidPointer);
    EXPECT_EQ(hostInterface.releases, 1);
}

TEST_F(LibraryEntry, FailedCreationLeavesTheSlotAndReportsTheReason) {
    const InterfacePtr<ILibrary> library = host.createLibrary();
    const InterfacePtr<IEnvironmentConstructor> constructor = [&] {
        void* face = nullptr;
        EXPECT_EQ(library->QueryInterface(IEnvironmentConstructor::interfaceId, &face), ExceptionCode::Ok);
        return InterfacePtr<IEnvironmentConstructor>::adopt(static_cast<IEnvironmentConstructor*>(face));
    }();
    for (IEnvironmentConstructor* face : {static_cast<IEnvironmentConstructor*>(library.get()), constructor.get()}) {
        CountingEnvironment previous;
        IEnvironment* slot = &previous;
        setThreadMessage(*face, "earlier");
        EXPECT_EQ(createEnvironment(*face, "", &slot), ExceptionCode::Failed);
        EXPECT_EQ(slot, &previous);
        EXPECT_EQ(previous.releases, 0);
        EXPECT_EQ(threadMessage(*face), unreadableCodeMessage);
    }
}

TEST_F(LibraryEntry, CreationRejectsNullPointersWithoutReadingThem) {
    const InterfacePtr<ILibrary> library = host.createLibrary();
    CountingEnvironment previous;
    IEnvironment* slot = &previous;
    EXPECT_EQ(library->createEnvironment({nullptr, 5}, &slot), ExceptionCode::InvalidPointer);
    EXPECT_EQ(slot, &previous);
    EXPECT_FALSE(threadMessage(*library).empty());
    EXPECT_EQ(library->createEnvironment(inText("AAAA"), nullptr), ExceptionCode::InvalidPointer);
    EXPECT_EQ(previous.releases, 0);
}

TEST_F(LibraryEntry, HostHelperReportsFailuresWithCodeAndMessage) {
    try {
        host.createEnvironment("");
        FAIL() << "an empty code created an environment";
    } catch (const CallFailed& failure) {
        EXPECT_EQ(failure.code, ExceptionCode::Failed);
        EXPECT_EQ(failure.message, unreadableCodeMessage);
    }
}

}  // namespace
}  // namespace Lumetra::Testing
