// binary!: the action row, UTF-8 and base-N text against Python, the #{...}
// text form, the byte helpers and the byte comparison. The language-level
// behaviour of the actions is in tests/kiv/binary.kiv.
#include <algorithm>
#include <string>
#include <vector>

#include "runtime/datatypes/base_codecs.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/error.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/evaluator/lexer.h"
#include "runtime/unicode.h"
#include "tests/unit/action_fixture.h"
#include "tests/unit/text_fixture.h"

using namespace kiv;
using namespace kiv::test;

namespace {

using bytes = std::vector<uint8_t>;

struct utf8_case {
    codepoints text;
    bytes utf8;
};
struct invalid_utf8_case {
    bytes data;
    uint32_t bad_at;
};
struct base_case {
    bytes data;
    const char* base64;
    const char* base16;
    const char* base2;
};
#include "tests/unit/binary_cases.inc"

using Binary = StackTest;

kiv_value bin(const bytes& data, uint32_t head = 0) {
    kiv_value b = *binary::load(data.data(), uint32_t(data.size()));
    stack::pop(1);
    b.data1 = head;
    return b;
}

bytes bytes_of(const kiv_value& b) {
    kiv_value v = b;
    return bytes(binary::ks_head(&v), binary::ks_head(&v) + binary::ks_length_q(&v));
}

bytes bytes_of(node_id n) { return bytes_of(kiv_value{TYPE_BINARY, 0, n, 0}); }

bytes ascii(const std::string& s) { return bytes(s.begin(), s.end()); }

// The text a decoder reads, stored in the given unit.
node_id decode_text(node_id (*decoder)(const uint8_t*, uint32_t, uint32_t), const std::string& text,
                    uint32_t unit = 1) {
    std::vector<uint8_t> units(text.size() * unit, 0);
    for (size_t i = 0; i < text.size(); i++) string::put_char(units.data() + i * unit, unit, uint8_t(text[i]));
    return decoder(units.data(), uint32_t(text.size()), unit);
}

// The value of Kiv text read by the lexer, which knows binary literals.
kiv_value eval(const std::string& text) {
    stack::mark_native(nullptr);
    kiv_value code;
    lexer::scan(&code, reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), false, false, false,
                nullptr, nullptr, nullptr, nullptr);
    stack::push_value(&code);
    interpreter::eval(&code, false);
    kiv_value result = *stack::get_top();
    stack::unwind_drop();
    return result;
}

}  // namespace

// Run with the collector on (the suite's stress run collects and compacts at
// every allocation), every writer must leave whole bytes behind.
TEST_F(Binary, EditingKeepsItsBytesAcrossCollections) {
    kiv_value b = eval(
        "b: #{} loop 50 [append b #{0102} insert b 255 append b [3 \"é\"]] "
        "change/part b 1.5 2 insert/dup tail b to binary! 258 3 b");
    bytes expected = {'1', '.', '5'};
    for (int i = 0; i < 48; i++) expected.push_back(0xFF);
    for (int i = 0; i < 50; i++) expected.insert(expected.end(), {0x01, 0x02, 0x03, 0xC3, 0xA9});
    for (int i = 0; i < 3; i++) expected.insert(expected.end(), {0x00, 0x00, 0x01, 0x02});
    EXPECT_EQ(bytes_of(b), expected);
    kiv_value text = eval("to string! trim/with copy b #{FF0001020303}");
    codepoints expected_text = {'1', '.', '5'};
    expected_text.insert(expected_text.end(), 50, 0xE9);
    EXPECT_EQ(chars_of(&text), expected_text);
    EXPECT_EQ(molded(eval("mold append/dup #{} #{AB} 3")), "\"#{ABABAB}\"");
}

TEST_F(Binary, ActionRowOwnsInheritsOrLacksEachSlot) {
    const uint32_t own[] = {SLOT_TO, SLOT_FORM, SLOT_MOLD, SLOT_COMPARE, SLOT_AND_T, SLOT_COMPLEMENT,
                            SLOT_OR_T, SLOT_XOR_T, SLOT_APPEND, SLOT_CHANGE, SLOT_INSERT, SLOT_TRIM};
    const uint32_t none[] = {SLOT_EMPTY, SLOT_PUT, SLOT_CREATE, SLOT_CLOSE, SLOT_DELETE, SLOT_OPEN, SLOT_OPEN_Q,
                             SLOT_QUERY, SLOT_READ, SLOT_RENAME, SLOT_UPDATE, SLOT_WRITE};
    for (uint32_t slot = 1; slot <= ACTION_SLOTS; slot++) {
        SCOPED_TRACE(slot);
        actions::code mine = actions::entry(TYPE_BINARY, slot);
        if (std::find(std::begin(own), std::end(own), slot) != std::end(own)) {
            EXPECT_NE(mine, nullptr);
            EXPECT_NE(mine, actions::entry(TYPE_STRING, slot));
        } else if (std::find(std::begin(none), std::end(none), slot) != std::end(none) ||
                   (slot >= SLOT_ABSOLUTE && slot <= SLOT_ODD_Q)) {
            EXPECT_EQ(mine, nullptr);
        } else {
            EXPECT_EQ(mine, actions::entry(TYPE_STRING, slot));
        }
    }
    EXPECT_STREQ(datatype::table[TYPE_BINARY].name, "binary!");
}

