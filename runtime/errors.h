#pragma once
// Raising language errors.
#include "runtime/error_ids.h"
#include "runtime/value.h"

namespace kiv {

// Raises the error of the catalog's category and id with up to three argument
// values (missing ones are none). Never returns.
[[noreturn]] void fire(err::category category, uint32_t id,
                       const kiv_value* arg1 = nullptr,
                       const kiv_value* arg2 = nullptr,
                       const kiv_value* arg3 = nullptr);

namespace error {
// A new error! value on the argument stack, its arguments copied in.
kiv_value* create(err::category category, uint32_t id, const kiv_value* arg1,
                  const kiv_value* arg2, const kiv_value* arg3);
// The catalog positions of an error's category and id: CATEGORY_COUNT and
// UINT32_MAX when its fields name none.
err::category category_of(const kiv_value* error);
uint32_t id_of(const kiv_value* error);
// The symbols of the `type` and `id` fields (0 when they hold no word).
int32_t get_type(const kiv_value* error);
int32_t get_id(const kiv_value* error);
// Stores the word in `where` unless it already names a place.
void set_where(const kiv_value* error, const kiv_value* word);
// The word that names the n-th argument (from 0) of the function being
// called, counting the argument words and refinements of its spec; the word
// <anon> when there is no such argument or no callable.
kiv_value get_call_arg(uint32_t n);
// For an error thrown with its call-frame reference in `stack`: replaces it
// by a block of the words of the calls that led to it. Any other value is
// left alone.
void capture_stack(const kiv_value* value);
// Prints an error that nothing caught (on stderr) and ends the process with
// status -2.
[[noreturn]] void report_uncaught(const kiv_value* error);
}  // namespace error

}  // namespace kiv
