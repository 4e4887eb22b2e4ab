// map!: keys, entries, the map actions and their text forms.
#include "runtime/datatypes/map.h"

#include <algorithm>
#include <cstring>

#include "runtime/cycles.h"
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
#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace kiv::map {

bool key_type_q(uint32_t t) {
    switch (t) {
        case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD:
        case TYPE_REFINEMENT: case TYPE_ISSUE: case TYPE_STRING: case TYPE_FILE: case TYPE_URL:
        case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF: case TYPE_BINARY: case TYPE_INTEGER:
        case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_CHAR: case TYPE_PAIR: case TYPE_TUPLE:
        case TYPE_TIME: case TYPE_DATE: case TYPE_MONEY: case TYPE_POINT2D: case TYPE_POINT3D:
            return true;
        default:
            return false;
    }
}

namespace {

hashtable::hash_record* record_of(const kiv_value* m) { return hashtable::record(m->data3); }

kiv_value entry_block(const kiv_value* m) { return kiv_value{TYPE_BLOCK, 0, m->data2, 0}; }

bool string_key_q(uint32_t t) {
    return t == TYPE_STRING || t == TYPE_FILE || t == TYPE_URL || t == TYPE_TAG || t == TYPE_EMAIL ||
           t == TYPE_REF || t == TYPE_BINARY;
}

// A copy of a series value from its head.
kiv_value copied(const kiv_value* v, bool deep) {
    kiv_value src = *v;
    kiv_value* result = stack::push();
    *result = unset_value;
    kiv_value out = *actions::get<SLOT_COPY>(&src)(&src, result, nullptr, deep, nullptr);
    stack::pop(1);
    return out;
}

// Word keys are one key whatever their word type; text keys are copied so
// that changing the original never moves the key under its hash.
kiv_value stored_form(const kiv_value* key) {
    kiv_value k = *key;
    uint32_t t = type_of(&k);
    if (t >= TYPE_WORD && t <= TYPE_GET_WORD) k.header = TYPE_SET_WORD;
    else if (string_key_q(t)) k = copied(&k, false);
    k.header &= ~FLAG_NEW_LINE;
    return k;
}

[[noreturn]] void refuse_key(const kiv_value* key, const kiv_value* path) {
    kiv_value p = path ? *path : none_value;
    kiv_value dt;
    datatype::make_at(&dt, type_of(key));
    fire(err::SCRIPT, err::script::invalid_path, &p, &dt);
}

// Whether a stored key equals a key of its own type (a word key already
// stored as a set-word). Text types all compare as strings.
bool same_key(kiv_value* stored, kiv_value* key, bool case_) {
    int32_t op = case_ ? COMP_STRICT_EQUAL : COMP_EQUAL;
    uint32_t t = type_of(key);
    if (string_key_q(t) && t != TYPE_BINARY) return string::compare_series(stored, key, op, false) == 0;
    return actions::compare(stored, key, op);
}

// Whether two byte strings hold the same bytes from their heads: equal keys
// whatever the comparison, told without a call that may allocate.
bool same_bytes_q(const kiv_value* a, const kiv_value* b) {
    series_buffer* x = series::buffer(a->data2);
    series_buffer* y = series::buffer(b->data2);
    if (unit_of(x) != 1 || unit_of(y) != 1) return false;
    const uint8_t* pa = x->offset + a->data1;
    const uint8_t* pb = y->offset + b->data1;
    if (pa > x->tail || pb > y->tail) return false;
    size_t n = size_t(x->tail - pa);
    return n == size_t(y->tail - pb) && std::memcmp(pa, pb, n) == 0;
}

// The position of a key's cell in the entry block (live or removed), or -1;
// `insert_at` receives the bucket a new key would take, `hash` the key's hash.
int32_t probe_key(const kiv_value* m, const kiv_value* key, bool case_, int32_t* insert_at,
                  uint32_t* hash = nullptr) {
    kiv_value map = *m, k = *key;
    uint32_t t = type_of(&k);
    if (t >= TYPE_WORD && t <= TYPE_GET_WORD) k.header = t = TYPE_SET_WORD;
    int32_t position = -1;
    // The entries are re-read at every step: a comparison may allocate.
    // Integers and text of the same bytes, the usual keys, compare in place.
    bool text = string_key_q(t);
    auto match = [&](int32_t stored) {
        const kiv_value* a = entries(&map) + stored;
        if (type_of(a) != t) return false;
        bool same;
        if (t == TYPE_INTEGER) {
            same = a->data2 == k.data2;
        } else if (text && same_bytes_q(a, &k)) {
            same = true;
        } else {
            kiv_value c = *a;
            same = same_key(&c, &k, case_);
        }
        if (same) position = stored;
        return same;
    };
    uint32_t h = hashtable::hash_value(&k, false);
    if (hash) *hash = h;
    hashtable::probe_with(map.data3, h, match, insert_at);
    return position;
}

// The key cell of a key (live or removed), or null.
kiv_value* find_entry(const kiv_value* m, const kiv_value* key, bool case_) {
    if (!key_type_q(type_of(key))) return nullptr;
    int32_t position = probe_key(m, key, case_, nullptr);
    return position < 0 ? nullptr : entries(m) + position;
}

}  // namespace

