#pragma once
// The thin layer through which the runtime reaches the operating system.
#include <cstddef>
#include <cstdint>

namespace kiv::platform {

// Process-wide set-up, once, from runtime initialisation.
void init();

// Virtual memory: null when the system refuses.
void* alloc_frame(size_t size, bool executable);
bool free_frame(void* address, size_t size);

// The current directory as UTF-8 (a tracked heap block the caller frees) and
// its length in bytes.
char* get_current_dir(uint32_t* length);
bool set_current_dir(const char* path);

// Sleeps for the seconds, at least one millisecond.
void wait(double seconds);
uint32_t wait_milliseconds(double seconds);

// A null value removes the variable.
bool set_env(const char* name, const char* value);
// The variable's value, or null when it is not set.
const char* get_env(const char* name);

// UTC time of day in seconds; with `precise`, with its fraction.
double get_utc_time(bool precise);

// Today as year << 17 | month << 12 | day << 7 | zone, the zone being 0 for
// UTC or the local zone (see pack_zone).
uint32_t get_local_time(bool utc);

// A zone of `minutes` east of UTC in seven bits: the hours' magnitude in bits
// 2-5 with the sign in bit 6, and the quarter hours in bits 0-1.
uint32_t pack_zone(int minutes);

}  // namespace kiv::platform
