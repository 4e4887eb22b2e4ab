// binary!: making and reading byte series, the bytes of values (append,
// insert, change, to), comparison, the #{...} text, trimming and the bitwise
// actions. The navigation and search actions come from string! and series!,
// which work on any unit size.
//
// The action dispatchers tell an owned series' owner about each change.
#include "runtime/datatypes/binary.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/base_codecs.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/system.h"
#include "runtime/unicode.h"

namespace kiv::binary {

namespace {

using bytes = std::vector<uint8_t>;

constexpr uint64_t MAX_BYTES = 0x7FFFFFFF;

[[noreturn]] void bad_to(const kiv_value* value) {
    kiv_value dt;
    datatype::make_at(&dt, TYPE_BINARY);
    fire(err::SCRIPT, err::script::bad_to_arg, &dt, value);
}

uint32_t clamp_head(kiv_value* bin) {
    uint32_t length = series::used_units(buffer_of(bin));
    if (bin->data1 > length) bin->data1 = length;
    return bin->data1;
}

bool text_family_q(uint32_t t) {
    return t == TYPE_STRING || t == TYPE_FILE || t == TYPE_URL || t == TYPE_TAG || t == TYPE_EMAIL ||
           t == TYPE_REF;
}

void put_utf8(bytes& out, uint32_t cp) {
    uint8_t seq[4];
    out.insert(out.end(), seq, seq + unicode::encode_utf8_char(cp, seq));
}

// The UTF-8 of a text from its head, written into room for the longest
// sequences its unit can need.
void put_text(bytes& out, const kiv_value* text) {
    kiv_value s = *text;
    uint32_t length = string::ks_length_q(&s);
    uint32_t unit = series::unit_of_value(&s);
    const uint8_t* p = series::unit_at(&s, s.data1);
    size_t start = out.size();
    out.resize(start + size_t(length) * (unit == 1 ? 2 : unit + 1));
    uint8_t* w = out.data() + start;
    for (uint32_t i = 0; i < length; i++, p += unit) {
        uint32_t cp = string::get_char(p, unit);
        if (cp < 0x80) *w++ = uint8_t(cp);
        else w += unicode::encode_utf8_char(cp, w);
    }
    out.resize(size_t(w - out.data()));
}

void put_formed(bytes& out, kiv_value* value) {
    kiv_value* text = string::make_at(stack::push(), 16);
    actions::form_typed(value, text, nullptr, INT_MAX);
    put_text(out, text);
    stack::pop(1);
}

void put_range(bytes& out, const kiv_value* bin, uint32_t limit) {
    kiv_value b = *bin;
    uint32_t n = std::min(ks_length_q(&b), limit);
    const uint8_t* p = ks_head(&b);
    out.insert(out.end(), p, p + n);
}

// What a value of a type the byte rules do not know gives: an error for
// insert, append and to; its formed text for change.
enum others { REFUSE, FORM };

// The bytes a value contributes; `limit` counts the values of a block, the
// bytes of anything else.
void put_value(bytes& out, kiv_value* value, others rule, uint32_t limit = UINT32_MAX) {
    size_t start = out.size();
    switch (type_of(value)) {
        case TYPE_CHAR:
            put_utf8(out, value->data2);
            break;
        case TYPE_INTEGER: {
            int32_t n = int32_t(value->data2);
            if (n < -128 || n > 255) fire(err::SCRIPT, err::script::invalid_arg, value);
            out.push_back(uint8_t(n));
            break;
        }
        case TYPE_BINARY:
            put_range(out, value, limit);
            return;
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH: {
            system::check_native_stack();
            kiv_value blk = *value;
            for (uint32_t i = blk.data1, k = 0; i < block::length_all(&blk) && k < limit; i++, k++) {
                kiv_value cell = block::cells(&blk)[i];
                put_value(out, &cell, rule);
            }
            return;
        }
        default:
            if (text_family_q(type_of(value))) put_text(out, value);
            else if (rule == FORM) put_formed(out, value);
            else bad_to(value);
    }
    if (out.size() - start > limit) out.resize(start + limit);
}

uint64_t checked_size(uint64_t size) {
    if (size > MAX_BYTES) fire(err::INTERNAL, err::internal::no_memory);
    return size;
}

// Writes `data` `dup` times at `at`, over the bytes already there.
void write_repeated(kiv_value* bin, uint32_t at, const bytes& data, uint64_t dup) {
    if (data.empty()) return;
    uint8_t* p = series::unit_at(bin, at);
    for (uint64_t k = 0; k < dup; k++, p += data.size()) std::memcpy(p, data.data(), data.size());
}

// Makes room for `added` bytes in place of `replaced` ones at `at`.
void open_gap(kiv_value* bin, uint32_t at, uint32_t replaced, uint64_t added) {
    series_buffer* b = buffer_of(bin);
    uint32_t length = series::used_units(b);
    uint64_t new_length = checked_size(uint64_t(length) - replaced + added);
    b = string::reserve(b, new_length);
    uint8_t* p = b->offset + at;
    std::memmove(p + added, p + replaced, length - at - replaced);
    b->tail = b->offset + new_length;
}

kiv_value* new_binary(const bytes& data) { return load(data.data(), uint32_t(data.size())); }

// Text ---------------------------------------------------------------------------

void line_break(std::string& text, int32_t level) {
    text += '\n';
    text.append(size_t(4 * level), ' ');
}

// Long binaries go on lines of 32 bytes, one level deeper than the
// surrounding text; with a /part limit the text stops once it is used up.
int32_t mold_bytes(const kiv_value* bin, kiv_value* buffer, bool only, bool flat, bool limited,
                   int32_t part, int32_t indent) {
    kiv_value b = *bin;
    uint32_t n = ks_length_q(&b);
    const uint8_t* p = ks_head(&b);
    bool lines = n > 30 && !flat;
    std::string text = only ? "" : "#{";
    text.reserve(size_t(n) * 2 + (lines ? size_t(n / 32 + 2) * size_t(4 * indent + 5) : 0) + 4);
    if (lines) line_break(text, indent + 1);
    bool cut = false;
    for (uint32_t i = 0; i < n && !cut; i++) {
        text.append(string::byte_to_hex(p[i]), 2);
        if (!flat && (i + 1) % 32 == 0) line_break(text, indent + 1);
        cut = limited && part - int64_t(text.size()) <= 0;
    }
    if (!cut) {
        if (lines && n % 32) line_break(text, indent);
        if (!only) text += "}";
    }
    string::concatenate_bytes(buffer, reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()));
    return part - int32_t(text.size());
}

int32_t form(kiv_value* bin, kiv_value* buffer, kiv_value* arg, int32_t part) {
    return mold_bytes(bin, buffer, false, false, arg != nullptr, part, 0);
}

int32_t mold(kiv_value* bin, kiv_value* buffer, bool only, bool, bool flat, kiv_value* arg, int32_t part,
             int32_t indent) {
    return mold_bytes(bin, buffer, only, flat, arg != nullptr, part, indent);
}

// Comparison ---------------------------------------------------------------------

bool equality_q(int32_t op) {
    return op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL || op == COMP_EQUAL_SPELLING ||
           op == COMP_EQUAL_FOLDED || op == COMP_FIND;
}

int32_t compare(kiv_value* bin, kiv_value* other, int32_t op) {
    if (type_of(other) != TYPE_BINARY) return COMPARE_INCOMPARABLE;
    return compare_bytes(bin, other, op, false);
}

// Bitwise actions ----------------------------------------------------------------

template <int32_t Op>
void bitwise() {
    kiv_value a = stack::arguments[0], b = stack::arguments[1];
    if (type_of(&b) != TYPE_BINARY) fire(err::SCRIPT, err::script::invalid_arg, &b);
    uint32_t la = ks_length_q(&a), lb = ks_length_q(&b);
    const uint8_t* pa = ks_head(&a);
    const uint8_t* pb = ks_head(&b);
    bytes out(std::max(la, lb), 0);
    for (uint32_t i = 0; i < out.size(); i++) {
        // Past the shorter operand, and~ gives zeros and the others the
        // longer operand's bytes.
        if (i >= la || i >= lb) {
            if (Op != OP_AND) out[i] = i < la ? pa[i] : pb[i];
            continue;
        }
        out[i] = Op == OP_AND ? pa[i] & pb[i] : Op == OP_OR ? pa[i] | pb[i] : pa[i] ^ pb[i];
    }
    stack::set_last(new_binary(out));
}

kiv_value* complement(kiv_value* bin) {
    kiv_value b = *bin;
    bytes out(ks_head(&b), ks_head(&b) + ks_length_q(&b));
    for (uint8_t& byte : out) byte = uint8_t(~byte);
    return new_binary(out);
}

// Editing ------------------------------------------------------------------------

kiv_value* insert(kiv_value* bin, kiv_value* value, int32_t part, bool, int32_t dup, bool append) {
    uint32_t head = clamp_head(bin);
    bytes data;
    put_value(data, value, REFUSE, part < 0 ? UINT32_MAX : uint32_t(part));
    if (data.empty() || dup < 1) return bin;
    uint64_t added = checked_size(uint64_t(data.size()) * uint64_t(dup));
    uint32_t length = series::used_units(buffer_of(bin));
    uint32_t at = append ? length : head;
    open_gap(bin, at, 0, added);
    write_repeated(bin, at, data, uint64_t(dup));
    if (!append) bin->data1 = at + uint32_t(added);
    return bin;
}

kiv_value* append(kiv_value* bin, kiv_value* value, int32_t part, bool only, int32_t dup, bool) {
    return insert(bin, value, part, only, dup, true);
}

kiv_value* change(kiv_value* bin, kiv_value* value, int32_t part, bool, int32_t dup) {
    uint32_t head = clamp_head(bin);
    bytes data;
    put_value(data, value, FORM);
    uint64_t added = checked_size(uint64_t(data.size()) * uint64_t(std::max(dup, 1)));
    uint32_t after = series::used_units(buffer_of(bin)) - head;
    uint32_t replaced = uint32_t(std::min<uint64_t>(part < 0 ? added : uint64_t(part), after));
    open_gap(bin, head, replaced, added);
    write_repeated(bin, head, data, uint64_t(std::max(dup, 1)));
    bin->data1 = head + uint32_t(added);
    return bin;
}

// Keeps the bytes from the head that `keep` accepts.
template <class Keep>
void filter(kiv_value* bin, Keep keep) {
    uint32_t head = clamp_head(bin);
    series_buffer* b = buffer_of(bin);
    uint8_t* w = b->offset + head;
    for (const uint8_t* r = w; r < b->tail; r++)
        if (keep(*r)) *w++ = *r;
    b->tail = w;
}

kiv_value* trim(kiv_value* bin, bool head, bool tail, bool auto_, bool lines, bool all, kiv_value* with) {
    if (with) return string::trim_with(bin, with);
    if (all) {
        filter(bin, [](uint8_t byte) { return byte != 0; });
        return bin;
    }
    if (auto_ || lines) fire(err::INTERNAL, err::internal::not_done);
    uint32_t from = clamp_head(bin);
    series_buffer* b = buffer_of(bin);
    uint8_t* start = b->offset + from;
    uint8_t* end = b->tail;
    if (head || !tail)
        while (start < end && *start == 0) start++;
    if (tail || !head)
        while (end > start && end[-1] == 0) end--;
    std::memmove(b->offset + from, start, size_t(end - start));
    b->tail = b->offset + from + (end - start);
    return bin;
}

}  // namespace

