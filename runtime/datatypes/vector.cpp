// vector!: packed numbers. Integer and char elements follow the integer
// rules but wrap instead of turning into floats (a vector cannot hold a
// float among its integers), then are cut to their width; float and percent
// elements follow the float rules. A number combined with a vector changes
// the vector in place; two vectors make a new one, as long as the shorter.
#include "runtime/datatypes/vector.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/percent.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace kiv::vector {

namespace {

constexpr uint64_t MAX_BYTES = 0x7FFFFFFF;

bool integral_q(uint32_t type) { return type == TYPE_INTEGER || type == TYPE_CHAR; }
uint32_t default_width(uint32_t type) { return integral_q(type) ? 4 : 8; }
uint32_t width_of(const kiv_value* v) { return series::unit_of_value(v); }

uint64_t checked_size(uint64_t count, uint32_t width) {
    if (count * width > MAX_BYTES) fire(err::INTERNAL, err::internal::no_memory);
    return count * width;
}

// A vector whose elements the caller writes.
kiv_value* make_unset_at(kiv_value* cell, uint32_t count, uint32_t type, uint32_t width) {
    uint64_t bytes = checked_size(count, width);
    node_id node = memory::alloc_series(std::max(count, 1u), width, 0);
    series_buffer* b = series::buffer(node);
    b->tail = b->offset + bytes;
    *cell = kiv_value{TYPE_VECTOR, 0, node, type};
    return cell;
}

int32_t get_int(const uint8_t* p, uint32_t width) {
    switch (width) {
        case 1: return int8_t(*p);
        case 2: { int16_t v; std::memcpy(&v, p, 2); return v; }
        default: { int32_t v; std::memcpy(&v, p, 4); return v; }
    }
}
void put_int(uint8_t* p, uint32_t width, int32_t v) {
    switch (width) {
        case 1: *p = uint8_t(v); break;
        case 2: { int16_t s = int16_t(v); std::memcpy(p, &s, 2); break; }
        default: std::memcpy(p, &v, 4); break;
    }
}
double get_double(const uint8_t* p, uint32_t width) {
    if (width == 4) { float f; std::memcpy(&f, p, 4); return f; }
    double d;
    std::memcpy(&d, p, 8);
    return d;
}
void put_double(uint8_t* p, uint32_t width, double d) {
    if (width == 4) {
        float f = point::to_single(d);
        std::memcpy(p, &f, 4);
    } else {
        std::memcpy(p, &d, 8);
    }
}

// A float stored into an integer element must have a whole part that is a
// 32-bit integer; that is then cut to the element's width.
int32_t checked_int(double d, const kiv_value* culprit) {
    if (!(d > -2147483649.0 && d < 2147483648.0)) fire(err::SCRIPT, err::script::out_of_range, culprit);
    return int32_t(std::trunc(d));
}

[[noreturn]] void invalid_type(uint32_t type) {
    kiv_value dt;
    datatype::make_at(&dt, type);
    fire(err::SCRIPT, err::script::invalid_type, &dt);
}

bool number_q(uint32_t t) { return t == TYPE_INTEGER || t == TYPE_CHAR || t == TYPE_FLOAT || t == TYPE_PERCENT; }

// The integer rules with wrapping: the quotient and remainder of the
// smallest integer by -1 are the smallest integer and 0.
int32_t int_op(int32_t a, int32_t b, int32_t op) {
    switch (op) {
        case OP_ADD: return int32_t(uint32_t(a) + uint32_t(b));
        case OP_SUB: return int32_t(uint32_t(a) - uint32_t(b));
        case OP_MUL: return int32_t(uint32_t(int64_t(a) * int64_t(b)));
        case OP_DIV:
            if (b == 0) fire(err::MATH, err::math::zero_divide);
            return b == -1 ? int32_t(0u - uint32_t(a)) : a / b;
        case OP_REM:
            if (b == 0) fire(err::MATH, err::math::zero_divide);
            return b == -1 ? 0 : a % b;
        case OP_OR: return a | b;
        case OP_AND: return a & b;
        default: return a ^ b;
    }
}

// One scalar: its integer and its double.
struct scalar {
    bool integral;
    int32_t i;
    double d;
    const kiv_value* cell;
};

scalar scalar_of(const kiv_value* v) {
    uint32_t t = type_of(v);
    if (t == TYPE_INTEGER || t == TYPE_CHAR) return {true, integer::get_value(v), double(integer::get_value(v)), v};
    if (t == TYPE_FLOAT || t == TYPE_PERCENT) return {false, 0, float_::get(v), v};
    fire(err::INTERNAL, err::internal::not_done);
}

// Each element from the head combined with the scalar; `swapped` puts the
// scalar on the left.
void with_scalar(kiv_value* vec, const scalar& s, int32_t op, bool swapped) {
    bool neutral = s.d == (op == OP_ADD || op == OP_SUB ? 0.0 : 1.0);
    if (neutral && (op == OP_ADD || op == OP_MUL || (!swapped && (op == OP_SUB || op == OP_DIV)))) return;
    uint32_t type = element_type_of(vec), width = width_of(vec);
    uint32_t n = ks_length_q(vec);
    uint8_t* p = series::unit_at(vec, vec->data1);
    if (!integral_q(type) && op >= OP_OR) invalid_type(TYPE_FLOAT);
    for (uint32_t k = 0; k < n; k++, p += width) {
        if (integral_q(type)) {
            int32_t e = get_int(p, width);
            int32_t r;
            if (s.integral) {
                r = swapped ? int_op(s.i, e, op) : int_op(e, s.i, op);
            } else {
                if (op >= OP_OR) invalid_type(type_of(s.cell));
                double d = swapped ? float_::do_math(s.d, e, op) : float_::do_math(e, s.d, op);
                r = checked_int(d, s.cell);
            }
            put_int(p, width, r);
        } else {
            double e = get_double(p, width);
            put_double(p, width, swapped ? float_::do_math(s.d, e, op) : float_::do_math(e, s.d, op));
        }
    }
}

// The common case of two vectors of doubles, one loop per operation so that
// the compiler can keep it tight.
template <typename F>
void each_double(const uint8_t* pa, const uint8_t* pb, uint8_t* po, uint32_t n, F f) {
    for (uint32_t k = 0; k < n; k++) {
        double x, y;
        std::memcpy(&x, pa + 8 * k, 8);
        std::memcpy(&y, pb + 8 * k, 8);
        double r = f(x, y);
        std::memcpy(po + 8 * k, &r, 8);
    }
}

void doubles(const uint8_t* pa, const uint8_t* pb, uint8_t* po, uint32_t n, int32_t op) {
    switch (op) {
        case OP_ADD: each_double(pa, pb, po, n, [](double x, double y) { return x + y; }); break;
        case OP_SUB: each_double(pa, pb, po, n, [](double x, double y) { return x - y; }); break;
        case OP_MUL: each_double(pa, pb, po, n, [](double x, double y) { return x * y; }); break;
        default: each_double(pa, pb, po, n, [](double x, double y) { return x / y; }); break;
    }
}

// Two vectors: a new vector as long as the shorter and as wide as the wider.
void with_vector(kiv_value* result, kiv_value* a, kiv_value* b, int32_t op) {
    uint32_t type = element_type_of(a);
    if (element_type_of(b) != type) {
        kiv_value ta, tb;
        datatype::make_at(&ta, TYPE_VECTOR);
        datatype::make_at(&tb, TYPE_VECTOR);
        fire(err::SCRIPT, err::script::not_same_type, &ta, &tb);
    }
    if (!integral_q(type) && op >= OP_OR) invalid_type(type);
    uint32_t n = std::min(ks_length_q(a), ks_length_q(b));
    uint32_t wa = width_of(a), wb = width_of(b), width = std::max(wa, wb);
    kiv_value out;
    make_unset_at(&out, n, type, width);
    // The new series may have moved nothing, but read through the nodes.
    const uint8_t* pa = series::unit_at(a, a->data1);
    const uint8_t* pb = series::unit_at(b, b->data1);
    uint8_t* po = series::unit_at(&out, 0);
    if (!integral_q(type) && wa == 8 && wb == 8 && op <= OP_DIV) {
        doubles(pa, pb, po, n, op);
        *result = out;
        return;
    }
    for (uint32_t k = 0; k < n; k++, pa += wa, pb += wb, po += width) {
        if (integral_q(type)) put_int(po, width, int_op(get_int(pa, wa), get_int(pb, wb), op));
        else put_double(po, width, float_::do_math(get_double(pa, wa), get_double(pb, wb), op));
    }
    *result = out;
}

void math(int32_t op) {
    kiv_value* left = stack::arguments;
    kiv_value* right = stack::arguments + 1;
    if (type_of(right) == TYPE_VECTOR) with_vector(left, left, right, op);
    else with_scalar(left, scalar_of(right), op, false);
}

}  // namespace

