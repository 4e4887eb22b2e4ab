// string!: conversion, form and mold, paths, comparison, search, editing,
// trim, set operations and the action row.
#include <algorithm>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/series.h"
#include "tests/unit/action_fixture.h"
#include "tests/unit/text_fixture.h"

using namespace kiv;
using namespace kiv::test;

using Strings = StackTest;

namespace {

// Refinement indexes of the actions' specs.
enum { F_PART, F_ONLY, F_CASE, F_SAME, F_ANY, F_WITH, F_SKIP, F_LAST, F_REVERSE, F_TAIL, F_MATCH };
enum { A_PART, A_ONLY, A_DUP };
enum { S_CASE, S_SKIP, S_COMPARE, S_PART, S_ALL, S_REVERSE, S_STABLE };
enum { T_PART, T_DEEP, T_LAST };
enum { TR_HEAD, TR_TAIL, TR_AUTO, TR_LINES, TR_ALL, TR_WITH };

// A call with refinements: flags are 1, a refinement with an argument
// points at the argument cell it adds after the fixed arguments.
struct refined {
    uint32_t slot;
    std::vector<kiv_value> args;
    std::vector<int32_t> refs = std::vector<int32_t>(12, -1);
    refined& flag(int i) {
        refs[size_t(i)] = 1;
        return *this;
    }
    refined& with(int i, const kiv_value& v) {
        refs[size_t(i)] = int32_t(args.size());
        args.push_back(v);
        return *this;
    }
    kiv_value run() const { return call(slot, args, refs); }
};

kiv_value at(kiv_value s, uint32_t head) {
    s.data1 = head;
    return s;
}

kiv_value u32(std::u32string_view s) { return text(codepoints(s.begin(), s.end())); }
codepoints cps(std::u32string_view s) { return codepoints(s.begin(), s.end()); }

kiv_value typed(kiv_value v, uint32_t type) {
    v.header = type;
    return v;
}

kiv_value ch(uint32_t cp) { return kiv_value{TYPE_CHAR, 0, cp, 0}; }

kiv_value bytes(std::initializer_list<uint8_t> list) {
    node_id n = memory::alloc_bytes(uint32_t(list.size()));
    series_buffer* b = series::buffer(n);
    for (uint8_t byte : list) *b->tail++ = byte;
    return kiv_value{TYPE_BINARY, 0, n, 0};
}

// The whole text of a string from its offset, whatever its cursor.
std::string all_of(const kiv_value& s) { return text_of(at(s, 0)); }

// The 1-based index of a series result, 0 for none.
uint32_t index_of(const kiv_value& v) { return type_of(&v) == TYPE_NONE ? 0 : v.data1 + 1; }

void expect_raises(err::category c, uint32_t id, const std::function<void()>& code) {
    stack::arguments = stack::top = stack::bottom;
    stack::ctop = stack::cbottom;
    stack::mark_try(nullptr);
    expect_error(raised(code), c, id);
}

}  // namespace

// Molding -------------------------------------------------------------------------

TEST_F(Strings, MoldChoosesQuotesOrBracesAndEscapes) {
    std::string fifty(50, 'a'), forty_nine(49, 'a');
    struct Case {
        std::string in, out;
    } cases[] = {
        {"abc", "\"abc\""},
        {"", "\"\""},
        {"a\nb", "\"a^/b\""},
        {"a\nb\nc", "\"a^/b^/c\""},
        {"a\nb\nc\nd", "{a^/b^/c^/d}"},
        {"a\"b", "{a\"b}"},
        {"a\tb", "\"a^-b\""},
        {"a^b", "\"a^^b\""},
        {"\"^", "{\"^^}"},
        {forty_nine, "\"" + forty_nine + "\""},
        {fifty, "{" + fifty + "}"},
        {"{a}", "\"{a}\""},
        {"}{", "\"}{\""},
        {std::string("\0", 1), "\"^@\""},
        {"\x1b\x1c\x1d\x1f", "\"^[^\\^]^_\""},
        {"\x1e", "\"^(1E)\""},
        {"\x7f", "\"^~\""},
        {"\x96", "\"^(96)\""},
        {"\x9f\xa0", "\"^(9F)\xa0\""},
        {"\xe9", "\"\xe9\""},
        {"~@", "\"~@\""},
    };
    for (const Case& c : cases) {
        kiv_value s;
        string::make_at(&s, 16);
        if (!c.in.empty())
            string::concatenate_bytes(&s, reinterpret_cast<const uint8_t*>(c.in.data()), uint32_t(c.in.size()));
        EXPECT_EQ(molded(s), c.out) << c.in;
    }
    EXPECT_EQ(molded(str("\xe9"), true), "\"^(E9)\"");
    EXPECT_EQ(molded(at(str("abc"), 1)), "\"bc\"");
}

TEST_F(Strings, MoldBalancesBracesInTheBraceForm) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"\"{a}", "{\"{a}}"},
        {"\"{a", "{\"^{a}"},
        {"\"}a", "{\"^}a}"},
        {"\"{a}{", "{\"{a}^{}"},
        {"\"}{", "{\"^}^{}"},
        {"\"{{a}}", "{\"{{a}}}"},
        {"\"{{a}", "{\"^{^{a^}}"},
        {"\"{a}}", "{\"{a}^}}"},
    };
    for (const Case& c : cases) EXPECT_EQ(molded(str(c.in)), c.out) << c.in;
}

