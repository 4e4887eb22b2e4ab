// The signed-word Mersenne Twister and the uniform integer draw.
//
// The words are kept as uint32_t so that multiplication and addition wrap
// without undefined behaviour; right shifts go through `sar`, which reads the
// word as signed, because the sequence depends on the sign bit being copied.
#include "runtime/evaluator/random.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/random.h>

#include "runtime/system.h"

namespace kiv::random {

namespace {

constexpr uint32_t SHIFT_DISTANCE = 397;  // offset of the word mixed in
constexpr uint32_t TWIST_XOR = 0x9908B0DF;
constexpr uint32_t SEED_MULTIPLIER = 1812433253;
constexpr uint32_t SIGN_BIT = 0x80000000;
constexpr uint32_t LOW_BITS = 0x7FFFFFFF;

uint32_t* state = nullptr;
uint32_t position = 0;  // next word to temper; STATE_WORDS means regenerate first

// Arithmetic right shift of a 32-bit word (defined behaviour since C++20).
inline uint32_t sar(uint32_t word, int bits) {
    return static_cast<uint32_t>(static_cast<int32_t>(word) >> bits);
}

void regenerate() {
    // In place and in order: the last words read the first ones already
    // replaced in this pass.
    for (uint32_t i = 0; i < STATE_WORDS; i++) {
        uint32_t y = (state[i] & SIGN_BIT) | (state[(i + 1) % STATE_WORDS] & LOW_BITS);
        uint32_t word = state[(i + SHIFT_DISTANCE) % STATE_WORDS] ^ sar(y, 1);
        if (y & 1) word ^= TWIST_XOR;
        state[i] = word;
    }
    position = 0;
}

uint32_t temper(uint32_t y) {
    y ^= sar(y, 11);
    y ^= (y << 7) & 0x9D2C5680;
    y ^= (y << 15) & 0xEFC60000;
    y ^= sar(y, 18);  // the copied sign bit cancels itself: bit 31 ends clear
    return y;
}

[[noreturn]] void secure_source_failed(int error) {
    std::fprintf(stderr, "*** secure random source unavailable: %s\n", std::strerror(error));
    system::runtime_error(system::RT_UNKNOWN);
}

int32_t draw(bool secure) { return secure ? secure_next() : next(); }

}  // namespace

void init() {
    state = static_cast<uint32_t*>(memory::allocate(STATE_WORDS * sizeof(uint32_t)));
    seed(START_SEED);
}

void seed(int32_t s) {
    state[0] = static_cast<uint32_t>(s);
    for (uint32_t i = 1; i < STATE_WORDS; i++) {
        uint32_t prev = state[i - 1];
        state[i] = SEED_MULTIPLIER * (prev ^ sar(prev, 30)) + i;
    }
    position = 0;
}

int32_t next() {
    if (position == STATE_WORDS) regenerate();
    return static_cast<int32_t>(temper(state[position++]));
}

int32_t secure_next() {
    uint8_t bytes[4];
    size_t got = 0;
    while (got < sizeof bytes) {
        ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            secure_source_failed(errno);
        }
        got += static_cast<size_t>(n);
    }
    uint32_t word;
    std::memcpy(&word, bytes, sizeof word);
    return static_cast<int32_t>(word & LOW_BITS);
}

int32_t int_(bool secure, int32_t n) {
    if (n == 0) return 0;
    // -n does not exist: every negative value is equally likely as -1 - r.
    if (n == INT32_MIN) return -1 - draw(secure);
    int32_t m = n < 0 ? -n : n;
    // Draws at or above the largest multiple of m that fits would favour the
    // low residues.
    int32_t limit = (INT32_MAX / m) * m;
    int32_t r;
    do r = draw(secure);
    while (r >= limit);
    r = r % m + 1;
    return n < 0 ? -r : r;
}

}  // namespace kiv::random
