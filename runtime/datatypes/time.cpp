// time!: seconds in a double, shown as hours:minutes:seconds. The action row
// takes comparison, absolute, negate, remainder and random from float! as
// they are, and sends arithmetic and rounding through float!'s engine after
// the checks that keep a time a time.
#include "runtime/datatypes/time.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/evaluator/lexer.h"
#include "runtime/stack.h"

namespace kiv::time {

kiv_value* make_in(kiv_value* block, double seconds) { return make_at(block::alloc_tail(block), seconds); }
kiv_value* push(double seconds) { return make_at(stack::push(), seconds); }

namespace {

constexpr double HOUR = 3600.0;
constexpr double MINUTE = 60.0;
// The finest fraction of a second a time shows; anything smaller is left
// over from arithmetic on seconds and reads as 00.
constexpr double MICROSECOND = 0.000001;

// A magnitude cut into whole hours, whole minutes and the seconds left. The
// hours come from subtracting the remainder rather than from a division,
// which could round up to the next hour while the remainder still counts the
// hour's last minutes.
struct hms {
    double hours;
    double minutes;
    double seconds;
};

hms split(double magnitude) {
    double in_hour = std::fmod(magnitude, HOUR);
    double seconds = std::fmod(in_hour, MINUTE);
    return {(magnitude - in_hour) / HOUR, (in_hour - seconds) / MINUTE, seconds};
}

double joined(double sign, const hms& c) { return sign * (c.hours * HOUR + c.minutes * MINUTE + c.seconds); }

int32_t whole(double d) {
    if (!(d > -2147483649.0 && d < 2147483648.0)) fire(err::MATH, err::math::overflow);
    return int32_t(d);
}

bool word_q(const kiv_value* v) {
    uint32_t t = type_of(v);
    return t >= TYPE_WORD && t <= TYPE_GET_WORD;
}

[[noreturn]] void bad_to(const kiv_value* spec) {
    kiv_value dt;
    datatype::make_at(&dt, TYPE_TIME);
    fire(err::SCRIPT, err::script::bad_to_arg, &dt, spec);
}

}  // namespace

int32_t get_hours(double seconds) {
    double hours = split(std::fabs(seconds)).hours;
    return whole(seconds < 0 ? -hours : hours);
}

int32_t get_minutes(double seconds) { return whole(split(std::fabs(seconds)).minutes); }

kiv_value* get_field(const kiv_value* time, int32_t index, kiv_value* result) {
    double s = get(time);
    switch (index) {
        case FIELD_HOUR: return integer::make_at(result, get_hours(s));
        case FIELD_MINUTE: return integer::make_at(result, get_minutes(s));
        case FIELD_SECOND: return float_::make_at(result, std::fmod(s, MINUTE));
        default: return nullptr;
    }
}

int32_t field_index(const kiv_value* word, const kiv_value* value) {
    static const char* const names[] = {"hour", "minute", "second"};
    int32_t symbol = symbol::resolve(word::symbol_of(word));
    for (int32_t i = 0; i < 3; i++)
        if (symbol == symbol::resolve(symbol::make(names[i]))) return i + 1;
    if (value && type_of(value) == TYPE_TIME) fire(err::SCRIPT, err::script::cannot_use, word, value);
    return -1;
}

// Forming ------------------------------------------------------------------------

int32_t form_seconds(double seconds, kiv_value* buffer, int32_t part) {
    // An infinite or undefined duration has no hours to count: it shows as
    // the number it is.
    if (!std::isfinite(seconds)) {
        dtoa::formed f = float_::form_float(seconds, float_::FORM_TIME);
        string::concatenate_literal(buffer, f.text);
        return part - f.length;
    }
    hms c = split(std::fabs(seconds));
    char fraction[40] = "00";
    if (c.seconds >= MICROSECOND) {
        dtoa::formed f = float_::form_float(c.seconds, float_::FORM_TIME);
        if (std::strcmp(f.text, "60") == 0) {
            // Six digits round 59.99995 and above up to a whole minute, which
            // then carries like any other.
            c.minutes += 1;
            if (c.minutes == 60) {
                c.minutes = 0;
                c.hours += 1;
            }
        } else {
            bool pad = f.length == 1 || f.text[1] == '.';
            std::snprintf(fraction, sizeof fraction, "%s%s", pad ? "0" : "", f.text);
        }
    }
    // The hours of the largest double take 309 digits.
    char text[400];
    int n = std::snprintf(text, sizeof text, "%s%.0f:%02d:%s", seconds < 0 ? "-" : "", c.hours,
                          int(c.minutes), fraction);
    string::concatenate_literal(buffer, text);
    return part - n;
}

static int32_t form(kiv_value* value, kiv_value* buffer, kiv_value*, int32_t part) {
    return form_seconds(get(value), buffer, part);
}

static int32_t mold(kiv_value* value, kiv_value* buffer, bool, bool, bool, kiv_value*, int32_t part,
                    int32_t) {
    return form_seconds(get(value), buffer, part);
}

// Make and to --------------------------------------------------------------------

// [hours minutes seconds], each part optional from the end. Only the hours
// carry a sign, which applies to the whole time.
static double from_block(const kiv_value* spec) {
    uint32_t length = block::length_all(spec);
    uint32_t head = spec->data1 < length ? spec->data1 : length;
    uint32_t count = length - head;
    if (count > 3) bad_to(spec);
    const kiv_value* parts = block::cells(spec) + head;
    double sign = 1.0;
    hms c{0, 0, 0};
    for (uint32_t i = 0; i < count; i++) {
        const kiv_value* p = parts + i;
        uint32_t t = type_of(p);
        bool allowed = t == TYPE_INTEGER || (i == 2 && t == TYPE_FLOAT);
        if (!allowed) bad_to(spec);
        double d = t == TYPE_INTEGER ? double(integer::get_value(p)) : float_::get(p);
        if (d < 0) {
            if (i > 0) bad_to(spec);
            sign = -1.0;
            d = -d;
        }
        (i == 0 ? c.hours : i == 1 ? c.minutes : c.seconds) = d;
    }
    return joined(sign, c);
}

static kiv_value* make(kiv_value*, kiv_value* spec, uint32_t) {
    switch (type_of(spec)) {
        case TYPE_TIME:
            return spec;
        case TYPE_INTEGER:
            return push(double(integer::get_value(spec)));
        case TYPE_FLOAT: case TYPE_PERCENT:
            return push(float_::get(spec));
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH:
            return push(from_block(spec));
        case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL:
        case TYPE_REF: {
            kiv_value text = *spec, loaded;
            lexer::load_single(&text, &loaded);
            if (type_of(&loaded) != TYPE_TIME) bad_to(spec);
            return push(float_::get(&loaded));
        }
        default:
            bad_to(spec);
    }
}

// Fields -------------------------------------------------------------------------

// The seconds once a field is set. The hour and the minute are set on the
// magnitude, as they read, so that setting a field to what it holds leaves
// the time as it was; an hour with a sign of its own gives the time that
// sign. The second reads with the time's sign and is replaced as it reads.
static double with_field(double s, int32_t index, const kiv_value* value) {
    uint32_t t = type_of(value);
    bool allowed = t == TYPE_INTEGER || (index == FIELD_SECOND && t == TYPE_FLOAT);
    if (!allowed) fire(err::SCRIPT, err::script::invalid_arg, value);
    double x = t == TYPE_INTEGER ? double(integer::get_value(value)) : float_::get(value);
    double sign = s < 0 ? -1.0 : 1.0;
    hms c = split(std::fabs(s));
    switch (index) {
        case FIELD_HOUR:
            if (x != 0) sign = x < 0 ? -1.0 : 1.0;
            c.hours = std::fabs(x);
            return joined(sign, c);
        case FIELD_MINUTE:
            c.minutes = x;
            return joined(sign, c);
        default:
            return s - std::fmod(s, MINUTE) + x;
    }
}

static kiv_value* eval_path(kiv_value* parent, kiv_value* element, kiv_value* value, kiv_value* path,
                            kiv_value*, kiv_value*, int32_t, bool, bool, bool, bool) {
    int32_t index = -1;
    if (type_of(element) == TYPE_INTEGER) {
        int32_t n = integer::get_value(element);
        if (n >= FIELD_HOUR && n <= FIELD_SECOND) index = n;
    } else if (word_q(element)) {
        index = field_index(element, nullptr);
    }
    if (index < 0) {
        kiv_value p = path ? *path : none_value;
        fire(err::SCRIPT, err::script::invalid_path, &p, element);
    }
    if (!value) return get_field(parent, index, stack::push());
    cell::set_float(parent, with_field(get(parent), index, value));
    // The object or series holding the time is told of the change once
    // object! change handlers and the ownership table exist.
    return value;
}

static kiv_value* pick(kiv_value* time, int32_t index, kiv_value* index_cell) {
    if (word_q(index_cell)) index = field_index(index_cell, time);
    if (index < FIELD_HOUR || index > FIELD_SECOND) fire(err::SCRIPT, err::script::out_of_range, index_cell);
    return get_field(time, index, stack::push());
}

// Arithmetic ---------------------------------------------------------------------

static kiv_value* right() { return stack::arguments + 1; }

// A time added to a date moves the date.
static void add() {
    if (type_of(right()) == TYPE_DATE) {
        std::swap(stack::arguments[0], stack::arguments[1]);
        date::do_math(OP_ADD);
        return;
    }
    float_::do_math_op(OP_ADD);
}

static void subtract() {
    if (type_of(right()) == TYPE_DATE) actions::fire_not_related("subtract", TYPE_TIME);
    float_::do_math_op(OP_SUB);
}

static void multiply() {
    if (type_of(right()) == TYPE_TIME) actions::fire_not_related("multiply", TYPE_TIME);
    float_::do_math_op(OP_MUL);
}

// A time divided by a time is a ratio.
static void divide() {
    bool ratio = type_of(right()) == TYPE_TIME;
    float_::do_math_op(OP_DIV);
    if (ratio) cell::set_type(stack::arguments, TYPE_FLOAT);
}

// Rounding always gives a time. A whole-number scale rounds as the float of
// the same value, so that the result stays a double instead of passing
// through an integer!, whose range a time easily exceeds.
static kiv_value* round(kiv_value* value, kiv_value* scale, bool even, bool down, bool half_down,
                        bool floor, bool ceiling, bool half_ceiling) {
    kiv_value whole_scale;
    if (scale && type_of(scale) == TYPE_INTEGER) {
        float_::make_at(&whole_scale, double(integer::get_value(scale)));
        scale = &whole_scale;
    }
    float_::round(value, scale, even, down, half_down, floor, ceiling, half_ceiling);
    return cell::set_type(value, TYPE_TIME);
}

// Parity of the whole seconds of the minute. The nudge away from zero keeps
// a count computed as 2.9999999 from reading as 2. Infinite and undefined
// times are neither even nor odd.
static bool second_parity(const kiv_value* value, int32_t* bit) {
    double s = get(value);
    s += s < 0 ? -MICROSECOND : MICROSECOND;
    double r = std::trunc(std::fmod(s, MINUTE));
    if (std::isnan(r)) return false;
    *bit = int32_t(r) & 1;
    return true;
}

static bool even_q(kiv_value* value) {
    int32_t bit;
    return second_parity(value, &bit) && bit == 0;
}

static bool odd_q(kiv_value* value) {
    int32_t bit;
    return second_parity(value, &bit) && bit == 1;
}

void init() {
    using namespace actions;
    datatype::register_(TYPE_TIME, TYPE_FLOAT, "time!", {
        impl<SLOT_MAKE>(make),            // make
        INHERITED,                        // random
        UNSUPPORTED,                      // reflect
        impl<SLOT_TO>(make),              // to
        impl<SLOT_FORM>(form),            // form
        impl<SLOT_MOLD>(mold),            // mold
        impl<SLOT_EVAL_PATH>(eval_path),  // eval-path
        UNSUPPORTED,                      // (empty)
        INHERITED,                        // compare
        INHERITED,                        // absolute
        impl<SLOT_ADD>(add),              // add
        impl<SLOT_DIVIDE>(divide),        // divide
        impl<SLOT_MULTIPLY>(multiply),    // multiply
        INHERITED,                        // negate
        UNSUPPORTED,                      // power
        INHERITED,                        // remainder
        impl<SLOT_ROUND>(round),          // round
        impl<SLOT_SUBTRACT>(subtract),    // subtract
        impl<SLOT_EVEN_Q>(even_q),        // even?
        impl<SLOT_ODD_Q>(odd_q),          // odd?
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
        UNSUPPORTED,                      // reverse
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

}  // namespace kiv::time
