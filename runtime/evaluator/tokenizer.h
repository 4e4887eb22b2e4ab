#pragma once
// Small number readers for the conversion actions: they read text of 1-, 2-
// or 4-byte units without the lexer and report failure through an error code
// (-1 invalid text, -2 overflow) instead of raising.
#include <cstdint>

namespace kiv::tokenizer {

constexpr int32_t SCAN_INVALID = -1;
constexpr int32_t SCAN_OVERFLOW = -2;

// A 32-bit integer: an optional sign, digits, and ' separators anywhere.
int32_t scan_integer(const uint8_t* text, uint32_t unit, uint32_t count, int32_t* error);

}  // namespace kiv::tokenizer
