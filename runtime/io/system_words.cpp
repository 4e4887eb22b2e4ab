// `system/words` and `system/state/GC`.
#include "runtime/io/system_words.h"

#include "runtime/boot.h"
#include "runtime/collector.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"

namespace kiv {

void system_words::init() {
    kiv_value words{TYPE_OBJECT, _context::global, uint32_t(-1), 0};
    *_context::self_of(_context::global) = words;
    *boot::field(boot::system_object(), "words") = words;
}

namespace {

void active_q() { logic::box(collector::active_q); }
void series_cycles() { integer::return_(int32_t(collector::stats().cycles)); }
void nodes_cycles() { integer::return_(int32_t(collector::stats().nodes_cycles)); }

}  // namespace

void gc_state::init() {
    kiv_value gc = *boot::field(boot::field(boot::system_object(), "state"), "GC");
    boot::bind_routine(&gc, "active?", active_q);
    boot::bind_routine(&gc, "series-cycles", series_cycles);
    boot::bind_routine(&gc, "nodes-cycles", nodes_cycles);
}

}  // namespace kiv
