// string!: the cell, buffer widening and the core helpers.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/datatypes/string.h"
#include "tests/unit/text_fixture.h"

using namespace kiv;
using namespace kiv::test;

namespace {

class StringCore : public StackTest {};

codepoints operator+(codepoints a, const codepoints& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

uint32_t capacity_units(const kiv_value* s) {
    series_buffer* b = string::buffer_of(s);
    return uint32_t((end_of(b) - b->offset) / unit_of(b));
}

// A one-byte string filled to the last unit of its buffer.
kiv_value full_text() {
    kiv_value s;
    string::make_at(&s, 0);
    while (string::ks_length_all(&s) < capacity_units(&s)) string::append_char(string::buffer_of(&s), 'a');
    return s;
}

}  // namespace

// Cells and accessors --------------------------------------------------------------

TEST_F(StringCore, MakeAtGivesAnEmptyStringCell) {
    kiv_value s{FLAG_NEW_LINE | TYPE_INTEGER, 5, 6, 7};
    EXPECT_EQ(string::make_at(&s, 0), &s);
    EXPECT_EQ(s.header, uint32_t(TYPE_STRING));
    EXPECT_EQ(s.data1, 0u);
    EXPECT_NE(s.data2, 0u);
    EXPECT_EQ(s.data3, 0u);
    EXPECT_EQ(unit_of(&s), 1u);
    EXPECT_EQ(string::ks_length_all(&s), 0u);
    EXPECT_GE(capacity_units(&s), 1u);

    string::make_at_unit(&s, 20, 4);
    EXPECT_EQ(unit_of(&s), 4u);
    EXPECT_GE(capacity_units(&s), 20u);

    kiv_value* pushed = string::push(&s);
    EXPECT_EQ(pushed, stack::top - 1);
    EXPECT_EQ(std::memcmp(pushed, &s, sizeof s), 0);
}

TEST_F(StringCore, CursorPastTheTailReadsAsTheTail) {
    kiv_value s = text("abc");
    EXPECT_FALSE(string::ks_tail_q(&s));
    s.data1 = 3;
    EXPECT_TRUE(string::ks_tail_q(&s));
    s.data1 = 8;  // another value sharing the buffer shortened it
    EXPECT_TRUE(string::ks_tail_q(&s));
    EXPECT_EQ(string::ks_length_q(&s), 0u);
    EXPECT_EQ(s.data1, 3u);
    s.data1 = 8;
    EXPECT_EQ(string::ks_head(&s), string::ks_tail_ptr(&s));
    EXPECT_EQ(s.data1, 3u);
    EXPECT_EQ(string::ks_length_all(&s), 3u);
    EXPECT_EQ(string::ks_abs_at(&s, 1), uint32_t('b'));
}

TEST_F(StringCore, FindCharCountsFromTheCursor) {
    for (uint32_t unit : {1u, 2u, 4u}) {
        kiv_value s = text("abcabc", unit);
        s.data1 = 1;
        EXPECT_EQ(string::ks_find_char(&s, 'a'), 2);
        EXPECT_EQ(string::ks_find_char(&s, 'b'), 0);
        EXPECT_EQ(string::ks_find_char(&s, 'z'), -1);
        EXPECT_EQ(string::ks_find_char(&s, 'A'), -1);  // exact units
    }
}

TEST_F(StringCore, ResetEmptiesAndNarrows) {
    kiv_value s = text(codepoints{'a', 0x1F600});
    s.data1 = 1;
    EXPECT_EQ(string::ks_reset(&s), &s);
    EXPECT_EQ(unit_of(&s), 1u);
    EXPECT_EQ(s.data1, 0u);
    EXPECT_EQ(string::ks_length_all(&s), 0u);
    string::append_char(string::buffer_of(&s), 'z');
    EXPECT_EQ(chars_of(&s), latin1("z"));
    EXPECT_EQ(unit_of(&s), 1u);
}

// Writers --------------------------------------------------------------------------

TEST_F(StringCore, AppendingWidensFrom128AndStoringFrom256) {
    const struct {
        codepoints before;
        uint32_t unit, cp;
        uint32_t append_unit, store_unit;
    } cases[] = {
        {latin1("ab"), 1, 0x41, 1, 1},      {latin1("ab"), 1, 0x7F, 1, 1},
        {latin1("ab"), 1, 0x80, 2, 1},      {latin1("ab"), 1, 0xE9, 2, 1},
        {latin1("ab"), 1, 0xFF, 2, 1},      {latin1("ab"), 1, 0x100, 2, 2},
        {latin1("ab"), 1, 0xFFFF, 2, 2},    {latin1("ab"), 1, 0x10000, 4, 4},
        {{0x100, 'a'}, 2, 0xFFFF, 2, 2},    {{0x100, 'a'}, 2, 0x10000, 4, 4},
        {{0x10FFFF, 'a'}, 4, 'z', 4, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cp);
        kiv_value s = text(c.before, c.unit);
        ASSERT_EQ(unit_of(&s), c.unit);
        series_buffer* b = string::append_char(string::buffer_of(&s), c.cp);
        EXPECT_EQ(b, string::buffer_of(&s));
        EXPECT_EQ(chars_of(&s), c.before + codepoints{c.cp});
        EXPECT_EQ(unit_of(&s), c.append_unit);

        // The three writers that store in place follow the other rule.
        kiv_value w = text(c.before + latin1("x"), c.unit);
        series_buffer* wb = string::buffer_of(&w);
        b = string::write_char(wb, wb->offset + c.before.size() * c.unit, c.cp);
        EXPECT_EQ(b, string::buffer_of(&w));
        EXPECT_EQ(chars_of(&w), c.before + codepoints{c.cp});
        EXPECT_EQ(unit_of(&w), c.store_unit);

        kiv_value o = text(c.before, c.unit);
        string::overwrite_char(string::buffer_of(&o), uint32_t(c.before.size()), c.cp);
        EXPECT_EQ(chars_of(&o), c.before + codepoints{c.cp});
        EXPECT_EQ(unit_of(&o), c.store_unit);

        kiv_value i = text(c.before, c.unit);
        string::insert_char(string::buffer_of(&i), 1, c.cp);
        EXPECT_EQ(chars_of(&i), (codepoints{c.before[0], c.cp} + codepoints(c.before.begin() + 1, c.before.end())));
        EXPECT_EQ(unit_of(&i), c.store_unit);
    }
}

TEST_F(StringCore, OverwriteInsideKeepsTheTail) {
    kiv_value s = text("abc");
    string::overwrite_char(string::buffer_of(&s), 1, 'X');
    EXPECT_EQ(chars_of(&s), latin1("aXc"));
    string::overwrite_char(string::buffer_of(&s), 3, 'd');  // at the length: appends
    EXPECT_EQ(chars_of(&s), latin1("aXcd"));
}

TEST_F(StringCore, WritersGrowFullBuffers) {
    kiv_value base = full_text();
    uint32_t n = string::ks_length_all(&base);
    codepoints as = codepoints(n, 'a');

    kiv_value s = full_text();
    string::overwrite_char(string::buffer_of(&s), n, 'z');
    EXPECT_EQ(chars_of(&s), as + latin1("z"));

    s = full_text();
    string::insert_char(string::buffer_of(&s), 0, 'z');
    EXPECT_EQ(chars_of(&s), latin1("z") + as);

    s = full_text();
    string::append_char(string::buffer_of(&s), 'z');
    EXPECT_EQ(chars_of(&s), as + latin1("z"));

    s = full_text();  // widening a full buffer makes room for the next unit
    string::insert_char(string::buffer_of(&s), n, 0x20AC);
    EXPECT_EQ(chars_of(&s), as + codepoints{0x20AC});
}

TEST_F(StringCore, RemoveUnits) {
    const struct {
        codepoints before;
        uint32_t index, count;
        codepoints after;
    } cases[] = {
        {latin1("abcdef"), 1, 2, latin1("adef")}, {latin1("abcdef"), 4, 10, latin1("abcd")},
        {latin1("abc"), 0, 3, {}},                {latin1("abc"), 3, 1, latin1("abc")},
        {latin1("abc"), 9, 1, latin1("abc")},     {{'a', 0x20AC, 'b'}, 1, 1, latin1("ab")},
        {{'a', 0x1F600, 'b', 'c'}, 0, 2, latin1("bc")},
    };
    for (const auto& c : cases) {
        kiv_value s = text(c.before);
        string::remove_units(&s, c.index, c.count);
        EXPECT_EQ(chars_of(&s), c.after);
    }
}

TEST_F(StringCore, TruncateTo) {
    const struct {
        const char* before;
        uint32_t n;
        const char* after;
    } cases[] = {{"abcdef", 3, "abc"}, {"abc", 0, ""}, {"abc", 3, "abc"}, {"abc", 5, "abc"}};
    for (const auto& c : cases) {
        kiv_value s = text(c.before);
        string::truncate_to(string::buffer_of(&s), c.n);
        EXPECT_EQ(chars_of(&s), latin1(c.after));
    }
}

TEST_F(StringCore, WidenToKeepsTheText) {
    const std::pair<uint32_t, uint32_t> cases[] = {{1, 2}, {1, 4}, {2, 4}};
    for (auto [from, to] : cases) {
        kiv_value s = text("widen me", from);
        series_buffer* b = string::widen_to(string::buffer_of(&s), from, to);
        EXPECT_EQ(b, string::buffer_of(&s));
        EXPECT_EQ(unit_of(&s), to);
        EXPECT_EQ(chars_of(&s), latin1("widen me"));
    }
}

TEST(StringCoreDeath, UnitFaultsAreRuntimeErrors) {
    kiv_value s = text("ab", 2);
    EXPECT_EXIT(string::widen_to(string::buffer_of(&s), 2, 1), testing::ExitedWithCode(101), "Runtime Error 101");
    kiv_value wide = text("ab", 4);
    EXPECT_EXIT(string::copy_widened(string::buffer_of(&wide), nullptr, 64, 4, 0, 0, 0, false),
                testing::ExitedWithCode(100), "Runtime Error 100");
}

TEST_F(StringCore, CopyWidenedIntoATarget) {
    const struct {
        uint32_t src_start, dst_start;
        int32_t length;
        codepoints after;
    } cases[] = {
        {0, 0, 0, latin1("abc")}, {1, 2, -1, latin1("XYbc")}, {1, 1, 1, latin1("Xb")}, {0, 2, 3, latin1("XYabc")},
    };
    for (const auto& c : cases) {
        kiv_value src = text("abc");
        kiv_value dst;
        string::make_at_unit(&dst, 8, 4);
        for (uint32_t cp : latin1("XY")) string::append_char(string::buffer_of(&dst), cp);
        series_buffer* b = string::copy_widened(string::buffer_of(&src), string::buffer_of(&dst), 0, 4,
                                                c.src_start, c.dst_start, c.length, false);
        EXPECT_EQ(b, string::buffer_of(&dst));
        EXPECT_EQ(chars_of(&dst), c.after);
        EXPECT_EQ(unit_of(&src), 1u);
    }
}

TEST_F(StringCore, CopyWidenedByExpansionAndWithKeptUnit) {
    kiv_value s = text(codepoints{'a', 0xE9, 'c'});
    ASSERT_EQ(unit_of(&s), 2u);
    series_buffer* b = string::copy_widened(string::buffer_of(&s), nullptr, 64, 4, 0, 0, 0, false);
    EXPECT_EQ(b, string::buffer_of(&s));
    EXPECT_EQ(unit_of(&s), 4u);
    EXPECT_EQ(chars_of(&s), (codepoints{'a', 0xE9, 'c'}));
    EXPECT_GE(b->size, 64u);

    kiv_value src = text("xyz");
    kiv_value dst;
    string::make_at_unit(&dst, 8, 2);
    b = string::copy_widened(string::buffer_of(&src), string::buffer_of(&dst), 0, 2, 0, 0, 0, true);
    EXPECT_EQ(b->tail, b->offset);  // the caller sets the tail and unit itself
    EXPECT_EQ(string::get_char(b->offset + 2, 2), uint32_t('y'));
}

TEST_F(StringCore, ExchangeRanges) {
    const struct {
        const char* before;
        uint32_t first, gap, second;
        const char* after;
    } cases[] = {
        {"abcXYZ", 3, 0, 3, "XYZabc"}, {"abXYZ", 2, 0, 3, "XYZab"}, {"abcdXY", 4, 0, 2, "XYabcd"},
        {"ab--XYZ", 2, 2, 3, "XYZ--ab"}, {"abc--X", 3, 2, 1, "X--abc"}, {"ab", 2, 0, 0, "ab"},
        {"a-b", 1, 1, 1, "b-a"},
    };
    for (const auto& c : cases) {
        std::string s = c.before;
        auto* p = reinterpret_cast<uint8_t*>(s.data());
        string::exchange_ranges(p, c.first, p + c.first + c.gap, c.second, c.gap);
        EXPECT_EQ(s, c.after) << c.before;
    }
    // Ranges longer than the scratch buffer.
    std::vector<uint8_t> big(70000, 'a');
    big.insert(big.end(), 3, '-');
    big.insert(big.end(), 80000, 'b');
    string::exchange_ranges(big.data(), 70000, big.data() + 70003, 80000, 3);
    std::vector<uint8_t> expected(80000, 'b');
    expected.insert(expected.end(), 3, '-');
    expected.insert(expected.end(), 70000, 'a');
    EXPECT_EQ(big, expected);
}

TEST_F(StringCore, MoveUnitsAcrossWidths) {
    kiv_value src = text(codepoints{'a', 'b', 0x20AC, 'c', 'd'});
    kiv_value dst = text("xyz");
    src.data1 = 1;
    dst.data1 = 1;
    series_buffer* b = string::move_units(&src, &dst, 2 * 2);
    EXPECT_EQ(b, string::buffer_of(&dst));
    EXPECT_EQ(chars_of(dst.data2), (codepoints{'x', 'b', 0x20AC, 'y', 'z'}));
    EXPECT_EQ(chars_of(src.data2), latin1("acd"));
}

// Concatenation --------------------------------------------------------------------

TEST_F(StringCore, ConcatenateModesAndWidths) {
    using string::APPEND;
    using string::INSERT;
    using string::OVERWRITE;
    const struct {
        codepoints target;
        uint32_t t_unit, t_head;
        codepoints source;
        uint32_t s_unit, s_head;
        int32_t part;
        uint32_t offset;
        bool keep;
        string::concat_mode mode;
        codepoints after;
        uint32_t t_unit_after, s_unit_after;
    } cases[] = {
        {latin1("ab"), 1, 0, latin1("cd"), 1, 0, -1, 0, false, APPEND, latin1("abcd"), 1, 1},
        {latin1("ab"), 1, 0, {0x1F600}, 4, 0, -1, 0, false, APPEND, {'a', 'b', 0x1F600}, 4, 4},
        {{0x1F600}, 4, 0, latin1("xy"), 1, 0, -1, 0, true, APPEND, {0x1F600, 'x', 'y'}, 4, 1},
        {{0x1F600}, 4, 0, latin1("xy"), 1, 0, -1, 0, false, APPEND, {0x1F600, 'x', 'y'}, 4, 4},
        {latin1("ab"), 1, 0, latin1("cdef"), 1, 0, 2, 0, false, APPEND, latin1("abcd"), 1, 1},
        {latin1("ab"), 1, 0, latin1("cdef"), 1, 0, 9, 0, false, APPEND, latin1("abcdef"), 1, 1},
        {latin1("ab"), 1, 0, latin1("cdef"), 1, 2, -1, 0, false, APPEND, latin1("abef"), 1, 1},
        {latin1("ab"), 1, 0, latin1(""), 1, 0, -1, 0, false, APPEND, latin1("ab"), 1, 1},
        {latin1("abcd"), 1, 1, latin1("XY"), 1, 0, -1, 1, false, INSERT, latin1("abXYcd"), 1, 1},
        {latin1("abcd"), 1, 0, latin1("XY"), 1, 0, -1, 9, false, INSERT, latin1("abcdXY"), 1, 1},
        {{0x20AC, 'b'}, 2, 0, latin1("xy"), 1, 0, -1, 1, true, INSERT, {0x20AC, 'x', 'y', 'b'}, 2, 1},
        {latin1("abcdef"), 1, 1, latin1("XY"), 1, 0, -1, 1, false, OVERWRITE, latin1("abXYef"), 1, 1},
        {latin1("abc"), 1, 2, latin1("XYZ"), 1, 0, -1, 0, false, OVERWRITE, latin1("abXYZ"), 1, 1},
        {latin1("abc"), 1, 1, {0x20AC}, 2, 0, -1, 0, true, OVERWRITE, {'a', 0x20AC, 'c'}, 2, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.after));
        kiv_value t = text(c.target, c.t_unit);
        kiv_value s = text(c.source, c.s_unit);
        t.data1 = c.t_head;
        s.data1 = c.s_head;
        series_buffer* b = string::concatenate(&t, &s, c.part, c.offset, c.keep, c.mode);
        EXPECT_EQ(b, string::buffer_of(&t));
        EXPECT_EQ(chars_of(t.data2), c.after);
        EXPECT_EQ(unit_of(&t), c.t_unit_after);
        EXPECT_EQ(unit_of(&s), c.s_unit_after);
        EXPECT_EQ(chars_of(&s), codepoints(c.source.begin() + c.s_head, c.source.end()));
    }
}

