// The datatype registry, the dispatchers and the smallest datatypes.
#include <cstring>

#include "runtime/datatypes/triple.h"
#include "tests/unit/action_fixture.h"

using namespace kiv;
using namespace kiv::test;

using Actions = StackTest;

namespace {
int32_t mark_a(kiv_value*, kiv_value*, int32_t) { return 1; }
int32_t mark_b(kiv_value*, kiv_value*, int32_t) { return 2; }
kiv_value* length_none(kiv_value*) { return nullptr; }

// Rows of the ids a test registers into, restored afterwards.
struct SavedRows {
    static constexpr uint32_t first = 54, last = 56;
    actions::code rows[last - first + 1][ACTION_ROW];
    SavedRows() { std::memcpy(rows, &actions::table[first * ACTION_ROW], sizeof rows); }
    ~SavedRows() { std::memcpy(&actions::table[first * ACTION_ROW], rows, sizeof rows); }
};

std::vector<actions::code> row_of(actions::code fill) { return std::vector<actions::code>(ACTION_SLOTS, fill); }
}  // namespace

TEST_F(Actions, InheritanceIsResolvedAtRegistrationThroughThreeLevels) {
    using namespace actions;
    SavedRows saved;
    auto grand = row_of(UNSUPPORTED);
    grand[SLOT_COMPARE - 1] = impl<SLOT_COMPARE>(mark_a);
    grand[SLOT_CLEAR - 1] = impl<SLOT_CLEAR>(length_none);
    datatype::register_row(54, 0, "grand!", grand.data(), ACTION_SLOTS);
    auto parent = row_of(INHERITED);
    parent[SLOT_CLEAR - 1] = UNSUPPORTED;  // 0 never inherits
    datatype::register_row(55, 54, "parent!", parent.data(), ACTION_SLOTS);
    auto child = row_of(INHERITED);
    datatype::register_row(56, 55, "child!", child.data(), ACTION_SLOTS);

    EXPECT_EQ(entry(56, SLOT_COMPARE), impl<SLOT_COMPARE>(mark_a));
    EXPECT_EQ(entry(56, SLOT_CLEAR), UNSUPPORTED);
    EXPECT_EQ(entry(56, SLOT_ADD), UNSUPPORTED);
    // A parent's row never changes afterwards.
    auto regrand = row_of(UNSUPPORTED);
    regrand[SLOT_COMPARE - 1] = impl<SLOT_COMPARE>(mark_b);
    datatype::register_row(54, 0, "grand!", regrand.data(), ACTION_SLOTS);
    EXPECT_EQ(entry(56, SLOT_COMPARE), impl<SLOT_COMPARE>(mark_a));
    EXPECT_EQ(datatype::table[56].name_length, 5u);
}

