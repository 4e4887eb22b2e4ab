#pragma once
// time!: a duration or a time of day, held as a count of seconds in a double
// (payload words 2 and 3, like float!). Negative times are allowed and there
// is no upper bound. Arithmetic, comparison and rounding run on float!'s
// numeric engine; this module adds construction, the h:mm:ss text and the
// hour, minute and second fields.
#include <cstdint>

#include "runtime/value.h"

namespace kiv::time {

// Field indexes of paths and pick.
enum field : int32_t { FIELD_HOUR = 1, FIELD_MINUTE = 2, FIELD_SECOND = 3 };

inline double get(const kiv_value* v) { return cell::get_float(v); }
inline kiv_value* make_at(kiv_value* cell, double seconds) {
    cell->header = TYPE_TIME;
    cell->data1 = 0;
    cell::set_float(cell, seconds);
    return cell;
}
kiv_value* make_in(kiv_value* block, double seconds);
kiv_value* push(double seconds);

// Whole hours, rounded toward zero (so -1:30 has -1 hour). A count beyond the
// integer range raises `overflow`.
int32_t get_hours(double seconds);
// Whole minutes past the hour of the magnitude: 0 to 59.
int32_t get_minutes(double seconds);
// A field into `result`: the hour and the minute as integer!, the second as a
// float! that carries the time's sign. Any other index writes nothing and
// gives null.
kiv_value* get_field(const kiv_value* time, int32_t index, kiv_value* result);
// The field of a word: 1, 2 or 3 for hour, minute and second, else -1. When
// `value` is a time! (the value the word was applied to), any other word
// raises `cannot-use` with the word and the value.
int32_t field_index(const kiv_value* word, const kiv_value* value);

// Appends the text of a time ("-" when negative, the hours, then two-digit
// minutes and seconds with the fraction of a second) and returns the /part
// budget less the characters written.
int32_t form_seconds(double seconds, kiv_value* buffer, int32_t part);

void init();

}  // namespace kiv::time
