// The GUI's shared conversions (colours, face flags, DPI, timer) and the
// C++ side of event!: what a backend builds and what Kiv reads of it.
#include "runtime/datatypes/event.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/tuple.h"
#include "tests/unit/action_fixture.h"
#include "view/convert.h"

using namespace kiv;
using namespace kiv::test;

using GuiConvert = StackTest;

namespace {

kiv_value tuple_of(std::vector<uint8_t> bytes, bool dirty_tail = false) {
    kiv_value t;
    tuple::make_at(&t, uint32_t(bytes.size()), bytes.data());
    if (dirty_tail) tuple::bytes_of(&t)[3] = 0x7F;  // past the length: must not count
    return t;
}

}  // namespace

TEST_F(GuiConvert, ColoursPack) {
    struct {
        std::vector<uint8_t> bytes;
        bool dirty;
        uint32_t rgb;
        uint32_t argb;
    } cases[] = {
        {{255, 0, 0}, true, 0x000000FF, 0xFEFF0000},          // opaque: alpha lowered to 254
        {{255, 0, 0, 0}, false, 0x000000FF, 0xFEFF0000},
        {{1, 2, 3, 255}, false, 0xFF030201, 0x00010203},      // fully transparent
        {{16, 32, 48, 128}, false, 0x80302010, 0x7F102030},
    };
    for (auto& c : cases) {
        kiv_value t = tuple_of(c.bytes, c.dirty);
        EXPECT_EQ(gui::color_to_rgb(&t), c.rgb);
        EXPECT_EQ(gui::color_to_argb(c.rgb), c.argb);
    }
    gui::rgba_float f = gui::color_to_float(0x80FF0000);
    EXPECT_FLOAT_EQ(f.r, 0.0f);
    EXPECT_FLOAT_EQ(f.b, 1.0f);
    EXPECT_FLOAT_EQ(f.a, 127.0f / 255.0f);
}

TEST_F(GuiConvert, FlagsFacet) {
    kiv_value resize = word_of("resize");
    EXPECT_EQ(gui::get_flags(&resize), 0x04000000u);
    kiv_value both = block_of({word_of("resize"), word_of("no-max")});
    EXPECT_EQ(gui::get_flags(&both), 0x14000000u);
    kiv_value all = block_of({word_of("all-over"), word_of("no-border"), word_of("fullscreen")});
    EXPECT_EQ(gui::get_flags(&all), 0x80200001u);
    kiv_value empty = block_of({});
    EXPECT_EQ(gui::get_flags(&empty), 0u);
    kiv_value n = int_value(3);
    EXPECT_EQ(gui::get_flags(&n), 0u);
    stack::mark_try(nullptr);
    kiv_value bad = block_of({word_of("modal"), int_value(1)});
    expect_error(raised([&] { gui::get_flags(&bad); }), err::SCRIPT, err::script::invalid_arg);
    SetUp();
    stack::mark_try(nullptr);
    kiv_value unknown = word_of("sideways");
    expect_error(raised([&] { gui::get_flags(&unknown); }), err::SCRIPT, err::script::invalid_arg);
}

TEST_F(GuiConvert, DpiScaling) {
    gui::set_dpi(144);
    EXPECT_EQ(gui::dpi_scale(10.0), 15);
    EXPECT_DOUBLE_EQ(gui::dpi_unscale(15.0), 10.0);
    gui::set_dpi(96);
    EXPECT_EQ(gui::dpi_scale(0.4), 0);
    EXPECT_EQ(gui::dpi_scale(0.5), 1);
    EXPECT_EQ(gui::dpi_scale(-0.6), 0);  // truncation toward zero after the half is added
}

TEST_F(GuiConvert, TimerWrapRestarts) {
    uint64_t start = 1000;
    EXPECT_DOUBLE_EQ(gui::timer::elapsed_ms(&start, 1000 + 2500), 2.5);
    EXPECT_EQ(start, 1000u);
    uint64_t later = 1000 + 0x80000000ull;  // beyond a signed 32-bit count
    EXPECT_DOUBLE_EQ(gui::timer::elapsed_ms(&start, later),
                     2147483647.0 * 1000.0 / double(gui::timer::TIMER_FREQUENCY));
    EXPECT_EQ(start, later);
    uint64_t now = gui::timer::now();
    EXPECT_GE(gui::timer::elapsed_ms(&now), 0.0);
}

TEST_F(GuiConvert, BackendEventsReadBack) {
    event::fields f;
    f.type = event::KEY;
    f.flags = event::FLAG_SHIFT | 0x1F600;  // a key beyond U+FFFF: no made marker
    kiv_value e;
    event::make_at(&e, f);
    EXPECT_EQ(e.data2, 0u);  // no value given: no block
    kiv_value* key = event::read_field(&e, event::FIELD_KEY);
    EXPECT_EQ(type_of(key), uint32_t(TYPE_NONE));  // a backend gives its key explicitly
    EXPECT_TRUE(logic::get(event::read_field(&e, event::FIELD_SHIFT_Q)));
    EXPECT_EQ(type_of(event::read_field(&e, event::FIELD_OFFSET)), uint32_t(TYPE_NONE));

    f.key = kiv_value{TYPE_CHAR, 0, 0x1F600, 0};
    pair::make_at(&f.offset, 3, 4);
    event::make_at(&e, f);
    EXPECT_NE(e.data2, 0u);
    EXPECT_EQ(event::read_field(&e, event::FIELD_KEY)->data2, 0x1F600u);
    kiv_value* off = event::read_field(&e, event::FIELD_OFFSET);
    EXPECT_EQ(pair::x_of(off), 3);
    EXPECT_EQ(type_of(event::read_field(&e, event::FIELD_FACE)), uint32_t(TYPE_NONE));
    kiv_value* t = event::read_field(&e, event::FIELD_TYPE);
    EXPECT_EQ(word::symbol_of(t), word::symbol_of(word::load("key")));

    EXPECT_STREQ(event::type_name(event::SCROLL), "scroll");
    EXPECT_EQ(event::type_name(0), nullptr);
    EXPECT_EQ(event::type_of_symbol(word::symbol_of(word::load("dbl-click"))), uint32_t(event::DBL_CLICK));
    EXPECT_EQ(event::field_of_symbol(word::symbol_of(word::load("orientation"))), event::FIELD_ORIENTATION);
}
