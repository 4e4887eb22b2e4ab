// string!: the string cell, its buffers and the core helpers.
#include "runtime/datatypes/string.h"

#include <algorithm>
#include <cstring>

#include "runtime/case_tables.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/system.h"
#include "runtime/unicode.h"

namespace kiv::string {

namespace {

constexpr uint32_t MAX_BUFFER = 0x7FFFFFFF;

// Bytes from the buffer's offset to the end of its data area.
uint64_t capacity(series_buffer* b) { return uint64_t(end_of(b) - b->offset); }

uint8_t* at_index(series_buffer* b, uint32_t index) { return b->offset + size_t(index) * unit_of(b); }

uint32_t fold(uint32_t cp) { return unicode::fold_upper(cp); }

// No byte above 0x7F, eight bytes a test.
bool ascii_q(const uint8_t* bytes, uint32_t n) {
    uint64_t high = 0;
    uint32_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        std::memcpy(&w, bytes + i, 8);
        high |= w;
    }
    for (; i < n; i++) high |= bytes[i];
    return (high & 0x8080808080808080ull) == 0;
}

// Clamps a cursor past the tail to the length and returns it.
uint32_t clamp_head(kiv_value* str) {
    uint32_t length = series::used_units(buffer_of(str));
    if (head_of(str) > int32_t(length)) str->data1 = length;
    return str->data1;
}

// Widens the buffer when a code point stored in place does not fit it.
series_buffer* fit_in_place(series_buffer* b, uint32_t cp) {
    uint32_t unit = unit_of(b);
    if (unit == 1 && cp > 0xFF) return widen_to(b, 1, cp > 0xFFFF ? 4 : 2);
    if (unit == 2 && cp > 0xFFFF) return widen_to(b, 2, 4);
    return b;
}

// The scratch buffer of exchange_ranges, taken on first use and kept.
constexpr uint32_t SCRATCH_SIZE = 65536;
uint8_t* scratch = nullptr;

// [x: n1 bytes][y: n2 bytes] becomes [y][x], the shorter passing through
// the scratch buffer (or a block of its own when it is larger).
void swap_adjacent(uint8_t* p, uint32_t n1, uint32_t n2) {
    if (n1 == 0 || n2 == 0) return;
    uint32_t shorter = std::min(n1, n2);
    if (!scratch) scratch = static_cast<uint8_t*>(memory::allocate(SCRATCH_SIZE));
    uint8_t* tmp = shorter <= SCRATCH_SIZE ? scratch : static_cast<uint8_t*>(memory::allocate(shorter));
    if (n2 <= n1) {
        std::memcpy(tmp, p + n1, n2);
        std::memmove(p + n2, p, n1);
        std::memcpy(p, tmp, n2);
    } else {
        std::memcpy(tmp, p, n1);
        std::memmove(p, p + n1, n2);
        std::memcpy(p + n2, tmp, n1);
    }
    if (tmp != scratch) memory::free(tmp);
}

}  // namespace

void bad_unit() { system::runtime_error(system::RT_NO_SWITCH); }

// Accessors ---------------------------------------------------------------------

uint8_t* ks_head(kiv_value* str) { return at_index(buffer_of(str), clamp_head(str)); }

uint32_t ks_length_q(kiv_value* str) {
    uint32_t head = clamp_head(str);
    return series::used_units(buffer_of(str)) - head;
}

uint32_t ks_length_all(const kiv_value* str) { return series::used_units(buffer_of(str)); }

uint8_t* ks_tail_ptr(const kiv_value* str) { return buffer_of(str)->tail; }

bool ks_tail_q(const kiv_value* str) {
    return head_of(str) >= int32_t(series::used_units(buffer_of(str)));
}

uint32_t ks_abs_at(const kiv_value* str, uint32_t index) {
    series_buffer* b = buffer_of(str);
    return get_char(at_index(b, index), unit_of(b));
}

kiv_value* ks_reset(kiv_value* str) {
    series_buffer* b = buffer_of(str);
    b->flags = (b->flags & ~SERIES_UNIT_MASK) | 1;
    b->tail = b->offset;
    str->data1 = 0;
    return str;
}