bool width_q(uint32_t type, uint32_t width) {
    switch (type) {
        case TYPE_CHAR: case TYPE_INTEGER: return width == 1 || width == 2 || width == 4;
        case TYPE_FLOAT: return width == 4 || width == 8;
        case TYPE_PERCENT: return width == 8;
        default: return false;
    }
}

kiv_value* make_at(kiv_value* cell, uint32_t count, uint32_t type, uint32_t width) {
    make_unset_at(cell, count, type, width);
    series_buffer* b = series::buffer_of(cell);
    std::memset(b->offset, 0, size_t(b->tail - b->offset));
    return cell;
}

uint32_t ks_length_q(kiv_value* v) { return series::get_length(v, false); }

static kiv_value element(const kiv_value* v, uint32_t index) {
    const uint8_t* p = series::unit_at(v, index);
    uint32_t width = width_of(v);
    kiv_value out;
    switch (element_type_of(v)) {
        case TYPE_CHAR: return *char_::make_at(&out, uint32_t(get_int(p, width)));
        case TYPE_INTEGER: return *integer::make_at(&out, get_int(p, width));
        case TYPE_PERCENT: return *percent::make_at(&out, get_double(p, width));
        default: return *float_::make_at(&out, get_double(p, width));
    }
}

kiv_value* push_element(const kiv_value* v, uint32_t index) {
    kiv_value e = element(v, index);
    return stack::push_value(&e);
}

