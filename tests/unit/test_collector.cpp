// The collector: reachability, the native stack scan and pinning, compaction,
// big buffers, frame release, node-frame evacuation, tables, callbacks and
// stress mode.
#include <cstring>
#include <string>

#include "runtime/cycles.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/ownership.h"
#include "runtime/runtime.h"
#include "runtime/unicode.h"
#include "tests/unit/collector_fixture.h"

using namespace kiv;
using namespace kiv::test;

using Collector = CollectorTest;

namespace {

kiv_value ints(int from, int count) {
    std::vector<kiv_value> cells;
    for (int i = 0; i < count; i++) cells.push_back(int_value(from + i));
    return block_of(cells);
}

bool ints_q(const kiv_value& blk, int from, int count) {
    if (int(length_of(blk)) != count) return false;
    for (int i = 0; i < count; i++)
        if (cells_of(blk)[i].header != TYPE_INTEGER || int_of(cells_of(blk)[i]) != from + i) return false;
    return true;
}

KIV_NOINLINE void make_garbage(int count) {
    for (int i = 0; i < count; i++) ints(i, 8);
}

// A cycle that moves what start-up left where compaction puts it, so that
// the next cycle moves only the buffers a test makes.
void settle_heap() {
    scrub_stack();
    collector::do_cycle();
}

KIV_NOINLINE void keep_ints(int from, int count) { kept_values().push_back(ints(from, count)); }

series_buffer* buffer_of_kept(size_t i) { return series::buffer(kept_values()[i].data2); }

KIV_NOINLINE bool same_frame_q(size_t a, size_t b) {
    return frame_holding(buffer_of_kept(a)) == frame_holding(buffer_of_kept(b));
}

// A block ["text-N" [N .. N+3] word] whose word is bound to ctx, and its check.
kiv_value probe(int n, node_id ctx, int32_t symbol) {
    kiv_value s = str(("text-" + std::to_string(n)).c_str());
    kiv_value inner = ints(n, 4);
    kiv_value w{TYPE_WORD, ctx, uint32_t(symbol), uint32_t(_context::find_word(ctx, symbol, true))};
    return block_of({s, inner, w});
}

bool probe_q(const kiv_value& blk, int n, int32_t symbol, int32_t value) {
    if (length_of(blk) != 3) return false;
    kiv_value* c = cells_of(blk);
    if (type_of(&c[0]) != TYPE_STRING || text_of(c[0]) != "text-" + std::to_string(n)) return false;
    if (!ints_q(c[1], n, 4)) return false;
    if (type_of(&c[2]) != TYPE_WORD || int32_t(c[2].data2) != symbol) return false;
    kiv_value* v = _context::get(&c[2]);
    return type_of(v) == TYPE_INTEGER && int_of(*v) == value;
}

node_id context_with(int32_t symbol, int32_t value) {
    node_id ctx = _context::create(4, false, true, 0, CTX_OBJECT);
    kiv_value w{TYPE_WORD, 0, uint32_t(symbol), 0}, v = int_value(value);
    _context::add_with_value(ctx, &w, &v);
    return ctx;
}

}  // namespace

TEST_F(Collector, UnreachableSeriesAreFreedAndTheirNodesReturned) {
    collector::scan_native_q = false;
    size_t live = keep(ints(100, 5));
    std::vector<node_id> dead;
    for (int i = 0; i < 40; i++) {
        dead.push_back(ints(i, 6).data2);
        dead.push_back(str("garbage").data2);
    }
    uint32_t before = collector::stats().cycles;
    collector::do_cycle();
    EXPECT_EQ(collector::stats().cycles, before + 1);
    for (node_id n : dead) EXPECT_TRUE(node_freed_q(n)) << n;
    EXPECT_GE(collector::last_cycle().freed_nodes, dead.size());
    EXPECT_TRUE(ints_q(kept(live), 100, 5));
    EXPECT_TRUE(collector::verify_heap());
}