int32_t ks_find_char(kiv_value* str, uint32_t cp) {
    uint32_t length = ks_length_q(str);
    uint32_t unit = unit_of(buffer_of(str));
    const uint8_t* p = ks_head(str);
    for (uint32_t i = 0; i < length; i++, p += unit)
        if (get_char(p, unit) == cp) return int32_t(i);
    return -1;
}

// Constructors ------------------------------------------------------------------

kiv_value* make_at(kiv_value* slot, uint32_t units) { return make_at_unit(slot, units ? units : 1, 1); }

kiv_value* make_at_unit(kiv_value* slot, uint32_t units, uint32_t unit) {
    // Unset while the buffer is allocated: the cell holds no node yet.
    *slot = kiv_value{TYPE_UNSET, 0, 0, 0};
    node_id node = memory::alloc_codepoints(units, unit);
    *slot = kiv_value{TYPE_STRING, 0, node, 0};
    return slot;
}

kiv_value* push(const kiv_value* str) { return stack::push_value(str); }

// Writers -----------------------------------------------------------------------

series_buffer* reserve(series_buffer* b, uint64_t needed) {
    if (needed <= capacity(b)) return b;
    uint64_t grown = std::max(needed, uint64_t(b->size) * 2);
    if (grown > MAX_BUFFER) {
        if (needed > MAX_BUFFER) fire(err::INTERNAL, err::internal::no_memory);
        grown = MAX_BUFFER;
    }
    return memory::expand_series_copy(b, uint32_t(grown));
}

series_buffer* append_char(series_buffer* b, uint32_t cp) {
    uint32_t unit = unit_of(b);
    if (unit == 1 && cp > 0x7F) b = widen_to(b, 1, cp > 0xFFFF ? 4 : 2);
    else if (unit == 2 && cp > 0xFFFF) b = widen_to(b, 2, 4);
    unit = unit_of(b);
    node_id node = b->node;
    uint8_t* p = series::alloc_tail_bytes(b, unit);
    put_char(p, unit, cp);
    return series::buffer(node);
}

series_buffer* write_char(series_buffer* b, uint8_t* p, uint32_t cp) {
    uint32_t index = uint32_t((p - b->offset) / unit_of(b));
    b = fit_in_place(b, cp);
    put_char(at_index(b, index), unit_of(b), cp);
    return b;
}

series_buffer* overwrite_char(series_buffer* b, uint32_t index, uint32_t cp) {
    b = fit_in_place(b, cp);
    uint32_t unit = unit_of(b);
    b = reserve(b, (uint64_t(index) + 1) * unit);
    uint8_t* p = at_index(b, index);
    put_char(p, unit, cp);
    if (p >= b->tail) b->tail = p + unit;
    return b;
}

series_buffer* insert_char(series_buffer* b, uint32_t index, uint32_t cp) {
    b = fit_in_place(b, cp);
    uint32_t unit = unit_of(b);
    b = reserve(b, uint64_t(b->tail - b->offset) + unit);
    uint8_t* p = at_index(b, index);
    std::memmove(p + unit, p, size_t(b->tail - p));
    b->tail += unit;
    put_char(p, unit, cp);
    return b;
}

series_buffer* remove_units(kiv_value* str, uint32_t index, uint32_t count) {
    series_buffer* b = buffer_of(str);
    uint32_t length = series::used_units(b);
    if (index >= length) return b;
    count = std::min(count, length - index);
    uint32_t unit = unit_of(b);
    uint8_t* p = at_index(b, index);
    uint8_t* rest = p + size_t(count) * unit;
    std::memmove(p, rest, size_t(b->tail - rest));
    b->tail -= size_t(count) * unit;
    return b;
}

series_buffer* truncate_to(series_buffer* b, uint32_t n) {
    uint8_t* end = at_index(b, n);
    if (end <= end_of(b) && end < b->tail) b->tail = end;
    return b;
}

series_buffer* widen_to(series_buffer* b, uint32_t from, uint32_t to) {
    if (from == 1 && to == 2) return unicode::to_ucs2(b);
    if (from == 1 && to == 4) return unicode::to_ucs4(b);
    if (from == 2 && to == 4) return unicode::ucs2_to_ucs4(b);
    bad_unit();
}

