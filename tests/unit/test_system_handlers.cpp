// The lexer tracer of the system object, whose lines go to the standard
// output.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tests/unit/natives_fixture.h"

using namespace kiv;
using namespace kiv::test;

namespace {

using SystemHandlers = NativesTest;

// What the code prints on the standard output.
std::string printed(const std::function<void()>& code) {
    char name[] = "/tmp/kiv-out-XXXXXX";
    int fd = mkstemp(name);
    fflush(stdout);
    int saved = dup(STDOUT_FILENO);
    dup2(fd, STDOUT_FILENO);
    close(fd);
    code();
    dup2(saved, STDOUT_FILENO);
    close(saved);
    std::ifstream in(name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    std::remove(name);
    return s.str();
}

}  // namespace

TEST_F(SystemHandlers, TheLexerTracerPrintsOneAlignedLinePerEvent) {
    bool result = true;
    std::string out = printed([&] {
        result = logic_run("system/lexer/tracer 'scan \"abc def\" word! 3 'abc");
    });
    EXPECT_TRUE(result);
    EXPECT_EQ(out, "SCAN     word!        abc          3    \"abc def\"\n");
    out = printed([&] {
        result = logic_run("system/lexer/tracer 'error \"a very long input text\" none 12 \"a very long token\"");
    });
    EXPECT_FALSE(result);
    // Molds cut at 12 and 16 characters.
    EXPECT_EQ(out, "ERROR    none         \"a very long 12   \"a very long inp\n");
}
