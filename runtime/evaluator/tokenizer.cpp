// Number readers of the conversion actions.
#include "runtime/evaluator/tokenizer.h"

#include <climits>

#include "runtime/datatypes/money.h"
#include "runtime/datatypes/string.h"

#include "runtime/float_text.h"

namespace kiv::tokenizer {

static uint32_t unit_at(const uint8_t* text, uint32_t unit, uint32_t i) {
    return string::get_char(text + size_t(i) * unit, unit);
}

int32_t scan_integer(const uint8_t* text, uint32_t unit, uint32_t count, int32_t* error) {
    *error = 0;
    uint32_t i = 0;
    bool negative = false;
    if (count > 0 && (unit_at(text, unit, 0) == '+' || unit_at(text, unit, 0) == '-')) {
        negative = unit_at(text, unit, 0) == '-';
        i = 1;
    }
    int32_t value = 0;
    bool smallest = false;  // the smallest integer has no positive counterpart
    for (; i < count; i++) {
        uint32_t c = unit_at(text, unit, i);
        if (c == '\'') continue;
        if (c < '0' || c > '9') {
            *error = SCAN_INVALID;
            break;
        }
        int32_t digit = int32_t(c - '0');
        if (!smallest && negative && value == 214748364 && digit == 8) {
            smallest = true;
            continue;
        }
        if (smallest || __builtin_mul_overflow(value, 10, &value) ||
            __builtin_add_overflow(value, digit, &value)) {
            *error = SCAN_OVERFLOW;
            return 0;
        }
    }
    if (smallest) return INT32_MIN;
    return negative ? -value : value;
}

// The float syntax as a machine over byte classes; the end of the text is
// a class of its own, and the text is a float when it leads to VALID.
namespace {

enum float_class : uint8_t { C_OTHER, C_SIGN, C_DIGIT, C_EXPONENT, C_DOT, C_QUOTE, C_END };

enum float_state : uint8_t {
    START,           // nothing yet but signs
    INTEGER,         // digits
    INTEGER_QUOTE,   // a ' after digits
    FRACTION,        // digits after the point
    FRACTION_START,  // a leading point, or a ' in the fraction
    POINT,           // digits and the point
    EXPONENT,        // the exponent letter
    EXPONENT_SIGN,   // its sign
    EXPONENT_DIGITS,
    VALID,
    INVALID,
};

constexpr uint8_t float_machine[INVALID + 1][C_END + 1] = {
    //                     other    sign           digit            exponent  dot             quote           end
    /* START           */ {INVALID, START,         INTEGER,         INVALID,  FRACTION_START, INVALID,        INVALID},
    /* INTEGER         */ {INVALID, INVALID,       INTEGER,         EXPONENT, POINT,          INTEGER_QUOTE,  VALID},
    /* INTEGER_QUOTE   */ {INVALID, INVALID,       INTEGER,         INVALID,  INVALID,        INVALID,        VALID},
    /* FRACTION        */ {INVALID, INVALID,       FRACTION,        EXPONENT, INVALID,        FRACTION_START, VALID},
    /* FRACTION_START  */ {INVALID, INVALID,       FRACTION,        INVALID,  INVALID,        INVALID,        VALID},
    /* POINT           */ {INVALID, INVALID,       FRACTION,        INVALID,  INVALID,        INVALID,        VALID},
    /* EXPONENT        */ {INVALID, EXPONENT_SIGN, EXPONENT_DIGITS, INVALID,  INVALID,        INVALID,        INVALID},
    /* EXPONENT_SIGN   */ {INVALID, INVALID,       EXPONENT_DIGITS, INVALID,  INVALID,        INVALID,        INVALID},
    /* EXPONENT_DIGITS */ {INVALID, INVALID,       EXPONENT_DIGITS, INVALID,  INVALID,        INVALID,        VALID},
    /* VALID           */ {VALID,   VALID,         VALID,           VALID,    VALID,          VALID,          VALID},
    /* INVALID         */ {INVALID, INVALID,       INVALID,         INVALID,  INVALID,        INVALID,        INVALID},
};

float_class class_of(char c) {
    switch (c) {
        case '+': case '-': return C_SIGN;
        case 'e': case 'E': return C_EXPONENT;
        case '.': return C_DOT;
        case '\'': return C_QUOTE;
        default: return c >= '0' && c <= '9' ? C_DIGIT : C_OTHER;
    }
}

}  // namespace

bool float_syntax_q(const char* text, uint32_t length) {
    if (length > FLOAT_TEXT_MAX) return false;
    uint8_t state = START;
    for (uint32_t i = 0; i < length; i++) state = float_machine[state][class_of(text[i])];
    return float_machine[state][C_END] == VALID;
}

double scan_float(const uint8_t* text, uint32_t unit, uint32_t count, int32_t* error) {
    *error = SCAN_INVALID;
    if (count == 0 || count > FLOAT_TEXT_MAX) return FLOAT_NAN;  // as the syntax would say
    char bytes[FLOAT_TEXT_MAX];
    for (uint32_t i = 0; i < count; i++) {
        uint32_t c = unit_at(text, unit, i);
        // A wide character must not pass as the byte it ends in.
        if (c > 0x7F) return FLOAT_NAN;
        bytes[i] = c == ',' ? '.' : char(c);
    }
    if (!float_syntax_q(bytes, count)) return FLOAT_NAN;
    int n = 0;
    for (uint32_t i = 0; i < count; i++)
        if (bytes[i] != '\'') bytes[n++] = bytes[i];
    // The syntax lets through texts with no digit ("." or "-.") and with
    // several signs ("--1"); the reader refuses them by stopping short.
    int unconsumed;
    double d = dtoa::from_bytes(bytes, n, &unconsumed);
    if (unconsumed != 0) return FLOAT_NAN;
    *error = 0;
    return d;
}

void scan_money(const uint8_t* text, uint32_t unit, uint32_t count, kiv_value* cell, int32_t* error) {
    *error = SCAN_INVALID;
    // Money text is ASCII: anything wider cannot be part of it.
    constexpr uint32_t LONGEST = 64;
    if (count == 0 || count > LONGEST) return;
    uint8_t bytes[LONGEST];
    for (uint32_t i = 0; i < count; i++) {
        uint32_t c = unit_at(text, unit, i);
        if (c > 127) return;
        bytes[i] = uint8_t(c);
    }
    const uint8_t* p = bytes;
    const uint8_t* end = bytes + count;
    bool negative = *p == '-';
    if (*p == '+' || *p == '-') p++;
    auto alpha_q = [](uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    const uint8_t* code = nullptr;
    if (p < end && alpha_q(*p)) {
        if (end - p < 5 || !alpha_q(p[1]) || !alpha_q(p[2]) || p[3] != '$') return;
        code = p;
        p += 4;
    } else if (p < end && *p == '$') {
        p++;
    }
    const uint8_t* amount = p;
    bool point = false;
    for (; p < end; p++) {
        bool digit_before = p > amount && p[-1] >= '0' && p[-1] <= '9';
        bool digit_after = p + 1 < end && p[1] >= '0' && p[1] <= '9';
        if (*p >= '0' && *p <= '9') continue;
        if (*p == '\'' && digit_before && digit_after) continue;
        if (*p == '.' && !point && digit_before && digit_after) {
            point = true;
            continue;
        }
        return;
    }
    if (amount == end) return;
    if (money::make_at_text(cell, negative, code, amount, end)) *error = 0;
}

}  // namespace kiv::tokenizer
