// map!: the entry block and index behind the actions — stored key forms,
// removed entries kept in place and reused, the live count, and lookups by
// comparison code.
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/hash_block.h"
#include "runtime/datatypes/map.h"
#include "runtime/hashtable.h"
#include "tests/unit/action_fixture.h"

using namespace kiv;
using namespace kiv::test;

using Map = StackTest;

namespace {

kiv_value new_map(uint32_t capacity = 0) {
    kiv_value m;
    map::make_at(&m, capacity);
    return m;
}

void set(const kiv_value& m, kiv_value key, int32_t v, bool case_ = false) {
    kiv_value value = int_value(v);
    map::set_key(&m, &key, &value, case_, nullptr);
}

int32_t get(const kiv_value& m, kiv_value key, bool case_ = false) {
    kiv_value* found = map::find_value(&m, &key, case_);
    return found ? int_of(*found) : -1;
}

}  // namespace

TEST_F(Map, EveryWordTypeIsOneKeyStoredAsASetWord) {
    kiv_value m = new_map();
    set(m, word_of("a"), 1);
    set(m, word_of("a", TYPE_SET_WORD), 2);
    set(m, word_of("a", TYPE_LIT_WORD), 3);
    set(m, word_of("A", TYPE_GET_WORD), 4);
    EXPECT_EQ(map::count(&m), 1u);
    EXPECT_EQ(map::entry_cells(&m), 2u);
    EXPECT_EQ(type_of(map::entries(&m)), uint32_t(TYPE_SET_WORD));
    EXPECT_EQ(get(m, word_of("A")), 4);
    EXPECT_EQ(get(m, word_of("A"), true), -1);
    kiv_value shown = map::shown_key(map::entries(&m));
    EXPECT_EQ(type_of(&shown), uint32_t(TYPE_WORD));
}

TEST_F(Map, ARemovedEntryKeepsItsCellsAndIsReusedInPlace) {
    kiv_value m = new_map();
    set(m, word_of("a"), 1);
    set(m, word_of("b"), 2);
    kiv_value a = word_of("a");
    kiv_value* key = hashtable::get(m.data3, &a, 0, 1, COMP_STRICT_EQUAL, false, false);
    ASSERT_NE(key, nullptr);
    hashtable::delete_at(m.data3, key);
    EXPECT_EQ(map::count(&m), 1u);
    EXPECT_TRUE(map::removed_q(map::entries(&m) + 1));
    EXPECT_EQ(get(m, word_of("a")), -1);
    set(m, word_of("a"), 5);
    EXPECT_EQ(map::count(&m), 2u);
    EXPECT_EQ(map::entry_cells(&m), 4u);
    EXPECT_EQ(int_of(map::entries(&m)[1]), 5);
}

TEST_F(Map, TextKeysAreCopiesAndCaseDecidesOnlyWithCase) {
    kiv_value m = new_map();
    kiv_value s = str("Key");
    set(m, s, 1);
    EXPECT_NE(map::entries(&m)->data2, s.data2);
    EXPECT_EQ(get(m, str("KEY")), 1);
    EXPECT_EQ(get(m, str("KEY"), true), -1);
    EXPECT_EQ(get(m, str("Key"), true), 1);
    set(m, str("KEY"), 2, true);
    EXPECT_EQ(map::count(&m), 2u);
    EXPECT_EQ(get(m, str("KEY"), true), 2);
    EXPECT_EQ(get(m, str("Key"), true), 1);
}

TEST_F(Map, ManyKeysGrowTheIndexAndStayFound) {
    kiv_value m = new_map(1);
    for (int32_t i = 0; i < 5000; i++) set(m, int_value(i * 7), i);
    EXPECT_EQ(map::count(&m), 5000u);
    for (int32_t i = 0; i < 5000; i++) ASSERT_EQ(get(m, int_value(i * 7)), i) << i;
    EXPECT_EQ(get(m, int_value(1)), -1);
}

TEST_F(Map, RefusedKeyTypesRaiseInvalidPath) {
    kiv_value m = new_map();
    kiv_value blk = block_of({int_value(1)});
    kiv_value v = int_value(1);
    stack::mark_try(nullptr);
    kiv_value e = raised([&] { map::set_key(&m, &blk, &v, false, nullptr); });
    expect_error(e, err::SCRIPT, err::script::invalid_path);
    EXPECT_EQ(map::count(&m), 0u);
}

TEST_F(Map, HashLookupsWithCaseFindTheExactKeyAmongEqualOnes) {
    kiv_value blk = block_of({str("b"), str("B"), str("b")});
    node_id table = hashtable::init(3, &blk, hashtable::KIND_HASH, 0);
    kiv_value upper = str("B");
    kiv_value* hit = hashtable::get(table, &upper, 0, 1, COMP_STRICT_EQUAL, false, false);
    ASSERT_NE(hit, nullptr);
    EXPECT_EQ(hit - cells_of(blk), 1);
    hit = hashtable::get(table, &upper, 0, 1, COMP_EQUAL, false, false);
    EXPECT_EQ(hit - cells_of(blk), 0);
    kiv_value lower = str("b");
    hit = hashtable::get(table, &lower, 3, 1, COMP_STRICT_EQUAL, true, false);
    EXPECT_EQ(hit - cells_of(blk), 2);
}

TEST_F(Map, AHashIndexGrowingUnderAppendsCountsEachCellOnce) {
    kiv_value blk = block_of({int_value(0)});
    hash_block::index(&blk);
    for (int32_t i = 1; i < 300; i++) {
        kiv_value v = int_value(i % 50);
        block::insert(&blk, &v, -1, false, 1, true);
    }
    EXPECT_EQ(hashtable::record(blk.data3)->count, 300u);
    kiv_value key = int_value(7);
    kiv_value* hit = hashtable::get(blk.data3, &key, 0, 1, COMP_EQUAL, false, false);
    ASSERT_NE(hit, nullptr);
    EXPECT_EQ(hit - cells_of(blk), 7);
    hit = hashtable::get(blk.data3, &key, 300, 1, COMP_EQUAL, true, false);
    ASSERT_NE(hit, nullptr);
    EXPECT_EQ(hit - cells_of(blk), 257);
}
