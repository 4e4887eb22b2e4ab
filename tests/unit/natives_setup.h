#pragma once
// What code run by tests and benchmarks needs from the boot data, until the
// boot data exists: datatype and typeset words, none/true/false, a few
// actions and operators, and the natives defined by boot/natives.kiv.
#include <fstream>
#include <initializer_list>
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

// A typeset cell of the given datatypes (bit n: 0x80 >> (n % 8) of byte n / 8).
inline kiv_value typeset_of(std::initializer_list<uint32_t> types) {
    kiv_value ts{TYPE_TYPESET, 0, 0, 0};
    auto* bits = reinterpret_cast<uint8_t*>(&ts.data1);
    for (uint32_t t : types) bits[t >> 3] |= uint8_t(0x80 >> (t & 7));
    return ts;
}

inline kiv_value typeset_union(const kiv_value& a, const kiv_value& b) {
    kiv_value ts = a;
    ts.data1 |= b.data1;
    ts.data2 |= b.data2;
    ts.data3 |= b.data3;
    return ts;
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

// The typesets start-up makes, from their members.
inline void define_typesets() {
    kiv_value number = typeset_of({TYPE_INTEGER, TYPE_FLOAT, TYPE_PERCENT});
    kiv_value any_point = typeset_of({TYPE_POINT2D, TYPE_POINT3D});
    kiv_value scalar = typeset_union(typeset_union(number, any_point),
                                     typeset_of({TYPE_MONEY, TYPE_CHAR, TYPE_PAIR, TYPE_TUPLE, TYPE_TIME, TYPE_DATE}));
    kiv_value any_word = typeset_of({TYPE_WORD, TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD});
    kiv_value all_word = typeset_union(any_word, typeset_of({TYPE_REFINEMENT, TYPE_ISSUE}));
    kiv_value any_list = typeset_of({TYPE_BLOCK, TYPE_PAREN, TYPE_HASH});
    kiv_value any_path = typeset_of({TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH});
    kiv_value any_block = typeset_union(any_path, any_list);
    kiv_value any_string = typeset_of({TYPE_STRING, TYPE_FILE, TYPE_URL, TYPE_TAG, TYPE_EMAIL, TYPE_REF});
    kiv_value series = typeset_union(typeset_union(any_block, any_string),
                                     typeset_of({TYPE_BINARY, TYPE_IMAGE, TYPE_VECTOR}));
    kiv_value any_type{TYPE_TYPESET, 0, 0, 0};
    for (uint32_t t = 1; t < TYPE_COUNT; t++) any_type = typeset_union(any_type, typeset_of({t}));
    define_word("number!", number);
    define_word("any-point!", any_point);
    define_word("scalar!", scalar);
    define_word("any-word!", any_word);
    define_word("all-word!", all_word);
    define_word("any-list!", any_list);
    define_word("any-path!", any_path);
    define_word("any-block!", any_block);
    define_word("any-function!", typeset_of({TYPE_NATIVE, TYPE_ACTION, TYPE_OP, TYPE_FUNCTION, TYPE_ROUTINE}));
    define_word("any-object!", typeset_of({TYPE_OBJECT, TYPE_ERROR, TYPE_PORT}));
    define_word("any-string!", any_string);
    define_word("series!", series);
    define_word("any-type!", any_type);
}

// The actions and operators the tests use, with their specs.
constexpr const char* ACTIONS = R"(
    add: make action! [[value1 value2] 11]
    subtract: make action! [[value1 value2] 18]
    multiply: make action! [[value1 value2] 13]
    divide: make action! [[value1 value2] 12]
    remainder: make action! [[value1 value2] 16]
    negate: make action! [[number] 14]
    append: make action! [[series value /part length /only /dup count] 25]
    insert: make action! [[series value /part length /only /dup count] 35]
    copy: make action! [[value /part length /deep /types kind] 30]
    find: make action! [[series value /part length /only /case /same /any /with wild /skip size
        /last /reverse /tail /match] 31]
    head: make action! [[series] 32]
    index?: make action! [[series] 34]
    length?: make action! [[series] 36]
    next: make action! [[series] 38]
    pick: make action! [[series index] 39]
    tail: make action! [[series] 48]
    tail?: make action! [[series] 49]
    +: make op! :add
    -: make op! :subtract
    *: make op! :multiply
    /: make op! :divide
    //: make op! :remainder
    =: make op! :equal?
    <>: make op! :not-equal?
    ==: make op! :strict-equal?
    <: make op! :lesser?
    >: make op! :greater?
    <=: make op! :lesser-or-equal?
    >=: make op! :greater-or-equal?
    =?: make op! :same?
)";

// Defines everything once per process.
inline void define_boot_words() {
    static bool defined = false;
    if (defined) return;
    defined = true;
    // Every datatype word, also of datatypes whose modules are still to come,
    // as native specs name them.
    for (uint32_t id = 1; id < TYPE_COUNT; id++) {
        kiv_value dt;
        datatype::make_at(&dt, id);
        define_word(datatype::id_name(id), dt);
    }
    define_typesets();
    define_word("none", none_value);
    define_word("true", true_value);
    define_word("false", false_value);
    // make itself comes first: everything else is made by it.
    kiv_value spec = read_code("[type spec] 1");
    kiv_value action_dt;
    datatype::make_at(&action_dt, TYPE_ACTION);
    stack::mark_native(nullptr);
    stack::push_value(&action_dt);
    stack::push_value(&spec);
    int32_t refs[4] = {-1, -1, -1, -1};
    actions::dispatch_table[SLOT_MAKE](refs);
    kiv_value make = *stack::arguments;
    stack::unwind_drop();
    define_word("make", make);
    // The natives first: the operators wrap some of them.
    kiv_value natives = read_code(source_file("boot/natives.kiv"));
    natives.data1 = 2;  // after the header
    stack::mark_native(nullptr);
    interpreter::eval(&natives, false);
    stack::unwind_drop();
    evaluate_text(ACTIONS);
}

}  // namespace kiv::test
