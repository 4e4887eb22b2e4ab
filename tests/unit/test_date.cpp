// date!: the calendar on day numbers, across the whole year field (Python's
// datetime covers years 1 to 9999 only; tests/oracle/date_oracle.py compares
// those), the zone bits, and the day carry.
#include "runtime/datatypes/date.h"
#include "tests/unit/stack_fixture.h"

using namespace kiv;
using namespace kiv::test;

using Date = StackTest;

namespace {

// The error a call raises, caught as by a try.
template <class F>
kiv_value caught(F code) {
    stack::mark_try(nullptr);
    return raised(code);
}

uint32_t ymd(int32_t year, int32_t month, int32_t day) {
    return uint32_t(year) << 17 | uint32_t(month) << 12 | uint32_t(day) << 7;
}

}  // namespace

// Every day number of the field maps to a real day and back, and the next
// day number is the next calendar day.
TEST_F(Date, DayNumbersRoundTripOverTheWholeField) {
    int32_t first = date::days_of(ymd(date::YEAR_MIN, 1, 1));
    int32_t last = date::days_of(ymd(date::YEAR_MAX, 12, 31));
    uint32_t previous = date::from_days(first, 0, false);
    ASSERT_EQ(previous, ymd(date::YEAR_MIN, 1, 1));
    for (int32_t n = first + 1; n <= last; n++) {
        uint32_t d = date::from_days(n, 0, false);
        ASSERT_EQ(date::days_of(d), n);
        int32_t y = date::year_of(previous), m = date::month_of(previous), day = date::day_of(previous);
        bool month_end = day == date::month_length(y, m);
        uint32_t expected = !month_end ? ymd(y, m, day + 1) : m < 12 ? ymd(y, m + 1, 1) : ymd(y + 1, 1, 1);
        ASSERT_EQ(d, expected) << "day number " << n;
        previous = d;
    }
}

TEST_F(Date, NegativeYearsKeepTheLeapRule) {
    EXPECT_EQ(date::days_of(ymd(0, 3, 1)), 0);
    EXPECT_EQ(date::days_of(ymd(0, 2, 29)), -1);
    EXPECT_EQ(date::days_of(ymd(0, 3, 1)) - date::days_of(ymd(-1, 3, 1)), 366);
    EXPECT_EQ(date::days_of(ymd(-100, 3, 1)) - date::days_of(ymd(-101, 3, 1)), 365);
    EXPECT_EQ(date::days_of(ymd(-400, 3, 1)) - date::days_of(ymd(-401, 3, 1)), 366);
    // 1 January of year 1 was a Monday, so 31 December of year 0 a Sunday.
    EXPECT_EQ(date::weekday_of_days(date::days_of(ymd(1, 1, 1))), 1);
    EXPECT_EQ(date::weekday_of_days(date::days_of(ymd(0, 12, 31))), 7);
}

TEST_F(Date, DayZeroIsTheLastOfThePreviousMonth) {
    EXPECT_EQ(date::days_of(ymd(2024, 3, 0)), date::days_of(ymd(2024, 2, 29)));
    EXPECT_EQ(date::days_of(ymd(2024, 1, 0)), date::days_of(ymd(2023, 12, 31)));
}

TEST_F(Date, YearsOutsideTheFieldAreRefused) {
    int32_t last = date::days_of(ymd(date::YEAR_MAX, 12, 31));
    int32_t first = date::days_of(ymd(date::YEAR_MIN, 1, 1));
    expect_error(caught([&] { date::from_days(last + 1, 0, false); }), err::SCRIPT, err::script::type_limit);
    expect_error(caught([&] { date::from_days(first - 1, 0, false); }), err::SCRIPT, err::script::type_limit);
}

TEST_F(Date, ZoneBits) {
    uint32_t bits = 99;
    EXPECT_TRUE(date::zone_bits(5, 30, false, &bits));
    EXPECT_EQ(bits, 5u << 2 | 2);
    EXPECT_EQ(date::zone_offset(bits), 5.5 * 3600);
    EXPECT_TRUE(date::zone_bits(-8, 0, true, &bits));
    EXPECT_EQ(date::zone_offset(bits), -8.0 * 3600);
    EXPECT_TRUE(date::zone_bits(0, 45, true, &bits));
    EXPECT_EQ(date::zone_offset(bits), -0.75 * 3600);
    EXPECT_TRUE(date::zone_bits(0, 0, true, &bits));
    EXPECT_EQ(bits, 0u);
    EXPECT_TRUE(date::zone_bits(15, 59, false, &bits));
    EXPECT_EQ(date::zone_offset(bits), 15.75 * 3600);
    // Beyond the field: refused, never folded into another zone.
    EXPECT_FALSE(date::zone_bits(16, 0, false, &bits));
    EXPECT_FALSE(date::zone_bits(17, 0, false, &bits));
    EXPECT_FALSE(date::zone_bits(-16, 0, true, &bits));
    EXPECT_FALSE(date::zone_bits(5, 60, false, &bits));
    EXPECT_FALSE(date::zone_bits(5, -15, false, &bits));
}

// The carry leaves a local time of day in [0, 86400).
TEST_F(Date, ApplyZoneCarriesWholeDays) {
    uint32_t plus2 = 2u << 2, minus5 = date::ZONE_WEST | 5u << 2;
    struct {
        double time;
        uint32_t zone;
        int64_t days;
        double left;
    } cases[] = {
        {0, 0, 0, 0},
        {86400, 0, 1, 0},
        {-1, 0, -1, 86399},
        {-3600, plus2, 0, -3600},    // 1:00 local at +2:00
        {-7201, plus2, -1, 79199},   // 23:59:59 the day before
        {79200, plus2, 1, -7200},    // midnight local
        {3600 * 4, minus5, -1, 86400 + 3600 * 4},
        {-86400 * 3.5, 0, -4, 43200},
    };
    for (auto& c : cases) {
        double t = c.time;
        EXPECT_EQ(date::apply_zone(0, &t, c.zone), c.days) << c.time;
        EXPECT_EQ(t, c.left) << c.time;
    }
}

TEST_F(Date, FirstWeekStart) {
    int32_t weekday;
    // 1 January 2021 was a Friday: ISO week 1 begins on 4 January.
    EXPECT_EQ(date::first_week_start(ymd(2021, 6, 1), &weekday), date::days_of(ymd(2021, 1, 4)));
    EXPECT_EQ(weekday, 5);
    // 1 January 2025 was a Wednesday: week 1 begins in December 2024.
    EXPECT_EQ(date::first_week_start(ymd(2025, 6, 1), &weekday), date::days_of(ymd(2024, 12, 30)));
    EXPECT_EQ(weekday, 3);
}
