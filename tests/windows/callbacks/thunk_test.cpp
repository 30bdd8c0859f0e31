// cb_Callback: entries that call an object's handler with the caller's arguments, and its failures.
#include <gtest/gtest.h>

#include <stdexcept>

#include "checked_call.h"
#include "message_box_watcher.h"
#include "tests/windows/support/fault_codes.h"
#include "thread_rules.h"
#include "webview/thunks/method_thunks.h"
#include "webview/x86/guarded_call.h"
#include "webview/x86/method_thunk.h"

using velview::thunks::Method;
using velview::thunks::MethodOf;
using velview::thunks::MethodThunks;
using callbacks_test::CallStdcallChecked;

namespace {

int g_destroyed = 0;

class TestOwner {
public:
    explicit TestOwner(std::uint32_t base = 0) : base_(base) {}
    ~TestOwner() { ++g_destroyed; }
    ULONG AddRef() { return static_cast<ULONG>(++refs_); }
    ULONG Release() {
        const long left = --refs_;
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }
    long refs() const { return refs_; }
    int calls = 0;

    // Handlers in declaration order: ordinal 1 is the last one.
    std::uint32_t LetGo(std::uint32_t marker) {  // drops the caller's reference while it runs
        Release();
        ++calls;
        return base_ + marker;
    }
    std::uint32_t Fault(std::uint32_t address) { return *reinterpret_cast<volatile std::uint32_t*>(address); }
    std::uint32_t Throw(std::uint32_t) { throw std::runtime_error("handler failed"); }
    std::uint32_t Nest(std::uint32_t depth) {  // calls itself again through its own entry
        ++calls;
        if (depth == 0) return 1;
        auto self = reinterpret_cast<std::uint32_t(__stdcall*)(std::uint32_t)>(nestEntry);
        return 10 * self(depth - 1) + 1;
    }
    std::uint64_t Wide(std::uint32_t low, std::uint32_t high) {
        ++calls;
        return (static_cast<std::uint64_t>(high) << 32) | low;
    }
    std::uint32_t Seven(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d, std::uint32_t e,
                        std::uint32_t f, std::uint32_t g) {
        ++calls;
        return base_ + a * 1000000 + b * 100000 + c * 10000 + d * 1000 + e * 100 + f * 10 + g;
    }
    std::uint32_t None() {
        ++calls;
        return base_ + 77;
    }
    std::uint32_t Pair(std::uint32_t a, std::uint32_t b) {
        ++calls;
        return base_ + a * 10 + b;
    }

    static const Method kMethods[8];
    MethodThunks<TestOwner, 5> thunks{*this, L"TestOwner", kMethods};
    std::uint32_t nestEntry = 0;

private:
    std::uint32_t base_;
    long refs_ = 1;
};

const Method TestOwner::kMethods[8] = {
    MethodOf<&TestOwner::LetGo>(), MethodOf<&TestOwner::Fault>(), MethodOf<&TestOwner::Throw>(),
    MethodOf<&TestOwner::Nest>(),  MethodOf<&TestOwner::Wide>(),  MethodOf<&TestOwner::Seven>(),
    MethodOf<&TestOwner::None>(),  MethodOf<&TestOwner::Pair>(),
};
// Ordinals (counted from the end of the table above).
enum Ordinal { kPair = 1, kNone, kSeven, kWide, kNest, kThrow, kFault, kLetGo };

}  // namespace

