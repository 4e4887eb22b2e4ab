// float!: forming and molding, arithmetic, comparison, rounding, conversion
// and random draws.
#include <bit>
#include <cfloat>
#include <climits>
#include <cmath>
#include <functional>
#include <string>

#include "runtime/datatypes/string.h"
#include "runtime/evaluator/random.h"
#include "tests/unit/action_fixture.h"
#include "tests/unit/text_fixture.h"

using namespace kiv;
using namespace kiv::test;

using Float = StackTest;

namespace {

struct form_case {
    uint64_t bits;
    const char* pretty;
    const char* plain;
};
struct kind_case {
    uint64_t bits;
    const char* kind0;
    const char* kind2;
    const char* kind3;
    const char* kind5;
};
struct mold_case {
    uint64_t bits;
    const char* text;
};
#include "tests/unit/float_form_cases.inc"

const double NaN = std::bit_cast<double>(uint64_t(0x7FF8000000000000));
const double INF = HUGE_VAL;

double from_bits(uint64_t b) { return std::bit_cast<double>(b); }
uint64_t bits_of(double d) { return std::bit_cast<uint64_t>(d); }

kiv_value chr(uint32_t cp) { return kiv_value{TYPE_CHAR, 0, cp, 0}; }

kiv_value binary(std::initializer_list<uint8_t> bytes, uint32_t head = 0) {
    node_id n = memory::alloc_bytes(uint32_t(bytes.size()));
    series_buffer* b = series::buffer(n);
    uint8_t* p = series::alloc_tail_bytes(b, uint32_t(bytes.size()));
    for (uint8_t byte : bytes) *p++ = byte;
    return kiv_value{TYPE_BINARY, head, n, 0};
}

kiv_value blk(std::initializer_list<kiv_value> cells, uint32_t head = 0,
              uint32_t type = TYPE_BLOCK) {
    kiv_value b{type, head, memory::alloc_cells(uint32_t(cells.size())), 0};
    for (const kiv_value& c : cells) *block::alloc_tail(&b) = c;
    return b;
}

kiv_value typed(kiv_value v, uint32_t type) { return *cell::set_type(&v, type); }

// An expected outcome: a float! (NaN matching any NaN), an integer!, or an
// error.
struct expect {
    enum kind { FLOAT, INT, ERROR } k;
    double value;
    err::category category = err::MATH;
    uint32_t error = 0;
};
expect is_float(double v) { return {expect::FLOAT, v}; }
expect is_int(int32_t v) { return {expect::INT, double(v)}; }
expect fails(err::category c, uint32_t id) { return {expect::ERROR, 0, c, id}; }

void check(const std::string& what, std::function<kiv_value()> run, const expect& e) {
    SCOPED_TRACE(what);
    if (e.k == expect::ERROR) {
        expect_raised(attempt([&] { run(); }), e.category, e.error);
        return;
    }
    kiv_value r = run();
    if (e.k == expect::INT) {
        ASSERT_EQ(type_of(&r), uint32_t(TYPE_INTEGER));
        EXPECT_EQ(integer::get_value(&r), int32_t(e.value));
        return;
    }
    ASSERT_EQ(type_of(&r), uint32_t(TYPE_FLOAT));
    if (std::isnan(e.value)) EXPECT_TRUE(std::isnan(float_::get(&r)));
    else EXPECT_EQ(bits_of(float_::get(&r)), bits_of(e.value)) << float_::get(&r) << " " << e.value;
}

// Runs the code with the pretty correction set as asked, then restores it.
template <class F>
void with_pretty(bool on, F code) {
    bool saved = float_::pretty_print_q;
    float_::pretty_print_q = on;
    code();
    float_::pretty_print_q = saved;
}

}  // namespace

// Forming ------------------------------------------------------------------------

TEST_F(Float, FormMatchesPrintfWithAndWithoutPrettyCorrection) {
    for (const form_case& c : form_cases) {
        kiv_value v = flt(from_bits(c.bits));
        with_pretty(true, [&] { EXPECT_EQ(formed(v), c.pretty) << std::hex << c.bits; });
        with_pretty(false, [&] { EXPECT_EQ(formed(v), c.plain) << std::hex << c.bits; });
    }
}

