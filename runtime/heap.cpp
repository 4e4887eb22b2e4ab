// The tracked heap: every block is linked into one list so that the whole
// heap can be released at exit.
#include "runtime/system.h"

#include <cstdlib>
#include <cstring>

namespace kiv {

// The size is kept so that the memory statistics can total the heap.
struct alignas(16) heap_block {
    heap_block* prev;
    heap_block* next;
    size_t size;
};
static_assert(sizeof(heap_block) == 32);

namespace memory {

static void link(heap_block* b, size_t size) {
    b->size = size;
    b->prev = nullptr;
    b->next = sys.heap_head;
    if (b->next) b->next->prev = b;
    sys.heap_head = b;
}

static void unlink(heap_block* b) {
    if (b->prev) b->prev->next = b->next;
    else sys.heap_head = b->next;
    if (b->next) b->next->prev = b->prev;
}

void* allocate(size_t size) {
    auto* b = static_cast<heap_block*>(std::malloc(sizeof(heap_block) + size));
    if (!b) system::runtime_error(system::RT_OUT_OF_MEMORY);
    link(b, size);
    return b + 1;
}

// calloc leaves fresh pages to the system, which zeroes them when first
// touched: a large table costs only the pages that are used.
void* allocate_zeroed(size_t size) {
    auto* b = static_cast<heap_block*>(std::calloc(1, sizeof(heap_block) + size));
    if (!b) system::runtime_error(system::RT_OUT_OF_MEMORY);
    link(b, size);
    return b + 1;
}

void* realloc(void* block, size_t size) {
    if (!block) return size ? allocate(size) : nullptr;
    auto* b = static_cast<heap_block*>(block) - 1;
    if (size == 0) {
        free(block);
        return nullptr;
    }
    unlink(b);
    auto* nb = static_cast<heap_block*>(std::realloc(b, sizeof(heap_block) + size));
    if (!nb) {
        link(b, b->size);
        system::runtime_error(system::RT_OUT_OF_MEMORY);
    }
    link(nb, size);
    return nb + 1;
}

void free(void* block) {
    if (!block) return;
    auto* b = static_cast<heap_block*>(block) - 1;
    unlink(b);
    std::free(b);
}

size_t heap_total() {
    size_t total = 0;
    for (heap_block* b = sys.heap_head; b; b = b->next) total += b->size + sizeof(heap_block);
    return total;
}

void free_all() {
    while (sys.heap_head) {
        heap_block* b = sys.heap_head;
        sys.heap_head = b->next;
        std::free(b);
    }
}

}  // namespace memory
}  // namespace kiv