TEST_F(Collector, ReachableFromRootArgumentStackAndContextSurvive) {
    collector::scan_native_q = false;
    // From the root block.
    kiv_value from_root = ints(1, 3);
    *block::alloc_tail(&runtime::root) = from_root;
    // From the argument stack.
    kiv_value on_stack = block_of({ints(10, 2), str("stacked")});
    stack::push_value(&on_stack);
    // From a context, through a word bound to it.
    int32_t sym = symbol::make("gc-field");
    node_id ctx = _context::create(4, false, true, 0, CTX_OBJECT);
    kiv_value field{TYPE_WORD, 0, uint32_t(sym), 0}, value = block_of({str("in-context")});
    _context::add_with_value(ctx, &field, &value);
    keep(kiv_value{TYPE_WORD, ctx, uint32_t(sym), uint32_t(_context::find_word(ctx, sym, true))});
    // A string's export scratch buffer.
    kiv_value exported = str("exported");
    int32_t count = -1;
    unicode::to_utf8(&exported, &count);
    keep(exported);
    node_id scratch = exported.data3;
    ASSERT_NE(scratch, 0u);

    make_garbage(30);
    collector::do_cycle();
    collector::do_cycle();

    EXPECT_TRUE(ints_q(from_root, 1, 3));
    kiv_value* pushed = stack::top - 1;
    EXPECT_TRUE(ints_q(cells_of(*pushed)[0], 10, 2));
    EXPECT_EQ(text_of(cells_of(*pushed)[1]), "stacked");
    kiv_value* held = _context::get(&kept(0));
    ASSERT_EQ(type_of(held), uint32_t(TYPE_BLOCK));
    EXPECT_EQ(text_of(cells_of(*held)[0]), "in-context");
    EXPECT_FALSE(node_freed_q(scratch));
    EXPECT_STREQ(reinterpret_cast<const char*>(series::buffer(kept(1).data3)->offset), "exported");
    EXPECT_TRUE(collector::verify_heap());

    // Once dropped from the stack and the root, they go.
    node_id stack_node = on_stack.data2, root_node = from_root.data2;
    stack::pop(1);
    series::buffer(runtime::root.data2)->tail -= sizeof(kiv_value);
    collector::do_cycle();
    EXPECT_TRUE(node_freed_q(stack_node));
    EXPECT_TRUE(node_freed_q(root_node));
}

TEST_F(Collector, NodeHeldInANativeLocalSurvivesWithItsValues) {
    collector::scan_native_q = true;
    make_garbage(20);
    volatile node_id held = block_of({ints(7, 3), str("held")}).data2;
    scrub_stack();
    collector::do_cycle();
    ASSERT_FALSE(node_freed_q(held));
    kiv_value blk{TYPE_BLOCK, 0, held, 0};
    EXPECT_TRUE(ints_q(cells_of(blk)[0], 7, 3));
    EXPECT_EQ(text_of(cells_of(blk)[1]), "held");
    EXPECT_TRUE(collector::verify_heap());
}

// Optimised code may keep only a node's byte offset among the node slots
// (id times the slot size) and index the slots with it.
TEST_F(Collector, NodeHeldAsItsSlotOffsetSurvives) {
    collector::scan_native_q = true;
    make_garbage(20);
    volatile uintptr_t offset = uintptr_t(block_of({ints(5, 2)}).data2) * sizeof(uintptr_t);
    scrub_stack();
    collector::do_cycle();
    node_id held = node_id(offset / sizeof(uintptr_t));
    ASSERT_FALSE(node_freed_q(held));
    EXPECT_TRUE(ints_q(cells_of(kiv_value{TYPE_BLOCK, 0, held, 0})[0], 5, 2));
    EXPECT_TRUE(collector::verify_heap());
}