TEST(MethodThunks, EntriesCallTheHandlerWithTheCallersArgumentsAndRemoveThem) {
    TestOwner owner(5000000);
    EXPECT_EQ(owner.thunks.StubBlock(), 0u) << "no block before the first request";
    struct Case {
        int ordinal, params, slot;
        std::uint32_t args[7];
        std::uint64_t expected;
    };
    const Case cases[] = {
        {kPair, 2, 0, {3, 4}, 5000034},
        {kNone, 0, 1, {}, 5000077},
        {kSeven, 7, 2, {1, 2, 3, 4, 5, 6, 7}, 5000000 + 1234567},
        {kWide, 2, 3, {0x89ABCDEF, 0x01234567}, 0x0123456789ABCDEFull},
    };
    for (const Case& c : cases) {
        const std::uint32_t entry = owner.thunks.cb_Callback(c.ordinal, c.params, c.slot);
        ASSERT_NE(entry, 0u) << "ordinal " << c.ordinal;
        EXPECT_EQ(entry, owner.thunks.StubBlock() + c.slot * velview::x86::kMethodSlotSize +
                             velview::x86::kMethodEntryOffset);
        const auto call = CallStdcallChecked(reinterpret_cast<const void*>(entry), c.args, c.params);
        EXPECT_EQ(call.stackDelta, 0) << "ordinal " << c.ordinal << " left the stack unbalanced";
        const std::uint64_t result = (static_cast<std::uint64_t>(call.high) << 32) | call.low;
        if (c.ordinal == kWide)
            EXPECT_EQ(result, c.expected) << "a 64-bit result comes back whole in EDX:EAX";
        else
            EXPECT_EQ(call.low, static_cast<std::uint32_t>(c.expected)) << "ordinal " << c.ordinal;
    }
    EXPECT_EQ(owner.calls, 4);
}

TEST(MethodThunks, TheLastSlotOfAReceiverSizedBlockWorks) {
    struct Big : TestOwner {
        MethodThunks<TestOwner, 27> wide{*this, L"Big", TestOwner::kMethods};
    } owner;
    const std::uint32_t entry = owner.wide.cb_Callback(kPair, 2, 26);
    ASSERT_NE(entry, 0u);
    const std::uint32_t args[2] = {8, 9};
    EXPECT_EQ(CallStdcallChecked(reinterpret_cast<const void*>(entry), args, 2).low, 89u);
}

TEST(MethodThunks, AnEntryIsReentrant) {
    TestOwner owner;
    owner.nestEntry = owner.thunks.cb_Callback(kNest, 1, 4);
    ASSERT_NE(owner.nestEntry, 0u);
    const std::uint32_t depth[1] = {4};
    const auto call = CallStdcallChecked(reinterpret_cast<const void*>(owner.nestEntry), depth, 1);
    EXPECT_EQ(call.low, 11111u) << "five nested calls through one entry, each with its own argument";
    EXPECT_EQ(call.stackDelta, 0);
    EXPECT_EQ(owner.calls, 5);
}

TEST(MethodThunks, ASlotCanTargetAnotherObjectOfTheOwnersType) {
    TestOwner owner(100);
    auto* other = new TestOwner(900);
    const std::uint32_t entry = owner.thunks.cb_Callback(kPair, 2, 0, other);
    EXPECT_EQ(other->refs(), 2) << "the slot holds its target while the owner lives";
    other->Release();
    const std::uint32_t args[2] = {1, 2};
    EXPECT_EQ(CallStdcallChecked(reinterpret_cast<const void*>(entry), args, 2).low, 912u);
}

TEST(MethodThunks, AHandlerThatThrowsGivesZeroAndAFaultInOneIsNotHidden) {
    TestOwner owner;
    const std::uint32_t thrower = owner.thunks.cb_Callback(kThrow, 1, 0);
    const std::uint32_t unguardedThrower = owner.thunks.cb_Callback(kThrow, 1, 2, nullptr, false);
    const std::uint32_t pair = owner.thunks.cb_Callback(kPair, 2, 3);
    const std::uint32_t badAddress[1] = {0x10};
    for (std::uint32_t entry : {thrower, unguardedThrower}) {
        const auto call = CallStdcallChecked(reinterpret_cast<const void*>(entry), badAddress, 1);
        EXPECT_EQ(call.low, 0u);
        EXPECT_EQ(call.high, 0u);
        EXPECT_EQ(call.stackDelta, 0);
    }
    const std::uint32_t args[2] = {4, 2};
    EXPECT_EQ(CallStdcallChecked(reinterpret_cast<const void*>(pair), args, 2).low, 42u)
        << "entries keep working after a failure";
    EXPECT_EQ(owner.refs(), 1) << "the reference held during each call was given back";

    // The handlers are the library's own code: a processor fault in one is not stopped at its entry but
    // reaches the caller's frames (the test's own guard stands in for the end of the process here; what the
    // entry held is left to the fault, so this owner is not looked at again).
    auto* faulting = new TestOwner();
    const std::uint32_t faulter = faulting->thunks.cb_Callback(kFault, 1, 1);
    const auto fault = velview::x86::CallStdcallGuarded(reinterpret_cast<const void*>(faulter), badAddress, 1);
    EXPECT_TRUE(fault.faulted) << "the entry hid a fault of its handler";
    EXPECT_EQ(fault.code, vantorix::wintest::CodeOfANullPageRead()) << "the fault reached the caller with its own code";
}

