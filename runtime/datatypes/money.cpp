// money!: exact decimal amounts with a currency. The packed digits are
// unpacked into one 128-bit count of hundred-thousandths for every
// computation, so results are exact and a result that needs more digits than
// the cell holds is caught before it is stored.
#include "runtime/datatypes/money.h"

#include <cmath>
#include <cstring>

#include "runtime/boot.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/evaluator/random.h"
#include "runtime/evaluator/tokenizer.h"
#include "runtime/float_text.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace kiv::money {

namespace {

using signed_amount = __int128;

[[noreturn]] void fire_typed(uint32_t id, uint32_t type, const kiv_value* arg2 = nullptr) {
    kiv_value dt;
    datatype::make_at(&dt, type);
    fire(err::SCRIPT, id, &dt, arg2);
}

[[noreturn]] void type_limit(uint32_t type = TYPE_MONEY) { fire_typed(err::script::type_limit, type); }
[[noreturn]] void invalid_type(uint32_t type) { fire_typed(err::script::invalid_type, type); }

// The value of a field of the system object, or null while the system
// object (or the field's parent) does not exist yet.
const kiv_value* system_field(const char* parent, const char* name) {
    if (!_context::global) return nullptr;
    int32_t index = _context::find_word(_context::global, symbol::make("system"), true);
    kiv_value* values = index >= 0 ? _context::values_of(_context::global) : nullptr;
    if (!values || type_of(values + index) != TYPE_OBJECT) return nullptr;
    const kiv_value* p = boot::field(values + index, parent);
    if (type_of(p) != TYPE_OBJECT) return nullptr;
    return boot::field(p, name);
}

// system/locale/currencies/list, or null.
const kiv_value* currency_list() {
    const kiv_value* currencies = system_field("locale", "currencies");
    if (!currencies || type_of(currencies) != TYPE_OBJECT) return nullptr;
    const kiv_value* list = boot::field(currencies, "list");
    return type_of(list) == TYPE_BLOCK ? list : nullptr;
}

// The symbol of the code at a 1-based position of the list, or 0.
int32_t currency_symbol(uint32_t index) {
    const kiv_value* list = currency_list();
    if (!list || index == 0 || index > block::length_all(list)) return 0;
    const kiv_value* code = block::cells(list) + index - 1;
    return any_word_q(type_of(code)) ? word::symbol_of(code) : 0;
}

signed_amount signed_of(const kiv_value* v) {
    signed_amount m = signed_amount(magnitude(v));
    return get_sign(v) ? -m : m;
}

kiv_value* make_signed(kiv_value* cell, signed_amount s, uint32_t currency) {
    amount m = amount(s < 0 ? -s : s);
    if (m >= LIMIT) type_limit();
    return make_at(cell, s < 0, currency, m);
}

int32_t significant_digits(amount m) {
    int32_t n = 1;
    while (m >= 10) {
        m /= 10;
        n++;
    }
    return n;
}

int32_t order(amount a, amount b) { return a < b ? -1 : a > b ? 1 : 0; }

// Two amounts by sign, then by magnitude.
int32_t order_amounts(const kiv_value* a, const kiv_value* b) {
    int32_t sa = sign(a), sb = sign(b);
    if (sa != sb) return sa < sb ? -1 : 1;
    int32_t r = order(magnitude(a), magnitude(b));
    return sa < 0 ? -r : r;
}

// Both currencies given and different.
bool currencies_differ_q(const kiv_value* a, const kiv_value* b) {
    return get_currency(a) && get_currency(b) && get_currency(a) != get_currency(b);
}

[[noreturn]] void wrong_denom(const kiv_value* a, const kiv_value* b) {
    fire(err::SCRIPT, err::script::wrong_denom, a, b);
}

// Currencies in sort order: none first, then the codes by their spelling.
int32_t order_currencies(uint32_t a, uint32_t b) {
    if (a == b) return 0;
    if (!a || !b) return a ? 1 : -1;
    int32_t sa = currency_symbol(a), sb = currency_symbol(b);
    int r = std::strcmp(sa ? symbol::name_of(sa) : "", sb ? symbol::name_of(sb) : "");
    return r < 0 ? -1 : r > 0 ? 1 : order(a, b);
}

bool equality_code_q(int32_t op) {
    return op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL || op == COMP_SAME ||
           op == COMP_EQUAL_SPELLING || op == COMP_EQUAL_FOLDED || op == COMP_FIND;
}

bool strict_code_q(int32_t op) { return op == COMP_STRICT_EQUAL || op == COMP_SAME || op == COMP_FIND; }

// A math operand as money: integers and floats are converted, floats
// leniently.
kiv_value operand(const kiv_value* v) {
    kiv_value m;
    switch (type_of(v)) {
        case TYPE_MONEY: return *v;
        case TYPE_INTEGER: from_integer(&m, integer::get_value(v)); return m;
        case TYPE_FLOAT: case TYPE_PERCENT: from_float(&m, float_::get(v), false); return m;
        default: invalid_type(type_of(v));
    }
}

// The option that says how many fraction digits form and mold show.
int32_t money_digits() {
    const kiv_value* digits = system_field("options", "money-digits");
    return digits && type_of(digits) == TYPE_INTEGER ? integer::get_value(digits) : 2;
}

}  // namespace

