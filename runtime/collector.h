#pragma once
// The collector: stop-the-world mark and compact.
//
// Marking sets SERIES_MARK on every buffer a root reaches. Roots are the root
// block, the symbol and ownership tables, the argument stack and call frames,
// the global context, the datatype table's words, the value slot pool, the
// registered mark callbacks, and the native stack, scanned conservatively:
// a stack word whose low or high 32 bits are a node in use (or that points
// into the node region) marks that node with its contents; a stack word that
// points into a series buffer pins that buffer, which is marked and stays
// where it is for this cycle. So a raw pointer into a buffer held by a C++
// local stays valid across an allocation (not across an expansion of that
// same series, which replaces the buffer).
//
// Compaction slides the live buffers of each series frame down, or into the
// free tail of the previous frame, around pinned buffers, and rewrites each
// moved buffer's node. Sparsely used node frames are evacuated: their nodes
// move to other frames and every node reference that marking reaches is
// rewritten through a forwarding map; a frame holding a node seen on the
// native stack is never evacuated in that cycle.
//
// Values held anywhere else than series cells, the argument stack, the root
// block and the tables above must be marked by a mark callback.
#include <cstdint>

#include "runtime/memory.h"
#include "runtime/runtime.h"
#include "runtime/value.h"

namespace kiv::collector {

constexpr uint32_t MAX_CALLBACKS = 100;
constexpr uint32_t HISTORY_DEPTH = 5;        // a frame stable over depth + 1 cycles may be evacuated
constexpr uint32_t QUEUE_SIZE = 20000;       // freed nodes batched before returning them
constexpr uint32_t FORWARD_SIZE = 20000;     // entries the forwarding map starts with
constexpr uint32_t EVACUATE_BELOW = 5000;    // used nodes of an evacuation candidate
constexpr uint32_t EVACUATE_SPARE = 10000;   // free nodes needed elsewhere per evacuation
constexpr uint8_t POISON = 0xDB;             // fills vacated space in stress mode

// Node-frame evacuation is planned only while this is set; rebuilding a table
// keyed by node clears it (see compaction_guard).
extern bool node_compaction;
// Stress mode: collect and compact at every allocation while the collector
// is active, poisoning vacated space. KIV_GC_STRESS=1 in the environment
// turns it on at start-up.
bool stress_q();
void set_stress(bool on);
// Whether cycles scan the native stack. Always on in the runtime; tests that
// check exact reclamation turn it off so that stray integers on the stack
// cannot keep their series alive.
extern bool scan_native_q;

struct stats_record {
    uint32_t cycles;        // collections completed
    uint32_t nodes_cycles;  // collections that evacuated node frames
};
stats_record stats();

// What the last cycle did.
struct cycle_report {
    uint32_t freed_nodes;
    uint32_t moved_buffers;
    uint32_t pinned_buffers;
    uint32_t released_frames;  // series frames emptied and given back
    uint32_t freed_big;
    uint32_t evacuated_frames;
};
const cycle_report& last_cycle();

// Called last by runtime initialisation: installs the allocator's hook.
void init();
// The allocator's hook: one cycle when the collector is active.
void check();
// One full cycle, whether the collector is active or not.
void do_cycle();

// Functions called in every mark phase, in registration order. Registering
// past MAX_CALLBACKS is a fatal runtime error (94, out of memory): the table
// is fixed and removed entries are never reused.
using mark_callback = void (*)();
void add_mark_callback(mark_callback fn);
void remove_mark_callback(mark_callback fn);

// Marking, for the mark phase and mark callbacks. Slots are rewritten when
// their node was evacuated this cycle.
bool mark_node(node_id* slot);  // the buffer only; true when newly marked
void unmark_node(node_id node);
void mark_series(node_id* slot);  // the buffer and what it holds
inline void mark_block(kiv_value* value) { mark_series(&value->data2); }
void mark_context(node_id* slot);  // ignores a node that is not a context
void mark_values(kiv_value* first, kiv_value* end);
bool marked_q(node_id node);
// The node's new id when its frame was evacuated this cycle, else the node.
node_id forward(node_id node);

// Freed nodes go back to their frames in batches, in address order.
void queue_pointer(node_id node);
void flush_queue();
// Rewrites every word of the range that names an evacuated node.
void update_pointers(node_id* first, node_id* end);

// The image code's own marking of an image! value (its bitmap's node or
// external slot, whichever its cell holds); null until image! exists.
extern void (*image_mark)(kiv_value* image);

// Consistency check of every frame and node (tests, stress runs): each
// buffer walkable with the frame stride, each buffer in use named by its
// node and each used node naming a buffer that names it back, no mark left.
bool verify_heap();

// Keeps node frames from being evacuated while a table keyed by node is
// rebuilt, on every way out.
class compaction_guard {
  public:
    compaction_guard() : saved_(node_compaction) { node_compaction = false; }
    ~compaction_guard() { node_compaction = saved_; }
    compaction_guard(const compaction_guard&) = delete;
    compaction_guard& operator=(const compaction_guard&) = delete;

  private:
    bool saved_;
};

}  // namespace kiv::collector
