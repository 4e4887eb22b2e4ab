// Start-up after the tables: the boot values, the runtime-backed fields of
// the system object and the library modules.
#include "runtime/boot.h"

#include <cstring>

#include "library/json_reader.h"
#include "library/routines.h"
#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/evaluator/lexer.h"
#include "runtime/io/console_window.h"
#include "runtime/io/kivbin.h"
#include "runtime/io/system_words.h"
#include "runtime/io/terminal.h"
#include "runtime/runtime.h"
#include "runtime/stack.h"
#include "view/backend.h"

namespace kiv::boot {

namespace {
uint32_t first_root = 0;
uint32_t root_count = 0;
}  // namespace

void record_roots(uint32_t first, uint32_t count) {
    first_root = first;
    root_count = count;
}

kiv_value* field(const kiv_value* object, const char* name) {
    kiv_value w{TYPE_WORD, 0, uint32_t(symbol::make(name)), uint32_t(-1)};
    return object::get_field(object, &w);
}

kiv_value* system_object() {
    kiv_value w{TYPE_WORD, _context::global, uint32_t(symbol::make("system")), 0};
    w.data3 = uint32_t(_context::find_word(_context::global, word::symbol_of(&w), true));
    return _context::get(&w);
}

void init_catalog() {
    kiv_value catalog = *field(field(system_object(), "catalog"), "errors");
    error::init_catalog(&catalog);
}

void bind_routine(const kiv_value* object, const char* name, routine_code code) {
    kiv_value spec = *field(object, name);
    kiv_value routine = *routine::push(&spec, nullptr, routine::register_entry(code), 0, false);
    stack::pop(1);
    *field(object, name) = routine;
}

kiv_value load_source(const std::string& text) {
    kiv_value code;
    lexer::scan(&code, reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), false, false, false,
                nullptr, nullptr, nullptr, nullptr);
    kiv_value* cells = block::cells(&code) + code.data1;
    if (block::ks_length_q(&code) >= 2 && type_of(cells) == TYPE_WORD && type_of(cells + 1) == TYPE_BLOCK &&
        std::strcmp(symbol::name_of(word::symbol_of(cells)), "Kiv") == 0)
        code.data1 += 2;
    return code;
}

void evaluate_source(const std::string& text) {
    kiv_value code = load_source(text);
    stack::mark_native(nullptr);
    // Held in the frame while it runs.
    kiv_value* held = stack::push_value(&code);
    interpreter::eval(held, false);
    stack::unwind_drop();
}

void start() {
    system_words::init();
    routines::init();
    gc_state::init();
    runtime::boot_loading = false;
    // What the modules make mostly lives on: a collection while they run
    // would mark it all to find little garbage. Stress mode still collects
    // there, so that they are tested under it.
    collector::active_q = collector::stress_q();
    for (uint32_t i = 0; i < root_count; i++) {
        kiv_value module = block::cells(&runtime::root)[first_root + i];
        stack::mark_native(nullptr);
        interpreter::eval(&module, false);
        stack::unwind_drop();
    }
    collector::active_q = true;
    memory::restart_pace();
    image::register_codecs();
    kivbin::register_codec();
    json_reader::bind();
    terminal::init();
    console_window::init();
    backend::install();
}

}  // namespace kiv::boot