TEST_F(Collector, CompactionMovesBuffersAndRewritesNodes) {
    collector::scan_native_q = false;
    make_garbage(30);
    keep_ints(500, 20);
    auto before = reinterpret_cast<uintptr_t>(buffer_of_kept(0));
    collector::do_cycle();
    auto after = reinterpret_cast<uintptr_t>(buffer_of_kept(0));
    EXPECT_LT(after, before);
    EXPECT_GT(collector::last_cycle().moved_buffers, 0u);
    series_buffer* b = buffer_of_kept(0);
    EXPECT_EQ(b->node, kept(0).data2);
    EXPECT_EQ(b->offset, data_of(b));
    EXPECT_TRUE(ints_q(kept(0), 500, 20));
    EXPECT_TRUE(collector::verify_heap());
}

TEST_F(Collector, RawPointerPinsItsBufferAndKeepsItsValues) {
    collector::scan_native_q = true;
    make_garbage(30);
    // Only a pointer into the cells is left: no node, no root.
    kiv_value* volatile cell = cells_of(block_of({str("pinned"), ints(3, 2)}));
    make_garbage(10);
    scrub_stack();
    collector::do_cycle();
    auto* b = reinterpret_cast<series_buffer*>(reinterpret_cast<uint8_t*>(cell) - sizeof(series_buffer));
    EXPECT_TRUE(b->flags & SERIES_IN_USE);
    EXPECT_EQ(series::buffer(b->node), b);  // still where it was
    EXPECT_EQ(text_of(cell[0]), "pinned");
    EXPECT_TRUE(ints_q(cell[1], 3, 2));
    EXPECT_TRUE(collector::verify_heap());
}

TEST_F(Collector, RunsSlideAroundAPinnedBuffer) {
    collector::scan_native_q = true;
    settle_heap();
    make_garbage(20);
    keep_ints(0, 4);
    make_garbage(20);
    keep_ints(100, 4);
    series_buffer* volatile pinned = buffer_of_kept(1);
    make_garbage(20);
    keep_ints(200, 4);
    series_frame* frame = frame_holding(pinned);
    ASSERT_TRUE(same_frame_q(1, 2));
    uint8_t* heap = frame->heap;
    scrub_stack();
    collector::do_cycle();
    EXPECT_EQ(buffer_of_kept(1), pinned);
    EXPECT_LT(frame->heap, heap);  // what lay after the pinned buffer slid down
    // A run may also move into the free tail of the frame before; frames lie
    // anywhere in memory, so only within one frame do addresses tell order.
    if (frame_holding(buffer_of_kept(2)) == frame)
        EXPECT_GT(reinterpret_cast<uintptr_t>(buffer_of_kept(2)), reinterpret_cast<uintptr_t>(pinned));
    EXPECT_TRUE(ints_q(kept(0), 0, 4));
    EXPECT_TRUE(ints_q(kept(1), 100, 4));
    EXPECT_TRUE(ints_q(kept(2), 200, 4));
    EXPECT_GT(collector::last_cycle().pinned_buffers, 0u);
    EXPECT_TRUE(collector::verify_heap());
}

TEST_F(Collector, BigBuffersAreSwept) {
    collector::scan_native_q = false;
    node_id dead = memory::alloc_bytes(3 << 20);
    ASSERT_TRUE(series::buffer(dead)->flags & SERIES_BIG);
    kiv_value live{TYPE_BINARY, 0, memory::alloc_bytes(3 << 20), 0};
    series_buffer* lb = series::buffer(live.data2);
    std::memset(lb->offset, 0x5A, 1000);
    lb->tail = lb->offset + 1000;
    keep(live);
    auto big_count = [] {
        size_t n = 0;
        for (big_block* b = mem.big_head; b; b = b->next) n++;
        return n;
    };
    size_t before = big_count();
    size_t total = mem.total;
    collector::do_cycle();
    EXPECT_EQ(big_count(), before - 1);
    EXPECT_LT(mem.total, total);
    EXPECT_TRUE(node_freed_q(dead));
    series_buffer* b = series::buffer(kept(0).data2);
    EXPECT_EQ(b, lb);
    EXPECT_FALSE(b->flags & SERIES_MARK);
    EXPECT_EQ(b->offset[999], 0x5A);
    EXPECT_EQ(collector::last_cycle().freed_big, 1u);
    EXPECT_TRUE(collector::verify_heap());
}

