#pragma once
// date!: a day of the proleptic Gregorian calendar, optionally with a time of
// day and a zone offset. Payload word 1 packs the local date:
//   bits 17-31  year, signed
//   bit  16     has-time: a time of day and a zone are present
//   bits 12-15  month 1-12
//   bits 7-11   day 1-31
//   bits 0-6    zone: bit 6 west of UTC, bits 2-5 whole hours, bits 0-1 quarters
// Words 2-3 hold a double: the local time of day minus the zone offset, so
// that the day number times 86,400 plus it is the instant. Day numbers count
// from 1 March of year 0; weekday 1 is Monday.
#include <cstdint>

#include "runtime/value.h"

namespace kiv::date {

constexpr uint32_t TIME_BIT = 0x10000;
constexpr uint32_t ZONE_MASK = 0x7F;
constexpr uint32_t ZONE_WEST = 0x40;
constexpr int32_t YEAR_MIN = -16384;  // the reach of the 15-bit field
constexpr int32_t YEAR_MAX = 16383;
constexpr double DAY = 86400.0;

// Field indexes of paths and pick.
enum field : int32_t {
    FIELD_DATE = 1, FIELD_YEAR, FIELD_MONTH, FIELD_DAY, FIELD_ZONE, FIELD_TIME, FIELD_HOUR,
    FIELD_MINUTE, FIELD_SECOND, FIELD_WEEKDAY, FIELD_YEARDAY, FIELD_TIMEZONE, FIELD_WEEK,
    FIELD_ISOWEEK,
};

inline int32_t year_of(uint32_t d) { return int32_t(d) >> 17; }
inline int32_t month_of(uint32_t d) { return int32_t(d >> 12 & 15); }
inline int32_t day_of(uint32_t d) { return int32_t(d >> 7 & 31); }
inline uint32_t zone_of(uint32_t d) { return d & ZONE_MASK; }
inline bool time_q(uint32_t d) { return d & TIME_BIT; }
inline uint32_t packed_of(const kiv_value* v) { return v->data1; }
inline double time_of(const kiv_value* v) { return cell::get_float(v); }

// Calendar helpers.
bool leap_year_q(int32_t year);
int32_t month_length(int32_t year, int32_t month);
// The day number of the packed date; day 0 is the last day of the previous
// month, which is how day overflow and underflow resolve.
int32_t days_of(uint32_t packed);
// The packed date of a day number; raises `type-limit` when its year leaves
// the year field.
uint32_t from_days(int64_t days, uint32_t zone, bool has_time);
int32_t year_start_days(uint32_t packed);
int32_t yearday(uint32_t packed);
int32_t weekday_of_days(int32_t days);  // 1 Monday to 7 Sunday
// The Monday that starts ISO week 1 of the date's year; the weekday of its
// 1 January goes to *weekday.
int32_t first_week_start(uint32_t packed, int32_t* weekday);

// Zones: the offset in seconds east of UTC, and the zone bits of an offset.
double zone_offset(uint32_t zone);
// Zone bits of hours and minutes east (both carry the zone's sign through
// `west`); false when the hours pass 15 or the minutes leave 0-59.
bool zone_bits(int32_t hours, int32_t minutes, bool west, uint32_t* bits);
// Carries whole days out of `time` so that the local time of day lies in
// [0, 86400); returns the new day number.
int64_t apply_zone(int64_t days, double* time, uint32_t zone);
// Rebuilds the cell's date from its day number and `time` (local when
// `to_utc`, first taken back by the zone offset).
void normalize(kiv_value* date, double time, bool to_utc);

// Constructors.
kiv_value* make_at(kiv_value* cell, uint32_t packed, double time);
kiv_value* push(uint32_t packed, double time);
kiv_value* make_in(kiv_value* block, uint32_t packed, double time);
// A UTC time of day with nanoseconds (file times), normalised.
kiv_value* make_at_time(kiv_value* cell, int32_t year, int32_t month, int32_t day, int32_t hour,
                        int32_t minute, int32_t second, int32_t nanoseconds);

// Seconds since 1 January 1970 UTC, the time rounded half up to a second.
int64_t to_epoch(const kiv_value* date);
// A date of seconds since 1 January 1970 UTC, zone 0.
kiv_value* from_epoch(kiv_value* cell, int64_t seconds);
// `a` becomes the time! from `b` to `a`.
void difference(kiv_value* a, const kiv_value* b);
// A field (1 to 14) into `result`.
kiv_value* get_field(const kiv_value* date, int32_t index, kiv_value* result);
// The arithmetic of the current call: the date in the first argument cell,
// the operand in the second; the result replaces the date. integer! and
// time! call it with the operands swapped when the date is on their right.
void do_math(int32_t op);

void init();

}  // namespace kiv::date
