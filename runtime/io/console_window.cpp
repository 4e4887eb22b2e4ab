// The console window's printers and the text console's title.
#include "runtime/io/console_window.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

#include "runtime/boot.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/print_hooks.h"
#include "runtime/runtime.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kiv::console_window {

namespace {

// Room the terminal's printing code needs on both stacks.
constexpr uint32_t FRAME_ROOM = 60;
constexpr uint32_t CELL_ROOM = 80;

// The root block's cell of `gui-console-buffer`, where raw prints are
// decoded (0 until the printers are installed). The root block keeps what
// it refers to alive.
uint32_t buffer_slot = 0;

kiv_value* buffer_cell() { return block::cells(&runtime::root) + buffer_slot; }

// Tracing stays off while the terminal prints, however the print ends.
struct untraced {
    bool saved = interpreter::tracing_q;
    untraced() { interpreter::tracing_q = false; }
    ~untraced() { interpreter::tracing_q = saved; }
};

// `gui-console-ctx/terminal/vprint`, or none while no window console runs.
const kiv_value* vprint_function() {
    kiv_value* words = boot::field(boot::system_object(), "words");
    kiv_value* ctx = boot::field(words, "gui-console-ctx");
    if (type_of(ctx) != TYPE_OBJECT) return nullptr;
    kiv_value* terminal = boot::field(ctx, "terminal");
    if (type_of(terminal) != TYPE_OBJECT) return nullptr;
    kiv_value* vprint = boot::field(terminal, "vprint");
    return type_of(vprint) == TYPE_FUNCTION ? vprint : nullptr;
}

void kiv_print_gui(kiv_value* str, bool lf) {
    if (stack::cend - stack::ctop < ptrdiff_t(FRAME_ROOM)) stack::call_overflow();
    if (stack::end - stack::top < ptrdiff_t(CELL_ROOM)) stack::overflow();
    untraced off;
    const kiv_value* found = vprint_function();
    if (!found) return;
    kiv_value fn = *found;
    kiv_value args[2] = {*str, lf ? true_value : false_value};
    static const kiv_value* name = word::load("vprint");
    interpreter::call_back({&fn, name, args, 2, interpreter::CB_NONE});
}

void ks_print_gui(const char* text, uint32_t size, bool lf) {
    if (int32_t(size) < 0) size = uint32_t(std::strlen(text));
    const auto* bytes = reinterpret_cast<const uint8_t*>(text);
    if (type_of(buffer_cell()) == TYPE_STRING) {
        kiv_value held = *buffer_cell();
        held.data1 = 0;
        unicode::load_utf8_at(bytes, size, &held, nullptr);
        *buffer_cell() = held;
    } else {
        kiv_value* made = string::load_at(bytes, size, nullptr, string::UTF8);
        kiv_value copy = *made;
        stack::pop(1);
        *buffer_cell() = copy;
    }
    kiv_value str = *buffer_cell();
    kiv_print_gui(&str, lf);
}

void add_gui_print() {
    if (buffer_slot == 0) {
        buffer_slot = block::length_all(&runtime::root);
        block::append_copy(&runtime::root, &unset_value);
        dyn_print::add(kiv_print_gui, ks_print_gui);
    }
    unset::return_();
}

// A text console takes its title from an escape sequence on the terminal;
// output that is no terminal has no title to set.
void set_console_title() {
    kiv_value* str = stack::arguments;
    if (!isatty(STDOUT_FILENO)) {
        unset::return_();
        return;
    }
    uint32_t unit = unit_of(string::buffer_of(str));
    const uint8_t* head = string::ks_head(str);
    const uint8_t* end = head + string::ks_length_q(str) * unit;
    std::string seq = "\033]0;";
    for (const uint8_t* p = head; p < end; p += unit) {
        uint32_t cp = string::get_char(p, unit);
        if (cp < 0x20 || cp == 0x7F) continue;  // would end or break the sequence
        char out[4];
        seq.append(out, unicode::encode_utf8_char(cp, reinterpret_cast<uint8_t*>(out)));
    }
    seq += '\a';
    // A title that cannot be set is reported, and the program goes on.
    if (write(STDOUT_FILENO, seq.data(), seq.size()) != ssize_t(seq.size()))
        std::fprintf(stderr, "Setting the console title failed: %s\n", std::strerror(errno));
    unset::return_();
}

}  // namespace

void init() {
    kiv_value* words = boot::field(boot::system_object(), "words");
    kiv_value* console = boot::field(boot::system_object(), "console");
    if (type_of(boot::field(words, "_add-gui-print")) == TYPE_BLOCK)
        boot::bind_routine(words, "_add-gui-print", add_gui_print);
    if (type_of(console) == TYPE_OBJECT && type_of(boot::field(console, "init")) == TYPE_BLOCK)
        boot::bind_routine(console, "init", set_console_title);
}

}  // namespace kiv::console_window
