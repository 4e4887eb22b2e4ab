#pragma once
// ANSI escape sequences, decoded for hosts that must carry them out
// themselves (a console that draws its own text). Pure: no I/O, no state.
//
// Attributes are 16-bit console attributes: foreground colour bits 1 (blue),
// 2 (green), 4 (red) and intensity 8; the same four bits shifted left by 4
// for the background; 0x8000 underscore.
#include <cstdint>
#include <vector>

namespace kiv::ansi {

constexpr uint32_t ESC = 0x1B;
constexpr uint32_t PARAMETER_MODULUS = 65535;

constexpr uint32_t ATTR_FOREGROUND_INTENSITY = 0x08;
constexpr uint32_t ATTR_BACKGROUND_INTENSITY = 0x80;
constexpr uint32_t ATTR_UNDERSCORE = 0x8000;

enum class command_kind : uint8_t {
    none,            // unknown, incomplete or ignored sequence
    save_cursor,     // ESC [ s
    restore_cursor,  // ESC [ u
    home,            // ESC [ H, ESC [ f: column 0, row 0
    erase,           // ESC [ J, 1 J, 2 J, K, 1 K, 2 K: kind in `n`
    cursor_up,       // ESC [ n A ... ESC [ n D: by `n`; the host clamps
    cursor_down,
    cursor_right,
    cursor_left,
    set_position,    // ESC [ a ; b H (or f): `column` a, `row` b, from 0
    sgr,             // ESC [ ... m
    report,          // ESC [ ?: the host prints its screen buffer report
};

// Erase kinds.
enum erase_kind : uint32_t {
    ERASE_ROW_TO_END = 0,    // from the start of the cursor's row to the end
    ERASE_ABOVE = 1,         // all rows above the cursor's row
    ERASE_ALL = 2,           // everything; cursor home
    ERASE_ROW = 3,           // the cursor's row; cursor to its start
    ERASE_TO_ROW_END = 4,    // from the cursor to the end of its row
    ERASE_TO_CURSOR = 5,     // from the row's start to the cursor; cursor there
};

struct command {
    command_kind kind = command_kind::none;
    uint32_t n = 0;
    uint32_t column = 0;
    uint32_t row = 0;
    // SGR codes in the order they take effect. Codes arrive in pairs: each
    // second ";" applies the pair collected so far, so a sequence that does
    // not end in "m" may still carry codes.
    std::vector<uint32_t> sgr;
};

// Decodes the sequence at the ESC that starts `text` (`bytes` long, units of
// `unit_width` bytes). Returns the bytes it spans: 0 when the ESC is not
// followed by "[", else (2 + units after "[", the final one included) times
// the unit width. A sequence cut short by the end of the text spans the rest.
uint32_t parse(const void* text, uint32_t bytes, uint32_t unit_width, command& out);

// The attribute after one SGR code; code 0 gives the default attribute.
uint32_t sgr_attribute(uint32_t attribute, uint32_t code, uint32_t default_attribute);

// The attribute after all of a command's SGR codes.
uint32_t apply_sgr(const command& c, uint32_t attribute, uint32_t default_attribute);

}  // namespace kiv::ansi