// Text and bytes -------------------------------------------------------------------

TEST_F(Binary, TextConvertsToUtf8AndBackAsPythonDoes) {
    for (const utf8_case& c : utf8_cases) {
        kiv_value s = text(c.text);
        kiv_value b = call(SLOT_TO, {dtype(TYPE_BINARY), s});
        ASSERT_EQ(type_of(&b), uint32_t(TYPE_BINARY));
        EXPECT_EQ(bytes_of(b), c.utf8);
        kiv_value back = call(SLOT_TO, {dtype(TYPE_STRING), b});
        EXPECT_EQ(chars_of(&back), c.text);
    }
}

TEST_F(Binary, InvalidUtf8NamesTheBadBytes) {
    for (const invalid_utf8_case& c : invalid_utf8_cases) {
        SCOPED_TRACE(c.bad_at);
        // to string! shows the input from the bad sequence to its end.
        kiv_value b = bin(c.data);
        outcome o = attempt([&] { call(SLOT_TO, {dtype(TYPE_STRING), b}); });
        expect_raised(o, err::ACCESS, err::access::invalid_utf8);
        EXPECT_EQ(bytes_of(*error::field(&o.error, error::FIELD_ARG1)),
                  bytes(c.data.begin() + c.bad_at, c.data.end()));
        // Loading text shows the four bytes there.
        o = attempt([&] { string::load(c.data.data(), uint32_t(c.data.size()), string::UTF8); });
        expect_raised(o, err::ACCESS, err::access::invalid_utf8);
        size_t n = std::min<size_t>(4, c.data.size() - c.bad_at);
        EXPECT_EQ(bytes_of(*error::field(&o.error, error::FIELD_ARG1)),
                  bytes(c.data.begin() + c.bad_at, c.data.begin() + c.bad_at + n));
    }
}

// Base-N text ----------------------------------------------------------------------

TEST_F(Binary, BaseEncodersAndDecodersAgreeWithPython) {
    for (const base_case& c : base_cases) {
        std::string out(c.data.size() * 8 + 8, '\0');
        const uint8_t* in = c.data.data();
        uint32_t n = uint32_t(c.data.size());
        EXPECT_EQ(std::string(out.data(), base_codecs::encode_64(out.data(), in, n)), c.base64);
        EXPECT_EQ(std::string(out.data(), base_codecs::encode_16(out.data(), in, n)), c.base16);
        EXPECT_EQ(std::string(out.data(), base_codecs::encode_2(out.data(), in, n)), c.base2);
        EXPECT_EQ(bytes_of(decode_text(base_codecs::decode_64, c.base64)), c.data) << c.base64;
        EXPECT_EQ(bytes_of(decode_text(base_codecs::decode_16, c.base16, 2)), c.data) << c.base16;
        EXPECT_EQ(bytes_of(decode_text(base_codecs::decode_2, c.base2, 4)), c.data) << c.base2;
        // Base 58 has no oracle here: it must at least read back its own text.
        char* end = base_codecs::encode_58(out.data(), in, n);
        EXPECT_EQ(bytes_of(decode_text(base_codecs::decode_58, std::string(out.data(), end))), c.data);
    }
}

TEST_F(Binary, Base58) {
    struct Case {
        bytes data;
        const char* text;
    } cases[] = {
        {{}, ""},
        {{0x00}, "1"},
        {{0x00, 0x00}, "11"},
        {{0x39}, "z"},
        {{0x3A}, "21"},
        {{0x00, 0x3A}, "121"},
        {ascii("Hello World!"), "2NEpo7TZRRrLZSi2U"},
        {{0x00, 0x00, 0x28, 0x7F, 0xB4, 0xCD}, "11233QC4"},
    };
    for (const Case& c : cases) {
        std::string out(c.data.size() * 2 + 1, '\0');
        char* end = base_codecs::encode_58(out.data(), c.data.data(), uint32_t(c.data.size()));
        EXPECT_EQ(std::string(out.data(), end), c.text);
        EXPECT_EQ(bytes_of(decode_text(base_codecs::decode_58, c.text)), c.data) << c.text;
    }
}