TEST_F(Strings, MoldAndFormKeepWideCodePoints) {
    kiv_value s = u32(U"a\u4e00\U0001F600");
    kiv_value m = call(SLOT_MOLD, {s}, {-1, -1, -1, -1});
    EXPECT_EQ(chars_of(&m), cps(U"\"a\u4e00\U0001F600\""));
    kiv_value f = call(SLOT_FORM, {s}, {-1});
    EXPECT_EQ(chars_of(&f), cps(U"a\u4e00\U0001F600"));
    kiv_value all = call(SLOT_MOLD, {s}, {-1, 1, -1, -1});
    EXPECT_EQ(text_of(all), "\"a^(4E00)^(1F600)\"");
}

TEST_F(Strings, FormAndMoldSpendTheirBudget) {
    kiv_value s = str("abcdef");
    kiv_value out;
    string::make_at(&out, 16);
    EXPECT_EQ(string::form(&s, &out, nullptr, 10), 4);
    kiv_value three = int_value(3);
    EXPECT_EQ(string::form(&s, &out, &three, 10), 4);
    EXPECT_EQ(text_of(out), "abcdefabc");
    string::ks_reset(&out);
    EXPECT_EQ(string::mold(&s, &out, false, false, false, &three, 3, 0), -2);
    EXPECT_EQ(text_of(out), "\"abc\"");
    EXPECT_EQ(text_of(call(SLOT_MOLD, {s, int_value(3)}, {-1, -1, -1, 1})), "\"ab");
    EXPECT_EQ(text_of(call(SLOT_FORM, {s, int_value(2)}, {1})), "ab");
    kiv_value nested = block_of({str("ab"), str("c\"d")});
    EXPECT_EQ(molded(nested), "[\"ab\" {c\"d}]");
    EXPECT_EQ(formed(nested), "ab c\"d");
}

// Conversion --------------------------------------------------------------------

TEST_F(Strings, MakeGivesAnEmptyStringOfTheSize) {
    kiv_value s = call(SLOT_MAKE, {dtype(TYPE_STRING), int_value(100)});
    EXPECT_EQ(type_of(&s), uint32_t(TYPE_STRING));
    EXPECT_EQ(string::ks_length_all(&s), 0u);
    EXPECT_GE(string::buffer_of(&s)->size, 100u);
    EXPECT_EQ(text_of(call(SLOT_MAKE, {dtype(TYPE_STRING), flt(2.9)})), "");
    EXPECT_EQ(text_of(call(SLOT_MAKE, {dtype(TYPE_STRING), int_value(0)})), "");
    EXPECT_EQ(text_of(call(SLOT_MAKE, {dtype(TYPE_STRING), int_value(42)})), "");
    EXPECT_EQ(text_of(call(SLOT_MAKE, {str("proto"), str("abc")})), "abc");
    kiv_value file = *string::make(nullptr, &s, TYPE_FILE);
    EXPECT_EQ(type_of(&file), uint32_t(TYPE_FILE));
    expect_raises(err::SCRIPT, err::script::out_of_range,
                  [] { call(SLOT_MAKE, {dtype(TYPE_STRING), int_value(-1)}); });
    expect_raises(err::SCRIPT, err::script::out_of_range,
                  [] { call(SLOT_MAKE, {dtype(TYPE_STRING), flt(1e10)}); });
    kiv_value money{TYPE_MONEY, 0, 0, 0};
    expect_raises(err::SCRIPT, err::script::bad_make_arg, [&] { string::make(nullptr, &money, TYPE_BINARY); });
}

TEST_F(Strings, ToConvertsByTheValuesType) {
    struct Case {
        kiv_value spec;
        const char* out;
    } cases[] = {
        {int_value(123), "123"},
        {true_value, "true"},
        {ch('x'), "x"},
        {at(str("abc"), 1), "bc"},
        {typed(str("dir/f"), TYPE_FILE), "dir/f"},
        {typed(str("b"), TYPE_TAG), "b"},
        {block_of({word_of("a"), str("b"), ch('c'), int_value(1)}), "abc1"},
        {typed(block_of({int_value(1), int_value(2)}), TYPE_PAREN), "12"},
        {word_of("ref", TYPE_REFINEMENT), "ref"},
        {bytes({0x61, 0xC3, 0xA9}), "a\xe9"},
        {at(bytes({0x61, 0x62}), 1), "b"},
    };
    for (const Case& c : cases) {
        kiv_value r = call(SLOT_TO, {dtype(TYPE_STRING), c.spec});
        EXPECT_EQ(type_of(&r), uint32_t(TYPE_STRING));
        EXPECT_EQ(text_of(r), c.out) << c.out;
    }
    kiv_value refinement = word_of("ref", TYPE_REFINEMENT);
    kiv_value as_file = *string::to(nullptr, &refinement, TYPE_FILE);
    EXPECT_EQ(type_of(&as_file), uint32_t(TYPE_FILE));
    EXPECT_EQ(text_of(as_file), "/ref");

    kiv_value source = str("abc");
    kiv_value copy = call(SLOT_TO, {dtype(TYPE_STRING), source});
    call(SLOT_CLEAR, {source});
    EXPECT_EQ(text_of(copy), "abc");
    kiv_value wide = u32(U"\U0001F600z");
    kiv_value wide_copy = call(SLOT_TO, {dtype(TYPE_STRING), wide});
    EXPECT_EQ(chars_of(&wide_copy), cps(U"\U0001F600z"));

    expect_raises(err::SCRIPT, err::script::bad_to_arg, [] { call(SLOT_TO, {dtype(TYPE_STRING), none_value}); });
    kiv_value bad = bytes({0x61, 0xFF});
    expect_raises(err::ACCESS, err::access::invalid_utf8, [&] { call(SLOT_TO, {dtype(TYPE_STRING), bad}); });
}

