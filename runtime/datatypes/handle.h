#pragma once
// handle!: an operating-system handle or a native record's index carried in
// a value, for Kiv code to pass around without reading it. Cell: {header,
// class code, value, -1}; the last word is not an external slot, so the
// collector keeps nothing alive for it.
#include <cstdint>

#include "runtime/value.h"

namespace kiv::handle {

// Class codes, in the order of their names.
enum handle_class : uint32_t { NULL_CLASS = 0, FD, MONITOR, WINDOW, FONT, RICH_TEXT, CLASS_COUNT };
const char* class_name(uint32_t code);  // null past the last

inline kiv_value* make_at(kiv_value* cell, int32_t value, uint32_t cls) {
    *cell = kiv_value{TYPE_HANDLE, cls, uint32_t(value), uint32_t(-1)};
    return cell;
}
inline int32_t get_value(const kiv_value* v) { return int32_t(v->data2); }
inline uint32_t class_of(const kiv_value* v) { return v->data1; }
kiv_value* make_in(kiv_value* block, int32_t value, uint32_t cls);
kiv_value* push(int32_t value, uint32_t cls);
kiv_value* push_null();
// Writes the handle into the result slot of the current call.
kiv_value* box(int32_t value, uint32_t cls);

void init();

}  // namespace kiv::handle
