// Math natives: sign tests, trigonometry, logarithms and powers, and the
// integer bit operations. Every floating-point result is a float! in the
// first argument's cell; integers are widened to doubles first.
#include <algorithm>
#include <cmath>
#include <numbers>

#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/evaluator/native_support.h"
#include "runtime/evaluator/natives.h"

namespace kiv::natives {

namespace {

double number_arg(int32_t n) {
    const kiv_value* v = arg(n);
    return type_of(v) == TYPE_INTEGER ? double(integer::get_value(v)) : float_::get(v);
}

// The sign of the numbers the sign tests take.
int32_t sign_of(const kiv_value* v) {
    switch (type_of(v)) {
        case TYPE_INTEGER:
            return integer::sign(integer::get_value(v));
        case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_TIME: {
            double d = float_::get(v);
            return d > 0.0 ? 1 : d < 0.0 ? -1 : 0;
        }
        case TYPE_MONEY:
            return money::sign(v);
        default:
            fire_expect(v, "number");
    }
}

}  // namespace

void negative_q(bool, const int32_t*) { logic::box(sign_of(arg(0)) < 0); }
void positive_q(bool, const int32_t*) { logic::box(sign_of(arg(0)) > 0); }
void sign_q(bool, const int32_t*) { integer::return_(sign_of(arg(0))); }

void zero_q(bool, const int32_t*) {
    const kiv_value* v = arg(0);
    bool zero = false;
    switch (type_of(v)) {
        case TYPE_INTEGER: case TYPE_CHAR:
            zero = integer::get_value(v) == 0;
            break;
        case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_TIME:
            zero = float_::get(v) == 0.0;
            break;
        case TYPE_PAIR:
            zero = pair::x_of(v) == 0 && pair::y_of(v) == 0;
            break;
        case TYPE_MONEY:
            zero = money::zero_q(v);
            break;
        case TYPE_TUPLE:
            zero = tuple::zero_q(v);
            break;
        case TYPE_POINT2D: case TYPE_POINT3D:
            zero = point::component(v, 0) == 0 && point::component(v, 1) == 0 &&
                   (type_of(v) == TYPE_POINT2D || point::component(v, 2) == 0);
            break;
        default:
            break;
    }
    logic::box(zero);
}

void NaN_q(bool, const int32_t*) {
    uint32_t t = type_of(arg(0));
    logic::box((t == TYPE_FLOAT || t == TYPE_PERCENT) && std::isnan(float_::get(arg(0))));
}

// Bits ----------------------------------------------------------------------------

void shift(bool, const int32_t* refs) {
    int32_t data = integer::get_value(arg(0));
    int32_t bits = std::max(0, integer::get_value(arg(1)));
    int32_t result;
    if (used(refs[0])) result = bits > 31 ? 0 : int32_t(uint32_t(data) << bits);
    else if (used(refs[1])) result = bits > 31 ? 0 : int32_t(uint32_t(data) >> bits);
    else result = bits > 31 ? (data < 0 ? -1 : 0) : data >> bits;
    integer::return_(result);
}

void to_hex(bool, const int32_t* refs) {
    static const char DIGITS[] = "0123456789ABCDEF";
    uint32_t value = uint32_t(integer::get_value(arg(0)));
    int32_t length = 8;
    if (used(refs[0])) {
        length = integer::get_value(arg(refs[0]));
        if (length <= 0) fire_invalid(arg(refs[0]));
        length = std::min(length, 8);
    }
    char text[9];
    for (int32_t i = 7; i >= 0; i--, value >>= 4) text[i] = DIGITS[value & 15];
    text[8] = 0;
    issue::make_at(stack::arguments, text + 8 - length);
}

// Trigonometry --------------------------------------------------------------------

namespace {

constexpr double PI = std::numbers::pi;
// Below this a sine or cosine is noise around an exact zero.
constexpr double TINY = 2.220446049250313e-16;

// The angle argument in radians: degrees are first brought into -180..180.
double angle_arg(const int32_t* refs) {
    double a = number_arg(0);
    if (used(refs[0])) return a;
    a = std::fmod(a, 360.0);
    if (a > 180.0) a -= 360.0;
    else if (a < -180.0) a += 360.0;
    return a * PI / 180.0;
}

double cleaned(double r) { return std::fabs(r) < TINY ? 0.0 : r; }

// An inverse function's result in degrees unless /radians.
void angle_result(double radians, const int32_t* refs) {
    float_::return_(used(refs[0]) ? radians : radians * 180.0 / PI);
}

}  // namespace

void sine(bool, const int32_t* refs) { float_::return_(cleaned(std::sin(angle_arg(refs)))); }
void cosine(bool, const int32_t* refs) { float_::return_(cleaned(std::cos(angle_arg(refs)))); }

void tangent(bool, const int32_t* refs) {
    double a = angle_arg(refs);
    if (a == PI / 2) float_::return_(HUGE_VAL);
    else if (a == -PI / 2) float_::return_(-HUGE_VAL);
    else float_::return_(std::tan(a));
}

void arcsine(bool, const int32_t* refs) { angle_result(std::asin(number_arg(0)), refs); }
void arccosine(bool, const int32_t* refs) { angle_result(std::acos(number_arg(0)), refs); }
void arctangent(bool, const int32_t* refs) { angle_result(std::atan(number_arg(0)), refs); }
void arctangent2(bool, const int32_t* refs) { angle_result(std::atan2(number_arg(0), number_arg(1)), refs); }

// Logarithms and powers: no domain check, the library's NaN or infinity is
// the answer.
void log_2(bool, const int32_t*) { float_::return_(std::log(number_arg(0)) / 0.6931471805599453); }
void log_10(bool, const int32_t*) { float_::return_(std::log10(number_arg(0))); }
void log_e(bool, const int32_t*) { float_::return_(std::log(number_arg(0))); }
void exp(bool, const int32_t*) { float_::return_(std::pow(2.718281828459045, number_arg(0))); }
void square_root(bool, const int32_t*) { float_::return_(std::sqrt(number_arg(0))); }

}  // namespace kiv::natives
