// pair!: construction, text, arithmetic (its own and the hand-over from
// integer! and float!), the one-operand actions, comparison, rounding,
// random draws, fields through paths and pick.
#include <climits>
#include <cmath>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "runtime/datatypes/error.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/percent.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/time.h"
#include "runtime/evaluator/random.h"
#include "tests/unit/action_fixture.h"
#include "tests/unit/text_fixture.h"

using namespace kiv;
using namespace kiv::test;

using Pair = StackTest;

namespace {

const int32_t MIN = INT32_MIN, MAX = INT32_MAX;
const double INF = HUGE_VAL;
const double NaN = std::nan("");

kiv_value xy(int32_t x, int32_t y) {
    kiv_value v;
    pair::make_at(&v, x, y);
    return v;
}

kiv_value at_seconds(double seconds) {
    kiv_value v;
    time::make_at(&v, seconds);
    return v;
}

kiv_value pct(double fraction) {
    kiv_value v;
    percent::make_at(&v, fraction);
    return v;
}

// An expected outcome: a pair, or an error. A result that needs fractions is
// a point2D!, which does not exist yet: those raise `not-done`.
struct expect {
    bool error;
    int32_t x = 0, y = 0;
    err::category category = err::SCRIPT;
    uint32_t id = 0;
};
expect is_pair(int32_t x, int32_t y) { return {false, x, y}; }
expect fails(err::category c, uint32_t id) { return {true, 0, 0, c, id}; }
const expect POINT = fails(err::INTERNAL, err::internal::not_done);

void check(const std::string& what, std::function<kiv_value()> run, const expect& e) {
    SCOPED_TRACE(what);
    if (e.error) {
        expect_raised(attempt([&] { run(); }), e.category, e.id);
        return;
    }
    kiv_value r = run();
    ASSERT_EQ(type_of(&r), uint32_t(TYPE_PAIR));
    EXPECT_EQ(pair::x_of(&r), e.x);
    EXPECT_EQ(pair::y_of(&r), e.y);
}

std::string pair_text(const kiv_value& v) {
    return type_of(&v) == TYPE_PAIR ? std::to_string(pair::x_of(&v)) + "x" + std::to_string(pair::y_of(&v)) : "?";
}

// Refinement positions of round: /to's scale is argument 1, flags are any
// value but -1.
enum { EVEN = 1, DOWN, HALF_DOWN, FLOOR, CEILING, HALF_CEILING };
std::vector<int32_t> round_refs(bool to, int flag = 0) {
    std::vector<int32_t> refs(7, -1);
    if (to) refs[0] = 1;
    if (flag) refs[size_t(flag)] = 1;
    return refs;
}

}  // namespace

// Construction and text ---------------------------------------------------------

TEST_F(Pair, ConstructorsFillTheCell) {
    kiv_value* pushed = pair::push(3, -4);
    EXPECT_EQ(pushed, stack::get_top());
    EXPECT_EQ(pair_text(*pushed), "3x-4");
    EXPECT_EQ(pushed->data1, 0u);
    kiv_value blk = block_of({});
    kiv_value* appended = pair::make_in(&blk, MIN, MAX);
    EXPECT_EQ(length_of(blk), 1u);
    EXPECT_EQ(pair_text(*appended), "-2147483648x2147483647");
}

