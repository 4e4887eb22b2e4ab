// string!: conversion, form and mold, path access, comparison, search and
// the editing actions, shared by the other text series (file!, url!, tag!,
// email!, ref!) through inheritance. The action dispatchers tell an owned
// series' owner about each change.
#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <functional>

#include "runtime/case_tables.h"
#include "runtime/datatypes/function.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/sort.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/vector.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/text_scan.h"
#include "runtime/unicode.h"

namespace kiv::string {

namespace {

constexpr uint64_t MAX_BYTES = 0x7FFFFFFF;

[[noreturn]] void not_done() { fire(err::INTERNAL, err::internal::not_done); }

[[noreturn]] void fire_refine(const char* name, const kiv_value* arg) {
    kiv_value word = actions::refinement_word(name);
    fire(err::SCRIPT, err::script::invalid_refine_arg, &word, arg);
}

[[noreturn]] void fire_typed(uint32_t id, uint32_t type, const kiv_value* spec) {
    kiv_value dt;
    datatype::make_at(&dt, type);
    fire(err::SCRIPT, id, &dt, spec);
}

kiv_value* none_result() { return const_cast<kiv_value*>(&none_value); }

uint32_t fold(uint32_t cp) { return unicode::case_table_lookup(cp, true); }

// The code point at an index from the buffer's offset, read through the node
// so that it stays right across allocations.
uint32_t cp_at(const kiv_value* s, uint32_t index) {
    return get_char(series::unit_at(s, index), series::unit_of_value(s));
}

uint32_t clamped_head(kiv_value* s) {
    uint32_t length = ks_length_all(s);
    if (s->data1 > length) s->data1 = length;
    return s->data1;
}

// Text series whose searches ignore case unless told otherwise.
bool text_q(uint32_t t) { return series::string_like_q(t); }

// The one element of a text or byte series at an index, as a value.
kiv_value* element_at(kiv_value* s, uint32_t index) {
    uint32_t t = type_of(s);
    if (t == TYPE_VECTOR) return vector::push_element(s, index);
    uint32_t cp = cp_at(s, index);
    if (t == TYPE_BINARY) return integer::push(int32_t(cp));
    kiv_value c{TYPE_CHAR, 0, cp, 0};
    return stack::push_value(&c);
}

// The text of a word's name as a string cell.
kiv_value name_text(const kiv_value* w) {
    return kiv_value{TYPE_STRING, 0, symbol::get(word::symbol_of(w))->data2, 0};
}

// Appending ---------------------------------------------------------------------

// Appends what a value contributes to a text at the target's tail: the text
// of a text value, one code point for a char!, a tag! between "<" and ">",
// each value of a block formed in turn, any other value formed. `limit`
// (-1 for none) counts code points, or the values of a block.
void append_value(kiv_value* target, kiv_value* value, int32_t limit) {
    uint32_t t = type_of(value);
    uint32_t start = ks_length_all(target);
    switch (t) {
        case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_EMAIL: case TYPE_REF:
            concatenate(target, value, limit, 0, true, APPEND);
            return;
        case TYPE_CHAR:
            append_char(buffer_of(target), value->data2);
            return;
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH: {
            kiv_value blk = *value;
            uint32_t count = block::length_all(&blk) - std::min(blk.data1, block::length_all(&blk));
            if (limit >= 0) count = std::min(count, uint32_t(limit));
            for (uint32_t i = 0; i < count && blk.data1 + i < block::length_all(&blk); i++) {
                kiv_value cell = block::cells(&blk)[blk.data1 + i];
                actions::form_typed(&cell, target, nullptr, INT_MAX);
            }
            return;
        }
        case TYPE_TAG:
            concatenate_literal(target, "<");
            concatenate(target, value, -1, 0, true, APPEND);
            concatenate_literal(target, ">");
            break;
        default:
            actions::form_typed(value, target, nullptr, INT_MAX);
            break;
    }
    if (limit >= 0) truncate_to(buffer_of(target), start + uint32_t(limit));
}

// Repeats the `n` units at `from` until they stand `dup` times, doubling
// the copy each round.
void repeat(kiv_value* target, uint32_t from, uint32_t n, int32_t dup) {
    if (dup <= 1 || n == 0) return;
    uint32_t unit = series::unit_of_value(target);
    uint64_t total = uint64_t(n) * uint64_t(dup);
    if (total * unit > MAX_BYTES || (uint64_t(from) + total) * unit > MAX_BYTES)
        fire(err::INTERNAL, err::internal::no_memory);
    series::alloc_tail_bytes(buffer_of(target), uint32_t((total - n) * unit));
    uint8_t* base = series::unit_at(target, from);
    for (uint64_t done = n; done < total;) {
        uint64_t more = std::min(done, total - done);
        std::memcpy(base + done * unit, base, size_t(more * unit));
        done += more;
    }
}

enum write_mode { AT_TAIL, AT_CURSOR, OVER_CURSOR };

// append, insert and change: the new text is made at the tail (so that
// formed values need no scratch string) and then brought to the cursor.
kiv_value* write_value(kiv_value* target, kiv_value* value, int32_t part, int32_t dup,
                       write_mode mode) {
    // Building a text a piece at a time is the usual append: one copy, with
    // nothing to repeat, bring to the cursor or undo.
    if (mode == AT_TAIL && part < 0 && dup <= 1 && append_same_width(target, value)) return target;
    uint32_t old_length = ks_length_all(target);
    uint32_t at = std::min(target->data1, old_length);
    node_id node = target->data2;  // an error may reuse the target's stack cell
    try {
        append_value(target, value, mode == OVER_CURSOR ? -1 : part);
        repeat(target, old_length, ks_length_all(target) - old_length, dup);
    } catch (...) {
        // An error leaves the text as it was (a widened unit holds it too).
        truncate_to(series::buffer(node), old_length);
        throw;
    }
    if (mode == AT_TAIL) return target;
    uint32_t written = ks_length_all(target) - old_length;
    if (at < old_length && written) {
        uint32_t unit = series::unit_of_value(target);
        exchange_ranges(series::unit_at(target, at), (old_length - at) * unit,
                        series::unit_at(target, old_length), written * unit, 0);
    }
    if (mode == OVER_CURSOR) {
        uint32_t replaced = part < 0 ? written : uint32_t(part);
        remove_units(target, at + written, std::min(replaced, old_length - at));
    }
    target->data1 = at + written;
    return target;
}

// Molding -----------------------------------------------------------------------

// The letters after the caret of the control codes, the double quote and
// the caret itself.
constexpr std::array<char, 95> ESCAPES = [] {
    std::array<char, 95> table{};
    const char controls[] = "@ABCDEFGH-/KLMNOPQRSTUVWXYZ[\\]^_";
    for (int i = 0; i < 32; i++) table[i] = controls[i];
    table['"'] = '"';
    table['^'] = '^';
    return table;
}();

// Whether the "{" at `from` has a matching "}" before `end`.
bool brace_closes_q(const kiv_value* s, uint32_t from, uint32_t end) {
    int32_t depth = 0;
    for (uint32_t i = from; i < end; i++) {
        uint32_t c = cp_at(s, i);
        if (c == '{') depth++;
        else if (c == '}' && --depth == 0) return true;
    }
    return false;
}

// Text ---------------------------------------------------------------------------

// trim's whitespace.
bool blank_q(uint32_t c) {
    return (c >= 1 && c <= 32) || c == 133 || c == 160 || c == 5760 || c == 6158 ||
           (c >= 8192 && c <= 8202) || c == 8232 || c == 8233 || c == 8239 || c == 8287 ||
           c == 12288;
}

// The blanks that trim removes at the start and end of inner lines: not the
// control codes other than tab.
bool line_blank_q(uint32_t c) { return c == ' ' || c == '\t' || (c > 127 && blank_q(c)); }

// Rewrites the text from the cursor in place, keeping what `keep` accepts.
template <class Keep>
void filter(kiv_value* s, Keep keep) {
    uint32_t head = clamped_head(s);
    series_buffer* b = buffer_of(s);
    uint32_t unit = unit_of(b);
    uint32_t length = series::used_units(b);
    uint32_t w = head;
    for (uint32_t r = head; r < length; r++) {
        uint32_t c = get_char(b->offset + size_t(r) * unit, unit);
        if (keep(c)) put_char(b->offset + size_t(w++) * unit, unit, c);
    }
    b->tail = b->offset + size_t(w) * unit;
}

// Searching ---------------------------------------------------------------------

struct find_options {
    kiv_value* part;
    bool case_;
    bool same;
    bool any;
    kiv_value* with;
    kiv_value* skip;
    bool last;
    bool reverse;
    bool match;
};

// What is looked for: one code point, a class of them (a bitset), or the
// text of a series from its cursor.
struct pattern {
    kiv_value text;  // header 0 for a single code point
    uint32_t cp;
    uint32_t length;
    const kiv_value* bits = nullptr;
    uint32_t at(uint32_t i) const { return text.header ? cp_at(&text, text.data1 + i) : cp; }
};

// A number searched in a binary! as one byte; one that no byte equals gives
// a code point above every byte.
uint32_t byte_of(const kiv_value* number) {
    double d = type_of(number) == TYPE_INTEGER ? integer::get_value(number) : float_::get(number);
    return d >= 0 && d <= 255 && d == double(uint32_t(d)) ? uint32_t(d) : 0x100;
}

pattern pattern_of(kiv_value* s, kiv_value* value) {
    uint32_t t = type_of(value);
    uint32_t st = type_of(s);
    // vector! searches its elements itself: the text searches below read
    // code units, which vector elements are not.
    if (st == TYPE_VECTOR) not_done();
    if (st == TYPE_BINARY && (t == TYPE_INTEGER || t == TYPE_FLOAT)) return {kiv_value{}, byte_of(value), 1};
    switch (t) {
        case TYPE_CHAR:
            return {kiv_value{}, value->data2, 1};
        case TYPE_BITSET:
            return {kiv_value{}, 0, 1, value};
        case TYPE_BINARY:
            if (st != TYPE_BINARY) fire(err::SCRIPT, err::script::invalid_arg, value);
            [[fallthrough]];
        case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_EMAIL: case TYPE_REF: {
            kiv_value text = *value;
            clamped_head(&text);
            return {text, 0, ks_length_all(&text) - text.data1};
        }
        case TYPE_WORD: {
            kiv_value text = name_text(value);
            return {text, 0, ks_length_all(&text)};
        }
        default: {
            kiv_value* text = make_at(stack::push(), 16);
            actions::form_typed(value, text, nullptr, INT_MAX);
            return {*text, 0, ks_length_all(text)};
        }
    }
}

struct hit {
    int64_t at;  // -1 when nothing matches
    uint32_t length;
};

// The plain forward search, on the raw units.
hit scan_forward(const kiv_value* s, const pattern& p, uint32_t from, uint32_t length, bool folded) {
    text_scan::text_view in = text_scan::text_of(s);
    uint32_t end = from + length, at;
    if (p.bits) at = text_scan::find_class(in, text_scan::bit_view(p.bits), from, end);
    else if (!p.text.header) at = text_scan::find_char(in, p.cp, from, end, folded);
    else at = text_scan::find_text(in, from, end, text_scan::text_of(&p.text), p.text.data1, p.length, folded);
    return at < end ? hit{at, p.length} : hit{-1, 0};
}

hit locate(kiv_value* s, kiv_value* value, const find_options& o) {
    constexpr hit no_match{-1, 0};
    uint32_t total = ks_length_all(s);
    if (total == 0 || (s->data1 >= total && !o.reverse)) return no_match;
    uint32_t cursor = clamped_head(s);
    int64_t step = 1;
    if (o.skip) {
        if (type_of(o.skip) != TYPE_INTEGER) fire_refine("skip", o.skip);
        step = integer::get_value(o.skip);
        if (step < 1) fire(err::SCRIPT, err::script::out_of_range, o.skip);
    }
    int64_t length = o.reverse ? cursor : total - cursor;
    if (o.part) {
        int32_t n = series::part_count(s, o.part);
        if (n < 1) return no_match;
        length = std::min<int64_t>(length, n);
    }
    if (o.reverse && o.match) return no_match;

    pattern p = pattern_of(s, value);
    if (p.length == 0) return no_match;  // an empty pattern matches nowhere
    bool folded = text_q(type_of(s)) && !o.case_ && !o.same;
    if (!o.reverse && !o.last && !o.skip && !o.match && !o.any && !o.with)
        return scan_forward(s, p, cursor, uint32_t(length), folded);
    uint32_t unit = series::unit_of_value(s);
    auto same_char = [&](uint32_t a, uint32_t b) { return a == b || (folded && fold(a) == fold(b)); };
    auto matches_at = [&](int64_t at) {
        const uint8_t* text = series::unit_at(s, uint32_t(at));
        // A class is never case-folded.
        if (p.bits) return bitset::member_q(p.bits, get_char(text, unit));
        for (uint32_t i = 0; i < p.length; i++)
            if (!same_char(get_char(text + size_t(i) * unit, unit), p.at(i))) return false;
        return true;
    };

    // Wildcards in a text pattern: `run` stands for any characters, as few as
    // can be, `one` for any one character. A match then has a length of its
    // own; the fixed characters of the pattern give its least length.
    bool wild = (o.any || o.with) && p.text.header;
    uint32_t run = '*', one = '?';
    if (o.with) {
        kiv_value w = *o.with;
        uint32_t n = ks_length_all(&w) > w.data1 ? ks_length_all(&w) - w.data1 : 0;
        if (n > 0) run = cp_at(&w, w.data1);
        if (n > 1) one = cp_at(&w, w.data1 + 1);
    }
    uint32_t fixed = p.length, plen = p.length;
    if (wild)
        for (uint32_t i = 0; i < p.length; i++) fixed -= p.at(i) == run;
    int64_t range_end = 0;  // set below, before any match is tried
    // Recursive through its own reference: a std::function here would be
    // built (and allocate) on every search.
    auto wild_end = [&](auto& self, uint32_t pi, int64_t ti) -> int64_t {
        for (; pi < plen; pi++, ti++) {
            uint32_t c = p.at(pi);
            if (c == run) {
                while (pi + 1 < plen && p.at(pi + 1) == run) pi++;
                for (int64_t k = ti; k <= range_end; k++) {
                    int64_t end = self(self, pi + 1, k);
                    if (end >= 0) return end;
                }
                return -1;
            }
            if (ti >= range_end) return -1;
            if (c != one && !same_char(get_char(series::unit_at(s, uint32_t(ti)), unit), c)) return -1;
        }
        return ti;
    };
    if (wild) p.length = fixed;

    // Positions stay on record boundaries counted from the cursor, and a
    // match never runs past the range.
    int64_t lo = o.reverse ? cursor - length : cursor;
    int64_t hi = o.reverse ? cursor : cursor + length;
    int64_t first, last, direction;
    if (o.reverse) {
        int64_t records = (p.length + step - 1) / step;
        first = cursor - records * step;
        last = lo;
        direction = -step;
    } else if (o.last) {
        if (hi - p.length < lo) return no_match;
        first = lo + (hi - p.length - lo) / step * step;
        last = lo;
        direction = -step;
    } else {
        first = lo;
        last = hi - p.length;
        direction = step;
    }
    range_end = o.reverse ? cursor : hi;
    for (int64_t at = first; direction > 0 ? at <= last : at >= last; at += direction) {
        if (wild) {
            int64_t end = wild_end(wild_end, 0, at);
            if (end >= 0) return {at, uint32_t(end - at)};
        } else if (matches_at(at)) {
            return {at, p.length};
        }
        if (o.match) break;
    }
    return no_match;
}

}  // namespace

// Molding ------------------------------------------------------------------------

void mold_escape_char(kiv_value* buffer, uint32_t cp, bool all) {
    if (cp == 30 || (cp >= 128 && cp <= 159) || (all && cp > 127)) {
        concatenate_literal(buffer, "^(");
        concatenate_literal(buffer, to_hex(int32_t(cp), true));
        concatenate_literal(buffer, ")");
    } else if (cp < 95 && ESCAPES[cp]) {
        const char escaped[3] = {'^', ESCAPES[cp], 0};
        concatenate_literal(buffer, escaped);
    } else if (cp == 127) {
        concatenate_literal(buffer, "^~");
    } else {
        append_char(buffer_of(buffer), cp);
    }
}

int32_t mold(kiv_value* str, kiv_value* buffer, bool, bool all, bool, kiv_value* arg, int32_t part,
             int32_t) {
    kiv_value s = *str;
    uint32_t head = clamped_head(&s);
    uint32_t total = ks_length_all(&s);
    uint32_t end = total;
    if (arg) end = part < 0 ? head : uint32_t(std::min<int64_t>(total, int64_t(head) + part));
    uint32_t quotes = 0, lines = 0;
    for (uint32_t i = head; i < end; i++) {
        uint32_t c = cp_at(&s, i);
        quotes += c == '"';
        lines += c == '\n';
    }
    bool braces = lines >= 3 || quotes > 0 || total - head >= 50;
    concatenate_literal(buffer, braces ? "{" : "\"");
    bool balanced = true;
    uint32_t open = 0;
    for (uint32_t i = head; i < end; i++) {
        uint32_t c = cp_at(&s, i);
        if (!braces) {
            mold_escape_char(buffer, c, all);
        } else if (c == '{') {
            if (balanced) balanced = brace_closes_q(&s, i, end);
            if (balanced) open++;
            concatenate_literal(buffer, balanced ? "{" : "^{");
        } else if (c == '}') {
            concatenate_literal(buffer, open > 0 ? "}" : "^}");
            if (open > 0) open--;
        } else if (c == '"') {
            concatenate_literal(buffer, "\"");
        } else {
            mold_escape_char(buffer, c, all);
        }
    }
    concatenate_literal(buffer, braces ? "}" : "\"");
    return part - int32_t(end - head) - 2;
}

int32_t form(kiv_value* str, kiv_value* buffer, kiv_value* arg, int32_t part) {
    kiv_value s = *str;
    int32_t length = int32_t(ks_length_q(&s));
    concatenate(buffer, &s, arg ? integer::get_value(arg) : -1, 0, true, APPEND);
    return part - length;
}

// Conversion --------------------------------------------------------------------

kiv_value* to(kiv_value*, kiv_value* spec, uint32_t type) {
    uint32_t t = type_of(spec);
    if (t == TYPE_NONE) fire_typed(err::script::bad_to_arg, type, spec);
    kiv_value v = *spec;
    kiv_value* result;
    switch (t) {
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH:
            result = make_at(stack::push(), 16);
            append_value(result, &v, -1);
            break;
        case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL:
        case TYPE_REF:
            result = make_at(stack::push(), ks_length_q(&v));
            concatenate(result, &v, -1, 0, true, APPEND);
            break;
        case TYPE_REFINEMENT:
            result = make_at(stack::push(), 16);
            if (type == TYPE_STRING) actions::form_typed(&v, result, nullptr, INT_MAX);
            else actions::mold_typed(&v, result, false, false, false, nullptr, INT_MAX, 0);
            break;
        case TYPE_BINARY: {
            // Invalid UTF-8 raises `invalid-utf8` from the decoder.
            uint32_t head = std::min(v.data1, ks_length_all(&v));
            result = stack::push();
            *result = unset_value;
            node_id node = unicode::load_utf8_buffer(series::unit_at(&v, head), ks_length_all(&v) - head);
            *result = kiv_value{TYPE_STRING, 0, node, 0};
            break;
        }
        default:
            result = make_at(stack::push(), 16);
            actions::form_typed(&v, result, nullptr, INT_MAX);
            break;
    }
    cell::set_type(result, type);
    return result;
}

kiv_value* make(kiv_value* proto, kiv_value* spec, uint32_t type) {
    uint32_t t = type_of(spec);
    if (t == TYPE_INTEGER || t == TYPE_FLOAT) {
        if (t == TYPE_FLOAT && float_::integer_range_q(spec)) fire(err::SCRIPT, err::script::out_of_range, spec);
        int32_t size = t == TYPE_FLOAT ? int32_t(float_::get(spec)) : integer::get_value(spec);
        if (size < 0) fire(err::SCRIPT, err::script::out_of_range, spec);
        return cell::set_type(make_at(stack::push(), uint32_t(size)), type);
    }
    if (type == TYPE_BINARY) {
        if (t == TYPE_MONEY) fire_typed(err::script::bad_make_arg, TYPE_BINARY, spec);
        return binary::to(proto, spec, type);
    }
    return to(proto, spec, type);
}

// Paths and comparison ----------------------------------------------------------

kiv_value* eval_path(kiv_value* parent, kiv_value* element, kiv_value* value, kiv_value* path,
                     kiv_value*, kiv_value*, int32_t, bool case_, bool, bool, bool) {
    kiv_value p = path ? *path : none_value;
    switch (type_of(element)) {
        case TYPE_INTEGER: {
            int32_t n = integer::get_value(element);
            if (!value) return actions::get<SLOT_PICK>(parent)(parent, n, element);
            actions::get<SLOT_POKE>(parent)(parent, n, value, element);
            return value;
        }
        case TYPE_WORD:
            fire(err::SCRIPT, err::script::invalid_path, &p, element);
        default:
            break;
    }
    if (!value)
        return actions::get<SLOT_SELECT>(parent)(parent, element, nullptr, false, case_, false, false,
                                                 nullptr, nullptr, false, false);
    kiv_value found = *actions::get<SLOT_FIND>(parent)(parent, element, nullptr, false, case_, false,
                                                        false, nullptr, nullptr, false, false, false,
                                                        false);
    if (type_of(&found) == TYPE_NONE) fire(err::SCRIPT, err::script::bad_path_set, &p, element);
    kiv_value second = kiv_value{TYPE_INTEGER, 0, 2, 0};
    actions::get<SLOT_POKE>(&found)(&found, 2, value, &second);
    return value;
}

int32_t compare(kiv_value* str1, kiv_value* str2, int32_t op) {
    uint32_t t1 = type_of(str1), t2 = type_of(str2);
    if (t1 != t2 && (!text_q(t2) || (op != COMP_EQUAL && op != COMP_NOT_EQUAL)))
        return COMPARE_INCOMPARABLE;
    return compare_series(str1, str2, op, false);
}

// Editing -----------------------------------------------------------------------

kiv_value* append(kiv_value* str, kiv_value* value, int32_t part, bool, int32_t dup, bool) {
    return write_value(str, value, part, dup, AT_TAIL);
}

kiv_value* insert(kiv_value* str, kiv_value* value, int32_t part, bool, int32_t dup, bool append) {
    return write_value(str, value, part, dup, append ? AT_TAIL : AT_CURSOR);
}

kiv_value* change(kiv_value* str, kiv_value* value, int32_t part, bool, int32_t dup) {
    return write_value(str, value, part, dup, OVER_CURSOR);
}

kiv_value* swap(kiv_value* str1, kiv_value* str2) {
    uint32_t t2 = type_of(str2);
    if (!text_q(t2) && t2 != TYPE_BINARY) fire(err::SCRIPT, err::script::invalid_arg, str2);
    if (ks_tail_q(str1) || ks_tail_q(str2)) return str1;
    uint32_t a = cp_at(str1, str1->data1), b = cp_at(str2, str2->data1);
    // A binary keeps the low byte of a code point it receives.
    auto store = [](kiv_value* s, uint32_t cp) {
        uint8_t* at = series::unit_at(s, s->data1);
        if (type_of(s) == TYPE_BINARY) *at = uint8_t(cp);
        else write_char(buffer_of(s), at, cp);
    };
    store(str1, b);
    store(str2, a);
    return str1;
}

kiv_value* take(kiv_value* str, kiv_value* part, bool deep, bool last) {
    auto series_take = reinterpret_cast<actions::take_fn>(actions::entry(TYPE_SERIES, SLOT_TAKE));
    kiv_value* taken = series_take(str, part, deep, last);
    if (part || type_of(taken) == TYPE_NONE || ks_length_all(taken) != 1) return taken;
    kiv_value one = *taken;
    return element_at(&one, 0);
}

kiv_value* trim_with(kiv_value* str, kiv_value* with) {
    if (!with) {
        filter(str, [](uint32_t c) { return c != '\t' && c != '\n' && c != '\r' && c != ' '; });
        return str;
    }
    switch (type_of(with)) {
        case TYPE_CHAR: case TYPE_INTEGER: {
            uint32_t removed = with->data2;
            filter(str, [=](uint32_t c) { return c != removed; });
            return str;
        }
        case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL:
        case TYPE_REF: case TYPE_BINARY: {
            kiv_value set = *with;
            uint32_t head = clamped_head(&set), length = ks_length_all(&set);
            if (head == length) return str;
            filter(str, [&](uint32_t c) {
                for (uint32_t i = head; i < length; i++)
                    if (cp_at(&set, i) == c) return false;
                return true;
            });
            return str;
        }
        default:
            fire(err::SCRIPT, err::script::invalid_arg, with);
    }
}

kiv_value* trim(kiv_value* str, bool head, bool tail, bool auto_, bool lines, bool all,
                kiv_value* with) {
    if (all || with) return trim_with(str, with);
    if (auto_) {
        // Every line loses as much indentation as the first line has, no more
        // than its own: the text keeps its shape, moved to the left.
        kiv_value s = *str;
        uint32_t from = clamped_head(&s);
        series_buffer* b = buffer_of(&s);
        uint32_t unit = unit_of(b), length = series::used_units(b), w = from;
        auto indent_q = [](uint32_t c) { return c == ' ' || c == '\t'; };
        uint32_t indent = 0;
        while (from + indent < length && indent_q(get_char(b->offset + size_t(from + indent) * unit, unit))) indent++;
        uint32_t dropped = 0;  // of the current line's indentation
        for (uint32_t r = from; r < length; r++) {
            uint32_t c = get_char(b->offset + size_t(r) * unit, unit);
            if (dropped < indent && indent_q(c)) {
                dropped++;
                continue;
            }
            dropped = c == '\n' ? 0 : indent;
            put_char(b->offset + size_t(w++) * unit, unit, c);
        }
        b->tail = b->offset + size_t(w) * unit;
        return str;
    }
    if (lines) {
        bool seen = false, gap = false;
        kiv_value s = *str;
        uint32_t from = clamped_head(&s);
        series_buffer* b = buffer_of(&s);
        uint32_t unit = unit_of(b), length = series::used_units(b), w = from;
        for (uint32_t r = from; r < length; r++) {
            uint32_t c = get_char(b->offset + size_t(r) * unit, unit);
            if (blank_q(c)) {
                gap = seen;
                continue;
            }
            if (gap) put_char(b->offset + size_t(w++) * unit, unit, ' ');
            put_char(b->offset + size_t(w++) * unit, unit, c);
            seen = true;
            gap = false;
        }
        b->tail = b->offset + size_t(w) * unit;
        return str;
    }
    bool leading = head || !tail;
    bool trailing = tail || !head;
    bool inner = !head && !tail;
    uint32_t from = clamped_head(str);
    series_buffer* b = buffer_of(str);
    uint32_t unit = unit_of(b), length = series::used_units(b);
    auto at = [&](uint32_t i) { return b->offset + size_t(i) * unit; };
    uint32_t start = from, end = length;
    if (leading)
        while (start < end && blank_q(get_char(at(start), unit))) start++;
    bool kept_line = false;
    if (trailing)
        while (end > start && blank_q(get_char(at(end - 1), unit)))
            kept_line |= get_char(at(--end), unit) == '\n';
    uint32_t w = from;
    bool line_start = false;
    for (uint32_t r = start; r < end; r++) {
        uint32_t c = get_char(at(r), unit);
        if (inner && c == '\n') {
            while (w > from && line_blank_q(get_char(at(w - 1), unit))) w--;
            line_start = true;
        } else if (inner && line_start && line_blank_q(c)) {
            continue;
        } else {
            line_start = false;
        }
        put_char(at(w++), unit, c);
    }
    b->tail = at(w);
    if (inner && kept_line) append_char(b, '\n');
    return str;
}

// Searching and sorting ---------------------------------------------------------

kiv_value* find(kiv_value* str, kiv_value* value, kiv_value* part, bool, bool case_, bool same,
                bool any, kiv_value* with, kiv_value* skip, bool last, bool reverse, bool tail,
                bool match_) {
    hit m = locate(str, value, {part, case_, same, any, with, skip, last, reverse, match_});
    if (m.at < 0) return none_result();
    kiv_value result = *str;
    result.data1 = uint32_t(m.at) + (tail ? m.length : 0);
    return stack::push_value(&result);
}

kiv_value* select(kiv_value* str, kiv_value* value, kiv_value* part, bool, bool case_, bool same,
                  bool any, kiv_value* with, kiv_value* skip, bool last, bool reverse) {
    hit m = locate(str, value, {part, case_, same, any, with, skip, last, reverse, false});
    if (m.at < 0) return none_result();
    uint64_t after = uint64_t(m.at) + m.length;
    if (after >= ks_length_all(str)) return none_result();
    return element_at(str, uint32_t(after));
}

namespace {

// Sort flags handed to the comparators: bit 0 reverse, bit 1 case, bit 2
// whole records; bits 8 and up the unit size, 16 and up the record size or
// the column compared.
constexpr uint32_t S_REVERSE = 1, S_CASE = 2, S_ALL = 4;

uint32_t sort_key(uint32_t c, uint32_t unit, bool case_) {
    if (case_) return c;
    if (unit == 1) return c >= 'A' && c <= 'Z' ? c + 32 : c;
    return unicode::case_table_lookup(c, true);
}

int32_t unit_comparator(const void* pa, const void* pb, intptr_t, intptr_t flags) {
    auto* a = static_cast<const uint8_t*>(pa);
    auto* b = static_cast<const uint8_t*>(pb);
    if (flags & S_REVERSE) std::swap(a, b);
    uint32_t unit = (uint32_t(flags) >> 8) & 0xFF, n = uint32_t(flags) >> 16;
    bool case_ = flags & S_CASE;
    uint32_t first = flags & S_ALL ? 0 : n, last = flags & S_ALL ? n : n + 1;
    for (uint32_t i = first; i < last; i++) {
        uint32_t x = sort_key(get_char(a + i * unit, unit), unit, case_);
        uint32_t y = sort_key(get_char(b + i * unit, unit), unit, case_);
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

struct function_sort {
    kiv_value fn;
    uint32_t unit;
    bool reverse;
    uint32_t element_type;  // char! for text, integer! for bytes
};

int32_t function_comparator(const void* pa, const void* pb, intptr_t arg, intptr_t) {
    auto* c = reinterpret_cast<const function_sort*>(arg);
    kiv_value x{c->element_type, 0, get_char(static_cast<const uint8_t*>(pa), c->unit), 0};
    kiv_value y{c->element_type, 0, get_char(static_cast<const uint8_t*>(pb), c->unit), 0};
    if (c->reverse) std::swap(x, y);
    kiv_value* saved_top = stack::top;
    kiv_value* saved_arguments = stack::arguments;
    call_frame* saved_frames = stack::ctop;
    kiv_value* name = word::load("<compare-callback>");
    stack::mark_func(name, c->fn.data1);
    stack::push_value(&x);
    stack::push_value(&y);
    kiv_value spec{TYPE_BLOCK, 0, c->fn.data2, 0};
    int32_t locals = function::locate_refinement(&spec, 0, false);
    if (locals > 0) function::init_locals(locals);
    interpreter::call_function(&c->fn, c->fn.data1, name, interpreter::CB_SORT);
    kiv_value r = *stack::arguments;
    stack::revert(saved_frames);
    stack::arguments = saved_arguments;
    stack::top = saved_top;
    switch (type_of(&r)) {
        case TYPE_LOGIC: return logic::get(&r) ? -1 : 1;
        case TYPE_NONE: return 1;
        case TYPE_INTEGER: return integer::get_value(&r) < 0 ? -1 : integer::get_value(&r) > 0 ? 1 : 0;
        default: return -1;
    }
}

}  // namespace

kiv_value* sort(kiv_value* str, bool case_, kiv_value* skip, kiv_value* comparator, kiv_value* part,
                bool all, bool reverse, bool stable) {
    int64_t count = series::get_length(str, false);
    if (part) {
        int32_t n = series::part_count(str, part);
        if (n < 0) {
            if (int64_t(str->data1) + n < 0) {
                str->data1 = 0;
                return str;
            }
            str->data1 -= uint32_t(-n);
            count = -int64_t(n);
        } else {
            count = std::min<int64_t>(count, n);
        }
    }
    if (count == 0) return str;
    int32_t size = 1;
    if (skip) {
        if (type_of(skip) != TYPE_INTEGER) fire_refine("skip", skip);
        size = integer::get_value(skip);
        if (size < 1 || count < size || count % size != 0) fire_refine("skip", skip);
    } else if (all) {
        fire(err::SCRIPT, err::script::bad_refines);
    }
    uint32_t unit = unit_of(buffer_of(str));
    uint32_t column = 0;
    function_sort by_function{};
    sort::compare_fn compare = unit_comparator;
    intptr_t arg = 0;
    if (comparator) {
        switch (type_of(comparator)) {
            case TYPE_INTEGER: {
                if (!skip || all) fire(err::SCRIPT, err::script::bad_refines);
                int32_t n = integer::get_value(comparator);
                if (n < 1 || n > size) fire(err::SCRIPT, err::script::out_of_range, comparator);
                column = uint32_t(n - 1);
                break;
            }
            case TYPE_FUNCTION:
                by_function = function_sort{*comparator, unit, reverse,
                                            type_of(str) == TYPE_BINARY ? TYPE_INTEGER : TYPE_CHAR};
                compare = function_comparator;
                arg = reinterpret_cast<intptr_t>(&by_function);
                break;
            default:
                fire_refine("compare", comparator);
        }
    }
    // Bytes are not letters: a binary sorts by their values.
    bool exact = case_ || type_of(str) == TYPE_BINARY;
    uint32_t flags = (reverse ? S_REVERSE : 0) | (exact ? S_CASE : 0) | (all ? S_ALL : 0) | (unit << 8) |
                     ((all ? uint32_t(size) : column) << 16);
    uint8_t* base = buffer_of(str)->offset + size_t(str->data1) * unit;
    uint32_t records = uint32_t(count / size);
    uint32_t width = uint32_t(size) * unit;
    if (stable && !case_) sort::with_buffer(base, records, width, arg, flags, compare);
    else sort::in_place(base, records, width, arg, flags, compare);
    return str;
}

// Set operations ----------------------------------------------------------------

kiv_value* do_set_op(int32_t op, kiv_value* first, kiv_value* second, bool case_, kiv_value* skip) {
    uint32_t step = 1;
    if (skip) {
        int32_t n = type_of(skip) == TYPE_INTEGER ? integer::get_value(skip) : 0;
        if (n < 1) fire_refine("skip", skip);
        step = uint32_t(n);
    }
    // unique has no second set: its second argument is /case.
    kiv_value a = *first, b = op == OP_UNIQUE ? *first : *second;
    clamped_head(&a);
    clamped_head(&b);
    uint32_t size = ks_length_q(&a) + (op == OP_UNION ? ks_length_q(&b) : 0);
    kiv_value* result = make_at(stack::push(), size);
    // Walks `from`, keeping each record whose first code point is (or is
    // not) in `other` and not yet in the result.
    auto walk = [&](kiv_value* from, kiv_value* other, int32_t wanted) {
        uint32_t length = ks_length_all(from);
        for (uint32_t i = from->data1; i < length; i += step) {
            uint32_t c = cp_at(from, i);
            if (wanted >= 0 && contains_char_q(other, c, step, case_) != bool(wanted)) continue;
            if (contains_char_q(result, c, step, case_)) continue;
            for (uint32_t k = i; k < std::min(i + step, length); k++) append_char(buffer_of(result), cp_at(from, k));
        }
    };
    switch (op) {
        case OP_UNIQUE: walk(&a, nullptr, -1); break;
        case OP_UNION: walk(&a, nullptr, -1); walk(&b, nullptr, -1); break;
        case OP_INTERSECT: walk(&a, &b, 1); break;
        case OP_EXCLUDE: walk(&a, &b, 0); break;
        case OP_DIFFERENCE: walk(&a, &b, 0); walk(&b, &a, 0); break;
        default: not_done();
    }
    cell::set_type(result, type_of(&a));
    *first = *result;
    return first;
}

void init() {
    using namespace actions;
    datatype::register_(TYPE_STRING, TYPE_SERIES, "string!", {
        impl<SLOT_MAKE>(make),            // make
        INHERITED,                        // random
        INHERITED,                        // reflect
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
        impl<SLOT_APPEND>(append),        // append
        INHERITED,                        // at
        INHERITED,                        // back
        impl<SLOT_CHANGE>(change),        // change
        INHERITED,                        // clear
        INHERITED,                        // copy
        impl<SLOT_FIND>(find),            // find
        INHERITED,                        // head
        INHERITED,                        // head?
        INHERITED,                        // index?
        impl<SLOT_INSERT>(insert),        // insert
        INHERITED,                        // length?
        INHERITED,                        // move
        INHERITED,                        // next
        INHERITED,                        // pick
        INHERITED,                        // poke
        UNSUPPORTED,                      // put
        INHERITED,                        // remove
        INHERITED,                        // reverse
        impl<SLOT_SELECT>(select),        // select
        impl<SLOT_SORT>(sort),            // sort
        INHERITED,                        // skip
        impl<SLOT_SWAP>(swap),            // swap
        INHERITED,                        // tail
        INHERITED,                        // tail?
        impl<SLOT_TAKE>(take),            // take
        impl<SLOT_TRIM>(trim),            // trim
        UNSUPPORTED,                      // create
        UNSUPPORTED,                      // close
        UNSUPPORTED,                      // delete
        INHERITED,                        // modify
        UNSUPPORTED,                      // open
        UNSUPPORTED,                      // open?
        UNSUPPORTED,                      // query
        UNSUPPORTED,                      // read
        UNSUPPORTED,                      // rename
        UNSUPPORTED,                      // update
        UNSUPPORTED,                      // write
    });
}

}  // namespace kiv::string
