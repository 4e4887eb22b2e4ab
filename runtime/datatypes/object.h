#pragma once
// object!: a context of kind object seen through a value that adds a class
// id and an optional change-handler record: {header, context node, class id,
// handler record node or 0}. The context's self cell holds a copy of the
// object value.
#include <cstdint>

#include "runtime/value.h"

namespace kiv::object {

constexpr int32_t FIRST_CLASS = 1000000;
constexpr uint32_t NO_HANDLER = 0xFFFF;

int32_t new_class_id();
int32_t find_word(const kiv_value* obj, const kiv_value* word);
kiv_value* get_field(const kiv_value* obj, const kiv_value* word);  // the shared none cell when absent
kiv_value* get_values(const kiv_value* obj);
// The value cell of the field a word names, as a path of two words reaches
// it (null when the object has no such field); with `value`, the field is set
// first, its change handler told. The cell is valid until Kiv code runs.
kiv_value* path_field(const kiv_value* obj, const kiv_value* word, const kiv_value* value);
// The fields as set-words, each followed by its value (a word or path value
// quoted), into a new block in `out`.
kiv_value* body_into(const kiv_value* obj, kiv_value* out);
// Adds the keys of a block of key and value pairs as fields, or sets the
// fields that exist; the values are taken as they are.
void extend(kiv_value* obj, const kiv_value* spec);
uint32_t words_count(const kiv_value* obj);
kiv_value* make_at(kiv_value* cell, uint32_t size);
kiv_value* push(node_id ctx, int32_t class_id);
void clear_applied(node_id ctx);
void clear_flags(const kiv_value* blk);
// Builds the handler record from the context's on-change* and
// on-deep-change* fields and stores it in the object.
void attach_handlers(node_id ctx, kiv_value* obj);
void fire_on_change(const kiv_value* obj, const kiv_value* word, const kiv_value* old_value,
                    const kiv_value* new_value);
// The deep-change notification: a series the object owns was changed in
// place by `action` at `index` over `part` units.
void fire_on_deep_change(const kiv_value* owner, const kiv_value* word, const kiv_value* target,
                         const kiv_value* action, const kiv_value* value, int32_t index, int32_t part);
void set_many(kiv_value* obj, const kiv_value* value, bool any, bool only, bool some);
int32_t mold_fields(const kiv_value* obj, kiv_value* buffer, bool only, bool all, bool flat, int32_t part,
                    bool indent, int32_t level, bool leading_newline);
kiv_value* copy_to(const kiv_value* obj, kiv_value* result, bool deep, kiv_value* types, bool handlers);
void rebind_function(kiv_value* fn, const kiv_value* obj);
bool load_spec(node_id ctx, const kiv_value* blk, bool only);
kiv_value* push_new(const kiv_value* proto, const kiv_value* blk, bool only);

void init();

}  // namespace kiv::object