TEST_F(Float, FormKindsMatchPrintf) {
    for (const kind_case& c : kind_cases) {
        double d = from_bits(c.bits);
        SCOPED_TRACE(d);
        EXPECT_STREQ(float_::form_float(d, float_::FORM_SHORT).text, c.kind0);
        EXPECT_STREQ(float_::form_float(d, float_::FORM_PERCENT_SHORT).text, c.kind2);
        EXPECT_STREQ(float_::form_float(d, float_::FORM_PERCENT).text, c.kind3);
        EXPECT_STREQ(float_::form_float(d, float_::FORM_POINT).text, c.kind5);
    }
}

TEST_F(Float, FormTimeKindKeepsSixDigitsAndNoPoint) {
    struct Case {
        double d;
        const char* text;
    } cases[] = {
        {5.25, "5.25"}, {5.0, "5"}, {1.0 / 3, "0.333333"}, {59.9999999, "60"},
        {1e-7, "0.0000001"}, {1e-8, "1e-8"}, {123456789.0, "123457000"}, {-2.5, "-2.5"}, {0.0, "0.0"},
    };
    for (const Case& c : cases) {
        dtoa::formed f = float_::form_float(c.d, float_::FORM_TIME);
        EXPECT_STREQ(f.text, c.text) << c.d;
        EXPECT_EQ(f.length, int(std::strlen(c.text)));
    }
    with_pretty(false, [] { EXPECT_STREQ(float_::form_float(0.0, float_::FORM_TIME).text, "0"); });
}

TEST_F(Float, FormEdgeCases) {
    struct Case {
        double d;
        const char* text;
    } cases[] = {
        {1e20, "1.0e20"}, {100.0, "100.0"}, {1e-300, "0.0"}, {-0.0, "0.0"},
        {1.0 / 0.0, "1.#INF"}, {-1.0 / 0.0, "-1.#INF"}, {NaN, "1.#NaN"},
        {0.1 + 0.2, "0.3"}, {267.49999999999997, "267.5"}, {1e-7, "1.0e-7"},
    };
    for (const Case& c : cases) EXPECT_EQ(formed(flt(c.d)), c.text) << c.d;
    with_pretty(false, [] { EXPECT_EQ(formed(flt(-0.0)), "-0.0"); });
}

TEST_F(Float, FormPartCutsTheText) {
    EXPECT_EQ(text_of(call(SLOT_FORM, {flt(1234.5), int_value(3)}, {1})), "123");
    EXPECT_EQ(text_of(call(SLOT_FORM, {flt(1234.5), int_value(0)}, {1})), "");
}

TEST_F(Float, MoldGivesShortestRoundTripDigits) {
    for (const mold_case& c : mold_cases) EXPECT_EQ(molded(flt(from_bits(c.bits))), c.text) << std::hex << c.bits;
    EXPECT_EQ(molded(flt(0.1 + 0.2)), "0.30000000000000004");
    EXPECT_EQ(formed(flt(0.1 + 0.2)), "0.3");
}

// Arithmetic ---------------------------------------------------------------------

