// Raising language errors.
//
// Until error! values exist, an error is a bare cell naming its category and
// id (payload words 1 and 2); its arguments are not kept.
#include "runtime/errors.h"

#include <cstdio>
#include <cstdlib>

#include "runtime/exits.h"
#include "runtime/stack.h"

namespace kiv {

const char* const err::category_titles[err::CATEGORY_COUNT] = {
    "Throw Error", "note", "Syntax Error", "Script Error", "Math Error",
    "Access Error", "Reserved1 Error", "Reserved2 Error", "User Error", "Internal Error",
};

void fire(err::category category, uint32_t id, const kiv_value* arg1,
          const kiv_value* arg2, const kiv_value* arg3) {
    kiv_value* e = error::create(category, id, arg1, arg2, arg3);
    stack::throw_error(e);
}

namespace error {

kiv_value* create(err::category category, uint32_t id, const kiv_value*,
                  const kiv_value*, const kiv_value*) {
    kiv_value* e = stack::push();
    *e = kiv_value{TYPE_ERROR, category, id, 0};
    return e;
}

err::category category_of(const kiv_value* e) { return err::category(e->data1); }
uint32_t id_of(const kiv_value* e) { return e->data2; }

void report_uncaught(const kiv_value* e) {
    err::category c = category_of(e);
    const char* title = c < err::CATEGORY_COUNT ? err::category_titles[c] : "Error";
    std::fprintf(stderr, "*** %s: error %u\n", title, unsigned(c) * 100 + id_of(e));
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(-2);
}

}  // namespace error
}  // namespace kiv