// Paths and comparison ----------------------------------------------------------

TEST_F(Strings, PathsPickSelectAndSet) {
    kiv_value s = str("abc");
    EXPECT_EQ(call(SLOT_EVAL_PATH, {s, int_value(2)}, {0}).data2, uint32_t('b'));
    EXPECT_EQ(type_of_v(call(SLOT_EVAL_PATH, {s, int_value(4)}, {0})), uint32_t(TYPE_NONE));
    EXPECT_EQ(call(SLOT_EVAL_PATH, {s, ch('B')}, {0}).data2, uint32_t('c'));
    EXPECT_EQ(call(SLOT_EVAL_PATH, {str("key=v"), str("key=")}, {0}).data2, uint32_t('v'));
    EXPECT_EQ(type_of_v(call(SLOT_EVAL_PATH, {s, ch('c')}, {0})), uint32_t(TYPE_NONE));

    call(SLOT_EVAL_PATH, {s, int_value(1), ch('x')}, {1});
    EXPECT_EQ(text_of(s), "xbc");
    EXPECT_EQ(call(SLOT_EVAL_PATH, {s, ch('X'), ch('Y')}, {1}).data2, uint32_t('Y'));
    EXPECT_EQ(text_of(s), "xYc");

    kiv_value w = word_of("a");
    expect_raises(err::SCRIPT, err::script::invalid_path, [&] { call(SLOT_EVAL_PATH, {s, w}, {0}); });
    expect_raises(err::SCRIPT, err::script::bad_path_set, [&] { call(SLOT_EVAL_PATH, {s, ch('q'), ch('z')}, {1}); });
    expect_raises(err::SCRIPT, err::script::out_of_range, [&] { call(SLOT_EVAL_PATH, {s, ch('c'), ch('z')}, {1}); });
    expect_raises(err::SCRIPT, err::script::invalid_arg, [&] { call(SLOT_EVAL_PATH, {s, ch('x'), int_value(1)}, {1}); });
}

TEST_F(Strings, Comparison) {
    kiv_value abc = str("abc"), ABC = str("ABC"), ab = str("ab"), file = typed(str("abc"), TYPE_FILE);
    kiv_value one = int_value(1);
    struct Case {
        kiv_value* a;
        kiv_value* b;
        int32_t op;
        bool result;
    } cases[] = {
        {&abc, &ABC, COMP_EQUAL, true},         {&abc, &ABC, COMP_STRICT_EQUAL, false},
        {&abc, &ABC, COMP_NOT_EQUAL, false},    {&ab, &abc, COMP_LESSER, true},
        {&ab, &abc, COMP_EQUAL, false},         {&abc, &ab, COMP_GREATER_EQUAL, true},
        {&abc, &file, COMP_EQUAL, true},        {&abc, &file, COMP_NOT_EQUAL, false},
        {&abc, &file, COMP_STRICT_EQUAL, false}, {&abc, &one, COMP_EQUAL, false},
        {&abc, &abc, COMP_SAME, true},          {&abc, &ABC, COMP_SAME, false},
    };
    for (const Case& c : cases) EXPECT_EQ(actions::compare(c.a, c.b, c.op), c.result) << c.op;
    EXPECT_EQ(string::compare(&abc, &file, COMP_STRICT_EQUAL), COMPARE_INCOMPARABLE);
    EXPECT_EQ(string::compare(&abc, &file, COMP_LESSER), COMPARE_INCOMPARABLE);
    expect_raises(err::SCRIPT, err::script::invalid_compare, [&] { actions::compare(&abc, &file, COMP_LESSER); });
    expect_raises(err::SCRIPT, err::script::invalid_compare, [&] { actions::compare(&abc, &one, COMP_GREATER); });
}

// Editing -----------------------------------------------------------------------

TEST_F(Strings, AppendInsertAndChange) {
    kiv_value tag = typed(str("b"), TYPE_TAG);
    struct Case {
        refined call;
        const char* text;  // of the target, whole
        uint32_t index;    // of the result, 1-based
    } cases[] = {
        {{SLOT_APPEND, {str("ab"), str("cd")}}, "abcd", 1},
        {{SLOT_APPEND, {at(str("ab"), 1), ch('c')}}, "abc", 2},
        {{SLOT_APPEND, {str("ab"), block_of({int_value(1), str("x"), ch('y')})}}, "ab1xy", 1},
        {refined{SLOT_APPEND, {str("ab"), str("cdef")}}.with(A_PART, int_value(2)), "abcd", 1},
        {refined{SLOT_APPEND, {str("ab"), block_of({int_value(1), int_value(2), int_value(3)})}}.with(
             A_PART, int_value(2)),
         "ab12", 1},
        {refined{SLOT_APPEND, {str("a"), str("bc")}}.with(A_DUP, int_value(3)), "abcbcbc", 1},
        {refined{SLOT_APPEND, {str("a"), str("bc")}}.with(A_DUP, int_value(0)), "a", 1},
        {{SLOT_APPEND, {str("a"), int_value(12)}}, "a12", 1},
        {{SLOT_APPEND, {str("a"), tag}}, "a<b>", 1},
        {refined{SLOT_APPEND, {str("a"), typed(str("bcd"), TYPE_TAG)}}.with(A_PART, int_value(2)), "a<b", 1},
        {{SLOT_INSERT, {str("cd"), str("ab")}}, "abcd", 3},
        {{SLOT_INSERT, {at(str("ad"), 1), str("bc")}}, "abcd", 4},
        {{SLOT_INSERT, {at(str("ab"), 2), str("cd")}}, "abcd", 5},
        {{SLOT_INSERT, {at(str("ab"), 9), ch('c')}}, "abc", 4},
        {refined{SLOT_INSERT, {str("c"), str("ab")}}.with(A_DUP, int_value(2)), "ababc", 5},
        {refined{SLOT_INSERT, {str("c"), str("abc")}}.with(A_PART, int_value(1)), "ac", 2},
        {{SLOT_INSERT, {str("x"), int_value(42)}}, "42x", 3},
        {{SLOT_CHANGE, {str("abcd"), str("XY")}}, "XYcd", 3},
        {refined{SLOT_CHANGE, {str("abcd"), str("X")}}.with(A_PART, int_value(3)), "Xd", 2},
        {refined{SLOT_CHANGE, {str("abcd"), str("")}}.with(A_PART, int_value(2)), "cd", 1},
        {{SLOT_CHANGE, {str("ab"), str("XYZ")}}, "XYZ", 4},
        {{SLOT_CHANGE, {at(str("ab"), 2), str("c")}}, "abc", 4},
        {refined{SLOT_CHANGE, {str("abcd"), str("X")}}.with(A_DUP, int_value(2)), "XXcd", 3},
        {refined{SLOT_CHANGE, {str("abcd"), ch('X')}}.with(A_PART, int_value(10)), "X", 2},
    };
    for (const Case& c : cases) {
        kiv_value r = c.call.run();
        EXPECT_EQ(all_of(r), c.text) << c.text;
        EXPECT_EQ(r.data1 + 1, c.index) << c.text;
    }
}