// Cell access ------------------------------------------------------------------

amount magnitude(const kiv_value* v) {
    const uint8_t* d = digit_bytes(v);
    amount m = 0;
    for (int32_t i = 0; i < DIGIT_BYTES; i++) m = m * 100 + (d[i] >> 4) * 10 + (d[i] & 15);
    return m;
}

void set_magnitude(kiv_value* v, amount m) {
    uint8_t* d = digit_bytes(v);
    for (int32_t i = DIGIT_BYTES - 1; i >= 0; i--) {
        uint32_t pair = uint32_t(m % 100);
        m /= 100;
        d[i] = uint8_t((pair / 10) << 4 | pair % 10);
    }
}

bool zero_q(const kiv_value* v) {
    const uint8_t* d = digit_bytes(v);
    for (int32_t i = 0; i < DIGIT_BYTES; i++)
        if (d[i]) return false;
    return true;
}

int32_t sign(const kiv_value* v) {
    if (zero_q(v)) return 0;
    return get_sign(v) ? -1 : 1;
}

int32_t find_currency(int32_t symbol) {
    const kiv_value* list = currency_list();
    if (!list) return -1;
    int32_t wanted = symbol::resolve(symbol);
    uint32_t n = block::length_all(list);
    const kiv_value* codes = block::cells(list);
    for (uint32_t i = 0; i < n; i++)
        if (any_word_q(type_of(codes + i)) && symbol::resolve(word::symbol_of(codes + i)) == wanted)
            return int32_t(i + 1);
    return -1;
}

bool known_currency_q(uint32_t index) { return index == 0 || currency_symbol(index) != 0; }

kiv_value* make_at(kiv_value* cell, bool negative, uint32_t currency, amount m) {
    *cell = kiv_value{TYPE_MONEY, 0, 0, 0};
    set_currency(cell, currency);
    set_magnitude(cell, m);
    // A zero amount keeps no sign, so that equal amounts have equal cells.
    set_sign(cell, negative && m != 0);
    return cell;
}

bool make_at_raw(kiv_value* cell, bool negative, uint32_t currency, const uint8_t* digits) {
    for (int32_t i = 0; i < DIGIT_BYTES; i++)
        if ((digits[i] >> 4) > 9 || (digits[i] & 15) > 9) return false;
    *cell = kiv_value{TYPE_MONEY, 0, 0, 0};
    set_currency(cell, currency);
    std::memcpy(digit_bytes(cell), digits, DIGIT_BYTES);
    set_sign(cell, negative);
    return true;
}

kiv_value* push(bool negative, uint32_t currency, amount m) {
    return make_at(stack::push(), negative, currency, m);
}

