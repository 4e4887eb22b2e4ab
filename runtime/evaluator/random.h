#pragma once
// The process-wide pseudo-random generator behind `random`, and the secure
// draws of `random/secure`.
//
// The generator is a Mersenne Twister whose words are signed: every right
// shift copies the sign bit in. Its sequence for a given seed is part of the
// language (`random/seed` must reproduce it exactly), so it is not the
// textbook twister and must not be swapped for one.
#include <cstdint>

namespace kiv::random {

constexpr uint32_t STATE_WORDS = 624;
constexpr int32_t START_SEED = 19650218;

// Allocates the state in the tracked heap and seeds it with START_SEED.
void init();

// Restarts the sequence from `s`. The first STATE_WORDS draws after seeding
// are the tempered seeding words themselves.
void seed(int32_t s);

// The next draw of the generator: a signed 32-bit word that is never negative
// (0 to 0x7FFFFFFF), since the last tempering step clears the sign bit.
int32_t next();

// Four bytes from the system's secure source with the top bit cleared
// (0 to 0x7FFFFFFF). Does not touch the generator. Ends the program with a
// runtime error when the source is unavailable.
int32_t secure_next();

// A uniform integer: 1 to n for n > 0, n to -1 for n < 0, 0 for n = 0, drawn
// from the generator or, with `secure`, from the secure source.
int32_t int_(bool secure, int32_t n);

}  // namespace kiv::random
