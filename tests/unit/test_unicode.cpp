// Unicode conversion and string units: decoders, encoders, loaders,
// widening and exports, checked against Python's codecs where they apply.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "runtime/unicode.h"
#include "tests/unit/text_fixture.h"

using namespace kiv;
using namespace kiv::test;

namespace {

enum verdict { VALID, INVALID, CUT };

struct utf8_case {
    std::vector<uint8_t> bytes;
    verdict kind;
    uint32_t cp;
};
struct encode_case {
    uint32_t cp;
    std::vector<uint8_t> bytes;
};
struct utf16_case {
    std::vector<uint16_t> units;
    bool decodes;
    codepoints cps;
};
struct export_case {
    codepoints cps;
    std::vector<uint8_t> utf8, utf8_crlf;
    std::vector<uint16_t> utf16, utf16_crlf;
};

// Python's answers; tools/unicode_reference.py regenerates this file.
#include "tests/unit/unicode_expected.inc"

using bytes = std::vector<uint8_t>;

// Input bytes followed by zero padding, as a series buffer would have.
bytes padded(const bytes& b) {
    bytes out = b;
    out.resize(b.size() + 8, 0);
    return out;
}

std::vector<uint16_t> units_of(const uint16_t* p, int32_t count) { return {p, p + count}; }

std::vector<uint8_t> utf16_bytes(const std::vector<uint16_t>& units) {
    bytes out;
    for (uint16_t u : units) {
        out.push_back(uint8_t(u));
        out.push_back(uint8_t(u >> 8));
    }
    return out;
}

uint32_t narrowest_unit(const codepoints& cps) {
    uint32_t unit = 1;
    for (uint32_t cp : cps) unit = std::max(unit, cp > 0xFFFF ? 4u : cp > 0xFF ? 2u : 1u);
    return unit;
}

class Unicode : public StackTest {};

}  // namespace

// Decoding -------------------------------------------------------------------------

TEST_F(Unicode, StrictDecoderAgreesWithPython) {
    for (const utf8_case& c : UTF8_CASES) {
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        bytes in = padded(c.bytes);
        uint32_t available = uint32_t(c.bytes.size());
        int32_t cp = 0;
        outcome o = attempt([&] { cp = unicode::decode_utf8_strict(in.data(), &available); });
        // U+FFFE stands for bad input inside the runtime, so Kiv refuses it
        // where Python's decoder accepts the noncharacter.
        if (c.kind == INVALID || c.cp == 0xFFFE) {
            expect_raised(o, err::ACCESS, err::access::invalid_utf8);
        } else if (c.kind == CUT) {
            EXPECT_FALSE(o.raised);
            EXPECT_EQ(cp, -1);
        } else {
            EXPECT_FALSE(o.raised);
            EXPECT_EQ(cp, int32_t(c.cp));
            EXPECT_EQ(available, c.bytes.size());
        }
    }
}

TEST_F(Unicode, FastDecoderAgreesWithPythonOnCompleteInput) {
    for (const utf8_case& c : UTF8_CASES) {
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        bytes in = padded(c.bytes);
        int32_t cp;
        const uint8_t* next = unicode::fast_decode_utf8_char(in.data(), &cp);
        if (c.kind == VALID) {
            EXPECT_EQ(cp, int32_t(c.cp));
            EXPECT_EQ(next - in.data(), ptrdiff_t(c.bytes.size()));
        } else {
            EXPECT_EQ(cp, -1);
        }
    }
}

TEST_F(Unicode, FastDecoderConsumesBadInputByTheTable) {
    // A bad lead takes one byte; a bad byte inside a sequence is taken with
    // the bytes before it.
    const struct {
        bytes in;
        ptrdiff_t consumed;
    } cases[] = {
        {{0x80, 0x41}, 1}, {{0xC0, 0x80}, 1}, {{0xFF, 0x41}, 1}, {{0xE2, 0x41}, 2},
        {{0xE2, 0x82, 0x41}, 3}, {{0xF0, 0x9F, 0x98, 0x41}, 4}, {{0xED, 0xA0, 0x80}, 2},
    };
    for (const auto& c : cases) {
        bytes in = padded(c.in);
        int32_t cp;
        EXPECT_EQ(unicode::fast_decode_utf8_char(in.data(), &cp) - in.data(), c.consumed);
        EXPECT_EQ(cp, -1);
    }
}

