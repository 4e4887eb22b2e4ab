// Control-flow natives: conditionals, loops, evaluation and the non-local
// exits with their catchers.
//
// A loop pushes a loop frame named <body> and evaluates its body there, so
// that each body value lands in that frame's result slot; break and continue
// unwind to that frame and leave the pending level for the loop to take.
#include <algorithm>

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/evaluator/lexer.h"
#include "runtime/evaluator/native_support.h"
#include "runtime/evaluator/natives.h"

namespace kiv::natives {

// Conditionals ----------------------------------------------------------------

void if_(bool, const int32_t*) {
    if (logic::truthy(arg(0))) interpreter::eval(arg(1), true);
    else none::return_();
}

void unless(bool, const int32_t*) {
    if (logic::truthy(arg(0))) none::return_();
    else interpreter::eval(arg(1), true);
}

void either(bool, const int32_t*) { interpreter::eval(arg(logic::true_q() ? 1 : 2), true); }

namespace {

// Evaluates a block expression by expression into the result slot; stops
// after the first value for which `stop` holds. False when an exit is
// pending; `stopped` tells whether `stop` ended the walk.
template <class Stop>
bool walk_expressions(bool& stopped, Stop stop) {
    kiv_value blk = *arg(0);
    kiv_value* pos = block::ks_head(&blk);
    kiv_value* end = block::ks_tail(&blk);
    stopped = false;
    while (pos < end) {
        stack::keep();
        pos = interpreter::eval_next_keep(&blk, pos, end, false);
        if (interpreter::exit_pending_q()) return false;
        if (stop(arg(0))) {
            stopped = true;
            return true;
        }
    }
    return true;
}

}  // namespace

void any(bool, const int32_t*) {
    bool found;
    if (!walk_expressions(found, [](const kiv_value* v) { return logic::truthy(v); })) return;
    if (!found) none::return_();
}

void all(bool, const int32_t*) {
    bool empty = block::ks_length_q(arg(0)) <= 0;
    bool failed;
    if (!walk_expressions(failed, [](const kiv_value* v) { return !logic::truthy(v); })) return;
    if (failed || empty) none::return_();
}

void case_(bool, const int32_t* refs) {
    bool every = used(refs[0]);
    kiv_value blk = *arg(0);
    kiv_value* pos = block::ks_head(&blk);
    kiv_value* end = block::ks_tail(&blk);
    kiv_value result = none_value;
    while (pos < end) {
        stack::keep();
        pos = interpreter::eval_next_keep(&blk, pos, end, false);
        if (interpreter::exit_pending_q()) return;
        if (pos >= end) {
            kiv_value w = name_word("case");
            fire(err::SCRIPT, err::script::need_value, &w);
        }
        if (!logic::true_q()) {
            pos++;
            continue;
        }
        if (type_of(pos) == TYPE_BLOCK) {
            kiv_value branch = *pos++;
            interpreter::eval(&branch, true);
        } else {
            pos = interpreter::eval_next_keep(&blk, pos, end, false);
        }
        if (interpreter::exit_pending_q()) return;
        if (!every) return;
        result = *arg(0);
    }
    stack::set_last(&result);
}

void switch_(bool, const int32_t* refs) {
    kiv_value value = *arg(0);
    kiv_value cases = *arg(1);
    kiv_value found = *block::find(&cases, &value, nullptr, true, false, false, false, nullptr, nullptr, false,
                                   false, false, false);
    stack::pop(1);
    if (type_of(&found) != TYPE_NONE) {
        for (uint32_t i = found.data1 + 1; i < block::length_all(&found); i++) {
            kiv_value branch = block::cells(&found)[i];
            if (type_of(&branch) == TYPE_BLOCK) {
                interpreter::eval(&branch, true);
                return;
            }
        }
        none::return_();
        return;
    }
    if (used(refs[0])) interpreter::eval(arg(refs[0]), true);
    else none::return_();
}

// Loops -------------------------------------------------------------------------

void while_(bool, const int32_t*) {
    interpreter::loop_body cond(arg(0));
    interpreter::loop_body body(arg(1));
    stack::mark_loop(body_word());
    for (;;) {
        // The condition runs in the loop frame too, so that a break or
        // continue there stops here instead of reaching an outer loop.
        stack::reset();
        cond.eval();
        if (sys.pending_exit == LEVEL_BREAK || sys.pending_exit == LEVEL_CONTINUE) {
            sys.pending_exit = LEVEL_NONE;
            fire(err::THROW, err::throw_::while_cond);
        }
        if (interpreter::exit_pending_q()) return;
        if (!logic::true_q()) break;
        body_end e = run_body(body);
        if (e == BODY_LEAVE) return;
        if (e == BODY_BREAK) break;
    }
    stack::unwind_drop();
    kiv::unset::return_();
}

void until(bool, const int32_t*) {
    interpreter::loop_body body(arg(0));
    stack::mark_loop(body_word());
    for (;;) {
        bool continued = false;
        stack::reset();
        body.eval();
        if (sys.pending_exit == LEVEL_CONTINUE) continued = true;
        body_end e = take_loop_exit();
        if (e == BODY_LEAVE) return;
        if (e == BODY_BREAK) break;
        if (!continued && logic::true_q()) break;
    }
    stack::unwind_last();
}

void loop(bool, const int32_t*) {
    int32_t count = count_of(arg(0));
    if (count < 1) {
        none::return_();
        return;
    }
    interpreter::loop_body body(arg(1));
    stack::mark_loop(body_word());
    for (int32_t i = 0; i < count; i++) {
        body_end e = run_body(body);
        if (e == BODY_LEAVE) return;
        if (e == BODY_BREAK) break;
    }
    stack::unwind_last();
}

void repeat(bool, const int32_t*) {
    kiv_value counter = *arg(0);
    int32_t count = count_of(arg(1));
    if (count < 1) {
        none::return_();
        return;
    }
    interpreter::loop_body body(arg(2));
    stack::mark_loop(body_word());
    for (int32_t i = 1; i <= count; i++) {
        kiv_value n;
        integer::make_at(&n, i);
        // Set on every pass: the usual quiet set stays inline here.
        if (!_context::set_quiet(&counter, &n)) _context::set(&counter, &n);
        body_end e = run_body(body);
        if (e == BODY_LEAVE) return;
        if (e == BODY_BREAK) break;
    }
    stack::unwind_last();
}

void forever(bool, const int32_t*) {
    interpreter::loop_body body(arg(0));
    stack::mark_loop(body_word());
    for (;;) {
        body_end e = run_body(body);
        if (e == BODY_LEAVE) return;
        if (e == BODY_BREAK) break;
    }
    stack::unwind_last();
}

namespace {

// The loop words of foreach and remove-each: a word, or a non-empty block
// of words set from consecutive elements.
// Units of a walked series from its first one; an image! holds width x
// height pixels outside any series buffer.
uint32_t walk_length(const kiv_value* s) {
    return type_of(s) == TYPE_IMAGE ? image::pixel_count(s) : series::ks_length_all(s);
}

struct loop_words {
    kiv_value words;
    uint32_t count;

