// char!: arithmetic inside the code-point range, conversion, form, mold,
// comparison and the inherited integer actions.
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "tests/unit/action_fixture.h"
#include "tests/unit/text_fixture.h"

using namespace kiv;
using namespace kiv::test;

using Chars = StackTest;

namespace {

kiv_value ch(uint32_t cp) { return kiv_value{TYPE_CHAR, 0, cp, 0}; }

kiv_value bytes(std::initializer_list<uint8_t> list) {
    node_id n = memory::alloc_bytes(uint32_t(list.size()));
    series_buffer* b = series::buffer(n);
    for (uint8_t byte : list) *b->tail++ = byte;
    return kiv_value{TYPE_BINARY, 0, n, 0};
}

kiv_value typed(kiv_value v, uint32_t type) {
    v.header = type;
    return v;
}

// An expected char!, or the error raised instead.
struct expect {
    int64_t cp;  // -1 for an error
    err::category category = err::MATH;
    uint32_t id = 0;
};
expect is(uint32_t cp) { return {cp}; }
expect fails(err::category c, uint32_t id) { return {-1, c, id}; }

void check(const std::string& what, const std::function<kiv_value()>& run, const expect& e) {
    SCOPED_TRACE(what);
    stack::arguments = stack::top = stack::bottom;
    stack::ctop = stack::cbottom;
    if (e.cp < 0) {
        stack::mark_try(nullptr);
        expect_error(raised([&] { run(); }), e.category, e.id);
        return;
    }
    kiv_value r = run();
    EXPECT_EQ(type_of(&r), uint32_t(TYPE_CHAR));
    EXPECT_EQ(r.data2, uint32_t(e.cp));
}

}  // namespace

TEST_F(Chars, ArithmeticStaysInTheCodePointRange) {
    const uint32_t LAST = char_::MAX_CODEPOINT;
    struct Case {
        uint32_t slot;
        uint32_t cp;
        kiv_value right;
        expect result;
    } cases[] = {
        {SLOT_ADD, 'a', int_value(1), is('b')},
        {SLOT_SUBTRACT, 'a', int_value(32), is('A')},
        {SLOT_MULTIPLY, 'z', int_value(2), is(244)},
        {SLOT_DIVIDE, 'a', int_value(2), is('0')},
        {SLOT_DIVIDE, 'a', int_value(-1), fails(err::MATH, err::math::overflow)},
        {SLOT_REMAINDER, 'a', int_value(10), is(7)},
        {SLOT_ADD, 'a', ch(1), is('b')},
        {SLOT_SUBTRACT, 'a', ch('b'), fails(err::MATH, err::math::overflow)},
        {SLOT_SUBTRACT, 'a', ch('a'), is(0)},
        {SLOT_ADD, LAST, int_value(1), fails(err::MATH, err::math::overflow)},
        {SLOT_ADD, LAST - 1, int_value(1), is(LAST)},
        {SLOT_ADD, 'a', int_value(INT32_MAX), fails(err::MATH, err::math::overflow)},
        {SLOT_MULTIPLY, LAST, int_value(LAST), fails(err::MATH, err::math::overflow)},
        {SLOT_DIVIDE, 'a', int_value(0), fails(err::MATH, err::math::zero_divide)},
        {SLOT_REMAINDER, 'a', int_value(0), fails(err::MATH, err::math::zero_divide)},
        {SLOT_AND_T, 'a', int_value(95), is('A')},
        {SLOT_OR_T, 'A', int_value(32), is('a')},
        {SLOT_XOR_T, 'a', int_value(32), is('A')},
        {SLOT_AND_T, 'a', int_value(-1), is('a')},
        {SLOT_ADD, 'a', flt(1.9), is('b')},
        {SLOT_ADD, 'a', flt(-1.9), is('`')},
        {SLOT_ADD, 'a', flt(1e300), fails(err::MATH, err::math::overflow)},
        {SLOT_ADD, 'a', flt(std::nan("")), fails(err::MATH, err::math::overflow)},
        {SLOT_ADD, 'a', none_value, fails(err::SCRIPT, err::script::invalid_type)},
        {SLOT_ADD, 'a', str("b"), fails(err::SCRIPT, err::script::invalid_type)},
    };
    for (const Case& c : cases)
        check(std::to_string(c.slot) + " " + std::to_string(c.cp), [&] { return call(c.slot, {ch(c.cp), c.right}); },
              c.result);
}

