#pragma once
// tag!: a text series written between "<" and ">". Everything but its text
// form is string!'s.
#include "runtime/value.h"

namespace kiv::tag {

kiv_value* push(const kiv_value* tag);  // a copy on the argument stack

void init();

}  // namespace kiv::tag
