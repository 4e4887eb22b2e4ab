// KIVBIN compact layout: golden byte vectors, round trips, malformed input.
#include <random>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/evaluator/lexer.h"
#include "runtime/boot.h"
#include "runtime/io/kivbin.h"
#include "runtime/io/lz.h"
#include "runtime/runtime.h"
#include "tests/unit/natives_fixture.h"

using namespace kiv;
using namespace kiv::test;

namespace {

using bytes = std::vector<uint8_t>;

class Kivbin : public NativesTest {
  protected:
    // Evaluates text read by the lexer, which knows every literal.
    kiv_value eval(const std::string& text) {
        stack::mark_native(nullptr);
        kiv_value code;
        lexer::scan(&code, reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), false, false,
                    false, nullptr, nullptr, nullptr, nullptr);
        stack::push_value(&code);
        interpreter::eval(&code, false);
        kiv_value result = *stack::get_top();
        stack::unwind_drop();
        return result;
    }

    bytes encode(const std::string& text, bool wide = false) {
        kiv_value v = eval(text);
        stack::push_value(&v);
        bytes out = wide ? kivbin::encode(&v) : kivbin::encode_cp(&v);
        stack::pop(1);
        return out;
    }

    // The 32-bit payload after the header and the two counts.
    bytes wide_payload_of(const std::string& text) {
        bytes b = encode(text, true);
        EXPECT_EQ(b[7], 0) << text;
        return bytes(b.begin() + 16, b.end());
    }

    // The payload after the header and the two counts (no symbol table).
    bytes payload_of(const std::string& text) {
        bytes b = encode(text);
        EXPECT_EQ(b[7], kivbin::FLAG_COMPACT) << text;
        return bytes(b.begin() + 10, b.end());
    }

    // Decodes into a new block and returns it.
    kiv_value decode(const bytes& b) {
        kiv_value* target = block::make_at(stack::push(), 4);
        kivbin::decode(b.data(), target, true, int64_t(b.size()));
        return *stack::get_top();
    }

    // The same image with its body in the chunked LZ format.
    static bytes compressed(const bytes& b) {
        bytes out(b.begin(), b.begin() + 8);
        out[7] |= kivbin::FLAG_COMPRESSED;
        bytes body = lz::compress(b.data() + 8, b.size() - 8);
        out.insert(out.end(), body.begin(), body.end());
        return out;
    }

    std::string round_trip(const std::string& text, bool compress = false, bool wide = false) {
        bytes b = encode(text, wide);
        if (compress) b = compressed(b);
        stack::mark_try(nullptr);
        try {
            kiv_value blk = decode(b);
            EXPECT_EQ(block::ks_length_q(&blk), 1) << text;
            kiv_value v = block::cells(&blk)[0];
            StackTest::SetUp();
            return molded(v);
        } catch (const kiv_exit&) {
            ADD_FAILURE() << text << ": " << molded(*stack::get_top());
            StackTest::SetUp();
            return "";
        }
    }

    // The error id that decoding raises, or -1.
    void expect_invalid(const bytes& b, int32_t offset) {
        SCOPED_TRACE(offset);
        stack::mark_try(nullptr);
        kiv_value e = raised([&] { decode(b); });
        StackTest::SetUp();
        expect_error(e, err::SCRIPT, err::script::kb_invalid_record);
        kiv_value* arg = error::field(&e, error::FIELD_ARG1);
        EXPECT_EQ(int_of(*arg), offset);
    }
};

bytes header(std::initializer_list<uint8_t> body, uint8_t flags = 1) {
    bytes b = {'K', 'I', 'V', 'B', 'I', 'N', 2, flags};
    b.insert(b.end(), body);
    return b;
}

}  // namespace

