// The GTK backend's parts that need no display: the DPI factor, timer
// periods, the event loop's counters and the key tables.
#include <gdk/gdk.h>
#include <gtest/gtest.h>

#include "runtime/value.h"
#include "view/gtk/dpi.h"
#include "view/gtk/gui.h"
#include "view/gtk/keys.h"

using namespace kiv;
using namespace kiv::gui;

TEST(GtkPure, XftDpiFromResources) {
    struct {
        const char* resources;
        int dpi;
    } cases[] = {
        {"Xft.dpi:\t144\n", 144},
        {"Xcursor.size:\t24\nXft.dpi:\t96\nXft.antialias:\t1\n", 96},
        {"Xft.dpi: 120.4", 120},          // last line without a line end
        {"Xft.antialias:\t1\n", 0},       // none given
        {"", 0},
        {"Xft.dpi:\tbig\n", 0},           // not a number
        {"Xft.dpi:\t0\n", 0},             // not a sane DPI
        {"Xft.dpi:\t100000\n", 0},
        {"MyXft.dpi:\t144\n", 0},         // another resource whose name ends alike
    };
    for (const auto& c : cases) EXPECT_EQ(parse_xft_dpi(c.resources), c.dpi) << c.resources;
}

TEST(GtkPure, DpiFactorNeverScalesTwice) {
    EXPECT_DOUBLE_EQ(dpi_factor_of(0, 1), 1.0);     // no X DPI: GDK's scale alone
    EXPECT_DOUBLE_EQ(dpi_factor_of(96, 1), 1.0);
    EXPECT_DOUBLE_EQ(dpi_factor_of(144, 1), 1.5);
    EXPECT_DOUBLE_EQ(dpi_factor_of(192, 2), 1.0);   // GDK doubles already
    EXPECT_DOUBLE_EQ(dpi_factor_of(288, 2), 1.5);
    EXPECT_DOUBLE_EQ(dpi_factor_of(144, 0), 1.5);   // a scale GDK did not give
}

TEST(GtkPure, RatePeriods) {
    struct {
        uint32_t type;
        int64_t n;
        double seconds;
        int32_t ms;
    } cases[] = {
        {TYPE_INTEGER, 3, 0, 333},      {TYPE_INTEGER, 1, 0, 1000},   {TYPE_INTEGER, 100, 0, 10},
        {TYPE_INTEGER, 101, 0, 10},     // faster than 100 a second: clamped, a 0 ms timer spins
        {TYPE_INTEGER, 5000, 0, 10},    {TYPE_INTEGER, 0, 0, -1},     {TYPE_INTEGER, -2, 0, -1},
        {TYPE_TIME, 0, 0.5, 500},       {TYPE_TIME, 0, 2.0005, 2000}, {TYPE_TIME, 0, 0.001, 10},
        {TYPE_TIME, 0, 0, -1},          {TYPE_TIME, 0, -1, -1},       {TYPE_NONE, 0, 0, 0},
        {TYPE_FLOAT, 0, 0, -1},         {TYPE_TIME, 0, 1e12, 2147483647},
    };
    for (const auto& c : cases) EXPECT_EQ(rate_period(c.type, c.n, c.seconds), c.ms) << c.type << " " << c.n;
}

// A blocking loop: the counters as the loop of the backend moves them.
struct loop_model {
    loop_counters c;
    int enter() { return ++c.depth; }
    bool ends() { return c.quit_posted; }
    void end() { c.loop_ended(); }
};

TEST(GtkPure, ClosingAWindowEndsItsLoopOnly) {
    loop_model m;
    m.enter();        // the first window's loop
    m.enter();        // a second window, opened from an actor
    m.c.window_closed();  // the second closes
    m.c.post_quit();
    ASSERT_TRUE(m.ends());
    m.end();
    EXPECT_FALSE(m.ends());  // the outer loop goes on
    EXPECT_EQ(m.c.pending, 0);
}

