// block!: find, select, put, insert/append, change, take, swap, trim, copy
// and the set operations.
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "tests/unit/action_fixture.h"

using namespace kiv;
using namespace kiv::test;

using BlockActions = StackTest;

namespace {

kiv_value w(const char* name) { return word_of(name); }
kiv_value lw(const char* name) { return word_of(name, TYPE_LIT_WORD); }
kiv_value blk(std::vector<kiv_value> cells) { return block_of(cells); }
kiv_value ints(std::initializer_list<int32_t> values) {
    std::vector<kiv_value> cells;
    for (int32_t v : values) cells.push_back(int_value(v));
    return block_of(cells);
}
std::string m(const kiv_value& v) { return molded(v); }

// find's refinements: part only case same any with skip last reverse tail match
enum { PART, ONLY, CASE, SAME, ANY, WITH, SKIP, LAST, REVERSE, TAIL, MATCH };
kiv_value find(kiv_value series, kiv_value value, std::vector<int> flags = {}, kiv_value arg = none_value) {
    std::vector<int32_t> refs(11, -1);
    std::vector<kiv_value> args{series, value};
    for (int f : flags) {
        if (f == PART || f == SKIP || f == WITH) {
            args.push_back(arg);
            refs[size_t(f)] = int32_t(args.size() - 1);
        } else {
            refs[size_t(f)] = 1;
        }
    }
    return call(SLOT_FIND, args, refs);
}
int32_t at_of(const kiv_value& r) { return type_of(&r) == TYPE_NONE ? -1 : int32_t(r.data1); }

}  // namespace

TEST_F(BlockActions, FindByValueSequenceTypeAndPosition) {
    kiv_value abc = blk({w("a"), w("b"), w("c")});
    kiv_value aba = blk({w("a"), w("b"), w("a")});
    EXPECT_EQ(at_of(find(abc, lw("b"))), 1);
    EXPECT_EQ(at_of(find(abc, lw("b"), {TAIL})), 2);
    EXPECT_EQ(at_of(find(aba, lw("a"), {LAST})), 2);
    kiv_value tail = aba;
    tail.data1 = 3;
    EXPECT_EQ(at_of(find(tail, lw("a"), {REVERSE})), 2);
    EXPECT_EQ(at_of(find(ints({1, 2, 3, 4}), ints({2, 3}))), 1);
    EXPECT_EQ(at_of(find(blk({int_value(1), ints({2, 3}), int_value(4)}), ints({2, 3}), {ONLY})), 1);
    EXPECT_EQ(at_of(find(ints({1, 2, 3}), ints({3, 4}))), -1);
    EXPECT_EQ(at_of(find(blk({int_value(1), none_value, int_value(2)}), dtype(TYPE_NONE))), 1);
    EXPECT_EQ(at_of(find(blk({int_value(1), none_value}), dtype(TYPE_NONE), {ONLY})), -1);
    EXPECT_EQ(at_of(find(blk({w("a"), int_value(1), w("b"), int_value(2)}), lw("b"), {SKIP}, int_value(2))), 2);
    EXPECT_EQ(at_of(find(blk({w("a"), w("b"), w("b"), int_value(1)}), lw("b"), {SKIP}, int_value(2))), 2);
    EXPECT_EQ(at_of(find(abc, lw("c"), {PART}, int_value(2))), -1);
    EXPECT_EQ(at_of(find(blk({w("a"), w("b")}), lw("a"), {MATCH})), 0);
    EXPECT_EQ(at_of(find(blk({w("b"), w("a")}), lw("a"), {MATCH})), -1);
    EXPECT_EQ(at_of(find(blk({w("A")}), lw("a"), {CASE})), -1);
    EXPECT_EQ(at_of(find(blk({w("A")}), lw("a"))), 0);
}

TEST_F(BlockActions, SelectAndPut) {
    kiv_value a1b2 = blk({w("a"), int_value(1), w("b"), int_value(2)});
    std::vector<int32_t> none_refs(9, -1);
    EXPECT_EQ(int_of(call(SLOT_SELECT, {a1b2, lw("b")}, none_refs)), 2);
    EXPECT_EQ(type_of_v(call(SLOT_SELECT, {blk({w("a"), int_value(1), w("b")}), lw("b")}, none_refs)),
              uint32_t(TYPE_NONE));
    EXPECT_EQ(int_of(call(SLOT_SELECT, {ints({1, 2, 3}), ints({1, 2})}, none_refs)), 3);
    kiv_value p = blk({w("a"), int_value(1)});
    call(SLOT_PUT, {p, w("b"), int_value(2)}, {-1});
    EXPECT_EQ(m(p), "[a 1 b 2]");
    call(SLOT_PUT, {p, lw("a"), int_value(3)}, {-1});
    EXPECT_EQ(m(p), "[a 3 b 2]");
    kiv_value lone = blk({w("a")});
    call(SLOT_PUT, {lone, lw("a"), int_value(3)}, {-1});
    EXPECT_EQ(m(lone), "[a 3]");
}

