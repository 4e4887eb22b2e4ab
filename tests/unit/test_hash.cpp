// Hash functions against an independent MurmurHash3.
#include <gtest/gtest.h>
#include <murmurhash.h>

#include <random>
#include <vector>

#include "runtime/hash.h"

using namespace kiv;

TEST(Hash, Murmur3MatchesAnIndependentImplementation) {
    std::mt19937 gen(7);
    for (size_t length = 0; length < 70; length++) {
        std::vector<uint8_t> data(length);
        for (auto& b : data) b = uint8_t(gen());
        for (uint32_t seed : {0u, 1u, hash::SEED, 0xFFFFFFFFu}) {
            uint32_t expected;
            lmmh_x86_32(data.data(), unsigned(length), seed, &expected);
            EXPECT_EQ(hash::murmur3_seeded(data.data(), length, seed), expected) << length;
        }
    }
}

TEST(Hash, MixAndPowersOfTwo) {
    EXPECT_EQ(hash::mix(0), 0u);
    EXPECT_NE(hash::mix(1), hash::mix(2));
    EXPECT_EQ(hash::next_pow2(1), 1u);
    EXPECT_EQ(hash::next_pow2(5), 8u);
    EXPECT_EQ(hash::next_pow2(8), 8u);
    EXPECT_EQ(hash::next_pow2(1025), 2048u);
}

#include <map>

#include "runtime/hashtable.h"

TEST(PointerTable, SizesFollowTheLoadFactor) {
    for (uint32_t asked : {0u, 1u, 3u}) {
        hashtable::pointer_table* t = hashtable::new_table(asked);
        EXPECT_EQ(t->buckets, 8u);
        EXPECT_EQ(t->bound, 6u);
        hashtable::free_table(t);
    }
}

TEST(PointerTable, AgreesWithAMapThroughGrowthAndRemoval) {
    hashtable::pointer_table* t = hashtable::new_table(4);
    std::map<uint32_t, uint32_t> model;
    std::mt19937 gen(3);
    for (int round = 0; round < 20000; round++) {
        uint32_t key = gen() % 3000 + 1, value = gen();
        if (gen() % 3 == 0) {
            hashtable::remove_ptr_entry(t, key);
            model.erase(key);
        } else {
            hashtable::put_ptr(t, key, value);
            model[key] = value;
        }
    }
    EXPECT_EQ(hashtable::count(t), model.size());
    EXPECT_LE(t->occupied, t->bound);
    for (auto [key, value] : model) {
        uint32_t* v = hashtable::get_entry(t, key);
        ASSERT_NE(v, nullptr) << key;
        EXPECT_EQ(*v, value);
    }
    size_t seen = 0;
    for (uint32_t* e = hashtable::next_entry(t, nullptr); e; e = hashtable::next_entry(t, e)) {
        EXPECT_EQ(model.at(e[0]), e[1]);
        seen++;
    }
    EXPECT_EQ(seen, model.size());
    EXPECT_EQ(hashtable::get_entry(t, 999999), nullptr);
    hashtable::clear_table(t);
    EXPECT_EQ(hashtable::count(t), 0u);
    EXPECT_EQ(hashtable::get_entry(t, model.begin()->first), nullptr);
    hashtable::free_table(t);
}