TEST_F(StringCore, ConcatenateASeriesIntoItself) {
    using string::APPEND;
    using string::INSERT;
    using string::OVERWRITE;
    const struct {
        const char* text;
        uint32_t t_head, s_head;
        string::concat_mode mode;
        const char* after;
    } cases[] = {
        {"abc", 0, 0, APPEND, "abcabc"},
        {"abc", 1, 0, INSERT, "aabcbc"},  // the source straddles the opening
        {"abc", 0, 2, INSERT, "cabc"},
        {"abc", 0, 0, INSERT, "abcabc"},
        {"abc", 3, 0, INSERT, "abcabc"},
        {"abcd", 1, 0, OVERWRITE, "aabcd"},
        {"abcd", 0, 1, OVERWRITE, "bcdd"},
    };
    for (const auto& c : cases) {
        kiv_value t = text(c.text);
        kiv_value s = t;
        t.data1 = c.t_head;
        s.data1 = c.s_head;
        string::concatenate(&t, &s, -1, 0, false, c.mode);
        EXPECT_EQ(chars_of(t.data2), latin1(c.after)) << c.after;
    }
}

TEST_F(StringCore, ConcatenateGrowsTheTarget) {
    kiv_value t = text("x");
    codepoints long_text(1000, 'q');
    kiv_value s = text(long_text);
    string::concatenate(&t, &s, -1, 0, false, string::APPEND);
    string::concatenate(&t, &s, -1, 0, false, string::APPEND);
    EXPECT_EQ(chars_of(&t), latin1("x") + long_text + long_text);
}