TEST_F(Kivbin, GoldenPayloads) {
    struct {
        const char* text;
        bytes payload;
    } cases[] = {
        {"63", {0xBF}},
        {"64", {0x0B, 0x80, 0x01}},
        {"-1", {0x0B, 0x01}},
        {"1.0", {0x4C, 0x02}},
        {"0.5", {0x0C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xE0, 0x3F}},
        {"-0.0", {0x0C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80}},
        {"3e9", {0x0C, 0x00, 0x00, 0x00, 0xC0, 0x0B, 0x5A, 0xE6, 0x41}},
        {"\"abc\"", {0x07, 0x0C, 0x61, 0x62, 0x63}},
        {"next next \"abc\"", {0x47, 0x02, 0x0C, 0x61, 0x62, 0x63}},
        {"true", {0xC2}},
        {"none", {0x03}},
        {"#\"A\"", {0x0A, 0x41}},
        {"1:00", {0x6B, 0xA0, 0x38}},
        {"make pair! [1 -2]", {0x25, 0x02, 0x03}},
        {"make pair! [-2147483648 2147483647]", {0x25, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F, 0xFE, 0xFF, 0xFF, 0xFF, 0x0F}},
        {"to percent! 0.5", {0x66, 0x64}},
        {"to percent! -0.0", {0x26, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80}},
        {"to percent! 0.12345", {0x26, 0x7C, 0xF2, 0xB0, 0x50, 0x6B, 0x9A, 0xBF, 0x3F}},
        {"#{}", {0x29, 0x00}},
        {"#{0102}", {0x29, 0x02, 0x01, 0x02}},
        {"next #{0102}", {0x69, 0x01, 0x02, 0x01, 0x02}},
    };
    for (auto& c : cases) EXPECT_EQ(payload_of(c.text), c.payload) << c.text;
}

TEST_F(Kivbin, WholeImageOfABlockWithAGlobalWord) {
    bytes expected = {'K', 'I', 'V', 'B', 'I', 'N', 0x02, 0x05, 0x01, 0x05, 0x01, 0x02,
                      0x00, 0x00, 0x00, 0x00, 0x61, 0x00, 0x05, 0x02, 0x0F, 0x00, 0x81};
    EXPECT_EQ(encode("[a 1]"), expected);
}

TEST_F(Kivbin, SharedSeriesIsWrittenOnceAndStaysShared) {
    bytes b = encode("s: [1] reduce [s s]");
    // Block of 2, the first block in full, then a reference to path [0 0].
    bytes tail(b.end() - 8, b.end());
    EXPECT_EQ(tail, (bytes{0x05, 0x01, 0x81, 0xC1, 0x05, 0x02, 0x00, 0x00}));
    stack::mark_native(nullptr);
    kiv_value blk = decode(b);
    kiv_value outer = block::cells(&blk)[0];
    EXPECT_EQ(block::cells(&outer)[0].data2, block::cells(&outer)[1].data2);
    stack::unwind_drop();
}

TEST_F(Kivbin, SharedBinaryKeepsItsBufferAndEachHead) {
    bytes b = encode("b: #{010203} reduce [b next b]");
    // The second is a reference to path [0 0] with its own head.
    bytes tail(b.end() - 6, b.end());
    EXPECT_EQ(tail, (bytes{0xC1, 0x69, 0x01, 0x02, 0x00, 0x00}));
    stack::mark_native(nullptr);
    kiv_value blk = decode(b);
    kiv_value outer = block::cells(&blk)[0];
    kiv_value first = block::cells(&outer)[0], second = block::cells(&outer)[1];
    EXPECT_EQ(type_of(&second), uint32_t(TYPE_BINARY));
    EXPECT_EQ(first.data2, second.data2);
    EXPECT_EQ(first.data1, 0u);
    EXPECT_EQ(second.data1, 1u);
    stack::unwind_drop();
}

TEST_F(Kivbin, RoundTripsKeepValues) {
    const char* cases[] = {
        "[1 -7 2147483647 -2147483648 1.5 -0.0 1e300 #\"^(1F600)\" \"héllo\" \"ça €\" %file.txt http://x.y/z]",
        "[a b: :c 'd /e #f [nested [deeper]] (paren) a/b/c :a/b 'a/b a/b:]",
        "[none true false 12:30:15.5 -1:00]",
        "reduce [make pair! [1 2] make pair! [-2147483648 2147483647] to percent! 0.5 to percent! 0.12345]",
        "[#{} #{00FF} 2#{10101010} 64#{AQID} [#{01}]]",
        "[integer! [integer! string!]]",
        "make object! [a: 1 b: [a] c: \"x\"]",
        "make typeset! [integer! block! image!]",
        "make bitset! \"abc\"",
        "complement make bitset! \"a\"",
        "func [a [integer!] /ref b] [a + b]",
        "make error! [script no-value x]",
        ":append",
        ":if",
        ":+",
        "[1-Jan-2000 29-Feb-2024/13:45:10.25 3-Mar-1999/1:02:03-5:30 USD$12.34 -$0.01 1.2.3 1.2.3.4.5.6.7.8.9.10.11.12]",
        "reduce [make vector! [integer! 16 [1 -2 300]] make vector! [float! 64 [1.5 -2.25]] (1, 2.5) (1, 2, 3)]",
        "reduce [make map! [a 1 \"b\" [2]] make hash! [x 1 y 2] #\"^(10FFFF)\" -3.5e-300 -0:00:01.5]",
        "f: func [a /local b] [b: a * 2 reduce [a b]] reduce [:f f 4]",
        "i: make image! [2x3 10.20.30] poke i 4 1.2.3.4 reduce [i next i]",
    };
    for (const char* c : cases) {
        EXPECT_EQ(round_trip(c), molded(eval(c))) << c;
        EXPECT_EQ(round_trip(c, true), molded(eval(c))) << c << " (compressed)";
        EXPECT_EQ(round_trip(c, false, true), molded(eval(c))) << c << " (32-bit)";
        EXPECT_EQ(round_trip(c, true, true), molded(eval(c))) << c << " (32-bit, compressed)";
    }
}

