// The lexer's token loaders: each checks the text of one token class and,
// in load mode, appends its value to the value buffer.
#include <cstring>

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/base_codecs.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/percent.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/url.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/evaluator/lexer_state.h"
#include "runtime/evaluator/tokenizer.h"
#include "runtime/float_text.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kiv::lexer {

namespace {

bool digit_q(uint8_t c) { return c >= '0' && c <= '9'; }
bool letter_q(uint8_t c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }
int32_t hex_value(uint8_t c) {
    if (digit_q(c)) return c - '0';
    if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') return (c | 0x20) - 'a' + 10;
    return -1;
}
bool same_ascii_q(const uint8_t* text, const char* name, size_t length) {
    for (size_t i = 0; i < length; i++)
        if ((text[i] | 0x20) != (uint8_t(name[i]) | 0x20)) return false;
    return true;
}
bool named_q(const uint8_t* start, const uint8_t* end, const char* name) {
    size_t length = std::strlen(name);
    return size_t(end - start) == length && same_ascii_q(start, name, length);
}

// Fails with the datatype for the text of the current token.
[[noreturn]] void invalid(lexer_state& r, uint32_t type) {
    throw_error(r, r.token_start, r.token_end, int32_t(type));
}

void check_utf8(lexer_state& r, const uint8_t* start, const uint8_t* end, uint32_t type) {
    for (const uint8_t* p = start; p < end;)
        if (decode_char(p, end) < 0) invalid(r, type);
}

// Escapes ------------------------------------------------------------------------

struct escape_name {
    const char* name;
    int32_t code;
};
constexpr escape_name ESCAPE_NAMES[] = {
    {"null", 0}, {"back", 8}, {"tab", 9}, {"line", 10}, {"page", 12}, {"esc", 27}, {"del", 127},
};

// The character an escape stands for, p just after its "^"; -1 when it is
// not one.
int32_t decode_escape(const uint8_t*& p, const uint8_t* end) {
    if (p >= end) return -1;
    uint8_t c = *p;
    if (c == '(') {
        const uint8_t* q = p + 1;
        for (const escape_name& e : ESCAPE_NAMES) {
            size_t length = std::strlen(e.name);
            if (size_t(end - q) > length && same_ascii_q(q, e.name, length) && q[length] == ')') {
                p = q + length + 1;
                return e.code;
            }
        }
        int32_t code = 0;
        int32_t digits = 0;
        for (; q < end && hex_value(*q) >= 0 && digits <= 6; q++, digits++) code = code * 16 + hex_value(*q);
        if (digits == 0 || digits > 6 || q >= end || *q != ')') return -1;
        p = q + 1;
        return code;
    }
    switch (c) {
        case '"': p++; return '"';
        case '-': p++; return '\t';
        case '/': p++; return '\n';
        case '@': p++; return 0;
        case '^': p++; return '^';
        case '{': p++; return '{';
        case '}': p++; return '}';
        case '~': p++; return 127;
        default: break;
    }
    if (c >= 'a' && c <= 'z') {
        p++;
        return c - 'a' + 1;
    }
    if (c >= 'A' && c <= '_') {
        p++;
        return c - 64;
    }
    // Any other character stands for itself, a multi-byte one included.
    return decode_char(p, end);
}

// Code units wide enough for every character of a token: from the widest
// UTF-8 sequence in it, and from the hexadecimal escapes, whose digit count
// tells how wide their character may be.
uint32_t unit_for(const uint8_t* start, const uint8_t* end, uint32_t flags, bool escapes) {
    uint32_t width = flags >> F_UTF8_SHIFT;
    uint32_t unit = width == 0 ? 1 : width == 1 ? 2 : 4;
    if (!escapes) return unit;
    for (const uint8_t* p = start; p + 1 < end; p++) {
        if (*p != '^') continue;
        if (p[1] != '(') {
            p++;
            continue;
        }
        const uint8_t* q = p + 2;
        while (q < end && hex_value(*q) >= 0) q++;
        uint32_t digits = uint32_t(q - p - 2);
        if (q < end && *q == ')') {
            if (digits > 4) unit = 4;
            else if (digits > 2 && unit < 2) unit = 2;
        }
        p = q - 1;
    }
    return unit;
}

// Numbers ------------------------------------------------------------------------

enum integer_status { INTEGER_OK, INTEGER_BAD, INTEGER_TOO_BIG };

// An optional sign, digits and single quotes between them (never two in a
// row). More than 10 digits, or a value beyond 32 bits, is too big; the
// smallest integer is not.
integer_status read_integer(const uint8_t* start, const uint8_t* end, int32_t* value) {
    const uint8_t* p = start;
    bool negative = p < end && *p == '-';
    if (p < end && (*p == '+' || *p == '-')) p++;
    uint32_t digits = 0;
    uint64_t magnitude = 0;
    bool quote = false;
    for (; p < end; p++) {
        if (*p == '\'') {
            if (quote) return INTEGER_BAD;
            quote = true;
            continue;
        }
        if (!digit_q(*p)) return INTEGER_BAD;
        quote = false;
        if (++digits <= 10) magnitude = magnitude * 10 + (*p - '0');
    }
    if (digits == 0) return INTEGER_BAD;
    if (digits > 10 || magnitude > uint64_t(INT32_MAX) + negative) return INTEGER_TOO_BIG;
    *value = negative ? int32_t(-int64_t(magnitude)) : int32_t(magnitude);
    return INTEGER_OK;
}

bool float_text_q(const uint8_t* start, const uint8_t* end) {
    return tokenizer::float_syntax_q(reinterpret_cast<const char*>(start), uint32_t(end - start));
}

// The double of decimal text that passed the float syntax, its single
// quotes dropped first; false when it cannot be converted.
bool decimal_value(const uint8_t* start, const uint8_t* end, int32_t shift, double* value) {
    char copy[tokenizer::FLOAT_TEXT_MAX];
    uint32_t n = 0;
    for (const uint8_t* p = start; p < end && n < sizeof copy; p++)
        if (*p != '\'') copy[n++] = char(*p);
    if (n == 0) return false;
    int unconsumed = 0;
    *value = dtoa::from_text(copy, copy + n, shift, &unconsumed);
    return unconsumed == 0;
}

// "1.#NaN" and "1.#INF", with an optional sign.
bool special_float(const uint8_t* start, const uint8_t* end, double* value) {
    const uint8_t* p = start;
    bool negative = p < end && *p == '-';
    if (p < end && (*p == '+' || *p == '-')) p++;
    if (end - p != 6 || std::memcmp(p, "1.#", 3) != 0) return false;
    if (same_ascii_q(p + 3, "nan", 3)) *value = FLOAT_NAN;
    else if (same_ascii_q(p + 3, "inf", 3)) *value = negative ? FLOAT_NEG_INF : FLOAT_INF;
    else return false;
    return true;
}

// Reads up to `most` decimal digits; the count read.
int32_t read_digits(const uint8_t*& p, const uint8_t* end, int64_t* value, int32_t most = 18) {
    int32_t n = 0;
    *value = 0;
    for (; p < end && digit_q(*p) && n < most; p++, n++) *value = *value * 10 + (*p - '0');
    return n;
}

// Seconds with an optional fraction ("." or ","), up to the end of the text.
bool read_seconds(const uint8_t*& p, const uint8_t* end, double* seconds) {
    uint8_t text[64];
    uint32_t n = 0;
    for (; p < end && (digit_q(*p) || *p == '.' || *p == ','); p++) {
        if (n == sizeof text) return false;
        text[n++] = *p == ',' ? '.' : *p;
    }
    return n > 0 && float_text_q(text, text + n) && decimal_value(text, text + n, 0, seconds);
}

// Dates ---------------------------------------------------------------------------

constexpr const char* MONTH_NAMES[12] = {
    "January", "February", "March", "April", "May", "June", "July", "August", "September",
    "October", "November", "December",
};

// 3 to 9 letters that begin a month name; 0 when they begin none.
int32_t month_of(const uint8_t* start, const uint8_t* end) {
    size_t length = size_t(end - start);
    if (length < 3 || length > 9) return 0;
    for (int32_t m = 0; m < 12; m++)
        if (std::strlen(MONTH_NAMES[m]) >= length && same_ascii_q(start, MONTH_NAMES[m], length)) return m + 1;
    return 0;
}

// What the text of a date says, before it becomes a value.
struct date_text {
    int64_t year = 0, month = 1, day = 1;
    int64_t week = 0, weekday = 1;  // an ISO week date when week is set
    int64_t yearday = 0;            // a day of the year when set
    bool has_time = false;
    double time = 0;                // local
    int64_t zone_hours = 0, zone_minutes = 0;
    bool west = false;
};

// A zone: "Z", or a sign, hours and optional minutes (after a colon, or as
// the last two of four digits).
bool read_zone(const uint8_t*& p, const uint8_t* end, date_text* d) {
    if (p >= end) return true;
    if (*p == 'Z' || *p == 'z') {
        p++;
        return true;
    }
    if (*p != '+' && *p != '-') return false;
    d->west = *p++ == '-';
    int64_t hours, minutes = 0;
    int32_t n = read_digits(p, end, &hours, 4);
    if (n == 0) return false;
    if (n > 2) {
        minutes = hours % 100;
        hours /= 100;
    } else if (p < end && *p == ':') {
        p++;
        if (read_digits(p, end, &minutes, 2) == 0) return false;
    }
    d->zone_hours = hours;
    d->zone_minutes = minutes;
    return hours <= 15 && minutes <= 59;
}

// A time of day after a date: hh:mm, optional seconds with a fraction, an
// optional zone.
bool read_time_of_day(const uint8_t*& p, const uint8_t* end, date_text* d) {
    int64_t hours, minutes;
    double seconds = 0;
    if (read_digits(p, end, &hours, 2) == 0 || p >= end || *p != ':') return false;
    p++;
    if (read_digits(p, end, &minutes, 2) == 0 || hours > 23 || minutes > 59) return false;
    if (p < end && *p == ':') {
        p++;
        if (!read_seconds(p, end, &seconds) || seconds >= 60) return false;
    }
    d->has_time = true;
    d->time = double(hours) * 3600 + double(minutes) * 60 + seconds;
    return read_zone(p, end, d) && p == end;
}

// The basic form: yyyymmdd "T" hhmm, then seconds or "Z", then a zone.
bool read_basic_date(int64_t date, const uint8_t* p, const uint8_t* end, date_text* d) {
    d->year = date / 10000;
    d->month = date / 100 % 100;
    d->day = date % 100;
    if (d->month < 1 || d->month > 12 || d->day < 1 ||
        d->day > date::month_length(int32_t(d->year), int32_t(d->month)))
        return false;
    int64_t hhmm;
    double seconds = 0;
    p++;
    if (read_digits(p, end, &hhmm, 4) != 4 || hhmm / 100 > 23 || hhmm % 100 > 59) return false;
    if (p < end && digit_q(*p)) {
        if (!read_seconds(p, end, &seconds) || seconds >= 60) return false;
    }
    d->has_time = true;
    d->time = double(hhmm / 100) * 3600 + double(hhmm % 100) * 60 + seconds;
    return read_zone(p, end, d) && p == end;
}

bool after_date(const uint8_t* p, const uint8_t* end, date_text* d) {
    if (p == end) return true;
    if (*p != '/' && *p != 'T') return false;
    return read_time_of_day(++p, end, d);
}

bool year_in_range_q(int64_t year) { return year >= -9999 && year <= 9999; }

// The ISO weeks of a year: 53 when it starts on a Thursday, or on a
// Wednesday in a leap year; else 52.
int64_t iso_weeks(int64_t year) {
    int32_t weekday;
    date::first_week_start(uint32_t(year) << 17 | 1u << 12 | 1u << 7, &weekday);
    return weekday == 4 || (weekday == 3 && date::leap_year_q(int32_t(year))) ? 53 : 52;
}

// The forms of a date: basic (yyyymmddThhmm...), ISO week (yyyy-Www-d),
// day of the year (yyyy-ddd), and day, month and year in either order with
// "-" or "/" between them; the last three may be followed by "/" or "T" and
// a time.
bool read_date(const uint8_t* start, const uint8_t* end, date_text* d) {
    const uint8_t* p = start;
    bool negative = *p == '-';
    if (negative) p++;
    int64_t first;
    int32_t first_digits = read_digits(p, end, &first);
    if (first_digits == 0 || p >= end) return false;
    if (first_digits == 8 && !negative && *p == 'T') return read_basic_date(first, p, end, d);
    uint8_t separator = *p++;
    if (separator != '-' && separator != '/') return false;
    int64_t year = negative ? -first : first;
    if (separator == '-' && p < end && (*p == 'W' || *p == 'w')) {
        int64_t week, weekday = 1;
        p++;
        if (read_digits(p, end, &week, 2) == 0 || week < 1 || week > 53) return false;
        if (p < end && *p == '-') {
            p++;
            if (read_digits(p, end, &weekday, 1) == 0 || weekday < 1 || weekday > 7) return false;
        }
        if (!year_in_range_q(year) || week > iso_weeks(year)) return false;
        d->year = year;
        d->week = week;
        d->weekday = weekday;
        return after_date(p, end, d);
    }
    const uint8_t* second = p;
    int64_t month;
    int32_t month_digits = read_digits(p, end, &month, 3);
    if (separator == '-' && month_digits == 3 && (p == end || *p == '/' || *p == 'T')) {
        int64_t days = date::leap_year_q(int32_t(year)) ? 366 : 365;
        if (month < 1 || month > days || !year_in_range_q(year)) return false;
        d->year = year;
        d->yearday = month;
        return after_date(p, end, d);
    }
    if (month_digits == 0) {
        while (p < end && letter_q(*p)) p++;
        month = month_of(second, p);
    } else if (month_digits > 2) {
        return false;
    }
    if (p >= end || *p != separator) return false;
    p++;
    bool third_negative = p < end && *p == '-';
    if (third_negative) p++;
    int64_t third;
    int32_t third_digits = read_digits(p, end, &third);
    if (third_digits == 0) return false;
    if (third_negative) third = -third;
    int64_t day;
    if (third_negative || third > 31 || (!negative && first <= 99)) {
        day = first;
        year = third;
        if (!third_negative && third_digits <= 2) year += third > 49 ? 1900 : 2000;
    } else {
        day = third;
    }
    if (negative && year != -first) return false;
    if (month < 1 || month > 12 || !year_in_range_q(year)) return false;
    if (day < 1 || day > date::month_length(int32_t(year), int32_t(month))) return false;
    d->year = year;
    d->month = month;
    d->day = day;
    return after_date(p, end, d);
}

// The value of a date's text: the day it names, then the local time taken
// back to UTC at its zone.
void make_date(kiv_value* cell, const date_text& d) {
    uint32_t zone = 0;
    date::zone_bits(int32_t(d.zone_hours), int32_t(d.zone_minutes), d.west, &zone);
    uint32_t flags = d.has_time ? date::TIME_BIT | zone : 0;
    uint32_t packed = uint32_t(d.year) << 17 | uint32_t(d.month) << 12 | uint32_t(d.day) << 7 | flags;
    int64_t days = date::days_of(packed);
    if (d.week) {
        int32_t weekday;
        days = date::first_week_start(packed, &weekday) + 7 * (d.week - 1) + (d.weekday - 1);
    } else if (d.yearday) {
        days = date::year_start_days(packed) + d.yearday - 1;
    }
    date::make_at(cell, date::from_days(days, d.has_time ? zone : 0, d.has_time), 0.0);
    date::normalize(cell, d.time, true);
}

// Other checks ---------------------------------------------------------------------

bool tuple_q(const uint8_t* start, const uint8_t* end) {
    int32_t components = 0;
    int32_t value = 0;
    bool empty = true;
    for (const uint8_t* p = start;; p++) {
        if (p == end || *p == '.') {
            if (empty || ++components > 12) return false;
            if (p == end) break;
            value = 0;
            empty = true;
            continue;
        }
        if (!digit_q(*p)) return false;
        value = value * 10 + (*p - '0');
        if (value > 255) return false;
        empty = false;
    }
    return components >= 3;
}

// A currency code of 3 letters (optional) before "$", then an amount:
// digits with single quotes between them, one optional decimal separator,
// at most 18 digits before it and 5 after it.
bool money_q(const uint8_t* start, const uint8_t* end) {
    const uint8_t* p = start;
    if (*p == '+' || *p == '-') p++;
    if (p < end && letter_q(*p)) {
        for (int32_t i = 0; i < 3; i++, p++)
            if (p >= end || !letter_q(*p)) return false;
    }
    if (p >= end || *p != '$') return false;
    p++;
    if (p >= end || *p == '.' || *p == ',' || *p == '\'') return false;
    while (p < end && *p == '0') p++;
    int32_t whole = 0, fraction = 0;
    bool point = false, quote = false;
    for (; p < end; p++) {
        if (*p == '\'') {
            if (quote || point) return false;
            quote = true;
        } else if (*p == '.' || *p == ',') {
            if (point || quote) return false;
            point = true;
        } else if (digit_q(*p)) {
            (point ? fraction : whole)++;
            quote = false;
        } else {
            return false;
        }
    }
    return !quote && whole <= 18 && fraction <= 5;
}

// The data of a binary in base 2, 16 or 64, blanks and comments skipped;
// the offending byte, or null when the data is whole.
const uint8_t* binary_fault(uint32_t base, const uint8_t* p, const uint8_t* end) {
    uint32_t count = 0, padding = 0;
    for (; p < end; p++) {
        uint8_t c = *p;
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
        if (c == ';') {
            while (p < end && *p != '\n') p++;
            continue;
        }
        bool fits;
        if (base == 2) fits = c == '0' || c == '1';
        else if (base == 16) fits = hex_value(c) >= 0;
        else if (c == '=') fits = count % 4 >= 2 && padding < 2;
        else fits = padding == 0 && (letter_q(c) || digit_q(c) || c == '+' || c == '/');
        if (!fits) return p;
        if (c == '=') padding++;
        count++;
    }
    uint32_t group = base == 2 ? 8 : base == 16 ? 2 : 4;
    if (count % group) return end;
    if (base == 64 && padding && (count - padding) % 4 + padding != 4) return end;
    return nullptr;
}

// A coordinate of a point: a special float, or decimal text.
bool coordinate_q(const uint8_t* start, const uint8_t* end) {
    double value;
    if (std::memchr(start, '#', size_t(end - start))) return special_float(start, end, &value);
    return end - start <= int32_t(tokenizer::FLOAT_TEXT_MAX) && float_text_q(start, end);
}

// Constructions ------------------------------------------------------------------

}  // namespace

