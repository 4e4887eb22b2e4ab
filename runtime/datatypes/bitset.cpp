// bitset!: sets of non-negative integers as growing bit arrays, built from a
// small spec language (numbers, characters, strings, ranges and `not`),
// tested and edited bit by bit, combined with the bitwise actions and the set
// operations, and molded as `make bitset! #{...}`.
//
// A complemented bitset is infinite: every number beyond its stored bytes
// belongs to it. Each operation therefore keeps two things true: the stored
// bits are the membership of their numbers, and the flag is the membership
// of every number beyond them.
#include "runtime/datatypes/bitset.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/ownership.h"
#include "runtime/stack.h"
#include "runtime/system.h"

namespace kiv::bitset {

namespace {

constexpr uint8_t mask_of(uint32_t n) { return uint8_t(0x80 >> (n & 7)); }
// A byte of all ones or all zeros.
constexpr uint8_t fill_of(bool ones) { return ones ? 0xFF : 0x00; }

// A new series of `bytes` bytes, each `fill`.
node_id alloc(uint32_t bytes, uint8_t fill) {
    node_id n = memory::alloc_filled(bytes, fill);
    series_buffer* b = series::buffer(n);
    b->tail = b->offset + bytes;
    return n;
}

void set_complemented(node_id n, bool on) {
    series_buffer* b = series::buffer(n);
    b->flags = on ? b->flags | SERIES_TYPE_FLAG : b->flags & ~SERIES_TYPE_FLAG;
}

kiv_value* bitset_at(kiv_value* cell, node_id n) {
    *cell = kiv_value{TYPE_BITSET, 0, n, 0};
    return cell;
}

// A copy of a bitset's bytes and flag, on the argument stack.
kiv_value* push_copy(const kiv_value* bits) {
    kiv_value source = *bits;
    uint32_t bytes = byte_count(&source);
    node_id n = alloc(bytes, 0);
    std::memcpy(series::buffer(n)->offset, ks_head(&source), bytes);
    set_complemented(n, complemented_q(&source));
    return bitset_at(stack::push(), n);
}

bool word_named_q(const kiv_value* v, const char* name) {
    return type_of(v) == TYPE_WORD &&
           symbol::resolve(word::symbol_of(v)) == symbol::resolve(symbol::make(name));
}

[[noreturn]] void fire_with_bitset(uint32_t id, const kiv_value* value) {
    kiv_value dt;
    datatype::make_at(&dt, TYPE_BITSET);
    fire(err::SCRIPT, id, &dt, value);
}

// A spec value of a type the language has no bits for.
[[noreturn]] void refuse(const kiv_value* spec, int32_t mode) {
    if (mode == MODE_MAKE) fire_with_bitset(err::script::bad_make_arg, spec);
    if (mode == MODE_TO) fire_with_bitset(err::script::bad_to_arg, spec);
    fire(err::SCRIPT, err::script::invalid_arg, spec);
}

// The bit a char!, integer! or float! names (a float truncated toward zero),
// or -1 when it names none: negative, beyond the integer range, or NaN.
int64_t bit_of(const kiv_value* spec) {
    if (type_of(spec) != TYPE_FLOAT) return integer::get_value(spec);
    double d = std::trunc(float_::get(spec));
    return d >= 0 && d <= double(INT32_MAX) ? int64_t(d) : -1;
}

bool stored_bit(const kiv_value* bits, uint32_t n) { return ks_head(bits)[n >> 3] & mask_of(n); }

// The mask of the bits low .. high that fall in the byte of `at`.
uint8_t range_mask(uint32_t at, uint32_t low, uint32_t high) {
    uint8_t m = 0xFF;
    if (at == low >> 3) m &= uint8_t(0xFF >> (low & 7));
    if (at == high >> 3) m &= uint8_t(0xFF << (7 - (high & 7)));
    return m;
}

// Sets or clears the stored bits low .. high, whole bytes at a time.
void fill_bits(uint8_t* bytes, uint32_t low, uint32_t high, bool on) {
    uint32_t first = low >> 3, last = high >> 3;
    for (uint32_t at : {first, last}) {
        uint8_t m = range_mask(at, low, high);
        bytes[at] = on ? bytes[at] | m : bytes[at] & uint8_t(~m);
    }
    if (last > first + 1) std::memset(bytes + first + 1, fill_of(on), last - first - 1);
}

bool all_set(const uint8_t* bytes, uint32_t low, uint32_t high) {
    for (uint32_t at = low >> 3; at <= high >> 3; at++) {
        uint8_t m = range_mask(at, low, high);
        if ((bytes[at] & m) != m) return false;
    }
    return true;
}

// Sets and clears that would not change membership leave the series alone:
// a number beyond the stored bytes already has the flag's membership.
int32_t process_bit(kiv_value* bits, const kiv_value* spec, int32_t op) {
    int64_t n = bit_of(spec);
    if (n < 0) {
        if (op == BIT_TEST) return complemented_q(bits);
        fire(err::SCRIPT, err::script::out_of_range, spec);
    }
    uint32_t i = uint32_t(n);
    switch (op) {
        case BIT_MEASURE:
            return int32_t(i);
        case BIT_TEST:
            return member_q(bits, i);
        case BIT_SET:
            if (!(complemented_q(bits) && out_of_range_q(bits, i))) grow(bits, i)[i >> 3] |= mask_of(i);
            return 0;
        case BIT_CLEAR:
            if (complemented_q(bits) || !out_of_range_q(bits, i))
                grow(bits, i)[i >> 3] &= uint8_t(~mask_of(i));
            return 0;
        default:
            system::runtime_error(system::RT_NO_SWITCH);
    }
}

// A binary in a spec block stands for the numbers of its set bits, the
// numbers a bitset made from it holds. Bytes are read through the node:
// growing the bitset may move them.
int32_t process_bytes(const kiv_value* bin, kiv_value* bits, int32_t op) {
    kiv_value source = *bin;
    uint32_t length = series::used_units(series::buffer(source.data2));
    uint32_t head = std::min(source.data1, length);
    int32_t highest = -1;
    for (uint32_t j = head; j < length; j++) {
        for (uint32_t b = 0; b < 8; b++) {
            if (!(series::buffer(source.data2)->offset[j] & (0x80 >> b))) continue;
            kiv_value n;
            integer::make_at(&n, int32_t((j - head) * 8 + b));
            int32_t r = process_bit(bits, &n, op);
            if (op == BIT_MEASURE) highest = std::max(highest, r);
            else if (op == BIT_TEST && !r) return 0;
        }
    }
    return op == BIT_MEASURE ? highest : op == BIT_TEST ? 1 : 0;
}

// A value in a spec block is a range start when the word `-` follows it.
int32_t process_block(kiv_value* blk, kiv_value* bits, int32_t op, int32_t mode) {
    system::check_native_stack();
    kiv_value b = *blk;
    int32_t highest = -1;
    for (uint32_t i = b.data1; i < block::length_all(&b); i++) {
        kiv_value v = block::cells(&b)[i];
        uint32_t t = type_of(&v);
        int32_t r;
        if (t == TYPE_BINARY) {
            r = process_bytes(&v, bits, op);
            if (op == BIT_MEASURE) highest = std::max(highest, r);
            else if (op == BIT_TEST && !r) return 0;
            continue;
        }
        bool range = (t == TYPE_CHAR || t == TYPE_INTEGER) && i + 1 < block::length_all(&b) &&
                     word_named_q(block::cells(&b) + i + 1, "-");
        if (range) {
            if (i + 2 >= block::length_all(&b)) fire(err::SCRIPT, err::script::past_end);
            kiv_value end = block::cells(&b)[i + 2];
            if (type_of(&end) != t) fire(err::SCRIPT, err::script::invalid_arg, &end);
            int32_t low = integer::get_value(&v), high = integer::get_value(&end);
            if (low > high) fire(err::SCRIPT, err::script::past_end);
            if (low < 0 && op != BIT_TEST) fire(err::SCRIPT, err::script::out_of_range, &v);
            r = op == BIT_MEASURE ? high : process_range(bits, low, high, op);
            i += 2;
        } else {
            r = process(&v, bits, op, mode);
        }
        if (op == BIT_MEASURE) highest = std::max(highest, r);
        else if (op == BIT_TEST && !r) return 0;
    }
    return op == BIT_MEASURE ? highest : op == BIT_TEST ? 1 : 0;
}

// The byte count that holds a highest bit, at least one byte.
uint32_t bytes_for(int32_t highest) { return std::max<uint32_t>(1, uint32_t((int64_t(highest) + 8) / 8)); }

// make bitset! 100: an empty bitset of that many bits, in whole bytes.
kiv_value* sized(const kiv_value* spec, int32_t mode) {
    if (mode == MODE_TO) fire_with_bitset(err::script::bad_to_arg, spec);
    int64_t bits = type_of(spec) == TYPE_FLOAT ? bit_of(spec) : integer::get_value(spec);
    if (bits < 0) fire(err::SCRIPT, err::script::out_of_range, spec);
    return push(uint32_t((bits + 7) / 8));
}

// The bytes of a binary! from its cursor; after `not` they list the numbers
// left out.
kiv_value* from_binary(const kiv_value* spec, bool complemented) {
    kiv_value source = *spec;
    uint32_t length = series::used_units(series::buffer(source.data2));
    uint32_t head = std::min(source.data1, length);
    node_id n = alloc(length - head, 0);
    series_buffer* b = series::buffer(n);
    std::memcpy(b->offset, series::buffer(source.data2)->offset + head, length - head);
    if (complemented) {
        invert_bytes(b);
        set_complemented(n, true);
    }
    return bitset_at(stack::push(), n);
}

// Every other spec: measured first, so that the series is made once at its
// final size; a complemented one starts full and has the spec's bits
// cleared.
kiv_value* from_spec(kiv_value* spec, bool complemented, int32_t mode) {
    int32_t highest = process(spec, nullptr, BIT_MEASURE, mode);
    node_id n = alloc(bytes_for(highest), fill_of(complemented));
    set_complemented(n, complemented);
    kiv_value* result = bitset_at(stack::push(), n);
    process(spec, result, complemented ? BIT_CLEAR : BIT_SET, mode);
    return result;
}

uint8_t combine(int32_t op, uint8_t a, uint8_t b) {
    switch (op) {
        case OP_OR: case OP_UNION: return a | b;
        case OP_AND: case OP_INTERSECT: return a & b;
        case OP_XOR: case OP_DIFFERENCE: return a ^ b;
        case OP_EXCLUDE: return a & uint8_t(~b);
        default: system::runtime_error(system::RT_NO_SWITCH);
    }
}

// A value that pokes a number out rather than in.
bool clears_q(const kiv_value* v) {
    switch (type_of(v)) {
        case TYPE_NONE: return true;
        case TYPE_LOGIC: return !logic::get(v);
        case TYPE_INTEGER: return integer::get_value(v) == 0;
        case TYPE_FLOAT: return float_::get(v) == 0.0;
        default: return false;
    }
}

}  // namespace

bool member_q(const kiv_value* bits, int64_t n) {
    return out_of_range_q(bits, n) ? complemented_q(bits) : stored_bit(bits, uint32_t(n));
}

// Constructors and accessors -------------------------------------------------------

kiv_value* make_at(kiv_value* cell, uint32_t bytes) {
    cell->header = TYPE_UNSET;  // a collection in between sees no half-made bitset
    return bitset_at(cell, alloc(bytes, 0));
}

kiv_value* push(uint32_t bytes) {
    kiv_value* cell = stack::push();
    return make_at(cell, bytes);
}

kiv_value* make_in(kiv_value* block, uint32_t bytes) {
    kiv_value made;
    make_at(&made, bytes);
    return copy_cell(&made, block::alloc_tail(block));
}

uint8_t* grow(kiv_value* bits, uint32_t n) {
    series_buffer* b = buffer_of(bits);
    uint32_t have = series::used_units(b);
    uint32_t need = n / 8 + 1;
    if (need <= have) return b->offset;
    if (b->offset + need > end_of(b)) {
        // Doubling keeps a run of growing appends linear.
        uint64_t size = std::max<uint64_t>(need, uint64_t(b->size) * 2);
        b = memory::expand_series_copy(b, uint32_t(std::min<uint64_t>(size, INT32_MAX)));
    }
    memory::fill(b->offset + have, b->offset + need, fill_of(b->flags & SERIES_TYPE_FLAG));
    b->tail = b->offset + need;
    return b->offset;
}

bool out_of_range_q(const kiv_value* bits, int64_t n) {
    return n < 0 || n >= int64_t(byte_count(bits)) * 8;
}

// Spec processing ----------------------------------------------------------------

bool process_range(kiv_value* bits, int32_t low, int32_t high, int32_t op) {
    if (low > high) return true;
    if (low < 0 && op != BIT_TEST) {
        kiv_value n;
        fire(err::SCRIPT, err::script::out_of_range, integer::make_at(&n, low));
    }
    bool complemented = complemented_q(bits);
    int64_t stored = int64_t(byte_count(bits)) * 8;
    if (op == BIT_TEST) {
        if ((low < 0 || high >= stored) && !complemented) return false;
        int64_t lo = std::max<int64_t>(low, 0), hi = std::min<int64_t>(high, stored - 1);
        return lo > hi || all_set(ks_head(bits), uint32_t(lo), uint32_t(hi));
    }
    // A set on a plain bitset and a clear on a complemented one need the
    // bytes up to `high`; the other two change stored bytes only.
    if (complemented == (op == BIT_CLEAR)) {
        grow(bits, uint32_t(high));
    } else {
        if (low >= stored) return true;
        high = int32_t(std::min<int64_t>(high, stored - 1));
    }
    fill_bits(ks_head(bits), uint32_t(low), uint32_t(high), op == BIT_SET);
    return true;
}

int32_t process_string(kiv_value* str, kiv_value* bits, int32_t op) {
    kiv_value s = *str;
    // The text is read through its node each time: growing the bitset
    // allocates, which may move the string's buffer.
    auto each = [&s](auto visit) {
        series_buffer* b = string::buffer_of(&s);
        uint32_t unit = unit_of(b);
        uint32_t length = series::used_units(b);
        for (uint32_t i = std::min(s.data1, length); i < length; i++)
            if (!visit(string::get_char(b->offset + size_t(i) * unit, unit))) return false;
        return true;
    };
    int32_t highest = -1;
    each([&](uint32_t cp) {
        highest = std::max(highest, int32_t(cp));
        return true;
    });
    if (op == BIT_MEASURE) return highest;
    if (highest < 0) return op == BIT_TEST;
    bool complemented = complemented_q(bits);
    if (complemented == (op == BIT_CLEAR) && op != BIT_TEST) grow(bits, uint32_t(highest));
    // Each character on its own: one beyond the stored bytes has the flag's
    // membership, and those after it still count.
    bool all = each([&](uint32_t cp) {
        if (op == BIT_TEST) return member_q(bits, cp);
        if (!out_of_range_q(bits, cp)) {
            uint8_t* byte = ks_head(bits) + (cp >> 3);
            *byte = op == BIT_SET ? *byte | mask_of(cp) : *byte & uint8_t(~mask_of(cp));
        }
        return true;
    });
    return op == BIT_TEST ? all : 0;
}

int32_t process(kiv_value* spec, kiv_value* bits, int32_t op, int32_t mode) {
    uint32_t t = type_of(spec);
    if (t == TYPE_CHAR || t == TYPE_INTEGER || t == TYPE_FLOAT) return process_bit(bits, spec, op);
    if (series::string_like_q(t)) return process_string(spec, bits, op);
    if (t == TYPE_BLOCK) return process_block(spec, bits, op, mode);
    refuse(spec, mode);
}

kiv_value* make_from(kiv_value* spec, int32_t mode) {
    kiv_value s = *spec;
    bool complemented = false;
    if (type_of(&s) == TYPE_BLOCK) {
        uint32_t length = block::length_all(&s);
        if (s.data1 < length && word_named_q(block::cells(&s) + s.data1, "not")) {
            complemented = true;
            s.data1++;
            const kiv_value* next = block::cells(&s) + s.data1;
            if (s.data1 + 1 == length && type_of(next) == TYPE_BINARY) s = *next;
        }
    }
    switch (type_of(&s)) {
        case TYPE_INTEGER: case TYPE_FLOAT: return sized(&s, mode);
        case TYPE_BITSET: return push_copy(&s);
        case TYPE_BINARY: return from_binary(&s, complemented);
        default: return from_spec(&s, complemented, mode);
    }
}

void do_bitwise(int32_t op) {
    kiv_value* a = stack::arguments;
    kiv_value* b = stack::arguments + 1;
    if (type_of(b) != TYPE_BITSET) {
        kiv_value dt;
        datatype::make_at(&dt, type_of(b));
        fire(err::SCRIPT, err::script::invalid_type, &dt);
    }
    if (op == OP_UNIQUE) return;
    uint32_t la = byte_count(a), lb = byte_count(b);
    bool fa = complemented_q(a), fb = complemented_q(b);
    // Beyond its stored bytes each operand is its flag, so the result's
    // flag is the operation on the two flags and its bytes are the
    // operation on the bytes as far as the longer operand goes. and~ stops
    // at the shorter one when that is a plain bitset: all the rest is zero.
    bool shorter_plain = la < lb ? !fa : !fb;
    uint32_t length = op == OP_AND && shorter_plain ? std::min(la, lb) : std::max(la, lb);
    node_id n = alloc(length, 0);
    uint8_t* r = series::buffer(n)->offset;
    const uint8_t* x = ks_head(a);
    const uint8_t* y = ks_head(b);
    for (uint32_t i = 0; i < length; i++)
        r[i] = combine(op, i < la ? x[i] : fill_of(fa), i < lb ? y[i] : fill_of(fb));
    set_complemented(n, combine(op, fill_of(fa), fill_of(fb)) != 0);
    bitset_at(a, n);
}

void invert_bytes(series_buffer* buffer) {
    for (uint8_t* p = buffer->offset; p < buffer->tail; p++) *p = uint8_t(~*p);
}

int32_t form_bytes(const kiv_value* bits, kiv_value* output, bool part, int32_t budget, bool invert) {
    char chunk[257];
    size_t used = 0;
    auto flush = [&] {
        chunk[used] = '\0';
        string::concatenate_literal(output, chunk);
        used = 0;
    };
    uint32_t count = byte_count(bits);
    for (uint32_t i = 0; i < count && !(part && budget <= 0); i++) {
        uint8_t byte = ks_head(bits)[i];  // writing the text may move the bytes
        std::memcpy(chunk + used, string::byte_to_hex(invert ? uint8_t(~byte) : byte), 2);
        used += 2;
        budget -= 2;
        if (used == sizeof chunk - 1) flush();
    }
    if (used) flush();
    return budget;
}

// Actions ------------------------------------------------------------------------
// The action dispatchers tell an owned bitset's owner about each change.

static kiv_value* make(kiv_value*, kiv_value* spec, uint32_t) { return make_from(spec, MODE_MAKE); }
static kiv_value* to(kiv_value*, kiv_value* spec, uint32_t) { return make_from(spec, MODE_TO); }

// A complemented bitset shows the numbers it leaves out, inside [not ...].
static int32_t mold_text(kiv_value* bits, kiv_value* buffer, bool part, int32_t budget) {
    bool complemented = complemented_q(bits);
    const char* open = complemented ? "make bitset! [not #{" : "make bitset! #{";
    string::concatenate_literal(buffer, open);
    budget = form_bytes(bits, buffer, part, budget - int32_t(std::strlen(open)), complemented);
    if (part && budget <= 0) return budget;
    const char* close = complemented ? "}]" : "}";
    string::concatenate_literal(buffer, close);
    return budget - int32_t(std::strlen(close));
}

static int32_t form(kiv_value* bits, kiv_value* buffer, kiv_value* arg, int32_t part) {
    return mold_text(bits, buffer, arg != nullptr, part);
}

static int32_t mold(kiv_value* bits, kiv_value* buffer, bool, bool, bool, kiv_value* arg, int32_t part,
                    int32_t) {
    return mold_text(bits, buffer, arg != nullptr, part);
}

// Bitsets order by size, then by flag (plain first), then by their bytes from
// the highest numbers down.
static int32_t compare(kiv_value* value1, kiv_value* value2, int32_t op) {
    if (type_of(value2) != TYPE_BITSET) return COMPARE_INCOMPARABLE;
    if (op == COMP_SAME) return value1->data2 == value2->data2 ? 0 : 1;
    uint32_t la = byte_count(value1), lb = byte_count(value2);
    if (la != lb) return la < lb ? -1 : 1;
    bool fa = complemented_q(value1), fb = complemented_q(value2);
    if (fa != fb) return fa ? 1 : -1;
    const uint8_t* x = ks_head(value1);
    const uint8_t* y = ks_head(value2);
    for (uint32_t i = la; i-- > 0;)
        if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
    return 0;
}

// The complement of a set: every membership flips, stored and beyond.
static kiv_value* complement(kiv_value* bits) {
    kiv_value* copy = push_copy(bits);
    invert_bytes(buffer_of(copy));
    set_complemented(copy->data2, !complemented_q(copy));
    return copy_cell(copy, bits);
}

static void and_t() { do_bitwise(OP_AND); }
static void or_t() { do_bitwise(OP_OR); }
static void xor_t() { do_bitwise(OP_XOR); }

static kiv_value* insert(kiv_value* bits, kiv_value* value, int32_t, bool, int32_t, bool) {
    process(value, bits, BIT_SET, MODE_USE);
    return bits;
}

// Clearing leaves the empty set, in the bytes the bitset already has.
static kiv_value* clear(kiv_value* bits) {
    series_buffer* b = buffer_of(bits);
    memory::fill(b->offset, b->tail, 0);
    set_complemented(bits->data2, false);
    return bits;
}

static kiv_value* copy(kiv_value* bits, kiv_value* result, kiv_value*, bool, kiv_value*) {
    return copy_cell(push_copy(bits), result);
}

static kiv_value* pick(kiv_value* bits, int32_t, kiv_value* index_cell) {
    return logic::push(process(index_cell, bits, BIT_TEST, MODE_USE) != 0);
}

static kiv_value* find(kiv_value* bits, kiv_value* value, kiv_value*, bool, bool, bool, bool,
                       kiv_value*, kiv_value*, bool, bool, bool, bool) {
    if (process(value, bits, BIT_TEST, MODE_USE)) return logic::push(true);
    return none::push();
}

static kiv_value* poke(kiv_value* bits, int32_t, kiv_value* value, kiv_value* index_cell) {
    process(index_cell, bits, clears_q(value) ? BIT_CLEAR : BIT_SET, MODE_USE);
    return value;
}

static kiv_value* eval_path(kiv_value* parent, kiv_value* element, kiv_value* value, kiv_value*,
                            kiv_value*, kiv_value*, int32_t, bool, bool, bool, bool) {
    uint32_t t = type_of(element);
    if (t != TYPE_INTEGER && t != TYPE_CHAR) {
        kiv_value dt;
        datatype::make_at(&dt, t);
        fire(err::SCRIPT, err::script::invalid_type, &dt);
    }
    return value ? poke(parent, 0, value, element) : pick(parent, 0, element);
}

// Removing a number makes it absent, complemented bitset or not, as poking
// false does.
static kiv_value* remove(kiv_value* bits, kiv_value*, kiv_value* key) {
    if (!key) fire(err::SCRIPT, err::script::missing_arg);
    process(key, bits, BIT_CLEAR, MODE_USE);
    return bits;
}

static int32_t length_q(kiv_value* bits) {
    int64_t n = int64_t(byte_count(bits)) * 8;
    if (n > INT32_MAX) fire(err::MATH, err::math::overflow);
    return int32_t(n);
}

static bool field_is(const kiv_value* field, const char* name) {
    uint32_t t = type_of(field);
    return t >= TYPE_WORD && t <= TYPE_GET_WORD &&
           symbol::resolve(word::symbol_of(field)) == symbol::resolve(symbol::make(name));
}

// Only `owned` is a field of a bitset: its owner, none when no object owns it.
static void reflect(kiv_value* bits, uint32_t field) {
    kiv_value w{TYPE_WORD, 0, field, 0};
    if (!field_is(&w, "owned")) fire(err::INTERNAL, err::internal::not_done);
    ownership::reflect_owner(bits);
}

// Binding and unbinding an owner; other fields change nothing.
static kiv_value* modify(kiv_value* bits, kiv_value* field, kiv_value* value, bool) {
    if (field_is(field, "owned")) ownership::modify_owned(bits, value);
    return bits;
}

void init() {
    using namespace actions;
    datatype::register_(TYPE_BITSET, 0, "bitset!", {
        impl<SLOT_MAKE>(make),              // make
        UNSUPPORTED,                        // random
        impl<SLOT_REFLECT>(reflect),        // reflect
        impl<SLOT_TO>(to),                  // to
        impl<SLOT_FORM>(form),              // form
        impl<SLOT_MOLD>(mold),              // mold
        impl<SLOT_EVAL_PATH>(eval_path),    // eval-path
        UNSUPPORTED,                        // (empty)
        impl<SLOT_COMPARE>(compare),        // compare
        UNSUPPORTED,                        // absolute
        UNSUPPORTED,                        // add
        UNSUPPORTED,                        // divide
        UNSUPPORTED,                        // multiply
        impl<SLOT_NEGATE>(complement),      // negate
        UNSUPPORTED,                        // power
        UNSUPPORTED,                        // remainder
        UNSUPPORTED,                        // round
        UNSUPPORTED,                        // subtract
        UNSUPPORTED,                        // even?
        UNSUPPORTED,                        // odd?
        impl<SLOT_AND_T>(and_t),            // and~
        impl<SLOT_COMPLEMENT>(complement),  // complement
        impl<SLOT_OR_T>(or_t),              // or~
        impl<SLOT_XOR_T>(xor_t),            // xor~
        impl<SLOT_APPEND>(insert),          // append
        UNSUPPORTED,                        // at
        UNSUPPORTED,                        // back
        UNSUPPORTED,                        // change
        impl<SLOT_CLEAR>(clear),            // clear
        impl<SLOT_COPY>(copy),              // copy
        impl<SLOT_FIND>(find),              // find
        UNSUPPORTED,                        // head
        UNSUPPORTED,                        // head?
        UNSUPPORTED,                        // index?
        impl<SLOT_INSERT>(insert),          // insert
        impl<SLOT_LENGTH_Q>(length_q),      // length?
        UNSUPPORTED,                        // move
        UNSUPPORTED,                        // next
        impl<SLOT_PICK>(pick),              // pick
        impl<SLOT_POKE>(poke),              // poke
        UNSUPPORTED,                        // put
        impl<SLOT_REMOVE>(remove),          // remove
        UNSUPPORTED,                        // reverse
        UNSUPPORTED,                        // select
        UNSUPPORTED,                        // sort
        UNSUPPORTED,                        // skip
        UNSUPPORTED,                        // swap
        UNSUPPORTED,                        // tail
        UNSUPPORTED,                        // tail?
        UNSUPPORTED,                        // take
        UNSUPPORTED,                        // trim
        UNSUPPORTED,                        // create
        UNSUPPORTED,                        // close
        UNSUPPORTED,                        // delete
        impl<SLOT_MODIFY>(modify),          // modify
        UNSUPPORTED,                        // open
        UNSUPPORTED,                        // open?
        UNSUPPORTED,                        // query
        UNSUPPORTED,                        // read
        UNSUPPORTED,                        // rename
        UNSUPPORTED,                        // update
        UNSUPPORTED,                        // write
    });
}

}  // namespace kiv::bitset
