#pragma once
// Helpers for tests that run the collector. The unit-test runtime keeps the
// collector inactive; these tests run cycles themselves and keep what they
// need alive through one mark callback (registered once per process).
#include <gtest/gtest.h>

#include <vector>

#include "runtime/collector.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "tests/unit/action_fixture.h"

#define KIV_NOINLINE __attribute__((noinline))

namespace kiv::test {

// Values and tables the tests keep alive. Marking rewrites them in place
// when their nodes move, as for any root.
inline std::vector<kiv_value>& kept_values() {
    static std::vector<kiv_value> values;
    return values;
}
inline std::vector<node_id>& kept_tables() {
    static std::vector<node_id> tables;
    return tables;
}

inline void mark_kept() {
    auto& values = kept_values();
    if (!values.empty()) collector::mark_values(values.data(), values.data() + values.size());
    for (node_id& t : kept_tables()) hashtable::mark(&t);
}

// Overwrites the dead part of the native stack below the caller, so that
// stale words of finished calls do not reach the next scan.
KIV_NOINLINE inline void scrub_stack() {
    volatile uint8_t area[32 * 1024];
    for (size_t i = 0; i < sizeof area; i++) area[i] = 0;
}

class CollectorTest : public StackTest {
  protected:
    void SetUp() override {
        StackTest::SetUp();
        static bool registered = false;
        if (!registered) {
            collector::add_mark_callback(mark_kept);
            registered = true;
        }
        active_ = collector::active_q;
        scan_ = collector::scan_native_q;
        stress_ = collector::stress_q();
        // These tests run their cycles themselves; one that wants automatic
        // cycles or stress mode turns them on.
        collector::active_q = false;
        collector::set_stress(false);
        kept_values().clear();
        kept_tables().clear();
    }
    void TearDown() override {
        collector::active_q = active_;
        collector::scan_native_q = scan_;
        collector::set_stress(stress_);
        kept_values().clear();
        kept_tables().clear();
    }

    static size_t keep(const kiv_value& v) {
        kept_values().push_back(v);
        return kept_values().size() - 1;
    }
    static kiv_value& kept(size_t i) { return kept_values()[i]; }

  private:
    bool active_ = false, scan_ = true, stress_ = false;
};

inline bool node_freed_q(node_id n) { return !memory::node_in_use_q(n); }

inline series_frame* frame_holding(const void* p) {
    auto* a = static_cast<const uint8_t*>(p);
    for (series_frame* f = mem.series_head; f; f = f->next)
        if (a >= frame_data(f) && a < f->end) return f;
    return nullptr;
}

inline size_t series_frame_count() {
    size_t n = 0;
    for (series_frame* f = mem.series_head; f; f = f->next) n++;
    return n;
}

}  // namespace kiv::test