TEST_F(Strings, InsertingAStringIntoItself) {
    kiv_value s = str("ab");
    kiv_value r = call(SLOT_INSERT, {s, s});
    EXPECT_EQ(all_of(r), "abab");
    EXPECT_EQ(r.data1, 2u);
    kiv_value t = str("abc");
    call(SLOT_APPEND, {t, at(t, 1)});
    EXPECT_EQ(text_of(t), "abcbc");
}

TEST_F(Strings, EditingWidensTheTarget) {
    kiv_value s = str("ab");
    call(SLOT_INSERT, {at(s, 1), ch(0x1F600)});
    EXPECT_EQ(unit_of(&s), 4u);
    EXPECT_EQ(chars_of(&s), cps(U"a\U0001F600b"));
    kiv_value t = str("xyz");
    call(SLOT_CHANGE, {at(t, 1), u32(U"\u4e00")});
    EXPECT_EQ(chars_of(&t), cps(U"x\u4e00z"));
    kiv_value wide = u32(U"\u4e00\u4e01");
    call(SLOT_APPEND, {wide, str("ab")});
    EXPECT_EQ(chars_of(&wide), cps(U"\u4e00\u4e01ab"));
}

TEST_F(Strings, AFailedEditLeavesTheTextAsItWas) {
    kiv_value s = str("ab");
    // The symbol! cell cannot be formed: the values before it are undone.
    kiv_value unformable = block_of({int_value(1), kiv_value{TYPE_SYMBOL, 0, 1, 0}});
    expect_raises(err::SCRIPT, err::script::expect_arg, [&] { call(SLOT_INSERT, {s, unformable}); });
    EXPECT_EQ(text_of(s), "ab");
    expect_raises(err::INTERNAL, err::internal::no_memory,
                  [&] { refined{SLOT_APPEND, {s, str("bc")}}.with(A_DUP, int_value(2000000000)).run(); });
    EXPECT_EQ(text_of(s), "ab");
}

TEST_F(Strings, SwapExchangesTheCodePointsAtTheCursors) {
    kiv_value a = str("abc"), b = str("xyz");
    call(SLOT_SWAP, {at(a, 1), b});
    EXPECT_EQ(text_of(a), "axc");
    EXPECT_EQ(text_of(b), "byz");
    call(SLOT_SWAP, {a, at(b, 3)});
    EXPECT_EQ(text_of(a), "axc");
    kiv_value wide = u32(U"\u4e00");
    call(SLOT_SWAP, {a, wide});
    EXPECT_EQ(chars_of(&a), cps(U"\u4e00xc"));
    EXPECT_EQ(chars_of(&wide), cps(U"a"));
    kiv_value same = str("ab");
    call(SLOT_SWAP, {same, at(same, 1)});
    EXPECT_EQ(text_of(same), "ba");
    expect_raises(err::SCRIPT, err::script::invalid_arg, [&] { call(SLOT_SWAP, {a, int_value(1)}); });
}

TEST_F(Strings, TakeGivesACharForOneUnit) {
    kiv_value one = call(SLOT_TAKE, {str("a")}, {-1, -1, -1});
    EXPECT_EQ(type_of(&one), uint32_t(TYPE_CHAR));
    EXPECT_EQ(one.data2, uint32_t('a'));
    kiv_value s = str("abc");
    kiv_value part = refined{SLOT_TAKE, {s}}.with(T_PART, int_value(1)).run();
    EXPECT_EQ(type_of(&part), uint32_t(TYPE_STRING));
    EXPECT_EQ(text_of(part), "a");
    kiv_value last = refined{SLOT_TAKE, {s}}.flag(T_LAST).run();
    EXPECT_EQ(last.data2, uint32_t('c'));
    EXPECT_EQ(text_of(s), "b");
    EXPECT_EQ(type_of_v(call(SLOT_TAKE, {str("")}, {-1, -1, -1})), uint32_t(TYPE_NONE));
    kiv_value t = str("abc");
    kiv_value two = refined{SLOT_TAKE, {t}}.with(T_PART, int_value(2)).flag(T_LAST).run();
    EXPECT_EQ(text_of(two), "bc");
    EXPECT_EQ(text_of(t), "a");
    kiv_value wide = u32(U"\U0001F600");
    EXPECT_EQ(call(SLOT_TAKE, {wide}, {-1, -1, -1}).data2, 0x1F600u);
}

