#pragma once
// Start-up after the runtime's tables exist: the boot values, the system
// object's runtime-backed fields, the library modules of the boot data.
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/value.h"

// The boot data that the build links into the executable.
extern "C" const uint8_t kiv_boot_data[];
extern "C" const uint64_t kiv_boot_data_size;

namespace kiv::boot {

// The first boot value and how many there are (the library modules that
// start-up evaluates, in order), as the boot load left them.
void record_roots(uint32_t first, uint32_t count);

// After the boot load: anchors `system/catalog/errors` as the error catalog.
void init_catalog();

// The word/value prelude and the module code, once runtime::init has loaded
// the boot data: `system/words`, the routines of the system object, then
// the routines of global words, then every library module in order; the
// collector is on from here.
void start();

// A field of an object by name (the shared none cell when absent).
kiv_value* field(const kiv_value* object, const char* name);
// The global value of `system`.
kiv_value* system_object();

// Replaces an object field that holds a spec block by a routine! of that
// spec running `code`.
using routine_code = void (*)();
void bind_routine(const kiv_value* object, const char* name, routine_code code);

// The Kiv text of a source file as values, its `Kiv [...]` header dropped.
kiv_value load_source(const std::string& text);
// Loads and evaluates Kiv text; errors travel on.
void evaluate_source(const std::string& text);

}  // namespace kiv::boot
