#pragma once
// ref!: a text series that names a reference such as a user handle, written
// with a leading "@" that its text does not hold. It has string!'s actions
// but a narrower row: no append, put, sort, trim or path access.
#include "runtime/value.h"

namespace kiv::ref {

kiv_value* push(const kiv_value* ref);  // a copy on the argument stack

void init();

}  // namespace kiv::ref