// Trimming ----------------------------------------------------------------------

TEST_F(Strings, Trim) {
    struct Case {
        refined call;
        const char* text;
    } cases[] = {
        {{SLOT_TRIM, {str("  a b  ")}}, "a b"},
        {{SLOT_TRIM, {str("   ")}}, ""},
        {{SLOT_TRIM, {str("")}}, ""},
        {refined{SLOT_TRIM, {str("  a  ")}}.flag(TR_HEAD), "a  "},
        {refined{SLOT_TRIM, {str("  a  ")}}.flag(TR_TAIL), "  a"},
        {refined{SLOT_TRIM, {str(" \n a \n ")}}.flag(TR_HEAD).flag(TR_TAIL), "a"},
        {{SLOT_TRIM, {str("  a  \n   b  \n")}}, "a\nb\n"},
        {{SLOT_TRIM, {str(" a\n ")}}, "a\n"},
        {{SLOT_TRIM, {str("a\t \n\t b")}}, "a\nb"},
        {{SLOT_TRIM, {str("a \x01\n\x01 b")}}, "a \x01\n\x01 b"},
        {{SLOT_TRIM, {str("\x01" "a\x02")}}, "a"},
        {{SLOT_TRIM, {at(str("  a  "), 1)}}, " a"},
        {refined{SLOT_TRIM, {str("  a \n  b  ")}}.flag(TR_LINES), "a b"},
        {refined{SLOT_TRIM, {str("a\t\tb\r\nc ")}}.flag(TR_LINES), "a b c"},
        {refined{SLOT_TRIM, {str(" a\tb\nc\rd \x01")}}.flag(TR_ALL), "abcd\x01"},
        {refined{SLOT_TRIM, {str("a-b-c")}}.with(TR_WITH, str("-")), "abc"},
        {refined{SLOT_TRIM, {str("a-b+c")}}.with(TR_WITH, str("+-")), "abc"},
        {refined{SLOT_TRIM, {str("a-b-c")}}.with(TR_WITH, ch('-')), "abc"},
        {refined{SLOT_TRIM, {str("a-b-c")}}.with(TR_WITH, int_value('-')), "abc"},
        {refined{SLOT_TRIM, {str("a-b")}}.with(TR_WITH, str("")), "a-b"},
        {refined{SLOT_TRIM, {str("a-b")}}.with(TR_WITH, bytes({'-'})), "ab"},
        {refined{SLOT_TRIM, {at(str("--a-"), 1)}}.with(TR_WITH, ch('-')), "-a"},
    };
    for (const Case& c : cases) EXPECT_EQ(all_of(c.call.run()), c.text) << c.text;

    kiv_value spaced = u32(U"\u3000\u00a0a\u2003\u2028");
    call(SLOT_TRIM, {spaced}, {-1, -1, -1, -1, -1, -1});
    EXPECT_EQ(chars_of(&spaced), cps(U"a"));
    kiv_value inner = u32(U"a\u3000\n\u00a0b");
    call(SLOT_TRIM, {inner});
    EXPECT_EQ(chars_of(&inner), cps(U"a\nb"));

    kiv_value s = str(" a\n  b");
    refined{SLOT_TRIM, {s}}.flag(TR_AUTO).run();
    EXPECT_EQ(text_of(s), "a\n b");
}

// Searching ---------------------------------------------------------------------