TEST_F(Chars, MakeAndToConvert) {
    const uint32_t LAST = char_::MAX_CODEPOINT;
    struct Case {
        const char* what;
        kiv_value spec;
        expect result;
    } cases[] = {
        {"last", int_value(int32_t(LAST)), is(LAST)},
        {"past last", int_value(int32_t(LAST + 1)), fails(err::SCRIPT, err::script::out_of_range)},
        {"negative", int_value(-1), fails(err::SCRIPT, err::script::out_of_range)},
        {"char", ch('q'), is('q')},
        {"float", flt(65.7), is('A')},
        {"small negative float", flt(-0.5), is(0)},
        {"float past last", flt(LAST + 1.0), fails(err::SCRIPT, err::script::out_of_range)},
        {"nan", flt(std::nan("")), fails(err::SCRIPT, err::script::out_of_range)},
        {"percent", typed(flt(66.0), TYPE_PERCENT), is('B')},
        {"empty string", str(""), fails(err::SCRIPT, err::script::bad_to_arg)},
        {"string", str("abc"), is('a')},
        {"string at", kiv_value{TYPE_STRING, 1, str("abc").data2, 0}, is('b')},
        {"string at tail", kiv_value{TYPE_STRING, 3, str("abc").data2, 0}, fails(err::SCRIPT, err::script::bad_to_arg)},
        {"tag", typed(str("t"), TYPE_TAG), is('t')},
        {"wide string", text({0x1F600, 'a'}), is(0x1F600)},
        {"utf-8", bytes({0xC3, 0xA9}), is(233)},
        {"utf-8 ascii", bytes({0x41, 0x42}), is('A')},
        {"utf-8 four bytes", bytes({0xF0, 0x9F, 0x98, 0x80}), is(0x1F600)},
        {"utf-8 at", kiv_value{TYPE_BINARY, 1, bytes({0x41, 0x42}).data2, 0}, is('B')},
        {"empty binary", bytes({}), fails(err::SCRIPT, err::script::bad_to_arg)},
        {"cut sequence", bytes({0xC3}), fails(err::ACCESS, err::access::invalid_utf8)},
        {"bad lead", bytes({0xFF}), fails(err::ACCESS, err::access::invalid_utf8)},
        {"continuation", bytes({0xA9}), fails(err::ACCESS, err::access::invalid_utf8)},
        {"overlong", bytes({0xC0, 0x80}), fails(err::ACCESS, err::access::invalid_utf8)},
        {"none", none_value, fails(err::SCRIPT, err::script::bad_to_arg)},
        {"block", block_of({ch('a')}), fails(err::SCRIPT, err::script::bad_to_arg)},
        {"logic", true_value, fails(err::SCRIPT, err::script::bad_to_arg)},
    };
    for (const Case& c : cases) {
        check(std::string("to ") + c.what, [&] { return call(SLOT_TO, {dtype(TYPE_CHAR), c.spec}); }, c.result);
        check(std::string("make ") + c.what, [&] { return call(SLOT_MAKE, {ch('x'), c.spec}); }, c.result);
    }
}

