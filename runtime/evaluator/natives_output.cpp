// Output, text and conversion natives: print and prin, the URL percent
// codec, case changes, series coercion and the lexer's entry for programs.
#include <algorithm>
#include <climits>
#include <string>

#include "runtime/case_tables.h"
#include "runtime/console_out.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/base_codecs.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/url.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/evaluator/lexer.h"
#include "runtime/evaluator/native_support.h"
#include "runtime/evaluator/natives.h"
#include "runtime/print_hooks.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kiv::natives {

bool last_lf_q = false;

// Output --------------------------------------------------------------------------

namespace {

// Cuts the print buffer back to where this print started, however the print
// ends: normally, by an exit out of its block, or by an error.
struct print_buffer_mark {
    uint32_t start = block::length_all(print_buffer());
    ~print_buffer_mark() {
        kiv_value b = *print_buffer();
        block::ks_set_tail(&b, start);
    }
};

// The body of print and prin.
void print_value(bool lf) {
    print_buffer_mark mark;
    kiv_value value = *arg(0);
    if (type_of(&value) == TYPE_BLOCK) {
        kiv_value b = *print_buffer();
        if (!reduce_block(&value, &b)) return;
        value = b;
        value.data1 = mark.start;
    }
    kiv_value text = value;
    if (type_of(&text) != TYPE_STRING) {
        string::make_at(&text, 16);
        actions::form_typed(&value, &text, nullptr, INT_MAX);
    }
    uint32_t unit = unit_of(string::buffer_of(&text));
    const uint8_t* head = string::ks_head(&text);  // clamps a cursor past the tail
    console::write(head, string::ks_length_q(&text) * unit, unit, lf);
    dyn_print::run_value_hooks(&text, lf);
    last_lf_q = lf;
    unset::return_();
}

}  // namespace

void print(bool, const int32_t*) { print_value(true); }
void prin(bool, const int32_t*) { print_value(false); }

// Text ----------------------------------------------------------------------------

namespace {

// A new string! on the stack from the argument's text through the codec.
template <class Codec>
void into_new_string(Codec codec) {
    kiv_value text = *arg(0);
    kiv_value* result = string::make_at(stack::push(), string::ks_length_q(&text));
    codec(&text, result);
    stack::set_last(result);
}

void change_case(const int32_t* refs, bool upper) {
    // The case tables count a /part in whole characters.
    if (used(refs[0]) && type_of(arg(refs[0])) == TYPE_FLOAT)
        integer::make_at(arg(refs[0]), count_of(arg(refs[0])));
    unicode::case_fold(arg(0), refs[0], upper);
}

}  // namespace

void dehex(bool, const int32_t*) { into_new_string(url::percent_decode); }

void enhex(bool, const int32_t*) {
    into_new_string([](kiv_value* text, kiv_value* result) { url::percent_encode(text, result, url::GENERAL); });
}

void uppercase(bool, const int32_t* refs) { change_case(refs, true); }
void lowercase(bool, const int32_t* refs) { change_case(refs, false); }

// Conversion ----------------------------------------------------------------------

namespace {

// The kinds of series whose cells share one layout, so that a value of one
// may be read as another.
enum series_class { NO_CLASS, BLOCK_CLASS, STRING_CLASS };

series_class class_of(uint32_t type) {
    switch (type) {
        case TYPE_BLOCK: case TYPE_PAREN:
        case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH: case TYPE_GET_PATH:
            return BLOCK_CLASS;
        case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF:
            return STRING_CLASS;
        default:
            return NO_CLASS;
    }
}

}  // namespace

void as(bool, const int32_t*) {
    const kiv_value* type = arg(0);
    uint32_t target = type_of(type) == TYPE_DATATYPE ? type->data1 : type_of(type);
    kiv_value value = *arg(1);
    series_class c = class_of(target);
    if (c == NO_CLASS || c != class_of(type_of(&value))) {
        kiv_value from, to;
        datatype::make_at(&from, type_of(&value));
        datatype::make_at(&to, target);
        fire(err::SCRIPT, err::script::not_same_class, &from, &to);
    }
    stack::set_last(cell::set_type(&value, target));
}

// Base-coded text ----------------------------------------------------------------

