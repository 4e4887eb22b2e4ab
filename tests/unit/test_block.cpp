// series! actions and block!: cursors, elements, restructuring, form, mold,
// comparison and path access.
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/series.h"
#include "tests/unit/action_fixture.h"

using namespace kiv;
using namespace kiv::test;

using Blocks = StackTest;

namespace {
kiv_value ints(std::initializer_list<int32_t> values) {
    std::vector<kiv_value> cells;
    for (int32_t v : values) cells.push_back(int_value(v));
    return block_of(cells);
}
kiv_value at(kiv_value blk, uint32_t head) {
    blk.data1 = head;
    return blk;
}
std::string m(const kiv_value& v) { return molded(v); }
}  // namespace

TEST_F(Blocks, CursorActions) {
    kiv_value abc = ints({1, 2, 3});
    struct Case {
        uint32_t slot;
        kiv_value s;
        std::vector<kiv_value> more;
        uint32_t head;
    } cases[] = {
        {SLOT_AT, abc, {int_value(0)}, 0},       {SLOT_AT, abc, {int_value(1)}, 0},
        {SLOT_AT, at(abc, 1), {int_value(-1)}, 0}, {SLOT_AT, abc, {int_value(100)}, 3},
        {SLOT_SKIP, at(abc, 2), {int_value(-100)}, 0}, {SLOT_SKIP, abc, {int_value(2)}, 2},
        {SLOT_BACK, abc, {}, 0},                 {SLOT_NEXT, at(abc, 3), {}, 3},
        {SLOT_NEXT, abc, {}, 1},                 {SLOT_TAIL, abc, {}, 3},
        {SLOT_HEAD, at(abc, 2), {}, 0},
    };
    for (const Case& c : cases) {
        std::vector<kiv_value> args{c.s};
        args.insert(args.end(), c.more.begin(), c.more.end());
        EXPECT_EQ(call(c.slot, args).data1, c.head) << c.slot;
    }
    EXPECT_EQ(int_of(call(SLOT_INDEX_Q, {at(abc, 1)})), 2);
    EXPECT_EQ(int_of(call(SLOT_LENGTH_Q, {at(abc, 1)})), 2);
    EXPECT_TRUE(truth(call(SLOT_TAIL_Q, {at(abc, 3)})));
    EXPECT_TRUE(truth(call(SLOT_HEAD_Q, {abc})));
    stack::mark_try(nullptr);
    expect_error(raised([&] { call(SLOT_AT, {abc, none_value}); }), err::SCRIPT, err::script::invalid_arg);
}

TEST_F(Blocks, ACursorPastTheTailReadsAsTheTail) {
    kiv_value abc = ints({1, 2, 3});
    kiv_value inside = at(abc, 2);
    call(SLOT_CLEAR, {abc});
    EXPECT_EQ(int_of(call(SLOT_LENGTH_Q, {inside})), 0);
    EXPECT_TRUE(truth(call(SLOT_TAIL_Q, {inside})));
}

TEST_F(Blocks, PickAndPoke) {
    kiv_value abc = ints({1, 2, 3});
    EXPECT_EQ(type_of_v(call(SLOT_PICK, {abc, int_value(0)})), uint32_t(TYPE_NONE));
    EXPECT_EQ(int_of(call(SLOT_PICK, {at(abc, 1), int_value(-1)})), 1);
    EXPECT_EQ(int_of(call(SLOT_PICK, {abc, true_value})), 1);
    EXPECT_EQ(int_of(call(SLOT_PICK, {abc, false_value})), 2);
    EXPECT_EQ(int_of(call(SLOT_POKE, {abc, int_value(3), int_value(9)})), 9);
    EXPECT_EQ(m(abc), "[1 2 9]");
    stack::mark_try(nullptr);
    expect_error(raised([&] { call(SLOT_POKE, {abc, int_value(4), int_value(9)}); }), err::SCRIPT,
                 err::script::out_of_range);
}

TEST_F(Blocks, RemoveReverseAndTake) {
    kiv_value b = ints({1, 2, 3});
    call(SLOT_REMOVE, {b, int_value(2)}, {1, -1});
    EXPECT_EQ(m(b), "[3]");
    kiv_value c = ints({1, 2});
    call(SLOT_REMOVE, {c, int_value(10)}, {1, -1});
    EXPECT_EQ(m(c), "[]");
    kiv_value r = ints({1, 2, 3});
    call(SLOT_REVERSE, {r});
    EXPECT_EQ(m(r), "[3 2 1]");
    kiv_value rs = ints({1, 2, 3, 4});
    call(SLOT_REVERSE, {rs, int_value(2)}, {-1, 1});
    EXPECT_EQ(m(rs), "[3 4 1 2]");
    stack::mark_try(nullptr);
    kiv_value odd = ints({1, 2, 3});
    expect_error(raised([&] { call(SLOT_REVERSE, {odd, int_value(2)}, {-1, 1}); }), err::SCRIPT,
                 err::script::invalid_refine_arg);
}

