// The lexer: source text to values, the scanning modes, events and syntax
// errors.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/evaluator/lexer.h"
#include "tests/unit/action_fixture.h"

using namespace kiv;
using namespace kiv::test;
using namespace std::string_literals;

namespace {

const uint8_t* bytes(const std::string& text) { return reinterpret_cast<const uint8_t*>(text.data()); }

// Every value of the text, as a block.
kiv_value load(const std::string& text) {
    kiv_value out = unset_value;
    lexer::scan(&out, bytes(text), uint32_t(text.size()), false, false, false, nullptr, nullptr,
                nullptr, nullptr);
    return out;
}

std::string loads(const std::string& text) { return molded(load(text)); }

// The type a scan reports in each mode.
int32_t prescan(const std::string& text) {
    kiv_value out = unset_value;
    return lexer::scan(&out, bytes(text), uint32_t(text.size()), false, true, false, nullptr,
                       nullptr, nullptr, nullptr);
}
int32_t check(const std::string& text) {
    kiv_value out = unset_value;
    return lexer::scan(&out, bytes(text), uint32_t(text.size()), true, false, true, nullptr,
                       nullptr, nullptr, nullptr);
}

// Starts from empty stacks with a try frame to catch errors in.
void catching() {
    stack::arguments = stack::top = stack::bottom;
    stack::ctop = stack::cbottom;
    stack::mark_try(nullptr);
}

// The error the text raises when loaded.
kiv_value load_error(const std::string& text) {
    catching();
    return raised([&] { load(text); });
}

// The code points of a string-like cell.
std::u32string chars_of(const kiv_value& s) {
    series_buffer* b = series::buffer(s.data2);
    uint32_t unit = unit_of(b);
    std::u32string out;
    for (uint8_t* p = b->offset + size_t(s.data1) * unit; p < b->tail; p += unit)
        out += char32_t(string::get_char(p, unit));
    return out;
}

kiv_value first_of(const kiv_value& blk) { return cells_of(blk)[0]; }

class Lexer : public StackTest {};

}  // namespace

TEST_F(Lexer, LoadsValuesOfEveryLoadedClass) {
    struct Case {
        const char* text;
        const char* molded;
    } cases[] = {
        {"", "[]"},
        {"   \t\r\n ", "[]"},
        {"a b c", "[a b c]"},
        {"a: :a 'a", "[a: :a 'a]"},
        {"/ // /a /1", "[/ // /a /1]"},
        {"'/ :/ /:", "['/ :/ /:]"},
        {"+ - * < <= <> << <- > >= = == % %%", "[+ - * < <= <> << <- > >= = == % %%]"},
        {"#abc #a-b", "[#abc #a-b]"},
        {"123 -45 +6 007 1'000'000 1'", "[123 -45 6 7 1000000 1]"},
        {"2147483647 -2147483648", "[2147483647 -2147483648]"},
        {"2147483648 -2147483649 12345678901 00000000001",
         "[2147483648.0 -2147483649.0 12345678901.0 1.0]"},
        {"1.5 .5 +.5 1e10 1E5 -1.5e-3 1'000.5 1. 0.1", "[1.5 0.5 0.5 10000000000.0 100000.0 -0.0015 1000.5 1.0 0.1]"},
        {"1.#INF -1.#inf 1.#NaN", "[1.#INF -1.#INF 1.#NaN]"},
        {"0FFh FFFFFFFFh 12h 0Ah ABCDEFh", "[255 -1 18 10 11259375]"},
        {"#(true) #(FALSE) #(none) #(integer!) #(Block!)", "[true false none integer! block!]"},
        {"FF E1 Ab", "[FF E1 Ab]"},
        {"10:30 -1:30 4:30.5 1:2:60 +0:0", "[10:30:00 -1:30:00 0:04:30.5 1:03:00 0:00:00]"},
        {"1x2 -1x-2 +3X4 1'000x0 2147483647x-2147483648", "[1x2 -1x-2 3x4 1000x0 2147483647x-2147483648]"},
        {"12% 12.5% .5% -0.25% 1'000% 0%", "[12% 12.5% 0.5% -0.25% 1000% 0%]"},
        {"%file %\"a b\" %a%20b %\"^^^(22)\" %\"\" %a/%41%2f", "[%file %\"a b\" %\"a b\" %\"^^^(22)\" %\"\" %a/A/]"},
        {"http://x.org/a%20b mailto:x ftp://h/%e9", "[http://x.org/a%20b mailto:x ftp://h/%C3%A9]"},
    };
    for (const Case& c : cases) EXPECT_EQ(loads(c.text), c.molded) << c.text;
}

TEST_F(Lexer, NestingPathsAndNewLines) {
    struct Case {
        const char* text;
        const char* molded;
    } cases[] = {
        {"[a [b (c)]] d", "[[a [b (c)]] d]"},
        {"[] () [[]]", "[[] () [[]]]"},
        {"(1 + 2)", "[(1 + 2)]"},
        {"a/b/c 'a/b :a/b a/b: 1", "[a/b/c 'a/b :a/b a/b: 1]"},
        {"a/(b c)/1 a/:b a/'b", "[a/(b c)/1 a/:b a/'b]"},
        {"[a/b] (a/b)", "[[a/b] (a/b)]"},
        {"a/b(c)", "[a/b (c)]"},
        {"a/b:", "[a/b:]"},
        {"a/(b/c)/d", "[a/(b/c)/d]"},
        {"a\nb", "[a\nb]"},
        {"[a\n b]", "[[a\nb]]"},
        {"a ; a comment\nb", "[a\nb]"},
        {"a ;comment at the end", "[a]"},
    };
    for (const Case& c : cases) EXPECT_EQ(loads(c.text), c.molded) << c.text;
}

