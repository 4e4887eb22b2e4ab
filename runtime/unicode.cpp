// Unicode conversion and string units.
#include "runtime/unicode.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/string.h"
#include "runtime/errors.h"

namespace kiv::unicode {

namespace {

constexpr std::array<uint8_t, 364> make_utf8d() {
    std::array<uint8_t, 364> t{};
    struct span { uint32_t first, last; uint8_t cls; };
    constexpr span classes[] = {
        {0x00, 0x7F, 0}, {0x80, 0x8F, 1}, {0x90, 0x9F, 9}, {0xA0, 0xBF, 7},
        {0xC0, 0xC1, 8}, {0xC2, 0xDF, 2}, {0xE0, 0xE0, 10}, {0xE1, 0xEC, 3},
        {0xED, 0xED, 4}, {0xEE, 0xEF, 3}, {0xF0, 0xF0, 11}, {0xF1, 0xF3, 6},
        {0xF4, 0xF4, 5}, {0xF5, 0xFF, 8},
    };
    for (const span& s : classes)
        for (uint32_t b = s.first; b <= s.last; b++) t[b] = s.cls;
    constexpr uint8_t transitions[108] = {
        0,  12, 24, 36, 60, 96, 84, 12, 12, 12, 48, 72,  // state 0
        12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,  // state 12: reject
        12, 0,  12, 12, 12, 12, 12, 0,  12, 0,  12, 12,  // 24: one continuation left
        12, 24, 12, 12, 12, 12, 12, 24, 12, 24, 12, 12,  // 36: two left
        12, 12, 12, 12, 12, 12, 12, 24, 12, 12, 12, 12,  // 48: after E0
        12, 24, 12, 12, 12, 12, 12, 12, 12, 24, 12, 12,  // 60: after ED
        12, 12, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12,  // 72: after F0
        12, 36, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12,  // 84: after F1-F3
        12, 36, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,  // 96: after F4
    };
    for (uint32_t i = 0; i < 108; i++) t[256 + i] = transitions[i];
    return t;
}

constexpr uint32_t STATE_ACCEPT = 0;
constexpr uint32_t STATE_REJECT = 12;

[[noreturn]] void range_error(uint32_t cp) {
    kiv_value v{TYPE_INTEGER, 0, cp, 0};
    fire(err::SCRIPT, err::script::invalid_char, &v);
}

// The error carries `n` bytes from the bad sequence on.
[[noreturn]] void invalid_utf8(const uint8_t* p, uint32_t n) {
    fire(err::ACCESS, err::access::invalid_utf8, binary::load(p, n));
}

// What the validating decoder found instead of a code point.
constexpr int32_t CUT = -1;      // a valid start that needs more bytes
constexpr int32_t INVALID = -2;

// The bytes an error shows: the bad sequence's four, or the whole rest.
uint32_t error_span(uint32_t available, bool whole_rest) { return whole_rest ? available : std::min(available, 4u); }

[[noreturn]] void invalid_utf16(uint32_t unit) {
    kiv_value v{TYPE_INTEGER, 0, unit, 0};
    fire(err::SCRIPT, err::script::invalid_data, &v);
}

uint32_t read16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }

// The widest code point a unit holds.
uint32_t unit_max(uint32_t unit) { return unit == 1 ? 0xFF : unit == 2 ? 0xFFFF : 0xFFFFFFFF; }
uint32_t unit_for(uint32_t cp) { return cp <= 0xFF ? 1 : cp <= 0xFFFF ? 2 : 4; }

series_buffer* widen(series_buffer* b, uint32_t to) {
    uint32_t from = unit_of(b);
    uint32_t count = series::used_units(b);
    uint64_t room = uint64_t(end_of(b) - b->offset);
    // Keep the capacity in characters: a loader sized its buffer for the
    // whole input before it knew the width, and goes on storing into it.
    uint64_t needed = std::max((uint64_t(count) + 1) * to, room / from * to);
    if (room < needed) {
        if (needed > 0x7FFFFFFF) fire(err::INTERNAL, err::internal::no_memory);
        b = memory::expand_series_copy(b, uint32_t(needed));
    }
    widen_units(b->offset, from, b->offset, to, count);
    b->tail = b->offset + size_t(count) * to;
    b->flags = (b->flags & ~SERIES_UNIT_MASK) | to;
    return b;
}

// The characters an export takes: all, or count when it is not negative and
// below the length.
uint32_t export_count(int32_t count, uint32_t length) {
    return count < 0 || uint32_t(count) >= length ? length : uint32_t(count);
}

uint32_t encode_units(const uint8_t* p, uint32_t unit, uint32_t count, uint8_t* out, bool crlf) {
    uint8_t* start = out;
    for (uint32_t i = 0; i < count; i++, p += unit) {
        uint32_t cp = string::get_char(p, unit);
        if (crlf && cp == '\n') *out++ = '\r';
        out += encode_utf8_char(cp, out);
    }
    return uint32_t(out - start);
}

}  // namespace

