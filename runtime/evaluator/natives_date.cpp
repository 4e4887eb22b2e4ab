// The clock: `now` and its refinements.
#include <ctime>

#include "runtime/datatypes/date.h"
#include "runtime/errors.h"
#include "runtime/evaluator/native_support.h"
#include "runtime/evaluator/natives.h"
#include "runtime/stack.h"

namespace kiv::natives {

namespace {

// The zone bits of the local offset at a moment, daylight saving included.
// Offsets that are not whole quarters of an hour (old local mean times) keep
// their whole quarters.
uint32_t local_zone(time_t at) {
    struct tm local;
    if (!localtime_r(&at, &local)) return 0;
    long offset = local.tm_gmtoff;
    long magnitude = offset < 0 ? -offset : offset;
    uint32_t bits = 0;
    date::zone_bits(int32_t(magnitude / 3600), int32_t(magnitude % 3600 / 60), offset < 0, &bits);
    return bits;
}

}  // namespace

// refs: /year /month /day /time /zone /date /weekday /yearday /precise /utc
void now(bool, const int32_t* refs) {
    enum { YEAR, MONTH, DAY, TIME, ZONE, DATE, WEEKDAY, YEARDAY, PRECISE, UTC };
    int32_t chosen = 0;
    for (int32_t i = YEAR; i <= PRECISE; i++) chosen += used(refs[i]);
    bool precise_time = chosen == 2 && used(refs[TIME]) && used(refs[PRECISE]);
    if (chosen > 1 && !precise_time) fire(err::SCRIPT, err::script::bad_refines);
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    kiv_value d;
    date::from_epoch(&d, int64_t(ts.tv_sec));
    double time = date::time_of(&d) + (used(refs[PRECISE]) ? double(ts.tv_nsec) * 1e-9 : 0.0);
    if (!used(refs[UTC])) d.data1 |= local_zone(ts.tv_sec);
    date::normalize(&d, time, false);
    static constexpr int32_t fields[] = {
        date::FIELD_YEAR, date::FIELD_MONTH, date::FIELD_DAY, date::FIELD_TIME, date::FIELD_ZONE,
        date::FIELD_DATE, date::FIELD_WEEKDAY, date::FIELD_YEARDAY,
    };
    for (int32_t i = YEAR; i <= YEARDAY; i++)
        if (used(refs[i])) {
            kiv_value field;
            stack::set_last(date::get_field(&d, fields[i], &field));
            return;
        }
    stack::set_last(&d);
}

}  // namespace kiv::natives
