// ANSI escape sequences.
#include "runtime/ansi.h"

#include <cstring>

#include "runtime/datatypes/string.h"

namespace kiv::ansi {

namespace {

// Where the parser stands after "[".
enum state : uint32_t {
    START = 1,   // nothing read yet
    FIRST = 2,   // in the first number
    SEMI = 3,    // after the first ";"
    SECOND = 4,  // in the second number
};

uint32_t unit_at(const uint8_t* p, uint32_t unit_width) { return string::get_char(p, unit_width); }

// Moves and erases take a fixed number of parameters; any other count makes
// the sequence do nothing.
void finish(uint32_t final, state st, uint32_t first, uint32_t second, command& out) {
    switch (final) {
    case 's': out.kind = command_kind::save_cursor; return;
    case 'u': out.kind = command_kind::restore_cursor; return;
    case '?': out.kind = command_kind::report; return;
    case 'H':
    case 'f':
        if (st == START) {
            out.kind = command_kind::home;
        } else if (st == SECOND) {
            out.kind = command_kind::set_position;
            out.column = first;
            out.row = second;
        }
        return;
    case 'J':
    case 'K': {
        // Kinds without a number, with 1, with 2.
        static constexpr uint32_t J[3] = {ERASE_ROW_TO_END, ERASE_ABOVE, ERASE_ALL};
        static constexpr uint32_t K[3] = {ERASE_TO_ROW_END, ERASE_TO_CURSOR, ERASE_ROW};
        uint32_t which;
        if (st == START) which = 0;
        else if (st == FIRST && (first == 1 || first == 2)) which = first;
        else return;
        out.kind = command_kind::erase;
        out.n = final == 'J' ? J[which] : K[which];
        return;
    }
    case 'A':
    case 'B':
    case 'C':
    case 'D': {
        static constexpr command_kind moves[4] = {command_kind::cursor_up, command_kind::cursor_down,
                                                  command_kind::cursor_right, command_kind::cursor_left};
        if (st != FIRST) return;
        out.kind = moves[final - 'A'];
        out.n = first;
        return;
    }
    case 'm':
        out.kind = command_kind::sgr;
        if (st == START) out.sgr.push_back(0);  // a bare ESC [ m resets
        else out.sgr.push_back(first);
        if (st == SECOND) out.sgr.push_back(second);
        return;
    default: return;
    }
}

}  // namespace

uint32_t parse(const void* text, uint32_t bytes, uint32_t unit_width, command& out) {
    out = command{};
    auto* p = static_cast<const uint8_t*>(text);
    uint32_t units = bytes / unit_width;
    if (units < 2 || unit_at(p, unit_width) != ESC || unit_at(p + unit_width, unit_width) != '[')
        return 0;
    state st = START;
    uint32_t first = 0;
    uint32_t second = 0;
    for (uint32_t i = 2; i < units; i++) {
        uint32_t c = unit_at(p + i * unit_width, unit_width);
        uint32_t spanned = (i + 1) * unit_width;
        if (c >= '0' && c <= '9') {
            uint32_t digit = c - '0';
            switch (st) {
            case START: first = digit; st = FIRST; break;
            case FIRST: first = (first * 10 + digit) % PARAMETER_MODULUS; break;
            case SEMI: second = digit; st = SECOND; break;
            case SECOND: second = (second * 10 + digit) % PARAMETER_MODULUS; break;
            }
            continue;
        }
        if (c == ';' && st == FIRST) {
            st = SEMI;
            continue;
        }
        if (c == ';' && st == SECOND) {
            out.sgr.push_back(first);
            out.sgr.push_back(second);
            st = START;
            continue;
        }
        // Any other ";" ends the sequence without effect, like every
        // character that is not a known final.
        if (c != ';') finish(c, st, first, second, out);
        return spanned;
    }
    return units * unit_width;
}

uint32_t sgr_attribute(uint32_t attribute, uint32_t code, uint32_t default_attribute) {
    // ANSI colour numbers put red lowest; console attributes put blue lowest.
    static constexpr uint32_t colour[8] = {0, 4, 2, 6, 1, 5, 3, 7};
    switch (code) {
    case 0: return default_attribute;
    case 1: return attribute | ATTR_FOREGROUND_INTENSITY | ATTR_BACKGROUND_INTENSITY;
    case 4: return attribute | ATTR_UNDERSCORE;
    case 7: return (attribute & ~0xFFu) | ((attribute & 0x0F) << 4) | ((attribute >> 4) & 0x0F);
    case 39: return attribute | ATTR_FOREGROUND_INTENSITY;
    case 49: return attribute | ATTR_BACKGROUND_INTENSITY;
    default: break;
    }
    if (code >= 30 && code <= 37) return (attribute & 0xF8) + colour[code - 30];
    if (code >= 40 && code <= 47) return (attribute & 0x8F) + (colour[code - 40] << 4);
    return attribute;
}

uint32_t apply_sgr(const command& c, uint32_t attribute, uint32_t default_attribute) {
    for (uint32_t code : c.sgr) attribute = sgr_attribute(attribute, code, default_attribute);
    return attribute;
}

}  // namespace kiv::ansi
