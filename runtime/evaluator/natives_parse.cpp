// The parse native: checks its arguments and hands them to the engine.
#include <algorithm>

#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/series.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/evaluator/native_support.h"
#include "runtime/evaluator/natives.h"
#include "runtime/evaluator/parse.h"
#include "runtime/stack.h"

namespace kiv::natives {

namespace {

// The input index where /part stops matching: a length from the input's
// index (a float truncated) or a position in the same series, kept between
// the index and the tail.
int32_t part_limit(const kiv_value* input, const kiv_value* part) {
    uint32_t t = type_of(part);
    int64_t count = t == TYPE_INTEGER || t == TYPE_FLOAT ? count_of(part) : series::part_count(input, part);
    int64_t length = series::ks_length_all(input);
    int64_t index = std::min<int64_t>(input->data1, length);
    return int32_t(std::clamp<int64_t>(index + count, index, length));
}

}  // namespace

void parse(bool, const int32_t* refs) {
    kiv_value input = *arg(0);
    kiv_value rules = *arg(1);
    int32_t limit = used(refs[1]) ? part_limit(&input, arg(refs[1])) : -1;
    kiv_value callback = used(refs[2]) ? *arg(refs[2]) : none_value;
    kiv_value result = parser::process(&input, &rules, used(refs[0]), limit, &callback);
    if (interpreter::exit_pending_q()) return;
    stack::set_last(&result);
}

}  // namespace kiv::natives
