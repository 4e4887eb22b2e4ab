// The memory manager: frames, buffers, expansion and node ids.
#include <gtest/gtest.h>

#include "runtime/collector.h"
#include "runtime/memory.h"

using namespace kiv;

namespace {

size_t frame_size(series_frame* f) { return size_t(f->end - reinterpret_cast<uint8_t*>(f)); }

size_t frame_count() {
    size_t n = 0;
    for (series_frame* f = mem.series_head; f; f = f->next) n++;
    return n;
}

// Fills the series frames so that the next request needs a new frame.
void exhaust_frames() {
    for (series_frame* f = mem.series_head; f; f = f->next) f->heap = f->end;
}

}  // namespace

TEST(Memory, FirstSeriesFrameIsOneMegabyteLaterOnesTwo) {
    // The first frame is the only one of 1 MB, wherever it stands in the list.
    size_t one_mb = 0;
    for (series_frame* f = mem.series_head; f; f = f->next)
        if (frame_size(f) >= 0x100000 && frame_size(f) < 0x100000 + 4096) one_mb++;
    EXPECT_EQ(one_mb, 1u);
    exhaust_frames();
    size_t before = frame_count();
    bool active = collector::active_q;  // a cycle here would free the filled frames
    collector::active_q = false;
    memory::alloc_bytes(100);
    collector::active_q = active;
    EXPECT_EQ(frame_count(), before + 1);
    EXPECT_GE(frame_size(mem.series_active), size_t(0x200000));
    EXPECT_LT(frame_size(mem.series_active), size_t(0x200000 + 4096));
    EXPECT_EQ(mem.s_size, mem.s_max);
}

TEST(Memory, SeriesFramesStayInAddressOrder) {
    exhaust_frames();
    memory::alloc_bytes(10);
    exhaust_frames();
    memory::alloc_bytes(10);
    for (series_frame* f = mem.series_head; f && f->next; f = f->next) EXPECT_LT(f, f->next);
}

TEST(Memory, BigBufferBoundary) {
    // The largest data area that still fits a frame, and the first that does not.
    uint32_t largest = uint32_t(mem.s_max - sizeof(series_buffer) - SERIES_PAD - 16);
    node_id carved = memory::alloc_bytes(largest);
    EXPECT_FALSE(series::buffer(carved)->flags & SERIES_BIG);
    node_id big = memory::alloc_bytes(largest + 16);
    EXPECT_TRUE(series::buffer(big)->flags & SERIES_BIG);
    EXPECT_EQ(series::buffer(big)->size, largest + 16);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(data_of(series::buffer(big))) % 16, 0u);
}

TEST(Memory, MinimumCapacities) {
    EXPECT_EQ(series::buffer(memory::alloc_bytes(0))->size, 16u);
    const uint32_t units[] = {1, 2, 4};
    for (uint32_t unit : units) {
        series_buffer* b = series::buffer(memory::alloc_codepoints(0, unit));
        EXPECT_EQ(b->size / unit, 16 / unit);
        EXPECT_EQ(unit_of(b), unit);
    }
}

TEST(Memory, BufferFlagsAndHeadPlacement) {
    series_buffer* b = series::buffer(memory::alloc_series(10, 4, -1));
    EXPECT_EQ(b->size, 48u);
    EXPECT_EQ(b->offset, data_of(b) + 24);
    EXPECT_EQ(b->offset, b->tail);
    EXPECT_EQ(b->flags & (SERIES_IN_USE | SERIES_NEW | SERIES_MIDDLE), SERIES_IN_USE | SERIES_NEW | SERIES_MIDDLE);
    series_buffer* c = series::buffer(memory::alloc_cells(3));
    EXPECT_EQ(unit_of(c), 16u);
    EXPECT_EQ(c->offset, data_of(c));
}

TEST(Memory, UnsetCellsFillTheWholeCapacity) {
    series_buffer* b = series::buffer(memory::alloc_unset_cells(5));
    EXPECT_EQ(b->tail, b->offset);
    auto* cells = reinterpret_cast<kiv_value*>(data_of(b));
    for (uint32_t i = 0; i < b->size / 16; i++) EXPECT_EQ(type_of(&cells[i]), uint32_t(TYPE_UNSET));
}

TEST(Memory, ExpansionKeepsNodeContentAndFlags) {
    node_id n = memory::alloc_bytes(32);
    series::set_flags(n, SERIES_TYPE_FLAG | SERIES_OWNED);
    series_buffer* old = series::buffer(n);
    for (int i = 0; i < 20; i++) *old->tail++ = uint8_t(i);

    series_buffer* nb = memory::expand_series_copy(old, 0);  // 0 doubles
    EXPECT_NE(nb, old);
    EXPECT_EQ(series::buffer(n), nb);
    EXPECT_EQ(nb->node, n);
    EXPECT_EQ(nb->size, 64u);
    EXPECT_EQ(nb->tail - nb->offset, 20);
    for (int i = 0; i < 20; i++) EXPECT_EQ(nb->offset[i], i);
    EXPECT_EQ(nb->flags & (SERIES_TYPE_FLAG | SERIES_OWNED), SERIES_TYPE_FLAG | SERIES_OWNED);
    EXPECT_EQ(old->node, 0u);
    EXPECT_FALSE(old->flags & SERIES_IN_USE);
}