series_buffer* copy_widened(series_buffer* source, series_buffer* target, uint32_t size,
                            uint32_t unit, uint32_t src_start, uint32_t dst_start,
                            int32_t length, bool keep_unit) {
    uint32_t from = unit_of(source);
    if (unit != 2 && unit != 4) bad_unit();
    if (from >= unit) system::runtime_error(system::RT_NO_CASE);
    uint32_t available = series::used_units(source);
    available = src_start < available ? available - src_start : 0;
    uint32_t n = length < 1 ? available : uint32_t(length);
    // The old buffer stays readable after the expansion until the next
    // collection, and `source` on this stack pins it through that one.
    if (!target) target = memory::expand_series(source, size);
    unicode::widen_units(at_index(source, src_start), from, target->offset + size_t(dst_start) * unit,
                         unit, n);
    if (!keep_unit) {
        target->flags = (target->flags & ~SERIES_UNIT_MASK) | unit;
        target->tail = target->offset + (size_t(dst_start) + n) * unit;
    }
    return target;
}

void exchange_ranges(uint8_t* first, uint32_t first_len, uint8_t* second, uint32_t second_len,
                     uint32_t gap) {
    swap_adjacent(first, uint32_t(second - first), second_len);  // [first gap][second] -> [second][first gap]
    swap_adjacent(first + second_len, first_len, gap);           // [first][gap] -> [gap][first]
}

series_buffer* move_units(kiv_value* source, kiv_value* target, uint32_t bytes) {
    uint32_t unit = unit_of(buffer_of(source));
    uint32_t count = std::min(bytes / unit, ks_length_q(source));
    uint32_t from = clamp_head(source);
    uint32_t to = clamp_head(target);
    series_buffer* t = buffer_of(target);
    for (uint32_t i = 0; i < count; i++) {
        // Re-read the source each time: an insertion may allocate.
        uint32_t cp = get_char(at_index(buffer_of(source), from + i), unit);
        t = insert_char(t, to + i, cp);
    }
    if (count) remove_units(source, from, count);
    return t;
}

// Concatenation -----------------------------------------------------------------

namespace {

// Room for `bytes` more at the tail; a buffer that must grow takes twice
// what it will then hold.
series_buffer* room_at_tail(series_buffer* t, uint64_t bytes) {
    uint64_t used = uint64_t(t->tail - t->offset);
    if (used + bytes <= capacity(t)) return t;
    if (used + bytes > MAX_BUFFER) fire(err::INTERNAL, err::internal::no_memory);
    return memory::expand_series_copy(t, uint32_t(std::min<uint64_t>(2 * (used + bytes), MAX_BUFFER)));
}

}  // namespace

bool append_same_width(kiv_value* target, kiv_value* source) {
    uint32_t t = type_of(source);
    if (!(t == TYPE_STRING || t == TYPE_FILE || t == TYPE_URL || t == TYPE_EMAIL || t == TYPE_REF))
        return false;
    uint32_t unit = unit_of(buffer_of(target));
    if (unit != unit_of(buffer_of(source))) return false;
    uint32_t s_head = clamp_head(source);
    clamp_head(target);
    uint64_t bytes = uint64_t(unit) * (series::used_units(buffer_of(source)) - s_head);
    if (bytes == 0) return true;
    series_buffer* b = room_at_tail(buffer_of(target), bytes);
    // Read the source after the expansion: it may be the target itself.
    std::memmove(b->tail, at_index(buffer_of(source), s_head), size_t(bytes));
    b->tail += bytes;
    return true;
}

