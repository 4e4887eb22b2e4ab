// Comparison, logic, data-set and math natives.
#include <cmath>

#include "tests/unit/natives_fixture.h"

using namespace kiv;
using namespace kiv::test;

namespace {

using Compare = NativesTest;
using MathNatives = NativesTest;

}  // namespace

TEST_F(Compare, ComparisonNativesPassTheirOperatorCodes) {
    EXPECT_TRUE(logic_run("equal? 1 1.0"));
    EXPECT_FALSE(logic_run("strict-equal? 1 1.0"));
    EXPECT_TRUE(logic_run("strict-equal? 1 1"));
    EXPECT_TRUE(logic_run("not-equal? 1 2"));
    EXPECT_FALSE(logic_run("not-equal? 2 2.0"));
    EXPECT_TRUE(logic_run("lesser? 1 2"));
    EXPECT_FALSE(logic_run("lesser? 2 2"));
    EXPECT_TRUE(logic_run("lesser-or-equal? 2 2"));
    EXPECT_TRUE(logic_run("greater? 3 2.5"));
    EXPECT_FALSE(logic_run("greater? 2 2"));
    EXPECT_TRUE(logic_run("greater-or-equal? 2 2"));
    EXPECT_FALSE(logic_run("greater-or-equal? 1 2"));
    // The operators are the same natives.
    EXPECT_TRUE(logic_run("1 + 1 = 2"));
    EXPECT_TRUE(logic_run("1 <> 2"));
    EXPECT_TRUE(logic_run("[1 2] == [1 2]"));
    EXPECT_TRUE(logic_run("1 < 2"));
    EXPECT_TRUE(logic_run("2 >= 2"));
    EXPECT_TRUE(logic_run("'a = 'A"));
    EXPECT_FALSE(logic_run("'a == 'A"));
    // Values that cannot be compared are unequal, and unordered.
    EXPECT_FALSE(logic_run("equal? 1 [1]"));
    EXPECT_TRUE(logic_run("not-equal? none 0"));
    expect_raises("lesser? 1 [1]", err::SCRIPT, err::script::invalid_compare);
}

TEST_F(Compare, SameQIsIdentity) {
    EXPECT_FALSE(logic_run("same? [1] [1]"));
    EXPECT_TRUE(logic_run("sb: [1 2] same? sb sb"));
    EXPECT_TRUE(logic_run("same? next sb next sb"));
    EXPECT_FALSE(logic_run("same? sb next sb"));
    EXPECT_FALSE(logic_run("same? 1 1.0"));
    EXPECT_TRUE(logic_run("same? 1 1"));
    EXPECT_TRUE(logic_run("same? 1.5 1.5"));
    EXPECT_FALSE(logic_run("same? 0.0 -0.0"));
    EXPECT_TRUE(logic_run("same? 'a 'a"));
    EXPECT_FALSE(logic_run("same? 'a 'A"));
    EXPECT_FALSE(logic_run("fw: func [a] ['a] same? 'a fw 1"));  // another context
    EXPECT_TRUE(logic_run("equal? 'a fw 1"));
    EXPECT_TRUE(logic_run("same? :add :add"));
    EXPECT_FALSE(logic_run("same? :add :subtract"));
    EXPECT_TRUE(logic_run("sf: func [] [] same? :sf :sf"));
    EXPECT_FALSE(logic_run("same? func [] [] func [] []"));
    EXPECT_TRUE(logic_run("same? none none"));
    EXPECT_TRUE(logic_run("sb =? sb"));
}

