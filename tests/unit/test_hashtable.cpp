// Series hash tables: hash! (duplicates), map! (pairs) and node-keyed tables.
#include <cstring>
#include <map>
#include <random>

#include "runtime/hashtable.h"
#include "runtime/runtime.h"
#include "tests/unit/action_fixture.h"

using namespace kiv;
using namespace kiv::test;

using HashTable = StackTest;

namespace {
int32_t position_of(const kiv_value& blk, const kiv_value* cell) {
    return cell ? int32_t(cell - cells_of(blk)) : -1;
}
}  // namespace

TEST_F(HashTable, ValueHashesByType) {
    kiv_value abc = str("abc"), ABC = str("ABC");
    EXPECT_EQ(hashtable::hash_value(&abc, false), hashtable::hash_value(&ABC, false));
    EXPECT_NE(hashtable::hash_value(&abc, true), hashtable::hash_value(&ABC, true));
    kiv_value wide = str("abc");
    string::append_char(series::buffer(wide.data2), 0x20AC);  // widens the buffer
    string::remove_units(&wide, 3, 1);
    EXPECT_EQ(hashtable::hash_value(&wide, false), hashtable::hash_value(&abc, false));
    EXPECT_EQ(hashtable::hash_value(&unset_value, false), 0xFFFFFFFEu);
    EXPECT_EQ(hashtable::hash_value(&none_value, false), 0xFFFFFFFFu);
    kiv_value w = word_of("hw"), W = word_of("HW");
    EXPECT_EQ(hashtable::hash_value(&w, false), hashtable::hash_value(&W, false));
    kiv_value handle{TYPE_TRIPLE + 200, 0, 0, 0};
    EXPECT_EQ(hashtable::hash_value(&handle, false), 0u);
}

TEST_F(HashTable, DuplicateKeysStayFindableByDistance) {
    kiv_value blk = block_of({int_value(1), int_value(2), int_value(1), int_value(3), int_value(1)});
    node_id t = hashtable::init(uint32_t(length_of(blk)), &blk, hashtable::KIND_HASH, 0);
    kiv_value one = int_value(1), three = int_value(3), nine = int_value(9);
    EXPECT_EQ(hashtable::record(t)->count, 5u);
    EXPECT_EQ(position_of(blk, hashtable::get(t, &one, 0, 1, COMP_EQUAL, false, false)), 0);
    EXPECT_EQ(position_of(blk, hashtable::get(t, &one, 1, 1, COMP_EQUAL, false, false)), 2);
    EXPECT_EQ(position_of(blk, hashtable::get(t, &one, 1, 2, COMP_EQUAL, false, false)), -1);
    EXPECT_EQ(position_of(blk, hashtable::get(t, &one, 0, 4, COMP_EQUAL, false, false)), 0);
    EXPECT_EQ(position_of(blk, hashtable::get(t, &one, 4, 1, COMP_EQUAL, true, false)), 2);
    EXPECT_EQ(position_of(blk, hashtable::get(t, &three, 0, 1, COMP_EQUAL, false, false)), 3);
    EXPECT_EQ(position_of(blk, hashtable::get(t, &nine, 0, 1, COMP_EQUAL, false, false)), -1);

    hashtable::delete_at(t, cells_of(blk) + 0);
    EXPECT_EQ(position_of(blk, hashtable::get(t, &one, 0, 1, COMP_EQUAL, false, false)), 2);
    int found = 0;
    hashtable::probe_state state;
    while (hashtable::find_key(t, &one, &state)) found++;
    EXPECT_EQ(found, 1);  // one bucket for the key, its chain behind it
}

TEST_F(HashTable, PositionsFollowInsertionsAndMoves) {
    kiv_value blk = block_of({int_value(10), int_value(20), int_value(30), int_value(40)});
    node_id t = hashtable::init(4, &blk, hashtable::KIND_HASH, 0);
    // Two cells inserted at position 1, as the block code does it.
    block::alloc_tail(&blk);
    block::alloc_tail(&blk);
    kiv_value* c = cells_of(blk);
    std::memmove(c + 3, c + 1, 3 * sizeof(kiv_value));
    c[1] = c[2] = int_value(99);
    hashtable::shift_positions(t, 2, 1, 3);
    hashtable::put(t, c + 1);
    hashtable::put(t, c + 2);
    kiv_value v30 = int_value(30), v10 = int_value(10), v40 = int_value(40), v99 = int_value(99);
    EXPECT_EQ(position_of(blk, hashtable::get(t, &v30, 0, 1, COMP_EQUAL, false, false)), 4);
    EXPECT_EQ(position_of(blk, hashtable::get(t, &v10, 0, 1, COMP_EQUAL, false, false)), 0);
    EXPECT_EQ(position_of(blk, hashtable::get(t, &v99, 2, 1, COMP_EQUAL, false, false)), 2);
    // The cell at 0 moves to the end: the others move down one.
    kiv_value first = c[0];
    std::memmove(c, c + 1, 5 * sizeof(kiv_value));
    c[5] = first;
    hashtable::move_keys(t, 5, 0, 1);
    EXPECT_EQ(position_of(blk, hashtable::get(t, &v10, 0, 1, COMP_EQUAL, false, false)), 5);
    EXPECT_EQ(position_of(blk, hashtable::get(t, &v40, 0, 1, COMP_EQUAL, false, false)), 4);
    EXPECT_EQ(position_of(blk, hashtable::get(t, &v99, 0, 1, COMP_EQUAL, false, false)), 0);
}

