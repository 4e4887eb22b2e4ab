// The preprocessor's messages: the trace lines, and the syntax, macro and
// directive-code errors, each of which stops the expansion with a halt
// request to the console. The values it expands to are tested by the Kiv
// cases of tests/kiv/preprocessor.kiv.
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "runtime/console_out.h"
#include "tests/unit/lexed_source.h"
#include "tests/unit/natives_fixture.h"

using namespace kiv;
using namespace kiv::test;

namespace {

// Console output goes to a temporary file, and a console object exists, so
// that a stop throws to it instead of ending the process.
class Preprocessor : public NativesTest {
  protected:
    void SetUp() override {
        NativesTest::SetUp();
        file = std::tmpfile();
        ASSERT_NE(file, nullptr);
        saved_fd = console::output_fd;
        console::output_fd = fileno(file);
        console::probe();
        run("system/console: make object! [] preprocessor/reset none");
    }
    void TearDown() override {
        run("system/console: none preprocessor/trace?: false");
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
    // The expansion of the block stops with a halt request after printing.
    std::string stop_of(const std::string& block) {
        rewind_output();
        EXPECT_EQ(mold_of(lexed("catch/name [expand-directives/clean " + block + "] 'console")), "halt-request") << block;
        return written();
    }

    FILE* file = nullptr;
    int saved_fd = -1;
};

struct printed_case {
    const char* block;
    const char* printed;
};

}  // namespace

TEST_F(Preprocessor, ASyntaxErrorShowsTheDirectiveUpToTheMissingOperand) {
    printed_case cases[] = {
        {"[a #if]", "#if"},
        {"[#if true]", "#if true"},
        {"[#if 1 < 2 x y]", "#if 1 < 2 x"},
        {"[#either true [a] b c]", "#either true [a]"},
        {"[#switch 1 x]", "#switch 1 x"},
        {"[#case 1]", "#case 1"},
        {"[#do 1 2]", "#do 1"},
        {"[#do keep 1]", "#do keep"},
        {"[#local x y]", "#local x"},
        {"[#trace maybe]", "#trace maybe"},
        {"[#process]", "#process"},
        {"[#include \"a.kiv\"]", "#include \"a.kiv\""},
        {"[#macro foo: bar [x] [x] 1]", "#macro foo: bar [x] [x]"},
        {"[#macro 1 func [x] [x]]", "#macro 1 func [x] [x]"},
        {"[\n    #if\n]", "#if"},  // leading line breaks trimmed
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.block);
        EXPECT_EQ(stop_of(c.block), std::string("*** Preprocessor Error: Syntax error\n*** Where: ") + c.printed + "\n");
    }
}

TEST_F(Preprocessor, MacroErrorsNameTheirCause) {
    printed_case cases[] = {
        {"[#macro integer! func [s] [s]]",
         "*** Macro Error: invalid specification\n*** Where: [integer! func [s]]\n"},
        {"[#macro [] func [s e] [s]]", "*** Macro Error: invalid specification\n*** Where: [[] func [s e]]\n"},
        {"[#macro m: func [/r x] [x]]", "*** Macro Error: invalid specification\n*** Where: [m: func [/r x]]\n"},
        {"[#macro m: func ['x] [x]]", "*** Macro Error: invalid specification\n*** Where: [m: func ['x]]\n"},
        {"[#macro m: func [x] [()] m 1]", "*** Macro Error: no value returned by m macro\n"},
        {"[#macro integer! func [[manual] s e] [1] 1]",
         "*** Macro Error: [manual] macro not returning a position\n*** Where: [func [[manual] s e][1] s e]\n"},
        {"[#if append/zz [] 1 [a]]", "*** Macro Error: unknown refinement\n*** Where: append/zz\n"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.block);
        EXPECT_EQ(stop_of(c.block), c.printed);
    }
}

TEST_F(Preprocessor, AnErrorInDirectiveCodeNamesTheDirectiveThenTheError) {
    printed_case cases[] = {
        {"[#do [1 / 0]]", "#do"},
        {"[#if 1 / 0 [a]]", "#if"},
        {"[#case [1 / 0 [a]]]", "#case"},
        {"[#macro integer! func [s e] [1 / 0] 1]", "#macro"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.block);
        EXPECT_EQ(stop_of(c.block).rfind(std::string("*** Preprocessor Error in ") + c.printed +
                                             "\n*** Math Error: attempt to divide by zero\n", 0),
                  0u);
    }
}