void set_element(kiv_value* v, uint32_t index, const kiv_value* value) {
    uint32_t t = type_of(value);
    if (!number_q(t)) invalid_type(t);
    uint32_t width = width_of(v);
    uint8_t* p = series::unit_at(v, index);
    bool integral_value = t == TYPE_INTEGER || t == TYPE_CHAR;
    if (integral_q(element_type_of(v))) {
        put_int(p, width, integral_value ? integer::get_value(value) : checked_int(float_::get(value), value));
    } else {
        put_double(p, width, integral_value ? double(integer::get_value(value)) : float_::get(value));
    }
}

kiv_value* to_block(kiv_value* v) {
    uint32_t n = ks_length_q(v);
    kiv_value vec = *v;
    kiv_value* blk = block::make_at(stack::push(), int32_t(std::max(n, 1u)));
    for (uint32_t k = 0; k < n; k++) {
        kiv_value e = element(&vec, vec.data1 + k);
        *block::alloc_tail(blk) = e;
    }
    return blk;
}

void do_math(int32_t op) {
    kiv_value* left = stack::arguments;
    kiv_value* vec = stack::arguments + 1;
    with_scalar(vec, scalar_of(left), op, true);
    *left = *vec;
}

static void add() { math(OP_ADD); }
static void subtract() { math(OP_SUB); }
static void multiply() { math(OP_MUL); }
static void divide() { math(OP_DIV); }
static void remainder() { math(OP_REM); }
static void and_t() { math(OP_AND); }
static void or_t() { math(OP_OR); }
static void xor_t() { math(OP_XOR); }

// Inserting and changing -----------------------------------------------------------

