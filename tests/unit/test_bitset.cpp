// bitset!: construction from the spec language, membership tests, editing,
// the bitwise actions and set operations, comparison, forming and molding.
// Expected byte texts were computed with Python 3 (a bytearray with bit n at
// 0x80 >> (n % 8) of byte n // 8).
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "runtime/datatypes/bitset.h"
#include "tests/unit/action_fixture.h"
#include "tests/unit/text_fixture.h"

using namespace kiv;
using namespace kiv::test;

using Bitset = StackTest;

namespace {

kiv_value chr(uint32_t cp) { return kiv_value{TYPE_CHAR, 0, cp, 0}; }
kiv_value dash() { return word_of("-"); }
kiv_value not_() { return word_of("not"); }

kiv_value binary(std::initializer_list<uint8_t> bytes, uint32_t head = 0) {
    node_id n = memory::alloc_bytes(uint32_t(bytes.size()));
    series_buffer* b = series::buffer(n);
    uint8_t* p = series::alloc_tail_bytes(b, uint32_t(bytes.size()));
    for (uint8_t byte : bytes) *p++ = byte;
    return kiv_value{TYPE_BINARY, head, n, 0};
}

kiv_value paren_of(const std::vector<kiv_value>& cells) {
    kiv_value p = block_of(cells);
    return *cell::set_type(&p, TYPE_PAREN);
}

kiv_value make(const kiv_value& spec) { return call(SLOT_MAKE, {dtype(TYPE_BITSET), spec}); }
kiv_value make_to(const kiv_value& spec) { return call(SLOT_TO, {dtype(TYPE_BITSET), spec}); }

bool picked(const kiv_value& bits, const kiv_value& index) { return truth(call(SLOT_PICK, {bits, index})); }
int32_t length_q(const kiv_value& bits) { return int_of(call(SLOT_LENGTH_Q, {bits})); }
bool complemented(const kiv_value& bits) { return bitset::complemented_q(&bits); }

// The stored bytes as upper-case hexadecimal.
std::string hex(const kiv_value& bits) {
    std::string out;
    for (const uint8_t* p = bitset::ks_head(&bits); p < bitset::ks_tail(&bits); p++)
        out += string::byte_to_hex(*p);
    return out;
}

void expect_fails(const char* what, err::category c, uint32_t id, std::function<void()> code) {
    SCOPED_TRACE(what);
    expect_raised(attempt(code), c, id);
}

}  // namespace

// Construction -------------------------------------------------------------------

