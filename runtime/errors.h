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
// A new error value on the argument stack.
kiv_value* create(err::category category, uint32_t id, const kiv_value* arg1,
                  const kiv_value* arg2, const kiv_value* arg3);
// The category and id of an error value.
err::category category_of(const kiv_value* error);
uint32_t id_of(const kiv_value* error);
// Prints an error that nothing caught (on stderr) and ends the process with
// status -2.
[[noreturn]] void report_uncaught(const kiv_value* error);
}  // namespace error

}  // namespace kiv