TEST_F(Unicode, EveryScalarValueRoundTripsAndNoSurrogateDoes) {
    uint8_t buf[8] = {};
    for (uint32_t cp = 0; cp <= unicode::MAX_CODEPOINT; cp++) {
        uint32_t n = unicode::encode_utf8_char(cp, buf);
        ASSERT_EQ(n, unicode::codepoint_size(cp));
        int32_t fast;
        unicode::fast_decode_utf8_char(buf, &fast);
        bool surrogate = cp >= 0xD800 && cp <= 0xDFFF;
        ASSERT_EQ(fast, surrogate ? -1 : int32_t(cp)) << cp;
        if (surrogate || cp == 0xFFFE) continue;
        uint32_t available = n;
        ASSERT_EQ(unicode::decode_utf8_strict(buf, &available), int32_t(cp));
        ASSERT_EQ(available, n);
    }
    for (uint32_t cp : {0xD800u, 0xDBFFu, 0xDC00u, 0xDFFFu}) {
        unicode::encode_utf8_char(cp, buf);
        uint32_t available = 3;
        expect_raised(attempt([&] { unicode::decode_utf8_strict(buf, &available); }), err::ACCESS,
                      err::access::invalid_utf8);
    }
}

TEST_F(Unicode, CountAndSkipCharacters) {
    const bytes in = padded({'a', 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80, 'z'});
    const uint8_t* end = in.data() + 11;
    EXPECT_EQ(unicode::count_chars(in.data(), end), 5u);
    EXPECT_EQ(unicode::count_chars(in.data(), in.data()), 0u);
    EXPECT_EQ(unicode::skip_chars(in.data(), end, 3), in.data() + 6);
    EXPECT_EQ(unicode::skip_chars(in.data(), end, 99), end);
}

// Encoding -------------------------------------------------------------------------

TEST_F(Unicode, EncoderAgreesWithPython) {
    for (const encode_case& c : ENCODE_CASES) {
        uint8_t buf[4] = {};
        uint32_t n = unicode::encode_utf8_char(c.cp, buf);
        EXPECT_EQ(bytes(buf, buf + n), c.bytes) << c.cp;
        EXPECT_EQ(unicode::codepoint_size(c.cp), c.bytes.size());
        EXPECT_EQ(unicode::utf8_length(buf[0]), n == 1 ? 0u : n);
    }
}

TEST_F(Unicode, LeadByteLengths) {
    const std::pair<uint8_t, uint32_t> cases[] = {
        {0x41, 0}, {0x80, 0}, {0xBF, 0}, {0xC3, 2}, {0xE2, 3}, {0xF0, 4}, {0xFF, 4},
    };
    for (auto [lead, length] : cases) EXPECT_EQ(unicode::utf8_length(lead), length) << int(lead);
}

TEST_F(Unicode, CodePointsBeyondTheRangeAreInvalidChars) {
    uint8_t buf[8];
    uint32_t wide = 0x110000;
    expect_raised(attempt([&] { unicode::encode_utf8_char(wide, buf); }), err::SCRIPT, err::script::invalid_char);
    expect_raised(attempt([&] { unicode::codepoint_size(wide); }), err::SCRIPT, err::script::invalid_char);
    expect_raised(attempt([&] { unicode::utf8_size(reinterpret_cast<uint8_t*>(&wide),
                                                   reinterpret_cast<uint8_t*>(&wide + 1), 4); }),
                  err::SCRIPT, err::script::invalid_char);
}