// Helpers --------------------------------------------------------------------------

uint32_t ks_length_q(const kiv_value* bin) {
    uint32_t length = series::used_units(buffer_of(bin));
    return bin->data1 < length ? length - bin->data1 : 0;
}

uint8_t* ks_head(const kiv_value* bin) {
    series_buffer* b = buffer_of(bin);
    return b->offset + std::min(bin->data1, series::used_units(b));
}

void ks_append(kiv_value* bin, const uint8_t* data, uint32_t n) {
    if (n == 0) return;
    checked_size(uint64_t(series::used_units(buffer_of(bin))) + n);
    std::memcpy(series::alloc_tail_bytes(buffer_of(bin), n), data, n);
}

kiv_value* make_at(kiv_value* cell, uint32_t capacity) {
    // Unset while the buffer is allocated: the cell holds no node yet.
    *cell = unset_value;
    node_id n = memory::alloc_bytes(capacity);
    *cell = kiv_value{TYPE_BINARY, 0, n, 0};
    return cell;
}

kiv_value* make_in(kiv_value* block, uint32_t capacity) {
    kiv_value bin;
    make_at(&bin, capacity);
    return block::append_copy(block, &bin);
}

kiv_value* load(const uint8_t* data, uint32_t size) {
    kiv_value* bin = make_at(stack::push(), size);
    ks_append(bin, data, size);
    return bin;
}

