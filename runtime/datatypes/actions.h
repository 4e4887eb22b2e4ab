#pragma once
// Actions: the sixty-two generic operations whose implementation depends on
// the datatype of a value, and the registry that maps (datatype, slot) to an
// implementation.
//
// Each slot has one implementation signature (slot_fn below). A datatype
// registers a row of 62 entries: an implementation, UNSUPPORTED, or INHERITED
// (the parent's entry, resolved once at registration). Each slot also has a
// dispatcher, `name_star`, called with one integer per refinement of the
// action's spec (-1 when unused, else the position of its argument cell from
// stack::arguments) — the convention the interpreter uses for action! values.
#include <cstdint>
#include <initializer_list>

#include "runtime/value.h"

namespace kiv {

enum action_slot : uint32_t {
    SLOT_MAKE = 1, SLOT_RANDOM, SLOT_REFLECT, SLOT_TO, SLOT_FORM, SLOT_MOLD,
    SLOT_EVAL_PATH, SLOT_EMPTY, SLOT_COMPARE, SLOT_ABSOLUTE, SLOT_ADD, SLOT_DIVIDE,
    SLOT_MULTIPLY, SLOT_NEGATE, SLOT_POWER, SLOT_REMAINDER, SLOT_ROUND, SLOT_SUBTRACT,
    SLOT_EVEN_Q, SLOT_ODD_Q, SLOT_AND_T, SLOT_COMPLEMENT, SLOT_OR_T, SLOT_XOR_T,
    SLOT_APPEND, SLOT_AT, SLOT_BACK, SLOT_CHANGE, SLOT_CLEAR, SLOT_COPY, SLOT_FIND,
    SLOT_HEAD, SLOT_HEAD_Q, SLOT_INDEX_Q, SLOT_INSERT, SLOT_LENGTH_Q, SLOT_MOVE,
    SLOT_NEXT, SLOT_PICK, SLOT_POKE, SLOT_PUT, SLOT_REMOVE, SLOT_REVERSE, SLOT_SELECT,
    SLOT_SORT, SLOT_SKIP, SLOT_SWAP, SLOT_TAIL, SLOT_TAIL_Q, SLOT_TAKE, SLOT_TRIM,
    SLOT_CREATE, SLOT_CLOSE, SLOT_DELETE, SLOT_MODIFY, SLOT_OPEN, SLOT_OPEN_Q,
    SLOT_QUERY, SLOT_READ, SLOT_RENAME, SLOT_UPDATE, SLOT_WRITE,
};
constexpr uint32_t ACTION_SLOTS = 62;
constexpr uint32_t TYPE_TABLE_SIZE = 57;
constexpr uint32_t ACTION_ROW = 256;

// Comparison operator codes of the compare slot.
enum compare_op : int32_t {
    COMP_EQUAL = 0, COMP_NOT_EQUAL, COMP_STRICT_EQUAL, COMP_LESSER, COMP_LESSER_EQUAL,
    COMP_GREATER, COMP_GREATER_EQUAL, COMP_SORT, COMP_CASE_SORT, COMP_SAME,
    COMP_EQUAL_SPELLING, COMP_EQUAL_FOLDED, COMP_FIND,
};
constexpr int32_t COMPARE_INCOMPARABLE = -2;

// Arithmetic and set operation codes.
enum math_op : int32_t {
    OP_ADD = 0, OP_SUB, OP_MUL, OP_DIV, OP_REM, OP_OR, OP_AND, OP_XOR,
    OP_UNIQUE, OP_UNION, OP_INTERSECT, OP_EXCLUDE, OP_DIFFERENCE,
};

namespace actions {

// Implementation signatures, by slot. A `ref` is a cell reference; an absent
// refinement argument is the cell just below stack::arguments (see absent_q).
using stack_fn = void (*)();
using make_fn = kiv_value* (*)(kiv_value* proto, kiv_value* spec, uint32_t type);
using random_fn = void (*)(kiv_value* value, bool seed, bool secure, bool only);
using reflect_fn = void (*)(kiv_value* value, uint32_t field);
using form_fn = int32_t (*)(kiv_value* value, kiv_value* buffer, kiv_value* arg, int32_t part);
using mold_fn = int32_t (*)(kiv_value* value, kiv_value* buffer, bool only, bool all, bool flat,
                            kiv_value* arg, int32_t part, int32_t indent);
using eval_path_fn = kiv_value* (*)(kiv_value* parent, kiv_value* element, kiv_value* value,
                                    kiv_value* path, kiv_value* gparent, kiv_value* p_item,
                                    int32_t index, bool case_, bool get, bool tail, bool notify);
using compare_fn = int32_t (*)(kiv_value* value1, kiv_value* value2, int32_t op);
using value_fn = kiv_value* (*)(kiv_value* value);  // negate, complement, port actions
using round_fn = kiv_value* (*)(kiv_value* n, kiv_value* scale, bool even, bool down,
                                bool half_down, bool floor, bool ceiling, bool half_ceiling);
using test_fn = bool (*)(kiv_value* value);  // even?, odd?
using insert_fn = kiv_value* (*)(kiv_value* series, kiv_value* value, int32_t part, bool only,
                                 int32_t dup, bool append);
using change_fn = kiv_value* (*)(kiv_value* series, kiv_value* value, int32_t part, bool only,
                                 int32_t dup);
using copy_fn = kiv_value* (*)(kiv_value* value, kiv_value* result, kiv_value* part, bool deep,
                               kiv_value* types);
using find_fn = kiv_value* (*)(kiv_value* series, kiv_value* value, kiv_value* part, bool only,
                               bool case_, bool same, bool any, kiv_value* with, kiv_value* skip,
                               bool last, bool reverse, bool tail, bool match);
using length_fn = int32_t (*)(kiv_value* series);
using move_fn = kiv_value* (*)(kiv_value* origin, kiv_value* target, kiv_value* part);
using pick_fn = kiv_value* (*)(kiv_value* series, int32_t index, kiv_value* index_cell);
using poke_fn = kiv_value* (*)(kiv_value* series, int32_t index, kiv_value* value,
                               kiv_value* index_cell);
using put_fn = kiv_value* (*)(kiv_value* series, kiv_value* key, kiv_value* value, bool case_);
using remove_fn = kiv_value* (*)(kiv_value* series, kiv_value* part, kiv_value* key);
using reverse_fn = kiv_value* (*)(kiv_value* series, kiv_value* part, kiv_value* skip);
using select_fn = kiv_value* (*)(kiv_value* series, kiv_value* value, kiv_value* part, bool only,
                                 bool case_, bool same, bool any, kiv_value* with,
                                 kiv_value* skip, bool last, bool reverse);
using sort_fn = kiv_value* (*)(kiv_value* series, bool case_, kiv_value* skip,
                               kiv_value* comparator, kiv_value* part, bool all, bool reverse,
                               bool stable);
using swap_fn = kiv_value* (*)(kiv_value* series1, kiv_value* series2);
using take_fn = kiv_value* (*)(kiv_value* series, kiv_value* part, bool deep, bool last);
using trim_fn = kiv_value* (*)(kiv_value* series, bool head, bool tail, bool auto_, bool lines,
                               bool all, kiv_value* with);
using modify_fn = kiv_value* (*)(kiv_value* target, kiv_value* field, kiv_value* value,
                                 bool case_);
using open_fn = kiv_value* (*)(kiv_value* port, bool new_, bool read, bool write, bool seek,
                               kiv_value* allow);
using read_fn = kiv_value* (*)(kiv_value* source, kiv_value* part, kiv_value* seek, bool binary,
                               bool lines, bool info, kiv_value* as);
using rename_fn = kiv_value* (*)(kiv_value* from, kiv_value* to);
using write_fn = kiv_value* (*)(kiv_value* destination, kiv_value* data, bool binary, bool lines,
                                bool info, bool append, kiv_value* part, kiv_value* seek,
                                kiv_value* allow, kiv_value* as);

// The signature of each slot, so that a row entry is type-checked when made.
template <uint32_t Slot> struct slot_fn { using type = stack_fn; };
template <> struct slot_fn<SLOT_MAKE> { using type = make_fn; };
template <> struct slot_fn<SLOT_RANDOM> { using type = random_fn; };
template <> struct slot_fn<SLOT_REFLECT> { using type = reflect_fn; };
template <> struct slot_fn<SLOT_TO> { using type = make_fn; };
template <> struct slot_fn<SLOT_FORM> { using type = form_fn; };
template <> struct slot_fn<SLOT_MOLD> { using type = mold_fn; };
template <> struct slot_fn<SLOT_EVAL_PATH> { using type = eval_path_fn; };
template <> struct slot_fn<SLOT_COMPARE> { using type = compare_fn; };
template <> struct slot_fn<SLOT_NEGATE> { using type = value_fn; };
template <> struct slot_fn<SLOT_ROUND> { using type = round_fn; };
template <> struct slot_fn<SLOT_EVEN_Q> { using type = test_fn; };
template <> struct slot_fn<SLOT_ODD_Q> { using type = test_fn; };
template <> struct slot_fn<SLOT_COMPLEMENT> { using type = value_fn; };
template <> struct slot_fn<SLOT_APPEND> { using type = insert_fn; };
template <> struct slot_fn<SLOT_CHANGE> { using type = change_fn; };
template <> struct slot_fn<SLOT_CLEAR> { using type = value_fn; };
template <> struct slot_fn<SLOT_COPY> { using type = copy_fn; };
template <> struct slot_fn<SLOT_FIND> { using type = find_fn; };
template <> struct slot_fn<SLOT_INSERT> { using type = insert_fn; };
template <> struct slot_fn<SLOT_LENGTH_Q> { using type = length_fn; };
template <> struct slot_fn<SLOT_MOVE> { using type = move_fn; };
template <> struct slot_fn<SLOT_PICK> { using type = pick_fn; };
template <> struct slot_fn<SLOT_POKE> { using type = poke_fn; };
template <> struct slot_fn<SLOT_PUT> { using type = put_fn; };
template <> struct slot_fn<SLOT_REMOVE> { using type = remove_fn; };
template <> struct slot_fn<SLOT_REVERSE> { using type = reverse_fn; };
template <> struct slot_fn<SLOT_SELECT> { using type = select_fn; };
template <> struct slot_fn<SLOT_SORT> { using type = sort_fn; };
template <> struct slot_fn<SLOT_SWAP> { using type = swap_fn; };
template <> struct slot_fn<SLOT_TAKE> { using type = take_fn; };
template <> struct slot_fn<SLOT_TRIM> { using type = trim_fn; };
template <> struct slot_fn<SLOT_CREATE> { using type = value_fn; };
template <> struct slot_fn<SLOT_CLOSE> { using type = value_fn; };
template <> struct slot_fn<SLOT_DELETE> { using type = value_fn; };
template <> struct slot_fn<SLOT_MODIFY> { using type = modify_fn; };
template <> struct slot_fn<SLOT_OPEN> { using type = open_fn; };
template <> struct slot_fn<SLOT_OPEN_Q> { using type = value_fn; };
template <> struct slot_fn<SLOT_QUERY> { using type = value_fn; };
template <> struct slot_fn<SLOT_READ> { using type = read_fn; };
template <> struct slot_fn<SLOT_RENAME> { using type = rename_fn; };
template <> struct slot_fn<SLOT_UPDATE> { using type = value_fn; };
template <> struct slot_fn<SLOT_WRITE> { using type = write_fn; };

// One entry of the action table.
using code = void (*)();
inline const code UNSUPPORTED = nullptr;
inline const code INHERITED = reinterpret_cast<code>(intptr_t(-1));

// A row entry for slot S, checked against the slot's signature.
template <uint32_t S>
code impl(typename slot_fn<S>::type f) {
    return reinterpret_cast<code>(f);
}

// The action table: ACTION_ROW entries per datatype id, slots 1 to 62.
extern code* table;

inline code entry(uint32_t type, uint32_t slot) { return table[type * ACTION_ROW + slot - 1]; }

// What a length? implementation answers when it has written its result into
// the result slot itself (a port's actor may answer any value).
constexpr int32_t RESULT_IN_PLACE = INT32_MIN;

// The implementation for a slot as seen from a value (ports redirect their
// I/O slots to their actor); raises `expect-arg` when unsupported.
code port_or_unsupported(uint32_t type, const kiv_value* value, uint32_t slot);
inline code get_action_ptr_from(uint32_t type, const kiv_value* value, uint32_t slot) {
    code c = type == TYPE_PORT ? nullptr : entry(type, slot);
    return c ? c : port_or_unsupported(type, value, slot);
}
inline code get_action_ptr_of(const kiv_value* value, uint32_t slot) {
    return get_action_ptr_from(type_of(value), value, slot);
}
code get_action_ptr(uint32_t slot);  // for the current call's first argument
template <uint32_t S>
typename slot_fn<S>::type get(const kiv_value* value) {
    return reinterpret_cast<typename slot_fn<S>::type>(get_action_ptr_of(value, S));
}

// The slot 7 lookup of path evaluation, with its own errors.
eval_path_fn get_path_action(kiv_value* value, kiv_value* path, kiv_value* element,
                             int32_t index);

// Dispatchers, one per slot (none for slots 7, 8 and 9, which have their own
// entries below). `refs` holds one integer per refinement of the action.
using dispatcher = void (*)(const int32_t* refs);
extern dispatcher dispatch_table[ACTION_SLOTS + 1];  // entry k: slot k; 0 and 8 empty
void init();

// The refinement argument cell at a position, or the absent cell below
// stack::arguments.
kiv_value* ref_arg(int32_t position);
bool absent_q(const kiv_value* ref);

// Typed entries: the same lookup for callers holding cells.
int32_t form_typed(kiv_value* value, kiv_value* buffer, kiv_value* arg, int32_t part);
int32_t mold_typed(kiv_value* value, kiv_value* buffer, bool only, bool all, bool flat,
                   kiv_value* arg, int32_t part, int32_t indent);
kiv_value* eval_path_typed(kiv_value* parent, kiv_value* element, kiv_value* value,
                           kiv_value* path, kiv_value* gparent, kiv_value* p_item,
                           int32_t index, bool case_, bool get, bool tail, bool notify);

// Comparison: the dispatcher's boolean, the comparison natives' logic! result
// and the raw three-way result.
bool compare(kiv_value* value1, kiv_value* value2, int32_t op);
void compare_logic(int32_t op);
int32_t compare_values(kiv_value* value1, kiv_value* value2, int32_t op);

// Raises `expect-arg` for a value of the type: the called function's word,
// the datatype, and the word of the called function's argument at
// `position`.
[[noreturn]] void fire_expect_arg(uint32_t type, uint32_t position);
// Raises an error whose first argument is the called function's word and
// whose second is a datatype.
[[noreturn]] void fire_with_call(uint32_t id, uint32_t type);
// Raises `not-related` naming the action itself, whatever word called it,
// and the datatype.
[[noreturn]] void fire_not_related(const char* action, uint32_t type);
// The refinement! word of a name, unbound (for error arguments).
kiv_value refinement_word(const char* name);

// Index argument of pick and poke.
int32_t get_index_arg(const kiv_value* index);

// Fast paths: integer, float and block cases computed without dispatch; any
// other operands go through the dispatchers inside a native frame named by
// `word`. Each returns the cell holding the result.
enum nav_op : int32_t {
    NAV_LENGTH = 1, NAV_INDEX, NAV_HEAD_Q, NAV_TAIL_Q, NAV_NEXT, NAV_BACK, NAV_HEAD, NAV_TAIL,
};
kiv_value* fast_math_op(int32_t op, const kiv_value* word, const kiv_value* left,
                        const kiv_value* right);
kiv_value* fast_math_op_int(int32_t op, const kiv_value* word, const kiv_value* left, int32_t n);
kiv_value* fast_math_op_top(int32_t op, const kiv_value* word, const kiv_value* right);
kiv_value* fast_math_op_top_int(int32_t op, const kiv_value* word, int32_t n);
kiv_value* fast_compare_op(int32_t op, const kiv_value* word, const kiv_value* left,
                           const kiv_value* right);
kiv_value* fast_compare_op_int(int32_t op, const kiv_value* word, const kiv_value* left,
                               int32_t n);
bool fast_compare_cond(int32_t op, const kiv_value* word, const kiv_value* left,
                       const kiv_value* right, bool expected);
bool fast_compare_cond_int(int32_t op, const kiv_value* word, const kiv_value* left, int32_t n,
                           bool expected);
bool fast_compare_bool(int32_t op, const kiv_value* word, const kiv_value* left,
                       const kiv_value* right);
bool fast_compare_bool_int(int32_t op, const kiv_value* word, const kiv_value* left, int32_t n);
kiv_value* fast_compare_top(int32_t op, const kiv_value* word, const kiv_value* right);
kiv_value* fast_compare_top_int(int32_t op, const kiv_value* word, int32_t n);
kiv_value* fast_block_pick(const kiv_value* value, int32_t index, const kiv_value* word);
kiv_value* fast_series_nav(const kiv_value* value, int32_t op, const kiv_value* word);

}  // namespace actions

namespace datatype {

struct entry {
    const char* name;      // with the final "!"
    uint32_t name_length;  // without it
    kiv_value word;        // the word of the full name, once words exist
};
extern entry* table;
extern uint32_t top_id;  // highest registered id

// Registers a datatype's row: one entry per slot, 1 to 62.
void register_(uint32_t id, uint32_t parent, const char* name,
               std::initializer_list<actions::code> row);
void register_row(uint32_t id, uint32_t parent, const char* name, const actions::code* row,
                  uint32_t count);
// Allocates the datatype and action tables.
void init_tables();
// The name of a datatype id ("money!"), registered or not; null for 0 and
// ids past the last.
const char* id_name(uint32_t id);
// Makes the word of every registered datatype's name, once words exist.
void load_words();

kiv_value* push(uint32_t type);
kiv_value* make_at(kiv_value* cell, uint32_t type);
void init();

}  // namespace datatype

namespace natives {
constexpr uint32_t TABLE_SIZE = 120;
using native_fn = void (*)(bool check, const int32_t* refs);
extern native_fn* table;
extern uint32_t count;  // registered so far
void register_(std::initializer_list<native_fn> list);
}  // namespace natives

}  // namespace kiv
