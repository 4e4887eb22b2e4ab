// integer!: arithmetic, rounding, power, conversion and comparison.
#include <cmath>
#include <functional>

#include "tests/unit/action_fixture.h"

using namespace kiv;
using namespace kiv::test;

using Integer = StackTest;

namespace {

// An expected result: an integer, a float, or an error of the math category.
struct expect {
    enum kind { INT, FLOAT, ERROR } k;
    double value;
    uint32_t error = 0;
};
expect is_int(int32_t v) { return {expect::INT, double(v)}; }
expect is_float(double v) { return {expect::FLOAT, v}; }
expect fails(uint32_t id) { return {expect::ERROR, 0, id}; }

void check(const char* what, std::function<kiv_value()> run, const expect& e) {
    SCOPED_TRACE(what);
    if (e.k == expect::ERROR) {
        stack::arguments = stack::top = stack::bottom;
        stack::ctop = stack::cbottom;
        stack::mark_try(nullptr);
        expect_error(raised([&] { run(); }), err::MATH, e.error);
        return;
    }
    kiv_value r = run();
    if (e.k == expect::INT) {
        ASSERT_EQ(type_of(&r), uint32_t(TYPE_INTEGER));
        EXPECT_EQ(integer::get_value(&r), int32_t(e.value));
    } else {
        ASSERT_EQ(type_of(&r), uint32_t(TYPE_FLOAT));
        EXPECT_EQ(float_::get(&r), e.value);
    }
}

}  // namespace

TEST_F(Integer, Arithmetic) {
    const int32_t MIN = INT32_MIN, MAX = INT32_MAX;
    struct Case {
        uint32_t slot;
        int32_t a, b;
        expect result;
    } cases[] = {
        {SLOT_ADD, MAX, 1, is_float(2147483648.0)},
        {SLOT_SUBTRACT, MIN, 1, is_float(-2147483649.0)},
        {SLOT_MULTIPLY, 65536, 65536, is_float(4294967296.0)},
        {SLOT_MULTIPLY, MAX, MAX, is_float(4611686014132420609.0)},
        {SLOT_ADD, 2, 3, is_int(5)},
        {SLOT_DIVIDE, 7, 2, is_float(3.5)},
        {SLOT_DIVIDE, 6, 3, is_int(2)},
        {SLOT_DIVIDE, -7, 7, is_int(-1)},
        {SLOT_DIVIDE, 1, 0, fails(err::math::zero_divide)},
        {SLOT_DIVIDE, MIN, -1, fails(err::math::overflow)},
        {SLOT_REMAINDER, -7, 2, is_int(-1)},
        {SLOT_REMAINDER, 7, -2, is_int(1)},
        {SLOT_REMAINDER, 5, 0, fails(err::math::zero_divide)},
        {SLOT_REMAINDER, MIN, -1, fails(err::math::overflow)},
        {SLOT_AND_T, 12, 10, is_int(8)},
        {SLOT_OR_T, 12, 10, is_int(14)},
        {SLOT_XOR_T, 12, 10, is_int(6)},
        {SLOT_POWER, 2, 30, is_int(1073741824)},
        {SLOT_POWER, 2, 31, is_float(2147483648.0)},
        {SLOT_POWER, -2, 31, is_int(MIN)},
        {SLOT_POWER, 2, -2, is_float(0.25)},
        {SLOT_POWER, 3, 0, is_int(1)},
        {SLOT_POWER, 10, 10, is_float(1e10)},
    };
    for (const Case& c : cases)
        check(std::to_string(c.a).c_str(), [&] { return call(c.slot, {int_value(c.a), int_value(c.b)}); },
              c.result);
}

TEST_F(Integer, OneOperandActions) {
    check("absolute min", [] { return call(SLOT_ABSOLUTE, {int_value(INT32_MIN)}); },
          fails(err::math::overflow));
    check("negate min", [] { return call(SLOT_NEGATE, {int_value(INT32_MIN)}); }, fails(err::math::overflow));
    check("absolute", [] { return call(SLOT_ABSOLUTE, {int_value(-5)}); }, is_int(5));
    check("negate", [] { return call(SLOT_NEGATE, {int_value(5)}); }, is_int(-5));
    check("complement", [] { return call(SLOT_COMPLEMENT, {int_value(0)}); }, is_int(-1));
    EXPECT_TRUE(truth(call(SLOT_ODD_Q, {int_value(-3)})));
    EXPECT_TRUE(truth(call(SLOT_EVEN_Q, {int_value(0)})));
    EXPECT_FALSE(truth(call(SLOT_EVEN_Q, {int_value(7)})));
}