TEST_F(Kivbin, WordsKeepTheirObjectBinding) {
    bytes b = encode("o: make object! [x: 10 code: [x + 1]] reduce [o o/code]");
    stack::mark_native(nullptr);
    kiv_value blk = decode(b);
    kiv_value outer = block::cells(&blk)[0];
    kiv_value obj = block::cells(&outer)[0];
    kiv_value code = block::cells(&outer)[1];
    // The word x of the code block is bound to the decoded object.
    EXPECT_EQ(block::cells(&code)[0].data1, obj.data1);
    interpreter::eval(&code, false);
    EXPECT_EQ(int_of(*stack::get_top()), 11);
    stack::unwind_drop();
}

TEST_F(Kivbin, RandomNestedBlocksRoundTrip) {
    std::mt19937 rng(7);
    auto pick = [&](int n) { return int(rng() % uint32_t(n)); };
    std::function<std::string(int)> gen = [&](int depth) -> std::string {
        switch (pick(depth > 3 ? 6 : 8)) {
            case 0: return std::to_string(int32_t(rng()));
            case 1: return std::to_string(pick(64));
            case 2: return "\"s" + std::to_string(pick(1000)) + "\"";
            case 3: return "w" + std::to_string(pick(20));
            case 4: return std::to_string(pick(1000)) + ".25";
            case 5: return "#\"x\"";
            default: {
                std::string s = pick(2) ? "[" : "(";
                for (int k = pick(5); k > 0; k--) s += gen(depth + 1) + " ";
                return s + (s[0] == '[' ? "]" : ")");
            }
        }
    };
    for (int i = 0; i < 200; i++) {
        std::string text = "[" + gen(0) + " " + gen(0) + "]";
        EXPECT_EQ(round_trip(text, i % 2, i % 4 >= 2), molded(eval(text))) << text;
    }
}

bytes words(std::initializer_list<uint32_t> list) {
    bytes out;
    for (uint32_t w : list)
        for (int k = 0; k < 4; k++) out.push_back(uint8_t(w >> (8 * k)));
    return out;
}

// A 32-bit image with no symbol table: the payload's words.
bytes wide_image(std::initializer_list<uint32_t> payload) {
    bytes b = {'K', 'I', 'V', 'B', 'I', 'N', 2, 0};
    bytes counts = words({1, uint32_t(payload.size() * 4)});
    b.insert(b.end(), counts.begin(), counts.end());
    bytes p = words(payload);
    b.insert(b.end(), p.begin(), p.end());
    return b;
}

TEST_F(Kivbin, WidePayloads) {
    // 1.5 is 0x3FF8000000000000: high word first.
    struct {
        const char* text;
        bytes payload;
    } cases[] = {
        {"1.5", words({12, 0x3FF80000, 0})},
        {"reduce [none 1.5]", words({5, 0, 2, 3, 12, 0x3FF80000, 0})},
        {"[1.5]", words({5, 0, 1, 0, 12, 0x3FF80000, 0})},
        {"[1 1.5]", words({5, 0, 2, 11, 1, 0, 12, 0x3FF80000, 0})},
        {"\"abc\"", words({7 | 1 << 8, 0, 3, 0x00636261})},
        {"1.2.3.4", words({39 | 4 << 8, 0x04030201, 0, 0})},
        {"true", words({4, 1})},
        {"-5", words({11, uint32_t(-5)})},
        {"make pair! [1 -2]", words({37, 1, uint32_t(-2)})},
        {"#{0102}", words({41 | 1 << 8, 0, 2, 0x0201})},
        {"make bitset! #{80}", words({30, 1, 0x80})},
        {"complement make bitset! #{80}", words({30 | 1u << 23, 1, 0x7F})},
    };
    for (auto& c : cases) EXPECT_EQ(wide_payload_of(c.text), c.payload) << c.text;
    // A shared series: the second record names the first by its path.
    EXPECT_EQ(wide_payload_of("x: [] reduce [x x]"), words({5, 0, 2, 5, 0, 0, 5 | 1u << 19, 0, 0xFF, 2, 0, 0}));
    // A global word: the global bit, its symbol, its slot.
    bytes a = encode("[a]", true);
    EXPECT_EQ(a[7], kivbin::FLAG_SYMBOLS);
    // Symbol count 1, strings size 8 (the name, a NUL, padding to 8).
    EXPECT_EQ(bytes(a.begin() + 16, a.begin() + 32), words({1, 8, 0, 0x61}));
}