constexpr std::array<uint8_t, 364> utf8d = make_utf8d();

// Decoding ----------------------------------------------------------------------

const uint8_t* fast_decode_utf8_char(const uint8_t* p, int32_t* cp) {
    uint32_t cls = utf8d[*p];
    int32_t code = (0xFF >> cls) & *p;
    uint32_t state = utf8d[256 + cls];
    p++;
    while (state != STATE_ACCEPT) {
        if (state == STATE_REJECT) {
            *cp = -1;
            return p;
        }
        cls = utf8d[*p];
        code = (code << 6) | (*p & 0x3F);
        p++;
        state = utf8d[256 + state + cls];
    }
    *cp = code;
    return p;
}

uint32_t count_chars(const uint8_t* start, const uint8_t* end) {
    uint32_t n = 0;
    int32_t cp;
    for (const uint8_t* p = start; p < end; n++) p = fast_decode_utf8_char(p, &cp);
    return n;
}

const uint8_t* skip_chars(const uint8_t* p, const uint8_t* end, uint32_t n) {
    int32_t cp;
    for (; n > 0 && p < end; n--) p = fast_decode_utf8_char(p, &cp);
    return p;
}

uint32_t utf8_length(uint8_t lead) {
    if ((lead & 0xF0) == 0xF0) return 4;
    if ((lead & 0xE0) == 0xE0) return 3;
    if ((lead & 0xC0) == 0xC0) return 2;
    return 0;
}

uint32_t codepoint_size(uint32_t cp) {
    if (cp <= 0x7F) return 1;
    if (cp <= 0x7FF) return 2;
    if (cp <= 0xFFFF) return 3;
    if (cp <= MAX_CODEPOINT) return 4;
    range_error(cp);
}

uint32_t utf8_size(const uint8_t* start, const uint8_t* end, uint32_t unit) {
    uint32_t n = 0;
    for (const uint8_t* p = start; p < end; p += unit) n += codepoint_size(string::get_char(p, unit));
    return n;
}

namespace {

int32_t decode_checked(const uint8_t* p, uint32_t* available) {
    uint32_t lead = p[0];
    if (lead < 0x80) {
        *available = 1;
        return int32_t(lead);
    }
    // Length, payload bits of the lead, and the range of the second byte that
    // keeps the form shortest, below the surrogates and below 0x110000.
    uint32_t length, cp;
    uint32_t low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        cp = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        cp = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return INVALID;
    }
    for (uint32_t i = 1; i < length; i++) {
        if (i >= *available) return CUT;
        uint32_t b = p[i];
        if (b < low || b > high) return INVALID;
        low = 0x80;
        high = 0xBF;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp == 0xFFFE) return INVALID;
    *available = length;
    return int32_t(cp);
}

}  // namespace

int32_t decode_utf8_strict(const uint8_t* p, uint32_t* available) {
    int32_t cp = decode_checked(p, available);
    if (cp == INVALID) invalid_utf8(p, error_span(*available, false));
    return cp;
}

