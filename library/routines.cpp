// The routines bound to global words, each reading its arguments from the
// current call's argument cells and leaving its result in the first.
#include "library/routines.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/utsname.h>

#include "runtime/boot.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/evaluator/lexer.h"
#include "runtime/evaluator/natives.h"
#include "runtime/io/simple_io.h"
#include "runtime/platform.h"
#include "runtime/stack.h"
#include "runtime/system.h"
#include "runtime/unicode.h"

namespace kiv::routines {

namespace {

kiv_value* arg(int n) { return stack::arguments + n; }

void quit_return() { std::exit(integer::get_value(arg(0))); }

void set_quiet() {
    kiv_value word = *arg(0), value = *arg(1);
    uint32_t t = type_of(&word);
    if (t != TYPE_WORD && t != TYPE_SET_WORD && t != TYPE_LIT_WORD && t != TYPE_GET_WORD)
        actions::fire_expect_arg(t, 0);
    _context::set_in(&word, &value, word.data1, false);
    stack::set_last(&value);
}

void set_slot_quiet() {
    kiv_value series = *arg(0);
    uint32_t t = type_of(&series);
    if (t != TYPE_BLOCK && t != TYPE_PAREN && t != TYPE_PATH && t != TYPE_LIT_PATH && t != TYPE_SET_PATH &&
        t != TYPE_GET_PATH)
        actions::fire_expect_arg(t, 0);
    if (!block::ks_tail_q(&series)) *block::ks_head(&series) = *arg(1);
    unset::return_();
}

// The shift native with its /left and /logical refinements (their cell
// indexes, or -1 when unused).
template <int32_t Left, int32_t Logical>
void shift() {
    const int32_t refs[2] = {Left, Logical};
    natives::shift(false, refs);
}

void last_lf_q() { logic::box(natives::last_lf_q); }

void get_current_dir() { cell::set_type(file::get_current_dir(arg(0)), TYPE_FILE); }

void set_current_dir() {
    if (!platform::set_current_dir(file::to_os_path(arg(0)))) fire(err::ACCESS, err::access::cannot_open, arg(0));
    unset::return_();
}

void create_dir() {
    if (!simple_io::make_dir(file::to_os_path(arg(0)))) fire(err::ACCESS, err::access::no_create, arg(0));
    unset::return_();
}

void exists_q() { logic::box(simple_io::file_exists_q(file::to_os_path(arg(0)))); }

void count_chars() {
    kiv_value start = *arg(0), pos = *arg(1);
    // Walking from one series to a position of another would read anywhere.
    if (start.data2 != pos.data2) fire(err::SCRIPT, err::script::invalid_arg, &pos);
    const uint8_t* p = series::buffer(start.data2)->offset + start.data1;
    const uint8_t* end = series::buffer(pos.data2)->offset + pos.data1;
    int32_t count = 0;
    for (int32_t cp; p < end; count++) p = unicode::fast_decode_utf8_char(p, &cp);
    integer::return_(count);
}

void stack_size_q() { integer::return_(int32_t(stack::top - stack::bottom)); }

void pick_stack() {
    int32_t idx = integer::get_value(arg(0));
    int32_t size = int32_t(stack::top - stack::bottom);
    if (idx > 0 && idx < size) stack::set_last(stack::bottom + idx - 1);
    else none::return_();
}

void frame_index_q() { integer::return_(int32_t(stack::arguments - stack::bottom)); }

void collect_calls() {
    kiv_value blk = *arg(0);
    stack::collect_calls(&blk);
}

void tracing_q() { logic::box(interpreter::tracing_q); }

// Event delivery can be paused and resumed inside a traced run, never
// started without a tracer.
void set_tracing() {
    interpreter::switch_tracing(logic::truthy(arg(0)) && interpreter::trace_q);
    unset::return_();
}

void write_stdout() {
    simple_io::write(nullptr, arg(0), nullptr, nullptr, false, false);
    unset::return_();
}

// The command line as the shell split it: argv[0] is system/options/boot,
// the rest system/options/args; system/script/args keeps the arguments as
// one text, those holding blanks in double quotes.
void extract_boot_args() {
    kiv_value* options = boot::field(boot::system_object(), "options");
    kiv_value* script = boot::field(boot::system_object(), "script");
    auto load = [](const char* text, kiv_value* slot) {
        return string::load_at(reinterpret_cast<const uint8_t*>(text), uint32_t(std::strlen(text)), slot,
                               string::UTF8);
    };
    kiv_value program = none_value, args, raw;
    if (system::argc > 0) load(system::argv[0], &program);
    block::make_at(&args, system::argc);
    std::string text;
    for (int i = 1; i < system::argc; i++) {
        string::load_in(reinterpret_cast<const uint8_t*>(system::argv[i]), uint32_t(std::strlen(system::argv[i])),
                        &args, string::UTF8);
        std::string a = system::argv[i];
        bool quote = a.empty() || a.find_first_of(" \t") != std::string::npos;
        if (i > 1) text += ' ';
        text += quote ? '"' + a + '"' : a;
    }
    load(text.c_str(), &raw);
    *boot::field(options, "boot") = program;
    *boot::field(options, "args") = args;
    *boot::field(script, "args") = raw;
    stack::set_last(&args);
}

// Only pretty? has a runtime flag: full? changes nothing in how floats
// are formed.
void set_float_flag() {
    if (std::strcmp(symbol::name_of(word::symbol_of(arg(0))), "pretty?") == 0)
        float_::pretty_print_q = logic::truthy(arg(1));
    unset::return_();
}

void interpreted_q() { logic::box(stack::eval_q(nullptr, false)); }

// Each value is taken modulo 256.
template <uint32_t N>
void as_tuple() {
    uint8_t bytes[N];
    for (uint32_t i = 0; i < N; i++) bytes[i] = uint8_t(integer::get_value(arg(i)));
    tuple::make_at(stack::arguments, N, bytes);
}

// The system's name and release, the machine as a word (x86_64 is
// written x86-64) and the release's first three numbers as the version.
void os_info() {
    struct utsname u {};
    uname(&u);
    uint32_t numbers[4] = {};
    uint32_t n = 0;
    for (const char* p = u.release; *p && n < 4; p++) {
        if (*p >= '0' && *p <= '9') numbers[n] = numbers[n] * 10 + uint32_t(*p - '0');
        else if (*p == '.' && n < 3) n++;
        else break;
    }
    std::string arch = u.machine;
    for (char& c : arch)
        if (c == '_') c = '-';
    std::string name = std::string(u.sysname) + " " + u.release;
    std::string escaped;
    for (char c : name) escaped += c == '"' || c == '^' ? std::string("^") + c : std::string(1, c);
    std::string text = "name: \"" + escaped + "\" arch: " + arch + " version: " +
                       std::to_string(std::min(numbers[0], 255u)) + "." + std::to_string(std::min(numbers[1], 255u)) +
                       "." + std::to_string(std::min(numbers[2], 255u)) + " build: " + std::to_string(numbers[3] & 0x7FFFFFFF);
    kiv_value* source = string::load_at(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()),
                                        stack::push(), string::UTF8);
    kiv_value* spec = stack::push();
    *spec = unset_value;
    lexer::scan_string(spec, source, -1, false, false, false, nullptr, nullptr, nullptr);
    stack::set_last(object::push_new(nullptr, spec, false));
}

struct binding {
    const char* word;
    boot::routine_code code;
};

constexpr binding GLOBAL_ROUTINES[] = {
    {"quit-return", quit_return},
    {"set-quiet", set_quiet},
    {"set-slot-quiet", set_slot_quiet},
    {"shift-right", shift<-1, -1>},
    {"shift-left", shift<0, -1>},
    {"shift-logical", shift<-1, 0>},
    {"last-lf?", last_lf_q},
    {"get-current-dir", get_current_dir},
    {"set-current-dir", set_current_dir},
    {"create-dir", create_dir},
    {"exists?", exists_q},
    {"count-chars", count_chars},
    {"stack-size?", stack_size_q},
    {"pick-stack", pick_stack},
    {"frame-index?", frame_index_q},
    {"collect-calls", collect_calls},
    {"tracing?", tracing_q},
    {"write-stdout", write_stdout},
    {"extract-boot-args", extract_boot_args},
    {"__set-float-flag", set_float_flag},
    {"os-info", os_info},
    {"as-color", as_tuple<3>},
    {"as-ipv4", as_tuple<4>},
    {"as-rgba", as_tuple<4>},
    {"__set-tracing", set_tracing},
};

}  // namespace

void init() {
    kiv_value words = *boot::field(boot::system_object(), "words");
    for (const binding& b : GLOBAL_ROUTINES) boot::bind_routine(&words, b.word, b.code);
    kiv_value state = *boot::field(boot::system_object(), "state");
    boot::bind_routine(&state, "interpreted?", interpreted_q);
}

}  // namespace kiv::routines
