// point2D! and point3D!: one set of actions serves both, the dimension
// coming from the value's type. A point2D! also takes pairs wherever it takes
// points; a point3D! takes neither pairs nor point2D! operands.
#include "runtime/datatypes/point.h"

#include <bit>
#include <cmath>
#include <cstring>

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/evaluator/lexer.h"
#include "runtime/evaluator/random.h"
#include "runtime/stack.h"

namespace kiv::point {

kiv_value* make_at(kiv_value* cell, uint32_t type, double x, double y, double z) {
    *cell = kiv_value{type, 0, 0, 0};
    set_component(cell, 0, x);
    set_component(cell, 1, y);
    if (type == TYPE_POINT3D) set_component(cell, 2, z);
    return cell;
}
kiv_value* push(uint32_t type, double x, double y, double z) { return make_at(stack::push(), type, x, y, z); }
kiv_value* make_in(kiv_value* block, uint32_t type, double x, double y, double z) {
    return make_at(block::alloc_tail(block), type, x, y, z);
}

namespace {

[[noreturn]] void invalid_type(const kiv_value* v) {
    kiv_value dt;
    datatype::make_at(&dt, type_of(v));
    fire(err::SCRIPT, err::script::invalid_type, &dt);
}

[[noreturn]] void bad_to(uint32_t type, const kiv_value* spec) {
    kiv_value dt;
    datatype::make_at(&dt, type);
    fire(err::SCRIPT, err::script::bad_to_arg, &dt, spec);
}

bool number_q(uint32_t t) { return t == TYPE_INTEGER || t == TYPE_FLOAT || t == TYPE_PERCENT; }

double number_of(const kiv_value* v) {
    return type_of(v) == TYPE_INTEGER ? double(integer::get_value(v)) : float_::get(v);
}

// The components an operand gives a point of the type: a number in every
// place, a pair or point2D! for a point2D!, a point3D! for a point3D!. False
// for anything else.
bool components_of(uint32_t type, const kiv_value* v, double out[3]) {
    uint32_t t = type_of(v);
    if (number_q(t)) {
        out[0] = out[1] = out[2] = number_of(v);
        return true;
    }
    if (t == TYPE_PAIR && type == TYPE_POINT2D) {
        out[0] = pair::x_of(v);
        out[1] = pair::y_of(v);
        out[2] = 0;
        return true;
    }
    if (t != type) return false;
    for (uint32_t i = 0; i < 3; i++) out[i] = i < dimensions_of(t) ? component(v, i) : 0.0;
    return true;
}

// Equality within 10 units in the last place of a 32-bit float.
bool almost_equal32_q(float a, float b) {
    if (std::isnan(a) || std::isnan(b)) return false;
    if (a == b) return true;
    auto ordered = [](float f) {
        int32_t i = std::bit_cast<int32_t>(f);
        return i < 0 ? int64_t(INT32_MIN) - i : int64_t(i);
    };
    return std::llabs(ordered(a) - ordered(b)) <= 10;
}

// The component of a word (x, y, z) or an index (1 to the dimension), from
// 0; -1 for anything else.
int32_t field_of(uint32_t type, const kiv_value* selector) {
    int32_t n = int32_t(dimensions_of(type));
    uint32_t t = type_of(selector);
    if (t == TYPE_INTEGER) {
        int32_t i = integer::get_value(selector);
        return i >= 1 && i <= n ? i - 1 : -1;
    }
    if (t < TYPE_WORD || t > TYPE_GET_WORD) return -1;
    int32_t symbol = symbol::resolve(word::symbol_of(selector));
    const char* names[] = {"x", "y", "z"};
    for (int32_t i = 0; i < n; i++)
        if (symbol == symbol::resolve(symbol::make(names[i]))) return i;
    return -1;
}

}  // namespace

// Arithmetic ---------------------------------------------------------------------

void do_math(int32_t op) {
    kiv_value* left = stack::arguments;
    kiv_value* right = stack::arguments + 1;
    uint32_t type = type_of(left);
    double other[3];
    if (!components_of(type, right, other)) invalid_type(right);
    if (op >= OP_OR) actions::fire_with_call(err::script::cannot_use, type);
    for (uint32_t i = 0; i < dimensions_of(type); i++)
        set_component(left, i, float_::do_math(double(component(left, i)), other[i], op));
}

// A number or pair on the left of a point becomes a point of the same kind
// first, so that each operand keeps its side.
void on_right(int32_t op) {
    kiv_value* left = stack::arguments;
    uint32_t type = type_of(stack::arguments + 1);
    double c[3];
    if (!components_of(type, left, c)) invalid_type(left);
    make_at(left, type, c[0], c[1], c[2]);
    do_math(op);
}

static void add() { do_math(OP_ADD); }
static void subtract() { do_math(OP_SUB); }
static void multiply() { do_math(OP_MUL); }
static void divide() { do_math(OP_DIV); }
static void remainder() { do_math(OP_REM); }

static kiv_value* negate(kiv_value* p) {
    for (uint32_t i = 0; i < dimensions_of(type_of(p)); i++) set_component(p, i, 0.0 - component(p, i));
    return p;
}

static void absolute() {
    kiv_value* p = stack::arguments;
    for (uint32_t i = 0; i < dimensions_of(type_of(p)); i++) set_component(p, i, std::fabs(component(p, i)));
}

static kiv_value* reverse(kiv_value* p, kiv_value*, kiv_value*) {
    uint32_t last = dimensions_of(type_of(p)) - 1;
    std::swap((&p->data1)[0], (&p->data1)[last]);
    return p;
}

static kiv_value* round(kiv_value* p, kiv_value* scale, bool even, bool down, bool half_down, bool floor,
                        bool ceiling, bool half_ceiling) {
    uint32_t type = type_of(p);
    double by[3] = {};
    if (scale) {
        uint32_t st = type_of(scale);
        if (st == TYPE_MONEY) actions::fire_with_call(err::script::not_related, st);
        bool per_component = st == TYPE_PAIR || st == TYPE_POINT2D || st == TYPE_POINT3D;
        if (per_component) {
            by[0] = st == TYPE_PAIR ? pair::x_of(scale) : component(scale, 0);
            by[1] = st == TYPE_PAIR ? pair::y_of(scale) : component(scale, 1);
            by[2] = st == TYPE_POINT3D ? component(scale, 2) : 0.0;
            if (type == TYPE_POINT2D && st == TYPE_POINT3D) invalid_type(scale);
        } else if (!number_q(st)) {
            invalid_type(scale);
        } else {
            by[0] = by[1] = by[2] = number_of(scale);
        }
    }
    for (uint32_t i = 0; i < dimensions_of(type); i++) {
        kiv_value c, s;
        float_::make_at(&c, component(p, i));
        float_::round(&c, scale ? float_::make_at(&s, by[i]) : nullptr, even, down, half_down, floor, ceiling,
                      half_ceiling);
        set_component(p, i, type_of(&c) == TYPE_INTEGER ? double(integer::get_value(&c)) : float_::get(&c));
    }
    return p;
}

// A zero component stays zero.
static void random(kiv_value* p, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(int32_t(p->data1 ^ std::rotl(p->data2, 11) ^
                             (type_of(p) == TYPE_POINT3D ? std::rotl(p->data3, 22) : 0)));
        unset::return_();
        return;
    }
    for (uint32_t i = 0; i < dimensions_of(type_of(p)); i++) {
        float c = component(p, i);
        if (c != 0) set_component(p, i, float_::random_double(c, secure));
    }
}