// Encoding ----------------------------------------------------------------------

uint32_t encode_utf8_char(uint32_t cp, uint8_t* out) {
    return encode_utf8_char_bounded(cp, out, 4);
}

uint32_t encode_utf8_char_bounded(uint32_t cp, uint8_t* out, uint32_t room) {
    uint8_t seq[4];
    uint32_t n = codepoint_size(cp);
    switch (n) {
        case 1:
            seq[0] = uint8_t(cp);
            break;
        case 2:
            seq[0] = uint8_t(0xC0 | cp >> 6);
            seq[1] = uint8_t(0x80 | (cp & 0x3F));
            break;
        case 3:
            seq[0] = uint8_t(0xE0 | cp >> 12);
            seq[1] = uint8_t(0x80 | ((cp >> 6) & 0x3F));
            seq[2] = uint8_t(0x80 | (cp & 0x3F));
            break;
        default:
            seq[0] = uint8_t(0xF0 | cp >> 18);
            seq[1] = uint8_t(0x80 | ((cp >> 12) & 0x3F));
            seq[2] = uint8_t(0x80 | ((cp >> 6) & 0x3F));
            seq[3] = uint8_t(0x80 | (cp & 0x3F));
            break;
    }
    n = std::min(n, room);
    std::memcpy(out, seq, n);
    return n;
}

// Loading UTF-8 -----------------------------------------------------------------

namespace {

node_id load_utf8_showing(const uint8_t* src, uint32_t size, node_id target, uint32_t* remainder, bool cr,
                          bool whole_rest) {
    uint32_t n = size ? size : 1;
    node_id node = target;
    series_buffer* b;
    if (!node) {
        node = memory::alloc_codepoints(n, 1);
        b = series::buffer(node);
    } else {
        b = series::buffer(node);
        uint64_t wanted = uint64_t(n) * unit_of(b);
        if (uint64_t(end_of(b) - b->offset) < wanted) {
            if (wanted > 0x7FFFFFFF) fire(err::INTERNAL, err::internal::no_memory);
            b = memory::expand_series(b, uint32_t(wanted));
        }
    }
    // The buffer now holds n units, and no input byte yields more than one
    // character, so storing never needs to grow it: widening keeps the count.
    uint8_t* out = b->offset;
    b->tail = out;
    if (remainder) *remainder = 0;

    const uint8_t* p = src;
    const uint8_t* end = src + size;
    if (size > 2 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) p += 3;
    uint32_t unit = unit_of(b);
    while (p < end) {
        if (unit == 1 && *p < 0x80) {
            // A run of ASCII, the bulk of most text, is copied as it is,
            // eight bytes at a time while none has its high bit set.
            const uint8_t* run = p;
            if (!cr) {
                for (uint64_t w; end - run >= 8; run += 8) {
                    std::memcpy(&w, run, 8);
                    if (w & 0x8080808080808080u) break;
                }
            }
            while (run < end && *run < 0x80 && !(cr && *run == '\r')) run++;
            std::memcpy(out, p, size_t(run - p));
            out += run - p;
            p = run;
            if (p == end) break;
        }
        uint32_t length = uint32_t(end - p);
        int32_t decoded = decode_checked(p, &length);
        // A caller without a remainder has no next chunk to finish a cut one.
        if (decoded == INVALID || (decoded == CUT && !remainder))
            invalid_utf8(p, error_span(uint32_t(end - p), whole_rest));
        if (decoded == CUT) {
            *remainder = uint32_t(end - p);
            break;
        }
        p += length;
        uint32_t cp = uint32_t(decoded);
        if (cr && cp == '\r') {
            if (p < end && *p == '\n') continue;
            cp = '\n';
        }
        if (cp > unit_max(unit)) {
            b->tail = out;
            b = widen(b, unit_for(cp));
            unit = unit_of(b);
            out = b->tail;
        }
        string::put_char(out, unit, cp);
        out += unit;
    }
    b->tail = out;
    return node;
}

}  // namespace