TEST_F(Bitset, MakeFromSpecs) {
    kiv_value text_at_a = str("xabc");
    text_at_a.data1 = 1;
    struct Case {
        const char* what;
        kiv_value spec;
        const char* bytes;
        bool complemented;
    } cases[] = {
        {"[#\"a\" - #\"c\"]", block_of({chr('a'), dash(), chr('c')}), "00000000000000000000000070", false},
        {"\"abc\"", str("abc"), "00000000000000000000000070", false},
        {"\"xabc\" from its cursor", text_at_a, "00000000000000000000000070", false},
        {"\"hello\"", str("hello"), "0000000000000000000000000489", false},
        {"#\"a\"", chr('a'), "00000000000000000000000040", false},
        {"[1 - 3]", block_of({int_value(1), dash(), int_value(3)}), "70", false},
        {"[2.7]", block_of({flt(2.7)}), "20", false},
        {"[-0.5] is bit 0", block_of({flt(-0.5)}), "80", false},
        {"[1 [2 [3]]]", block_of({int_value(1), block_of({int_value(2), block_of({int_value(3)})})}), "70",
         false},
        {"[#\"a\" \"bc\" 100]", block_of({chr('a'), str("bc"), int_value(100)}), "00000000000000000000000078",
         false},
        {"[0 - 15]", block_of({int_value(0), dash(), int_value(15)}), "FFFF", false},
        {"[3 - 20]", block_of({int_value(3), dash(), int_value(20)}), "1FFFF8", false},
        {"[5 - 5]", block_of({int_value(5), dash(), int_value(5)}), "04", false},
        {"[]", block_of({}), "00", false},
        {"\"\"", str(""), "00", false},
        {"[not #\"a\"]", block_of({not_(), chr('a')}), "FFFFFFFFFFFFFFFFFFFFFFFFBF", true},
        {"[not]", block_of({not_()}), "FF", true},
        {"[not \"abc\"]", block_of({not_(), str("abc")}), "FFFFFFFFFFFFFFFFFFFFFFFF8F", true},
        {"#{0102}", binary({0x01, 0x02}), "0102", false},
        {"#{0102} from its cursor", binary({0x01, 0x02}, 1), "02", false},
        {"[not #{0102}]", block_of({not_(), binary({0x01, 0x02})}), "FEFD", true},
        {"100 bits", int_value(100), "00000000000000000000000000", false},
        {"0 bits", int_value(0), "", false},
        {"1 bit", int_value(1), "00", false},
        {"10.5 bits", flt(10.5), "0000", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        kiv_value b = make(c.spec);
        ASSERT_EQ(type_of(&b), uint32_t(TYPE_BITSET));
        EXPECT_EQ(hex(b), c.bytes);
        EXPECT_EQ(complemented(b), c.complemented);
        EXPECT_EQ(b.data1, 0u);
    }
    // A code point far up sizes the series to hold it.
    kiv_value smiley = make(text({0x263A}));
    EXPECT_EQ(bitset::byte_count(&smiley), 1224u);
    EXPECT_TRUE(picked(smiley, chr(0x263A)));
    EXPECT_FALSE(picked(smiley, chr(0x2639)));
}

TEST_F(Bitset, ToBuildsLikeMakeButRefusesSizes) {
    EXPECT_EQ(hex(make_to(str("abc"))), "00000000000000000000000070");
    EXPECT_EQ(hex(make_to(binary({0xAB}))), "AB");
    expect_fails("to bitset! 8", err::SCRIPT, err::script::bad_to_arg, [] { make_to(int_value(8)); });
    expect_fails("to bitset! 8.0", err::SCRIPT, err::script::bad_to_arg, [] { make_to(flt(8.0)); });
}

TEST_F(Bitset, MakeErrors) {
    struct Case {
        const char* what;
        kiv_value spec;
        err::category category;
        uint32_t id;
    } cases[] = {
        {"[#\"c\" - #\"a\"]", block_of({chr('c'), dash(), chr('a')}), err::SCRIPT, err::script::past_end},
        {"[#\"a\" - 5]", block_of({chr('a'), dash(), int_value(5)}), err::SCRIPT, err::script::invalid_arg},
        {"[1 - #\"z\"]", block_of({int_value(1), dash(), chr('z')}), err::SCRIPT, err::script::invalid_arg},
        {"[#\"a\" -]", block_of({chr('a'), dash()}), err::SCRIPT, err::script::past_end},
        {"[-1]", block_of({int_value(-1)}), err::SCRIPT, err::script::out_of_range},
        {"[-1.5]", block_of({flt(-1.5)}), err::SCRIPT, err::script::out_of_range},
        {"[1e10]", block_of({flt(1e10)}), err::SCRIPT, err::script::out_of_range},
        {"[-3 - 4]", block_of({int_value(-3), dash(), int_value(4)}), err::SCRIPT, err::script::out_of_range},
        {"-1 bits", int_value(-1), err::SCRIPT, err::script::out_of_range},
        {"none", none_value, err::SCRIPT, err::script::bad_make_arg},
        {"[none]", block_of({none_value}), err::SCRIPT, err::script::bad_make_arg},
        {"[- 1]", block_of({dash(), int_value(1)}), err::SCRIPT, err::script::bad_make_arg},
        {"[#\"a\" not]", block_of({chr('a'), not_()}), err::SCRIPT, err::script::bad_make_arg},
        {"(1)", paren_of({int_value(1)}), err::SCRIPT, err::script::bad_make_arg},
    };
    for (const Case& c : cases) expect_fails(c.what, c.category, c.id, [&] { make(c.spec); });
    expect_fails("to none", err::SCRIPT, err::script::bad_to_arg, [] { make_to(none_value); });
    expect_fails("to [none]", err::SCRIPT, err::script::bad_to_arg,
                 [] { make_to(block_of({none_value})); });
}

TEST_F(Bitset, CopyAndMakeFromABitsetShareNothing) {
    kiv_value a = make(block_of({not_(), chr('a')}));
    for (kiv_value b : {make(a), make_to(a), call(SLOT_COPY, {a})}) {
        EXPECT_NE(b.data2, a.data2);
        EXPECT_EQ(hex(b), hex(a));
        EXPECT_TRUE(complemented(b));
        call(SLOT_POKE, {b, chr('b'), false_value});
        EXPECT_TRUE(picked(a, chr('b')));
        EXPECT_FALSE(picked(b, chr('b')));
    }
}

TEST_F(Bitset, Constructors) {
    kiv_value* pushed = bitset::push(3);
    EXPECT_EQ(type_of(pushed), uint32_t(TYPE_BITSET));
    EXPECT_EQ(hex(*pushed), "000000");
    kiv_value blk = block_of({});
    kiv_value* made = bitset::make_in(&blk, 0);
    EXPECT_EQ(length_of(blk), 1u);
    EXPECT_EQ(bitset::byte_count(made), 0u);
}

// Membership -----------------------------------------------------------------------

TEST_F(Bitset, PickAndFind) {
    kiv_value plain = make(block_of({chr('a'), dash(), chr('c')}));
    kiv_value inverse = make(block_of({not_(), chr('a')}));
    struct Case {
        const char* what;
        kiv_value index;
        bool in_plain, in_inverse;
    } cases[] = {
        {"#\"b\"", chr('b'), true, true},
        {"#\"a\"", chr('a'), true, false},
        {"1000", int_value(1000), false, true},
        {"98", int_value(98), true, true},
        {"98.9", flt(98.9), true, true},
        {"-1", int_value(-1), false, true},
        {"-1.0", flt(-1.0), false, true},
        {"1e10", flt(1e10), false, true},
        {"\"cab\"", str("cab"), true, false},
        {"\"bd\"", str("bd"), false, true},
        {"\"\"", str(""), true, true},
        {"[#\"a\" #\"c\"]", block_of({chr('a'), chr('c')}), true, false},
        {"[#\"b\" \"c\"]", block_of({chr('b'), str("c")}), true, true},
        {"[#\"a\" - #\"c\"]", block_of({chr('a'), dash(), chr('c')}), true, false},
        {"[#\"b\" - #\"d\"]", block_of({chr('b'), dash(), chr('d')}), false, true},
        {"[#\"x\" - #\"z\"]", block_of({chr('x'), dash(), chr('z')}), false, true},
        {"[200 - 300]", block_of({int_value(200), dash(), int_value(300)}), false, true},
        {"[-5 - 2]", block_of({int_value(-5), dash(), int_value(2)}), false, true},
        // A character beyond the stored bytes takes the flag's membership,
        // and the characters after it still count.
        {"\"za\"", str("za"), false, false},
        {"\"zb\"", str("zb"), false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(picked(plain, c.index), c.in_plain);
        EXPECT_EQ(picked(inverse, c.index), c.in_inverse);
        kiv_value found = call(SLOT_FIND, {plain, c.index});
        if (c.in_plain) EXPECT_TRUE(truth(found));
        else EXPECT_EQ(type_of(&found), uint32_t(TYPE_NONE));
    }
    expect_fails("pick none", err::SCRIPT, err::script::invalid_arg,
                 [&] { call(SLOT_PICK, {plain, none_value}); });
}

TEST_F(Bitset, PathsReadAndSetBits) {
    kiv_value b = make(str("a"));
    EXPECT_TRUE(truth(call(SLOT_EVAL_PATH, {b, int_value(97)}, {0})));
    EXPECT_TRUE(truth(call(SLOT_EVAL_PATH, {b, chr('a')}, {0})));
    EXPECT_FALSE(truth(call(SLOT_EVAL_PATH, {b, int_value(500)}, {0})));
    kiv_value set = call(SLOT_EVAL_PATH, {b, int_value(500), true_value}, {1});
    EXPECT_TRUE(truth(set));
    EXPECT_TRUE(picked(b, int_value(500)));
    EXPECT_EQ(bitset::byte_count(&b), 63u);
    call(SLOT_EVAL_PATH, {b, chr('a'), false_value}, {1});
    EXPECT_FALSE(picked(b, chr('a')));
    for (kiv_value element : {str("a"), flt(1.0), block_of({int_value(1)}), none_value})
        expect_fails("path element", err::SCRIPT, err::script::invalid_type,
                     [&] { call(SLOT_EVAL_PATH, {b, element}, {0}); });
}

// Editing ------------------------------------------------------------------------

TEST_F(Bitset, PokeClearsForNoneFalseAndZeroesAndSetsOtherwise) {
    struct Case {
        const char* what;
        kiv_value value;
        bool present;
    } cases[] = {
        {"false", false_value, false}, {"0", int_value(0), false}, {"none", none_value, false},
        {"0.0", flt(0.0), false},      {"-0.0", flt(-0.0), false}, {"1", int_value(1), true},
        {"true", true_value, true},    {"0.5", flt(0.5), true},    {"\"\"", str(""), true},
        {"#\"^@\"", chr(0), true},
    };
    for (bool start : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (start ? " on a set bit" : " on a clear bit"));
            std::vector<kiv_value> members;
            if (start) members.push_back(int_value(65));
            kiv_value b = make(block_of(members));
            kiv_value r = call(SLOT_POKE, {b, int_value(65), c.value});
            EXPECT_EQ(r.header, c.value.header);
            EXPECT_EQ(picked(b, int_value(65)), c.present);
        }
    }
    kiv_value b = make(block_of({}));
    call(SLOT_POKE, {b, block_of({int_value(10), dash(), int_value(12)}), true_value});
    call(SLOT_POKE, {b, str("AB"), true_value});
    EXPECT_EQ(hex(b), "003800000000000060");  // bits 10-12, 65 and 66
    call(SLOT_POKE, {b, str("A"), false_value});
    EXPECT_FALSE(picked(b, chr('A')));
    EXPECT_TRUE(picked(b, chr('B')));
    expect_fails("poke -1", err::SCRIPT, err::script::out_of_range,
                 [&] { call(SLOT_POKE, {b, int_value(-1), true_value}); });
    expect_fails("poke none", err::SCRIPT, err::script::invalid_arg,
                 [&] { call(SLOT_POKE, {b, none_value, true_value}); });
}