TEST_F(StringCore, ConcatenateLiteralsAndBytes) {
    const struct {
        codepoints before;
        uint32_t unit;
        const char* literal;
        codepoints after;
        uint32_t unit_after;
    } cases[] = {
        {latin1("ab"), 1, "cd", latin1("abcd"), 1},
        {latin1("ab"), 1, "\xE9x", {'a', 'b', 0xE9, 'x'}, 2},
        {{0x1F600}, 4, "ok", {0x1F600, 'o', 'k'}, 4},
        {{0x20AC}, 2, "\xFF", {0x20AC, 0xFF}, 2},
    };
    for (const auto& c : cases) {
        kiv_value s = text(c.before, c.unit);
        string::concatenate_literal(&s, c.literal);
        EXPECT_EQ(chars_of(&s), c.after);
        EXPECT_EQ(unit_of(&s), c.unit_after);
    }
    kiv_value s = text("ab");
    string::concatenate_bytes(&s, reinterpret_cast<const uint8_t*>("cdef"), 2);
    EXPECT_EQ(chars_of(&s), latin1("abcd"));
}

// Comparison and matching ----------------------------------------------------------

TEST_F(StringCore, CompareSeries) {
    using namespace string;
    const struct {
        codepoints a, b;
        int32_t op;
        bool match;
        int32_t result;
    } cases[] = {
        {latin1("abc"), latin1("ABC"), OP_EQUAL, false, 0},
        {latin1("abc"), latin1("ABC"), OP_STRICT_EQUAL, false, 1},
        {latin1("abc"), latin1("ABC"), OP_CASE_SORT, false, 1},
        {latin1("abc"), latin1("ABC"), OP_LESSER, false, 0},
        {latin1("ab"), latin1("abc"), OP_LESSER, false, -1},
        {latin1("ab"), latin1("abc"), OP_EQUAL, false, 1},
        {latin1("abc"), latin1("ab"), OP_GREATER, false, 1},
        {latin1("abd"), latin1("abc"), OP_LESSER, false, 1},
        {latin1("abc"), latin1("ABD"), OP_LESSER, false, -1},
        {latin1("b"), latin1("abc"), OP_LESSER, false, 1},
        {{}, {}, OP_EQUAL, false, 0},
        {{}, latin1("a"), OP_LESSER, false, -1},
        {latin1("a"), {}, OP_LESSER, false, 1},
        {latin1("a"), {}, OP_EQUAL, false, 1},
        {latin1("abcdef"), latin1("abc"), OP_FIND, true, 0},
        {latin1("abcdef"), latin1("ABC"), OP_FIND, true, 0},
        {latin1("abcdef"), latin1("ABC"), OP_STRICT_EQUAL, true, 1},
        {latin1("abcdef"), latin1("abd"), OP_FIND, true, -1},
        {latin1("abcdef"), {}, OP_FIND, true, 1},
        {latin1("abcdef"), {}, OP_EQUAL, true, 0},
        {latin1("ab"), latin1("abc"), OP_FIND, true, 1},
        {{0xE9, 'x'}, {0xC9, 'X'}, OP_EQUAL, false, 0},            // Latin-1 folds too
        {{0x1F600, 'a'}, {0x1F600, 'A'}, OP_EQUAL, false, 0},
        {{0x10428}, {0x10400}, OP_EQUAL, false, 0},                // beyond the BMP
        {{0x10428}, {0x10400}, OP_STRICT_EQUAL, false, 1},
    };
    for (const auto& c : cases) {
        for (uint32_t unit_b : {1u, 4u}) {  // each side is read in its own unit
            kiv_value a = text(c.a);
            kiv_value b = text(c.b, unit_b);
            EXPECT_EQ(string::compare_series(&a, &b, c.op, c.match), c.result)
                << testing::PrintToString(c.a) << " " << testing::PrintToString(c.b) << " op " << c.op;
        }
    }
}

