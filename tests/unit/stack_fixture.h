#pragma once
// Helpers for tests that drive the stacks directly.
#include <gtest/gtest.h>

#include "runtime/errors.h"
#include "runtime/exits.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/system.h"

namespace kiv::test {

// Starts each test with empty stacks and no exit pending.
class StackTest : public ::testing::Test {
  protected:
    void SetUp() override {
        stack::arguments = stack::top = stack::bottom;
        stack::ctop = stack::cbottom;
        stack::throw_origin = nullptr;
        sys.pending_exit = LEVEL_NONE;
    }
};

inline kiv_value int_value(int32_t v) { return kiv_value{TYPE_INTEGER, 0, uint32_t(v), 0}; }

// A word cell naming symbol `sym` in context `ctx`.
inline kiv_value word(uint32_t sym, node_id ctx = 0) { return kiv_value{TYPE_WORD, ctx, sym, 0}; }

// A function context: a two-cell series whose header cell holds the values word.
inline node_id function_context(uint32_t values) {
    node_id n = memory::alloc_cells(2);
    series_buffer* b = series::buffer(n);
    auto* header = reinterpret_cast<kiv_value*>(b->offset);
    header[0] = kiv_value{TYPE_CONTEXT, 0, values, 0};
    header[1] = kiv_value{TYPE_NONE, 0, 0, 0};
    b->tail = b->offset + 2 * sizeof(kiv_value);
    return n;
}

// Runs the code and returns the error it raised (the error's cell).
template <class F>
kiv_value raised(F code) {
    try {
        code();
    } catch (const kiv_exit& e) {
        EXPECT_EQ(e.level, uint32_t(LEVEL_ERROR));
        return *stack::get_top();
    }
    ADD_FAILURE() << "no error raised";
    return kiv_value{};
}

inline void expect_error(const kiv_value& e, err::category c, uint32_t id) {
    EXPECT_EQ(type_of(&e), uint32_t(TYPE_ERROR));
    EXPECT_EQ(error::category_of(&e), c);
    EXPECT_EQ(error::id_of(&e), id);
}

}  // namespace kiv::test
