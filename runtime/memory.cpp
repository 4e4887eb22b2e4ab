// The memory manager.
#include "runtime/memory.h"

#include <sys/mman.h>

#include <cstring>

#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/platform.h"
#include "runtime/system.h"

namespace kiv {

memory_record mem;

namespace memory {

uintptr_t* node_slots = nullptr;
node_frame* frame_records = nullptr;
uint64_t layout_epoch = 0;
void (*collect)() = nullptr;
bool collect_always = false;

namespace {

// The node region is reserved once and committed frame by frame. A frame's
// slots start one past a page-aligned stride so that node id 0 stays unused.
constexpr size_t PAGE = NODE_PAGE;

// Every virtual block keeps its rounded size in a hidden 16-byte prefix.
constexpr size_t VIRTUAL_PREFIX = 16;
constexpr size_t FRAME_HEADER = SERIES_FRAME_HEADER;
constexpr size_t BIG_HEADER = (sizeof(big_block) + 15) & ~size_t(15);

size_t round16(size_t n) { return (n + 15) & ~size_t(15); }

uintptr_t free_link(node_id next) { return (uintptr_t(next) << 1) | 1; }
node_id free_next(uintptr_t slot) { return node_id(slot >> 1); }

size_t node_frame_bytes() { return FRAME_STRIDE * sizeof(uintptr_t); }
uintptr_t* frame_slots(uint32_t index) { return node_slots + size_t(index) * FRAME_STRIDE; }

}  // namespace

void init() {
    std::memset(&mem, 0, sizeof(mem));
    mem.s_start = 0x100000;
    mem.s_size = mem.s_start;
    mem.s_max = 0x200000;
    size_t region = size_t(MAX_NODE_FRAMES) * node_frame_bytes();
    void* p = mmap(nullptr, region, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) system::runtime_error(system::RT_OUT_OF_MEMORY);
    node_slots = static_cast<uintptr_t*>(p);
    frame_records = static_cast<node_frame*>(allocate_zeroed(MAX_NODE_FRAMES * sizeof(node_frame)));
}

void release_all_frames() {
    while (mem.node_head) free_node_frame(mem.node_head);
    while (mem.series_head) free_series_frame(mem.series_head);
    while (mem.big_head) free_big(reinterpret_cast<uint8_t*>(mem.big_head) + BIG_HEADER);
}

// Virtual memory --------------------------------------------------------------

void* allocate_virtual(size_t size, bool executable) {
    size_t rounded = (size + VIRTUAL_PREFIX + PAGE - 1) & ~(PAGE - 1);
    void* p = platform::alloc_frame(rounded, executable);
    if (!p) fire(err::INTERNAL, err::internal::no_memory);
    *static_cast<size_t*>(p) = rounded;
    mem.total += rounded;
    return static_cast<uint8_t*>(p) + VIRTUAL_PREFIX;
}

void free_virtual(void* block) {
    uint8_t* base = static_cast<uint8_t*>(block) - VIRTUAL_PREFIX;
    size_t rounded = *reinterpret_cast<size_t*>(base);
    if (!platform::free_frame(base, rounded)) fire(err::INTERNAL, err::internal::wrong_mem);
    mem.total -= rounded;
}

// Nodes ------------------------------------------------------------------------

node_id first_node(const node_frame* frame) { return frame->index * FRAME_STRIDE + 1; }

node_id take_node(node_frame* f) {
    node_id n = f->free;
    f->free = free_next(node_slots[n]);
    set_fresh_node_slot(n, 0);
    f->used++;
    return n;
}

node_frame* new_node_frame(uint32_t count) {
    uint32_t index = 0;
    while (index < MAX_NODE_FRAMES && frame_records[index].live) index++;
    if (index == MAX_NODE_FRAMES || count > FRAME_STRIDE - 1)
        fire(err::INTERNAL, err::internal::no_memory);
    uintptr_t* slots = frame_slots(index);
    if (mprotect(slots, node_frame_bytes(), PROT_READ | PROT_WRITE) != 0)
        fire(err::INTERNAL, err::internal::no_memory);
    mem.total += node_frame_bytes();

    node_frame* f = &frame_records[index];
    *f = node_frame{};
    f->capacity = count;
    f->stamp = mem.cycles;
    f->index = index;
    f->live = true;
    node_id first = index * FRAME_STRIDE + 1;
    for (uint32_t i = 0; i < count; i++)
        slots[1 + i] = free_link(i + 1 < count ? first + i + 1 : 0);
    f->free = first;
    layout_epoch++;  // the frame's node ids may have served an earlier one

    f->prev = mem.node_tail;
    if (mem.node_tail) mem.node_tail->next = f;
    else mem.node_head = mem.node_active = f;
    mem.node_tail = f;
    return f;
}

void free_node_frame(node_frame* f) {
    if (f->prev) f->prev->next = f->next;
    else mem.node_head = f->next;
    if (f->next) f->next->prev = f->prev;
    else mem.node_tail = f->prev;
    if (mem.node_active == f) mem.node_active = mem.node_tail;
    uintptr_t* slots = frame_slots(f->index);
    madvise(slots, node_frame_bytes(), MADV_DONTNEED);
    if (mprotect(slots, node_frame_bytes(), PROT_NONE) != 0)
        fire(err::INTERNAL, err::internal::wrong_mem);
    mem.total -= node_frame_bytes();
    f->live = false;
    layout_epoch++;
}

node_id alloc_node() {
    node_frame* f = mem.node_active;
    if (!f || !f->free || f->doomed) {
        f = mem.node_head;
        while (f && (!f->free || f->doomed)) f = f->next;
        if (!f) f = new_node_frame(NODES_PER_FRAME);
        mem.node_active = f;
    }
    return take_node(f);
}

void free_node(node_frame* frame, node_id node) {
    set_node_slot(node, free_link(frame->free));
    frame->free = node;
    frame->used--;
}

void compact_node_frames() {
    node_frame* f = mem.node_head;
    bool active_set = false;
    while (f) {
        node_frame* next = f->next;
        if (f->used == 0 || f->doomed) {
            free_node_frame(f);
        } else {
            if (!active_set && f->used < f->capacity) {
                mem.node_active = f;
                active_set = true;
            }
            f->history = (f->history << 1) | (f->used == f->last_used ? 1 : 0);
            f->last_used = f->used;
        }
        f = next;
    }
}

// Series frames ----------------------------------------------------------------

series_frame* new_series_frame() {
    size_t size = mem.s_size;
    if (mem.s_size < mem.s_max) mem.s_size *= 2;
    auto* f = static_cast<series_frame*>(allocate_virtual(size + FRAME_HEADER, false));
    f->size = size + FRAME_HEADER;
    f->heap = reinterpret_cast<uint8_t*>(f) + FRAME_HEADER;
    f->end = reinterpret_cast<uint8_t*>(f) + f->size;

    // Keep the list in address order so that the collector can binary-search
    // a frame and compact the frames in one ordered pass.
    series_frame* at = mem.series_head;
    while (at && at < f) at = at->next;
    f->next = at;
    f->prev = at ? at->prev : mem.series_tail;
    if (f->prev) f->prev->next = f;
    else mem.series_head = f;
    if (at) at->prev = f;
    else mem.series_tail = f;
    if (!mem.series_active) mem.series_active = f;
    return f;
}

void free_series_frame(series_frame* f) {
    if (f->prev) f->prev->next = f->next;
    else mem.series_head = f->next;
    if (f->next) f->next->prev = f->prev;
    else mem.series_tail = f->prev;
    if (mem.series_active == f) mem.series_active = mem.series_tail;
    free_virtual(f);
}

series_frame* find_series_frame(size_t needed) {
    for (series_frame* f = mem.series_head; f; f = f->next)
        if (f->heap + needed < f->end) return f;
    return nullptr;
}

// Buffers ----------------------------------------------------------------------

namespace {

// The pace of the collections asked for when the frames are full: the bytes
// of frame buffers allocated since the last one, and the bytes the frames
// held right after it. Each cycle marks all that lives, so collecting at
// every full frame made allocation cost more the more the program kept;
// waiting until half as much again has been allocated keeps that cost
// proportional to the allocation.
size_t allocated_since_collect = 0;
size_t kept_after_collect = 0;

void collect_when_due() {
    if (!collect || allocated_since_collect < kept_after_collect / 2) return;
    collect();
    restart_pace();
}

}  // namespace

void restart_pace() {
    allocated_since_collect = 0;
    kept_after_collect = 0;
    for (series_frame* f = mem.series_head; f; f = f->next) kept_after_collect += size_t(f->heap - frame_data(f));
    for (big_block* blk = mem.big_head; blk; blk = blk->next) kept_after_collect += blk->size;
}

series_buffer* alloc_series_buffer(uint32_t count, uint32_t unit, int32_t offset) {
    size_t size = round16(size_t(count) * unit);
    if (size > 0x7FFFFFF0) fire(err::INTERNAL, err::internal::no_memory);
    size_t needed = sizeof(series_buffer) + size + SERIES_PAD;
    if (collect_always && collect) collect();
    series_buffer* b;
    uint32_t big = 0;
    if (needed >= mem.s_max) {
        // Big buffers keep the same pace: a table or block doubling its
        // way up to millions of cells would otherwise mark the whole heap
        // at every step.
        collect_when_due();
        b = reinterpret_cast<series_buffer*>(alloc_big(needed));
        big = SERIES_BIG;
        allocated_since_collect += needed;
    } else {
        series_frame* f = mem.series_active;
        if (!(f && f->heap + needed < f->end)) {
            f = find_series_frame(needed);
            if (!f) {
                collect_when_due();
                f = find_series_frame(needed);
                if (!f || size_t(f->end - f->heap) < SERIES_SPARE_MIN) {
                    if (needed >= mem.s_size) mem.s_size = mem.s_max;
                    f = new_series_frame();
                }
            }
            mem.series_active = f;
        }
        b = reinterpret_cast<series_buffer*>(f->heap);
        f->heap += needed;
        allocated_since_collect += needed;
    }
    b->size = uint32_t(size);
    b->node = 0;
    b->reserved = 0;
    b->flags = unit | SERIES_IN_USE | big | SERIES_NEW;
    uint32_t at = uint32_t(offset);
    if (offset == -1) {
        at = uint32_t(size / 2);
        b->flags |= SERIES_MIDDLE;
    }
    b->offset = b->tail = data_of(b) + at;
    return b;
}

node_id alloc_series(uint32_t count, uint32_t unit, int32_t offset) {
    // The node first: taking a node never moves a buffer.
    node_id n = alloc_node();
    series_buffer* b = alloc_series_buffer(count, unit, offset);
    b->node = n;
    set_fresh_node_slot(n, reinterpret_cast<uintptr_t>(b));
    return n;
}

node_id alloc_cells(uint32_t count) { return alloc_series(count, sizeof(kiv_value), 0); }

node_id alloc_unset_cells(uint32_t count) {
    node_id n = alloc_cells(count);
    series_buffer* b = series::buffer(n);
    auto* cell = reinterpret_cast<kiv_value*>(data_of(b));
    auto* end = reinterpret_cast<kiv_value*>(end_of(b));
    for (; cell < end; cell++) *cell = kiv_value{TYPE_UNSET, 0, 0, 0};
    return n;
}

node_id alloc_bytes(uint32_t count) { return alloc_series(count ? count : 16, 1, 0); }

node_id alloc_codepoints(uint32_t count, uint32_t unit) {
    return alloc_series(count ? count : 16 / unit, unit, 0);
}

node_id alloc_filled(uint32_t count, uint8_t byte) {
    node_id n = alloc_bytes(count);
    series_buffer* b = series::buffer(n);
    fill(data_of(b), end_of(b), byte);
    return n;
}

node_id alloc_fixed_series(uint32_t count, uint32_t unit, int32_t offset) {
    size_t size = round16(size_t(count) * unit);
    node_id n = alloc_node();
    auto* b = static_cast<series_buffer*>(allocate(sizeof(series_buffer) + size + SERIES_PAD));
    b->size = uint32_t(size);
    b->node = n;
    b->reserved = 0;
    b->flags = unit | SERIES_IN_USE | SERIES_FIXED | SERIES_NEW;
    uint32_t at = offset == -1 ? uint32_t(size / 2) : uint32_t(offset);
    b->offset = b->tail = data_of(b) + at;
    set_fresh_node_slot(n, reinterpret_cast<uintptr_t>(b));
    return n;
}

// Moves the buffer's node to a new buffer and returns both; the old buffer
// stays readable until the next collection.
static series_buffer* expand(series_buffer* buffer, uint32_t new_size, series_buffer** old_out) {
    uint64_t wanted = new_size ? new_size : uint64_t(buffer->size) * 2;
    if (wanted == 0) wanted = 16;
    if (wanted > 0x7FFFFFFF) fire(err::INTERNAL, err::internal::no_memory);
    node_id n = buffer->node;
    uint32_t unit = unit_of(buffer);
    series_buffer* nb = alloc_series_buffer(uint32_t((wanted + unit - 1) / unit), unit, 0);
    series_buffer* old = series::buffer(n);  // the allocation may have moved it
    set_node_slot(n, reinterpret_cast<uintptr_t>(nb));
    nb->flags = (old->flags & ~SERIES_BIG) | (nb->flags & SERIES_BIG);
    nb->node = n;
    nb->tail = nb->offset + (old->tail - old->offset);
    old->node = 0;
    old->flags &= ~SERIES_IN_USE;
    *old_out = old;
    return nb;
}

series_buffer* expand_series(series_buffer* buffer, uint32_t new_size) {
    series_buffer* old;
    return expand(buffer, new_size, &old);
}

// Copies the old data from its `offset` to the end of its data area: a head
// placed in the middle leaves less than `size` bytes there. Returns the bytes
// copied.
static size_t copy_from(series_buffer* old, series_buffer* nb) {
    size_t n = size_t(end_of(old) - old->offset);
    if (n > nb->size) n = nb->size;
    std::memcpy(nb->offset, old->offset, n);
    return n;
}

series_buffer* expand_series_copy(series_buffer* buffer, uint32_t new_size) {
    series_buffer* old;
    series_buffer* nb = expand(buffer, new_size, &old);
    copy_from(old, nb);
    return nb;
}

series_buffer* expand_series_fill(series_buffer* buffer, uint32_t new_size, uint8_t byte) {
    series_buffer* old;
    series_buffer* nb = expand(buffer, new_size, &old);
    size_t copied = copy_from(old, nb);
    fill(nb->offset + copied, end_of(nb), byte);
    return nb;
}

node_id copy_series(series_buffer* buffer) {
    node_id src = buffer->node;
    node_id n = alloc_bytes(buffer->size);
    series_buffer* from = series::buffer(src);  // the allocation may have moved it
    series_buffer* to = series::buffer(n);
    to->flags = (from->flags & ~(SERIES_BIG | SERIES_MARK | SERIES_FIXED)) |
                (to->flags & (SERIES_BIG | SERIES_FIXED));
    if (from->size) copy_from(from, to);
    to->tail = to->offset + (from->tail - from->offset);
    return n;
}

void fill(uint8_t* start, uint8_t* end, uint8_t byte) {
    if (end > start) std::memset(start, byte, size_t(end - start));
}

void zero_words(uint32_t* first, uint32_t* last) {
    while (first < last) *first++ = 0;
}

// Big buffers ------------------------------------------------------------------

uint8_t* alloc_big(size_t bytes) {
    auto* blk = static_cast<big_block*>(allocate_virtual(bytes + BIG_HEADER, false));
    blk->next = nullptr;
    blk->zero = 0;
    blk->size = bytes;
    big_block** at = &mem.big_head;
    while (*at) at = &(*at)->next;
    *at = blk;
    return reinterpret_cast<uint8_t*>(blk) + BIG_HEADER;
}

void free_big(uint8_t* buffer) {
    auto* blk = reinterpret_cast<big_block*>(buffer - BIG_HEADER);
    big_block** at = &mem.big_head;
    while (*at && *at != blk) at = &(*at)->next;
    if (*at) *at = blk->next;
    free_virtual(blk);
}

void sweep_big_buffers() {
    big_block** at = &mem.big_head;
    while (big_block* blk = *at) {
        series_buffer* b = big_buffer(blk);
        if (b->flags & SERIES_MARK) {
            b->flags &= ~SERIES_MARK;
            at = &blk->next;
            continue;
        }
        if ((b->flags & SERIES_IN_USE) && node_in_use_q(b->node) &&
            node_slots[b->node] == reinterpret_cast<uintptr_t>(b))
            collector::queue_pointer(b->node);
        *at = blk->next;
        free_virtual(blk);
    }
}

}  // namespace memory
}  // namespace kiv