TEST_F(StringCore, CompareSeriesOfOneValue) {
    kiv_value a = text("abc");
    kiv_value same = a;
    kiv_value other = text("abc");
    EXPECT_EQ(string::compare_series(&a, &same, string::OP_SAME, false), 0);
    EXPECT_EQ(string::compare_series(&a, &other, string::OP_SAME, false), -1);
    EXPECT_EQ(string::compare_series(&a, &other, string::OP_EQUAL, false), 0);
    same.data1 = 1;
    EXPECT_EQ(string::compare_series(&a, &same, string::OP_SAME, false), -1);
    EXPECT_EQ(string::compare_series(&a, &same, string::OP_LESSER, false), -1);  // abc < bc
}

TEST_F(StringCore, StartsWithAscii) {
    const struct {
        codepoints s;
        uint32_t head;
        const char* literal;
        bool result;
    } cases[] = {
        {latin1("hello"), 0, "he", true},  {latin1("hello"), 0, "hello", true},
        {latin1("he"), 0, "hello", false}, {latin1("hello"), 0, "", true},
        {latin1("Hello"), 0, "he", false}, {latin1("xhello"), 1, "hell", true},
        {{'a', 0x141}, 0, "aA", false},  // 0x141 is no byte, whatever its low bits
    };
    for (const auto& c : cases) {
        kiv_value s = text(c.s);
        s.data1 = c.head;
        EXPECT_EQ(string::starts_with_ascii_q(&s, c.literal), c.result) << c.literal;
    }
}

