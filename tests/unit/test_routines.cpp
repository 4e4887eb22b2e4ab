// Routines bound to global words that the Kiv tables cannot reach: the
// process exit, the command line, and UTF-8 counting over bytes.
#include <cstring>
#include <tuple>

#include "library/routines.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/word.h"
#include "runtime/system.h"
#include "tests/unit/natives_fixture.h"

using namespace kiv;
using namespace kiv::test;

namespace {

using Routines = NativesTest;
using RoutinesDeathTest = NativesTest;

// A binary! value over the bytes, as the binary module will make them.
kiv_value binary_of(const std::string& bytes) {
    node_id n = memory::alloc_bytes(uint32_t(bytes.size()));
    series_buffer* b = series::buffer(n);
    std::memcpy(b->offset, bytes.data(), bytes.size());
    b->tail = b->offset + bytes.size();
    return kiv_value{TYPE_BINARY, 0, n, 0};
}

void define(const char* name, const kiv_value& value) {
    kiv_value w = *word::load(name);
    _context::set(&w, &value);
}

// Runs extract-boot-args on a command line of its own.
class CommandLine {
  public:
    explicit CommandLine(std::vector<const char*> args) : args_(std::move(args)) {
        saved_argc_ = system::argc;
        saved_argv_ = system::argv;
        args_.push_back(nullptr);
        system::argc = int(args_.size() - 1);
        system::argv = const_cast<char**>(args_.data());
    }
    ~CommandLine() {
        system::argc = saved_argc_;
        system::argv = saved_argv_;
    }

  private:
    std::vector<const char*> args_;
    int saved_argc_;
    char** saved_argv_;
};

}  // namespace

TEST_F(Routines, CountCharsCountsUtf8Characters) {
    // "a", e acute (two bytes), a CJK character (three), an emoji (four).
    kiv_value bytes = binary_of("a\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80z");
    define("bytes-test", bytes);
    auto at = [&](const char* name, uint32_t index) {
        kiv_value pos = bytes;
        pos.data1 = index;
        define(name, pos);
    };
    const std::tuple<uint32_t, uint32_t, int32_t> cases[] = {
        {0, 6, 3}, {0, 11, 5}, {1, 3, 1}, {0, 0, 0}, {6, 11, 2},
    };
    for (const auto& [from, to, count] : cases) {
        at("from-test", from);
        at("to-test", to);
        EXPECT_EQ(int_run("count-chars from-test to-test"), count) << from << " to " << to;
    }
    // Positions of two different series are refused, not walked.
    define("other-test", binary_of("abc"));
    expect_raises("count-chars bytes-test other-test", err::SCRIPT, err::script::invalid_arg);
}

TEST_F(Routines, ExtractBootArgsTakesTheCommandLineAsGiven) {
    {
        CommandLine line({"/opt/my kiv/kiv", "script.kiv", "an arg", "", "--x"});
        EXPECT_EQ(mold_of("extract-boot-args"), "[\"script.kiv\" \"an arg\" \"\" \"--x\"]");
    }
    EXPECT_EQ(mold_of("system/options/boot"), "\"/opt/my kiv/kiv\"");
    EXPECT_EQ(mold_of("system/options/args"), "[\"script.kiv\" \"an arg\" \"\" \"--x\"]");
    EXPECT_EQ(mold_of("system/script/args"), "{script.kiv \"an arg\" \"\" --x}");
    {
        CommandLine line({"kiv"});
        EXPECT_EQ(mold_of("extract-boot-args"), "[]");
    }
    EXPECT_EQ(mold_of("system/options/boot"), "\"kiv\"");
    EXPECT_EQ(mold_of("system/script/args"), "\"\"");
}

TEST_F(RoutinesDeathTest, QuitReturnEndsTheProcessWithTheStatus) {
    EXPECT_EXIT(run("quit-return 3"), ::testing::ExitedWithCode(3), "");
    EXPECT_EXIT(run("quit-return -2"), ::testing::ExitedWithCode(254), "");
}
