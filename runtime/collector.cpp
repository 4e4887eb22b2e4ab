// The collector: mark, native stack scan with pinning, compaction of series
// frames, big-buffer sweep and node-frame evacuation.
#include "runtime/collector.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include "runtime/cycles.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/hashtable.h"
#include "runtime/ownership.h"
#include "runtime/platform.h"
#include "runtime/slots.h"
#include "runtime/stack.h"
#include "runtime/system.h"

#if defined(__SANITIZE_ADDRESS__)
// The stack scan must see every local on the native stack: keep the address
// sanitizer from moving frames to its heap-allocated fake stacks.
extern "C" const char* __asan_default_options() { return "detect_stack_use_after_return=0"; }
#endif

namespace kiv::collector {

bool node_compaction = true;
bool scan_native_q = true;
void (*image_mark)(kiv_value* image) = nullptr;

namespace {

bool stress = false;
cycle_report report;

mark_callback callbacks[MAX_CALLBACKS];
uint32_t callback_end = 0;

node_id queue[QUEUE_SIZE];
uint32_t queued = 0;

hashtable::pointer_table* forwarding = nullptr;

// Marking runs on an explicit work list so that deeply nested blocks cannot
// exhaust the native stack.
std::vector<node_id> work;
bool draining = false;
// Buffers outside the frames (fixed and big ones lose theirs elsewhere) whose
// mark must be cleared at the end of the cycle.
std::vector<series_buffer*> fixed_marked;

// The used part of every series frame and big buffer, by address.
struct range {
    uintptr_t lo, hi;
    bool big;
};
std::vector<range> ranges;

// What the native stack holds: nodes, and pointers into frames or big
// buffers, and the buffers those pointers pin.
std::vector<node_id> stack_nodes;
std::vector<uintptr_t> stack_pointers;
std::vector<series_buffer*> pinned;
std::vector<series_buffer*> pinned_big;

// Per node frame (by index): holds a node the native stack needs, or
// received evacuated nodes this cycle.
std::vector<uint8_t> frame_flags;
constexpr uint8_t FRAME_KEEP = 1;
constexpr uint8_t FRAME_RECEIVES = 2;

uintptr_t thread_stack_top = 0;

[[noreturn]] void table_full(const char* what, uint32_t capacity) {
    std::fprintf(stderr, "*** %s: all %u entries used\n", what, unsigned(capacity));
    system::runtime_error(system::RT_OUT_OF_MEMORY);
}

void set_running(bool on) {
    running_q = on;
    std::atomic_thread_fence(std::memory_order_seq_cst);
}

size_t stride_of(const series_buffer* b) { return sizeof(series_buffer) + b->size + SERIES_PAD; }

bool usable(node_id n) { return memory::node_in_use_q(n) && memory::node_slots[n] != 0; }

node_id peek_forward(node_id n) {
    if (forwarding)
        if (uint32_t* e = hashtable::get_entry(forwarding, n)) return *e;
    return n;
}

bool context_buffer_q(const series_buffer* b) {
    return unit_of(b) == sizeof(kiv_value) && b->tail - b->offset >= ptrdiff_t(sizeof(kiv_value)) &&
           type_of(reinterpret_cast<kiv_value*>(b->offset)) == TYPE_CONTEXT;
}

bool context_q(node_id n) { return usable(n) && context_buffer_q(series::buffer(n)); }

bool hash_record_q(node_id n) {
    if (!usable(n)) return false;
    series_buffer* b = series::buffer(n);
    return (b->flags & SERIES_HASH) && b->tail - b->offset >= ptrdiff_t(sizeof(hashtable::hash_record));
}

void scan_node(node_id n);

void drain() {
    if (draining) return;
    draining = true;
    while (!work.empty()) {
        node_id n = work.back();
        work.pop_back();
        scan_node(n);
    }
    draining = false;
}

void mark_later(node_id* slot) {
    if (mark_node(slot)) work.push_back(*slot);
}

// An object's change-handler record: two cells whose last word names the
// spec the handler's slot count was taken for.
void mark_handlers(node_id* slot) {
    if (!mark_node(slot)) return;
    series_buffer* b = series::buffer(*slot);
    if (unit_of(b) != sizeof(kiv_value)) return;
    for (auto* c = reinterpret_cast<kiv_value*>(b->offset); c < reinterpret_cast<kiv_value*>(b->tail); c++)
        if (c->data3) mark_node(&c->data3);
}

// Most references a heap holds are words bound to the context the word
// before was bound to: the last context marked settles them at once (its id
// is a live one, never forwarded, and stays marked until the sweep).
node_id last_context = 0;

void mark_context_later(node_id* slot) {
    if (*slot == last_context) return;
    node_id n = peek_forward(*slot);
    if (!usable(n)) return;
    series_buffer* b = series::buffer(n);
    if (!context_buffer_q(b)) return;
    if (n != *slot) *slot = n;
    last_context = n;
    if (b->flags & SERIES_MARK) return;
    b->flags |= SERIES_MARK;
    if (b->flags & SERIES_FIXED) fixed_marked.push_back(b);
    work.push_back(n);
}

// What a cell refers to, by datatype (the layouts of every datatype, also of
// those whose modules come later).
void mark_cell(kiv_value* v) {
    switch (type_of(v)) {
        case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD:
        case TYPE_REFINEMENT: case TYPE_ISSUE:
            if (v->data1) mark_context_later(&v->data1);
            break;
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH:
        case TYPE_GET_PATH:
            if (v->data2) mark_later(&v->data2);
            break;
        case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL:
        case TYPE_REF:
            if (v->data2) mark_node(&v->data2);
            if (v->data3) mark_node(&v->data3);  // the export scratch buffer
            break;
        case TYPE_SYMBOL:
            if (v->data3) mark_node(&v->data3);  // the name
            if (v->data2) mark_node(&v->data2);  // the string cache
            break;
        case TYPE_BITSET: case TYPE_VECTOR: case TYPE_BINARY:
            if (v->data2) mark_node(&v->data2);
            break;
        case TYPE_OBJECT: case TYPE_ERROR: case TYPE_PORT:
            if (v->data1) mark_context_later(&v->data1);
            if (v->data3) mark_handlers(&v->data3);
            break;
        case TYPE_CONTEXT:
            // A context cell {table, values}, or a value naming a context.
            if (v->data1 && hash_record_q(peek_forward(v->data1))) {
                mark_later(&v->data1);
                if (!(v->header & CONTEXT_ON_STACK) && v->data2) mark_later(&v->data2);
            } else if (v->data1) {
                mark_context_later(&v->data1);
            }
            break;
        case TYPE_HASH: case TYPE_MAP:
            if (v->data2) mark_later(&v->data2);
            if (v->data3) mark_later(&v->data3);
            break;
        case TYPE_FUNCTION: case TYPE_ROUTINE:
            if (v->data1) mark_context_later(&v->data1);
            if (v->data2) mark_later(&v->data2);
            if (v->data3) mark_later(&v->data3);
            break;
        case TYPE_NATIVE: case TYPE_ACTION:
            if (v->data2) mark_later(&v->data2);
            if (v->data3) mark_later(&v->data3);
            break;
        case TYPE_OP: {
            uint32_t wrapped = (v->header >> 16) & 0xFF;
            if ((wrapped == TYPE_FUNCTION || wrapped == TYPE_ROUTINE) && v->data1)
                mark_context_later(&v->data1);
            if (v->data2) mark_later(&v->data2);
            if (v->data3) mark_later(&v->data3);
            break;
        }
        case TYPE_IMAGE:
            if (v->data2 && image_mark) image_mark(v);
            break;
        case TYPE_HANDLE:
            if (int32_t(v->data3) >= 0) externals::mark_slot(int32_t(v->data3), nullptr);
            break;
        case TYPE_EVENT:  // its value block, when it has one
            if (v->data2) mark_later(&v->data2);
            break;
        default:
            break;
    }
}

void mark_cells(kiv_value* first, kiv_value* end) {
    for (kiv_value* v = first; v < end; v++) mark_cell(v);
}

// The contents of a newly marked buffer.
void scan_node(node_id n) {
    series_buffer* b = series::buffer(n);
    if (b->flags & SERIES_HASH) {
        if (hash_record_q(n)) hashtable::mark_fields(n);
    } else if (unit_of(b) == sizeof(kiv_value)) {
        mark_cells(reinterpret_cast<kiv_value*>(b->offset), reinterpret_cast<kiv_value*>(b->tail));
    }
}

// Roots ---------------------------------------------------------------------------

// The words and contexts of the call frames; a function's saved values
// series unless its values live on the argument stack.
void mark_frames() {
    for (call_frame* f = stack::cbottom; f && f < stack::ctop; f++) {
        if (f->ctx) mark_context(&f->ctx);
        if (!f->fctx) continue;
        mark_context(&f->fctx);
        if (f->saved && context_q(f->fctx) && !(_context::cell_of(f->fctx)->header & CONTEXT_ON_STACK))
            mark_series(&f->saved);
    }
}

void mark_roots() {
    mark_block(&runtime::root);
    if (symbol::table) hashtable::mark(&symbol::table);
    if (symbol::block.data2) mark_block(&symbol::block);
    if (ownership::table) hashtable::mark(&ownership::table);
    if (stack::bottom) mark_values(stack::bottom, stack::top);
    mark_frames();
    if (_context::global) mark_context(&_context::global);
    if (datatype::table)
        for (uint32_t id = 1; id <= datatype::top_id; id++)
            if (datatype::table[id].name) mark_values(&datatype::table[id].word, &datatype::table[id].word + 1);
    if (slots::pool.data2) mark_block(&slots::pool);
    for (uint32_t i = 0; i < callback_end; i++)
        if (callbacks[i]) callbacks[i]();
    // What the native stack holds: its frames were kept from evacuation, so
    // these nodes need no rewriting.
    for (node_id n : stack_nodes) {
        node_id copy = n;
        mark_series(&copy);
    }
    for (auto* list : {&pinned, &pinned_big})
        for (series_buffer* b : *list) {
            if (!(b->flags & SERIES_IN_USE) || !usable(b->node) ||
                memory::node_slots[b->node] != reinterpret_cast<uintptr_t>(b))
                continue;
            node_id copy = b->node;
            mark_series(&copy);
        }
}

// Frame lists and the native stack ---------------------------------------------

void build_ranges() {
    ranges.clear();
    for (series_frame* f = mem.series_head; f; f = f->next)
        if (f->heap > frame_data(f))
            ranges.push_back({reinterpret_cast<uintptr_t>(frame_data(f)), reinterpret_cast<uintptr_t>(f->heap), false});
    for (big_block* blk = mem.big_head; blk; blk = blk->next) {
        auto lo = reinterpret_cast<uintptr_t>(memory::big_buffer(blk));
        ranges.push_back({lo, lo + blk->size, true});
    }
    std::sort(ranges.begin(), ranges.end(), [](const range& a, const range& b) { return a.lo < b.lo; });
}

void consider_node(node_id n) {
    if (memory::node_in_use_q(n)) stack_nodes.push_back(n);
}

// Reads stack memory that belongs to other frames, red zones included.
__attribute__((noinline, no_sanitize_address)) void scan_words(uintptr_t top) {
    auto* p = static_cast<const uintptr_t*>(__builtin_frame_address(0));
    auto* end = reinterpret_cast<const uintptr_t*>(top);
    uintptr_t lo = ranges.empty() ? 0 : ranges.front().lo;
    uintptr_t hi = ranges.empty() ? 0 : ranges.back().hi;
    for (const range& r : ranges) hi = std::max(hi, r.hi);
    auto nodes_lo = reinterpret_cast<uintptr_t>(memory::node_slots);
    for (; p < end; p++) {
        uintptr_t w = *p;
        consider_node(uint32_t(w));
        consider_node(uint32_t(w >> 32));
        // A node slot's address stands for its node, and so does its offset
        // from the slots' start: optimised code may keep only that.
        if (w >= nodes_lo && (w - nodes_lo) / sizeof(uintptr_t) <= UINT32_MAX)
            consider_node(node_id((w - nodes_lo) / sizeof(uintptr_t)));
        if (w % sizeof(uintptr_t) == 0 && w / sizeof(uintptr_t) <= UINT32_MAX)
            consider_node(node_id(w / sizeof(uintptr_t)));
        if (w >= lo && w < hi) stack_pointers.push_back(w);
    }
}

// Spills the callee-saved registers into this frame before the scan.
__attribute__((noinline)) void scan_native_stack() {
    std::jmp_buf registers;
    setjmp(registers);
    __builtin_unwind_init();
    uintptr_t top = system::saved_stack_top ? system::saved_stack_top : thread_stack_top;
    if (top > reinterpret_cast<uintptr_t>(__builtin_frame_address(0))) scan_words(top);
    asm volatile("" : : "r"(&registers) : "memory");
}

void pin(series_buffer* b, bool big) {
    (big ? pinned_big : pinned).push_back(b);
    if ((b->flags & SERIES_IN_USE) && memory::node_in_use_q(b->node))
        stack_nodes.push_back(b->node);  // keeps the node's frame in place too
}

// Finds the buffer each stack pointer lies in, walking the frames in address
// order beside the sorted pointers.
void resolve_pointers() {
    std::sort(stack_pointers.begin(), stack_pointers.end());
    size_t k = 0, n = stack_pointers.size();
    for (const range& r : ranges) {
        while (k < n && stack_pointers[k] < r.lo) k++;
        if (k == n) break;
        if (stack_pointers[k] >= r.hi) continue;
        if (r.big) {
            pin(reinterpret_cast<series_buffer*>(r.lo), true);
            while (k < n && stack_pointers[k] < r.hi) k++;
            continue;
        }
        uintptr_t p = r.lo;
        while (p < r.hi && k < n && stack_pointers[k] < r.hi) {
            auto* b = reinterpret_cast<series_buffer*>(p);
            size_t stride = stride_of(b);
            if (stride > r.hi - p) break;
            if (stack_pointers[k] < p + stride) {
                pin(b, false);
                while (k < n && stack_pointers[k] < p + stride) k++;
            }
            p += stride;
        }
        while (k < n && stack_pointers[k] < r.hi) k++;
    }
    // The root block's cells are handed out as lasting addresses.
    if (runtime::root.data2 && usable(runtime::root.data2)) {
        series_buffer* root = series::buffer(runtime::root.data2);
        if (!(root->flags & (SERIES_BIG | SERIES_FIXED))) pinned.push_back(root);
    }
    std::sort(pinned.begin(), pinned.end());
    pinned.erase(std::unique(pinned.begin(), pinned.end()), pinned.end());
    std::sort(stack_nodes.begin(), stack_nodes.end());
    stack_nodes.erase(std::unique(stack_nodes.begin(), stack_nodes.end()), stack_nodes.end());
}

// Node-frame evacuation ----------------------------------------------------------

uint32_t frame_free(const node_frame* f) { return f->capacity - f->used; }

// A node taken but not yet linked to its buffer cannot be copied.
bool movable_q(const node_frame* f) {
    node_id first = memory::first_node(f);
    for (uint32_t i = 0; i < f->capacity; i++)
        if (!memory::node_free_q(first + i) && memory::node_slots[first + i] == 0) return false;
    return true;
}

void evacuate(node_frame* f, node_frame* active) {
    if (!forwarding) forwarding = hashtable::new_table(FORWARD_SIZE);
    node_frame* dest = active;
    node_id first = memory::first_node(f);
    for (uint32_t i = 0; i < f->capacity; i++) {
        node_id n = first + i;
        if (memory::node_free_q(n)) continue;
        while (dest == f || dest->doomed || !dest->free) dest = dest->next;
        node_id m = memory::take_node(dest);
        frame_flags[dest->index] |= FRAME_RECEIVES;
        memory::set_node_slot(m, memory::node_slots[n]);
        series::buffer(m)->node = m;
        hashtable::put_ptr(forwarding, n, m);
        f->used--;
    }
    f->doomed = 1;
    report.evacuated_frames++;
}

void plan_evacuation() {
    node_frame* active = mem.node_head;
    while (active && (!active->free || active->doomed)) active = active->next;
    if (!active) return;
    mem.node_active = active;
    uint64_t free_count = 0;
    for (node_frame* f = mem.node_head; f; f = f->next)
        if (!f->doomed && f->free) free_count += frame_free(f);
    constexpr uint32_t stable = (1u << (HISTORY_DEPTH + 1)) - 1;
    for (node_frame* f = mem.node_tail; f; f = f->prev) {
        if ((f->history & stable) != stable || f->used >= EVACUATE_BELOW || free_count <= EVACUATE_SPARE ||
            f == active || f->doomed || frame_flags[f->index])
            continue;
        // Room for every node elsewhere, from the active frame on.
        uint64_t room = 0;
        for (node_frame* d = active; d; d = d->next)
            if (d != f && !d->doomed) room += frame_free(d);
        if (room < f->used || !movable_q(f)) continue;
        free_count -= EVACUATE_SPARE;
        evacuate(f, active);
    }
    if (report.evacuated_frames) nodes_cycles++;
}

// Compaction ---------------------------------------------------------------------

void poison(uint8_t* from, uint8_t* to) {
    if (stress && to > from) std::memset(from, POISON, size_t(to - from));
}

// After a run of buffers moved by delta bytes to `at`: their nodes and
// cursors follow.
void relocate(uint8_t* at, size_t length, ptrdiff_t delta) {
    for (uint8_t* p = at; p < at + length; p += stride_of(reinterpret_cast<series_buffer*>(p))) {
        auto* b = reinterpret_cast<series_buffer*>(p);
        memory::set_node_slot(b->node, reinterpret_cast<uintptr_t>(b));
        b->offset += delta;
        b->tail += delta;
        report.moved_buffers++;
    }
}

size_t room_of(const series_frame* f) { return size_t(f->end - f->heap); }

// A dead buffer's node goes back to its frame.
void bury(series_buffer* b) {
    if ((b->flags & SERIES_IN_USE) && usable(b->node) &&
        memory::node_slots[b->node] == reinterpret_cast<uintptr_t>(b))
        queue_pointer(b->node);
}

// Fills a gap left before a pinned buffer with one dead buffer, so that the
// frame stays walkable (gaps are whole dead buffers, at least a header and
// the pad long).
void fill_gap(uint8_t* from, uint8_t* to) {
    auto* filler = reinterpret_cast<series_buffer*>(from);
    filler->flags = SERIES_NEW;
    filler->node = 0;
    filler->size = uint32_t(size_t(to - from) - sizeof(series_buffer) - SERIES_PAD);
    filler->reserved = 0;
    filler->offset = filler->tail = data_of(filler);
    poison(data_of(filler), to);
}

// Slides the live buffers of a frame down, moving runs into the previous
// frame's free tail while that keeps more than SERIES_SPARE_MIN free bytes.
// Pinned buffers stay; runs slide up to them. The frame's heap ends up past
// its last buffer.
void compact_frame(series_frame* f, series_frame* prev, size_t& pin) {
    uint8_t* p = frame_data(f);
    uint8_t* heap = f->heap;
    uint8_t* dest = nullptr;  // where the next run goes in this frame
    bool across = prev && room_of(prev) > SERIES_SPARE_MIN;
    uint8_t* run = nullptr;
    size_t run_length = 0;

    auto flush = [&] {
        if (!run_length) return;
        if (across && run_length <= room_of(prev)) {
            std::memcpy(prev->heap, run, run_length);
            relocate(prev->heap, run_length, prev->heap - run);
            prev->heap += run_length;
            if (!dest) dest = run;
            across = room_of(prev) > SERIES_SPARE_MIN;
        } else if (dest) {
            std::memmove(dest, run, run_length);
            relocate(dest, run_length, dest - run);
            dest += run_length;
        } else {
            across = false;  // the run stays where it is
        }
        run = nullptr;
        run_length = 0;
    };

    while (p < heap) {
        auto* b = reinterpret_cast<series_buffer*>(p);
        size_t stride = stride_of(b);
        if (stride > size_t(heap - p)) break;  // not a buffer: the rest is free
        while (pin < pinned.size() && pinned[pin] < b) pin++;
        if (pin < pinned.size() && pinned[pin] == b) {
            flush();
            if (dest) fill_gap(dest, p);
            dest = nullptr;
            b->flags &= ~SERIES_MARK;
            report.pinned_buffers++;
        } else if (b->flags & SERIES_MARK) {
            b->flags &= ~SERIES_MARK;
            if (across && run_length && run_length + stride > room_of(prev)) flush();
            if (!run) run = p;
            run_length += stride;
        } else {
            flush();
            bury(b);
            if (!dest) dest = p;
        }
        p += stride;
    }
    flush();
    if (!dest && p < heap) dest = p;
    if (dest) {
        poison(dest, heap);
        f->heap = dest;
    }
}

void compact_series_frames() {
    size_t pin = 0;
    for (series_frame* f = mem.series_head; f;) {
        series_frame* next = f->next;
        compact_frame(f, f->prev, pin);
        if (f->heap == frame_data(f) && f->next) {
            memory::free_series_frame(f);
            report.released_frames++;
        }
        f = next;
    }
}

void reset_cycle_state() {
    report = cycle_report{};
    last_context = 0;
    work.clear();
    fixed_marked.clear();
    stack_nodes.clear();
    stack_pointers.clear();
    pinned.clear();
    pinned_big.clear();
    uint32_t frames = 0;
    for (node_frame* f = mem.node_head; f; f = f->next) frames = std::max(frames, f->index + 1);
    frame_flags.assign(frames, 0);
}

}  // namespace

// Public interface -------------------------------------------------------------

bool stress_q() { return stress; }

void set_stress(bool on) {
    stress = on;
    memory::collect_always = on;
}

stats_record stats() { return {mem.cycles, nodes_cycles}; }

const cycle_report& last_cycle() { return report; }

void init() {
    mem.cycles = 0;
    nodes_cycles = 0;
    node_compaction = true;
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        void* addr;
        size_t size;
        if (pthread_attr_getstack(&attr, &addr, &size) == 0)
            thread_stack_top = reinterpret_cast<uintptr_t>(addr) + size;
        pthread_attr_destroy(&attr);
    }
    const char* env = platform::get_env("KIV_GC_STRESS");
    set_stress(env && std::strcmp(env, "1") == 0);
    memory::collect = check;
}