TEST_F(Float, Arithmetic) {
    struct Case {
        uint32_t slot;
        kiv_value left, right;
        expect result;
    } cases[] = {
        {SLOT_ADD, flt(1.5), int_value(1), is_float(2.5)},
        {SLOT_ADD, flt(1.5), flt(1.5), is_float(3.0)},
        {SLOT_ADD, int_value(1), flt(1.5), is_float(2.5)},  // through integer!'s add
        {SLOT_SUBTRACT, flt(1.0), flt(0.25), is_float(0.75)},
        {SLOT_SUBTRACT, int_value(1), flt(0.25), is_float(0.75)},
        {SLOT_MULTIPLY, flt(2.0), chr('A'), is_float(130.0)},
        {SLOT_MULTIPLY, flt(1e300), flt(1e300), is_float(INF)},
        {SLOT_DIVIDE, flt(1.0), int_value(0), is_float(INF)},
        {SLOT_DIVIDE, flt(-1.0), int_value(0), is_float(-INF)},
        {SLOT_DIVIDE, flt(0.0), int_value(0), is_float(NaN)},
        {SLOT_DIVIDE, int_value(7), flt(2.0), is_float(3.5)},
        {SLOT_DIVIDE, int_value(1), flt(0.0), is_float(INF)},
        {SLOT_REMAINDER, flt(5.5), int_value(2), is_float(1.5)},
        {SLOT_REMAINDER, flt(-5.5), int_value(2), is_float(-1.5)},
        {SLOT_REMAINDER, flt(5.0), flt(0.0), is_float(NaN)},
        {SLOT_REMAINDER, flt(5.0), flt(INF), is_float(5.0)},
        {SLOT_REMAINDER, flt(5.0), flt(-INF), is_float(5.0)},
        {SLOT_REMAINDER, flt(INF), flt(INF), is_float(NaN)},
        {SLOT_REMAINDER, flt(INF), flt(2.0), is_float(NaN)},
        {SLOT_REMAINDER, flt(5.0), flt(NaN), is_float(NaN)},
        {SLOT_ADD, flt(1.0), none_value, fails(err::SCRIPT, err::script::invalid_type)},
        {SLOT_ADD, flt(1.0), true_value, fails(err::SCRIPT, err::script::invalid_type)},
        {SLOT_AND_T, flt(1.0), int_value(1), fails(err::SCRIPT, err::script::expect_arg)},
    };
    for (const Case& c : cases)
        check("slot " + std::to_string(c.slot) + " " + std::to_string(float_::get(&c.left)),
              [&] { return call(c.slot, {c.left, c.right}); }, c.result);
}

TEST_F(Float, DoMathRefusesBitwiseOps) {
    expect_raised(attempt([] { float_::do_math(1.0, 2.0, OP_OR); }), err::SCRIPT,
                  err::script::cannot_use);
}

TEST_F(Float, Power) {
    struct Case {
        kiv_value base, exponent;
        expect result;
    } cases[] = {
        {flt(2.0), int_value(10), is_float(1024.0)},
        {flt(2.0), flt(0.5), is_float(std::sqrt(2.0))},
        {flt(2.0), int_value(-1), is_float(0.5)},
        {flt(0.0), int_value(-1), is_float(INF)},
        {flt(-8.0), flt(1.0 / 3), is_float(NaN)},
        {int_value(2), flt(0.5), is_float(std::sqrt(2.0))},  // through integer!'s power
        {flt(2.0), none_value, fails(err::SCRIPT, err::script::expect_arg)},
        {flt(2.0), chr('a'), fails(err::SCRIPT, err::script::expect_arg)},
    };
    for (const Case& c : cases)
        check(std::to_string(float_::get(&c.base)), [&] { return call(SLOT_POWER, {c.base, c.exponent}); },
              c.result);
}

TEST_F(Float, OneOperandActions) {
    struct Case {
        uint32_t slot;
        double value;
        uint64_t bits;  // of the result
    } cases[] = {
        {SLOT_ABSOLUTE, -2.5, bits_of(2.5)},
        {SLOT_ABSOLUTE, -0.0, 0},
        {SLOT_ABSOLUTE, -INF, bits_of(INF)},
        {SLOT_ABSOLUTE, from_bits(0xFFF8000000000001), 0x7FF8000000000001},
        {SLOT_NEGATE, 2.5, bits_of(-2.5)},
        {SLOT_NEGATE, 0.0, 0},  // 0.0 - 0.0, never -0.0
        {SLOT_NEGATE, -0.0, 0},
        {SLOT_NEGATE, INF, bits_of(-INF)},
    };
    for (const Case& c : cases) {
        kiv_value r = call(c.slot, {flt(c.value)});
        EXPECT_EQ(type_of(&r), uint32_t(TYPE_FLOAT));
        EXPECT_EQ(bits_of(float_::get(&r)), c.bits) << c.slot << " " << c.value;
    }
}

