// event!: made events, field reads by path and pick, setting the type.
#include "runtime/datatypes/event.h"

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/stack.h"

namespace kiv::event {

namespace {

constexpr const char* TYPE_NAMES[TYPE_COUNT_] = {
    "down", "up", "mid-down", "mid-up", "alt-down", "alt-up", "aux-down", "aux-up", "click",
    "dbl-click", "wheel", "over", "key", "key-down", "key-up", "ime", "focus", "unfocus", "enter",
    "zoom", "pan", "rotate", "two-tap", "press-tap", "select", "change", "menu", "close", "move",
    "resize", "moving", "resizing", "time", "drawing", "scroll",
};

constexpr const char* FIELD_NAMES[] = {
    "type", "face", "window", "offset", "key", "picked", "flags", "away?", "down?", "mid-down?",
    "alt-down?", "aux-down?", "ctrl?", "shift?", "orientation",
};
constexpr int32_t FIELD_COUNT = int32_t(sizeof FIELD_NAMES / sizeof *FIELD_NAMES);

// The words of `event/flags`, in the order they are listed.
struct flag_word {
    const char* name;
    uint32_t bit;
};
constexpr flag_word READ_FLAGS[] = {
    {"away", FLAG_AWAY}, {"down", FLAG_DOWN}, {"mid-down", FLAG_MID_DOWN},
    {"alt-down", FLAG_ALT_DOWN}, {"aux-down", FLAG_AUX_DOWN}, {"control", FLAG_CONTROL},
    {"shift", FLAG_SHIFT}, {"alt", FLAG_ALT},
};
// The words `make event!` takes in its `flags:` block.
constexpr flag_word MADE_FLAGS[] = {
    {"control", FLAG_CONTROL}, {"shift", FLAG_SHIFT}, {"alt", FLAG_ALT},
    {"command", FLAG_COMMAND}, {"away", FLAG_AWAY}, {"down", FLAG_DOWN},
    {"mid-down", FLAG_MID_DOWN}, {"alt-down", FLAG_ALT_DOWN}, {"aux-down", FLAG_AUX_DOWN},
};

int32_t resolved(const char* name) { return symbol::resolve(symbol::make(name)); }

bool is_word(const kiv_value* v, const char* name) {
    uint32_t t = type_of(v);
    return (t == TYPE_WORD || t == TYPE_LIT_WORD) && symbol::resolve(word::symbol_of(v)) == resolved(name);
}

bool made_q(const kiv_value* e) { return (e->header & MADE) != 0; }

// The block entry, or null when the event has none or it was left unset.
const kiv_value* value_of(const kiv_value* e, uint32_t index) {
    if (!e->data2) return nullptr;
    kiv_value blk{TYPE_BLOCK, 0, e->data2, 0};
    if (block::length_all(&blk) <= index) return nullptr;
    const kiv_value* v = block::cells(&blk) + index;
    return type_of(v) == TYPE_UNSET ? nullptr : v;
}

kiv_value* push_word(const char* name) { return word::push_symbol(symbol::make(name)); }

kiv_value* push_flags(uint32_t flags) {
    kiv_value* blk = block::push_only(8);
    for (const flag_word& f : READ_FLAGS)
        if (flags & f.bit) word::make_in(symbol::make(f.name), blk);
    return blk;
}

// A word bound to a context in a `make event!` spec stands for its value
// (read into `into`, which the caller keeps).
const kiv_value* spec_value(const kiv_value* v, kiv_value* into) {
    uint32_t t = type_of(v);
    if ((t == TYPE_WORD || t == TYPE_GET_WORD) && v->data1) {
        kiv_value w = *v;
        *into = *word::get(&w);
        stack::pop(1);
        return into;
    }
    return v;
}

uint32_t type_id_of_word(const kiv_value* w) {
    uint32_t id = type_of_symbol(word::symbol_of(w));
    if (!id) fire(err::SCRIPT, err::script::not_event_type, w);
    return id;
}

// make event! [type: 'key key: #"a" flags: [shift] face: f ...]; pairs
// with an unknown name or a value of the wrong type are skipped. A key is a
// character, or a word naming a special key (key: 'left) as a backend gives.
kiv_value* make(kiv_value*, kiv_value* spec, uint32_t) {
    fields f;
    bool any_value = false;
    kiv_value values[5] = {none_value, none_value, {}, {}, none_value};
    pair::make_at(&values[2], 0, 0);
    integer::make_at(&values[3], 0);
    if (type_of(spec) == TYPE_BLOCK) {
        kiv_value* end = block::ks_tail(spec);
        for (kiv_value* p = block::ks_head(spec); p + 1 < end; p += 2) {
            if (type_of(p) != TYPE_SET_WORD) continue;
            kiv_value got;
            const kiv_value* v = spec_value(p + 1, &got);
            uint32_t vt = type_of(v);
            int32_t name = symbol::resolve(word::symbol_of(p));
            if (name == resolved("type")) {
                if (vt == TYPE_WORD || vt == TYPE_LIT_WORD) f.type = type_id_of_word(v);
            } else if (name == resolved("key")) {
                if (vt == TYPE_CHAR) f.flags |= char_::get_value(v) & KEY_MASK;
                if (vt == TYPE_WORD || vt == TYPE_LIT_WORD) {
                    values[4] = *v;
                    cell::set_type(&values[4], TYPE_WORD);
                    any_value = true;
                }
            } else if (name == resolved("flags")) {
                if (vt != TYPE_BLOCK) continue;
                kiv_value words = *v;
                kiv_value* fend = block::ks_tail(&words);
                for (kiv_value* w = block::ks_head(&words); w < fend; w++) {
                    if (type_of(w) != TYPE_WORD) continue;
                    for (const flag_word& fw : MADE_FLAGS)
                        if (is_word(w, fw.name)) f.flags |= fw.bit;
                }
            } else if (name == resolved("face") || name == resolved("window")) {
                if (vt != TYPE_OBJECT) continue;
                values[name == resolved("face") ? 0 : 1] = *v;
                any_value = true;
            } else if (name == resolved("offset")) {
                if (vt != TYPE_PAIR && vt != TYPE_POINT2D) continue;
                values[2] = *v;
                any_value = true;
            } else if (name == resolved("picked")) {
                // an integer, the text of an input-method composition, or
                // the word of a menu's entry
                if (vt != TYPE_INTEGER && vt != TYPE_STRING && vt != TYPE_WORD && vt != TYPE_LIT_WORD) continue;
                values[3] = *v;
                if (vt == TYPE_LIT_WORD) cell::set_type(&values[3], TYPE_WORD);
                any_value = true;
            }
        }
    }
    if (any_value) {
        f.face = values[0];
        f.window = values[1];
        f.offset = values[2];
        f.picked = values[3];
        if (type_of(&values[4]) == TYPE_WORD) f.key = values[4];
    }
    kiv_value* e = push(f);
    e->header |= MADE;
    return e;
}

int32_t form(kiv_value*, kiv_value* buffer, kiv_value*, int32_t part) {
    string::concatenate_literal(buffer, "event");
    return part - 5;
}

int32_t mold(kiv_value* value, kiv_value* buffer, bool, bool, bool, kiv_value* arg, int32_t part,
             int32_t) {
    return form(value, buffer, arg, part);
}

// Any two events are equal; none is ordered.
int32_t compare(kiv_value*, kiv_value* other, int32_t op) {
    if (type_of(other) != TYPE_EVENT) return COMPARE_INCOMPARABLE;
    return logic::equality_or_sort_q(op) ? 0 : COMPARE_INCOMPARABLE;
}

kiv_value* eval_path(kiv_value* parent, kiv_value* element, kiv_value* value, kiv_value* path,
                     kiv_value*, kiv_value*, int32_t, bool, bool, bool, bool) {
    kiv_value p = path ? *path : none_value;
    int32_t field = any_word_q(type_of(element)) ? field_of_symbol(word::symbol_of(element)) : -1;
    if (!value) {
        if (field < 0) fire(err::SCRIPT, err::script::invalid_path, &p, element);
        return read_field(parent, field);
    }
    if (field != FIELD_TYPE || type_of(value) != TYPE_WORD)
        fire(err::SCRIPT, err::script::bad_path_set, &p, element);
    parent->data1 = type_id_of_word(value);
    return value;
}

kiv_value* pick(kiv_value* e, int32_t index, kiv_value* index_cell) {
    uint32_t t = type_of(index_cell);
    if (t == TYPE_INTEGER) {
        if (index < 1 || index > FIELD_COUNT) fire(err::SCRIPT, err::script::out_of_range, index_cell);
        return read_field(e, index);
    }
    int32_t field = any_word_q(t) ? field_of_symbol(word::symbol_of(index_cell)) : -1;
    if (field < 0) actions::fire_with_call(err::script::cannot_use, TYPE_EVENT);
    return read_field(e, field);
}

}  // namespace

const char* type_name(uint32_t id) { return id >= 1 && id <= TYPE_COUNT_ ? TYPE_NAMES[id - 1] : nullptr; }

uint32_t type_of_symbol(int32_t symbol) {
    int32_t s = symbol::resolve(symbol);
    for (uint32_t id = 1; id <= TYPE_COUNT_; id++)
        if (resolved(TYPE_NAMES[id - 1]) == s) return id;
    return 0;
}

int32_t field_of_symbol(int32_t symbol) {
    int32_t s = symbol::resolve(symbol);
    for (int32_t i = 0; i < FIELD_COUNT; i++)
        if (resolved(FIELD_NAMES[i]) == s) return i + 1;
    return -1;
}

kiv_value* make_at(kiv_value* cell, const fields& f) {
    const kiv_value* given[VALUE_COUNT] = {&f.face, &f.window, &f.offset, &f.picked, &f.key, &f.orientation};
    bool any_value = false;
    for (const kiv_value* v : given) any_value |= type_of(v) != TYPE_UNSET;
    kiv_value values{TYPE_NONE, 0, 0, 0};
    if (any_value) {
        block::make_at(&values, int32_t(VALUE_COUNT));
        for (const kiv_value* v : given) block::append_copy(&values, v);
    }
    *cell = kiv_value{TYPE_EVENT, f.type, values.data2, f.flags};
    return cell;
}

kiv_value* push(const fields& f) {
    kiv_value e;
    make_at(&e, f);
    return stack::push_value(&e);
}

kiv_value* push_copy(const kiv_value* event) { return stack::push_value(event); }

kiv_value* read_field(const kiv_value* e, int32_t field) {
    bool made = made_q(e);
    uint32_t flags = e->data3;
    auto entry = [&](uint32_t index) -> kiv_value* {
        const kiv_value* v = value_of(e, index);
        return v ? stack::push_value(v) : nullptr;
    };
    kiv_value* r;
    switch (field) {
        case FIELD_TYPE:
            return type_name(e->data1) ? push_word(type_name(e->data1)) : none::push();
        case FIELD_FACE:
            return (r = entry(VALUE_FACE)) ? r : none::push();
        case FIELD_WINDOW:
            return (r = entry(VALUE_WINDOW)) ? r : none::push();
        case FIELD_OFFSET:
            if ((r = entry(VALUE_OFFSET))) return r;
            return made ? pair::push(0, 0) : none::push();
        case FIELD_KEY:
            if ((r = entry(VALUE_KEY))) return r;
            return made && (flags & KEY_MASK) ? char_::push(flags & KEY_MASK) : none::push();
        case FIELD_PICKED:
            if ((r = entry(VALUE_PICKED))) return r;
            return made ? integer::push(0) : none::push();
        case FIELD_FLAGS: return push_flags(flags);
        case FIELD_AWAY_Q: return logic::push(flags & FLAG_AWAY);
        case FIELD_DOWN_Q: return logic::push(flags & FLAG_DOWN);
        case FIELD_MID_DOWN_Q: return logic::push(flags & FLAG_MID_DOWN);
        case FIELD_ALT_DOWN_Q: return logic::push(flags & FLAG_ALT_DOWN);
        case FIELD_AUX_DOWN_Q: return logic::push(flags & FLAG_AUX_DOWN);
        case FIELD_CTRL_Q: return logic::push(flags & FLAG_CONTROL);
        case FIELD_SHIFT_Q: return logic::push(flags & FLAG_SHIFT);
        case FIELD_ORIENTATION:
            return (r = entry(VALUE_ORIENTATION)) ? r : none::push();
        default: return none::push();
    }
}

void init() {
    using namespace actions;
    datatype::register_(TYPE_EVENT, 0, "event!", {
        impl<SLOT_MAKE>(make),            // make
        UNSUPPORTED,                      // random
        UNSUPPORTED,                      // reflect
        UNSUPPORTED,                      // to
        impl<SLOT_FORM>(form),            // form
        impl<SLOT_MOLD>(mold),            // mold
        impl<SLOT_EVAL_PATH>(eval_path),  // eval-path
        UNSUPPORTED,                      // (empty)
        impl<SLOT_COMPARE>(compare),      // compare
        UNSUPPORTED,                      // absolute
        UNSUPPORTED,                      // add
        UNSUPPORTED,                      // divide
        UNSUPPORTED,                      // multiply
        UNSUPPORTED,                      // negate
        UNSUPPORTED,                      // power
        UNSUPPORTED,                      // remainder
        UNSUPPORTED,                      // round
        UNSUPPORTED,                      // subtract
        UNSUPPORTED,                      // even?
        UNSUPPORTED,                      // odd?
        UNSUPPORTED,                      // and~
        UNSUPPORTED,                      // complement
        UNSUPPORTED,                      // or~
        UNSUPPORTED,                      // xor~
        UNSUPPORTED,                      // append
        UNSUPPORTED,                      // at
        UNSUPPORTED,                      // back
        UNSUPPORTED,                      // change
        UNSUPPORTED,                      // clear
        UNSUPPORTED,                      // copy
        UNSUPPORTED,                      // find
        UNSUPPORTED,                      // head
        UNSUPPORTED,                      // head?
        UNSUPPORTED,                      // index?
        UNSUPPORTED,                      // insert
        UNSUPPORTED,                      // length?
        UNSUPPORTED,                      // move
        UNSUPPORTED,                      // next
        impl<SLOT_PICK>(pick),            // pick
        UNSUPPORTED,                      // poke
        UNSUPPORTED,                      // put
        UNSUPPORTED,                      // remove
        UNSUPPORTED,                      // reverse
        UNSUPPORTED,                      // select
        UNSUPPORTED,                      // sort
        UNSUPPORTED,                      // skip
        UNSUPPORTED,                      // swap
        UNSUPPORTED,                      // tail
        UNSUPPORTED,                      // tail?
        UNSUPPORTED,                      // take
        UNSUPPORTED,                      // trim
        UNSUPPORTED,                      // create
        UNSUPPORTED,                      // close
        UNSUPPORTED,                      // delete
        UNSUPPORTED,                      // modify
        UNSUPPORTED,                      // open
        UNSUPPORTED,                      // open?
        UNSUPPORTED,                      // query
        UNSUPPORTED,                      // read
        UNSUPPORTED,                      // rename
        UNSUPPORTED,                      // update
        UNSUPPORTED,                      // write
    });
}

}  // namespace kiv::event