kiv_value* make_at(kiv_value* cell, uint32_t capacity) {
    uint64_t cells = capacity ? uint64_t(capacity) * 2 : 2;
    if (cells > INT32_MAX / sizeof(kiv_value)) fire(err::INTERNAL, err::internal::no_memory);
    kiv_value blk{TYPE_BLOCK, 0, memory::alloc_cells(uint32_t(cells)), 0};
    node_id table = hashtable::init(capacity, &blk, hashtable::KIND_MAP, 0);
    *cell = kiv_value{TYPE_MAP, 0, blk.data2, table};
    return cell;
}

kiv_value* push(uint32_t capacity) {
    kiv_value* cell = stack::push();
    *cell = unset_value;
    return make_at(cell, capacity);
}

uint32_t count(const kiv_value* m) { return record_of(m)->count; }
kiv_value* entries(const kiv_value* m) { return reinterpret_cast<kiv_value*>(series::buffer(m->data2)->offset); }
uint32_t entry_cells(const kiv_value* m) { return series::used_units(series::buffer(m->data2)); }

kiv_value shown_key(const kiv_value* stored) {
    kiv_value k = *stored;
    if (type_of(&k) == TYPE_SET_WORD) cell::set_type(&k, TYPE_WORD);
    return k;
}

kiv_value* find_value(const kiv_value* m, const kiv_value* key, bool case_) {
    kiv_value* found = find_entry(m, key, case_);
    return found && !removed_q(found + 1) ? found + 1 : nullptr;
}

kiv_value* set_key(const kiv_value* m, const kiv_value* key, const kiv_value* value, bool case_,
                   const kiv_value* path) {
    if (!key_type_q(type_of(key))) refuse_key(key, path);
    kiv_value map = *m, v = *value;
    // Room first, so that the bucket the probe finds for a new key stays its.
    hashtable::hash_record* r = record_of(&map);
    if (r->occupied >= r->bound) hashtable::make_room(map.data3);
    int32_t bucket = -1;
    uint32_t hash;
    int32_t found = probe_key(&map, key, case_, &bucket, &hash);
    if (found >= 0) {
        kiv_value* cell = entries(&map) + found + 1;
        if (removed_q(cell)) record_of(&map)->count++;
        *cell = v;
        return cell;
    }
    kiv_value k = stored_form(key);
    uint32_t at = entry_cells(&map);
    // Both cells at once: nothing allocates before they are written.
    auto* pair = reinterpret_cast<kiv_value*>(
        series::alloc_tail_bytes(series::buffer(map.data2), 2 * sizeof(kiv_value)));
    pair[0] = k;
    pair[1] = v;
    hashtable::use_bucket(map.data3, bucket, int32_t(at), hash);
    return entries(&map) + at + 1;
}