node_id load_utf8(const uint8_t* src, uint32_t size, node_id target, uint32_t* remainder, bool cr) {
    return load_utf8_showing(src, size, target, remainder, cr, false);
}

node_id load_utf8_at(const uint8_t* src, uint32_t size, kiv_value* str, uint32_t* remainder) {
    return load_utf8(src, size, str->data2, remainder, false);
}

node_id load_utf8_buffer(const uint8_t* src, uint32_t size) {
    return load_utf8_showing(src, size, 0, nullptr, false, true);
}

// Widening ----------------------------------------------------------------------

series_buffer* to_ucs2(series_buffer* buffer) { return widen(buffer, 2); }
series_buffer* to_ucs4(series_buffer* buffer) { return widen(buffer, 4); }
series_buffer* ucs2_to_ucs4(series_buffer* buffer) { return widen(buffer, 4); }

void widen_units(const uint8_t* src, uint32_t from, uint8_t* dst, uint32_t to, uint32_t count) {
    for (uint32_t i = count; i-- > 0;)
        string::put_char(dst + size_t(i) * to, to, string::get_char(src + size_t(i) * from, from));
}

// Loading UTF-16LE --------------------------------------------------------------

uint32_t utf16_unit_width(const uint8_t* data, uint32_t count) {
    uint32_t width = 1;
    for (uint32_t i = 0; i < count; i++) {
        uint32_t high = data[2 * i + 1];
        if (high >= 0xD8 && high <= 0xDF) return 4;
        if (high) width = 2;
    }
    return width;
}

node_id load_utf16le(const uint8_t* src, uint32_t count, kiv_value* target, bool cr) {
    bool from_scratch = src == nullptr && target;
    if (from_scratch) src = series::buffer(target->data3)->offset;
    uint32_t width = utf16_unit_width(src, count);
    node_id node;
    series_buffer* b;
    if (target) {
        node = target->data2;
        b = series::buffer(node);
        uint64_t wanted = uint64_t(count) * width;
        if (uint64_t(end_of(b) - b->offset) < wanted) {
            if (wanted > 0x7FFFFFFF) fire(err::INTERNAL, err::internal::no_memory);
            b = memory::expand_series(b, uint32_t(wanted));
        }
        b->flags = (b->flags & ~SERIES_UNIT_MASK) | width;
    } else {
        node = memory::alloc_codepoints(count, width);
        b = series::buffer(node);
    }
    if (from_scratch) src = series::buffer(target->data3)->offset;  // may have moved

    uint8_t* out = b->offset;
    if (width == 2 && !cr) {
        std::memcpy(out, src, size_t(count) * 2);
        out += size_t(count) * 2;
    } else {
        for (uint32_t i = 0; i < count; i++) {
            uint32_t cp = read16(src + 2 * i);
            if (cp >= 0xD800 && cp <= 0xDFFF) {
                uint32_t next = i + 1 < count ? read16(src + 2 * (i + 1)) : 0;
                if (cp > 0xDBFF || next < 0xDC00 || next > 0xDFFF) invalid_utf16(cp);
                cp = 0x10000 + ((cp & 0x3FF) << 10) + (next & 0x3FF);
                i++;
            } else if (cr && cp == '\r') {
                if (i + 1 < count && read16(src + 2 * (i + 1)) == '\n') continue;
                cp = '\n';
            }
            string::put_char(out, width, cp);
            out += width;
        }
    }
    b->tail = out;
    b->flags |= SERIES_UTF16;
    return node;
}

// Exports -----------------------------------------------------------------------

