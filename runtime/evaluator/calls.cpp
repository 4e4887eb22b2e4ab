// Function calls: argument lists, argument collection and the calls of the
// four kinds of callables.
#include <array>
#include <cstring>

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/evaluator/natives.h"
#include "runtime/evaluator/quick_ops.h"
#include "runtime/exits.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/system.h"

namespace kiv::interpreter {

namespace {

// Argument kinds, in bits 20-21 of an argument typeset's header.
enum arg_kind : uint32_t { ARG_EVAL = 0, ARG_GET = 1, ARG_LIT = 2, ARG_RETURN = 3 };
constexpr uint32_t KIND_SHIFT = 20;
constexpr uint32_t MAX_REFINEMENTS = 64;

uint32_t kind_of(const kiv_value* ts) { return (ts->header >> KIND_SHIFT) & 3; }

kiv_value* aux_cell(const kiv_value* callable, uint32_t cell) { return function::extra_cell_of(callable, cell); }

uint32_t base_type(const kiv_value* callable) {
    uint32_t t = type_of(callable);
    return t == TYPE_OP ? op_wrapped_type(callable) : t;
}

bool is_function(const kiv_value* c) { return base_type(c) == TYPE_FUNCTION || base_type(c) == TYPE_ROUTINE; }

// Appends the typeset of an argument: its type block's types, or every type
// but unset! without one.
void add_argument(kiv_value* list, uint32_t kind, const kiv_value* types) {
    kiv_value* ts = types && block::ks_length_q(types) > 0 ? typeset::make_from_block(list, types)
                                                            : typeset::make_default_in(list);
    ts->header |= kind << KIND_SHIFT;
}

int32_t resolved(const char* name) { return symbol::resolve(symbol::make(name)); }

}  // namespace

node_id preprocess_spec(const kiv_value* callable) {
    kiv_value spec{TYPE_BLOCK, 0, callable->data2, 0};
    bool fn = is_function(callable);
    // Built off the stack: an operator's left operand waits just above it.
    kiv_value list_cell{TYPE_UNSET, 0, 0, 0};
    kiv_value* list = block::make_at(&list_cell, int32_t(block::length_all(&spec)) + 1);
    int32_t refinements = 0, locals = 0;
    int32_t local = resolved("local"), return_ = resolved("return");
    uint32_t length = block::length_all(&spec);
    for (uint32_t i = 0; i < length; i++) {
        kiv_value v = block::cells(&spec)[i];
        kiv_value* next = i + 1 < length ? block::cells(&spec) + i + 1 : nullptr;
        const kiv_value* types = next && type_of(next) == TYPE_BLOCK ? next : nullptr;
        kiv_value types_copy = types ? *types : none_value;
        switch (type_of(&v)) {
            case TYPE_WORD: case TYPE_GET_WORD: case TYPE_LIT_WORD: {
                uint32_t kind = type_of(&v) == TYPE_WORD ? ARG_EVAL : type_of(&v) == TYPE_GET_WORD ? ARG_GET : ARG_LIT;
                add_argument(list, kind, types ? &types_copy : nullptr);
                break;
            }
            case TYPE_REFINEMENT:
                if (symbol::resolve(word::symbol_of(&v)) == local) {
                    locals = 1;
                    for (uint32_t k = i + 1; k < length; k++) {
                        uint32_t t = type_of(block::cells(&spec) + k);
                        if (t == TYPE_SET_WORD) break;
                        if (t == TYPE_WORD) locals++;
                    }
                    i = length;  // the words after /local are locals, not arguments
                    break;
                }
                refinements++;
                if (!fn) v.data3 = uint32_t(refinements);
                *block::alloc_tail(list) = v;
                break;
            case TYPE_SET_WORD: {
                if (symbol::resolve(word::symbol_of(&v)) != return_) fire(err::SCRIPT, err::script::bad_func_def, &v);
                add_argument(list, ARG_RETURN, nullptr);
                break;
            }
            default:
                break;
        }
    }
    if (fn && locals) integer::make_in(list, locals);
    if (!fn && refinements) integer::make_in(list, refinements);
    return list->data2;
}

namespace {

// apply modes: every argument and refinement state given in order (/all),
// refinements named in the block, and arguments of one cell each (/safer).
constexpr uint32_t APPLY_ALL = 1, APPLY_NAMED = 2, APPLY_SAFER = 4;

// The argument list of a callable, built and kept on its first call. The
// cells are read in place: a pointer held on the native stack pins the
// buffer, and the list is never changed once made.
struct argument_list {
    const kiv_value* items;
    uint32_t length;
};

// A plain argument list: evaluated arguments (no fetched or quoted
// argument, no return:), at most PLAIN_MAX of them, then a function's local
// count or a native's or action's refinements, which a call by a word
// leaves unused with nothing to push. Its arguments are checked by one bit
// test each against a mask of the typeset's datatypes.
constexpr uint32_t PLAIN_MAX = 4;
struct plain_plan {
    int32_t count;  // -1: not plain
    int32_t locals;
    uint32_t branches;  // see literal_branches
    uint64_t masks[PLAIN_MAX];
};

// The lists of recent callables by the node of their auxiliary block, kept
// while no node's buffer changes (see memory::layout_epoch): a call then finds
// its list without the lookups through two nodes. Auxiliary nodes are
// handed out in order, so the slot comes from a multiplicative hash: a
// plain remainder made neighbours 64 nodes apart (append and find) evict
// each other at every call of a loop.
struct recent_list {
    node_id aux;
    uint64_t epoch;
    argument_list list;
    plain_plan plain;
};
constexpr uint32_t RECENT_BITS = 8;
std::array<recent_list, 1u << RECENT_BITS> recent_lists{};

// The typeset's first 64 datatypes as a mask, bit t for datatype t: the
// typeset holds datatype t in bit 0x80 >> (t % 8) of byte t / 8, so each
// byte is reversed in place.
uint64_t type_mask(const kiv_value* ts) {
    static_assert(TYPE_COUNT <= 64);
    uint64_t x;
    std::memcpy(&x, typeset::bits_of(ts), sizeof x);  // byte i in bits 8i..8i+7
    x = ((x >> 4) & 0x0F0F0F0F0F0F0F0Full) | ((x & 0x0F0F0F0F0F0F0F0Full) << 4);
    x = ((x >> 2) & 0x3333333333333333ull) | ((x & 0x3333333333333333ull) << 2);
    x = ((x >> 1) & 0x5555555555555555ull) | ((x & 0x5555555555555555ull) << 1);
    return x;
}

plain_plan plan_of(const argument_list& list, bool fn) {
    plain_plan p{0, 0, 0, {}};
    for (uint32_t i = 0; i < list.length; i++) {
        const kiv_value* item = list.items + i;
        if (type_of(item) == TYPE_INTEGER && i + 1 == list.length) {
            p.locals = integer::get_value(item);
        } else if (type_of(item) == TYPE_TYPESET && kind_of(item) == ARG_EVAL && uint32_t(p.count) < PLAIN_MAX) {
            p.masks[p.count++] = type_mask(item);
        } else if (!fn && type_of(item) == TYPE_REFINEMENT) {
            return p;
        } else {
            return plain_plan{-1, 0, 0, {}};
        }
    }
    return p;
}

// Whether a value's datatype is in a plain plan's mask.
inline bool mask_has(uint64_t mask, const kiv_value* v) {
    uint32_t t = type_of(v);
    return t < TYPE_COUNT && ((mask >> t) & 1);
}

// if, unless and either, whose blocks nearly always follow the condition
// as written: the blocks go on the stack as they are, with no evaluation or
// type check. The frames and stack cells stay as the general way leaves them
// (tracers show their positions). The count of blocks the native takes after
// its condition when its argument types take blocks there; 0 for other
// callables.
uint32_t branches_of(const kiv_value* callable, const plain_plan& plan) {
    if (base_type(callable) != TYPE_NATIVE) return 0;
    natives::native_fn f = natives::table[callable->data1 - 1];
    uint32_t n = f == natives::either ? 2 : f == natives::if_ || f == natives::unless ? 1 : 0;
    if (plan.count != int32_t(n) + 1) return 0;
    for (uint32_t k = 0; k < n; k++)
        if (!((plan.masks[k + 1] >> TYPE_BLOCK) & 1)) return 0;
    return n;
}

[[gnu::noinline]] const recent_list& fill_recent_list(recent_list& recent, const kiv_value* callable) {
    kiv_value* cache = aux_cell(callable, 1);
    if (type_of(cache) != TYPE_BLOCK) {
        node_id n = preprocess_spec(callable);
        cache = aux_cell(callable, 1);
        *cache = kiv_value{TYPE_BLOCK, 0, n, 0};
    }
    series_buffer* b = series::buffer(cache->data2);
    argument_list list{reinterpret_cast<const kiv_value*>(b->offset), series::used_units(b)};
    recent = recent_list{callable->data3, memory::layout_epoch, list, plan_of(list, is_function(callable))};
    recent.plain.branches = branches_of(callable, recent.plain);
    return recent;
}

inline const recent_list& recent_list_of(const kiv_value* callable) {
    recent_list& recent = recent_lists[(callable->data3 * 0x9E3779B1u) >> (32 - RECENT_BITS)];
    if (recent.aux == callable->data3 && recent.epoch == memory::layout_epoch) [[likely]] return recent;
    return fill_recent_list(recent, callable);
}

argument_list argument_list_of(const kiv_value* callable) { return recent_list_of(callable).list; }

// The refinement indexes a native or an action is called with: -1 for every
// refinement until one is used, so that a call without refinements shares
// one constant array.
class refinement_indexes {
public:
    bool used_q(uint32_t ordinal) const { return own_ && index_[ordinal - 1] != -1; }
    void set(uint32_t ordinal, int32_t at) {
        if (!own_) index_.fill(-1);
        own_ = true;
        index_[ordinal - 1] = at;
    }
    const int32_t* data() const { return own_ ? index_.data() : NONE.data(); }

private:
    static constexpr std::array<int32_t, MAX_REFINEMENTS> NONE = [] {
        std::array<int32_t, MAX_REFINEMENTS> a{};
        a.fill(-1);
        return a;
    }();
    std::array<int32_t, MAX_REFINEMENTS> index_;
    bool own_ = false;
};

struct call_state {
    const kiv_value* callable;
    const kiv_value* code;
    const kiv_value* name;
    kiv_value* end;
    bool infix;
    uint32_t flags;
};

// Where an argument's expression must end: /safer keeps it to one cell.
kiv_value* argument_end(const call_state& c, kiv_value* pos) {
    return (c.flags & APPLY_SAFER) && pos + 1 < c.end ? pos + 1 : c.end;
}

// Evaluates the next expression of an apply block onto the stack.
kiv_value* fetch_state(const call_state& c, kiv_value* pos) {
    return eval_next(pos, argument_end(c, pos), c.code, false, true, false);
}

// The word of an argument for error messages: the n-th argument word of the
// spec, counting as the argument list does.
kiv_value argument_word(const kiv_value* callable, uint32_t list_index) {
    kiv_value spec{TYPE_BLOCK, 0, callable->data2, 0};
    uint32_t seen = 0;
    for (uint32_t i = 0; i < block::length_all(&spec); i++) {
        kiv_value v = block::cells(&spec)[i];
        uint32_t t = type_of(&v);
        if (t == TYPE_WORD || t == TYPE_GET_WORD || t == TYPE_LIT_WORD || t == TYPE_REFINEMENT || t == TYPE_SET_WORD) {
            if (seen++ == list_index) return v;
        }
    }
    return none_value;
}

kiv_value call_name(const call_state& c) { return c.name ? *c.name : anon_name; }

[[noreturn]] void fire_no_arg(const call_state& c, uint32_t list_index) {
    kiv_value name = call_name(c), arg = argument_word(c.callable, list_index);
    fire(err::SCRIPT, err::script::no_arg, &name, &arg);
}

// Fetches an argument that is not simply the next expression: one at the end
// of the block, or one of kind :word or 'word.
kiv_value* fetch_special(const call_state& c, const kiv_value* ts, uint32_t list_index, kiv_value* pos) {
    uint32_t kind = kind_of(ts);
    if (pos >= c.end) {
        if (kind == ARG_LIT && typeset::has_q(ts, TYPE_UNSET)) {
            stack::push_value(&unset_value);
            return pos;
        }
        if (!c.flags) fire_no_arg(c, list_index);
        stack::push_value(&none_value);
        return pos;
    }
    if (kind == ARG_GET) {
        stack::push_value(pos);
        return pos + 1;
    }
    kiv_value cell = *pos;
    if (type_of(&cell) == TYPE_PAREN) {
        stack::mark_native(&anon_name);
        eval(&cell, true);
        if (exit_pending_q()) return pos;
        stack::unwind();
    } else if (type_of(&cell) == TYPE_GET_WORD) {
        stack::push_value(_context::get(&cell));
    } else if (type_of(&cell) == TYPE_GET_PATH) {
        eval_path(&cell, pos + 1, c.end, c.code, false, true, true);
    } else {
        stack::push_value(&cell);
    }
    return pos + 1;
}

// Fetches one argument onto the stack; returns the next position.
inline kiv_value* fetch_one(const call_state& c, const kiv_value* ts, uint32_t list_index, kiv_value* pos) {
    if (kind_of(ts) == ARG_EVAL && pos < c.end)
        return eval_next(pos, argument_end(c, pos), c.code, c.infix, true, false);
    return fetch_special(c, ts, list_index, pos);
}

[[noreturn]] void fire_expect_arg(const call_state& c, uint32_t list_index, const kiv_value* value) {
    kiv_value name = call_name(c), arg = argument_word(c.callable, list_index);
    kiv_value dt;
    datatype::make_at(&dt, type_of(value));
    fire(err::SCRIPT, err::script::expect_arg, &name, &dt, &arg);
}

inline void check_type(const call_state& c, const kiv_value* ts, uint32_t list_index, const kiv_value* value) {
    if (!typeset::has_q(ts, type_of(value))) fire_expect_arg(c, list_index, value);
}

// The list position of a refinement named by a word, or -1.
int64_t find_refinement(const argument_list& list, int32_t symbol) {
    int32_t s = symbol::resolve(symbol);
    for (uint32_t i = 0; i < list.length; i++) {
        const kiv_value* item = list.items + i;
        if (type_of(item) == TYPE_REFINEMENT && symbol::resolve(word::symbol_of(item)) == s) return i;
    }
    return -1;
}

// The context slot of each list item: typesets (but return:) and
// refinements take one slot each, in order.
uint32_t slot_of(const argument_list& list, uint32_t index) {
    uint32_t slot = 0;
    for (uint32_t i = 0; i < index; i++) {
        const kiv_value* item = list.items + i;
        if (type_of(item) == TYPE_REFINEMENT || (type_of(item) == TYPE_TYPESET && kind_of(item) != ARG_RETURN))
            slot++;
    }
    return slot;
}

// Evaluates an evaluated argument onto the stack. A word, alone or starting
// operators on numbers (`n - 1`), is computed in place.
inline kiv_value* fetch_evaluated(kiv_value* pos, kiv_value* end, const kiv_value* code) {
    if (type_of(pos) == TYPE_WORD && !tracing())
        if (kiv_value* next = quick_value(pos, end, stack::top)) return next;
    return eval_next(pos, end, code, false, true, false);
}

// The end of a call whose work is done: its frame goes, its result where
// `sub` asks, then the return event.
inline void end_call(const kiv_value* code, kiv_value* pos, const kiv_value* called, bool sub) {
    if (sub) stack::unwind();
    else stack::unwind_last();
    if (tracing()) fire_event(EVT_RETURN, code, pos, called, sub ? stack::get_top() : stack::arguments);
}

// What the walk over the argument list leaves for the rest of the call.
struct collected {
    kiv_value* pos;
    int32_t count;         // arguments pushed for a native or an action
    int32_t locals;        // the local-slot count, 0 without /local
    bool any_refinement;
};

// Walks the argument list in spec order: arguments until the first
// refinement, a slot for each refinement and its arguments (a function's),
// and, in apply /all mode, the refinement states given in the block.
collected collect_in_order(const call_state& c, const argument_list& list, bool fn, bool path,
                           refinement_indexes& refs, kiv_value* pos) {
    collected r{pos, 0, 0, false};
    bool collecting = true;
    for (uint32_t i = 0; i < list.length; i++) {
        const kiv_value* item = list.items + i;
        switch (type_of(item)) {
            case TYPE_TYPESET:
                if (kind_of(item) == ARG_RETURN) break;
                if (!collecting) {
                    if (fn) stack::push_value(&none_value);
                    if (c.flags == APPLY_ALL && !path) {
                        r.pos = fetch_one(c, item, i, r.pos);
                        if (exit_pending_q()) return r;
                        stack::pop(1);
                    }
                    break;
                }
                // An operator's left operand is already there.
                if (!c.infix || r.count != 0) {
                    r.pos = fetch_one(c, item, i, r.pos);
                    if (exit_pending_q()) return r;
                }
                check_type(c, item, i, stack::top - 1);
                r.count++;
                break;
            case TYPE_REFINEMENT:
                r.any_refinement = true;
                collecting = false;
                if ((c.flags & 3) == APPLY_ALL && !path && r.pos < c.end) {
                    // The block gives the refinement's state as a logic!,
                    // which stays as a function's refinement slot.
                    r.pos = fetch_state(c, r.pos);
                    if (exit_pending_q()) return r;
                    kiv_value state = *(stack::top - 1);
                    if (type_of(&state) != TYPE_LOGIC) {
                        kiv_value n = call_name(c), dt, refinement = *item;
                        datatype::make_at(&dt, type_of(&state));
                        fire(err::SCRIPT, err::script::expect_arg, &n, &dt, &refinement);
                    }
                    collecting = logic::get(&state);
                    if (fn) break;
                    stack::pop(1);
                    if (collecting) refs.set(item->data3, r.count);
                    break;
                }
                if (fn) stack::push_value(&false_value);
                break;
            case TYPE_INTEGER:
                r.locals = integer::get_value(item);
                break;
            default:
                break;
        }
    }
    return r;
}

// collect_in_order for a call that names no refinement (no path, no
// apply mode), the most frequent kind: the arguments up to the first
// refinement; then a function gets false for each refinement and none for
// their arguments, and a native or an action needs nothing more.
collected collect_plain(const call_state& c, const argument_list& list, bool fn, kiv_value* pos) {
    collected r{pos, 0, 0, false};
    uint32_t i = 0;
    for (; i < list.length; i++) {
        const kiv_value* item = list.items + i;
        if (type_of(item) != TYPE_TYPESET) break;
        if (kind_of(item) == ARG_RETURN) continue;
        // An operator's left operand is already there.
        if (!c.infix || r.count != 0) {
            r.pos = fetch_one(c, item, i, r.pos);
            if (exit_pending_q()) return r;
        }
        check_type(c, item, i, stack::top - 1);
        r.count++;
    }
    if (!fn) return r;
    for (; i < list.length; i++) {
        const kiv_value* item = list.items + i;
        switch (type_of(item)) {
            case TYPE_TYPESET:
                if (kind_of(item) != ARG_RETURN) stack::push_value(&none_value);
                break;
            case TYPE_REFINEMENT:
                stack::push_value(&false_value);
                break;
            case TYPE_INTEGER:
                r.locals = integer::get_value(item);
                break;
            default:
                break;
        }
    }
    return r;
}

// Where the path's refinements start: after the first word naming the
// callable, or, when it came through an object, the path's own start.
inline uint32_t first_refinement(const kiv_value* path, uint32_t plen, const kiv_value* name) {
    for (uint32_t k = path->data1; k < plen; k++) {
        const kiv_value* at = block::cells(path) + k;
        if (type_of(at) == TYPE_WORD && name && word::symbol_of(at) == word::symbol_of(name)) return k + 1;
    }
    return path->data1;
}

// Refinements named by the path after the callable's own element, or, for
// apply, by the rest of the argument block, with their arguments.
kiv_value* collect_named(const call_state& c, const argument_list& list, bool fn, const kiv_value* path,
                         refinement_indexes& refs, collected& r) {
    kiv_value* pos = r.pos;
    kiv_value* end = c.end;
    bool named = !path;
    kiv_value p = path ? *path : none_value;
    uint32_t plen = path ? block::length_all(&p) : 0;
    uint32_t e = path ? first_refinement(&p, plen, c.name) : 0;
    for (;;) {
        kiv_value element;
        if (path) {
            if (e >= plen) break;
            element = block::cells(&p)[e++];
        } else {
            if (pos >= end) break;
            element = *pos++;
        }
        bool active;
        uint32_t t = type_of(&element);
        if (t == TYPE_GET_WORD) {
            active = logic::truthy(_context::get(&element));
        } else if (path && t == TYPE_WORD) {
            active = true;
        } else if (named && t == TYPE_REFINEMENT) {
            // The expression after the refinement decides.
            active = false;
            if (pos < end) {
                pos = fetch_state(c, pos);
                if (exit_pending_q()) return pos;
                active = logic::truthy(stack::top - 1);
                stack::pop(1);
            }
        } else {
            if (named && !r.any_refinement) break;  // extra values of a call without refinements
            fire(err::SCRIPT, err::script::bad_refine, &element);
        }
        int64_t at = find_refinement(list, word::symbol_of(&element));
        if (at < 0) {
            kiv_value n = call_name(c);
            fire(err::SCRIPT, err::script::no_refine, &n, &element);
        }
        kiv_value* where = path ? &p : &element;
        if (fn) {
            kiv_value* slot = stack::arguments + slot_of(list, uint32_t(at));
            if (logic::truthy(slot)) fire(err::SCRIPT, err::script::dup_refine, where);
            *slot = active ? true_value : false_value;
        } else {
            uint32_t ordinal = list.items[at].data3;
            if (refs.used_q(ordinal)) fire(err::SCRIPT, err::script::dup_refine, where);
            if (active) refs.set(ordinal, r.count);
        }
        for (uint32_t k = uint32_t(at) + 1; k < list.length; k++) {
            const kiv_value* ts = list.items + k;
            // return: may end the last refinement's arguments.
            if (type_of(ts) != TYPE_TYPESET || kind_of(ts) == ARG_RETURN) break;
            if (!active && (c.flags & APPLY_SAFER)) {
                if (pos < end) pos++;  // skipped unevaluated
                continue;
            }
            pos = fetch_one(c, ts, k, pos);
            if (exit_pending_q()) return pos;
            if (!active) {
                stack::pop(1);
                continue;
            }
            check_type(c, ts, k, stack::top - 1);
            if (fn) {
                kiv_value v = *(stack::top - 1);
                stack::pop(1);
                stack::arguments[slot_of(list, k)] = v;
            } else {
                r.count++;
            }
        }
    }
    return pos;
}

// A call through a path whose elements after the callable's own are plain
// words, each naming another refinement whose arguments are all evaluated:
// which list items to fetch, in order, and where each goes, worked out once
// per callable and refinement words instead of finding every refinement and
// counting its slot at each call. Kept while no node's buffer changes (the
// auxiliary node stays the callable's). An entry in use by a call under way
// is not rebuilt by the calls its arguments make.
constexpr uint32_t PLAN_NAMED = 4, PLAN_ARGS = 12, PLAN_SLOTS = 64;
struct path_plan {
    node_id aux;
    uint32_t busy;  // calls under way reading the plan
    uint64_t epoch;
    int32_t symbols[PLAN_NAMED];
    uint8_t named;
    uint8_t base;   // arguments before the first refinement
    uint8_t count;  // arguments in all
    uint8_t items[PLAN_ARGS];  // list index of each argument
    uint8_t slots[PLAN_ARGS];  // a function's slot for each argument
    uint64_t masks[PLAN_ARGS];  // each argument's datatypes (see type_mask)
    // A function's slots after the leading arguments: refinements take
    // false, the named ones true, the others none.
    uint8_t slot_count;
    uint64_t false_slots, true_slots;
    int32_t locals;
    // A native's or an action's refinement indexes.
    std::array<int32_t, MAX_REFINEMENTS> indexes;
};
std::array<path_plan, 64> path_plans{};

// Holds a plan for the time of a call.
struct plan_use {
    path_plan& plan;
    explicit plan_use(path_plan& p) : plan(p) { p.busy++; }
    ~plan_use() { plan.busy--; }
};

bool plan_matches(const path_plan& p, const kiv_value* callable, const kiv_value* words, uint32_t named) {
    if (p.aux != callable->data3 || p.epoch != memory::layout_epoch || p.named != named) return false;
    for (uint32_t k = 0; k < named; k++)
        if (type_of(words + k) != TYPE_WORD || word::symbol_of(words + k) != p.symbols[k]) return false;
    return true;
}

// Adds a refinement's arguments, the list's typesets from `from` on up to
// the next other item (return: may end the last refinement's); false when
// one is not simply evaluated or the plan has no room.
bool plan_arguments(path_plan& p, const argument_list& list, uint32_t from, uint32_t slot) {
    for (uint32_t k = from; k < list.length; k++) {
        const kiv_value* ts = list.items + k;
        if (type_of(ts) != TYPE_TYPESET || kind_of(ts) == ARG_RETURN) break;
        if (kind_of(ts) != ARG_EVAL || p.count == PLAN_ARGS) return false;
        p.items[p.count] = uint8_t(k);
        p.masks[p.count] = type_mask(ts);
        p.slots[p.count++] = uint8_t(slot++);
    }
    return true;
}

// Builds the plan for the refinement words, or returns false when the
// general walk must decide (an unknown or repeated refinement, a get-word,
// another kind of argument, too many of anything).
bool build_plan(path_plan& q, const kiv_value* callable, const argument_list& list, bool fn,
                const kiv_value* words, uint32_t named) {
    if (named > PLAN_NAMED || list.length > PLAN_SLOTS) return false;
    q = path_plan{};
    q.aux = callable->data3;
    q.epoch = memory::layout_epoch;
    q.indexes.fill(-1);
    // The leading arguments.
    uint32_t i = 0;
    for (; i < list.length && type_of(list.items + i) == TYPE_TYPESET; i++) {
        const kiv_value* ts = list.items + i;
        if (kind_of(ts) == ARG_RETURN) continue;
        if (kind_of(ts) != ARG_EVAL || q.count == PLAN_ARGS) return false;
        q.items[q.count] = uint8_t(i);
        q.masks[q.count] = type_mask(ts);
        q.slots[q.count] = q.count;
        q.count++;
    }
    q.base = q.count;
    uint32_t slots = q.base;
    for (; i < list.length; i++) {
        const kiv_value* item = list.items + i;
        if (type_of(item) == TYPE_REFINEMENT) {
            q.false_slots |= uint64_t(1) << (slots - q.base);
            slots++;
        } else if (type_of(item) == TYPE_TYPESET && kind_of(item) != ARG_RETURN) {
            slots++;
        } else if (type_of(item) == TYPE_INTEGER) {
            q.locals = integer::get_value(item);
        }
    }
    q.slot_count = uint8_t(slots - q.base);
    uint64_t seen = 0;
    for (uint32_t k = 0; k < named; k++) {
        const kiv_value* element = words + k;
        if (type_of(element) != TYPE_WORD) return false;
        int64_t at = find_refinement(list, word::symbol_of(element));
        if (at < 0 || (seen >> at) & 1) return false;
        seen |= uint64_t(1) << at;
        q.symbols[k] = word::symbol_of(element);
        if (!fn) q.indexes[list.items[at].data3 - 1] = q.count;  // a function's refinements have no ordinal
        uint32_t slot = slot_of(list, uint32_t(at));
        q.true_slots |= uint64_t(1) << (slot - q.base);
        if (!plan_arguments(q, list, uint32_t(at) + 1, slot + 1)) return false;
    }
    q.named = uint8_t(named);
    return true;
}

// The plan for a call through a path, or null.
path_plan* plan_of_path(const kiv_value* callable, bool fn, const kiv_value* path, const kiv_value* name) {
    uint32_t plen = block::length_all(path);
    uint32_t first = first_refinement(path, plen, name);
    const kiv_value* words = block::cells(path) + first;
    uint32_t named = plen - first;
    uint32_t key = callable->data3 ^ (named ? uint32_t(word::symbol_of(words)) << 6 : 0);
    path_plan& p = path_plans[(key * 0x9E3779B1u) >> 26];
    if (plan_matches(p, callable, words, named)) [[likely]] return &p;
    if (p.busy) return nullptr;
    if (build_plan(p, callable, argument_list_of(callable), fn, words, named)) return &p;
    p.aux = 0;
    return nullptr;
}

// Fetches and checks the plan's n-th argument onto the stack.
kiv_value* fetch_planned(const call_state& c, const path_plan& p, uint32_t n, kiv_value* pos) {
    if (pos >= c.end) fire_no_arg(c, p.items[n]);
    pos = fetch_evaluated(pos, c.end, c.code);
    if (exit_pending_q()) return pos;
    if (!mask_has(p.masks[n], stack::top - 1)) fire_expect_arg(c, p.items[n], stack::top - 1);
    return pos;
}

// collect_in_order and collect_named after a path plan: the same
// arguments fetched in the same order into the same places.
kiv_value* collect_planned(const call_state& c, const path_plan& p, bool fn, kiv_value* pos) {
    for (uint32_t n = 0; n < p.base; n++) {
        pos = fetch_planned(c, p, n, pos);
        if (exit_pending_q()) return pos;
    }
    if (fn) {
        for (uint32_t s = 0; s < p.slot_count; s++) {
            uint64_t bit = uint64_t(1) << s;
            stack::push_value(p.true_slots & bit ? &true_value : p.false_slots & bit ? &false_value : &none_value);
        }
    }
    for (uint32_t n = p.base; n < p.count; n++) {
        pos = fetch_planned(c, p, n, pos);
        if (exit_pending_q()) return pos;
        if (fn) {
            kiv_value v = *(stack::top - 1);
            stack::pop(1);
            stack::arguments[p.slots[n]] = v;
        }
    }
    return pos;
}

// Once the arguments are in: the call event, then a function's locals or
// the native's or action's work.
kiv_value* finish_fetch(const kiv_value* callable, uint32_t type, bool fn, int32_t locals, const int32_t* refs,
                        kiv_value* pos, const kiv_value* code, const kiv_value* name, uint32_t flags) {
    if (tracing()) fire_event(EVT_CALL, code, flags ? nullptr : pos, name, callable);
    if (fn) {
        if (locals > 0) function::init_locals(locals);
        return pos;
    }
    if (type == TYPE_NATIVE) {
        natives::native_fn f = natives::table[callable->data1 - 1];
        if (!f) fire(err::INTERNAL, err::internal::not_done);
        f(false, refs);
    } else {
        actions::dispatch_table[callable->data1](refs);
    }
    return pos;
}

// fetch_args after a path plan, kept out of line so that the frequent
// calls without a path stay lean.
[[gnu::noinline]] kiv_value* fetch_by_plan(const call_state& c, uint32_t type, bool fn, path_plan& plan,
                                           kiv_value* pos) {
    plan_use use(plan);
    pos = collect_planned(c, plan, fn, pos);
    if (exit_pending_q()) return pos;
    return finish_fetch(c.callable, type, fn, plan.locals, plan.indexes.data(), pos, c.code, c.name, 0);
}

// Collects the arguments into the current frame and, for a native or an
// action, performs the call; returns the next position.
kiv_value* fetch_args(const kiv_value* callable, uint32_t type, const argument_list& list, kiv_value* pos,
                      kiv_value* end, const kiv_value* code, const kiv_value* path, const kiv_value* name,
                      uint32_t flags, bool infix) {
    bool fn = type == TYPE_FUNCTION || type == TYPE_ROUTINE;
    refinement_indexes refs;
    call_state c{callable, code, name, end, infix, flags};
    if (path && !flags && !infix && type != TYPE_ROUTINE) {
        if (path_plan* plan = plan_of_path(callable, fn, path, name))
            return fetch_by_plan(c, type, fn, *plan, pos);
    }
    collected r = !path && !flags ? collect_plain(c, list, fn, pos) : collect_in_order(c, list, fn, path, refs, pos);
    pos = r.pos;
    if (exit_pending_q()) return pos;
    if (path || (flags & 3) == APPLY_NAMED) {
        pos = collect_named(c, list, fn, path, refs, r);
        if (exit_pending_q()) return pos;
    }
    return finish_fetch(callable, type, fn, r.locals, refs.data(), pos, code, name, flags);
}

void exec_routine(const kiv_value* routine) {
    kiv_value* code = aux_cell(routine, function::EXTRA_CODE);
    routine::entry f = routine::entry_at(type_of(code) == TYPE_INTEGER ? integer::get_value(code) : 0);
    if (!f) fire(err::INTERNAL, err::internal::not_done);
    f();
}

// Puts the tracing switch back when a call ends, however it ends, unless
// the call switched it on purpose (trace on/off) meanwhile.
struct restore_tracing {
    bool saved = tracing_q;
    uint32_t switches = tracing_switches;
    ~restore_tracing() {
        if (tracing_switches == switches) tracing_q = saved;
    }
};

}  // namespace

void hand_on_routine(const kiv_value* routine, const kiv_value* name) {
    call_state c{routine, nullptr, name, nullptr, false, 0};
    argument_list list = argument_list_of(routine);
    uint32_t n = 0;
    for (uint32_t k = 0; k < list.length; k++) {
        const kiv_value* ts = list.items + k;
        if (type_of(ts) != TYPE_TYPESET || kind_of(ts) == ARG_RETURN) continue;
        check_type(c, ts, k, stack::arguments + n++);
    }
    exec_routine(routine);
}

namespace {

// call_function's steps, inline in the plain call by a word.
[[gnu::always_inline]] inline void run_function(const kiv_value* fn_value, const kiv_value* name, uint32_t callback) {
    // Read in place: the copy is for the events only. The body cell is set
    // when the function is made and never changes.
    kiv_value fn = *fn_value;
    uint32_t header = fn_value->header;
    node_id ctx = fn_value->data1;
    const kiv_value* body = function::extra_cell_of(fn_value, function::EXTRA_BODY);
    restore_tracing restore;
    if (tracing() && callback) tracing_q = false;
    if (header & FUNCTION_TRACE) tracing_q = trace_q;
    if (header & FUNCTION_NO_TRACE) tracing_q = false;
    uint32_t& values = stack::context_values(ctx);
    uint32_t saved_values = values;
    values = stack::index_of(stack::arguments) + 1;
    stack::set_in_func_flag(true);
    if (tracing()) fire_event(EVT_PROLOG, body, nullptr, name, &fn);
    try {
        if (type_of(body) == TYPE_BLOCK) eval(body, true);
        else unset::return_();
    } catch (...) {
        stack::context_values(ctx) = saved_values;
        throw;
    }
    if (sys.pending_exit == LEVEL_RETURN || sys.pending_exit == LEVEL_EXIT) sys.pending_exit = LEVEL_NONE;
    stack::context_values(ctx) = saved_values;
    if (tracing()) fire_event(EVT_EPILOG, body, nullptr, name, &fn);
}

}  // namespace

void call_function(const kiv_value* fn_value, node_id, const kiv_value* name, uint32_t callback) {
    run_function(fn_value, name, callback);
}

kiv_value call_back(const callback_call& c) {
    kiv_value fn = *c.fn;
    kiv_value* saved_top = stack::top;
    kiv_value* saved_arguments = stack::arguments;
    call_frame* saved_frames = stack::ctop;
    stack::mark_func(c.name, fn.data1);
    kiv_value spec{TYPE_BLOCK, 0, fn.data2, 0};
    uint32_t given = 0;
    bool refinements = false, locals = false;
    for (uint32_t i = 0; i < block::length_all(&spec); i++) {
        uint32_t t = type_of(block::cells(&spec) + i);
        if (t == TYPE_REFINEMENT) {
            kiv_value* r = block::cells(&spec) + i;
            if (symbol::resolve(word::symbol_of(r)) == symbol::resolve(symbol::make("local"))) locals = true;
            refinements = true;
            bool filled = c.refinements_given && !locals && given < c.count;
            stack::push_value(filled ? c.args + given++ : &false_value);
        } else if (t == TYPE_WORD || t == TYPE_GET_WORD || t == TYPE_LIT_WORD) {
            bool filled = (c.refinements_given ? !locals : !refinements) && given < c.count;
            stack::push_value(filled ? c.args + given++ : &none_value);
        }
    }
    call_function(&fn, fn.data1, c.name, c.callback_bit);
    if (exit_pending_q()) return none_value;
    kiv_value result = *stack::arguments;
    if (c.moved) *c.moved = c.moved_index < given ? stack::arguments[c.moved_index] : c.args[c.moved_index];
    stack::revert(saved_frames);
    stack::arguments = saved_arguments;
    stack::top = saved_top;
    return result;
}

namespace {

// An operator's right operand onto the stack. A paren, as in
// `(f n - 1) + (f n - 2)`, or a path, as in `x + sine/radians a`, is
// evaluated as the walker does it, without the walk's dispatch.
inline kiv_value* right_operand(kiv_value* pos, kiv_value* end, const kiv_value* code) {
    uint32_t t = type_of(pos);
    if ((t != TYPE_PAREN && t != TYPE_PATH) || tracing()) return eval_next(pos, end, code, true, true, false);
    kiv_value cell = *pos;
    if (t == TYPE_PAREN) {
        eval(&cell, false);  // its block frame leaves the value pushed
        return exit_pending_q() ? pos : pos + 1;
    }
    pos = eval_path(&cell, pos + 1, end, code, false, false, true);
    if (!exit_pending_q() && tracing()) fire_event(EVT_PUSH, code, pos, nullptr, stack::get_top());
    return pos;
}

}  // namespace

bool call_quick_op(const kiv_value* op, int32_t quick, kiv_value*& pos, kiv_value* end, const kiv_value* code,
                   kiv_value* saved_top, bool sub) {
    // Two evaluated arguments, checked against their masks; a copy: the
    // right operand's calls may take over the cache entry.
    const recent_list& recent = recent_list_of(op);
    if (recent.plain.count != 2 || recent.list.length != 2) return false;
    const uint64_t masks[2] = {recent.plain.masks[0], recent.plain.masks[1]};
    system::check_native_stack();
    // As the call starts: evaluating the right operand may change the words.
    kiv_value callable = *op;
    callable.header = op_wrapped_type(op);
    kiv_value called = *pos;
    call_state c{&callable, code, &called, end, true, 0};
    stack::top = saved_top;
    stack::mark_interp_native(pos);
    stack::top = saved_top + 1;
    if (!mask_has(masks[0], saved_top)) fire_expect_arg(c, 0, saved_top);
    kiv_value* next = right_operand(pos + 1, end, code);
    pos = next;
    if (exit_pending_q()) return true;
    if (!mask_has(masks[1], saved_top + 1)) fire_expect_arg(c, 1, saved_top + 1);
    // The right operand may have switched tracing on.
    bool traced = tracing();
    if (traced) fire_event(EVT_CALL, code, next, &called, &callable);
    if (traced || !quick_values(quick, saved_top, saved_top + 1, saved_top)) {
        refinement_indexes none;
        if (callable.header == TYPE_NATIVE) natives::table[callable.data1 - 1](false, none.data());
        else actions::dispatch_table[callable.data1](none.data());
    }
    end_call(code, next, &called, sub);
    return true;
}

namespace {

// Evaluates argument i of a plain call onto the stack and checks its type.
// A word starting operators on numbers (`n - 1`) is computed in place.
inline kiv_value* plain_argument(const kiv_value* callable, const kiv_value* called, const plain_plan& plan, int32_t i,
                                 kiv_value* pos, kiv_value* end, const kiv_value* code) {
    if (pos >= end) fire_no_arg(call_state{callable, code, called, end, false, 0}, uint32_t(i));
    pos = fetch_evaluated(pos, end, code);
    if (exit_pending_q()) return pos;
    const kiv_value* value = stack::top - 1;
    if (!mask_has(plan.masks[i], value))
        fire_expect_arg(call_state{callable, code, called, end, false, 0}, uint32_t(i), value);
    return pos;
}

// Whether the n blocks after the condition (at pos) are literal blocks,
// with no event traced; the general way evaluates them otherwise.
bool literal_branches(uint32_t n, const kiv_value* pos, const kiv_value* end) {
    if (tracing() || end - pos < ptrdiff_t(n)) return false;
    for (uint32_t k = 0; k < n; k++)
        if (type_of(pos + k) != TYPE_BLOCK) return false;
    return true;
}

// A call by a word of a function, native or action with a plain argument
// list, no events traced as it starts: the steps of the general call below
// without the walk over the argument list's kinds. The plan is a copy: a
// call made by an argument may take over the cache entry.
[[gnu::always_inline]] inline kiv_value* call_plain(const kiv_value* callable_in, uint32_t type, const plain_plan plan,
                                                    kiv_value* pos, kiv_value* end, const kiv_value* code, bool sub,
                                                    const kiv_value* name) {
    // As the call starts: evaluating the arguments may change both cells.
    kiv_value callable = *callable_in;
    kiv_value called = *name;
    stack::push_value(&callable);
    if (type == TYPE_FUNCTION) stack::mark_interp_func(name, callable.data1);
    else stack::mark_interp_native(name);
    int32_t i = 0;
    if (uint32_t n = plan.branches) {
        pos = plain_argument(&callable, &called, plan, i++, pos, end, code);
        if (exit_pending_q()) return pos;
        if (literal_branches(n, pos, end)) {
            for (uint32_t k = 0; k < n; k++) stack::push_value(pos++);
            i = plan.count;
        }
    }
    for (; i < plan.count; i++) {
        pos = plain_argument(&callable, &called, plan, i, pos, end, code);
        if (exit_pending_q()) return pos;
    }
    if (tracing()) fire_event(EVT_CALL, code, pos, &called, &callable);
    if (type == TYPE_FUNCTION) {
        if (plan.locals > 0) function::init_locals(plan.locals);
        run_function(&callable, &called, CB_NONE);
    } else if (type == TYPE_NATIVE) {
        natives::native_fn f = natives::table[callable.data1 - 1];
        if (!f) fire(err::INTERNAL, err::internal::not_done);
        f(false, refinement_indexes().data());
    } else {
        actions::dispatch_table[callable.data1](refinement_indexes().data());
    }
    if (exit_pending_q()) return pos;
    end_call(code, pos, &called, sub);
    stack::pop_into_previous();
    return pos;
}

}  // namespace

kiv_value* eval_code(const kiv_value* callable_in, kiv_value* pos, kiv_value* end, const kiv_value* code, bool sub,
                     const kiv_value* path, const kiv_value* name, const kiv_value*, uint32_t flags, bool infix) {
    system::check_native_stack();
    // The callable as the call starts, for what follows the arguments: their
    // evaluation may change the word it came from. An operator is called as
    // the callable it wraps.
    kiv_value callable = *callable_in;
    uint32_t type = base_type(callable_in);
    if (type_of(callable_in) == TYPE_OP) callable.header = type;
    // The call's name as the call starts, for errors and events; the frame
    // reads it in place.
    kiv_value called = name ? *name : anon_name;
    const kiv_value* frame_word = name && type_of(name) == TYPE_WORD ? name : &anon_name;
    kiv_value fname = *frame_word;
    // Until Kiv code runs the callable is read in place, which spares the
    // processor reading back the copy just made.
    const kiv_value* source = callable_in;
    if (tracing()) {
        fire_event(EVT_OPEN, code, pos, nullptr, &fname);
        source = &callable;
        frame_word = &fname;
    }
    // An operator's frame starts at its left operand, which stays counted
    // in the stack around the mark (nothing between allocates).
    if (!infix) stack::push_value(&callable);
    else stack::top--;
    switch (type) {
        case TYPE_NATIVE: case TYPE_ACTION: case TYPE_ROUTINE:
            stack::mark_interp_native(frame_word);
            break;
        case TYPE_FUNCTION:
            stack::mark_interp_func(frame_word, source->data1);
            break;
        default:
            system::runtime_error(system::RT_NO_SWITCH);
    }
    if (infix) stack::top++;
    pos = fetch_args(&callable, type, argument_list_of(source), pos, end, code, path, name ? &called : nullptr,
                     flags, infix);
    if (exit_pending_q()) return pos;
    if (type == TYPE_FUNCTION) call_function(&callable, callable.data1, &fname, CB_NONE);
    else if (type == TYPE_ROUTINE) exec_routine(&callable);
    if (exit_pending_q()) return pos;
    end_call(code, pos, name ? &called : nullptr, sub);
    if (!infix) stack::pop_into_previous();
    return pos;
}

kiv_value* call_path(const kiv_value* callable_in, kiv_value* pos, kiv_value* end, const kiv_value* code,
                     const kiv_value* path, const kiv_value* name) {
    uint32_t type = type_of(callable_in);
    bool fn = type == TYPE_FUNCTION;
    path_plan* plan = nullptr;
    if (!tracing() && type != TYPE_ROUTINE) plan = plan_of_path(callable_in, fn, path, name);
    if (!plan) return eval_code(callable_in, pos, end, code, true, path, name, nullptr, 0, false);
    // eval_code's steps for this case, the plan found before the frame.
    system::check_native_stack();
    kiv_value callable = *callable_in;
    kiv_value called = *name;
    stack::push_value(&callable);
    if (fn) stack::mark_interp_func(name, callable.data1);
    else stack::mark_interp_native(name);
    pos = fetch_by_plan(call_state{&callable, code, &called, end, false, 0}, type, fn, *plan, pos);
    if (exit_pending_q()) return pos;
    if (fn) {
        call_function(&callable, callable.data1, &called, CB_NONE);
        if (exit_pending_q()) return pos;
    }
    end_call(code, pos, &called, true);
    stack::pop_into_previous();
    return pos;
}

kiv_value* call_word(const kiv_value* callable, kiv_value* pos, kiv_value* end, const kiv_value* code, bool sub,
                     const kiv_value* word) {
    uint32_t type = type_of(callable);
    if (!tracing() && type != TYPE_ROUTINE) {
        const recent_list& recent = recent_list_of(callable);
        if (recent.plain.count >= 0) {
            system::check_native_stack();
            return call_plain(callable, type, recent.plain, pos, end, code, sub, word);
        }
    }
    return eval_code(callable, pos, end, code, sub, nullptr, word, nullptr, 0, false);
}

}  // namespace kiv::interpreter
