// The lexer's byte classes and state machine, checked against what the
// tables must make of source text.
#include <gtest/gtest.h>

#include <string>

#include "runtime/evaluator/lexer_tables.h"

using namespace kiv;
using namespace kiv::lexer;

namespace {

struct token {
    uint32_t final_state;
    uint32_t start;     // bytes skipped before the token
    uint32_t length;    // bytes up to where the machine stopped
    uint32_t previous;  // the last intermediate state
    uint32_t flags;
};

// Runs the machine over one token, as the scanning loop does.
token run(const std::string& text, uint32_t state = S_BETWEEN) {
    token t{0, 0, 0, state, 0};
    size_t i = 0;
    for (; i < text.size(); i++) {
        uint32_t entry = byte_classes[uint8_t(text[i])];
        t.flags |= entry & ~0xFFu;
        t.previous = state;
        state = transitions[state][entry & 0xFF];
        t.start += skip_table[state];
        if (state > S_LAST_INTERMEDIATE) break;
    }
    if (state <= S_LAST_INTERMEDIATE) {
        t.previous = state;
        state = transitions[state][C_END];
    }
    t.final_state = state;
    t.length = uint32_t(i) - t.start;
    return t;
}

uint32_t class_of(uint8_t byte) { return byte_classes[byte] & 0xFF; }

}  // namespace

TEST(LexerTables, ByteClasses) {
    struct Case {
        const char* bytes;
        uint32_t cls;
    } cases[] = {
        {"\t\r ", C_BLANK}, {"\n", C_LF}, {"123456789", C_DIGIT}, {"0", C_ZERO}, {"[", C_LBRACKET},
        {"]", C_RBRACKET}, {"(", C_LPAREN}, {")", C_RPAREN}, {"{", C_LBRACE}, {"}", C_RBRACE},
        {"\"", C_DQUOTE}, {"#", C_SHARP}, {"'", C_QUOTE}, {":", C_COLON}, {"xX", C_X}, {"T", C_T},
        {"h", C_H}, {"e", C_LOWER_E}, {"E", C_UPPER_E}, {"abcdf", C_HEXLOW}, {"ABCDF", C_HEXUP},
        {"/", C_SLASH}, {"\\", C_BACKSLASH}, {"<", C_LESS}, {">", C_GREATER}, {"=", C_EQUAL},
        {"%", C_PERCENT}, {",", C_COMMA}, {";", C_SEMICOLON}, {"@", C_AT}, {".", C_DOT},
        {"$", C_DOLLAR}, {"+", C_PLUS}, {"-", C_MINUS}, {"^", C_CARET},
        {"!&*?GHIJKLMNOPQRSUVWYZ_`gijklmnopqrstuvwyz|~", C_LETTER},
    };
    uint32_t counted = 0;
    for (const Case& c : cases)
        for (const char* p = c.bytes; *p; p++, counted++) EXPECT_EQ(class_of(uint8_t(*p)), c.cls) << *p;
    EXPECT_EQ(counted, 98u);  // tab, CR, LF and the 95 printable bytes, none twice
    for (uint32_t b = 0x01; b < 0x20; b++) {
        bool blank = b == '\t' || b == '\n' || b == '\r';
        EXPECT_EQ(class_of(uint8_t(b)), blank ? class_of(uint8_t(b)) : uint32_t(C_CONTROL)) << b;
    }
    for (uint32_t b = 0x7F; b <= 0xBF; b++) EXPECT_EQ(class_of(uint8_t(b)), uint32_t(C_EXT)) << b;
    for (uint32_t b = 0xC2; b <= 0xF7; b++) EXPECT_EQ(class_of(uint8_t(b)), uint32_t(C_LETTER)) << b;
    for (uint32_t b : {0xC0u, 0xC1u, 0xF8u, 0xFCu, 0xFFu}) EXPECT_EQ(class_of(uint8_t(b)), uint32_t(C_ILLEGAL)) << b;
    EXPECT_EQ(class_of(0), uint32_t(C_END));
}