series_buffer* concatenate(kiv_value* target, kiv_value* source, int32_t part, uint32_t offset,
                           bool keep_source, concat_mode mode) {
    uint32_t s_head = clamp_head(source);
    clamp_head(target);
    series_buffer* t = buffer_of(target);
    uint32_t tu = unit_of(t);
    uint32_t su = unit_of(buffer_of(source));
    if (tu < su) {
        t = widen_to(t, tu, su);
        tu = su;
    }
    bool by_char = su < tu && keep_source;
    if (su < tu && !keep_source) {
        // Widening the source keeps its text; only its storage changes.
        widen_to(buffer_of(source), su, tu);
        su = tu;
        t = buffer_of(target);
    }
    uint32_t count = series::used_units(buffer_of(source)) - s_head;
    if (part >= 0 && uint32_t(part) < count) count = uint32_t(part);
    uint64_t bytes = uint64_t(tu) * count;
    if (bytes == 0) return t;
    t = room_at_tail(t, bytes);
    // Read the source after the expansion: it may share the target's buffer.
    series_buffer* s = buffer_of(source);
    const uint8_t* src = at_index(s, s_head);
    uint32_t at = std::min(uint32_t(head_of(target)) + offset, series::used_units(t));
    uint8_t* old_tail = t->tail;
    uint8_t* dst = mode == APPEND ? old_tail : at_index(t, at);
    if (mode == INSERT) std::memmove(dst + bytes, dst, size_t(old_tail - dst));

    if (by_char) {
        unicode::widen_units(src, su, dst, tu, count);
    } else if (mode == INSERT && s == t) {
        // The opening moved the part of the source at or after the insertion
        // point up by `bytes`; the part before it stayed.
        uint64_t before = src < dst ? std::min<uint64_t>(uint64_t(dst - src), bytes) : 0;
        std::memmove(dst, src, size_t(before));
        std::memmove(dst + before, std::max(src, static_cast<const uint8_t*>(dst)) + bytes,
                     size_t(bytes - before));
    } else {
        std::memmove(dst, src, size_t(bytes));
    }

    if (mode == INSERT) t->tail = old_tail + bytes;
    else t->tail = std::max(old_tail, dst + bytes);
    return t;
}

series_buffer* concatenate_literal(kiv_value* str, const char* text) {
    return concatenate_bytes(str, reinterpret_cast<const uint8_t*>(text), uint32_t(std::strlen(text)));
}

series_buffer* concatenate_bytes(kiv_value* str, const uint8_t* bytes, uint32_t n) {
    series_buffer* b = buffer_of(str);
    // Appending keeps a 1-byte buffer ASCII: one high byte widens it first.
    if (unit_of(b) == 1 && !ascii_q(bytes, n)) b = widen_to(b, 1, 2);
    uint32_t unit = unit_of(b);
    if (uint64_t(n) * unit > MAX_BUFFER) fire(err::INTERNAL, err::internal::no_memory);
    uint8_t* at = series::alloc_tail_bytes(b, n * unit);
    if (unit == 1) std::memcpy(at, bytes, n);
    else unicode::widen_units(bytes, 1, at, unit, n);
    return buffer_of(str);
}

// Comparison --------------------------------------------------------------------

int32_t compare_series(kiv_value* a, kiv_value* b, int32_t op, bool match) {
    bool same = a->data2 == b->data2 && a->data1 == b->data1;
    if (op == OP_SAME) return same ? 0 : -1;
    bool equality = op == OP_EQUAL || op == OP_NOT_EQUAL || op == OP_STRICT_EQUAL || op == OP_FIND;
    if (same && equality) return 0;

    uint32_t len_a = ks_length_q(a);
    uint32_t len_b = ks_length_q(b);
    uint32_t n;
    if (match) {
        if (len_b == 0) return op == OP_FIND ? 1 : 0;
        if (len_b > len_a) return 1;
        n = len_b;
    } else {
        if (len_a != len_b && (equality || len_b == 0)) return 1;
        if (len_a == 0 && len_b == 0) return 0;
        n = std::min(len_a, len_b);
    }
    if (len_a == 0) return -1;

    bool folded = op != OP_STRICT_EQUAL && op != OP_CASE_SORT;
    uint32_t ua = unit_of(buffer_of(a));
    uint32_t ub = unit_of(buffer_of(b));
    const uint8_t* pa = ks_head(a);
    const uint8_t* pb = ks_head(b);
    if (ua == 1 && ub == 1) {
        // Byte strings, mostly ASCII: equal bytes need no folding.
        for (uint32_t i = 0; i < n; i++) {
            uint32_t ca = pa[i], cb = pb[i];
            if (ca == cb) continue;
            if (folded) {
                ca = fold(ca);
                cb = fold(cb);
                if (ca == cb) continue;
            }
            return ca > cb ? 1 : -1;
        }
        if (match || len_a == len_b) return 0;
        return len_a > len_b ? 1 : -1;
    }
    for (uint32_t i = 0; i < n; i++, pa += ua, pb += ub) {
        uint32_t ca = get_char(pa, ua);
        uint32_t cb = get_char(pb, ub);
        if (folded) {
            ca = fold(ca);
            cb = fold(cb);
        }
        if (ca != cb) return ca > cb ? 1 : -1;
    }
    if (match || len_a == len_b) return 0;
    return len_a > len_b ? 1 : -1;
}