int32_t construct_value(const uint8_t* name, const uint8_t* end, kiv_value* out) {
    if (named_q(name, end, "true")) *out = true_value;
    else if (named_q(name, end, "false")) *out = false_value;
    else if (named_q(name, end, "none")) *out = none_value;
    else if (named_q(name, end, "unset")) *out = unset_value;
    else {
        for (uint32_t id = 1; id < TYPE_COUNT; id++) {
            if (!named_q(name, end, datatype::id_name(id))) continue;
            datatype::make_at(out, id);
            bool registered = id <= datatype::top_id && datatype::table[id].name;
            return registered ? CONSTRUCT_FOUND : CONSTRUCT_PENDING;
        }
        return CONSTRUCT_UNKNOWN;
    }
    return CONSTRUCT_FOUND;
}

void make_word(lexer_state& r, const uint8_t* start, const uint8_t* end, uint32_t, uint32_t type) {
    if (start >= end) invalid(r, type);
    check_utf8(r, start, end, type);
    int32_t symbol = symbol::make_alt(start, uint32_t(end - start));
    kiv_value w{0, 0, 0, 0};
    if (type == TYPE_ISSUE) {
        w = kiv_value{TYPE_ISSUE, _context::global, uint32_t(symbol), uint32_t(-1)};
    } else {
        word::make_at(symbol, &w);
        w.header = type;
    }
    append(r, w);
}