void extend(const kiv_value* m, const kiv_value* blk, bool case_) {
    kiv_value map = *m, spec = *blk;
    int32_t n = block::ks_length_q(&spec);
    if (n < 0) n = 0;
    if (n % 2) fire(err::SCRIPT, err::script::invalid_arg, &spec);
    // Room for every new cell first, so the block grows once.
    series_buffer* b = series::buffer(map.data2);
    size_t needed = size_t(series::used_units(b) + uint32_t(n)) * sizeof(kiv_value);
    if (needed > size_t(b->size)) memory::expand_series_copy(b, uint32_t(needed));
    for (int32_t i = 0; i < n; i += 2) {
        kiv_value key = block::cells(&spec)[spec.data1 + uint32_t(i)];
        kiv_value value = block::cells(&spec)[spec.data1 + uint32_t(i) + 1];
        value.header &= ~FLAG_NEW_LINE;
        set_key(&map, &key, &value, case_, nullptr);
    }
}

kiv_value* make_from(kiv_value* cell, const kiv_value* blk) {
    kiv_value spec = *blk;
    int32_t n = block::ks_length_q(&spec);
    if (n < 0) n = 0;
    if (n % 2) fire(err::SCRIPT, err::script::invalid_arg, &spec);
    kiv_value m;
    make_at(&m, uint32_t(n / 2));
    extend(&m, &spec, false);
    *cell = m;
    return cell;
}

kiv_value* body_of(const kiv_value* m, kiv_value* out) {
    kiv_value map = *m;
    block::make_at(out, int32_t(std::max(1u, 2 * count(&map))));
    for (uint32_t i = 0; i + 1 < entry_cells(&map); i += 2) {
        kiv_value key = entries(&map)[i], v = entries(&map)[i + 1];
        if (removed_q(&v)) continue;
        *block::alloc_tail(out) = key;
        *block::alloc_tail(out) = v;
    }
    return out;
}

// Actions ----------------------------------------------------------------------------