namespace {

// The values a source gives: the values of a block from its head, the
// elements of a vector, or the one value. Each must be a number.
std::vector<kiv_value> values_of(kiv_value* value, bool only, int32_t part) {
    std::vector<kiv_value> out;
    uint32_t t = type_of(value);
    if (!only && (t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH)) {
        int32_t n = std::max(0, block::ks_length_q(value));
        for (int32_t k = 0; k < n; k++) out.push_back(block::cells(value)[value->data1 + uint32_t(k)]);
    } else if (t == TYPE_VECTOR) {
        uint32_t n = ks_length_q(value);
        for (uint32_t k = 0; k < n; k++) out.push_back(element(value, value->data1 + k));
    } else {
        out.push_back(*value);
    }
    if (part >= 0 && size_t(part) < out.size()) out.resize(size_t(part));
    for (const kiv_value& v : out)
        if (!number_q(type_of(&v))) invalid_type(type_of(&v));
    return out;
}

// Room for `added` elements in place of `replaced` ones at an index.
void open_gap(kiv_value* vec, uint32_t at, uint32_t replaced, uint64_t added) {
    series_buffer* b = series::buffer_of(vec);
    uint32_t width = unit_of(b);
    uint32_t length = series::used_units(b);
    uint64_t new_length = uint64_t(length) - replaced + added;
    b = string::reserve(b, checked_size(new_length, width));
    uint8_t* p = b->offset + size_t(at) * width;
    std::memmove(p + added * width, p + size_t(replaced) * width, size_t(length - at - replaced) * width);
    b->tail = b->offset + new_length * width;
}

void fill(kiv_value* vec, uint32_t at, const std::vector<kiv_value>& values, uint64_t dup) {
    for (uint64_t d = 0; d < dup; d++)
        for (const kiv_value& v : values) set_element(vec, at++, &v);
}

uint64_t total_of(size_t n, int32_t dup) { return uint64_t(n) * uint64_t(dup < 1 ? 1 : dup); }

}  // namespace

static kiv_value* insert(kiv_value* vec, kiv_value* value, int32_t part, bool only, int32_t dup, bool append) {
    std::vector<kiv_value> values = values_of(value, only, part);
    uint32_t length = series::ks_length_all(vec);
    if (vec->data1 > length) vec->data1 = length;
    uint32_t at = append ? length : vec->data1;
    uint64_t total = total_of(values.size(), dup);
    checked_size(length + total, width_of(vec));
    open_gap(vec, at, 0, total);
    fill(vec, at, values, total / std::max<size_t>(values.size(), 1));
    vec->data1 = append ? 0 : at + uint32_t(total);
    return vec;
}

static kiv_value* change(kiv_value* vec, kiv_value* value, int32_t part, bool only, int32_t dup) {
    std::vector<kiv_value> values = values_of(value, only, -1);
    uint32_t length = series::ks_length_all(vec);
    if (vec->data1 > length) vec->data1 = length;
    uint32_t at = vec->data1;
    uint64_t total = total_of(values.size(), dup);
    checked_size(length + total, width_of(vec));
    uint32_t replaced = uint32_t(std::min<uint64_t>(part >= 0 ? uint64_t(part) : total, length - at));
    open_gap(vec, at, replaced, total);
    fill(vec, at, values, total / std::max<size_t>(values.size(), 1));
    vec->data1 = at + uint32_t(total);
    return vec;
}

// Elements ordered by value; only /reverse is taken.
static kiv_value* sort(kiv_value* vec, bool, kiv_value* skip, kiv_value* comparator, kiv_value* part, bool all,
                       bool reverse, bool) {
    if (!actions::absent_q(skip) || !actions::absent_q(comparator) || !actions::absent_q(part) || all)
        fire(err::INTERNAL, err::internal::not_done);
    uint32_t n = ks_length_q(vec), width = width_of(vec);
    uint8_t* p = series::unit_at(vec, vec->data1);
    std::vector<double> d(n);
    for (uint32_t k = 0; k < n; k++)
        d[k] = integral_q(element_type_of(vec)) ? get_int(p + k * width, width) : get_double(p + k * width, width);
    std::stable_sort(d.begin(), d.end(), [&](double a, double b) { return reverse ? b < a : a < b; });
    for (uint32_t k = 0; k < n; k++) {
        if (integral_q(element_type_of(vec))) put_int(p + k * width, width, int32_t(d[k]));
        else put_double(p + k * width, width, d[k]);
    }
    return vec;
}