TEST_F(Unicode, BoundedEncoderCutsWhatDoesNotFit) {
    const struct {
        uint32_t cp, room;
        bytes written;
    } cases[] = {
        {0x20AC, 3, {0xE2, 0x82, 0xAC}}, {0x20AC, 2, {0xE2, 0x82}}, {0x1F600, 1, {0xF0}},
        {0x41, 0, {}}, {0xE9, 5, {0xC3, 0xA9}},
    };
    for (const auto& c : cases) {
        uint8_t buf[6] = {0x55, 0x55, 0x55, 0x55, 0x55, 0x55};
        uint32_t n = unicode::encode_utf8_char_bounded(c.cp, buf, c.room);
        EXPECT_EQ(bytes(buf, buf + n), c.written);
        EXPECT_EQ(buf[n], 0x55);
    }
}

TEST_F(Unicode, Utf8SizeOfUnits) {
    kiv_value s = text(codepoints{0x41, 0xE9, 0x20AC, 0x1F600});
    series_buffer* b = string::buffer_of(&s);
    EXPECT_EQ(unicode::utf8_size(b->offset, b->tail, unit_of(b)), 10u);
    kiv_value narrow = text("a\xE9");
    b = string::buffer_of(&narrow);
    EXPECT_EQ(unicode::utf8_size(b->offset, b->tail, unit_of(b)), 3u);
}

// Loading UTF-8 --------------------------------------------------------------------

TEST_F(Unicode, LoadingPicksTheNarrowestUnit) {
    const struct {
        bytes in;
        codepoints cps;
        uint32_t unit;
    } cases[] = {
        {{'a', 'b', 'c'}, {'a', 'b', 'c'}, 1},
        {{'a', 0xC3, 0xA9, 0xC3, 0xBF}, {'a', 0xE9, 0xFF}, 1},  // Latin-1 stays one byte
        {{'A', 0xC3, 0xA9, 0xE2, 0x82, 0xAC}, {'A', 0xE9, 0x20AC}, 2},
        {{'A', 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80}, {'A', 0xE9, 0x20AC, 0x1F600}, 4},
        {{0xF0, 0x9F, 0x98, 0x80, 'a'}, {0x1F600, 'a'}, 4},
        {{}, {}, 1},
        {{0xEF, 0xBB, 0xBF}, {}, 1},
        {{0xEF, 0xBB, 0xBF, 'x'}, {'x'}, 1},
        {{'a', 0xEF, 0xBB, 0xBF}, {'a', 0xFEFF}, 2},  // a mark inside the text is kept
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.in));
        node_id n = unicode::load_utf8_buffer(c.in.data(), uint32_t(c.in.size()));
        EXPECT_EQ(chars_of(n), c.cps);
        EXPECT_EQ(unit_of(series::buffer(n)), c.unit);
    }
}

TEST_F(Unicode, LoadingAgreesWithPython) {
    for (const export_case& c : EXPORT_CASES) {
        node_id n = unicode::load_utf8_buffer(c.utf8.data(), uint32_t(c.utf8.size()));
        EXPECT_EQ(chars_of(n), c.cps);
        EXPECT_EQ(unit_of(series::buffer(n)), narrowest_unit(c.cps));
    }
}

TEST_F(Unicode, LoadingLongTextWidensOnceInPlace) {
    // 300 Latin-1 characters, then one beyond the BMP: the buffer is
    // converted back to front without losing any of them.
    bytes in;
    codepoints expected;
    for (uint32_t i = 0; i < 300; i++) {
        uint32_t cp = 0xA0 + i % 0x60;
        in.push_back(uint8_t(0xC0 | cp >> 6));
        in.push_back(uint8_t(0x80 | (cp & 0x3F)));
        expected.push_back(cp);
    }
    in.insert(in.end(), {0xF0, 0x9F, 0x98, 0x80});
    expected.push_back(0x1F600);
    node_id n = unicode::load_utf8_buffer(in.data(), uint32_t(in.size()));
    EXPECT_EQ(chars_of(n), expected);
    EXPECT_EQ(unit_of(series::buffer(n)), 4u);
}