bool make_at_text(kiv_value* cell, bool negative, const uint8_t* code, const uint8_t* text,
                  const uint8_t* end) {
    uint32_t currency = 0;
    if (code) {
        int32_t index = find_currency(symbol::make_alt(code, 3));
        if (index < 0) return false;
        currency = uint32_t(index);
    }
    amount whole = 0, fraction = 0;
    int32_t whole_digits = 0, fraction_digits = 0;
    bool point = false;
    for (const uint8_t* p = text; p < end; p++) {
        if (*p == '\'') continue;
        if (*p == '.' || *p == ',') {
            point = true;
            continue;
        }
        if (*p < '0' || *p > '9') return false;
        uint32_t digit = *p - '0';
        if (point) {
            if (fraction_digits == FRACTION_DIGITS) continue;
            fraction = fraction * 10 + digit;
            fraction_digits++;
        } else {
            if (whole_digits == 0 && digit == 0) continue;
            if (++whole_digits > INTEGER_DIGITS) return false;
            whole = whole * 10 + digit;
        }
    }
    make_at(cell, negative, currency, whole * SCALE + fraction * pow10(FRACTION_DIGITS - fraction_digits));
    return true;
}

// Conversions --------------------------------------------------------------------

kiv_value* from_integer(kiv_value* cell, int32_t n) {
    amount m = amount(n < 0 ? -int64_t(n) : int64_t(n));
    return make_at(cell, n < 0, 0, m * SCALE);
}

int32_t to_integer(const kiv_value* v) {
    amount whole = magnitude(v) / SCALE;
    bool negative = negative_q(v);
    if (whole > (negative ? amount(2147483648u) : amount(2147483647u))) type_limit(TYPE_INTEGER);
    int64_t n = int64_t(whole);
    return int32_t(negative ? -n : n);
}

kiv_value* from_float(kiv_value* cell, double d, bool strict) {
    auto refuse = [d] {
        kiv_value f;
        float_::make_at(&f, d);
        fire_typed(err::script::bad_make_arg, TYPE_MONEY, &f);
    };
    double a = std::fabs(d);
    if (std::isnan(d) || a >= 1e17 || (a != 0.0 && a < 1e-05)) refuse();
    if (a == 0.0) return make_at(cell, false, 0, 0);
    dtoa::digits t = dtoa::to_text(d, 0, false);
    amount m = 0;
    for (int32_t i = 0; i < t.length; i++) m = m * 10 + amount(t.text[i] - '0');
    // The digits are 0.ddd times 10 to decpt; the amount counts 1e-05.
    int32_t exponent = t.decpt - t.length + FRACTION_DIGITS;
    if (exponent >= 0) {
        m *= pow10(exponent);
    } else {
        if (strict) refuse();
        m /= pow10(-exponent);
    }
    return make_at(cell, d < 0, 0, m);
}

double to_float(const kiv_value* v) {
    amount m = magnitude(v);
    if (m == 0) return 0.0;
    char text[DIGITS + 2];
    int32_t n = DIGITS + 1;
    text[n] = '\0';
    for (int32_t i = 0; i < FRACTION_DIGITS; i++, m /= 10) text[--n] = char('0' + int(m % 10));
    text[--n] = '.';
    do {
        text[--n] = char('0' + int(m % 10));
        m /= 10;
    } while (m);
    double d = dtoa::from_bytes(text + n, DIGITS + 1 - n, nullptr);
    return negative_q(v) ? -d : d;
}

kiv_value* as_money(kiv_value* result, const kiv_value* currency, const kiv_value* amount_value) {
    int32_t index = find_currency(word::symbol_of(currency));
    if (index < 0) fire_typed(err::script::bad_make_arg, TYPE_MONEY, currency);
    kiv_value m;
    if (type_of(amount_value) == TYPE_INTEGER) from_integer(&m, integer::get_value(amount_value));
    else from_float(&m, float_::get(amount_value), true);
    set_currency(&m, uint32_t(index));
    return copy_cell(&m, result);
}

// Arithmetic ---------------------------------------------------------------------