TEST_F(Strings, Find) {
    kiv_value abcabc = str("abcabc");
    struct Case {
        refined call;
        uint32_t index;  // 1-based, 0 for none
    } cases[] = {
        {{SLOT_FIND, {abcabc, ch('B')}}, 2},
        {refined{SLOT_FIND, {abcabc, ch('B')}}.flag(F_CASE), 0},
        {refined{SLOT_FIND, {abcabc, ch('B')}}.flag(F_SAME), 0},
        {{SLOT_FIND, {abcabc, str("CA")}}, 3},
        {refined{SLOT_FIND, {abcabc, str("ab")}}.flag(F_LAST), 4},
        {refined{SLOT_FIND, {abcabc, str("b")}}.flag(F_TAIL), 3},
        {refined{SLOT_FIND, {abcabc, str("ab")}}.flag(F_MATCH), 1},
        {refined{SLOT_FIND, {abcabc, str("ab")}}.flag(F_MATCH).flag(F_TAIL), 3},
        {refined{SLOT_FIND, {abcabc, str("bc")}}.flag(F_MATCH), 0},
        {refined{SLOT_FIND, {at(abcabc, 6), ch('b')}}.flag(F_REVERSE), 5},
        {refined{SLOT_FIND, {at(abcabc, 4), str("bc")}}.flag(F_REVERSE), 2},
        {refined{SLOT_FIND, {at(abcabc, 5), str("bc")}}.flag(F_REVERSE), 2},
        {refined{SLOT_FIND, {abcabc, ch('a')}}.flag(F_REVERSE), 0},
        {refined{SLOT_FIND, {at(abcabc, 3), str("a")}}.flag(F_REVERSE).flag(F_MATCH), 0},
        {refined{SLOT_FIND, {abcabc, ch('c')}}.with(F_PART, int_value(2)), 0},
        {refined{SLOT_FIND, {abcabc, ch('c')}}.with(F_PART, int_value(3)), 3},
        {refined{SLOT_FIND, {abcabc, str("bc")}}.with(F_PART, int_value(2)), 0},
        {refined{SLOT_FIND, {abcabc, ch('c')}}.with(F_PART, at(abcabc, 3)), 3},
        {refined{SLOT_FIND, {abcabc, ch('a')}}.with(F_PART, int_value(0)), 0},
        {refined{SLOT_FIND, {abcabc, ch('a')}}.with(F_PART, int_value(3)).flag(F_LAST), 1},
        {refined{SLOT_FIND, {at(abcabc, 6), ch('a')}}.with(F_PART, int_value(3)).flag(F_REVERSE), 4},
        {refined{SLOT_FIND, {at(abcabc, 6), ch('a')}}.with(F_PART, int_value(2)).flag(F_REVERSE), 0},
        {refined{SLOT_FIND, {str("abcdef"), ch('c')}}.with(F_SKIP, int_value(2)), 3},
        {refined{SLOT_FIND, {str("abcdef"), ch('b')}}.with(F_SKIP, int_value(2)), 0},
        {refined{SLOT_FIND, {str("abcdef"), ch('c')}}.with(F_SKIP, int_value(2)).flag(F_LAST), 3},
        {refined{SLOT_FIND, {str("abcdef"), ch('f')}}.with(F_SKIP, int_value(2)).flag(F_LAST), 0},
        {refined{SLOT_FIND, {abcabc, ch('a')}}.with(F_SKIP, int_value(3)).flag(F_LAST), 4},
        {refined{SLOT_FIND, {at(str("abcdef"), 6), ch('d')}}.with(F_SKIP, int_value(2)).flag(F_REVERSE), 0},
        {refined{SLOT_FIND, {at(str("abcdef"), 6), ch('c')}}.with(F_SKIP, int_value(2)).flag(F_REVERSE), 3},
        {{SLOT_FIND, {abcabc, str("")}}, 0},
        {{SLOT_FIND, {at(abcabc, 6), ch('a')}}, 0},
        {{SLOT_FIND, {str(""), ch('a')}}, 0},
        {{SLOT_FIND, {str("a1b"), int_value(1)}}, 2},
        {{SLOT_FIND, {str("say Hello"), word_of("hello")}}, 5},
        {{SLOT_FIND, {abcabc, at(str("xbc"), 1)}}, 2},
        {{SLOT_FIND, {abcabc, typed(str("CA"), TYPE_FILE)}}, 3},
        {{SLOT_FIND, {abcabc, abcabc}}, 1},
    };
    for (size_t i = 0; i < std::size(cases); i++)
        EXPECT_EQ(index_of(cases[i].call.run()), cases[i].index) << "case " << i;

    kiv_value inside = at(str("abc"), 2);
    call(SLOT_CLEAR, {at(inside, 0)});
    EXPECT_EQ(type_of_v(call(SLOT_FIND, {inside, ch('a')})), uint32_t(TYPE_NONE));
    kiv_value found = call(SLOT_FIND, {abcabc, ch('c')});
    EXPECT_EQ(found.data2, abcabc.data2);
    EXPECT_EQ(type_of(&found), uint32_t(TYPE_STRING));
}

TEST_F(Strings, FindRefusals) {
    kiv_value s = str("abc");
    expect_raises(err::SCRIPT, err::script::out_of_range,
                  [&] { refined{SLOT_FIND, {s, ch('a')}}.with(F_SKIP, int_value(0)).run(); });
    expect_raises(err::SCRIPT, err::script::invalid_refine_arg,
                  [&] { refined{SLOT_FIND, {s, ch('a')}}.with(F_PART, str("ab")).run(); });
    kiv_value b = bytes({'a'});
    expect_raises(err::SCRIPT, err::script::invalid_arg, [&] { call(SLOT_FIND, {s, b}); });
}

// A bitset stands for a class of characters: one character matches, never
// case-folded, and code points past its bits take its complement flag.
TEST_F(Strings, FindWithACharacterClass) {
    kiv_value spec = str("-C");
    kiv_value bits = *bitset::make_from(&spec, bitset::MODE_MAKE);
    kiv_value others = call(SLOT_COMPLEMENT, {*bitset::make_from(&spec, bitset::MODE_MAKE)});
    struct Case {
        refined call;
        uint32_t index;  // 1-based, 0 for none
    } cases[] = {
        {{SLOT_FIND, {str("ab-Cd"), bits}}, 3},
        {refined{SLOT_FIND, {str("ab-Cd"), bits}}.flag(F_LAST), 4},
        {refined{SLOT_FIND, {str("ab-Cd"), bits}}.flag(F_TAIL), 4},
        {{SLOT_FIND, {str("abcd"), bits}}, 0},
        {{SLOT_FIND, {u32(U"C\u4e2d"), others}}, 2},
        {{SLOT_FIND, {u32(U"\u4e2d"), bits}}, 0},
        {{SLOT_FIND, {str(""), bits}}, 0},
    };
    for (size_t i = 0; i < std::size(cases); i++)
        EXPECT_EQ(index_of(cases[i].call.run()), cases[i].index) << "case " << i;
}