TEST_F(Lexer, NewLineMarkerFollowsLineFeedsBeforeAValue) {
    kiv_value blk = load("a\n\nb c\n[d]");
    kiv_value* v = cells_of(blk);
    ASSERT_EQ(length_of(blk), 4u);
    EXPECT_FALSE(v[0].header & FLAG_NEW_LINE);
    EXPECT_TRUE(v[1].header & FLAG_NEW_LINE);
    EXPECT_FALSE(v[2].header & FLAG_NEW_LINE);
    EXPECT_TRUE(v[3].header & FLAG_NEW_LINE);
    EXPECT_EQ(type_of(&v[3]), uint32_t(TYPE_BLOCK));
    // Line feeds inside a token do not mark the value after it.
    blk = load("{a\nb} c");
    EXPECT_FALSE(cells_of(blk)[1].header & FLAG_NEW_LINE);
    // A multi-line string after a line break is marked.
    blk = load("x\n{a}");
    EXPECT_TRUE(cells_of(blk)[1].header & FLAG_NEW_LINE);
}

TEST_F(Lexer, NulEndsTheInput) {
    std::string text("a \0 b", 5);
    EXPECT_EQ(loads(text), "[a]");
}

TEST_F(Lexer, WordsAreBoundGlobalWords) {
    kiv_value blk = load("alpha: beta 'gamma :delta /eps #zeta");
    kiv_value* v = cells_of(blk);
    const uint32_t types[] = {TYPE_SET_WORD, TYPE_WORD, TYPE_LIT_WORD, TYPE_GET_WORD, TYPE_REFINEMENT, TYPE_ISSUE};
    const char* names[] = {"alpha", "beta", "gamma", "delta", "eps", "zeta"};
    for (int i = 0; i < 6; i++) {
        EXPECT_EQ(type_of(&v[i]), types[i]) << names[i];
        EXPECT_STREQ(symbol::name_of(word::symbol_of(&v[i])), names[i]);
        EXPECT_EQ(v[i].data1, _context::global) << names[i];
    }
    EXPECT_EQ(int32_t(v[1].data3), _context::find_word(_context::global, word::symbol_of(&v[1]), true));
}

TEST_F(Lexer, Strings) {
    struct Case {
        const char* text;
        std::u32string value;
        uint32_t unit;
    } cases[] = {
        {"\"abc\"", U"abc", 1},
        {"\"\"", U"", 1},
        {"\"a^\"b^/c^-d^^e^@f^~\"", U"a\"b\nc\td^e\0f\x7F"s, 1},
        {"\"^a^Z^[^_^{^}\"", U"\x01\x1A\x1B\x1F{}", 1},
        {"\"^(tab)^(TAB)^(line)^(null)^(back)^(page)^(esc)^(del)\"", U"\t\t\n\0\b\f\x1B\x7F"s, 1},
        {"\"^(41)^(e9)\"", U"A\u00E9", 1},
        {"\"^(3A9)\"", U"\u03A9", 2},
        {"\"^(0041)\"", U"A", 2},
        {"\"^(1F600)\"", U"\U0001F600", 4},
        {"\"^é^!\"", U"\u00E9!", 2},
        {"\"été\"", U"\u00E9t\u00E9", 2},
        {"\"日本\"", U"\u65E5\u672C", 2},
        {"\"😀\"", U"\U0001F600", 4},
        {"\"a\tb\"", U"a\tb", 1},
        {"{a {b} c}", U"a {b} c", 1},
        {"{a^}b^{c}", U"a}b{c", 1},
        {"{line 1\nline 2}", U"line 1\nline 2", 1},
        {"{é}", U"\u00E9", 2},
        {"%{a}%", U"a", 1},
        {"%{a^b}b}%", U"a^b}b", 1},
        {"%%{a}% b}%%", U"a}% b", 1},
        {"%%{x}%%", U"x", 1},
        {"%{é}%", U"\u00E9", 2},
    };
    for (const Case& c : cases) {
        kiv_value blk = load(c.text);
        ASSERT_EQ(length_of(blk), 1u) << c.text;
        kiv_value s = first_of(blk);
        EXPECT_EQ(type_of(&s), uint32_t(TYPE_STRING)) << c.text;
        EXPECT_EQ(chars_of(s), c.value) << c.text;
        EXPECT_EQ(unit_of(series::buffer(s.data2)), c.unit) << c.text;
    }
}

TEST_F(Lexer, Chars) {
    struct Case {
        const char* text;
        uint32_t code;
    } cases[] = {
        {"#\"a\"", 'a'},       {"#\"^(tab)\"", 9},         {"#\"^(1F600)\"", 0x1F600},
        {"#\"é\"", 0xE9},      {"#\"^\"\"", '"'},          {"#\"^/\"", '\n'},
        {"#\"^(10FFFF)\"", 0x10FFFF}, {"#\"^A\"", 1},     {"#\" \"", ' '},
    };
    for (const Case& c : cases) {
        kiv_value v = first_of(load(c.text));
        EXPECT_EQ(type_of(&v), uint32_t(TYPE_CHAR)) << c.text;
        EXPECT_EQ(v.data2, c.code) << c.text;
    }
    kiv_value blk = load("x #\"a\" y");
    EXPECT_EQ(length_of(blk), 3u);
}

