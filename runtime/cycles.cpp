// The cycle stack of form and mold.
#include "runtime/cycles.h"

#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/system.h"

namespace kiv::cycles {

static node_id* base;
static node_id* current;

void init() {
    base = static_cast<node_id*>(memory::allocate(CAPACITY * sizeof(node_id)));
    current = base;
}

void push(node_id node) {
    *current++ = node;
    if (current == base + CAPACITY) {
        reset();
        fire(err::INTERNAL, err::internal::too_deep);
    }
}

void pop() {
    if (current > base) current--;
}

void drop(uint32_t n) { current = uint32_t(current - base) > n ? current - n : base; }

void reset() { current = base; }

bool find_q(node_id node) {
    for (node_id* p = base; p < current; p++)
        if (*p == node) return true;
    return false;
}

uint32_t depth() { return uint32_t(current - base); }

void mark_all() { collector::update_pointers(base, current); }

}  // namespace kiv::cycles