void do_math(int32_t op) {
    kiv_value* left = stack::arguments;
    kiv_value* right = stack::arguments + 1;
    bool money_left = type_of(left) == TYPE_MONEY;
    if (op > OP_REM) invalid_type(TYPE_MONEY);
    if (op == OP_MUL && money_left && type_of(right) == TYPE_MONEY) invalid_type(TYPE_MONEY);
    if ((op == OP_DIV || op == OP_REM) && !money_left) invalid_type(TYPE_MONEY);
    kiv_value a = operand(left), b = operand(right);
    if (currencies_differ_q(&a, &b)) wrong_denom(left, right);
    uint32_t currency = get_currency(&b) ? get_currency(&b) : get_currency(&a);
    signed_amount x = signed_of(&a), y = signed_of(&b);
    switch (op) {
        case OP_ADD: make_signed(left, x + y, currency); break;
        case OP_SUB: make_signed(left, x - y, currency); break;
        case OP_MUL: {
            // Each factor is below 10^n for its n significant digits: past 28
            // digits together the product cannot fit, and below that it
            // cannot overflow the 128 bits either.
            amount ma = magnitude(&a), mb = magnitude(&b);
            if (ma != 0 && mb != 0 && significant_digits(ma) + significant_digits(mb) > DIGITS + FRACTION_DIGITS + 1)
                type_limit();
            amount product = ma * mb / SCALE;
            if (product >= LIMIT) type_limit();
            make_at(left, (x < 0) != (y < 0), currency, product);
            break;
        }
        case OP_DIV:
        case OP_REM: {
            if (y == 0) fire(err::MATH, err::math::zero_divide);
            if (op == OP_DIV && type_of(right) == TYPE_MONEY) {
                float_::make_at(left, to_float(&a) / to_float(&b));
                break;
            }
            amount ma = magnitude(&a), mb = magnitude(&b);
            if (op == OP_REM) {
                make_at(left, x < 0, currency, ma % mb);
                break;
            }
            amount quotient = ma * SCALE / mb;
            if (quotient >= LIMIT) type_limit();
            make_at(left, (x < 0) != (y < 0), currency, quotient);
            break;
        }
    }
}

static void add() { do_math(OP_ADD); }
static void subtract() { do_math(OP_SUB); }
static void multiply() { do_math(OP_MUL); }
static void divide() { do_math(OP_DIV); }
static void remainder() { do_math(OP_REM); }

static void absolute() { set_sign(stack::arguments, false); }

static kiv_value* negate(kiv_value* value) {
    if (!zero_q(value)) set_sign(value, !get_sign(value));
    return value;
}

static bool even_q(kiv_value* value) { return (magnitude(value) / SCALE) % 2 == 0; }
static bool odd_q(kiv_value* value) { return !even_q(value); }

// round: the remainder by the scale decides between the multiple toward
// zero and the one away from zero; a half is a remainder of exactly half
// the scale, and evenness is that of the count of whole scales.
static kiv_value* round(kiv_value* value, kiv_value* scale, bool even, bool down, bool half_down,
                        bool floor, bool ceiling, bool half_ceiling) {
    amount n = magnitude(value);
    if (n == 0) return value;
    amount step = SCALE;
    if (scale) {
        kiv_value s;
        switch (type_of(scale)) {
            case TYPE_MONEY: s = *scale; break;
            case TYPE_INTEGER: from_integer(&s, integer::get_value(scale)); break;
            case TYPE_FLOAT: from_float(&s, float_::get(scale), true); break;
            default: actions::fire_not_related("round", type_of(scale));
        }
        step = magnitude(&s);
        if (step == 0) return value;
    }
    amount r = n % step;
    if (r == 0) return value;
    bool negative = negative_q(value);
    amount toward = n - r;
    auto away = [&] {
        amount u = toward + step;
        if (u >= LIMIT) type_limit();
        return u;
    };
    bool half = r * 2 == step;
    auto nearest = [&] { return r * 2 < step ? toward : away(); };
    amount out;
    if (down) out = toward;
    else if (floor) out = negative ? away() : toward;
    else if (ceiling) out = negative ? toward : away();
    else if (even && half) out = (n / step) % 2 == 0 ? toward : away();
    else if (half_down && half) out = toward;
    else if (half_ceiling && half) out = negative ? toward : away();
    else out = nearest();
    return make_at(value, negative, get_currency(value), out);
}

// Comparison ---------------------------------------------------------------------

int32_t compare_float(const kiv_value* m, double d, int32_t op) {
    if (std::isnan(d)) {
        // Like a float against NaN: unequal, and every ordering false.
        if (equality_code_q(op)) return 1;
        return op == COMP_LESSER || op == COMP_LESSER_EQUAL ? 1
               : op == COMP_GREATER || op == COMP_GREATER_EQUAL ? -1 : 0;
    }
    int32_t sm = sign(m), sd = d > 0.0 ? 1 : d < 0.0 ? -1 : 0;
    if (sm != sd) return sm < sd ? -1 : 1;
    if (sd == 0) return 0;
    double a = std::fabs(d);
    int32_t r;
    if (a < 1e-05) {
        r = 1;
    } else if (a >= 1e17) {
        r = -1;
    } else {
        kiv_value f;
        from_float(&f, a, true);
        r = order(magnitude(m), magnitude(&f));
    }
    return sm < 0 ? -r : r;
}

