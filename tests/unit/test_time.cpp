// time!: forming, construction, fields through paths and pick, arithmetic,
// rounding, parity and the inherited float! actions. Expected texts and
// field values were computed with Python 3 (math.fmod, divmod, "%.6g").
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "runtime/datatypes/time.h"
#include "tests/unit/action_fixture.h"
#include "tests/unit/text_fixture.h"

using namespace kiv;
using namespace kiv::test;

using Time = StackTest;

namespace {

const double INF = HUGE_VAL;
const double NaN = std::nan("");

kiv_value at_seconds(double seconds) {
    kiv_value v;
    time::make_at(&v, seconds);
    return v;
}

kiv_value typed(kiv_value v, uint32_t type) { return *cell::set_type(&v, type); }
kiv_value chr(uint32_t cp) { return kiv_value{TYPE_CHAR, 0, cp, 0}; }

// An expected outcome: a time!, a float!, an integer! or an error.
struct expect {
    enum kind { TIME, FLOAT, INT, ERROR } k;
    double value;
    err::category category = err::SCRIPT;
    uint32_t error = 0;
};
expect is_time(double v) { return {expect::TIME, v}; }
expect is_float(double v) { return {expect::FLOAT, v}; }
expect is_int(int32_t v) { return {expect::INT, double(v)}; }
expect fails(err::category c, uint32_t id) { return {expect::ERROR, 0, c, id}; }

void check(const std::string& what, std::function<kiv_value()> run, const expect& e) {
    SCOPED_TRACE(what);
    if (e.k == expect::ERROR) {
        expect_raised(attempt([&] { run(); }), e.category, e.error);
        return;
    }
    kiv_value r = run();
    if (e.k == expect::INT) {
        ASSERT_EQ(type_of(&r), uint32_t(TYPE_INTEGER));
        EXPECT_EQ(integer::get_value(&r), int32_t(e.value));
        return;
    }
    ASSERT_EQ(type_of(&r), uint32_t(e.k == expect::TIME ? TYPE_TIME : TYPE_FLOAT));
    if (std::isnan(e.value)) EXPECT_TRUE(std::isnan(float_::get(&r)));
    else EXPECT_EQ(float_::get(&r), e.value);
}

// Refinement positions of round: /to's scale is argument 1, flags are any
// value but -1.
enum { EVEN = 1, DOWN, HALF_DOWN, FLOOR, CEILING, HALF_CEILING };
std::vector<int32_t> round_refs(bool to, int flag) {
    std::vector<int32_t> refs(7, -1);
    if (to) refs[0] = 1;
    if (flag) refs[size_t(flag)] = 1;
    return refs;
}

// Sets a field through the path action the way a set-path does: the time
// cell changes in place and the set value is the result.
double set_field(double seconds, const kiv_value& element, const kiv_value& value) {
    kiv_value t = at_seconds(seconds), e = element, v = value;
    kiv_value* r = actions::eval_path_typed(&t, &e, &v, nullptr, nullptr, nullptr, -1, false, false,
                                            true, false);
    EXPECT_EQ(r, &v);
    EXPECT_EQ(type_of(&t), uint32_t(TYPE_TIME));
    return time::get(&t);
}

}  // namespace

// Forming ------------------------------------------------------------------------

