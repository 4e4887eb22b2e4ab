// The external slot table and the value slot pool.
#include <vector>

#include "runtime/slots.h"
#include "tests/unit/collector_fixture.h"

using namespace kiv;
using namespace kiv::test;

using Slots = CollectorTest;

namespace {

std::vector<void*> released;
void record_release(void* object) { released.push_back(object); }

uint32_t test_class() {
    static uint32_t id = externals::register_class("test-object", record_release);
    return id;
}

int objects[8];
void* object(int i) { return &objects[i]; }

std::vector<void*> visited;
void visit(void* o) { visited.push_back(o); }

}  // namespace

TEST_F(Slots, ClassesAreNumberedFromOneInRegistrationOrder) {
    uint32_t a = externals::register_class("first-kind", nullptr);
    uint32_t b = externals::register_class("second-kind", nullptr);
    EXPECT_GE(a, 1u);
    EXPECT_EQ(b, a + 1);
    EXPECT_STREQ(externals::class_name(a), "first-kind");
    EXPECT_EQ(externals::class_name(0), nullptr);
}

TEST_F(Slots, TakingTheLastFreeSlotDoublesTheTableFirst) {
    uint32_t capacity = externals::capacity();
    std::vector<int32_t> taken;
    while (externals::capacity() == capacity) taken.push_back(externals::alloc_slot(object(0), 0));
    EXPECT_EQ(externals::capacity(), 2 * capacity);
    EXPECT_LT(uint32_t(taken.back()), capacity);  // the last old slot, handed out after doubling
    EXPECT_EQ(uint32_t(externals::alloc_slot(object(0), 0)), capacity);
    EXPECT_EQ(externals::at(taken.front())->object, object(0));  // indexes stay valid
}

TEST_F(Slots, SettingADifferentObjectReleasesTheOldOneOnce) {
    released.clear();
    int32_t s = externals::alloc_slot(object(1), test_class());
    externals::set_object(s, object(1));
    EXPECT_TRUE(released.empty());
    externals::set_object(s, object(2));
    EXPECT_EQ(released, std::vector<void*>{object(1)});
    EXPECT_EQ(externals::at(s)->object, object(2));
    EXPECT_EQ(externals::free_slot(s, false), -1);
}

TEST_F(Slots, FreedSlotsAreReusedMostRecentFirst) {
    released.clear();
    int32_t a = externals::alloc_slot(object(1), test_class());
    int32_t b = externals::alloc_slot(object(2), test_class());
    EXPECT_EQ(externals::free_slot(a, true), -1);
    EXPECT_EQ(released, std::vector<void*>{object(1)});
    EXPECT_EQ(externals::at(a)->flags, externals::SLOT_FREE);
    EXPECT_EQ(externals::free_slot(a, true), -1);  // twice: nothing more happens
    EXPECT_EQ(released.size(), 1u);
    EXPECT_EQ(externals::alloc_slot(object(3), test_class()), a);
    externals::free_slot(a, false);
    externals::free_slot(b, false);
}

TEST_F(Slots, ForEachVisitsOneClassInUsedOrder) {
    uint32_t other = externals::register_class("other-kind", nullptr);
    int32_t a = externals::alloc_slot(object(1), test_class());
    int32_t b = externals::alloc_slot(object(2), other);
    int32_t c = externals::alloc_slot(object(3), test_class());
    visited.clear();
    externals::for_each(test_class(), visit);
    ASSERT_GE(visited.size(), 2u);
    EXPECT_EQ(visited[0], object(3));  // newest first
    EXPECT_EQ(visited[1], object(1));
    for (int32_t s : {a, b, c}) externals::free_slot(s, false);
}

TEST_F(Slots, TheCollectorReleasesSlotsNoHandleReaches) {
    collector::scan_native_q = false;
    released.clear();
    int32_t kept_slot = externals::alloc_slot(object(4), test_class());
    int32_t dropped = externals::alloc_slot(object(5), test_class());
    int32_t classless = externals::alloc_slot(object(6), 0);
    keep(kiv_value{TYPE_HANDLE, 3, 0, uint32_t(kept_slot)});
    keep(kiv_value{TYPE_HANDLE, 3, 0, uint32_t(-1)});  // a handle without a slot
    collector::do_cycle();
    EXPECT_EQ(released, std::vector<void*>{object(5)});  // class 0 is never released
    EXPECT_EQ(externals::at(dropped)->flags, externals::SLOT_FREE);
    EXPECT_EQ(externals::at(classless)->flags, externals::SLOT_FREE);
    EXPECT_EQ(externals::at(kept_slot)->flags, test_class());  // the mark is cleared
    EXPECT_EQ(externals::at(kept_slot)->object, object(4));
    EXPECT_TRUE(externals::mark_slot(kept_slot, object(7)));
    EXPECT_FALSE(externals::mark_slot(kept_slot, nullptr));
    EXPECT_EQ(externals::at(kept_slot)->object, object(7));
    EXPECT_FALSE(externals::mark_slot(dropped, nullptr));  // free slots are not marked
    kept_values().clear();
    collector::do_cycle();
    EXPECT_EQ(externals::at(kept_slot)->flags, test_class());  // marked just before: survives once
    collector::do_cycle();
    EXPECT_EQ(externals::at(kept_slot)->flags, externals::SLOT_FREE);
}

TEST_F(Slots, PoolStoresGetsAndFrees) {
    kiv_value v = int_value(77);
    uint32_t i = slots::store(&v);
    EXPECT_GE(i, 1u);
    EXPECT_EQ(int_of(*slots::get(i)), 77);
    slots::free(0);  // ignored
    slots::free(slots::capacity() + 1);  // ignored
    slots::free(i);
    kiv_value w = int_value(78);
    EXPECT_EQ(slots::store(&w), i);  // the most recently freed index
    slots::free(i);
}

TEST_F(Slots, TheFullPoolDoublesAndKeepsItsValues) {
    uint32_t capacity = slots::capacity();
    std::vector<uint32_t> taken;
    while (slots::capacity() == capacity) {
        kiv_value v = int_value(int32_t(taken.size()));
        taken.push_back(slots::store(&v));
    }
    EXPECT_EQ(slots::capacity(), 2 * capacity);
    for (size_t k = 0; k < taken.size(); k++) EXPECT_EQ(int_of(*slots::get(taken[k])), int32_t(k));
    for (uint32_t i : taken) slots::free(i);
}

TEST_F(Slots, ThePoolIsARoot) {
    collector::scan_native_q = false;
    kiv_value blk = block_of({str("pooled"), int_value(5)});
    uint32_t i = slots::store(&blk);
    node_id node = blk.data2;
    for (int k = 0; k < 20; k++) block_of({int_value(k)});
    collector::do_cycle();
    kiv_value* held = slots::get(i);
    EXPECT_EQ(held->data2, node);
    EXPECT_EQ(text_of(cells_of(*held)[0]), "pooled");
    EXPECT_EQ(int_of(cells_of(*held)[1]), 5);
    slots::free(i);
    collector::do_cycle();
    EXPECT_TRUE(node_freed_q(node));
}