TEST_F(Blocks, MoveWithinAndAcrossSeries) {
    struct Case {
        uint32_t from, to;
        const char* result;
    } cases[] = {{0, 3, "[2 3 1]"}, {0, 2, "[2 3 1]"}, {2, 0, "[3 1 2]"}};
    for (const Case& c : cases) {
        kiv_value b = ints({1, 2, 3});
        call(SLOT_MOVE, {at(b, c.from), at(b, c.to)});
        EXPECT_EQ(m(b), c.result) << c.from << " " << c.to;
    }
    kiv_value origin = ints({1, 2, 3}), target = ints({7, 8});
    call(SLOT_MOVE, {origin, at(target, 1), int_value(2)}, {2});
    EXPECT_EQ(m(origin), "[3]");
    EXPECT_EQ(m(target), "[7 1 2 8]");
    stack::mark_try(nullptr);
    kiv_value s = str("ab");
    expect_error(raised([&] { call(SLOT_MOVE, {origin, s}); }), err::SCRIPT, err::script::move_bad);
}

TEST_F(Blocks, CopyPartsAndRandom) {
    kiv_value b = ints({1, 2, 3, 4});
    EXPECT_EQ(m(call(SLOT_COPY, {at(b, 2), int_value(-2)}, {1, -1, -1})), "[1 2]");
    EXPECT_EQ(m(call(SLOT_COPY, {b, int_value(100)}, {1, -1, -1})), "[1 2 3 4]");
    EXPECT_EQ(m(call(SLOT_COPY, {at(b, 1)}, {-1, -1, -1})), "[2 3 4]");
    kiv_value one = ints({5});
    call(SLOT_RANDOM, {one}, {-1, -1, -1});
    EXPECT_EQ(m(one), "[5]");
    EXPECT_EQ(type_of_v(call(SLOT_RANDOM, {ints({})}, {-1, -1, 1})), uint32_t(TYPE_NONE));
    kiv_value shuffled = ints({1, 2, 3, 4, 5, 6, 7, 8});
    call(SLOT_RANDOM, {shuffled}, {-1, -1, -1});
    int64_t sum = 0;
    for (uint32_t i = 0; i < 8; i++) sum += int_of(cells_of(shuffled)[i]);
    EXPECT_EQ(sum, 36);  // a permutation
}

TEST_F(Blocks, MakeAndTo) {
    EXPECT_EQ(m(call(SLOT_MAKE, {dtype(TYPE_BLOCK), int_value(0)})), "[]");
    EXPECT_EQ(m(call(SLOT_MAKE, {dtype(TYPE_BLOCK), int_value(-5)})), "[]");
    EXPECT_GE(series::buffer(call(SLOT_MAKE, {dtype(TYPE_BLOCK), flt(2.9)}).data2)->size, 32u);
    EXPECT_EQ(m(call(SLOT_TO, {dtype(TYPE_BLOCK), int_value(5)})), "[5]");
    EXPECT_EQ(m(call(SLOT_MAKE, {dtype(TYPE_BLOCK), at(ints({1, 2, 3}), 1)})), "[2 3]");
    stack::mark_try(nullptr);
    expect_error(raised([] { call(SLOT_MAKE, {dtype(TYPE_BLOCK), flt(1e10)}); }), err::SCRIPT,
                 err::script::out_of_range);
}

TEST_F(Blocks, FormAndMoldWithNewLinesAndCycles) {
    kiv_value nested = block_of({word_of("w"), none_value, ints({1, 2})});
    EXPECT_EQ(formed(nested), "w none 1 2");
    EXPECT_EQ(m(nested), "[w none [1 2]]");
    kiv_value lines = ints({1, 2, 3});
    cells_of(lines)[0].header |= FLAG_NEW_LINE;
    cells_of(lines)[2].header |= FLAG_NEW_LINE;
    kiv_value outer = block_of({lines});
    EXPECT_EQ(m(lines), "[\n    1 2\n    3\n]");
    EXPECT_EQ(m(outer), "[[\n    1 2\n    3\n]]");
    EXPECT_EQ(text_of(call(SLOT_MOLD, {lines}, {-1, -1, 1, -1})), "[1 2 3]");  // flat
    kiv_value self = ints({1});
    *block::alloc_tail(&self) = self;
    EXPECT_EQ(m(self), "[1 [...]]");
    EXPECT_EQ(formed(self), "1 ...");
    EXPECT_EQ(text_of(call(SLOT_MOLD, {ints({123, 456}), int_value(4)}, {-1, -1, -1, 1})), "[123");
}

