#include "view/backend.h"

#include <array>
#include <string>
#include <utility>
#include <vector>

#include "runtime/boot.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/modules.h"
#include "runtime/stack.h"

namespace kiv::backend {

namespace {

// The module and its entry, which calls `provide`.
constexpr const char* MODULE = "kivgtk";
constexpr const char* ENTRY = "kiv_backend_module_gtk";

// The backend's global words (the others live in `system/view/platform`).
constexpr const char* GLOBAL_ROUTINES[] = {"send-event-os", "read-clipboard", "write-clipboard",
                                           "get-caret-blink-time"};

struct stand_in {
    std::string name;
    bool global;
    int32_t entry;  // its routine entry index
};
std::vector<stand_in> stand_ins;
enum { NOT_TRIED, LOADED, MISSING } state = NOT_TRIED;

kiv_value* platform_object() {
    kiv_value* view = boot::field(boot::system_object(), "view");
    if (type_of(view) != TYPE_OBJECT) return nullptr;
    kiv_value* platform = boot::field(view, "platform");
    return type_of(platform) == TYPE_OBJECT ? platform : nullptr;
}

bool word_named(const kiv_value* v, uint32_t type, const char* name) {
    return type_of(v) == type && symbol::resolve(word::symbol_of(v)) == symbol::resolve(symbol::make(name));
}

// A function whose body is only `cause-error 'script 'no-display []`.
bool placeholder_q(const kiv_value* v) {
    if (type_of(v) != TYPE_FUNCTION) return false;
    const kiv_value* body = function::extra_cell_of(v, function::EXTRA_BODY);
    if (type_of(body) != TYPE_BLOCK || block::ks_length_q(body) != 4) return false;
    const kiv_value* c = block::cells(body) + body->data1;
    return word_named(c, TYPE_WORD, "cause-error") && word_named(c + 1, TYPE_LIT_WORD, "script") &&
           word_named(c + 2, TYPE_LIT_WORD, "no-display") && type_of(c + 3) == TYPE_BLOCK &&
           block::ks_length_q(c + 3) == 0;
}

// Where a name's value lives: a platform field or a global word.
kiv_value* slot_of(const std::string& name, bool global) {
    kiv_value w = *word::load(name.c_str());
    if (global) return _context::get(&w);
    kiv_value* platform = platform_object();
    if (!platform || object::find_word(platform, &w) < 0) return nullptr;
    return object::get_field(platform, &w);
}

int32_t entry_of(const kiv_value* routine) {
    const kiv_value* code = function::extra_cell_of(routine, function::EXTRA_CODE);
    return type_of(code) == TYPE_INTEGER ? integer::get_value(code) : 0;
}

bool stand_in_q(const kiv_value* v) {
    if (type_of(v) != TYPE_ROUTINE) return false;
    int32_t e = entry_of(v);
    for (const stand_in& s : stand_ins)
        if (s.entry == e) return true;
    return false;
}

void put(const std::string& name, bool global, const kiv_value* value) {
    kiv_value w = *word::load(name.c_str());
    if (global) {
        _context::set(word::load(name.c_str()), value);
    } else if (kiv_value* platform = platform_object()) {
        *object::get_field(platform, &w) = *value;
    }
}

// A routine made from a spec block, or from spec source when `source`
// is given (held on the stack while it is made).
kiv_value make_routine(const kiv_value* spec, const char* source, routine::entry code) {
    kiv_value* held = stack::push();
    *held = source ? boot::load_source(source) : *spec;
    kiv_value r = *routine::push(held, nullptr, routine::register_entry(code), 0, false);
    stack::pop(2);
    return r;
}

void call_stand_in(size_t index) {
    const stand_in& s = stand_ins[index];
    kiv_value name = *word::load(s.name.c_str());
    if (!load()) fire(err::SCRIPT, err::script::no_display);
    kiv_value* slot = slot_of(s.name, s.global);
    if (!slot || type_of(slot) != TYPE_ROUTINE || stand_in_q(slot)) fire(err::SCRIPT, err::script::no_display);
    kiv_value real = *slot;
    interpreter::hand_on_routine(&real, &name);
}

template <size_t I>
void stand_in_entry() {
    call_stand_in(I);
}

template <size_t... I>
constexpr auto make_entries(std::index_sequence<I...>) {
    return std::array<routine::entry, sizeof...(I)>{stand_in_entry<I>...};
}
constexpr auto STAND_IN_ENTRIES = make_entries(std::make_index_sequence<96>());

void add_stand_in(const std::string& name, bool global, const kiv_value* placeholder) {
    if (stand_ins.size() >= STAND_IN_ENTRIES.size()) return;  // the placeholder stays
    kiv_value spec{TYPE_BLOCK, 0, placeholder->data2, 0};
    routine::entry code = STAND_IN_ENTRIES[stand_ins.size()];
    kiv_value r = make_routine(&spec, nullptr, code);
    stand_ins.push_back({name, global, entry_of(&r)});
    put(name, global, &r);
}

}  // namespace

void install() {
    stand_ins.clear();
    if (kiv_value* platform = platform_object()) {
        kiv_value p = *platform;
        uint32_t n = object::words_count(&p);
        for (uint32_t i = 0; i < n; i++) {
            kiv_value* v = object::get_values(&p) + i;
            if (!placeholder_q(v)) continue;
            kiv_value words{TYPE_BLOCK, 0, _context::words_block(p.data1), 0};
            kiv_value w = block::ks_head(&words)[i];
            add_stand_in(symbol::name_of(word::symbol_of(&w)), false, v);
        }
    }
    for (const char* name : GLOBAL_ROUTINES) {
        kiv_value* global = _context::get(word::load(name));
        if (placeholder_q(global)) add_stand_in(name, true, global);
    }
}

bool load() {
    if (state == NOT_TRIED) {
        state = MISSING;
        if (void* entry = modules::find(MODULE, ENTRY)) {
            reinterpret_cast<void (*)()>(entry)();
            state = LOADED;
        }
    }
    return state == LOADED;
}

void provide(const routine_def* defs, size_t count, bool global) {
    for (size_t i = 0; i < count; i++) {
        kiv_value* slot = slot_of(defs[i].name, global);
        if (!slot || !stand_in_q(slot)) continue;
        kiv_value r = make_routine(nullptr, defs[i].spec, defs[i].code);
        put(defs[i].name, global, &r);
    }
}

}  // namespace kiv::backend