int32_t compare(kiv_value* value1, kiv_value* value2, int32_t op) {
    uint32_t t = type_of(value2);
    if (strict_code_q(op) && t != TYPE_MONEY) return 1;
    switch (t) {
        case TYPE_MONEY:
            switch (op) {
                case COMP_LESSER: case COMP_LESSER_EQUAL: case COMP_GREATER: case COMP_GREATER_EQUAL:
                    if (currencies_differ_q(value1, value2)) wrong_denom(value1, value2);
                    break;
                case COMP_SORT: case COMP_CASE_SORT: {
                    int32_t r = order_currencies(get_currency(value1), get_currency(value2));
                    if (r) return r;
                    break;
                }
                default:
                    if (strict_code_q(op) ? get_currency(value1) != get_currency(value2)
                                          : currencies_differ_q(value1, value2))
                        return 1;
            }
            return order_amounts(value1, value2);
        case TYPE_INTEGER: {
            kiv_value m;
            from_integer(&m, integer::get_value(value2));
            return order_amounts(value1, &m);
        }
        case TYPE_FLOAT:
            return compare_float(value1, float_::get(value2), op);
        default:
            return COMPARE_INCOMPARABLE;
    }
}

// Text ---------------------------------------------------------------------------

int32_t form_amount(const kiv_value* v, kiv_value* buffer, bool all, bool grouping) {
    char text[64];
    int32_t n = 0;
    if (negative_q(v)) text[n++] = '-';
    if (int32_t code = currency_symbol(get_currency(v))) {
        uint32_t length;
        const char* name = symbol::name_of(code, &length);
        for (uint32_t i = 0; i < length && i < 8; i++) text[n++] = name[i];
    }
    text[n++] = '$';
    amount m = magnitude(v);
    amount whole = m / SCALE;
    char digits[INTEGER_DIGITS];
    int32_t count = 0;
    do {
        digits[count++] = char('0' + int(whole % 10));
        whole /= 10;
    } while (whole);
    for (int32_t i = count - 1; i >= 0; i--) {
        text[n++] = digits[i];
        if (grouping && i > 0 && i % 3 == 0) text[n++] = '\'';
    }
    int32_t shown = money_digits();
    if (all || shown > FRACTION_DIGITS) shown = FRACTION_DIGITS;
    if (shown >= 1) {
        text[n++] = '.';
        uint32_t fraction = uint32_t(m % SCALE);
        for (int32_t i = 0; i < shown; i++) {
            fraction *= 10;
            text[n++] = char('0' + fraction / uint32_t(SCALE));
            fraction %= uint32_t(SCALE);
        }
    }
    text[n] = '\0';
    string::concatenate_literal(buffer, text);
    return n;
}

static int32_t form(kiv_value* value, kiv_value* buffer, kiv_value*, int32_t part) {
    return part - form_amount(value, buffer, false, true);
}

static int32_t mold(kiv_value* value, kiv_value* buffer, bool, bool all, bool, kiv_value*, int32_t part,
                    int32_t) {
    return part - form_amount(value, buffer, all, false);
}

// make and to --------------------------------------------------------------------

[[noreturn]] static void bad_make(const kiv_value* spec) { fire_typed(err::script::bad_make_arg, TYPE_MONEY, spec); }
[[noreturn]] static void bad_to(const kiv_value* spec) { fire_typed(err::script::bad_to_arg, TYPE_MONEY, spec); }

