// handle! text and ordering, and ports whose actor is a native table.
#include <gtest/gtest.h>

#include "runtime/datatypes/context.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/port.h"
#include "tests/unit/natives_fixture.h"

namespace kiv::test {
namespace {

using Handles = NativesTest;

kiv_value handle_value(int32_t value, uint32_t cls) {
    kiv_value h;
    return *handle::make_at(&h, value, cls);
}

TEST_F(Handles, FormAndMoldShowTheValueOnlyWithAll) {
    struct Case {
        int32_t value;
        uint32_t cls;
        const char* formed;
        const char* molded_all;
    } cases[] = {
        {0, handle::NULL_CLASS, "00000000h", "#[handle! 00000000h]"},
        {0x1A2B, handle::WINDOW, "00001A2Bh", "#[handle! 00001A2Bh window]"},
        {-1, handle::RICH_TEXT, "FFFFFFFFh", "#[handle! FFFFFFFFh rich-text]"},
        {7, handle::FD, "00000007h", "#[handle! 00000007h fd]"},
        {7, 99, "00000007h", "#[handle! 00000007h]"},  // an unknown class has no name
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.formed);
        kiv_value h = handle_value(c.value, c.cls);
        EXPECT_EQ(formed(h), c.formed);
        EXPECT_EQ(molded(h, true), c.molded_all);
        EXPECT_EQ(molded(h), "handle!");
    }
}

TEST_F(Handles, CompareBySignedValueAndNeverEqualAnotherType) {
    kiv_value a = handle_value(-5, handle::WINDOW), b = handle_value(3, handle::FONT);
    kiv_value same = handle_value(3, handle::WINDOW), three = int_value(3);
    EXPECT_TRUE(actions::compare(&a, &b, COMP_LESSER));
    EXPECT_TRUE(actions::compare(&b, &same, COMP_EQUAL));  // the class plays no part
    EXPECT_FALSE(actions::compare(&b, &three, COMP_EQUAL));
    EXPECT_TRUE(actions::compare(&b, &three, COMP_NOT_EQUAL));
}

TEST_F(Handles, HandlesSupportNoOtherAction) {
    kiv_value w = word_of("test-handle");
    kiv_value h = handle_value(1, handle::WINDOW);
    _context::set(&w, &h);
    expect_raises("length? test-handle", err::SCRIPT, err::script::expect_arg);
    expect_raises("test-handle + 1", err::SCRIPT, err::script::expect_arg);
    EXPECT_EQ(mold_of("type? test-handle"), "handle!");
    EXPECT_EQ(mold_of("handle? test-handle"), "true");
    expect_raises("system/codecs/kivbin/encode test-handle none", err::ACCESS, err::access::no_codec);
}

// A native actor answers length? with 7 and supports nothing else.
int32_t native_length(kiv_value*) { return 7; }

TEST_F(Handles, APortOnANativeActorUsesItsTable) {
    static actions::code table[port::NATIVE_SLOTS] = {};  // registered tables live on
    table[SLOT_LENGTH_Q - SLOT_APPEND] = actions::impl<SLOT_LENGTH_Q>(native_length);
    int32_t id = port::register_native_actor(table);
    kiv_value w = word_of("test-actor");
    kiv_value h = handle_value(id, handle::NULL_CLASS);
    _context::set(&w, &h);
    run("append system/schemes reduce ['native-test make object! [actor: test-actor]]");
    EXPECT_EQ(int_run("length? make port! [scheme: 'native-test]"), 7);
    expect_raises("clear make port! [scheme: 'native-test]", err::ACCESS, err::access::no_port_action);
    // A handle that names no table.
    kiv_value none_table = handle_value(0, handle::NULL_CLASS);
    _context::set(&w, &none_table);
    run("append system/schemes reduce ['nowhere-test make object! [actor: test-actor]]");
    expect_raises("length? make port! [scheme: 'nowhere-test]", err::ACCESS, err::access::no_port_action);
}

}  // namespace
}  // namespace kiv::test
