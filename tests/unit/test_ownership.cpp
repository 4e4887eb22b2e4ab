// The ownership table: binding nested series to an owner object, the change
// check, unbinding, and entries dropped with their series or owner.
#include <vector>

#include "runtime/cycles.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/hashtable.h"
#include "runtime/ownership.h"
#include "tests/unit/collector_fixture.h"

using namespace kiv;
using namespace kiv::test;

namespace {

// An object! with the given fields, with a change-handler record or not.
kiv_value object_of(const std::vector<std::pair<const char*, kiv_value>>& fields, bool handlers) {
    node_id ctx = _context::create(4, false, true, 0, CTX_OBJECT);
    for (const auto& [name, value] : fields) {
        kiv_value w{TYPE_WORD, 0, uint32_t(symbol::make(name)), 0};
        _context::add_with_value(ctx, &w, &value);
    }
    node_id record = handlers ? memory::alloc_cells(2) : 0;
    return kiv_value{TYPE_OBJECT, ctx, 1000001, record};
}

kiv_value word_named(const char* name) { return kiv_value{TYPE_WORD, 0, uint32_t(symbol::make(name)), 0}; }

bool owned_q(const kiv_value& v) { return series::buffer(v.data2)->flags & SERIES_OWNED; }

struct notification {
    kiv_value owner, word, value;
    int32_t action, index, part;
};
std::vector<notification> notified;
void record_notification(kiv_value* owner, kiv_value* word, kiv_value* value, int32_t action, kiv_value*,
                         int32_t index, int32_t part) {
    notified.push_back({*owner, *word, *value, action, index, part});
}

class Ownership : public CollectorTest {
  protected:
    ownership::notify_fn saved_notify = nullptr;
    void SetUp() override {
        CollectorTest::SetUp();
        cycles::reset();
        notified.clear();
        saved_notify = ownership::fire_on_deep_change;
        ownership::fire_on_deep_change = record_notification;
    }
    void TearDown() override {
        ownership::fire_on_deep_change = saved_notify;
        CollectorTest::TearDown();
    }
};

}  // namespace

TEST_F(Ownership, BindingReachesNestedSeries) {
    kiv_value inner = block_of({str("deep")});
    kiv_value outer = block_of({str("text"), inner, int_value(3)});
    kiv_value owner = object_of({{"data", outer}}, true);
    kiv_value w = word_named("data");
    ownership::set(&outer, &owner, &w);
    for (const kiv_value& v : {outer, cells_of(outer)[0], inner, cells_of(inner)[0]}) {
        EXPECT_TRUE(owned_q(v));
        kiv_value* entry = ownership::owner_of(v.data2);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry[0].data1, owner.data1);
        EXPECT_EQ(entry[1].data2, w.data2);
        EXPECT_EQ(entry[-1].data2, v.data2);  // the owned value itself
    }
    EXPECT_TRUE(_context::cell_of(owner.data1)->header & ownership::CONTEXT_OWNS);
}

TEST_F(Ownership, ABlockHoldingItselfTerminates) {
    kiv_value blk = block_of({int_value(1)});
    *block::alloc_tail(&blk) = blk;
    kiv_value owner = object_of({}, false);
    kiv_value w = word_named("self-loop");
    ownership::bind(&blk, &owner, &w);
    EXPECT_NE(ownership::owner_of(blk.data2), nullptr);
    EXPECT_EQ(cycles::depth(), 0u);
}

TEST_F(Ownership, AnObjectFieldHoldingTheOwnerIsSkipped) {
    kiv_value s = str("field text");
    kiv_value owner = object_of({{"name", s}}, true);
    kiv_value me = owner;  // the object's own self reference as a field
    kiv_value w = word_named("me");
    _context::add_with_value(owner.data1, &w, &me);
    kiv_value outer_word = word_named("holder");
    ownership::bind(&owner, &owner, &outer_word);
    kiv_value* entry = ownership::owner_of(s.data2);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry[1].data2, uint32_t(symbol::make("name")));  // each field with its own word
    EXPECT_EQ(cycles::depth(), 0u);
}

TEST_F(Ownership, ValuesWithoutKeyAreNeverBound) {
    kiv_value n = int_value(5);
    kiv_value owner = object_of({}, true);
    kiv_value w = word_named("count");
    uint32_t count = hashtable::record(ownership::table)->count;
    ownership::bind(&n, &owner, &w);
    EXPECT_EQ(hashtable::record(ownership::table)->count, count);
    EXPECT_EQ(ownership::key_of(&n), 0u);
    EXPECT_FALSE(ownership::check(&n, symbol::make("append"), nullptr, -1, -1));
}