namespace {

// The base a /base refinement names (64 without it); any other than 64, 58,
// 16 and 2 raises `invalid-arg`.
int32_t base_of(const int32_t* refs) {
    if (!used(refs[0])) return 64;
    kiv_value* base = arg(refs[0]);
    int32_t b = integer::get_value(base);
    if (b != 64 && b != 58 && b != 16 && b != 2) fire(err::SCRIPT, err::script::invalid_arg, base);
    return b;
}

}  // namespace

void debase(bool, const int32_t* refs) {
    kiv_value text = *arg(0);
    int32_t base = base_of(refs);
    uint32_t unit = unit_of(string::buffer_of(&text));
    uint32_t count = string::ks_length_q(&text);
    const uint8_t* head = string::ks_head(&text);
    node_id bytes = base == 64   ? base_codecs::decode_64(head, count, unit)
                    : base == 58 ? base_codecs::decode_58(head, count, unit)
                    : base == 16 ? base_codecs::decode_16(head, count, unit)
                                 : base_codecs::decode_2(head, count, unit);
    if (!bytes) {
        none::return_();
        return;
    }
    kiv_value result{TYPE_BINARY, 0, bytes, 0};
    stack::set_last(&result);
}

void enbase(bool, const int32_t* refs) {
    kiv_value value = *arg(0);
    int32_t base = base_of(refs);
    std::string bytes;
    if (type_of(&value) == TYPE_BINARY) {
        bytes.assign(reinterpret_cast<const char*>(series::unit_at(&value, value.data1)),
                     series::ks_length_all(&value) - std::min(value.data1, series::ks_length_all(&value)));
    } else {
        int32_t count = -1;
        const char* utf8 = unicode::to_utf8(&value, &count);
        bytes.assign(utf8, size_t(count));
    }
    auto in = reinterpret_cast<const uint8_t*>(bytes.data());
    uint32_t n = uint32_t(bytes.size());
    std::string out(base == 2 ? 8 * size_t(n) : base == 16 ? 2 * size_t(n) : base == 58 ? 2 * size_t(n) + 1
                                                                                      : 4 * ((size_t(n) + 2) / 3),
                    '\0');
    char* end = base == 64   ? base_codecs::encode_64(out.data(), in, n)
                : base == 58 ? base_codecs::encode_58(out.data(), in, n)
                : base == 16 ? base_codecs::encode_16(out.data(), in, n)
                             : base_codecs::encode_2(out.data(), in, n);
    string::load_at(reinterpret_cast<const uint8_t*>(out.data()), uint32_t(end - out.data()), stack::arguments,
                    string::UTF8);
}

// Pairs -------------------------------------------------------------------------

namespace {

// A coordinate: an integer, or a float truncated toward zero; a float out of
// the 32-bit range or NaN raises `type-limit`.
int32_t coordinate(const kiv_value* v) {
    if (type_of(v) == TYPE_INTEGER) return integer::get_value(v);
    double d = float_::get(v);
    if (!(d > -2147483649.0 && d < 2147483648.0)) {
        kiv_value dt;
        datatype::make_at(&dt, TYPE_PAIR);
        fire(err::SCRIPT, err::script::type_limit, &dt);
    }
    return int32_t(d);
}

}  // namespace

void as_pair(bool, const int32_t*) {
    int32_t x = coordinate(arg(0)), y = coordinate(arg(1));
    pair::make_at(stack::arguments, x, y);
}

void as_money(bool, const int32_t*) { money::as_money(stack::arguments, arg(0), arg(1)); }

namespace {

double point_coordinate(const kiv_value* v) {
    return type_of(v) == TYPE_INTEGER ? double(integer::get_value(v)) : float_::get(v);
}

}  // namespace

void as_point2D(bool, const int32_t*) {
    point::make_at(stack::arguments, TYPE_POINT2D, point_coordinate(arg(0)), point_coordinate(arg(1)));
}

void as_point3D(bool, const int32_t*) {
    point::make_at(stack::arguments, TYPE_POINT3D, point_coordinate(arg(0)), point_coordinate(arg(1)),
                   point_coordinate(arg(2)));
}