void check() {
    if (active_q && !running_q) do_cycle();
}

void do_cycle() {
    if (running_q) return;
    set_running(true);
    struct end_of_cycle {
        ~end_of_cycle() {
            draining = false;
            set_running(false);
        }
    } ending;
    reset_cycle_state();

    build_ranges();
    if (scan_native_q) scan_native_stack();
    resolve_pointers();
    for (node_id n : stack_nodes)
        if (node_frame* f = memory::frame_of_node(n)) frame_flags[f->index] |= FRAME_KEEP;
    if (node_compaction) plan_evacuation();

    mark_roots();
    if (forwarding) cycles::mark_all();
    if (ownership::table) hashtable::sweep_keys(ownership::table);
    externals::sweep();

    compact_series_frames();
    for (series_buffer* b : pinned_big) b->flags |= SERIES_MARK;  // even garbage stays while pointed at
    uint32_t big = 0;
    for (big_block* blk = mem.big_head; blk; blk = blk->next) big++;
    memory::sweep_big_buffers();
    for (big_block* blk = mem.big_head; blk; blk = blk->next) big--;
    report.freed_big = big;
    flush_queue();
    memory::compact_node_frames();
    if (forwarding) {
        hashtable::free_table(forwarding);
        forwarding = nullptr;
    }
    for (series_buffer* b : fixed_marked) b->flags &= ~SERIES_MARK;
    last_context = 0;  // its mark is gone

    mem.cycles++;
}