// Searching ----------------------------------------------------------------------

// The index of the first element (the last, with `last` or `reverse`) equal
// to a number, -1 when none is. Only /tail, /last and /reverse are taken.
static int64_t locate(kiv_value* vec, kiv_value* value, kiv_value* part, bool any, kiv_value* with,
                      kiv_value* skip, bool last, bool reverse, bool match) {
    if (!actions::absent_q(part) || any || !actions::absent_q(with) || !actions::absent_q(skip) || match)
        fire(err::INTERNAL, err::internal::not_done);
    uint32_t t = type_of(value);
    if (!number_q(t)) return -1;
    double wanted = t == TYPE_INTEGER || t == TYPE_CHAR ? integer::get_value(value) : float_::get(value);
    uint32_t length = series::ks_length_all(vec), head = std::min(vec->data1, length), width = width_of(vec);
    bool integral = integral_q(element_type_of(vec));
    auto at = [&](uint32_t k) {
        const uint8_t* p = series::unit_at(vec, k);
        return integral ? double(get_int(p, width)) : get_double(p, width);
    };
    if (last || reverse) {
        for (uint32_t k = reverse ? head + 1 : length; k-- > (reverse ? 0 : head);)
            if (at(k) == wanted) return k;
        return -1;
    }
    for (uint32_t k = head; k < length; k++)
        if (at(k) == wanted) return k;
    return -1;
}

static kiv_value* find(kiv_value* vec, kiv_value* value, kiv_value* part, bool, bool, bool, bool any,
                       kiv_value* with, kiv_value* skip, bool last, bool reverse, bool tail, bool match) {
    int64_t k = locate(vec, value, part, any, with, skip, last, reverse, match);
    if (k < 0) return const_cast<kiv_value*>(&none_value);
    kiv_value result = *vec;
    result.data1 = uint32_t(k) + (tail ? 1 : 0);
    return stack::push_value(&result);
}

static kiv_value* select(kiv_value* vec, kiv_value* value, kiv_value* part, bool, bool, bool, bool any,
                         kiv_value* with, kiv_value* skip, bool last, bool reverse) {
    int64_t k = locate(vec, value, part, any, with, skip, last, reverse, false);
    if (k < 0 || uint64_t(k) + 1 >= series::ks_length_all(vec)) return const_cast<kiv_value*>(&none_value);
    return push_element(vec, uint32_t(k) + 1);
}

// Comparison ---------------------------------------------------------------------

static int32_t compare(kiv_value* a, kiv_value* b, int32_t op) {
    if (type_of(b) != TYPE_VECTOR) return COMPARE_INCOMPARABLE;
    if (element_type_of(a) != element_type_of(b)) {
        kiv_value ta, tb;
        datatype::make_at(&ta, TYPE_VECTOR);
        datatype::make_at(&tb, TYPE_VECTOR);
        fire(err::SCRIPT, err::script::not_same_type, &ta, &tb);
    }
    if (op == COMP_SAME) return a->data2 == b->data2 && a->data1 == b->data1 ? 0 : 1;
    uint32_t na = ks_length_q(a), nb = ks_length_q(b);
    bool equality = op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL || op == COMP_FIND;
    if (equality && na != nb) return 1;
    bool integral = integral_q(element_type_of(a));
    uint32_t wa = width_of(a), wb = width_of(b);
    for (uint32_t k = 0; k < std::min(na, nb); k++) {
        const uint8_t* pa = series::unit_at(a, a->data1 + k);
        const uint8_t* pb = series::unit_at(b, b->data1 + k);
        double x = integral ? get_int(pa, wa) : get_double(pa, wa);
        double y = integral ? get_int(pb, wb) : get_double(pb, wb);
        if (x != y) return x < y ? -1 : 1;
    }
    return na == nb ? 0 : na < nb ? -1 : 1;
}

// Forming ------------------------------------------------------------------------

