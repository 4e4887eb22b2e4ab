// The action dispatchers: from the interpreter's refinement positions to an
// implementation's cells and flags.
#include <climits>

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/errors.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"
#include "runtime/stack.h"
#include "runtime/system.h"

namespace kiv::actions {

dispatcher dispatch_table[ACTION_SLOTS + 1];

kiv_value* ref_arg(int32_t position) { return position < 0 ? nullptr : stack::arguments + position; }
bool absent_q(const kiv_value* ref) { return ref == nullptr; }

namespace {

kiv_value* arg(int n) { return stack::arguments + n; }
bool used(int32_t ref) { return ref != -1; }

// Owner notification: an action that changes a series in place tells the
// series' owner before the change, and after it only when there was one. The
// flag test keeps the unowned case to a few loads.
template <class Change>
void told_owner(const char* before, const char* after, kiv_value* new_value, int32_t part, Change change) {
    kiv_value target = *arg(0);
    uint32_t t = type_of(&target);
    node_id key = t == TYPE_OBJECT ? 0 : ownership::key_of(&target);
    bool owned = key && (t == TYPE_IMAGE ? (target.header & ownership::IMAGE_OWNED) != 0
                                         : (series::buffer(key)->flags & SERIES_OWNED) != 0);
    if (!owned) {
        change();
        return;
    }
    kiv_value value = new_value ? *new_value : none_value;
    kiv_value* told = new_value ? &value : nullptr;
    int32_t index = int32_t(target.data1);
    bool notified = ownership::check(&target, symbol::make(before), told, index, part);
    change();
    if (!notified) return;
    // Series put into an owned block belong to its owner too.
    if (series::block_like_q(t)) {
        if (kiv_value* entry = ownership::owner_of(key)) {
            kiv_value owner = entry[0], word = entry[1];
            ownership::set(&target, &owner, &word);
        }
    }
    ownership::check(&target, symbol::make(after), told, index, part);
}

// Stack actions read their operands from the argument stack themselves.
template <uint32_t S>
void stack_action(const int32_t*) {
    reinterpret_cast<stack_fn>(get_action_ptr(S))();
}

template <uint32_t S>
typename slot_fn<S>::type first() {
    return reinterpret_cast<typename slot_fn<S>::type>(get_action_ptr(S));
}

// make and to dispatch on the datatype the first argument names, or on the
// prototype's own type.
template <uint32_t S>
void make_or_to(const int32_t*) {
    kiv_value* proto = arg(0);
    uint32_t type = type_of(proto) == TYPE_DATATYPE ? proto->data1 : type_of(proto);
    auto f = reinterpret_cast<make_fn>(get_action_ptr_from(type, proto, S));
    stack::set_last(f(proto, arg(1), type));
}

void random_star(const int32_t* r) {
    first<SLOT_RANDOM>()(arg(0), used(r[0]), used(r[1]), used(r[2]));
}

void reflect_star(const int32_t*) { first<SLOT_REFLECT>()(arg(0), arg(1)->data2); }

// The /part limit of form and mold: INT_MAX without it; 0 or less makes the
// result an empty string at once.
bool part_limit(int32_t ref, int32_t* limit) {
    *limit = INT_MAX;
    if (!used(ref)) return true;
    *limit = integer::get_value(ref_arg(ref));
    if (*limit > 0) return true;
    string::make_at(stack::arguments, 1);
    return false;
}

// The output string replaces everything above the result slot, so a /part
// argument cell is kept aside first.
template <class Write>
void into_new_string(int32_t part_ref, int32_t limit, Write write) {
    kiv_value part_cell = used(part_ref) ? *ref_arg(part_ref) : kiv_value{};
    kiv_value* part_arg = used(part_ref) ? &part_cell : nullptr;
    stack::keep();
    kiv_value* buffer = string::make_at(stack::push(), 16);
    write(buffer, part_arg);
    if (used(part_ref)) string::truncate_to(series::buffer(buffer->data2), uint32_t(limit));
    stack::set_last(buffer);
}

void form_star(const int32_t* r) {
    int32_t limit;
    if (!part_limit(r[0], &limit)) return;
    into_new_string(r[0], limit, [&](kiv_value* buffer, kiv_value* part_arg) {
        form_typed(arg(0), buffer, part_arg, limit);
    });
}

void mold_star(const int32_t* r) {
    int32_t limit;
    if (!part_limit(r[3], &limit)) return;
    into_new_string(r[3], limit, [&](kiv_value* buffer, kiv_value* part_arg) {
        mold_typed(arg(0), buffer, used(r[0]), used(r[1]), used(r[2]), part_arg, limit, 0);
    });
}

void eval_path_star(const int32_t* r) {
    kiv_value* value = r[0] ? arg(2) : nullptr;
    stack::set_last(eval_path_typed(arg(0), arg(1), value, nullptr, nullptr, nullptr, -1, false,
                                    false, true, false));
}

void negate_star(const int32_t*) { first<SLOT_NEGATE>()(arg(0)); }

void round_star(const int32_t* r) {
    first<SLOT_ROUND>()(arg(0), ref_arg(r[0]), used(r[1]), used(r[2]), used(r[3]), used(r[4]),
                        used(r[5]), used(r[6]));
}

template <uint32_t S>
void test_star(const int32_t*) {
    logic::box(first<S>()(arg(0)));
}

void complement_star(const int32_t*) { stack::set_last(first<SLOT_COMPLEMENT>()(arg(0))); }

// Series with a buffer of their own, which /part may measure.
bool buffered_q(uint32_t t) {
    switch (t) {
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_PATH: case TYPE_LIT_PATH:
        case TYPE_SET_PATH: case TYPE_GET_PATH: case TYPE_HASH: case TYPE_STRING:
        case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF:
        case TYPE_BINARY: case TYPE_VECTOR: case TYPE_MAP:
            return true;
        default:
            return false;
    }
}

// Moves a series cursor that lies past its tail back to the tail.
void clamp_to_tail(kiv_value* s) {
    uint32_t length = series::used_units(series::buffer(s->data2));
    if (s->data1 > length) s->data1 = length;
}

// The count of a /part argument measured on `on`; false when the action has
// nothing to do (the result slot still holds the target).
bool part_count(kiv_value* p, kiv_value* on, bool series_allowed, int32_t* count) {
    if (type_of(p) == TYPE_INTEGER) {
        *count = integer::get_value(p);
    } else if (series_allowed && type_of(p) == type_of(on) && p->data2 == on->data2) {
        clamp_to_tail(p);
        *count = int32_t(p->data1) - int32_t(on->data1);
    } else {
        kiv_value part = refinement_word("part");
        fire(err::SCRIPT, err::script::invalid_refine_arg, &part, p);
    }
    if (*count == 0 || (*count < 0 && on->data1 == 0)) return false;
    if (*count < 0) {
        int32_t head = int32_t(on->data1) + *count;
        if (head < 0) head = 0;
        *count = int32_t(on->data1) - head;
        on->data1 = uint32_t(head);
    }
    return true;
}

bool dup_count(int32_t ref, int32_t* dup) {
    *dup = used(ref) ? integer::get_value(ref_arg(ref)) : 1;
    return *dup >= 1;
}

template <bool Append>
void insert_star(const int32_t* r) {
    kiv_value* target = arg(0);
    kiv_value* value = arg(1);
    if (!Append && type_of(target) != TYPE_PORT) clamp_to_tail(target);
    int32_t part = -1, dup;
    if (used(r[0])) {
        kiv_value* p = ref_arg(r[0]);
        if (!buffered_q(type_of(value))) fire(err::SCRIPT, err::script::invalid_part, p);
        clamp_to_tail(value);
        if (!part_count(p, value, type_of(value) != TYPE_PORT, &part)) return;
    }
    if (!dup_count(r[2], &dup)) return;
    told_owner(Append ? "append" : "insert", Append ? "appended" : "inserted", value, part, [&] {
        first<Append ? SLOT_APPEND : SLOT_INSERT>()(target, value, part, used(r[1]), dup, Append);
    });
}

void change_star(const int32_t* r) {
    kiv_value* target = arg(0);
    uint32_t t = type_of(target);
    bool fixed = t == TYPE_PORT || t == TYPE_IMAGE;
    int32_t part = -1, dup;
    if (used(r[0])) {
        kiv_value* p = ref_arg(r[0]);
        if (!fixed) clamp_to_tail(target);
        if (fixed && type_of(p) == TYPE_INTEGER) {
            part = integer::get_value(p) < 0 ? 0 : integer::get_value(p);
        } else if (!part_count(p, target, !fixed, &part)) {
            return;
        }
    }
    if (!dup_count(r[2], &dup)) return;
    told_owner("change", "changed", arg(1), part, [&] { first<SLOT_CHANGE>()(target, arg(1), part, used(r[1]), dup); });
}

void clear_star(const int32_t*) {
    told_owner("clear", "cleared", nullptr, -1, [] { first<SLOT_CLEAR>()(arg(0)); });
}

void copy_star(const int32_t* r) {
    kiv_value* types = ref_arg(r[2]);
    if (types && type_of(types) != TYPE_DATATYPE && type_of(types) != TYPE_TYPESET)
        fire_expect_arg(type_of(types), 5);
    kiv_value* result = stack::push();
    stack::set_last(first<SLOT_COPY>()(arg(0), result, ref_arg(r[0]), used(r[1]), types));
}

void find_star(const int32_t* r) {
    stack::set_last(first<SLOT_FIND>()(arg(0), arg(1), ref_arg(r[0]), used(r[1]), used(r[2]),
                                       used(r[3]), used(r[4]), ref_arg(r[5]), ref_arg(r[6]),
                                       used(r[7]), used(r[8]), used(r[9]), used(r[10])));
}

void length_star(const int32_t*) {
    int32_t n = first<SLOT_LENGTH_Q>()(arg(0));
    if (n == RESULT_IN_PLACE) return;
    if (n < 0) none::return_();
    else integer::return_(n);
}

void move_star(const int32_t* r) { stack::set_last(first<SLOT_MOVE>()(arg(0), arg(1), ref_arg(r[0]))); }

void pick_star(const int32_t*) {
    stack::set_last(first<SLOT_PICK>()(arg(0), get_index_arg(arg(1)), arg(1)));
}

void poke_star(const int32_t*) {
    bool port = type_of(arg(0)) == TYPE_PORT;  // a port's actor answers for itself
    told_owner("poke", "poked", arg(2), 1, [] { first<SLOT_POKE>()(arg(0), get_index_arg(arg(1)), arg(2), arg(1)); });
    if (!port) stack::set_last(arg(2));
}

void put_star(const int32_t* r) {
    told_owner("put", "put-ed", arg(2), -1, [r] { stack::set_last(first<SLOT_PUT>()(arg(0), arg(1), arg(2), used(r[0]))); });
}

void remove_star(const int32_t* r) {
    told_owner("remove", "removed", nullptr, -1, [r] { first<SLOT_REMOVE>()(arg(0), ref_arg(r[0]), ref_arg(r[1])); });
}

void reverse_star(const int32_t* r) {
    told_owner("reverse", "reversed", nullptr, -1, [r] { first<SLOT_REVERSE>()(arg(0), ref_arg(r[0]), ref_arg(r[1])); });
}

void select_star(const int32_t* r) {
    stack::set_last(first<SLOT_SELECT>()(arg(0), arg(1), ref_arg(r[0]), used(r[1]), used(r[2]),
                                         used(r[3]), used(r[4]), ref_arg(r[5]), ref_arg(r[6]),
                                         used(r[7]), used(r[8])));
}

void sort_star(const int32_t* r) {
    told_owner("sort", "sorted", nullptr, -1, [r] {
        stack::set_last(first<SLOT_SORT>()(arg(0), used(r[0]), ref_arg(r[1]), ref_arg(r[2]), ref_arg(r[3]),
                                           used(r[4]), used(r[5]), used(r[6])));
    });
}

void swap_star(const int32_t*) {
    told_owner("swap", "swaped", nullptr, -1, [] { first<SLOT_SWAP>()(arg(0), arg(1)); });
}

void take_star(const int32_t* r) {
    told_owner("take", "taken", nullptr, -1, [r] {
        stack::set_last(first<SLOT_TAKE>()(arg(0), ref_arg(r[0]), used(r[1]), used(r[2])));
    });
}

void trim_star(const int32_t* r) {
    told_owner("trim", "trimmed", nullptr, -1, [r] {
        first<SLOT_TRIM>()(arg(0), used(r[0]), used(r[1]), used(r[2]), used(r[3]), used(r[4]), ref_arg(r[5]));
    });
}

template <uint32_t S>
void port_star(const int32_t*) {
    stack::set_last(first<S>()(arg(0)));
}

void modify_star(const int32_t* r) {
    bool port = type_of(arg(0)) == TYPE_PORT;
    first<SLOT_MODIFY>()(arg(0), arg(1), arg(2), used(r[0]));
    if (!port) stack::set_last(arg(0));
}

void open_star(const int32_t* r) {
    stack::set_last(first<SLOT_OPEN>()(arg(0), used(r[0]), used(r[1]), used(r[2]), used(r[3]),
                                       ref_arg(r[4])));
}

void read_star(const int32_t* r) {
    stack::set_last(first<SLOT_READ>()(arg(0), ref_arg(r[0]), ref_arg(r[1]), used(r[2]),
                                       used(r[3]), used(r[4]), ref_arg(r[5])));
}

void rename_star(const int32_t*) { stack::set_last(first<SLOT_RENAME>()(arg(0), arg(1))); }

void write_star(const int32_t* r) {
    stack::set_last(first<SLOT_WRITE>()(arg(0), arg(1), used(r[0]), used(r[1]), used(r[2]),
                                        used(r[3]), ref_arg(r[4]), ref_arg(r[5]), ref_arg(r[6]),
                                        ref_arg(r[7])));
}

}  // namespace

void init() {
    const dispatcher table[ACTION_SLOTS] = {
        make_or_to<SLOT_MAKE>,           // make
        random_star,                     // random
        reflect_star,                    // reflect
        make_or_to<SLOT_TO>,             // to
        form_star,                       // form
        mold_star,                       // mold
        eval_path_star,                  // eval-path
        nullptr,                         // (empty)
        nullptr,                         // compare: see actions::compare
        stack_action<SLOT_ABSOLUTE>,     // absolute
        stack_action<SLOT_ADD>,          // add
        stack_action<SLOT_DIVIDE>,       // divide
        stack_action<SLOT_MULTIPLY>,     // multiply
        negate_star,                     // negate
        stack_action<SLOT_POWER>,        // power
        stack_action<SLOT_REMAINDER>,    // remainder
        round_star,                      // round
        stack_action<SLOT_SUBTRACT>,     // subtract
        test_star<SLOT_EVEN_Q>,          // even?
        test_star<SLOT_ODD_Q>,           // odd?
        stack_action<SLOT_AND_T>,        // and~
        complement_star,                 // complement
        stack_action<SLOT_OR_T>,         // or~
        stack_action<SLOT_XOR_T>,        // xor~
        insert_star<true>,               // append
        stack_action<SLOT_AT>,           // at
        stack_action<SLOT_BACK>,         // back
        change_star,                     // change
        clear_star,                      // clear
        copy_star,                       // copy
        find_star,                       // find
        stack_action<SLOT_HEAD>,         // head
        stack_action<SLOT_HEAD_Q>,       // head?
        stack_action<SLOT_INDEX_Q>,      // index?
        insert_star<false>,              // insert
        length_star,                     // length?
        move_star,                       // move
        stack_action<SLOT_NEXT>,         // next
        pick_star,                       // pick
        poke_star,                       // poke
        put_star,                        // put
        remove_star,                     // remove
        reverse_star,                    // reverse
        select_star,                     // select
        sort_star,                       // sort
        stack_action<SLOT_SKIP>,         // skip
        swap_star,                       // swap
        stack_action<SLOT_TAIL>,         // tail
        stack_action<SLOT_TAIL_Q>,       // tail?
        take_star,                       // take
        trim_star,                       // trim
        port_star<SLOT_CREATE>,          // create
        port_star<SLOT_CLOSE>,           // close
        port_star<SLOT_DELETE>,          // delete
        modify_star,                     // modify
        open_star,                       // open
        port_star<SLOT_OPEN_Q>,          // open?
        port_star<SLOT_QUERY>,           // query
        read_star,                       // read
        rename_star,                     // rename
        port_star<SLOT_UPDATE>,          // update
        write_star,                      // write
    };
    dispatch_table[0] = nullptr;
    for (uint32_t i = 0; i < ACTION_SLOTS; i++) dispatch_table[i + 1] = table[i];
}

// Typed entries -----------------------------------------------------------------

int32_t form_typed(kiv_value* value, kiv_value* buffer, kiv_value* arg, int32_t part) {
    return get<SLOT_FORM>(value)(value, buffer, arg, part);
}

int32_t mold_typed(kiv_value* value, kiv_value* buffer, bool only, bool all, bool flat,
                   kiv_value* arg, int32_t part, int32_t indent) {
    return get<SLOT_MOLD>(value)(value, buffer, only, all, flat, arg, part, indent);
}

kiv_value* eval_path_typed(kiv_value* parent, kiv_value* element, kiv_value* value,
                           kiv_value* path, kiv_value* gparent, kiv_value* p_item,
                           int32_t index, bool case_, bool get, bool tail, bool notify) {
    eval_path_fn f = get_path_action(parent, path, element, index);
    return f(parent, element, value, path, gparent, p_item, index, case_, get, tail, notify);
}

// Comparison --------------------------------------------------------------------

static bool equality_code_q(int32_t op) {
    return op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL ||
           op == COMP_SAME || op == COMP_EQUAL_SPELLING || op == COMP_EQUAL_FOLDED ||
           op == COMP_FIND;
}

bool compare(kiv_value* value1, kiv_value* value2, int32_t op) {
    int32_t r = get<SLOT_COMPARE>(value1)(value1, value2, op);
    if (r == COMPARE_INCOMPARABLE && !equality_code_q(op))
        fire(err::SCRIPT, err::script::invalid_compare, value1, value2);
    switch (op) {
        case COMP_EQUAL: case COMP_STRICT_EQUAL: case COMP_SAME: case COMP_EQUAL_SPELLING:
        case COMP_EQUAL_FOLDED: case COMP_FIND:
            return r == 0;
        case COMP_NOT_EQUAL: return r != 0;
        case COMP_LESSER: return r < 0;
        case COMP_LESSER_EQUAL: return r <= 0;
        case COMP_GREATER: return r > 0;
        case COMP_GREATER_EQUAL: return r >= 0;
        default: system::runtime_error(system::RT_NO_SWITCH);
    }
}

void compare_logic(int32_t op) { logic::box(compare(stack::arguments, stack::arguments + 1, op)); }

static int32_t order(uint32_t a, uint32_t b) { return a < b ? -1 : a > b ? 1 : 0; }

int32_t compare_values(kiv_value* value1, kiv_value* value2, int32_t op) {
    switch (type_of(value1)) {
        case TYPE_LOGIC:
            return int32_t(value1->data1) - int32_t(value2->data1);
        case TYPE_NATIVE: case TYPE_ACTION: case TYPE_OP:
            return order(value1->data1, value2->data1);
        case TYPE_FUNCTION: case TYPE_ROUTINE:
            return order(value1->data3, value2->data3);
        default:
            return get<SLOT_COMPARE>(value1)(value1, value2, op);
    }
}

int32_t get_index_arg(const kiv_value* index) {
    switch (type_of(index)) {
        case TYPE_LOGIC: return logic::get(index) ? 1 : 2;
        case TYPE_INTEGER: case TYPE_CHAR: return integer::get_value(index);
        default: return 0;
    }
}

}  // namespace kiv::actions
