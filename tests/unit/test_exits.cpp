// Non-local exits reach the frame that takes them.
#include "tests/unit/stack_fixture.h"

using namespace kiv;
using namespace kiv::test;

using Exits = StackTest;

TEST_F(Exits, BreakAndContinueReachTheLoop) {
    struct Case {
        bool with_value, continue_flag;
        uint32_t level, result_type;
    } cases[] = {
        {false, false, LEVEL_BREAK, TYPE_UNSET},
        {true, false, LEVEL_BREAK, TYPE_INTEGER},  // break/return 5
        {false, true, LEVEL_CONTINUE, TYPE_UNSET},
    };
    for (const Case& c : cases) {
        SetUp();
        stack::push();
        stack::mark_loop(nullptr);
        kiv_value* loop_base = stack::arguments;
        call_frame* loop = stack::current_frame();
        stack::push();
        stack::mark_native(nullptr);
        stack::mark_native(nullptr);
        kiv_value five = int_value(5);
        stack::push_value(&five);
        stack::throw_break(c.with_value, c.continue_flag);
        EXPECT_EQ(sys.pending_exit, c.level);
        EXPECT_EQ(stack::ctop, loop + 1);
        EXPECT_EQ(stack::arguments, loop_base);
        EXPECT_EQ(stack::top, loop_base);
        EXPECT_EQ(type_of(loop_base), c.result_type);
    }
}

TEST_F(Exits, BreakOutsideALoopIsAnError) {
    stack::mark_try(nullptr);
    stack::mark_native(nullptr);
    expect_error(raised([] { stack::throw_break(false, false); }), err::THROW, err::throw_::break_);
    SetUp();
    stack::mark_try(nullptr);
    stack::mark_native(nullptr);
    expect_error(raised([] { stack::throw_break(false, true); }), err::THROW, err::throw_::continue_);
}

TEST_F(Exits, TryAllInsideALoopCatchesTheBreak) {
    stack::mark_try(nullptr);
    stack::mark_loop(nullptr);
    stack::mark_try_all(nullptr);
    call_frame* try_all = stack::current_frame();
    stack::mark_native(nullptr);
    expect_error(raised([] { stack::throw_break(false, false); }), err::THROW, err::throw_::break_);
    EXPECT_EQ(stack::ctop, try_all);  // the try/all frame took it and was popped
}

TEST_F(Exits, ReturnAndExitReachTheFunction) {
    for (bool is_return : {true, false}) {
        SetUp();
        node_id ctx = function_context(0);
        stack::mark_try(nullptr);
        stack::push();
        stack::mark_func(nullptr, ctx);
        stack::push();
        stack::mark_func_body(nullptr, ctx);
        call_frame* body = stack::current_frame();
        kiv_value* body_base = stack::arguments;
        stack::mark_native(nullptr);  // the `return` native's own frame
        kiv_value seven = int_value(7);
        stack::push_value(&seven);
        stack::throw_exit(is_return, false);
        EXPECT_EQ(sys.pending_exit, uint32_t(is_return ? LEVEL_RETURN : LEVEL_EXIT));
        EXPECT_EQ(stack::ctop, body + 1);
        EXPECT_EQ(stack::arguments, body_base);
        EXPECT_EQ(type_of(body_base), uint32_t(is_return ? TYPE_INTEGER : TYPE_UNSET));
    }
}

TEST_F(Exits, ReturnAtTopLevelIsAnError) {
    stack::mark_try(nullptr);
    stack::mark_native(nullptr);
    expect_error(raised([] { stack::throw_exit(true, true); }), err::THROW, err::throw_::return_);
}

TEST_F(Exits, ThrowReachesTheCatchWithValueAndName) {
    stack::mark_try(nullptr);
    stack::push();
    stack::mark_catch(nullptr);
    call_frame* c = stack::current_frame();
    kiv_value* catch_base = stack::arguments;
    stack::push();
    stack::mark_loop(nullptr);
    stack::mark_native(nullptr);  // the `throw` native
    kiv_value value = int_value(1), name = word(12);
    stack::push_value(&value);
    stack::push_value(&name);
    try {
        stack::throw_throw(LEVEL_THROW);
        ADD_FAILURE() << "throw returned";
    } catch (const kiv_exit& e) {
        EXPECT_EQ(e.level, uint32_t(LEVEL_THROW));
    }
    EXPECT_EQ(sys.pending_exit, uint32_t(LEVEL_THROW));
    EXPECT_EQ(stack::ctop, c + 1);
    EXPECT_EQ(stack::top, catch_base + 2);
    EXPECT_EQ(catch_base[0].data2, 1u);
    EXPECT_EQ(catch_base[1].data2, 12u);
    EXPECT_NE(stack::throw_origin, nullptr);
}

TEST_F(Exits, ThrowWithoutCatchIsAnError) {
    stack::mark_try(nullptr);
    stack::mark_native(nullptr);
    kiv_value value = int_value(1);
    stack::push_value(&value);
    stack::push();
    expect_error(raised([] { stack::throw_throw(LEVEL_THROW); }), err::THROW, err::throw_::throw_);
}

TEST_F(Exits, AnErrorReachesTheTryAndRestoresFunctionContexts) {
    node_id ctx = function_context(0);
    stack::mark_try(nullptr);
    call_frame* t = stack::current_frame();
    stack::mark_func(nullptr, ctx);
    stack::push();
    stack::mark_func_body(nullptr, ctx);
    stack::mark_loop(nullptr);
    kiv_value e = raised([] { fire(err::MATH, err::math::zero_divide); });
    expect_error(e, err::MATH, err::math::zero_divide);
    EXPECT_EQ(stack::ctop, t);
    EXPECT_EQ(stack::context_values(ctx), 0u);
}

TEST(ExitsDeath, AnUncaughtErrorEndsWithStatusMinusTwo) {
    EXPECT_EXIT(
        {
            stack::ctop = stack::cbottom;
            stack::mark_native(nullptr);
            fire(err::SCRIPT, err::script::past_end);
        },
        ::testing::ExitedWithCode(254), "\\*\\*\\* Script Error: out of range or past end\n");
}
