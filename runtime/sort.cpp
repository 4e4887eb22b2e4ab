// The stable merge sort and the in-place quicksort over fixed-size records.
//
// Every record move is a whole swap or a whole copy finished before the next
// callback, and every scan is bounded by indexes: the callback may raise an
// error or answer inconsistently, and the array must still hold the same
// records afterwards.
#include "runtime/sort.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "runtime/errors.h"
#include "runtime/system.h"

namespace kiv::sort {
namespace {

// Runs its action when the scope ends, by an error or normally.
template <class F>
struct at_exit {
    F action;
    ~at_exit() { action(); }
};
template <class F>
at_exit(F) -> at_exit<F>;

// The array being sorted and the caller's comparison, addressed by index.
class records {
  public:
    records(void* base, uint32_t width, intptr_t arg1, intptr_t arg2, compare_fn compare)
        : width(width), base_(static_cast<std::byte*>(base)), word_swap_(width % 4 == 0),
          arg1_(arg1), arg2_(arg2), compare_(compare) {}

    std::byte* at(size_t i) const { return base_ + i * width; }

    int32_t compare(const std::byte* a, const std::byte* b) const {
        return compare_(a, b, arg1_, arg2_);
    }
    int32_t compare(size_t i, size_t j) const { return compare(at(i), at(j)); }

    // Four bytes at a time when the width allows it, else byte by byte. A
    // record swapped with itself stays as it is.
    void swap(size_t i, size_t j) const {
        std::byte* a = at(i);
        std::byte* b = at(j);
        if (word_swap_) {
            for (size_t k = 0; k < width; k += 4) {
                uint32_t x, y;
                std::memcpy(&x, a + k, 4);
                std::memcpy(&y, b + k, 4);
                std::memcpy(a + k, &y, 4);
                std::memcpy(b + k, &x, 4);
            }
        } else {
            for (size_t k = 0; k < width; k++) std::swap(a[k], b[k]);
        }
    }

    void reverse(size_t first, size_t end) const {
        while (end - first > 1) swap(first++, --end);
    }

    // Moves [from, from + count) to [to, to + count) in order, one swap per
    // record, also when the two ranges overlap: the records passed over fill
    // the places left, in some order. Swapping at a fixed distance, ascending
    // for a move down and descending for a move up, reads every record of the
    // block before anything overwrites it.
    void move_block(size_t from, size_t count, size_t to) const {
        if (to < from) {
            for (size_t k = 0; k < count; k++) swap(from + k, to + k);
        } else if (to > from) {
            for (size_t k = count; k-- > 0;) swap(from + k, to + k);
        }
    }

    size_t width;

