#pragma once
// error!: an object value {header, context node, class id 1, 0} whose ten
// fields name a category and an id of the error catalog, hold up to three
// argument values and tell where the failure happened. The raising side
// (fire, create, where and stack capture) is declared in runtime/errors.h.
//
// The catalog is an object whose fields are the ten categories, in code
// order; each category is an object whose fields are `code` (integer!),
// `type` (the title string) and then one message template per id. A template
// is a string!, a block! of strings and argument words (get-words, or plain
// words in `internal`), or, for `user`, the word `arg1` itself.
#include <cstdint>

#include "runtime/value.h"

namespace kiv::error {

enum field : uint32_t {
    FIELD_CODE, FIELD_TYPE, FIELD_ID, FIELD_ARG1, FIELD_ARG2, FIELD_ARG3,
    FIELD_NEAR, FIELD_WHERE, FIELD_STACK, FIELD_FILES,
    FIELD_COUNT
};
constexpr uint32_t CLASS_ID = 1;
// The fields of a category: its code, its title, then its ids.
constexpr uint32_t CATEGORY_TITLE = 1;
constexpr uint32_t FIRST_ID = 2;

// The value cell of a field.
kiv_value* field(const kiv_value* error, uint32_t f);
// The symbol of a field's name.
int32_t field_symbol(uint32_t f);

// The catalog's context and a category's context by position.
node_id catalog();
node_id category(uint32_t position);
// The position of the category or id a word names, -1 when there is none.
int32_t find_category(const kiv_value* word);
int32_t find_id(node_id category, const kiv_value* word);

// Start-up: anchors the catalog object (`system/catalog/errors`) in the
// root block. Until then no error can be made.
void init_catalog(const kiv_value* catalog_object);
bool catalog_ready_q();
void init();  // registers error!

}  // namespace kiv::error