TEST_F(Blocks, Comparison) {
    kiv_value a = ints({1, 2}), b = ints({1, 2, 3});
    EXPECT_FALSE(actions::compare(&a, &b, COMP_EQUAL));
    EXPECT_TRUE(actions::compare(&a, &b, COMP_LESSER));
    kiv_value empty = ints({}), one = ints({1});
    EXPECT_TRUE(actions::compare(&empty, &one, COMP_LESSER));
    kiv_value nums = block_of({int_value(1), flt(2.0)}), floats = block_of({flt(1.0), int_value(2)});
    EXPECT_TRUE(actions::compare(&nums, &floats, COMP_EQUAL));
    kiv_value with_none = block_of({none_value});
    EXPECT_TRUE(actions::compare(&one, &with_none, COMP_GREATER));  // integer! above none!
    kiv_value self = ints({1});
    *block::alloc_tail(&self) = self;
    EXPECT_TRUE(actions::compare(&self, &self, COMP_EQUAL));
    kiv_value copy = *block::clone(&self, false, false);
    EXPECT_TRUE(actions::compare(&self, &copy, COMP_EQUAL));
    EXPECT_FALSE(actions::compare(&self, &copy, COMP_SAME));
}

TEST_F(Blocks, PathAccessByIndexAndWord) {
    kiv_value b = block_of({word_of("pa"), int_value(1), word_of("pb")});
    EXPECT_EQ(int_of(call(SLOT_EVAL_PATH, {b, int_value(2)}, {0})), 1);
    kiv_value pa = word_of("pa"), pb = word_of("pb");
    EXPECT_EQ(int_of(*actions::eval_path_typed(&b, &pa, nullptr, nullptr, nullptr, nullptr, -1, false,
                                                false, true, false)),
              1);
    EXPECT_EQ(type_of(actions::eval_path_typed(&b, &pb, nullptr, nullptr, nullptr, nullptr, -1, false,
                                                false, true, false)),
              uint32_t(TYPE_NONE));
    kiv_value nine = int_value(9);
    call(SLOT_EVAL_PATH, {b, int_value(2), nine}, {1});
    EXPECT_EQ(int_of(cells_of(b)[1]), 9);
}

TEST_F(Blocks, ConstructorsAndFinders) {
    kiv_value b = ints({1, 3});
    b.data1 = 1;
    kiv_value two = int_value(2);
    block::insert_value(&b, &two, true, false);
    EXPECT_EQ(b.data1, 2u);
    b.data1 = 0;
    EXPECT_EQ(m(b), "[1 2 3]");
    EXPECT_EQ(int_of(*block::find_compare(&b, &two)), 3);
    EXPECT_TRUE(block::find_compare_from(&b, &two, true));
    EXPECT_EQ(m(b), "[1 3]");
    kiv_value deep = block_of({ints({1}), ints({2})});
    kiv_value copy = *block::clone(&deep, true, false);
    cells_of(cells_of(deep)[0])[0] = int_value(7);
    EXPECT_EQ(m(copy), "[[1] [2]]");
    EXPECT_EQ(m(deep), "[[7] [2]]");
}

TEST_F(Blocks, ParensAndPaths) {
    kiv_value paren = ints({1, 2});
    paren.header = TYPE_PAREN;
    EXPECT_EQ(m(paren), "(1 2)");
    kiv_value p = block_of({word_of("a"), word_of("b"), int_value(3)});
    struct Case {
        uint32_t type;
        const char* mold;
    } cases[] = {{TYPE_PATH, "a/b/3"}, {TYPE_LIT_PATH, "'a/b/3"}, {TYPE_SET_PATH, "a/b/3:"},
                 {TYPE_GET_PATH, ":a/b/3"}};
    for (const Case& c : cases) {
        p.header = c.type;
        EXPECT_EQ(m(p), c.mold);
        EXPECT_EQ(formed(p), "a/b/3");
    }
    kiv_value made = call(SLOT_MAKE, {dtype(TYPE_PATH), int_value(0)});
    EXPECT_EQ(type_of(&made), uint32_t(TYPE_PATH));
    EXPECT_EQ(m(call(SLOT_TO, {dtype(TYPE_PATH), ints({1, 2})})), "1/2");
    EXPECT_EQ(m(call(SLOT_TO, {dtype(TYPE_PAREN), int_value(7)})), "(7)");
    EXPECT_EQ(int_of(call(SLOT_PICK, {p, int_value(3)})), 3);  // the block actions serve paths
}

TEST_F(Blocks, TextScansIntoABlock) {
    EXPECT_EQ(m(call(SLOT_TO, {dtype(TYPE_BLOCK), str("1 two [3]")})), "[1 two [3]]");
}