// A file of Kiv source under /tmp, removed with the test.
class SourceFile {
  public:
    explicit SourceFile(const std::string& text) {
        int fd = mkstemps(path_, 4);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(write(fd, text.data(), text.size()), ssize_t(text.size()));
        close(fd);
    }
    ~SourceFile() { unlink(path_); }
    std::string path() const { return path_; }

  private:
    char path_[32] = "/tmp/kiv-include-XXXXXX.kiv";
};

TEST_F(Preprocessor, AnIncludedFileLeavesItsDefinitionsAndIsDoneWhenTheCodeRuns) {
    SourceFile file("Kiv [Title: \"included\"]\n#macro twice: func [x] [reduce [x '* 2]]\n#do [from-file: 42]\n");
    EXPECT_EQ(mold_of(lexed("expand-directives/clean [#include %" + file.path() + " twice 5]")),
              "[do %" + file.path() + " 5 * 2]");
    EXPECT_EQ(int_run("preprocessor/exec/from-file"), 42);
}

// The file cannot be read or expanded: the expansion stops rather than
// going on without the file's macros.
TEST_F(Preprocessor, AnIncludeThatFailsStopsTheExpansion) {
    std::string printed = stop_of("[#include %no-such-file.kiv]");
    EXPECT_EQ(printed.rfind("*** Preprocessor Error in #include\n*** Access Error: cannot open: %no-such-file.kiv\n", 0),
              0u)
        << printed;
    SourceFile file("#if true\n");
    EXPECT_EQ(stop_of("[#include %" + file.path() + "]"), "*** Preprocessor Error: Syntax error\n*** Where: #if true\n");
}

TEST_F(Preprocessor, ErrorsOfNamedMacrosReachTheCaller) {
    expect_raises("expand-directives/clean [#macro m: func [x] [1 / x] m 0]", err::MATH, err::math::zero_divide);
    EXPECT_EQ(written(), "");
}

TEST_F(Preprocessor, TracingPrintsEveryStep) {
    printed_case cases[] = {
        {"[#if 1 < 2 [a]]", "preproc: #if [1 < 2]\npreproc: == true\n"},
        {"[#do [k: 1]]", "preproc: eval [k: 1]\n"},
        {"[#do keep [1 + 1]]", "preproc: eval [1 + 1]\npreproc: == 2\n"},
        {"[#macro integer! func [s e] [s/1 * 2] 3]",
         "preproc: matched [3]\npreproc: eval macro [s/1 * 2]\npreproc: == 6\n"},
        {"[#macro m: func [x] [x] m 3]", "preproc: eval macro [m 3]\npreproc: == 3\n"},
        {"[#case [false [a] true [b]]]",
         "preproc: #case [false]\npreproc: == false\npreproc: #case [true]\npreproc: == true\n"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.block);
        rewind_output();
        std::string block(c.block);
        run(lexed("expand-directives/clean [#trace on " + block.substr(1, block.size() - 2) + " #trace off]"));
        EXPECT_EQ(written(), c.printed);
    }
}

TEST_F(Preprocessor, ALongMacroBodyIsCutInTheTrace) {
    run("expand-directives/clean [#trace on #macro 'x func [s e] [[aaaaaaaaaa bbbbbbbbbb cccccccccc dddddddddd "
        "eeeeeeeeee ffffffffff gggggggggg hhhhhhhhhh]] x #trace off]");
    EXPECT_NE(written().find("preproc: eval macro [[aaaaaaaaaa bbbbbbbbbb cccccccccc dddddddddd eeeeeeeeee "
                             "ffffffffff gggggggggg h\n"),
              std::string::npos);
}

TEST_F(Preprocessor, DoExpandExpandsTheBlockInPlaceBeforeEvaluatingIt) {
    EXPECT_EQ(int_run("b: [#either 1 < 2 [3] [4]] do/expand b"), 3);
    EXPECT_EQ(mold_of("b"), "[3]");
    EXPECT_EQ(mold_of("b: [#if true [1] #if true [2]] do/expand next b b"), "[#if true [1] 2]");
    EXPECT_EQ(mold_of("b: [#if true [1 + 1] 5] reduce [do/expand/next b 'p p]"), "[2 [5]]");
    // no job and no reset: the macros of earlier expansions still apply
    EXPECT_EQ(int_run("preprocessor/expand [] make object! [] expand-directives [#macro m: func [] [5]] do/expand [m]"), 5);
    EXPECT_EQ(mold_of("preprocessor/exec/config"), "none");
}
