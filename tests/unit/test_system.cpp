// Process-level failures: the fatal report, signals and native stack depth.
#include <csignal>

#include "tests/unit/stack_fixture.h"

using namespace kiv;
using namespace kiv::test;

TEST(RuntimeError, ReportTextAndStatus) {
    char buf[160];
    system::format_runtime_error(buf, sizeof buf, 94, 0x1234);
    EXPECT_STREQ(buf, "*** Runtime Error 94: out of memory\n*** at: 00001234h\n");
    EXPECT_STREQ(system::runtime_error_text(6), "float denormal operan");
    EXPECT_STREQ(system::runtime_error_text(77), "unknown error code!");
    EXPECT_EXIT(system::runtime_error(95), ::testing::ExitedWithCode(95),
                "^\\*\\*\\* Runtime Error 95: no CATCH for THROW\n\\*\\*\\* at: 00000000h\n$");
    EXPECT_EXIT(system::runtime_error(77), ::testing::ExitedWithCode(77), "unknown error code!");
    EXPECT_EXIT(system::runtime_error(0), ::testing::ExitedWithCode(0), "^$");
}

static int touch(volatile int* p) { return *p; }

TEST(RuntimeError, SignalsBecomeRuntimeErrors) {
    EXPECT_EXIT(touch(nullptr), ::testing::ExitedWithCode(1), "Runtime Error 1: access violation");
    EXPECT_EXIT(raise(SIGBUS), ::testing::ExitedWithCode(34), "Runtime Error 34: Bus error");
    EXPECT_EXIT(raise(SIGINT), ::testing::ExitedWithCode(130), "^$");
}

// Recursion that never checks its depth: the guard page stops it.
static int runaway(int n) {
    volatile char pad[256];
    pad[0] = char(n);
    if (n < 0) return 0;
    return runaway(n + 1) + pad[0];
}

TEST(RuntimeError, UncheckedNativeOverflowIsReported) {
    EXPECT_EXIT(runaway(0), ::testing::ExitedWithCode(19), "stack error or overflow");
}

using NativeStack = StackTest;

static int deep(int n) {
    system::check_native_stack();
    volatile char pad[128];
    pad[0] = char(n);
    if (n < 0) return 0;
    return deep(n + 1) + pad[0];
}

TEST_F(NativeStack, DeepRecursionRaisesStackOverflow) {
    stack::mark_try(nullptr);
    expect_error(raised([] { deep(0); }), err::INTERNAL, err::internal::stack_overflow);
    // The stacks stay usable afterwards.
    stack::mark_try(nullptr);
    expect_error(raised([] { deep(0); }), err::INTERNAL, err::internal::stack_overflow);
}