namespace kiv::series {

kiv_value* alloc_tail_cell(series_buffer* buffer) {
    if (buffer->tail + sizeof(kiv_value) > end_of(buffer))
        buffer = memory::expand_series_copy(buffer, 0);
    auto* cell = reinterpret_cast<kiv_value*>(buffer->tail);
    *cell = kiv_value{TYPE_UNSET, 0, 0, 0};
    buffer->tail += sizeof(kiv_value);
    return cell;
}

uint8_t* alloc_tail_bytes(series_buffer* buffer, uint32_t n) {
    if (buffer->tail + n > end_of(buffer)) {
        uint64_t grown = buffer->size < n ? uint64_t(buffer->size) + 2 * uint64_t(n)
                                          : uint64_t(buffer->size) * 2;
        if (grown > 0x7FFFFFFF) fire(err::INTERNAL, err::internal::no_memory);
        buffer = memory::expand_series_copy(buffer, uint32_t(grown));
    }
    uint8_t* old = buffer->tail;
    buffer->tail += n;
    return old;
}

node_id copy_part(node_id node, uint32_t offset, uint32_t length) {
    uint32_t unit = unit_of(buffer(node));
    node_id n = memory::alloc_series(length, unit, 0);
    series_buffer* from = buffer(node);  // the allocation may have moved it
    series_buffer* to = buffer(n);
    to->flags = (from->flags & ~(SERIES_OWNED | SERIES_BIG | SERIES_MARK | SERIES_FIXED | SERIES_MIDDLE)) |
                (to->flags & SERIES_BIG);
    std::memcpy(to->offset, from->offset + size_t(offset) * unit, size_t(length) * unit);
    to->tail = to->offset + size_t(length) * unit;
    return n;
}

}  // namespace kiv::series