TEST_F(Strings, FindIgnoresCaseAcrossScripts) {
    struct Case {
        std::u32string_view text, pattern;
        int32_t first, last, exact;
    } cases[] = {
#define FIND_CASE(t, p, f, l, e) {t, p, f, l, e},
#include "tests/unit/string_case_cases.inc"
#undef FIND_CASE
    };
    for (const Case& c : cases) {
        kiv_value s = u32(c.text), p = u32(c.pattern);
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        EXPECT_EQ(int32_t(index_of(call(SLOT_FIND, {s, p}))) - 1, c.first);
        EXPECT_EQ(int32_t(index_of(refined{SLOT_FIND, {s, p}}.flag(F_LAST).run())) - 1, c.last);
        EXPECT_EQ(int32_t(index_of(refined{SLOT_FIND, {s, p}}.flag(F_CASE).run())) - 1, c.exact);
        if (c.pattern.size() == 1) {
            EXPECT_EQ(int32_t(index_of(call(SLOT_FIND, {s, ch(c.pattern[0])}))) - 1, c.first);
        }
    }
}

TEST_F(Strings, Select) {
    kiv_value s = str("abcabd");
    struct Case {
        refined call;
        uint32_t result;  // code point, 0 for none
    } cases[] = {
        {{SLOT_SELECT, {s, ch('b')}}, 'c'},
        {{SLOT_SELECT, {s, ch('B')}}, 'c'},
        {refined{SLOT_SELECT, {s, ch('B')}}.flag(F_CASE), 0},
        {refined{SLOT_SELECT, {s, ch('b')}}.flag(F_LAST), 'd'},
        {{SLOT_SELECT, {s, str("ab")}}, 'c'},
        {{SLOT_SELECT, {s, str("bd")}}, 0},
        {{SLOT_SELECT, {s, ch('d')}}, 0},
        {{SLOT_SELECT, {str("x y"), word_of("x")}}, ' '},
        {refined{SLOT_SELECT, {at(s, 6), ch('a')}}.flag(F_REVERSE), 'b'},
    };
    for (size_t i = 0; i < std::size(cases); i++) {
        kiv_value r = cases[i].call.run();
        if (cases[i].result == 0) {
            EXPECT_EQ(type_of(&r), uint32_t(TYPE_NONE)) << "case " << i;
        } else {
            EXPECT_EQ(type_of(&r), uint32_t(TYPE_CHAR)) << "case " << i;
            EXPECT_EQ(r.data2, cases[i].result) << "case " << i;
        }
    }
}

TEST_F(Strings, SortChecksItsRefinements) {
    kiv_value s = str("dcba");
    struct Case {
        refined call;
        err::category category;
        uint32_t id;
    } cases[] = {
        {refined{SLOT_SORT, {s}}.with(S_SKIP, int_value(3)), err::SCRIPT, err::script::invalid_refine_arg},
        {refined{SLOT_SORT, {s}}.with(S_SKIP, int_value(0)), err::SCRIPT, err::script::invalid_refine_arg},
        {refined{SLOT_SORT, {s}}.with(S_SKIP, int_value(8)), err::SCRIPT, err::script::invalid_refine_arg},
        {refined{SLOT_SORT, {s}}.flag(S_ALL), err::SCRIPT, err::script::bad_refines},
        {refined{SLOT_SORT, {s}}.with(S_COMPARE, int_value(1)), err::SCRIPT, err::script::bad_refines},
        {refined{SLOT_SORT, {s}}.with(S_SKIP, int_value(2)).with(S_COMPARE, int_value(3)), err::SCRIPT,
         err::script::out_of_range},
        {refined{SLOT_SORT, {s}}.with(S_SKIP, int_value(2)).with(S_COMPARE, int_value(1)).flag(S_ALL),
         err::SCRIPT, err::script::bad_refines},
        {refined{SLOT_SORT, {s}}.with(S_COMPARE, str("x")), err::SCRIPT, err::script::invalid_refine_arg},
        {refined{SLOT_SORT, {s}}.with(S_PART, str("x")), err::SCRIPT, err::script::invalid_refine_arg},
    };
    for (const Case& c : cases) expect_raises(c.category, c.id, [&] { c.call.run(); });
    EXPECT_EQ(text_of(s), "dcba");
    kiv_value empty = call(SLOT_SORT, {at(s, 4)});
    EXPECT_EQ(empty.data1, 4u);
    kiv_value before = refined{SLOT_SORT, {at(s, 1)}}.with(S_PART, int_value(-3)).run();
    EXPECT_EQ(before.data1, 0u);  // it would pass the start: nothing to sort
}

TEST_F(Strings, SortOrdersUnitsAndRecords) {
    kiv_value s = str("dBca");
    call(SLOT_SORT, {s});
    EXPECT_EQ(text_of(s), "aBcd");
    kiv_value cased = str("dBca");
    refined{SLOT_SORT, {cased}}.flag(S_CASE).run();
    EXPECT_EQ(text_of(cased), "Bacd");
    kiv_value records = str("b2a1c3");
    refined{SLOT_SORT, {records}}.with(S_SKIP, int_value(2)).run();
    EXPECT_EQ(text_of(records), "a1b2c3");
    kiv_value by_column = str("a3b1c2");
    refined{SLOT_SORT, {by_column}}.with(S_SKIP, int_value(2)).with(S_COMPARE, int_value(2)).run();
    EXPECT_EQ(text_of(by_column), "b1c2a3");
    kiv_value reversed = str("abc");
    refined{SLOT_SORT, {reversed}}.flag(S_REVERSE).run();
    EXPECT_EQ(text_of(reversed), "cba");
}

// Set operations ----------------------------------------------------------------

