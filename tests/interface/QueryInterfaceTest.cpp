// Interface lookup on a library object: which identifiers it answers, with which face, and how
// the reference count changes.

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "simulation/LibraryHost.h"

namespace Lumetra::Testing {
namespace {

using InterfaceContract::IExceptionData;
using InterfaceContract::IInterface;
using InterfaceContract::InterfaceID;
using InterfaceContract::IUnsafe;

std::uint32_t referenceCount(IInterface& object) {
    const std::uint32_t count = object.AddRef() - 1;
    object.Release();
    return count;
}

TEST(InterfaceIdentifiers, HaveTheirPublishedBytes) {
    const auto bytesOf = [](const InterfaceID& id) {
        std::array<unsigned char, 16> bytes{};
        std::memcpy(bytes.data(), &id, 16);
        return bytes;
    };
    using Bytes = std::array<unsigned char, 16>;
    EXPECT_EQ(bytesOf(IUnsafe::interfaceId),
              (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x0C, 0, 0, 0, 0, 0, 0, 0x64}));
    EXPECT_EQ(bytesOf(IInterface::interfaceId), (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46}));
    EXPECT_EQ(bytesOf(IExceptionData::interfaceId), (Bytes{0xF5, 0x2F, 0x12, 0x97, 0xAA, 0xCE, 0x40, 0x4C, 0x96,
                                                           0x27, 0x12, 0xAA, 0xB7, 0x4A, 0x5D, 0xAF}));
    EXPECT_EQ(bytesOf(IEnvironmentConstructor::interfaceId), (Bytes{0x7E, 0x10, 0x91, 0xB6, 0x28, 0xD6, 0x62, 0x4C,
                                                                    0x80, 0x03, 0xE4, 0xD7, 0x84, 0xB3, 0x42, 0xE7}));
    EXPECT_EQ(bytesOf(ILibrary::interfaceId), (Bytes{0x3F, 0xB1, 0xA7, 0x14, 0x1C, 0xB5, 0xB3, 0x46, 0xAB, 0xF7, 0x62,
                                                     0x3D, 0xB3, 0xA9, 0xFB, 0x86}));
    EXPECT_EQ(bytesOf(IEnvironment::interfaceId), (Bytes{0x58, 0xC8, 0x57, 0xC2, 0x96, 0xF2, 0xB7, 0x43, 0xB6, 0xB5,
                                                         0xC1, 0x4B, 0x9A, 0xFB, 0x1A, 0x13}));
}

class LibraryLookup : public ::testing::Test {
protected:
    LibraryHost host;
    InterfacePtr<ILibrary> library = host.createLibrary();

    IExceptionData* exceptionData() {
        void* face = nullptr;
        EXPECT_EQ(library->QueryInterface(IExceptionData::interfaceId, &face), ExceptionCode::Ok);
        return static_cast<IExceptionData*>(face);
    }
};

TEST_F(LibraryLookup, LibraryFaceAnswersForItsWholeInterfaceLineFromEveryFace) {
    IUnsafe* const faces[] = {library.get(), exceptionData()};
    for (IUnsafe* asked : faces) {
        for (const InterfaceID& id : {IUnsafe::interfaceId, IInterface::interfaceId,
                                      IEnvironmentConstructor::interfaceId, ILibrary::interfaceId}) {
            void* result = nullptr;
            ASSERT_EQ(asked->QueryInterface(id, &result), ExceptionCode::Ok);
            EXPECT_EQ(result, static_cast<void*>(library.get()));
            EXPECT_EQ(referenceCount(*library), 2u) << "one reference added by the lookup";
            library->Release();
        }
    }
}

TEST_F(LibraryLookup, ExceptionDataIsOneUncountedFace) {
    IExceptionData* const face = exceptionData();
    ASSERT_NE(face, nullptr);
    EXPECT_NE(static_cast<void*>(face), static_cast<void*>(library.get()));
    EXPECT_EQ(referenceCount(*library), 1u);
    void* again = nullptr;
    ASSERT_EQ(face->QueryInterface(IExceptionData::interfaceId, &again), ExceptionCode::Ok);
    EXPECT_EQ(again, static_cast<void*>(face));
    EXPECT_EQ(referenceCount(*library), 1u);
}

TEST_F(LibraryLookup, UnknownIdentifiersGiveNoInterfaceAndNull) {
    std::vector<InterfaceID> unknown = {IEnvironment::interfaceId};
    for (InterfaceID id : {IUnsafe::interfaceId, IInterface::interfaceId, IExceptionData::interfaceId,
                           IEnvironmentConstructor::interfaceId, ILibrary::interfaceId}) {
        id.data4[7] ^= 1;  // differs in the last byte only
        unknown.push_back(id);
    }
    for (const InterfaceID& id : unknown) {
        int sentinel = 0;
        void* result = &sentinel;
        EXPECT_EQ(library->QueryInterface(id, &result), ExceptionCode::NoInterface);
        EXPECT_EQ(result, nullptr);
    }
    EXPECT_EQ(referenceCount(*library), 1u);
}

TEST_F(LibraryLookup, NullResultIsRejected) {
    EXPECT_EQ(library->QueryInterface(ILibrary::interfaceId, nullptr), ExceptionCode::InvalidPointer);
    EXPECT_EQ(exceptionData()->QueryInterface(ILibrary::interfaceId, nullptr), ExceptionCode::InvalidPointer);
    EXPECT_EQ(referenceCount(*library), 1u);
}

}  // namespace
}  // namespace Lumetra::Testing