TEST_F(BlockActions, InsertAppendAndChange) {
    kiv_value one = ints({1});
    kiv_value r = call(SLOT_APPEND, {one, ints({2, 3})}, {-1, -1, -1});
    EXPECT_EQ(m(r), "[1 2 3]");
    EXPECT_EQ(r.data1, 0u);
    EXPECT_EQ(m(call(SLOT_APPEND, {ints({1}), ints({2, 3})}, {-1, 1, -1})), "[1 [2 3]]");
    kiv_value x3 = call(SLOT_INSERT, {ints({}), w("x"), int_value(3)}, {-1, -1, 2});
    EXPECT_EQ(x3.data1, 3u);
    x3.data1 = 0;
    EXPECT_EQ(m(x3), "[x x x]");
    kiv_value c = blk({w("c")});
    call(SLOT_INSERT, {c, blk({w("a"), w("b"), w("x")}), int_value(2)}, {2, -1, -1});
    EXPECT_EQ(m(c), "[a b c]");
    kiv_value ch = ints({1, 2, 3});
    kiv_value after = call(SLOT_CHANGE, {ch, blk({w("a"), w("b")})}, {-1, -1, -1});
    EXPECT_EQ(after.data1, 2u);
    EXPECT_EQ(m(ch), "[a b 3]");
    kiv_value cp = ints({1, 2, 3});
    call(SLOT_CHANGE, {cp, w("x"), int_value(2)}, {2, -1, -1});
    EXPECT_EQ(m(cp), "[x 3]");
    kiv_value self = ints({1, 2});
    call(SLOT_APPEND, {self, self}, {-1, -1, -1});
    EXPECT_EQ(m(self), "[1 2 1 2]");
}

TEST_F(BlockActions, TakeSwapTrimAndCopy) {
    EXPECT_EQ(int_of(call(SLOT_TAKE, {ints({1, 2})}, {-1, -1, -1})), 1);
    kiv_value three = ints({1, 2, 3});
    EXPECT_EQ(m(call(SLOT_TAKE, {three, int_value(2)}, {1, -1, -1})), "[1 2]");
    EXPECT_EQ(m(three), "[3]");
    EXPECT_EQ(int_of(call(SLOT_TAKE, {ints({1, 2})}, {-1, -1, 1})), 2);
    kiv_value last2 = ints({1, 2, 3});
    EXPECT_EQ(m(call(SLOT_TAKE, {last2, int_value(2)}, {1, -1, 1})), "[2 3]");
    EXPECT_EQ(m(last2), "[1]");
    EXPECT_EQ(type_of_v(call(SLOT_TAKE, {ints({})}, {-1, -1, -1})), uint32_t(TYPE_NONE));

    kiv_value a = ints({1, 2}), b = ints({8, 9});
    call(SLOT_SWAP, {a, b});
    EXPECT_EQ(m(a), "[8 2]");
    EXPECT_EQ(m(b), "[1 9]");
    kiv_value t = blk({int_value(1), none_value, int_value(2)});
    call(SLOT_TRIM, {t}, {-1, -1, -1, -1, -1, -1});
    EXPECT_EQ(m(t), "[1 2]");

    kiv_value inner = ints({5});
    kiv_value outer = blk({inner});
    kiv_value shallow = call(SLOT_COPY, {outer}, {-1, -1, -1});
    kiv_value deep = call(SLOT_COPY, {outer}, {-1, 1, -1});
    cells_of(inner)[0] = int_value(6);
    EXPECT_EQ(m(shallow), "[[6]]");
    EXPECT_EQ(m(deep), "[[5]]");
    kiv_value cyclic = ints({1});
    *block::alloc_tail(&cyclic) = cyclic;
    stack::mark_try(nullptr);
    expect_error(raised([&] { call(SLOT_COPY, {cyclic}, {-1, 1, -1}); }), err::INTERNAL, err::internal::no_cycle);
}