void add_mark_callback(mark_callback fn) {
    if (callback_end == MAX_CALLBACKS) table_full("Collector mark callbacks", MAX_CALLBACKS);
    callbacks[callback_end++] = fn;
}

void remove_mark_callback(mark_callback fn) {
    for (uint32_t i = 0; i < callback_end; i++)
        if (callbacks[i] == fn) {
            callbacks[i] = nullptr;
            return;
        }
}

bool mark_node(node_id* slot) {
    node_id n = peek_forward(*slot);
    if (n != *slot) *slot = n;
    if (!usable(n)) return false;
    series_buffer* b = series::buffer(n);
    if (b->flags & SERIES_MARK) return false;
    b->flags |= SERIES_MARK;
    if (b->flags & SERIES_FIXED) fixed_marked.push_back(b);
    return true;
}

void unmark_node(node_id node) {
    if (node == last_context) last_context = 0;
    if (usable(node)) series::buffer(node)->flags &= ~SERIES_MARK;
}

void mark_series(node_id* slot) {
    mark_later(slot);
    drain();
}

void mark_context(node_id* slot) {
    mark_context_later(slot);
    drain();
}

void mark_values(kiv_value* first, kiv_value* end) {
    mark_cells(first, end);
    drain();
}

bool marked_q(node_id node) { return usable(node) && (series::buffer(node)->flags & SERIES_MARK); }

