// Base-2, base-16, base-58 and base-64 text of bytes.
#include "runtime/datatypes/base_codecs.h"

#include <cstring>
#include <vector>

#include "runtime/datatypes/string.h"
#include "runtime/memory.h"

namespace kiv::base_codecs {

namespace {

constexpr char HEX[] = "0123456789ABCDEF";
constexpr char ALPHABET_58[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
constexpr char ALPHABET_64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The value of each character in an alphabet, -1 for the others.
struct digit_table {
    int8_t value[128];
    constexpr explicit digit_table(const char* alphabet) : value{} {
        for (int8_t& v : value) v = -1;
        for (int8_t i = 0; alphabet[i]; i++) value[uint8_t(alphabet[i])] = i;
    }
    int32_t operator()(uint32_t c) const { return c < 128 ? value[c] : -1; }
};
constexpr digit_table DIGITS_58(ALPHABET_58);
constexpr digit_table DIGITS_64(ALPHABET_64);

int32_t hex_digit(uint32_t c) {
    if (c >= '0' && c <= '9') return int32_t(c - '0');
    if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') return int32_t((c | 0x20) - 'a' + 10);
    return -1;
}

// Bases 2 and 16 take every control code and the space as a blank; 58 and
// 64 only the usual blanks and the apostrophe (a digit group separator).
bool low_blank_q(uint32_t c) { return c <= ' '; }
bool text_blank_q(uint32_t c) {
    return c == 8 || c == '\t' || c == '\n' || c == 12 || c == '\r' || c == ' ' || c == '\'';
}

// Walks the characters of a text, skipping blanks and ";" comments; `take`
// gets each other character and says whether to go on.
template <class Blank, class Take>
void scan(const uint8_t* text, uint32_t count, uint32_t unit, Blank blank, Take take) {
    bool comment = false;
    for (uint32_t i = 0; i < count; i++) {
        uint32_t c = string::get_char(text + size_t(i) * unit, unit);
        if (comment) {
            comment = c != '\n';
        } else if (c == ';') {
            comment = true;
        } else if (!blank(c) && !take(c)) {
            return;
        }
    }
}

node_id series_of(const std::vector<uint8_t>& bytes) {
    node_id n = memory::alloc_bytes(uint32_t(bytes.size()));
    series_buffer* b = series::buffer(n);
    if (!bytes.empty()) std::memcpy(b->offset, bytes.data(), bytes.size());
    b->tail = b->offset + bytes.size();
    return n;
}

// Bases 2 and 16: `bits` bits per digit, a byte every 8 / bits digits.
template <uint32_t Bits>
node_id decode_bits(const uint8_t* text, uint32_t count, uint32_t unit, bool whole_bytes) {
    std::vector<uint8_t> out;
    out.reserve(size_t(count) * Bits / 8);
    uint32_t acc = 0, digits = 0;
    bool valid = true;
    scan(text, count, unit, low_blank_q, [&](uint32_t c) {
        int32_t d = Bits == 1 ? (c == '0' || c == '1' ? int32_t(c - '0') : -1) : hex_digit(c);
        if (d < 0) return valid = false;
        acc = acc << Bits | uint32_t(d);
        if (++digits % (8 / Bits) == 0) out.push_back(uint8_t(acc));
        return true;
    });
    if (!valid || (whole_bytes && digits % (8 / Bits))) return 0;
    return series_of(out);
}

}  // namespace

// Encoders ---------------------------------------------------------------------

char* encode_2(char* out, const uint8_t* in, uint32_t count) {
    for (uint32_t i = 0; i < count; i++)
        for (int bit = 7; bit >= 0; bit--) *out++ = char('0' + ((in[i] >> bit) & 1));
    return out;
}

char* encode_16(char* out, const uint8_t* in, uint32_t count) {
    for (uint32_t i = 0; i < count; i++) {
        *out++ = HEX[in[i] >> 4];
        *out++ = HEX[in[i] & 15];
    }
    return out;
}

char* encode_64(char* out, const uint8_t* in, uint32_t count) {
    uint32_t i = 0;
    for (; i + 3 <= count; i += 3) {
        uint32_t group = uint32_t(in[i]) << 16 | uint32_t(in[i + 1]) << 8 | in[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6) *out++ = ALPHABET_64[(group >> shift) & 63];
    }
    uint32_t rest = count - i;
    if (rest) {
        uint32_t group = uint32_t(in[i]) << 16 | (rest == 2 ? uint32_t(in[i + 1]) << 8 : 0);
        *out++ = ALPHABET_64[group >> 18];
        *out++ = ALPHABET_64[(group >> 12) & 63];
        *out++ = rest == 2 ? ALPHABET_64[(group >> 6) & 63] : '=';
        *out++ = '=';
    }
    return out;
}

// The bytes are one big-endian number, divided by 58 until nothing is left;
// each leading zero byte stands for itself as a "1".
char* encode_58(char* out, const uint8_t* in, uint32_t count) {
    uint32_t zeros = 0;
    while (zeros < count && in[zeros] == 0) zeros++;
    std::vector<uint8_t> number(in + zeros, in + count);
    std::vector<char> digits;  // least significant first
    size_t first = 0;
    while (first < number.size()) {
        uint32_t remainder = 0;
        for (size_t k = first; k < number.size(); k++) {
            uint32_t v = remainder << 8 | number[k];
            number[k] = uint8_t(v / 58);
            remainder = v % 58;
        }
        digits.push_back(ALPHABET_58[remainder]);
        while (first < number.size() && number[first] == 0) first++;
    }
    out = static_cast<char*>(std::memset(out, '1', zeros)) + zeros;
    for (auto d = digits.rbegin(); d != digits.rend(); ++d) *out++ = *d;
    return out;
}

// Decoders ---------------------------------------------------------------------

node_id decode_2(const uint8_t* text, uint32_t count, uint32_t unit) {
    return decode_bits<1>(text, count, unit, true);
}

node_id decode_16(const uint8_t* text, uint32_t count, uint32_t unit) {
    return decode_bits<4>(text, count, unit, false);
}

node_id decode_64(const uint8_t* text, uint32_t count, uint32_t unit) {
    std::vector<uint8_t> out;
    out.reserve((size_t(count) + 3) * 3 / 4);
    uint32_t group = 0, in_group = 0;
    bool valid = true;
    scan(text, count, unit, text_blank_q, [&](uint32_t c) {
        if (c == '=') {
            // The padding ends the text: what the group holds is its last bytes.
            if (in_group < 2) valid = false;
            if (in_group >= 2) out.push_back(uint8_t(group >> (in_group * 6 - 8)));
            if (in_group == 3) out.push_back(uint8_t(group >> 2));
            in_group = 0;
            return false;
        }
        int32_t d = DIGITS_64(c);
        if (d < 0) return valid = false;
        group = group << 6 | uint32_t(d);
        if (++in_group == 4) {
            out.push_back(uint8_t(group >> 16));
            out.push_back(uint8_t(group >> 8));
            out.push_back(uint8_t(group));
            group = in_group = 0;
        }
        return true;
    });
    if (!valid) return 0;
    return series_of(out);
}

node_id decode_58(const uint8_t* text, uint32_t count, uint32_t unit) {
    std::vector<uint8_t> digits;
    bool valid = true;
    scan(text, count, unit, text_blank_q, [&](uint32_t c) {
        int32_t d = c > 127 ? -1 : DIGITS_58(c);
        if (d < 0) return valid = false;
        digits.push_back(uint8_t(d));
        return true;
    });
    if (!valid) return 0;
    size_t zeros = 0;
    while (zeros < digits.size() && digits[zeros] == 0) zeros++;
    // Big-endian bytes of the number, multiplied by 58 and added to per digit.
    std::vector<uint8_t> number(digits.size() - zeros, 0);
    size_t used = 0;  // significant bytes at the end of `number`
    for (size_t i = zeros; i < digits.size(); i++) {
        uint32_t carry = digits[i];
        size_t k = number.size();
        for (size_t n = 0; n < used || carry; n++) {
            k--;
            carry += 58u * number[k];
            number[k] = uint8_t(carry);
            carry >>= 8;
        }
        used = number.size() - k;
    }
    std::vector<uint8_t> out(zeros, 0);
    out.insert(out.end(), number.end() - ptrdiff_t(used), number.end());
    return series_of(out);
}

}  // namespace kiv::base_codecs