const char* to_utf8_cached(kiv_value* str, int32_t* count, bool crlf) {
    uint32_t c = export_count(*count, string::ks_length_q(str));
    uint32_t unit = unit_of(string::buffer_of(str));
    // The longest UTF-8 form of a unit, room for a CR before an LF included.
    uint64_t size = (unit == 4 ? 4 : unit + 1) * (uint64_t(c) + 1);
    if (size > 0x7FFFFFFF) fire(err::INTERNAL, err::internal::no_memory);
    uint8_t* out = string::ensure_buffer(str, uint32_t(size));
    uint32_t n = encode_units(string::ks_head(str), unit, c, out, crlf);
    out[n] = 0;
    *count = int32_t(n);
    return reinterpret_cast<const char*>(out);
}

uint32_t to_utf8_into(kiv_value* str, uint8_t* target, int32_t count, bool nul) {
    uint32_t c = export_count(count, string::ks_length_q(str));
    uint32_t n = encode_units(string::ks_head(str), unit_of(string::buffer_of(str)), c, target, false);
    if (nul) target[n] = 0;
    return n;
}

uint32_t to_utf8_bounded(kiv_value* str, uint8_t* target, uint32_t room, int32_t count, bool nul) {
    uint32_t length = string::ks_length_q(str);
    uint32_t c = count > 0 && uint32_t(count) < length ? uint32_t(count) : length;
    uint32_t unit = unit_of(string::buffer_of(str));
    const uint8_t* p = string::ks_head(str);
    uint32_t n = 0;
    for (uint32_t i = 0; i < c; i++, p += unit) {
        uint32_t cp = string::get_char(p, unit);
        if (codepoint_size(cp) > room - n) break;
        n += encode_utf8_char(cp, target + n);
    }
    if (nul) target[n] = 0;
    return n;
}

uint16_t* cstr_to_utf16(const char* text, uint16_t* target) {
    uint16_t* out = target;
    for (const uint8_t* p = reinterpret_cast<const uint8_t*>(text); *p; p++) *out++ = *p;
    *out = 0;
    return target;
}

}  // namespace kiv::unicode

namespace kiv::string {

uint8_t* ensure_buffer(kiv_value* str, uint32_t n) {
    if (!str->data3) {
        str->data3 = memory::alloc_bytes(n);
        return series::buffer(str->data3)->offset;
    }
    series_buffer* b = series::buffer(str->data3);
    if (uint32_t(end_of(b) - b->offset) < n) b = memory::expand_series(b, n);
    return b->offset;
}

const uint16_t* to_utf16_part(kiv_value* str, int32_t* count, bool crlf) {
    uint32_t c = unicode::export_count(*count, ks_length_q(str));
    uint32_t unit = unit_of(buffer_of(str));
    // Each line feed and each code point beyond the BMP may take a second unit.
    uint64_t size = 2 * (uint64_t(c) + 1);
    const uint8_t* p = ks_head(str);
    for (uint32_t i = 0; i < c; i++, p += unit) {
        uint32_t cp = get_char(p, unit);
        if (cp == '\n' || cp > 0xFFFF) size += 2;
    }
    if (size > 0x7FFFFFFF) fire(err::INTERNAL, err::internal::no_memory);
    auto* out = reinterpret_cast<uint16_t*>(ensure_buffer(str, uint32_t(size)));
    p = ks_head(str);  // the allocation may have moved the text
    uint32_t n = 0;
    if (unit == 2 && !crlf) {
        std::memcpy(out, p, size_t(c) * 2);
        n = c;
    } else {
        for (uint32_t i = 0; i < c; i++, p += unit) {
            uint32_t cp = get_char(p, unit);
            if (cp > unicode::MAX_CODEPOINT) return nullptr;
            if (crlf && cp == '\n') out[n++] = '\r';
            if (cp > 0xFFFF) {
                out[n++] = uint16_t(0xD800 | ((cp - 0x10000) >> 10));
                out[n++] = uint16_t(0xDC00 | ((cp - 0x10000) & 0x3FF));
            } else {
                out[n++] = uint16_t(cp);
            }
        }
    }
    out[n] = 0;
    *count = int32_t(n);
    return out;
}

const uint16_t* to_utf16(kiv_value* str) {
    int32_t all = -1;
    return to_utf16_part(str, &all, false);
}

}  // namespace kiv::string
