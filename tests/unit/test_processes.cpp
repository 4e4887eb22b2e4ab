// The process layer on its own: command words, streams in memory and in
// files, statuses, and children left to run.
#include "runtime/io/processes.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace kiv::processes {
namespace {

using words = std::vector<std::string>;

TEST(Processes, SplitCommandGroupsQuotedText) {
    struct {
        const char* line;
        words expected;
    } cases[] = {
        {"", {}},
        {"   ", {}},
        {"ls", {"ls"}},
        {"  a\tb \n c  ", {"a", "b", "c"}},
        {"printf \"%s|\" \"a b\" c", {"printf", "%s|", "a b", "c"}},
        {"x \"\" y", {"x", "", "y"}},
        {"a\"b c\"d", {"ab cd"}},
        {"say \\\"hi\\\"", {"say", "\"hi\""}},
        {"'single quotes' stay", {"'single", "quotes'", "stay"}},
    };
    for (auto& c : cases) EXPECT_EQ(split_command(c.line), c.expected) << c.line;
}

struct ran {
    launch_result result;
    int64_t status;
    std::string out, err;
};

ran run_words(const words& argv, const std::string& text, bool shell, const std::string& input = "",
              bool feed = false) {
    stream in, out, err;
    if (feed) {
        in.kind = STREAM_MEMORY;
        in.bytes = input;
    }
    out.kind = err.kind = STREAM_MEMORY;
    ran r;
    r.result = run(argv, text, shell, true, in, out, err, &r.status);
    r.out = out.bytes;
    r.err = err.bytes;
    return r;
}

TEST(Processes, StreamsAndStatusAreCaughtApart) {
    ran r = run_words({"sh", "-c", "printf out; printf err >&2; exit 5"}, "", false);
    EXPECT_EQ(r.result, LAUNCHED);
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.out, "out");
    EXPECT_EQ(r.err, "err");
}

TEST(Processes, InputAndOutputLargerThanPipesDoNotStall) {
    // cat writes back while it is still being fed: one after the other,
    // both pipes would fill up.
    std::string big(4 << 20, '\0');
    for (size_t i = 0; i < big.size(); i++) big[i] = char(i * 7 + i / 251);
    ran r = run_words({"cat"}, "cat", false, big, true);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out == big);
}

TEST(Processes, AChildThatStopsReadingEndsTheFeedQuietly) {
    std::string big(1 << 20, 'x');
    ran r = run_words({"head", "-c", "3"}, "", false, big, true);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "xxx");
}

TEST(Processes, SignalsReportAboveOneHundredTwentyEight) {
    EXPECT_EQ(run_words({}, "kill -KILL $$", true).status, 128 + SIGKILL);
    EXPECT_EQ(run_words({}, "kill -PIPE $$", true).status, 128 + SIGPIPE);
}

TEST(Processes, AMissingProgramGoesThroughTheShell) {
    ran r = run_words({"kiv-no-such-program", "x"}, "kiv-no-such-program x", false);
    EXPECT_EQ(r.result, LAUNCHED);
    EXPECT_EQ(r.status, 127);
    EXPECT_NE(r.err.find("kiv-no-such-program"), std::string::npos);
}

TEST(Processes, FilesAreReadAndAppendedTo) {
    char dir[] = "/tmp/kiv-processes-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string in_path = std::string(dir) + "/in", out_path = std::string(dir) + "/out";
    std::ofstream(in_path) << "abc";
    std::ofstream(out_path) << "start:";
    stream in, out, err;
    in.kind = out.kind = STREAM_FILE;
    in.path = in_path;
    out.path = out_path;
    err.kind = STREAM_NULL;
    int64_t status = -1;
    EXPECT_EQ(run({"cat"}, "cat", false, true, in, out, err, &status), LAUNCHED);
    EXPECT_EQ(status, 0);
    std::stringstream got;
    got << std::ifstream(out_path).rdbuf();
    EXPECT_EQ(got.str(), "start:abc");

    in.path = std::string(dir) + "/missing";
    EXPECT_EQ(run({"cat"}, "cat", false, true, in, out, err, &status), BAD_INPUT);
    in.kind = STREAM_NULL;
    out.path = std::string(dir) + "/no/such/dir";
    EXPECT_EQ(run({"cat"}, "cat", false, true, in, out, err, &status), BAD_OUTPUT);
    err.kind = STREAM_FILE;
    err.path = out.path;
    out.kind = STREAM_NULL;
    EXPECT_EQ(run({"cat"}, "cat", false, true, in, out, err, &status), BAD_ERROR);
    std::remove(in_path.c_str());
    std::remove(out_path.c_str());
    rmdir(dir);
}

TEST(Processes, ChildrenNotWaitedForAreReaped) {
    stream in, out, err;
    out.kind = err.kind = STREAM_NULL;
    int64_t pid = -1;
    ASSERT_EQ(run({"true"}, "true", false, false, in, out, err, &pid), LAUNCHED);
    ASSERT_GT(pid, 0);
    // An unreaped child stays a zombie that kill still finds; the waiter in
    // the background takes it away without anyone here waiting for it.
    while (kill(pid_t(pid), 0) == 0) usleep(1000);
    EXPECT_EQ(errno, ESRCH);
}

}  // namespace
}  // namespace kiv::processes
