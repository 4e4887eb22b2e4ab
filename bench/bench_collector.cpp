// The collector: the pause of one full collection over about 100 MB of live
// blocks and strings, and the throughput of allocating and dropping ten
// million small blocks with the collector running on its own.
#include <chrono>
#include <cstdio>

#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/string.h"
#include "runtime/memory.h"
#include "runtime/boot.h"
#include "runtime/runtime.h"
#include "runtime/system.h"

namespace {

using namespace kiv;
using clock_type = std::chrono::steady_clock;

double since(clock_type::time_point start) {
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

// Blocks of eight integers and a 200-character string, hung from the root
// until the heap holds `megabytes`, all of it live.
void build_live_data(size_t megabytes) {
    while (mem.total < megabytes << 20) {
        kiv_value* holder = block::make_in(&runtime::root, 9);
        for (int i = 0; i < 8; i++) *block::alloc_tail(holder) = kiv_value{TYPE_INTEGER, 0, uint32_t(i), 0};
        kiv_value* text = string::make_at(block::alloc_tail(holder), 200);
        for (int i = 0; i < 200; i++) string::append_char(string::buffer_of(text), 'a' + i % 26);
    }
}

}  // namespace

int main(int argc, char** argv) {
    system::os_init(argc, argv);
    runtime::init(kiv_boot_data, kiv_boot_data_size);
    boot::start();

    // Throughput: nothing is kept, so every collection finds only garbage.
    collector::active_q = true;
    auto start = clock_type::now();
    uint32_t before = collector::stats().cycles;
    for (int i = 0; i < 10'000'000; i++) {
        kiv_value blk;
        block::make_at(&blk, 4);
        *block::alloc_tail(&blk) = kiv_value{TYPE_INTEGER, 0, uint32_t(i), 0};
    }
    double churn = since(start);
    std::printf("10M small blocks allocated and dropped: %.3f s (%.1f ns each), %u collections\n", churn,
                churn * 1e9 / 1e7, collector::stats().cycles - before);

    // Pause: one full cycle over the live data, best of five.
    collector::active_q = false;
    build_live_data(100);
    double best = 1e300;
    for (int round = 0; round < 5; round++) {
        start = clock_type::now();
        collector::do_cycle();
        best = std::min(best, since(start));
    }
    std::printf("full collection over ~100 MB of live blocks and strings: %.1f ms (best of 5), heap %.0f MB\n",
                best * 1e3, double(mem.total) / (1 << 20));
    return 0;
}
