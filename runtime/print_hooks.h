#pragma once
// Print hooks: lets a host (the GUI console window) see all the text
// the program prints, in addition to the text console.
//
// Value printers receive the formed text of `print` and `prin`; raw printers
// receive the plain text of the low-level console writes. Each list is called
// in registration order.
#include <cstdint>

#include "runtime/value.h"

namespace kiv::dyn_print {

using value_printer = void (*)(kiv_value* string, bool lf);
using raw_printer = void (*)(const char* text, uint32_t length, bool lf);

// Lists start with room for this many printers and grow by as many.
constexpr uint32_t LIST_STEP = 5;

// A printer list in the tracked heap; it grows and never shrinks.
template <typename F>
struct hook_list {
    F* entries;
    uint32_t count;
    uint32_t capacity;
};

extern hook_list<value_printer> value_hooks;
extern hook_list<raw_printer> raw_hooks;

// Allocates both lists empty with their initial room.
void init();

// Appends each non-null printer to its list.
void add(value_printer value, raw_printer raw);

// Removes the first registration of each printer (null ones are skipped).
void remove(value_printer value, raw_printer raw);

// Removes the first entry equal to the callback, moving the later ones down;
// a null or absent callback changes nothing.
template <typename F>
void remove_hook(F callback, hook_list<F>& list) {
    if (!callback) return;
    for (uint32_t i = 0; i < list.count; i++) {
        if (list.entries[i] != callback) continue;
        for (uint32_t j = i + 1; j < list.count; j++) list.entries[j - 1] = list.entries[j];
        list.count--;
        return;
    }
}

void run_value_hooks(kiv_value* string, bool lf);
void run_string_hooks(const char* text, uint32_t length, bool lf);

}  // namespace kiv::dyn_print