// The host-mode guard: the engine must call back on the owner's thread, and an entry on another thread
// gives the neutral result without running its handler; an entry made without the guard runs anywhere.
TEST(MethodThunks, AGuardedEntryRunsItsHandlerOnlyOnItsOwnersThread) {
    TestOwner owner(100);
    const std::uint32_t guarded = owner.thunks.cb_Callback(kPair, 2, 0);
    const std::uint32_t unguarded = owner.thunks.cb_Callback(kPair, 2, 1, nullptr, false);
    const std::uint32_t args[2] = {1, 2};
    callbacks_test::CheckedCall there[2] = {};
    ASSERT_TRUE(callbacks_test::OnOtherThread([&] {
        there[0] = CallStdcallChecked(reinterpret_cast<const void*>(guarded), args, 2);
        there[1] = CallStdcallChecked(reinterpret_cast<const void*>(unguarded), args, 2);
    }));
    EXPECT_EQ(there[0].low, 0u);
    EXPECT_EQ(there[0].stackDelta, 0);
    EXPECT_EQ(there[1].low, 112u);
    EXPECT_EQ(owner.calls, 1) << "only the unguarded entry ran its handler there";
    EXPECT_EQ(CallStdcallChecked(reinterpret_cast<const void*>(guarded), args, 2).low, 112u) << "and here it runs";
}

TEST(MethodThunks, AnOwnerThatLetsGoDuringACallFinishesItThenItsEntriesAnswerZero) {
    auto* owner = new TestOwner(1000);
    const std::uint32_t letGo = owner->thunks.cb_Callback(kLetGo, 1, 0);
    const std::uint32_t pair = owner->thunks.cb_Callback(kPair, 2, 1);
    const int destroyedBefore = g_destroyed;
    const std::uint32_t marker[1] = {7};
    const auto call = CallStdcallChecked(reinterpret_cast<const void*>(letGo), marker, 1);
    EXPECT_EQ(call.low, 1007u) << "the handler ran to its end on a live object";
    EXPECT_EQ(g_destroyed, destroyedBefore + 1) << "the object went when the call returned";
    const std::uint32_t args[2] = {1, 1};
    for (std::uint32_t entry : {letGo, pair}) {
        const auto after = CallStdcallChecked(reinterpret_cast<const void*>(entry), args, entry == pair ? 2 : 1);
        EXPECT_EQ(after.low, 0u) << "a call after the owner is gone gets the neutral result";
        EXPECT_EQ(after.stackDelta, 0) << "and still removes its arguments";
    }
    EXPECT_EQ(g_destroyed, destroyedBefore + 1);
}

TEST(MethodThunks, FailuresShowTheirMessageAndGiveZero) {
    struct Case {
        int ordinal, params, slot;
        const wchar_t* message;
    };
    const Case cases[] = {
        {kPair, 2, 5, L"nThunkNo doesn't exist."},
        {kPair, 2, -1, L"nThunkNo doesn't exist."},
        {0, 2, 0, L"Callback address not found."},
        {9, 2, 0, L"Callback address not found."},
        {kPair, 3, 0, L"Callback address not found."},  // the handler takes 2, not 3
    };
    TestOwner owner;
    for (const Case& c : cases) {
        callbacks_test::MessageBoxWatcher box(L"Error in TestOwner.cb_Callback");
        EXPECT_EQ(owner.thunks.cb_Callback(c.ordinal, c.params, c.slot), 0u);
        ASSERT_TRUE(box.Wait()) << "no message box for slot " << c.slot << " ordinal " << c.ordinal;
        EXPECT_EQ(box.Text(), c.message);
    }
    EXPECT_EQ(owner.thunks.StubBlock(), 0u) << "failed requests make no block";
}