namespace {

kiv_value* make(kiv_value*, kiv_value* spec, uint32_t) {
    kiv_value s = *spec;
    switch (type_of(&s)) {
        case TYPE_INTEGER: case TYPE_FLOAT: {
            bool is_float = type_of(&s) == TYPE_FLOAT;
            if (is_float && float_::integer_range_q(&s)) fire(err::SCRIPT, err::script::out_of_range, &s);
            int64_t n = is_float ? int64_t(float_::get(&s)) : integer::get_value(&s);
            if (n < 0) fire(err::SCRIPT, err::script::out_of_range, &s);
            return push(uint32_t(n));
        }
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH: {
            kiv_value* cell = stack::push();
            *cell = unset_value;
            return make_from(cell, &s);
        }
        case TYPE_MAP: {
            kiv_value* result = stack::push();
            *result = unset_value;
            return actions::get<SLOT_COPY>(&s)(&s, result, nullptr, false, nullptr);
        }
        default: {
            kiv_value dt;
            datatype::make_at(&dt, TYPE_MAP);
            fire(err::SCRIPT, err::script::bad_to_arg, &dt, &s);
        }
    }
}

kiv_value* to(kiv_value* proto, kiv_value* spec, uint32_t type) {
    if (type_of(spec) == TYPE_INTEGER || type_of(spec) == TYPE_FLOAT) {
        kiv_value dt;
        datatype::make_at(&dt, TYPE_MAP);
        fire(err::SCRIPT, err::script::bad_to_arg, &dt, spec);
    }
    return make(proto, spec, type);
}

void reflect(kiv_value* value, uint32_t field) {
    kiv_value m = *value;
    int32_t s = symbol::resolve(int32_t(field));
    auto named = [&](const char* name) { return s == symbol::resolve(symbol::make(name)); };
    bool words = named("words"), values = named("values"), body = named("body");
    if (!words && !values && !body) fire(err::INTERNAL, err::internal::not_done);
    uint32_t n = count(&m);
    kiv_value out;
    block::make_at(&out, int32_t(std::max(1u, body ? 2 * n : n)));
    for (uint32_t i = 0; i + 1 < entry_cells(&m); i += 2) {
        kiv_value key = entries(&m)[i], v = entries(&m)[i + 1];
        if (removed_q(&v)) continue;
        if (words) *block::alloc_tail(&out) = shown_key(&key);
        if (body) *block::alloc_tail(&out) = key;
        if (values || body) *block::alloc_tail(&out) = v;
    }
    stack::set_last(&out);
}

int32_t indent_to(kiv_value* buffer, int32_t level, int32_t part) {
    for (int32_t i = 0; i < level; i++) string::concatenate_literal(buffer, "    ");
    return part - 4 * level;
}

int32_t text(kiv_value* buffer, int32_t part, const char* literal) {
    string::concatenate_literal(buffer, literal);
    return part - int32_t(std::strlen(literal));
}

// The one writer of entries: molded key, a space, molded value. Entries are
// set one per line at `level` (unless flat), or separated by `between`.
int32_t write_entries(kiv_value* m, kiv_value* buffer, bool all, bool flat, kiv_value* arg, int32_t part,
                      int32_t level, bool lines, const char* between) {
    kiv_value map = *m;
    bool first = true;
    cycles::push(map.data2);
    for (uint32_t i = 0; i + 1 < entry_cells(&map); i += 2) {
        if (arg && part <= 0) break;
        kiv_value key = entries(&map)[i], v = entries(&map)[i + 1];
        if (removed_q(&v)) continue;
        if (lines) part = indent_to(buffer, level, part);
        else if (!first) part = text(buffer, part, between);
        first = false;
        key.header &= ~FLAG_NEW_LINE;
        part = actions::mold_typed(&key, buffer, false, all, flat, arg, part, level);
        part = text(buffer, part, " ");
        part = actions::mold_typed(&v, buffer, false, all, flat, arg, part, level);
        if (lines) part = text(buffer, part, "\n");
    }
    cycles::pop();
    return part;
}

int32_t form(kiv_value* m, kiv_value* buffer, kiv_value* arg, int32_t part) {
    if (cycles::detect_q(m, buffer, &part, false)) return part;
    return write_entries(m, buffer, false, false, arg, part, 0, false, "\n");
}

int32_t mold(kiv_value* m, kiv_value* buffer, bool only, bool all, bool flat, kiv_value* arg, int32_t part,
             int32_t indent) {
    if (cycles::detect_q(m, buffer, &part, true)) return part;
    if (only) return write_entries(m, buffer, all, flat, arg, part, 0, false, flat ? " " : "\n");
    part = text(buffer, part, "#[");
    if (count(m) == 0) return text(buffer, part, "]");
    if (flat) {
        part = write_entries(m, buffer, all, flat, arg, part, indent, false, " ");
    } else {
        part = text(buffer, part, "\n");
        part = write_entries(m, buffer, all, flat, arg, part, indent + 1, true, nullptr);
        if (indent > 0) part = indent_to(buffer, indent, part);
    }
    return text(buffer, part, "]");
}

kiv_value* eval_path(kiv_value* parent, kiv_value* element, kiv_value* value, kiv_value* path, kiv_value*,
                     kiv_value*, int32_t, bool case_, bool, bool, bool) {
    if (value) {
        set_key(parent, element, value, case_, path);
        return value;
    }
    if (!key_type_q(type_of(element))) refuse_key(element, path);
    kiv_value* found = find_value(parent, element, case_);
    return found ? found : const_cast<kiv_value*>(&none_value);
}

bool equality_op_q(int32_t op) {
    return op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL || op == COMP_SAME ||
           op == COMP_FIND;
}

bool comparable_q(uint32_t a, uint32_t b) {
    auto number = [](uint32_t t) { return t == TYPE_INTEGER || t == TYPE_FLOAT || t == TYPE_PERCENT; };
    return a == b || (any_word_q(a) && any_word_q(b)) || (number(a) && number(b));
}

int32_t compare(kiv_value* m1, kiv_value* m2, int32_t op) {
    if (type_of(m2) != TYPE_MAP) return COMPARE_INCOMPARABLE;
    kiv_value a = *m1, b = *m2;
    if (op == COMP_SORT || op == COMP_CASE_SORT) return a.data2 < b.data2 ? -1 : a.data2 > b.data2 ? 1 : 0;
    if (!equality_op_q(op)) return COMPARE_INCOMPARABLE;
    if (a.data2 == b.data2 && a.data1 == b.data1) return 0;
    if (op == COMP_SAME) return -1;
    if (cycles::find_q(a.data2)) return cycles::find_q(b.data2) ? 0 : -1;
    uint32_t na = count(&a), nb = count(&b);
    if (na != nb) return na < nb ? -1 : 1;
    if (na == 0) return 0;
    cycles::push(a.data2);
    cycles::push(b.data2);
    int32_t result = 0;
    for (uint32_t i = 0; i + 1 < entry_cells(&a) && result == 0; i += 2) {
        kiv_value key = entries(&a)[i], x = entries(&a)[i + 1];
        if (removed_q(&x)) continue;
        kiv_value* other = find_value(&b, &key, op == COMP_STRICT_EQUAL);
        if (!other) {
            result = 1;
            break;
        }
        kiv_value y = *other;
        uint32_t tx = type_of(&x), ty = type_of(&y);
        result = comparable_q(tx, ty) ? actions::compare_values(&x, &y, op) : (tx < ty ? -1 : 1);
    }
    cycles::drop(2);
    return result;
}

kiv_value* clear(kiv_value* m) {
    hashtable::clear(m->data3);
    series_buffer* b = series::buffer(m->data2);
    b->tail = b->offset;
    return m;
}

kiv_value* copy(kiv_value* m, kiv_value* result, kiv_value* part, bool deep, kiv_value*) {
    if (part) {
        kiv_value w = actions::refinement_word("part");
        fire(err::SCRIPT, err::script::invalid_refine_arg, &w, part);
    }
    kiv_value map = *m;
    kiv_value blk = entry_block(&map);
    if (deep && cycles::find_q(map.data2)) {
        cycles::reset();
        fire(err::INTERNAL, err::internal::no_cycle);
    }
    kiv_value cells = copied(&blk, false);
    if (deep) {
        cycles::push(map.data2);
        for (uint32_t i = 1; i < block::length_all(&cells); i += 2) {
            kiv_value v = block::cells(&cells)[i];
            uint32_t t = type_of(&v);
            if (t == 0 || !(series::block_like_q(t) || series::string_like_q(t) || t == TYPE_BINARY ||
                            t == TYPE_MAP || t == TYPE_VECTOR || t == TYPE_BITSET || t == TYPE_IMAGE))
                continue;
            kiv_value c = copied(&v, true);
            c.header = (c.header & TYPE_MASK) | (v.header & ~TYPE_MASK);
            block::cells(&cells)[i] = c;
        }
        cycles::pop();
    }
    node_id table = hashtable::copy_content(map.data3, cells.data2);
    *result = kiv_value{TYPE_MAP, 0, cells.data2, table};
    return result;
}

kiv_value* find(kiv_value* m, kiv_value* key, kiv_value*, bool, bool case_, bool, bool, kiv_value*, kiv_value*,
                bool, bool, bool, bool) {
    kiv_value* found = find_entry(m, key, case_);
    if (!found || removed_q(found + 1)) return const_cast<kiv_value*>(&none_value);
    kiv_value k = shown_key(found);
    return stack::push_value(&k);
}

int32_t length_q(kiv_value* m) { return int32_t(count(m)); }

kiv_value* put(kiv_value* m, kiv_value* key, kiv_value* value, bool case_) {
    kiv_value v = *value;
    set_key(m, key, &v, case_, nullptr);
    return stack::push_value(&v);
}

kiv_value* remove(kiv_value* m, kiv_value*, kiv_value* key) {
    if (!key) fire(err::SCRIPT, err::script::missing_arg);
    kiv_value* found = find_entry(m, key, true);
    if (found && !removed_q(found + 1)) hashtable::delete_at(m->data3, found);
    return m;
}

kiv_value* select(kiv_value* m, kiv_value* key, kiv_value*, bool, bool case_, bool, bool, kiv_value*,
                  kiv_value*, bool, bool) {
    kiv_value* found = find_value(m, key, case_);
    return found ? found : const_cast<kiv_value*>(&none_value);
}

}  // namespace

