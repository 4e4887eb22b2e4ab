// Raising language errors, naming their arguments and places, and reporting
// an error that nothing caught.
#include "runtime/errors.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/exits.h"
#include "runtime/stack.h"
#include "runtime/system.h"
#include "runtime/unicode.h"

namespace kiv {

void fire(err::category category, uint32_t id, const kiv_value* arg1, const kiv_value* arg2,
          const kiv_value* arg3) {
    kiv_value* e = error::create(category, id, arg1, arg2, arg3);
    if (interpreter::tracing_q) {
        // The tracer runs as ordinary code, with no exit in flight.
        uint32_t pending = sys.pending_exit;
        sys.pending_exit = LEVEL_NONE;
        kiv_value copy = *e;
        interpreter::fire_event(interpreter::EVT_ERROR, nullptr, nullptr, nullptr, &copy);
        sys.pending_exit = pending;
    }
    stack::throw_error(e);
}

namespace error {

namespace {

bool callable_q(uint32_t t) {
    return t == TYPE_NATIVE || t == TYPE_ACTION || t == TYPE_OP || t == TYPE_FUNCTION || t == TYPE_ROUTINE;
}

bool argument_word_q(uint32_t t) {
    return t == TYPE_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD || t == TYPE_REFINEMENT;
}

// The text of a string as UTF-8.
std::string utf8_of(const kiv_value* str) {
    series_buffer* b = series::buffer(str->data2);
    uint32_t unit = unit_of(b);
    std::string out;
    for (uint8_t* p = b->offset; p < b->tail; p += unit) {
        uint8_t bytes[4];
        uint32_t n = unicode::encode_utf8_char(string::get_char(p, unit), bytes);
        out.append(reinterpret_cast<char*>(bytes), n);
    }
    return out;
}

}  // namespace

kiv_value get_call_arg(uint32_t n) {
    kiv_value called = *stack::get_call();
    const kiv_value* value = _context::get_if(&called);
    if (value && callable_q(type_of(value))) {
        kiv_value spec{TYPE_BLOCK, 0, value->data2, 0};
        uint32_t seen = 0;
        for (uint32_t i = 0; i < block::length_all(&spec); i++) {
            kiv_value cell = block::cells(&spec)[i];
            if (argument_word_q(type_of(&cell)) && seen++ == n) return cell;
        }
    }
    kiv_value anon;
    word::make_at(symbol::make("<anon>"), &anon);
    return anon;
}

void capture_stack(const kiv_value* value) {
    if (type_of(value) != TYPE_ERROR) return;
    kiv_value e = *value;
    kiv_value frames = *field(&e, FIELD_STACK);
    if (type_of(&frames) != TYPE_INTEGER) return;
    // The level is system/state/stack-trace once the system object exists.
    kiv_value* calls = block::push_only(20);
    stack::collect_frame_words(1, calls, uint32_t(integer::get_value(&frames)));
    *field(&e, FIELD_STACK) = *calls;
    stack::pop(1);
    // `files` takes a copy of system/state/source-files once that exists.
}

void report_uncaught(const kiv_value* e) {
    // An error raised while forming the report is reported in its place,
    // once; a failure beyond that ends the process without a report.
    static int depth = 0;
    if (++depth <= 2) {
        kiv_value err = *e;
        stack::set_last(&err);
        kiv_value* text = string::make_at(stack::push(), 64);
        actions::form_typed(&err, text, nullptr, INT_MAX);
        std::string out = utf8_of(text) + "\n";
        std::fflush(stdout);
        std::fwrite(out.data(), 1, out.size(), stderr);
    }
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(-2);
}

}  // namespace error
}  // namespace kiv