TEST_F(Lexer, UnicodeBlanksEndWords) {
    EXPECT_EQ(loads("a\u3000"), "[a]");
    EXPECT_EQ(loads("\u3000"), "[]");
    EXPECT_EQ(loads("\u3000\u00A0 "), "[]");
    EXPECT_EQ(loads("a\u3000b"), "[a b]");
    EXPECT_EQ(loads("\u00A0a"), "[a]");
    EXPECT_EQ(loads("[a\u2028]"), "[[a]]");
    kiv_value blk = load("été über");
    ASSERT_EQ(length_of(blk), 2u);
    EXPECT_STREQ(symbol::name_of(word::symbol_of(cells_of(blk))), "été");
    EXPECT_STREQ(symbol::name_of(word::symbol_of(cells_of(blk) + 1)), "über");
}

TEST_F(Lexer, SyntaxErrorsNameTheLineAndTheText) {
    struct Case {
        const char* text;
        uint32_t id;
        uint32_t type;  // the datatype of `invalid`, the delimiter of `missing`
        int32_t line;
        const char* shown;
    } cases[] = {
        {"[a", err::syntax::missing, ']', 1, "[a"},
        {"a]", err::syntax::missing, '[', 1, "]"},
        {"(a]", err::syntax::missing, ')', 1, "]"},
        {"[a)", err::syntax::missing, ']', 1, ")"},
        {")", err::syntax::missing, '(', 1, ")"},
        {"#[a 1", err::syntax::missing, ']', 1, "#[a 1"},
        {"#[a 1)", err::syntax::missing, ']', 1, ")"},
        {"a\n  b\n    ]", err::syntax::missing, '[', 3, "]"},
        {"[a\nb\nc", err::syntax::missing, ']', 3, "[a"},
        {"12a", err::syntax::invalid, TYPE_INTEGER, 1, "12a"},
        {"1''0", err::syntax::invalid, TYPE_INTEGER, 1, "1''0"},
        {"1h", err::syntax::invalid, TYPE_INTEGER, 1, "1h"},
        {"123456789h", err::syntax::invalid, TYPE_INTEGER, 1, "123456789h"},
        {"Ah", err::syntax::invalid, TYPE_WORD, 1, "Ah"},
        {"1.#ABC", err::syntax::invalid, TYPE_FLOAT, 1, "1.#ABC"},
        {"1.e5", err::syntax::invalid, TYPE_FLOAT, 1, "1.e5"},
        {"1, 2", err::syntax::invalid, TYPE_POINT2D, 1, ", 2"},
        {"[1, 2]", err::syntax::invalid, TYPE_POINT2D, 1, ", 2]"},
        {"}", err::syntax::bad_char, 0, 1, "}"},
        {"a \\b", err::syntax::bad_char, 0, 1, "\\b"},
        {"#(foo)", err::syntax::malconstruct, 0, 1, "#(foo)"},
        {"#(true )", err::syntax::malconstruct, 0, 1, "#(true )"},
        {"\"abc", err::syntax::invalid, TYPE_STRING, 1, "\"abc"},
        {"a\n\n\"abc\ndef", err::syntax::invalid, TYPE_STRING, 3, "\"abc"},
        {"\"a^(zz)\"", err::syntax::invalid, TYPE_STRING, 1, "\"a^(zz)\""},
        {"\"^(1234567)\"", err::syntax::invalid, TYPE_STRING, 1, "\"^(1234567)\""},
        {"\"^(110000)\"", err::syntax::invalid, TYPE_STRING, 1, "\"^(110000)\""},
        {"{abc", err::syntax::invalid, TYPE_STRING, 1, "{abc"},
        {"{", err::syntax::invalid, TYPE_STRING, 1, "{"},
        {"{{a}", err::syntax::invalid, TYPE_STRING, 1, "{{a}"},
        {"x {a\nb\nc", err::syntax::invalid, TYPE_STRING, 3, "{a"},
        {"%{a}%%", err::syntax::invalid, TYPE_STRING, 1, "%{a}%%"},
        {"%%{a}% b", err::syntax::invalid, TYPE_STRING, 1, "%%{a}% b"},
        {"#\"\"", err::syntax::invalid, TYPE_CHAR, 1, "#\"\""},
        {"#\"ab\"", err::syntax::invalid, TYPE_CHAR, 1, "#\"ab\""},
        {"#\"^(110000)\"", err::syntax::invalid, TYPE_CHAR, 1, "#\"^(110000)\""},
        {"a/", err::syntax::invalid, TYPE_PATH, 1, "a/"},
        {"a/b/", err::syntax::invalid, TYPE_PATH, 1, "/"},
        {"a/b:/c", err::syntax::invalid, TYPE_PATH, 1, ":/c"},
        {"a/\"b\"1", err::syntax::invalid, TYPE_PATH, 1, "1"},
        {"a/ b", err::syntax::invalid, TYPE_PATH, 1, " b"},
        {":a:", err::syntax::invalid, TYPE_WORD, 1, ":a:"},
        {"'a:", err::syntax::invalid, TYPE_LIT_WORD, 1, "'a:"},
        {"#", err::syntax::invalid, TYPE_ISSUE, 1, "#"},
        {"a\x80", err::syntax::invalid, TYPE_WORD, 1, "a\x80"},
        {"\"\x80\"", err::syntax::invalid, TYPE_STRING, 1, "\"\x80\""},
        {"\"\xC3\"", err::syntax::invalid, TYPE_STRING, 1, "\"\xC3\""},
        {"a \xC0", err::syntax::bad_char, 0, 1, "\xC0"},
        {"1.2.3.256", err::syntax::invalid, TYPE_TUPLE, 1, "1.2.3.256"},
        {"1.2.3.4.5.6.7.8.9.10.11.12.13", err::syntax::invalid, TYPE_TUPLE, 1, "1.2.3.4.5.6.7.8.9.10.11.12.13"},
        {"1.5x2", err::syntax::invalid, TYPE_PAIR, 1, "1.5x2"},
        {"1x2.5", err::syntax::invalid, TYPE_PAIR, 1, "1x2.5"},
        {"2147483648x1", err::syntax::invalid, TYPE_PAIR, 1, "2147483648x1"},
        {"1x-2147483649", err::syntax::invalid, TYPE_PAIR, 1, "1x-2147483649"},
        {"1x''2", err::syntax::invalid, TYPE_PAIR, 1, "1x''2"},
        {"29-Feb-2023", err::syntax::invalid, TYPE_DATE, 1, "29-Feb-2023"},
        {"1-Jan-2000/10:00:60", err::syntax::invalid, TYPE_DATE, 1, "1-Jan-2000/10:00:60"},
        {"$.5", err::syntax::invalid, TYPE_MONEY, 1, "$.5"},
        {"$1.123456", err::syntax::invalid, TYPE_MONEY, 1, "$1.123456"},
        {"#{ABC}", err::syntax::invalid, TYPE_BINARY, 1, "}"},
        {"#{AB G0}", err::syntax::invalid, TYPE_BINARY, 1, "G0}"},
        {"3#{01}", err::syntax::invalid, TYPE_BINARY, 1, "3#{01}"},
        {"2#{0101}", err::syntax::invalid, TYPE_BINARY, 1, "}"},
        {"64#{A===}", err::syntax::invalid, TYPE_BINARY, 1, "===}"},
        {"1:30:", err::syntax::invalid, TYPE_TIME, 1, "1:30:"},
        {"(1, 2, 3, 4)", err::syntax::invalid, TYPE_POINT3D, 1, "1, 2, 3, 4)"},
        {"(1 ,)", err::syntax::invalid, TYPE_POINT2D, 1, "1 ,)"},
        {"(1,)", err::syntax::invalid, TYPE_POINT2D, 1, "(1,)"},
        {"(x , 2)", err::syntax::invalid, TYPE_POINT2D, 1, "(x , 2)"},
        {"(#(true) , 2)", err::syntax::invalid, TYPE_POINT2D, 1, "(#(true) , 2)"},
        {"(x , 2 , 3)", err::syntax::invalid, TYPE_POINT3D, 1, "(x , 2 , 3)"},
        {"(x , 2 , 3 , 4)", err::syntax::invalid, TYPE_POINT3D, 1, ", 4)"},
        {"(a (b), c)", err::syntax::invalid, TYPE_POINT2D, 1, ", c)"},
        {"(x , [b])", err::syntax::invalid, TYPE_POINT2D, 1, "[b])"},
        {"(a, [b])", err::syntax::invalid, TYPE_POINT2D, 1, "a, [b])"},
        {"x,", err::syntax::invalid, TYPE_WORD, 1, "x,"},
        {"1x2,", err::syntax::invalid, TYPE_PAIR, 1, "1x2,"},
        {"<a", err::syntax::invalid, TYPE_TAG, 1, "<a"},
        {"abcdefghijklmnopqrstuvwxyz0123456789 12a", err::syntax::invalid, TYPE_INTEGER, 1, "12a"},
        {"\"abcdefghijklmnopqrstuvwxyz0123456789", err::syntax::invalid, TYPE_STRING, 1,
         "\"abcdefghijklmnopqrstuvwxyz012"},
        {"\"日本語日本語日本語日本語", err::syntax::invalid, TYPE_STRING, 1, "\"日本語日本語日本語"},
    };
    for (const Case& c : cases) {
        kiv_value e = load_error(c.text);
        expect_error(e, err::SYNTAX, c.id);
        const lexer::syntax_report& report = lexer::last_report();
        EXPECT_EQ(report.id, c.id) << c.text;
        EXPECT_EQ(report.type, c.type) << c.text;
        EXPECT_EQ(report.line, c.line) << c.text;
        EXPECT_EQ(report.text, c.shown) << c.text;
    }
}