kiv_value* load_in(const uint8_t* data, uint32_t size, kiv_value* block) {
    if (!block) return load(data, size);
    kiv_value bin = *load(data, size);
    stack::pop(1);
    return block::append_copy(block, &bin);
}

kiv_value* push(const kiv_value* bin) { return stack::push_value(bin); }

void set_byte(uint8_t* at, const kiv_value* value) {
    uint32_t t = type_of(value);
    if (t != TYPE_INTEGER && t != TYPE_CHAR) fire(err::SCRIPT, err::script::invalid_arg, value);
    *at = uint8_t(value->data2);
}

bool byte_in_bitset_q(kiv_value* bin, const kiv_value* bits) {
    if (ks_length_q(bin) == 0) return false;
    uint8_t byte = *ks_head(bin);
    if (bitset::out_of_range_q(bits, byte)) return bitset::complemented_q(bits);
    return bitset::ks_head(bits)[byte >> 3] & (0x80 >> (byte & 7));
}

bool match_q(kiv_value* bin, kiv_value* value) {
    uint32_t t = type_of(value);
    if (t == TYPE_BINARY || text_family_q(t)) return compare_bytes(bin, value, COMP_EQUAL, true) == 0;
    if (t != TYPE_CHAR && t != TYPE_INTEGER) fire(err::SCRIPT, err::script::invalid_arg, value);
    return ks_length_q(bin) > 0 && *ks_head(bin) == value->data2;
}