TEST_F(StringCore, ContainsChar) {
    const struct {
        const char* s;
        uint32_t head, cp, skip;
        bool case_sensitive, result;
    } cases[] = {
        {"abcdef", 0, 'c', 1, false, true}, {"abcdef", 0, 'C', 1, false, true},
        {"abcdef", 0, 'C', 1, true, false}, {"abcdef", 0, 'c', 2, false, true},
        {"abcdef", 0, 'd', 2, false, false}, {"abcdef", 1, 'a', 1, false, false},
        {"abcdef", 1, 'd', 2, false, true}, {"", 0, 'a', 1, false, false},
    };
    for (const auto& c : cases) {
        kiv_value s = text(c.s);
        s.data1 = c.head;
        EXPECT_EQ(string::contains_char_q(&s, c.cp, c.skip, c.case_sensitive), c.result)
            << c.s << " " << char(c.cp) << " skip " << c.skip;
    }
}

TEST_F(StringCore, AngleBracketed) {
    const struct {
        const char* s;
        uint32_t head;
        const char* tag;
        bool result;
    } cases[] = {
        {"<b>", 0, "b", true},   {"<b>rest", 0, "b", true}, {"<b", 0, "b", false},
        {"<bc>", 0, "b", false}, {"<ab>", 0, "ab", true},   {"x<b>", 0, "b", false},
        {"x<b>", 1, "b", true},  {"<>", 0, "", true},
    };
    for (const auto& c : cases) {
        kiv_value s = text(c.s);
        kiv_value tag = text(c.tag);
        s.data1 = c.head;
        EXPECT_EQ(string::angle_bracketed_q(&s, &tag), c.result) << c.s << " " << c.tag;
    }
}