void load_text(lexer_state& r, const uint8_t* start, const uint8_t* end, uint32_t flags, bool escapes,
               uint32_t type, bool load) {
    uint32_t reported = r.type_override > 0 ? uint32_t(r.type_override) : type;
    escapes = escapes && (flags & F_CARET);
    uint32_t unit = unit_for(start, end, flags, escapes);
    node_id node = load ? memory::alloc_codepoints(uint32_t(end - start) + 1, unit) : 0;
    uint8_t* out = load ? series::buffer(node)->offset : nullptr;
    for (const uint8_t* p = start; p < end;) {
        int32_t cp;
        if (escapes && *p == '^') cp = decode_escape(++p, end);
        else cp = decode_char(p, end);
        if (cp < 0 || uint32_t(cp) > unicode::MAX_CODEPOINT) invalid(r, reported);
        if (!out) continue;
        string::put_char(out, unit, uint32_t(cp));
        out += unit;
    }
    if (!load) return;
    series::buffer(node)->tail = out;
    kiv_value* cell = append(r, kiv_value{reported, 0, node, 0});
    if (flags & F_AFTER_LINE) cell->header |= FLAG_NEW_LINE;
}

void load_quoted_string(lexer_state& r, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    load_text(r, start + 1, end, flags, true, TYPE_STRING, load);
}