node_id forward(node_id node) { return peek_forward(node); }

void queue_pointer(node_id node) {
    if (!node) return;
    if (queued == QUEUE_SIZE) flush_queue();
    queue[queued++] = node;
    report.freed_nodes++;
}

namespace {

// Puts the queue in node order, so that each frame's free list comes out
// in the same order as always. A radix sort by 11-bit digits: the queue is
// large and its ids are bounded, where a comparison sort spent more on
// it than the nodes' release itself.
void sort_queue() {
    constexpr uint32_t DIGIT = 11, BUCKETS = 1u << DIGIT;
    if (queued < 64) {
        std::sort(queue, queue + queued);
        return;
    }
    static node_id spare[QUEUE_SIZE];
    node_id highest = *std::max_element(queue, queue + queued);
    node_id* from = queue;
    node_id* to = spare;
    for (uint32_t shift = 0; shift < 32 && (highest >> shift) != 0; shift += DIGIT) {
        uint32_t start[BUCKETS + 1] = {};
        for (uint32_t i = 0; i < queued; i++) start[((from[i] >> shift) & (BUCKETS - 1)) + 1]++;
        for (uint32_t d = 1; d <= BUCKETS; d++) start[d] += start[d - 1];
        for (uint32_t i = 0; i < queued; i++) to[start[(from[i] >> shift) & (BUCKETS - 1)]++] = from[i];
        std::swap(from, to);
    }
    if (from != queue) std::copy(from, from + queued, queue);
}

}  // namespace

