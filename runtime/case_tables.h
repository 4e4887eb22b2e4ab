#pragma once
// The case tables: simple one-to-one case mapping of code points for the
// whole runtime. `uppercase` and `lowercase` change case through case_fold;
// every case-insensitive comparison, search and hash maps both sides to
// upper case through case_table_lookup.
#include <cstdint>

#include "runtime/value.h"

namespace kiv::unicode {

// Builds the two direct tables of the Basic Multilingual Plane (64K entries
// each). Start-up calls it once, before anything compares text.
void init_tables();

// The upper-case (upper) or lower-case mapping of a code point; a code point
// without one comes back unchanged.
uint32_t case_table_lookup(uint32_t cp, bool upper);
// The upper-case mapping that comparisons and hashes fold to; ASCII, most
// of any text, without the tables.
inline uint32_t fold_upper(uint32_t cp) {
    return cp < 0x80 ? cp - (cp - 'a' < 26u ? 32 : 0) : case_table_lookup(cp, true);
}

// Changes the case of a char! in place, or of a string's characters from
// its cursor. `part` is the position (from stack::arguments) of the /part
// argument, -1 without it: an integer! count, or a position of the same
// series; the count is cut at the tail and a negative one changes nothing.
// Any other /part value raises `script` `invalid-refine-arg`.
kiv_value* case_fold(kiv_value* value, int32_t part, bool upper);

}  // namespace kiv::unicode
