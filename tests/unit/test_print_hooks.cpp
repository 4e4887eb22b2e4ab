// Print hooks: registration order, growth, duplicates and removal.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/print_hooks.h"
#include "runtime/system.h"

using namespace kiv;

namespace {

std::vector<int> calls;
kiv_value* seen_string;
bool seen_lf;

template <int N>
void value_printer(kiv_value* string, bool lf) {
    calls.push_back(N);
    seen_string = string;
    seen_lf = lf;
}

std::vector<std::string> raw_texts;

template <int N>
void raw_printer(const char* text, uint32_t length, bool lf) {
    calls.push_back(-N);
    raw_texts.push_back(std::string(text, length) + (lf ? "|lf" : ""));
}

// Each test gets fresh lists; the runtime's own come back afterwards.
class PrintHooks : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_value = dyn_print::value_hooks;
        saved_raw = dyn_print::raw_hooks;
        dyn_print::init();
        calls.clear();
        raw_texts.clear();
    }
    void TearDown() override {
        memory::free(dyn_print::value_hooks.entries);
        memory::free(dyn_print::raw_hooks.entries);
        dyn_print::value_hooks = saved_value;
        dyn_print::raw_hooks = saved_raw;
    }
    dyn_print::hook_list<dyn_print::value_printer> saved_value;
    dyn_print::hook_list<dyn_print::raw_printer> saved_raw;
};

TEST_F(PrintHooks, RunInRegistrationOrderWithTheCallersArguments) {
    dyn_print::add(value_printer<1>, raw_printer<1>);
    dyn_print::add(value_printer<2>, raw_printer<2>);
    dyn_print::add(value_printer<3>, nullptr);

    kiv_value string{TYPE_STRING, 0, 0, 0};
    dyn_print::run_value_hooks(&string, true);
    EXPECT_EQ(calls, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(seen_string, &string);
    EXPECT_TRUE(seen_lf);

    calls.clear();
    dyn_print::run_string_hooks("abcdef", 3, false);
    EXPECT_EQ(calls, (std::vector<int>{-1, -2}));
    EXPECT_EQ(raw_texts, (std::vector<std::string>{"abc", "abc"}));
}

TEST_F(PrintHooks, NothingRegisteredRunsNothing) {
    dyn_print::run_value_hooks(nullptr, true);
    dyn_print::run_string_hooks("x", 1, false);
    EXPECT_TRUE(calls.empty());
}

TEST_F(PrintHooks, SixthPrinterGrowsTheListByFiveKeepingOrder) {
    EXPECT_EQ(dyn_print::value_hooks.capacity, 5u);
    dyn_print::add(value_printer<1>, nullptr);
    dyn_print::add(value_printer<2>, nullptr);
    dyn_print::add(value_printer<3>, nullptr);
    dyn_print::add(value_printer<4>, nullptr);
    dyn_print::add(value_printer<5>, nullptr);
    EXPECT_EQ(dyn_print::value_hooks.capacity, 5u);
    dyn_print::add(value_printer<6>, nullptr);
    EXPECT_EQ(dyn_print::value_hooks.capacity, 10u);
    EXPECT_EQ(dyn_print::value_hooks.count, 6u);
    EXPECT_EQ(dyn_print::raw_hooks.capacity, 5u);

    dyn_print::run_value_hooks(nullptr, false);
    EXPECT_EQ(calls, (std::vector<int>{1, 2, 3, 4, 5, 6}));

    // Removing never shrinks the list.
    dyn_print::remove(value_printer<6>, nullptr);
    EXPECT_EQ(dyn_print::value_hooks.capacity, 10u);
}

TEST_F(PrintHooks, AddedTwiceRunsTwiceAndRemovingOnceDropsTheFirst) {
    dyn_print::add(value_printer<1>, raw_printer<1>);
    dyn_print::add(value_printer<2>, raw_printer<2>);
    dyn_print::add(value_printer<1>, raw_printer<1>);
    dyn_print::run_value_hooks(nullptr, false);
    EXPECT_EQ(calls, (std::vector<int>{1, 2, 1}));

    dyn_print::remove(value_printer<1>, raw_printer<1>);
    calls.clear();
    dyn_print::run_value_hooks(nullptr, false);
    dyn_print::run_string_hooks("", 0, false);
    EXPECT_EQ(calls, (std::vector<int>{2, 1, -2, -1}));
}

TEST_F(PrintHooks, AddWithOneNullRegistersOnlyTheOther) {
    dyn_print::add(nullptr, raw_printer<1>);
    EXPECT_EQ(dyn_print::value_hooks.count, 0u);
    EXPECT_EQ(dyn_print::raw_hooks.count, 1u);
    dyn_print::add(value_printer<1>, nullptr);
    EXPECT_EQ(dyn_print::value_hooks.count, 1u);
    EXPECT_EQ(dyn_print::raw_hooks.count, 1u);
}

TEST_F(PrintHooks, RemovingANullOrAbsentPrinterChangesNothing) {
    dyn_print::add(value_printer<1>, raw_printer<1>);
    dyn_print::remove(nullptr, nullptr);
    dyn_print::remove(value_printer<2>, raw_printer<2>);
    EXPECT_EQ(dyn_print::value_hooks.count, 1u);
    EXPECT_EQ(dyn_print::raw_hooks.count, 1u);
    dyn_print::run_value_hooks(nullptr, false);
    EXPECT_EQ(calls, (std::vector<int>{1}));
}

}  // namespace
