#pragma once
// email!: a text series molded without quotes, whose paths reach the parts
// before and after its first "@" as `user` and `host`.
#include "runtime/value.h"

namespace kiv::email {

kiv_value* push(const kiv_value* email);  // a copy on the argument stack

void init();

}  // namespace kiv::email