TEST_F(Collector, AnEmptySeriesFrameIsReleased) {
    collector::scan_native_q = false;
    size_t frames = series_frame_count();
    // Garbage enough for two more frames.
    for (int i = 0; i < 80; i++) memory::alloc_bytes(60000);
    ASSERT_GT(series_frame_count(), frames);
    keep_ints(9, 3);
    size_t total = mem.total;
    collector::do_cycle();
    EXPECT_GT(collector::last_cycle().released_frames, 0u);
    EXPECT_LT(series_frame_count(), frames + 2);
    EXPECT_LT(mem.total, total);
    EXPECT_TRUE(ints_q(kept(0), 9, 3));
    EXPECT_TRUE(collector::verify_heap());
}

namespace {

// Fills node frames with garbage, leaving every 200th slot's series alive (a
// probe of the context, the context itself in the middle), then collects
// until a node frame has been evacuated. Returns the evacuation cycles seen.
struct evacuation_setup {
    std::vector<int> tags;     // tag of kept value i
    size_t ctx_word = 0;       // kept index of a word bound to the probes' context
    int32_t sym = 0;
    node_id owner_ctx = 0;
};

KIV_NOINLINE void fill_frames(evacuation_setup& s, int count) {
    s.sym = symbol::make("gc-probe-field");
    node_id ctx = 0;
    for (int i = 0; i < count; i++) {
        if (i == count / 2) {
            ctx = context_with(s.sym, 4242);
            kept_values().push_back(kiv_value{TYPE_WORD, ctx, uint32_t(s.sym), 0});
            s.ctx_word = kept_values().size() - 1;
            s.tags.push_back(-1);
        }
        if (i % 200 == 199 && ctx) {
            kept_values().push_back(probe(i, ctx, s.sym));
            s.tags.push_back(i);
        } else {
            memory::alloc_bytes(8);
        }
    }
}

bool all_probes_q(const evacuation_setup& s) {
    for (size_t i = 0; i < s.tags.size(); i++)
        if (s.tags[i] >= 0 && !probe_q(kept_values()[i], s.tags[i], s.sym, 4242)) return false;
    return true;
}

}  // namespace

TEST_F(Collector, NodeFrameEvacuationRewritesEveryReference) {
    collector::scan_native_q = false;
    evacuation_setup s;
    fill_frames(s, 36000);
    size_t any_probe = s.tags.size() - 1;
    // Bound to an owner, and on the cycle stack: both follow the move.
    kiv_value owner = kept(s.ctx_word);
    owner.header = TYPE_OBJECT;
    owner.data3 = 0;
    size_t owner_index = keep(owner);
    kiv_value fw{TYPE_WORD, 0, uint32_t(s.sym), 0};
    ownership::bind(&kept(any_probe), &kept(owner_index), &fw);
    cycles::push(kept(any_probe).data2);

    std::vector<node_id> old_nodes;
    for (const kiv_value& v : kept_values()) old_nodes.push_back(v.data2);
    // Sparse frames left by earlier tests of the same process may be
    // evacuated first: cycles go on until one of these frames has moved.
    auto moved_count = [&] {
        size_t moved = 0;
        for (size_t i = 0; i < old_nodes.size(); i++)
            if (kept(i).data2 != old_nodes[i]) moved++;
        return moved;
    };
    uint32_t evacuations = collector::stats().nodes_cycles;
    for (int i = 0; i < 48 && (collector::stats().nodes_cycles == evacuations || moved_count() == 0); i++)
        collector::do_cycle();
    ASSERT_GT(collector::stats().nodes_cycles, evacuations);
    EXPECT_GT(moved_count(), 0u);
    EXPECT_TRUE(all_probes_q(s));
    kiv_value* v = _context::get(&kept(s.ctx_word));
    EXPECT_EQ(int_of(*v), 4242);
    EXPECT_TRUE(cycles::find_q(kept(any_probe).data2));
    cycles::pop();
    kiv_value* entry = ownership::owner_of(kept(any_probe).data2);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->data1, kept(owner_index).data1);
    EXPECT_TRUE(collector::verify_heap());
    collector::do_cycle();
    EXPECT_TRUE(all_probes_q(s));
}