TEST_F(Bitset, SettingAndClearingOnlyGrowWhenMembershipChanges) {
    // A plain bitset grows to take a new member and stays as it is when a
    // number beyond it is cleared; a complemented one the other way round.
    kiv_value plain = make(int_value(8));
    call(SLOT_POKE, {plain, int_value(100), false_value});
    EXPECT_EQ(bitset::byte_count(&plain), 1u);
    call(SLOT_POKE, {plain, int_value(100), true_value});
    EXPECT_EQ(bitset::byte_count(&plain), 13u);
    EXPECT_EQ(hex(plain), "00000000000000000000000008");

    kiv_value inverse = make(block_of({not_()}));
    call(SLOT_POKE, {inverse, int_value(100), true_value});
    EXPECT_EQ(bitset::byte_count(&inverse), 1u);
    call(SLOT_POKE, {inverse, int_value(100), false_value});
    EXPECT_EQ(hex(inverse), "FFFFFFFFFFFFFFFFFFFFFFFFF7");
    EXPECT_TRUE(picked(inverse, int_value(99)));
    EXPECT_FALSE(picked(inverse, int_value(100)));
    EXPECT_TRUE(picked(inverse, int_value(5000)));

    // Ranges follow the same rule, whole bytes at a time.
    kiv_value r = make(int_value(0));
    call(SLOT_POKE, {r, block_of({int_value(4), dash(), int_value(35)}), true_value});
    EXPECT_EQ(hex(r), "0FFFFFFFF0");
    call(SLOT_POKE, {r, block_of({int_value(8), dash(), int_value(1000)}), false_value});
    EXPECT_EQ(hex(r), "0F00000000");
    kiv_value ri = make(block_of({not_()}));
    call(SLOT_POKE, {ri, block_of({int_value(6), dash(), int_value(17)}), false_value});
    EXPECT_EQ(hex(ri), "FC003F");
    EXPECT_TRUE(picked(ri, int_value(18)));
    EXPECT_FALSE(picked(ri, int_value(17)));
}