TEST_F(Float, EvenAndOddTestTheWholePart) {
    struct Case {
        double value;
        bool even, odd;
    } cases[] = {
        {2.7, true, false},           {-3.2, false, true},         {0.0, true, false},
        {-0.5, true, false},          {1.0, false, true},          {2147483649.0, false, true},
        {-2147483649.0, false, true}, {4294967296.0, true, false}, {1e300, true, false},
        {INF, false, false},          {NaN, false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(truth(call(SLOT_EVEN_Q, {flt(c.value)})), c.even) << c.value;
        EXPECT_EQ(truth(call(SLOT_ODD_Q, {flt(c.value)})), c.odd) << c.value;
    }
}

// Comparison ---------------------------------------------------------------------

TEST_F(Float, Compare) {
    const double one_ulp = std::nextafter(1.0, 2.0) - 1.0;
    struct Case {
        kiv_value a, b;
        int32_t op;
        bool result;
    } cases[] = {
        {flt(0.1 + 0.2), flt(0.3), COMP_EQUAL, true},
        {flt(0.1 + 0.2), flt(0.3), COMP_NOT_EQUAL, false},
        {flt(0.1 + 0.2), flt(0.3), COMP_STRICT_EQUAL, false},
        {flt(0.1 + 0.2), flt(0.3), COMP_SAME, false},
        {flt(1.0), flt(1.0 + 10 * one_ulp), COMP_EQUAL, true},
        {flt(1.0), flt(1.0 + 11 * one_ulp), COMP_EQUAL, false},
        {flt(1e-17), flt(-1e-17), COMP_EQUAL, true},  // within the double epsilon
        {flt(1.0), int_value(1), COMP_EQUAL, true},
        {flt(1.0), int_value(1), COMP_STRICT_EQUAL, false},
        {flt(1.0), int_value(1), COMP_FIND, false},
        {flt(1.0), int_value(1), COMP_SAME, false},
        {flt(1.0), flt(1.0), COMP_SAME, true},
        {flt(0.0), flt(-0.0), COMP_EQUAL, true},
        {flt(0.0), flt(-0.0), COMP_STRICT_EQUAL, true},
        {flt(0.0), flt(-0.0), COMP_SAME, false},
        {flt(NaN), flt(1.0), COMP_LESSER, false},
        {flt(NaN), flt(1.0), COMP_LESSER_EQUAL, false},
        {flt(NaN), flt(1.0), COMP_GREATER, false},
        {flt(NaN), flt(1.0), COMP_GREATER_EQUAL, false},
        {flt(1.0), flt(NaN), COMP_LESSER, false},
        {flt(NaN), flt(NaN), COMP_EQUAL, false},
        {flt(NaN), flt(NaN), COMP_NOT_EQUAL, true},
        {flt(NaN), flt(NaN), COMP_STRICT_EQUAL, false},
        {flt(NaN), flt(NaN), COMP_SAME, true},
        {flt(1.0), int_value(2), COMP_LESSER, true},
        {flt(2.5), int_value(2), COMP_GREATER_EQUAL, true},
        {flt(-INF), flt(-FLT_MAX), COMP_LESSER, true},
        {flt(1.0), none_value, COMP_EQUAL, false},
        {flt(1.0), none_value, COMP_NOT_EQUAL, true},
        {int_value(3), flt(2.5), COMP_GREATER, true},  // through integer!'s compare
    };
    for (const Case& c : cases)
        EXPECT_EQ(actions::compare(const_cast<kiv_value*>(&c.a), const_cast<kiv_value*>(&c.b), c.op),
                  c.result)
            << float_::get(&c.a) << " op " << c.op;
    kiv_value one = flt(1.0), none = none_value;
    expect_raised(attempt([&] { actions::compare(&one, &none, COMP_LESSER); }), err::SCRIPT,
                  err::script::invalid_compare);
}

TEST_F(Float, AlmostEqual) {
    EXPECT_TRUE(float_::almost_equal_q(0.0, -0.0));
    EXPECT_TRUE(float_::almost_equal_q(-1.0, std::nextafter(-1.0, -2.0)));
    EXPECT_FALSE(float_::almost_equal_q(NaN, NaN));
    EXPECT_TRUE(float_::almost_equal_q(INF, INF));
    EXPECT_FALSE(float_::almost_equal_q(FLT_MAX, INF));
    // Across zero the distance counts the units on both sides.
    EXPECT_TRUE(float_::almost_equal_q(from_bits(5), -from_bits(5)));
    // Below the double epsilon apart is equal whatever the units between.
    EXPECT_TRUE(float_::almost_equal_q(1e-300, -1e-300));
    EXPECT_FALSE(float_::almost_equal_q(1e-15, -1e-15));
}

// Rounding -----------------------------------------------------------------------

TEST_F(Float, Round) {
    enum { EVEN = 1, DOWN, HALF_DOWN, FLOOR, CEILING, HALF_CEILING };
    const kiv_value NO_SCALE{};
    struct Case {
        double value;
        kiv_value scale;  // type 0: no /to
        int flag;
        expect result;
    } cases[] = {
        {2.5, NO_SCALE, 0, is_float(3.0)},
        {-2.5, NO_SCALE, 0, is_float(-3.0)},
        {2.4, NO_SCALE, 0, is_float(2.0)},
        {2.6, NO_SCALE, 0, is_float(3.0)},
        {2.5, NO_SCALE, EVEN, is_float(2.0)},
        {3.5, NO_SCALE, EVEN, is_float(4.0)},
        {-2.5, NO_SCALE, EVEN, is_float(-2.0)},
        {2.5, NO_SCALE, HALF_DOWN, is_float(2.0)},
        {-2.5, NO_SCALE, HALF_DOWN, is_float(-2.0)},
        {-2.5, NO_SCALE, HALF_CEILING, is_float(-2.0)},
        {2.5, NO_SCALE, HALF_CEILING, is_float(3.0)},
        {-2.1, NO_SCALE, FLOOR, is_float(-3.0)},
        {2.9, NO_SCALE, FLOOR, is_float(2.0)},
        {-2.7, NO_SCALE, DOWN, is_float(-2.0)},
        {2.7, NO_SCALE, DOWN, is_float(2.0)},
        {-2.7, NO_SCALE, CEILING, is_float(-2.0)},
        {2.1, NO_SCALE, CEILING, is_float(3.0)},
        {-0.4, NO_SCALE, 0, is_float(-0.0)},
        {1e300, NO_SCALE, 0, is_float(1e300)},
        {INF, NO_SCALE, 0, is_float(INF)},
        {1.5, int_value(0), 0, is_float(1.5)},
        {0.0, int_value(0), 0, is_float(0.0)},
        {0.0, flt(0.0), 0, is_float(0.0)},
        {1.26, flt(0.1), 0, is_float(1.3)},
        {1.23456, flt(0.01), 0, is_float(1.23)},
        {-1.25, flt(0.5), 0, is_float(-1.5)},
        {-1.25, flt(-0.5), DOWN, is_float(-1.0)},
        {2.5, int_value(1), 0, is_int(3)},
        {2.5, int_value(-1), 0, is_int(3)},
        {7.3, int_value(2), 0, is_int(8)},
        {-7.3, int_value(2), CEILING, is_int(-6)},
        {1234.5, int_value(100), 0, is_int(1200)},
        {7.0, flt(2.0), 0, is_float(8.0)},
        {3e-310, flt(1e-310), 0, is_float(3 * 1e-310)},  // a subnormal scale
        {1e10, int_value(1), 0, fails(err::MATH, err::math::overflow)},
        {NaN, int_value(1), 0, fails(err::MATH, err::math::overflow)},
        {DBL_MAX, flt(DBL_MAX), 0, fails(err::MATH, err::math::overflow)},
        {5.5, kiv_value{TYPE_PAIR, 0, 1, 1}, 0, fails(err::SCRIPT, err::script::not_related)},
        {5.5, kiv_value{TYPE_MONEY, 0, 0, 0}, 0, fails(err::SCRIPT, err::script::not_related)},
    };
    for (const Case& c : cases) {
        bool to = type_of(&c.scale) != 0;
        std::vector<int32_t> refs(7, -1);
        if (to) refs[0] = 1;
        if (c.flag) refs[size_t(c.flag)] = 1;
        std::vector<kiv_value> args{flt(c.value)};
        if (to) args.push_back(c.scale);
        check("round " + std::to_string(c.value) + " flag " + std::to_string(c.flag),
              [&] { return call(SLOT_ROUND, args, refs); }, c.result);
    }
}

// Make and to --------------------------------------------------------------------

TEST_F(Float, MakeAndTo) {
    const std::string long_text(313, '1');
    const kiv_value wide = text({'1', 0x131}, 2);  // U+0131 ends in the byte of "1"
    struct Case {
        const char* what;
        kiv_value spec;
        expect result;
    } cases[] = {
        {"integer", int_value(5), is_float(5.0)},
        {"smallest integer", int_value(INT32_MIN), is_float(-2147483648.0)},
        {"char", chr('A'), is_float(65.0)},
        {"float", flt(2.5), is_float(2.5)},
        {"text", text("1.5"), is_float(1.5)},
        {"comma", text("1,5"), is_float(1.5)},
        {"separators", text("1'000.25"), is_float(1000.25)},
        {"exponent", text("-2e3"), is_float(-2000.0)},
        {"leading point", text(".5"), is_float(0.5)},
        {"trailing point", text("5."), is_float(5.0)},
        {"huge", text("1e400"), is_float(INF)},
        {"two-byte units", text("2.5", 2), is_float(2.5)},
        {"four-byte units", text("-0.25", 4), is_float(-0.25)},
        {"file", typed(text("3.0"), TYPE_FILE), is_float(3.0)},
        {"tag", typed(text("4"), TYPE_TAG), is_float(4.0)},
        {"empty", text(""), fails(err::SCRIPT, err::script::bad_to_arg)},
        {"letters", text("abc"), fails(err::SCRIPT, err::script::bad_to_arg)},
        {"trailing letter", text("1.5x"), fails(err::SCRIPT, err::script::bad_to_arg)},
        {"blank", text(" 1.5"), fails(err::SCRIPT, err::script::bad_to_arg)},
        {"special", text("1.#INF"), fails(err::SCRIPT, err::script::bad_to_arg)},
        {"point only", text("."), fails(err::SCRIPT, err::script::bad_to_arg)},
        {"two signs", text("--1"), fails(err::SCRIPT, err::script::bad_to_arg)},
        {"wide character", wide, fails(err::SCRIPT, err::script::bad_to_arg)},
        {"too long", text(long_text.c_str()), fails(err::SCRIPT, err::script::bad_to_arg)},
        {"binary one", binary({0x3F, 0xF0, 0, 0, 0, 0, 0, 0}), is_float(1.0)},
        {"binary short", binary({0x3F, 0xF0}), is_float(from_bits(0x3FF0))},
        {"binary long", binary({0x3F, 0xF0, 0, 0, 0, 0, 0, 0, 0xFF}), is_float(1.0)},
        {"binary cursor", binary({0xFF, 0x40, 0, 0, 0, 0, 0, 0, 0}, 1), is_float(2.0)},
        {"binary empty", binary({}), is_float(0.0)},
        {"block", blk({int_value(1), int_value(3)}), is_float(1000.0)},
        {"block float", blk({flt(1.5), int_value(2)}), is_float(150.0)},
        {"block truncated exponent", blk({int_value(2), flt(1.9)}), is_float(20.0)},
        {"block huge exponent", blk({int_value(1), flt(1e300)}), is_float(INF)},
        {"block tiny exponent", blk({int_value(1), flt(-1e300)}), is_float(0.0)},
        {"block cursor", blk({int_value(9), int_value(2), int_value(3)}, 1), is_float(2000.0)},
        {"paren", blk({int_value(5), int_value(-1)}, 0, TYPE_PAREN), is_float(5 * std::pow(10.0, -1.0))},
        {"block of three", blk({int_value(1), int_value(2), int_value(3)}),
         fails(err::SCRIPT, err::script::bad_to_arg)},
        {"block of one", blk({int_value(1)}), fails(err::SCRIPT, err::script::bad_to_arg)},
        {"block past its tail", blk({int_value(1), int_value(2)}, 5),
         fails(err::SCRIPT, err::script::bad_to_arg)},
        {"block of text", blk({int_value(1), text("2")}), fails(err::SCRIPT, err::script::bad_to_arg)},
        {"none", none_value, fails(err::SCRIPT, err::script::bad_to_arg)},
        {"logic", true_value, fails(err::SCRIPT, err::script::bad_to_arg)},
        {"datatype", dtype(TYPE_FLOAT), fails(err::SCRIPT, err::script::bad_to_arg)},
    };
    for (const Case& c : cases) {
        check(std::string("to ") + c.what, [&] { return call(SLOT_TO, {dtype(TYPE_FLOAT), c.spec}); },
              c.result);
        check(std::string("make ") + c.what, [&] { return call(SLOT_MAKE, {dtype(TYPE_FLOAT), c.spec}); },
              c.result);
    }
    // A prototype names the type as well.
    check("make 9.0 2", [] { return call(SLOT_MAKE, {flt(9.0), int_value(2)}); }, is_float(2.0));
}

TEST_F(Float, ToTextReadsFromTheCursor) {
    kiv_value s = text("xx3.5");
    s.data1 = 2;
    check("cursor", [&] { return call(SLOT_TO, {dtype(TYPE_FLOAT), s}); }, is_float(3.5));
    s.data1 = 9;  // past the tail: empty text
    check("past the tail", [&] { return call(SLOT_TO, {dtype(TYPE_FLOAT), s}); },
          fails(err::SCRIPT, err::script::bad_to_arg));
}

// Random -------------------------------------------------------------------------

TEST_F(Float, RandomSeedAndDraws) {
    kiv_value seed = flt(1.5);
    EXPECT_EQ(type_of_v(call(SLOT_RANDOM, {seed}, {1, -1, -1})), uint32_t(TYPE_UNSET));
    kiv_value first = call(SLOT_RANDOM, {flt(10.0)}, {-1, -1, -1});
    // Seeding with the double seeds with the XOR of its two words.
    random::seed(int32_t(seed.data2 ^ seed.data3));
    EXPECT_EQ(float_::get(&first), 10.0 * (random::next() / 2147483647.0));
    for (int i = 0; i < 200; i++) {
        kiv_value r = call(SLOT_RANDOM, {flt(10.0)}, {-1, -1, -1});
        ASSERT_EQ(type_of(&r), uint32_t(TYPE_FLOAT));
        EXPECT_TRUE(float_::get(&r) >= 0.0 && float_::get(&r) <= 10.0);
        kiv_value s = call(SLOT_RANDOM, {flt(-5.0)}, {-1, 1, -1});
        EXPECT_TRUE(float_::get(&s) >= -5.0 && float_::get(&s) <= 0.0);
    }
    EXPECT_EQ(float_::random_double(0.0, false), 0.0);
    EXPECT_EQ(float_::random_double(0.0, true), 0.0);
}

// Helpers ------------------------------------------------------------------------

TEST_F(Float, ToIntRounded) {
    struct Case {
        double d;
        int32_t n;
    } cases[] = {
        {0.5, 1},          {FLOAT_BELOW_HALF, 0}, {-0.5, 0},         {2.5, 3},
        {-2.5, -2},        {-2.6, -2},            {1.4, 1},          {2147483646.6, INT32_MAX},
        {1e10, INT32_MAX}, {-1e10, INT32_MIN},    {INF, INT32_MAX},  {-INF, INT32_MIN},
        {NaN, 0},          {-2147483648.0, -2147483647}, {-2147483648.6, INT32_MIN},
    };
    for (const Case& c : cases) EXPECT_EQ(float_::to_int_rounded(c.d), c.n) << c.d;
}

TEST_F(Float, SpecialAndAbsBits) {
    EXPECT_TRUE(float_::special_q(NaN));
    EXPECT_TRUE(float_::special_q(from_bits(0xFFF8000000000000)));
    EXPECT_TRUE(float_::special_q(from_bits(0x7FF0000000000001)));
    EXPECT_FALSE(float_::special_q(INF));
    EXPECT_FALSE(float_::special_q(1.0));
    EXPECT_EQ(float_::abs_bits(-1.5), 1.5);
    EXPECT_EQ(bits_of(float_::abs_bits(-0.0)), 0u);
    EXPECT_EQ(bits_of(float_::abs_bits(from_bits(0xFFF8000000000000))), 0x7FF8000000000000u);
}

TEST_F(Float, RegisteredRow) {
    EXPECT_STREQ(datatype::table[TYPE_FLOAT].name, "float!");
    EXPECT_EQ(actions::entry(TYPE_FLOAT, SLOT_APPEND), actions::UNSUPPORTED);
    EXPECT_NE(actions::entry(TYPE_FLOAT, SLOT_ODD_Q), actions::UNSUPPORTED);
    expect_raised(attempt([] { call(SLOT_COMPLEMENT, {flt(1.0)}); }), err::SCRIPT, err::script::expect_arg);
}
