// The stable sort against std::stable_sort, the in-place sort against
// std::sort's order, and what an error or an inconsistent callback in the
// middle of a sort leaves in the array.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "runtime/sort.h"
#include "tests/unit/stack_fixture.h"

using namespace kiv;
using namespace kiv::test;

namespace {

using sort_fn = void (*)(void*, uint32_t, uint32_t, intptr_t, intptr_t, sort::compare_fn);

size_t comparisons;                                   // callback calls so far
size_t fail_at = std::numeric_limits<size_t>::max();  // the call that raises an error

// Orders records by their first arg1 bytes read as a big-endian number,
// ascending for arg2 = 1 and descending for arg2 = -1.
int32_t by_key(const void* a, const void* b, intptr_t key_bytes, intptr_t direction) {
    if (comparisons++ == fail_at) fire(err::MATH, err::math::zero_divide);
    int c = std::memcmp(a, b, size_t(key_bytes));
    return int32_t(direction) * ((c > 0) - (c < 0));
}

int32_t always_equal(const void*, const void*, intptr_t, intptr_t) {
    comparisons++;
    return 0;
}

// Records of a width: a key (two bytes from width 4 on, else one), then the
// record's first position, then filler, so that equal keys stay tellable.
struct records {
    uint32_t width;
    std::vector<std::byte> bytes;

