// native!, action!, op!, function! and routine!.
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "tests/unit/action_fixture.h"

using namespace kiv;
using namespace kiv::test;

using Callables = StackTest;

namespace {
kiv_value w(const char* n, uint32_t t = TYPE_WORD) { return word_of(n, t); }
kiv_value blk(std::vector<kiv_value> cells) { return block_of(cells); }
std::string m(const kiv_value& v) { return molded(v); }
kiv_value native_of(std::vector<kiv_value> spec, int32_t index, uint32_t type = TYPE_NATIVE) {
    return call(SLOT_MAKE, {dtype(type), blk({blk(spec), int_value(index)})});
}
kiv_value reflect(const kiv_value& v, const char* field) { return call(SLOT_REFLECT, {v, w(field)}); }
}  // namespace

TEST_F(Callables, NativesAndActionsFromTheirConstructionBlocks) {
    kiv_value n = native_of({w("cond"), w("then-blk")}, 1);
    EXPECT_EQ(type_of(&n), uint32_t(TYPE_NATIVE));
    EXPECT_EQ(formed(n), "?native?");
    EXPECT_EQ(m(n), "make native! [[cond then-blk]]");
    EXPECT_EQ(int_of(reflect(n, "body")), 1);
    EXPECT_EQ(m(reflect(n, "spec")), "[cond then-blk]");
    kiv_value add = native_of({w("value1"), w("value2")}, SLOT_ADD, TYPE_ACTION);
    kiv_value sub = native_of({w("value1"), w("value2")}, SLOT_SUBTRACT, TYPE_ACTION);
    EXPECT_EQ(formed(add), "?action?");
    EXPECT_TRUE(actions::compare(&add, &add, COMP_EQUAL));
    EXPECT_FALSE(actions::compare(&add, &sub, COMP_EQUAL));
    stack::mark_try(nullptr);
    expect_error(raised([&] { actions::compare(&add, &sub, COMP_LESSER); }), err::SCRIPT, err::script::invalid_compare);
    for (int32_t bad : {0, 121}) {
        SetUp();
        stack::mark_try(nullptr);
        expect_error(raised([&] { native_of({}, bad); }), err::SCRIPT, err::script::bad_make_arg);
    }
    SetUp();
    stack::mark_try(nullptr);
    expect_error(raised([&] { native_of({}, 63, TYPE_ACTION); }), err::SCRIPT, err::script::bad_make_arg);
    SetUp();
    stack::mark_try(nullptr);
    expect_error(raised([&] { reflect(n, "words"); }), err::INTERNAL, err::internal::not_done);
}

TEST_F(Callables, OpsWrapTwoArgumentCallables) {
    kiv_value add = native_of({w("value1"), w("value2")}, SLOT_ADD, TYPE_ACTION);
    kiv_value plus = call(SLOT_MAKE, {dtype(TYPE_OP), add});
    EXPECT_EQ(type_of(&plus), uint32_t(TYPE_OP));
    EXPECT_EQ(op_wrapped_type(&plus), uint32_t(TYPE_ACTION));
    EXPECT_EQ(formed(plus), "?op?");
    EXPECT_EQ(m(reflect(plus, "spec")), "[value1 value2]");
    struct Case {
        std::vector<kiv_value> spec;
        bool ok;
    } cases[] = {
        {{w("a"), w("b"), w("local", TYPE_REFINEMENT), w("c")}, true},
        {{w("a"), w("b"), w("only", TYPE_REFINEMENT)}, false},
        {{w("a"), w("b"), w("c")}, false},
        {{w("a", TYPE_LIT_WORD), w("b")}, false},
        {{w("a"), w("b", TYPE_GET_WORD)}, true},
        {{w("a")}, false},
    };
    for (const Case& c : cases) {
        kiv_value spec = blk(c.spec);
        EXPECT_EQ(op::check_spec(&spec), c.ok);
    }
    stack::mark_try(nullptr);
    expect_error(raised([] { call(SLOT_MAKE, {dtype(TYPE_OP), int_value(1)}); }), err::SCRIPT, err::script::invalid_type);
}