    explicit loop_words(const kiv_value* spec) : words(*spec), count(1) {
        if (type_of(spec) != TYPE_BLOCK) return;
        int32_t n = block::ks_length_q(spec);
        if (n <= 0) fire_invalid(spec);
        for (int32_t i = 0; i < n; i++) {
            uint32_t t = type_of(block::cells(spec) + spec->data1 + i);
            if (t < TYPE_WORD || t > TYPE_GET_WORD) fire_invalid(spec);
        }
        count = uint32_t(n);
    }

    kiv_value word(uint32_t k) const {
        return type_of(&words) == TYPE_BLOCK ? block::cells(&words)[words.data1 + k] : words;
    }

    // Sets the words from the record at an index, the series `length` units
    // long; past the tail, none.
    void set_record(const kiv_value* series, uint32_t index, uint32_t length) const {
        bool cells = series::block_like_q(type_of(series));
        for (uint32_t k = 0; k < count; k++) {
            kiv_value value = none_value;
            if (index + k < length) {
                if (cells) {
                    value = block::cells(series)[index + k];
                } else {
                    kiv_value at = *series;
                    at.data1 = index;
                    kiv_value* top = stack::top;
                    kiv_value position;
                    integer::make_at(&position, int32_t(k + 1));
                    value = *actions::get<SLOT_PICK>(&at)(&at, int32_t(k + 1), &position);
                    stack::top = top;
                }
            }
            kiv_value w = word(k);
            _context::set(&w, &value);
        }
    }
};

// The series a loop walks.
kiv_value walked_series(const kiv_value* value, const char* argument) {
    if (!series::series_type_q(type_of(value))) fire_expect(value, argument);
    kiv_value s = *value;
    s.data1 = std::min(s.data1, walk_length(&s));
    return s;
}

// A map sets a key word and a value word per live entry, its keys shown
// as words.
void foreach_map(const loop_words& words) {
    if (type_of(&words.words) != TYPE_BLOCK || words.count != 2) fire_invalid(arg(0));
    kiv_value m = *arg(1);
    interpreter::loop_body body(arg(2));
    stack::mark_loop(body_word());
    kiv::unset::return_();
    for (uint32_t i = 0; i + 1 < map::entry_cells(&m); i += 2) {
        kiv_value value = map::entries(&m)[i + 1];
        if (map::removed_q(&value)) continue;
        kiv_value key = map::shown_key(map::entries(&m) + i);
        kiv_value w = words.word(0);
        _context::set(&w, &key);
        w = words.word(1);
        _context::set(&w, &value);
        body_end e = run_body(body);
        if (e == BODY_LEAVE) return;
        if (e == BODY_BREAK) break;
    }
    stack::unwind_last();
}

}  // namespace

void foreach(bool, const int32_t*) {
    loop_words words(arg(0));
    if (type_of(arg(1)) == TYPE_MAP) {
        foreach_map(words);
        return;
    }
    kiv_value series = walked_series(arg(1), "series");
    interpreter::loop_body body(arg(2));
    stack::mark_loop(body_word());
    kiv::unset::return_();
    for (uint32_t index = series.data1;; index += words.count) {
        uint32_t length = walk_length(&series);  // the body may change it
        if (index >= length) break;
        words.set_record(&series, index, length);
        body_end e = run_body(body);
        if (e == BODY_LEAVE) return;
        if (e == BODY_BREAK) break;
    }
    stack::unwind_last();
}

void forall(bool, const int32_t*) {
    kiv_value w = *arg(0);
    kiv_value start = *_context::get(&w);
    if (!series::series_type_q(type_of(&start))) fire_expect(&start, "word");
    interpreter::loop_body body(arg(1));
    stack::mark_loop(body_word());
    kiv::unset::return_();
    while (_context::get(&w)->data1 < walk_length(_context::get(&w))) {
        body_end e = run_body(body);
        if (e == BODY_LEAVE) return;
        if (e == BODY_BREAK) {
            stack::unwind_last();
            return;
        }
        kiv_value* now = _context::get(&w);
        if (type_of(now) != type_of(&start) || now->data2 != start.data2) {
            kiv_value changed = *now;
            fire(err::SCRIPT, err::script::bad_loop_series, &changed);
        }
        now->data1++;
    }
    _context::set(&w, &start);
    stack::unwind_last();
}

void remove_each(bool, const int32_t*) {
    loop_words words(arg(0));
    kiv_value data = walked_series(arg(1), "data");
    interpreter::loop_body body(arg(2));
    stack::mark_loop(body_word());
    uint32_t index = data.data1;
    for (;;) {
        uint32_t length = walk_length(&data);  // the body and the removals change it
        if (index >= length) break;
        words.set_record(&data, index, length);
        body_end e = run_body(body);
        if (e == BODY_LEAVE) return;
        if (e == BODY_BREAK) break;
        if (!logic::truthy(stack::arguments)) {
            index += words.count;
            continue;
        }
        kiv_value at = data;
        at.data1 = index;
        kiv_value part;
        integer::make_at(&part, int32_t(words.count));
        call_action(SLOT_REMOVE, {at, part}, {1, -1});
    }
    stack::unwind_drop();
    stack::set_last(&data);
}

// Evaluation --------------------------------------------------------------------

namespace {

// Expands the directives of the block in place, through the library's
// preprocessor: `preprocessor/expand code none`, no job and not clean.
void expand_directives(const kiv_value* code) {
    kiv_value call;  // the native stack scan keeps it alive
    block::make_at(&call, 3);
    kiv_value* path = block::make_in(&call, 2);
    cell::set_type(path, TYPE_PATH);
    word::make_in(symbol::make("preprocessor"), path);
    word::make_in(symbol::make("expand"), path);
    block::append_copy(&call, code);
    block::append_copy(&call, &none_value);
    interpreter::eval(&call, true);
}

// A script file or URL runs through the library's do-file, with the trace
// callback and the /args value handed on as data: `first [value]` keeps a
// function from being called.
void run_script(const kiv_value* file, const int32_t* refs) {
    kiv_value call;  // the native stack scan keeps it alive
    block::make_at(&call, 6);
    word::make_in(symbol::make("do-file"), &call);
    block::append_copy(&call, file);
    for (int32_t ref : {refs[3], refs[1]}) {
        word::make_in(symbol::make("first"), &call);
        kiv_value* quoted = block::make_in(&call, 1);
        block::append_copy(quoted, used(ref) ? arg(ref) : &none_value);
    }
    interpreter::eval(&call, true);
}

// Evaluates the value as do does, into the result slot.
void do_value(const kiv_value* value, const int32_t* refs) {
    kiv_value v = *value;
    switch (type_of(&v)) {
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH:
            if (used(refs[0])) expand_directives(&v);
            if (!used(refs[2])) {
                interpreter::eval(&v, true);
                return;
            }
            v.data1 = interpreter::eval_single(&v);
            if (!interpreter::exit_pending_q()) _context::set(arg(refs[2]), &v);
            return;
        case TYPE_PATH:
            interpreter::eval_path(&v, nullptr, nullptr, nullptr, false, false, false);
            return;
        case TYPE_ERROR:
            stack::throw_error(&v);
        case TYPE_STRING: {
            kiv_value block;  // the native stack scan keeps it alive
            lexer::scan_string(&block, &v, -1, false, false, false, nullptr, nullptr, nullptr);
            do_value(&block, refs);
            return;
        }
        case TYPE_FILE:
        case TYPE_URL:
            run_script(&v, refs);
            return;
        default: {
            // One expression of one cell, callables taken as data: it may
            // call a function a word refers to, with no argument available.
            kiv_value* cell = stack::push_value(&v);
            interpreter::eval_next(cell, cell + 1, nullptr, false, false, true);
            return;
        }
    }
}

// Restores the interpreter's trace state however do/trace ends.
struct tracer_scope {
    bool installed = false;