TEST_F(Binary, DecodersSkipBlanksAndCommentsAndRefuseBadText) {
    struct Case {
        node_id (*decoder)(const uint8_t*, uint32_t, uint32_t);
        const char* text;
        bool valid;
        bytes data;
    } cases[] = {
        {base_codecs::decode_64, "AQ==", true, {0x01}},
        {base_codecs::decode_64, "AQI=", true, {0x01, 0x02}},
        {base_codecs::decode_64, " A Q\nI\tD ; comment AAAA\n", true, {0x01, 0x02, 0x03}},
        {base_codecs::decode_64, "AQIDBA", true, {0x01, 0x02, 0x03}},  // an unfinished group is dropped
        {base_codecs::decode_64, "AQ==garbage!", true, {0x01}},         // nothing after "=" counts
        {base_codecs::decode_64, "A'Q'I'D", true, {0x01, 0x02, 0x03}},
        {base_codecs::decode_64, "AQIDB===", false, {}},
        {base_codecs::decode_64, "=", false, {}},
        {base_codecs::decode_64, "AQ!D", false, {}},
        {base_codecs::decode_16, "0a0B", true, {0x0A, 0x0B}},
        {base_codecs::decode_16, "A", true, {}},
        {base_codecs::decode_16, "ABC", true, {0xAB}},
        {base_codecs::decode_16, "AB ; x\n\x01 CD", true, {0xAB, 0xCD}},
        {base_codecs::decode_16, "AG", false, {}},
        {base_codecs::decode_2, "0000000100000010", true, {0x01, 0x02}},
        {base_codecs::decode_2, "0000000100", false, {}},
        {base_codecs::decode_2, "00000002", false, {}},
        {base_codecs::decode_58, "2NEpo7TZRRrLZSi2U", true, ascii("Hello World!")},
        {base_codecs::decode_58, "z\xC3z", false, {}},  // a byte above 127 is no digit: not a partial result
        {base_codecs::decode_58, "0", false, {}},
        {base_codecs::decode_58, "", true, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        node_id n = decode_text(c.decoder, c.text);
        EXPECT_EQ(n != 0, c.valid);
        if (n) {
            EXPECT_EQ(bytes_of(n), c.data);
        }
    }
}

// Text form --------------------------------------------------------------------------

TEST_F(Binary, LongBinariesMoldOnLinesOfThirtyTwoBytes) {
    auto mold = [](size_t n, bool only, bool flat, int32_t indent) {
        bytes data(n);
        for (size_t i = 0; i < n; i++) data[i] = uint8_t(i);
        kiv_value b = bin(data);
        kiv_value* out = string::make_at(stack::push(), 16);
        actions::mold_typed(&b, out, only, false, flat, nullptr, INT32_MAX, indent);
        std::string text = text_of(*out);
        stack::pop(1);
        return text;
    };
    auto hex = [](size_t from, size_t to) {
        std::string s;
        for (size_t i = from; i < to; i++) s += string::byte_to_hex(uint8_t(i));
        return s;
    };
    EXPECT_EQ(mold(0, false, false, 0), "#{}");
    EXPECT_EQ(mold(16, false, false, 0), "#{" + hex(0, 16) + "}");
    EXPECT_EQ(mold(30, false, false, 3), "#{" + hex(0, 30) + "}");
    EXPECT_EQ(mold(31, false, false, 0), "#{\n    " + hex(0, 31) + "\n}");
    EXPECT_EQ(mold(32, false, false, 0), "#{\n    " + hex(0, 32) + "\n    }");
    EXPECT_EQ(mold(40, false, false, 0), "#{\n    " + hex(0, 32) + "\n    " + hex(32, 40) + "\n}");
    EXPECT_EQ(mold(40, false, false, 1), "#{\n        " + hex(0, 32) + "\n        " + hex(32, 40) + "\n    }");
    EXPECT_EQ(mold(40, false, true, 1), "#{" + hex(0, 40) + "}");
    EXPECT_EQ(mold(40, true, true, 0), hex(0, 40));
    EXPECT_EQ(mold(4, true, false, 0), hex(0, 4));
}

// Helpers --------------------------------------------------------------------------

TEST_F(Binary, MakingLoadingAndAppendingRawBytes) {
    kiv_value b;
    binary::make_at(&b, 0);
    std::vector<uint8_t> chunk(1000);
    for (size_t i = 0; i < chunk.size(); i++) chunk[i] = uint8_t(i * 7);
    for (int k = 0; k < 5; k++) binary::ks_append(&b, chunk.data(), uint32_t(chunk.size()));
    bytes all = bytes_of(b);
    ASSERT_EQ(all.size(), 5000u);
    EXPECT_TRUE(std::equal(chunk.begin(), chunk.end(), all.begin() + 4000));

    kiv_value blk = block_of({});
    binary::load_in(chunk.data(), 3, &blk);
    binary::make_in(&blk, 8);
    ASSERT_EQ(length_of(blk), 2u);
    EXPECT_EQ(bytes_of(cells_of(blk)[0]), (bytes{0, 7, 14}));
    EXPECT_EQ(bytes_of(cells_of(blk)[1]), bytes{});
    kiv_value pushed = *binary::load_in(chunk.data(), 2, nullptr);
    EXPECT_EQ(pushed.data2, stack::get_top()->data2);
    EXPECT_EQ(bytes_of(pushed), (bytes{0, 7}));

    // A head past the tail reads as the tail.
    kiv_value past = bin({1, 2}, 5);
    EXPECT_EQ(binary::ks_length_q(&past), 0u);
    EXPECT_EQ(binary::ks_head(&past), series::buffer(past.data2)->tail);
}

TEST_F(Binary, SetByteTakesTheLowByteOfIntegersAndChars) {
    uint8_t byte = 0;
    kiv_value minus_one{TYPE_INTEGER, 0, uint32_t(-1), 0}, wide{TYPE_CHAR, 0, 0x141, 0};
    binary::set_byte(&byte, &minus_one);
    EXPECT_EQ(byte, 0xFF);
    binary::set_byte(&byte, &wide);
    EXPECT_EQ(byte, 0x41);
    kiv_value s = str("a");
    expect_raised(attempt([&] { binary::set_byte(&byte, &s); }), err::SCRIPT, err::script::invalid_arg);
}

TEST_F(Binary, ParseTestsAtTheHead) {
    kiv_value b = bin({0x41, 0x42, 0x43});
    kiv_value ab = str("AB"), a = str("A");
    kiv_value letters = *bitset::make_from(&ab, bitset::MODE_MAKE);
    kiv_value inverse = call(SLOT_COMPLEMENT, {*bitset::make_from(&a, bitset::MODE_MAKE)});
    EXPECT_TRUE(binary::byte_in_bitset_q(&b, &letters));
    EXPECT_FALSE(binary::byte_in_bitset_q(&b, &inverse));
    kiv_value c = bin({0x41, 0x42, 0x43}, 2);
    EXPECT_FALSE(binary::byte_in_bitset_q(&c, &letters));
    EXPECT_TRUE(binary::byte_in_bitset_q(&c, &inverse));
    // Beyond the stored bits, membership is the complement flag.
    kiv_value high = bin({0xFF});
    EXPECT_FALSE(binary::byte_in_bitset_q(&high, &letters));
    EXPECT_TRUE(binary::byte_in_bitset_q(&high, &inverse));
    kiv_value end = bin({0x41}, 1);
    EXPECT_FALSE(binary::byte_in_bitset_q(&end, &inverse));

    struct Case {
        kiv_value value;
        bool matches;
    } cases[] = {
        {bin({0x41, 0x42}), true},
        {bin({0x41, 0x42, 0x43, 0x44}), false},
        {bin({}), true},
        {bin({0x42}), false},
        {str("AB"), true},
        {str("ab"), false},
        {text({0x41, 0x142}), false},
        {kiv_value{TYPE_CHAR, 0, 'A', 0}, true},
        {kiv_value{TYPE_INTEGER, 0, 0x41, 0}, true},
        {kiv_value{TYPE_INTEGER, 0, 0x42, 0}, false},
    };
    for (Case& c : cases) EXPECT_EQ(binary::match_q(&b, &c.value), c.matches) << molded(c.value);
    EXPECT_FALSE(binary::match_q(&end, &cases[7].value));
}

TEST_F(Binary, ByteComparison) {
    struct Case {
        bytes a, b;
        int32_t op;
        int32_t result;
    } cases[] = {
        {{1, 2}, {1, 2, 3}, COMP_LESSER, -1},
        {{2}, {1, 2}, COMP_LESSER, 1},
        {{1, 2}, {1, 2, 3}, COMP_EQUAL, 1},
        {{1, 2}, {1, 2}, COMP_STRICT_EQUAL, 0},
        {{0x80}, {0x7F}, COMP_SORT, 1},
        {{}, {0}, COMP_LESSER, -1},
        {{}, {}, COMP_EQUAL, 0},
        {{1}, {1}, COMP_SAME, -1},
    };
    for (const Case& c : cases) {
        kiv_value a = bin(c.a), b = bin(c.b);
        EXPECT_EQ(binary::compare_bytes(&a, &b, c.op, false), c.result);
    }
    kiv_value a = bin({1, 2, 3});
    kiv_value a2 = a;
    EXPECT_EQ(binary::compare_bytes(&a, &a2, COMP_SAME, false), 0);
    a2.data1 = 1;
    EXPECT_EQ(binary::compare_bytes(&a, &a2, COMP_SAME, false), -1);
    kiv_value s = str("x");
    EXPECT_EQ(actions::compare_values(&a, &s, COMP_EQUAL), COMPARE_INCOMPARABLE);
}
