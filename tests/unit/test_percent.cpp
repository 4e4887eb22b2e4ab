// percent!: its text, its literals, and the float! actions it takes over.
// The fractions of the literals and the expected texts were computed with
// Python 3: float(Decimal(text).scaleb(-2)) for a literal, and
// "%.13g" % (fraction * 100) with the exponent tidied and "%" added for the
// text (re-formed with "%.14g" when the digits end in binary noise).
#include <bit>
#include <cmath>
#include <functional>
#include <string>

#include "runtime/datatypes/percent.h"
#include "runtime/evaluator/lexer.h"
#include "tests/unit/action_fixture.h"
#include "tests/unit/text_fixture.h"

using namespace kiv;
using namespace kiv::test;

using Percent = StackTest;

namespace {

kiv_value pct(double fraction) {
    kiv_value v;
    percent::make_at(&v, fraction);
    return v;
}

double from_bits(uint64_t b) { return std::bit_cast<double>(b); }
uint64_t bits_of(double d) { return std::bit_cast<uint64_t>(d); }

// The one value a text loads as.
kiv_value load_one(const std::string& text) {
    kiv_value out;
    lexer::scan(&out, reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), true, false, false,
                nullptr, nullptr, nullptr, nullptr);
    return out;
}

// An expected outcome: a value of a type with a double, an integer, or an
// error.
struct expect {
    uint32_t type;
    double value;
    err::category category = err::SCRIPT;
    uint32_t id = 0;
};
expect is(uint32_t type, double value) { return {type, value}; }
expect fails(err::category c, uint32_t id) { return {TYPE_ERROR, 0, c, id}; }

void check(const std::string& what, std::function<kiv_value()> run, const expect& e) {
    SCOPED_TRACE(what);
    if (e.type == TYPE_ERROR) {
        expect_raised(attempt([&] { run(); }), e.category, e.id);
        return;
    }
    kiv_value r = run();
    ASSERT_EQ(type_of(&r), e.type);
    if (e.type == TYPE_INTEGER) EXPECT_EQ(int_of(r), int32_t(e.value));
    else EXPECT_EQ(bits_of(cell::get_float(&r)), bits_of(e.value)) << cell::get_float(&r) << " " << e.value;
}

}  // namespace

TEST_F(Percent, ConstructorsFillTheCell) {
    kiv_value* pushed = percent::push(0.5);
    EXPECT_EQ(pushed, stack::get_top());
    EXPECT_EQ(type_of(pushed), uint32_t(TYPE_PERCENT));
    EXPECT_EQ(percent::get(pushed), 0.5);
    kiv_value blk = block_of({});
    kiv_value* appended = percent::make_in(&blk, -0.25);
    EXPECT_EQ(length_of(blk), 1u);
    EXPECT_EQ(molded(*appended), "-25%");
}