TEST_F(Lexer, BinariesInEachBase) {
    struct Case {
        const char* text;
        const char* molded;
    } cases[] = {
        {"#{}", "[#{}]"},
        {"#{00}", "[#{00}]"},
        {"#{0a 0B ; a comment\n 1f}", "[#{0A0B1F}]"},
        {"16#{ABCDEF}", "[#{ABCDEF}]"},
        {"2#{00000001 11111111}", "[#{01FF}]"},
        {"2#{}", "[#{}]"},
        {"64#{AQ==}", "[#{01}]"},
        {"64#{AQI=}", "[#{0102}]"},
        {"64#{AQID BAUG}", "[#{010203040506}]"},
        {"64#{+/+/}", "[#{FBFFBF}]"},
        {"[#{01}\n#{02}]", "[[#{01}\n#{02}]]"},
    };
    for (const Case& c : cases) EXPECT_EQ(loads(c.text), c.molded) << c.text;
}

TEST_F(Lexer, TagsEmailsAndRefsLoadTheirTextWithoutEscapes) {
    struct Case {
        const char* text;
        const char* molded;
    } cases[] = {
        {"<a>", "[<a>]"},
        {"<a b=\"c>\">", "[<a b=\"c>\">]"},
        {"<a^/b>", "[<a^/b>]"},  // no escape decoding: the caret stays
        {"a@b.c", "[a@b.c]"},
        {"[a@b @ref]", "[[a@b @ref]]"},
        {"@ref", "[@ref]"},
    };
    for (const Case& c : cases) EXPECT_EQ(loads(c.text), c.molded) << c.text;
}

