// email!: string!'s row with its own mold and the user and host paths.
#include "runtime/datatypes/email.h"

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/stack.h"

namespace kiv::email {

kiv_value* push(const kiv_value* email) { return stack::push_value(email); }

namespace {

int32_t mold(kiv_value* value, kiv_value* buffer, bool, bool, bool, kiv_value*, int32_t part, int32_t) {
    return string::form(value, buffer, nullptr, part);
}

// The part a word names, as a start from the cursor and a length: the user
// is the text before the first "@" (all of it when there is none), the host
// the text after it (empty, at the tail, when there is none).
bool part_of(kiv_value* email, const kiv_value* w, uint32_t* start, uint32_t* length) {
    int32_t name = symbol::resolve(word::symbol_of(w));
    bool user = name == symbol::resolve(symbol::make("user"));
    if (!user && name != symbol::resolve(symbol::make("host"))) return false;
    uint32_t total = string::ks_length_q(email);
    int32_t at = string::ks_find_char(email, '@');
    uint32_t split = at < 0 ? total : uint32_t(at);
    *start = user ? 0 : (at < 0 ? total : split + 1);
    *length = user ? split : total - *start;
    return true;
}

kiv_value* eval_path(kiv_value* parent, kiv_value* element, kiv_value* value, kiv_value* path,
                     kiv_value* gparent, kiv_value* p_item, int32_t index, bool case_, bool get, bool tail,
                     bool notify) {
    if (type_of(element) != TYPE_WORD)
        return string::eval_path(parent, element, value, path, gparent, p_item, index, case_, get, tail, notify);
    kiv_value email = *parent;
    uint32_t start, length;
    if (!part_of(&email, element, &start, &length)) {
        kiv_value p = path ? *path : none_value;
        fire(err::SCRIPT, err::script::invalid_path, &p, element);
    }
    email.data1 += start;
    if (!value) {
        kiv_value* result = string::make_at(stack::push(), length);
        string::concatenate(result, &email, int32_t(length), 0, true, string::APPEND);
        return result;
    }
    string::change(&email, value, int32_t(length), false, 1);
    return value;
}

}  // namespace

void init() {
    using namespace actions;
    datatype::register_(TYPE_EMAIL, TYPE_STRING, "email!", {
        INHERITED,                        // make
        UNSUPPORTED,                      // random
        INHERITED,                        // reflect
        INHERITED,                        // to
        INHERITED,                        // form
        impl<SLOT_MOLD>(mold),            // mold
        impl<SLOT_EVAL_PATH>(eval_path),  // eval-path
        UNSUPPORTED,                      // (empty)
        INHERITED,                        // compare
        INHERITED,                        // absolute
        INHERITED,                        // add
        INHERITED,                        // divide
        INHERITED,                        // multiply
        INHERITED,                        // negate
        INHERITED,                        // power
        INHERITED,                        // remainder
        INHERITED,                        // round
        INHERITED,                        // subtract
        INHERITED,                        // even?
        INHERITED,                        // odd?
        INHERITED,                        // and~
        INHERITED,                        // complement
        INHERITED,                        // or~
        INHERITED,                        // xor~
        INHERITED,                        // append
        INHERITED,                        // at
        INHERITED,                        // back
        INHERITED,                        // change
        INHERITED,                        // clear
        INHERITED,                        // copy
        INHERITED,                        // find
        INHERITED,                        // head
        INHERITED,                        // head?
        INHERITED,                        // index?
        INHERITED,                        // insert
        INHERITED,                        // length?
        INHERITED,                        // move
        INHERITED,                        // next
        INHERITED,                        // pick
        INHERITED,                        // poke
        INHERITED,                        // put
        INHERITED,                        // remove
        INHERITED,                        // reverse
        INHERITED,                        // select
        UNSUPPORTED,                      // sort
        INHERITED,                        // skip
        INHERITED,                        // swap
        INHERITED,                        // tail
        INHERITED,                        // tail?
        INHERITED,                        // take
        UNSUPPORTED,                      // trim
        INHERITED,                        // create
        INHERITED,                        // close
        INHERITED,                        // delete
        INHERITED,                        // modify
        INHERITED,                        // open
        INHERITED,                        // open?
        INHERITED,                        // query
        INHERITED,                        // read
        INHERITED,                        // rename
        INHERITED,                        // update
        INHERITED,                        // write
    });
}

}  // namespace kiv::email
