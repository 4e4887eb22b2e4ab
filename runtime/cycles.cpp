// The cycle stack of form and mold.
#include "runtime/cycles.h"

#include <cstring>

#include "runtime/collector.h"
#include "runtime/datatypes/string.h"
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

bool detect_q(const kiv_value* value, kiv_value* buffer, int32_t* part, bool mold) {
    uint32_t t = type_of(value);
    node_id node = t == TYPE_OBJECT ? value->data1 : value->data2;
    if (!find_q(node)) return false;
    const char* mark = "...";
    if (mold) {
        switch (t) {
            case TYPE_BLOCK: case TYPE_HASH: mark = "[...]"; break;
            case TYPE_PAREN: mark = "(...)"; break;
            case TYPE_MAP: mark = "#[...]"; break;
            case TYPE_OBJECT: mark = "make object! [...]"; break;
            default: break;
        }
    }
    string::concatenate_literal(buffer, mark);
    *part -= int32_t(std::strlen(mark));
    return true;
}

void mark_all() { collector::update_pointers(base, current); }

}  // namespace kiv::cycles
