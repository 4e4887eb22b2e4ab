// Number readers of the conversion actions.
#include "runtime/evaluator/tokenizer.h"

#include <climits>

#include <climits>

namespace kiv::tokenizer {

static uint32_t unit_at(const uint8_t* text, uint32_t unit, uint32_t i) {
    switch (unit) {
        case 1: return text[i];
        case 2: return uint32_t(text[2 * i]) | uint32_t(text[2 * i + 1]) << 8;
        default: return reinterpret_cast<const uint32_t*>(text)[i];
    }
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

}  // namespace kiv::tokenizer
