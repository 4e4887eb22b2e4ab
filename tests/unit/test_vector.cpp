// vector!, tuple! and the points inside the runtime: element storage at each
// width, the cells the constructors fill, and their KIVBIN payloads (golden
// bytes and malformed records).
#include <bit>
#include <cstring>
#include <vector>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/vector.h"
#include "runtime/io/kivbin.h"
#include "tests/unit/natives_fixture.h"

using namespace kiv;
using namespace kiv::test;

namespace {

using bytes = std::vector<uint8_t>;

class Vector : public NativesTest {
  protected:
    bytes payload_of(const std::string& text) {
        kiv_value v = run(text);
        stack::push_value(&v);
        bytes b = kivbin::encode_cp(&v);
        stack::pop(1);
        return bytes(b.begin() + 10, b.end());
    }

    // The offset that decoding the payload reports as invalid.
    int32_t invalid_at(std::initializer_list<uint8_t> payload) {
        bytes b = {'K', 'I', 'V', 'B', 'I', 'N', 2, kivbin::FLAG_COMPACT, 0x01, uint8_t(payload.size())};
        b.insert(b.end(), payload);
        StackTest::SetUp();
        stack::mark_try(nullptr);
        kiv_value e = raised([&] {
            kiv_value* target = block::make_at(stack::push(), 4);
            kivbin::decode(b.data(), target, true, int64_t(b.size()));
        });
        StackTest::SetUp();
        expect_error(e, err::SCRIPT, err::script::kb_invalid_record);
        return int_of(*error::field(&e, error::FIELD_ARG1));
    }
};

kiv_value number(double d) {
    kiv_value v;
    return *float_::make_at(&v, d);
}

}  // namespace

TEST_F(Vector, WidthsOfEachElementType) {
    EXPECT_TRUE(vector::width_q(TYPE_CHAR, 1));
    EXPECT_TRUE(vector::width_q(TYPE_INTEGER, 2));
    EXPECT_FALSE(vector::width_q(TYPE_INTEGER, 8));
    EXPECT_TRUE(vector::width_q(TYPE_FLOAT, 4));
    EXPECT_FALSE(vector::width_q(TYPE_FLOAT, 2));
    EXPECT_TRUE(vector::width_q(TYPE_PERCENT, 8));
    EXPECT_FALSE(vector::width_q(TYPE_PERCENT, 4));
    EXPECT_FALSE(vector::width_q(TYPE_STRING, 4));
}

TEST_F(Vector, ElementsAreStoredCutToTheirWidthAndReadSigned) {
    kiv_value* v = vector::make_at(stack::push(), 3, TYPE_INTEGER, 2);
    EXPECT_EQ(series::unit_of_value(v), 2u);
    EXPECT_EQ(vector::ks_length_q(v), 3u);
    kiv_value big;
    integer::make_at(&big, 0x18000);
    vector::set_element(v, 0, &big);
    kiv_value f = number(-2.9);
    vector::set_element(v, 1, &f);
    kiv_value* e = vector::push_element(v, 0);
    EXPECT_EQ(int_of(*e), -32768);
    EXPECT_EQ(int_of(*vector::push_element(v, 1)), -2);
    EXPECT_EQ(int_of(*vector::push_element(v, 2)), 0);
}

TEST_F(Vector, FloatsBeyondTheIntegersAreOutOfRange) {
    for (double d : {1e300, -2147483649.0, 2147483648.0}) {
        SCOPED_TRACE(d);
        expect_raises("v: make vector! [1] poke v 1 " + molded(number(d)), err::SCRIPT, err::script::out_of_range);
    }
    EXPECT_EQ(mold_of("v: make vector! [integer! 8 [0]] poke v 1 -2147483648.5 v"), "make vector! [integer! 8 [0]]");
}

