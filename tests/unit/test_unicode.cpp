// Unicode conversion: UTF-8 encoding of single code points.
#include <gtest/gtest.h>

#include <vector>

#include "runtime/errors.h"
#include "runtime/exits.h"
#include "runtime/stack.h"
#include "runtime/system.h"
#include "runtime/unicode.h"

using namespace kiv;

namespace {

struct encoding_case {
    uint32_t cp;
    std::vector<uint8_t> bytes;
};

TEST(Unicode, EncodeUtf8CharWritesOneToFourBytes) {
    const encoding_case cases[] = {
        {0x00, {0x00}},
        {0x41, {0x41}},
        {0x7F, {0x7F}},
        {0x80, {0xC2, 0x80}},
        {0xE9, {0xC3, 0xA9}},
        {0x7FF, {0xDF, 0xBF}},
        {0x800, {0xE0, 0xA0, 0x80}},
        {0x20AC, {0xE2, 0x82, 0xAC}},
        {0xD800, {0xED, 0xA0, 0x80}},  // surrogates are encoded like any code point
        {0xFFFF, {0xEF, 0xBF, 0xBF}},
        {0x10000, {0xF0, 0x90, 0x80, 0x80}},
        {0x1F600, {0xF0, 0x9F, 0x98, 0x80}},
        {0x10FFFF, {0xF4, 0x8F, 0xBF, 0xBF}},
    };
    for (const auto& c : cases) {
        uint8_t out[5] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
        uint32_t n = unicode::encode_utf8_char(c.cp, out);
        EXPECT_EQ(std::vector<uint8_t>(out, out + n), c.bytes) << std::hex << c.cp;
        EXPECT_EQ(out[n], 0xAA) << "wrote past its sequence for " << std::hex << c.cp;
    }
}

TEST(Unicode, EncodeUtf8CharRaisesInvalidCharAboveTheRange) {
    kiv_value* saved_top = stack::top;
    kiv_value* saved_arguments = stack::arguments;
    call_frame* saved_ctop = stack::ctop;
    stack::mark_try(nullptr);
    uint8_t out[4];
    bool raised = false;
    try {
        unicode::encode_utf8_char(0x110000, out);
    } catch (const kiv_exit&) {
        raised = true;
        EXPECT_EQ(error::category_of(stack::get_top()), err::SCRIPT);
        EXPECT_EQ(error::id_of(stack::get_top()), uint32_t(err::script::invalid_char));
    }
    EXPECT_TRUE(raised);
    stack::top = saved_top;
    stack::arguments = saved_arguments;
    stack::ctop = saved_ctop;
    sys.pending_exit = LEVEL_NONE;
}

}  // namespace
