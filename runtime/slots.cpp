// The external slot table and the value slot pool.
#include "runtime/slots.h"

#include <cstdio>

#include "runtime/memory.h"
#include "runtime/system.h"

namespace kiv::externals {

namespace {

struct class_entry {
    const char* name;
    release_fn release;
};

class_entry* classes = nullptr;
uint32_t class_count = 0;

slot* slots = nullptr;
uint32_t slot_count = 0;
int32_t free_head = -1;
int32_t used_head = -1;

// Threads slots [from, to) into one free list, in index order.
void thread_free(uint32_t from, uint32_t to) {
    for (uint32_t i = from; i < to; i++) slots[i] = slot{SLOT_FREE, i + 1 < to ? int32_t(i + 1) : -1, nullptr};
}

bool valid_used_q(int32_t index) {
    return index >= 0 && uint32_t(index) < slot_count && slots[index].flags != SLOT_FREE;
}

void release(const slot& s) {
    uint32_t id = s.flags & CLASS_MASK;
    if (id >= 1 && id <= class_count && classes[id - 1].release) classes[id - 1].release(s.object);
}

// Takes the slot out of the used list and puts it on the free list.
void give_back(int32_t index) {
    int32_t* link = &used_head;
    while (*link != -1 && *link != index) link = &slots[*link].next;
    if (*link == index) *link = slots[index].next;
    slots[index] = slot{SLOT_FREE, free_head, nullptr};
    free_head = index;
}

}  // namespace

void init() {
    classes = static_cast<class_entry*>(memory::allocate_zeroed(MAX_CLASSES * sizeof(class_entry)));
    class_count = 0;
    slots = static_cast<slot*>(memory::allocate(START_SLOTS * sizeof(slot)));
    slot_count = START_SLOTS;
    thread_free(0, slot_count);
    free_head = 0;
    used_head = -1;
}

uint32_t register_class(const char* name, release_fn release) {
    if (class_count == MAX_CLASSES) {
        std::fprintf(stderr, "*** External slot classes: all %u entries used\n", unsigned(MAX_CLASSES));
        system::runtime_error(system::RT_OUT_OF_MEMORY);
    }
    classes[class_count++] = class_entry{name, release};
    return class_count;
}

const char* class_name(uint32_t class_id) {
    return class_id >= 1 && class_id <= class_count ? classes[class_id - 1].name : nullptr;
}

int32_t alloc_slot(void* object, uint32_t class_id) {
    if (slots[free_head].next == -1) {
        // Never hand out the last free slot: the table doubles first.
        uint32_t old = slot_count;
        slots = static_cast<slot*>(memory::realloc(slots, size_t(old) * 2 * sizeof(slot)));
        slot_count = old * 2;
        thread_free(old, slot_count);
        slots[free_head].next = int32_t(old);
    }
    int32_t index = free_head;
    free_head = slots[index].next;
    slots[index] = slot{class_id & CLASS_MASK, used_head, object};
    used_head = index;
    return index;
}

void set_object(int32_t index, void* object) {
    if (!valid_used_q(index)) return;
    slot& s = slots[index];
    if (s.object != object) release(s);
    s.object = object;
}

int32_t free_slot(int32_t index, bool release_it) {
    if (!valid_used_q(index)) return -1;
    if (release_it) release(slots[index]);
    give_back(index);
    return -1;
}

bool mark_slot(int32_t index, void* object) {
    if (!valid_used_q(index)) return false;
    slot& s = slots[index];
    bool fresh = !(s.flags & SLOT_MARK);
    s.flags |= SLOT_MARK;
    if (object) s.object = object;
    return fresh;
}

void for_each(uint32_t class_id, void (*fn)(void* object)) {
    for (int32_t i = used_head; i != -1; i = slots[i].next)
        if ((slots[i].flags & CLASS_MASK) == class_id) fn(slots[i].object);
}

void sweep() {
    int32_t* link = &used_head;
    while (*link != -1) {
        int32_t i = *link;
        slot& s = slots[i];
        if (s.flags & SLOT_MARK) {
            s.flags &= ~SLOT_MARK;
            link = &s.next;
            continue;
        }
        release(s);
        *link = s.next;
        s = slot{SLOT_FREE, free_head, nullptr};
        free_head = i;
    }
}

uint32_t capacity() { return slot_count; }

const slot* at(int32_t index) {
    return index >= 0 && uint32_t(index) < slot_count ? &slots[index] : nullptr;
}

}  // namespace kiv::externals

namespace kiv::slots {

kiv_value pool;

namespace {

int32_t free_head = -1;

kiv_value* cells() { return reinterpret_cast<kiv_value*>(series::buffer(pool.data2)->offset); }

// Cells [from, to) become free integer! cells linked in index order.
void thread_free(uint32_t from, uint32_t to) {
    kiv_value* c = cells();
    for (uint32_t i = from; i < to; i++)
        c[i] = kiv_value{TYPE_INTEGER, 0, i + 1 < to ? i + 1 : uint32_t(-1), 0};
}

void cover_capacity(uint32_t n) {
    series_buffer* b = series::buffer(pool.data2);
    b->tail = b->offset + size_t(n) * sizeof(kiv_value);
}

}  // namespace

void init() {
    pool = kiv_value{TYPE_BLOCK, 0, memory::alloc_cells(START_CELLS), 0};
    cover_capacity(START_CELLS);
    thread_free(0, START_CELLS);
    free_head = 0;
}

uint32_t capacity() { return series::used_units(series::buffer(pool.data2)); }

uint32_t store(const kiv_value* value) {
    kiv_value copy = *value;  // the value may lie in the pool itself
    if (free_head == -1) {
        uint32_t old = capacity();
        memory::expand_series_copy(series::buffer(pool.data2), old * 2 * sizeof(kiv_value));
        cover_capacity(old * 2);
        thread_free(old, old * 2);
        free_head = int32_t(old);
    }
    int32_t index = free_head;
    kiv_value* cell = cells() + index;
    free_head = int32_t(cell->data2);
    copy_cell(&copy, cell);
    return uint32_t(index) + 1;
}

kiv_value* get(uint32_t index) { return cells() + (index - 1); }

void free(uint32_t index) {
    if (index == 0 || index > capacity()) return;
    cells()[index - 1] = kiv_value{TYPE_INTEGER, 0, uint32_t(free_head), 0};
    free_head = int32_t(index - 1);
}

}  // namespace kiv::slots
