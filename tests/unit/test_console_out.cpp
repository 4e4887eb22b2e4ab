// Text console output: UTF-8 encoding, line ends, escapes, buffering, the
// console flag and the number printers' hook texts.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "runtime/console_out.h"
#include "runtime/print_hooks.h"

using namespace kiv;

namespace {

std::vector<std::string> hooked;

void capture(const char* text, uint32_t length, bool lf) {
    hooked.push_back(std::string(text, length) + (lf ? "|lf" : ""));
}

// Output goes to a temporary file that the test reads back.
class ConsoleOut : public ::testing::Test {
  protected:
    void SetUp() override {
        file = std::tmpfile();
        ASSERT_NE(file, nullptr);
        saved_fd = console::output_fd;
        console::output_fd = fileno(file);
        console::probe();
        hooked.clear();
        dyn_print::add(nullptr, capture);
    }
    void TearDown() override {
        dyn_print::remove(nullptr, capture);
        console::output_fd = saved_fd;
        console::probe();
        std::fclose(file);
    }
    std::string written() {
        std::string out;
        char chunk[4096];
        ssize_t n;
        for (off_t at = 0; (n = pread(fileno(file), chunk, sizeof chunk, at)) > 0; at += n)
            out.append(chunk, size_t(n));
        return out;
    }
    void rewind_output() {
        ASSERT_EQ(ftruncate(fileno(file), 0), 0);
        ASSERT_EQ(lseek(fileno(file), 0, SEEK_SET), 0);
    }

    FILE* file = nullptr;
    int saved_fd = 1;
};

// Code units laid out in memory at the given width.
std::string units(const std::vector<uint32_t>& us, uint32_t width) {
    std::string out;
    for (uint32_t u : us) out.append(reinterpret_cast<const char*>(&u), width);
    return out;
}

void write_units(const std::vector<uint32_t>& us, uint32_t width, bool lf) {
    std::string text = units(us, width);
    console::write(text.data(), uint32_t(text.size()), width, lf);
}

TEST_F(ConsoleOut, EncodesEveryUnitWidthAsUtf8) {
    struct {
        std::vector<uint32_t> text;
        uint32_t width;
        std::string bytes;
    } cases[] = {
        {{'A', 0xE9, 0xFF}, 1, "A\xC3\xA9\xC3\xBF"},
        {{0x20AC}, 2, "\xE2\x82\xAC"},
        {{0xD83D, 0xDE00}, 2, "\xF0\x9F\x98\x80"},           // a surrogate pair
        {{0xD800, 'A', 0xDC00}, 2, "\xED\xA0\x80" "A\xED\xB0\x80"},  // lone halves
        {{'x', 0xD83D}, 2, "x\xED\xA0\xBD"},                  // high half at the end
        {{0x20AC, 0x1F600, 0x10FFFF}, 4, "\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"},
    };
    for (const auto& c : cases) {
        rewind_output();
        write_units(c.text, c.width, false);
        EXPECT_EQ(written(), c.bytes) << "unit width " << c.width;
    }
}

TEST_F(ConsoleOut, ALineEndsWithOneLineFeed) {
    console::write("ok", 2, 1, true);
    console::write("", 0, 1, true);
    write_units({'w', 'i', 'd', 'e'}, 2, true);
    EXPECT_EQ(written(), "ok\n\nwide\n");
}

TEST_F(ConsoleOut, EscapeSequencesAreWrittenAsText) {
    const std::string text = "\x1b[1;31mred\x1b[0m \x1b[2J\x1b[5;10H\x1bx";
    console::write(text.data(), uint32_t(text.size()), 1, false);
    std::vector<uint32_t> wide(text.begin(), text.end());
    write_units(wide, 2, false);
    write_units(wide, 4, false);
    EXPECT_EQ(written(), text + text + text);
}

// Longer than the output buffer, so it goes out in several writes.
TEST_F(ConsoleOut, LongTextArrivesWholeAndInOrder) {
    struct {
        uint32_t width;
        uint32_t wide_unit;
        std::string wide_bytes;
    } cases[] = {
        {1, 0xE9, "\xC3\xA9"},
        {2, 0x20AC, "\xE2\x82\xAC"},
        {4, 0x1F600, "\xF0\x9F\x98\x80"},
    };
    for (const auto& c : cases) {
        std::vector<uint32_t> text;
        std::string expected;
        for (uint32_t i = 0; i < 1200; i++) {
            if (i % 4 == 3) {
                text.push_back(c.wide_unit);
                expected += c.wide_bytes;
            } else {
                char letter = char('a' + i / 4 % 26);
                text.push_back(uint32_t(letter));
                expected += letter;
            }
        }
        rewind_output();
        write_units(text, c.width, true);
        EXPECT_EQ(written(), expected + "\n") << "unit width " << c.width;
    }
}

TEST_F(ConsoleOut, TheConsoleFlagTellsATerminalFromAFile) {
    EXPECT_FALSE(console::tty_q);

    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        if (master >= 0) close(master);
        GTEST_SKIP() << "no pseudo-terminal available";
    }
    int terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    console::output_fd = terminal;
    console::probe();
    EXPECT_TRUE(console::tty_q);
    close(terminal);
    close(master);
}

TEST_F(ConsoleOut, NumberPrintersWriteAndHookTheirTexts) {
    struct {
        std::function<void()> print;
        std::string text;
    } cases[] = {
        {[] { platform::prin_int(-42); }, "-42"},
        {[] { platform::prin_int(INT32_MIN); }, "-2147483648"},
        {[] { platform::prin_2hex(10); }, "0A"},
        {[] { platform::prin_2hex(255); }, "FF"},
        {[] { platform::prin_hex(255); }, "000000FF"},
        {[] { platform::prin_hex(0xDEADBEEF); }, "DEADBEEF"},
        // %g drops trailing zeros: 0.1 to 16 digits is "0.1".
        {[] { platform::prin_float(0.1); }, "0.1"},
        {[] { platform::prin_float(1.0 / 3.0); }, "0.3333333333333333"},
        {[] { platform::prin_float(123456789012345678.0); }, "1.234567890123457e+17"},
        {[] { platform::prin_float(-0.0); }, "-0"},
        {[] { platform::prin_float(-HUGE_VAL); }, "-inf"},
        {[] { platform::prin_float32(0.1f); }, "0.1"},
        {[] { platform::prin_float32(1.0f / 3.0f); }, "0.3333333"},
        {[] { platform::prin_float32(3.4028235e38f); }, "3.402823e+38"},
    };
    std::string all;
    for (const auto& c : cases) {
        hooked.clear();
        c.print();
        EXPECT_EQ(hooked, std::vector<std::string>{c.text});
        all += c.text;
    }
    EXPECT_EQ(written(), all);
}

TEST_F(ConsoleOut, CStringsAreWrittenAsTheyAre) {
    const char* text = "caf\xC3\xA9 \xFF\x1b[0m";
    EXPECT_EQ(platform::prin_cstr(text), text);
    EXPECT_EQ(written(), text);
    EXPECT_EQ(hooked, std::vector<std::string>{text});
}

}  // namespace