TEST_F(Strings, SetOperations) {
    kiv_value two = int_value(2);
    struct Case {
        int32_t op;
        kiv_value a, b;
        bool case_;
        kiv_value* skip;
        const char* result;
    } cases[] = {
        {OP_UNIQUE, str("abcabc"), str(""), false, nullptr, "abc"},
        {OP_UNIQUE, str("aAbB"), str(""), false, nullptr, "ab"},
        {OP_UNIQUE, str("aAbB"), str(""), true, nullptr, "aAbB"},
        {OP_UNIQUE, at(str("xaa"), 1), str(""), false, nullptr, "a"},
        {OP_UNION, str("abc"), str("bcd"), false, nullptr, "abcd"},
        {OP_UNION, str("aa"), str("AB"), false, nullptr, "aB"},
        {OP_INTERSECT, str("abcd"), str("bdx"), false, nullptr, "bd"},
        {OP_INTERSECT, str("abcb"), str("B"), false, nullptr, "b"},
        {OP_INTERSECT, str("abcb"), str("B"), true, nullptr, ""},
        {OP_EXCLUDE, str("abcd"), str("bd"), false, nullptr, "ac"},
        {OP_DIFFERENCE, str("abc"), str("bcd"), false, nullptr, "ad"},
        {OP_DIFFERENCE, str("abc"), str("abc"), false, nullptr, ""},
        {OP_UNIQUE, str("aXbYaZ"), str(""), false, &two, "aXbY"},
        {OP_UNION, str("aXbY"), str("bZcW"), false, &two, "aXbYcW"},
        {OP_INTERSECT, str("aXbYcZ"), str("cQaQ"), false, &two, "aXcZ"},
        {OP_EXCLUDE, str("aXbYcZ"), str("bX"), false, &two, "aXcZ"},
        {OP_UNIQUE, str("aXa"), str(""), false, &two, "aX"},
    };
    for (Case& c : cases) {
        kiv_value first = c.a;
        string::do_set_op(c.op, &first, &c.b, c.case_, c.skip);
        EXPECT_EQ(text_of(first), c.result) << c.op << " " << c.result;
        EXPECT_EQ(first.data1, 0u);
    }
    kiv_value file = typed(str("aa"), TYPE_FILE), none_left = str("");
    string::do_set_op(OP_UNIQUE, &file, &none_left, false, nullptr);
    EXPECT_EQ(type_of(&file), uint32_t(TYPE_FILE));
    EXPECT_EQ(text_of(file), "a");
    kiv_value wide = u32(U"\U00010428\U00010400a"), other = str("");
    string::do_set_op(OP_UNIQUE, &wide, &other, false, nullptr);
    EXPECT_EQ(chars_of(&wide), cps(U"\U00010428a"));

    kiv_value a = str("ab"), b = str("b"), zero = int_value(0);
    expect_raises(err::SCRIPT, err::script::invalid_refine_arg, [&] { string::do_set_op(OP_UNION, &a, &b, false, &zero); });
    EXPECT_EQ(text_of(a), "ab");
}

TEST_F(Strings, UniqueIgnoresCaseAcrossScripts) {
    struct Case {
        std::u32string_view text, kept;
    } cases[] = {
#define UNIQUE_CASE(t, k) {t, k},
#include "tests/unit/string_case_cases.inc"
#undef UNIQUE_CASE
    };
    for (const Case& c : cases) {
        kiv_value s = u32(c.text), empty = str("");
        string::do_set_op(OP_UNIQUE, &s, &empty, false, nullptr);
        EXPECT_EQ(chars_of(&s), cps(c.kept)) << "case " << (&c - cases);
        kiv_value exact = u32(c.text);
        string::do_set_op(OP_UNIQUE, &exact, &empty, true, nullptr);
        codepoints distinct;
        for (char32_t cp : c.text)
            if (std::find(distinct.begin(), distinct.end(), uint32_t(cp)) == distinct.end()) distinct.push_back(cp);
        EXPECT_EQ(chars_of(&exact), distinct);
    }
}

// Loading and the row -------------------------------------------------------------

TEST_F(Strings, LoadingIntoABlockAndRefusedEncodings) {
    kiv_value blk = block_of({});
    const uint8_t utf8[] = {'a', 0xC3, 0xA9};
    kiv_value* loaded = string::load_in(utf8, 3, &blk, string::UTF8);
    EXPECT_EQ(loaded, block::cells(&blk));
    EXPECT_EQ(length_of(blk), 1u);
    EXPECT_EQ(text_of(*loaded), "a\xe9");
    const uint8_t utf16[] = {'h', 0, 'i', 0};
    EXPECT_EQ(text_of(*string::load_in(utf16, 4, &blk, string::UTF16LE)), "hi");
    expect_raises(err::ACCESS, err::access::no_codec, [&] { string::load_in(utf8, 3, &blk, 7); });
    EXPECT_EQ(length_of(blk), 2u);
}

TEST_F(Strings, TheRowInheritsTheSeriesActions) {
    kiv_value s = str("abc");
    EXPECT_EQ(int_of(call(SLOT_LENGTH_Q, {s})), 3);
    EXPECT_EQ(call(SLOT_PICK, {s, int_value(2)}).data2, uint32_t('b'));
    EXPECT_EQ(call(SLOT_NEXT, {s}).data1, 1u);
    EXPECT_EQ(text_of(call(SLOT_COPY, {at(s, 1)}, {-1, -1, -1})), "bc");
    call(SLOT_REVERSE, {s}, {-1, -1});
    EXPECT_EQ(text_of(s), "cba");
    expect_raises(err::SCRIPT, err::script::expect_arg, [&] { call(SLOT_ADD, {s, int_value(1)}); });
    expect_raises(err::SCRIPT, err::script::expect_arg, [&] { call(SLOT_PUT, {s, ch('a'), ch('b')}, {-1}); });
}
