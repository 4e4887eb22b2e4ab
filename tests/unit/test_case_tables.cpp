// The case tables and case changes of chars and strings.
#include <gtest/gtest.h>

#include <unordered_map>

#include "runtime/case_tables.h"
#include "tests/unit/text_fixture.h"

using namespace kiv;
using namespace kiv::test;

namespace {

struct case_mapping {
    uint32_t cp, upper, lower;
};

// Python's str.upper() and str.lower(), one code point to one;
// tools/case_tables.py regenerates this file.
const case_mapping EXPECTED[] = {
#include "tests/unit/case_tables_expected.inc"
};

class CaseTables : public StackTest {};

kiv_value character(uint32_t cp) { return kiv_value{TYPE_CHAR, 0, cp, 0}; }

}  // namespace

TEST_F(CaseTables, EveryCodePointMapsAsPythonDoes) {
    std::unordered_map<uint32_t, case_mapping> expected;
    for (const case_mapping& m : EXPECTED) expected[m.cp] = m;
    for (uint32_t cp = 0; cp <= 0x10FFFF + 16; cp++) {
        auto it = expected.find(cp);
        uint32_t upper = it == expected.end() ? cp : it->second.upper;
        uint32_t lower = it == expected.end() ? cp : it->second.lower;
        ASSERT_EQ(unicode::case_table_lookup(cp, true), upper) << std::hex << cp;
        ASSERT_EQ(unicode::case_table_lookup(cp, false), lower) << std::hex << cp;
    }
}

TEST_F(CaseTables, OneToOneMappingsAtTheEdges) {
    const struct {
        uint32_t cp;
        bool upper;
        uint32_t mapped;
    } cases[] = {
        {0x61, true, 0x41},       {0x41, false, 0x61},      {0xFF, true, 0x178},
        {0x130, false, 0x69},     {0x131, true, 0x49},      {0x69, true, 0x49},
        {0xDF, true, 0x53},       {0x149, true, 0x2BC},     {0xFF5A, true, 0xFF3A},
        {0xFF3A, false, 0xFF5A},  {0x10428, true, 0x10400}, {0x10400, false, 0x10428},
        {0x1E943, true, 0x1E921}, {0x1E921, false, 0x1E943}, {0x10427, true, 0x10427},
        {0x1E944, true, 0x1E944}, {0x41, true, 0x41},       {0x31, true, 0x31},
    };
    for (const auto& c : cases)
        EXPECT_EQ(unicode::case_table_lookup(c.cp, c.upper), c.mapped) << std::hex << c.cp;
}

TEST_F(CaseTables, CaseFoldOfAChar) {
    kiv_value c = character(0xFF);
    EXPECT_EQ(unicode::case_fold(&c, -1, true), &c);
    EXPECT_EQ(c.data2, 0x178u);
    unicode::case_fold(&c, -1, false);
    EXPECT_EQ(c.data2, 0xFFu);
}

TEST_F(CaseTables, CaseFoldOfAStringWidensWhenNeeded) {
    const struct {
        codepoints before;
        bool upper;
        codepoints after;
        uint32_t unit;
    } cases[] = {
        {latin1("Hello, World"), true, latin1("HELLO, WORLD"), 1},
        {latin1("Hello, World"), false, latin1("hello, world"), 1},
        {{'a', 0xE9, 0xFF}, true, {'A', 0xC9, 0x178}, 2},
        {{'x', 0x10428}, true, {'X', 0x10400}, 4},
        {{0x3A3, 'A'}, false, {0x3C3, 'a'}, 2},
    };
    for (const auto& c : cases) {
        kiv_value s;
        string::make_at(&s, 0);
        for (uint32_t cp : c.before)  // stored in place, so Latin-1 stays in one byte
            string::overwrite_char(string::buffer_of(&s), string::ks_length_all(&s), cp);
        unicode::case_fold(&s, -1, c.upper);
        EXPECT_EQ(chars_of(&s), c.after);
        EXPECT_EQ(unit_of(&s), c.unit);
    }
}

TEST_F(CaseTables, CaseFoldFromTheCursorWithPart) {
    const struct {
        uint32_t head;
        kiv_value part;  // type 0: no /part
        const char* after;
    } cases[] = {
        {0, {}, "ABCDEF"},
        {2, {}, "abCDEF"},
        {9, {}, "abcdef"},  // a cursor past the tail is the tail
        {1, int_value(2), "aBCdef"},
        {1, int_value(-3), "abcdef"},
        {1, int_value(0), "abcdef"},
        {4, int_value(50), "abcdEF"},  // the count stops at the tail
    };
    for (const auto& c : cases) {
        kiv_value s = text("abcdef");
        s.data1 = c.head;
        stack::arguments = stack::top = stack::bottom;
        *stack::push() = c.part;
        unicode::case_fold(&s, c.part.header ? 0 : -1, true);
        EXPECT_EQ(chars_of(s.data2), latin1(c.after)) << c.after;
    }
}

TEST_F(CaseTables, CaseFoldPartAsAPositionOfTheSameSeries) {
    kiv_value s = text("abcdef");
    kiv_value end = s;
    s.data1 = 1;
    end.data1 = 4;
    stack::arguments = stack::top = stack::bottom;
    *stack::push() = end;
    unicode::case_fold(&s, 0, true);
    EXPECT_EQ(chars_of(s.data2), latin1("aBCDef"));

    kiv_value other = text("abcdef");
    outcome o = attempt([&] {
        *stack::push() = other;
        unicode::case_fold(&s, 0, false);
    });
    expect_raised(o, err::SCRIPT, err::script::invalid_refine_arg);
    EXPECT_EQ(chars_of(s.data2), latin1("aBCDef"));
    kiv_value word{TYPE_WORD, 0, 1, 0};
    o = attempt([&] {
        *stack::push() = word;
        unicode::case_fold(&s, 0, false);
    });
    expect_raised(o, err::SCRIPT, err::script::invalid_refine_arg);
}
