// Deflate speed: zlib-framed decompression of a stream made by another
// encoder, and compression of the same text, each the best of three runs.
// Run through bench/deflate_compare.py, which makes the text and the stream
// and times Python's zlib on the same data in the same run.
//
//     bench_deflate TEXT_FILE ZLIB_STREAM_FILE
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "runtime/io/deflate.h"

namespace {

using namespace kiv;

std::vector<uint8_t> slurp(const char* path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

template <typename F>
double best_of_three(F work) {
    double best = 1e30;
    for (int run = 0; run < 3; run++) {
        auto start = std::chrono::steady_clock::now();
        work();
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    std::vector<uint8_t> text = slurp(argv[1]), stream = slurp(argv[2]);
    std::vector<uint8_t> out(text.size());
    int32_t code = 0;
    size_t length = 0;
    double inflate_time = best_of_three([&] {
        length = out.size();
        code = zlib::decompress(out.data(), &length, stream.data(), stream.size());
    });
    bool same = code == 0 && length == text.size() && std::equal(text.begin(), text.end(), out.begin());
    std::vector<uint8_t> packed(text.size() + text.size() / 8 + 32);
    double deflate_time = best_of_three([&] {
        length = packed.size();
        code = zlib::compress(packed.data(), &length, text.data(), text.size());
    });
    std::printf("kiv    inflate %7.3f s  %7.1f MB/s%s\n", inflate_time, text.size() / 1048576.0 / inflate_time,
                same ? "" : "  (WRONG OUTPUT)");
    std::printf("kiv    deflate %7.3f s  %7.1f MB/s  %zu bytes (%.1f%%)\n", deflate_time,
                text.size() / 1048576.0 / deflate_time, length, 100.0 * length / text.size());
    return 0;
}