// Boot mode in the 32-bit layout: a word record with the global bit set is
// a definition of the value that follows, and neither stays in the target.
TEST_F(Kivbin, WideBootDefinition) {
    bytes image = {'K', 'I', 'V', 'B', 'I', 'N', 1, kivbin::FLAG_SYMBOLS};
    const char name[] = "wide-boot-def";  // 13 bytes and a NUL: 16 with padding
    bytes head = words({1, 24, 1, 16, 0});
    image.insert(image.end(), head.begin(), head.end());
    image.insert(image.end(), name, name + sizeof name);
    image.resize(image.size() + 16 - sizeof name, 0);
    bytes payload = words({15 | 1u << 25, 0, uint32_t(-1), uint32_t(-1), 11, 42});
    image.insert(image.end(), payload.begin(), payload.end());
    kiv_value* target = block::make_at(stack::push(), 4);
    kivbin::decode(image.data(), target, false, int64_t(image.size()));
    EXPECT_EQ(block::length_all(stack::get_top()), 0u);
    kiv_value w{TYPE_WORD, _context::global, uint32_t(symbol::make("wide-boot-def")), 0};
    w.data3 = uint32_t(_context::find_word(_context::global, word::symbol_of(&w), true));
    EXPECT_EQ(int_of(*_context::get(&w)), 42);
    stack::pop(1);
}

TEST_F(Kivbin, WideMalformedRecords) {
    // Offsets count from the header's first byte; the payload starts at 17.
    struct {
        const char* what;
        bytes image;
        int32_t offset;
    } cases[] = {
        {"type 13", wide_image({13}), 17},
        {"type 60", wide_image({60}), 17},
        {"tuple of length 0", wide_image({39, 0, 0, 0}), 17},
        {"tuple of length 13", wide_image({39 | 13 << 8, 0, 0, 0}), 17},
        {"binary of unit 2", wide_image({41 | 2 << 8, 0, 0}), 17},
        {"string of unit 3", wide_image({7 | 3 << 8, 0, 0}), 17},
        {"vector element type and unit apart", wide_image({35 | 2 << 8, 0, 0, 12}), 17},
        {"odd map count", wide_image({40, 1, 3}), 21},
        {"datatype 55", wide_image({1, 55}), 17},
        {"action 63", wide_image({22, 63}), 21},
        {"bit a none! cannot carry", wide_image({3 | 1u << 23}), 17},
        {"count of 2^31", wide_image({5, 0, 0x80000000}), 29},
        {"block longer than the bytes left", wide_image({5, 0, 2, 3}), 29},
        {"string past the end", wide_image({7 | 1 << 8, 0, 5, 0}), 29},
        {"money digit above 9", wide_image({49, 0x0000AF00, 0, 0}), 17},
        {"reference record without its marker", wide_image({5, 0, 1, 5 | 1u << 19, 0, 7, 1, 0}), 37},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        expect_invalid(c.image, c.offset);
    }
    // A body shorter than its two counts is not an image at all.
    stack::mark_try(nullptr);
    kiv_value e = raised([&] { decode(bytes{'K', 'I', 'V', 'B', 'I', 'N', 2, 0, 1, 0, 0, 0}); });
    StackTest::SetUp();
    expect_error(e, err::SCRIPT, err::script::invalid_data);
}

TEST_F(Kivbin, CorruptCompressedBodyIsInvalidData) {
    bytes b = compressed(encode("[1 2 3]"));
    b.back() ^= 0xFF;
    b[12] += 1;  // the unpacked size no longer matches
    stack::mark_try(nullptr);
    kiv_value e = raised([&] { decode(b); });
    StackTest::SetUp();
    expect_error(e, err::SCRIPT, err::script::invalid_data);
    // A stream that unpacks to nothing leaves no body to read.
    bytes empty = header({}, kivbin::FLAG_COMPACT | kivbin::FLAG_COMPRESSED);
    empty.resize(16, 0);
    stack::mark_try(nullptr);
    e = raised([&] { decode(empty); });
    StackTest::SetUp();
    expect_error(e, err::SCRIPT, err::script::kb_invalid_record);
}

