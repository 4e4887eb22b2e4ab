// Starting other programs (call) and opening documents (browse).
#include <string>

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/string.h"
#include "runtime/errors.h"
#include "runtime/evaluator/native_support.h"
#include "runtime/evaluator/natives.h"
#include "runtime/io/processes.h"
#include "runtime/unicode.h"

namespace kiv::natives {

namespace {

// The UTF-8 text of a string-like value. In a command or a path a NUL,
// which the system would cut the text at, makes it an invalid argument;
// data fed to a child may hold any character.
std::string utf8_of(const kiv_value* value, bool data = false) {
    kiv_value s = *value;
    if (!data && string::ks_find_char(&s, 0) >= 0) fire_invalid(value);
    int32_t count = -1;
    const char* bytes = unicode::to_utf8(&s, &count);
    return std::string(bytes, size_t(count));
}

std::string os_path_of(const kiv_value* value) {
    kiv_value f = *value;
    if (string::ks_find_char(&f, 0) >= 0) fire_invalid(value);
    return std::string(file::to_os_path(&f));
}

// Quotes a path for /bin/sh as one word.
std::string shell_quoted(const std::string& text) {
    std::string q = "'";
    for (char c : text) {
        if (c == '\'') q += "'\\''";
        else q += c;
    }
    return q + "'";
}

// A source or sink of a child's stream: text, bytes or a file.
void set_stream(processes::stream& s, const kiv_value* value, bool input) {
    switch (type_of(value)) {
        case TYPE_FILE:
            s.kind = processes::STREAM_FILE;
            s.path = os_path_of(value);
            break;
        case TYPE_BINARY:
            s.kind = processes::STREAM_MEMORY;
            if (input) {
                s.bytes.assign(reinterpret_cast<const char*>(binary::ks_head(value)), binary::ks_length_q(value));
            }
            break;
        default:  // string!
            s.kind = processes::STREAM_MEMORY;
            if (input) s.bytes = utf8_of(value, true);
            break;
    }
}

// Caught bytes are appended to the target, which is never cleared: raw to a
// binary!, decoded as UTF-8 to a string!.
void deliver(const processes::stream& s, kiv_value target) {
    if (s.kind != processes::STREAM_MEMORY || s.bytes.empty()) return;
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(s.bytes.data());
    uint32_t n = uint32_t(s.bytes.size());
    kiv_value* piece = type_of(&target) == TYPE_BINARY ? binary::load(bytes, n) : string::load(bytes, n, string::UTF8);
    call_action(SLOT_APPEND, {target, *piece}, {-1, -1, -1});
}

}  // namespace

void call(bool, const int32_t* refs) {
    enum { WAIT, SHOW, CONSOLE, SHELL, INPUT, OUTPUT, ERROR_ };
    kiv_value cmd = *arg(0);
    if (string::ks_length_q(&cmd) == 0) {
        integer::return_(0);
        return;
    }
    std::vector<std::string> argv;
    std::string text;
    if (type_of(&cmd) == TYPE_FILE) {
        argv.push_back(os_path_of(&cmd));
        text = shell_quoted(argv[0]);
    } else {
        text = utf8_of(&cmd);
        argv = processes::split_command(text);
    }
    bool console = used(refs[CONSOLE]);
    processes::stream in, out, err;
    out.kind = err.kind = console ? processes::STREAM_INHERIT : processes::STREAM_NULL;
    kiv_value out_target{}, err_target{};
    if (used(refs[INPUT])) set_stream(in, arg(refs[INPUT]), true);
    if (used(refs[OUTPUT])) set_stream(out, &(out_target = *arg(refs[OUTPUT])), false);
    if (used(refs[ERROR_])) set_stream(err, &(err_target = *arg(refs[ERROR_])), false);
    bool wait = used(refs[WAIT]) || console || used(refs[INPUT]) || used(refs[OUTPUT]) || used(refs[ERROR_]);

    int64_t status = -1;
    switch (processes::run(argv, text, used(refs[SHELL]), wait, in, out, err, &status)) {
        case processes::LAUNCHED:
            break;
        case processes::BAD_OUTPUT:
            fire(err::ACCESS, err::access::cannot_open, &out_target);
        case processes::BAD_ERROR:
            fire(err::ACCESS, err::access::cannot_open, &err_target);
        default:
            status = -1;
            break;
    }
    if (used(refs[OUTPUT])) deliver(out, out_target);
    if (used(refs[ERROR_])) deliver(err, err_target);
    integer::return_(int32_t(status));
}

void browse(bool, const int32_t*) {
    kiv_value target = *arg(0);
    std::string text = type_of(&target) == TYPE_FILE ? os_path_of(&target) : utf8_of(&target);
    if (!processes::open_document(text)) fire(err::ACCESS, err::access::cannot_open, &target);
    unset::return_();
}

}  // namespace kiv::natives
