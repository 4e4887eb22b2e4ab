// Output, text and conversion natives: print and prin through the console and
// the print hooks, dehex and enhex, case changes, as, and transcode.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "runtime/console_out.h"
#include "runtime/evaluator/natives.h"
#include "runtime/print_hooks.h"
#include "tests/unit/lexed_source.h"
#include "tests/unit/natives_fixture.h"

using namespace kiv;
using namespace kiv::test;

namespace {

constexpr uint32_t UNSET = TYPE_UNSET;

std::vector<std::string> first_hook, second_hook;

std::string hooked(kiv_value* text, bool lf) { return text_of(*text) + (lf ? "|lf" : ""); }
void first_printer(kiv_value* text, bool lf) { first_hook.push_back(hooked(text, lf)); }
void second_printer(kiv_value* text, bool lf) { second_hook.push_back(hooked(text, lf)); }

// Console output goes to a temporary file; two value printers record what
// they are handed.
class OutputNatives : public NativesTest {
  protected:
    void SetUp() override {
        NativesTest::SetUp();
        file = std::tmpfile();
        ASSERT_NE(file, nullptr);
        saved_fd = console::output_fd;
        console::output_fd = fileno(file);
        console::probe();
        first_hook.clear();
        second_hook.clear();
        dyn_print::add(first_printer, nullptr);
        dyn_print::add(second_printer, nullptr);
    }
    void TearDown() override {
        dyn_print::remove(first_printer, nullptr);
        dyn_print::remove(second_printer, nullptr);
        console::output_fd = saved_fd;
        console::probe();
        std::fclose(file);
    }
    std::string written() {
        std::string out;
        char chunk[4096];
        ssize_t n;
        for (off_t at = 0; (n = pread(fileno(file), chunk, sizeof chunk, at)) > 0; at += n) out.append(chunk, size_t(n));
        return out;
    }
    void rewind_output() {
        ASSERT_EQ(ftruncate(fileno(file), 0), 0);
        ASSERT_EQ(lseek(fileno(file), 0, SEEK_SET), 0);
    }
    uint32_t buffered() { return length_of(*natives::print_buffer()); }

    FILE* file = nullptr;
    int saved_fd = -1;
};

using TextNatives = NativesTest;

}  // namespace

TEST_F(OutputNatives, PrintFormsItsValueAndEndsTheLine) {
    struct {
        const char* code;
        const char* printed;
    } cases[] = {
        {"print \"abc\"", "abc\n"},
        {"print next \"abc\"", "bc\n"},
        {"print 1.5", "1.5\n"},
        {"print none", "none\n"},
        {"print 'a/b", "a/b\n"},
        {"print []", "\n"},
        {"print [1 + 2 \"x\" [a b]]", "3 x a b\n"},
        {"print pick [(1 + 2)] 1", "1 + 2\n"},  // only a block is reduced
        {"prin \"a\" prin \"b\"", "ab"},
        {"prin [1 2] print \"\"", "1 2\n"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.code);
        rewind_output();
        EXPECT_EQ(type_run(c.code), UNSET);
        EXPECT_EQ(written(), c.printed);
        EXPECT_EQ(buffered(), 0u);
    }
}

TEST_F(OutputNatives, EveryValuePrinterGetsTheTextAndTheLineFlag) {
    run("print [1 2] prin \"x\"");
    std::vector<std::string> expected{"1 2|lf", "x"};
    EXPECT_EQ(first_hook, expected);
    EXPECT_EQ(second_hook, expected);
    EXPECT_FALSE(natives::last_lf_q);
    run("print \"\"");
    EXPECT_TRUE(natives::last_lf_q);
}

TEST_F(OutputNatives, TextIsWrittenAsUtf8) {
    run(lexed("print \"é€\""));
    EXPECT_EQ(written(), "\xC3\xA9\xE2\x82\xAC\n");
}

TEST_F(OutputNatives, AStringCursorPastItsTailPrintsNothing) {
    kiv_value s = str("abc");
    s.data1 = 10;
    define_word("far-string", s);
    run("print far-string");
    EXPECT_EQ(written(), "\n");
}

TEST_F(OutputNatives, APrintInsideAPrintKeepsTheOuterLine) {
    run("print [\"a\" do [print [\"b\" 2] 3] \"c\"]");
    EXPECT_EQ(written(), "b 2\na 3 c\n");
    EXPECT_EQ(buffered(), 0u);
}

TEST_F(OutputNatives, AnErrorOrAnExitInTheBlockPrintsNothingAndEmptiesTheBuffer) {
    expect_raises("print [\"a\" 1 / 0]", err::MATH, err::math::zero_divide);
    EXPECT_EQ(buffered(), 0u);
    EXPECT_EQ(int_run("loop 1 [print [\"a\" break/return 7]]"), 7);
    EXPECT_EQ(buffered(), 0u);
    EXPECT_EQ(int_run("f: func [] [print [\"b\" return 8]] f"), 8);
    EXPECT_EQ(buffered(), 0u);
    EXPECT_EQ(written(), "");
    EXPECT_TRUE(first_hook.empty());
}

