// block!: searching, reordering and modifying actions, and the set
// operations.
#include <algorithm>
#include <climits>
#include <cstring>

#include "runtime/cycles.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/sort.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/errors.h"
#include "runtime/hashtable.h"
#include "runtime/stack.h"
#include "runtime/system.h"

namespace kiv::block {

namespace {

kiv_value* none_result() { return stack::push_value(&none_value); }

// How a value matches cells: by type, as a sequence of cells, or as one value.
enum match_kind { BY_TYPE, SEQUENCE, SINGLE };

match_kind kind_of(const kiv_value* value, bool only) {
    if (only) return SINGLE;
    uint32_t t = type_of(value);
    if (t == TYPE_DATATYPE || t == TYPE_TYPESET) return BY_TYPE;
    return series::block_like_q(t) ? SEQUENCE : SINGLE;
}

int32_t find_op(bool case_, bool same) { return same ? COMP_SAME : case_ ? COMP_STRICT_EQUAL : COMP_FIND; }

bool cell_matches(kiv_value* cell, const kiv_value* value, match_kind kind, int32_t op) {
    if (kind == BY_TYPE) {
        return type_of(value) == TYPE_DATATYPE ? type_of(cell) == value->data1
                                               : typeset::has_q(value, type_of(cell));
    }
    // Integer against integer, the usual search, needs no call.
    if (type_of(cell) == TYPE_INTEGER && type_of(value) == TYPE_INTEGER) return cell->data2 == value->data2;
    kiv_value a = *cell, b = *value;
    return actions::get<SLOT_COMPARE>(&a)(&a, &b, op) == 0;
}

bool sequence_matches(const kiv_value* blk, uint32_t at, const kiv_value* seq, uint32_t n, uint32_t end,
                      int32_t op) {
    if (at + n > end) return false;
    for (uint32_t i = 0; i < n; i++) {
        kiv_value a = cells(blk)[at + i], b = cells(seq)[seq->data1 + i];
        if (actions::get<SLOT_COMPARE>(&a)(&a, &b, op) != 0) return false;
    }
    return true;
}

struct search {
    bool only, case_, same, last, reverse, tail, match;
    kiv_value* part;
    kiv_value* skip;
};

// The index of the first cell of a match, or -1; `n` receives the length of
// a sequence value (0 for a single value).
int64_t locate(kiv_value* blk, const kiv_value* value, const search& s, uint32_t* n) {
    uint32_t length = length_all(blk);
    *n = 0;
    if (length == 0 || (!s.reverse && blk->data1 >= length)) return -1;
    int32_t step = 1;
    if (s.skip) {
        if (type_of(s.skip) != TYPE_INTEGER) {
            kiv_value w = actions::refinement_word("skip");
            fire(err::SCRIPT, err::script::invalid_refine_arg, &w, s.skip);
        }
        step = integer::get_value(s.skip);
        if (step < 1) fire(err::SCRIPT, err::script::out_of_range, s.skip);
    }
    uint32_t cursor = std::min(blk->data1, length);
    int64_t limit = -1;  // the last cell searched
    if (s.part) {
        if (type_of(s.part) == TYPE_INTEGER) {
            int32_t p = integer::get_value(s.part);
            if (p < 1) return -1;
            limit = int64_t(cursor) + p - 1;
        } else {
            limit = int64_t(cursor) + series::part_count(blk, s.part);
        }
        if (limit >= length) limit = length - 1;
    }
    match_kind kind = kind_of(value, s.only);
    int32_t op = find_op(s.case_, s.same);
    if (kind == SEQUENCE) *n = uint32_t(std::max(0, ks_length_q(value)));

    // Values compared by content but hashed by identity are searched one by
    // one, so that the index answers exactly as the walk below would.
    if (type_of(blk) == TYPE_HASH && blk->data3 && !s.match && kind != BY_TYPE &&
        (kind == SINGLE || (s.only && s.same)) && !(hashtable::identity_type_q(value) && !s.same)) {
        hashtable::refresh(blk->data3);  // keys hashed by node move when the collector compacts
        bool back = s.last || s.reverse;
        // Backward searches start just below `from`.
        int64_t from = !back ? cursor : limit >= 0 ? limit + 1 : s.reverse ? cursor : length;
        kiv_value* hit = hashtable::get(blk->data3, value, int32_t(from), step, op, s.last, s.reverse);
        if (!hit) return -1;
        int64_t at = hit - cells(blk);
        if (!back && limit >= 0 && at > limit) return -1;
        *n = 0;
        return at;
    }

    auto matches = [&](uint32_t at) {
        if (kind == SEQUENCE) return sequence_matches(blk, at, value, *n, length, op);
        return cell_matches(cells(blk) + at, value, kind, op);
    };
    if (s.last || s.reverse) {
        int64_t start = limit >= 0 ? limit
                        : s.reverse ? int64_t(cursor) - (kind == SEQUENCE ? *n : 1)
                                    : int64_t(length) - (kind == SEQUENCE ? *n : 1);
        for (int64_t at = start; at >= 0; at -= step) {
            if (matches(uint32_t(at))) return at;
            if (s.match) break;
        }
        return -1;
    }
    int64_t end = limit >= 0 ? limit + 1 : length;
    if (kind == SINGLE && type_of(value) == TYPE_INTEGER && !s.match) {
        // An integer needle, the usual one, meets integer cells in place.
        for (int64_t at = cursor; at < end; at += step) {
            const kiv_value* c = cells(blk) + at;
            if (type_of(c) == TYPE_INTEGER ? c->data2 == value->data2 : matches(uint32_t(at))) return at;
        }
        return -1;
    }
    for (int64_t at = cursor; at < end; at += step) {
        if (kind == SEQUENCE ? (at + int64_t(*n) <= end && matches(uint32_t(at))) : matches(uint32_t(at)))
            return at;
        if (s.match) break;
    }
    return -1;
}

}  // namespace

kiv_value* find(kiv_value* blk, kiv_value* value, kiv_value* part, bool only, bool case_, bool same, bool,
                kiv_value*, kiv_value* skip, bool last, bool reverse, bool tail, bool match) {
    kiv_value b = *blk;
    search s{only, case_, same, last, reverse, tail, match, part, skip};
    uint32_t n;
    int64_t at = locate(&b, value, s, &n);
    if (at < 0) return none_result();
    if (tail) {
        bool backward = last || reverse;
        int32_t step = skip ? integer::get_value(skip) : 1;
        at += n ? n : backward ? 1 : step;
        at = std::min<int64_t>(at, length_all(&b));
    }
    b.data1 = uint32_t(at);
    return stack::push_value(&b);
}

kiv_value* select(kiv_value* blk, kiv_value* value, kiv_value* part, bool only, bool case_, bool same,
                  bool, kiv_value*, kiv_value* skip, bool last, bool reverse) {
    kiv_value b = *blk;
    search s{only, case_, same, last, reverse, false, false, part, skip};
    uint32_t n;
    int64_t at = locate(&b, value, s, &n);
    if (at < 0) return none_result();
    at += n ? n : 1;
    if (at >= length_all(&b)) return none_result();
    return stack::push_value(cells(&b) + at);
}

// Opens `count` cells at an index, growing the buffer when needed.
static void open_gap(kiv_value* blk, uint32_t at, uint32_t count) {
    series_buffer* b = series::buffer(blk->data2);
    uint32_t length = series::used_units(b);
    uint64_t needed = (uint64_t(length) + count) * sizeof(kiv_value);
    if (needed > INT32_MAX) fire(err::INTERNAL, err::internal::no_memory);
    if (needed > b->size) b = memory::expand_series_copy(b, uint32_t(std::min<uint64_t>(needed * 2, INT32_MAX & ~15u)));
    kiv_value* c = cells(blk);
    std::memmove(c + at + count, c + at, (length - at) * sizeof(kiv_value));
    b->tail += size_t(count) * sizeof(kiv_value);
}

static void rehash(kiv_value* blk) {
    if (type_of(blk) == TYPE_HASH && blk->data3) hashtable::resize(blk->data3, length_all(blk));
}

// Copies n cells of the value (or the value itself) to an index, `dup`
// times over.
static void fill_from(kiv_value* blk, uint32_t at, const kiv_value* value, bool spread, uint32_t n, uint32_t dup) {
    for (uint32_t d = 0; d < dup; d++)
        for (uint32_t i = 0; i < n; i++)
            cells(blk)[at + d * n + i] = spread ? cells(value)[value->data1 + i] : *value;
}

static uint32_t checked_count(uint32_t n, int32_t dup) {
    uint64_t total = uint64_t(n) * uint64_t(dup < 1 ? 1 : dup);
    if (total * sizeof(kiv_value) > INT32_MAX) fire(err::INTERNAL, err::internal::no_memory);
    return uint32_t(total);
}

kiv_value* insert(kiv_value* blk, kiv_value* value, int32_t part, bool only, int32_t dup, bool append) {
    kiv_value v = *value;
    bool spread = !only && series::block_like_q(type_of(&v));
    uint32_t n = spread ? uint32_t(std::max(0, ks_length_q(&v))) : 1;
    if (part >= 0 && uint32_t(part) < n) n = uint32_t(part);
    if (n == 0) return blk;
    uint32_t length = length_all(blk);
    if (blk->data1 > length) blk->data1 = length;
    uint32_t at = append ? length : blk->data1;
    uint32_t total = checked_count(n, dup);
    // The value may be the block itself: copy its cells aside first.
    kiv_value source = v;
    if (spread && v.data2 == blk->data2) {
        kiv_value* copy = clone(&v, false, false);
        source = *copy;
        stack::pop(1);
    }
    open_gap(blk, at, total);
    fill_from(blk, at, &source, spread, n, uint32_t(dup < 1 ? 1 : dup));
    if (type_of(blk) == TYPE_HASH && blk->data3) {
        // The index follows: the cells after the gap move up, the new ones join.
        if (at < length) hashtable::shift_positions(blk->data3, int32_t(total), at, length - at);
        hashtable::put_range(blk->data3, at, total);
    }
    blk->data1 = append ? 0 : std::min(at + total, length_all(blk));
    return blk;
}

kiv_value* change(kiv_value* blk, kiv_value* value, int32_t part, bool only, int32_t dup) {
    kiv_value v = *value;
    uint32_t length = length_all(blk);
    if (blk->data1 > length) blk->data1 = length;
    uint32_t at = blk->data1, rest = length - at;
    bool spread = !only && series::block_like_q(type_of(&v));
    uint32_t n = spread ? uint32_t(std::max(0, ks_length_q(&v))) : 1;
    uint32_t inserted = checked_count(n, dup);
    uint32_t replaced = part >= 0 ? uint32_t(part) : inserted;
    if (replaced > rest) replaced = rest;
    kiv_value source = v;
    if (spread && v.data2 == blk->data2) {
        source = *clone(&v, false, false);
        stack::pop(1);
    }
    // Replacing as many cells as it writes, a change leaves the other
    // positions of a hash! where they are: only those cells are re-indexed.
    bool in_place = inserted == replaced && type_of(blk) == TYPE_HASH && blk->data3;
    if (in_place) hashtable::remove_range(blk->data3, at, replaced);
    if (inserted > replaced) {
        open_gap(blk, at + replaced, inserted - replaced);
    } else if (replaced > inserted) {
        kiv_value* c = cells(blk);
        std::memmove(c + at + inserted, c + at + replaced, (length - at - replaced) * sizeof(kiv_value));
        ks_set_tail(blk, length - (replaced - inserted));
    }
    fill_from(blk, at, &source, spread, n, uint32_t(dup < 1 ? 1 : dup));
    if (in_place) hashtable::put_range(blk->data3, at, inserted);
    else rehash(blk);
    blk->data1 = std::min(at + inserted, length_all(blk));
    return blk;
}

kiv_value* put(kiv_value* blk, kiv_value* key, kiv_value* value, bool case_) {
    kiv_value k = *key, v = *value;
    kiv_value b = *blk;
    b.data1 = 0;
    search s{true, case_, false, false, false, false, false, nullptr, nullptr};
    uint32_t n;
    int64_t at = locate(&b, &k, s, &n);
    uint32_t length = length_all(blk);
    // A hash! indexes just the cells this writes.
    node_id table = type_of(blk) == TYPE_HASH ? blk->data3 : 0;
    if (at < 0) {
        *alloc_tail(blk) = k;
        *alloc_tail(blk) = v;
        if (table) hashtable::put_range(table, length, 2);
    } else if (uint32_t(at) + 1 < length) {
        kiv_value old = cells(blk)[at + 1];
        if (actions::get<SLOT_COMPARE>(&old)(&old, &v, COMP_FIND) != 0) {
            if (table) hashtable::remove_range(table, uint32_t(at) + 1, 1);
            cells(blk)[at + 1] = v;
            if (table) hashtable::put_range(table, uint32_t(at) + 1, 1);
        }
    } else {
        *alloc_tail(blk) = v;
        if (table) hashtable::put_range(table, length, 1);
    }
    return value;
}

kiv_value* swap(kiv_value* s1, kiv_value* s2) {
    if (!series::block_like_q(type_of(s2))) fire(err::SCRIPT, err::script::invalid_arg, s2);
    if (ks_length_q(s1) < 1 || ks_length_q(s2) < 1) return s1;
    std::swap(cells(s1)[s1->data1], cells(s2)[s2->data1]);
    rehash(s1);
    rehash(s2);
    return s1;
}

kiv_value* trim(kiv_value* blk, bool, bool, bool, bool, bool, kiv_value*) {
    uint32_t length = length_all(blk);
    uint32_t k = blk->data1;
    for (uint32_t i = blk->data1; i < length; i++)
        if (type_of(cells(blk) + i) != TYPE_NONE) cells(blk)[k++] = cells(blk)[i];
    ks_set_tail(blk, k);
    rehash(blk);
    return blk;
}

static bool deep_copied_q(uint32_t t) {
    return series::block_like_q(t) || series::string_like_q(t) || t == TYPE_BINARY || t == TYPE_VECTOR ||
           t == TYPE_IMAGE;
}

kiv_value* copy(kiv_value* blk, kiv_value* result, kiv_value* part, bool deep, kiv_value* types) {
    auto series_copy = reinterpret_cast<actions::copy_fn>(actions::entry(TYPE_SERIES, SLOT_COPY));
    series_copy(blk, result, part, false, nullptr);
    if (!deep && !types) return result;
    if (type_of(result) == TYPE_HASH) cell::set_type(result, TYPE_BLOCK);
    if (cycles::find_q(blk->data2)) {
        cycles::reset();
        fire(err::INTERNAL, err::internal::no_cycle);
    }
    cycles::push(blk->data2);
    // The copy's node is read from its cell at every step: copying an element
    // allocates, and a collection may move the node to another id.
    for (uint32_t i = 0; i < length_all(result); i++) {
        kiv_value cell = cells(result)[i];
        uint32_t t = type_of(&cell);
        bool wanted = types ? (type_of(types) == TYPE_DATATYPE ? t == types->data1 : typeset::has_q(types, t)) &&
                                  (deep_copied_q(t) || t == TYPE_MAP || t == TYPE_BITSET ||
                                   t == TYPE_OBJECT || t == TYPE_ERROR)
                            : deep_copied_q(t);
        if (!wanted) continue;
        kiv_value* copied = stack::push();
        *copied = unset_value;
        actions::get<SLOT_COPY>(&cell)(&cell, copied, nullptr, deep, types);
        kiv_value made = *copied;
        made.header = (made.header & TYPE_MASK) | (cell.header & ~TYPE_MASK);
        cells(result)[i] = made;
        stack::pop(1);
    }
    cycles::pop();
    return result;
}

kiv_value* take(kiv_value* blk, kiv_value* part, bool deep, bool last) {
    auto series_take = reinterpret_cast<actions::take_fn>(actions::entry(TYPE_SERIES, SLOT_TAKE));
    kiv_value* taken = series_take(blk, part, deep, last);
    if (type_of(taken) == TYPE_NONE) return taken;
    if (deep) {
        // Read through its cell, as copy does: copying renumbers nodes.
        for (uint32_t i = 0; i < length_all(taken); i++) {
            kiv_value cell = cells(taken)[i];
            if (!deep_copied_q(type_of(&cell))) continue;
            kiv_value* copied = stack::push();
            *copied = unset_value;
            actions::get<SLOT_COPY>(&cell)(&cell, copied, nullptr, true, nullptr);
            cells(taken)[i] = *copied;
            stack::pop(1);
        }
    }
    if (!part && length_all(taken) == 1) return stack::push_value(cells(taken));
    return taken;
}

namespace {

// Sort flags: bit 0 reverse, bit 1 whole records, bits 2 and up the record
// size (whole records) or the column compared.
constexpr uint32_t SORT_REVERSE = 1, SORT_ALL = 2, SORT_SHIFT = 2;

int32_t compare_cells(kiv_value* a, kiv_value* b, int32_t op) {
    int32_t r = actions::get<SLOT_COMPARE>(a)(a, b, op);
    return r == COMPARE_INCOMPARABLE ? int32_t(type_of(a)) - int32_t(type_of(b)) : r;
}

int32_t value_comparator(const void* pa, const void* pb, intptr_t op, intptr_t flags) {
    auto* a = static_cast<kiv_value*>(const_cast<void*>(pa));
    auto* b = static_cast<kiv_value*>(const_cast<void*>(pb));
    if (flags & SORT_REVERSE) std::swap(a, b);
    uint32_t n = uint32_t(flags) >> SORT_SHIFT;
    if (!(flags & SORT_ALL)) return compare_cells(a + n, b + n, int32_t(op));
    for (uint32_t i = 0; i < n; i++) {
        int32_t r = compare_cells(a + i, b + i, int32_t(op));
        if (r) return r;
    }
    return 0;
}

// The user's function gets the two records as (second, first): an answer of
// true for "its first argument belongs before its second" sorts ascending.
struct function_compare {
    kiv_value fn;
    uint32_t flags;
};

int32_t function_comparator(const void* pa, const void* pb, intptr_t arg, intptr_t) {
    auto* c = reinterpret_cast<const function_compare*>(arg);
    const auto* a = static_cast<const kiv_value*>(pa);
    const auto* b = static_cast<const kiv_value*>(pb);
    uint32_t size = c->flags >> SORT_SHIFT;
    auto argument = [&](const kiv_value* record) {
        if (!(c->flags & SORT_ALL)) return *record;
        kiv_value made{TYPE_UNSET, 0, 0, 0};
        block::make_at(&made, int32_t(size));
        for (uint32_t i = 0; i < size; i++) *alloc_tail(&made) = record[i];
        return made;
    };
    kiv_value first = argument(a), second = argument(b);
    kiv_value* saved_top = stack::top;
    kiv_value* saved_arguments = stack::arguments;
    call_frame* saved_frames = stack::ctop;
    stack::mark_func(word::load("<compare-callback>"), c->fn.data1);
    if (c->flags & SORT_REVERSE) {
        stack::push_value(&first);
        stack::push_value(&second);
    } else {
        stack::push_value(&second);
        stack::push_value(&first);
    }
    kiv_value spec{TYPE_BLOCK, 0, c->fn.data2, 0};
    int32_t locals = function::locate_refinement(&spec, 0, false);
    if (locals > 0) function::init_locals(locals);
    interpreter::call_function(&c->fn, c->fn.data1, word::load("<compare-callback>"), interpreter::CB_SORT);
    kiv_value result = *stack::arguments;
    stack::revert(saved_frames);
    stack::arguments = saved_arguments;
    stack::top = saved_top;
    switch (type_of(&result)) {
        case TYPE_LOGIC: return logic::get(&result) ? 1 : -1;
        case TYPE_INTEGER: return integer::get_value(&result);
        case TYPE_FLOAT: {
            double d = float_::get(&result);
            return d > 0 ? 1 : d < 0 ? -1 : 0;
        }
        case TYPE_NONE: return -1;
        default: return 1;
    }
}

}  // namespace

kiv_value* sort(kiv_value* blk, bool case_, kiv_value* skip, kiv_value* comparator, kiv_value* part, bool all,
                bool reverse, bool stable) {
    int32_t length = ks_length_q(blk);
    if (length <= 0) return blk;
    if (part) {
        int32_t count = series::part_count(blk, part);
        if (count < 0) {
            if (int32_t(blk->data1) + count < 0) {
                blk->data1 = 0;
                return blk;
            }
            blk->data1 = uint32_t(int32_t(blk->data1) + count);
            length = -count;
        } else if (count < length) {
            length = count;
        }
    }
    int32_t size = 1;
    if (skip) {
        size = integer::get_value(skip);
        if (size < 1 || length % size != 0 || length < size) {
            kiv_value word = actions::refinement_word("skip");
            fire(err::SCRIPT, err::script::invalid_refine_arg, &word, skip);
        }
    } else if (all) {
        fire(err::SCRIPT, err::script::bad_refines);
    }
    intptr_t op = case_ ? COMP_CASE_SORT : COMP_SORT;
    uint32_t flags = reverse ? SORT_REVERSE : 0;
    if (all) flags |= SORT_ALL | (uint32_t(size) << SORT_SHIFT);
    sort::compare_fn compare = value_comparator;
    function_compare by_function{};
    if (comparator) {
        if (type_of(comparator) == TYPE_FUNCTION) {
            by_function = function_compare{*comparator, flags};
            op = reinterpret_cast<intptr_t>(&by_function);
            compare = function_comparator;
        } else if (type_of(comparator) == TYPE_INTEGER) {
            if (!skip || all) fire(err::SCRIPT, err::script::bad_refines);
            int32_t column = integer::get_value(comparator);
            if (column < 1 || column > size) fire(err::SCRIPT, err::script::out_of_range, comparator);
            flags |= uint32_t(column - 1) << SORT_SHIFT;
        } else {
            kiv_value word = actions::refinement_word("compare");
            fire(err::SCRIPT, err::script::invalid_refine_arg, &word, comparator);
        }
    }
    // The values stay reachable through a copy while a user function may
    // collect and some records wait in the stable sort's work buffer.
    kiv_value* keep = nullptr;
    if (compare == function_comparator) keep = clone(blk, false, false);
    kiv_value b = *blk;
    uint32_t records = uint32_t(length / size);
    uint32_t width = uint32_t(size) * sizeof(kiv_value);
    if (stable) sort::with_buffer(ks_head(&b), records, width, op, flags, compare);
    else sort::in_place(ks_head(&b), records, width, op, flags, compare);
    if (keep) stack::pop(1);
    if (type_of(blk) == TYPE_HASH && blk->data3) hashtable::resize(blk->data3, length_all(blk));
    return blk;
}

// The set operations: the two series are the first two argument cells; the
// result replaces the first.
void do_set_op(bool case_, kiv_value* skip, int32_t op) {
    kiv_value* first = stack::arguments;
    kiv_value* second = stack::arguments + 1;
    int32_t size = 1;
    if (skip) {
        size = integer::get_value(skip);
        if (size < 1) {
            kiv_value w = actions::refinement_word("skip");
            fire(err::SCRIPT, err::script::invalid_refine_arg, &w, skip);
        }
    }
    ks_head(first);
    if (op != OP_UNIQUE) ks_head(second);
    bool any_hash = type_of(first) == TYPE_HASH || (op != OP_UNIQUE && type_of(second) == TYPE_HASH);
    int32_t cmp = case_ ? COMP_STRICT_EQUAL : COMP_EQUAL;
    uint32_t room = uint32_t(std::max(1, ks_length_q(first) + (op == OP_UNION ? ks_length_q(second) : 0)));
    kiv_value* result = push_only(int32_t(room));
    node_id table = hashtable::init(room, result, hashtable::KIND_HASH, 0);
    kiv_value res = *result;

    // Membership in another series: its own table, else one made over it.
    auto member = [&](const kiv_value* in, const kiv_value* key) {
        if (series::block_like_q(type_of(key))) {
            kiv_value b = *in;
            search s{true, case_, false, false, false, false, false, nullptr, nullptr};
            uint32_t n;
            return locate(&b, key, s, &n) >= 0;
        }
        for (uint32_t i = in->data1; i < length_all(in); i += uint32_t(size)) {
            kiv_value a = cells(in)[i], b = *key;
            if (type_of(&a) == type_of(&b) && actions::compare(&a, &b, cmp)) return true;
        }
        return false;
    };
    auto in_result = [&](const kiv_value* key) {
        if (series::block_like_q(type_of(key))) return member(&res, key);
        return hashtable::get(table, key, 0, 1, cmp, false, false) != nullptr;
    };
    auto pass = [&](const kiv_value* from, const kiv_value* other, bool keep_members, bool keep_others) {
        kiv_value f = *from;
        for (uint32_t i = f.data1; i < length_all(&f); i += uint32_t(size)) {
            kiv_value key = cells(&f)[i];
            bool in_other = other && member(other, &key);
            bool keep = (in_other && keep_members) || (!in_other && keep_others);
            if (!keep || in_result(&key)) continue;
            uint32_t at = length_all(&res);
            for (uint32_t k = 0; k < uint32_t(size) && i + k < length_all(&f); k++) {
                kiv_value cell = cells(&f)[i + k];
                *alloc_tail(&res) = cell;
            }
            hashtable::put_range(table, at, any_hash ? length_all(&res) - at : 1);
        }
    };
    switch (op) {
        case OP_UNIQUE: pass(first, nullptr, false, true); break;
        case OP_UNION: pass(first, nullptr, false, true); pass(second, nullptr, false, true); break;
        case OP_INTERSECT: pass(first, second, true, false); break;
        case OP_EXCLUDE: pass(first, second, false, true); break;
        case OP_DIFFERENCE: pass(first, second, false, true); pass(second, first, false, true); break;
        default: system::runtime_error(system::RT_NO_SWITCH);
    }
    kiv_value out{any_hash ? uint32_t(TYPE_HASH) : type_of(first), 0, res.data2, any_hash ? table : 0};
    stack::set_last(&out);
}

}  // namespace kiv::block
