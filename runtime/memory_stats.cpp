// Memory statistics: a read-only walk over the frames.
#include <cstdint>
#include <vector>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/memory.h"
#include "runtime/system.h"

namespace kiv::memory {

namespace {

struct usage {
    double free, used, total;
};

// The figures are gathered before any cell is made, so that the allocations
// of the result cannot change the frames under the walk.
struct frame_figures {
    std::vector<usage> nodes;   // in nodes
    std::vector<usage> series;  // in bytes
    std::vector<double> big;    // in bytes
    double in_use = 0;
    double allocated = 0;
};

frame_figures walk() {
    frame_figures f;
    for (node_frame* n = mem.node_head; n; n = n->next) {
        f.nodes.push_back({double(n->capacity - n->used), double(n->used), double(n->capacity)});
        f.in_use += double(n->used) * sizeof(uintptr_t);
        f.allocated += double(n->capacity) * sizeof(uintptr_t) + sizeof(node_frame);
    }
    for (series_frame* s = mem.series_head; s; s = s->next) {
        uint8_t* data = frame_data(s);
        f.series.push_back({double(s->end - s->heap), double(s->heap - data), double(s->end - data)});
        f.in_use += double(s->heap - data);
        f.allocated += double(s->size);
    }
    for (big_block* b = mem.big_head; b; b = b->next) {
        f.big.push_back(double(b->size));
        f.in_use += double(b->size);
        f.allocated += double(b->size) + sizeof(big_block);
    }
    return f;
}

kiv_value* number_in(kiv_value* blk, double n) {
    return n > 2147483647.0 ? float_::make_in(blk, n) : integer::make_in(blk, int32_t(n));
}

// One entry per line when molded.
void mark_line(kiv_value* cell) { cell->header |= FLAG_NEW_LINE; }

void append_usages(kiv_value* result, const std::vector<usage>& list) {
    kiv_value blk = *block::append_value(result, int32_t(list.size()));
    for (const usage& u : list) {
        kiv_value* triple = block::append_value(&blk, 3);
        mark_line(triple);
        kiv_value t = *triple;
        number_in(&t, u.free);
        number_in(&t, u.used);
        number_in(&t, u.total);
    }
}

}  // namespace

double stats_info(kiv_value* result, stats_mode mode) {
    frame_figures f = walk();
    if (mode == STATS_TOTAL) return f.in_use;
    double heap = double(heap_total());
    append_usages(result, f.nodes);
    append_usages(result, f.series);
    kiv_value big = *block::append_value(result, int32_t(f.big.size()));
    for (double size : f.big) mark_line(number_in(&big, size));
    number_in(result, f.allocated + heap);
    number_in(result, heap);
    return f.in_use;
}

}  // namespace kiv::memory