// Comparison ---------------------------------------------------------------------

static int32_t compare(kiv_value* p1, kiv_value* p2, int32_t op) {
    uint32_t type = type_of(p1);
    kiv_value as_point;
    if (type == TYPE_POINT2D && type_of(p2) == TYPE_PAIR)
        p2 = make_at(&as_point, TYPE_POINT2D, pair::x_of(p2), pair::y_of(p2));
    if (type_of(p2) != type) return COMPARE_INCOMPARABLE;
    uint32_t n = dimensions_of(type);
    switch (op) {
        case COMP_SAME:
            return std::memcmp(&p1->data1, &p2->data1, n * 4) == 0 ? 0 : 1;
        case COMP_STRICT_EQUAL:
            for (uint32_t i = 0; i < n; i++)
                if (component(p1, i) != component(p2, i)) return 1;
            return 0;
        case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_EQUAL_SPELLING: case COMP_EQUAL_FOLDED: case COMP_FIND:
            for (uint32_t i = 0; i < n; i++)
                if (!almost_equal32_q(component(p1, i), component(p2, i))) return 1;
            return 0;
        default:
            for (uint32_t i = 0; i < n; i++) {
                float a = component(p1, i), b = component(p2, i);
                if (almost_equal32_q(a, b)) continue;
                double d = double(a) - double(b);
                return d < 0 ? -1 : d > 0 ? 1 : 0;
            }
            return 0;
    }
}

// Forming ------------------------------------------------------------------------

static int32_t form(kiv_value* p, kiv_value* buffer, kiv_value*, int32_t part) {
    int32_t n = 0;
    string::concatenate_literal(buffer, "(");
    for (uint32_t i = 0; i < dimensions_of(type_of(p)); i++) {
        if (i) string::concatenate_literal(buffer, ", ");
        dtoa::formed f = float_::form_float(component(p, i), float_::FORM_POINT);
        string::concatenate_literal(buffer, f.text);
        n += f.length + (i ? 2 : 0);
    }
    string::concatenate_literal(buffer, ")");
    return part - n - 2;
}

static int32_t mold(kiv_value* p, kiv_value* buffer, bool, bool, bool, kiv_value* arg, int32_t part, int32_t) {
    return form(p, buffer, arg, part);
}

