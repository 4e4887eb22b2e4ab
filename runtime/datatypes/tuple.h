#pragma once
// tuple!: 3 to 12 bytes written with dots (colours, versions, IPv4
// addresses). The header keeps the length in bits 19-22; the bytes fill the
// three payload words, component 1 first, zeros past the length. All
// arithmetic saturates at 0 and 255.
#include <cstdint>

#include "runtime/value.h"

namespace kiv::tuple {

constexpr uint32_t MIN_LENGTH = 3;
constexpr uint32_t MAX_LENGTH = 12;
constexpr uint32_t LENGTH_SHIFT = 19;
constexpr uint32_t LENGTH_MASK = 0xF << LENGTH_SHIFT;

inline uint32_t length_of(const kiv_value* t) { return (t->header & LENGTH_MASK) >> LENGTH_SHIFT; }
inline const uint8_t* bytes_of(const kiv_value* t) { return reinterpret_cast<const uint8_t*>(&t->data1); }
inline uint8_t* bytes_of(kiv_value* t) { return reinterpret_cast<uint8_t*>(&t->data1); }
inline void set_length(kiv_value* t, uint32_t n) { t->header = (t->header & ~LENGTH_MASK) | (n << LENGTH_SHIFT); }

// A tuple of `length` (3 to 12; shorter is padded with zeros) from packed
// bytes.
kiv_value* make_at(kiv_value* cell, uint32_t length, const uint8_t* bytes);
kiv_value* push(uint32_t length, const uint8_t* bytes);
kiv_value* make_in(kiv_value* block, uint32_t length, const uint8_t* bytes);
// True when every component is 0.
bool zero_q(const kiv_value* t);

// The arithmetic of the current call, the tuple in either argument cell;
// the result replaces the first argument. integer! and float! call it when
// the tuple is their right operand.
void do_math(int32_t op);

void init();

}  // namespace kiv::tuple
