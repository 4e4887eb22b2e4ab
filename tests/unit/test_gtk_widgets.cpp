// The GTK backend's widget, menu, requester and cursor rules that need no
// display: menu blocks, menu bars, filters, paths, cursors and calendar dates.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/stack.h"
#include "tests/unit/code_reader.h"
#include "tests/unit/stack_fixture.h"
#include "view/gtk/dialogs.h"
#include "view/gtk/menus.h"
#include "view/gtk/widgets.h"
#include "view/gtk/windows.h"

using namespace kiv;
using namespace kiv::gui;
using namespace kiv::test;

namespace {

std::vector<std::string> entries;

void record(int32_t number, bool separator, int32_t sym) {
    entries.push_back(std::to_string(number) + (separator ? " ---" : sym < 0 ? " -" : std::string(" ") + symbol::name_of(sym)));
}

}  // namespace

using GtkWidgets = StackTest;

TEST_F(GtkWidgets, MenuBlocksNumberTheirEntries) {
    struct {
        const char* menu;
        int32_t count;
        std::vector<std::string> entries;  // sub-menu entries come before their label's
    } cases[] = {
        {R"("A" a --- "B" b)", 3, {"0 a", "1 ---", "2 b"}},
        {R"("A" "B" b)", 2, {"0 -", "1 b"}},  // a label without a word reports none
        {R"("File" ["Open" open "Quit" quit])", 1, {"0 open", "1 quit", "0 -"}},
        {R"(popup "A" a)", 1, {"0 a"}},  // popup marks a context menu and takes no number
        {R"(1 "A" a 2.5 ---)", 2, {"0 a", "1 ---"}},
        {R"("A")", 1, {"0 -"}},
        {"", 0, {}},
    };
    for (const auto& c : cases) {
        entries.clear();
        kiv_value menu = read_code(c.menu);
        EXPECT_EQ(build_menu(nullptr, &menu, 0, false, record), c.count) << c.menu;
        EXPECT_EQ(entries, c.entries) << c.menu;
    }
    EXPECT_EQ(build_menu(nullptr, const_cast<kiv_value*>(&none_value), 0, false, record), 0);
}

TEST_F(GtkWidgets, WhichMenusAreMenuBars) {
    struct {
        const char* menu;
        face_kind kind;
        bool bar;
    } cases[] = {
        {R"("File" ["Quit" quit])", K_WINDOW, true},
        {R"(popup "Copy" copy)", K_WINDOW, false},
        {"", K_WINDOW, false},
        {R"("Copy" copy)", K_BASE, false},
    };
    for (const auto& c : cases) {
        kiv_value menu = read_code(c.menu);
        EXPECT_EQ(menu_bar_q(&menu, c.kind), c.bar) << c.menu;
    }
    EXPECT_FALSE(menu_bar_q(const_cast<kiv_value*>(&none_value), K_WINDOW));
}

TEST_F(GtkWidgets, RequesterFilters) {
    kiv_value filter = read_code(R"("Kiv scripts" "*.kiv;*.kivs" "Text" "*.txt")");
    EXPECT_EQ(make_filter(&filter), (std::vector<std::string>{"Kiv scripts", "*.kiv;*.kivs", "Text", "*.txt"}));
    kiv_value empty = read_code("");
    EXPECT_TRUE(make_filter(&empty).empty());
    kiv_value bad = read_code(R"("Kiv" 3)");
    stack::mark_try(nullptr);
    expect_error(raised([&] { make_filter(&bad); }), err::SCRIPT, err::script::invalid_arg);
}

TEST(GtkWidgetsPure, PathsInKivForm) {
    struct {
        const char* local;
        bool folder;
        const char* kiv;
    } cases[] = {
        {"/tmp/a.txt", false, "/tmp/a.txt"}, {"/tmp//a.txt", false, "/tmp/a.txt"}, {"/tmp", true, "/tmp/"},
        {"/tmp/", true, "/tmp/"},            {"/", true, "/"},                       {"", true, "/"},
    };
    for (const auto& c : cases) EXPECT_EQ(kiv_path(c.local, c.folder), c.kiv) << c.local;
}

TEST(GtkWidgetsPure, CursorNames) {
    struct {
        const char* word;
        const char* name;
    } cases[] = {{"I-beam", "text"},         {"hand", "pointer"},        {"cross", "crosshair"},
                 {"resize-ns", "ns-resize"}, {"resize-ew", "ew-resize"}, {"resize-we", "ew-resize"},
                 {"HAND", "pointer"},        {"arrow", "default"},       {"anything", "default"}};
    for (const auto& c : cases) EXPECT_STREQ(cursor_name(c.word), c.name) << c.word;
}

TEST(GtkWidgetsPure, CalendarYearsAndDates) {
    struct {
        int32_t year, shown;
    } cases[] = {{1500, 1601}, {1600, 1601}, {1601, 1601}, {2024, 2024}, {9999, 9999}, {10000, 9999}};
    for (const auto& c : cases) EXPECT_EQ(calendar_year(c.year), c.shown) << c.year;
    uint32_t packed = calendar_packed(2024, 2, 29);
    EXPECT_EQ(int32_t(packed) >> 17, 2024);
    EXPECT_EQ(packed >> 12 & 15, 2u);
    EXPECT_EQ(packed >> 7 & 31, 29u);
}
