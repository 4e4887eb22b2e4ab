#pragma once
// Small number readers for the conversion actions: they read text of 1-, 2-
// or 4-byte units without the lexer and report failure through an error code
// (-1 invalid text, -2 overflow) instead of raising.
#include <cstdint>

#include "runtime/value.h"

namespace kiv::tokenizer {

constexpr int32_t SCAN_INVALID = -1;
constexpr int32_t SCAN_OVERFLOW = -2;

// A 32-bit integer: an optional sign, digits, and ' separators anywhere.
int32_t scan_integer(const uint8_t* text, uint32_t unit, uint32_t count, int32_t* error);

// The longest text read as a float.
constexpr uint32_t FLOAT_TEXT_MAX = 312;

// True when the bytes are a decimal float by the language's syntax: digits
// with ' separators, an optional leading sign, point and exponent (".5",
// "1.", "1'000.5", "1e-7"). Longer texts than FLOAT_TEXT_MAX are refused.
bool float_syntax_q(const char* text, uint32_t length);

// A double from decimal text: "," is read as "." and ' separators are
// dropped. Invalid text sets SCAN_INVALID and gives NaN; too large a value
// gives an infinity.
double scan_float(const uint8_t* text, uint32_t unit, uint32_t count, int32_t* error);

// A money! amount into `cell`: an optional sign, then a currency code of 3
// letters followed by "$", or an optional "$"; then digits with single '
// separators between digits and at most one "." with digits on both sides.
// An unknown code or too many integer digits are invalid text as well.
void scan_money(const uint8_t* text, uint32_t unit, uint32_t count, kiv_value* cell, int32_t* error);

}  // namespace kiv::tokenizer