bool starts_with_ascii_q(kiv_value* str, const char* text) {
    size_t n = std::strlen(text);
    if (ks_length_q(str) < n) return false;
    uint32_t unit = unit_of(buffer_of(str));
    const uint8_t* p = ks_head(str);
    for (size_t i = 0; i < n; i++, p += unit)
        if (get_char(p, unit) != uint8_t(text[i])) return false;
    return true;
}

bool contains_char_q(kiv_value* str, uint32_t cp, uint32_t skip, bool case_sensitive) {
    if (!case_sensitive) cp = fold(cp);
    skip = std::max(skip, 1u);
    uint32_t length = ks_length_q(str);
    uint32_t unit = unit_of(buffer_of(str));
    const uint8_t* p = ks_head(str);
    for (uint32_t i = 0; i < length; i += skip) {
        uint32_t c = get_char(p + size_t(i) * unit, unit);
        if ((case_sensitive ? c : fold(c)) == cp) return true;
    }
    return false;
}

bool angle_bracketed_q(kiv_value* str, kiv_value* tag) {
    uint32_t n = ks_length_q(tag);
    if (ks_length_q(str) < uint64_t(n) + 2) return false;
    uint32_t unit = unit_of(buffer_of(str));
    const uint8_t* p = ks_head(str);
    return get_char(p, unit) == '<' && get_char(p + size_t(n + 1) * unit, unit) == '>';
}

// Hexadecimal digits --------------------------------------------------------------

namespace {
constexpr char HEX_DIGITS[] = "0123456789ABCDEF";
}

const char* byte_to_hex(uint8_t byte) {
    static char out[3];
    out[0] = HEX_DIGITS[byte >> 4];
    out[1] = HEX_DIGITS[byte & 15];
    return out;
}

const char* to_hex(int32_t value, bool shortest) {
    static char out[9];
    uint32_t v = uint32_t(value);
    for (int i = 7; i >= 0; i--, v >>= 4) out[i] = HEX_DIGITS[v & 15];
    if (!shortest) return out;
    if (value == 0) return out + 6;
    const char* first = out;
    while (*first == '0') first++;
    return first;
}

// Loading -----------------------------------------------------------------------

kiv_value* load_at(const uint8_t* src, uint32_t size, kiv_value* slot, int32_t encoding) {
    if (encoding != UTF8 && encoding != UTF16LE) {
        kiv_value e{TYPE_INTEGER, 0, uint32_t(encoding), 0};
        fire(err::ACCESS, err::access::no_codec, &e);
    }
    if (encoding == UTF16LE && size % 2) {
        kiv_value last{TYPE_INTEGER, 0, src[size - 1], 0};
        fire(err::SCRIPT, err::script::invalid_data, &last);
    }
    if (!slot) slot = stack::push();
    *slot = kiv_value{TYPE_UNSET, 0, 0, 0};
    node_id node = encoding == UTF8 ? unicode::load_utf8(src, size, 0, nullptr, false)
                                    : unicode::load_utf16le(src, size / 2, nullptr, false);
    *slot = kiv_value{TYPE_STRING, 0, node, 0};
    return slot;
}

kiv_value* load(const uint8_t* src, uint32_t size, int32_t encoding) {
    return load_at(src, size, nullptr, encoding);
}

kiv_value* load_in(const uint8_t* src, uint32_t size, kiv_value* block, int32_t encoding) {
    // Loaded first, so that a refused encoding leaves the block alone.
    kiv_value loaded = *load_at(src, size, nullptr, encoding);
    stack::pop(1);
    return copy_cell(&loaded, block::alloc_tail(block));
}

}  // namespace kiv::string