TEST_F(TextNatives, DehexDecodesEscapesIntoANewString) {
    struct {
        const char* code;
        const char* expected;  // Kiv text of the expected string
    } cases[] = {
        {"dehex \"a%20b\"", "\"a b\""},
        {"dehex \"%C3%A9t%c3%a9\"", "\"été\""},
        {"dehex \"%E9\"", "\"é\""},  // a byte that begins no sequence is its own code point
        {"dehex \"%zz%2\"", "\"%zz%2\""},
        {"dehex \"100%\"", "\"100%\""},
        {"dehex next \"a%41\"", "\"A\""},
        {"dehex http://x/a%20b", "\"http://x/a b\""},
        {"enhex \"a b\"", "\"a%20b\""},
        {"enhex \"é\"", "\"%C3%A9\""},
        {"enhex \"a/b?c=d&e#f\"", "\"a/b?c=d&e#f\""},
        {R"(enhex {<>^"\})", R"("%3C%3E%22%5C")"},
        {"enhex %\"a b\"", "\"a%20b\""},
        {"dehex enhex \"ü€𝄞 %\"", "\"ü€𝄞 %\""},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_TRUE(logic_run(lexed(std::string("(") + c.code + ") == " + c.expected)));
    }
    EXPECT_EQ(type_run(lexed("dehex %a%20b")), uint32_t(TYPE_STRING));
    EXPECT_TRUE(logic_run("s: \"a\" not same? s dehex s"));
}

TEST_F(TextNatives, UppercaseAndLowercaseChangeTheArgument) {
    struct {
        const char* code;
        const char* expected;
    } cases[] = {
        {"uppercase \"abc\"", "\"ABC\""},
        {"lowercase \"ABC\"", "\"abc\""},
        {"head uppercase next \"abc\"", "\"aBC\""},
        {"uppercase/part \"abcd\" 2", "\"ABcd\""},
        {"uppercase/part \"abcd\" 2.9", "\"ABcd\""},
        {"uppercase/part \"abcd\" -1", "\"abcd\""},
        {"uppercase/part \"abcd\" 99", "\"ABCD\""},
        {"s: \"abcd\" uppercase/part s next next s", "\"ABcd\""},
        {"uppercase \"éσ\"", "\"ÉΣ\""},
        {"uppercase \"aÿ\"", "\"AŸ\""},  // widens the buffer
        {"lowercase \"ÉΣ\"", "\"éσ\""},
        {"uppercase #\"q\"", "#\"Q\""},
        {"lowercase #\"Ж\"", "#\"ж\""},
        {"uppercase %a.txt", "%A.TXT"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_TRUE(logic_run(lexed(std::string("(") + c.code + ") == " + c.expected)));
    }
    EXPECT_TRUE(logic_run("s: \"abc\" same? s uppercase s"));
    EXPECT_EQ(mold_of("s: \"abc\" uppercase s s"), "\"ABC\"");
    expect_raises("uppercase/part \"abc\" \"ab\"", err::SCRIPT, err::script::invalid_refine_arg);
}

TEST_F(TextNatives, AsRetypesASeriesWithinItsClass) {
    struct {
        const char* code;
        const char* molded;
    } cases[] = {
        {"as paren! [1 2]", "(1 2)"},
        {"as path! [a b]", "a/b"},
        {"as block! 'a/b", "[a b]"},
        {"as set-path! [a b]", "a/b:"},
        {"as paren! next [1 2]", "(2)"},
        {"as [] pick [(a b)] 1", "[a b]"},
        {"as file! \"a b\"", "%\"a b\""},
        {"as string! %abc", "\"abc\""},
        {"as url! \"http://x\"", "http://x"},
        {"as \"\" http://x", "\"http://x\""},
        {"b: [1 2] p: as paren! b append b 3 p", "(1 2 3)"},  // the data is shared
        {"as tag! \"a b\"", "<a b>"},
        {"as email! \"u@h\"", "u@h"},
        {"as ref! next \"xuser\"", "@user"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(mold_of(lexed(c.code)), c.molded);
    }
    expect_raises("as string! [1]", err::SCRIPT, err::script::not_same_class);
    expect_raises("as block! \"a\"", err::SCRIPT, err::script::not_same_class);
    expect_raises("as integer! \"1\"", err::SCRIPT, err::script::not_same_class);
    EXPECT_NE(formed(error_of("as string! [1]")).find("cannot coerce block! to string!"), std::string::npos);
}

TEST_F(TextNatives, TranscodeLoadsText) {
    struct {
        const char* code;
        const char* molded;
    } cases[] = {
        {"transcode {1 [a] b}", "[1 [a] b]"},
        {"transcode {}", "[]"},
        {"transcode next {1 2}", "[2]"},
        {"transcode/one {x: 2}", "x:"},
        {"transcode/next {1 [a] b}", "[1 \" [a] b\"]"},
        {"transcode/next next {1 [a] b}", "[[a] \" b\"]"},
        {"pick transcode/next {1 [a] b} 2", "\" [a] b\""},
        {"transcode/part {1 2 3} 3", "[1 2]"},
        {"transcode/part {1 2 3} -1", "[]"},
        {"transcode/into {3 4} [1 2]", "[1 2 3 4]"},
        {"head transcode/one/into {3 4} [1 2]", "[1 2 3]"},
        {"transcode/prescan {1 2}", "integer!"},
        {"transcode/scan {abc}", "word!"},
        {"transcode/scan {}", "none"},
        {"transcode/scan {1a}", "error!"},  // reported, not raised
        {"transcode/prescan {[a] 2}", "block!"},
        {"transcode {%a.txt #\"c\" 0:01}", "[%a.txt #\"c\" 0:01:00]"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(mold_of(lexed(c.code)), c.molded);
    }
    EXPECT_EQ(type_run("transcode/one \"\""), UNSET);
    expect_raises("transcode \"[1\"", err::SYNTAX, err::syntax::missing);
}
