#pragma once
// Float and text conversion: doubles to decimal digits and back.
//
// Both directions are correctly rounded: the digits made for a double read
// back to the same double, and text read becomes the nearest double (ties to
// even). The digits come from the standard library's shortest round-trip and
// fixed-precision conversions; this module adds the runtime's own choices on
// top: the texts of infinities, NaN and zeros, how a precision combines with
// the shortest digits, the layout of formed floats, and the reader's syntax.
#include <bit>
#include <cstdint>
#include <string_view>

namespace kiv {

// Float constants shared by every part of the runtime that handles doubles.
inline constexpr double FLOAT_MAX = std::bit_cast<double>(uint64_t(0x7FEFFFFFFFFFFFFF));
inline constexpr double FLOAT_INF = std::bit_cast<double>(uint64_t(0x7FF0000000000000));
inline constexpr double FLOAT_NEG_INF = std::bit_cast<double>(uint64_t(0xFFF0000000000000));
inline constexpr double FLOAT_NAN = std::bit_cast<double>(uint64_t(0x7FF8000000000000));
// The largest double below 0.5: adding it and truncating rounds halves up
// without carrying 0.49999999999999994 itself to 1.
inline constexpr double FLOAT_BELOW_HALF = std::bit_cast<double>(uint64_t(0x3FDFFFFFFFFFFFFF));

namespace dtoa {

// Decimal-point positions that mark a text complete as it stands.
constexpr int DECPT_SPECIAL = 9999;  // "1.#INF", "-1.#INF", "1.#NaN"
constexpr int DECPT_ZERO = 9998;     // "0", "-0", "0.0", "-0.0"

// The digits of a double: the value is 0.d1d2d3... times 10 to the decpt.
struct digits {
    char text[24];  // NUL-terminated digits (or the special text)
    int length;     // bytes in text
    int decpt;      // or DECPT_SPECIAL / DECPT_ZERO
    int sign;       // 1 when the sign bit was set
};

// A formed float, NUL-terminated.
struct formed {
    char text[32];
    int length;
    std::string_view view() const { return {text, size_t(length)}; }
};

// The decimal digits of a value. A precision of 0 or less asks for the
// shortest digits that read back to the value; a positive precision caps the
// count, rounding the exact value half to even when the shortest digits are
// longer than the cap. Digits carry no point, sign or trailing zeros (at most
// 17 of them). Infinities and NaN give "1.#INF", "-1.#INF" or "1.#NaN"; a zero
// gives "0.0" / "-0.0" with the zero-form flag and "0" / "-0" without.
digits to_text(double value, int precision, bool zero_form);

// The value as text: fixed notation for decpt -6 to 17, else d.ddd and "e"
// with the exponent ("-" when negative, no "+", no leading zeros). A point
// that would end the text (or stand just before the exponent) is followed by
// "0" when keep_point is set and dropped when it is clear; keep_point also
// picks the zero form.
formed form_precision(double value, int precision, bool keep_point);

// Reads the number in [start, end): an optional sign, digits with an optional
// point, an optional exponent ("e" or "E" with at least one character after
// it; what follows is read to the end as the exponent), or one of the special
// texts "1.#INF", "-1.#INF", "1.#NaN". extra_exponent is added to the decimal
// exponent (-2 reads a percent literal). The count of characters after the
// last one read is stored through unconsumed when it is not null. Overflow
// gives an infinity; a non-zero value that underflows gives +0.0, while a
// written zero keeps its sign.
double from_text(const char* start, const char* end, int extra_exponent, int* unconsumed);

// from_text over count bytes with no extra exponent.
double from_bytes(const char* start, int count, int* unconsumed);

}  // namespace dtoa
}  // namespace kiv