TEST_F(Kivbin, MalformedInputRaisesInvalidRecord) {
    // Fifth varint byte with a high bit set (count field at offset 9).
    expect_invalid(header({0x01, 0x80, 0x80, 0x80, 0x80, 0x10}), 14);
    // Payload longer than the input.
    expect_invalid(header({0x01, 0x05, 0x03}), 9);
    // A string that runs past the payload's end.
    expect_invalid(header({0x01, 0x03, 0x07, 0x0C, 0x61}), 13);
    // Last strings byte is not NUL: rejected before any record.
    expect_invalid(header({0x01, 0x01, 0x01, 0x02, 0, 0, 0, 0, 'a', 'b', 0x03}, 5), 18);
    // A binary whose bytes run past the payload's end.
    expect_invalid(header({0x01, 0x03, 0x29, 0x05, 0x01}), 13);
    // A reference to a string where a binary is wanted.
    expect_invalid(header({0x01, 0x0A, 0x05, 0x02, 0x07, 0x04, 0x61, 0xC1, 0x29, 0x02, 0x00, 0x00}), 18);
    // Symref outside the table.
    expect_invalid(header({0x01, 0x02, 0x0F, 0x00}), 12);
    // Invalid header bytes and type ids.
    expect_invalid(header({0x01, 0x01, 0xC5}), 11);
    expect_invalid(header({0x01, 0x01, 0x04}), 11);
    expect_invalid(header({0x01, 0x01, 0x00}), 11);
    // A reference prefix before a small integer.
    expect_invalid(header({0x01, 0x02, 0xC1, 0x81}), 12);
    // A reference path leaving its container.
    expect_invalid(header({0x01, 0x03, 0xFF, 0x01, 0x05}), 13);
    // A definition in codec mode.
    expect_invalid(header({0x01, 0x02, 0xC4, 0x03}), 12);
}

TEST_F(Kivbin, FuzzedInputNeverCrashes) {
    std::mt19937 rng(11);
    bytes seed = encode("[a [b \"c\" 1.5] make object! [x: [x]] func [a] [a] #\"z\" 123456]");
    uint32_t errors = 0;
    for (int i = 0; i < 3000; i++) {
        bytes b = seed;
        for (int k = 1 + int(rng() % 4); k > 0; k--) b[8 + rng() % (b.size() - 8)] = uint8_t(rng());
        if (rng() % 4 == 0) b.resize(8 + rng() % (b.size() - 8));
        stack::mark_try(nullptr);
        try {
            decode(b);
        } catch (const kiv_exit&) {
            errors++;
        }
        StackTest::SetUp();
    }
    EXPECT_GT(errors, 0u);
}

// Boot data that cannot be read ends start-up with an error status, never 0.
TEST(KivbinDeathTest, UnreadableBootDataEndsWithAnErrorStatus) {
    bytes not_kivbin = {'K', 'I', 'V', 'B', 'O', 'X', 1, 5, 1, 0};
    EXPECT_EXIT(kivbin::load_boot(not_kivbin.data(), int64_t(not_kivbin.size())), ::testing::ExitedWithCode(1),
                "Error: Not a Kivbin file!");
    bytes compressed = {'K', 'I', 'V', 'B', 'I', 'N', 1, 7, 1, 0};
    EXPECT_EXIT(kivbin::load_boot(compressed.data(), int64_t(compressed.size())), ::testing::ExitedWithCode(1),
                "Error: Kivbin compressed data corrupted!");
}

TEST_F(Kivbin, TruncatedBootDataRaisesInvalidRecord) {
    std::vector<uint8_t> image(kiv_boot_data, kiv_boot_data + kiv_boot_data_size / 2);
    kiv_value saved = runtime::root;
    uint32_t length = block::length_all(&runtime::root);
    stack::mark_try(nullptr);
    kiv_value e = raised([&] { kivbin::load_boot(image.data(), int64_t(image.size())); });
    StackTest::SetUp();
    expect_error(e, err::SCRIPT, err::script::kb_invalid_record);
    // What the partial load appended to the root block goes.
    block::ks_set_tail(&saved, length);
}
