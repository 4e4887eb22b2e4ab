#pragma once
// The symbol table: every distinct spelling of a word, once. A word stores
// only its symbol's id (1-based position in the symbol block), so words
// compare by name with one integer comparison. A spelling that differs from
// an earlier one only in the case of ASCII letters is an alias of it, and
// comparisons that ignore case resolve both ids first.
#include <cstdint>

#include "runtime/memory.h"
#include "runtime/value.h"

namespace kiv::symbol {

// A symbol record: {header symbol!, alias (-1 canonical, else the id it is a
// case variant of), node of the decoded string! (0 until asked for), node of
// the UTF-8 name followed by a NUL}.
extern kiv_value block;  // the symbol block
extern node_id table;    // its hash index
constexpr uint32_t START_SIZE = 4000;

int32_t make(const char* name);
int32_t make_alt(const uint8_t* name, uint32_t length);
int32_t from_string(kiv_value* str);
// A symbol equal to the name ignoring case (canonical or alias, whichever
// comes first); a new canonical one only when no spelling exists.
int32_t make_flagged(const char* name);

inline kiv_value* record(int32_t id) {
    return reinterpret_cast<kiv_value*>(series::buffer(block.data2)->offset) + (id - 1);
}
kiv_value* get(int32_t id);  // the record, its string cache filled
node_id cache_string(kiv_value* record);
inline int32_t alias_of(int32_t id) { return int32_t(record(id)->data1); }
inline int32_t resolve(int32_t id) {
    int32_t alias = alias_of(id);
    return alias > 0 ? alias : id;
}
// The UTF-8 name of a symbol (NUL-terminated) and its length in bytes.
const char* name_of(int32_t id, uint32_t* length = nullptr);
uint32_t count();

// Start-up: registers symbol!, then makes the block and its index.
void init();
void init_table();

}  // namespace kiv::symbol
