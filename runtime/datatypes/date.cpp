// date!: the calendar arithmetic on day numbers, the fields, the text form,
// and the actions of its row. Every change of a date's fields ends in
// `normalize`, which carries the time into days at the date's zone and
// rebuilds the packed word, refusing a year the field cannot hold.
#include "runtime/datatypes/date.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "runtime/boot.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/evaluator/lexer.h"
#include "runtime/evaluator/random.h"
#include "runtime/stack.h"

namespace kiv::date {

namespace {

constexpr double HOUR = 3600.0;

// Division and remainder rounded toward minus infinity, so that the calendar
// of negative years runs on as it does for positive ones.
int64_t floor_div(int64_t a, int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }
int64_t floor_mod(int64_t a, int64_t b) { return a - floor_div(a, b) * b; }

int64_t days_before_march(int64_t y) { return 365 * y + floor_div(y, 4) - floor_div(y, 100) + floor_div(y, 400); }

[[noreturn]] void overflow() {
    kiv_value dt;
    datatype::make_at(&dt, TYPE_DATE);
    fire(err::SCRIPT, err::script::type_limit, &dt);
}

[[noreturn]] void bad_to(const kiv_value* spec) {
    kiv_value dt;
    datatype::make_at(&dt, TYPE_DATE);
    fire(err::SCRIPT, err::script::bad_to_arg, &dt, spec);
}

bool year_fits_q(int64_t year) { return year >= YEAR_MIN && year <= YEAR_MAX; }

uint32_t pack(int64_t year, int32_t month, int32_t day, uint32_t zone, bool has_time) {
    return uint32_t(year) << 17 | (has_time ? TIME_BIT : 0) | uint32_t(month) << 12 | uint32_t(day) << 7 |
           (zone & ZONE_MASK);
}

int32_t days_1970() {
    static const int32_t days = days_of(pack(1970, 1, 1, 0, false));
    return days;
}

double local_time(const kiv_value* d) { return time_of(d) + zone_offset(zone_of(packed_of(d))); }

int32_t week(uint32_t packed) {
    int32_t start = year_start_days(packed);
    int32_t f = int32_t(floor_mod(start + 3, 7));  // 0 when 1 January is a Sunday
    int32_t yd = yearday(packed);
    return yd > 7 - f ? (yd + f - 1) / 7 + 1 : 1;
}

int32_t isoweek(uint32_t packed) {
    int32_t weekday;
    int32_t start = first_week_start(packed, &weekday);
    int32_t n = days_of(packed);
    if (n < start) {
        // The last week of the previous year.
        switch (weekday) {
            case 5: return 53;
            case 6: return leap_year_q(year_of(packed) - 1) ? 53 : 52;
            case 7: return 52;
            default: return 1;
        }
    }
    int32_t ignored;
    int32_t next = first_week_start(pack(int64_t(year_of(packed)) + 1, 1, 1, 0, false), &ignored);
    return n < next ? (n - start) / 7 + 1 : 1;
}

}  // namespace

// Calendar -----------------------------------------------------------------------

bool leap_year_q(int32_t year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int32_t month_length(int32_t year, int32_t month) {
    static constexpr int32_t lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && leap_year_q(year) ? 29 : lengths[month - 1];
}

int32_t days_of(uint32_t packed) {
    int64_t m = (month_of(packed) + 9) % 12;  // March is 0
    int64_t y = year_of(packed) - m / 10;
    return int32_t(days_before_march(y) + (306 * m + 5) / 10 + (day_of(packed) - 1));
}

uint32_t from_days(int64_t days, uint32_t zone, bool has_time) {
    int64_t y = int64_t(std::floor((10000.0 * double(days) + 14780.0) / 3652425.0));
    int64_t ddd = days - days_before_march(y);
    if (ddd < 0) {
        y--;
        ddd = days - days_before_march(y);
    }
    int64_t mi = (100 * ddd + 52) / 3060;
    int64_t year = y + (mi + 2) / 12;
    if (!year_fits_q(year)) overflow();
    int32_t month = int32_t((mi + 2) % 12 + 1);
    int32_t day = int32_t(ddd - (306 * mi + 5) / 10 + 1);
    return pack(year, month, day, zone, has_time);
}

int32_t year_start_days(uint32_t packed) { return days_of(pack(year_of(packed), 1, 1, 0, false)); }

int32_t yearday(uint32_t packed) { return days_of(packed) - year_start_days(packed) + 1; }

int32_t weekday_of_days(int32_t days) { return int32_t(floor_mod(int64_t(days) + 2, 7)) + 1; }

int32_t first_week_start(uint32_t packed, int32_t* weekday) {
    int32_t start = year_start_days(packed);
    int32_t w = weekday_of_days(start) - 1;  // 0 Monday
    *weekday = w + 1;
    // 1 January on a Friday, Saturday or Sunday belongs to the last week of
    // the year before.
    return start - w + (w >= 4 ? 7 : 0);
}

// Zones --------------------------------------------------------------------------

double zone_offset(uint32_t zone) {
    double s = double((zone >> 2 & 15) * 3600 + (zone & 3) * 900);
    return zone & ZONE_WEST ? -s : s;
}

bool zone_bits(int32_t hours, int32_t minutes, bool west, uint32_t* bits) {
    if (hours < -15 || hours > 15 || minutes < 0 || minutes > 59) return false;
    uint32_t h = uint32_t(hours < 0 ? -hours : hours);
    uint32_t q = uint32_t(minutes / 15) & 3;
    *bits = h || q ? (h << 2 | q | (west ? ZONE_WEST : 0)) : 0;
    return true;
}

int64_t apply_zone(int64_t days, double* time, uint32_t zone) {
    double z = zone_offset(zone);
    double hours = std::trunc(*time / HOUR + z / HOUR);
    // Far beyond any year the field holds: no day count to carry.
    if (!(std::fabs(hours) < 9.0e15)) overflow();
    int64_t k = int64_t(hours) / 24;
    days += k;
    *time -= double(k) * DAY;
    if (z + *time < 0) {
        days--;
        *time += DAY;
    }
    return days;
}

void normalize(kiv_value* date, double time, bool to_utc) {
    uint32_t packed = packed_of(date);
    uint32_t zone = zone_of(packed);
    if (to_utc) time -= zone_offset(zone);
    int64_t days = apply_zone(days_of(packed), &time, zone);
    make_at(date, from_days(days, zone, time_q(packed)), time);
}

// Constructors -------------------------------------------------------------------

kiv_value* make_at(kiv_value* cell, uint32_t packed, double time) {
    cell->header = TYPE_DATE;
    cell->data1 = packed;
    cell::set_float(cell, time);
    return cell;
}

kiv_value* push(uint32_t packed, double time) { return make_at(stack::push(), packed, time); }

kiv_value* make_in(kiv_value* block, uint32_t packed, double time) {
    return make_at(block::alloc_tail(block), packed, time);
}

kiv_value* make_at_time(kiv_value* cell, int32_t year, int32_t month, int32_t day, int32_t hour,
                        int32_t minute, int32_t second, int32_t nanoseconds) {
    if (!year_fits_q(year)) overflow();
    double t = hour * HOUR + minute * 60.0 + second + nanoseconds * 1e-9;
    make_at(cell, pack(year, month, day, 0, true), 0.0);
    normalize(cell, t, false);
    return cell;
}

// Epoch seconds and differences ---------------------------------------------------

int64_t to_epoch(const kiv_value* date) {
    int64_t days = int64_t(days_of(packed_of(date))) - days_1970();
    return days * 86400 + int64_t(std::floor(time_of(date) + 0.5));
}

kiv_value* from_epoch(kiv_value* cell, int64_t seconds) {
    int64_t days = floor_div(seconds, 86400);
    make_at(cell, from_days(days + days_1970(), 0, true), double(seconds - days * 86400));
    return cell;
}

void difference(kiv_value* a, const kiv_value* b) {
    double days = double(days_of(packed_of(a))) - double(days_of(packed_of(b)));
    time::make_at(a, days * DAY + (time_of(a) - time_of(b)));
}

// Fields ---------------------------------------------------------------------------

kiv_value* get_field(const kiv_value* date, int32_t index, kiv_value* result) {
    uint32_t d = packed_of(date);
    double local = local_time(date);
    switch (index) {
        case FIELD_DATE: return make_at(result, d & ~(TIME_BIT | ZONE_MASK), 0.0);
        case FIELD_YEAR: return integer::make_at(result, year_of(d));
        case FIELD_MONTH: return integer::make_at(result, month_of(d));
        case FIELD_DAY: return integer::make_at(result, day_of(d));
        case FIELD_ZONE:
        case FIELD_TIMEZONE:
            if (!time_q(d)) return copy_cell(&none_value, result);
            return time::make_at(result, zone_offset(zone_of(d)));
        case FIELD_TIME:
            if (!time_q(d)) return copy_cell(&none_value, result);
            return time::make_at(result, local);
        case FIELD_HOUR: return integer::make_at(result, time::get_hours(local));
        case FIELD_MINUTE: return integer::make_at(result, time::get_minutes(local));
        case FIELD_SECOND: return float_::make_at(result, std::fmod(local, 60.0));
        case FIELD_WEEKDAY: return integer::make_at(result, weekday_of_days(days_of(d)));
        case FIELD_YEARDAY: return integer::make_at(result, yearday(d));
        case FIELD_WEEK: return integer::make_at(result, week(d));
        case FIELD_ISOWEEK: return integer::make_at(result, isoweek(d));
        default: return nullptr;
    }
}

namespace {

// The field of a word, matched without regard to case; 0 for none.
int32_t field_of_word(const kiv_value* w) {
    static const char* const names[] = {
        "date", "year", "month", "day", "zone", "time", "hour", "minute", "second",
        "weekday", "yearday", "timezone", "week", "isoweek", "julian",
    };
    int32_t symbol = symbol::resolve(word::symbol_of(w));
    for (int32_t i = 0; i < 15; i++)
        if (symbol == symbol::resolve(symbol::make(names[i]))) return i == 14 ? FIELD_YEARDAY : i + 1;
    return 0;
}

bool word_q(const kiv_value* v) {
    uint32_t t = type_of(v);
    return t >= TYPE_WORD && t <= TYPE_GET_WORD;
}

// The field an index or word selects; 0 for anything else.
int32_t field_of(const kiv_value* selector) {
    if (word_q(selector)) return field_of_word(selector);
    if (type_of(selector) != TYPE_INTEGER) return 0;
    int32_t n = integer::get_value(selector);
    return n >= FIELD_DATE && n <= FIELD_ISOWEEK ? n : 0;
}

// The zone bits of a zone value: whole hours (taken modulo 16) or a time!
// (taken modulo 16 hours), with quarters of an hour. The sign is the
// value's, so that a zone of -0:30 stays west.
uint32_t zone_value(const kiv_value* v) {
    uint32_t bits = 0;
    if (type_of(v) == TYPE_INTEGER) {
        int32_t h = integer::get_value(v) % 16;
        zone_bits(h, 0, h < 0, &bits);
    } else if (type_of(v) == TYPE_TIME) {
        double t = std::fmod(time::get(v), 57600.0);
        double a = std::fabs(t);
        zone_bits(int32_t(a / HOUR), int32_t(std::fmod(a, HOUR) / 60.0), t < 0, &bits);
    } else {
        fire(err::SCRIPT, err::script::invalid_arg, v);
    }
    return bits;
}

int64_t integer_arg(const kiv_value* v) {
    if (type_of(v) != TYPE_INTEGER) fire(err::SCRIPT, err::script::invalid_arg, v);
    return integer::get_value(v);
}

double number_arg(const kiv_value* v) {
    switch (type_of(v)) {
        case TYPE_INTEGER: return integer::get_value(v);
        case TYPE_FLOAT: return float_::get(v);
        default: fire(err::SCRIPT, err::script::invalid_arg, v);
    }
}

void set_days(kiv_value* date, int64_t days) {
    uint32_t d = packed_of(date);
    make_at(date, from_days(days, zone_of(d), time_q(d)), time_of(date));
}

// A year and month that may be out of range: the months carry into years.
void set_year_month(kiv_value* date, int64_t year, int64_t month) {
    year += floor_div(month - 1, 12);
    month = floor_mod(month - 1, 12) + 1;
    if (!year_fits_q(year)) overflow();
    uint32_t d = packed_of(date);
    set_days(date, days_of(pack(year, int32_t(month), day_of(d), 0, false)));
}

// Hours, minutes and seconds are set on the local time of day, which then
// goes back to UTC: setting a field to what it reads leaves the date as it
// was, whatever the zone.
void set_clock_field(kiv_value* date, int32_t index, const kiv_value* value) {
    double local = local_time(date);
    double h = std::floor(local / HOUR);
    double m = std::floor(std::fmod(local, HOUR) / 60.0);
    double s = std::fmod(local, 60.0);
    if (index == FIELD_HOUR) h = double(integer_arg(value));
    else if (index == FIELD_MINUTE) m = double(integer_arg(value));
    else s = number_arg(value);
    date->data1 |= TIME_BIT;
    normalize(date, h * HOUR + m * 60.0 + s, true);
}

void set_field(kiv_value* date, int32_t index, const kiv_value* value) {
    uint32_t d = packed_of(date);
    switch (index) {
        case FIELD_DATE: {
            if (type_of(value) != TYPE_DATE) fire(err::SCRIPT, err::script::invalid_arg, value);
            uint32_t v = packed_of(value);
            if (time_q(v)) make_at(date, (v & ~ZONE_MASK) | zone_of(d), time_of(date));
            else make_at(date, v & ~ZONE_MASK, 0.0);  // no time, so no zone either
            break;
        }
        case FIELD_YEAR: {
            int64_t y = integer_arg(value);
            if (!year_fits_q(y)) overflow();
            set_days(date, days_of(pack(y, month_of(d), day_of(d), 0, false)));
            break;
        }
        case FIELD_MONTH: set_year_month(date, year_of(d), integer_arg(value)); break;
        case FIELD_DAY: set_days(date, int64_t(days_of(d & ~(31u << 7))) + integer_arg(value)); break;
        case FIELD_ZONE: {
            uint32_t zone = zone_value(value);
            double local = local_time(date);
            make_at(date, (d & ~ZONE_MASK) | TIME_BIT | zone, local - zone_offset(zone));
            break;
        }
        case FIELD_TIMEZONE: {
            uint32_t zone = zone_value(value);
            double t = time_of(date);
            date->data1 = (d & ~ZONE_MASK) | TIME_BIT | zone;
            normalize(date, t + zone_offset(zone), true);
            break;
        }
        case FIELD_TIME:
            if (type_of(value) == TYPE_NONE) {
                make_at(date, d & ~(TIME_BIT | ZONE_MASK), 0.0);
            } else if (type_of(value) == TYPE_TIME) {
                date->data1 |= TIME_BIT;
                normalize(date, time::get(value), true);
            } else {
                fire(err::SCRIPT, err::script::invalid_arg, value);
            }
            break;
        case FIELD_HOUR:
        case FIELD_MINUTE:
        case FIELD_SECOND: set_clock_field(date, index, value); break;
        case FIELD_WEEKDAY: {
            int64_t n = days_of(d);
            set_days(date, n + integer_arg(value) - 1 - floor_mod(n + 2, 7));
            break;
        }
        case FIELD_YEARDAY: set_days(date, int64_t(year_start_days(d)) + integer_arg(value) - 1); break;
        case FIELD_WEEK: {
            int64_t v = integer_arg(value);
            int64_t start = year_start_days(d);
            set_days(date, v > 1 ? start + 7 * v - floor_mod(start + 3, 7) - 7 : start);
            break;
        }
        case FIELD_ISOWEEK: {
            int64_t v = integer_arg(value);
            int32_t weekday;
            set_days(date, int64_t(first_week_start(d, &weekday)) + 7 * v - 7);
            break;
        }
    }
}

}  // namespace

// Text -----------------------------------------------------------------------------

namespace {

// The month's name as the locale gives it.
kiv_value month_name(int32_t month) {
    kiv_value* sys = boot::system_object();
    kiv_value* locale = type_of(sys) == TYPE_OBJECT ? boot::field(sys, "locale") : nullptr;
    kiv_value* months = locale && type_of(locale) == TYPE_OBJECT ? boot::field(locale, "months") : nullptr;
    if (!months || type_of(months) != TYPE_BLOCK || block::length_all(months) < uint32_t(month))
        fire(err::SCRIPT, err::script::invalid_months);
    kiv_value name = block::cells(months)[month - 1];
    if (type_of(&name) != TYPE_STRING) fire(err::SCRIPT, err::script::invalid_months);
    return name;
}

int32_t form(kiv_value* value, kiv_value* buffer, kiv_value*, int32_t part) {
    uint32_t before = string::ks_length_all(buffer);
    uint32_t d = packed_of(value);
    int32_t year = year_of(d);
    const char* separator = year < 0 ? "/" : "-";
    kiv_value name = month_name(month_of(d));
    char text[48];
    std::snprintf(text, sizeof text, "%d%s", day_of(d), separator);
    string::concatenate_literal(buffer, text);
    string::concatenate(buffer, &name, 3, 0, false, string::APPEND);
    int32_t magnitude = year < 0 ? -year : year;
    std::snprintf(text, sizeof text, magnitude < 100 ? "%s%s%04d" : "%s%s%d", separator, year < 0 ? "-" : "",
                  magnitude);
    string::concatenate_literal(buffer, text);
    if (time_q(d)) {
        string::concatenate_literal(buffer, "/");
        time::form_seconds(local_time(value), buffer, part);
        uint32_t zone = zone_of(d);
        if (zone) {
            std::snprintf(text, sizeof text, "%c%02d:%02d", zone & ZONE_WEST ? '-' : '+', int(zone >> 2 & 15),
                          int(zone & 3) * 15);
            string::concatenate_literal(buffer, text);
        }
    }
    return part - int32_t(string::ks_length_all(buffer) - before);
}

int32_t mold(kiv_value* value, kiv_value* buffer, bool, bool, bool, kiv_value* arg, int32_t part, int32_t) {
    return form(value, buffer, arg, part);
}

// Make and to ----------------------------------------------------------------------

// The values of a block spec, in the order the walk finds them.
struct spec_parts {
    int64_t first = 0, month = 0, third = 0;
    int64_t hour = 0, minute = 0, zone_hours = 0, zone_minutes = 0;
    double second = 0, time = 0;
    const kiv_value* time_value = nullptr;  // states 4-7: the time! given
    const kiv_value* zone_time = nullptr;   // states 5 and 11
    int32_t count = 0;
    int32_t state = 0;
};

// Next state of the walk by value class (integer!, time!, float!); -1 ends
// in error.
int32_t next_state(int32_t state, uint32_t t) {
    int32_t c = t == TYPE_INTEGER ? 0 : t == TYPE_TIME ? 1 : t == TYPE_FLOAT ? 2 : 3;
    static constexpr int32_t table[14][3] = {
        {1, -1, -1}, {2, -1, -1}, {3, -1, -1}, {8, 4, -1}, {6, 5, -1}, {-1, -1, -1}, {7, -1, -1},
        {-1, -1, -1}, {9, -1, -1}, {10, -1, 10}, {12, 11, -1}, {-1, -1, -1}, {13, -1, -1}, {-1, -1, -1},
    };
    return c == 3 ? -1 : table[state][c];
}

spec_parts read_spec(const kiv_value* spec) {
    spec_parts p;
    uint32_t length = block::length_all(spec);
    for (uint32_t i = spec->data1; i < length; i++) {
        const kiv_value* v = block::cells(spec) + i;
        int32_t next = next_state(p.state, type_of(v));
        if (next < 0) bad_to(spec);
        int64_t n = type_of(v) == TYPE_INTEGER ? integer::get_value(v) : 0;
        switch (next) {
            case 1: p.first = n; break;
            case 2: p.month = n; break;
            case 3: p.third = n; break;
            case 4: p.time_value = v; break;
            case 5: case 11: p.zone_time = v; break;
            case 6: case 12: p.zone_hours = n; break;
            case 7: case 13: p.zone_minutes = n; break;
            case 8: p.hour = n; break;
            case 9: p.minute = n; break;
            case 10: p.second = type_of(v) == TYPE_FLOAT ? float_::get(v) : double(n); break;
        }
        p.state = next;
        p.count++;
    }
    if (p.count < 3) bad_to(spec);
    return p;
}

// The zone of a spec; a zone the field cannot hold is refused rather than
// wrapped into another one.
uint32_t spec_zone(const spec_parts& p, const kiv_value* spec) {
    int64_t hours = p.zone_hours, minutes = p.zone_minutes;
    bool west = hours < 0;
    if (p.zone_time) {
        double t = time::get(p.zone_time);
        double a = std::fabs(t);
        if (!(a < 16 * HOUR)) bad_to(spec);
        hours = int64_t(a / HOUR);
        minutes = int64_t(std::fmod(a, HOUR) / 60.0);
        west = t < 0;
    }
    uint32_t bits;
    if (hours < -15 || hours > 15 || !zone_bits(int32_t(hours), int32_t(minutes), west, &bits)) bad_to(spec);
    return bits;
}

kiv_value* from_block(const kiv_value* spec, bool check) {
    spec_parts p = read_spec(spec);
    int64_t day = p.first, year = p.third;
    if (p.first >= 100 && p.first > p.third) std::swap(day, year);
    if (!year_fits_q(year)) bad_to(spec);
    uint32_t zone = spec_zone(p, spec);
    bool clock = p.state >= 8;
    double time = p.time_value ? time::get(p.time_value)
                  : clock ? double(p.hour) * HOUR + double(p.minute) * 60.0 + p.second
                          : 0.0;
    if (check) {
        bool fits = day >= 1 && p.month >= 1 && p.month <= 12 && day <= month_length(int32_t(year), int32_t(p.month));
        if (p.time_value) fits = fits && time >= 0 && time < DAY;
        if (clock) fits = fits && p.hour >= 0 && p.hour <= 23 && p.minute >= 0 && p.minute <= 59 &&
                          p.second >= 0 && p.second < 60;
        if (!fits) bad_to(spec);
    }
    kiv_value* d = make_at(stack::push(), pack(year, 1, 1, 0, p.count > 3), 0.0);
    set_year_month(d, year, p.month);
    set_days(d, int64_t(days_of(packed_of(d) & ~(31u << 7))) + day);
    if (!std::isfinite(time)) bad_to(spec);
    normalize(d, time, false);
    d->data1 = (packed_of(d) & ~ZONE_MASK) | zone;
    normalize(d, time_of(d), true);
    return d;
}

kiv_value* make_or_to(const kiv_value* spec, bool check) {
    switch (type_of(spec)) {
        case TYPE_DATE: return const_cast<kiv_value*>(spec);
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH: return from_block(spec, check);
        case TYPE_INTEGER: return from_epoch(stack::push(), integer::get_value(spec));
        case TYPE_STRING: {
            kiv_value* loaded = lexer::load_single(spec, stack::push());
            if (type_of(loaded) != TYPE_DATE) bad_to(spec);
            return loaded;
        }
        default: bad_to(spec);
    }
}

kiv_value* make(kiv_value*, kiv_value* spec, uint32_t) { return make_or_to(spec, true); }
kiv_value* to(kiv_value*, kiv_value* spec, uint32_t) { return make_or_to(spec, false); }

// Random -------------------------------------------------------------------------------

void random(kiv_value* value, bool seed, bool secure, bool) {
    uint32_t d = packed_of(value);
    if (seed) {
        random::seed(int32_t(d + uint32_t(int64_t(time_of(value)))));
        unset::return_();
        return;
    }
    int32_t n = random::int_(secure, days_of(d));
    make_at(value, from_days(int64_t(n) - 1, zone_of(d), time_q(d)), time_of(value));
    if (!time_q(d)) return;
    double t;
    if (secure) {
        double r1 = random::secure_next(), r2 = random::secure_next();
        t = (r1 / 2147483647.0 + r2) / (2147483648.0 / 3600.0);
    } else {
        t = random::next() / 2147483647.0 * 3600.0;
    }
    uint32_t zone = uint32_t(secure ? random::secure_next() : random::next()) & ZONE_MASK;
    value->data1 = (packed_of(value) & ~ZONE_MASK) | zone;
    normalize(value, std::floor(t) * 24.0, true);
}

// Comparison -------------------------------------------------------------------------

// Dates compare as instants: the day number and the stored time together, so
// that one moment written at two zones, on either side of midnight, is equal.
int32_t compare(kiv_value* value1, kiv_value* value2, int32_t op) {
    if (type_of(value2) != TYPE_DATE) return COMPARE_INCOMPARABLE;
    if (op == COMP_SAME)
        return packed_of(value1) == packed_of(value2) && value1->data2 == value2->data2 &&
                       value1->data3 == value2->data3
                   ? 0
                   : 1;
    double days = double(days_of(packed_of(value1))) - double(days_of(packed_of(value2)));
    double a = time_of(value1) + days * DAY, b = time_of(value2);
    bool equal = float_::almost_equal_q(a, b);
    switch (op) {
        case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL: case COMP_FIND: return equal ? 0 : 1;
        default: return equal ? 0 : a < b ? -1 : 1;
    }
}

// Arithmetic and paths ---------------------------------------------------------------

void add() { do_math(OP_ADD); }
void subtract() { do_math(OP_SUB); }

kiv_value* eval_path(kiv_value* parent, kiv_value* element, kiv_value* value, kiv_value* path, kiv_value* gparent,
                     kiv_value* p_item, int32_t, bool, bool, bool, bool notify) {
    int32_t index = field_of(element);
    if (!index) {
        kiv_value p = path ? *path : none_value;
        fire(err::SCRIPT, err::script::invalid_path, &p, element);
    }
    if (!value) return get_field(parent, index, stack::push());
    kiv_value old = *parent;
    set_field(parent, index, value);
    if (notify && gparent && type_of(gparent) == TYPE_OBJECT) {
        kiv_value changed = *parent;
        object::fire_on_change(gparent, p_item, &old, &changed);
    }
    return value;
}

kiv_value* pick(kiv_value* date, int32_t, kiv_value* index_cell) {
    int32_t index = field_of(index_cell);
    if (!index) fire(err::SCRIPT, err::script::out_of_range, index_cell);
    return get_field(date, index, stack::push());
}

}  // namespace

void do_math(int32_t op) {
    kiv_value* left = stack::arguments;
    kiv_value* right = stack::arguments + 1;
    int64_t days = 0;
    double seconds = 0;
    bool timed = false;
    switch (type_of(right)) {
        case TYPE_INTEGER: days = integer::get_value(right); break;
        case TYPE_TIME:
            seconds = time::get(right);
            timed = true;
            break;
        case TYPE_DATE:
            if (op == OP_ADD) actions::fire_not_related("add", TYPE_DATE);
            days = days_of(packed_of(right));
            seconds = time_of(right);
            break;
        default: {
            kiv_value dt;
            datatype::make_at(&dt, type_of(right));
            fire(err::SCRIPT, err::script::invalid_type, &dt);
        }
    }
    if (op == OP_SUB) {
        days = -days;
        seconds = -seconds;
    }
    uint32_t d = packed_of(left);
    double time = time_of(left) + seconds;
    int64_t n = apply_zone(int64_t(days_of(d)) + days, &time, zone_of(d));
    if (type_of(right) == TYPE_DATE) {
        integer::make_at(left, int32_t(n));
        return;
    }
    make_at(left, from_days(n, zone_of(d), time_q(d) || timed), time);
}

void init() {
    using namespace actions;
    datatype::register_(TYPE_DATE, 0, "date!", {
        impl<SLOT_MAKE>(make),            // make
        impl<SLOT_RANDOM>(random),        // random
        UNSUPPORTED,                      // reflect
        impl<SLOT_TO>(to),                // to
        impl<SLOT_FORM>(form),            // form
        impl<SLOT_MOLD>(mold),            // mold
        impl<SLOT_EVAL_PATH>(eval_path),  // eval-path
        UNSUPPORTED,                      // (empty)
        impl<SLOT_COMPARE>(compare),      // compare
        UNSUPPORTED,                      // absolute
        impl<SLOT_ADD>(add),              // add
        UNSUPPORTED,                      // divide
        UNSUPPORTED,                      // multiply
        UNSUPPORTED,                      // negate
        UNSUPPORTED,                      // power
        UNSUPPORTED,                      // remainder
        UNSUPPORTED,                      // round
        impl<SLOT_SUBTRACT>(subtract),    // subtract
        UNSUPPORTED,                      // even?
        UNSUPPORTED,                      // odd?
        UNSUPPORTED,                      // and~
        UNSUPPORTED,                      // complement
        UNSUPPORTED,                      // or~
        UNSUPPORTED,                      // xor~
        UNSUPPORTED,                      // append
        UNSUPPORTED,                      // at
        UNSUPPORTED,                      // back
        UNSUPPORTED,                      // change
        UNSUPPORTED,                      // clear
        UNSUPPORTED,                      // copy
        UNSUPPORTED,                      // find
        UNSUPPORTED,                      // head
        UNSUPPORTED,                      // head?
        UNSUPPORTED,                      // index?
        UNSUPPORTED,                      // insert
        UNSUPPORTED,                      // length?
        UNSUPPORTED,                      // move
        UNSUPPORTED,                      // next
        impl<SLOT_PICK>(pick),            // pick
        UNSUPPORTED,                      // poke
        UNSUPPORTED,                      // put
        UNSUPPORTED,                      // remove
        UNSUPPORTED,                      // reverse
        UNSUPPORTED,                      // select
        UNSUPPORTED,                      // sort
        UNSUPPORTED,                      // skip
        UNSUPPORTED,                      // swap
        UNSUPPORTED,                      // tail
        UNSUPPORTED,                      // tail?
        UNSUPPORTED,                      // take
        UNSUPPORTED,                      // trim
        UNSUPPORTED,                      // create
        UNSUPPORTED,                      // close
        UNSUPPORTED,                      // delete
        UNSUPPORTED,                      // modify
        UNSUPPORTED,                      // open
        UNSUPPORTED,                      // open?
        UNSUPPORTED,                      // query
        UNSUPPORTED,                      // read
        UNSUPPORTED,                      // rename
        UNSUPPORTED,                      // update
        UNSUPPORTED,                      // write
    });
}

}  // namespace kiv::date