// Make and to --------------------------------------------------------------------

static kiv_value* from_block(uint32_t type, kiv_value* spec) {
    uint32_t n = dimensions_of(type);
    uint32_t length = block::length_all(spec);
    uint32_t head = std::min(spec->data1, length);
    if (length - head < n) fire(err::SYNTAX, err::syntax::malconstruct, spec);
    double c[3] = {};
    for (uint32_t i = 0; i < n; i++) {
        const kiv_value* v = block::cells(spec) + head + i;
        if (type_of(v) != TYPE_INTEGER && type_of(v) != TYPE_FLOAT)
            fire(err::SYNTAX, err::syntax::malconstruct, spec);
        c[i] = number_of(v);
    }
    return push(type, c[0], c[1], c[2]);
}

static kiv_value* to(kiv_value*, kiv_value* spec, uint32_t type) {
    uint32_t t = type_of(spec);
    if (t == type) return spec;
    switch (t) {
        case TYPE_INTEGER:
        case TYPE_FLOAT: {
            double d = number_of(spec);
            return push(type, d, d, d);
        }
        case TYPE_BLOCK: return from_block(type, spec);
        case TYPE_PAIR: return push(type, pair::x_of(spec), pair::y_of(spec));
        case TYPE_POINT2D:
            if (type == TYPE_POINT3D) return push(type, component(spec, 0), component(spec, 1));
            break;
        case TYPE_STRING: {
            kiv_value* loaded = lexer::load_single(spec, stack::push());
            if (type_of(loaded) == type) return loaded;
            break;
        }
        default: break;
    }
    bad_to(type, spec);
}

// Paths and pick -----------------------------------------------------------------

static kiv_value* eval_path(kiv_value* parent, kiv_value* element, kiv_value* value, kiv_value* path,
                            kiv_value* gparent, kiv_value* p_item, int32_t, bool, bool, bool, bool notify) {
    int32_t i = field_of(type_of(parent), element);
    if (i < 0) {
        kiv_value p = path ? *path : none_value;
        fire(err::SCRIPT, err::script::invalid_path, &p, element);
    }
    if (!value) return float_::push(component(parent, uint32_t(i)));
    if (type_of(value) != TYPE_INTEGER && type_of(value) != TYPE_FLOAT) invalid_type(value);
    kiv_value old = *parent;
    set_component(parent, uint32_t(i), number_of(value));
    if (notify && gparent && type_of(gparent) == TYPE_OBJECT) {
        kiv_value changed = *parent;
        object::fire_on_change(gparent, p_item, &old, &changed);
    }
    return value;
}

static kiv_value* pick(kiv_value* p, int32_t, kiv_value* index_cell) {
    int32_t i = field_of(type_of(p), index_cell);
    if (i < 0) fire(err::SCRIPT, err::script::out_of_range, index_cell);
    return float_::push(component(p, uint32_t(i)));
}

void init() {
    using namespace actions;
    for (uint32_t type : {TYPE_POINT2D, TYPE_POINT3D}) {
        datatype::register_(type, 0, type == TYPE_POINT2D ? "point2D!" : "point3D!", {
            impl<SLOT_MAKE>(to),              // make
            impl<SLOT_RANDOM>(random),        // random
            UNSUPPORTED,                      // reflect
            impl<SLOT_TO>(to),                // to
            impl<SLOT_FORM>(form),            // form
            impl<SLOT_MOLD>(mold),            // mold
            impl<SLOT_EVAL_PATH>(eval_path),  // eval-path
            UNSUPPORTED,                      // (empty)
            impl<SLOT_COMPARE>(compare),      // compare
            impl<SLOT_ABSOLUTE>(absolute),    // absolute
            impl<SLOT_ADD>(add),              // add
            impl<SLOT_DIVIDE>(divide),        // divide
            impl<SLOT_MULTIPLY>(multiply),    // multiply
            impl<SLOT_NEGATE>(negate),        // negate
            UNSUPPORTED,                      // power
            impl<SLOT_REMAINDER>(remainder),  // remainder
            impl<SLOT_ROUND>(round),          // round
            impl<SLOT_SUBTRACT>(subtract),    // subtract
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
            UNSUPPORTED,                      // clear
            UNSUPPORTED,                      // copy
            UNSUPPORTED,                      // find
            UNSUPPORTED,                      // head
            UNSUPPORTED,                      // head?
            UNSUPPORTED,                      // index?
            UNSUPPORTED,                      // insert
            UNSUPPORTED,                      // length?
            UNSUPPORTED,                      // move
            UNSUPPORTED,                      // next
            impl<SLOT_PICK>(pick),            // pick
            UNSUPPORTED,                      // poke
            UNSUPPORTED,                      // put
            UNSUPPORTED,                      // remove
            impl<SLOT_REVERSE>(reverse),      // reverse
            UNSUPPORTED,                      // select
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
}

}  // namespace kiv::point