// Words, issues and the heads of paths: the check has set the kind.
void load_word(lexer_state& r, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    uint32_t type = uint32_t(r.token_type);
    if (type == TYPE_ISSUE || type == TYPE_GET_WORD || type == TYPE_LIT_WORD) start++;
    else if (type == TYPE_SET_WORD) end--;
    if (!load) {
        if (start >= end) invalid(r, type);
        check_utf8(r, start, end, type);
        return;
    }
    make_word(r, start, end, flags, type);
}

// "/name" is a refinement; the two-byte tokens "'/", ":/" and "/:" are the
// word "/" as a lit-word, get-word and set-word.
void load_refinement(lexer_state& r, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    uint32_t type = TYPE_REFINEMENT;
    const uint8_t* name = start + 1;
    const uint8_t* name_end = end;
    if (end - start == 1 && *start == '/') {
        type = TYPE_WORD;
        name = start;
    } else if (end - start == 2 && start[1] == '/' && (*start == '\'' || *start == ':')) {
        type = *start == '\'' ? TYPE_LIT_WORD : TYPE_GET_WORD;
    } else if (end - start == 2 && start[0] == '/' && start[1] == ':') {
        type = TYPE_SET_WORD;
        name = start;
        name_end = start + 1;
    } else if (*start != '/') {
        invalid(r, TYPE_REFINEMENT);
    }
    r.token_type = int32_t(type);
    if (!load) {
        check_utf8(r, name, name_end, type);
        return;
    }
    make_word(r, name, name_end, flags, type);
}