TEST_F(Percent, LiteralsLoadAndFormAsPythonDoes) {
    struct Case {
        const char* text;
        uint64_t bits;
        const char* formed;
    } cases[] = {
        {"12.5%", 0x3FC0000000000000ULL, "12.5%"},
        {"50%", 0x3FE0000000000000ULL, "50%"},
        {"0.5%", 0x3F747AE147AE147BULL, "0.5%"},
        {"-0.25%", 0xBF647AE147AE147BULL, "-0.25%"},
        {"100%", 0x3FF0000000000000ULL, "100%"},
        {"33.333333333333%", 0x3FD5555555555519ULL, "33.33333333333%"},
        {"0.001%", 0x3EE4F8B588E368F1ULL, "0.001%"},
        {"123456789012345%", 0x4271F71FB04CB733ULL, "1.234567890123e14%"},
        {"0.1%", 0x3F50624DD2F1A9FCULL, "0.1%"},
        {"99.99999999999999%", 0x3FEFFFFFFFFFFFFFULL, "100%"},
        {"1.0000000000001%", 0x3F847AE147AE16BBULL, "1%"},
        {"-7.77%", 0xBFB3E425AEE631F9ULL, "-7.77%"},
        {"0.00000002%", 0x3DEB7CDFD9D7BDBBULL, "2e-8%"},
        {"0.30000000000000004%", 0x3F689374BC6A7EFBULL, "0.3%"},
        {"1'000.5%", 0x4024028F5C28F5C3ULL, "1000.5%"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        kiv_value v = load_one(c.text);
        ASSERT_EQ(type_of(&v), uint32_t(TYPE_PERCENT));
        EXPECT_EQ(bits_of(percent::get(&v)), c.bits);
        EXPECT_EQ(formed(v), c.formed);
        EXPECT_EQ(molded(v), c.formed);
        EXPECT_EQ(molded(v, true), c.formed);
    }
}

TEST_F(Percent, FormOfComputedFractions) {
    struct Case {
        uint64_t bits;
        const char* formed;
    } cases[] = {
        {0x3F689374BC6A7EFAULL, "0.3%"},                // 0.001 + 0.002
        {0x3FD3333333333334ULL, "30%"},                 // 0.1 + 0.2
        {0x3FD5555555555555ULL, "33.33333333333%"},     // 1 / 3
        {0x3FE5555555555555ULL, "66.66666666667%"},     // 2 / 3
        {0x3FB1EB851EB851ECULL, "7%"},                  // 0.07
        {0x3E7AD7F29ABCAF48ULL, "1e-5%"},               // 1e-7
        {0x3E112E0BE826D695ULL, "1e-7%"},               // 1e-9
        {0x4415AF1D78B58C40ULL, "1e22%"},               // 1e20
        {0xC415AF1D78B58C40ULL, "-1e22%"},              // -1e20
        {0x01A56E1FC2F8F359ULL, "0%"},                  // 1e-300
        {0x0000000000000001ULL, "0%"},                  // the smallest subnormal
        {0x8000000000000000ULL, "0%"},                  // -0.0
        {0x3F202E85BE1804DFULL, "0.01234567890123%"},   // 0.0001234567890123
        {0x3EB4B66DC0243882ULL, "0.0001234567890199%"},
        {0xBEB4B66DC01D28BAULL, "-0.0001234567890101%"},
        // The specials read as floats; so does a fraction whose hundredfold
        // is beyond the doubles.
        {0x7FF8000000000000ULL, "1.#NaN"},
        {0x7FF0000000000000ULL, "1.#INF"},
        {0xFFF0000000000000ULL, "-1.#INF"},
        {0x7FEFFFFFFFFFFFFFULL, "1.#INF"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(formed(pct(from_bits(c.bits))), c.formed) << std::hex << c.bits;
        EXPECT_EQ(molded(pct(from_bits(c.bits))), c.formed) << std::hex << c.bits;
    }
    EXPECT_EQ(text_of(call(SLOT_FORM, {pct(0.125), int_value(3)}, {1})), "12.");
    kiv_value s = str("");
    kiv_value v = pct(0.125);
    EXPECT_EQ(actions::form_typed(&v, &s, nullptr, 10), 10 - 5);
}

TEST_F(Percent, FloatActionsKeepThePercent) {
    auto script = [](uint32_t id) { return fails(err::SCRIPT, id); };
    struct Case {
        const char* what;
        uint32_t slot;
        std::vector<kiv_value> args;
        expect result;
    } cases[] = {
        {"10% * 2", SLOT_MULTIPLY, {pct(0.1), int_value(2)}, is(TYPE_PERCENT, 0.2)},
        {"50% + 1", SLOT_ADD, {pct(0.5), int_value(1)}, is(TYPE_PERCENT, 1.5)},
        {"50% - 0.25", SLOT_SUBTRACT, {pct(0.5), flt(0.25)}, is(TYPE_PERCENT, 0.25)},
        {"50% / 50%", SLOT_DIVIDE, {pct(0.5), pct(0.5)}, is(TYPE_PERCENT, 1.0)},
        {"50% // 20%", SLOT_REMAINDER, {pct(0.5), pct(0.2)}, is(TYPE_PERCENT, std::fmod(0.5, 0.2))},
        {"2.0 * 10%", SLOT_MULTIPLY, {flt(2.0), pct(0.1)}, is(TYPE_FLOAT, 0.2)},
        {"1 + 50%", SLOT_ADD, {int_value(1), pct(0.5)}, is(TYPE_FLOAT, 1.5)},
        {"50% + #\"a\"", SLOT_ADD, {pct(0.5), kiv_value{TYPE_CHAR, 0, 'a', 0}}, script(err::script::invalid_type)},
        {"50% ** 2", SLOT_POWER, {pct(0.5), int_value(2)}, is(TYPE_PERCENT, 0.25)},
        {"negate 50%", SLOT_NEGATE, {pct(0.5)}, is(TYPE_PERCENT, -0.5)},
        {"absolute -50%", SLOT_ABSOLUTE, {pct(-0.5)}, is(TYPE_PERCENT, 0.5)},
        {"round 12.345%", SLOT_ROUND, {pct(0.12345)}, is(TYPE_PERCENT, 0.12)},
        {"round 12.5%", SLOT_ROUND, {pct(0.125)}, is(TYPE_PERCENT, 0.13)},
        {"50% and~ 1", SLOT_AND_T, {pct(0.5), int_value(1)}, script(err::script::expect_arg)},
    };
    for (const Case& c : cases) {
        std::vector<int32_t> refs(7, -1);
        check(c.what, [&] { return call(c.slot, c.args, refs); }, c.result);
    }
    EXPECT_TRUE(truth(call(SLOT_EVEN_Q, {pct(2.0)})));
    EXPECT_TRUE(truth(call(SLOT_ODD_Q, {pct(3.5)})));
    EXPECT_FALSE(truth(call(SLOT_EVEN_Q, {pct(0.5 + 1.0)})));
}

TEST_F(Percent, MakeAndTo) {
    auto script = [](uint32_t id) { return fails(err::SCRIPT, id); };
    struct Case {
        const char* what;
        uint32_t type;
        kiv_value spec;
        expect result;
    } cases[] = {
        {"to percent! 0.5", TYPE_PERCENT, flt(0.5), is(TYPE_PERCENT, 0.5)},
        {"to percent! 1", TYPE_PERCENT, int_value(1), is(TYPE_PERCENT, 1.0)},
        {"to float! 50%", TYPE_FLOAT, pct(0.5), is(TYPE_FLOAT, 0.5)},
        {"to integer! 250%", TYPE_INTEGER, pct(2.5), is(TYPE_INTEGER, 2)},
        {"to percent! \"50%\"", TYPE_PERCENT, str("50%"), is(TYPE_PERCENT, 0.5)},
        {"to percent! \" 12.5% \"", TYPE_PERCENT, str(" 12.5% "), is(TYPE_PERCENT, 0.125)},
        {"to percent! \"12.5\"", TYPE_PERCENT, str("12.5"), is(TYPE_PERCENT, 12.5)},
        {"to percent! \"3\"", TYPE_PERCENT, str("3"), is(TYPE_PERCENT, 3.0)},
        {"to percent! \"1x2\"", TYPE_PERCENT, str("1x2"), script(err::script::bad_to_arg)},
        {"to percent! \"\"", TYPE_PERCENT, str(""), script(err::script::bad_to_arg)},
        {"to percent! \"abc\"", TYPE_PERCENT, str("abc"), script(err::script::bad_to_arg)},
        {"to percent! \"1..2\"", TYPE_PERCENT, str("1..2"), fails(err::SYNTAX, err::syntax::invalid)},
        {"to float! \"50%\"", TYPE_FLOAT, str("50%"), script(err::script::bad_to_arg)},
        {"to percent! none", TYPE_PERCENT, none_value, script(err::script::bad_to_arg)},
    };
    for (const Case& c : cases) {
        for (uint32_t slot : {SLOT_MAKE, SLOT_TO})
            check(std::string(c.what) + (slot == SLOT_MAKE ? " make" : " to"),
                  [&] { return call(slot, {dtype(c.type), c.spec}); }, c.result);
    }
}

TEST_F(Percent, ComparesAsItsFraction) {
    kiv_value half = pct(0.5), other_half = flt(0.5), sixty = pct(0.6), one = int_value(1);
    EXPECT_TRUE(actions::compare(&half, &other_half, COMP_EQUAL));
    EXPECT_FALSE(actions::compare(&half, &other_half, COMP_STRICT_EQUAL));
    EXPECT_TRUE(actions::compare(&half, &sixty, COMP_LESSER));
    EXPECT_TRUE(actions::compare(&half, &one, COMP_LESSER));
    EXPECT_TRUE(actions::compare(&one, &half, COMP_GREATER));
}

TEST_F(Percent, RandomStaysAPercentWithinItsValue) {
    for (int i = 0; i < 200; i++) {
        kiv_value r = call(SLOT_RANDOM, {pct(0.5)}, {-1, -1, -1});
        ASSERT_EQ(type_of(&r), uint32_t(TYPE_PERCENT));
        double d = percent::get(&r);
        ASSERT_TRUE(d >= 0.0 && d <= 0.5) << d;
    }
}