TEST_F(Collector, ANodeOnTheNativeStackKeepsItsFrameInPlace) {
    collector::scan_native_q = true;
    evacuation_setup s;
    // Frames past the fourth: their node ids are above the high half of any
    // user-space address, so no stray stack word keeps them by chance.
    fill_frames(s, 70000);
    size_t last = s.tags.size() - 1;
    volatile node_id held = kept(last).data2;
    node_frame* frame = memory::frame_of_node(held);
    ASSERT_NE(frame, nullptr);
    ASSERT_GE(frame->index, 4u);
    uint32_t evacuations = collector::stats().nodes_cycles;
    for (int i = 0; i < 12; i++) {
        scrub_stack();
        collector::do_cycle();
    }
    EXPECT_GT(collector::stats().nodes_cycles, evacuations);  // its neighbours went
    EXPECT_EQ(memory::frame_of_node(held), frame);
    EXPECT_FALSE(frame->doomed);
    EXPECT_EQ(kept(last).data2, held);
    EXPECT_TRUE(all_probes_q(s));
    EXPECT_TRUE(collector::verify_heap());
}

// A hash!'s chains of duplicate keys stay alive when their list was marked
// before the table (as when the native stack holds the list).
TEST_F(Collector, ChainsSurviveWhenTheirListIsMarkedFirst) {
    collector::scan_native_q = false;
    kiv_value blk = block_of({int_value(1), int_value(2), int_value(1), int_value(2), int_value(1)});
    node_id table = hashtable::init(8, &blk, hashtable::KIND_HASH, 0);
    node_id chains = hashtable::record(table)->chains;
    keep(kiv_value{TYPE_STRING, 0, chains, 0});  // reaches the list first
    size_t at = keep(kiv_value{TYPE_HASH, 0, blk.data2, table});
    ASSERT_GT(series::used_units(series::buffer(chains)), 0u);
    make_garbage(20);
    collector::do_cycle();
    series_buffer* list = series::buffer(hashtable::record(kept(at).data3)->chains);
    for (auto* c = reinterpret_cast<node_id*>(list->offset); c < reinterpret_cast<node_id*>(list->tail); c++)
        EXPECT_FALSE(node_freed_q(*c));
    kiv_value key = int_value(2);
    EXPECT_NE(hashtable::get(kept(at).data3, &key, 0, 1, COMP_EQUAL, false, false), nullptr);
}