void load_integer(lexer_state& r, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    int32_t value;
    switch (read_integer(start, end, &value)) {
        case INTEGER_BAD:
            invalid(r, TYPE_INTEGER);
        case INTEGER_TOO_BIG:
            r.token_type = TYPE_FLOAT;
            load_float(r, start, end, flags, load);
            return;
        case INTEGER_OK:
            break;
    }
    if (load) append(r, kiv_value{TYPE_INTEGER, 0, uint32_t(value), 0});
}

void load_float(lexer_state& r, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    if (!float_text_q(start, end)) invalid(r, TYPE_FLOAT);
    double d;
    if (!decimal_value(start, end, 0, &d)) invalid(r, TYPE_FLOAT);
    if (!load) return;
    kiv_value v;
    float_::make_at(&v, d);
    append(r, v);
}

void load_special_float(lexer_state& r, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    double d;
    if (!special_float(start, end, &d)) invalid(r, TYPE_FLOAT);
    if (!load) return;
    kiv_value v;
    float_::make_at(&v, d);
    append(r, v);
}

// FFh: 2 to 8 hexadecimal digits before the "h", read into 32 bits.
void load_hex(lexer_state& r, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    const uint8_t* digits_end = end - 1;
    int32_t count = int32_t(digits_end - start);
    if (flags & (F_SIGN | F_QUOTE)) invalid(r, TYPE_INTEGER);
    if (count == 1 && !digit_q(*start)) invalid(r, TYPE_WORD);
    if (count < 2 || count > 8) invalid(r, TYPE_INTEGER);
    uint32_t value = 0;
    for (const uint8_t* p = start; p < digits_end; p++) {
        if (hex_value(*p) < 0) invalid(r, TYPE_INTEGER);
        value = value << 4 | uint32_t(hex_value(*p));
    }
    if (load) append(r, kiv_value{TYPE_INTEGER, 0, value, 0});
}