TEST_F(Bitset, GrowAndOutOfRange) {
    kiv_value b = make(int_value(0));
    EXPECT_TRUE(bitset::out_of_range_q(&b, 0));
    bitset::grow(&b, 100);
    EXPECT_EQ(hex(b), "00000000000000000000000000");
    EXPECT_FALSE(bitset::out_of_range_q(&b, 103));
    EXPECT_TRUE(bitset::out_of_range_q(&b, 104));
    EXPECT_TRUE(bitset::out_of_range_q(&b, -1));
    bitset::grow(&b, 3);  // never shrinks
    EXPECT_EQ(bitset::byte_count(&b), 13u);
    kiv_value c = make(block_of({not_()}));
    bitset::grow(&c, 20);
    EXPECT_EQ(hex(c), "FFFFFF");
    // Many growing appends.
    kiv_value d = make(int_value(0));
    for (int32_t n = 0; n < 20000; n += 7) call(SLOT_APPEND, {d, int_value(n)});
    EXPECT_EQ(bitset::byte_count(&d), 2500u);  // up to bit 19999
    for (int32_t n = 0; n < 20000; n++) ASSERT_EQ(picked(d, int_value(n)), n % 7 == 0) << n;
}

TEST_F(Bitset, AppendAndInsertSetBits) {
    kiv_value b = make(block_of({}));
    kiv_value r = call(SLOT_APPEND, {b, chr('z')});
    EXPECT_EQ(r.data2, b.data2);
    call(SLOT_INSERT, {b, block_of({int_value(1), dash(), int_value(3)})});
    call(SLOT_APPEND, {b, str("ab")});
    EXPECT_EQ(hex(b), "70000000000000000000000060000020");
    expect_fails("append none", err::SCRIPT, err::script::invalid_arg,
                 [&] { call(SLOT_APPEND, {b, none_value}); });
}

