// The calling thread's message through IExceptionData: the out-array protocol of getMessage and
// the rules of setMessage.

#include <gtest/gtest.h>

#include <string>

#include "simulation/LibraryHost.h"

namespace Lumetra::Testing {
namespace {

using InterfaceContract::IExceptionData;

class ExceptionData : public ::testing::Test {
protected:
    void SetUp() override {
        void* result = nullptr;
        ASSERT_EQ(library->QueryInterface(IExceptionData::interfaceId, &result), ExceptionCode::Ok);
        face = static_cast<IExceptionData*>(result);
    }

    LibraryHost host;
    InterfacePtr<ILibrary> library = host.createLibrary();
    IExceptionData* face = nullptr;
};

TEST_F(ExceptionData, MessageRoundTripsAsBytesWithoutTerminator) {
    const std::string text("first\0second", 12);
    ASSERT_EQ(face->setMessage(inText(text)), ExceptionCode::Ok);
    OutArray<char> out;
    ASSERT_EQ(face->getMessage(out.marshaler()), ExceptionCode::Ok);
    EXPECT_EQ(out.allocateCalls, 1);
    EXPECT_EQ(out.requestedCount, 12u);
    EXPECT_EQ(std::string(out.elements.begin(), out.elements.end()), text);
}

TEST_F(ExceptionData, EmptyMessageStillCallsTheAllocatorOnce) {
    ASSERT_EQ(face->setMessage({nullptr, 0}), ExceptionCode::Ok);
    OutArray<char> out;
    ASSERT_EQ(face->getMessage(out.marshaler()), ExceptionCode::Ok);
    EXPECT_EQ(out.allocateCalls, 1);
    EXPECT_EQ(out.requestedCount, 0u);
}

TEST_F(ExceptionData, DecliningAllocatorIsASuccess) {
    ASSERT_EQ(face->setMessage(inText("kept")), ExceptionCode::Ok);
    OutArray<char> declining(/*decline=*/true);
    EXPECT_EQ(face->getMessage(declining.marshaler()), ExceptionCode::Ok);
    EXPECT_EQ(declining.allocateCalls, 1);
    EXPECT_EQ(declining.requestedCount, 4u);
    EXPECT_EQ(threadMessage(*face), "kept");
}

TEST_F(ExceptionData, BadArgumentsFailWithoutTouchingTheMessage) {
    ASSERT_EQ(face->setMessage(inText("kept")), ExceptionCode::Ok);
    EXPECT_EQ(face->setMessage({nullptr, 3}), ExceptionCode::Failed);
    EXPECT_EQ(face->getMessage({nullptr, nullptr}), ExceptionCode::Failed);
    EXPECT_EQ(threadMessage(*face), "kept");
}

TEST_F(ExceptionData, SuccessfulCallsLeaveTheLastFailureReadable) {
    IEnvironment* slot = nullptr;
    ASSERT_NE(createEnvironment(*library, "", &slot), ExceptionCode::Ok);
    const std::string failure = threadMessage(*face);
    EXPECT_FALSE(failure.empty());
    const InterfacePtr<ILibrary> another = host.createLibrary();
    void* unused = nullptr;
    EXPECT_EQ(another->QueryInterface(ILibrary::interfaceId, &unused), ExceptionCode::Ok);
    another->Release();
    EXPECT_EQ(threadMessage(*another), failure) << "the message is per thread, not per object";
}

}  // namespace
}  // namespace Lumetra::Testing
