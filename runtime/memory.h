#pragma once
// The memory manager: node frames, series frames, series buffers and big
// buffers.
//
// A series value names its buffer through a node: a 64-bit slot in one
// reserved virtual region, addressed by a 32-bit node id. Buffers move when
// they are expanded (and when the collector compacts); nodes stay put, so a
// value stays valid across every allocation while a raw buffer address does
// not.
#include <cstddef>
#include <cstdint>

#include "runtime/value.h"

namespace kiv {

// Series buffer flags.
constexpr uint32_t SERIES_UNIT_MASK = 0x1F;        // unit size: 1, 2, 4 or 16
constexpr uint32_t SERIES_OWNED = 0x00020000;      // owned by an object
constexpr uint32_t SERIES_UTF16 = 0x00040000;      // loaded from UTF-16LE
constexpr uint32_t SERIES_TYPE_FLAG = 0x00080000;  // per-datatype flag
constexpr uint32_t SERIES_FIXED = 0x00100000;      // heap block that never moves
constexpr uint32_t SERIES_HASH = 0x00400000;       // holds a hash table record
constexpr uint32_t SERIES_BIG = 0x01000000;        // in a virtual block of its own
constexpr uint32_t SERIES_MARK = 0x08000000;       // collector mark
constexpr uint32_t SERIES_MIDDLE = 0x10000000;     // head placed in the middle
constexpr uint32_t SERIES_NEW = 0x20000000;        // set on every buffer made
constexpr uint32_t SERIES_IN_USE = 0x80000000;     // cleared when abandoned

// A series buffer: this header, then `size` bytes of data, then SERIES_PAD
// bytes. The header is 32 bytes so that the data stays 16-aligned.
struct series_buffer {
    uint32_t flags;
    node_id node;       // owning node; 0 once the buffer is garbage
    uint32_t size;      // capacity of the data area in bytes (multiple of 16)
    uint32_t reserved;
    uint8_t* offset;    // first used unit
    uint8_t* tail;      // past the last used unit
};
static_assert(sizeof(series_buffer) == 32);

constexpr size_t SERIES_PAD = 16;
constexpr uint32_t NODES_PER_FRAME = 10000;
constexpr uint32_t SERIES_SPARE_MIN = 0xCCCC;  // least free room worth reusing

inline uint8_t* data_of(series_buffer* b) { return reinterpret_cast<uint8_t*>(b + 1); }
inline uint8_t* end_of(series_buffer* b) { return data_of(b) + b->size; }
inline uint32_t unit_of(const series_buffer* b) { return b->flags & SERIES_UNIT_MASK; }

struct node_frame {
    node_frame* next;
    node_frame* prev;
    uint32_t capacity;   // node slots
    node_id free;        // head of the free-node list, 0 when full
    uint32_t used;       // nodes handed out
    uint32_t stamp;      // collection count when the frame was made
    uint32_t last_used;  // `used` at the previous collection
    uint32_t history;    // bit n: used count unchanged between two collections
    uint32_t doomed;     // evacuated: hands out no node, released after the cycle
    uint32_t index;      // position of the frame in the node region
    bool live;
};

struct series_frame {
    series_frame* next;
    series_frame* prev;
    size_t size;    // bytes of the whole frame, header included
    uint8_t* heap;  // first free byte
    uint8_t* end;   // first byte past the frame
};
// Buffers start this far into a series frame, 16-aligned.
constexpr size_t SERIES_FRAME_HEADER = (sizeof(series_frame) + 15) & ~size_t(15);
inline uint8_t* frame_data(series_frame* f) { return reinterpret_cast<uint8_t*>(f) + SERIES_FRAME_HEADER; }

struct big_block {
    big_block* next;
    uint32_t zero;
    size_t size;  // bytes of the buffer, header and pad included
};

struct memory_record {
    size_t total;  // bytes taken from the operating system
    node_frame* node_head;
    node_frame* node_tail;
    node_frame* node_active;
    series_frame* series_head;
    series_frame* series_active;
    series_frame* series_tail;
    size_t s_start;  // size of the first series frame
    size_t s_size;   // size of the next series frame
    size_t s_max;    // size of every later series frame
    big_block* big_head;
    uint32_t cycles;  // collections run so far
};
extern memory_record mem;

namespace memory {

// The node region: slot n holds the buffer of node n. A free slot holds the
// next free node id shifted left once, with bit 0 set.
extern uintptr_t* node_slots;
inline bool node_free_q(node_id n) { return node_slots[n] & 1; }
// Counts the changes of a node's buffer once it has one (expansion,
// compaction, evacuation, freeing) and the node frames made or released: a
// buffer address read from a node stays the node's buffer while the count is
// unchanged, which lets hot paths keep one at hand. A fresh node getting its
// first buffer is no change: nothing can have read the node before, and a
// node id comes back into use only after a freeing or a new frame counted.
extern uint64_t layout_epoch;
inline void set_node_slot(node_id n, uintptr_t value) {
    node_slots[n] = value;
    layout_epoch++;
}
inline void set_fresh_node_slot(node_id n, uintptr_t value) { node_slots[n] = value; }

// Runs a collection when the collector is active (installed by the
// collector; null while there is none).
extern void (*collect)();
// Set by the collector's stress mode: every buffer allocation collects first.
extern bool collect_always;

void init();
void release_all_frames();
// Counts what the series frames hold now as kept, as after a collection:
// the next one is due once half as much again has been allocated.
void restart_pace();

// Node frame n holds the node ids from n * FRAME_STRIDE + 1 on: its slots
// start one past a page-aligned stride so that node id 0 stays unused.
// frame_records[n] describes it.
constexpr size_t NODE_PAGE = 4096;
constexpr uint32_t MAX_NODE_FRAMES = 16384;
constexpr uint32_t FRAME_STRIDE = uint32_t(((NODES_PER_FRAME + 1) * sizeof(uintptr_t) + NODE_PAGE - 1) /
                                           NODE_PAGE * NODE_PAGE / sizeof(uintptr_t));
extern node_frame* frame_records;

// Inline: the collector asks these for every reference it marks.
inline node_frame* frame_of_node(node_id node) {
    if (node / FRAME_STRIDE >= MAX_NODE_FRAMES) return nullptr;
    node_frame* f = &frame_records[node / FRAME_STRIDE];
    return f->live ? f : nullptr;
}
// A node handed out and not freed since (any 32-bit value may be asked).
inline bool node_in_use_q(node_id node) {
    node_frame* f = frame_of_node(node);
    uint32_t slot = node % FRAME_STRIDE;
    return f && slot >= 1 && slot <= f->capacity && !node_free_q(node);
}

void* allocate_virtual(size_t size, bool executable);
void free_virtual(void* block);

node_id alloc_node();
void free_node(node_frame* frame, node_id node);
node_frame* new_node_frame(uint32_t count);
void free_node_frame(node_frame* frame);
void compact_node_frames();
node_id first_node(const node_frame* frame);
// Pops a node from the frame's free list (the frame must have one).
node_id take_node(node_frame* frame);

series_frame* new_series_frame();
void free_series_frame(series_frame* frame);
series_frame* find_series_frame(size_t needed);

// offset: byte position of the head in the data area; -1 puts it in the
// middle.
series_buffer* alloc_series_buffer(uint32_t count, uint32_t unit, int32_t offset);
node_id alloc_series(uint32_t count, uint32_t unit, int32_t offset);
node_id alloc_cells(uint32_t count);
node_id alloc_unset_cells(uint32_t count);
node_id alloc_bytes(uint32_t count);
node_id alloc_codepoints(uint32_t count, uint32_t unit);
node_id alloc_filled(uint32_t count, uint8_t byte);
node_id alloc_fixed_series(uint32_t count, uint32_t unit, int32_t offset);

// A new buffer of new_size bytes (0 doubles) for the buffer's node; the old
// one becomes garbage. expand_series leaves the data uninitialised.
series_buffer* expand_series(series_buffer* buffer, uint32_t new_size);
series_buffer* expand_series_copy(series_buffer* buffer, uint32_t new_size);
series_buffer* expand_series_fill(series_buffer* buffer, uint32_t new_size, uint8_t byte);
node_id copy_series(series_buffer* buffer);

void fill(uint8_t* start, uint8_t* end, uint8_t byte);
void zero_words(uint32_t* first, uint32_t* last);

uint8_t* alloc_big(size_t bytes);
void free_big(uint8_t* buffer);
inline series_buffer* big_buffer(big_block* blk) {
    return reinterpret_cast<series_buffer*>(reinterpret_cast<uint8_t*>(blk) + ((sizeof(big_block) + 15) & ~size_t(15)));
}
// After marking: frees every unmarked big buffer (its node goes to the
// collector's free-node queue) and clears the marks of the others.
void sweep_big_buffers();

// What the runtime holds, for `stats`. Mode STATS_TOTAL returns the bytes in
// use: the used node slots, the used part of every series frame and every
// big buffer. Mode STATS_DETAIL also appends to `result` (a block) a block
// of [free used total] node counts per node frame, one of [free used total]
// bytes per series frame, one of big-buffer sizes, the bytes taken from the
// system and the tracked heap's bytes. Figures above 2147483647 are float!.
enum stats_mode : int32_t { STATS_TOTAL = 1, STATS_DETAIL = 2 };
double stats_info(kiv_value* result, stats_mode mode);

}  // namespace memory

namespace series {
inline series_buffer* buffer(node_id node) {
    return reinterpret_cast<series_buffer*>(memory::node_slots[node]);
}
inline void set_flags(node_id node, uint32_t bits) { buffer(node)->flags |= bits; }
// Used units from the buffer's offset. Units are powers of two, so a shift
// does what a division would, at a fraction of its cost on this hot path.
inline uint32_t used_units(const series_buffer* b) {
    return uint32_t(size_t(b->tail - b->offset) >> std::countr_zero(b->flags & SERIES_UNIT_MASK));
}
}  // namespace series

}  // namespace kiv

namespace kiv::series {
// Appends an unset cell at the tail of a cell buffer (expanding it when
// full) and returns it.
kiv_value* alloc_tail_cell(series_buffer* buffer);
// Advances the tail by n bytes (expanding when they do not fit) and returns
// the old tail.
uint8_t* alloc_tail_bytes(series_buffer* buffer, uint32_t n);
// A new series of the same unit and flags (less the owned flag) holding
// `length` units from `offset` units past the buffer's head.
node_id copy_part(node_id node, uint32_t offset, uint32_t length);
}  // namespace kiv::series

namespace kiv::block {
// Appends an unset cell to a block value's series and returns it.
inline kiv_value* alloc_tail(const kiv_value* blk) {
    return series::alloc_tail_cell(series::buffer(blk->data2));
}
}  // namespace kiv::block
