#pragma once
// file!: a text series naming a file in Kiv's portable form ("/" separators,
// absolute paths beginning with "/"). Its parent is url!, so it makes,
// converts and joins paths as a URL does, and molds as "%" and the name.
//
// On Linux the portable form already is the system's: converting to a local
// path copies the name, and only a relative path asked for in full gains the
// current directory in front.
#include <cstdint>

#include "runtime/value.h"

namespace kiv::file {

// A copy of the cell, typed file!, on the argument stack.
kiv_value* push(const kiv_value* file);

// The current directory as a string! ending with "/", in the given cell.
// A directory the system cannot name raises `access` `cannot-open`.
kiv_value* get_current_dir(kiv_value* slot);

// Appends the system path of the file (from its cursor) to `out`. With
// `full`, a relative path gets the current directory in front.
void convert_to_local(kiv_value* file, kiv_value* out, bool full);

// The system path of the file as NUL-terminated UTF-8, relative paths kept
// relative. The bytes live in a fresh series buffer, which the collector
// keeps while the pointer is held on the native stack, so two paths may be
// held at once. A name holding NUL, which the system would cut short,
// raises `script` `invalid-arg` with the file.
const char* to_os_path(kiv_value* file);

// Actions.
int32_t mold(kiv_value* file, kiv_value* buffer, bool only, bool all, bool flat, kiv_value* arg,
             int32_t part, int32_t indent);
kiv_value* delete_(kiv_value* file);
kiv_value* query(kiv_value* file);
kiv_value* read(kiv_value* file, kiv_value* part, kiv_value* seek, bool binary, bool lines,
                bool info, kiv_value* as);
kiv_value* rename(kiv_value* from, kiv_value* to);
kiv_value* write(kiv_value* file, kiv_value* data, bool binary, bool lines, bool info, bool append,
                 kiv_value* part, kiv_value* seek, kiv_value* allow, kiv_value* as);

void init();  // registers file!, after url!

}  // namespace kiv::file
