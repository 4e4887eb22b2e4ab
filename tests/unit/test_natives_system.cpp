// System natives: wait, to-local-file, size?, get-env and set-env, stats and
// recycle.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "runtime/collector.h"
#include "runtime/datatypes/file.h"
#include "runtime/evaluator/natives.h"
#include "runtime/runtime.h"
#include "tests/unit/lexed_source.h"
#include "tests/unit/natives_fixture.h"

using namespace kiv;
using namespace kiv::test;

namespace {

using SystemNatives = NativesTest;

constexpr uint32_t UNSET = TYPE_UNSET;
constexpr uint32_t NONE = TYPE_NONE;

uint32_t pumped = 0;
void count_pump() { pumped++; }

// A fresh directory under the system's temporary one, removed with its files.
class FileSizeNatives : public NativesTest {
  protected:
    void SetUp() override {
        NativesTest::SetUp();
        char name[] = "/tmp/kiv-size-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
    }
    void TearDown() override {
        for (const char* f : {"/five", "/empty"}) unlink((dir + f).c_str());
        rmdir(dir.c_str());
    }
    void write_file(const std::string& name, const std::string& content) {
        std::ofstream(dir + name, std::ios::binary) << content;
    }
    std::string dir;
};

}  // namespace

TEST_F(SystemNatives, WaitTakesSecondsAndReturnsNone) {
    EXPECT_EQ(type_run("wait 0"), NONE);
    EXPECT_EQ(type_run("wait 0.002"), NONE);
    EXPECT_EQ(type_run(lexed("wait 0:00:00.001")), NONE);
    EXPECT_EQ(type_run("wait -1"), NONE);
    expect_raises("wait [1]", err::SCRIPT, err::script::invalid_arg);
    expect_raises("wait none", err::SCRIPT, err::script::invalid_arg);
}

TEST_F(SystemNatives, WaitHandlesPendingEventsOnce) {
    natives::gui_do_events = count_pump;
    pumped = 0;
    run("wait 0 wait 0.001");
    natives::gui_do_events = nullptr;
    EXPECT_EQ(pumped, 2u);
}

TEST_F(SystemNatives, LocalFileNamesAreThePosixPaths) {
    kiv_value cwd;
    file::get_current_dir(&cwd);
    std::string here = text_of(cwd);
    struct {
        const char* code;
        std::string local;
    } cases[] = {
        {"to-local-file %/usr/lib/x.so", "/usr/lib/x.so"},
        {"to-local-file %a/b.txt", "a/b.txt"},
        {"to-local-file \"a/b\"", "a/b"},
        {"to-local-file next %/ab", "ab"},
        {"to-local-file/full %a/b.txt", here + "a/b.txt"},
        {"to-local-file/full %/a", "/a"},
        {"to-local-file/full \"\"", here},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.code);
        kiv_value v = run(lexed(c.code));
        EXPECT_EQ(type_of(&v), uint32_t(TYPE_STRING));
        EXPECT_EQ(text_of(v), c.local);
    }
}

TEST_F(FileSizeNatives, SizeOfAFileIsItsByteCount) {
    write_file("/five", "12345");
    write_file("/empty", "");
    EXPECT_EQ(int_run(lexed("size? %" + dir + "/five")), 5);
    EXPECT_EQ(int_run(lexed("size? %" + dir + "/empty")), 0);
    EXPECT_EQ(type_run(lexed("size? %" + dir)), NONE);  // a directory
    EXPECT_EQ(type_run(lexed("size? %" + dir + "/missing")), NONE);
    EXPECT_EQ(type_run(lexed("size? %" + dir + "/five/x")), NONE);
    // The system would cut the name at a NUL and size another file.
    expect_raises(lexed("size? as file! \"" + dir + "/five^@x\""), err::SCRIPT, err::script::invalid_arg);
}

