// The error catalog: `system/catalog/errors`, made by the boot data. The
// runtime keeps its object in the root block and finds categories and ids
// in it by position.
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/word.h"
#include "runtime/runtime.h"

namespace kiv::error {

namespace {
// The catalog object's cell in the root block (0: no catalog yet): the
// collector may renumber its context node, so the node is read from there
// each time.
uint32_t catalog_slot = 0;
}  // namespace

void init_catalog(const kiv_value* catalog_object) {
    catalog_slot = block::length_all(&runtime::root);
    block::append_copy(&runtime::root, catalog_object);
}

bool catalog_ready_q() { return catalog_slot != 0; }

node_id catalog() { return block::cells(&runtime::root)[catalog_slot].data1; }

node_id category(uint32_t position) { return context::heap_value_ref(catalog(), position)->data1; }

int32_t find_category(const kiv_value* word) { return _context::find_word(catalog(), word::symbol_of(word), true); }

int32_t find_id(node_id category, const kiv_value* word) {
    int32_t index = _context::find_word(category, word::symbol_of(word), true);
    return index >= int32_t(FIRST_ID) ? index : -1;
}

}  // namespace kiv::error