TEST_F(Lexer, ScanAndPrescanReportTypesWithoutLoading) {
    struct Case {
        const char* text;
        int32_t prescanned;
        int32_t scanned;
    } cases[] = {
        {"", 0, 0},
        {"123", TYPE_INTEGER, TYPE_INTEGER},
        {"12a", TYPE_ERROR, TYPE_ERROR},
        {"  ; comment\n 5 x", TYPE_INTEGER, TYPE_INTEGER},
        {"[a b] c", TYPE_BLOCK, TYPE_BLOCK},
        {"(a) c", TYPE_PAREN, TYPE_PAREN},
        {"a/b c", TYPE_PATH, TYPE_PATH},
        {"a/b: c", TYPE_SET_PATH, TYPE_SET_PATH},
        {"'a/b", TYPE_LIT_PATH, TYPE_LIT_PATH},
        {"a: 1", TYPE_WORD, TYPE_SET_WORD},
        {"{a {b}} c", TYPE_STRING, TYPE_STRING},
        {"\"a\" c", TYPE_STRING, TYPE_STRING},
        {"#(true)", TYPE_LOGIC, TYPE_LOGIC},
        {"#(map!)", TYPE_DATATYPE, TYPE_DATATYPE},
        {"1.2.3.4.5.6.7.8.9.10.11.12.13", TYPE_TUPLE, TYPE_ERROR},
        {"1.2.3", TYPE_TUPLE, TYPE_TUPLE},
        {"1x2", TYPE_PAIR, TYPE_PAIR},
        {"1.5x2", TYPE_PAIR, TYPE_ERROR},
        {"12%", TYPE_PERCENT, TYPE_PERCENT},
        {"10:30", TYPE_TIME, TYPE_TIME},
        {"1:2:60", TYPE_TIME, TYPE_TIME},
        {"4:30.5", TYPE_TIME, TYPE_TIME},
        {"1-Jan-2000", TYPE_DATE, TYPE_DATE},
        {"1/1/2000", TYPE_DATE, TYPE_DATE},
        {"29-Feb-2024", TYPE_DATE, TYPE_DATE},
        {"29-Feb-2023", TYPE_DATE, TYPE_ERROR},
        {"1/2/99", TYPE_DATE, TYPE_DATE},
        {"2024-01-15", TYPE_DATE, TYPE_DATE},
        {"15-01-2024", TYPE_DATE, TYPE_DATE},
        {"2024-W01-1", TYPE_DATE, TYPE_DATE},
        {"2024-W54", TYPE_DATE, TYPE_ERROR},
        {"2024-032", TYPE_DATE, TYPE_DATE},
        {"2023-366", TYPE_DATE, TYPE_ERROR},
        {"2024-366", TYPE_DATE, TYPE_DATE},
        {"1-Jan-2000/10:30", TYPE_DATE, TYPE_DATE},
        {"2000-01-01T10:00:30.5Z", TYPE_DATE, TYPE_DATE},
        {"1-Jan-2000/10:30+5:30", TYPE_DATE, TYPE_DATE},
        {"1-Jan-2000/10:30+16", TYPE_DATE, TYPE_ERROR},
        {"20240115T1030", TYPE_DATE, TYPE_DATE},
        {"20240115T103045.5Z", TYPE_DATE, TYPE_DATE},
        {"20240115T1030+0100", TYPE_DATE, TYPE_DATE},
        {"1-Janvier-2000", TYPE_DATE, TYPE_ERROR},
        {"1-sept-2000", TYPE_DATE, TYPE_DATE},
        {"31-Apr-2000", TYPE_DATE, TYPE_ERROR},
        {"1-13-2000", TYPE_DATE, TYPE_ERROR},
        {"$1'000.50", TYPE_MONEY, TYPE_MONEY},
        {"USD$1.5", TYPE_MONEY, TYPE_MONEY},
        {"-$1", TYPE_MONEY, TYPE_MONEY},
        {"$.5", TYPE_ERROR, TYPE_ERROR},
        {"$,5", TYPE_ERROR, TYPE_ERROR},
        {"$1.123456", TYPE_MONEY, TYPE_ERROR},
        {"$1''0", TYPE_MONEY, TYPE_ERROR},
        {"$1'", TYPE_MONEY, TYPE_ERROR},
        {"$1234567890123456789", TYPE_MONEY, TYPE_ERROR},
        {"2#{00000001}", TYPE_BINARY, TYPE_BINARY},
        {"64#{AQ==}", TYPE_BINARY, TYPE_BINARY},
        {"64#{AQI=}", TYPE_BINARY, TYPE_BINARY},
        {"64#{AQ=}", TYPE_BINARY, TYPE_ERROR},
        {"#{0A 0b ; a comment\n 1F}", TYPE_BINARY, TYPE_BINARY},
        {"#{ABC}", TYPE_BINARY, TYPE_ERROR},
        {"%\"a b\"", TYPE_FILE, TYPE_FILE},
        {"%a%20b", TYPE_FILE, TYPE_FILE},
        {"(1, 2)", TYPE_POINT2D, TYPE_POINT2D},
        {"(1 , 2 , 3 )", TYPE_POINT2D, TYPE_POINT2D},
        {"<a>", TYPE_TAG, TYPE_TAG},
        {"a@b", TYPE_EMAIL, TYPE_EMAIL},
        {"@abc", TYPE_REF, TYPE_REF},
        {"http://a", TYPE_URL, TYPE_URL},
        {"1.#INF", TYPE_FLOAT, TYPE_FLOAT},
        {"0FFh", TYPE_INTEGER, TYPE_INTEGER},
        {"%{a}%", TYPE_STRING, TYPE_STRING},
        {"%%{a}% b}%% c", TYPE_STRING, TYPE_STRING},
        {"[a", TYPE_ERROR, TYPE_ERROR},
        {"]", TYPE_ERROR, TYPE_ERROR},
        {"a]", TYPE_WORD, TYPE_WORD},
        {"a/", TYPE_ERROR, TYPE_ERROR},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(prescan(c.text), c.prescanned) << "prescan " << c.text;
        EXPECT_EQ(check(c.text), c.scanned) << "scan " << c.text;
    }
}