TEST_F(Chars, FormAndMold) {
    struct Case {
        uint32_t cp;
        const char* molded;
    } cases[] = {
        {'a', "#\"a\""},     {'^', "#\"^^\""},      {'"', "#\"^\"\""},     {'\t', "#\"^-\""},
        {'\n', "#\"^/\""},   {0, "#\"^@\""},        {27, "#\"^[\""},       {30, "#\"^(1E)\""},
        {31, "#\"^_\""},     {127, "#\"^~\""},      {150, "#\"^(96)\""},   {233, "#\"\xe9\""},
        {'{', "#\"{\""},     {' ', "#\" \""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(molded(ch(c.cp)), c.molded) << c.cp;
        EXPECT_EQ(molded(ch(c.cp)).size() >= 4, true);
    }
    EXPECT_EQ(molded(ch(233), true), "#\"^(E9)\"");
    EXPECT_EQ(formed(ch('a')), "a");
    kiv_value f = call(SLOT_FORM, {ch(0x1F600)}, {-1});
    EXPECT_EQ(chars_of(&f), codepoints{0x1F600});
    kiv_value m = call(SLOT_MOLD, {ch(0x4E00)}, {-1, -1, -1, -1});
    EXPECT_EQ(chars_of(&m), (codepoints{'#', '"', 0x4E00, '"'}));

    kiv_value out;
    string::make_at(&out, 16);
    kiv_value c = ch(30);
    EXPECT_EQ(char_::form(&c, &out, nullptr, 10), 9);
    EXPECT_EQ(char_::mold(&c, &out, false, false, false, nullptr, 10, 0), 6);  // the escape is not counted
    EXPECT_EQ(formed(block_of({ch('a'), ch('b')})), "a b");
    EXPECT_EQ(molded(block_of({ch('a'), ch('b')})), "[#\"a\" #\"b\"]");
}

TEST_F(Chars, Comparison) {
    kiv_value a = ch('a'), A = ch('A'), b = ch('b'), n97 = int_value(97), s = str("a");
    struct Case {
        kiv_value* x;
        kiv_value* y;
        int32_t op;
        bool result;
    } cases[] = {
        {&a, &A, COMP_EQUAL, false},         {&a, &a, COMP_EQUAL, true},
        {&a, &b, COMP_LESSER, true},         {&b, &a, COMP_GREATER, true},
        {&a, &n97, COMP_EQUAL, true},        {&a, &n97, COMP_STRICT_EQUAL, false},
        {&a, &n97, COMP_FIND, false},        {&a, &a, COMP_STRICT_EQUAL, true},
        {&a, &s, COMP_EQUAL, false},         {&a, &s, COMP_NOT_EQUAL, true},
        {&a, &n97, COMP_GREATER_EQUAL, true},
    };
    for (const Case& c : cases) EXPECT_EQ(actions::compare(c.x, c.y, c.op), c.result) << c.op;
    EXPECT_EQ(char_::compare(&a, &s, COMP_EQUAL), COMPARE_INCOMPARABLE);
    stack::mark_try(nullptr);
    expect_error(raised([&] { actions::compare(&a, &s, COMP_LESSER); }), err::SCRIPT, err::script::invalid_compare);
}

TEST_F(Chars, InheritedIntegerActionsKeepTheType) {
    EXPECT_TRUE(truth(call(SLOT_EVEN_Q, {ch('b')})));
    EXPECT_TRUE(truth(call(SLOT_ODD_Q, {ch('a')})));
    kiv_value abs = call(SLOT_ABSOLUTE, {ch('a')});
    EXPECT_EQ(type_of(&abs), uint32_t(TYPE_CHAR));
    EXPECT_EQ(abs.data2, uint32_t('a'));
    for (int i = 0; i < 20; i++) {
        kiv_value r = call(SLOT_RANDOM, {ch('z')}, {-1, -1, -1});
        EXPECT_EQ(type_of(&r), uint32_t(TYPE_CHAR));
        EXPECT_GE(r.data2, 1u);
        EXPECT_LE(r.data2, uint32_t('z'));
    }
    check("negate", [] { return call(SLOT_NEGATE, {ch('a')}); }, fails(err::SCRIPT, err::script::expect_arg));
    check("power", [] { return call(SLOT_POWER, {ch('a'), int_value(2)}); },
          fails(err::SCRIPT, err::script::expect_arg));
}

TEST_F(Chars, Constructors) {
    kiv_value blk = block_of({});
    kiv_value* c = char_::make_in(&blk, 'x');
    EXPECT_EQ(c, block::cells(&blk));
    EXPECT_EQ(type_of(c), uint32_t(TYPE_CHAR));
    EXPECT_EQ(c->data2, uint32_t('x'));
    kiv_value* p = char_::push(0x10FFFF);
    EXPECT_EQ(p, stack::top - 1);
    EXPECT_EQ(char_::get_value(p), 0x10FFFFu);
}
