// Float and text conversion: the layout rules by hand, the digits and the
// reading against tables that Python produced.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "runtime/float_text.h"

namespace {

using namespace kiv;

uint64_t bits(double d) { return std::bit_cast<uint64_t>(d); }
double from_bits(uint64_t b) { return std::bit_cast<double>(b); }

struct shortest_case {
    uint64_t bits;
    const char* digits;
    int decpt;
};
struct precision_case {
    uint64_t bits;
    int precision;
    const char* digits;
    int decpt;
};
struct reading_case {
    const char* text;
    int extra;
    uint64_t bits;
};
#include "tests/unit/float_text_cases.inc"

double read(const std::string& text, int extra, int* unconsumed) {
    return dtoa::from_text(text.data(), text.data() + text.size(), extra, unconsumed);
}

TEST(FloatText, Constants) {
    EXPECT_EQ(FLOAT_MAX, std::numeric_limits<double>::max());
    EXPECT_EQ(FLOAT_INF, std::numeric_limits<double>::infinity());
    EXPECT_EQ(FLOAT_NEG_INF, -std::numeric_limits<double>::infinity());
    EXPECT_EQ(bits(FLOAT_NAN) >> 32, 0x7FF80000u);
    EXPECT_EQ(FLOAT_BELOW_HALF, std::nextafter(0.5, 0.0));
    EXPECT_EQ(FLOAT_BELOW_HALF, 0.49999999999999994);
}

TEST(FloatText, SpecialDigitTexts) {
    struct row {
        double value;
        bool zero_form;
        const char* text;
        int decpt;
        int sign;
    };
    const row rows[] = {
        {FLOAT_INF, true, "1.#INF", dtoa::DECPT_SPECIAL, 0},
        {FLOAT_NEG_INF, false, "-1.#INF", dtoa::DECPT_SPECIAL, 1},
        {FLOAT_NAN, true, "1.#NaN", dtoa::DECPT_SPECIAL, 0},
        {-FLOAT_NAN, true, "1.#NaN", dtoa::DECPT_SPECIAL, 1},
        {from_bits(0x7FF0000000000001), false, "1.#NaN", dtoa::DECPT_SPECIAL, 0},
        {0.0, true, "0.0", dtoa::DECPT_ZERO, 0},
        {0.0, false, "0", dtoa::DECPT_ZERO, 0},
        {-0.0, true, "-0.0", dtoa::DECPT_ZERO, 1},
        {-0.0, false, "-0", dtoa::DECPT_ZERO, 1},
    };
    for (const row& r : rows) {
        dtoa::digits d = dtoa::to_text(r.value, 0, r.zero_form);
        EXPECT_STREQ(d.text, r.text);
        EXPECT_EQ(d.length, int(std::strlen(r.text))) << r.text;
        EXPECT_EQ(d.decpt, r.decpt) << r.text;
        EXPECT_EQ(d.sign, r.sign) << r.text;
    }
}

TEST(FloatText, DigitsWithPrecision) {
    struct row {
        double value;
        int precision;
        const char* digits;
        int decpt;
    };
    const row rows[] = {
        {123.456, 2, "12", 3},
        {0.125, 2, "12", 0},   // tie: to the even digit
        {0.375, 2, "38", 0},
        {9.5, 1, "1", 2},      // the carry makes a new leading digit
        {0.1, 0, "1", 0},
        {0.1, -3, "1", 0},     // any precision below 1 asks for the shortest
        {0.1, 20, "1", 0},     // never more digits than the shortest
        {0.3, 17, "3", 0},
        {5e-324, 3, "5", -323},
        {12345.0, 4, "1234", 5},
        {-2.5, 1, "2", 1},
    };
    for (const row& r : rows) {
        dtoa::digits d = dtoa::to_text(r.value, r.precision, true);
        EXPECT_STREQ(d.text, r.digits) << r.value << " precision " << r.precision;
        EXPECT_EQ(d.decpt, r.decpt) << r.value << " precision " << r.precision;
        EXPECT_EQ(d.length, int(std::strlen(r.digits)));
        EXPECT_EQ(d.sign, std::signbit(r.value) ? 1 : 0);
    }
}

TEST(FloatText, Layout) {
    struct row {
        double value;
        int precision;
        bool keep_point;
        const char* text;
    };
    const row rows[] = {
        {1.5, 0, true, "1.5"},
        {-1.5, 0, true, "-1.5"},
        {100.0, 0, true, "100.0"},
        {100.0, 0, false, "100"},
        {0.1, 0, true, "0.1"},
        {1.0 / 3, 0, true, "0.3333333333333333"},
        {9007199254740994.0, 0, true, "9007199254740994.0"},
        {0.001, 0, true, "0.001"},
        // Fixed notation runs from decpt -6 to 17.
        {1e-7, 0, true, "0.0000001"},
        {1.25e-7, 0, false, "0.000000125"},
        {-1e-7, 0, false, "-0.0000001"},
        {1e-8, 0, true, "1.0e-8"},
        {1e-8, 0, false, "1e-8"},
        {-1.25e-8, 0, true, "-1.25e-8"},
        {1e16, 0, true, "10000000000000000.0"},
        {12345678901234568.0, 0, false, "12345678901234568"},
        {1e17, 0, true, "1.0e17"},
        {1e17, 0, false, "1e17"},
        {1.5e17, 0, true, "1.5e17"},
        {1.5e300, 0, true, "1.5e300"},
        {1.5e-300, 0, false, "1.5e-300"},
        {FLOAT_MAX, 0, true, "1.7976931348623157e308"},
        {-FLOAT_MAX, 0, false, "-1.7976931348623157e308"},
        {5e-324, 0, true, "5.0e-324"},
        {5e-324, 0, false, "5e-324"},
        // Precision rounding, with the layout applied to the rounded digits.
        {123.456, 2, true, "120.0"},
        {123.456, 2, false, "120"},
        {0.125, 2, true, "0.12"},
        {0.375, 2, true, "0.38"},
        {9.5, 1, true, "10.0"},
        {99999.9, 5, true, "100000.0"},
        {5.25, 6, false, "5.25"},
        {99999999999999999e5, 3, true, "1.0e22"},
        {1.23456789e-9, 3, false, "1.23e-9"},
        // Texts that are complete as they stand.
        {0.0, 0, true, "0.0"},
        {0.0, 0, false, "0"},
        {-0.0, 0, true, "-0.0"},
        {-0.0, 3, false, "-0"},
        {FLOAT_INF, 0, true, "1.#INF"},
        {FLOAT_NEG_INF, 0, false, "-1.#INF"},
        {-FLOAT_NAN, 0, true, "1.#NaN"},
    };
    for (const row& r : rows) {
        dtoa::formed f = dtoa::form_precision(r.value, r.precision, r.keep_point);
        EXPECT_STREQ(f.text, r.text) << "precision " << r.precision << " keep " << r.keep_point;
        EXPECT_EQ(f.view(), r.text);
    }
}

TEST(FloatText, Reading) {
    struct row {
        const char* text;
        int extra;
        uint64_t bits;
        int unconsumed;
    };
    const row rows[] = {
        {"1.5", 0, bits(1.5), 0},
        {"+1.5", 0, bits(1.5), 0},
        {"-1.5", 0, bits(-1.5), 0},
        {"00012.50", 0, bits(12.5), 0},
        {".5", 0, bits(0.5), 0},
        {"1.", 0, bits(1.0), 0},
        {"1.e5", 0, bits(1e5), 0},
        {"1E-5", 0, bits(1e-5), 0},
        {"2e+3", 0, bits(2e3), 0},
        {"0.000123", 0, bits(0.000123), 0},
        {"9007199254740993.0000", 0, bits(9007199254740992.0), 0},
        // Zeros keep the sign they are written with.
        {"0", 0, bits(0.0), 0},
        {"+0.0", 0, bits(0.0), 0},
        {"-0.0", 0, bits(-0.0), 0},
        {"-0", 0, bits(-0.0), 0},
        {"-000.000e12", 0, bits(-0.0), 0},
        // Overflow and underflow.
        {"1e400", 0, bits(FLOAT_INF), 0},
        {"-1e400", 0, bits(FLOAT_NEG_INF), 0},
        {"1e-400", 0, bits(0.0), 0},
        {"-1e-400", 0, bits(0.0), 0},
        {"1e999999999999999999999", 0, bits(FLOAT_INF), 0},
        {"1e-999999999999999999999", 0, bits(0.0), 0},
        // The special texts.
        {"1.#INF", 0, bits(FLOAT_INF), 0},
        {"-1.#INF", 0, bits(FLOAT_NEG_INF), 0},
        {"+1.#inf", 0, bits(FLOAT_INF), 0},
        {"1.#NaN", 0, 0x7FF8000000000000, 0},
        {"-1.#NAN", 0, 0x7FF8000000000000, 0},
        {"1.#INF]", 0, bits(FLOAT_INF), 1},
        {"1.#I", 0, bits(FLOAT_INF), 0},
        {"12.#INF", 0, bits(12.0), 4},
        {"0.#INF", 0, bits(0.0), 4},
        // The extra exponent of percent literals.
        {"5", -2, bits(0.05), 0},
        {"12.5", -2, bits(0.125), 0},
        {"-50", -2, bits(-0.5), 0},
        {"1e-2", -2, bits(1e-4), 0},
        {"-0", -2, bits(-0.0), 0},
        // Where reading stops.
        {"123abc", 0, bits(123.0), 3},
        {"1.5.2", 0, bits(1.5), 2},
        {"2.5%", 0, bits(2.5), 1},
        {"1e", 0, bits(1.0), 1},
        {"7E", 0, bits(7.0), 1},
        {"", 0, bits(0.0), 0},
        {"-", 0, bits(0.0), 1},
        {"abc", 0, bits(0.0), 3},
        {".", 0, bits(0.0), 1},
    };
    for (const row& r : rows) {
        int unconsumed = -1;
        double d = read(r.text, r.extra, &unconsumed);
        EXPECT_EQ(bits(d), r.bits) << '"' << r.text << "\" extra " << r.extra << " gave " << d;
        EXPECT_EQ(unconsumed, r.unconsumed) << '"' << r.text << '"';
    }
    EXPECT_EQ(read("42", 0, nullptr), 42.0);

    const char text[] = "1.5e3xyz";
    int unconsumed = -1;
    EXPECT_EQ(dtoa::from_bytes(text, 5, &unconsumed), 1500.0);
    EXPECT_EQ(unconsumed, 0);
    EXPECT_EQ(dtoa::from_bytes(text, 4, &unconsumed), 1.5);  // "e" with nothing after it
    EXPECT_EQ(unconsumed, 1);
}

TEST(FloatText, LongInputs) {
    // Beyond the digits the reader keeps, a non-zero tail still decides a tie.
    std::string tie = "9007199254740993" + std::string(900, '0');
    EXPECT_EQ(read(tie, -900, nullptr), 9007199254740992.0);
    EXPECT_EQ(read(tie + "1", -901, nullptr), 9007199254740994.0);
    std::string fraction = "0." + std::string(400, '0') + "1" + std::string(1000, '9');
    EXPECT_EQ(read(fraction, 401, nullptr), 2.0);
    EXPECT_EQ(read(fraction + "e+401", 0, nullptr), 2.0);
    EXPECT_EQ(read(fraction + "e+400", 0, nullptr), 0.2);
}

TEST(FloatText, ShortestDigitsMatchOracle) {
    for (const shortest_case& c : shortest_cases) {
        double x = from_bits(c.bits);
        dtoa::digits d = dtoa::to_text(x, 0, true);
        EXPECT_STREQ(d.text, c.digits) << x;
        EXPECT_EQ(d.decpt, c.decpt) << x;
        EXPECT_EQ(d.length, int(std::strlen(c.digits))) << x;
        EXPECT_EQ(d.sign, int(c.bits >> 63)) << x;
    }
}

TEST(FloatText, PrecisionDigitsMatchOracle) {
    for (const precision_case& c : precision_cases) {
        double x = from_bits(c.bits);
        dtoa::digits d = dtoa::to_text(x, c.precision, true);
        EXPECT_STREQ(d.text, c.digits) << x << " precision " << c.precision;
        EXPECT_EQ(d.decpt, c.decpt) << x << " precision " << c.precision;
    }
}

TEST(FloatText, ReadingMatchesOracle) {
    for (const reading_case& c : reading_cases) {
        int unconsumed = -1;
        double d = read(c.text, c.extra, &unconsumed);
        EXPECT_EQ(bits(d), c.bits) << '"' << c.text << "\" extra " << c.extra;
        EXPECT_EQ(unconsumed, 0) << c.text;
    }
}

TEST(FloatText, FormedTextReadsBack) {
    for (const shortest_case& c : shortest_cases) {
        for (bool keep_point : {true, false}) {
            dtoa::formed f = dtoa::form_precision(from_bits(c.bits), 0, keep_point);
            int unconsumed = -1;
            double d = dtoa::from_bytes(f.text, f.length, &unconsumed);
            EXPECT_EQ(bits(d), c.bits) << f.text;
            EXPECT_EQ(unconsumed, 0) << f.text;
        }
    }
}

}  // namespace