TEST_F(Ownership, CheckNotifiesOnlyOwnersWithHandlers) {
    kiv_value s = str("abc");
    kiv_value owner = object_of({{"text", s}}, true);
    kiv_value w = word_named("text");
    ownership::set(&s, &owner, &w);
    int32_t sorted = symbol::make("sorted");
    EXPECT_TRUE(ownership::check(&s, sorted, nullptr, 2, 1));
    ASSERT_EQ(notified.size(), 1u);
    EXPECT_EQ(notified[0].owner.data1, owner.data1);
    EXPECT_EQ(notified[0].word.data2, w.data2);
    EXPECT_EQ(notified[0].value.data2, s.data2);
    EXPECT_EQ(notified[0].action, sorted);
    EXPECT_EQ(notified[0].index, 2);
    EXPECT_EQ(notified[0].part, 1);

    kiv_value quiet = str("xyz");
    kiv_value plain = object_of({{"text", quiet}}, false);
    ownership::set(&quiet, &plain, &w);
    EXPECT_FALSE(ownership::check(&quiet, sorted, nullptr, -1, -1));
    kiv_value unowned = str("free");
    EXPECT_FALSE(ownership::check(&unowned, sorted, nullptr, -1, -1));
    EXPECT_EQ(notified.size(), 1u);
}

TEST_F(Ownership, UnbindingReversesBinding) {
    kiv_value a = str("a"), b = str("b"), c = str("c");
    kiv_value blk = block_of({a, b, c});
    kiv_value owner = object_of({}, true);
    kiv_value w = word_named("items");
    ownership::bind(&blk, &owner, &w);
    ownership::unbind_range(&blk, 1, 5);  // clamped to the block
    EXPECT_NE(ownership::owner_of(a.data2), nullptr);
    EXPECT_EQ(ownership::owner_of(b.data2), nullptr);
    EXPECT_EQ(ownership::owner_of(c.data2), nullptr);
    EXPECT_FALSE(owned_q(b));
    ownership::unbind(&blk);
    EXPECT_EQ(ownership::owner_of(blk.data2), nullptr);
    EXPECT_EQ(ownership::owner_of(a.data2), nullptr);
    EXPECT_FALSE(owned_q(blk));
}

TEST_F(Ownership, ABitsetStoresItsEntryEachTime) {
    kiv_value bits{TYPE_BITSET, 0, memory::alloc_bytes(4), 0};
    kiv_value owner = object_of({}, true);
    kiv_value first = word_named("first-field"), second = word_named("second-field");
    ownership::bind(&bits, &owner, &first);
    ownership::bind(&bits, &owner, &second);
    EXPECT_EQ(ownership::owner_of(bits.data2)[1].data2, second.data2);
    kiv_value s = str("once");
    ownership::bind(&s, &owner, &first);
    ownership::bind(&s, &owner, &second);
    EXPECT_EQ(ownership::owner_of(s.data2)[1].data2, first.data2);  // a series keeps its first
}

TEST_F(Ownership, TheCollectorDropsEntriesOfDeadSeriesAndDeadOwners) {
    collector::scan_native_q = false;
    collector::do_cycle();  // entries left by earlier tests go first
    kiv_value w = word_named("field");
    size_t owner = keep(object_of({}, true));
    size_t alive = keep(str("alive"));
    ownership::bind(&kept(alive), &kept(owner), &w);
    node_id dead_series = str("dead").data2;
    kiv_value dead{TYPE_STRING, 0, dead_series, 0};
    ownership::bind(&dead, &kept(owner), &w);
    size_t orphan = keep(str("orphan"));
    kiv_value gone_owner = object_of({}, true);
    ownership::bind(&kept(orphan), &gone_owner, &w);
    ASSERT_NE(ownership::owner_of(kept(orphan).data2), nullptr);
    uint32_t count = hashtable::record(ownership::table)->count;

    collector::do_cycle();

    EXPECT_EQ(hashtable::record(ownership::table)->count, count - 2);
    EXPECT_TRUE(node_freed_q(dead_series));
    EXPECT_EQ(ownership::owner_of(kept(orphan).data2), nullptr);
    kiv_value* entry = ownership::owner_of(kept(alive).data2);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry[0].data1, kept(owner).data1);
    EXPECT_EQ(text_of(entry[-1]), "alive");
    EXPECT_TRUE(collector::verify_heap());
}
