// Float and text conversion.
//
// std::to_chars and std::from_chars do the correctly rounded digit work; the
// code here shapes their results into the runtime's digit records, layout
// and special texts, and reads the runtime's own number syntax into the plain
// "digits e exponent" form that std::from_chars takes.
#include "runtime/float_text.h"

#include <charconv>
#include <cstring>

namespace kiv::dtoa {

namespace {

constexpr uint64_t SIGN_BIT = 0x8000000000000000;
constexpr uint64_t EXPONENT_BITS = 0x7FF0000000000000;
constexpr uint64_t MANTISSA_BITS = 0x000FFFFFFFFFFFFF;

// Layout bounds of form_precision: decimal-point positions outside them are
// written with an exponent.
constexpr int FIXED_DECPT_MAX = 17;
constexpr int FIXED_DECPT_MIN = -6;

digits special(const char* text, int decpt, int sign) {
    digits d{};
    d.length = int(std::strlen(text));
    std::memcpy(d.text, text, size_t(d.length) + 1);
    d.decpt = decpt;
    d.sign = sign;
    return d;
}

// Takes the digits and decimal exponent of a "d.ddde+xx" text made by
// std::to_chars, dropping trailing zeros.
void take_scientific(const char* text, const char* end, digits& d) {
    const char* p = text;
    int n = 0;
    for (; p < end && *p != 'e'; ++p)
        if (*p != '.') d.text[n++] = *p;
    while (n > 1 && d.text[n - 1] == '0') --n;
    d.text[n] = '\0';
    d.length = n;
    ++p;                   // the 'e'
    if (*p == '+') ++p;    // std::from_chars takes no '+'
    int exponent = 0;
    std::from_chars(p, end, exponent);
    d.decpt = exponent + 1;
}

}  // namespace

digits to_text(double value, int precision, bool zero_form) {
    uint64_t bits = std::bit_cast<uint64_t>(value);
    int sign = int(bits >> 63);
    bits &= ~SIGN_BIT;

    if ((bits & EXPONENT_BITS) == EXPONENT_BITS) {
        if (bits & MANTISSA_BITS) return special("1.#NaN", DECPT_SPECIAL, sign);
        return special(sign ? "-1.#INF" : "1.#INF", DECPT_SPECIAL, sign);
    }
    if (bits == 0) {
        const char* text = zero_form ? (sign ? "-0.0" : "0.0") : (sign ? "-0" : "0");
        return special(text, DECPT_ZERO, sign);
    }

    double magnitude = std::bit_cast<double>(bits);
    digits d{};
    d.sign = sign;
    char buf[40];
    auto r = std::to_chars(buf, buf + sizeof buf, magnitude, std::chars_format::scientific);
    take_scientific(buf, r.ptr, d);
    // A precision only matters when the shortest digits are longer: the digit
    // generation stops as soon as the digits so far identify the value.
    if (precision > 0 && d.length > precision) {
        r = std::to_chars(buf, buf + sizeof buf, magnitude, std::chars_format::scientific,
                          precision - 1);
        take_scientific(buf, r.ptr, d);
    }
    return d;
}

formed form_precision(double value, int precision, bool keep_point) {
    digits d = to_text(value, precision, keep_point);
    formed f{};
    char* out = f.text;
    if (d.decpt == DECPT_SPECIAL || d.decpt == DECPT_ZERO) {
        std::memcpy(out, d.text, size_t(d.length) + 1);
        f.length = d.length;
        return f;
    }

    // A point with nothing after it gets "0" or goes away.
    auto end_point = [&] {
        if (keep_point) *out++ = '0';
        else --out;
    };

    if (d.sign) *out++ = '-';
    if (d.decpt > FIXED_DECPT_MAX || d.decpt < FIXED_DECPT_MIN) {
        *out++ = d.text[0];
        *out++ = '.';
        if (d.length == 1) end_point();
        std::memcpy(out, d.text + 1, size_t(d.length - 1));
        out += d.length - 1;
        *out++ = 'e';
        out = std::to_chars(out, f.text + sizeof f.text, d.decpt - 1).ptr;
    } else if (d.decpt <= 0) {
        *out++ = '0';
        *out++ = '.';
        for (int i = d.decpt; i < 0; ++i) *out++ = '0';
        std::memcpy(out, d.text, size_t(d.length));
        out += d.length;
    } else {
        for (int i = 0; i < d.decpt; ++i) *out++ = i < d.length ? d.text[i] : '0';
        *out++ = '.';
        if (d.length <= d.decpt) {
            end_point();
        } else {
            std::memcpy(out, d.text + d.decpt, size_t(d.length - d.decpt));
            out += d.length - d.decpt;
        }
    }
    *out = '\0';
    f.length = int(out - f.text);
    return f;
}

namespace {

// Significant digits kept for std::from_chars. Every double and every point
// halfway between two doubles has fewer significant digits than this, so
// dropping the rest while remembering whether any of them was non-zero (one
// extra '1' digit stands for them) rounds exactly as the whole text would.
constexpr int KEPT_DIGITS = 780;

// Beyond these decimal magnitudes the result is an infinity or zero whatever
// the digits.
constexpr int64_t OVERFLOW_MAGNITUDE = 310;
constexpr int64_t UNDERFLOW_MAGNITUDE = -330;

// Written exponents saturate here: far beyond any magnitude that matters, and
// far from overflowing the 64-bit sums they take part in.
constexpr int64_t EXPONENT_LIMIT = 1000000000000;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

char upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

// Skips the letters of word (upper case) as far as the text matches them,
// case ignored.
const char* skip_word(const char* p, const char* end, const char* word) {
    while (*word && p < end && upper(*p) == *word) ++p, ++word;
    return p;
}

int64_t clamp_exponent(int64_t e) {
    return e > EXPONENT_LIMIT ? EXPONENT_LIMIT : e < -EXPONENT_LIMIT ? -EXPONENT_LIMIT : e;
}

}  // namespace

double from_text(const char* start, const char* end, int extra_exponent, int* unconsumed) {
    const char* p = start;
    auto finish = [&](double result, const char* read_end) {
        if (unconsumed) *unconsumed = int(end - read_end);
        return result;
    };

    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    const char* after_sign = p;
    while (p < end && *p == '0') ++p;
    bool any_digit = p > after_sign;

    // "1.#INF" and "1.#NaN": one digit, the point, '#', then the letter.
    if (end - p >= 4 && is_digit(p[0]) && p[1] == '.' && p[2] == '#') {
        char letter = upper(p[3]);
        if (letter == 'I')
            return finish(negative ? FLOAT_NEG_INF : FLOAT_INF, skip_word(p + 3, end, "INF"));
        if (letter == 'N') return finish(FLOAT_NAN, skip_word(p + 3, end, "NAN"));
    }

    // The significant digits go to buf; the value is buf times 10 to exp10.
    char buf[KEPT_DIGITS + 32];
    int kept = 0;
    int64_t exp10 = 0;
    bool dropped_nonzero = false;
    auto take = [&](char c) {
        if (kept < KEPT_DIGITS) {
            buf[kept++] = c;
        } else {
            ++exp10;
            dropped_nonzero |= c != '0';
        }
    };
    for (; p < end && is_digit(*p); ++p) {
        take(*p);
        any_digit = true;
    }
    if (p < end && *p == '.') {
        for (++p; p < end && is_digit(*p); ++p) {
            // Zeros before the first significant digit only scale the value.
            if (kept > 0 || *p != '0') take(*p);
            --exp10;
            any_digit = true;
        }
    }
    if (!any_digit) return finish(0.0, start);

    if (end - p >= 2 && (*p == 'e' || *p == 'E')) {
        ++p;
        bool negative_exponent = false;
        if (*p == '+' || *p == '-') negative_exponent = *p++ == '-';
        // The text was checked before it came here: the rest is the exponent.
        int64_t written = 0;
        for (; p < end; ++p) written = clamp_exponent(written * 10 + (*p - '0'));
        exp10 += negative_exponent ? -written : written;
    }
    exp10 = clamp_exponent(exp10 + extra_exponent);

    if (dropped_nonzero) {
        buf[kept++] = '1';
        --exp10;
    } else {
        while (kept > 0 && buf[kept - 1] == '0') --kept, ++exp10;
    }
    if (kept == 0) return finish(negative ? -0.0 : 0.0, p);

    int64_t magnitude = kept + exp10;  // the value lies below 10 to this power
    double result;
    if (magnitude > OVERFLOW_MAGNITUDE) {
        result = FLOAT_INF;
    } else if (magnitude < UNDERFLOW_MAGNITUDE) {
        result = 0.0;
    } else {
        char* q = buf + kept;
        *q++ = 'e';
        q = std::to_chars(q, buf + sizeof buf, exp10).ptr;
        auto r = std::from_chars(buf, q, result, std::chars_format::scientific);
        if (r.ec == std::errc::result_out_of_range) result = magnitude > 0 ? FLOAT_INF : 0.0;
    }
    // An underflow to zero is +0.0 whatever the sign.
    if (negative && result != 0.0) result = -result;
    return finish(result, p);
}

double from_bytes(const char* start, int count, int* unconsumed) {
    return from_text(start, start + count, 0, unconsumed);
}

}  // namespace kiv::dtoa
