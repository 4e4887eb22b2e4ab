// Prints what the runtime makes of doubles and texts, for a comparison with
// Python's float repr and float() (tests/oracle/float_oracle.py).
//   float_dump shortest SEED COUNT   one line per double: bits digits decpt sign
//   float_dump digits                the same for hexadecimal bits given on stdin
//   float_dump read                  one text per input line: the bits read back
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "runtime/float_text.h"

namespace {

// splitmix64: the same stream in the Python script.
uint64_t next(uint64_t& state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

}  // namespace

void print_digits(uint64_t bits) {
    double d;
    std::memcpy(&d, &bits, sizeof d);
    kiv::dtoa::digits r = kiv::dtoa::to_text(d, 0, false);
    std::printf("%016" PRIx64 " %s %d %d\n", bits, r.text, r.decpt, r.sign);
}

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "shortest") == 0) {
        uint64_t state = std::strtoull(argv[2], nullptr, 10);
        long count = std::strtol(argv[3], nullptr, 10);
        for (long i = 0; i < count; i++) print_digits(next(state));
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "digits") == 0) {
        char line[64];
        while (std::fgets(line, sizeof line, stdin)) print_digits(std::strtoull(line, nullptr, 16));
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "read") == 0) {
        char line[2048];
        while (std::fgets(line, sizeof line, stdin)) {
            size_t n = std::strcspn(line, "\n");
            int unconsumed = 0;
            double d = kiv::dtoa::from_text(line, line + n, 0, &unconsumed);
            uint64_t bits;
            std::memcpy(&bits, &d, sizeof bits);
            std::printf("%016" PRIx64 "\n", bits);
        }
        return 0;
    }
    std::fprintf(stderr, "usage: float_dump shortest SEED COUNT | float_dump read\n");
    return 2;
}
