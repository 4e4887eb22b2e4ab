// series!: the actions every series shares, for every unit size.
#include "runtime/datatypes/series.h"

#include <cstring>
#include <vector>

#include "runtime/collector.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/vector.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/evaluator/random.h"
#include "runtime/hash.h"
#include "runtime/hashtable.h"
#include "runtime/ownership.h"
#include "runtime/stack.h"

namespace kiv::series {

bool block_like_q(uint32_t t) {
    return t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH || (t >= TYPE_PATH && t <= TYPE_GET_PATH);
}

bool string_like_q(uint32_t t) {
    return t == TYPE_STRING || t == TYPE_FILE || t == TYPE_URL || t == TYPE_TAG || t == TYPE_EMAIL ||
           t == TYPE_REF;
}

bool series_type_q(uint32_t t) {
    return block_like_q(t) || string_like_q(t) || t == TYPE_BINARY || t == TYPE_VECTOR || t == TYPE_IMAGE;
}

bool ks_skip(kiv_value* s, int32_t n) {
    int64_t position = int64_t(s->data1) + n;
    uint32_t length = ks_length_all(s);
    if (position >= 0 && position <= length) s->data1 = uint32_t(position);
    return position >= int64_t(length);
}

uint32_t get_length(kiv_value* s, bool from_head) {
    uint32_t length = ks_length_all(s);
    if (from_head) return length;
    if (s->data1 > length) {
        s->data1 = length;
        return 0;
    }
    return length - s->data1;
}

int32_t part_count(const kiv_value* s, const kiv_value* part, const char* refinement) {
    if (type_of(part) == TYPE_INTEGER) return integer::get_value(part);
    if (type_of(part) == type_of(s) && part->data2 == s->data2)
        return int32_t(part->data1) - int32_t(s->data1);
    kiv_value word = actions::refinement_word(refinement);
    fire(err::SCRIPT, err::script::invalid_refine_arg, &word, part);
}

namespace {

kiv_value* arg(int n) { return stack::arguments + n; }

// A hash! keeps its table in step by rebuilding it over its cells.
void rehash_if_hash(const kiv_value* s) {
    if (type_of(s) == TYPE_HASH && s->data3)
        hashtable::resize(s->data3, ks_length_all(s));
}

// Cursor actions work on the first argument in place.
void at() {
    kiv_value* s = arg(0);
    kiv_value* offset = arg(1);
    if (type_of(offset) != TYPE_INTEGER) fire(err::SCRIPT, err::script::invalid_arg, offset);
    int64_t n = integer::get_value(offset);
    int64_t position = int64_t(s->data1) + (n >= 1 ? n - 1 : n);
    int64_t length = ks_length_all(s);
    s->data1 = uint32_t(position < 0 ? 0 : position > length ? length : position);
}

void skip() {
    kiv_value* s = arg(0);
    kiv_value* offset = arg(1);
    if (type_of(offset) != TYPE_INTEGER) fire(err::SCRIPT, err::script::invalid_arg, offset);
    int64_t position = int64_t(s->data1) + integer::get_value(offset);
    int64_t length = ks_length_all(s);
    s->data1 = uint32_t(position < 0 ? 0 : position > length ? length : position);
}

void back() {
    if (arg(0)->data1 > 0) arg(0)->data1--;
}

void next() {
    if (arg(0)->data1 + 1 <= ks_length_all(arg(0))) arg(0)->data1++;
}

void head() { arg(0)->data1 = 0; }
void tail() { arg(0)->data1 = ks_length_all(arg(0)); }
void head_q() { logic::box(arg(0)->data1 == 0); }
void tail_q() { logic::box(ks_tail_q(arg(0))); }
void index_q() { integer::return_(int32_t(arg(0)->data1) + 1); }
int32_t length_q(kiv_value* s) { return int32_t(get_length(s, false)); }

// The element at an index as a value: the cell itself for block-like
// series, an integer! for a binary!, a char! for text.
kiv_value* element_at(kiv_value* s, uint32_t index) {
    uint32_t t = type_of(s);
    if (block_like_q(t)) return reinterpret_cast<kiv_value*>(unit_at(s, index));
    if (t == TYPE_VECTOR) return vector::push_element(s, index);
    uint8_t* p = unit_at(s, index);
    if (t == TYPE_BINARY) return integer::push(*p);
    kiv_value c{TYPE_CHAR, 0, string::get_char(p, unit_of_value(s)), 0};
    return stack::push_value(&c);
}

// The element index of a 1-based position, or -1 when out of range.
int64_t position_index(const kiv_value* s, int32_t n) {
    if (n == 0) return -1;
    int64_t index = int64_t(s->data1) + (n > 0 ? n - 1 : n);
    return index < 0 || index >= int64_t(ks_length_all(s)) ? -1 : index;
}

kiv_value* pick(kiv_value* s, int32_t n, kiv_value*) {
    int64_t index = position_index(s, n);
    if (index < 0) return const_cast<kiv_value*>(&none_value);
    return element_at(s, uint32_t(index));
}

kiv_value* poke(kiv_value* s, int32_t n, kiv_value* value, kiv_value*) {
    int64_t index = position_index(s, n);
    if (index < 0) {
        kiv_value position;
        integer::make_at(&position, n);
        fire(err::SCRIPT, err::script::out_of_range, &position);
    }
    uint32_t t = type_of(s);
    if (block_like_q(t)) {
        kiv_value v = *value;
        bool hashed = t == TYPE_HASH && s->data3;
        if (hashed) hashtable::remove_range(s->data3, uint32_t(index), 1);
        *reinterpret_cast<kiv_value*>(unit_at(s, uint32_t(index))) = v;
        if (hashed) hashtable::put_range(s->data3, uint32_t(index), 1);
    } else if (t == TYPE_BINARY) {
        binary::set_byte(unit_at(s, uint32_t(index)), value);
    } else if (t == TYPE_VECTOR) {
        vector::set_element(s, uint32_t(index), value);
    } else {
        if (type_of(value) != TYPE_CHAR) fire(err::SCRIPT, err::script::invalid_arg, value);
        string::write_char(buffer_of(s), unit_at(s, uint32_t(index)), value->data2);
    }
    return value;
}

// Removes `count` units at an index (clamped to the tail).
void remove_units(kiv_value* s, uint32_t index, uint32_t count) {
    series_buffer* b = buffer_of(s);
    uint32_t u = unit_of(b);
    uint32_t length = used_units(b);
    if (index >= length) return;
    if (count > length - index) count = length - index;
    uint8_t* from = b->offset + size_t(index) * u;
    std::memmove(from, from + size_t(count) * u, size_t(length - index - count) * u);
    b->tail -= size_t(count) * u;
}

kiv_value* remove(kiv_value* s, kiv_value* part, kiv_value* key) {
    int32_t count = part ? part_count(s, part) : 1;
    if (count < 1) return s;
    uint32_t index = s->data1;
    if (key) {
        kiv_value k = *key;
        kiv_value found = *actions::get<SLOT_FIND>(s)(s, &k, nullptr, true, true, false, false, nullptr,
                                                       nullptr, false, false, false, false);
        if (type_of(&found) == TYPE_NONE) return none::return_();
        index = found.data1;
        count++;
    }
    if (index < ks_length_all(s)) {
        remove_units(s, index, uint32_t(count));
        rehash_if_hash(s);
    }
    return s;
}

kiv_value* reverse(kiv_value* s, kiv_value* part, kiv_value* skip_arg) {
    uint32_t length = ks_length_all(s);
    if (s->data1 >= length) return s;
    int32_t range = int32_t(length - s->data1);
    if (part) {
        range = std::min(part_count(s, part), range);
        if (range < 1) return s;
    }
    uint32_t size = 1;
    if (skip_arg) {
        kiv_value word = actions::refinement_word("skip");
        if (type_of(skip_arg) != TYPE_INTEGER) fire(err::SCRIPT, err::script::invalid_refine_arg, &word, skip_arg);
        int32_t n = integer::get_value(skip_arg);
        if (n == range) return s;
        if (n < 1) fire(err::SCRIPT, err::script::out_of_range, skip_arg);
        if (range < n || range % n != 0) fire(err::SCRIPT, err::script::invalid_refine_arg, &word, skip_arg);
        size = uint32_t(n);
    }
    uint32_t bytes = size * unit_of_value(s);
    std::vector<uint8_t> record(bytes);
    uint8_t* lo = unit_at(s, s->data1);
    uint8_t* hi = lo + size_t(range) * unit_of_value(s) - bytes;
    for (; lo < hi; lo += bytes, hi -= bytes) {
        std::memcpy(record.data(), lo, bytes);
        std::memcpy(lo, hi, bytes);
        std::memcpy(hi, record.data(), bytes);
    }
    rehash_if_hash(s);
    return s;
}

// The one-unit buffer behind every take without /part.
// Nothing else refers to it, so the collector is told to keep it; it is made
// anew by each start of the runtime (a node of an earlier start is gone).
node_id take_buffer = 0;

void mark_take_buffer() {
    if (take_buffer) collector::mark_node(&take_buffer);
}

node_id shared_take_buffer() {
    static bool marked = false;
    if (!marked) collector::add_mark_callback(mark_take_buffer);
    marked = true;
    if (!take_buffer) take_buffer = memory::alloc_fixed_series(1, 16, 0);
    return take_buffer;
}

kiv_value* take(kiv_value* s, kiv_value* part, bool, bool last) {
    int32_t length = int32_t(get_length(s, false));
    if (length < 1) return none::return_();
    int32_t available = length, count = 1, n = 1;
    if (part) {
        int32_t p = type_of(part) == TYPE_INTEGER ? integer::get_value(part) : 0;
        if (type_of(part) != TYPE_INTEGER) {
            int32_t distance = part_count(s, part);
            p = distance < 0 ? 0 : last ? length - distance : distance;
        }
        n = p;
        if (n < 0) {
            available = int32_t(s->data1);
            count = last ? 1 : -n;
        } else {
            count = n;
        }
        if (count > available) count = available;
        if (count < 1) count = 1;
    }
    uint32_t u = unit_of_value(s);
    node_id node;
    if (part) {
        node = memory::alloc_series(uint32_t(count), u, 0);
    } else {
        node = shared_take_buffer();
        series_buffer* shared = buffer(node);
        shared->flags = (shared->flags & ~SERIES_UNIT_MASK) | u;
        shared->tail = shared->offset;
    }
    kiv_value result{type_of(s), 0, node, 0};
    if (type_of(s) == TYPE_VECTOR) result.data3 = s->data3;
    series_buffer* out = buffer(node);
    uint32_t from;
    bool taken = true;
    if (part && n <= 0) {
        taken = !last && uint32_t(count) <= s->data1;
        from = taken ? s->data1 - uint32_t(count) : 0;
    } else {
        from = last ? ks_length_all(s) - uint32_t(count) : s->data1;
    }
    if (taken) {
        std::memcpy(out->offset, unit_at(s, from), size_t(count) * u);
        out->tail = out->offset + size_t(count) * u;
        if (last && !(part && n <= 0)) buffer_of(s)->tail -= size_t(count) * u;
        else remove_units(s, from, uint32_t(count));
        if (part && n <= 0) s->data1 -= uint32_t(count);
    }
    rehash_if_hash(s);
    if (type_of(s) == TYPE_HASH) {
        result.data3 = 0;
        kiv_value* pushed = stack::push_value(&result);
        pushed->data3 = hashtable::init(uint32_t(count), pushed, hashtable::KIND_HASH, 0);
        return pushed;
    }
    return stack::push_value(&result);
}

kiv_value* move(kiv_value* origin, kiv_value* target, kiv_value* part) {
    uint32_t ot = type_of(origin), tt = type_of(target);
    if (!series_type_q(tt)) actions::fire_expect_arg(tt, 1);
    uint32_t length = get_length(origin, false);
    if (length == 0) return target;
    int32_t count = 1;
    if (part) {
        count = integer::get_value(part);
        if (count > int32_t(length)) count = int32_t(length);
        if (count < 1) return target;
    }
    uint32_t u = unit_of_value(origin);
    size_t bytes = size_t(count) * u;
    if (origin->data2 == target->data2) {
        uint32_t total = ks_length_all(origin);
        uint32_t from = origin->data1, to = std::min(target->data1, total);
        if (from == to) return target;
        if (to > from && to < total && total - to < uint32_t(count)) return origin;
        std::vector<uint8_t> saved(unit_at(origin, from), unit_at(origin, from) + bytes);
        remove_units(origin, from, uint32_t(count));
        // Forward moves land after the unit at the target position.
        uint32_t dest = to > from ? (to >= total ? total - uint32_t(count) : to + 1 - uint32_t(count)) : to;
        uint8_t* p = unit_at(origin, dest);
        std::memmove(p + bytes, p, size_t(ks_length_all(origin) - dest) * u);
        buffer_of(origin)->tail += bytes;
        std::memcpy(p, saved.data(), bytes);
        rehash_if_hash(origin);
        return target;
    }
    bool origin_block = block_like_q(ot), target_block = block_like_q(tt);
    bool raw = ot == TYPE_BINARY || ot == TYPE_VECTOR || tt == TYPE_BINARY || tt == TYPE_VECTOR;
    if (origin_block != target_block || (raw && u != unit_of_value(target))) {
        kiv_value a, b;
        datatype::make_at(&a, ot);
        datatype::make_at(&b, tt);
        fire(err::SCRIPT, err::script::move_bad, &a, &b);
    }
    if (u != unit_of_value(target)) {
        string::move_units(origin, target, uint32_t(bytes));
        return target;
    }
    std::vector<uint8_t> saved(unit_at(origin, origin->data1), unit_at(origin, origin->data1) + bytes);
    uint32_t to = std::min(target->data1, ks_length_all(target));
    series_buffer* tb = buffer_of(target);
    if (tb->tail + bytes > end_of(tb)) memory::expand_series_copy(tb, uint32_t((used_units(tb) * u + bytes) * 2));
    uint8_t* p = unit_at(target, to);
    std::memmove(p + bytes, p, size_t(ks_length_all(target) - to) * u);
    buffer_of(target)->tail += bytes;
    std::memcpy(p, saved.data(), bytes);
    remove_units(origin, origin->data1, uint32_t(count));
    rehash_if_hash(origin);
    rehash_if_hash(target);
    return target;
}

kiv_value* clear(kiv_value* s) {
    series_buffer* b = buffer_of(s);
    if (s->data1 < used_units(b)) {
        b->tail = b->offset + size_t(s->data1) * unit_of(b);
        rehash_if_hash(s);
    }
    return s;
}

kiv_value* copy(kiv_value* s, kiv_value* result, kiv_value* part, bool, kiv_value*) {
    uint32_t total = ks_length_all(s);
    int64_t start = s->data1;
    int64_t count = int64_t(total) - start;
    if (part) {
        int32_t n = part_count(s, part);
        if (n < 0) {
            count = -int64_t(n);
            start -= count;
            if (start < 0) {
                count += start;
                start = 0;
            }
        } else {
            count = n;
        }
    }
    if (start >= total) count = 0;
    if (count > int64_t(total) - start) count = int64_t(total) - start;
    if (count < 0) count = 0;
    kiv_value source = *s;
    uint32_t type = source.header;
    if (result != s) result->header = TYPE_UNSET;
    uint32_t u = unit_of_value(&source);
    node_id n = memory::alloc_series(uint32_t(count), u, 0);
    series_buffer* from = buffer_of(&source);
    series_buffer* to = buffer(n);
    to->flags = (from->flags & ~(SERIES_OWNED | SERIES_BIG | SERIES_MARK | SERIES_FIXED | SERIES_MIDDLE)) |
                (to->flags & SERIES_BIG);
    std::memcpy(to->offset, from->offset + size_t(start) * u, size_t(count) * u);
    to->tail = to->offset + size_t(count) * u;
    *result = kiv_value{type, 0, n, type_of(&source) == TYPE_VECTOR ? source.data3 : 0};
    return result;
}

void random(kiv_value* s, bool seed, bool secure, bool only) {
    uint32_t length = get_length(s, false);
    uint32_t u = unit_of_value(s);
    if (seed) {
        random::seed(int32_t(hash::murmur3(unit_at(s, s->data1), size_t(length) * u)));
        unset::return_();
        return;
    }
    if (only) {
        if (length == 0) {
            none::return_();
            return;
        }
        int32_t k = random::int_(secure, int32_t(length));
        stack::set_last(element_at(s, s->data1 + uint32_t(k) - 1));
        return;
    }
    std::vector<uint8_t> tmp(u);
    for (uint32_t i = 0, m = length; m > 1; i++, m--) {
        int32_t k = random::int_(secure, int32_t(m));
        if (k == 1) continue;
        uint8_t* a = unit_at(s, s->data1 + i);
        uint8_t* b = a + size_t(k - 1) * u;
        std::memcpy(tmp.data(), a, u);
        std::memcpy(a, b, u);
        std::memcpy(b, tmp.data(), u);
    }
    rehash_if_hash(s);
}

}  // namespace

// The series' owner is its one field.
void reflect(kiv_value* s, uint32_t field) {
    if (symbol::resolve(int32_t(field)) != symbol::resolve(symbol::make("owned")))
        fire(err::INTERNAL, err::internal::not_done);
    ownership::reflect_owner(s);
}

kiv_value* modify(kiv_value* s, kiv_value* field, kiv_value* value, bool) {
    if (symbol::resolve(word::symbol_of(field)) == symbol::resolve(symbol::make("owned")))
        ownership::modify_owned(s, value);
    return value;
}

void init() {
    using namespace actions;
    take_buffer = 0;
    datatype::register_(TYPE_SERIES, 0, "series!", {
        UNSUPPORTED,                    // make
        impl<SLOT_RANDOM>(random),      // random
        impl<SLOT_REFLECT>(reflect),    // reflect
        UNSUPPORTED,                    // to
        UNSUPPORTED,                    // form
        UNSUPPORTED,                    // mold
        UNSUPPORTED,                    // eval-path
        UNSUPPORTED,                    // (empty)
        UNSUPPORTED,                    // compare
        UNSUPPORTED,                    // absolute
        UNSUPPORTED,                    // add
        UNSUPPORTED,                    // divide
        UNSUPPORTED,                    // multiply
        UNSUPPORTED,                    // negate
        UNSUPPORTED,                    // power
        UNSUPPORTED,                    // remainder
        UNSUPPORTED,                    // round
        UNSUPPORTED,                    // subtract
        UNSUPPORTED,                    // even?
        UNSUPPORTED,                    // odd?
        UNSUPPORTED,                    // and~
        UNSUPPORTED,                    // complement
        UNSUPPORTED,                    // or~
        UNSUPPORTED,                    // xor~
        UNSUPPORTED,                    // append
        impl<SLOT_AT>(at),              // at
        impl<SLOT_BACK>(back),          // back
        UNSUPPORTED,                    // change
        impl<SLOT_CLEAR>(clear),        // clear
        impl<SLOT_COPY>(copy),          // copy
        UNSUPPORTED,                    // find
        impl<SLOT_HEAD>(head),          // head
        impl<SLOT_HEAD_Q>(head_q),      // head?
        impl<SLOT_INDEX_Q>(index_q),    // index?
        UNSUPPORTED,                    // insert
        impl<SLOT_LENGTH_Q>(length_q),  // length?
        impl<SLOT_MOVE>(move),          // move
        impl<SLOT_NEXT>(next),          // next
        impl<SLOT_PICK>(pick),          // pick
        impl<SLOT_POKE>(poke),          // poke
        UNSUPPORTED,                    // put
        impl<SLOT_REMOVE>(remove),      // remove
        impl<SLOT_REVERSE>(reverse),    // reverse
        UNSUPPORTED,                    // select
        UNSUPPORTED,                    // sort
        impl<SLOT_SKIP>(skip),          // skip
        UNSUPPORTED,                    // swap
        impl<SLOT_TAIL>(tail),          // tail
        impl<SLOT_TAIL_Q>(tail_q),      // tail?
        impl<SLOT_TAKE>(take),          // take
        UNSUPPORTED,                    // trim
        UNSUPPORTED,                    // create
        UNSUPPORTED,                    // close
        UNSUPPORTED,                    // delete
        impl<SLOT_MODIFY>(modify),      // modify
        UNSUPPORTED,                    // open
        UNSUPPORTED,                    // open?
        UNSUPPORTED,                    // query
        UNSUPPORTED,                    // read
        UNSUPPORTED,                    // rename
        UNSUPPORTED,                    // update
        UNSUPPORTED,                    // write
    });
}

}  // namespace kiv::series