TEST_F(HashTable, AgreesWithAModelThroughGrowth) {
    std::mt19937 gen(11);
    std::vector<kiv_value> cells;
    for (int i = 0; i < 3000; i++) cells.push_back(int_value(int32_t(gen() % 500)));
    kiv_value blk = block_of({});
    node_id t = hashtable::init(4, &blk, hashtable::KIND_HASH, 0);
    for (const kiv_value& c : cells) {
        kiv_value* cell = block::alloc_tail(&blk);
        *cell = c;
        hashtable::put(t, cell);
    }
    EXPECT_LE(hashtable::record(t)->occupied, hashtable::record(t)->bound);
    std::map<int32_t, int32_t> first;
    for (size_t i = 0; i < cells.size(); i++) first.emplace(int_of(cells[i]), int32_t(i));
    for (auto [key, pos] : first) {
        kiv_value k = int_value(key);
        EXPECT_EQ(position_of(blk, hashtable::get(t, &k, 0, 1, COMP_EQUAL, false, false)), pos);
    }
}

TEST_F(HashTable, MapKeepsTheFirstPlaceAndTheLastValue) {
    kiv_value blk = block_of({int_value(7), int_value(1), int_value(8), int_value(2), int_value(7), int_value(3)});
    node_id t = hashtable::init(4, &blk, hashtable::KIND_MAP, 0);
    EXPECT_EQ(length_of(blk), 4u);
    kiv_value key = int_value(7);
    kiv_value* found = hashtable::get(t, &key, 0, 1, COMP_EQUAL, false, false);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(position_of(blk, found), 0);
    EXPECT_EQ(int_of(found[1]), 3);
    kiv_value other_type = flt(7.0);
    EXPECT_EQ(hashtable::get(t, &other_type, 0, 1, COMP_EQUAL, false, false), nullptr);
    hashtable::delete_at(t, found);
    EXPECT_EQ(type_of(&found[1]), 0u);
    EXPECT_EQ(hashtable::record(t)->count, 1u);
}

TEST_F(HashTable, AMapMadeForFourKeysDoublesAtItsBound) {
    kiv_value blk = block_of({});
    node_id t = hashtable::init(4, &blk, hashtable::KIND_MAP, 0);
    EXPECT_EQ(hashtable::record(t)->buckets, 8u);
    EXPECT_EQ(hashtable::record(t)->bound, 6u);
    for (int i = 0; i < 7; i++) {
        kiv_value* key = block::alloc_tail(&blk);
        *key = int_value(i);
        *block::alloc_tail(&blk) = int_value(i * 10);
        hashtable::put(t, cells_of(blk) + 2 * i);
    }
    EXPECT_EQ(hashtable::record(t)->buckets, 16u);
    EXPECT_EQ(hashtable::record(t)->bound, 12u);
    for (int i = 0; i < 7; i++) {
        kiv_value k = int_value(i);
        kiv_value* found = hashtable::get(t, &k, 0, 1, COMP_EQUAL, false, false);
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(int_of(found[1]), i * 10);
    }
}

TEST_F(HashTable, NodeKeyedEntriesSurviveGrowthAndStaleness) {
    node_id t = hashtable::init(4, nullptr, hashtable::KIND_NODES, 1);
    std::map<node_id, int32_t> model;
    for (int i = 0; i < 200; i++) {
        node_id key = memory::alloc_bytes(16);
        *hashtable::put_index(t, key) = int_value(i);
        model[key] = i;
    }
    int removed = 0;
    for (auto it = model.begin(); it != model.end();) {
        if (removed++ % 3 == 0) {
            hashtable::remove_ptr(t, it->first);
            it = model.erase(it);
        } else {
            ++it;
        }
    }
    collector::nodes_cycles++;  // node frames evacuated: the table rebuilds on its next use
    for (auto [key, value] : model) {
        kiv_value* entry = hashtable::find_ptr(t, key);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(int_of(*entry), value);
    }
    EXPECT_EQ(hashtable::record(t)->count, model.size());
    EXPECT_EQ(hashtable::find_ptr(t, 1), nullptr);
    kiv_value* again = hashtable::put_index(t, model.begin()->first);
    EXPECT_EQ(int_of(*again), model.begin()->second);  // an existing key keeps its entry
}