    void install(const kiv_value* callback) {
        if (interpreter::trace_q) return;  // the running tracer stays
        installed = true;
        interpreter::event_mask = interpreter::event_mask_of(callback);
        *interpreter::tracer = *callback;
        interpreter::trace_q = interpreter::tracing_q = true;
        interpreter::fire_event(interpreter::EVT_INIT, nullptr, nullptr, nullptr, nullptr);
    }

    // The end event runs the tracer, which must not see the exit in flight.
    void finish() {
        if (!installed) return;
        installed = false;
        uint32_t pending = sys.pending_exit;
        sys.pending_exit = LEVEL_NONE;
        kiv_value* top = stack::top;
        try {
            interpreter::fire_event(interpreter::EVT_END, nullptr, nullptr, nullptr, nullptr);
        } catch (...) {
            uninstall();  // a tracer failing at the end must not stay installed
            throw;
        }
        stack::top = top;
        sys.pending_exit = pending;
        uninstall();
    }

    static void uninstall() {
        *interpreter::tracer = none_value;
        interpreter::trace_q = interpreter::tracing_q = false;
    }
};

}  // namespace

void do_(bool, const int32_t* refs) {
    kiv_value value = *arg(0);
    // A script's tracer is do-file's to install, around the script's code.
    bool script = type_of(&value) == TYPE_FILE || type_of(&value) == TYPE_URL;
    if (!used(refs[3]) || script) {
        do_value(&value, refs);
        return;
    }
    tracer_scope scope;
    try {
        scope.install(arg(refs[3]));
        do_value(&value, refs);
    } catch (const kiv_exit&) {
        scope.finish();
        throw;
    }
    scope.finish();
}

// Non-local exits ---------------------------------------------------------------

void break_(bool, const int32_t* refs) { stack::throw_break(used(refs[0]), false); }

void continue_(bool, const int32_t*) { stack::throw_break(false, true); }

void exit(bool, const int32_t*) { stack::throw_exit(false, false); }

void return_(bool, const int32_t*) { stack::throw_exit(true, false); }

void throw_(bool, const int32_t* refs) {
    if (!used(refs[0])) *stack::push() = unset_value;
    if (interpreter::tracing_q) interpreter::fire_event(interpreter::EVT_THROW, nullptr, nullptr, nullptr, arg(0));
    stack::throw_throw(LEVEL_THROW);
}

namespace {

void check_names(const kiv_value* names) {
    if (type_of(names) != TYPE_BLOCK) return;
    for (uint32_t i = names->data1; i < block::length_all(names); i++) {
        if (type_of(block::cells(names) + i) == TYPE_WORD) continue;
        kiv_value refinement = name_word("name");
        kiv_value blk = *names;
        fire(err::SCRIPT, err::script::invalid_refine_arg, &refinement, &blk);
    }
}

}  // namespace

void catch_(bool, const int32_t* refs) {
    kiv_value blk = *arg(0);
    bool named = used(refs[0]);
    kiv_value names = named ? *arg(refs[0]) : none_value;
    if (named) check_names(&names);
    kiv_value* names_cell = named ? arg(refs[0]) : nullptr;
    stack::mark_catch(body_word());
    if (named) stack::set_catch_names(names_cell);
    const call_frame* mine = stack::current_frame();
    try {
        interpreter::eval(&blk, true);
        if (!interpreter::exit_pending_q()) stack::unwind_last();
        return;
    } catch (const kiv_exit& e) {
        // A throw whose name this catch does not take was unwound to an
        // outer catch frame.
        if (e.level != LEVEL_THROW || stack::current_frame() != mine) throw;
    }
    // The throw left its value (and its name) at the catch frame's base.
    sys.pending_exit = LEVEL_NONE;
    kiv_value value = stack::arguments[0];
    stack::unwind_drop();
    // Taken here: the frames the throw came from are gone, and errors raised
    // later must not be placed in them.
    stack::throw_origin = nullptr;
    stack::set_last(&value);
    if (interpreter::tracing_q) interpreter::fire_event(interpreter::EVT_CATCH, nullptr, nullptr, nullptr, &value);
}

void try_(bool, const int32_t* refs) {
    kiv_value blk = *arg(0);
    static const kiv_value name = name_word("try");
    if (used(refs[0])) stack::mark_try_all(&name);
    else stack::mark_try(&name);
    try {
        interpreter::eval(&blk, true);
        if (!interpreter::exit_pending_q()) stack::unwind_last();
        return;
    } catch (const kiv_exit& e) {
        if (e.level != LEVEL_ERROR) throw;
    }
    // The error waits on top of the stack; /keep turns its `stack` field
    // into the calls that led to it, read before new calls reuse their
    // frames.
    sys.pending_exit = LEVEL_NONE;
    if (used(refs[1])) error::capture_stack(stack::get_top());
    stack::keep_error();
}

}  // namespace kiv::natives