TEST_F(Callables, SpecValidation) {
    kiv_value ints = blk({dtype(TYPE_INTEGER)});
    kiv_value doc = str("doc");
    struct Case {
        std::vector<kiv_value> spec;
        uint32_t id;  // 0: accepted
    } cases[] = {
        {{w("a"), ints, doc}, 0},
        {{doc, w("a"), w("b"), w("r", TYPE_REFINEMENT), w("x"), w("local", TYPE_REFINEMENT), w("l")}, 0},
        {{w("a"), w("return", TYPE_SET_WORD), ints}, 0},
        {{w("a"), doc, ints}, err::script::bad_func_def},
        {{w("local", TYPE_REFINEMENT), w("l", TYPE_LIT_WORD)}, err::script::bad_func_def},
        {{w("return", TYPE_SET_WORD), ints, w("a")}, err::script::bad_func_def},
        {{w("local", TYPE_REFINEMENT), w("l"), w("r", TYPE_REFINEMENT)}, err::script::bad_func_def},
        {{w("x", TYPE_SET_WORD), ints}, err::script::bad_func_def},
        {{w("a"), w("a")}, err::script::dup_vars},
        {{w("a"), w("local", TYPE_REFINEMENT), w("A")}, err::script::dup_vars},
        {{w("a"), blk({int_value(1)})}, err::script::invalid_type_spec},
        {{blk({int_value(1)}), w("a")}, err::script::bad_func_def},
    };
    for (const Case& c : cases) {
        kiv_value spec = blk(c.spec);
        SetUp();
        stack::mark_try(nullptr);
        if (c.id == 0) {
            EXPECT_NO_THROW(function::check_spec(&spec)) << m(spec);
        } else {
            expect_error(raised([&] { function::check_spec(&spec); }), err::SCRIPT, c.id);
        }
    }
    kiv_value traced = blk({blk({w("trace")}), w("a")});
    EXPECT_EQ(function::check_spec(&traced), FUNCTION_TRACE);
}

TEST_F(Callables, FunctionsCopyAndBindTheirBody) {
    kiv_value body = blk({w("a"), w("+"), w("b")});
    kiv_value fn = call(SLOT_MAKE, {dtype(TYPE_FUNCTION), blk({blk({w("a"), w("b")}), body})});
    EXPECT_EQ(type_of(&fn), uint32_t(TYPE_FUNCTION));
    kiv_value copy = reflect(fn, "body");
    EXPECT_EQ(m(copy), "[a + b]");
    EXPECT_EQ(block::cells(&copy)[0].data1, fn.data1);        // bound to the function
    EXPECT_EQ(block::cells(&copy)[1].data1, _context::global);  // not a local
    block::cells(&body)[0] = int_value(0);
    EXPECT_EQ(m(reflect(fn, "body")), "[a + b]");
    EXPECT_EQ(formed(fn), "?function?");
    EXPECT_EQ(m(fn), "func [a b][a + b]");
    EXPECT_EQ(m(reflect(fn, "words")), "[a b]");
    EXPECT_TRUE(actions::compare(&fn, &fn, COMP_EQUAL));
    kiv_value other = call(SLOT_MAKE, {dtype(TYPE_FUNCTION), blk({blk({w("a"), w("b")}), blk({w("a")})})});
    EXPECT_FALSE(actions::compare(&fn, &other, COMP_EQUAL));
}

TEST_F(Callables, CollectingLocals) {
    kiv_value spec = blk({w("a")});
    kiv_value body = blk({w("b", TYPE_SET_WORD), int_value(1), w("foreach"), blk({w("c"), w("d")}), w("x"),
                          w("repeat"), w("e"), int_value(3), blk({w("f", TYPE_SET_WORD), w("a", TYPE_SET_WORD)})});
    function::collect_locals(&spec, &body);
    EXPECT_EQ(m(spec), "[a /local b c d e f]");
    kiv_value ext = blk({w("a"), w("extern", TYPE_REFINEMENT), w("b")});
    kiv_value sets_b = blk({w("b", TYPE_SET_WORD), int_value(1), w("z", TYPE_SET_WORD), int_value(2)});
    function::collect_locals(&ext, &sets_b);
    EXPECT_EQ(m(ext), "[a /local z]");
    kiv_value with_local = blk({w("a"), w("local", TYPE_REFINEMENT), w("x"), w("y")});
    EXPECT_EQ(function::locate_refinement(&with_local, 0, false), 3);
    kiv_value none_local = blk({w("a")});
    EXPECT_EQ(function::locate_refinement(&none_local, 0, false), 0);
    EXPECT_EQ(function::locate_refinement(&none_local, 0, true), -1);
    kiv_value* before = stack::top;
    function::init_locals(3);
    EXPECT_EQ(stack::top - before, 3);
    EXPECT_EQ(type_of(before), uint32_t(TYPE_LOGIC));
    EXPECT_EQ(type_of(before + 2), uint32_t(TYPE_NONE));
}