    records(uint32_t width, const std::vector<uint32_t>& keys)
        : width(width), bytes(keys.size() * width) {
        for (size_t i = 0; i < keys.size(); i++) {
            std::byte* r = &bytes[i * width];
            size_t k = key_bytes();
            for (size_t j = 0; j < k; j++) r[j] = std::byte(keys[i] >> (8 * (k - 1 - j)));
            for (size_t j = k; j < width; j++)
                r[j] = std::byte(j - k < 4 ? i >> (8 * (j - k)) : i * 7 + j);
        }
    }
    size_t key_bytes() const { return width >= 4 ? 2 : 1; }
    uint32_t count() const { return uint32_t(bytes.size() / width); }
    std::vector<std::string> split() const {
        std::vector<std::string> out;
        for (size_t i = 0; i < count(); i++)
            out.emplace_back(reinterpret_cast<const char*>(&bytes[i * width]), width);
        return out;
    }
    void sort(sort_fn f, intptr_t direction) {
        f(bytes.data(), count(), width, intptr_t(key_bytes()), direction, by_key);
    }
};

std::string joined(const std::vector<std::string>& parts) {
    std::string s;
    for (const auto& p : parts) s += p;
    return s;
}

bool same_records(const records& a, const records& b) {
    auto x = a.split(), y = b.split();
    std::sort(x.begin(), x.end());
    std::sort(y.begin(), y.end());
    return x == y;
}

using pattern = std::function<uint32_t(size_t i, size_t n, std::mt19937& gen)>;

const std::vector<std::pair<const char*, pattern>> patterns = {
    {"random", [](size_t, size_t, std::mt19937& g) { return uint32_t(g()); }},
    {"four keys", [](size_t, size_t, std::mt19937& g) { return uint32_t(g() % 4); }},
    {"ascending", [](size_t i, size_t, std::mt19937&) { return uint32_t(i); }},
    {"descending", [](size_t i, size_t n, std::mt19937&) { return uint32_t(n - i); }},
    {"descending pairs", [](size_t i, size_t n, std::mt19937&) { return uint32_t((n - i) / 2); }},
    {"all equal", [](size_t, size_t, std::mt19937&) { return 5u; }},
    {"ascending runs", [](size_t i, size_t, std::mt19937&) { return uint32_t(i % 37); }},
    {"descending runs", [](size_t i, size_t, std::mt19937&) { return uint32_t(1000 - i % 50); }},
    {"organ pipe", [](size_t i, size_t n, std::mt19937&) { return uint32_t(std::min(i, n - i)); }},
    {"random tail",
     [](size_t i, size_t n, std::mt19937& g) {
         return i < n * 3 / 4 ? uint32_t(i) : uint32_t(g());
     }},
    {"shuffled few",
     [](size_t i, size_t n, std::mt19937& g) {
         return g() % 64 == 0 ? uint32_t(g() % (n + 1)) : uint32_t(i);
     }},
};

std::vector<uint32_t> make_keys(const pattern& p, size_t n, uint32_t seed) {
    std::mt19937 gen(seed);
    std::vector<uint32_t> keys(n);
    for (size_t i = 0; i < n; i++) keys[i] = p(i, n, gen);
    return keys;
}

std::vector<uint32_t> make_keys(const char* name, size_t n, uint32_t seed) {
    auto named = std::find_if(patterns.begin(), patterns.end(),
                              [&](const auto& e) { return std::strcmp(e.first, name) == 0; });
    return make_keys(named->second, n, seed);
}

// The stable sort's output must be exactly std::stable_sort's; the in-place
// sort's must hold the same records in the order std::sort gives their keys.
void check_both(const records& input, intptr_t direction, const std::string& what) {
    size_t k = input.key_bytes();
    auto before = [&](const std::string& a, const std::string& b) {
        return direction * std::memcmp(a.data(), b.data(), k) < 0;
    };
    auto expected = input.split();
    std::stable_sort(expected.begin(), expected.end(), before);

    records stable = input;
    stable.sort(sort::with_buffer, direction);
    EXPECT_EQ(joined(stable.split()), joined(expected)) << what;

    records unstable = input;
    unstable.sort(sort::in_place, direction);
    EXPECT_TRUE(same_records(unstable, input)) << what;
    auto got = unstable.split();
    EXPECT_TRUE(std::is_sorted(got.begin(), got.end(), before)) << what;
}

class Sort : public StackTest {};

TEST_F(Sort, MatchesTheStandardSortsOnEveryPatternSizeAndWidth) {
    const size_t sizes[] = {2,   3,   7,   8,   23,  24,   25,   48,   63,
                            100, 255, 511, 512, 513, 1000, 5000, 20000};
    uint32_t seed = 1;
    for (uint32_t width : {1u, 2u, 3u, 4u, 16u, 48u})
        for (size_t s = 0; s < std::size(sizes); s++)
            for (const auto& [name, p] : patterns) {
                records input(width, make_keys(p, sizes[s], seed++));
                check_both(input, s % 2 ? -1 : 1,
                           std::string(name) + " n=" + std::to_string(sizes[s]) +
                               " width=" + std::to_string(width));
            }
}

TEST_F(Sort, SortsLargeArraysThroughGrowingSamples) {
    // Large enough for the quicksort to sort two nested windows of gathered
    // records before it partitions the whole array.
    for (const char* name : {"random", "four keys", "shuffled few"})
        check_both(records(4, make_keys(name, 300000, 99)), 1, name);
}

TEST_F(Sort, FewerThanTwoRecordsAreLeftAlone) {
    std::byte one[8] = {};
    for (sort_fn f : {sort_fn(sort::with_buffer), sort_fn(sort::in_place)}) {
        comparisons = 0;
        f(nullptr, 0, 4, 1, 1, by_key);
        f(one, 1, std::numeric_limits<uint32_t>::max(), 1, 1, by_key);  // no buffer, so no too-long
        EXPECT_EQ(comparisons, 0u);
    }
}

TEST_F(Sort, AnAlwaysEqualCallbackChangesNothing) {
    records input(16, make_keys("random", 100, 3));
    for (sort_fn f : {sort_fn(sort::with_buffer), sort_fn(sort::in_place)}) {
        records r = input;
        f(r.bytes.data(), r.count(), r.width, 0, 0, always_equal);
        EXPECT_EQ(r.bytes, input.bytes);
    }
}

TEST_F(Sort, InPlaceFinishesSortedAndReversedInputInOnePass) {
    const size_t n = 10000;
    for (uint32_t width : {6u, 16u}) {  // swapped by bytes, by words
        records ascending(width, make_keys("ascending", n, 0));
        records sorted = ascending;
        comparisons = 0;
        sorted.sort(sort::in_place, 1);
        EXPECT_EQ(comparisons, n - 1);
        EXPECT_EQ(sorted.bytes, ascending.bytes);

        records descending(width, make_keys("descending", n, 0));
        auto reversed = descending.split();
        std::reverse(reversed.begin(), reversed.end());
        comparisons = 0;
        descending.sort(sort::in_place, 1);
        EXPECT_EQ(comparisons, n - 1);
        EXPECT_EQ(descending.split(), reversed);
    }
}

TEST_F(Sort, InPlaceUsesTheSortedPrefixOfNearlySortedInput) {
    // One record in 64 out of place: the prefix pass gathers the rest, and the
    // quicksort places the strays with it as its sample.
    const size_t n = 60000;  // within the two-byte keys
    records r(16, make_keys("shuffled few", n, 5));
    records input = r;
    comparisons = 0;
    r.sort(sort::in_place, 1);
    EXPECT_LT(comparisons, 4 * n);
    EXPECT_TRUE(same_records(r, input));
}

TEST_F(Sort, InPlaceStaysNLogNAgainstAnAdversary) {
    // The callback decides the keys while the sort runs, every undecided key
    // above every decided one: of two undecided records it decides the one
    // last compared while undecided (the likely pivot) low, which defeats the
    // pivot choice again and again; only the bound on lopsided splits keeps
    // the work near n log n. Alternating the other decisions keeps the
    // presortedness estimate near zero.
    static std::vector<uint32_t> value;
    static uint32_t decided, candidate;
    static bool alternate;
    constexpr uint32_t UNDECIDED = std::numeric_limits<uint32_t>::max();
    auto adversary = [](const void* a, const void* b, intptr_t, intptr_t) -> int32_t {
        comparisons++;
        uint32_t x, y;
        std::memcpy(&x, a, 4);
        std::memcpy(&y, b, 4);
        if (value[x] == UNDECIDED && value[y] == UNDECIDED) {
            bool low_x = x == candidate || (y != candidate && (alternate = !alternate));
            value[low_x ? x : y] = decided++;
        }
        if (value[x] == UNDECIDED)
            candidate = x;
        else if (value[y] == UNDECIDED)
            candidate = y;
        return (value[x] > value[y]) - (value[x] < value[y]);
    };
    for (uint32_t n : {511u, 3000u, 10000u}) {
        std::vector<uint32_t> ids(n);
        for (uint32_t i = 0; i < n; i++) ids[i] = i;
        value.assign(n, UNDECIDED);
        decided = 0;
        candidate = UNDECIDED;
        alternate = true;  // the first pair descends
        comparisons = 0;
        sort::in_place(ids.data(), n, 4, 0, 0, adversary);
        EXPECT_LT(double(comparisons), 5 * n * std::log2(double(n))) << n;
        for (uint32_t i = 1; i < n; i++) ASSERT_LE(value[ids[i - 1]], value[ids[i]]) << n;
    }
}

TEST_F(Sort, AnErrorFromTheCallbackLeavesAPermutation) {
    for (uint32_t width : {3u, 16u})
        for (const char* p : {"random", "ascending runs", "random tail"}) {
            records input(width, make_keys(p, 2000, 11));
            for (sort_fn f : {sort_fn(sort::with_buffer), sort_fn(sort::in_place)}) {
                records whole = input;
                comparisons = 0;
                whole.sort(f, 1);
                size_t total = comparisons;
                for (size_t k = 0; k < total; k += total / 97 + 1) {
                    SetUp();
                    stack::mark_try(nullptr);
                    records r = input;
                    comparisons = 0;
                    fail_at = k;
                    expect_error(raised([&] { r.sort(f, 1); }), err::MATH, err::math::zero_divide);
                    fail_at = std::numeric_limits<size_t>::max();
                    EXPECT_EQ(comparisons, k + 1);
                    ASSERT_TRUE(same_records(r, input))
                        << "width " << width << " pattern " << p << " k " << k;
                }
            }
        }
}

TEST_F(Sort, AnInconsistentCallbackStillGivesAPermutation) {
    static std::mt19937 coin(17);
    auto random_answer = [](const void*, const void*, intptr_t, intptr_t) -> int32_t {
        return int32_t(coin() % 3) - 1;
    };
    for (uint32_t n : {2u, 9u, 30u, 100u, 600u, 5000u, 40000u})
        for (sort_fn f : {sort_fn(sort::with_buffer), sort_fn(sort::in_place)}) {
            records input(16, make_keys("random", n, n));
            records r = input;
            f(r.bytes.data(), n, 16, 0, 0, random_answer);
            EXPECT_TRUE(same_records(r, input)) << n;
        }
}

TEST_F(Sort, AWorkBufferTooLongForThirtyTwoBitsIsAnError) {
    stack::mark_try(nullptr);
    std::byte untouched[16] = {};
    comparisons = 0;
    expect_error(raised([&] { sort::with_buffer(untouched, 0xFFFFFFFF, 4, 1, 1, by_key); }),
                 err::SCRIPT, err::script::too_long);
    EXPECT_EQ(comparisons, 0u);
}

}  // namespace
