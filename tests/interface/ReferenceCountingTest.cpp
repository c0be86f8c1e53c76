// Lifetime of interfaced objects: the two counters, the end of life, creation with one
// reference, and the out-slot rule of InterfacePtr.

#include <gtest/gtest.h>

#include <vector>

#include "interface/InterfacedObject.h"
#include "tests/interface/CountingFakes.h"

namespace Lumetra::InterfaceContract {
namespace {

struct LifeLog {
    std::vector<const char*> events;
};

class Tracked final : public InterfacedObject {
public:
    explicit Tracked(LifeLog& log) : log_(log) {}
    ~Tracked() override { log_.events.push_back("destroyed"); }

    void partialDestroy(int level) override {
        EXPECT_EQ(level, 0);
        log_.events.push_back("partialDestroy");
    }

private:
    LifeLog& log_;
};

TEST(ReferenceCounting, CountsReturnedByAddRefAndReleaseAndDeletionAtZero) {
    LifeLog log;
    IInterface* face = createInterfaced<IInterface, Tracked>(log).detach();
    EXPECT_EQ(face->AddRef(), 2u);
    EXPECT_EQ(face->Release(), 1u);
    EXPECT_TRUE(log.events.empty());
    EXPECT_EQ(face->Release(), 0u);
    EXPECT_EQ(log.events, (std::vector<const char*>{"partialDestroy", "destroyed"}));
}

TEST(ReferenceCounting, LookupAddsToTheSameObject) {
    LifeLog log;
    InterfacePtr<IInterface> face = createInterfaced<IInterface, Tracked>(log);
    void* result = nullptr;
    ASSERT_EQ(face->QueryInterface(IInterface::interfaceId, &result), ExceptionCode::Ok);
    EXPECT_EQ(result, static_cast<void*>(face.get()));
    face.reset();
    EXPECT_TRUE(log.events.empty()) << "the lookup's reference keeps the object alive";
    EXPECT_EQ(static_cast<IInterface*>(result)->Release(), 0u);
    EXPECT_EQ(log.events.size(), 2u);
}

TEST(ReferenceCounting, SmartPointerCopiesAndMovesKeepCountsExact) {
    LifeLog log;
    InterfacePtr<IInterface> first = createInterfaced<IInterface, Tracked>(log);
    {
        InterfacePtr<IInterface> copy = first;
        InterfacePtr<IInterface> moved = std::move(copy);
        EXPECT_FALSE(copy);
        EXPECT_EQ(first->AddRef(), 3u);
        first->Release();
    }
    EXPECT_EQ(first->AddRef(), 2u);
    first->Release();
    first = nullptr;
    EXPECT_EQ(log.events.size(), 2u);
}

using Testing::CountingInterface;

TEST(OutSlot, ReplacesAndReleasesThePreviousContent) {
    CountingInterface previous;
    CountingInterface incoming;
    IInterface* slot = &previous;
    InterfacePtr<IInterface>(&incoming).storeInto(&slot);
    EXPECT_EQ(slot, &incoming);
    EXPECT_EQ(previous.releases, 1);
    EXPECT_EQ(incoming.references, 2u) << "the original one plus the slot's";
}

TEST(OutSlot, SamePointerIsLeftAlone) {
    CountingInterface held;
    IInterface* slot = &held;
    InterfacePtr<IInterface>(&held).storeInto(&slot);
    EXPECT_EQ(slot, &held);
    EXPECT_EQ(held.references, 1u);
}

TEST(OutSlot, NullEmptiesTheSlot) {
    CountingInterface previous;
    IInterface* slot = &previous;
    InterfacePtr<IInterface>().storeInto(&slot);
    EXPECT_EQ(slot, nullptr);
    EXPECT_EQ(previous.releases, 1);
}

}  // namespace
}  // namespace Lumetra::InterfaceContract