TEST_F(Collector, HashTablesOfEveryKindSurvive) {
    collector::scan_native_q = false;
    // hash!: positions of integer keys.
    kiv_value hblk = ints(0, 60);
    keep(kiv_value{TYPE_HASH, 0, hblk.data2, hashtable::init(60, &hblk, hashtable::KIND_HASH, 0)});
    // map!: integer keys, string values.
    std::vector<kiv_value> pairs;
    for (int i = 0; i < 30; i++) {
        pairs.push_back(int_value(1000 + i));
        pairs.push_back(str(("v" + std::to_string(i)).c_str()));
    }
    kiv_value mblk = block_of(pairs);
    keep(kiv_value{TYPE_MAP, 0, mblk.data2, hashtable::init(30, &mblk, hashtable::KIND_MAP, 0)});
    // Symbols and a context.
    std::vector<int32_t> syms;
    node_id ctx = _context::create(8, false, true, 0, CTX_OBJECT);
    keep(kiv_value{TYPE_OBJECT, ctx, 0, 0});
    for (int i = 0; i < 40; i++) {
        int32_t sym = symbol::make(("gc-sym-" + std::to_string(i)).c_str());
        syms.push_back(sym);
        kiv_value w{TYPE_WORD, 0, uint32_t(sym), 0}, v = int_value(i * 3);
        _context::add_with_value(ctx, &w, &v);
    }
    // A table keyed by node.
    node_id nodes = hashtable::init(4, nullptr, hashtable::KIND_NODES, 1);
    kept_tables().push_back(nodes);
    size_t first_key = kept_values().size();
    for (int i = 0; i < 50; i++) {
        kiv_value k = ints(i, 1);
        keep(k);
        *hashtable::put_index(kept_tables()[0], k.data2) = int_value(i);
    }

    for (int round = 0; round < 5; round++) {
        make_garbage(50);
        collector::do_cycle();
    }

    kiv_value h = kept(0), m = kept(1);
    for (int i = 0; i < 60; i++) {
        kiv_value key = int_value(i);
        kiv_value* at = hashtable::get(h.data3, &key, 0, 1, COMP_EQUAL, false, false);
        ASSERT_NE(at, nullptr);
        EXPECT_EQ(at - cells_of(h), i);
    }
    for (int i = 0; i < 30; i++) {
        kiv_value key = int_value(1000 + i);
        kiv_value* at = hashtable::get(m.data3, &key, 0, 1, COMP_EQUAL, false, false);
        ASSERT_NE(at, nullptr);
        EXPECT_EQ(text_of(at[1]), "v" + std::to_string(i));
    }
    for (int i = 0; i < 40; i++) {
        EXPECT_EQ(symbol::make(("gc-sym-" + std::to_string(i)).c_str()), syms[i]);
        EXPECT_STREQ(symbol::name_of(syms[i]), ("gc-sym-" + std::to_string(i)).c_str());
        int32_t index = _context::find_word(kept(2).data1, syms[i], true);
        ASSERT_GE(index, 0);
        EXPECT_EQ(int_of(*context::heap_value_ref(kept(2).data1, uint32_t(index))), i * 3);
    }
    for (int i = 0; i < 50; i++) {
        kiv_value* entry = hashtable::find_ptr(kept_tables()[0], kept(first_key + i).data2);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(int_of(*entry), i);
    }
    // Every global word of the registry still resolves to its entry.
    for (uint32_t id = 1; id <= datatype::top_id; id++) {
        const kiv_value& w = datatype::table[id].word;
        if (!datatype::table[id].name || type_of(&w) != TYPE_WORD) continue;
        EXPECT_EQ(w.data1, _context::global);
        EXPECT_EQ(_context::find_word(_context::global, int32_t(w.data2), true), int32_t(w.data3));
    }
    EXPECT_TRUE(collector::verify_heap());
}

namespace {
std::vector<int> calls;
void first_callback() { calls.push_back(1); }
void second_callback() { calls.push_back(2); }
void never_added() {}
void noop_callback() {}
}  // namespace

TEST_F(Collector, MarkCallbacksRunInOrderAndCanBeRemoved) {
    collector::scan_native_q = false;
    calls.clear();
    collector::add_mark_callback(first_callback);
    collector::add_mark_callback(second_callback);
    collector::do_cycle();
    EXPECT_EQ(calls, (std::vector<int>{1, 2}));
    collector::remove_mark_callback(first_callback);
    collector::remove_mark_callback(never_added);
    calls.clear();
    collector::do_cycle();
    EXPECT_EQ(calls, (std::vector<int>{2}));
    collector::remove_mark_callback(second_callback);
}

TEST(CollectorDeathTest, MarkCallbackOverflowIsRefused) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            for (uint32_t i = 0; i <= collector::MAX_CALLBACKS; i++) collector::add_mark_callback(noop_callback);
        },
        "mark callbacks: all 100 entries used");
}