static kiv_value* to(kiv_value*, kiv_value* spec, uint32_t) {
    kiv_value m;
    switch (type_of(spec)) {
        case TYPE_MONEY: return spec;
        case TYPE_INTEGER: from_integer(&m, integer::get_value(spec)); break;
        case TYPE_FLOAT: from_float(&m, float_::get(spec), true); break;
        case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF: {
            series_buffer* b = series::buffer(spec->data2);
            uint32_t unit = unit_of(b);
            uint32_t length = series::used_units(b);
            uint32_t head = spec->data1 < length ? spec->data1 : length;
            int32_t error;
            tokenizer::scan_money(b->offset + head * unit, unit, length - head, &m, &error);
            if (error) bad_to(spec);
            break;
        }
        default: bad_to(spec);
    }
    kiv_value* result = stack::push();
    *result = m;
    return result;
}

// [code amount hundred-thousandths], the code and the last optional.
static kiv_value* from_block(const kiv_value* spec) {
    const kiv_value* item = block::cells(spec) + spec->data1;
    int32_t length = block::ks_length_q(spec);
    if (length < 1 || length > 3) bad_make(spec);
    const kiv_value* end = item + length;
    uint32_t currency = 0;
    if (type_of(item) == TYPE_WORD) {
        int32_t index = find_currency(word::symbol_of(item));
        if (index < 0) bad_make(item);
        currency = uint32_t(index);
        if (++item == end) bad_make(spec);
    }
    kiv_value m;
    switch (type_of(item)) {
        case TYPE_INTEGER: from_integer(&m, integer::get_value(item)); break;
        case TYPE_FLOAT:
            from_float(&m, float_::get(item), true);
            if (item + 1 != end) bad_make(item + 1);
            break;
        default: bad_make(item);
    }
    if (++item != end) {
        if (type_of(item) != TYPE_INTEGER || integer::get_value(item) < 0 || integer::get_value(item) > 99999 ||
            item + 1 != end)
            bad_make(item);
        // The hundred-thousandths go with the amount's sign.
        make_at(&m, get_sign(&m), 0, magnitude(&m) + amount(integer::get_value(item)));
    }
    set_currency(&m, currency);
    return copy_cell(&m, stack::push());
}

static kiv_value* make(kiv_value* proto, kiv_value* spec, uint32_t type) {
    switch (type_of(spec)) {
        case TYPE_WORD: {
            int32_t index = find_currency(word::symbol_of(spec));
            if (index < 0) bad_make(spec);
            return push(false, uint32_t(index), 0);
        }
        case TYPE_BLOCK: return from_block(spec);
        default: return to(proto, spec, type);
    }
}

// Paths and pick -----------------------------------------------------------------

enum field : int32_t { FIELD_CODE = 1, FIELD_AMOUNT = 2 };

static int32_t field_of(const kiv_value* selector) {
    uint32_t t = type_of(selector);
    if (t == TYPE_INTEGER) {
        int32_t n = integer::get_value(selector);
        return n == FIELD_CODE || n == FIELD_AMOUNT ? n : 0;
    }
    if (t < TYPE_WORD || t > TYPE_GET_WORD) return 0;
    int32_t symbol = symbol::resolve(word::symbol_of(selector));
    if (symbol == symbol::resolve(symbol::make("code"))) return FIELD_CODE;
    if (symbol == symbol::resolve(symbol::make("amount"))) return FIELD_AMOUNT;
    return 0;
}

static kiv_value* push_field(const kiv_value* value, int32_t field) {
    if (field == FIELD_AMOUNT) {
        kiv_value* copy = copy_cell(value, stack::push());
        set_currency(copy, 0);
        copy->header &= ~FLAG_NEW_LINE;
        return copy;
    }
    int32_t code = currency_symbol(get_currency(value));
    return code ? word::push_symbol(code) : copy_cell(&none_value, stack::push());
}

static kiv_value* eval_path(kiv_value* parent, kiv_value* element, kiv_value* value, kiv_value* path,
                            kiv_value*, kiv_value*, int32_t, bool, bool, bool, bool) {
    kiv_value p = path ? *path : none_value;
    int32_t field = field_of(element);
    if (!field) fire(err::SCRIPT, err::script::invalid_path, &p, element);
    if (value) fire(err::SCRIPT, err::script::bad_path_set, &p, element);
    return push_field(parent, field);
}

static kiv_value* pick(kiv_value* value, int32_t, kiv_value* index_cell) {
    int32_t field = field_of(index_cell);
    if (!field) fire(err::SCRIPT, err::script::out_of_range, index_cell);
    return push_field(value, field);
}