TEST_F(Compare, NotAndTypeQ) {
    EXPECT_FALSE(logic_run("not 0"));
    EXPECT_TRUE(logic_run("not none"));
    EXPECT_TRUE(logic_run("not false"));
    EXPECT_FALSE(logic_run("not true"));
    EXPECT_FALSE(logic_run("not ()"));
    EXPECT_FALSE(logic_run("not []"));
    kiv_value t = run("type? 1");
    EXPECT_EQ(type_of(&t), uint32_t(TYPE_DATATYPE));
    EXPECT_EQ(t.data1, uint32_t(TYPE_INTEGER));
    EXPECT_EQ(run("type? :if").data1, uint32_t(TYPE_NATIVE));
    EXPECT_EQ(run("type? ()").data1, uint32_t(TYPE_UNSET));
    kiv_value w = run("type?/word [1]");
    EXPECT_EQ(type_of(&w), uint32_t(TYPE_WORD));
    EXPECT_EQ(molded(w), "block!");
    EXPECT_TRUE(logic_run("integer! = type? 5"));
}

TEST_F(Compare, MaxAndMinKeepTheWinnersType) {
    EXPECT_EQ(float_run("max 1 2.5"), 2.5);
    EXPECT_EQ(int_run("max 3 2.5"), 3);
    EXPECT_EQ(int_run("max 1 1.0"), 1);
    EXPECT_EQ(float_run("min 1 1.0"), 1.0);
    EXPECT_EQ(int_run("min 2 7"), 2);
    EXPECT_EQ(float_run("min 2 -7.5"), -7.5);
    EXPECT_TRUE(std::isnan(float_run("max 1 0.0 / 0.0")));
    EXPECT_TRUE(std::isnan(float_run("min 0.0 / 0.0 1")));
    EXPECT_EQ(mold_of("max [1 2] [1 3]"), "[1 3]");
    EXPECT_EQ(mold_of("min [1 2] [1 3]"), "[1 2]");
    expect_raises("max 1 [1]", err::SCRIPT, err::script::invalid_compare);
}

TEST_F(Compare, DataSets) {
    EXPECT_EQ(mold_of("union [1 2 3] [3 4]"), "[1 2 3 4]");
    EXPECT_EQ(mold_of("intersect [1 2 3] [3 2 5]"), "[2 3]");
    EXPECT_EQ(mold_of("unique [1 2 1 3 2]"), "[1 2 3]");
    EXPECT_EQ(mold_of("difference [1 2 3] [3 4]"), "[1 2 4]");
    EXPECT_EQ(mold_of("exclude [1 2 3] [3 4]"), "[1 2]");
    EXPECT_EQ(mold_of("union/skip [a 1 b 2] [a 3 c 4] 2"), "[a 1 b 2 c 4]");
    EXPECT_EQ(mold_of("unique reduce ['a 'A]"), "[a]");
    EXPECT_EQ(mold_of("unique/case reduce ['a 'A]"), "[a A]");
    expect_raises("union [1] 'a/b", err::SCRIPT, err::script::expect_arg);
    expect_raises("complement? [1]", err::SCRIPT, err::script::expect_arg);
}

TEST_F(MathNatives, SignTests) {
    EXPECT_TRUE(logic_run("negative? -1"));
    EXPECT_FALSE(logic_run("negative? 0"));
    EXPECT_FALSE(logic_run("positive? 0"));
    EXPECT_TRUE(logic_run("positive? 0.5"));
    EXPECT_TRUE(logic_run("negative? -0.5"));
    EXPECT_FALSE(logic_run("negative? -0.0"));
    EXPECT_EQ(int_run("sign? -7"), -1);
    EXPECT_EQ(int_run("sign? 0"), 0);
    EXPECT_EQ(int_run("sign? 2.5"), 1);
    EXPECT_EQ(int_run("sign? -0.0"), 0);
    EXPECT_TRUE(logic_run("zero? 0"));
    EXPECT_TRUE(logic_run("zero? -0.0"));
    EXPECT_FALSE(logic_run("zero? 1e-300"));
    EXPECT_TRUE(logic_run("NaN? 0.0 / 0.0"));
    EXPECT_FALSE(logic_run("NaN? 1.0 / 0.0"));
    EXPECT_FALSE(logic_run("NaN? 1"));
    expect_raises("negative? [1]", err::SCRIPT, err::script::expect_arg);
}