TEST_F(BlockActions, SetOperations) {
    struct Case {
        int32_t op;
        kiv_value a, b;
        const char* result;
    } cases[] = {
        {OP_UNION, blk({w("a"), w("b")}), blk({w("b"), w("c")}), "[a b c]"},
        {OP_INTERSECT, blk({w("a"), w("b")}), blk({w("b"), w("c")}), "[b]"},
        {OP_EXCLUDE, blk({w("a"), w("b")}), blk({w("b"), w("c")}), "[a]"},
        {OP_DIFFERENCE, blk({w("a"), w("b")}), blk({w("b"), w("c")}), "[a c]"},
        {OP_UNIQUE, blk({w("a"), w("b"), w("a")}), ints({}), "[a b]"},
        {OP_UNION, ints({1, 2}), blk({ints({1})}), "[1 2 [1]]"},
    };
    for (const Case& c : cases) {
        stack::mark_native(nullptr);
        stack::push_value(&c.a);
        stack::push_value(&c.b);
        block::do_set_op(false, nullptr, c.op);
        kiv_value r = *stack::arguments;
        stack::unwind_drop();
        EXPECT_EQ(m(r), c.result) << c.op;
    }
    stack::mark_native(nullptr);
    kiv_value pairs = blk({w("a"), int_value(1), w("a"), int_value(2)});
    stack::push_value(&pairs);
    stack::push_value(&pairs);
    kiv_value two = int_value(2);
    block::do_set_op(false, &two, OP_UNIQUE);
    EXPECT_EQ(m(*stack::arguments), "[a 1]");
    stack::unwind_drop();
}

TEST_F(BlockActions, Sort) {
    // refinements: case skip compare part all reverse stable
    auto sorted = [](kiv_value b, std::vector<kiv_value> more, std::vector<int32_t> refs) {
        std::vector<kiv_value> args{b};
        args.insert(args.end(), more.begin(), more.end());
        refs.resize(7, -1);
        return m(call(SLOT_SORT, args, refs));
    };
    EXPECT_EQ(sorted(ints({3, 1, 2}), {}, {}), "[1 2 3]");
    EXPECT_EQ(sorted(ints({3, 1, 2}), {}, {-1, -1, -1, -1, -1, 1}), "[3 2 1]");
    EXPECT_EQ(sorted(blk({w("b"), int_value(2), w("a"), int_value(1)}), {int_value(2)}, {-1, 1}), "[a 1 b 2]");
    EXPECT_EQ(sorted(blk({w("b"), int_value(1), w("a"), int_value(2)}), {int_value(2), int_value(2)}, {-1, 1, 2}),
              "[b 1 a 2]");
    EXPECT_EQ(sorted(ints({5, 3, 4, 1}), {int_value(2)}, {-1, -1, -1, 1}), "[3 5 4 1]");
    // A stable sort keeps equal records in their order.
    kiv_value pairs = blk({int_value(2), w("x"), int_value(1), w("y"), int_value(2), w("z"), int_value(1), w("w")});
    EXPECT_EQ(sorted(pairs, {int_value(2), int_value(1)}, {-1, 1, 2, -1, -1, -1, 1}), "[1 y 1 w 2 x 2 z]");
    stack::mark_try(nullptr);
    expect_error(raised([&] { call(SLOT_SORT, {ints({1, 2, 3}), int_value(2)}, {-1, 1, -1, -1, -1, -1, -1}); }),
                 err::SCRIPT, err::script::invalid_refine_arg);
    SetUp();
    stack::mark_try(nullptr);
    expect_error(raised([&] { call(SLOT_SORT, {ints({1, 2})}, {-1, -1, -1, -1, 1, -1, -1}); }), err::SCRIPT,
                 err::script::bad_refines);
}

TEST_F(BlockActions, SortWithAFunction) {
    kiv_value sub = call(SLOT_MAKE, {dtype(TYPE_ACTION), blk({blk({w("value1"), w("value2")}), int_value(SLOT_SUBTRACT)})});
    kiv_value minus = word_of("-");
    kiv_value op = call(SLOT_MAKE, {dtype(TYPE_OP), sub});
    _context::set(&minus, &op);
    // func [x y] [x - y]: gets (second, first), so a positive answer puts
    // the second first: descending.
    kiv_value fn = call(SLOT_MAKE, {dtype(TYPE_FUNCTION), blk({blk({w("x"), w("y")}), blk({w("x"), w("-"), w("y")})})});
    for (int32_t stable : {-1, 1}) {
        kiv_value b = ints({1, 3, 2, 5, 4});
        call(SLOT_SORT, {b, fn}, {-1, -1, 1, -1, -1, -1, stable});
        EXPECT_EQ(m(b), "[5 4 3 2 1]");
    }
}
