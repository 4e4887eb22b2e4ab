#pragma once
// Helpers for tests that call actions the way the interpreter does.
#include <string>
#include <vector>

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "tests/unit/stack_fixture.h"

namespace kiv::test {

inline kiv_value flt(double d) {
    kiv_value v;
    float_::make_at(&v, d);
    return v;
}
inline kiv_value dtype(uint32_t t) { return kiv_value{TYPE_DATATYPE, t, 0, 0}; }
inline uint32_t type_of_v(const kiv_value& v) { return type_of(&v); }
inline bool truth(const kiv_value& v) { return logic::get(&v); }
inline int32_t int_of(const kiv_value& v) { return integer::get_value(&v); }
inline kiv_value logic_value(bool b) { return b ? true_value : false_value; }

// A block of the given cells.
inline kiv_value block_of(const std::vector<kiv_value>& cells) {
    node_id n = memory::alloc_cells(uint32_t(cells.size()));
    for (const kiv_value& c : cells) *series::alloc_tail_cell(series::buffer(n)) = c;
    return kiv_value{TYPE_BLOCK, 0, n, 0};
}
inline kiv_value* cells_of(const kiv_value& blk) {
    return reinterpret_cast<kiv_value*>(series::buffer(blk.data2)->offset);
}
inline uint32_t length_of(const kiv_value& blk) { return series::used_units(series::buffer(blk.data2)); }

// The global word of a name, retyped.
inline kiv_value word_of(const char* name, uint32_t type = TYPE_WORD) {
    kiv_value w = *word::load(name);
    w.header = type;
    return w;
}

inline kiv_value str(const char* text) {
    kiv_value s;
    string::make_at(&s, 16);
    string::concatenate_literal(&s, text);
    return s;
}

// Calls the dispatcher of a slot with the arguments and refinement positions
// and returns the result cell.
inline kiv_value call(uint32_t slot, std::vector<kiv_value> args, std::vector<int32_t> refs = {}) {
    refs.resize(12, -1);
    stack::mark_native(nullptr);
    for (const kiv_value& a : args) stack::push_value(&a);
    actions::dispatch_table[slot](refs.data());
    kiv_value result = *stack::arguments;
    stack::unwind_drop();
    return result;
}

// The text of a string cell of any unit width (code points below 256 only).
inline std::string text_of(const kiv_value& s) {
    series_buffer* b = series::buffer(s.data2);
    uint32_t unit = unit_of(b);
    std::string out;
    for (uint8_t* p = b->offset + s.data1 * unit; p < b->tail; p += unit) {
        uint32_t cp = unit == 1 ? *p : unit == 2 ? uint32_t(p[0] | p[1] << 8) : *reinterpret_cast<uint32_t*>(p);
        out += char(cp);
    }
    return out;
}

inline std::string formed(const kiv_value& v) { return text_of(call(SLOT_FORM, {v}, {-1})); }
inline std::string molded(const kiv_value& v, bool all = false) {
    return text_of(call(SLOT_MOLD, {v}, {-1, all ? 1 : -1, -1, -1}));
}

}  // namespace kiv::test