TEST_F(Vector, SinglesRoundAndIntegersBecomeFloats) {
    kiv_value* v = vector::make_at(stack::push(), 2, TYPE_FLOAT, 4);
    kiv_value tenth = number(0.1);
    vector::set_element(v, 0, &tenth);
    kiv_value seven;
    integer::make_at(&seven, 7);
    vector::set_element(v, 1, &seven);
    EXPECT_EQ(float_::get(vector::push_element(v, 0)), double(0.1f));
    EXPECT_EQ(float_::get(vector::push_element(v, 1)), 7.0);
}

TEST_F(Vector, TuplesArePaddedToThreeAndCutAtTwelve) {
    const uint8_t b[14] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
    kiv_value t;
    tuple::make_at(&t, 1, b);
    EXPECT_EQ(tuple::length_of(&t), 3u);
    EXPECT_EQ(molded(t), "1.0.0");
    tuple::make_at(&t, 14, b);
    EXPECT_EQ(tuple::length_of(&t), 12u);
    EXPECT_EQ(molded(t), "1.2.3.4.5.6.7.8.9.10.11.12");
    tuple::make_at(&t, 3, b + 10);
    EXPECT_FALSE(tuple::zero_q(&t));
    const uint8_t zeros[4] = {};
    tuple::make_at(&t, 4, zeros);
    EXPECT_TRUE(tuple::zero_q(&t));
}

TEST_F(Vector, PointsKeepSingles) {
    kiv_value p;
    point::make_at(&p, TYPE_POINT3D, 0.1, -2, 1e300);
    EXPECT_EQ(point::component(&p, 0), 0.1f);
    EXPECT_EQ(point::component(&p, 1), -2.0f);
    EXPECT_TRUE(std::isinf(point::component(&p, 2)));
    EXPECT_EQ(molded(p), "(0.1, -2, 1.#INF)");
}

TEST_F(Vector, GoldenPayloads) {
    EXPECT_EQ(payload_of("to tuple! [1 2 3]"), (bytes{0x27, 1, 2, 3}));
    EXPECT_EQ(payload_of("to tuple! [1 2 3 4]"), (bytes{0x67, 4, 1, 2, 3, 4}));
    EXPECT_EQ(payload_of("make point2D! [1 2]"), (bytes{0x33, 0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0x40}));
    EXPECT_EQ(payload_of("make point3D! [0 0 -1]"),
              (bytes{0x34, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x00, 0x80, 0xBF}));
    EXPECT_EQ(payload_of("make vector! [integer! 8 [1 -2]]"), (bytes{0x23, 0x2C, 0x02, 0x01, 0xFE}));
    EXPECT_EQ(payload_of("next make vector! [integer! 16 [1 2]]"),
              (bytes{0x63, 0x01, 0x2D, 0x02, 0x01, 0x00, 0x02, 0x00}));
    EXPECT_EQ(payload_of("make vector! [float! 32 [1.0]]"), (bytes{0x23, 0x32, 0x01, 0x00, 0x00, 0x80, 0x3F}));
}

TEST_F(Vector, MalformedPayloadsRaiseInvalidRecord) {
    // Tuple lengths outside 1 to 12.
    EXPECT_EQ(invalid_at({0x67, 0x0D, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}), 11);
    EXPECT_EQ(invalid_at({0x67, 0x00}), 11);
    // Bytes missing after the length.
    EXPECT_GT(invalid_at({0x67, 0x05, 1, 2}), 0);
    // A vector of strings, and a float vector of 16-bit elements.
    EXPECT_EQ(invalid_at({0x23, 0x1C, 0x00}), 11);
    EXPECT_EQ(invalid_at({0x23, 0x31, 0x00}), 11);
    // Elements running past the end.
    EXPECT_GT(invalid_at({0x23, 0x2E, 0x02, 0x01, 0x00, 0x00, 0x00}), 0);
    // A point cut short.
    EXPECT_GT(invalid_at({0x33, 0x00, 0x00, 0x80}), 0);
}