int32_t compare_bytes(kiv_value* bin, kiv_value* other, int32_t op, bool prefix) {
    bool same = bin->data2 == other->data2 && bin->data1 == other->data1;
    if (op == COMP_SAME) return same ? 0 : -1;
    if (same && equality_q(op)) return 0;
    uint32_t la = ks_length_q(bin);
    uint32_t lb = type_of(other) == TYPE_BINARY ? ks_length_q(other) : string::ks_length_q(other);
    if (prefix && lb == 0) return 0;
    if (!prefix && la != lb && equality_q(op)) return 1;
    uint32_t n = std::min(la, lb);
    const uint8_t* pa = ks_head(bin);
    uint32_t unit = series::unit_of_value(other);
    const uint8_t* pb = series::unit_at(other, std::min(other->data1, series::ks_length_all(other)));
    for (uint32_t i = 0; i < n; i++) {
        uint32_t b = string::get_char(pb + size_t(i) * unit, unit);
        if (pa[i] != b) return pa[i] < b ? -1 : 1;
    }
    if (la == lb || (prefix && lb < la)) return 0;
    return la < lb ? -1 : 1;
}

kiv_value* to(kiv_value*, kiv_value* spec, uint32_t type) {
    kiv_value v = *spec;
    if (type_of(&v) == TYPE_IMAGE) return image::extract_data(&v, image::METHOD_ARGB);
    bytes data;
    switch (type_of(&v)) {
        case TYPE_INTEGER: {
            uint32_t n = v.data2;
            data = {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
            break;
        }
        case TYPE_FLOAT: case TYPE_PERCENT: {
            uint64_t bits = std::bit_cast<uint64_t>(cell::get_float(&v));
            for (int shift = 56; shift >= 0; shift -= 8) data.push_back(uint8_t(bits >> shift));
            break;
        }
        case TYPE_ISSUE: {
            kiv_value name{TYPE_STRING, 0, symbol::get(word::symbol_of(&v))->data2, 0};
            node_id n = base_codecs::decode_16(series::unit_at(&name, 0), series::ks_length_all(&name),
                                               series::unit_of_value(&name));
            if (!n) fire(err::SCRIPT, err::script::invalid_data, &v);
            kiv_value decoded{type, 0, n, 0};
            return stack::push_value(&decoded);
        }
        case TYPE_BITSET:
            data.assign(bitset::ks_head(&v), bitset::ks_tail(&v));
            break;
        case TYPE_CHAR: case TYPE_BINARY: case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH:
            put_value(data, &v, REFUSE);
            break;
        default:
            if (!text_family_q(type_of(&v))) bad_to(&v);
            put_text(data, &v);
            break;
    }
    return cell::set_type(new_binary(data), type);
}

void init() {
    using namespace actions;
    datatype::register_(TYPE_BINARY, TYPE_STRING, "binary!", {
        INHERITED,                          // make
        INHERITED,                          // random
        INHERITED,                          // reflect
        impl<SLOT_TO>(to),                  // to
        impl<SLOT_FORM>(form),              // form
        impl<SLOT_MOLD>(mold),              // mold
        INHERITED,                          // eval-path
        UNSUPPORTED,                        // (empty)
        impl<SLOT_COMPARE>(compare),        // compare
        UNSUPPORTED,                        // absolute
        UNSUPPORTED,                        // add
        UNSUPPORTED,                        // divide
        UNSUPPORTED,                        // multiply
        UNSUPPORTED,                        // negate
        UNSUPPORTED,                        // power
        UNSUPPORTED,                        // remainder
        UNSUPPORTED,                        // round
        UNSUPPORTED,                        // subtract
        UNSUPPORTED,                        // even?
        UNSUPPORTED,                        // odd?
        impl<SLOT_AND_T>(bitwise<OP_AND>),  // and~
        impl<SLOT_COMPLEMENT>(complement),  // complement
        impl<SLOT_OR_T>(bitwise<OP_OR>),    // or~
        impl<SLOT_XOR_T>(bitwise<OP_XOR>),  // xor~
        impl<SLOT_APPEND>(append),          // append
        INHERITED,                          // at
        INHERITED,                          // back
        impl<SLOT_CHANGE>(change),          // change
        INHERITED,                          // clear
        INHERITED,                          // copy
        INHERITED,                          // find
        INHERITED,                          // head
        INHERITED,                          // head?
        INHERITED,                          // index?
        impl<SLOT_INSERT>(insert),          // insert
        INHERITED,                          // length?
        INHERITED,                          // move
        INHERITED,                          // next
        INHERITED,                          // pick
        INHERITED,                          // poke
        UNSUPPORTED,                        // put
        INHERITED,                          // remove
        INHERITED,                          // reverse
        INHERITED,                          // select
        INHERITED,                          // sort
        INHERITED,                          // skip
        INHERITED,                          // swap
        INHERITED,                          // tail
        INHERITED,                          // tail?
        INHERITED,                          // take
        impl<SLOT_TRIM>(trim),              // trim
        UNSUPPORTED,                        // create
        UNSUPPORTED,                        // close
        UNSUPPORTED,                        // delete
        INHERITED,                          // modify
        UNSUPPORTED,                        // open
        UNSUPPORTED,                        // open?
        UNSUPPORTED,                        // query
        UNSUPPORTED,                        // read
        UNSUPPORTED,                        // rename
        UNSUPPORTED,                        // update
        UNSUPPORTED,                        // write
    });
}

}  // namespace kiv::binary
