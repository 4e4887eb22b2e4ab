#pragma once
// Helpers for tests of strings and their conversions.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "runtime/datatypes/string.h"
#include "tests/unit/stack_fixture.h"

namespace kiv::test {

using codepoints = std::vector<uint32_t>;

// A string! holding the code points, made with units of `unit` (appending a
// wider code point widens it).
inline kiv_value text(const codepoints& cps, uint32_t unit = 1) {
    kiv_value s;
    string::make_at_unit(&s, 0, unit);
    for (uint32_t cp : cps) string::append_char(string::buffer_of(&s), cp);
    return s;
}

// The code points of Latin-1 text, one per byte.
inline codepoints latin1(const char* s) {
    codepoints out;
    for (; *s; s++) out.push_back(uint8_t(*s));
    return out;
}

inline kiv_value text(const char* s, uint32_t unit = 1) { return text(latin1(s), unit); }

// Every code point of a series, from its offset.
inline codepoints chars_of(node_id node) {
    series_buffer* b = series::buffer(node);
    codepoints out;
    for (uint8_t* p = b->offset; p < b->tail; p += unit_of(b)) out.push_back(string::get_char(p, unit_of(b)));
    return out;
}

// The code points of a string from its cursor.
inline codepoints chars_of(kiv_value* str) {
    codepoints all = chars_of(str->data2);
    uint32_t head = std::min<uint32_t>(str->data1, uint32_t(all.size()));
    return codepoints(all.begin() + head, all.end());
}

inline uint32_t unit_of(const kiv_value* str) { return kiv::unit_of(string::buffer_of(str)); }

// Runs the code under a try frame on emptied stacks: whether it raised, and
// the error it raised.
struct outcome {
    bool raised;
    kiv_value error;
};

template <class F>
outcome attempt(F code) {
    stack::arguments = stack::top = stack::bottom;
    stack::ctop = stack::cbottom;
    stack::mark_try(nullptr);
    try {
        code();
    } catch (const kiv_exit& e) {
        EXPECT_EQ(e.level, uint32_t(LEVEL_ERROR));
        return {true, *stack::get_top()};
    }
    stack::ctop = stack::cbottom;
    return {false, {}};
}

inline void expect_raised(const outcome& o, err::category c, uint32_t id) {
    ASSERT_TRUE(o.raised);
    expect_error(o.error, c, id);
}

}  // namespace kiv::test