namespace {

// The shortest text that reads back to the same 32-bit float.
std::string float32_text(float f) {
    if (!std::isfinite(f)) return float_::form_float(f, float_::FORM_FLOAT).text;
    char text[32];
    for (int precision = 6; precision <= 9; precision++) {
        std::snprintf(text, sizeof text, "%.*g", precision, double(f));
        if (std::strtof(text, nullptr) == f) break;
    }
    std::string s = text;
    if (s.find_first_of(".e") == std::string::npos) s += ".0";
    return s;
}

void element_text(const kiv_value* vec, uint32_t index, bool mold, kiv_value* buffer) {
    if (element_type_of(vec) == TYPE_FLOAT && width_of(vec) == 4) {
        float f = float(get_double(series::unit_at(vec, index), 4));
        string::concatenate_literal(buffer, float32_text(f).c_str());
        return;
    }
    kiv_value e = element(vec, index);
    if (mold) actions::mold_typed(&e, buffer, false, false, true, nullptr, INT_MAX, 0);
    else actions::form_typed(&e, buffer, nullptr, INT_MAX);
}

const char* type_word(uint32_t type) {
    switch (type) {
        case TYPE_CHAR: return "char!";
        case TYPE_INTEGER: return "integer!";
        case TYPE_PERCENT: return "percent!";
        default: return "float!";
    }
}

// The elements separated by spaces; with a limit, the text stops once it
// is used up.
int32_t elements_text(kiv_value* vec, kiv_value* buffer, bool mold, int32_t part) {
    uint32_t n = ks_length_q(vec);
    kiv_value v = *vec;
    for (uint32_t k = 0; k < n && part > 0; k++) {
        uint32_t before = string::ks_length_all(buffer);
        if (k) string::concatenate_literal(buffer, " ");
        element_text(&v, v.data1 + k, mold, buffer);
        part -= int32_t(string::ks_length_all(buffer) - before);
    }
    return part;
}

}  // namespace

static int32_t form(kiv_value* vec, kiv_value* buffer, kiv_value*, int32_t part) {
    return elements_text(vec, buffer, false, part);
}

static int32_t mold(kiv_value* vec, kiv_value* buffer, bool only, bool, bool, kiv_value*, int32_t part, int32_t) {
    uint32_t type = element_type_of(vec), width = width_of(vec);
    bool plain = ks_length_q(vec) > 0 && width == default_width(type);
    uint32_t before = string::ks_length_all(buffer);
    if (!only) string::concatenate_literal(buffer, "make vector! [");
    if (!plain) {
        std::string head = std::string(type_word(type)) + " " + std::to_string(width * 8) + " [";
        string::concatenate_literal(buffer, head.c_str());
    }
    part -= int32_t(string::ks_length_all(buffer) - before);
    part = elements_text(vec, buffer, true, part);
    if (part <= 0) return part;
    const char* closing = plain ? (only ? "" : "]") : (only ? "]" : "]]");
    string::concatenate_literal(buffer, closing);
    return part - int32_t(std::strlen(closing));
}

// Make ---------------------------------------------------------------------------

namespace {

[[noreturn]] void bad_make(kiv_value* spec) {
    kiv_value dt;
    datatype::make_at(&dt, TYPE_VECTOR);
    fire(err::SCRIPT, err::script::bad_make_arg, &dt, spec);
}

[[noreturn]] void bad_field(kiv_value* spec) { fire(err::SCRIPT, err::script::invalid_spec_field, spec); }

uint32_t type_named(const kiv_value* w) {
    int32_t symbol = symbol::resolve(word::symbol_of(w));
    for (uint32_t t : {TYPE_CHAR, TYPE_INTEGER, TYPE_FLOAT, TYPE_PERCENT})
        if (symbol == symbol::resolve(symbol::make(type_word(t)))) return t;
    return 0;
}

kiv_value* filled(uint32_t type, uint32_t width, int64_t count, kiv_value* values) {
    if (count < 0) fire(err::SCRIPT, err::script::out_of_range, stack::arguments + 1);
    std::vector<kiv_value> given;
    if (values) given = values_of(values, false, -1);
    uint64_t n = std::max<uint64_t>({uint64_t(count), given.size(), 1});
    checked_size(n, width);
    kiv_value* vec = make_at(stack::push(), uint32_t(n), type, width);
    for (uint32_t k = 0; k < given.size(); k++) set_element(vec, k, &given[k]);
    return vec;
}

}  // namespace