namespace {

// A Kiv function as the lexer's callback: each event it asks for calls it
// with the event word, the input at the scan's position, the token's type,
// its line and the token (the loaded value for a load event, else its extent
// as a pair of 1-based positions); where the function leaves its `input` is
// where the scan goes on.
struct kiv_callback {
    kiv_value fn;
    kiv_value source;
};

const char* const EVENT_NAMES[] = {"prescan", "scan", "load", "open", "close", "error"};

kiv_value event_word(uint32_t bit) {
    uint32_t k = 0;
    while (bit > 1) {
        bit >>= 1;
        k++;
    }
    return *word::load(EVENT_NAMES[k]);
}

bool call_kiv_callback(void* context, lexer::event_info& e) {
    auto* c = static_cast<kiv_callback*>(context);
    kiv_value input = c->source;
    input.data1 += e.input;
    kiv_value line, token;
    integer::make_at(&line, e.line);
    if (e.event == lexer::EV_LOAD && e.value) token = *e.value;
    else pair::make_at(&token, int32_t(e.start + 1), int32_t(e.end + 1));
    const kiv_value args[5] = {event_word(e.event), input, lexer::type_value(e.type), line, token};
    kiv_value moved = input;
    kiv_value name = *word::load("<lexer-callback>");
    kiv_value answer = interpreter::call_back({&c->fn, &name, args, 5, interpreter::CB_LEXER, 1, &moved});
    if (interpreter::exit_pending_q()) return false;
    if (type_of(&moved) == type_of(&c->source) && moved.data2 == c->source.data2 && moved.data1 >= c->source.data1)
        e.input = moved.data1 - c->source.data1;
    return logic::truthy(&answer);
}

}  // namespace

void transcode(bool, const int32_t* refs) {
    enum { NEXT, ONE, PRESCAN, SCAN, PART, INTO, TRACE };
    kiv_value source = *arg(0);
    bool text = type_of(&source) == TYPE_STRING;
    int32_t length = -1;
    if (used(refs[PART])) {
        kiv_value limit = *arg(refs[PART]);
        // A byte position limits bytes only, and only of its own series.
        if (type_of(&limit) == TYPE_INTEGER) {
            length = std::max(0, integer::get_value(&limit));
        } else if (!text && type_of(&limit) == TYPE_BINARY && limit.data2 == source.data2) {
            length = std::max(0, int32_t(limit.data1) - int32_t(source.data1));
        } else {
            kiv_value part = actions::refinement_word("part");
            fire(err::SCRIPT, err::script::invalid_refine_arg, &part, &limit);
        }
    }
    bool next = used(refs[NEXT]);
    bool scan_only = used(refs[SCAN]);
    bool prescan = used(refs[PRESCAN]);
    bool one = next || used(refs[ONE]) || scan_only;
    kiv_value into = used(refs[INTO]) ? *arg(refs[INTO]) : none_value;
    kiv_value* destination = used(refs[INTO]) ? &into : nullptr;
    // A one-value scan that finds nothing leaves the destination as it is.
    kiv_value out = into;
    int32_t consumed = 0;
    uint32_t units = series::ks_length_all(&source);
    source.data1 = std::min(source.data1, units);
    kiv_callback adapter{none_value, source};
    lexer::callback cb{call_kiv_callback, &adapter, 0, none_value};
    lexer::callback* trace = nullptr;
    if (used(refs[TRACE])) {
        adapter.fn = *arg(refs[TRACE]);
        cb.function = adapter.fn;
        cb.mask = lexer::event_mask(function::extra_cell_of(&adapter.fn, function::EXTRA_BODY));
        trace = &cb;
    }
    int32_t type;
    if (text) {
        type = lexer::scan_string(&out, &source, length, one, prescan, scan_only, &consumed, trace, destination);
    } else {
        uint32_t size = units - source.data1;
        if (length >= 0 && uint32_t(length) < size) size = uint32_t(length);
        type = lexer::scan(&out, series::unit_at(&source, source.data1), size, one, prescan, scan_only, &consumed,
                           trace, &source, destination);
    }
    if (prescan || scan_only) {
        kiv_value t = lexer::type_value(type);
        stack::set_last(&t);
        return;
    }
    if (!next) {
        stack::set_last(&out);
        return;
    }
    kiv_value rest = source;
    rest.data1 += uint32_t(consumed);
    kiv_value result = *block::push_only(2);
    *block::alloc_tail(&result) = out;
    *block::alloc_tail(&result) = rest;
    stack::set_last(&result);
}

}  // namespace kiv::natives