TEST_F(Collector, StressModeComesFromTheEnvironmentAndPoisonsVacatedSpace) {
    setenv("KIV_GC_STRESS", "1", 1);
    collector::init();
    EXPECT_TRUE(collector::stress_q());
    EXPECT_TRUE(memory::collect_always);
    unsetenv("KIV_GC_STRESS");
    collector::init();
    EXPECT_FALSE(collector::stress_q());

    collector::scan_native_q = false;
    settle_heap();
    collector::set_stress(true);  // the collector stays inactive: only this cycle runs
    keep_ints(1, 2);
    make_garbage(20);
    series_frame* f = mem.series_active;
    uint8_t* old_heap = f->heap;
    collector::do_cycle();
    ASSERT_LT(f->heap, old_heap);
    for (uint8_t* p = f->heap; p < old_heap; p++) ASSERT_EQ(*p, collector::POISON);
    EXPECT_TRUE(ints_q(kept(0), 1, 2));
}

TEST_F(Collector, InactiveCollectorNeverCollectsOnAllocation) {
    collector::active_q = false;
    uint32_t before = collector::stats().cycles;
    for (int i = 0; i < 200; i++) memory::alloc_bytes(50000);
    EXPECT_EQ(collector::stats().cycles, before);
    collector::active_q = true;
    collector::scan_native_q = false;
    for (int i = 0; i < 200; i++) memory::alloc_bytes(50000);
    EXPECT_GT(collector::stats().cycles, before);
}

namespace {

struct stress_data {
    std::vector<int32_t> syms;
    std::vector<size_t> words;  // kept indexes of words bound to contexts
    size_t nested = 0;
    size_t strings = 0;
    size_t big_context = 0;  // a word of a context of many fields
    size_t hashed = 0;       // a hash! of integers
    size_t keys = 0;         // first of the series keying the node table
};

constexpr int STRESS_SYMBOLS = 300, STRESS_CONTEXTS = 8, STRESS_FIELDS = 12, STRESS_STRINGS = 30;
constexpr int STRESS_DEPTH = 8, STRESS_KEYS = 80;

std::string stress_name(int i) { return "stress-" + std::to_string(i); }

KIV_NOINLINE void build_under_stress(stress_data& d) {
    for (int i = 0; i < STRESS_SYMBOLS; i++) d.syms.push_back(symbol::make(stress_name(i).c_str()));
    for (int c = 0; c < STRESS_CONTEXTS; c++) {
        node_id ctx = _context::create(4, false, true, 0, CTX_OBJECT);
        for (int f = 0; f < STRESS_FIELDS; f++) {
            int32_t sym = d.syms[size_t(c * STRESS_FIELDS + f)];
            kiv_value w{TYPE_WORD, 0, uint32_t(sym), 0};
            kiv_value v = block_of({int_value(c * 100 + f), str(("field-" + std::to_string(f)).c_str())});
            _context::add_with_value(ctx, &w, &v);
            kept_values().push_back(kiv_value{TYPE_WORD, ctx, uint32_t(sym), uint32_t(f)});
            d.words.push_back(kept_values().size() - 1);
        }
    }
    // One context whose word table grows many times.
    node_id wide = _context::create(4, false, true, 0, CTX_OBJECT);
    for (int i = 0; i < STRESS_SYMBOLS; i++) {
        kiv_value w{TYPE_WORD, 0, uint32_t(d.syms[size_t(i)]), 0}, v = int_value(-i);
        _context::add_with_value(wide, &w, &v);
    }
    kept_values().push_back(kiv_value{TYPE_OBJECT, wide, 0, 0});
    d.big_context = kept_values().size() - 1;
    kiv_value hblk = ints(0, 100);
    kept_values().push_back(hblk);
    kept_values().back() = kiv_value{TYPE_HASH, 0, hblk.data2, hashtable::init(100, &hblk, hashtable::KIND_HASH, 0)};
    d.hashed = kept_values().size() - 1;
    // A table keyed by node, grown from its smallest size.
    kept_tables().push_back(hashtable::init(4, nullptr, hashtable::KIND_NODES, 1));
    d.keys = kept_values().size();
    for (int i = 0; i < STRESS_KEYS; i++) {
        kiv_value k = str("key");
        kept_values().push_back(k);
        *hashtable::put_index(kept_tables().back(), k.data2) = int_value(i);
    }
    d.strings = kept_values().size();
    for (int i = 0; i < STRESS_STRINGS; i++) {
        kiv_value s = str("s-");
        for (int k = 0; k < i; k++) string::concatenate_literal(&s, "abcdefgh");
        kept_values().push_back(s);
    }
    // Nested, each level [level "name" inner].
    kiv_value inner = str("bottom");
    for (int level = 0; level < STRESS_DEPTH; level++)
        inner = block_of({int_value(level), str(("level-" + std::to_string(level)).c_str()), inner});
    kept_values().push_back(inner);
    d.nested = kept_values().size() - 1;
}

}  // namespace

