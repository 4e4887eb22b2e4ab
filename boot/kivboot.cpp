// The builder of the boot data: runs the runtime without boot data,
// evaluates the definition sources and writes their global words, then the
// library modules as blocks, into one KIVBIN image.
//
//   kivboot OUTPUT def:FILE ... mod:FILE ...
//
// Definitions are evaluated here, at build time; modules are evaluated by
// every start-up, in the order given.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/boot.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/exits.h"
#include "runtime/io/kivbin.h"
#include "runtime/runtime.h"
#include "runtime/stack.h"
#include "runtime/system.h"

using namespace kiv;

namespace {

std::string read_file(const char* path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "kivboot: cannot read %s\n", path);
        std::exit(1);
    }
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The global words the boot data defines, in order of first definition.
std::vector<kiv_value> defined;

void define(const kiv_value& w) {
    for (const kiv_value& d : defined)
        if (symbol::resolve(word::symbol_of(&d)) == symbol::resolve(word::symbol_of(&w))) return;
    defined.push_back(w);
}

void define(const char* name, const kiv_value& value) {
    kiv_value w = *word::load(name);
    _context::set(&w, &value);
    define(w);
}

// Datatype words, the literal words, and `make` (every other definition is
// made by it; the actions source gives it its full spec).
void define_builtins() {
    for (uint32_t id = 1; id < TYPE_COUNT; id++) {
        kiv_value dt;
        datatype::make_at(&dt, id);
        define(datatype::id_name(id), dt);
    }
    define("none", none_value);
    define("true", true_value);
    define("false", false_value);
    define("yes", true_value);
    define("no", false_value);
    define("on", true_value);
    define("off", false_value);
    kiv_value make{TYPE_ACTION, SLOT_MAKE, 0, 0};
    kiv_value spec = boot::load_source("[type spec]");
    stack::mark_native(nullptr);
    kiv_value action_dt;
    datatype::make_at(&action_dt, TYPE_ACTION);
    stack::push_value(&action_dt);
    kiv_value make_spec;
    block::make_at(&make_spec, 2);
    block::append_copy(&make_spec, block::cells(&spec) + spec.data1);
    kiv_value index;
    integer::make_at(&index, SLOT_MAKE);
    block::append_copy(&make_spec, &index);
    stack::push_value(&make_spec);
    int32_t refs[4] = {-1, -1, -1, -1};
    actions::dispatch_table[SLOT_MAKE](refs);
    make = *stack::arguments;
    stack::unwind_drop();
    define("make", make);
}

// The global words a source sets (with a set-word, `set` or any other
// way) are its definitions: the global values before and after it differ.
void evaluate_definitions(const char* path) {
    kiv_value code = boot::load_source(read_file(path));
    uint32_t before = _context::words_count(_context::global);
    std::vector<kiv_value> old_values(before);
    for (uint32_t i = 0; i < before; i++) old_values[i] = *context::heap_value_ref(_context::global, i);
    stack::mark_native(nullptr);
    kiv_value* held = stack::push_value(&code);
    interpreter::eval(held, false);
    stack::unwind_drop();
    for (uint32_t i = 0; i < _context::words_count(_context::global); i++) {
        kiv_value* now = context::heap_value_ref(_context::global, i);
        if (type_of(now) == TYPE_UNSET) continue;
        if (i < before && std::memcmp(now, &old_values[i], sizeof(kiv_value)) == 0) continue;
        kiv_value w = *context::value_ref(_context::global, i);
        define(kiv_value{TYPE_WORD, _context::global, w.data2, i});
    }
    if (!error::catalog_ready_q()) {
        kiv_value* system = boot::system_object();
        if (type_of(system) == TYPE_OBJECT && type_of(boot::field(boot::field(system, "catalog"), "errors")) == TYPE_OBJECT)
            boot::init_catalog();
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: kivboot OUTPUT def:FILE ... mod:FILE ...\n");
        return 2;
    }
    system::os_init(argc, argv);
    system::saved_stack_top = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    std::vector<uint8_t> image;
    try {
        runtime::init(nullptr, 0);
        // The system word exists from the start so that the catalog check
        // can read it before the system source defines it.
        word::load("system");
        define_builtins();
        std::vector<const char*> modules;
        for (int i = 2; i < argc; i++) {
            if (std::strncmp(argv[i], "def:", 4) == 0) evaluate_definitions(argv[i] + 4);
            else if (std::strncmp(argv[i], "mod:", 4) == 0) modules.push_back(argv[i] + 4);
            else {
                std::fprintf(stderr, "kivboot: %s is neither def:FILE nor mod:FILE\n", argv[i]);
                return 2;
            }
        }
        if (!error::catalog_ready_q()) {
            std::fprintf(stderr, "kivboot: no source defines system/catalog/errors\n");
            return 1;
        }
        kivbin::boot_writer writer;
        for (kiv_value& w : defined) writer.definition(&w, _context::get(&w));
        for (const char* m : modules) {
            kiv_value code = boot::load_source(read_file(m));
            writer.root(&code);
        }
        image = writer.finish();
    } catch (const kiv_exit&) {
        error::report_uncaught(stack::get_top());
    }
    std::FILE* out = std::fopen(argv[1], "wb");
    if (!out || std::fwrite(image.data(), 1, image.size(), out) != image.size() || std::fclose(out) != 0) {
        std::fprintf(stderr, "kivboot: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
