#pragma once
// char!: one Unicode code point, kept in payload word 2 like an integer!, so
// that it shares the integer arithmetic core; every result stays a code
// point.
#include <cstdint>

#include "runtime/value.h"

namespace kiv::char_ {

constexpr uint32_t MAX_CODEPOINT = 0x10FFFF;

inline uint32_t get_value(const kiv_value* c) { return c->data2; }
inline kiv_value* make_at(kiv_value* cell, uint32_t cp) {
    *cell = kiv_value{TYPE_CHAR, 0, cp, 0};
    return cell;
}
kiv_value* make_in(kiv_value* block, uint32_t cp);
kiv_value* push(uint32_t cp);

// The math actions on the current call's arguments (op: OP_ADD ... OP_XOR).
void do_math(int32_t op);

kiv_value* make(kiv_value* proto, kiv_value* spec, uint32_t type);
int32_t form(kiv_value* c, kiv_value* buffer, kiv_value* arg, int32_t part);
int32_t mold(kiv_value* c, kiv_value* buffer, bool only, bool all, bool flat, kiv_value* arg,
             int32_t part, int32_t indent);
int32_t compare(kiv_value* value1, kiv_value* value2, int32_t op);

void init();

}  // namespace kiv::char_
