// Output, text and conversion natives: print and prin, the URL percent
// codec, case changes, series coercion and the lexer's entry for programs.
#include <algorithm>
#include <climits>

#include "runtime/case_tables.h"
#include "runtime/console_out.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/url.h"
#include "runtime/errors.h"
#include "runtime/evaluator/lexer.h"
#include "runtime/evaluator/native_support.h"
#include "runtime/evaluator/natives.h"
#include "runtime/print_hooks.h"

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
    // tag!, email! and ref! come with their modules.
    if (!datatype::table[target].name) fire(err::INTERNAL, err::internal::not_done);
    stack::set_last(cell::set_type(&value, target));
}

void transcode(bool, const int32_t* refs) {
    enum { NEXT, ONE, PRESCAN, SCAN, PART, INTO, TRACE };
    kiv_value source = *arg(0);
    // Byte sources come with binary!; the callback's token argument is a
    // pair!, which comes later too.
    if (type_of(&source) != TYPE_STRING || used(refs[TRACE])) fire(err::INTERNAL, err::internal::not_done);
    int32_t length = -1;
    if (used(refs[PART])) {
        kiv_value limit = *arg(refs[PART]);
        // A byte position cannot limit a text.
        if (type_of(&limit) != TYPE_INTEGER) {
            kiv_value part = actions::refinement_word("part");
            fire(err::SCRIPT, err::script::invalid_refine_arg, &part, &limit);
        }
        length = std::max(0, integer::get_value(&limit));
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
    source.data1 = std::min(source.data1, string::ks_length_all(&source));
    int32_t type = lexer::scan_string(&out, &source, length, one, prescan, scan_only, &consumed, nullptr,
                                      destination);
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