void flush_queue() {
    sort_queue();
    for (uint32_t i = 0; i < queued; i++)
        if (node_frame* f = memory::frame_of_node(queue[i])) memory::free_node(f, queue[i]);
    queued = 0;
}

void update_pointers(node_id* first, node_id* end) {
    if (!forwarding) return;
    for (node_id* p = first; p < end; p++) *p = peek_forward(*p);
}

bool verify_heap() {
    for (series_frame* f = mem.series_head; f; f = f->next) {
        uint8_t* p = frame_data(f);
        while (p < f->heap) {
            auto* b = reinterpret_cast<series_buffer*>(p);
            size_t stride = stride_of(b);
            if (stride > size_t(f->heap - p) || (b->flags & SERIES_MARK)) return false;
            if (b->flags & SERIES_IN_USE) {
                if (!usable(b->node) || memory::node_slots[b->node] != reinterpret_cast<uintptr_t>(b)) return false;
                if (b->offset < data_of(b) || b->tail < b->offset || b->tail > end_of(b)) return false;
            }
            p += stride;
        }
        if (p != f->heap || f->heap > f->end) return false;
    }
    for (big_block* blk = mem.big_head; blk; blk = blk->next)
        if (memory::big_buffer(blk)->flags & SERIES_MARK) return false;
    for (node_frame* f = mem.node_head; f; f = f->next) {
        node_id first = memory::first_node(f);
        uint32_t used = 0;
        for (uint32_t i = 0; i < f->capacity; i++) {
            node_id n = first + i;
            if (memory::node_free_q(n)) continue;
            used++;
            if (memory::node_slots[n] && series::buffer(n)->node != n) return false;
        }
        if (used != f->used || f->doomed) return false;
    }
    return true;
}

}  // namespace kiv::collector