// #"c": one character or one escape between the quotes.
void load_char(lexer_state& r, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    const uint8_t* p = start + 2;
    if (p >= end) invalid(r, TYPE_CHAR);
    int32_t cp = *p == '^' ? decode_escape(++p, end) : decode_char(p, end);
    if (cp < 0 || uint32_t(cp) > unicode::MAX_CODEPOINT || p != end) invalid(r, TYPE_CHAR);
    if (load) append(r, kiv_value{TYPE_CHAR, 0, uint32_t(cp), 0});
}

void load_raw_string(lexer_state& r, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    int32_t run = 0;
    while (start[run] == '%') run++;
    const uint8_t* text = start + run + 1;
    const uint8_t* text_end = end - run - 1;
    if (!load && !fire_event(r, EV_OPEN, TYPE_STRING, nullptr, start, end, start)) return;
    load_text(r, text, text_end, flags, false, TYPE_STRING, load);
    if (!load) fire_event(r, EV_CLOSE, TYPE_STRING, nullptr, start, end, end);
}

// Unquoted files and urls load as written; their percent escapes are decoded
// afterwards into a fresh buffer.
void load_escaped_name(lexer_state& r, const uint8_t* start, const uint8_t* end, uint32_t flags, uint32_t type,
                       bool load) {
    load_text(r, start, end, flags, false, type, load);
    if (!load || !std::memchr(start, '%', size_t(end - start))) return;
    kiv_value* decoded = stack::push();  // a root while the buffer grows
    string::make_at(decoded, uint32_t(end - start));
    url::percent_decode(cell_at(r.tail - 1), decoded);
    cell_at(r.tail - 1)->data2 = decoded->data2;
    stack::pop(1);
}

