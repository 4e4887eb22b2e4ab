// The datatype registry, the action table and the natives table.
#include <cstdio>
#include <cstring>
#include <cstdlib>

#include "runtime/datatypes/actions.h"
#include "runtime/boot.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/port.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/system.h"

namespace kiv {

namespace actions {
code* table = nullptr;
}

namespace natives {
native_fn* table = nullptr;
uint32_t count = 0;

void register_(std::initializer_list<native_fn> list) {
    for (native_fn f : list) table[count++] = f;
}
}  // namespace natives

namespace datatype {

entry* table = nullptr;
uint32_t top_id = 0;

void init_tables() {
    table = static_cast<entry*>(memory::allocate_zeroed(TYPE_TABLE_SIZE * sizeof(entry)));
    actions::table = static_cast<actions::code*>(
        memory::allocate_zeroed(TYPE_TABLE_SIZE * ACTION_ROW * sizeof(actions::code)));
    natives::table = static_cast<natives::native_fn*>(
        memory::allocate_zeroed(natives::TABLE_SIZE * sizeof(natives::native_fn)));
    natives::count = 0;
}

// A row of the wrong length is a build fault that would shift every slot.
[[noreturn]] static void bad_row(uint32_t id, uint32_t count) {
    std::printf("*** Datatype Error: invalid actions count for type: %u\n", id);
    std::printf("*** Found: %u\n", count);
    std::printf("*** Expected: %u\n", ACTION_SLOTS);
    std::fflush(stdout);
    std::exit(0);
}

void register_row(uint32_t id, uint32_t parent, const char* name, const actions::code* row,
                  uint32_t count) {
    if (id > top_id) top_id = id;
    entry& e = table[id];
    e.name = name;
    e.name_length = uint32_t(std::strlen(name)) - 1;
    if (count != ACTION_SLOTS) bad_row(id, count);
    if (_context::global) e.word = *word::load(name);
    // Inheritance is resolved here, once: a parent's row is final before
    // its children register.
    for (uint32_t slot = 1; slot <= ACTION_SLOTS; slot++) {
        actions::code c = row[slot - 1];
        if (parent && c == actions::INHERITED) c = actions::entry(parent, slot);
        actions::table[id * ACTION_ROW + slot - 1] = c;
    }
}

void register_(uint32_t id, uint32_t parent, const char* name,
               std::initializer_list<actions::code> row) {
    register_row(id, parent, name, row.begin(), uint32_t(row.size()));
}

// The name of every datatype id, registered or not yet, so that text can
// name a datatype whose module has not registered it.
constexpr const char* ID_NAMES[TYPE_COUNT] = {
    nullptr, "datatype!", "unset!", "none!", "logic!", "block!", "paren!", "string!", "file!",
    "url!", "char!", "integer!", "float!", "symbol!", "context!", "word!", "set-word!",
    "lit-word!", "get-word!", "refinement!", "issue!", "native!", "action!", "op!", "function!",
    "path!", "lit-path!", "set-path!", "get-path!", "routine!", "bitset!", "triple!", "object!",
    "typeset!", "error!", "vector!", "hash!", "pair!", "percent!", "tuple!", "map!", "binary!",
    "series!", "time!", "tag!", "email!", "handle!", "date!", "port!", "money!", "ref!",
    "point2D!", "point3D!", "image!", "event!",
};

const char* id_name(uint32_t id) { return id < TYPE_COUNT ? ID_NAMES[id] : nullptr; }

void load_words() {
    for (uint32_t id = 1; id <= top_id; id++)
        if (table[id].name) table[id].word = *word::load(table[id].name);
}

kiv_value* make_at(kiv_value* cell, uint32_t type) {
    *cell = kiv_value{TYPE_DATATYPE, type, 0, 0};
    return cell;
}

kiv_value* push(uint32_t type) { return make_at(stack::push(), type); }

}  // namespace datatype

namespace actions {

void fire_expect_arg(uint32_t type, uint32_t position) {
    kiv_value dt;
    datatype::make_at(&dt, type);
    kiv_value called = *stack::get_call();
    kiv_value argument = error::get_call_arg(position);
    fire(err::SCRIPT, err::script::expect_arg, &called, &dt, &argument);
}

void fire_with_call(uint32_t id, uint32_t type) {
    kiv_value dt;
    datatype::make_at(&dt, type);
    kiv_value called = *stack::get_call();
    fire(err::SCRIPT, id, &called, &dt);
}

void fire_not_related(const char* action, uint32_t type) {
    kiv_value w{0, 0, 0, 0};
    word::make_at(symbol::make(action), &w);
    kiv_value dt;
    datatype::make_at(&dt, type);
    fire(err::SCRIPT, err::script::not_related, &w, &dt);
}

kiv_value refinement_word(const char* name) {
    return kiv_value{TYPE_REFINEMENT, 0, uint32_t(symbol::make(name)), uint32_t(-1)};
}

// get_action_ptr_from past the table: a port's I/O slots go to its actor.
code port_or_unsupported(uint32_t type, const kiv_value* value, uint32_t slot) {
    if (type == TYPE_PORT && slot >= SLOT_APPEND && value && type_of(value) == TYPE_PORT) {
        kiv_value* actor = boot::field(value, "actor");
        if (type_of(actor) == TYPE_HANDLE) return port::native_action(actor, slot);
    }
    code c = entry(type, slot);
    if (c) return c;
    fire_expect_arg(type, 0);
}

code get_action_ptr(uint32_t slot) { return get_action_ptr_of(stack::arguments, slot); }

eval_path_fn get_path_action(kiv_value* value, kiv_value* path, kiv_value* element,
                             int32_t index) {
    code c = entry(type_of(value), SLOT_EVAL_PATH);
    if (c) return reinterpret_cast<eval_path_fn>(c);
    kiv_value dt;
    datatype::make_at(&dt, type_of(value));
    if (!path) fire(err::SCRIPT, err::script::bad_path_type2, element, &dt);
    // The path up to and including the element that failed.
    uint32_t length = series::used_units(series::buffer(path->data2));
    uint32_t head = path->data1 < length ? path->data1 : length;
    uint32_t count = uint32_t(index + 1) < length - head ? uint32_t(index + 1) : length - head;
    kiv_value part = *path;
    part.data1 = 0;
    part.data2 = series::copy_part(path->data2, head, count);
    fire(err::SCRIPT, err::script::bad_path_type, path, &dt, &part);
}

}  // namespace actions
}  // namespace kiv