static kiv_value* make(kiv_value*, kiv_value* spec, uint32_t) {
    uint32_t t = type_of(spec);
    if (t == TYPE_INTEGER) return filled(TYPE_INTEGER, 4, integer::get_value(spec), nullptr);
    if (t == TYPE_FLOAT) {
        double d = float_::get(spec);
        if (!(d >= 0 && d < 2147483648.0)) fire(err::SCRIPT, err::script::out_of_range, spec);
        return filled(TYPE_INTEGER, 4, int64_t(d), nullptr);
    }
    if (t != TYPE_BLOCK) fire(err::INTERNAL, err::internal::not_done);
    int32_t n = block::ks_length_q(spec);
    if (n <= 0) bad_make(spec);
    kiv_value* first = block::cells(spec) + spec->data1;
    if (type_of(first) != TYPE_WORD) {
        uint32_t ft = type_of(first);
        if (!number_q(ft)) invalid_type(ft);
        kiv_value values = *spec;
        return filled(ft, default_width(ft), 0, &values);
    }
    uint32_t type = type_named(first);
    if (!type || n < 2) bad_make(spec);
    uint32_t width = default_width(type);
    int32_t at = 1;
    kiv_value next = block::cells(spec)[spec->data1 + 1];
    if (type_of(&next) == TYPE_INTEGER && n > 2) {
        // An integer followed by something more is the width in bits.
        int32_t bits = integer::get_value(&next);
        if (bits % 8 || !width_q(type, uint32_t(bits / 8))) bad_make(spec);
        width = uint32_t(bits / 8);
        at = 2;
    } else if (type_of(&next) != TYPE_INTEGER && type_of(&next) != TYPE_BLOCK && type != TYPE_PERCENT) {
        bad_field(spec);
    }
    if (at >= n) bad_field(spec);
    kiv_value what = block::cells(spec)[spec->data1 + uint32_t(at)];
    if (type_of(&what) == TYPE_INTEGER) return filled(type, width, integer::get_value(&what), nullptr);
    if (type_of(&what) == TYPE_BLOCK) return filled(type, width, 0, &what);
    bad_field(spec);
}

void init() {
    using namespace actions;
    datatype::register_(TYPE_VECTOR, TYPE_STRING, "vector!", {
        impl<SLOT_MAKE>(make),            // make
        INHERITED,                        // random
        INHERITED,                        // reflect
        UNSUPPORTED,                      // to
        impl<SLOT_FORM>(form),            // form
        impl<SLOT_MOLD>(mold),            // mold
        INHERITED,                        // eval-path
        UNSUPPORTED,                      // (empty)
        impl<SLOT_COMPARE>(compare),      // compare
        UNSUPPORTED,                      // absolute
        impl<SLOT_ADD>(add),              // add
        impl<SLOT_DIVIDE>(divide),        // divide
        impl<SLOT_MULTIPLY>(multiply),    // multiply
        UNSUPPORTED,                      // negate
        UNSUPPORTED,                      // power
        impl<SLOT_REMAINDER>(remainder),  // remainder
        UNSUPPORTED,                      // round
        impl<SLOT_SUBTRACT>(subtract),    // subtract
        UNSUPPORTED,                      // even?
        UNSUPPORTED,                      // odd?
        impl<SLOT_AND_T>(and_t),          // and~
        UNSUPPORTED,                      // complement
        impl<SLOT_OR_T>(or_t),            // or~
        impl<SLOT_XOR_T>(xor_t),          // xor~
        impl<SLOT_APPEND>(insert),        // append
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
        UNSUPPORTED,                      // swap
        INHERITED,                        // tail
        INHERITED,                        // tail?
        INHERITED,                        // take
        UNSUPPORTED,                      // trim
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

}  // namespace kiv::vector