// %name, or %"name" with escapes.
void load_file(lexer_state& r, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    r.type_override = TYPE_FILE;
    if (end - start >= 2 && start[1] == '"') {
        if (end >= r.input_end || *end != '"') invalid(r, TYPE_FILE);
        load_text(r, start + 2, end, flags, true, TYPE_FILE, load);
    } else {
        load_escaped_name(r, start + 1, end, flags, TYPE_FILE, load);
    }
}

// [base]#{data}: base 2, 16 (the default) or 64.
void load_binary(lexer_state& r, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    const uint8_t* p = start;
    uint32_t base = 16;
    if (*p != '#') {
        base = 0;
        for (; p < end && digit_q(*p) && base <= 64; p++) base = base * 10 + (*p - '0');
    }
    if ((base != 2 && base != 16 && base != 64) || p >= end || *p != '#') invalid(r, TYPE_BINARY);
    if (const uint8_t* fault = binary_fault(base, p + 2, end)) throw_error(r, fault, end, TYPE_BINARY);
    if (!load) return;
    // The text is whole by now, so the decoders cannot refuse it.
    auto decode = base == 2 ? base_codecs::decode_2 : base == 16 ? base_codecs::decode_16 : base_codecs::decode_64;
    append(r, kiv_value{TYPE_BINARY, 0, decode(p + 2, uint32_t(end - p - 2), 1), 0});
}

// The number before the "%", in hundredths: the decimal exponent is shifted
// so that 12.5% reads as exactly the double nearest 0.125.
void load_percent(lexer_state& r, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    double d;
    if (!float_text_q(start, end) || !decimal_value(start, end, -2, &d)) invalid(r, TYPE_PERCENT);
    if (!load) return;
    kiv_value v;
    percent::make_at(&v, d);
    append(r, v);
}

void load_tuple(lexer_state& r, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    if (!tuple_q(start, end)) invalid(r, TYPE_TUPLE);
    if (!load) return;
    uint8_t bytes[tuple::MAX_LENGTH] = {};
    uint32_t n = 0;
    for (const uint8_t* p = start; p < end; p++) {
        if (*p == '.') n++;
        else bytes[n] = uint8_t(bytes[n] * 10 + (*p - '0'));
    }
    kiv_value v;
    append(r, *tuple::make_at(&v, n + 1, bytes));
}

void load_date(lexer_state& r, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    date_text d;
    if (!read_date(start, end, &d)) invalid(r, TYPE_DATE);
    if (!load) return;
    kiv_value v;
    make_date(&v, d);
    append(r, v);
}

// Two integers around "x"; a dot anywhere makes it no pair.
void load_pair(lexer_state& r, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    const uint8_t* x = start + 1;
    while (x < end && *x != 'x' && *x != 'X') x++;
    int32_t a, b;
    if ((flags & F_DOT) || read_integer(start, x, &a) != INTEGER_OK ||
        x >= end || read_integer(x + 1, end, &b) != INTEGER_OK)
        invalid(r, TYPE_PAIR);
    if (!load) return;
    kiv_value v;
    pair::make_at(&v, a, b);
    append(r, v);
}