TEST_F(Bitset, RemoveKeyMakesTheKeyAbsent) {
    kiv_value b = make(str("abc"));
    call(SLOT_REMOVE, {b, chr('b')}, {-1, 1});
    EXPECT_EQ(hex(b), "00000000000000000000000050");
    // A key beyond the stored bytes is already absent; the keys after it
    // are still removed.
    call(SLOT_REMOVE, {b, str("za")}, {-1, 1});
    EXPECT_EQ(hex(b), "00000000000000000000000010");
    // On a complemented bitset too the key stops being a member.
    kiv_value c = make(block_of({not_(), chr('a')}));
    call(SLOT_REMOVE, {c, chr('b')}, {-1, 1});
    EXPECT_FALSE(picked(c, chr('b')));
    call(SLOT_REMOVE, {c, int_value(300)}, {-1, 1});
    EXPECT_FALSE(picked(c, int_value(300)));
    EXPECT_TRUE(picked(c, int_value(301)));
    EXPECT_TRUE(picked(c, int_value(299)));
    expect_fails("remove without /key", err::SCRIPT, err::script::missing_arg,
                 [&] { call(SLOT_REMOVE, {b}); });
}

TEST_F(Bitset, ClearLeavesTheEmptySetInTheSameBytes) {
    kiv_value b = make(str("abc"));
    call(SLOT_CLEAR, {b});
    EXPECT_EQ(hex(b), "00000000000000000000000000");
    kiv_value c = make(block_of({not_(), chr('a')}));
    call(SLOT_CLEAR, {c});
    EXPECT_EQ(hex(c), "00000000000000000000000000");
    EXPECT_FALSE(complemented(c));
    EXPECT_FALSE(picked(c, chr('b')));
    EXPECT_FALSE(picked(c, int_value(1000)));
}

TEST_F(Bitset, LengthCountsStoredBits) {
    EXPECT_EQ(length_q(make(int_value(0))), 0);
    EXPECT_EQ(length_q(make(int_value(1))), 8);
    EXPECT_EQ(length_q(make(int_value(100))), 104);
    EXPECT_EQ(length_q(make(str("abc"))), 104);
    EXPECT_EQ(length_q(call(SLOT_COMPLEMENT, {make(int_value(8))})), 8);
}

// Complement, bitwise actions and set operations ---------------------------------------

