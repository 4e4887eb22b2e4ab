// The number readers of the conversion actions: the float syntax and the
// float reader.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/datatypes/money.h"
#include "runtime/evaluator/tokenizer.h"

using namespace kiv;

namespace {

// Text in units of 1, 2 or 4 bytes, little-endian.
std::vector<uint8_t> units(const std::u32string& s, uint32_t unit) {
    std::vector<uint8_t> out;
    for (char32_t c : s)
        for (uint32_t i = 0; i < unit; i++) out.push_back(uint8_t(uint32_t(c) >> (8 * i)));
    return out;
}

double scan(const std::u32string& s, int32_t* error, uint32_t unit = 1) {
    std::vector<uint8_t> bytes = units(s, unit);
    return tokenizer::scan_float(bytes.data(), unit, uint32_t(s.size()), error);
}

}  // namespace

TEST(Tokenizer, FloatSyntax) {
    struct Case {
        const char* text;
        bool valid;
    } cases[] = {
        {"1", true},      {"1.5", true},    {".5", true},     {"5.", true},     {"-1.5", true},
        {"+1", true},     {"1e5", true},    {"1E-5", true},   {"1.5e+10", true}, {"1'000", true},
        {"1'", true},     {"1.2'5", true},  {"1.5'", true},   {".", true},      {"--1", true},
        {"", false},      {"-", false},     {"'1", false},    {"1''0", false},  {"1.'5", false},
        {"1e", false},    {"1e+", false},   {"1.e5", false},  {"1.5.2", false}, {"1e5.5", false},
        {"1e5'", false},  {"1x", false},    {" 1", false},    {"1.#INF", false}, {"1-", false},
        {"e5", false},    {".e5", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(tokenizer::float_syntax_q(c.text, uint32_t(std::strlen(c.text))), c.valid) << c.text;
    std::string longest(tokenizer::FLOAT_TEXT_MAX, '1');
    EXPECT_TRUE(tokenizer::float_syntax_q(longest.data(), uint32_t(longest.size())));
    longest += '1';
    EXPECT_FALSE(tokenizer::float_syntax_q(longest.data(), uint32_t(longest.size())));
}

TEST(Tokenizer, ScanFloat) {
    struct Case {
        std::u32string text;
        double value;  // NaN when the text is refused
    } cases[] = {
        {U"1,5", 1.5},       {U"1'000.5", 1000.5},  {U"-0.25", -0.25},    {U"1e-7", 1e-7},
        {U"0.1", 0.1},       {U"1e400", HUGE_VAL},  {U"-0", -0.0},        {U"9007199254740993", 9007199254740992.0},
        {U"1.5x", NAN},      {U"", NAN},            {U"--1", NAN},        {U".", NAN},
        {U"-.", NAN},        {U"1\u0131", NAN},     {U"\u0131", NAN},     {U"1,000.5", NAN},
    };
    for (uint32_t unit : {1u, 2u, 4u}) {
        for (const Case& c : cases) {
            if (unit == 1 && c.text.find(U'\u0131') != std::u32string::npos) continue;
            int32_t error = 7;
            double d = scan(c.text, &error, unit);
            if (std::isnan(c.value)) {
                EXPECT_EQ(error, tokenizer::SCAN_INVALID) << unit;
                EXPECT_TRUE(std::isnan(d));
            } else {
                EXPECT_EQ(error, 0) << unit;
                EXPECT_EQ(d, c.value) << unit;
                EXPECT_EQ(std::signbit(d), std::signbit(c.value));
            }
        }
    }
    int32_t error = 0;
    std::u32string long_text(tokenizer::FLOAT_TEXT_MAX, U'1');
    EXPECT_EQ(scan(long_text, &error), HUGE_VAL);  // 312 digits: beyond the largest double
    EXPECT_EQ(error, 0);
    long_text += U'1';
    EXPECT_TRUE(std::isnan(scan(long_text, &error)));
    EXPECT_EQ(error, tokenizer::SCAN_INVALID);
}

TEST(Tokenizer, MoneyText) {
    struct Case {
        std::u32string text;
        bool valid;
        money::amount amount;
        bool negative;
    } cases[] = {
        {U"$1'000.50", true, money::amount(100050000), false},
        {U"1'000.50", true, money::amount(100050000), false},
        {U"-$0.5", true, money::amount(50000), true},
        {U"+7", true, money::amount(700000), false},
        {U"$1.123456", true, money::amount(112345), false},
        {U"$'1", false, 0, false},     {U"1..2", false, 0, false},  {U"1'", false, 0, false},
        {U"1''0", false, 0, false},    {U"1.'5", false, 0, false},  {U".5", false, 0, false},
        {U"5.", false, 0, false},      {U"$", false, 0, false},     {U"", false, 0, false},
        {U"US$1", false, 0, false},    {U"1,5", false, 0, false},   {U"1\u00e9", false, 0, false},
        {U"123456789012345678", false, 0, false},
    };
    for (uint32_t unit : {1u, 2u, 4u}) {
        for (const Case& c : cases) {
            std::vector<uint8_t> bytes = units(c.text, unit);
            kiv_value cell{};
            int32_t error = 0;
            tokenizer::scan_money(bytes.data(), unit, uint32_t(c.text.size()), &cell, &error);
            EXPECT_EQ(error == 0, c.valid) << unit;
            if (!c.valid || error) continue;
            EXPECT_TRUE(money::magnitude(&cell) == c.amount) << unit;
            EXPECT_EQ(money::negative_q(&cell), c.negative) << unit;
        }
    }
}