TEST(LexerTables, ByteFlags) {
    struct Case {
        uint8_t byte;
        uint32_t flag;
    } cases[] = {
        {'#', F_SHARP},  {'\'', F_QUOTE}, {':', F_COLON},   {'e', F_EXPONENT}, {'E', F_EXPONENT},
        {'<', F_LESS},   {'>', F_GREATER}, {'%', F_PERCENT}, {',', F_COMMA},    {'.', F_DOT},
        {'+', F_SIGN},   {'-', F_SIGN},    {'^', F_CARET},   {0, F_END},        {0xC2, F_UTF8_WIDE},
        {0xEF, F_UTF8_WIDE}, {0xF0, F_UTF8_FOUR}, {0xF7, F_UTF8_FOUR}, {'a', 0}, {0x80, 0}, {0xC0, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(byte_classes[c.byte] & ~0xFFu, c.flag) << int(c.byte);
    // The flag bits that no byte uses stay free for the scanners.
    for (uint32_t b = 0; b < 256; b++) EXPECT_EQ(byte_classes[b] & 0x3FF00u, 0u) << b;
    EXPECT_EQ(F_AFTER_LINE & 0x3FF00u, F_AFTER_LINE);
}

TEST(LexerTables, MachineShape) {
    EXPECT_EQ(skip_table[0], 1);
    for (uint32_t s = 1; s < sizeof skip_table; s++) EXPECT_EQ(skip_table[s], 0) << s;
    for (uint32_t c = 0; c < CLASS_COUNT; c++) EXPECT_EQ(line_table[c], c == C_LF ? 1 : 0) << c;
    for (uint32_t s = 0; s < STATE_COUNT; s++) {
        // The end of the input always leads to a token.
        EXPECT_GT(transitions[s][C_END], S_LAST_INTERMEDIATE) << s;
        for (uint32_t c = 0; c < CLASS_COUNT; c++) {
            uint32_t next = transitions[s][c];
            EXPECT_TRUE(next < STATE_COUNT || (next >= S_END && next < S_END + FINAL_COUNT)) << s << " " << c;
            // Only the state between tokens skips bytes, so a token never
            // gets back there.
            if (s != S_BETWEEN) {
                EXPECT_NE(next, uint32_t(S_BETWEEN)) << s << " " << c;
            }
        }
    }
}

TEST(LexerTables, TokenTypes) {
    const uint8_t expected[FINAL_COUNT] = {
        0, TYPE_ERROR, 0, 0, 0, 0, 0, TYPE_STRING, 0, 0, 0, 0, 0, TYPE_STRING, TYPE_WORD, TYPE_ISSUE,
        TYPE_INTEGER, TYPE_REFINEMENT, TYPE_CHAR, TYPE_FILE, TYPE_BINARY, TYPE_PERCENT, TYPE_FLOAT,
        TYPE_FLOAT, TYPE_TUPLE, TYPE_DATE, TYPE_PAIR, TYPE_POINT2D, TYPE_TIME, TYPE_MONEY, TYPE_TAG,
        TYPE_URL, TYPE_EMAIL, TYPE_INTEGER, TYPE_STRING, TYPE_REF,
    };
    for (uint32_t i = 0; i < FINAL_COUNT; i++) EXPECT_EQ(type_table[S_END + i], expected[i]) << S_END + i;
    // An error cut short names what was being read.
    EXPECT_EQ(type_table[run("12a").previous], TYPE_INTEGER);
    EXPECT_EQ(type_table[run("\"abc").previous], TYPE_STRING);
    EXPECT_EQ(type_table[run("}").previous], 0);
}

// What the tables make of source text.
TEST(LexerTables, Tokens) {
    struct Case {
        std::string text;
        uint32_t final_state;
        uint32_t length;  // where the machine stops
    } cases[] = {
        // A number stays a number until a byte decides otherwise.
        {"123", S_INTEGER, 3}, {"-12", S_INTEGER, 3}, {"1x2", S_PAIR, 3}, {"1:2", S_TIME, 3},
        {"1-Jan-2000", S_DATE, 10}, {"1/1/2000", S_DATE, 8}, {"2000T10", S_DATE, 7},
        {"1.2", S_FLOAT, 3}, {"1e10", S_FLOAT, 4}, {".5", S_FLOAT, 2}, {"1.2.3", S_TUPLE, 5},
        {"12%", S_PERCENT, 2}, {"1@b", S_EMAIL, 3}, {"16#{AB}", S_BINARY, 6}, {"0FFh", S_HEX, 4},
        {"12h", S_HEX, 3}, {"1.#INF", S_SPECIAL_FLOAT, 6}, {"12a", S_ERROR, 2},
        // "'" separates digits in integers, fractions and money.
        {"1'000", S_INTEGER, 5}, {"1.0'5", S_FLOAT, 5}, {"$1'000", S_MONEY, 6}, {"$1.0'5", S_MONEY, 6},
        // "<" begins a tag only before something else than "<", ">", "=",
        // "-", ":" or a delimiter.
        {"<", S_WORD, 1}, {"<<", S_WORD, 2}, {"<=", S_WORD, 2}, {"<>", S_WORD, 2}, {"<-", S_WORD, 2},
        {"<a>", S_TAG, 2}, {"<a", S_ERROR, 2},
        // "%" alone or in a run is a word; "%{" and "%%{" begin raw strings.
        {"%", S_WORD, 1}, {"%%", S_WORD, 2}, {"%{a}%", S_RAW_STRING, 5}, {"%%{a}%%", S_RAW_STRING, 7},
        {"%a", S_FILE, 2}, {"%\"a b\"", S_FILE, 5},
        // "#" and what follows.
        {"#[", S_MAP_OPEN, 1}, {"#(true)", S_CONSTRUCT, 6}, {"#{", S_ERROR, 2}, {"#\"a\"", S_CHAR, 3},
        {"#a", S_ISSUE, 2}, {"#", S_ISSUE, 1},
        // Words and what a colon, "@" or "/" make of them.
        {"abc", S_WORD, 3}, {"a:", S_WORD, 2}, {":a", S_WORD, 2}, {"'a", S_WORD, 2}, {"a:b", S_URL, 3},
        {"a@b", S_EMAIL, 3}, {"@abc", S_REF, 4}, {"a/b", S_PATH_OPEN, 1}, {"/a", S_REFINEMENT, 2},
        {"/", S_WORD, 1}, {"//", S_WORD, 2}, {"FF", S_WORD, 2},
        // Structure.
        {"[", S_BLOCK_OPEN, 0}, {"]", S_BLOCK_CLOSE, 0}, {"(", S_PAREN_OPEN, 0}, {")", S_PAREN_CLOSE, 0},
        {"{", S_STRING_OPEN, 0}, {"}", S_ERROR, 0}, {",", S_COMMA, 0}, {"; a\nb", S_COMMENT, 3},
        {"\"a\"", S_STRING, 2}, {"\"a\nb\"", S_ERROR, 2}, {"", S_END, 0}, {"  \n ", S_END, 0},
        {std::string("\0a", 2), S_END, 0},
    };
    for (const Case& c : cases) {
        token t = run(c.text);
        EXPECT_EQ(t.final_state, c.final_state) << c.text;
        EXPECT_EQ(t.length, c.length) << c.text;
    }
    // A word ends at blanks, line feeds, brackets, parens, braces, quotes,
    // "#", "\" and ";".
    for (char d : std::string(" \n[](){}\"#\\;")) {
        token t = run(std::string("abc") + d);
        EXPECT_EQ(t.final_state, uint32_t(S_WORD)) << d;
        EXPECT_EQ(t.length, 3u) << d;
    }
    // Bytes before a token are skipped; the token keeps its flags.
    token t = run("  \n 1.5e3");
    EXPECT_EQ(t.start, 4u);
    EXPECT_EQ(t.flags & (F_DOT | F_EXPONENT), F_DOT | F_EXPONENT);
}

TEST(LexerTables, SubLanguages) {
    // Inside a multi-line string only braces and carets count.
    EXPECT_EQ(run("ab \"c\n", S_MULTILINE).final_state, uint32_t(S_ERROR));
    EXPECT_EQ(run("ab \"c\n}", S_MULTILINE).final_state, uint32_t(S_STRING_CLOSE));
    EXPECT_EQ(run("a^}b}", S_MULTILINE).length, 4u);
    EXPECT_EQ(run("a{", S_MULTILINE).final_state, uint32_t(S_STRING_OPEN));
    // After a path separator the next element starts at once.
    EXPECT_EQ(run("b/c", S_PATH_ELEMENT).final_state, uint32_t(S_WORD));
    EXPECT_EQ(run("1/", S_PATH_ELEMENT).final_state, uint32_t(S_INTEGER));
    EXPECT_EQ(run(":b", S_PATH_ELEMENT).final_state, uint32_t(S_WORD));
    EXPECT_EQ(run("(", S_PATH_ELEMENT).final_state, uint32_t(S_PAREN_OPEN));
    EXPECT_EQ(run(" b", S_PATH_ELEMENT).final_state, uint32_t(S_ERROR));
    // Inside a point, numbers, blanks and commas up to ")".
    token t = run("1, 2.5 )", S_IN_POINT);
    EXPECT_EQ(t.final_state, uint32_t(S_POINT));
    EXPECT_EQ(t.length, 7u);
}
