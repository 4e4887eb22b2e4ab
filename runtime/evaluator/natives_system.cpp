// System natives: waiting, local file names and sizes, the process
// environment, and the memory manager's figures and switch.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/evaluator/native_support.h"
#include "runtime/evaluator/natives.h"
#include "runtime/memory.h"
#include "runtime/platform.h"
#include "runtime/system.h"
#include "runtime/unicode.h"

namespace kiv::natives {

void (*gui_do_events)() = nullptr;

namespace {

// Sizes and memory figures are integer! while they fit, float! beyond.
void return_count(double n) {
    if (n > 2147483647.0) float_::return_(n);
    else integer::return_(int32_t(n));
}

}  // namespace

void wait(bool, const int32_t*) {
    const kiv_value* value = arg(0);
    double seconds;
    switch (type_of(value)) {
        case TYPE_INTEGER:
            seconds = integer::get_value(value);
            break;
        case TYPE_FLOAT: case TYPE_TIME:
            seconds = float_::get(value);
            break;
        default:
            fire_invalid(value);
    }
    platform::wait(seconds);
    system::check_interrupt();
    if (gui_do_events) gui_do_events();
    none::return_();
}

// Files ---------------------------------------------------------------------------

void to_local_file(bool, const int32_t* refs) {
    kiv_value path = *arg(0);
    kiv_value* local = string::make_at(stack::push(), string::ks_length_q(&path) + 1);
    file::convert_to_local(&path, local, used(refs[0]));
    stack::set_last(local);
}

void size_q(bool, const int32_t*) {
    kiv_value f = *arg(0);
    const char* path = file::to_os_path(&f);
    // Non-blocking, so that a FIFO answers at once instead of waiting for a writer.
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        none::return_();
        return;
    }
    struct stat st;
    bool sized = fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
    close(fd);
    if (sized) return_count(double(st.st_size));
    else none::return_();
}

// The environment -----------------------------------------------------------------

namespace {

// The UTF-8 text of a string, or none; a NUL inside, which the system would
// cut the text at, makes it an invalid argument.
std::string text_of(const kiv_value* value) {
    kiv_value s = *value;
    if (string::ks_find_char(&s, 0) >= 0) fire_invalid(value);
    int32_t count = -1;
    const char* bytes = unicode::to_utf8(&s, &count);
    return std::string(bytes, size_t(count));
}

// The name of a variable: a string's text or a word's spelling. The system
// keeps names and values as "name=value", so a name cannot be empty nor
// hold "=".
std::string env_name(const kiv_value* var) {
    std::string name = any_word_q(type_of(var)) ? symbol::name_of(word::symbol_of(var)) : text_of(var);
    if (name.empty() || name.find('=') != std::string::npos) fire_invalid(var);
    return name;
}

}  // namespace

void get_env(bool, const int32_t*) {
    std::string name = env_name(arg(0));
    const char* value = platform::get_env(name.c_str());
    if (!value) none::return_();
    else string::load_at(reinterpret_cast<const uint8_t*>(value), uint32_t(std::strlen(value)), stack::arguments,
                         string::UTF8);
}

void set_env(bool, const int32_t*) {
    std::string name = env_name(arg(0));
    bool removing = type_of(arg(1)) == TYPE_NONE;
    std::string value = removing ? std::string() : text_of(arg(1));
    if (!platform::set_env(name.c_str(), removing ? nullptr : value.c_str())) fire_invalid(arg(0));
    stack::set_last(arg(1));
}

// Each variable once, the first of a name given twice winning as getenv does.
void list_env(bool, const int32_t*) {
    uint32_t n = 0;
    for (char** e = environ; *e; e++) n++;
    kiv_value m;
    map::make_at(&m, n);
    for (char** e = environ; *e; e++) {
        const char* eq = std::strchr(*e, '=');
        if (!eq || eq == *e) continue;
        kiv_value* k = string::load(reinterpret_cast<const uint8_t*>(*e), uint32_t(eq - *e), string::UTF8);
        kiv_value* v = string::load(reinterpret_cast<const uint8_t*>(eq + 1), uint32_t(std::strlen(eq + 1)),
                                    string::UTF8);
        if (!map::find_value(&m, k, true)) map::set_key(&m, k, v, true, nullptr);
        stack::pop(2);
    }
    stack::set_last(&m);
}

// Memory --------------------------------------------------------------------------

namespace {

void return_memory_in_use() { return_count(memory::stats_info(nullptr, memory::STATS_TOTAL)); }

// The report is printed by a library function, from the detailed figures.
void show_memory_stats() {
    kiv_value* cell = stack::push_value(word::load("show-memory-stats"));
    kiv_value* info = block::make_at(stack::push(), 5);
    memory::stats_info(info, memory::STATS_DETAIL);
    interpreter::eval_next(cell, cell + 2, nullptr, false, false, true);
    unset::return_();
}

}  // namespace

void stats(bool, const int32_t* refs) {
    if (used(refs[0])) {
        show_memory_stats();
    } else if (used(refs[1])) {
        kiv_value* info = block::make_at(stack::push(), 5);
        memory::stats_info(info, memory::STATS_DETAIL);
        stack::set_last(info);
    } else {
        return_memory_in_use();
    }
}

void recycle(bool, const int32_t* refs) {
    if (!used(refs[0]) && !used(refs[1])) {
        collector::do_cycle();
        return_memory_in_use();
        return;
    }
    collector::active_q = !used(refs[1]);
    unset::return_();
}

}  // namespace kiv::natives
