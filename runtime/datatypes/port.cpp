// port!: make, the text form, and the forwarding of every series and I/O
// action to the scheme's actor.
#include "runtime/datatypes/port.h"

#include <initializer_list>
#include <vector>

#include "runtime/boot.h"
#include "runtime/cycles.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/stack.h"

namespace kiv::port {

namespace {

std::vector<const actions::code*> native_actors;

kiv_value* field(const kiv_value* obj, const char* name) { return boot::field(obj, name); }

// A field the port template holds (the template always has it).
void set_field(kiv_value* port, const char* name, const kiv_value* value) {
    kiv_value w{TYPE_WORD, 0, uint32_t(symbol::make(name)), uint32_t(-1)};
    int32_t index = object::find_word(port, &w);
    if (index < 0) fire(err::ACCESS, err::access::invalid_port);
    object::get_values(port)[index] = *value;
}

[[noreturn]] void no_action() { fire(err::ACCESS, err::access::no_port_action); }

kiv_value flag(bool on) { return on ? true_value : false_value; }
kiv_value given(const kiv_value* ref) { return ref ? *ref : none_value; }
kiv_value count_or_none(bool used, int32_t n) {
    kiv_value v = none_value;
    if (used) integer::make_at(&v, n);
    return v;
}

// Calls the actor of the port (the first value) and leaves its answer in
// the action's result slot.
kiv_value* forward(const char* action, std::initializer_list<kiv_value> args) {
    kiv_value actor = *get_actor(args.begin());
    kiv_value result = call_actor(&actor, action, args.begin(), uint32_t(args.size()));
    stack::set_last(&result);
    return stack::arguments;
}

kiv_value* arg(int n) { return stack::arguments + n; }

// Actions ------------------------------------------------------------------------

// The scheme named by the spec decides the actor; opening is left to open.
kiv_value* make(kiv_value*, kiv_value* spec_in, uint32_t) {
    kiv_value spec = *spec_in;
    kiv_value* system = boot::system_object();
    kiv_value* standard = field(system, "standard");
    kiv_value* spec_obj;
    if (type_of(&spec) == TYPE_OBJECT) {
        spec_obj = object::copy_to(&spec, stack::push(), false, nullptr, false);
    } else {
        kiv_value parts = *field(standard, "url-parts");
        auto make_object = reinterpret_cast<actions::make_fn>(actions::entry(TYPE_OBJECT, SLOT_MAKE));
        spec_obj = make_object(&parts, &spec, TYPE_OBJECT);
    }
    kiv_value s = *spec_obj;
    kiv_value scheme = *field(&s, "scheme");
    if (type_of(&scheme) != TYPE_WORD) fire(err::ACCESS, err::access::no_scheme, &s);

    kiv_value tmpl = *field(standard, "port");
    kiv_value* port = object::copy_to(&tmpl, stack::push(), false, nullptr, false);
    cell::set_type(port, TYPE_PORT);
    *_context::self_of(port->data1) = *port;
    set_field(port, "spec", &s);
    set_field(port, "scheme", &scheme);

    kiv_value schemes = *field(system, "schemes");
    kiv_value found = none_value;
    if (type_of(&schemes) == TYPE_BLOCK) {
        uint32_t length = block::length_all(&schemes);
        int32_t name = symbol::resolve(word::symbol_of(&scheme));
        for (uint32_t i = schemes.data1; i + 1 < length; i += 2) {
            kiv_value* key = block::cells(&schemes) + i;
            if (type_of(key) == TYPE_WORD && symbol::resolve(word::symbol_of(key)) == name) {
                found = block::cells(&schemes)[i + 1];
                break;
            }
        }
    }
    if (type_of(&found) != TYPE_OBJECT) fire(err::ACCESS, err::access::unknown_scheme, &scheme);
    kiv_value actor = *field(&found, "actor");
    if (type_of(&actor) != TYPE_OBJECT && type_of(&actor) != TYPE_HANDLE)
        fire(err::ACCESS, err::access::invalid_actor);
    set_field(port, "actor", &actor);
    return port;
}

// The object's body under "make port! [".
int32_t mold(kiv_value* port, kiv_value* buffer, bool only, bool all, bool flat, kiv_value*, int32_t part,
             int32_t indent) {
    if (cycles::detect_q(port, buffer, &part, true)) return part;
    string::concatenate_literal(buffer, "make port! [");
    part = object::mold_fields(port, buffer, only, all, flat, part - 12, true, indent + 1, true);
    if (!flat && indent >= 1)
        for (int32_t l = 0; l < indent; l++) {
            string::concatenate_literal(buffer, "    ");
            part -= 4;
        }
    string::concatenate_literal(buffer, "]");
    return part - 1;
}

int32_t form(kiv_value* port, kiv_value* buffer, kiv_value* arg, int32_t part) {
    return mold(port, buffer, false, false, false, arg, part, 0);
}

// Forwarders, in slot order. Positional arguments follow the port; each
// refinement is a logic! and then its argument or none.

kiv_value* insert_like(const char* action, kiv_value* port, kiv_value* value, int32_t part, bool only,
                       int32_t dup) {
    return forward(action, {*port, *value, flag(part >= 0), count_or_none(part >= 0, part), flag(only),
                            flag(dup > 1), count_or_none(dup > 1, dup)});
}

kiv_value* append(kiv_value* port, kiv_value* value, int32_t part, bool only, int32_t dup, bool) {
    return insert_like("append", port, value, part, only, dup);
}
void at() { forward("at", {*arg(0), *arg(1)}); }
void back() { forward("back", {*arg(0)}); }
kiv_value* change(kiv_value* port, kiv_value* value, int32_t part, bool only, int32_t dup) {
    return insert_like("change", port, value, part, only, dup);
}
kiv_value* clear(kiv_value* port) { return forward("clear", {*port}); }
kiv_value* copy(kiv_value* port, kiv_value*, kiv_value* part, bool deep, kiv_value* types) {
    return forward("copy", {*port, flag(part), given(part), flag(deep), flag(types), given(types)});
}
kiv_value* find(kiv_value* port, kiv_value* value, kiv_value* part, bool only, bool case_, bool same,
                bool any, kiv_value* with, kiv_value* skip, bool last, bool reverse, bool tail, bool match) {
    return forward("find", {*port, *value, flag(part), given(part), flag(only), flag(case_), flag(same),
                            flag(any), flag(with), given(with), flag(skip), given(skip), flag(last),
                            flag(reverse), flag(tail), flag(match)});
}
void head() { forward("head", {*arg(0)}); }
void head_q() { forward("head?", {*arg(0)}); }
void index_q() { forward("index?", {*arg(0)}); }
kiv_value* insert(kiv_value* port, kiv_value* value, int32_t part, bool only, int32_t dup, bool) {
    return insert_like("insert", port, value, part, only, dup);
}
int32_t length_q(kiv_value* port) {
    forward("length?", {*port});
    return actions::RESULT_IN_PLACE;
}
kiv_value* move(kiv_value* port, kiv_value* target, kiv_value* part) {
    return forward("move", {*port, *target, flag(part), given(part)});
}
void next() { forward("next", {*arg(0)}); }
kiv_value* pick(kiv_value* port, int32_t, kiv_value* index) { return forward("pick", {*port, *index}); }
kiv_value* poke(kiv_value* port, int32_t, kiv_value* value, kiv_value* index) {
    return forward("poke", {*port, *index, *value});
}
kiv_value* put(kiv_value* port, kiv_value* key, kiv_value* value, bool case_) {
    return forward("put", {*port, *key, *value, flag(case_)});
}
kiv_value* remove(kiv_value* port, kiv_value* part, kiv_value* key) {
    return forward("remove", {*port, flag(part), given(part), flag(key), given(key)});
}
kiv_value* reverse(kiv_value* port, kiv_value* part, kiv_value* skip) {
    return forward("reverse", {*port, flag(part), given(part), flag(skip), given(skip)});
}
kiv_value* select(kiv_value* port, kiv_value* value, kiv_value* part, bool only, bool case_, bool same,
                  bool any, kiv_value* with, kiv_value* skip, bool last, bool reverse) {
    return forward("select", {*port, *value, flag(part), given(part), flag(only), flag(case_), flag(same),
                              flag(any), flag(with), given(with), flag(skip), given(skip), flag(last),
                              flag(reverse)});
}
kiv_value* sort(kiv_value* port, bool case_, kiv_value* skip, kiv_value* comparator, kiv_value* part, bool all,
                bool reverse, bool stable) {
    return forward("sort", {*port, flag(case_), flag(skip), given(skip), flag(comparator), given(comparator),
                            flag(part), given(part), flag(all), flag(reverse), flag(stable)});
}
void skip() { forward("skip", {*arg(0), *arg(1)}); }
kiv_value* swap(kiv_value* port, kiv_value* other) { return forward("swap", {*port, *other}); }
void tail() { forward("tail", {*arg(0)}); }
void tail_q() { forward("tail?", {*arg(0)}); }
kiv_value* take(kiv_value* port, kiv_value* part, bool deep, bool last) {
    return forward("take", {*port, flag(part), given(part), flag(deep), flag(last)});
}
kiv_value* trim(kiv_value* port, bool head, bool tail, bool auto_, bool lines, bool all, kiv_value* with) {
    return forward("trim", {*port, flag(head), flag(tail), flag(auto_), flag(lines), flag(all), flag(with),
                            given(with)});
}
kiv_value* create(kiv_value* port) { return forward("create", {*port}); }
kiv_value* close(kiv_value* port) { return forward("close", {*port}); }
kiv_value* delete_(kiv_value* port) { return forward("delete", {*port}); }
kiv_value* modify(kiv_value* port, kiv_value* field, kiv_value* value, bool case_) {
    return forward("modify", {*port, *field, *value, flag(case_)});
}
kiv_value* open(kiv_value* port, bool new_, bool read, bool write, bool seek, kiv_value* allow) {
    return forward("open", {*port, flag(new_), flag(read), flag(write), flag(seek), flag(allow), given(allow)});
}
kiv_value* query(kiv_value* port) { return forward("query", {*port}); }

// read and write are open, copy or insert, and close, each seen by the
// actor; the answer is copy's.
kiv_value* read(kiv_value* port_in, kiv_value* part, kiv_value* seek, bool, bool, bool, kiv_value*) {
    kiv_value port = *port_in, length = given(part);
    forward("open", {port, false_value, false_value, false_value, flag(seek), false_value, none_value});
    kiv_value data = *forward("copy", {port, flag(part), length, false_value, false_value, none_value});
    forward("close", {port});
    stack::set_last(&data);
    return stack::arguments;
}
kiv_value* rename(kiv_value* port, kiv_value* to) { return forward("rename", {*port, *to}); }
kiv_value* update(kiv_value* port) { return forward("update", {*port}); }
kiv_value* write(kiv_value* port_in, kiv_value* data_in, bool, bool, bool, bool, kiv_value* part, kiv_value* seek,
                 kiv_value*, kiv_value*) {
    kiv_value port = *port_in, data = *data_in;
    bool counted = part && type_of(part) == TYPE_INTEGER;
    kiv_value length = counted ? *part : none_value;
    forward("open", {port, false_value, false_value, true_value, flag(seek), false_value, none_value});
    forward("insert", {port, data, flag(counted), length, false_value, false_value, none_value});
    kiv_value copied = *forward("copy", {port, false_value, none_value, false_value, false_value, none_value});
    forward("close", {port});
    stack::set_last(&copied);
    return stack::arguments;
}

}  // namespace

kiv_value* get_actor(const kiv_value* port) {
    kiv_value* actor = field(port, "actor");
    if (type_of(actor) != TYPE_OBJECT) fire(err::ACCESS, err::access::invalid_port);
    return actor;
}

kiv_value call_actor(const kiv_value* actor, const char* action, const kiv_value* args, uint32_t count) {
    kiv_value fn = *field(actor, action);
    if (type_of(&fn) != TYPE_FUNCTION) no_action();
    interpreter::callback_call call{&fn, word::load(action), args, count, interpreter::CB_PORT};
    call.refinements_given = true;
    return interpreter::call_back(call);
}

int32_t register_native_actor(const actions::code* table) {
    native_actors.push_back(table);
    return int32_t(native_actors.size());
}

actions::code native_action(const kiv_value* actor, uint32_t slot) {
    int32_t id = type_of(actor) == TYPE_HANDLE ? int32_t(actor->data2) : 0;
    if (id < 1 || uint32_t(id) > native_actors.size()) no_action();
    actions::code c = native_actors[uint32_t(id) - 1][slot - SLOT_APPEND];
    if (!c) no_action();
    return c;
}

void init() {
    using namespace actions;
    datatype::register_(TYPE_PORT, TYPE_OBJECT, "port!", {
        impl<SLOT_MAKE>(make),                  // make
        UNSUPPORTED,                            // random
        INHERITED,                              // reflect
        UNSUPPORTED,                            // to
        impl<SLOT_FORM>(form),                  // form
        impl<SLOT_MOLD>(mold),                  // mold
        INHERITED,                              // eval-path
        UNSUPPORTED,                            // (empty)
        INHERITED,                              // compare
        UNSUPPORTED,                            // absolute
        UNSUPPORTED,                            // add
        UNSUPPORTED,                            // divide
        UNSUPPORTED,                            // multiply
        UNSUPPORTED,                            // negate
        UNSUPPORTED,                            // power
        UNSUPPORTED,                            // remainder
        UNSUPPORTED,                            // round
        UNSUPPORTED,                            // subtract
        UNSUPPORTED,                            // even?
        UNSUPPORTED,                            // odd?
        UNSUPPORTED,                            // and~
        UNSUPPORTED,                            // complement
        UNSUPPORTED,                            // or~
        UNSUPPORTED,                            // xor~
        impl<SLOT_APPEND>(append),              // append
        impl<SLOT_AT>(at),                      // at
        impl<SLOT_BACK>(back),                  // back
        impl<SLOT_CHANGE>(change),              // change
        impl<SLOT_CLEAR>(clear),                // clear
        impl<SLOT_COPY>(copy),                  // copy
        impl<SLOT_FIND>(find),                  // find
        impl<SLOT_HEAD>(head),                  // head
        impl<SLOT_HEAD_Q>(head_q),              // head?
        impl<SLOT_INDEX_Q>(index_q),            // index?
        impl<SLOT_INSERT>(insert),              // insert
        impl<SLOT_LENGTH_Q>(length_q),          // length?
        impl<SLOT_MOVE>(move),                  // move
        impl<SLOT_NEXT>(next),                  // next
        impl<SLOT_PICK>(pick),                  // pick
        impl<SLOT_POKE>(poke),                  // poke
        impl<SLOT_PUT>(put),                    // put
        impl<SLOT_REMOVE>(remove),              // remove
        impl<SLOT_REVERSE>(reverse),            // reverse
        impl<SLOT_SELECT>(select),              // select
        impl<SLOT_SORT>(sort),                  // sort
        impl<SLOT_SKIP>(skip),                  // skip
        impl<SLOT_SWAP>(swap),                  // swap
        impl<SLOT_TAIL>(tail),                  // tail
        impl<SLOT_TAIL_Q>(tail_q),              // tail?
        impl<SLOT_TAKE>(take),                  // take
        impl<SLOT_TRIM>(trim),                  // trim
        impl<SLOT_CREATE>(create),              // create
        impl<SLOT_CLOSE>(close),                // close
        impl<SLOT_DELETE>(delete_),             // delete
        impl<SLOT_MODIFY>(modify),              // modify
        impl<SLOT_OPEN>(open),                  // open
        UNSUPPORTED,                            // open?
        impl<SLOT_QUERY>(query),                // query
        impl<SLOT_READ>(read),                  // read
        impl<SLOT_RENAME>(rename),              // rename
        impl<SLOT_UPDATE>(update),              // update
        impl<SLOT_WRITE>(write),                // write
    });
}

}  // namespace kiv::port
