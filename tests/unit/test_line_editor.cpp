// The console's line editor without a terminal: keys in, line and caret
// out; the painting text; the history and its file.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "runtime/io/line_editor.h"

using namespace kiv::line_editor;

namespace {

const std::string LEFT = "\x1b[D", RIGHT = "\x1b[C", UP = "\x1b[A", DOWN = "\x1b[B";

outcome feed(session& s, const std::string& keys, size_t* used = nullptr) {
    size_t n = 0;
    outcome r = s.feed(reinterpret_cast<const uint8_t*>(keys.data()), keys.size(), n);
    if (used) *used = n;
    return r;
}

TEST(LineEditor, KeysEditTheLine) {
    struct {
        const char* name;
        std::string keys;
        std::string line;
        size_t caret;
    } cases[] = {
        {"typing", "abc", "abc", 3},
        {"left then insert", "1 3" + LEFT + "+ ", "1 + 3", 4},
        {"Ctrl-A then insert", "2 * 3\x01" "1 + ", "1 + 2 * 3", 4},
        {"Ctrl-E", "ab\x01\x05", "ab", 2},
        {"Ctrl-B and Ctrl-F", "abc\x02\x02\x06", "abc", 2},
        {"right at the end stays", "ab" + RIGHT, "ab", 2},
        {"left at the start stays", "a" + LEFT + LEFT, "a", 0},
        {"Home and End in their forms", "abc\x1b[H" "x\x1b[F" "y\x1b[1~" "z\x1b[4~" "w\x1bOH" "v\x1bOF", "vzxabcyw", 8},
        {"Home as 7~, End as 8~", "ab\x1b[7~" "x\x1b[8~" "y", "xaby", 4},
        {"Backspace as DEL and Ctrl-H", "abcd\x7f\x08", "ab", 2},
        {"Backspace at the start", "ab\x01\x7f", "ab", 0},
        {"Delete", "abc" + LEFT + LEFT + "\x1b[3~", "ac", 1},
        {"Ctrl-D deletes under the caret", "abc\x01\x04", "bc", 0},
        {"Ctrl-K then Ctrl-Y", "abcd" + LEFT + LEFT + "\x0b\x01\x19", "cdab", 2},
        {"Ctrl-U", "abcd" + LEFT + "\x15", "d", 0},
        {"Ctrl-W", "print a/b\x17", "print ", 6},
        {"Ctrl-T swaps at the end", "ab\x14", "ba", 2},
        {"Ctrl-T swaps around the caret", "abc" + LEFT + "\x14", "acb", 3},
        {"Alt-B before a block", "probe [b c]\x1b" "ba ", "probe [b a c]", 11},
        {"Alt-B stops at a path's slash", "a/bc\x1b" "b", "a/bc", 2},
        {"Alt-F", "ab cd\x01\x1b" "f", "ab cd", 2},
        {"Ctrl-Left and Ctrl-Right", "ab cd ef\x1b[1;5D\x1b[1;5D\x1b[1;5C", "ab cd ef", 5},
        {"Alt-Left", "ab cd\x1b[1;3D", "ab cd", 3},
        {"Alt-D", "ab cd\x01\x1b" "d", " cd", 0},
        {"Alt-Backspace", "ab cd\x1b\x7f", "ab ", 3},
        {"Alt-U, Alt-L, Alt-C", "ab cd ef\x01\x1bu\x1bl\x1b" "c", "AB cd Ef", 8},
        {"word keys on letters past ASCII", "été ok\x01\x1b" "f", "été ok", 3},
        {"UTF-8 text", "\xc3\xa9t\xc3\xa9 \xe2\x9c\x93", "été ✓", 5},
        {"a combining mark goes with its letter", "e\xcc\x81x" + LEFT + LEFT, "e\xcc\x81x", 0},
        {"Backspace takes the mark too", "ae\xcc\x81\x7f", "a", 1},
        {"Delete takes the mark too", "e\xcc\x81x\x01\x1b[3~", "x", 0},
        {"wide characters", "\xe7\x95\x8c\xe7\x95\x8c" + LEFT + "a", "界a界", 2},
        {"bad UTF-8 is dropped", "a\xff\xc3(b\xed\xa0\x80\xc0\xaf", "a(b", 3},
        {"an unknown sequence is dropped", "a\x1b[99Xb\x1b[5~\x1bOP", "ab", 2},
        {"Escape before a control key", "ab\x1b\x01x", "xab", 1},
        {"Escape before Escape", "a\x1b\x1b" "b", "a", 0},
        {"an unterminated sequence is dropped", "a\x1b[1;2;3\x01z", "za", 1},
        {"other control keys do nothing", "a\x07\x0f\x1c\x1d\x1e\x1f" "b", "ab", 2},
    };
    for (const auto& c : cases) {
        session s(">> ", nullptr);
        EXPECT_EQ(feed(s, c.keys), outcome::PENDING) << c.name;
        s.flush();
        EXPECT_EQ(s.text(), c.line) << c.name;
        EXPECT_EQ(s.caret(), c.caret) << c.name;
    }
}

TEST(LineEditor, KeysThatEndTheLine) {
    struct {
        std::string keys;
        outcome result;
        size_t used;
        std::string line;
    } cases[] = {
        {"ab\rcd", outcome::LINE, 3, "ab"},
        {"ab\n", outcome::LINE, 3, "ab"},
        {"\x04rest", outcome::END, 1, ""},
        {"ab\x03", outcome::INTERRUPT, 3, "ab"},
        {"a\x1a", outcome::SUSPEND, 2, "a"},
        {"a\x04\r", outcome::LINE, 3, "a"},
    };
    for (const auto& c : cases) {
        session s("", nullptr);
        size_t used = 0;
        EXPECT_EQ(feed(s, c.keys, &used), c.result) << c.keys;
        EXPECT_EQ(used, c.used) << c.keys;
        EXPECT_EQ(s.text(), c.line) << c.keys;
    }
}

// A sequence or a character cut between two reads is taken whole.
TEST(LineEditor, KeysCutBetweenReads) {
    session s("", nullptr);
    feed(s, "ab\x1b");
    EXPECT_TRUE(s.waiting_q());
    feed(s, "[");
    feed(s, "D\xe2\x9c");
    EXPECT_EQ(s.caret(), 1u);
    size_t used = 0;
    EXPECT_EQ(feed(s, "\x93\r", &used), outcome::LINE);
    EXPECT_EQ(used, 2u);
    EXPECT_EQ(s.text(), "a✓b");
    // A lone Escape that nothing follows is dropped.
    session lone("", nullptr);
    feed(lone, "a\x1b");
    lone.flush();
    feed(lone, "b");
    EXPECT_EQ(lone.text(), "ab");
}

TEST(LineEditor, HistoryKeys) {
    history past;
    past.add("one", false);
    past.add("two", false);
    session s("", &past);
    feed(s, "dra");
    feed(s, UP);
    EXPECT_EQ(s.text(), "two");
    EXPECT_EQ(s.caret(), 3u);
    feed(s, UP + UP + UP);
    EXPECT_EQ(s.text(), "one");
    feed(s, DOWN);
    EXPECT_EQ(s.text(), "two");
    feed(s, "\x0e");  // Ctrl-N: back to the line being typed
    EXPECT_EQ(s.text(), "dra");
    feed(s, DOWN);
    EXPECT_EQ(s.text(), "dra");
    feed(s, "\x10");  // Ctrl-P
    EXPECT_EQ(s.text(), "two");
    feed(s, "\x1b<");
    EXPECT_EQ(s.text(), "one");
    feed(s, "\x1b>");
    EXPECT_EQ(s.text(), "dra");
    // Without history the keys do nothing.
    session alone("", nullptr);
    feed(alone, "x" + UP);
    EXPECT_EQ(alone.text(), "x");
}

TEST(LineEditor, HistorySearch) {
    history past;
    for (const char* e : {"print 1", "x: 2", "print 3"}) past.add(e, false);
    session s("> ", &past);
    feed(s, "ab\x12pri");
    EXPECT_EQ(s.text(), "print 3");
    EXPECT_EQ(s.caret(), 0u);
    EXPECT_EQ(s.render(80, {}), "(search)'pri': print 3\r\x1b[15C");
    feed(s, "\x12");  // an older match
    EXPECT_EQ(s.text(), "print 1");
    feed(s, "\x12");  // none older: it stays
    EXPECT_EQ(s.text(), "print 1");
    feed(s, "\x7f");  // a shorter query starts from the newest again
    EXPECT_EQ(s.text(), "print 3");
    feed(s, "\x07");  // Ctrl-G: back to the line as it was
    EXPECT_EQ(s.text(), "ab");
    EXPECT_EQ(s.caret(), 2u);
    EXPECT_EQ(s.render(80, {}), "\r\x1b[J> ab");
    feed(s, "\x12: 2" + RIGHT);  // another key takes the match and acts
    EXPECT_EQ(s.text(), "x: 2");
    EXPECT_EQ(s.caret(), 2u);
    feed(s, "\x12zz");  // nothing matches: the line stays
    EXPECT_EQ(s.text(), "x: 2");
    feed(s, "\x07");
    size_t used = 0;
    EXPECT_EQ(feed(s, "\x12" "1\rz", &used), outcome::LINE);
    EXPECT_EQ(s.text(), "print 1");
    EXPECT_EQ(used, 3u);
}

TEST(LineEditor, HistoryEntries) {
    history past(3);
    past.add("[1", false);
    past.add("2]", true);
    past.add("a", false);
    past.add("a", false);  // the same again is one entry
    EXPECT_EQ(past.entries(), (std::vector<std::string>{"[1\n2]", "a"}));
    past.add("b", false);
    past.add("c", false);  // the oldest goes
    EXPECT_EQ(past.entries(), (std::vector<std::string>{"a", "b", "c"}));
    history fresh;
    fresh.add("x", true);  // a continuation with nothing before
    EXPECT_EQ(fresh.entries(), std::vector<std::string>{"x"});
}

TEST(LineEditor, HistoryFileText) {
    history past;
    for (const char* e : {"print \"a b\"", "[1\n2]", "back\\slash\ttab", "été"}) past.add(e, false);
    std::string text = past.encode();
    EXPECT_EQ(text,
              "_HiStOrY_V2_\nprint\\040\"a\\040b\"\n[1\\0122]\nback\\\\slash\\011tab\n"
              "\xc3\xa9t\xc3\xa9\n");
    history again;
    again.decode(text);
    EXPECT_EQ(again.entries(), past.entries());
    // Without the header, with short escapes; a bad escape drops its line.
    history other;
    other.decode("a\\sb\nbad\\q\nc\\n\\td\nend\\\n\n\\101\\\\x\n\\10\n");
    EXPECT_EQ(other.entries(), (std::vector<std::string>{"a b", "c\n\td", "A\\x"}));
}

TEST(LineEditor, HistoryFile) {
    std::string path = ::testing::TempDir() + "line_editor_history";
    history past;
    past.add("1 + 1", false);
    past.add("[a\nb]", false);
    ASSERT_TRUE(past.save(path));
    history loaded;
    ASSERT_TRUE(loaded.load(path));
    EXPECT_EQ(loaded.entries(), past.entries());
    std::remove(path.c_str());
    EXPECT_FALSE(loaded.load(path + ".missing"));
    EXPECT_EQ(loaded.entries(), past.entries());
    EXPECT_FALSE(past.save(::testing::TempDir() + "no-such-folder/history"));
}

TEST(LineEditor, Widths) {
    struct {
        char32_t c;
        int width;
    } cases[] = {{U'a', 1}, {U'é', 1}, {U'界', 2}, {U'\u0301', 0}, {U'\x01', 2}, {U'\x7f', 2},
                 {U'\U0001F600', 2}, {U'\u200b', 0}};
    for (const auto& c : cases) EXPECT_EQ(char_width(c.c), c.width) << uint32_t(c.c);
}

TEST(LineEditor, Tab) {
    std::u32string seen;
    size_t seen_caret = 99;
    auto complete = [&](const std::u32string& line, size_t caret, completion& out) {
        seen = line;
        seen_caret = caret;
        if (line == U"pri") {
            out.line = U"prin";
            out.caret = 4;
            out.listing = "prin  print";
            return true;
        }
        if (line == U"far") {
            out.line = U"x";
            out.caret = 50;  // past the end: the caret stays in the line
            return true;
        }
        return false;
    };
    session s("", nullptr, complete);
    feed(s, "pri\t");
    EXPECT_EQ(seen, U"pri");
    EXPECT_EQ(seen_caret, 3u);
    EXPECT_EQ(s.text(), "prin");
    EXPECT_EQ(s.caret(), 4u);
    EXPECT_EQ(s.take_listing(), "prin  print");
    EXPECT_EQ(s.take_listing(), "");
    feed(s, "\x01\t");  // no answer: nothing changes
    EXPECT_EQ(seen_caret, 0u);
    EXPECT_EQ(s.text(), "prin");
    session far("", nullptr, complete);
    feed(far, "far\t");
    EXPECT_EQ(far.text(), "x");
    EXPECT_EQ(far.caret(), 1u);
    session none("", nullptr);
    feed(none, "a\tb");
    EXPECT_EQ(none.text(), "ab");
}

TEST(LineEditor, Painting) {
    struct {
        const char* name;
        std::string prompt;
        std::string keys;
        int columns;
        std::vector<style_run> styles;
        std::string painted;
    } cases[] = {
        {"prompt and line", ">> ", "ab", 80, {}, ">> ab"},
        {"caret inside", ">> ", "abc" + LEFT + LEFT, 80, {}, ">> abc\r\x1b[4C"},
        {"caret at the start of the line", "", "abc\x01", 80, {}, "abc\r"},
        {"styles", "", "x: 1 b", 80, {{0, 2, "31"}, {3, 1, "33;1"}},
         "\x1b[0;31mx:\x1b[0m \x1b[0;33;1m1\x1b[0m b"},
        {"ranges past the end are cut", "", "ab", 80, {{1, 9, "31"}, {7, 2, "32"}}, "a\x1b[0;31mb\x1b[0m"},
        {"a full row moves the cursor on", "> ", "abc", 5, {}, "> abc\r\n"},
        {"wrapped, caret on the first row", "> ", "abcdef\x01", 5, {}, "> abcdef\x1b[1A\r\x1b[2C"},
        {"a wide character that does not fit wraps", "> ", "ab\xe7\x95\x8c", 5, {}, "> ab\xe7\x95\x8c"},
        {"the caret before it is on the next row", "> ", "ab\xe7\x95\x8c" + LEFT, 5, {}, "> ab\xe7\x95\x8c\r"},
        {"a combining mark takes no column", "", "e\xcc\x81x" + LEFT, 80, {}, "e\xcc\x81x\r\x1b[1C"},
    };
    for (const auto& c : cases) {
        session s(c.prompt, nullptr);
        feed(s, c.keys);
        EXPECT_EQ(s.render(c.columns, c.styles), c.painted) << c.name;
    }
}

TEST(LineEditor, RepaintingAndFinishing) {
    history past;
    past.add("[1\n2]", false);
    past.add("a\x01z", false);
    session s("> ", &past);
    feed(s, "abcdef\x01");
    s.render(5, {});
    // A repaint goes back to the prompt's row and clears below it.
    EXPECT_EQ(s.render(5, {}), "\r\x1b[J> abcdef\x1b[1A\r\x1b[2C");
    // The end of the line is below the caret: the cursor goes there first.
    EXPECT_EQ(s.finish(5), "\x1b[1B\r\n");
    // A recalled entry of several lines, and one holding a control character.
    feed(s, UP);
    EXPECT_EQ(s.render(80, {}), "\r\x1b[J> a^Az");
    feed(s, UP);
    EXPECT_EQ(s.render(80, {}), "\r\x1b[J> [1\r\n2]");
    EXPECT_EQ(s.render(80, {}), "\x1b[1A\r\x1b[J> [1\r\n2]");
    EXPECT_EQ(s.finish(80), "\r\n");
    // A line that fills its last row is finished where the cursor is.
    session full("> ", nullptr);
    feed(full, "abc");
    full.render(5, {});
    EXPECT_EQ(full.finish(5), "\r");
    // After a listing the paint starts afresh.
    full.forget_paint();
    EXPECT_EQ(full.render(80, {}), "> abc");
}

}  // namespace