TEST(ActionsDeath, ARowOfTheWrongLengthStopsTheProgram) {
    std::vector<actions::code> row(64, actions::UNSUPPORTED);
    EXPECT_EXIT(datatype::register_row(55, 0, "bad!", row.data(), 64), ::testing::ExitedWithCode(0),
                "");
    row.resize(66);
    EXPECT_EXIT(
        {
            std::fflush(stdout);
            datatype::register_row(55, 0, "bad!", row.data(), 66);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(Actions, AnUnsupportedActionRaisesExpectArg) {
    stack::mark_try(nullptr);
    kiv_value e = raised([] { call(SLOT_ADD, {none_value, int_value(1)}); });
    expect_error(e, err::SCRIPT, err::script::expect_arg);
}

TEST_F(Actions, MakeDispatchesOnTheNamedType) {
    EXPECT_EQ(call(SLOT_MAKE, {dtype(TYPE_INTEGER), int_value(1)}).data2, 1u);
    EXPECT_EQ(type_of_v(call(SLOT_MAKE, {dtype(TYPE_LOGIC), int_value(0)})), uint32_t(TYPE_LOGIC));
}

TEST_F(Actions, FormAndMoldOfTheSmallTypes) {
    struct Case {
        kiv_value value;
        const char *form, *mold, *mold_all;
    } cases[] = {
        {unset_value, "", "unset", "#(unset)"},
        {none_value, "none", "none", "#(none)"},
        {true_value, "true", "true", "#(true)"},
        {false_value, "false", "false", "#(false)"},
        {dtype(TYPE_INTEGER), "integer", "integer!", "#(integer!)"},
        // A datatype whose module has not registered it still has its name.
        {dtype(TYPE_EVENT), "event", "event!", "#(event!)"},
        {int_value(-2147483647 - 1), "-2147483648", "-2147483648", "-2147483648"},
        {int_value(0), "0", "0", "0"},
        {kiv_value{TYPE_TRIPLE, 1, uint32_t(-2), 2147483647}, "make triple! [1 -2 2147483647]",
         "make triple! [1 -2 2147483647]", "make triple! [1 -2 2147483647]"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(formed(c.value), c.form);
        EXPECT_EQ(molded(c.value), c.mold);
        EXPECT_EQ(molded(c.value, true), c.mold_all);
    }
}

TEST_F(Actions, FormPart) {
    kiv_value n = int_value(12345);
    EXPECT_EQ(text_of(call(SLOT_FORM, {n, int_value(3)}, {1})), "123");
    EXPECT_EQ(text_of(call(SLOT_FORM, {n, int_value(0)}, {1})), "");
    EXPECT_EQ(text_of(call(SLOT_FORM, {n, int_value(-4)}, {1})), "");
}

// Every pair of these types under every comparison code: the answer, or an
// error where an ordering has no meaning.
TEST_F(Actions, CompareCodesForEveryPair) {
    const kiv_value values[] = {unset_value, none_value, false_value, true_value,
                                dtype(TYPE_INTEGER), dtype(TYPE_FLOAT), int_value(1), int_value(2)};
    const int n = sizeof values / sizeof values[0];
    for (int i = 0; i < n; i++) {
        for (int j = 0; j < n; j++) {
            kiv_value a = values[i], b = values[j];
            bool same_type = type_of(&a) == type_of(&b);
            bool equal = same_type && a.data1 == b.data1 && a.data2 == b.data2;
            EXPECT_EQ(actions::compare(&a, &b, COMP_EQUAL), equal) << i << " " << j;
            EXPECT_EQ(actions::compare(&a, &b, COMP_NOT_EQUAL), !equal) << i << " " << j;
            EXPECT_EQ(actions::compare(&a, &b, COMP_STRICT_EQUAL), equal) << i << " " << j;
            bool ordered = same_type && type_of(&a) == TYPE_INTEGER;
            if (ordered) {
                EXPECT_EQ(actions::compare(&a, &b, COMP_LESSER), int32_t(a.data2) < int32_t(b.data2));
                EXPECT_EQ(actions::compare(&a, &b, COMP_GREATER_EQUAL), int32_t(a.data2) >= int32_t(b.data2));
            } else {
                SetUp();
                stack::mark_try(nullptr);
                expect_error(raised([&] { actions::compare(&a, &b, COMP_LESSER); }), err::SCRIPT,
                             err::script::invalid_compare);
            }
        }
    }
}

TEST_F(Actions, LogicMakeToAndTruth) {
    struct Case {
        uint32_t slot;
        kiv_value spec;
        bool result;
    } cases[] = {
        {SLOT_MAKE, int_value(0), false}, {SLOT_MAKE, int_value(2), true},
        {SLOT_MAKE, flt(0.0), false},   {SLOT_MAKE, none_value, false},
        {SLOT_TO, int_value(0), true},    {SLOT_TO, none_value, false},
        {SLOT_TO, false_value, false},  {SLOT_MAKE, flt(__builtin_nan("")), true},
    };
    for (const Case& c : cases) {
        kiv_value r = call(c.slot, {dtype(TYPE_LOGIC), c.spec});
        EXPECT_EQ(type_of(&r), uint32_t(TYPE_LOGIC));
        EXPECT_EQ(logic::get(&r), c.result) << c.slot;
    }
    EXPECT_FALSE(logic::truthy(&none_value));
    EXPECT_FALSE(logic::truthy(&false_value));
    kiv_value zero = int_value(0);
    EXPECT_TRUE(logic::truthy(&zero));
    EXPECT_TRUE(logic::truthy(&unset_value));
    stack::mark_try(nullptr);
    stack::push_value(&unset_value);
    expect_error(raised([] { logic::true_q(); }), err::SCRIPT, err::script::no_return);
}

TEST_F(Actions, LogicBitwiseAndComplement) {
    EXPECT_FALSE(truth(call(SLOT_COMPLEMENT, {true_value})));
    EXPECT_FALSE(truth(call(SLOT_AND_T, {true_value, false_value})));
    EXPECT_TRUE(truth(call(SLOT_OR_T, {true_value, false_value})));
    EXPECT_FALSE(truth(call(SLOT_XOR_T, {true_value, true_value})));
    stack::mark_try(nullptr);
    expect_error(raised([] { call(SLOT_AND_T, {true_value, int_value(1)}); }), err::SCRIPT,
                 err::script::expect_arg);
}

TEST_F(Actions, NoneAnswersNoneToSeriesActions) {
    EXPECT_EQ(type_of_v(call(SLOT_LENGTH_Q, {none_value})), uint32_t(TYPE_NONE));
    EXPECT_EQ(type_of_v(call(SLOT_FIND, {none_value, int_value(1)})), uint32_t(TYPE_NONE));
    EXPECT_EQ(type_of_v(call(SLOT_TAKE, {none_value})), uint32_t(TYPE_NONE));
    EXPECT_EQ(type_of_v(call(SLOT_CLEAR, {none_value})), uint32_t(TYPE_NONE));
}

TEST_F(Actions, PickIndexArgument) {
    EXPECT_EQ(actions::get_index_arg(&true_value), 1);
    EXPECT_EQ(actions::get_index_arg(&false_value), 2);
    kiv_value seven = int_value(7);
    EXPECT_EQ(actions::get_index_arg(&seven), 7);
    EXPECT_EQ(actions::get_index_arg(&none_value), 0);
}

TEST_F(Actions, RandomSeedMakesDrawsRepeatable) {
    kiv_value r = call(SLOT_RANDOM, {true_value}, {1, -1, -1});
    EXPECT_EQ(type_of(&r), uint32_t(TYPE_UNSET));
    bool first[8], second[8];
    for (bool& b : first) b = truth(call(SLOT_RANDOM, {true_value}, {-1, -1, -1}));
    call(SLOT_RANDOM, {true_value}, {1, -1, -1});
    for (bool& b : second) b = truth(call(SLOT_RANDOM, {true_value}, {-1, -1, -1}));
    EXPECT_EQ(std::memcmp(first, second, sizeof first), 0);
}
