// The argument stack and call frames.
#include "tests/unit/stack_fixture.h"

using namespace kiv;
using namespace kiv::test;

using Stack = StackTest;

TEST_F(Stack, PushPopAndResults) {
    kiv_value one = int_value(1), two = int_value(2);
    stack::push_value(&one);
    stack::push_value(&two);
    EXPECT_EQ(stack::top - stack::bottom, 2);
    EXPECT_EQ(stack::get_top()->data2, 2u);
    stack::pop_into_previous();
    EXPECT_EQ(stack::top - stack::bottom, 1);
    EXPECT_EQ(stack::bottom->data2, 2u);
    stack::pop(5);  // more than the stack holds
    EXPECT_EQ(stack::top, stack::bottom);
    EXPECT_EQ(stack::get_top(), stack::bottom);
}

TEST_F(Stack, ArgumentOverflowRaisesStackOverflowWithRoomLeft) {
    stack::mark_try(nullptr);
    uint32_t pushed = 0;
    kiv_value e = raised([&] {
        for (;;) {
            stack::push();
            pushed++;
        }
    });
    expect_error(e, err::INTERNAL, err::internal::stack_overflow);
    EXPECT_EQ(pushed, stack::ARGUMENT_CELLS - 1);
    EXPECT_LE(stack::top, stack::end - 3);  // the error sits in the freed cells
    EXPECT_EQ(stack::ctop, stack::cbottom);
}

TEST_F(Stack, CallOverflowAtTwelveThousandFrames) {
    EXPECT_EQ(stack::cend - stack::cbottom, 12000);
    stack::mark_try(nullptr);
    uint32_t marked = 1;
    kiv_value e = raised([&] {
        for (;;) {
            stack::mark_loop(nullptr);
            marked++;
        }
    });
    expect_error(e, err::INTERNAL, err::internal::stack_overflow);
    EXPECT_EQ(marked, 12000u);
}

TEST_F(Stack, MarkAndUnwindPassResults) {
    kiv_value w = word(42, 7);
    kiv_value five = int_value(5);
    stack::push();  // the caller's result slot
    stack::mark_native(&w);
    call_frame* f = stack::current_frame();
    EXPECT_EQ(frame_type_of(f), uint32_t(FT_NATIVE));
    EXPECT_EQ(frame_symbol(f), 42u);
    EXPECT_EQ(f->ctx, 7u);
    EXPECT_EQ(stack::arguments, stack::top);
    stack::push_value(&five);
    stack::push();
    stack::unwind_last();
    EXPECT_EQ(stack::arguments, stack::bottom);
    EXPECT_EQ(stack::bottom->data2, 5u);
    EXPECT_EQ(stack::top, stack::bottom + 2);  // the callee's result is the last value
    EXPECT_EQ(stack::ctop, stack::cbottom);
}

TEST_F(Stack, FunctionFramesRestoreTheirContextValues) {
    node_id ctx = function_context(0);
    stack::mark_func(nullptr, ctx);  // outer call
    stack::push();
    stack::mark_func_body(nullptr, ctx);
    uint32_t outer = stack::context_values(ctx);
    EXPECT_EQ(outer, stack::index_of(stack::arguments - 1) + 1);
    stack::mark_func(nullptr, ctx);  // a recursive call
    stack::push();
    stack::mark_func_body(nullptr, ctx);
    EXPECT_NE(stack::context_values(ctx), outer);
    stack::unwind_func();
    stack::unwind_func();
    EXPECT_EQ(stack::context_values(ctx), outer);
    stack::unwind_func_drop();
    stack::unwind_func_drop();
    EXPECT_EQ(stack::context_values(ctx), 0u);
    EXPECT_EQ(stack::top, stack::bottom);
}

TEST_F(Stack, UnrollStopsAtTryAll) {
    stack::mark_catch(nullptr);
    stack::mark_try_all(nullptr);
    call_frame* try_all = stack::current_frame();
    stack::mark_native(nullptr);
    stack::mark_native(nullptr);
    stack::unroll(FT_CATCH, false);
    EXPECT_EQ(stack::ctop, try_all + 1);
}

TEST_F(Stack, UnrollKeepDecidesTheBase) {
    stack::push();
    stack::mark_loop(nullptr);
    kiv_value* loop_base = stack::arguments;
    stack::push();
    stack::push();
    stack::mark_native(nullptr);
    stack::push();
    stack::unroll(FT_LOOP, true);
    EXPECT_EQ(stack::arguments, loop_base);
    EXPECT_EQ(stack::ctop, stack::cbottom + 1);

    stack::mark_native(nullptr);
    stack::unroll(FT_LOOP, false);
    EXPECT_EQ(stack::arguments, stack::bottom);  // the loop's caller's base
    EXPECT_EQ(stack::ctop, stack::cbottom + 1);
}

TEST_F(Stack, UnrollLastCarriesTheResultToTheFoundFrame) {
    stack::push();
    stack::mark_loop(nullptr);
    kiv_value* loop_base = stack::arguments;
    stack::push();
    stack::mark_native(nullptr);
    kiv_value nine = int_value(9);
    stack::push_value(&nine);
    stack::unroll_last(FT_LOOP);
    EXPECT_EQ(stack::arguments, loop_base);
    EXPECT_EQ(stack::top, loop_base);
    EXPECT_EQ(loop_base->data2, 9u);
}

TEST_F(Stack, FrameFlagsAndQueries) {
    stack::mark_native(nullptr);
    stack::mark_native(nullptr);
    EXPECT_FALSE(stack::eval_q(nullptr, false));
    EXPECT_TRUE(stack::set_parent_in_func_flag());
    EXPECT_FALSE(stack::set_parent_in_func_flag());
    stack::mark_interp_native(nullptr);
    EXPECT_TRUE(stack::eval_q(nullptr, true));
    EXPECT_FALSE(stack::eval_q(stack::current_frame() - 1, true));
    kiv_value w = word(300);
    stack::set_frame_symbol(&w);
    EXPECT_EQ(frame_symbol(stack::current_frame()), 300u);
    kiv_value not_a_word = int_value(1);
    stack::set_frame_symbol(&not_a_word);
    EXPECT_EQ(frame_symbol(stack::current_frame()), 300u);
}

TEST_F(Stack, ResetArgsMarksOrClearsARefinement) {
    stack::push();
    kiv_value cells[3] = {{TYPE_LOGIC, 0, 0, 0}, int_value(1), int_value(2)};
    for (auto& c : cells) stack::push_value(&c);
    kiv_value yes{TYPE_LOGIC, 1, 0, 0}, no{TYPE_NONE, 0, 0, 0};
    stack::reset_args(&yes, 1, 2);
    EXPECT_EQ(stack::arguments[1].data1, 1u);
    EXPECT_EQ(type_of(&stack::arguments[2]), uint32_t(TYPE_INTEGER));
    stack::reset_args(&no, 1, 2);
    EXPECT_EQ(type_of(&stack::arguments[2]), uint32_t(TYPE_NONE));
    EXPECT_EQ(type_of(&stack::arguments[3]), uint32_t(TYPE_NONE));
}