TEST_F(StringCore, HexDigits) {
    const struct {
        int32_t value;
        bool shortest;
        const char* digits;
    } cases[] = {
        {30, true, "1E"},          {30, false, "0000001E"},  {0, true, "00"},
        {0, false, "00000000"},    {-1, false, "FFFFFFFF"},  {-1, true, "FFFFFFFF"},
        {0x1F600, true, "1F600"},  {150, true, "96"},        {INT_MIN, true, "80000000"},
        {0x7FFFFFFF, false, "7FFFFFFF"},
    };
    for (const auto& c : cases) EXPECT_STREQ(string::to_hex(c.value, c.shortest), c.digits);
    EXPECT_STREQ(string::byte_to_hex(0), "00");
    EXPECT_STREQ(string::byte_to_hex(0xAB), "AB");
    EXPECT_STREQ(string::byte_to_hex(0x0F), "0F");
}

// Loading ----------------------------------------------------------------------------

TEST_F(StringCore, LoadAtByEncoding) {
    const uint8_t utf8[] = {'a', 0xE2, 0x82, 0xAC};
    const uint8_t utf16[] = {'a', 0, 0xAC, 0x20};
    kiv_value slot{TYPE_INTEGER, 9, 9, 9};
    EXPECT_EQ(string::load_at(utf8, sizeof utf8, &slot, string::UTF8), &slot);
    EXPECT_EQ(slot.header, uint32_t(TYPE_STRING));
    EXPECT_EQ(slot.data1, 0u);
    EXPECT_EQ(chars_of(&slot), (codepoints{'a', 0x20AC}));

    kiv_value* top = stack::top;
    kiv_value* pushed = string::load(utf16, sizeof utf16, string::UTF16LE);
    EXPECT_EQ(pushed, top);
    EXPECT_EQ(chars_of(pushed), (codepoints{'a', 0x20AC}));
    EXPECT_TRUE(string::buffer_of(pushed)->flags & SERIES_UTF16);
}

TEST_F(StringCore, LoadAtWideningEarlyKeepsRoomForTheRest) {
    // The buffer is sized by the input's bytes; a wide character near the
    // start must not leave the rest of the text past its end.
    std::string text = "a\xCF\x83" + std::string(45, 'b') + "\xC3\x9F";
    kiv_value s;
    string::load_at(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), &s, string::UTF8);
    series_buffer* b = string::buffer_of(&s);
    EXPECT_LE(b->tail, end_of(b));
    EXPECT_EQ(chars_of(&s), (codepoints{'a', 0x3C3} + codepoints(45, 'b') + codepoints{0xDF}));
}

TEST_F(StringCore, LoadAtRefusesUnknownEncodingsAndOddUtf16) {
    const uint8_t data[] = {'a', 0, 'b'};
    for (int32_t encoding : {1, -2, 8}) {
        expect_raised(attempt([&] { string::load(data, 2, encoding); }), err::ACCESS, err::access::no_codec);
    }
    expect_raised(attempt([&] { string::load(data, 3, string::UTF16LE); }), err::SCRIPT,
                  err::script::invalid_data);
}
