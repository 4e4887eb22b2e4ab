// CRC-32, Adler-32, the internet checksum and SHA-256 of 100 MB of random
// bytes, in MB/s (best of three runs). bench_checksum.py is the Python
// twin on the same bytes (the same generator and seed).
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include "runtime/evaluator/checksum.h"

namespace {

using namespace kiv;

constexpr size_t SIZE = 100u << 20;

// The generator the Python twin repeats: a 64-bit xorshift, eight bytes a step.
std::vector<uint8_t> data_of(size_t n) {
    std::vector<uint8_t> v(n);
    uint64_t x = 0x9E3779B97F4A7C15ull;
    for (size_t i = 0; i < n; i += 8) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        for (size_t k = 0; k < 8 && i + k < n; k++) v[i + k] = uint8_t(x >> (8 * k));
    }
    return v;
}

void report(const char* name, const std::function<uint64_t()>& work) {
    double best = 1e30;
    uint64_t result = 0;
    for (int run = 0; run < 3; run++) {
        auto start = std::chrono::steady_clock::now();
        result = work();
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::printf("  %-12s %8.1f MB/s   (%llx)\n", name, SIZE / 1048576.0 / best, (unsigned long long)result);
}

}  // namespace

int main() {
    std::vector<uint8_t> data = data_of(SIZE);
    std::printf("Kiv checksums of 100 MB, MB/s (best of 3 runs)\n");
    report("crc32", [&] { return uint64_t(uint32_t(crypto::crc32(data.data(), data.size()))); });
    report("adler32", [&] { return uint64_t(crypto::adler32(data.data(), data.size())); });
    report("tcp", [&] { return uint64_t(crypto::tcp_checksum(data.data(), data.size())); });
    report("sha256", [&] {
        uint8_t out[crypto::MAX_DIGEST];
        crypto::digest(data.data(), data.size(), crypto::SHA256, out);
        return uint64_t(out[0]) << 8 | out[1];
    });
    return 0;
}