TEST(GtkPure, RequestsTwiceBeforeALoopLooksEndOneLoop) {
    loop_model m;
    m.enter();
    m.enter();
    m.c.post_quit();
    m.c.post_quit();
    m.end();
    EXPECT_FALSE(m.ends());
}

TEST(GtkPure, PendingExitsNeverGoNegative) {
    loop_model m;
    // Loops ended by plain requests, as console commands running do-events
    // and stop-events leave them.
    for (int i = 0; i < 5; i++) {
        m.enter();
        m.c.post_quit();
        m.end();
    }
    EXPECT_EQ(m.c.pending, 0);
    // Two stacked loops whose windows close in one event: both end.
    m.enter();
    m.enter();
    m.c.window_closed();
    m.c.window_closed();
    m.c.post_quit();
    m.end();
    EXPECT_TRUE(m.ends());
    m.end();
    EXPECT_FALSE(m.ends());
    EXPECT_EQ(m.c.pending, 0);
}

TEST(GtkPure, KeyTables) {
    struct {
        uint32_t keyval;
        const char* name;
    } specials[] = {
        {GDK_KEY_F5, "F5"},          {GDK_KEY_F12, "F12"},          {GDK_KEY_Shift_L, "left-shift"},
        {GDK_KEY_Shift_R, "right-shift"}, {GDK_KEY_Control_R, "right-control"}, {GDK_KEY_Left, "left"},
        {GDK_KEY_KP_Page_Up, "page-up"}, {GDK_KEY_Delete, "delete"}, {GDK_KEY_Super_L, "left-command"},
        {GDK_KEY_a, nullptr},        {GDK_KEY_Return, nullptr},    {GDK_KEY_space, nullptr},
        {GDK_KEY_ISO_Left_Tab, nullptr},
    };
    for (const auto& s : specials) {
        const char* got = special_key_name(s.keyval);
        if (s.name) EXPECT_STREQ(got, s.name);
        else EXPECT_EQ(got, nullptr) << s.keyval;
    }
    EXPECT_TRUE(modifier_key_q(GDK_KEY_Shift_L));
    EXPECT_FALSE(modifier_key_q(GDK_KEY_F5));
    EXPECT_FALSE(modifier_key_q(GDK_KEY_Caps_Lock));  // a key of its own, with `key`

    EXPECT_EQ(key_down_char(GDK_KEY_a, 'a'), uint32_t('A'));  // the key, not the character
    EXPECT_EQ(key_down_char(GDK_KEY_1, '1'), uint32_t('1'));
    EXPECT_EQ(key_down_char(GDK_KEY_Return, '\r'), 13u);
    EXPECT_EQ(key_down_char(GDK_KEY_BackSpace, 8), 8u);
    EXPECT_EQ(key_down_char(GDK_KEY_Escape, 27), 27u);
    // Shift+Tab is Tab with Shift in the flags, for the focus handler.
    EXPECT_EQ(key_down_char(GDK_KEY_ISO_Left_Tab, 0), 9u);
    EXPECT_EQ(typed_control_char(GDK_KEY_ISO_Left_Tab), 9u);

    EXPECT_EQ(control_char(GDK_KEY_a), 1u);
    EXPECT_EQ(control_char(GDK_KEY_Z), 26u);  // with Shift too
    EXPECT_EQ(control_char(GDK_KEY_1), 0u);

    EXPECT_EQ(modifier_flags(GDK_CONTROL_MASK | GDK_SHIFT_MASK), uint32_t(EF_CONTROL | EF_SHIFT));
    EXPECT_EQ(modifier_flags(GDK_BUTTON1_MASK | GDK_BUTTON3_MASK | GDK_MOD1_MASK),
              uint32_t(EF_DOWN | EF_ALT_DOWN | EF_ALT));
    EXPECT_EQ(own_modifier_flag(GDK_KEY_Shift_R), uint32_t(EF_SHIFT));
    EXPECT_EQ(own_modifier_flag(GDK_KEY_a), 0u);
}
