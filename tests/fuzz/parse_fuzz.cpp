// PARSE with rules and input from the data: the rules' text, a zero byte,
// then the input. The first byte picks how the input is given (string,
// binary or block) and whether /case is used.
//
// Each input runs twice, with quick matching on and off, and the two
// outcomes (result, error, captured values) must agree.
//
// Rules run nothing but PARSE itself: rules with parens or paths are passed
// over, and words are kept to the keywords (most of them), datatype names and a few
// variables that are set afresh for every input, so that no input changes
// what the next one runs.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/evaluator/lexer.h"
#include "runtime/evaluator/parse.h"
#include "tests/fuzz/fuzz_runtime.h"

using namespace kiv;

namespace {

const fuzz::script* setup = nullptr;
const fuzz::script* runs[6] = {};
const fuzz::script* keep_first = nullptr;
const fuzz::script* compare = nullptr;

// Left out: while (it repeats without a progress check, so `while end` runs
// for ever by design), insert and change (a loop that inserts grows the
// input for ever): such rules only hang, which the fuzzer reports as a fault.
const char* const KEYWORDS[] = {
    "any", "break", "copy", "end", "fail", "into", "opt", "not", "quote", "case", "reject", "set",
    "skip", "some", "thru", "to", "none", "|", "remove", "only", "collect", "keep",
    "pick", "ahead", "after",
};
const char* const VARIABLES[] = {"a", "b", "c", "x", "y", "digit", "alpha"};

bool one_of(const char* name, const char* const* names, size_t n) {
    for (size_t i = 0; i < n; i++)
        if (std::strcmp(name, names[i]) == 0) return true;
    return false;
}

bool allowed_word(uint32_t t, const char* name) {
    if (one_of(name, VARIABLES, std::size(VARIABLES))) return true;
    if (t == TYPE_LIT_WORD || t == TYPE_REFINEMENT || t == TYPE_ISSUE) return true;
    if (t != TYPE_WORD) return false;
    size_t n = std::strlen(name);
    return one_of(name, KEYWORDS, std::size(KEYWORDS)) || (n > 1 && name[n - 1] == '!');
}

bool safe_rules(const kiv_value* blk) {
    for (uint32_t i = blk->data1; i < block::length_all(blk); i++) {
        kiv_value v = block::cells(blk)[i];
        uint32_t t = type_of(&v);
        if (t == TYPE_PAREN || t == TYPE_PATH || t == TYPE_SET_PATH || t == TYPE_GET_PATH || t == TYPE_LIT_PATH)
            return false;
        if (t == TYPE_BLOCK && !safe_rules(&v)) return false;
        if (any_word_q(t) && !allowed_word(t, symbol::name_of(word::symbol_of(&v)))) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::start_runtime();
    setup = new fuzz::script(R"(
        a: "a" b: [some "b"] c: #"c" x: y: none
        digit: charset "0123456789" alpha: charset [#"a" - #"z" #"A" - #"Z"]
    )");
    const char* variants[] = {
        "parse to string! input rules", "parse/case to string! input rules",
        "parse input rules",            "parse/case input rules",
        "parse transcode input rules",  "parse/case transcode input rules",
    };
    for (int i = 0; i < 6; i++)
        runs[i] = new fuzz::script(std::string("outcome: mold/all reduce [try [") + variants[i] + "] a b c x y]");
    keep_first = new fuzz::script("first-outcome: outcome");
    compare = new fuzz::script("agree: first-outcome == outcome");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t* text = data + 1;
    const uint8_t* zero = static_cast<const uint8_t*>(std::memchr(text, 0, size - 1));
    const uint8_t* end = data + size;
    uint32_t rules_size = uint32_t((zero ? zero : end) - text);
    kiv_value rules{TYPE_UNSET, 0, 0, 0};
    bool read = fuzz::attempt(
        [&] { lexer::scan(&rules, text, rules_size, false, false, false, nullptr, nullptr, nullptr, nullptr); });
    if (!read || type_of(&rules) != TYPE_BLOCK || !safe_rules(&rules)) return 0;
    fuzz::define("rules", rules);
    const uint8_t* input = zero ? zero + 1 : end;
    for (bool quick : {true, false}) {
        parser::quick_matching = quick;
        fuzz::define("outcome", none_value);
        fuzz::define_bytes("input", input, size_t(end - input));
        setup->run();
        runs[data[0] % 6]->run();
        if (quick) keep_first->run();
    }
    parser::quick_matching = true;
    fuzz::define("agree", none_value);
    compare->run();
    kiv_value agree = *word::load("agree");
    const kiv_value* answer = _context::get(&agree);
    if (type_of(answer) != TYPE_LOGIC || !answer->data1) __builtin_trap();
    return 0;
}
