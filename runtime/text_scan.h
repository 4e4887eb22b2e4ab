#pragma once
// Forward scans over the raw units of a text or byte series, shared by find
// and PARSE: one code point, a class of them (a bitset), or a run of code
// points. The unit size is dispatched once per scan, not per character.
// Nothing here allocates, so the buffer pointers stay valid while a scan runs.
#include <cstdint>
#include <cstring>

#include "runtime/case_tables.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/string.h"

namespace kiv::text_scan {

// A series' units from its buffer's offset (positions are absolute).
struct text_view {
    const uint8_t* base;
    uint32_t unit;
    uint32_t at(uint32_t i) const { return string::get_char(base + size_t(i) * unit, unit); }
};
inline text_view text_of(const kiv_value* s) {
    series_buffer* b = series::buffer(s->data2);
    return {b->offset, unit_of(b)};
}

// The first position from p (below end) whose code point fails `accept`.
template <class Accept>
uint32_t scan_while(const text_view& t, uint32_t p, uint32_t end, Accept accept) {
    switch (t.unit) {
        case 1:
            while (p < end && accept(uint32_t(t.base[p]))) p++;
            return p;
        case 2: {
            auto* u = reinterpret_cast<const uint16_t*>(t.base);
            while (p < end && accept(uint32_t(u[p]))) p++;
            return p;
        }
        default: {
            auto* u = reinterpret_cast<const uint32_t*>(t.base);
            while (p < end && accept(u[p])) p++;
            return p;
        }
    }
}

// A bitset's membership test, read once for many characters.
struct bit_view {
    const uint8_t* bytes;
    uint32_t count;
    bool beyond;  // membership of the numbers past the stored bytes
    explicit bit_view(const kiv_value* bits)
        : bytes(bitset::ks_head(bits)), count(bitset::byte_count(bits)), beyond(bitset::complemented_q(bits)) {}
    bool has(uint32_t n) const {
        uint32_t byte = n >> 3;
        return byte < count ? (bytes[byte] & (0x80 >> (n & 7))) != 0 : beyond;
    }
};

// The first position from p (below end) of a code point, end if none;
// `folded` compares upper-case mappings.
inline uint32_t find_char(const text_view& in, uint32_t c, uint32_t p, uint32_t end, bool folded) {
    if (p >= end) return end;
    // In bytes and Latin-1 text no other code point folds to an ASCII
    // character that is not a letter.
    bool exact = !folded || (c < 128 && (c | 0x20) - 'a' >= 26);
    if (in.unit == 1 && exact) {
        if (c > 255) return end;
        const void* found = std::memchr(in.base + p, int(c), end - p);
        return found ? uint32_t(static_cast<const uint8_t*>(found) - in.base) : end;
    }
    if (exact) return scan_while(in, p, end, [c](uint32_t x) { return x != c; });
    uint32_t f = unicode::fold_upper(c);
    return scan_while(in, p, end, [c, f](uint32_t x) { return x != c && unicode::fold_upper(x) != f; });
}

// The first position from p (below end) whose code point is in the class,
// end if none. A class is never case-folded.
inline uint32_t find_class(const text_view& in, const bit_view& bits, uint32_t p, uint32_t end) {
    return scan_while(in, p, end, [&bits](uint32_t x) { return !bits.has(x); });
}

// The first position from p where the `count` (at least one) code points of
// `pattern` from `from` stand, the whole of them before end; end if none.
inline uint32_t find_text(const text_view& in, uint32_t p, uint32_t end, const text_view& pattern, uint32_t from,
                          uint32_t count, bool folded) {
    if (p > end || end - p < count) return end;
    uint32_t last = end - count, first = pattern.at(from);
    auto same = [folded](uint32_t a, uint32_t b) {
        return a == b || (folded && unicode::fold_upper(a) == unicode::fold_upper(b));
    };
    for (;; p++) {
        p = find_char(in, first, p, last + 1, folded);
        if (p > last) return end;
        uint32_t k = 1;
        while (k < count && same(in.at(p + k), pattern.at(from + k))) k++;
        if (k == count) return p;
    }
}

}  // namespace kiv::text_scan