// random: digit by digit from the first significant one, each no larger
// than the value's while the digits so far are the value's own.
static void random(kiv_value* value, bool seed, bool, bool) {
    if (seed) {
        random::seed(int32_t(value->data1 ^ value->data2 ^ value->data3 ^ (value->header & SIGN_FLAG)));
        unset::return_();
        return;
    }
    amount n = magnitude(value);
    if (n == 0) return;
    amount limit = pow10(DIGITS - 1);
    while (limit > n) limit /= 10;
    amount out = 0;
    bool bounded = true;
    for (; limit >= 1; limit /= 10) {
        int32_t top = bounded ? int32_t(n / limit % 10) : 9;
        int32_t digit = 0;
        while (top > 0) {
            digit = random::int_(false, top + 1) - 1;
            if (!bounded || digit < top) break;
            // The value's own digit is kept rarely, so that the value itself
            // is seldom drawn.
            if (random::next() % 1000 == random::next() % 1000) break;
        }
        if (digit < top) bounded = false;
        out = out * 10 + amount(digit);
    }
    make_at(value, get_sign(value), get_currency(value), out);
}

void init() {
    using namespace actions;
    datatype::register_(TYPE_MONEY, 0, "money!", {
        impl<SLOT_MAKE>(make),              // make
        impl<SLOT_RANDOM>(random),          // random
        UNSUPPORTED,                        // reflect
        impl<SLOT_TO>(to),                  // to
        impl<SLOT_FORM>(form),              // form
        impl<SLOT_MOLD>(mold),              // mold
        impl<SLOT_EVAL_PATH>(eval_path),    // eval-path
        UNSUPPORTED,                        // (empty)
        impl<SLOT_COMPARE>(compare),        // compare
        impl<SLOT_ABSOLUTE>(absolute),      // absolute
        impl<SLOT_ADD>(add),                // add
        impl<SLOT_DIVIDE>(divide),          // divide
        impl<SLOT_MULTIPLY>(multiply),      // multiply
        impl<SLOT_NEGATE>(negate),          // negate
        UNSUPPORTED,                        // power
        impl<SLOT_REMAINDER>(remainder),    // remainder
        impl<SLOT_ROUND>(round),            // round
        impl<SLOT_SUBTRACT>(subtract),      // subtract
        impl<SLOT_EVEN_Q>(even_q),          // even?
        impl<SLOT_ODD_Q>(odd_q),            // odd?
        UNSUPPORTED,                        // and~
        UNSUPPORTED,                        // complement
        UNSUPPORTED,                        // or~
        UNSUPPORTED,                        // xor~
        UNSUPPORTED,                        // append
        UNSUPPORTED,                        // at
        UNSUPPORTED,                        // back
        UNSUPPORTED,                        // change
        UNSUPPORTED,                        // clear
        UNSUPPORTED,                        // copy
        UNSUPPORTED,                        // find
        UNSUPPORTED,                        // head
        UNSUPPORTED,                        // head?
        UNSUPPORTED,                        // index?
        UNSUPPORTED,                        // insert
        UNSUPPORTED,                        // length?
        UNSUPPORTED,                        // move
        UNSUPPORTED,                        // next
        impl<SLOT_PICK>(pick),              // pick
        UNSUPPORTED,                        // poke
        UNSUPPORTED,                        // put
        UNSUPPORTED,                        // remove
        UNSUPPORTED,                        // reverse
        UNSUPPORTED,                        // select
        UNSUPPORTED,                        // sort
        UNSUPPORTED,                        // skip
        UNSUPPORTED,                        // swap
        UNSUPPORTED,                        // tail
        UNSUPPORTED,                        // tail?
        UNSUPPORTED,                        // take
        UNSUPPORTED,                        // trim
        UNSUPPORTED,                        // create
        UNSUPPORTED,                        // close
        UNSUPPORTED,                        // delete
        UNSUPPORTED,                        // modify
        UNSUPPORTED,                        // open
        UNSUPPORTED,                        // open?
        UNSUPPORTED,                        // query
        UNSUPPORTED,                        // read
        UNSUPPORTED,                        // rename
        UNSUPPORTED,                        // update
        UNSUPPORTED,                        // write
    });
}

}  // namespace kiv::money