TEST_F(Collector, StressModeKeepsEverythingIntact) {
    collector::scan_native_q = true;
    collector::set_stress(true);
    collector::active_q = true;
    uint32_t before = collector::stats().cycles;
    stress_data d;
    build_under_stress(d);
    collector::active_q = false;
    collector::set_stress(false);
    EXPECT_GT(collector::stats().cycles, before + 500);

    for (int i = 0; i < STRESS_SYMBOLS; i++) {
        EXPECT_STREQ(symbol::name_of(d.syms[size_t(i)]), stress_name(i).c_str());
        EXPECT_EQ(symbol::make(stress_name(i).c_str()), d.syms[size_t(i)]);
    }
    for (size_t k = 0; k < d.words.size(); k++) {
        kiv_value* v = _context::get(&kept(d.words[k]));
        ASSERT_EQ(type_of(v), uint32_t(TYPE_BLOCK));
        int c = int(k) / STRESS_FIELDS, f = int(k) % STRESS_FIELDS;
        EXPECT_EQ(int_of(cells_of(*v)[0]), c * 100 + f);
        EXPECT_EQ(text_of(cells_of(*v)[1]), "field-" + std::to_string(f));
    }
    node_id wide = kept(d.big_context).data1;
    for (int i = 0; i < STRESS_SYMBOLS; i++) {
        int32_t index = _context::find_word(wide, d.syms[size_t(i)], true);
        ASSERT_EQ(index, i);
        EXPECT_EQ(int_of(*context::heap_value_ref(wide, uint32_t(index))), -i);
    }
    for (int i = 0; i < 100; i++) {
        kiv_value key = int_value(i);
        kiv_value* at = hashtable::get(kept(d.hashed).data3, &key, 0, 1, COMP_EQUAL, false, false);
        ASSERT_NE(at, nullptr);
        EXPECT_EQ(at - cells_of(kept(d.hashed)), i);
    }
    for (int i = 0; i < STRESS_KEYS; i++) {
        kiv_value* entry = hashtable::find_ptr(kept_tables().back(), kept(d.keys + size_t(i)).data2);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(int_of(*entry), i);
        EXPECT_EQ(text_of(kept(d.keys + size_t(i))), "key");
    }
    for (int i = 0; i < STRESS_STRINGS; i++) {
        std::string expected = "s-";
        for (int k = 0; k < i; k++) expected += "abcdefgh";
        EXPECT_EQ(text_of(kept(d.strings + size_t(i))), expected);
    }
    kiv_value level = kept(d.nested);
    for (int l = STRESS_DEPTH - 1; l >= 0; l--) {
        ASSERT_EQ(length_of(level), 3u);
        EXPECT_EQ(int_of(cells_of(level)[0]), l);
        EXPECT_EQ(text_of(cells_of(level)[1]), "level-" + std::to_string(l));
        level = cells_of(level)[2];
    }
    EXPECT_EQ(text_of(level), "bottom");
    EXPECT_TRUE(collector::verify_heap());
}
