#pragma once
// money!: an exact decimal amount with an optional currency. The cell holds
// the sign in header bit 14, the currency's 1-based position in
// system/locale/currencies/list in byte 4 (0: none) and 22 packed decimal
// digits in bytes 5-15, 17 before the point and 5 after it. Amounts never
// pass through a double: arithmetic is exact, and a result with more digits
// than the cell holds raises `type-limit`.
#include <cstdint>

#include "runtime/value.h"

namespace kiv::money {

constexpr uint32_t SIGN_FLAG = 0x4000;
constexpr int32_t DIGITS = 22;
constexpr int32_t INTEGER_DIGITS = 17;
constexpr int32_t FRACTION_DIGITS = 5;
constexpr int32_t DIGIT_BYTES = 11;

// A magnitude counted in hundred-thousandths: 0 to LIMIT - 1.
using amount = unsigned __int128;
constexpr amount pow10(int32_t n) {
    amount r = 1;
    while (n-- > 0) r *= 10;
    return r;
}
constexpr amount SCALE = pow10(FRACTION_DIGITS);  // $1
constexpr amount LIMIT = pow10(DIGITS);

// The packed digits of a cell (11 bytes from byte 5).
inline uint8_t* digit_bytes(kiv_value* v) { return reinterpret_cast<uint8_t*>(v) + 5; }
inline const uint8_t* digit_bytes(const kiv_value* v) { return reinterpret_cast<const uint8_t*>(v) + 5; }

amount magnitude(const kiv_value* v);
void set_magnitude(kiv_value* v, amount m);  // m below LIMIT

inline bool get_sign(const kiv_value* v) { return (v->header & SIGN_FLAG) != 0; }
inline void set_sign(kiv_value* v, bool negative) {
    v->header = negative ? v->header | SIGN_FLAG : v->header & ~SIGN_FLAG;
}
inline uint32_t get_currency(const kiv_value* v) { return v->data1 & 0xFF; }
inline void set_currency(kiv_value* v, uint32_t index) { v->data1 = (v->data1 & ~0xFFu) | (index & 0xFF); }

bool zero_q(const kiv_value* v);
// -1, 0 or 1; zero is never negative, whatever its sign bit.
int32_t sign(const kiv_value* v);
inline bool negative_q(const kiv_value* v) { return sign(v) < 0; }
inline bool positive_q(const kiv_value* v) { return sign(v) > 0; }

// The 1-based position of a currency code (a symbol, any case) in the
// currency list, or -1.
int32_t find_currency(int32_t symbol);
// True for 0 (no currency) and for the positions of the list.
bool known_currency_q(uint32_t index);

kiv_value* make_at(kiv_value* cell, bool negative, uint32_t currency, amount m);
// A cell from the KIVBIN payload: false when a nibble is no decimal digit.
bool make_at_raw(kiv_value* cell, bool negative, uint32_t currency, const uint8_t* digits);
kiv_value* push(bool negative, uint32_t currency, amount m);

// An amount from text: `code` is 3 letters or null; [text, end) holds the
// digits with ' separators and at most one "." or ",". Fraction digits past
// the fifth are dropped. False for an unknown currency and for more integer
// digits than the cell holds.
bool make_at_text(kiv_value* cell, bool negative, const uint8_t* code, const uint8_t* text,
                  const uint8_t* end);

kiv_value* from_integer(kiv_value* cell, int32_t n);
int32_t to_integer(const kiv_value* v);  // raises `type-limit`
// Raises `bad-make-arg` for infinities, NaN, magnitudes of 1e17 or more,
// non-zero magnitudes below 1e-05, and, when strict, more than five fraction
// digits (dropped otherwise).
kiv_value* from_float(kiv_value* cell, double d, bool strict);
double to_float(const kiv_value* v);

// The arithmetic of the current call (op: add, subtract, multiply, divide,
// remainder) with money in either argument cell; the result replaces the
// first argument. integer! and float! hand over here when their right
// operand is money.
void do_math(int32_t op);

// A money value against a double, for either side of a comparison: the signs
// decide first.
int32_t compare_float(const kiv_value* m, double d, int32_t op);
int32_t compare(kiv_value* value1, kiv_value* value2, int32_t op);

// Appends the text of the amount; `all` shows the five fraction digits,
// `grouping` puts ' between thousands. Returns the characters written.
int32_t form_amount(const kiv_value* v, kiv_value* buffer, bool all, bool grouping);

// For the `as-money` native: the currency word's code and an integer! or
// float! amount; an unknown code raises `bad-make-arg`.
kiv_value* as_money(kiv_value* result, const kiv_value* currency, const kiv_value* amount_value);

void init();

}  // namespace kiv::money