void init() {
    using namespace actions;
    datatype::register_(TYPE_MAP, 0, "map!", {
        impl<SLOT_MAKE>(make),            // make
        UNSUPPORTED,                      // random
        impl<SLOT_REFLECT>(reflect),      // reflect
        impl<SLOT_TO>(to),                // to
        impl<SLOT_FORM>(form),            // form
        impl<SLOT_MOLD>(mold),            // mold
        impl<SLOT_EVAL_PATH>(eval_path),  // eval-path
        UNSUPPORTED,                      // (empty)
        impl<SLOT_COMPARE>(compare),      // compare
        UNSUPPORTED,                      // absolute
        UNSUPPORTED,                      // add
        UNSUPPORTED,                      // divide
        UNSUPPORTED,                      // multiply
        UNSUPPORTED,                      // negate
        UNSUPPORTED,                      // power
        UNSUPPORTED,                      // remainder
        UNSUPPORTED,                      // round
        UNSUPPORTED,                      // subtract
        UNSUPPORTED,                      // even?
        UNSUPPORTED,                      // odd?
        UNSUPPORTED,                      // and~
        UNSUPPORTED,                      // complement
        UNSUPPORTED,                      // or~
        UNSUPPORTED,                      // xor~
        UNSUPPORTED,                      // append
        UNSUPPORTED,                      // at
        UNSUPPORTED,                      // back
        UNSUPPORTED,                      // change
        impl<SLOT_CLEAR>(clear),          // clear
        impl<SLOT_COPY>(copy),            // copy
        impl<SLOT_FIND>(find),            // find
        UNSUPPORTED,                      // head
        UNSUPPORTED,                      // head?
        UNSUPPORTED,                      // index?
        UNSUPPORTED,                      // insert
        impl<SLOT_LENGTH_Q>(length_q),    // length?
        UNSUPPORTED,                      // move
        UNSUPPORTED,                      // next
        UNSUPPORTED,                      // pick
        UNSUPPORTED,                      // poke
        impl<SLOT_PUT>(put),              // put
        impl<SLOT_REMOVE>(remove),        // remove
        UNSUPPORTED,                      // reverse
        impl<SLOT_SELECT>(select),        // select
        UNSUPPORTED,                      // sort
        UNSUPPORTED,                      // skip
        UNSUPPORTED,                      // swap
        UNSUPPORTED,                      // tail
        UNSUPPORTED,                      // tail?
        UNSUPPORTED,                      // take
        UNSUPPORTED,                      // trim
        UNSUPPORTED,                      // create
        UNSUPPORTED,                      // close
        UNSUPPORTED,                      // delete
        UNSUPPORTED,                      // modify
        UNSUPPORTED,                      // open
        UNSUPPORTED,                      // open?
        UNSUPPORTED,                      // query
        UNSUPPORTED,                      // read
        UNSUPPORTED,                      // rename
        UNSUPPORTED,                      // update
        UNSUPPORTED,                      // write
    });
}

}  // namespace kiv::map
