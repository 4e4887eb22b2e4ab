// Runs one file of Kiv test cases: a code block, then the value it must
// give (one value, evaluated: use a paren for a longer expression), or the
// word `error!` and the id of the error it must raise:
//
//     [1 + 2]            3
//     [append [1] 2]     [1 2]
//     [1 / 0]            error! 'zero-divide
//
// Prints every failing case with both values and ends with the counts; the
// exit status is 1 when a case failed.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "runtime/boot.h"
#include "runtime/collector.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/exits.h"
#include "runtime/runtime.h"
#include "runtime/stack.h"
#include "runtime/system.h"
#include "runtime/unicode.h"

using namespace kiv;

// Fontconfig keeps the fonts it has matched (text tables draw and measure
// text) for the life of the process; the leak check at exit would report
// that cache, not a fault of ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace {

std::string utf8_of(const kiv_value& s) {
    series_buffer* b = series::buffer(s.data2);
    uint32_t unit = unit_of(b);
    std::string out;
    for (uint8_t* p = b->offset + size_t(s.data1) * unit; p < b->tail; p += unit) {
        uint8_t bytes[4];
        uint32_t cp = unit == 1 ? *p : unit == 2 ? uint32_t(p[0] | p[1] << 8) : *reinterpret_cast<uint32_t*>(p);
        out.append(reinterpret_cast<char*>(bytes), unicode::encode_utf8_char(cp, bytes));
    }
    return out;
}

std::string mold(const kiv_value& v) {
    stack::mark_native(nullptr);
    stack::push_value(&v);
    int32_t refs[4] = {-1, -1, -1, -1};
    actions::dispatch_table[SLOT_MOLD](refs);
    std::string text = utf8_of(*stack::arguments);
    stack::unwind_drop();
    return text;
}

// Evaluates a block; false when it raised an error (left in *result).
bool evaluate(const kiv_value& code, kiv_value* result) {
    kiv_value* arguments = stack::arguments;
    kiv_value* top = stack::top;
    call_frame* frames = stack::ctop;
    stack::mark_try(nullptr);
    try {
        interpreter::eval(&code, false);
        *result = *stack::get_top();
        stack::unwind_drop();
        return true;
    } catch (const kiv_exit&) {
        // The error waits on top of the stack, the try frame gone.
        *result = *stack::get_top();
        stack::arguments = arguments;
        stack::top = top;
        stack::ctop = frames;
        stack::throw_origin = nullptr;
        sys.pending_exit = LEVEL_NONE;
        return false;
    }
}

bool same_value(kiv_value a, kiv_value b) {
    return type_of(&a) == type_of(&b) && actions::compare(&a, &b, COMP_STRICT_EQUAL);
}

std::string error_id(const kiv_value& e) {
    kiv_value id = *error::field(&e, error::FIELD_ID);
    return any_word_q(type_of(&id)) ? symbol::name_of(word::symbol_of(&id)) : "?";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: kiv_script_tests FILE\n");
        return 2;
    }
    system::os_init(argc, argv);
    system::saved_stack_top = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 2;
    }
    std::stringstream text;
    text << in.rdbuf();
    uint32_t passed = 0, failed = 0;
    try {
        runtime::init(kiv_boot_data, kiv_boot_data_size);
        boot::start();
        // Anchored in the root block, and read from there: the cases outlive
        // every evaluation, and the collector may move them.
        kiv_value loaded = boot::load_source(text.str());
        uint32_t slot = block::length_all(&runtime::root);
        block::append_copy(&runtime::root, &loaded);
        for (uint32_t i = loaded.data1; i + 1 < block::length_all(block::cells(&runtime::root) + slot);) {
            kiv_value cases = block::cells(&runtime::root)[slot];
            kiv_value code = block::cells(&cases)[i++];
            kiv_value expected = block::cells(&cases)[i++];
            kiv_value got;
            bool ok = evaluate(code, &got);
            bool want_error = type_of(&expected) == TYPE_WORD &&
                              std::string(symbol::name_of(word::symbol_of(&expected))) == "error!";
            std::string want, have;
            bool pass;
            if (want_error) {
                kiv_value id = block::cells(&cases)[i++];
                want = "error " + std::string(symbol::name_of(word::symbol_of(&id)));
                have = ok ? mold(got) : "error " + error_id(got);
                pass = !ok && want == have;
            } else {
                kiv_value expected_code;
                block::make_at(&expected_code, 1);
                block::append_copy(&expected_code, &expected);
                kiv_value value;
                evaluate(expected_code, &value);
                want = mold(value);
                have = ok ? mold(got) : "error " + error_id(got);
                pass = ok && same_value(got, value);
            }
            if (pass) {
                passed++;
                continue;
            }
            failed++;
            std::printf("FAIL %s\n  expected: %s\n  got:      %s\n", mold(code).c_str(), want.c_str(), have.c_str());
        }
    } catch (const kiv_exit&) {
        error::report_uncaught(stack::get_top());
    }
    std::printf("%u passed, %u failed\n", passed, failed);
    return failed ? 1 : 0;
}