  private:
    std::byte* base_;
    bool word_swap_;
    intptr_t arg1_, arg2_;
    compare_fn compare_;
};

// Adjacent-swap insertion of [first, first + n): few records, few moves.
void insertion_sort(const records& r, size_t first, size_t n) {
    for (size_t i = first + 1; i < first + n; i++)
        for (size_t j = i; j > first && r.compare(j - 1, j) > 0; j--) r.swap(j - 1, j);
}

// ---------------------------------------------------------------------------
// Stable sort: natural runs merged in the order of the Powersort policy.

// Runs shorter than this are extended by insertion before they are merged.
constexpr size_t MIN_RUN = 24;

// Powers strictly increase up the pending-run stack (between two boundaries
// of equal power lies one of lower power, and it would have merged the first
// away), and none exceeds 32 for a 32-bit count: 32 entries always suffice.
constexpr size_t MAX_PENDING = 32;

// The end of the natural run that starts at `first`, left ascending. Only a
// strictly descending run is reversed, so that equal records keep their order.
size_t find_run(const records& r, size_t first, size_t n) {
    size_t end = first + 1;
    if (end == n) return n;
    if (r.compare(first, end++) <= 0) {
        while (end < n && r.compare(end - 1, end) <= 0) end++;
    } else {
        while (end < n && r.compare(end - 1, end) > 0) end++;
        r.reverse(first, end);
    }
    return end;
}

// Extends the sorted run [first, end) to MIN_RUN records (or to n).
size_t extend_run(const records& r, size_t first, size_t end, size_t n) {
    size_t target = std::min(first + MIN_RUN, n);
    for (; end < target; end++)
        for (size_t j = end; j > first && r.compare(j - 1, j) > 0; j--) r.swap(j - 1, j);
    return end;
}

// The power of the boundary between the runs [first1, end1) and [end1, end2):
// one more than the count of leading bits that the two runs' midpoints,
// relative to n, have in common.
unsigned boundary_power(uint64_t first1, uint64_t end1, uint64_t end2, uint64_t n) {
    uint64_t a = first1 + end1;
    uint64_t b = end1 + end2;
    unsigned power = 1;
    while ((a >= n) == (b >= n)) {
        power++;
        if (a >= n) {
            a -= n;
            b -= n;
        }
        a *= 2;
        b *= 2;
    }
    return power;
}

// Merges the sorted runs [first, middle) and [middle, end), parking the
// shorter one in the work buffer. The parked records not yet placed always
// fit exactly the gap they left in the array; the guard copies them back into
// it when the merge ends, normally or by an error from the callback.
void merge(const records& r, size_t first, size_t middle, size_t end, std::byte* work) {
    const size_t w = r.width;
    if (end - middle < middle - first) {
        // Right run parked, merged from the back: the gap is [left, left + parked).
        size_t parked = end - middle;
        size_t left = middle;
        std::memcpy(work, r.at(middle), parked * w);
        at_exit unpark{[&] { std::memcpy(r.at(left), work, parked * w); }};
        while (left > first && parked > 0) {
            std::byte* last = work + (parked - 1) * w;
            std::byte* dest = r.at(left + parked - 1);
            if (r.compare(r.at(left - 1), last) > 0) {
                std::memcpy(dest, r.at(left - 1), w);
                left--;
            } else {
                std::memcpy(dest, last, w);
                parked--;
            }
        }
    } else {
        // Left run parked, merged from the front: the gap is [right - unplaced, right).
        size_t parked = middle - first;
        size_t taken = 0;
        size_t right = middle;
        std::memcpy(work, r.at(first), parked * w);
        at_exit unpark{[&] {
            size_t unplaced = parked - taken;
            std::memcpy(r.at(right - unplaced), work + taken * w, unplaced * w);
        }};
        while (taken < parked && right < end) {
            std::byte* next = work + taken * w;
            std::byte* dest = r.at(right - (parked - taken));
            if (r.compare(next, r.at(right)) <= 0) {
                std::memcpy(dest, next, w);
                taken++;
            } else {
                std::memcpy(dest, r.at(right), w);
                right++;
            }
        }
    }
}

// The work buffer lives in a std::vector rather than the tracked heap: a
// refused allocation must be the language error, not a fatal one, and the
// buffer must go when an error passes through the sort.
std::vector<std::byte> work_buffer(size_t bytes) {
    try {
        return std::vector<std::byte>(bytes);
    } catch (const std::bad_alloc&) {
        fire(err::INTERNAL, err::internal::no_memory);
    }
}

// ---------------------------------------------------------------------------
// In-place sort: a sorted prefix found in one pass, then a quicksort whose
// pivots come from a sorted sample.

constexpr size_t INSERTION_MAX = 7;      // ranges this small are sorted by insertion
constexpr size_t SEED_WINDOW = 63;       // first sample of a range without one
constexpr size_t SEED_WINDOW_MIN = 512;  // smaller ranges partition whole
constexpr size_t ESTIMATE_STEP = 97;     // pair spacing of the presortedness estimate
constexpr size_t LOOKAHEAD = 10;         // where a prefix looks for its next stretch
constexpr size_t MIN_STRETCH = 4;        // shortest stretch worth joining to a prefix

// Whether the pair (i, j) follows direction dir (+1 ascending, -1 descending).
bool follows(const records& r, size_t i, size_t j, int dir) {
    int32_t c = r.compare(i, j);
    return dir > 0 ? c <= 0 : c >= 0;
}

// Grows the prefix [0, end), sorted in direction dir, by the sorted stretches
// found ahead of it; returns its new end. Each stretch is looked for once,
// LOOKAHEAD records past the last one, so the whole pass stays linear.
size_t grow_prefix(const records& r, size_t end, int dir, size_t n) {
    size_t seen = end;
    for (size_t look = end + LOOKAHEAD; look < n; look = seen + LOOKAHEAD) {
        size_t last = look + 1;
        while (last < n && follows(r, last - 1, last, dir)) last++;
        size_t first = look;
        while (first > seen && follows(r, first - 1, first, dir)) first--;
        seen = last;
        size_t length = last - first;
        if (length < MIN_STRETCH) continue;
        // The prefix gives up its last k records and the stretch its first k
        // where the two then join in order.
        size_t k_max = std::min(length / 2, end / 4);
        for (size_t k = 0; k <= k_max; k++) {
            if (follows(r, end - 1 - k, first + k, dir)) {
                r.move_block(first + k, length - k, end - k);
                end = end - k + length - k;
                break;
            }
        }
    }
    return end;
}

void sift_down(const records& r, size_t first, size_t root, size_t n) {
    for (size_t child; (child = 2 * root + 1) < n; root = child) {
        if (child + 1 < n && r.compare(first + child, first + child + 1) < 0) child++;
        if (r.compare(first + root, first + child) >= 0) return;
        r.swap(first + root, first + child);
    }
}

// The fallback once a range has been split badly too often: input that
// defeats the pivot choice still sorts in O(n log n).
void heap_sort(const records& r, size_t first, size_t n) {
    for (size_t i = n / 2; i-- > 0;) sift_down(r, first, i, n);
    for (size_t end = n; end-- > 1;) {
        r.swap(first, first + end);
        sift_down(r, first, 0, end);
    }
}

void sort3(const records& r, size_t a, size_t b, size_t c) {
    if (r.compare(a, b) > 0) r.swap(a, b);
    if (r.compare(b, c) > 0) {
        r.swap(b, c);
        if (r.compare(a, b) > 0) r.swap(a, b);
    }
}

// Fills [first + h, first + window) with records taken at even steps over the
// whole range [first, first + n).
void gather(const records& r, size_t first, size_t n, size_t h, size_t window) {
    size_t step = n / window;
    for (size_t i = h; i < window; i++) r.swap(first + i, first + i * step);
}

// Three-way partition of [first, first + window) around the pivot at
// first + below: the `below` records before it compare at most equal to it,
// the `above` records ending the window at least equal. Records equal to the
// pivot gather right after it while the scans run, then change places with
// the records below it. Returns the range of the pivot and its equals.
std::pair<size_t, size_t> partition(const records& r, size_t first, size_t window, size_t below,
                                    size_t above) {
    const size_t pivot = first + below;
    size_t equal_end = pivot + 1;
    size_t left = equal_end;                // [equal_end, left): below the pivot
    size_t right = first + window - above;  // [right, window end): above it
    for (;;) {
        int32_t c = 0;
        while (left < right && (c = r.compare(left, pivot)) <= 0) {
            if (c == 0) r.swap(left, equal_end++);
            left++;
        }
        if (left == right) break;
        // left holds a record above the pivot: the right scan stops short of
        // it, whatever the callback would answer for it a second time.
        while (right - 1 > left && (c = r.compare(right - 1, pivot)) > 0) right--;
        if (right - 1 == left) break;
        r.swap(left, --right);
        if (c == 0) r.swap(left, equal_end++);
        left++;
    }
    size_t equal = equal_end - pivot;
    size_t lower = left - equal_end;
    if (equal <= lower) r.move_block(pivot, equal, left - equal);
    else r.move_block(equal_end, lower, pivot);
    return {pivot + lower, left};
}

// Sorts [first, first + n), whose sorted sample of |sample| records stands at
// the front (sample > 0) or at the back (sample < 0). The smaller side of each
// split recurses and the larger one loops, so the recursion stays within
// log2(n) levels; `bad_splits` is the count of lopsided splits left before the
// range goes to heap_sort.
void quick(const records& r, size_t first, size_t n, ptrdiff_t sample, unsigned bad_splits) {
    while (n > INSERTION_MAX) {
        system::check_native_stack();
        if (bad_splits == 0) {
            heap_sort(r, first, n);
            return;
        }
        size_t h = size_t(sample < 0 ? -sample : sample);
        size_t window, below, above;
        if (h <= 2) {
            window = n >= SEED_WINDOW_MIN ? SEED_WINDOW : n;
            r.swap(first + window / 2, first + 1);
            sort3(r, first, first + 1, first + window - 1);
            below = above = 1;
        } else {
            if (sample < 0) r.move_block(first + n - h, h, first);
            window = n / 256 < h ? n : 16 * h - 1;
            if (window < n) gather(r, first, n, h, window);
            below = (h - 1) / 2;
            above = h - below - 1;
            r.move_block(first + below + 1, above, first + window - above);
        }
        auto [equal_first, equal_end] = partition(r, first, window, below, above);
        size_t below_n = equal_first - first;
        size_t above_n = first + window - equal_end;
        if (window < n) {
            // The window, now sorted, is the sample of the whole range.
            quick(r, first, below_n, ptrdiff_t(below), bad_splits);
            quick(r, equal_end, above_n, -ptrdiff_t(above), bad_splits);
            sample = ptrdiff_t(window);
            continue;
        }
        if (std::min(below_n, above_n) < n / 8) bad_splits--;
        if (below_n < above_n) {
            quick(r, first, below_n, ptrdiff_t(below), bad_splits);
            first = equal_end;
            n = above_n;
            sample = -ptrdiff_t(above);
        } else {
            quick(r, equal_end, above_n, -ptrdiff_t(above), bad_splits);
            n = below_n;
            sample = ptrdiff_t(below);
        }
    }
    insertion_sort(r, first, n);
}

}  // namespace

void with_buffer(void* base, uint32_t count, uint32_t width, intptr_t arg1, intptr_t arg2,
                 compare_fn compare) {
    if (count < 2 || width == 0) return;
    uint64_t bytes = uint64_t(count / 2) * width;
    if (bytes > UINT32_MAX) fire(err::SCRIPT, err::script::too_long);
    std::vector<std::byte> work = work_buffer(bytes);
    records r(base, width, arg1, arg2, compare);
    const size_t n = count;

    struct pending {
        size_t first;
        unsigned power;
    };
    std::array<pending, MAX_PENDING> stack;
    size_t depth = 0;
    size_t first = 0;
    size_t end = extend_run(r, 0, find_run(r, 0, n), n);
    while (end < n) {
        size_t next_end = extend_run(r, end, find_run(r, end, n), n);
        unsigned power = boundary_power(first, end, next_end, n);
        while (depth > 0 && stack[depth - 1].power > power) {
            pending& top = stack[--depth];
            merge(r, top.first, first, end, work.data());
            first = top.first;
        }
        stack[depth++] = {first, power};
        first = end;
        end = next_end;
    }
    while (depth > 0) {
        pending& top = stack[--depth];
        merge(r, top.first, first, n, work.data());
        first = top.first;
    }
}

void in_place(void* base, uint32_t count, uint32_t width, intptr_t arg1, intptr_t arg2,
              compare_fn compare) {
    if (count < 2 || width == 0) return;
    records r(base, width, arg1, arg2, compare);
    const size_t n = count;

    // The leading monotone stretch; equal pairs never break it.
    int dir = 0;
    size_t end = 1;
    for (; end < n; end++) {
        int32_t c = r.compare(end - 1, end);
        if (c == 0) continue;
        int step = c < 0 ? 1 : -1;
        if (dir == 0) dir = step;
        else if (step != dir) break;
    }

    if (end < n) {
        // Presortedness: the stretch, then one vote per sampled pair.
        int64_t estimate = dir * int64_t(end);
        for (size_t j = end + ESTIMATE_STEP; j < n; j += ESTIMATE_STEP) {
            int32_t c = r.compare(j - 1, j);
            estimate += c < 0 ? 1 : c > 0 ? -1 : 0;
        }
        if (uint64_t(estimate < 0 ? -estimate : estimate) > n / 512) {
            if ((estimate > 0 ? 1 : -1) != dir) {
                end = 1;
                dir = -dir;
            }
            end = grow_prefix(r, end, dir, n);
        }
    }
    if (dir < 0) r.reverse(0, end);
    if (end < n) quick(r, 0, n, ptrdiff_t(end), 2 * unsigned(std::bit_width(n)));
}

}  // namespace kiv::sort
