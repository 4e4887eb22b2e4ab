// Runs PARSE cases for the comparison with Python's re
// (tests/oracle/parse_oracle.py). Each input line is a text, a tab and Kiv
// code: the text becomes the string! that the word `s` refers to, the code
// is loaded by the lexer and evaluated. One line is printed per case: true,
// false, `error` and the error's id, or `other` for any other result.
// KIV_TEST_COLLECT=1 in the environment puts the collector under stress.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "runtime/boot.h"
#include "runtime/collector.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/error.h"
#include "runtime/errors.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/evaluator/lexer.h"
#include "runtime/exits.h"
#include "runtime/runtime.h"
#include "runtime/stack.h"
#include "runtime/system.h"
#include "tests/unit/natives_setup.h"

using namespace kiv;

namespace {

std::string run_case(const std::string& text, const std::string& code_text) {
    stack::arguments = stack::top = stack::bottom;
    stack::ctop = stack::cbottom;
    sys.pending_exit = LEVEL_NONE;
    stack::mark_try(nullptr);
    kiv_value s{TYPE_UNSET, 0, 0, 0};
    string::load_at(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), &s, string::UTF8);
    kiv_value w = *word::load("s");
    _context::set(&w, &s);
    kiv_value code{TYPE_UNSET, 0, 0, 0};
    lexer::scan(&code, reinterpret_cast<const uint8_t*>(code_text.data()), uint32_t(code_text.size()), false,
                false, false, nullptr, nullptr, nullptr, nullptr);
    try {
        interpreter::eval(&code, false);
    } catch (const kiv_exit&) {
        kiv_value e = *stack::get_top();
        return std::string("error ") + symbol::name_of(error::get_id(&e));
    }
    const kiv_value* result = stack::get_top();
    if (type_of(result) != TYPE_LOGIC) return "other";
    return logic::get(result) ? "true" : "false";
}

}  // namespace

int main(int argc, char** argv) {
    system::os_init(argc, argv);
    runtime::init(kiv_boot_data, kiv_boot_data_size);
    boot::start();
    collector::active_q = false;
    // KIV_TEST_COLLECT=1: collect and compact at every allocation, as the
    // unit tests do under stress.
    const char* collect = std::getenv("KIV_TEST_COLLECT");
    if (collect && *collect == '1') {
        collector::active_q = true;
        collector::set_stress(true);
    }
    std::string line;
    while (std::getline(std::cin, line)) {
        size_t tab = line.find('\t');
        if (tab == std::string::npos) {
            std::printf("error bad-line\n");
            continue;
        }
        std::printf("%s\n", run_case(line.substr(0, tab), line.substr(tab + 1)).c_str());
    }
    return 0;
}