TEST_F(Bitset, ComplementFlipsEveryMembership) {
    kiv_value b = make(str("a"));
    for (uint32_t slot : {SLOT_COMPLEMENT, SLOT_NEGATE}) {
        kiv_value c = call(slot, {b});
        EXPECT_NE(c.data2, b.data2);
        EXPECT_TRUE(complemented(c));
        EXPECT_EQ(hex(c), "FFFFFFFFFFFFFFFFFFFFFFFFBF");
        EXPECT_FALSE(picked(c, chr('a')));
        EXPECT_TRUE(picked(c, chr('b')));
        EXPECT_TRUE(picked(c, int_value(1000)));
        kiv_value back = call(slot, {c});
        EXPECT_FALSE(complemented(back));
        EXPECT_TRUE(actions::compare(&back, &b, COMP_EQUAL));
        EXPECT_FALSE(complemented(b));  // the argument is left as it was
    }
}

TEST_F(Bitset, BitwiseActionsOnPlainBitsets) {
    kiv_value a = make(binary({0xF0, 0xF0}));
    kiv_value b = make(binary({0xFF, 0x00, 0xFF, 0x00}));
    struct Case {
        const char* what;
        int32_t op;
        kiv_value left, right;
        const char* bytes;
    } cases[] = {
        {"a and~ b", OP_AND, a, b, "F000"},
        {"b and~ a", OP_AND, b, a, "F000"},
        {"a or~ b", OP_OR, a, b, "FFF0FF00"},
        {"a xor~ b", OP_XOR, a, b, "0FF0FF00"},
        {"union", OP_UNION, a, b, "FFF0FF00"},
        {"intersect", OP_INTERSECT, a, b, "F0000000"},
        {"exclude a b", OP_EXCLUDE, a, b, "00F00000"},
        {"exclude b a", OP_EXCLUDE, b, a, "0F00FF00"},
        {"difference", OP_DIFFERENCE, a, b, "0FF0FF00"},
        {"unique", OP_UNIQUE, a, b, "F0F0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        stack::mark_native(nullptr);
        stack::push_value(&c.left);
        stack::push_value(&c.right);
        bitset::do_bitwise(c.op);
        kiv_value r = *stack::arguments;
        stack::unwind_drop();
        EXPECT_EQ(hex(r), c.bytes);
        EXPECT_FALSE(complemented(r));
    }
    EXPECT_EQ(hex(call(SLOT_AND_T, {a, b})), "F000");
    EXPECT_EQ(hex(call(SLOT_OR_T, {a, b})), "FFF0FF00");
    EXPECT_EQ(hex(call(SLOT_XOR_T, {a, b})), "0FF0FF00");
    EXPECT_EQ(hex(a), "F0F0");  // operands are left as they were
    expect_fails("and~ 1", err::SCRIPT, err::script::invalid_type,
                 [&] { call(SLOT_AND_T, {a, int_value(1)}); });
}

TEST_F(Bitset, BitwiseActionsKeepMembershipOfComplementedBitsets) {
    // a: every number but #"a"; b: #"a" and #"b"; s: every number but 5
    // (one byte); t: only 100 (13 bytes).
    kiv_value a = make(block_of({not_(), chr('a')}));
    kiv_value b = make(str("ab"));
    kiv_value s = make(block_of({not_(), int_value(5)}));
    kiv_value t = make(block_of({int_value(100)}));
    struct Case {
        const char* what;
        uint32_t slot;
        int32_t op;
        kiv_value left, right;
        std::vector<std::pair<int32_t, bool>> members;
        int32_t length;
    } cases[] = {
        {"a and~ b", SLOT_AND_T, 0, a, b, {{'a', false}, {'b', true}, {'c', false}, {1000, false}}, 104},
        {"a or~ b", SLOT_OR_T, 0, a, b, {{'a', true}, {'b', true}, {'c', true}, {1000, true}}, 104},
        {"a xor~ b", SLOT_XOR_T, 0, a, b, {{'a', true}, {'b', false}, {'c', true}, {1000, true}}, 104},
        {"exclude a b", 0, OP_EXCLUDE, a, b, {{'a', false}, {'b', false}, {'c', true}, {1000, true}}, 104},
        {"exclude b a", 0, OP_EXCLUDE, b, a, {{'a', true}, {'b', false}, {'c', false}, {1000, false}}, 104},
        {"intersect a b", 0, OP_INTERSECT, a, b, {{'a', false}, {'b', true}, {1000, false}}, 104},
        {"s and~ t", SLOT_AND_T, 0, s, t, {{5, false}, {100, true}, {99, false}, {200, false}}, 104},
        {"t and~ s", SLOT_AND_T, 0, t, s, {{5, false}, {100, true}, {99, false}, {200, false}}, 104},
        {"s or~ t", SLOT_OR_T, 0, s, t, {{5, false}, {6, true}, {100, true}, {200, true}}, 104},
        {"s xor~ t", SLOT_XOR_T, 0, s, t, {{5, false}, {6, true}, {100, false}, {200, true}}, 104},
        {"exclude t s", 0, OP_EXCLUDE, t, s, {{5, false}, {100, false}, {200, false}}, 104},
        {"exclude s t", 0, OP_EXCLUDE, s, t, {{5, false}, {6, true}, {100, false}, {200, true}}, 104},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        kiv_value r;
        if (c.slot) {
            r = call(c.slot, {c.left, c.right});
        } else {
            stack::mark_native(nullptr);
            stack::push_value(&c.left);
            stack::push_value(&c.right);
            bitset::do_bitwise(c.op);
            r = *stack::arguments;
            stack::unwind_drop();
        }
        for (auto [n, member] : c.members) EXPECT_EQ(picked(r, int_value(n)), member) << n;
        EXPECT_EQ(length_q(r), c.length);
    }
}

// Comparison ---------------------------------------------------------------------

TEST_F(Bitset, CompareOrdersBySizeThenFlagThenBytesFromTheEnd) {
    kiv_value one = make(binary({0x01, 0x00}));
    kiv_value two = make(binary({0x00, 0x01}));
    kiv_value small = make(binary({0xFF}));
    kiv_value inverse = make(block_of({not_(), binary({0xFE, 0xFF})}));  // stored 01 00
    kiv_value one_again = make(binary({0x01, 0x00}));
    struct Case {
        kiv_value a, b;
        int32_t op;
        bool result;
    } cases[] = {
        {one, one_again, COMP_EQUAL, true},
        {one, one_again, COMP_STRICT_EQUAL, true},
        {one, one_again, COMP_SAME, false},
        {one, one, COMP_SAME, true},
        {one, two, COMP_EQUAL, false},
        {one, two, COMP_LESSER, true},  // the last byte decides first
        {two, one, COMP_GREATER, true},
        {small, one, COMP_LESSER, true},  // fewer bytes
        {one, inverse, COMP_LESSER, true},  // plain before complemented
        {inverse, one, COMP_NOT_EQUAL, true},
        {one, int_value(1), COMP_EQUAL, false},
        {one, none_value, COMP_NOT_EQUAL, true},
    };
    for (Case& c : cases) EXPECT_EQ(actions::compare(&c.a, &c.b, c.op), c.result) << c.op;
    kiv_value b = make(str("a")), n = int_value(1);
    expect_fails("bitset < 1", err::SCRIPT, err::script::invalid_compare,
                 [&] { actions::compare(&b, &n, COMP_LESSER); });
}

// Forming and molding ----------------------------------------------------------------

TEST_F(Bitset, FormAndMoldAreTheSame) {
    struct Case {
        kiv_value bits;
        const char* text;
    } cases[] = {
        {make(block_of({chr('a'), dash(), chr('c')})), "make bitset! #{00000000000000000000000070}"},
        {make(block_of({not_(), chr('a')})), "make bitset! [not #{00000000000000000000000040}]"},
        {make(int_value(0)), "make bitset! #{}"},
        {make(block_of({not_()})), "make bitset! [not #{00}]"},
        {make(binary({0xAB, 0xCD})), "make bitset! #{ABCD}"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(formed(c.bits), c.text);
        EXPECT_EQ(molded(c.bits), c.text);
        EXPECT_EQ(molded(c.bits, true), c.text);
    }
}

TEST_F(Bitset, PartStopsTheBytesAndDropsTheClosing) {
    kiv_value b = make(binary({0x00, 0x01, 0x02, 0x03}));
    struct Case {
        int32_t limit;
        const char* text;
    } cases[] = {
        {5, "make "}, {15, "make bitset! #{"}, {16, "make bitset! #{0"}, {19, "make bitset! #{0001"},
        {23, "make bitset! #{00010203"}, {24, "make bitset! #{00010203}"}, {100, "make bitset! #{00010203}"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(text_of(call(SLOT_FORM, {b, int_value(c.limit)}, {1})), c.text) << c.limit;
        EXPECT_EQ(text_of(call(SLOT_MOLD, {b, int_value(c.limit)}, {-1, -1, -1, 1})), c.text) << c.limit;
    }
    // The bytes stop once the budget is spent.
    kiv_value out = str("");
    EXPECT_EQ(bitset::form_bytes(&b, &out, true, 3, false), -1);
    EXPECT_EQ(text_of(out), "0001");
    kiv_value all = str("");
    EXPECT_EQ(bitset::form_bytes(&b, &all, false, 3, true), -5);
    EXPECT_EQ(text_of(all), "FFFEFDFC");
    kiv_value s = str("");
    EXPECT_EQ(actions::mold_typed(&b, &s, false, false, false, nullptr, 100, 0), 100 - 24);
}

TEST_F(Bitset, InvertBytes) {
    kiv_value b = make(binary({0x0F, 0xA5}));
    bitset::invert_bytes(bitset::buffer_of(&b));
    EXPECT_EQ(hex(b), "F05A");
}

// Reflect, modify and the row ----------------------------------------------------------

TEST_F(Bitset, ReflectAndModify) {
    kiv_value b = make(str("a"));
    EXPECT_EQ(type_of_v(call(SLOT_REFLECT, {b, word_of("owned")})), uint32_t(TYPE_NONE));
    expect_fails("reflect 'spec", err::INTERNAL, err::internal::not_done,
                 [&] { call(SLOT_REFLECT, {b, word_of("spec")}); });
    kiv_value unowned = call(SLOT_MODIFY, {b, word_of("owned"), none_value}, {-1});
    EXPECT_EQ(unowned.data2, b.data2);
    kiv_value r = call(SLOT_MODIFY, {b, word_of("size"), int_value(1)}, {-1});
    EXPECT_EQ(r.data2, b.data2);
    EXPECT_EQ(hex(b), "00000000000000000000000040");
}

TEST_F(Bitset, RegisteredRow) {
    EXPECT_STREQ(datatype::table[TYPE_BITSET].name, "bitset!");
    for (uint32_t slot : {SLOT_MAKE, SLOT_REFLECT, SLOT_TO, SLOT_FORM, SLOT_MOLD, SLOT_EVAL_PATH,
                          SLOT_COMPARE, SLOT_NEGATE, SLOT_AND_T, SLOT_COMPLEMENT, SLOT_OR_T, SLOT_XOR_T,
                          SLOT_APPEND, SLOT_CLEAR, SLOT_COPY, SLOT_FIND, SLOT_INSERT, SLOT_LENGTH_Q,
                          SLOT_PICK, SLOT_POKE, SLOT_REMOVE, SLOT_MODIFY})
        EXPECT_NE(actions::entry(TYPE_BITSET, slot), actions::UNSUPPORTED) << slot;
    EXPECT_EQ(actions::entry(TYPE_BITSET, SLOT_INSERT), actions::entry(TYPE_BITSET, SLOT_APPEND));
    EXPECT_EQ(actions::entry(TYPE_BITSET, SLOT_NEGATE), actions::entry(TYPE_BITSET, SLOT_COMPLEMENT));
    for (uint32_t slot : {SLOT_RANDOM, SLOT_ADD, SLOT_AT, SLOT_SELECT, SLOT_SORT, SLOT_TAKE, SLOT_WRITE})
        EXPECT_EQ(actions::entry(TYPE_BITSET, slot), actions::UNSUPPORTED) << slot;
    expect_fails("add", err::SCRIPT, err::script::expect_arg,
                 [] { call(SLOT_ADD, {make(int_value(8)), int_value(1)}); });
}
