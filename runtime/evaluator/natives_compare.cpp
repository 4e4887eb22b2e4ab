// Comparison, logic and data-set natives. The comparison rules belong to
// each datatype's compare slot: these natives pick the operator and shape the
// result.
#include <algorithm>
#include <cmath>

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/errors.h"
#include "runtime/evaluator/native_support.h"
#include "runtime/evaluator/natives.h"

namespace kiv::natives {

void equal_q(bool, const int32_t*) { actions::compare_logic(COMP_EQUAL); }
void not_equal_q(bool, const int32_t*) { actions::compare_logic(COMP_NOT_EQUAL); }
void strict_equal_q(bool, const int32_t*) { actions::compare_logic(COMP_STRICT_EQUAL); }
void lesser_q(bool, const int32_t*) { actions::compare_logic(COMP_LESSER); }
void greater_q(bool, const int32_t*) { actions::compare_logic(COMP_GREATER); }
void lesser_or_equal_q(bool, const int32_t*) { actions::compare_logic(COMP_LESSER_EQUAL); }
void greater_or_equal_q(bool, const int32_t*) { actions::compare_logic(COMP_GREATER_EQUAL); }

void same_q(bool, const int32_t*) {
    const kiv_value* a = arg(0);
    const kiv_value* b = arg(1);
    uint32_t t = type_of(a);
    bool same;
    if (t != type_of(b)) {
        same = false;
    } else if (series::series_type_q(t)) {
        // The same series at the same index; a string's fourth word is a
        // cache, not identity.
        same = a->data1 == b->data1 && a->data2 == b->data2;
    } else {
        switch (t) {
            // Identity that the datatype defines: objects share a context,
            // tuples and money compare by value.
            case TYPE_TUPLE: case TYPE_MONEY: case TYPE_OBJECT: case TYPE_ERROR: case TYPE_PORT:
            case TYPE_MAP: case TYPE_BITSET:
                same = actions::compare(arg(0), arg(1), COMP_SAME);
                break;
            // Numbers by their value's bits only: -0.0 is not 0.0.
            case TYPE_INTEGER: case TYPE_CHAR:
                same = a->data2 == b->data2;
                break;
            case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_TIME:
                same = a->data2 == b->data2 && a->data3 == b->data3;
                break;
            // Other scalars, words (same spelling in the same context) and
            // callables (the same code, spec and context): the payload.
            default:
                same = a->data1 == b->data1 && a->data2 == b->data2 && a->data3 == b->data3;
                break;
        }
    }
    logic::box(same);
}

void not_(bool, const int32_t*) { logic::box(!logic::truthy(arg(0))); }

void type_q(bool, const int32_t* refs) {
    uint32_t t = type_of(arg(0));
    if (used(refs[0])) stack::set_last(&datatype::table[t].word);
    else datatype::make_at(arg(0), t);
}

namespace {

bool nan_q(const kiv_value* v) {
    uint32_t t = type_of(v);
    return (t == TYPE_FLOAT || t == TYPE_PERCENT) && std::isnan(float_::get(v));
}

bool component_q(uint32_t t) { return t == TYPE_POINT2D || t == TYPE_POINT3D || t == TYPE_TUPLE; }

bool fraction_q(uint32_t t) { return t == TYPE_FLOAT || t == TYPE_PERCENT; }

// The components a value brings to a pair: its own, or an integer's twice;
// false for any other value.
bool pair_components(const kiv_value* v, int32_t* x, int32_t* y) {
    switch (type_of(v)) {
        case TYPE_PAIR:
            *x = pair::x_of(v);
            *y = pair::y_of(v);
            return true;
        case TYPE_INTEGER:
            *x = *y = integer::get_value(v);
            return true;
        default:
            return false;
    }
}

// A pair with a pair or an integer: the pair of the winning components.
// With anything else it is left to the comparison, which refuses it.
bool pair_extreme(bool greatest) {
    int32_t x1, y1, x2, y2;
    if (!pair_components(arg(0), &x1, &y1) || !pair_components(arg(1), &x2, &y2)) return false;
    auto pick = [greatest](int32_t a, int32_t b) { return greatest ? std::max(a, b) : std::min(a, b); };
    pair::make_at(stack::arguments, pick(x1, x2), pick(y1, y2));
    return true;
}

// The components a value brings to a point of the type: its own, a pair's
// (for point2D!), or a number's in every place; false for anything else.
bool point_components(uint32_t type, const kiv_value* v, double c[3]) {
    uint32_t t = type_of(v);
    if (t == TYPE_INTEGER || fraction_q(t)) {
        c[0] = c[1] = c[2] = t == TYPE_INTEGER ? integer::get_value(v) : float_::get(v);
        return true;
    }
    if (t == TYPE_PAIR && type == TYPE_POINT2D) {
        c[0] = pair::x_of(v);
        c[1] = pair::y_of(v);
        return true;
    }
    if (t != type) return false;
    for (uint32_t i = 0; i < point::dimensions_of(t); i++) c[i] = point::component(v, i);
    return true;
}

// Points (and a pair or number met with a point2D!, a pair met with a
// fraction) give the point of the winning components.
bool point_extreme(bool greatest) {
    uint32_t t1 = type_of(arg(0)), t2 = type_of(arg(1));
    uint32_t type = t1 == TYPE_POINT3D || t2 == TYPE_POINT3D ? TYPE_POINT3D : TYPE_POINT2D;
    double a[3] = {}, b[3] = {};
    if (!point_components(type, arg(0), a) || !point_components(type, arg(1), b)) return false;
    for (uint32_t i = 0; i < 3; i++) a[i] = greatest ? std::max(a[i], b[i]) : std::min(a[i], b[i]);
    point::make_at(stack::arguments, type, a[0], a[1], a[2]);
    return true;
}

// Two tuples give the tuple of the winning components, as long as the
// longer.
bool tuple_extreme(bool greatest) {
    kiv_value *a = arg(0), *b = arg(1);
    if (type_of(a) != TYPE_TUPLE || type_of(b) != TYPE_TUPLE) return false;
    uint8_t out[tuple::MAX_LENGTH];
    uint32_t n = std::max(tuple::length_of(a), tuple::length_of(b));
    for (uint32_t i = 0; i < tuple::MAX_LENGTH; i++) {
        uint8_t x = tuple::bytes_of(a)[i], y = tuple::bytes_of(b)[i];
        out[i] = greatest ? std::max(x, y) : std::min(x, y);
    }
    tuple::make_at(stack::arguments, n, out);
    return true;
}

// max and min: a NaN wins; otherwise the winner of the first value's lesser
// comparison, unchanged, a tie going to value1 for max and value2 for min.
void extreme(bool greatest) {
    if (nan_q(arg(0))) return;
    if (nan_q(arg(1))) {
        stack::set_last(arg(1));
        return;
    }
    uint32_t t1 = type_of(arg(0)), t2 = type_of(arg(1));
    if (t1 == TYPE_PAIR || t2 == TYPE_PAIR) {
        if (pair_extreme(greatest)) return;
        // A fraction meets a pair as a point2D!.
        if ((fraction_q(t1) || fraction_q(t2) || t1 == TYPE_POINT2D || t2 == TYPE_POINT2D) &&
            point_extreme(greatest))
            return;
    } else if (component_q(t1) || component_q(t2)) {
        if (tuple_extreme(greatest) || point_extreme(greatest)) return;
    }
    bool lesser = actions::compare(arg(0), arg(1), COMP_LESSER);
    if (greatest == lesser) stack::set_last(arg(1));
}

}  // namespace

void max(bool, const int32_t*) { extreme(true); }
void min(bool, const int32_t*) { extreme(false); }

namespace {

enum set_kind { SET_BLOCK, SET_STRING, SET_BITSET, SET_TYPESET, SET_DATE, SET_NONE };

set_kind set_kind_of(uint32_t t) {
    switch (t) {
        case TYPE_BLOCK: case TYPE_HASH: return SET_BLOCK;
        case TYPE_STRING: return SET_STRING;
        case TYPE_BITSET: return SET_BITSET;
        case TYPE_TYPESET: return SET_TYPESET;
        case TYPE_DATE: return SET_DATE;
        default: return SET_NONE;
    }
}

// The set operations on the call's arguments; the result replaces the
// first. refs: /case, /skip.
void set_operation(int32_t op, const int32_t* refs) {
    set_kind kind = set_kind_of(type_of(arg(0)));
    if (kind == SET_NONE || (kind == SET_DATE && op != OP_DIFFERENCE)) fire_expect(arg(0), "set1");
    // A datatype stands for the typeset of that one type.
    bool one_type = kind == SET_TYPESET && type_of(arg(1)) == TYPE_DATATYPE;
    if (op != OP_UNIQUE && set_kind_of(type_of(arg(1))) != kind && !one_type) fire_expect(arg(1), "set2");
    kiv_value* skip = used(refs[1]) ? arg(refs[1]) : nullptr;
    switch (kind) {
        case SET_BLOCK: block::do_set_op(used(refs[0]), skip, op); break;
        case SET_STRING: stack::set_last(string::do_set_op(op, arg(0), arg(1), used(refs[0]), skip)); break;
        case SET_BITSET: bitset::do_bitwise(op); break;
        case SET_TYPESET: typeset::do_set_op(op); break;
        default: date::difference(arg(0), arg(1)); break;  // the time between two dates
    }
}

}  // namespace

void union_(bool, const int32_t* refs) { set_operation(OP_UNION, refs); }
void intersect(bool, const int32_t* refs) { set_operation(OP_INTERSECT, refs); }
void unique(bool, const int32_t* refs) { set_operation(OP_UNIQUE, refs); }
void difference(bool, const int32_t* refs) { set_operation(OP_DIFFERENCE, refs); }
void exclude(bool, const int32_t* refs) { set_operation(OP_EXCLUDE, refs); }

void complement_q(bool, const int32_t*) {
    if (type_of(arg(0)) != TYPE_BITSET) fire_expect(arg(0), "bits");
    logic::box((series::buffer(arg(0)->data2)->flags & SERIES_TYPE_FLAG) != 0);
}

}  // namespace kiv::natives