TEST_F(Integer, Round) {
    // Refinement positions: /to scale is argument 1; flags are any non -1.
    enum { EVEN = 1, DOWN, HALF_DOWN, FLOOR, CEILING, HALF_CEILING };
    struct Case {
        int32_t value;
        bool to;
        kiv_value scale;
        int flag;
        expect result;
    } cases[] = {
        {5, false, {}, 0, is_int(5)},
        {7, true, int_value(2), 0, is_int(8)},
        {7, true, int_value(2), EVEN, is_int(8)},
        {5, true, int_value(2), EVEN, is_int(4)},
        {7, true, int_value(2), HALF_DOWN, is_int(6)},
        {-7, true, int_value(2), FLOOR, is_int(-8)},
        {-7, true, int_value(2), CEILING, is_int(-6)},
        {-7, true, int_value(2), HALF_CEILING, is_int(-6)},
        {7, true, int_value(2), HALF_CEILING, is_int(8)},
        {-7, true, int_value(2), DOWN, is_int(-6)},
        {7, true, int_value(0), 0, is_int(7)},
        {7, true, int_value(-2), 0, is_int(8)},
        {2147483647, true, int_value(2), 0, fails(err::math::overflow)},
        {INT32_MIN, true, int_value(10), 0, is_int(INT32_MIN)},
        {13, true, int_value(10), 0, is_int(10)},
        {-15, true, int_value(10), 0, is_int(-20)},
        {7, true, flt(0.5), 0, is_float(7.0)},
        {7, true, flt(2.0), 0, is_float(8.0)},
    };
    for (const Case& c : cases) {
        std::vector<int32_t> refs(7, -1);
        if (c.to) refs[0] = 1;
        if (c.flag) refs[size_t(c.flag)] = 1;
        std::vector<kiv_value> args{int_value(c.value)};
        if (c.to) args.push_back(c.scale);
        check(std::to_string(c.value).c_str(), [&] { return call(SLOT_ROUND, args, refs); }, c.result);
    }
}

TEST_F(Integer, MakeAndTo) {
    check("to 2147483647.0", [] { return call(SLOT_TO, {dtype(TYPE_INTEGER), flt(2147483647.0)}); },
          is_int(2147483647));
    check("to 2.9", [] { return call(SLOT_TO, {dtype(TYPE_INTEGER), flt(2.9)}); }, is_int(2));
    check("to -2.9", [] { return call(SLOT_TO, {dtype(TYPE_INTEGER), flt(-2.9)}); }, is_int(-2));
    check("make true", [] { return call(SLOT_MAKE, {dtype(TYPE_INTEGER), true_value}); }, is_int(1));
    stack::mark_try(nullptr);
    expect_error(raised([] { call(SLOT_TO, {dtype(TYPE_INTEGER), flt(2147483648.0)}); }), err::SCRIPT,
                 err::script::type_limit);
    SetUp();
    stack::mark_try(nullptr);
    expect_error(raised([] { call(SLOT_TO, {dtype(TYPE_INTEGER), none_value}); }), err::SCRIPT,
                 err::script::bad_to_arg);
}

TEST_F(Integer, RandomAndSeed) {
    check("random 0", [] { return call(SLOT_RANDOM, {int_value(0)}, {-1, -1, -1}); }, is_int(0));
    EXPECT_EQ(type_of_v(call(SLOT_RANDOM, {int_value(5)}, {1, -1, -1})), uint32_t(TYPE_UNSET));
    int32_t a = int_of(call(SLOT_RANDOM, {int_value(1000)}, {-1, -1, -1}));
    call(SLOT_RANDOM, {int_value(5)}, {1, -1, -1});
    int32_t b = int_of(call(SLOT_RANDOM, {int_value(1000)}, {-1, -1, -1}));
    EXPECT_EQ(a, b);
    for (int i = 0; i < 50; i++) {
        int32_t r = int_of(call(SLOT_RANDOM, {int_value(-3)}, {-1, -1, -1}));
        EXPECT_TRUE(r >= -3 && r <= -1);
    }
}

TEST_F(Integer, CompareWithFloats) {
    kiv_value one = int_value(1), one_f = flt(1.0), half = flt(0.5);
    EXPECT_TRUE(actions::compare(&one, &one_f, COMP_EQUAL));
    EXPECT_FALSE(actions::compare(&one, &one_f, COMP_STRICT_EQUAL));
    EXPECT_TRUE(actions::compare(&one, &half, COMP_GREATER));
    EXPECT_EQ(type_of(&one), uint32_t(TYPE_INTEGER));  // converted in place, then restored
}

TEST_F(Integer, FormSigned) {
    EXPECT_STREQ(integer::form_signed(0), "0");
    EXPECT_STREQ(integer::form_signed(-45), "-45");
    EXPECT_STREQ(integer::form_signed(INT32_MIN), "-2147483648");
    EXPECT_STREQ(integer::form_signed(INT32_MAX), "2147483647");
}