TEST_F(Unicode, LoadingRejectsMalformedInput) {
    const bytes cases[] = {
        {0xC0, 0x80}, {0xC1, 0xBF}, {0xE0, 0x80, 0x80}, {0xE0, 0x9F, 0xBF}, {0xF0, 0x8F, 0xBF, 0xBF},
        {0xED, 0xA0, 0x80}, {0xED, 0xB0, 0x80}, {0xED, 0xBF, 0xBF}, {0xEF, 0xBF, 0xBE},
        {0xF4, 0x90, 0x80, 0x80}, {0xF8, 0x88, 0x80, 0x80, 0x80}, {'a', 0x80}, {'a', 0xFF},
        {0xE2, 0x41, 0x41},
    };
    for (const bytes& in : cases) {
        SCOPED_TRACE(testing::PrintToString(in));
        expect_raised(attempt([&] { unicode::load_utf8_buffer(in.data(), uint32_t(in.size())); }),
                      err::ACCESS, err::access::invalid_utf8);
    }
}

TEST_F(Unicode, CutSequenceIsLeftForTheNextChunk) {
    const struct {
        bytes in;
        codepoints cps;
        uint32_t remainder;
    } cases[] = {
        {{0xE2, 0x82}, {}, 2},
        {{'a', 'b', 0xF0, 0x9F, 0x98}, {'a', 'b'}, 3},
        {{'a', 0xC3}, {'a'}, 1},
        {{'a', 0xC3, 0xA9}, {'a', 0xE9}, 0},
        {{0xEF, 0xBB}, {}, 2},  // two bytes are no mark, only a cut sequence
    };
    for (const auto& c : cases) {
        uint32_t remainder = 99;
        node_id n = unicode::load_utf8(c.in.data(), uint32_t(c.in.size()), 0, &remainder, false);
        EXPECT_EQ(chars_of(n), c.cps);
        EXPECT_EQ(remainder, c.remainder);
        if (c.remainder)  // without a remainder there is no next chunk
            expect_raised(attempt([&] { unicode::load_utf8_buffer(c.in.data(), uint32_t(c.in.size())); }),
                          err::ACCESS, err::access::invalid_utf8);
    }
}

TEST_F(Unicode, LoadingWithCrTurnsLineEndsIntoLf) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"a\r\nb", "a\nb"}, {"a\rb", "a\nb"}, {"a\r", "a\n"}, {"\r\r\n\n", "\n\n\n"}, {"ab", "ab"},
    };
    for (const auto& c : cases) {
        node_id n = unicode::load_utf8(reinterpret_cast<const uint8_t*>(c.in), uint32_t(std::strlen(c.in)), 0,
                                       nullptr, true);
        EXPECT_EQ(chars_of(n), latin1(c.out)) << c.in;
    }
    node_id n = unicode::load_utf8(reinterpret_cast<const uint8_t*>("a\r\nb"), 4, 0, nullptr, false);
    EXPECT_EQ(chars_of(n), latin1("a\r\nb"));
}