// Two or three coordinates between commas, blanks around each.
void load_point(lexer_state& r, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    uint32_t kind = TYPE_POINT2D;
    int32_t coordinates = 0;
    double c[3] = {};
    const uint8_t* p = start;
    auto blanks = [&] {
        while (p < end && (*p == ' ' || *p == '\t')) p++;
    };
    for (;;) {
        blanks();
        const uint8_t* coordinate = p;
        while (p < end && *p != ',' && *p != ' ' && *p != '\t') p++;
        if (p == coordinate || !coordinate_q(coordinate, p)) throw_error(r, start, end, int32_t(kind));
        if (std::memchr(coordinate, '#', size_t(p - coordinate))) special_float(coordinate, p, &c[coordinates]);
        else if (!decimal_value(coordinate, p, 0, &c[coordinates])) throw_error(r, start, end, int32_t(kind));
        if (++coordinates == 3) kind = TYPE_POINT3D;
        blanks();
        if (p == end) break;
        if (*p != ',' || coordinates == 3) throw_error(r, start, end, int32_t(kind));
        p++;
    }
    if (coordinates < 2) throw_error(r, start, end, int32_t(kind));
    if (!load) return;
    kiv_value v;
    append(r, *point::make_at(&v, kind, c[0], c[1], c[2]));
}

// [-]hours:minutes[:seconds], or hours:minutes.fraction read as minutes
// and seconds.
void load_time(lexer_state& r, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    const uint8_t* p = start;
    if (*p == '+' || *p == '-') p++;
    uint64_t hours = 0;
    bool any = false;
    for (; p < end && (digit_q(*p) || *p == '\''); p++) {
        if (*p == '\'') continue;
        hours = hours * 10 + (*p - '0');
        any = true;
        if (hours > uint64_t(INT32_MAX)) invalid(r, TYPE_TIME);
    }
    int64_t minutes;
    if ((flags & F_EXPONENT) || !any || p >= end || *p != ':') invalid(r, TYPE_TIME);
    const uint8_t* minutes_start = ++p;
    if (read_digits(p, end, &minutes) == 0) invalid(r, TYPE_TIME);
    double seconds = 0;
    if (p < end) {
        if (*p != ':' && *p != '.' && *p != ',') invalid(r, TYPE_TIME);
        const uint8_t* from = p + 1;
        if (*p != ':') {  // 4:30.5 is minutes and seconds
            from = minutes_start;
            minutes = int64_t(hours);
            hours = 0;
        }
        if (!read_seconds(from, end, &seconds) || from != end) invalid(r, TYPE_TIME);
    }
    if (!load) return;
    double total = double(hours) * 3600 + double(minutes) * 60 + seconds;
    kiv_value value;
    append(r, *time::make_at(&value, *start == '-' ? -total : total));
}

void load_money(lexer_state& r, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    if (!money_q(start, end)) invalid(r, TYPE_MONEY);
    const uint8_t* p = start;
    bool negative = *p == '-';
    if (*p == '+' || *p == '-') p++;
    const uint8_t* code = *p == '$' ? nullptr : p;
    p += code ? 4 : 1;
    kiv_value value;
    // An unknown currency or more integer digits than money! holds.
    if (!money::make_at_text(&value, negative, code, p, end)) invalid(r, TYPE_MONEY);
    if (load) append(r, value);
}

void load_tag(lexer_state& r, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    if (*start != '<') invalid(r, TYPE_TAG);
    load_text(r, start + 1, end, flags, false, TYPE_TAG, load);
}

void load_url(lexer_state& r, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    if (*start == ':') invalid(r, TYPE_GET_WORD);
    if (*start == '\'') invalid(r, TYPE_LIT_WORD);
    load_escaped_name(r, start, end, flags, TYPE_URL, load);
}

void load_email(lexer_state& r, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    load_text(r, start, end, flags, false, TYPE_EMAIL, load);
}

void load_ref(lexer_state& r, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    load_text(r, start + 1, end, flags, false, TYPE_REF, load);
}

}  // namespace kiv::lexer
