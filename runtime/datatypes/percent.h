#pragma once
// percent!: a float! that holds a fraction (50% is 0.5) and is written as a
// hundredth with a trailing "%". Everything but its text is float!'s.
#include "runtime/value.h"

namespace kiv::percent {

inline double get(const kiv_value* v) { return cell::get_float(v); }
inline kiv_value* make_at(kiv_value* cell, double fraction) {
    cell->header = TYPE_PERCENT;
    cell->data1 = 0;
    cell::set_float(cell, fraction);
    return cell;
}
kiv_value* make_in(kiv_value* block, double fraction);
kiv_value* push(double fraction);

void init();

}  // namespace kiv::percent