TEST_F(Unicode, LongAsciiRunsMeetOtherBytesAtEveryOffset) {
    // ASCII runs are taken eight bytes at a time: what ends a run (a wider
    // character, a bad byte, a cut sequence, a CR) is met at each offset.
    for (uint32_t lead = 0; lead < 20; lead++) {
        SCOPED_TRACE(lead);
        bytes ascii;
        codepoints expected;
        for (uint32_t i = 0; i < lead; i++) {
            ascii.push_back(uint8_t('a' + i % 26));
            expected.push_back('a' + i % 26);
        }
        bytes in = ascii;
        in.insert(in.end(), {0xE2, 0x82, 0xAC, 'x', 'y', 'z', '0', '1', '2', '3', '4', '5'});
        codepoints cps = expected;
        cps.insert(cps.end(), {0x20AC, 'x', 'y', 'z', '0', '1', '2', '3', '4', '5'});
        EXPECT_EQ(chars_of(unicode::load_utf8_buffer(in.data(), uint32_t(in.size()))), cps);

        bytes bad = ascii;
        bad.insert(bad.end(), {0xFF, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'});
        expect_raised(attempt([&] { unicode::load_utf8_buffer(bad.data(), uint32_t(bad.size())); }),
                      err::ACCESS, err::access::invalid_utf8);

        bytes cut = ascii;
        cut.insert(cut.end(), {0xF0, 0x9F, 0x98});
        uint32_t remainder = 99;
        EXPECT_EQ(chars_of(unicode::load_utf8(cut.data(), uint32_t(cut.size()), 0, &remainder, false)), expected);
        EXPECT_EQ(remainder, 3u);

        std::string lines(ascii.begin(), ascii.end());
        std::string text = lines + "\r\n" + lines + "\r" + lines;
        std::string want = lines + "\n" + lines + "\n" + lines;
        node_id n = unicode::load_utf8(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), 0,
                                       nullptr, true);
        EXPECT_EQ(chars_of(n), latin1(want.c_str()));
    }
}

TEST_F(Unicode, LoadingIntoACellReplacesItsText) {
    const bytes euro = {'a', 0xE2, 0x82, 0xAC};
    const struct {
        codepoints before;
        uint32_t unit;
        bytes in;
        codepoints after;
        uint32_t after_unit;
    } cases[] = {
        {latin1("xyz"), 1, {'a', 'b'}, latin1("ab"), 1},
        {{0x20AC, 'y'}, 2, {'a', 'b', 'c'}, latin1("abc"), 2},  // the width is kept
        {latin1("xyz"), 1, euro, {'a', 0x20AC}, 2},
        {latin1("xyz"), 1, {}, {}, 1},
        {latin1("a long text that the input is shorter than"), 1, {'b'}, {'b'}, 1},
    };
    for (const auto& c : cases) {
        kiv_value s = text(c.before, c.unit);
        uint32_t remainder = 7;
        node_id n = unicode::load_utf8_at(c.in.data(), uint32_t(c.in.size()), &s, &remainder);
        EXPECT_EQ(n, s.data2);
        EXPECT_EQ(chars_of(&s), c.after);
        EXPECT_EQ(unit_of(&s), c.after_unit);
        EXPECT_EQ(remainder, 0u);
    }
}

// Widening -------------------------------------------------------------------------

TEST_F(Unicode, WideningKeepsTheTextAndRoomForOneMore) {
    using widen_fn = series_buffer* (*)(series_buffer*);
    const struct {
        widen_fn widen;
        uint32_t from, to;
    } cases[] = {
        {unicode::to_ucs2, 1, 2}, {unicode::to_ucs4, 1, 4}, {unicode::ucs2_to_ucs4, 2, 4},
    };
    for (const auto& c : cases) {
        for (uint32_t length : {0u, 5u, 16u, 100u}) {  // 16 fills the smallest buffer
            codepoints cps;
            for (uint32_t i = 0; i < length; i++) cps.push_back(c.from == 1 ? 0x61 + i % 26 : 0x100 + i);
            kiv_value s = text(cps, c.from);
            ASSERT_EQ(unit_of(&s), c.from);
            series_buffer* b = c.widen(string::buffer_of(&s));
            EXPECT_EQ(b, string::buffer_of(&s));
            EXPECT_EQ(unit_of(b), c.to);
            EXPECT_EQ(chars_of(&s), cps);
            EXPECT_GE(end_of(b) - b->tail, ptrdiff_t(c.to));
        }
    }
}

// Loading UTF-16LE -----------------------------------------------------------------

TEST_F(Unicode, Utf16LoadingAgreesWithPython) {
    for (bool cr : {false, true}) {
        for (const utf16_case& c : UTF16_CASES) {
            SCOPED_TRACE(testing::PrintToString(c.units));
            bytes in = utf16_bytes(c.units);
            node_id n = 0;
            outcome o = attempt([&] { n = unicode::load_utf16le(in.data(), uint32_t(c.units.size()), nullptr, cr); });
            if (!c.decodes) {
                expect_raised(o, err::SCRIPT, err::script::invalid_data);
                continue;
            }
            ASSERT_FALSE(o.raised);
            EXPECT_EQ(chars_of(n), c.cps);
            EXPECT_EQ(unit_of(series::buffer(n)), narrowest_unit(c.cps));
            EXPECT_EQ(unicode::utf16_unit_width(in.data(), uint32_t(c.units.size())), narrowest_unit(c.cps));
            EXPECT_TRUE(series::buffer(n)->flags & SERIES_UTF16);
        }
    }
}

TEST_F(Unicode, Utf16LoadingWithCrTurnsLineEndsIntoLf) {
    const struct {
        std::vector<uint16_t> in;
        codepoints out;
    } cases[] = {
        {{'a', '\r', '\n', 'b'}, latin1("a\nb")},
        {{'a', '\r', 'b'}, latin1("a\nb")},
        {{0x20AC, '\r'}, {0x20AC, '\n'}},
        {{0xD83D, 0xDE00, '\r', '\n'}, {0x1F600, '\n'}},
    };
    for (const auto& c : cases) {
        bytes in = utf16_bytes(c.in);
        EXPECT_EQ(chars_of(unicode::load_utf16le(in.data(), uint32_t(c.in.size()), nullptr, true)), c.out);
    }
}

TEST_F(Unicode, Utf16LoadingFromTheCellsScratchBuffer) {
    kiv_value s = text("old text");
    const std::vector<uint16_t> units = {'K', 0x20AC, 0xD83D, 0xDE00};
    bytes in = utf16_bytes(units);
    std::memcpy(string::ensure_buffer(&s, uint32_t(in.size())), in.data(), in.size());
    node_id n = unicode::load_utf16le(nullptr, uint32_t(units.size()), &s, false);
    EXPECT_EQ(n, s.data2);
    EXPECT_EQ(chars_of(&s), (codepoints{'K', 0x20AC, 0x1F600}));
    EXPECT_EQ(unit_of(&s), 4u);
}

// Exports --------------------------------------------------------------------------

TEST_F(Unicode, ExportsAgreeWithPythonFromEveryWidth) {
    for (const export_case& c : EXPORT_CASES) {
        for (uint32_t unit : {1u, 2u, 4u}) {
            SCOPED_TRACE(testing::PrintToString(c.cps) + " unit " + std::to_string(unit));
            kiv_value s = text(c.cps, unit);
            int32_t count = -1;
            const char* utf8 = unicode::to_utf8(&s, &count);
            EXPECT_EQ(bytes(utf8, utf8 + count), c.utf8);
            EXPECT_EQ(utf8[count], 0);
            count = -1;
            utf8 = unicode::to_utf8_with_crlf(&s, &count, true);
            EXPECT_EQ(bytes(utf8, utf8 + count), c.utf8_crlf);

            count = -1;
            const uint16_t* utf16 = string::to_utf16_part(&s, &count, false);
            EXPECT_EQ(units_of(utf16, count), c.utf16);
            EXPECT_EQ(utf16[count], 0);
            count = -1;
            utf16 = string::to_utf16_part(&s, &count, true);
            EXPECT_EQ(units_of(utf16, count), c.utf16_crlf);
            EXPECT_EQ(utf16[count], 0);
            std::vector<uint16_t> terminated = c.utf16;
            terminated.push_back(0);
            utf16 = string::to_utf16(&s);  // line feeds stay LF
            EXPECT_EQ(units_of(utf16, int32_t(terminated.size())), terminated);

            bytes into(c.utf8.size() + 1, 0x55);
            EXPECT_EQ(unicode::to_utf8_into(&s, into.data(), -1, true), c.utf8.size());
            EXPECT_EQ(bytes(into.begin(), into.end() - 1), c.utf8);
            EXPECT_EQ(into.back(), 0);
        }
    }
}

TEST_F(Unicode, ExportsStartAtTheCursorAndStopAtTheCount) {
    kiv_value s = text(codepoints{'h', 0xE9, 'l', 0x20AC, 'o'});
    s.data1 = 1;
    const struct {
        int32_t count;
        bytes utf8;
        std::vector<uint16_t> utf16;
    } cases[] = {
        {-1, {0xC3, 0xA9, 'l', 0xE2, 0x82, 0xAC, 'o'}, {0xE9, 'l', 0x20AC, 'o'}},
        {2, {0xC3, 0xA9, 'l'}, {0xE9, 'l'}},
        {0, {}, {}},
        {4, {0xC3, 0xA9, 'l', 0xE2, 0x82, 0xAC, 'o'}, {0xE9, 'l', 0x20AC, 'o'}},
        {99, {0xC3, 0xA9, 'l', 0xE2, 0x82, 0xAC, 'o'}, {0xE9, 'l', 0x20AC, 'o'}},
    };
    for (const auto& c : cases) {
        int32_t count = c.count;
        const char* utf8 = unicode::to_utf8(&s, &count);
        EXPECT_EQ(bytes(utf8, utf8 + count), c.utf8) << c.count;
        count = c.count;
        const uint16_t* utf16 = string::to_utf16_part(&s, &count, false);
        EXPECT_EQ(units_of(utf16, count), c.utf16) << c.count;
        uint8_t into[16];
        EXPECT_EQ(unicode::to_utf8_into(&s, into, c.count, false), c.utf8.size());
    }
}

TEST_F(Unicode, ExportFromTheTailIsEmpty) {
    kiv_value s = text("abc");
    s.data1 = 7;  // past the tail: another value shortened the series
    int32_t count = -1;
    const char* utf8 = unicode::to_utf8(&s, &count);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(utf8[0], 0);
    EXPECT_EQ(s.data1, 3u);
}

TEST_F(Unicode, BoundedExportWritesWholeCharactersOnly) {
    kiv_value s = text(codepoints{'a', 0x20AC, 'b'});
    const struct {
        uint32_t room;
        int32_t count;
        bytes out;
    } cases[] = {
        {10, -1, {'a', 0xE2, 0x82, 0xAC, 'b'}},
        {10, 0, {'a', 0xE2, 0x82, 0xAC, 'b'}},  // 0 is no limit
        {10, 2, {'a', 0xE2, 0x82, 0xAC}},
        {3, -1, {'a'}},
        {4, -1, {'a', 0xE2, 0x82, 0xAC}},
        {0, -1, {}},
    };
    for (const auto& c : cases) {
        bytes out(12, 0x55);
        uint32_t n = unicode::to_utf8_bounded(&s, out.data(), c.room, c.count, true);
        EXPECT_EQ(bytes(out.begin(), out.begin() + n), c.out) << c.room << " " << c.count;
        EXPECT_EQ(out[n], 0);
    }
}

TEST_F(Unicode, Utf16ExportRefusesCodePointsBeyondTheRange) {
    kiv_value s = text(codepoints{'a', 0x110000});
    int32_t count = -1;
    EXPECT_EQ(string::to_utf16_part(&s, &count, false), nullptr);
}

TEST_F(Unicode, ExportsReuseTheCellsScratchBuffer) {
    kiv_value s = text("some text to export");
    EXPECT_EQ(s.data3, 0u);
    int32_t count = -1;
    unicode::to_utf8(&s, &count);
    node_id scratch = s.data3;
    ASSERT_NE(scratch, 0u);
    uint8_t* data = series::buffer(scratch)->offset;
    count = 4;
    unicode::to_utf8(&s, &count);
    string::to_utf16(&s);
    EXPECT_EQ(s.data3, scratch);
    EXPECT_EQ(series::buffer(scratch)->offset, data);
    uint8_t* big = string::ensure_buffer(&s, 4096);
    EXPECT_EQ(s.data3, scratch);
    EXPECT_GE(end_of(series::buffer(scratch)) - big, 4096);
}

TEST_F(Unicode, ByteTextToUtf16) {
    uint16_t out[8];
    EXPECT_EQ(unicode::cstr_to_utf16("Ki\xE9", out), out);
    EXPECT_EQ(std::vector<uint16_t>(out, out + 4), (std::vector<uint16_t>{'K', 'i', 0xE9, 0}));
}
