// Print hooks.
#include "runtime/print_hooks.h"

#include <cstring>

#include "runtime/system.h"

namespace kiv::dyn_print {

hook_list<value_printer> value_hooks;
hook_list<raw_printer> raw_hooks;

template <typename F>
static void make_list(hook_list<F>& list) {
    list.entries = static_cast<F*>(memory::allocate(LIST_STEP * sizeof(F)));
    list.count = 0;
    list.capacity = LIST_STEP;
}

template <typename F>
static void append(hook_list<F>& list, F callback) {
    if (!callback) return;
    if (list.count == list.capacity) {
        uint32_t capacity = list.capacity + LIST_STEP;
        F* entries = static_cast<F*>(memory::allocate(capacity * sizeof(F)));
        std::memcpy(entries, list.entries, list.count * sizeof(F));
        memory::free(list.entries);
        list.entries = entries;
        list.capacity = capacity;
    }
    list.entries[list.count++] = callback;
}

void init() {
    make_list(value_hooks);
    make_list(raw_hooks);
}

void add(value_printer value, raw_printer raw) {
    append(value_hooks, value);
    append(raw_hooks, raw);
}

void remove(value_printer value, raw_printer raw) {
    remove_hook(value, value_hooks);
    remove_hook(raw, raw_hooks);
}

// A printer may add or remove printers while it runs, so the list is read
// afresh on each step.
void run_value_hooks(kiv_value* string, bool lf) {
    for (uint32_t i = 0; i < value_hooks.count; i++) value_hooks.entries[i](string, lf);
}

void run_string_hooks(const char* text, uint32_t length, bool lf) {
    for (uint32_t i = 0; i < raw_hooks.count; i++) raw_hooks.entries[i](text, length, lf);
}

}  // namespace kiv::dyn_print
