// file!: molding as "%" and the name, system paths, and the hand-over of
// the file actions to the file I/O services.
#include "runtime/datatypes/file.h"

#include <algorithm>
#include <string>

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/url.h"
#include "runtime/errors.h"
#include "runtime/io/simple_io.h"
#include "runtime/platform.h"
#include "runtime/stack.h"
#include "runtime/system.h"
#include "runtime/unicode.h"

namespace kiv::file {

namespace {

[[noreturn]] void not_done() { fire(err::INTERNAL, err::internal::not_done); }

// A name the lexer reads back only between double quotes: one holding a
// space, a delimiter or a control code.
bool needs_quotes_q(const kiv_value* f, uint32_t from, uint32_t end) {
    for (uint32_t i = from; i < end; i++) {
        uint32_t c = string::ks_abs_at(f, i);
        if (c <= 126 && !url::plain_q(uint8_t(c), url::GENERAL)) return true;
    }
    return false;
}

}  // namespace

kiv_value* push(const kiv_value* file) { return cell::set_type(string::push(file), TYPE_FILE); }

// Paths -----------------------------------------------------------------------------

kiv_value* get_current_dir(kiv_value* slot) {
    uint32_t length;
    char* dir = platform::get_current_dir(&length);
    if (!dir) {
        // The directory was removed or cannot be reached from the root.
        kiv_value here;
        string::make_at(&here, 2);
        string::concatenate_literal(&here, "./");
        fire(err::ACCESS, err::access::cannot_open, cell::set_type(&here, TYPE_FILE));
    }
    std::string text(dir, length);
    memory::free(dir);
    string::load_at(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), slot, string::UTF8);
    if (text.empty() || text.back() != '/') string::append_char(string::buffer_of(slot), '/');
    return slot;
}

void convert_to_local(kiv_value* file, kiv_value* out, bool full) {
    kiv_value f = *file;
    bool absolute = string::ks_length_q(&f) > 0 && string::ks_abs_at(&f, f.data1) == '/';
    if (full && !absolute) {
        kiv_value dir;
        get_current_dir(&dir);
        string::concatenate(out, &dir, -1, 0, true, string::APPEND);
    }
    string::concatenate(out, &f, -1, 0, true, string::APPEND);
}

const char* to_os_path(kiv_value* file) {
    kiv_value f = *file;
    if (string::ks_find_char(&f, 0) >= 0) fire(err::SCRIPT, err::script::invalid_arg, file);
    kiv_value local;
    string::make_at(&local, string::ks_length_q(&f) + 1);
    convert_to_local(&f, &local, false);
    int32_t count = -1;
    return unicode::to_utf8(&local, &count);
}

// Actions ------------------------------------------------------------------------

int32_t mold(kiv_value* file, kiv_value* buffer, bool, bool, bool, kiv_value* arg, int32_t part,
             int32_t) {
    kiv_value f = *file;
    uint32_t total = string::ks_length_all(&f);
    uint32_t head = std::min(f.data1, total);
    uint32_t before = string::ks_length_all(buffer);
    if (head == total) {
        string::concatenate_literal(buffer, "%\"\"");
    } else {
        uint32_t end = total;
        if (arg) end = part < 0 ? head : uint32_t(std::min<int64_t>(total, int64_t(head) + part));
        string::concatenate_literal(buffer, "%");
        if (!needs_quotes_q(&f, head, end)) {
            string::concatenate(buffer, &f, int32_t(end - head), 0, true, string::APPEND);
        } else {
            // Quoted names are read back with string escapes, so a caret or a
            // line break inside must be escaped. The scanner ends a quoted name
            // at any double quote, so that one is written as its code.
            string::concatenate_literal(buffer, "\"");
            for (uint32_t i = head; i < end; i++) {
                uint32_t cp = string::ks_abs_at(&f, i);
                if (cp == '"') string::concatenate_literal(buffer, "^(22)");
                else string::mold_escape_char(buffer, cp, false);
            }
            string::concatenate_literal(buffer, "\"");
        }
    }
    return part - int32_t(string::ks_length_all(buffer) - before);
}

kiv_value* delete_(kiv_value* file) { return logic::push(simple_io::delete_(file)); }

kiv_value* query(kiv_value* file) {
    std::optional<simple_io::file_time> t = simple_io::query(file);
    if (!t) return none::push();
    return date::make_at_time(stack::push(), t->year, t->month, t->day, t->hour, t->minute, t->second,
                              t->nanoseconds);
}

kiv_value* read(kiv_value* file, kiv_value* part, kiv_value* seek, bool binary, bool lines, bool info,
                kiv_value* as) {
    if (info || as) not_done();  // no file information or codec reads
    return simple_io::read(file, part, seek, binary, lines, stack::push_value(&none_value));
}

kiv_value* rename(kiv_value* from, kiv_value* to) { return logic::push(simple_io::rename(from, to)); }

// Text and binary modes write the same bytes: line ends stay LF.
kiv_value* write(kiv_value* file, kiv_value* data, bool, bool lines, bool, bool append, kiv_value* part,
                 kiv_value* seek, kiv_value* allow, kiv_value* as) {
    if (allow || as) not_done();  // no access modes or codec writes for files
    simple_io::write(file, data, part, seek, append, lines);
    return unset::push();
}

void init() {
    using namespace actions;
    datatype::register_(TYPE_FILE, TYPE_URL, "file!", {
        INHERITED,                      // make
        UNSUPPORTED,                    // random
        UNSUPPORTED,                    // reflect
        INHERITED,                      // to
        INHERITED,                      // form
        impl<SLOT_MOLD>(mold),          // mold
        INHERITED,                      // eval-path
        UNSUPPORTED,                    // (empty)
        INHERITED,                      // compare
        INHERITED,                      // absolute
        INHERITED,                      // add
        INHERITED,                      // divide
        INHERITED,                      // multiply
        INHERITED,                      // negate
        INHERITED,                      // power
        INHERITED,                      // remainder
        INHERITED,                      // round
        INHERITED,                      // subtract
        INHERITED,                      // even?
        INHERITED,                      // odd?
        INHERITED,                      // and~
        INHERITED,                      // complement
        INHERITED,                      // or~
        INHERITED,                      // xor~
        INHERITED,                      // append
        INHERITED,                      // at
        INHERITED,                      // back
        INHERITED,                      // change
        INHERITED,                      // clear
        INHERITED,                      // copy
        INHERITED,                      // find
        INHERITED,                      // head
        INHERITED,                      // head?
        INHERITED,                      // index?
        INHERITED,                      // insert
        INHERITED,                      // length?
        INHERITED,                      // move
        INHERITED,                      // next
        INHERITED,                      // pick
        INHERITED,                      // poke
        UNSUPPORTED,                    // put
        INHERITED,                      // remove
        INHERITED,                      // reverse
        INHERITED,                      // select
        UNSUPPORTED,                    // sort
        INHERITED,                      // skip
        INHERITED,                      // swap
        INHERITED,                      // tail
        INHERITED,                      // tail?
        INHERITED,                      // take
        UNSUPPORTED,                    // trim
        UNSUPPORTED,                    // create
        UNSUPPORTED,                    // close
        impl<SLOT_DELETE>(delete_),     // delete
        INHERITED,                      // modify
        UNSUPPORTED,                    // open
        UNSUPPORTED,                    // open?
        impl<SLOT_QUERY>(query),        // query
        impl<SLOT_READ>(read),          // read
        impl<SLOT_RENAME>(rename),      // rename
        UNSUPPORTED,                    // update
        impl<SLOT_WRITE>(write),        // write
    });
}

}  // namespace kiv::file