TEST_F(MathNatives, Trigonometry) {
    EXPECT_NEAR(float_run("sine 30"), 0.5, 1e-15);
    EXPECT_EQ(float_run("sine 180"), 0.0);
    EXPECT_EQ(float_run("sine -180"), 0.0);
    EXPECT_EQ(float_run("cosine 90"), 0.0);
    EXPECT_EQ(float_run("cosine 0"), 1.0);
    EXPECT_EQ(float_run("sine 90"), 1.0);
    EXPECT_NEAR(float_run("sine 390"), 0.5, 1e-15);  // reduced modulo 360
    EXPECT_NEAR(float_run("sine -330"), 0.5, 1e-15);
    EXPECT_EQ(float_run("tangent 90"), HUGE_VAL);
    EXPECT_EQ(float_run("tangent -90"), -HUGE_VAL);
    EXPECT_EQ(float_run("tangent 270"), -HUGE_VAL);
    EXPECT_NEAR(float_run("tangent 45"), 1.0, 1e-15);
    EXPECT_EQ(float_run("sine/radians 0"), 0.0);
    EXPECT_NEAR(float_run("cosine/radians 3.141592653589793"), -1.0, 1e-15);
    EXPECT_EQ(float_run("arcsine 1"), 90.0);
    EXPECT_EQ(float_run("arccosine 1"), 0.0);
    EXPECT_EQ(float_run("arccosine -1"), 180.0);
    EXPECT_EQ(float_run("arctangent 1"), 45.0);
    EXPECT_EQ(float_run("arctangent2 1 -1"), 135.0);
    EXPECT_EQ(float_run("arctangent2 0 -1"), 180.0);
    EXPECT_DOUBLE_EQ(float_run("arcsine/radians 1"), 1.5707963267948966);
    EXPECT_TRUE(std::isnan(float_run("arcsine 2")));
}

TEST_F(MathNatives, LogarithmsAndPowers) {
    EXPECT_EQ(float_run("log-2 8"), 3.0);
    EXPECT_EQ(float_run("log-2 1024"), 10.0);
    EXPECT_EQ(float_run("log-10 1000"), 3.0);
    EXPECT_EQ(float_run("log-e 1"), 0.0);
    EXPECT_EQ(float_run("exp 0"), 1.0);
    EXPECT_DOUBLE_EQ(float_run("exp 1"), 2.718281828459045);
    EXPECT_EQ(float_run("square-root 16"), 4.0);
    EXPECT_TRUE(std::isnan(float_run("square-root -1")));
    EXPECT_EQ(float_run("log-e 0"), -HUGE_VAL);
    EXPECT_TRUE(std::isnan(float_run("log-10 -1")));
}

TEST_F(MathNatives, ShiftAndToHex) {
    EXPECT_EQ(int_run("shift -8 1"), -4);
    EXPECT_EQ(int_run("shift/logical -8 28"), 15);
    EXPECT_EQ(int_run("shift 5 40"), 0);
    EXPECT_EQ(int_run("shift -5 40"), -1);
    EXPECT_EQ(int_run("shift/left 1 32"), 0);
    EXPECT_EQ(int_run("shift/left 1 31"), INT32_MIN);
    EXPECT_EQ(int_run("shift/left 3 -2"), 3);  // a negative count is 0
    EXPECT_EQ(int_run("shift/logical -1 31"), 1);
    EXPECT_EQ(int_run("shift/left/logical 1 4"), 16);  // /left is checked first
    EXPECT_EQ(molded(run("to-hex 255")), "#000000FF");
    EXPECT_EQ(molded(run("to-hex/size 255 2")), "#FF");
    EXPECT_EQ(molded(run("to-hex/size 255 12")), "#000000FF");
    EXPECT_EQ(molded(run("to-hex -1")), "#FFFFFFFF");
    expect_raises("to-hex/size 255 0", err::SCRIPT, err::script::invalid_arg);
}
