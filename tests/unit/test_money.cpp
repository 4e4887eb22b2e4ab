// money!: the cell layout, the packed digits, and the conversions from and to
// integers, floats and text that every other part builds on.
#include <climits>
#include <cstring>
#include <string>

#include "runtime/datatypes/money.h"
#include "tests/unit/stack_fixture.h"

using namespace kiv;
using namespace kiv::test;

using Money = StackTest;

namespace {

kiv_value from_text(const std::string& text, bool negative = false) {
    kiv_value v;
    const auto* p = reinterpret_cast<const uint8_t*>(text.data());
    EXPECT_TRUE(money::make_at_text(&v, negative, nullptr, p, p + text.size())) << text;
    return v;
}

}  // namespace

TEST_F(Money, DigitsArePackedMostSignificantFirstFromByteFive) {
    kiv_value v;
    money::make_at(&v, true, 7, money::amount(1234567) * money::SCALE + 89000);
    const auto* bytes = reinterpret_cast<const uint8_t*>(&v);
    EXPECT_EQ(v.header, TYPE_MONEY | money::SIGN_FLAG);
    EXPECT_EQ(bytes[4], 7);
    // Digits 11-17 hold 1234567, digits 18-19 the fraction .89.
    const uint8_t expected[11] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x12, 0x34, 0x56, 0x78, 0x90, 0x00};
    EXPECT_EQ(std::memcmp(bytes + 5, expected, 11), 0);
    EXPECT_EQ(money::magnitude(&v), money::amount(123456789000));
}

TEST_F(Money, ZeroIsNeverNegative) {
    kiv_value v;
    money::make_at(&v, true, 0, 0);
    EXPECT_EQ(money::sign(&v), 0);
    // A raw cell may carry the sign bit on a zero: the tests still see zero.
    uint8_t zeros[11] = {};
    ASSERT_TRUE(money::make_at_raw(&v, true, 0, zeros));
    EXPECT_TRUE(money::get_sign(&v));
    EXPECT_FALSE(money::negative_q(&v));
    EXPECT_TRUE(money::zero_q(&v));
}

TEST_F(Money, RawDigitsAboveNineAreRefused) {
    kiv_value v;
    uint8_t digits[11] = {};
    digits[10] = 0x0A;
    EXPECT_FALSE(money::make_at_raw(&v, false, 0, digits));
    digits[10] = 0xA0;
    EXPECT_FALSE(money::make_at_raw(&v, false, 0, digits));
    digits[10] = 0x99;
    EXPECT_TRUE(money::make_at_raw(&v, false, 0, digits));
}

TEST_F(Money, LargestAmountFillsEveryDigit) {
    kiv_value v;
    money::make_at(&v, false, 0, money::LIMIT - 1);
    const auto* bytes = reinterpret_cast<const uint8_t*>(&v);
    for (int i = 5; i < 16; i++) EXPECT_EQ(bytes[i], 0x99) << i;
}

TEST_F(Money, IntegersRoundTrip) {
    const int32_t cases[] = {0, 1, -1, 42, 2147483647, INT32_MIN};
    for (int32_t n : cases) {
        kiv_value v;
        money::from_integer(&v, n);
        EXPECT_EQ(money::to_integer(&v), n) << n;
        EXPECT_EQ(money::negative_q(&v), n < 0);
    }
}

TEST_F(Money, TextIsReadDigitByDigit) {
    struct Case {
        const char* text;
        money::amount expected;
    } cases[] = {
        {"1'000.50", money::amount(100050000)},
        {"0.1", money::amount(10000)},
        {"000123", money::amount(12300000)},
        {"1.123456", money::amount(112345)},  // past the fifth digit: dropped
        {"12345678901234567.12345", money::amount(12345678901234567ull) * money::SCALE + 12345},
    };
    for (const Case& c : cases) {
        kiv_value v = from_text(c.text);
        EXPECT_TRUE(money::magnitude(&v) == c.expected) << c.text;
    }
    kiv_value v;
    const uint8_t eighteen[] = "123456789012345678";
    EXPECT_FALSE(money::make_at_text(&v, false, nullptr, eighteen, eighteen + 18));
}

TEST_F(Money, FloatsConvertThroughTheirShortestDigits) {
    struct Case {
        double d;
        money::amount expected;
    } cases[] = {
        {0.1, money::amount(10000)},
        {1.5, money::amount(150000)},
        {-2.25, money::amount(225000)},
        {1e-05, money::amount(1)},
        {12345678.12345, money::amount(1234567812345ull)},
        {99999999999999984.0, money::amount(99999999999999980ull) * money::SCALE},
    };
    for (const Case& c : cases) {
        kiv_value v;
        money::from_float(&v, c.d, true);
        EXPECT_TRUE(money::magnitude(&v) == c.expected) << c.d;
        EXPECT_EQ(money::negative_q(&v), c.d < 0) << c.d;
        EXPECT_EQ(money::to_float(&v), c.d) << c.d;
    }
    // Leniently, digits past the fifth go.
    kiv_value v;
    money::from_float(&v, 1.123456, false);
    EXPECT_TRUE(money::magnitude(&v) == money::amount(112345));
}
