#pragma once
// Running Kiv text in tests and benchmarks, whose runtime starts from the
// boot data like the program's.
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/stack.h"
#include "tests/unit/code_reader.h"

#ifndef KIV_SOURCE_DIR
#error "KIV_SOURCE_DIR names the source tree"
#endif

namespace kiv::test {

inline void define_word(const char* name, const kiv_value& value) {
    kiv_value w = *word::load(name);
    _context::set(&w, &value);
}

// Evaluates a text in a frame of its own and returns its value.
inline kiv_value evaluate_text(const std::string& text) {
    kiv_value code = read_code(text);
    stack::mark_native(nullptr);
    interpreter::eval(&code, false);
    kiv_value result = *stack::get_top();
    stack::unwind_drop();
    return result;
}

inline std::string source_file(const char* relative) {
    std::ifstream in(std::string(KIV_SOURCE_DIR) + "/" + relative);
    if (!in) throw std::runtime_error(std::string("cannot read ") + relative);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace kiv::test