TEST_F(Pair, FormAndMoldWriteBothComponents) {
    struct Case {
        kiv_value v;
        const char* text;
    } cases[] = {
        {xy(1, 2), "1x2"},   {xy(-1, -2), "-1x-2"}, {xy(0, 0), "0x0"}, {xy(1, -2), "1x-2"},
        {xy(MIN, MAX), "-2147483648x2147483647"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(formed(c.v), c.text);
        EXPECT_EQ(molded(c.v), c.text);
        EXPECT_EQ(molded(c.v, true), c.text);
    }
    // The budget left counts every character, the "x" included.
    kiv_value s = str("");
    EXPECT_EQ(actions::form_typed(&cases[1].v, &s, nullptr, 100), 100 - 5);
    EXPECT_EQ(text_of(call(SLOT_MOLD, {xy(12, 34), int_value(3)}, {-1, -1, -1, 1})), "12x");
}

TEST_F(Pair, MakeAndTo) {
    auto script = [](uint32_t id) { return fails(err::SCRIPT, id); };
    const expect malconstruct = fails(err::SYNTAX, err::syntax::malconstruct);
    kiv_value from_cursor = block_of({int_value(9), int_value(1), int_value(2)});
    from_cursor.data1 = 1;
    kiv_value past_two = block_of({int_value(9)});
    past_two.data1 = 1;
    struct Case {
        const char* what;
        kiv_value spec;
        expect result;
    } cases[] = {
        {"3", int_value(3), is_pair(3, 3)},
        {"-3", int_value(-3), is_pair(-3, -3)},
        {"2.9", flt(2.9), is_pair(2, 2)},
        {"-2.9", flt(-2.9), is_pair(-2, -2)},
        {"1e10", flt(1e10), script(err::script::type_limit)},
        {"NaN", flt(NaN), script(err::script::type_limit)},
        {"1x2", xy(1, 2), is_pair(1, 2)},
        {"[1 2]", block_of({int_value(1), int_value(2)}), is_pair(1, 2)},
        {"[1.9 -2.9 3]", block_of({flt(1.9), flt(-2.9), int_value(3)}), is_pair(1, -2)},
        {"next [9 1 2]", from_cursor, is_pair(1, 2)},
        {"[1]", block_of({int_value(1)}), malconstruct},
        {"[]", block_of({}), malconstruct},
        {"tail [9]", past_two, malconstruct},
        {"[1 a]", block_of({int_value(1), word_of("a")}), malconstruct},
        {"[a 1]", block_of({word_of("a"), int_value(1)}), malconstruct},
        {"[1 50%]", block_of({int_value(1), pct(0.5)}), malconstruct},
        {"[1 1e10]", block_of({int_value(1), flt(1e10)}), script(err::script::type_limit)},
        {"\"3x-4\"", str("3x-4"), is_pair(3, -4)},
        {"\" 3x4 \"", str(" 3x4 "), is_pair(3, 4)},
        {"\"3\"", str("3"), script(err::script::bad_to_arg)},
        {"\"abc\"", str("abc"), script(err::script::bad_to_arg)},
        {"\"\"", str(""), script(err::script::bad_to_arg)},
        {"\"1.5x2\"", str("1.5x2"), fails(err::SYNTAX, err::syntax::invalid)},
        {"50%", pct(0.5), script(err::script::bad_to_arg)},
        {"none", none_value, script(err::script::bad_to_arg)},
        {"1:00", at_seconds(3600), script(err::script::bad_to_arg)},
    };
    for (const Case& c : cases) {
        for (uint32_t slot : {SLOT_MAKE, SLOT_TO})
            check(std::string(c.what) + (slot == SLOT_MAKE ? " make" : " to"),
                  [&] { return call(slot, {dtype(TYPE_PAIR), c.spec}); }, c.result);
    }
    // The block is the error's argument.
    kiv_value one = block_of({int_value(1)});
    kiv_value e = attempt([&] { call(SLOT_MAKE, {dtype(TYPE_PAIR), one}); }).error;
    EXPECT_EQ(error::field(&e, error::FIELD_ARG1)->data2, one.data2);
}

// Arithmetic ---------------------------------------------------------------------

TEST_F(Pair, Arithmetic) {
    auto script = [](uint32_t id) { return fails(err::SCRIPT, id); };
    auto math = [](uint32_t id) { return fails(err::MATH, id); };
    struct Case {
        const char* what;
        uint32_t slot;
        kiv_value left, right;
        expect result;
    } cases[] = {
        {"1x2 + 3x4", SLOT_ADD, xy(1, 2), xy(3, 4), is_pair(4, 6)},
        {"1x2 + 3", SLOT_ADD, xy(1, 2), int_value(3), is_pair(4, 5)},
        {"2x3 + 1.9", SLOT_ADD, xy(2, 3), flt(1.9), is_pair(3, 4)},
        {"2x3 + -1.9", SLOT_ADD, xy(2, 3), flt(-1.9), is_pair(1, 2)},
        {"2x3 + 150%", SLOT_ADD, xy(2, 3), pct(1.5), is_pair(3, 4)},
        {"2x3 + 3e9", SLOT_ADD, xy(2, 3), flt(3e9), fails(err::SCRIPT, err::script::out_of_range)},
        {"1x1 + MAX", SLOT_ADD, xy(1, 1), int_value(MAX), POINT},
        {"0x1 + MAXx0", SLOT_ADD, xy(0, 1), xy(MAX, 0), is_pair(MAX, 1)},
        {"5x7 - 1x2", SLOT_SUBTRACT, xy(5, 7), xy(1, 2), is_pair(4, 5)},
        {"5x7 - 0.5", SLOT_SUBTRACT, xy(5, 7), flt(0.5), is_pair(5, 7)},
        {"MINx0 - 1", SLOT_SUBTRACT, xy(MIN, 0), int_value(1), POINT},
        {"2x3 * 2", SLOT_MULTIPLY, xy(2, 3), int_value(2), is_pair(4, 6)},
        {"2x3 * -1x0", SLOT_MULTIPLY, xy(2, 3), xy(-1, 0), is_pair(-2, 0)},
        {"2x3 * 1.5", SLOT_MULTIPLY, xy(2, 3), flt(1.5), POINT},
        {"2x3 * 2.0", SLOT_MULTIPLY, xy(2, 3), flt(2.0), POINT},
        {"2x3 * 50%", SLOT_MULTIPLY, xy(2, 3), pct(0.5), POINT},
        {"65536x1 * 65536", SLOT_MULTIPLY, xy(65536, 1), int_value(65536), POINT},
        {"4x6 / 2", SLOT_DIVIDE, xy(4, 6), int_value(2), is_pair(2, 3)},
        {"4x-6 / -2x3", SLOT_DIVIDE, xy(4, -6), xy(-2, 3), is_pair(-2, -2)},
        {"3x4 / 2", SLOT_DIVIDE, xy(3, 4), int_value(2), POINT},
        {"4x6 / 2.0", SLOT_DIVIDE, xy(4, 6), flt(2.0), POINT},
        {"4x6 / 1.#INF", SLOT_DIVIDE, xy(4, 6), flt(INF), POINT},
        {"2x3 / 0", SLOT_DIVIDE, xy(2, 3), int_value(0), math(err::math::zero_divide)},
        {"2x3 / 1x0", SLOT_DIVIDE, xy(2, 3), xy(1, 0), math(err::math::zero_divide)},
        {"MINx0 / -1", SLOT_DIVIDE, xy(MIN, 0), int_value(-1), math(err::math::overflow)},
        {"7x9 // 2", SLOT_REMAINDER, xy(7, 9), int_value(2), is_pair(1, 1)},
        {"-7x7 // 2x-2", SLOT_REMAINDER, xy(-7, 7), xy(2, -2), is_pair(-1, 1)},
        {"7x9 // 4.5", SLOT_REMAINDER, xy(7, 9), flt(4.5), is_pair(3, 1)},
        {"7x9 // 0", SLOT_REMAINDER, xy(7, 9), int_value(0), math(err::math::zero_divide)},
        {"6x3 and~ 3", SLOT_AND_T, xy(6, 3), int_value(3), is_pair(2, 3)},
        {"6x3 or~ 1x0", SLOT_OR_T, xy(6, 3), xy(1, 0), is_pair(7, 3)},
        {"6x3 xor~ 6", SLOT_XOR_T, xy(6, 3), int_value(6), is_pair(0, 5)},
        {"2x3 + NaN", SLOT_ADD, xy(2, 3), flt(NaN), script(err::script::invalid_arg)},
        {"2x3 + 1.#INF", SLOT_ADD, xy(2, 3), flt(INF), script(err::script::invalid_arg)},
        {"2x3 * -1.#INF", SLOT_MULTIPLY, xy(2, 3), flt(-INF), script(err::script::invalid_arg)},
        {"2x3 / NaN", SLOT_DIVIDE, xy(2, 3), flt(NaN), script(err::script::invalid_arg)},
        {"2x3 + #\"a\"", SLOT_ADD, xy(2, 3), kiv_value{TYPE_CHAR, 0, 'a', 0}, script(err::script::invalid_type)},
        {"2x3 + none", SLOT_ADD, xy(2, 3), none_value, script(err::script::invalid_type)},
        {"2x3 + \"1\"", SLOT_ADD, xy(2, 3), str("1"), script(err::script::invalid_type)},
        // integer! and float! on the left hand the operation over.
        {"2 * 2x3", SLOT_MULTIPLY, int_value(2), xy(2, 3), is_pair(4, 6)},
        {"1 + 2x3", SLOT_ADD, int_value(1), xy(2, 3), is_pair(3, 4)},
        {"10 - 2x3", SLOT_SUBTRACT, int_value(10), xy(2, 3), is_pair(8, 7)},
        {"0 - MINx0", SLOT_SUBTRACT, int_value(0), xy(MIN, 0), math(err::math::overflow)},
        {"3 and~ 6x5", SLOT_AND_T, int_value(3), xy(6, 5), is_pair(2, 1)},
        {"MAX + 1x1", SLOT_ADD, int_value(MAX), xy(1, 1), POINT},
        {"6 / 2x3", SLOT_DIVIDE, int_value(6), xy(2, 3), script(err::script::not_related)},
        {"7 // 2x3", SLOT_REMAINDER, int_value(7), xy(2, 3), script(err::script::not_related)},
        {"1.9 + 2x3", SLOT_ADD, flt(1.9), xy(2, 3), is_pair(3, 4)},
        {"50% + 2x3", SLOT_ADD, pct(0.5), xy(2, 3), is_pair(2, 3)},
        {"1.5 * 2x3", SLOT_MULTIPLY, flt(1.5), xy(2, 3), POINT},
        {"NaN + 2x3", SLOT_ADD, flt(NaN), xy(2, 3), script(err::script::invalid_arg)},
        {"2.0 - 1x1", SLOT_SUBTRACT, flt(2.0), xy(1, 1), script(err::script::not_related)},
        {"2.0 / 1x1", SLOT_DIVIDE, flt(2.0), xy(1, 1), script(err::script::not_related)},
        {"2.0 // 1x1", SLOT_REMAINDER, flt(2.0), xy(1, 1), script(err::script::not_related)},
        {"1:00 + 1x1", SLOT_ADD, at_seconds(3600), xy(1, 1), script(err::script::invalid_type)},
    };
    for (const Case& c : cases) check(c.what, [&] { return call(c.slot, {c.left, c.right}); }, c.result);
}

TEST_F(Pair, RefusedHandOversNameTheActionAndTheLeftType) {
    struct Case {
        uint32_t slot;
        kiv_value left;
        const char* action;
        uint32_t type;
    } cases[] = {
        {SLOT_DIVIDE, int_value(6), "divide", TYPE_INTEGER},
        {SLOT_REMAINDER, int_value(6), "remainder", TYPE_INTEGER},
        {SLOT_SUBTRACT, flt(6), "subtract", TYPE_PAIR},
        {SLOT_DIVIDE, pct(6), "divide", TYPE_PAIR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.action);
        outcome o = attempt([&] { call(c.slot, {c.left, xy(2, 3)}); });
        expect_raised(o, err::SCRIPT, err::script::not_related);
        kiv_value* w = error::field(&o.error, error::FIELD_ARG1);
        EXPECT_EQ(symbol::resolve(word::symbol_of(w)), symbol::resolve(symbol::make(c.action)));
        EXPECT_EQ(error::field(&o.error, error::FIELD_ARG2)->data1, c.type);
    }
}

TEST_F(Pair, OneOperandActions) {
    const expect overflow = fails(err::MATH, err::math::overflow);
    struct Case {
        const char* what;
        uint32_t slot;
        kiv_value value;
        expect result;
    } cases[] = {
        {"negate 1x-2", SLOT_NEGATE, xy(1, -2), is_pair(-1, 2)},
        {"negate 0xMAX", SLOT_NEGATE, xy(0, MAX), is_pair(0, -MAX)},
        {"negate MINx0", SLOT_NEGATE, xy(MIN, 0), overflow},
        {"negate 0xMIN", SLOT_NEGATE, xy(0, MIN), overflow},
        {"absolute -1x2", SLOT_ABSOLUTE, xy(-1, 2), is_pair(1, 2)},
        {"absolute -MAXx-3", SLOT_ABSOLUTE, xy(-MAX, -3), is_pair(MAX, 3)},
        {"absolute 0xMIN", SLOT_ABSOLUTE, xy(0, MIN), overflow},
        {"reverse 1x2", SLOT_REVERSE, xy(1, 2), is_pair(2, 1)},
        {"reverse MINxMAX", SLOT_REVERSE, xy(MIN, MAX), is_pair(MAX, MIN)},
    };
    for (const Case& c : cases) check(c.what, [&] { return call(c.slot, {c.value}, {-1, -1}); }, c.result);
}

// Comparison ---------------------------------------------------------------------

TEST_F(Pair, OrderIsXThenY) {
    struct Case {
        kiv_value a, b;
        int32_t order;
    } cases[] = {
        {xy(1, 9), xy(2, 0), -1},   {xy(2, 0), xy(1, 9), 1},  {xy(1, 2), xy(1, 3), -1},
        {xy(1, 3), xy(1, 2), 1},    {xy(1, 2), xy(1, 2), 0},  {xy(MIN, 0), xy(MAX, 0), -1},
        {xy(0, MIN), xy(0, MAX), -1}, {xy(-1, 0), xy(0, -1), -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(pair_text(c.a) + " " + pair_text(c.b));
        kiv_value a = c.a, b = c.b;
        EXPECT_EQ(actions::compare(&a, &b, COMP_EQUAL), c.order == 0);
        EXPECT_EQ(actions::compare(&a, &b, COMP_STRICT_EQUAL), c.order == 0);
        EXPECT_EQ(actions::compare(&a, &b, COMP_SAME), c.order == 0);
        EXPECT_EQ(actions::compare(&a, &b, COMP_NOT_EQUAL), c.order != 0);
        EXPECT_EQ(actions::compare(&a, &b, COMP_LESSER), c.order < 0);
        EXPECT_EQ(actions::compare(&a, &b, COMP_LESSER_EQUAL), c.order <= 0);
        EXPECT_EQ(actions::compare(&a, &b, COMP_GREATER), c.order > 0);
        EXPECT_EQ(actions::compare(&a, &b, COMP_GREATER_EQUAL), c.order >= 0);
        EXPECT_EQ(actions::compare_values(&a, &b, COMP_SORT), c.order);
    }
}

TEST_F(Pair, OtherTypesAreIncomparable) {
    kiv_value p = xy(1, 1);
    for (kiv_value other : {int_value(1), flt(1.0), str("1x1"), none_value}) {
        EXPECT_EQ(actions::compare_values(&p, &other, COMP_EQUAL), COMPARE_INCOMPARABLE);
        EXPECT_FALSE(actions::compare(&p, &other, COMP_EQUAL));
        EXPECT_TRUE(actions::compare(&p, &other, COMP_NOT_EQUAL));
        expect_raised(attempt([&] { actions::compare(&p, &other, COMP_LESSER); }), err::SCRIPT,
                      err::script::invalid_compare);
    }
}

// Rounding -----------------------------------------------------------------------

TEST_F(Pair, RoundEachComponentAsAnInteger) {
    const kiv_value money{TYPE_MONEY, 0, 0, 0};
    struct Case {
        const char* what;
        kiv_value value;
        kiv_value scale;  // none: no /to
        int flag;
        expect result;
    } cases[] = {
        {"round 5x-7", xy(5, -7), none_value, 0, is_pair(5, -7)},
        {"round/to 17x23 5", xy(17, 23), int_value(5), 0, is_pair(15, 25)},
        {"round/to -17x-23 5", xy(-17, -23), int_value(5), 0, is_pair(-15, -25)},
        {"round/to 17x23 5x10", xy(17, 23), xy(5, 10), 0, is_pair(15, 20)},
        {"round/to 17x23 0x10", xy(17, 23), xy(0, 10), 0, is_pair(17, 20)},
        {"round/to 15x25 10", xy(15, 25), int_value(10), 0, is_pair(20, 30)},
        {"round/to/even 15x25 10", xy(15, 25), int_value(10), EVEN, is_pair(20, 20)},
        {"round/to/half-down 15x-25 10", xy(15, -25), int_value(10), HALF_DOWN, is_pair(10, -20)},
        {"round/to/down 19x-19 10", xy(19, -19), int_value(10), DOWN, is_pair(10, -10)},
        {"round/to/floor 11x-11 10", xy(11, -11), int_value(10), FLOOR, is_pair(10, -20)},
        {"round/to/ceiling 11x-11 10", xy(11, -11), int_value(10), CEILING, is_pair(20, -10)},
        {"round/to MINx5 10", xy(MIN, 5), int_value(10), 0, is_pair(MIN, 10)},
        {"round/to MAXx0 10", xy(MAX, 0), int_value(10), 0, fails(err::MATH, err::math::overflow)},
        {"round/to 5x7 2.0", xy(5, 7), flt(2.0), 0, is_pair(6, 8)},
        {"round/to 5x7 1.5", xy(5, 7), flt(1.5), 0, POINT},
        {"round/to 5x7 $1", xy(5, 7), money, 0, fails(err::SCRIPT, err::script::not_related)},
    };
    for (const Case& c : cases) {
        bool to = type_of(&c.scale) != TYPE_NONE;
        std::vector<kiv_value> args = {c.value};
        if (to) args.push_back(c.scale);
        check(c.what, [&] { return call(SLOT_ROUND, args, round_refs(to, c.flag)); }, c.result);
    }
}

// Random -------------------------------------------------------------------------

TEST_F(Pair, RandomDrawsEachComponent) {
    std::set<int32_t> xs, ys;
    for (int i = 0; i < 2000; i++) {
        kiv_value r = call(SLOT_RANDOM, {xy(5, -3)}, {-1, -1, -1});
        ASSERT_EQ(type_of(&r), uint32_t(TYPE_PAIR));
        xs.insert(pair::x_of(&r));
        ys.insert(pair::y_of(&r));
    }
    EXPECT_EQ(xs, (std::set<int32_t>{1, 2, 3, 4, 5}));
    EXPECT_EQ(ys, (std::set<int32_t>{-3, -2, -1}));
    check("random 0x1", [] { return call(SLOT_RANDOM, {xy(0, 1)}, {-1, -1, -1}); }, is_pair(0, 1));
    check("random/secure 1x-1", [] { return call(SLOT_RANDOM, {xy(1, -1)}, {-1, 1, -1}); }, is_pair(1, -1));
}

TEST_F(Pair, RandomSeedRepeatsTheSequence) {
    auto draws = [](kiv_value seed) {
        kiv_value r = call(SLOT_RANDOM, {seed}, {1, -1, -1});
        EXPECT_EQ(type_of(&r), uint32_t(TYPE_UNSET));
        std::vector<int32_t> out;
        for (int i = 0; i < 8; i++) out.push_back(random::next());
        return out;
    };
    EXPECT_EQ(draws(xy(3, 4)), draws(xy(3, 4)));
    EXPECT_NE(draws(xy(1, 1)), draws(xy(2, 2)));
    EXPECT_NE(draws(xy(3, 4)), draws(xy(4, 3)));
}

// Fields -------------------------------------------------------------------------

TEST_F(Pair, PathsReadAndSetTheComponents) {
    struct Case {
        kiv_value element;
        int32_t read;
        int32_t set_x, set_y;  // after setting 9
    } cases[] = {
        {int_value(1), 3, 9, -4},
        {int_value(2), -4, 3, 9},
        {word_of("x"), 3, 9, -4},
        {word_of("Y"), -4, 3, 9},
        {word_of("x", TYPE_GET_WORD), 3, 9, -4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(formed(c.element));
        kiv_value p = xy(3, -4), e = c.element, nine = int_value(9);
        kiv_value* r = actions::eval_path_typed(&p, &e, nullptr, nullptr, nullptr, nullptr, -1, false, false,
                                                true, false);
        EXPECT_EQ(int_of(*r), c.read);
        r = actions::eval_path_typed(&p, &e, &nine, nullptr, nullptr, nullptr, -1, false, false, true, false);
        EXPECT_EQ(r, &nine);
        EXPECT_EQ(pair_text(p), std::to_string(c.set_x) + "x" + std::to_string(c.set_y));
    }
}

TEST_F(Pair, PathErrors) {
    struct Case {
        kiv_value element, value;  // value none: a read
        uint32_t id;
    } cases[] = {
        {int_value(0), none_value, err::script::invalid_path},
        {int_value(3), none_value, err::script::invalid_path},
        {word_of("z"), none_value, err::script::invalid_path},
        {str("x"), none_value, err::script::invalid_path},
        {int_value(3), int_value(1), err::script::invalid_path},
        {word_of("x"), flt(1.0), err::script::invalid_type},
        {int_value(1), str("1"), err::script::invalid_type},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(formed(c.element));
        kiv_value p = xy(3, -4), e = c.element, v = c.value;
        bool set = type_of(&v) != TYPE_NONE;
        outcome o = attempt([&] {
            actions::eval_path_typed(&p, &e, set ? &v : nullptr, nullptr, nullptr, nullptr, -1, false, false,
                                     true, false);
        });
        expect_raised(o, err::SCRIPT, c.id);
        if (c.id == err::script::invalid_path) {
            EXPECT_EQ(formed(*error::field(&o.error, error::FIELD_ARG2)), formed(e));
        }
        EXPECT_EQ(pair_text(p), "3x-4");
    }
}

TEST_F(Pair, PickTakesAnIndexOrAName) {
    struct Case {
        kiv_value index;
        int32_t component;  // 0: out of range
    } cases[] = {
        {int_value(1), 3}, {int_value(2), -4}, {true_value, 3}, {false_value, -4},
        {word_of("x"), 3}, {word_of("y", TYPE_LIT_WORD), -4},
        {int_value(0), 0}, {int_value(3), 0}, {int_value(-1), 0}, {word_of("z"), 0}, {flt(1.0), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(formed(c.index));
        if (c.component) {
            EXPECT_EQ(int_of(call(SLOT_PICK, {xy(3, -4), c.index})), c.component);
            continue;
        }
        outcome o = attempt([&] { call(SLOT_PICK, {xy(3, -4), c.index}); });
        expect_raised(o, err::SCRIPT, err::script::out_of_range);
        EXPECT_EQ(formed(*error::field(&o.error, error::FIELD_ARG1)), formed(c.index));
    }
}
