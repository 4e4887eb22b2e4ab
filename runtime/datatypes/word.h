#pragma once
// word! and its variants set-word!, lit-word!, get-word!, refinement! (and
// issue!, which shares the cell): {header, context node, symbol id, index}.
// The index is the word's slot in its context, -1 when it has none.
#include <cstdint>

#include "runtime/value.h"

namespace kiv {

inline bool any_word_q(uint32_t t) { return t >= TYPE_WORD && t <= TYPE_ISSUE; }

namespace word {

inline int32_t symbol_of(const kiv_value* w) { return int32_t(w->data2); }
inline int32_t index_of(const kiv_value* w) { return int32_t(w->data3); }

// The word of a name in the global context. While the boot/loading flag is
// set the word is anchored in the root block and that copy is returned.
kiv_value* load(const char* name);
kiv_value* from_symbol(int32_t symbol);
kiv_value* add_global(int32_t symbol, bool case_insensitive, bool keep_spelling);
kiv_value* make_at(int32_t symbol, kiv_value* cell);
kiv_value* make_in(int32_t symbol, kiv_value* block);
kiv_value* push_symbol(int32_t symbol);
kiv_value* push(const kiv_value* w);

// Value access: get pushes the value (unset raises `no-value`); set takes
// the word and the value from the current call's first two arguments.
kiv_value* get(const kiv_value* w);
kiv_value* set();

void init();  // registers word! and its variants

}  // namespace word

namespace refinement {
kiv_value* make_in_root(const char* name);
}

namespace issue {
kiv_value* make_at(kiv_value* cell, const char* name);
kiv_value* make_in(const char* name, kiv_value* block);
kiv_value* load(const char* name);
kiv_value* push(const kiv_value* cell);
void init();
}  // namespace issue

}  // namespace kiv