TEST_F(Lexer, OneValueModeStopsAfterTheFirstValue) {
    struct Case {
        const char* text;
        const char* molded;
        int32_t consumed;
    } cases[] = {
        {"[a b] c", "[a b]", 5},
        {"a b", "a", 1},
        {"  ; c\n 12 x", "12", 9},
        {"a/b c", "a/b", 3},
        {"a/(b c)/d e", "a/(b c)/d", 9},
        {"(1 + 2) x", "(1 + 2)", 7},
        {"#(true) x", "true", 7},
    };
    for (const Case& c : cases) {
        std::string text = c.text;
        kiv_value out = unset_value;
        int32_t consumed = -1;
        lexer::scan(&out, bytes(text), uint32_t(text.size()), true, false, false, &consumed, nullptr,
                    nullptr, nullptr);
        EXPECT_EQ(molded(out), c.molded) << c.text;
        EXPECT_EQ(consumed, c.consumed) << c.text;
    }
    kiv_value out = none_value;
    EXPECT_EQ(lexer::scan(&out, bytes(""), 0, true, false, false, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(type_of(&out), uint32_t(TYPE_UNSET));
}

TEST_F(Lexer, DestinationReceivesTheValues) {
    kiv_value dest = block_of({int_value(1)});
    kiv_value out = unset_value;
    std::string text = "a [b]";
    lexer::scan(&out, bytes(text), uint32_t(text.size()), false, false, false, nullptr, nullptr, nullptr, &dest);
    EXPECT_EQ(molded(dest), "[1 a [b]]");
    lexer::scan(&out, bytes(text), uint32_t(text.size()), true, false, false, nullptr, nullptr, nullptr, &dest);
    EXPECT_EQ(molded(dest), "[1 a [b] a]");
}

// Deeply nested blocks are scanned without native recursion: the buffer of
// values grows and each level folds into its enclosing one.
TEST_F(Lexer, DeepNesting) {
    const uint32_t depth = 300000;
    std::string text(depth, '[');
    text += "x";
    text.append(depth, ']');
    kiv_value v = load(text);
    for (uint32_t level = 0; level < depth; level++) {
        ASSERT_EQ(length_of(v), 1u);
        v = first_of(v);
        ASSERT_EQ(type_of(&v), uint32_t(TYPE_BLOCK));
    }
    ASSERT_EQ(length_of(v), 1u);
    EXPECT_EQ(type_of(cells_of(v)), uint32_t(TYPE_WORD));
    text.pop_back();
    catching();
    expect_error(raised([&] { load(text); }), err::SYNTAX, err::syntax::missing);
    EXPECT_EQ(lexer::last_report().type, uint32_t(']'));
}

TEST_F(Lexer, ScanStringCountsCharacters) {
    kiv_value s = str("a b");
    kiv_value out = unset_value;
    int32_t consumed = 0;
    lexer::scan_string(&out, &s, -1, false, false, false, &consumed, nullptr, nullptr);
    EXPECT_EQ(molded(out), "[a b]");
    EXPECT_EQ(consumed, 3);

    kiv_value wide = str("");
    string::append_char(series::buffer(wide.data2), 0xE9);
    string::concatenate_literal(&wide, " x y");
    lexer::scan_string(&out, &wide, -1, true, false, false, &consumed, nullptr, nullptr);
    EXPECT_EQ(consumed, 1);
    EXPECT_STREQ(symbol::name_of(word::symbol_of(&out)), "é");
    lexer::scan_string(&out, &wide, 3, false, false, false, &consumed, nullptr, nullptr);
    EXPECT_EQ(length_of(out), 2u);
    EXPECT_EQ(consumed, 3);

    // From the string's cursor.
    kiv_value tail = str("skip 42");
    tail.data1 = 5;
    lexer::scan_string(&out, &tail, -1, false, false, false, nullptr, nullptr, nullptr);
    EXPECT_EQ(molded(out), "[42]");
}

TEST_F(Lexer, ScanStringOfLongTextUsesItsOwnBuffer) {
    std::string text;
    while (text.size() < 150000) text += "word ";
    kiv_value s = str(text.c_str());
    kiv_value out = unset_value;
    lexer::scan_string(&out, &s, -1, false, false, false, nullptr, nullptr, nullptr);
    EXPECT_EQ(length_of(out), 30000u);
}

TEST_F(Lexer, LoadSingle) {
    kiv_value cell = unset_value;
    kiv_value text = str("12");
    lexer::load_single(&text, &cell);
    EXPECT_EQ(type_of(&cell), uint32_t(TYPE_INTEGER));
    EXPECT_EQ(int_of(cell), 12);
    text = str("a b");
    lexer::load_single(&text, &cell);
    EXPECT_EQ(molded(cell), "a");
    text = str("  ");
    lexer::load_single(&text, &cell);
    EXPECT_EQ(type_of(&cell), uint32_t(TYPE_UNSET));

    stack::mark_native(nullptr);
    stack::push_value(&text);
    text = str("[x]");
    lexer::load_string(&text);
    EXPECT_EQ(molded(*stack::arguments), "[x]");
    stack::unwind_drop();
}

namespace {

// Records every event as "name type line start end" and answers from a
// table of events to refuse.
struct recorder {
    std::vector<std::string> seen;
    uint32_t refuse = 0;  // events answered false
    int32_t refuse_at_line = 0;
    lexer::callback cb{call, this, lexer::EV_ALL, none_value};

    static bool call(void* context, lexer::event_info& e) {
        auto* self = static_cast<recorder*>(context);
        const char* names[] = {"prescan", "scan", "load", "open", "close", "error"};
        std::string name = names[__builtin_ctz(e.event)];
        self->seen.push_back(name + " " + std::to_string(e.type) + " " + std::to_string(e.line) + " " +
                             std::to_string(e.start) + "-" + std::to_string(e.end));
        if (self->refuse_at_line && e.line != self->refuse_at_line) return true;
        return !(self->refuse & e.event);
    }
};

kiv_value traced(recorder& rec, const std::string& text, int32_t* type = nullptr) {
    kiv_value out = unset_value;
    int32_t t = lexer::scan(&out, bytes(text), uint32_t(text.size()), false, false, false, nullptr,
                            &rec.cb, nullptr, nullptr);
    if (type) *type = t;
    return out;
}

}  // namespace

TEST_F(Lexer, EventsReachTheCallback) {
    recorder rec;
    traced(rec, "[a 1]\n; c");
    std::vector<std::string> expected = {
        "prescan -3 1 0-0", "open 5 1 0-1",     "prescan 15 1 1-2", "scan 15 1 1-2",
        "load 15 1 1-2",    "prescan 11 1 3-4", "scan 11 1 3-4",    "load 11 1 3-4",
        "prescan -4 1 4-4", "close 5 1 4-5",    "prescan -12 2 6-9", "scan -12 2 6-9",
    };
    EXPECT_EQ(rec.seen, expected);
}

TEST_F(Lexer, CallbackSteersTheScan) {
    recorder rec;
    rec.refuse = lexer::EV_LOAD;
    EXPECT_EQ(molded(traced(rec, "a [b] c")), "[[]]");

    recorder skip;
    skip.refuse = lexer::EV_PRESCAN;
    EXPECT_EQ(molded(traced(skip, "a \"s\" [b] #\"c\" }")), "[]");

    recorder no_open;
    no_open.refuse = lexer::EV_OPEN;
    catching();
    expect_error(raised([&] { traced(no_open, "[a]"); }), err::SYNTAX, err::syntax::missing);

    recorder no_close;
    no_close.refuse = lexer::EV_CLOSE;
    catching();
    expect_error(raised([&] { traced(no_close, "[a]"); }), err::SYNTAX, err::syntax::missing);

    // A false answer to an error ends the scan quietly with what it loaded.
    recorder quiet;
    quiet.refuse = lexer::EV_ERROR;
    int32_t type = 0;
    EXPECT_EQ(molded(traced(quiet, "a [b 12a c", &type)), "[a [b]]");
    EXPECT_EQ(type, int32_t(TYPE_ERROR));
    EXPECT_EQ(quiet.seen.back(), "error 34 1 5-7");

    // A true answer raises it.
    recorder loud;
    catching();
    expect_error(raised([&] { traced(loud, "a 12a"); }), err::SYNTAX, err::syntax::invalid);
    EXPECT_EQ(loud.seen.back(), "error 34 1 2-4");
}

// A callback that moves the input makes the scan go on from there.
TEST_F(Lexer, CallbackMayMoveTheInput) {
    struct skipper {
        static bool call(void*, lexer::event_info& e) {
            if (e.event == lexer::EV_PRESCAN && e.type == TYPE_INTEGER) e.input = e.end + 2;
            return true;
        }
    };
    lexer::callback cb{skipper::call, nullptr, lexer::EV_PRESCAN, none_value};
    std::string text = "1 a b";
    kiv_value out = unset_value;
    lexer::scan(&out, bytes(text), uint32_t(text.size()), false, false, false, nullptr, &cb, nullptr, nullptr);
    EXPECT_EQ(molded(out), "[1 b]");
}

TEST_F(Lexer, EventMaskComesFromTheBody) {
    kiv_value only_errors = block_of({block_of({word_of("error")}), word_of("print")});
    EXPECT_EQ(lexer::event_mask(&only_errors), uint32_t(lexer::EV_ERROR));
    kiv_value some = block_of({block_of({word_of("LOAD"), word_of("open"), word_of("other"), int_value(1)})});
    EXPECT_EQ(lexer::event_mask(&some), uint32_t(lexer::EV_LOAD | lexer::EV_OPEN));
    kiv_value plain = block_of({word_of("print")});
    EXPECT_EQ(lexer::event_mask(&plain), lexer::EV_ALL);
    kiv_value empty = block_of({});
    EXPECT_EQ(lexer::event_mask(&empty), lexer::EV_ALL);

    // A callback that asked for errors only hears nothing else.
    recorder rec;
    rec.cb.mask = lexer::EV_ERROR;
    rec.refuse = lexer::EV_ERROR;
    traced(rec, "a [b] 12a");
    ASSERT_EQ(rec.seen.size(), 1u);
}

TEST_F(Lexer, CallbackPositionsCountCharactersOfStrings) {
    recorder rec;
    rec.cb.mask = lexer::EV_LOAD;
    kiv_value s = str("");
    string::append_char(series::buffer(s.data2), 0x65E5);
    string::concatenate_literal(&s, " ab");
    kiv_value out = unset_value;
    lexer::scan_string(&out, &s, -1, false, false, false, nullptr, &rec.cb, nullptr);
    std::vector<std::string> expected = {"load 15 1 0-1", "load 15 1 2-4"};
    EXPECT_EQ(rec.seen, expected);
}

TEST_F(Lexer, TypeValuesOfEvents) {
    kiv_value t = lexer::type_value(TYPE_INTEGER);
    EXPECT_EQ(type_of(&t), uint32_t(TYPE_DATATYPE));
    EXPECT_EQ(t.data1, uint32_t(TYPE_INTEGER));
    t = lexer::type_value(0);
    EXPECT_EQ(type_of(&t), uint32_t(TYPE_NONE));
    struct Case {
        uint32_t cls;
        const char* molded;
    } cases[] = {{0, "eof"}, {2, "block!"}, {5, "paren!"}, {9, "path!"}, {11, "comment"}, {12, "comma"}};
    for (const Case& c : cases) EXPECT_EQ(molded(lexer::type_value(-int32_t(c.cls + 1))), c.molded) << c.cls;
    EXPECT_EQ(block::length_all(lexer::exit_states()), 35u);
}

// A callback that scans again nests a scan whose values start after the
// outer scan's, and leave them untouched.
TEST_F(Lexer, NestedScans) {
    struct nester {
        std::string inner_result;
        static bool call(void* context, lexer::event_info& e) {
            auto* self = static_cast<nester*>(context);
            if (e.event != lexer::EV_LOAD || !self->inner_result.empty()) return true;
            std::string text;
            for (int i = 0; i < 3000; i++) text += "x ";
            kiv_value out = unset_value;
            lexer::scan(&out, bytes(text), uint32_t(text.size()), false, false, false, nullptr, nullptr,
                        nullptr, nullptr);
            self->inner_result = std::to_string(length_of(out));
            return true;
        }
    };
    nester n;
    lexer::callback cb{nester::call, &n, lexer::EV_LOAD, none_value};
    std::string text = "[a [b c] d] e";
    kiv_value out = unset_value;
    lexer::scan(&out, bytes(text), uint32_t(text.size()), false, false, false, nullptr, &cb, nullptr, nullptr);
    EXPECT_EQ(n.inner_result, "3000");
    EXPECT_EQ(molded(out), "[[a [b c] d] e]");
}

TEST_F(Lexer, MarkStatesSeesActiveScans) {
    struct marker {
        static uint32_t& cells() {
            static uint32_t n = 0;
            return n;
        }
        static void mark(kiv_value* first, kiv_value* end) { cells() += uint32_t(end - first); }
        static bool call(void*, lexer::event_info& e) {
            if (e.event == lexer::EV_LOAD && e.start == 6) lexer::mark_states(mark);
            return true;
        }
    };
    lexer::callback cb{marker::call, nullptr, lexer::EV_LOAD, none_value};
    std::string text = "a [b] c";
    kiv_value out = unset_value;
    lexer::scan(&out, bytes(text), uint32_t(text.size()), false, false, false, nullptr, &cb, nullptr, nullptr);
    // The three values, the source and the callback's function.
    EXPECT_EQ(marker::cells(), 5u);
}

// Any bytes at all end in values, a syntax error or a datatype still to
// come, in every mode; never in a fault.
TEST_F(Lexer, ArbitraryBytes) {
    const char alphabet[] = "[](){}\"#':x/\\<>=%,;@.$+-^eE1h0aT \n\t\x80\xC3\xA9\xE3\x80\x80\xF0\x9F\x98\x80\xC0";
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245 + 12345;
        return seed >> 16;
    };
    for (int round = 0; round < 20000; round++) {
        std::string text;
        uint32_t length = next() % 12;
        for (uint32_t i = 0; i < length; i++) text += alphabet[next() % (sizeof alphabet - 1)];
        for (int mode = 0; mode < 3; mode++) {
            catching();
            kiv_value out = unset_value;
            try {
                lexer::scan(&out, bytes(text), uint32_t(text.size()), mode == 2, mode == 1, mode == 2,
                            nullptr, nullptr, nullptr, nullptr);
            } catch (const kiv_exit&) {
                kiv_value e = *stack::get_top();
                err::category c = error::category_of(&e);
                bool expected = c == err::SYNTAX ||
                                (c == err::INTERNAL && error::id_of(&e) == err::internal::not_done);
                ASSERT_TRUE(expected) << text;
                ASSERT_EQ(mode, 0) << text;
            }
        }
    }
}
