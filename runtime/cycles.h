#pragma once
// The cycle stack: the series (or contexts) that form and mold are inside of,
// so that a value that contains itself prints a cycle mark instead of
// recursing forever.
#include <cstdint>

#include "runtime/value.h"

namespace kiv::cycles {

constexpr uint32_t CAPACITY = 1000;

void init();
// Raises `too-deep` (after emptying the stack) when it fills the last entry.
void push(node_id node);
void pop();
void drop(uint32_t n);
void reset();
bool find_q(node_id node);
uint32_t depth();
// When the value's series (an object's context) is already being formed or
// molded, appends its cycle mark to the buffer, takes its length from *part
// and answers true.
bool detect_q(const kiv_value* value, kiv_value* buffer, int32_t* part, bool mold);
// Rewrites every entry whose node frame the collector evacuated.
void mark_all();

}  // namespace kiv::cycles