TEST_F(SystemNatives, EnvironmentVariablesAreSetReadAndRemoved) {
    EXPECT_EQ(mold_of("set-env \"KIV_NATIVES_VAR\" \"v1\""), "\"v1\"");
    EXPECT_STREQ(std::getenv("KIV_NATIVES_VAR"), "v1");
    EXPECT_EQ(mold_of("get-env \"KIV_NATIVES_VAR\""), "\"v1\"");
    EXPECT_EQ(mold_of("get-env 'KIV_NATIVES_VAR"), "\"v1\"");
    EXPECT_EQ(mold_of(lexed("get-env %KIV_NATIVES_VAR")), "\"v1\"");
    run("set-env 'KIV_NATIVES_VAR \"\"");
    EXPECT_EQ(mold_of("get-env \"KIV_NATIVES_VAR\""), "\"\"");
    EXPECT_EQ(type_run("set-env \"KIV_NATIVES_VAR\" none"), NONE);
    EXPECT_EQ(std::getenv("KIV_NATIVES_VAR"), nullptr);
    EXPECT_EQ(type_run("get-env \"KIV_NATIVES_VAR\""), NONE);
    EXPECT_EQ(type_run("set-env \"KIV_NATIVES_VAR\" none"), NONE);  // removing an absent one is no error
    // Text crosses as UTF-8 both ways.
    run(lexed("set-env \"KIV_NATIVES_VAR\" \"é€\""));
    EXPECT_STREQ(std::getenv("KIV_NATIVES_VAR"), "\xC3\xA9\xE2\x82\xAC");
    EXPECT_TRUE(logic_run(lexed("(get-env \"KIV_NATIVES_VAR\") == \"é€\"")));
    unsetenv("KIV_NATIVES_VAR");
}

TEST_F(SystemNatives, EnvironmentNamesTheSystemCannotHoldAreRefused) {
    const char* refused[] = {
        "set-env \"\" \"x\"",
        "set-env \"A=B\" \"x\"",
        "get-env \"A=B\"",
        "get-env \"\"",
        "set-env \"KIV_NATIVES_VAR^@X\" \"x\"",
        "set-env \"KIV_NATIVES_VAR\" \"a^@b\"",
    };
    for (const char* code : refused) {
        SCOPED_TRACE(code);
        expect_raises(lexed(code), err::SCRIPT, err::script::invalid_arg);
    }
    EXPECT_EQ(std::getenv("KIV_NATIVES_VAR"), nullptr);
}

TEST_F(SystemNatives, StatsCountsTheMemoryInUse) {
    int32_t before = int_run("stats");
    EXPECT_GT(before, 0);
    int32_t after = int_run("s: make string! 1000000 stats");
    EXPECT_GE(after - before, 1000000);
    run("s: none");
}

TEST_F(SystemNatives, StatsInfoDetailsEveryFrame) {
    kiv_value info = run("stats/info");
    ASSERT_EQ(type_of(&info), uint32_t(TYPE_BLOCK));
    ASSERT_EQ(length_of(info), 5u);
    kiv_value* parts = cells_of(info);
    for (uint32_t i = 0; i < 3; i++) EXPECT_EQ(type_of(parts + i), uint32_t(TYPE_BLOCK)) << i;
    EXPECT_EQ(type_of(parts + 3), uint32_t(TYPE_INTEGER));
    EXPECT_EQ(type_of(parts + 4), uint32_t(TYPE_INTEGER));
    EXPECT_GT(int_of(parts[3]), int_of(parts[4]));  // the heap is part of what was taken
    // One [free used total] per node frame and per series frame, on a line each.
    for (uint32_t k = 0; k < 2; k++) {
        kiv_value frames = parts[k];
        ASSERT_GE(length_of(frames), 1u);
        for (uint32_t i = 0; i < length_of(frames); i++) {
            kiv_value triple = cells_of(frames)[i];
            EXPECT_NE(triple.header & FLAG_NEW_LINE, 0u);
            ASSERT_EQ(length_of(triple), 3u);
            kiv_value* n = cells_of(triple);
            EXPECT_EQ(int_of(n[0]) + int_of(n[1]), int_of(n[2]));
        }
    }
    EXPECT_EQ(int_of(cells_of(cells_of(parts[0])[0])[2]), int32_t(NODES_PER_FRAME));
}

TEST_F(SystemNatives, StatsShowCallsTheLibrarySummary) {
    // The report gets the detailed figures: node frames, series frames, big
    // allocations and the two totals.
    EXPECT_EQ(int_run("saved: :show-memory-stats shown: 0 "
                      "show-memory-stats: func [data] [shown: length? data] stats/show "
                      "show-memory-stats: :saved shown"),
              5);
}

TEST_F(SystemNatives, RecycleCollectsOrSwitchesTheCollector) {
    bool was_active = collector::active_q;
    uint32_t cycles = collector::stats().cycles;
    EXPECT_GT(int_run("recycle"), 0);
    EXPECT_GT(collector::stats().cycles, cycles);
    EXPECT_EQ(type_run("recycle/off"), UNSET);
    EXPECT_FALSE(collector::active_q);
    EXPECT_EQ(type_run("recycle/on"), UNSET);
    EXPECT_TRUE(collector::active_q);
    EXPECT_EQ(type_run("recycle/on/off"), UNSET);
    EXPECT_FALSE(collector::active_q);
    collector::active_q = was_active;
}