TEST(Memory, ExpansionOfAMiddleHeadCopiesOnlyWhatLiesThere) {
    node_id n = memory::alloc_series(32, 1, -1);
    series_buffer* b = series::buffer(n);
    for (int i = 0; i < 16; i++) *b->tail++ = uint8_t(100 + i);
    series_buffer* nb = memory::expand_series_fill(b, 128, 0xEE);
    EXPECT_EQ(nb->tail - nb->offset, 16);
    for (int i = 0; i < 16; i++) EXPECT_EQ(nb->offset[i], 100 + i);
    for (uint8_t* p = nb->offset + 16; p < end_of(nb); p++) ASSERT_EQ(*p, 0xEE);
}

TEST(Memory, ExpansionIntoABigBufferKeepsTheBigFlagRight) {
    node_id n = memory::alloc_bytes(64);
    series_buffer* nb = memory::expand_series_copy(series::buffer(n), 3 * 1024 * 1024);
    EXPECT_TRUE(nb->flags & SERIES_BIG);
    series_buffer* back = memory::expand_series_copy(nb, 4 * 1024 * 1024);
    EXPECT_TRUE(back->flags & SERIES_BIG);
    EXPECT_EQ(series::buffer(n), back);
}

TEST(Memory, CopySeriesIsIndependent) {
    node_id n = memory::alloc_series(8, 2, 0);
    series::set_flags(n, SERIES_TYPE_FLAG);
    series_buffer* b = series::buffer(n);
    b->tail += 6;
    std::memset(b->offset, 7, 6);
    node_id c = memory::copy_series(b);
    series_buffer* cb = series::buffer(c);
    EXPECT_NE(c, n);
    EXPECT_EQ(cb->size, b->size);
    EXPECT_EQ(unit_of(cb), 2u);
    EXPECT_TRUE(cb->flags & SERIES_TYPE_FLAG);
    EXPECT_EQ(cb->tail - cb->offset, 6);
    EXPECT_EQ(std::memcmp(cb->offset, b->offset, 6), 0);
}

TEST(Memory, NodeIdsStayWhileBuffersMove) {
    node_id ids[50];
    for (int i = 0; i < 50; i++) {
        ids[i] = memory::alloc_bytes(16);
        *series::buffer(ids[i])->tail++ = uint8_t(i);
    }
    for (int round = 0; round < 4; round++)
        for (int i = 0; i < 50; i++) memory::expand_series_copy(series::buffer(ids[i]), 0);
    for (int i = 0; i < 50; i++) {
        series_buffer* b = series::buffer(ids[i]);
        EXPECT_EQ(b->node, ids[i]);
        EXPECT_EQ(b->offset[0], i);
        EXPECT_EQ(b->size, 256u);
    }
}

TEST(Memory, NodeFramesHandOutAndReleaseNodes) {
    node_frame* f = memory::new_node_frame(NODES_PER_FRAME);
    mem.node_active = f;
    node_id a = memory::alloc_node();
    EXPECT_EQ(memory::frame_of_node(a), f);
    EXPECT_FALSE(memory::node_free_q(a));
    EXPECT_EQ(f->used, 1u);
    memory::free_node(f, a);
    EXPECT_TRUE(memory::node_free_q(a));
    EXPECT_EQ(memory::alloc_node(), a);  // the free list is last in, first out
    memory::free_node(f, a);
    // A frame whose nodes are all free is released after a collection.
    memory::compact_node_frames();
    EXPECT_EQ(memory::frame_of_node(a), nullptr);
    for (node_frame* g = mem.node_head; g; g = g->next) EXPECT_NE(g, f);
    EXPECT_NE(memory::alloc_node(), 0u);
}

TEST(Memory, TailHelpersGrowTheBuffer) {
    node_id n = memory::alloc_cells(1);
    for (int i = 0; i < 10; i++) series::alloc_tail_cell(series::buffer(n))->data1 = uint32_t(i);
    series_buffer* b = series::buffer(n);
    EXPECT_EQ(series::used_units(b), 10u);
    auto* cells = reinterpret_cast<kiv_value*>(b->offset);
    for (int i = 0; i < 10; i++) EXPECT_EQ(cells[i].data1, uint32_t(i));

    node_id bytes = memory::alloc_bytes(16);
    uint8_t* at = series::alloc_tail_bytes(series::buffer(bytes), 100);  // more than the size
    EXPECT_EQ(at, series::buffer(bytes)->offset);
    EXPECT_EQ(series::used_units(series::buffer(bytes)), 100u);
    EXPECT_GE(series::buffer(bytes)->size, 100u);

    node_id part = series::copy_part(n, 2, 3);
    auto* pc = reinterpret_cast<kiv_value*>(series::buffer(part)->offset);
    EXPECT_EQ(series::used_units(series::buffer(part)), 3u);
    EXPECT_EQ(pc[0].data1, 2u);
    EXPECT_EQ(pc[2].data1, 4u);
}