TEST_F(Time, FormAndMoldWriteHoursMinutesSeconds) {
    struct Case {
        double seconds;
        const char* text;
    } cases[] = {
        {3630.5, "1:00:30.5"},
        {0.0, "0:00:00"},
        {-0.0, "0:00:00"},
        {-90.0, "-0:01:30"},
        {90000.0, "25:00:00"},
        {1e-7, "0:00:00"},  // below a microsecond
        {-1e-7, "-0:00:00"},
        {5.0, "0:00:05"},
        {5.25, "0:00:05.25"},
        {0.5, "0:00:00.5"},
        {0.001, "0:00:00.001"},
        {0.000001, "0:00:00.000001"},
        {1.0 / 3, "0:00:00.333333"},
        {12.3456789, "0:00:12.3457"},
        {59.5, "0:00:59.5"},
        {7.000000001, "0:00:07"},
        {3723.5, "1:02:03.5"},
        {45296.789, "12:34:56.789"},
        {-5415.0, "-1:30:15"},
        {1e10, "2777777:46:40"},
        {1e20, "27777777777777776:46:40"},
        // Seconds that six digits round to 60 carry into the minutes and
        // hours instead of showing as 60.
        {3599.99999, "1:00:00"},
        {86399.9999999, "24:00:00"},
        {119.99999, "0:02:00"},
        // Durations with no hours to count show as the number they are.
        {INF, "1.#INF"},
        {-INF, "-1.#INF"},
        {NaN, "1.#NaN"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(formed(at_seconds(c.seconds)), c.text) << c.seconds;
        EXPECT_EQ(molded(at_seconds(c.seconds)), c.text) << c.seconds;
        EXPECT_EQ(molded(at_seconds(c.seconds), true), c.text) << c.seconds;
    }
}

TEST_F(Time, FormSecondsReturnsTheBudgetLeft) {
    kiv_value s = str("");
    EXPECT_EQ(time::form_seconds(3630.5, &s, 100), 100 - 9);
    EXPECT_EQ(text_of(s), "1:00:30.5");
    EXPECT_EQ(text_of(call(SLOT_FORM, {at_seconds(3630.5), int_value(5)}, {1})), "1:00:");
    EXPECT_EQ(text_of(call(SLOT_MOLD, {at_seconds(3630.5), int_value(3)}, {-1, -1, -1, 1})), "1:0");
}

// Make and to --------------------------------------------------------------------

TEST_F(Time, MakeAndTo) {
    kiv_value at_second = block_of({int_value(9), int_value(1), int_value(2)});
    at_second.data1 = 1;
    struct Case {
        const char* what;
        kiv_value spec;
        expect result;
    } cases[] = {
        {"90", int_value(90), is_time(90.0)},
        {"1.5", flt(1.5), is_time(1.5)},
        {"-2.5", flt(-2.5), is_time(-2.5)},
        {"50%", typed(flt(0.5), TYPE_PERCENT), is_time(0.5)},
        {"1:00", at_seconds(3600.0), is_time(3600.0)},
        {"[1 2 3.5]", block_of({int_value(1), int_value(2), flt(3.5)}), is_time(3723.5)},
        {"[]", block_of({}), is_time(0.0)},
        {"[1]", block_of({int_value(1)}), is_time(3600.0)},
        {"[1 30]", block_of({int_value(1), int_value(30)}), is_time(5400.0)},
        {"[-1 30 0]", block_of({int_value(-1), int_value(30), int_value(0)}), is_time(-5400.0)},
        {"[1 90]", block_of({int_value(1), int_value(90)}), is_time(9000.0)},
        {"[0 0 -0.0]", block_of({int_value(0), int_value(0), flt(-0.0)}), is_time(0.0)},
        {"(0 1)", typed(block_of({int_value(0), int_value(1)}), TYPE_PAREN), is_time(60.0)},
        {"[9 | 1 2] from its cursor", at_second, is_time(3720.0)},
        {"[1 -2 0]", block_of({int_value(1), int_value(-2), int_value(0)}),
         fails(err::SCRIPT, err::script::bad_to_arg)},
        {"[1 2 -3]", block_of({int_value(1), int_value(2), int_value(-3)}),
         fails(err::SCRIPT, err::script::bad_to_arg)},
        {"[1 2 3 4]", block_of({int_value(1), int_value(2), int_value(3), int_value(4)}),
         fails(err::SCRIPT, err::script::bad_to_arg)},
        {"[1.5]", block_of({flt(1.5)}), fails(err::SCRIPT, err::script::bad_to_arg)},
        {"[1 2.5]", block_of({int_value(1), flt(2.5)}), fails(err::SCRIPT, err::script::bad_to_arg)},
        {"[1 2 #\"a\"]", block_of({int_value(1), int_value(2), chr('a')}),
         fails(err::SCRIPT, err::script::bad_to_arg)},
        {"none", none_value, fails(err::SCRIPT, err::script::bad_to_arg)},
        {"#\"a\"", chr('a'), fails(err::SCRIPT, err::script::bad_to_arg)},
        {"true", true_value, fails(err::SCRIPT, err::script::bad_to_arg)},
    };
    for (const Case& c : cases) {
        check(std::string("make ") + c.what, [&] { return call(SLOT_MAKE, {dtype(TYPE_TIME), c.spec}); },
              c.result);
        check(std::string("to ") + c.what, [&] { return call(SLOT_TO, {dtype(TYPE_TIME), c.spec}); },
              c.result);
    }
    // A prototype picks the type as well as a datatype does.
    check("make 0:00:10 5", [] { return call(SLOT_MAKE, {at_seconds(10.0), int_value(5)}); }, is_time(5.0));
}

TEST_F(Time, Constructors) {
    kiv_value* pushed = time::push(1.5);
    EXPECT_EQ(type_of(pushed), uint32_t(TYPE_TIME));
    EXPECT_EQ(time::get(pushed), 1.5);
    kiv_value blk = block_of({});
    kiv_value* made = time::make_in(&blk, -2.0);
    EXPECT_EQ(length_of(blk), 1u);
    EXPECT_EQ(cells_of(blk), made);
    EXPECT_EQ(time::get(made), -2.0);
}

// Fields -------------------------------------------------------------------------

TEST_F(Time, FieldsReadHoursTowardZeroMinutesOfTheMagnitudeSignedSeconds) {
    struct Case {
        double seconds;
        int32_t hour, minute;
        double second;
    } cases[] = {
        {-5415.0, -1, 30, -15.0},
        {5415.0, 1, 30, 15.0},
        {0.0, 0, 0, 0.0},
        {3630.5, 1, 0, 30.5},
        {-0.5, 0, 0, -0.5},
        {7199.9, 1, 59, 59.899999999999636},
        {90000.0, 25, 0, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.seconds);
        EXPECT_EQ(time::get_hours(c.seconds), c.hour);
        EXPECT_EQ(time::get_minutes(c.seconds), c.minute);
        kiv_value t = at_seconds(c.seconds);
        check("hour", [&] { return call(SLOT_EVAL_PATH, {t, word_of("hour")}, {0}); }, is_int(c.hour));
        check("minute", [&] { return call(SLOT_EVAL_PATH, {t, word_of("minute")}, {0}); }, is_int(c.minute));
        check("second", [&] { return call(SLOT_EVAL_PATH, {t, word_of("second")}, {0}); },
              is_float(c.second));
        check("1", [&] { return call(SLOT_EVAL_PATH, {t, int_value(1)}, {0}); }, is_int(c.hour));
        check("2", [&] { return call(SLOT_EVAL_PATH, {t, int_value(2)}, {0}); }, is_int(c.minute));
        check("3", [&] { return call(SLOT_EVAL_PATH, {t, int_value(3)}, {0}); }, is_float(c.second));
        check("pick 3", [&] { return call(SLOT_PICK, {t, int_value(3)}); }, is_float(c.second));
    }
    // Hours that do not fit an integer!, and times with no hours at all.
    for (double s : {1e20, -1e20, INF, NaN}) {
        check("hour of " + std::to_string(s), [&] { return call(SLOT_PICK, {at_seconds(s), int_value(1)}); },
              fails(err::MATH, err::math::overflow));
    }
    kiv_value scratch = none_value;
    EXPECT_EQ(time::get_field(&scratch, 4, &scratch), nullptr);
    EXPECT_EQ(type_of(&scratch), uint32_t(TYPE_NONE));
}

TEST_F(Time, FieldIndexOfWords) {
    kiv_value t = at_seconds(1.0);
    kiv_value hour = word_of("hour");
    EXPECT_EQ(time::field_index(&hour, nullptr), 1);
    kiv_value minute = word_of("MINUTE"), second = word_of("second", TYPE_LIT_WORD), other = word_of("day");
    EXPECT_EQ(time::field_index(&minute, &t), 2);
    EXPECT_EQ(time::field_index(&second, &t), 3);
    EXPECT_EQ(time::field_index(&other, nullptr), -1);
    kiv_value none = none_value;
    EXPECT_EQ(time::field_index(&other, &none), -1);
    expect_raised(attempt([&] { time::field_index(&other, &t); }), err::SCRIPT, err::script::cannot_use);
}

TEST_F(Time, Pick) {
    kiv_value t = at_seconds(5415.0);  // 1:30:15
    struct Case {
        const char* what;
        kiv_value index;
        expect result;
    } cases[] = {
        {"1", int_value(1), is_int(1)},
        {"2", int_value(2), is_int(30)},
        {"3", int_value(3), is_float(15.0)},
        {"'minute", word_of("minute"), is_int(30)},
        {"'hour", word_of("hour"), is_int(1)},
        {"true", true_value, is_int(1)},
        {"false", false_value, is_int(30)},
        {"4", int_value(4), fails(err::SCRIPT, err::script::out_of_range)},
        {"0", int_value(0), fails(err::SCRIPT, err::script::out_of_range)},
        {"-1", int_value(-1), fails(err::SCRIPT, err::script::out_of_range)},
        {"none", none_value, fails(err::SCRIPT, err::script::out_of_range)},
        {"'day", word_of("day"), fails(err::SCRIPT, err::script::cannot_use)},
    };
    for (const Case& c : cases)
        check(std::string("pick ") + c.what, [&] { return call(SLOT_PICK, {t, c.index}); }, c.result);
}

TEST_F(Time, PathElementsOtherThanTheFieldsAreInvalid) {
    kiv_value t = at_seconds(5415.0);
    for (kiv_value element :
         {int_value(0), int_value(4), word_of("day"), str("hour"), flt(1.0), none_value}) {
        expect_raised(attempt([&] { call(SLOT_EVAL_PATH, {t, element}, {0}); }), err::SCRIPT,
                      err::script::invalid_path);
        expect_raised(attempt([&] { call(SLOT_EVAL_PATH, {t, element, int_value(1)}, {1}); }), err::SCRIPT,
                      err::script::invalid_path);
    }
}

TEST_F(Time, SettingFields) {
    kiv_value hour = word_of("hour"), minute = word_of("minute"), second = word_of("second");
    struct Case {
        const char* what;
        double seconds;
        kiv_value element, value;
        double result;
    } cases[] = {
        {"1:30:15 minute 45", 5415.0, minute, int_value(45), 6315.0},
        {"1:30:15 second 1.5", 5415.0, second, flt(1.5), 5401.5},
        {"1:30:15 second 20", 5415.0, second, int_value(20), 5420.0},
        {"1:30:15 hour 2", 5415.0, hour, int_value(2), 9015.0},
        {"1:30:15 hour 0", 5415.0, hour, int_value(0), 1815.0},
        {"1:30:15 minute 90 rolls over", 5415.0, minute, int_value(90), 9015.0},
        {"0:10:15 minute -20", 615.0, minute, int_value(-20), -1185.0},
        {"1:30:15 by index 2", 5415.0, int_value(2), int_value(0), 3615.0},
        {"1:30:15.5 by index 1", 5415.5, int_value(1), int_value(3), 12615.5},
        // Negative times: each field is set as it reads, so setting a field
        // to what it holds keeps the time.
        {"-1:30:15 hour -1", -5415.0, hour, int_value(-1), -5415.0},
        {"-1:30:15 minute 30", -5415.0, minute, int_value(30), -5415.0},
        {"-1:30:15 second -15", -5415.0, second, flt(-15.0), -5415.0},
        {"-1:30:15 minute 45", -5415.0, minute, int_value(45), -6315.0},
        {"-1:30:15 hour -3", -5415.0, hour, int_value(-3), -12615.0},
        {"-1:30:15 hour 0 keeps the sign", -5415.0, hour, int_value(0), -1815.0},
        {"-1:30:15 hour 2 takes its sign", -5415.0, hour, int_value(2), 9015.0},
        {"1:30:15 hour -1 takes its sign", 5415.0, hour, int_value(-1), -5415.0},
        {"-1:30:15 second -20", -5415.0, second, int_value(-20), -5420.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(set_field(c.seconds, c.element, c.value), c.result);
    }
}

TEST_F(Time, SetFieldsReadBackWhatWasSet) {
    kiv_value hour = word_of("hour"), minute = word_of("minute");
    for (double s : {5415.0, -5415.0, -1815.0, 0.0, 86399.5}) {
        for (int32_t h : {-2, 0, 3}) {
            double after = set_field(s, hour, int_value(h));
            EXPECT_EQ(time::get_hours(after), h) << s;
            EXPECT_EQ(time::get_minutes(after), time::get_minutes(s)) << s;
        }
        for (int32_t m : {0, 17, 59}) {
            double after = set_field(s, minute, int_value(m));
            EXPECT_EQ(time::get_minutes(after), m) << s;
            EXPECT_EQ(time::get_hours(after), time::get_hours(s)) << s;
        }
    }
}

TEST_F(Time, SettingAFieldToAValueOfTheWrongType) {
    struct Case {
        const char* field;
        kiv_value value;
    } cases[] = {
        {"hour", flt(2.5)}, {"minute", flt(1.0)}, {"second", str("1")}, {"hour", none_value},
        {"second", chr('a')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.field);
        kiv_value t = at_seconds(5415.0), e = word_of(c.field), v = c.value;
        expect_raised(attempt([&] {
                          actions::eval_path_typed(&t, &e, &v, nullptr, nullptr, nullptr, -1, false,
                                                   false, true, false);
                      }),
                      err::SCRIPT, err::script::invalid_arg);
        EXPECT_EQ(time::get(&t), 5415.0);
    }
    // Through the dispatcher the set value is the result.
    check("t/minute: 45",
          [] { return call(SLOT_EVAL_PATH, {at_seconds(5415.0), word_of("minute"), int_value(45)}, {1}); },
          is_int(45));
}

// Arithmetic ---------------------------------------------------------------------

TEST_F(Time, Arithmetic) {
    const kiv_value one_hour = at_seconds(3600), date{TYPE_DATE, 0, 0, 0};
    auto script_error = [](uint32_t id) { return fails(err::SCRIPT, id); };
    struct Case {
        const char* what;
        uint32_t slot;
        kiv_value left, right;
        expect result;
    } cases[] = {
        {"1:00 + 30", SLOT_ADD, one_hour, int_value(30), is_time(3630.0)},
        {"1:00 + 0:30", SLOT_ADD, one_hour, at_seconds(1800), is_time(5400.0)},
        {"1:00 + 0.5", SLOT_ADD, one_hour, flt(0.5), is_time(3600.5)},
        {"30 + 1:00", SLOT_ADD, int_value(30), one_hour, is_time(3630.0)},
        {"1.5 + 1:00", SLOT_ADD, flt(1.5), one_hour, is_time(3601.5)},
        {"1:00 - 0:30", SLOT_SUBTRACT, one_hour, at_seconds(1800), is_time(1800.0)},
        {"0:30 - 1:00", SLOT_SUBTRACT, at_seconds(1800), one_hour, is_time(-1800.0)},
        {"1:00 * 2", SLOT_MULTIPLY, one_hour, int_value(2), is_time(7200.0)},
        {"1:00 * 1.5", SLOT_MULTIPLY, one_hour, flt(1.5), is_time(5400.0)},
        {"2 * 1:00", SLOT_MULTIPLY, int_value(2), one_hour, is_time(7200.0)},
        {"1:00 / 0:30", SLOT_DIVIDE, one_hour, at_seconds(1800), is_float(2.0)},
        {"1:00 / 2", SLOT_DIVIDE, one_hour, int_value(2), is_time(1800.0)},
        {"1:00 / 0", SLOT_DIVIDE, one_hour, int_value(0), is_time(INF)},
        {"0:00 / 0:00", SLOT_DIVIDE, at_seconds(0), at_seconds(0), is_float(NaN)},
        {"1:00:30 rem 60", SLOT_REMAINDER, at_seconds(3630), int_value(60), is_time(30.0)},
        {"1:00 * 1:00", SLOT_MULTIPLY, one_hour, one_hour, script_error(err::script::not_related)},
        {"1:00 - date", SLOT_SUBTRACT, one_hour, date, script_error(err::script::not_related)},
        {"1:00 + #\"a\"", SLOT_ADD, one_hour, chr('a'), script_error(err::script::invalid_type)},
        {"1:00 + none", SLOT_ADD, one_hour, none_value, script_error(err::script::invalid_type)},
        {"1:00 / \"x\"", SLOT_DIVIDE, one_hour, str("x"), script_error(err::script::invalid_type)},
        {"power 1:00 2", SLOT_POWER, one_hour, int_value(2), script_error(err::script::expect_arg)},
        {"1:00 and 1", SLOT_AND_T, one_hour, int_value(1), script_error(err::script::expect_arg)},
    };
    for (const Case& c : cases) check(c.what, [&] { return call(c.slot, {c.left, c.right}); }, c.result);
}

TEST_F(Time, InheritedOneOperandActions) {
    check("negate", [] { return call(SLOT_NEGATE, {at_seconds(3600)}); }, is_time(-3600.0));
    check("negate 0", [] { return call(SLOT_NEGATE, {at_seconds(0)}); }, is_time(0.0));
    check("absolute", [] { return call(SLOT_ABSOLUTE, {at_seconds(-3600)}); }, is_time(3600.0));
    for (int i = 0; i < 20; i++) {
        kiv_value r = call(SLOT_RANDOM, {at_seconds(3600)});
        ASSERT_EQ(type_of(&r), uint32_t(TYPE_TIME));
        EXPECT_GE(time::get(&r), 0.0);
        EXPECT_LE(time::get(&r), 3600.0);
    }
    EXPECT_EQ(type_of_v(call(SLOT_RANDOM, {at_seconds(3600)}, {1})), uint32_t(TYPE_UNSET));
}

TEST_F(Time, Compare) {
    struct Case {
        kiv_value a, b;
        int32_t op;
        bool result;
    } cases[] = {
        {at_seconds(3600), at_seconds(3600), COMP_EQUAL, true},
        {at_seconds(3600), int_value(3600), COMP_EQUAL, true},
        {at_seconds(3600), flt(3600.0), COMP_EQUAL, true},
        {at_seconds(3600), int_value(3600), COMP_STRICT_EQUAL, false},
        {at_seconds(3600), at_seconds(3600), COMP_STRICT_EQUAL, true},
        {at_seconds(3600), at_seconds(7200), COMP_LESSER, true},
        {at_seconds(-1), at_seconds(0), COMP_LESSER, true},
        {at_seconds(7200), at_seconds(3600), COMP_GREATER_EQUAL, true},
        {at_seconds(3600), none_value, COMP_EQUAL, false},
        {at_seconds(3600), none_value, COMP_NOT_EQUAL, true},
    };
    for (Case& c : cases) EXPECT_EQ(actions::compare(&c.a, &c.b, c.op), c.result) << c.op;
    kiv_value a = at_seconds(1), b = none_value;
    expect_raised(attempt([&] { actions::compare(&a, &b, COMP_LESSER); }), err::SCRIPT,
                  err::script::invalid_compare);
}

// Rounding -----------------------------------------------------------------------

TEST_F(Time, RoundAlwaysGivesATime) {
    kiv_value money{TYPE_MONEY, 0, 0, 0};
    struct Case {
        const char* what;
        double seconds;
        bool to;
        kiv_value scale;
        int flag;
        expect result;
    } cases[] = {
        {"round 1:00:30.6", 3630.6, false, {}, 0, is_time(3631.0)},
        {"round 1:00:30.5", 3630.5, false, {}, 0, is_time(3631.0)},
        {"round -0:00:02.5", -2.5, false, {}, 0, is_time(-3.0)},
        {"round/even 2.5", 2.5, false, {}, EVEN, is_time(2.0)},
        {"round/down 90.9", 90.9, false, {}, DOWN, is_time(90.0)},
        {"round/floor -90.5", -90.5, false, {}, FLOOR, is_time(-91.0)},
        {"round/ceiling 90.1", 90.1, false, {}, CEILING, is_time(91.0)},
        {"round/half-down 2.5", 2.5, false, {}, HALF_DOWN, is_time(2.0)},
        {"round/half-ceiling -2.5", -2.5, false, {}, HALF_CEILING, is_time(-2.0)},
        {"round/to 1:07 0:05", 4020.0, true, at_seconds(300.0), 0, is_time(3900.0)},
        {"round/to 1:00:30.6 1", 3630.6, true, int_value(1), 0, is_time(3631.0)},
        {"round/to 1:00:29 60", 3629.0, true, int_value(60), 0, is_time(3600.0)},
        {"round/to 0:00:30.25 0.5", 30.25, true, flt(0.5), 0, is_time(30.5)},
        {"round/to 0:00:30.26 10%", 30.26, true, typed(flt(0.1), TYPE_PERCENT), 0, is_time(30.3)},
        // A whole-number scale keeps the double: no integer! overflow for
        // times beyond its range.
        {"round/to 1e10 1", 1e10 + 0.4, true, int_value(1), 0, is_time(1e10)},
        {"round/to 1000000000:00 60", 3.6e12 + 31, true, int_value(60), 0, is_time(3.6e12 + 60)},
        {"round/to money", 1.0, true, money, 0, fails(err::SCRIPT, err::script::not_related)},
    };
    for (const Case& c : cases)
        check(c.what,
              [&] {
                  std::vector<kiv_value> args{at_seconds(c.seconds)};
                  if (c.to) args.push_back(c.scale);
                  return call(SLOT_ROUND, args, round_refs(c.to, c.flag));
              },
              c.result);
}

TEST_F(Time, EvenAndOddLookAtTheWholeSecondsOfTheMinute) {
    struct Case {
        double seconds;
        bool even, odd;
    } cases[] = {
        {2.0, true, false},
        {63.0, false, true},   // 0:01:03
        {0.0, true, false},
        {-3.0, false, true},
        {-4.0, true, false},
        {2.9999999, false, true},  // nudged up to 3
        {59.9999999, true, false},  // nudged to the next minute: 0
        {122.5, true, false},
        {121.5, false, true},
        {INF, false, false},
        {-INF, false, false},
        {NaN, false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(truth(call(SLOT_EVEN_Q, {at_seconds(c.seconds)})), c.even) << c.seconds;
        EXPECT_EQ(truth(call(SLOT_ODD_Q, {at_seconds(c.seconds)})), c.odd) << c.seconds;
    }
}

TEST_F(Time, RegisteredRow) {
    EXPECT_STREQ(datatype::table[TYPE_TIME].name, "time!");
    for (uint32_t slot : {SLOT_RANDOM, SLOT_COMPARE, SLOT_ABSOLUTE, SLOT_NEGATE, SLOT_REMAINDER})
        EXPECT_EQ(actions::entry(TYPE_TIME, slot), actions::entry(TYPE_FLOAT, slot)) << slot;
    for (uint32_t slot : {SLOT_MAKE, SLOT_FORM, SLOT_MOLD, SLOT_EVAL_PATH, SLOT_ADD, SLOT_DIVIDE,
                          SLOT_MULTIPLY, SLOT_ROUND, SLOT_SUBTRACT, SLOT_EVEN_Q, SLOT_ODD_Q, SLOT_PICK}) {
        EXPECT_NE(actions::entry(TYPE_TIME, slot), actions::UNSUPPORTED) << slot;
        EXPECT_NE(actions::entry(TYPE_TIME, slot), actions::entry(TYPE_FLOAT, slot)) << slot;
    }
    EXPECT_EQ(actions::entry(TYPE_TIME, SLOT_TO), actions::entry(TYPE_TIME, SLOT_MAKE));
    for (uint32_t slot : {SLOT_POWER, SLOT_REFLECT, SLOT_APPEND, SLOT_POKE, SLOT_COMPLEMENT})
        EXPECT_EQ(actions::entry(TYPE_TIME, slot), actions::UNSUPPORTED) << slot;
}

TEST(TimeToFloat, GivesTheSeconds) {
    kiv_value t;
    kiv::float_::make_at(&t, 3600.0);
    kiv::cell::set_type(&t, kiv::TYPE_TIME);
    EXPECT_EQ(kiv::float_::get(&(const kiv_value&)call(SLOT_TO, {dtype(kiv::TYPE_FLOAT), t})), 3600.0);
}
