// ANSI escape sequences: parsing, consumed counts and SGR attributes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/ansi.h"

using namespace kiv;
using ansi::command_kind;

namespace {

// Parses an ASCII sequence laid out at the given unit width.
uint32_t parse(const std::string& text, ansi::command& out, uint32_t width = 1) {
    std::vector<uint8_t> units;
    for (unsigned char ch : text)
        for (uint32_t b = 0; b < width; b++) units.push_back(b == 0 ? ch : 0);
    return ansi::parse(units.data(), uint32_t(units.size()), width, out);
}

TEST(Ansi, DecodesEachCommand) {
    struct {
        std::string text;
        command_kind kind;
        uint32_t n, column, row;
    } cases[] = {
        {"\x1b[s", command_kind::save_cursor, 0, 0, 0},
        {"\x1b[u", command_kind::restore_cursor, 0, 0, 0},
        {"\x1b[H", command_kind::home, 0, 0, 0},
        {"\x1b[f", command_kind::home, 0, 0, 0},
        {"\x1b[J", command_kind::erase, 0, 0, 0},
        {"\x1b[1J", command_kind::erase, 1, 0, 0},
        {"\x1b[2J", command_kind::erase, 2, 0, 0},
        {"\x1b[K", command_kind::erase, 4, 0, 0},
        {"\x1b[1K", command_kind::erase, 5, 0, 0},
        {"\x1b[2K", command_kind::erase, 3, 0, 0},
        {"\x1b[3A", command_kind::cursor_up, 3, 0, 0},
        {"\x1b[12B", command_kind::cursor_down, 12, 0, 0},
        {"\x1b[1C", command_kind::cursor_right, 1, 0, 0},
        {"\x1b[0D", command_kind::cursor_left, 0, 0, 0},
        {"\x1b[5;10H", command_kind::set_position, 0, 5, 10},  // column first
        {"\x1b[0;7f", command_kind::set_position, 0, 0, 7},
        {"\x1b[?", command_kind::report, 0, 0, 0},
        // Forms that do nothing.
        {"\x1b[A", command_kind::none, 0, 0, 0},
        {"\x1b[4H", command_kind::none, 0, 0, 0},
        {"\x1b[0J", command_kind::none, 0, 0, 0},
        {"\x1b[0K", command_kind::none, 0, 0, 0},
        {"\x1b[3J", command_kind::none, 0, 0, 0},
        {"\x1b[1;2A", command_kind::none, 0, 0, 0},
        {"\x1b[5;H", command_kind::none, 0, 0, 0},
        {"\x1b[7x", command_kind::none, 0, 0, 0},
    };
    for (const auto& c : cases) {
        ansi::command cmd;
        EXPECT_EQ(parse(c.text, cmd), c.text.size()) << c.text.substr(1);
        EXPECT_EQ(cmd.kind, c.kind) << c.text.substr(1);
        EXPECT_EQ(cmd.n, c.n) << c.text.substr(1);
        EXPECT_EQ(cmd.column, c.column) << c.text.substr(1);
        EXPECT_EQ(cmd.row, c.row) << c.text.substr(1);
        EXPECT_TRUE(cmd.sgr.empty()) << c.text.substr(1);
    }
}

TEST(Ansi, CollectsSgrCodesPairwise) {
    struct {
        std::string text;
        command_kind kind;
        std::vector<uint32_t> sgr;
    } cases[] = {
        {"\x1b[m", command_kind::sgr, {0}},
        {"\x1b[31m", command_kind::sgr, {31}},
        {"\x1b[1;31m", command_kind::sgr, {1, 31}},
        {"\x1b[1;m", command_kind::sgr, {1}},
        {"\x1b[1;4;7m", command_kind::sgr, {1, 4, 7}},
        {"\x1b[1;4;7;44m", command_kind::sgr, {1, 4, 7, 44}},
        // A completed pair takes effect even when the sequence ends otherwise.
        {"\x1b[1;31;5H", command_kind::none, {1, 31}},
        {"\x1b[1;31;;", command_kind::none, {1, 31}},
    };
    for (const auto& c : cases) {
        ansi::command cmd;
        EXPECT_EQ(parse(c.text, cmd), c.text.size()) << c.text.substr(1);
        EXPECT_EQ(cmd.kind, c.kind) << c.text.substr(1);
        EXPECT_EQ(cmd.sgr, c.sgr) << c.text.substr(1);
    }
}

TEST(Ansi, ParametersAreKeptModulo65535) {
    ansi::command cmd;
    parse("\x1b[65535;65536H", cmd);
    EXPECT_EQ(cmd.kind, command_kind::set_position);
    EXPECT_EQ(cmd.column, 0u);
    EXPECT_EQ(cmd.row, 1u);
    parse("\x1b[123456789A", cmd);
    EXPECT_EQ(cmd.n, 123456789u % 65535u);
}

TEST(Ansi, ConsumedCountsScaleWithTheUnitWidth) {
    struct {
        std::string text;
        uint32_t units;  // consumed, in units
    } cases[] = {
        {"\x1b[5;10Hrest", 7},
        {"\x1b[2Jrest", 4},
        {"\x1b[1;31;42;1mrest", 12},
        {"\x1b[7xrest", 4},   // an unknown final is consumed with the rest
        {"\x1b[;5H", 3},      // a ";" without a number before it ends the sequence
        {"\x1b[12", 4},       // cut short: spans what there is
        {"\x1b[", 2},
        {"\x1bx[2J", 0},      // not a sequence
        {"\x1b", 0},
        {"x[2J", 0},
    };
    for (uint32_t width : {1u, 2u, 4u}) {
        for (const auto& c : cases) {
            ansi::command cmd;
            EXPECT_EQ(parse(c.text, cmd, width), c.units * width)
                << c.text.substr(1) << " at width " << width;
        }
    }
}

TEST(Ansi, WideUnitsAreNotMistakenForAsciiCharacters) {
    // U+0131 has the low byte 0x31 ('1'): it must end the sequence, not extend
    // the number.
    const uint16_t text[] = {0x1B, '[', '3', 0x0131, 'm'};
    ansi::command cmd;
    EXPECT_EQ(ansi::parse(text, sizeof text, 2, cmd), 8u);
    EXPECT_EQ(cmd.kind, command_kind::none);
}

TEST(Ansi, SgrAttributeFollowsTheConsoleBits) {
    const uint32_t def = 0x07;
    struct {
        uint32_t attribute, code, result;
    } cases[] = {
        {0x4E, 0, 0x07},     // back to the default
        {0x07, 1, 0x8F},     // both intensities
        {0x07, 4, 0x8007},   // underscore
        {0x1E, 7, 0xE1},     // foreground and background swapped
        {0x801E, 7, 0x80E1}, // the swap keeps the underscore
        {0x07, 22, 0x07},    // unknown codes change nothing
        {0x8F, 30, 0x88},    // ANSI colours reordered: red is bit 4
        {0x8F, 31, 0x8C},
        {0x8F, 32, 0x8A},
        {0x8F, 33, 0x8E},
        {0x8F, 34, 0x89},
        {0x8F, 35, 0x8D},
        {0x8F, 36, 0x8B},
        {0x8F, 37, 0x8F},
        {0x07, 39, 0x0F},
        {0xF7, 40, 0x87},
        {0xF7, 41, 0xC7},
        {0xF7, 42, 0xA7},
        {0xF7, 44, 0x97},
        {0xF7, 47, 0xF7},
        {0x07, 49, 0x87},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ansi::sgr_attribute(c.attribute, c.code, def), c.result)
            << "code " << c.code << " on " << std::hex << c.attribute;
}

TEST(Ansi, ApplyingSgrSequences) {
    struct {
        std::string text;
        uint32_t attribute, result;
    } cases[] = {
        {"\x1b[1;31m", 0x07, 0x8C},
        {"\x1b[0m", 0x4E, 0x17},
        {"\x1b[m", 0x4E, 0x17},
        {"\x1b[7m", 0x1E, 0xE1},
        {"\x1b[22m", 0x1E, 0x1E},
        {"\x1b[31;44;7m", 0x07, 0x41},  // red on blue, then swapped
    };
    for (const auto& c : cases) {
        ansi::command cmd;
        parse(c.text, cmd);
        EXPECT_EQ(ansi::apply_sgr(cmd, c.attribute, 0x17), c.result) << c.text.substr(1);
    }
}

}  // namespace
