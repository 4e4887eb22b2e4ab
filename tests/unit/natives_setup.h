#pragma once
// What code run by tests and benchmarks needs from the boot data, until the
// boot data exists: datatype words, none/true/false, `make`, and the
// typesets, natives, actions and operators that the boot sources define.
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/stack.h"
#include "tests/unit/code_reader.h"

#ifndef KIV_SOURCE_DIR
#error "KIV_SOURCE_DIR names the source tree"
#endif

namespace kiv::test {

inline void define_word(const char* name, const kiv_value& value) {
    kiv_value w = *word::load(name);
    _context::set(&w, &value);
}

// Evaluates a text in a frame of its own and returns its value.
inline kiv_value evaluate_text(const std::string& text) {
    kiv_value code = read_code(text);
    stack::mark_native(nullptr);
    interpreter::eval(&code, false);
    kiv_value result = *stack::get_top();
    stack::unwind_drop();
    return result;
}

inline std::string source_file(const char* relative) {
    std::ifstream in(std::string(KIV_SOURCE_DIR) + "/" + relative);
    if (!in) throw std::runtime_error(std::string("cannot read ") + relative);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Evaluates a boot source file, after its header.
inline void evaluate_boot_file(const char* relative) {
    kiv_value code = read_code(source_file(relative));
    code.data1 = 2;
    stack::mark_native(nullptr);
    interpreter::eval(&code, false);
    stack::unwind_drop();
}

// The boot sources, in the order start-up evaluates them: the typesets that
// the specs name first, the operators that wrap natives and actions last.
constexpr const char* BOOT_FILES[] = {"boot/typesets.kiv", "boot/natives.kiv", "boot/actions.kiv",
                                      "boot/operators.kiv"};

// Defines everything once per process.
inline void define_boot_words() {
    static bool defined = false;
    if (defined) return;
    defined = true;
    // Every datatype word, also of datatypes whose modules are still to come,
    // as native specs name them.
    for (uint32_t id = 1; id < TYPE_COUNT; id++) {
        kiv_value dt;
        datatype::make_at(&dt, id);
        define_word(datatype::id_name(id), dt);
    }
    define_word("none", none_value);
    define_word("true", true_value);
    define_word("false", false_value);
    // make itself comes first: everything else is made by it.
    kiv_value spec = read_code("[type spec] 1");
    kiv_value action_dt;
    datatype::make_at(&action_dt, TYPE_ACTION);
    stack::mark_native(nullptr);
    stack::push_value(&action_dt);
    stack::push_value(&spec);
    int32_t refs[4] = {-1, -1, -1, -1};
    actions::dispatch_table[SLOT_MAKE](refs);
    kiv_value make = *stack::arguments;
    stack::unwind_drop();
    define_word("make", make);
    for (const char* file : BOOT_FILES) evaluate_boot_file(file);
}

}  // namespace kiv::test
