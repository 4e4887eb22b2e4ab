// PARSE: the rule engine.
//
// One call is one `engine`: the current rule block (its index is the next
// rule position), the current input (its index is the input position), the
// result of the last match and the modifier keyword waiting for its rule.
// Each step fetches one rule value and either records a modifier, enters a
// sub-rule block, or matches and hands the result to `resolve`, which gives
// it to the frames waiting on the rule stack, innermost first: a repetition
// may send the engine back to its rule, `not` inverts, `copy` stores, and so
// on; once the result reaches a block's own level the block goes on with its
// next rule (success) or with its next alternative (failure).
//
// Positions are indexes, never addresses: parens may change the rules and
// the input, and the rule stack grows while a grammar nests.
#include "runtime/evaluator/parse.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "runtime/case_tables.h"
#include "runtime/collector.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/evaluator/lexer.h"
#include "runtime/evaluator/native_support.h"
#include "runtime/exits.h"
#include "runtime/stack.h"
#include "runtime/system.h"
#include "runtime/text_scan.h"

namespace kiv::parser {

bool quick_matching = true;

namespace {

kiv_value input_stack{TYPE_NONE, 0, 0, 0};
kiv_value rule_stack{TYPE_NONE, 0, 0, 0};

enum keyword : uint8_t {
    NOT_KEYWORD, KW_ANY, KW_BREAK, KW_COPY, KW_END, KW_FAIL, KW_INTO, KW_OPT, KW_NOT, KW_QUOTE,
    KW_CASE, KW_REJECT, KW_SET, KW_SKIP, KW_SOME, KW_THRU, KW_TO, KW_NONE, KW_BAR, KW_IF,
    KW_REMOVE, KW_WHILE, KW_INSERT, KW_ONLY, KW_COLLECT, KW_KEEP, KW_PICK, KW_AHEAD, KW_AFTER,
    KW_CHANGE, KEYWORD_COUNT
};
constexpr const char* KEYWORD_NAMES[KEYWORD_COUNT] = {
    nullptr, "any", "break", "copy", "end", "fail", "into", "opt", "not", "quote",
    "case", "reject", "set", "skip", "some", "thru", "to", "none", "|", "if",
    "remove", "while", "insert", "only", "collect", "keep", "pick", "ahead", "after",
    "change",
};
// The keyword of each symbol id, NOT_KEYWORD, or UNKNOWN until a word of
// that symbol is first seen: the keywords' own symbols are entered at
// start-up, a case variant on first use.
constexpr uint8_t UNKNOWN = 0xFF;
std::vector<uint8_t> keyword_table;

// Rules where a quick attempt gave up, by block and position, so that the
// next parse does not try them again: a hint only (the general loop is always
// right), which a changed or reused block merely makes slower.
constexpr uint32_t GAVE_UP_SLOTS = 64;  // slot_of gives 6 bits
uint64_t gave_up[GAVE_UP_SLOTS] = {};

enum event : uint32_t { EV_PUSH, EV_POP, EV_FETCH, EV_MATCH, EV_ITERATE, EV_PAREN, EV_END, EVENT_COUNT };
constexpr const char* EVENT_NAMES[EVENT_COUNT] = {"push", "pop", "fetch", "match", "iterate", "paren", "end"};
// The event words, then the frame name of callback calls.
kiv_value words[EVENT_COUNT + 1];

// Rule types of the frames.
enum frame_type : int32_t {
    F_REPEAT = -1, F_TO = -2, F_THRU = -3, F_COPY = -4, F_SET = -5, F_NOT = -6, F_INTO = -7,
    F_REMOVE = -9, F_WHILE = -11, F_COLLECT = -12, F_KEEP = -13, F_AHEAD = -16, F_CHANGE = -17,
    F_CHANGE_ONLY = -18, F_CASE = -19,
};

// Where a collect puts its block when its rule ends.
enum collect_mode : int32_t { COLLECT_PLAIN, COLLECT_SET, COLLECT_INTO, COLLECT_AFTER };

// How a frame took a result: it sent the engine back to its rule, or it
// ended with success or failure.
enum frame_outcome { AGAIN, MATCHED, FAILED };

// The trace callback asked to stop; parse returns the match result then.
struct stop_parse {
    bool match;
};
// An exit (break, continue ...) left a paren or the callback: the argument
// and call stacks are already unwound past the parse call.
struct leave_parse {};

void mark_roots() {
    collector::mark_block(&input_stack);
    collector::mark_block(&rule_stack);
    collector::mark_values(words, words + EVENT_COUNT + 1);
}

// Units from the first to the tail. Units are powers of two: a shift, where
// the general length divides.
inline uint32_t units_of(const kiv_value* s) {
    const series_buffer* b = series::buffer(s->data2);
    return uint32_t(size_t(b->tail - b->offset) >> std::countr_zero(unit_of(b)));
}

inline kiv_value triple(int32_t a, int32_t b, int32_t c) {
    return kiv_value{TYPE_TRIPLE, uint32_t(a), uint32_t(b), uint32_t(c)};
}
inline int32_t first_of(const kiv_value* t) { return int32_t(t->data1); }
inline int32_t second_of(const kiv_value* t) { return int32_t(t->data2); }
inline int32_t third_of(const kiv_value* t) { return int32_t(t->data3); }

void enter_keyword(uint32_t symbol, uint8_t kw) {
    if (symbol >= keyword_table.size()) keyword_table.resize(symbol + 1, UNKNOWN);
    keyword_table[symbol] = kw;
}

[[gnu::noinline]] keyword learn_keyword(uint32_t symbol) {
    uint32_t canonical = uint32_t(symbol::resolve(int32_t(symbol)));
    uint8_t kw = canonical < keyword_table.size() ? keyword_table[canonical] : UNKNOWN;
    if (kw == UNKNOWN) kw = NOT_KEYWORD;
    enter_keyword(symbol, kw);
    return keyword(kw);
}

inline keyword keyword_of(const kiv_value* v) {
    if (type_of(v) != TYPE_WORD) return NOT_KEYWORD;
    uint32_t s = uint32_t(word::symbol_of(v));
    if (s < keyword_table.size() && keyword_table[s] != UNKNOWN) return keyword(keyword_table[s]);
    return learn_keyword(s);
}

kiv_value keyword_word(keyword kw) { return *word::load(KEYWORD_NAMES[kw]); }

bool path_q(uint32_t t) { return t == TYPE_PATH || t == TYPE_SET_PATH || t == TYPE_GET_PATH; }

// Values matched by a counting loop rather than by a frame per iteration.
bool plain_literal_q(const kiv_value* v) {
    uint32_t t = type_of(v);
    return !any_word_q(t) && !path_q(t) && t != TYPE_BLOCK && t != TYPE_PAREN && t != TYPE_INTEGER &&
           t != TYPE_DATATYPE && t != TYPE_TYPESET;
}

// Rules that to and thru look for directly, position by position; the
// others are run at each position in turn.
bool searchable_q(const kiv_value* v) {
    uint32_t t = type_of(v);
    return plain_literal_q(v) || t == TYPE_LIT_WORD || t == TYPE_DATATYPE || t == TYPE_TYPESET;
}

[[noreturn]] void fire_rule(const kiv_value* v) {
    kiv_value a = *v;
    fire(err::SCRIPT, err::script::parse_rule, &a);
}
[[noreturn]] void fire_end(keyword kw) {
    kiv_value a = keyword_word(kw);
    fire(err::SCRIPT, err::script::parse_end, &a);
}

void check_depth(const kiv_value* stack, uint32_t more) {
    if (units_of(stack) + more > STACK_LIMIT) fire(err::SCRIPT, err::script::parse_stack);
}

using text_scan::bit_view;
using text_scan::scan_while;
using text_scan::text_of;
using text_scan::text_view;

class engine {
  public:
    engine(const kiv_value* input, const kiv_value* rules, bool case_, int32_t limit, const kiv_value* callback)
        : rules_(*rules), input_(*input), callback_(*callback), result_(none_value), pending_word_(none_value),
          pending_name_(none_value), limit_(limit), case_(case_),
          tracing_(type_of(callback) == TYPE_FUNCTION) {
        rules_.data1 = std::min(rules_.data1, units_of(&rules_));
        input_.data1 = std::min(input_.data1, units_of(&input_));
        rule_base_ = units_of(&rule_stack);
        input_changed();
    }

    kiv_value run() {
        check_depth(&input_stack, 1);
        *block::alloc_tail(&input_stack) = input_;
        push_cells({triple(int32_t(rules_.data1), int32_t(input_.data1), int32_t(input_length())), rules_});
        trace(EV_PUSH);
        while (!done_) step();
        trace(EV_END);
        return collected_ ? result_ : (match_ ? true_value : false_value);
    }

  private:
    kiv_value rules_;
    kiv_value input_;
    kiv_value callback_;
    kiv_value result_;        // the block of the first top-level collect
    kiv_value pending_word_;  // the target word of a waiting copy, set or collect
    kiv_value pending_name_;  // the keyword or count waiting for its rule
    int32_t limit_;           // where the outermost input ends, -1 at its tail
    uint32_t rule_base_ = 0;
    uint32_t depth_ = 0;      // inputs entered by into
    int32_t collect_top_ = -1;  // rule stack index of the innermost collect frame
    int32_t pending_type_ = 0, pending_min_ = 0, pending_max_ = 0, pending_flag_ = 0;
    bool case_;
    bool tracing_;
    bool match_ = true;
    bool done_ = false;
    bool collected_ = false;
    bool block_input_ = false;

    // The input -------------------------------------------------------------------

    bool block_input() const { return block_input_; }
    bool binary_input() const { return type_of(&input_) == TYPE_BINARY; }
    void input_changed() { block_input_ = series::block_like_q(type_of(&input_)); }
    uint32_t input_length() const { return units_of(&input_); }
    uint32_t end_index() const {
        uint32_t length = input_length();
        return depth_ == 0 && limit_ >= 0 ? std::min(length, uint32_t(limit_)) : length;
    }
    bool at_end() const { return input_.data1 >= end_index(); }
    // Parens and callbacks may shorten the input under the engine.
    void clamp_input() { input_.data1 = std::min(input_.data1, input_length()); }
    bool same_input_q(const kiv_value* v) const {
        return type_of(v) == type_of(&input_) && v->data2 == input_.data2;
    }

    // into: the current input keeps its position in its cell, the element
    // becomes the input.
    void push_input(const kiv_value* series) {
        kiv_value s = *series;
        check_depth(&input_stack, 1);
        block::cells(&input_stack)[units_of(&input_stack) - 1] = input_;
        *block::alloc_tail(&input_stack) = s;
        input_ = s;
        input_changed();
        depth_++;
        clamp_input();
    }
    void pop_input() {
        uint32_t length = units_of(&input_stack);
        block::ks_set_tail(&input_stack, length - 1);
        input_ = block::cells(&input_stack)[length - 2];
        input_changed();
        depth_--;
        clamp_input();
    }

    kiv_value element_at(uint32_t p) const {
        if (block_input()) return block::cells(&input_)[p];
        kiv_value c;
        uint32_t unit = text_of(&input_).at(p);
        return binary_input() ? *integer::make_at(&c, int32_t(unit)) : *char_::make_at(&c, unit);
    }

    kiv_value copy_range(uint32_t from, uint32_t to) {
        kiv_value at = input_;
        at.data1 = from;
        kiv_value count;
        integer::make_at(&count, to > from ? int32_t(to - from) : 0);
        return natives::call_action(SLOT_COPY, {at, count}, {1, -1, -1});
    }

    // Keeps the /part limit on the same element when the outermost input
    // changes size before it.
    void shift_limit(uint32_t at, int32_t delta) {
        if (depth_ == 0 && limit_ >= 0 && at <= uint32_t(limit_)) limit_ = std::max(int32_t(at), limit_ + delta);
    }

    void remove_range(uint32_t from, uint32_t to) {
        if (to <= from) return;
        uint32_t before = input_length();
        kiv_value at = input_;
        at.data1 = from;
        kiv_value count;
        integer::make_at(&count, int32_t(to - from));
        natives::call_action(SLOT_REMOVE, {at, count}, {1, -1});
        shift_limit(from, int32_t(input_length()) - int32_t(before));
    }

    // Replaces `part` units at an index by the value (part 0 inserts it);
    // returns the change in the input's length.
    int32_t modify_at(uint32_t at, uint32_t part, const kiv_value* value, bool only) {
        uint32_t before = input_length();
        kiv_value position = input_;
        position.data1 = at;
        int32_t only_ref = only ? 0 : -1;
        if (part == 0) {
            natives::call_action(SLOT_INSERT, {position, *value}, {-1, only_ref, -1});
        } else {
            kiv_value count;
            integer::make_at(&count, int32_t(part));
            natives::call_action(SLOT_CHANGE, {position, *value, count}, {2, only_ref, -1});
        }
        int32_t delta = int32_t(input_length()) - int32_t(before);
        shift_limit(at, delta);
        return delta;
    }

    // The rules --------------------------------------------------------------------

    uint32_t rules_length() const { return units_of(&rules_); }
    const kiv_value* rule_at(uint32_t i) const { return block::cells(&rules_) + i; }

    uint32_t stack_length() const { return units_of(&rule_stack); }
    kiv_value* stack_cell(uint32_t i) const { return block::cells(&rule_stack) + i; }
    // The k-th cell from the top of the rule stack (1: the top).
    static kiv_value* from_top(uint32_t k) {
        return reinterpret_cast<kiv_value*>(series::buffer(rule_stack.data2)->tail) - k;
    }
    static void drop_cells(uint32_t n) { series::buffer(rule_stack.data2)->tail -= n * sizeof(kiv_value); }

    kiv_value word_value(const kiv_value* w) const {
        kiv_value* cell = _context::get_if(w);
        if (!cell || type_of(cell) == TYPE_UNSET) fire_rule(w);
        return *cell;
    }

    // The value given to insert, change and collect targets: a paren's
    // result or a word's value.
    kiv_value argument_value(const kiv_value* v) {
        uint32_t t = type_of(v);
        if (t == TYPE_PAREN) return eval_paren(v);
        if (path_q(t)) fire_rule(v);
        if (t != TYPE_WORD) return *v;
        kiv_value* cell = _context::get_if(v);
        if (!cell || type_of(cell) == TYPE_UNSET) {
            kiv_value w = *v;
            fire(err::SCRIPT, err::script::no_value, &w);
        }
        return *cell;
    }

    // The position a word holds when it refers to the same input.
    bool input_position(const kiv_value* v, uint32_t* at) const {
        if (type_of(v) != TYPE_WORD || keyword_of(v)) return false;
        const kiv_value* cell = _context::get_if(v);
        if (!cell || !same_input_q(cell)) return false;
        *at = std::min(cell->data1, input_length());
        return true;
    }

    // The position after the rule that starts at i, found without running
    // it (for a count of 0).
    uint32_t skip_rule(uint32_t i) const {
        uint32_t length = rules_length(), trailing = 0;
        auto is = [&](uint32_t k, keyword kw) { return k < length && keyword_of(rule_at(k)) == kw; };
        while (i < length) {
            const kiv_value* v = rule_at(i);
            if (type_of(v) == TYPE_INTEGER) {
                i += type_of(v + 1) == TYPE_INTEGER && i + 1 < length ? 2 : 1;
                continue;
            }
            switch (keyword_of(v)) {
                case KW_ANY: case KW_SOME: case KW_OPT: case KW_WHILE: case KW_NOT: case KW_AHEAD:
                case KW_TO: case KW_THRU: case KW_INTO: case KW_REMOVE:
                    i++;
                    continue;
                case KW_COPY: case KW_SET: case KW_CASE:
                    i += 2;
                    continue;
                case KW_COLLECT:
                    i += is(i + 1, KW_SET) || is(i + 1, KW_INTO) || is(i + 1, KW_AFTER) ? 3 : 1;
                    continue;
                case KW_KEEP:
                    i += is(i + 1, KW_PICK) ? 2 : 1;
                    continue;
                case KW_CHANGE:
                    i += is(i + 1, KW_ONLY) ? 2 : 1;
                    trailing++;
                    continue;
                case KW_INSERT: {
                    i += is(i + 1, KW_ONLY) ? 2 : 1;
                    uint32_t at;
                    if (i + 1 < length && input_position(rule_at(i), &at)) i++;
                    return std::min(length, i + 1 + trailing);
                }
                case KW_QUOTE: case KW_IF:
                    return std::min(length, i + 2 + trailing);
                default:
                    return std::min(length, i + 1 + trailing);
            }
        }
        return length;
    }

    // The rule stack ---------------------------------------------------------------

    void push_cells(std::initializer_list<kiv_value> cells) {
        series_buffer* b = series::buffer(rule_stack.data2);
        size_t bytes = cells.size() * sizeof(kiv_value);
        if (size_t(b->tail - b->offset) + bytes > STACK_LIMIT * sizeof(kiv_value))
            fire(err::SCRIPT, err::script::parse_stack);
        while (b->tail + bytes > end_of(b)) b = memory::expand_series_copy(b, 0);
        std::memcpy(b->tail, cells.begin(), bytes);
        b->tail += bytes;
    }

    void enter_block(const kiv_value* blk) {
        if (quick_enter(blk)) return;
        kiv_value entered = *blk;
        push_cells({triple(int32_t(rules_.data1), int32_t(input_.data1), int32_t(input_length())), rules_});
        rules_ = entered;
        rules_.data1 = std::min(rules_.data1, rules_length());
        trace(EV_PUSH);
    }

    // Pops the innermost block; false when it was the top rule block.
    bool pop_block(bool success) {
        kiv_value saved = *from_top(2);
        kiv_value enclosing = *from_top(1);
        if (!success) input_.data1 = std::min(uint32_t(second_of(&saved)), input_length());
        drop_cells(2);
        bool top = stack_length() == rule_base_;
        if (!top) {
            rules_ = enclosing;
            rules_.data1 = uint32_t(first_of(&saved));  // step() treats a position past the tail as the end
        }
        trace(EV_POP);
        return !top;
    }

    // Ends the innermost block with a result.
    void end_block(bool success) {
        if (pop_block(success)) resolve(success);
        else finish(success);
    }

    void push_frame(int32_t type, uint32_t rule_position) {
        kiv_value first = triple(0, 0, 0);
        kiv_value second = triple(int32_t(rule_position), int32_t(input_.data1), int32_t(input_length()));
        kiv_value third = triple(type, pending_flag_, 0);
        switch (type) {
            case F_REPEAT: case F_WHILE:
                first = triple(pending_min_, pending_max_, 0);
                break;
            case F_TO: case F_THRU:
                first = triple(int32_t(input_.data1), 0, 0);
                break;
            case F_COPY: case F_SET:
                first = pending_word_;
                break;
            case F_COLLECT:
                block::make_at(&first, 8);
                second = pending_word_;
                third.data3 = uint32_t(collect_top_);
                collect_top_ = int32_t(stack_length());
                break;
            case F_CASE:
                first = triple(case_, 0, 0);
                case_ = pending_min_ != 0;
                break;
            default:
                break;
        }
        push_cells({first, second, third});
        trace(EV_PUSH);
    }

    void drop_frame() {
        drop_cells(3);
        trace(EV_POP);
    }

    // Undoes what a frame changed in the engine, for frames left without a
    // result (break and reject).
    void unwind_frame() {
        kiv_value first = *from_top(3), second = *from_top(2), third = *from_top(1);
        switch (first_of(&third)) {
            case F_CASE:
                case_ = first_of(&first) != 0;
                break;
            case F_COLLECT:
                collect_top_ = third_of(&third);
                break;
            case F_INTO:
                pop_input();
                input_.data1 = std::min(uint32_t(second_of(&second)), input_length());
                break;
            default:
                break;
        }
        drop_frame();
    }

    // The main loop ----------------------------------------------------------------

    void set_pending(int32_t type, int32_t min, int32_t max, const kiv_value* name) {
        pending_type_ = type;
        pending_min_ = min;
        pending_max_ = max;
        pending_flag_ = 0;
        pending_name_ = *name;
    }

    [[noreturn]] void fire_pending_end() {
        if (type_of(&pending_name_) == TYPE_INTEGER) fire_rule(&pending_name_);
        kiv_value a = pending_name_;
        fire(err::SCRIPT, err::script::parse_end, &a);
    }

    void step() {
        uint32_t position = rules_.data1;
        series_buffer* b = series::buffer(rules_.data2);
        const kiv_value* at = reinterpret_cast<const kiv_value*>(b->offset) + position;
        if (at >= reinterpret_cast<const kiv_value*>(b->tail)) {
            if (pending_type_) fire_pending_end();
            end_block(true);
            return;
        }
        kiv_value v = *at;
        rules_.data1 = position + 1;
        if (tracing_) emit(EV_FETCH, position);
        keyword kw = keyword_of(&v);
        if (pending_type_) {
            if (kw == KW_BAR) fire_pending_end();
            if (take_pending(position, &v, kw)) return;
        }
        dispatch(&v, kw);
    }

    // Starts the frame of the waiting modifier for the rule at `position`,
    // or matches a literal rule in one go: a repetition by a counting loop,
    // to and thru by a search. True when the rule is done.
    bool take_pending(uint32_t position, const kiv_value* v, keyword kw) {
        int32_t type = pending_type_;
        pending_type_ = 0;
        if (type == F_REPEAT || type == F_TO || type == F_THRU) {
            if (kw == KW_END && type != F_REPEAT) {
                input_.data1 = std::max(input_.data1, end_index());
                resolve(true);
                return true;
            }
            // A word's value that is not a block is matched as a literal.
            kiv_value target = type_of(v) == TYPE_WORD && !kw ? word_value(v) : *v;
            if (type == F_REPEAT && plain_literal_q(&target)) {
                resolve(repeat_literal(&target, pending_min_, pending_max_));
                return true;
            }
            if (type != F_REPEAT && !kw && searchable_q(&target)) {
                resolve(search(&target, type == F_THRU));
                return true;
            }
        }
        if (quick_pending(type, position)) return true;
        push_frame(type, position);
        return false;
    }

    void dispatch(const kiv_value* v, keyword kw) {
        switch (type_of(v)) {
            case TYPE_BLOCK:
                enter_block(v);
                return;
            case TYPE_WORD: {
                if (kw) {
                    keyword_rule(v, kw);
                    return;
                }
                kiv_value value = word_value(v);
                if (type_of(&value) == TYPE_BLOCK) enter_block(&value);
                else resolve(match_here(&value, false));
                return;
            }
            case TYPE_SET_WORD: {
                kiv_value w = *v;
                kiv_value here = input_;
                _context::set(&w, &here);
                resolve(true);
                return;
            }
            case TYPE_GET_WORD: {
                kiv_value value = word_value(v);
                if (!same_input_q(&value)) {
                    kiv_value w = *v;
                    fire(err::SCRIPT, err::script::parse_invalid_ref, &w);
                }
                input_.data1 = std::min(value.data1, input_length());
                resolve(true);
                return;
            }
            case TYPE_PAREN:
                eval_paren(v);
                resolve(true);
                return;
            case TYPE_INTEGER:
                count_rule(v);
                return;
            case TYPE_PATH: case TYPE_SET_PATH: case TYPE_GET_PATH:
                fire_rule(v);
            default:
                resolve(match_here(v, false));
                return;
        }
    }

    // Hands a match result to the waiting frames, innermost first, until
    // one sends the engine back to its rule or the result reaches a block's
    // own level.
    void resolve(bool m) {
        match_ = m;
        trace(EV_MATCH);
        for (;;) {
            if (type_of(from_top(1)) != TYPE_TRIPLE) {
                if (m || next_alternative()) return;
                if (!pop_block(false)) {
                    finish(false);
                    return;
                }
                continue;
            }
            frame_outcome outcome = take_result(m);
            if (outcome == AGAIN) return;
            m = outcome == MATCHED;
            match_ = m;
            drop_frame();
        }
    }

    // Moves to the alternative after the next `|` of the current block,
    // with the input back where the block began.
    bool next_alternative() {
        uint32_t length = rules_length();
        for (uint32_t i = rules_.data1; i < length; i++) {
            keyword kw = keyword_of(rule_at(i));
            if (kw == KW_QUOTE) i++;
            else if (kw == KW_BAR) {
                rules_.data1 = i + 1;
                uint32_t start = uint32_t(second_of(from_top(2)));
                input_.data1 = std::min(start, input_length());
                return true;
            }
        }
        return false;
    }

    void finish(bool m) {
        match_ = m && at_end();
        done_ = true;
    }

    frame_outcome take_result(bool m) {
        kiv_value first = *from_top(3), second = *from_top(2), third = *from_top(1);
        uint32_t start = std::min(uint32_t(second_of(&second)), input_length());
        auto result = [](bool b) { return b ? MATCHED : FAILED; };
        switch (first_of(&third)) {
            case F_REPEAT: case F_WHILE:
                return iterate(m, first_of(&third) == F_WHILE);
            case F_TO: case F_THRU: {
                if (m) {
                    if (first_of(&third) == F_TO) input_.data1 = std::min(uint32_t(first_of(&first)), input_length());
                    return MATCHED;
                }
                uint32_t next = uint32_t(first_of(&first)) + 1;
                if (next > end_index()) {
                    input_.data1 = start;
                    return FAILED;
                }
                from_top(3)->data1 = next;
                input_.data1 = next;
                rules_.data1 = uint32_t(first_of(&second));
                return AGAIN;
            }
            case F_COPY:
                if (m) {
                    kiv_value copy = copy_range(start, input_.data1);
                    _context::set(&first, &copy);
                }
                return result(m);
            case F_SET:
                if (m) {
                    kiv_value value = input_.data1 > start ? element_at(start) : none_value;
                    _context::set(&first, &value);
                }
                return result(m);
            case F_NOT:
                input_.data1 = start;
                return result(!m);
            case F_AHEAD:
                input_.data1 = start;
                return result(m);
            case F_INTO: {
                // `start` was clamped to the inner input, which a paren may
                // have shortened below the outer position.
                bool whole = m && at_end();
                pop_input();
                input_.data1 = std::min(uint32_t(second_of(&second)) + (whole ? 1 : 0), input_length());
                return result(whole);
            }
            case F_REMOVE:
                if (m) {
                    remove_range(start, input_.data1);
                    input_.data1 = start;
                }
                return result(m);
            case F_COLLECT:
                collect_top_ = third_of(&third);
                end_collect(m, &first, &second, second_of(&third));
                return result(m);
            case F_KEEP:
                if (m) keep_range(start, input_.data1, second_of(&third) != 0);
                return result(m);
            case F_CHANGE: case F_CHANGE_ONLY:
                return result(change(m, start, first_of(&third) == F_CHANGE_ONLY));
            case F_CASE:
                case_ = first_of(&first) != 0;
                return result(m);
            default:
                system::runtime_error(system::RT_NO_SWITCH);
        }
    }

    // A repetition's iteration ended. An iteration that matched without
    // consuming would match the same way forever: it ends the repetition
    // (but not a `while`, whose rule may act through parens).
    frame_outcome iterate(bool m, bool while_) {
        kiv_value* counts = from_top(3);
        kiv_value* where = from_top(2);
        int32_t min = first_of(counts), max = second_of(counts), done = third_of(counts);
        uint32_t start = uint32_t(second_of(where)), start_length = uint32_t(third_of(where));
        if (!m) {
            input_.data1 = std::min(start, input_length());
            return done >= min ? MATCHED : FAILED;
        }
        done++;
        bool consumed = int64_t(input_length()) - input_.data1 != int64_t(start_length) - start;
        if (!while_ && !consumed) return MATCHED;
        if (max >= 0 && done >= max) return MATCHED;
        counts->data3 = uint32_t(done);
        where->data2 = input_.data1;
        where->data3 = input_length();
        trace(EV_ITERATE);
        rules_.data1 = uint32_t(first_of(where));
        return AGAIN;
    }

    // Matching ----------------------------------------------------------------------

    static uint32_t fold(uint32_t c) {
        if (c >= 128) return unicode::case_table_lookup(c, true);
        return c - 'a' < 26 ? c - ('a' - 'A') : c;
    }
    // Bytes have no letters: only text input is ever case-folded.
    bool folding() const { return !case_ && !binary_input(); }
    bool same_char(uint32_t a, uint32_t b) const { return a == b || (folding() && fold(a) == fold(b)); }

    // Where a match of the text rule at p ends, -1 when it does not match.
    int64_t match_text(const kiv_value* rule, uint32_t p, uint32_t end) const {
        bool tag = type_of(rule) == TYPE_TAG;
        uint32_t rule_length = units_of(rule);
        uint32_t from = std::min(rule->data1, rule_length);
        uint32_t count = rule_length - from;
        uint32_t need = count + (tag ? 2 : 0);
        if (p > end || end - p < need) return -1;
        text_view in = text_of(&input_), text = text_of(rule);
        uint32_t q = p;
        if (tag && in.at(q++) != '<') return -1;
        for (uint32_t k = 0; k < count; k++)
            if (!same_char(in.at(q + k), text.at(from + k))) return -1;
        q += count;
        if (tag && in.at(q++) != '>') return -1;
        return q;
    }

    static int64_t one_past(bool matched, uint32_t p) { return matched ? int64_t(p) + 1 : -1; }

    // Where the bytes of a binary rule end at p of a binary input.
    int64_t match_bytes(const kiv_value* rule, uint32_t p, uint32_t end) const {
        kiv_value bytes = *rule, here = input_;
        uint32_t count = binary::ks_length_q(&bytes);
        if (p > end || end - p < count) return -1;
        here.data1 = p;
        return binary::compare_bytes(&here, &bytes, COMP_EQUAL, true) == 0 ? int64_t(p) + count : -1;
    }

    // A datatype or typeset on binary input: the lexer's prescan finds the
    // token at p (with the blanks before it) without loading it, and the
    // rule consumes all of it when the token's type fits. Bytes that hold
    // no token, or a malformed one, match no type.
    int64_t match_token(const kiv_value* rule, uint32_t p, uint32_t end) const {
        if (p >= end) return -1;
        int32_t consumed = 0;
        int32_t type = lexer::scan(nullptr, text_of(&input_).base + p, end - p, true, true, false, &consumed,
                                   nullptr, nullptr, nullptr);
        if (type <= 0 || type == TYPE_ERROR || consumed <= 0) return -1;
        bool fits = type_of(rule) == TYPE_DATATYPE ? uint32_t(type) == rule->data1
                                                   : typeset::has_q(rule, uint32_t(type));
        return fits ? int64_t(p) + consumed : -1;
    }

    // Where a match of a rule value at p ends, -1 when it does not match.
    // `literal` compares datatypes, typesets and lit-words as values.
    int64_t match_at(const kiv_value* rule, uint32_t p, bool literal) const {
        uint32_t end = end_index();
        uint32_t t = type_of(rule);
        if (block_input()) {
            if (p >= end) return -1;
            kiv_value element = block::cells(&input_)[p];
            kiv_value r = *rule;
            if (!literal) {
                if (t == TYPE_DATATYPE) return one_past(type_of(&element) == rule->data1, p);
                if (t == TYPE_TYPESET) return one_past(typeset::has_q(rule, type_of(&element)), p);
                if (t == TYPE_LIT_WORD) cell::set_type(&r, TYPE_WORD);
            }
            return one_past(actions::compare(&element, &r, case_ ? COMP_STRICT_EQUAL : COMP_EQUAL), p);
        }
        switch (t) {
            case TYPE_CHAR:
                return one_past(p < end && same_char(text_of(&input_).at(p), char_::get_value(rule)), p);
            case TYPE_INTEGER:  // a byte value
                return one_past(binary_input() && p < end && text_of(&input_).at(p) == rule->data2, p);
            case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF:
                return match_text(rule, p, end);
            case TYPE_BINARY:
                return binary_input() ? match_bytes(rule, p, end) : -1;
            case TYPE_BITSET:
                return one_past(p < end && bit_view(rule).has(text_of(&input_).at(p)), p);
            case TYPE_DATATYPE: case TYPE_TYPESET:
                if (literal) return -1;
                if (!binary_input()) fire(err::SCRIPT, err::script::parse_unsupported);
                return match_token(rule, p, end);
            default:
                return -1;
        }
    }

    bool match_here(const kiv_value* rule, bool literal) {
        int64_t after = match_at(rule, input_.data1, literal);
        if (after < 0) return false;
        input_.data1 = uint32_t(after);
        return true;
    }

    // A repetition of a literal from p: counts the occurrences in a row, up
    // to `max` (-1: no maximum), and answers where they end, -1 when there
    // are fewer than `min`. A literal that matches without consuming (an
    // empty string) matches so every time.
    int64_t literal_run(const kiv_value* rule, uint32_t start, int32_t min, int32_t max) const {
        uint32_t t = type_of(rule);
        if (!block_input() && (t == TYPE_CHAR || t == TYPE_BITSET))
            return char_run(rule, text_of(&input_), start, end_index(), min, max);
        uint32_t limit = max < 0 ? UINT32_MAX : uint32_t(max);
        uint32_t p = start, count = 0;
        bool endless = false;
        while (count < limit) {
            int64_t after = match_at(rule, p, false);
            if (after < 0) break;
            if (uint32_t(after) == p) {
                endless = true;
                break;
            }
            p = uint32_t(after);
            count++;
        }
        return count < uint32_t(min) && !endless ? -1 : int64_t(p);
    }

    // The same for a character or bitset on text or bytes, in one tight loop.
    int64_t char_run(const kiv_value* rule, const text_view& in, uint32_t start, uint32_t end, int32_t min,
                     int32_t max) const {
        uint32_t limit = max < 0 ? UINT32_MAX : uint32_t(max);
        if (start > end || end - start < uint32_t(min)) return -1;
        uint32_t stop = end - start > limit ? start + limit : end;
        uint32_t p;
        if (type_of(rule) == TYPE_BITSET) {
            bit_view bits(rule);
            p = scan_while(in, start, stop, [&](uint32_t c) { return bits.has(c); });
        } else if (!folding()) {
            uint32_t c = char_::get_value(rule);
            p = scan_while(in, start, stop, [&](uint32_t x) { return x == c; });
        } else {
            uint32_t c = char_::get_value(rule), folded = fold(c);
            p = scan_while(in, start, stop, [&](uint32_t x) { return x == c || fold(x) == folded; });
        }
        return p - start < uint32_t(min) ? -1 : int64_t(p);
    }

    bool repeat_literal(const kiv_value* rule, int32_t min, int32_t max) {
        int64_t after = literal_run(rule, input_.data1, min, max);
        if (after < 0) return false;
        input_.data1 = uint32_t(after);
        return true;
    }

    // to and thru of a literal: the first position from p where it matches;
    // answers where the input goes on (before the match for to, after it for
    // thru), -1 when it is nowhere. Characters, classes and texts on text or
    // bytes are scanned for directly.
    int64_t search_from(const kiv_value* rule, uint32_t from, bool thru) const {
        uint32_t end = end_index();
        if (!block_input() && from <= end) {
            text_view in = text_of(&input_);
            uint32_t p = end, width = 1;
            switch (type_of(rule)) {
                case TYPE_CHAR:
                    p = text_scan::find_char(in, char_::get_value(rule), from, end, folding());
                    break;
                case TYPE_BITSET:
                    p = text_scan::find_class(in, bit_view(rule), from, end);
                    break;
                case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_EMAIL: case TYPE_REF:
                case TYPE_BINARY: {
                    if (type_of(rule) == TYPE_BINARY && !binary_input()) return -1;
                    uint32_t length = units_of(rule), start = std::min(rule->data1, length);
                    width = length - start;
                    if (width == 0) return from;
                    p = text_scan::find_text(in, from, end, text_of(rule), start, width, folding());
                    break;
                }
                default:
                    return search_each(rule, from, end, thru);
            }
            if (p >= end) return -1;
            return thru ? p + width : p;
        }
        return search_each(rule, from, end, thru);
    }

    // The same by trying the rule at each position in turn.
    int64_t search_each(const kiv_value* rule, uint32_t from, uint32_t end, bool thru) const {
        for (uint32_t p = from; p <= end; p++) {
            int64_t after = match_at(rule, p, false);
            if (after >= 0) return thru ? after : p;
        }
        return -1;
    }

    bool search(const kiv_value* rule, bool thru) {
        int64_t after = search_from(rule, input_.data1, thru);
        if (after < 0) return false;
        input_.data1 = uint32_t(after);
        return true;
    }

    // Quick matching -------------------------------------------------------------

    // A rule that runs no code (no paren, mark, capture, change, collect or
    // case switch) can do nothing but move the input position, and nothing
    // changes the rules, their words or the input while it runs. Such a rule
    // is matched here without frames on the rule stack and without a step
    // per value: each block it enters is decoded once into a list of rules,
    // words replaced by their values, and the lists are run by plain
    // recursion. They serve that one attempt and are dropped after it. On
    // anything else (and on every error) the quick matcher gives up, having
    // changed nothing, and the general loop runs the rule from the same
    // start: the outcome is the same either way.
    enum quick_outcome { Q_FAILED, Q_MATCHED, Q_UNSURE };

    enum quick_kind : uint8_t {
        QK_BAR,      // `|`: the alternative matched
        QK_UNSURE,   // a rule left to the general loop
        QK_CHAR,     // a character on text or bytes (arg: the code point)
        QK_BITSET,   // a bitset on text or bytes
        QK_BYTE_SET, // a bitset on bytes or Latin-1 text (arg: its byte table)
        QK_BYTE_RUN, // a repetition of that
        QK_LITERAL,  // another value, matched at one position (flag: as a value)
        QK_RUN,      // a repetition of a literal
        QK_FIND,     // to or thru of a literal (flag: thru)
        QK_TO_END,   // to end, thru end
        QK_BLOCK,    // a block (arg: its entry in quick_blocks_)
        QK_REPEAT,   // a repetition of a rule (arg: the rule)
        QK_SEARCH,   // to or thru of a rule (flag: thru; arg: the rule)
        QK_NOT,      // arg: the rule
        QK_AHEAD,    // arg: the rule
        QK_SKIP, QK_END, QK_NONE, QK_FAIL,
    };
    // Where a block goes on when a rule fails, besides the index of the rule
    // that starts the next alternative.
    static constexpr uint32_t QA_FAIL = UINT32_MAX;       // no alternative left
    static constexpr uint32_t QA_MATCH = UINT32_MAX - 1;  // an empty last alternative
    static constexpr uint32_t Q_LAST = UINT32_MAX;        // no next rule

    struct quick_op {
        quick_kind kind;
        bool flag;
        int32_t min, max;
        uint32_t arg;
        uint32_t next = Q_LAST;     // the block's next rule
        uint32_t fail_to = QA_FAIL;
        kiv_value value;
    };
    // A bitset's membership of the numbers 0 to 255, one byte each, for the
    // bitset's state in `bits`. Kept across attempts, checked on each use.
    struct byte_table {
        uint32_t node;
        uint8_t bits[32];
        bool member[256];
    };
    std::vector<byte_table> byte_tables_;
    static constexpr uint32_t BYTE_TABLES = 16;
    struct quick_entry {
        kiv_value block;
        uint32_t first;  // its first rule, Q_LAST when empty; NOT_DECODED before
    };
    static constexpr uint32_t NOT_DECODED = UINT32_MAX - 1;
    static constexpr uint32_t DECODING = UINT32_MAX - 2;
    uint32_t decoding_ = 0;  // blocks being decoded, one inside the other
    std::vector<quick_op> quick_ops_;
    std::vector<quick_entry> quick_blocks_;
    // A block's rules while it is decoded (a nested block decodes above
    // them).
    std::vector<uint32_t> placed_;

    // What an attempt reads often; fixed while it runs.
    struct quick_input {
        const uint8_t* base;  // the text or the bytes
        uint32_t unit;
        uint32_t end;         // where matching stops
        uint32_t room;        // rule-stack cells the general loop would have left
        bool block;
        bool binary;
        bool folding;
    };
    quick_input q_{};

    // Nesting is bounded by the rule-stack cells the general loop would push
    // (so that a grammar too deep for the rule stack still gets its error
    // from the general loop), and kept small for the machine stack.
    static constexpr uint32_t QUICK_CELLS = 600;

    bool quick_begin(uint32_t cells) {
        if (tracing_ || !quick_matching) return false;
        uint32_t used = stack_length() + cells;
        if (used > STACK_LIMIT) return false;
        text_view in = block_input() ? text_view{nullptr, 0} : text_of(&input_);
        // Less the cells of a block holding a single simple rule, which is
        // decoded as that rule and does not count itself.
        uint32_t room = std::min(STACK_LIMIT - used, QUICK_CELLS);
        if (room < 2) return false;
        q_ = {in.base, in.unit, end_index(), room - 2, block_input(), binary_input(), folding()};
        quick_ops_.clear();
        quick_blocks_.clear();
        if (byte_tables_.size() >= BYTE_TABLES) byte_tables_.clear();
        return true;
    }

    // Keys of whole blocks and of rules after a modifier differ in bit 0.
    static uint64_t rule_key(const kiv_value* blk, uint32_t position, bool modified) {
        return (uint64_t(blk->data2) << 33 | uint64_t(position) << 1 | modified) + 1;
    }
    // The block's node comes down to the low bits, which the product spreads
    // over the top ones.
    static uint32_t slot_of(uint64_t key) { return uint32_t(((key ^ key >> 33) * 0x9E3779B97F4A7C15u) >> 58); }
    static bool gave_up_q(uint64_t key) { return gave_up[slot_of(key)] == key; }
    static void give_up(uint64_t key) { gave_up[slot_of(key)] = key; }

    // Decoding ------------------------------------------------------------------------

    // The value a word rule stands for; false when it has none.
    static bool quick_value(const kiv_value* w, kiv_value* value) {
        const kiv_value* cell = _context::get_if(w);
        if (!cell || type_of(cell) == TYPE_UNSET) return false;
        *value = *cell;
        return true;
    }

    // The target of a modifier, as the general loop reads it: a word's value,
    // unless the word is a keyword. False where the loop raises an error.
    static bool quick_target(const kiv_value* v, keyword kw, kiv_value* target) {
        if (kw == KW_BAR) return false;
        if (kw || type_of(v) != TYPE_WORD) {
            *target = *v;
            return true;
        }
        return quick_value(v, target);
    }

    uint32_t add_op(quick_kind kind, uint32_t arg = 0, int32_t min = 0, int32_t max = 0, bool flag = false,
                    const kiv_value* value = &none_value) {
        quick_ops_.push_back(quick_op{kind, flag, min, max, arg, Q_LAST, QA_FAIL, *value});
        return uint32_t(quick_ops_.size() - 1);
    }

    // A bitset matched against units of one byte is read through a byte
    // table of its first 256 bits (it holds still while the attempt runs).
    uint32_t add_bitset(quick_kind kind, const kiv_value* bits, int32_t min = 0, int32_t max = 0) {
        bit_view view(bits);
        uint8_t image[32];
        uint32_t stored = std::min(view.count, uint32_t(sizeof image));
        std::memcpy(image, view.bytes, stored);
        std::memset(image + stored, view.beyond ? 0xFF : 0, sizeof image - stored);
        uint32_t table = 0;
        while (table < byte_tables_.size() &&
               (byte_tables_[table].node != bits->data2 || std::memcmp(byte_tables_[table].bits, image, 32) != 0))
            table++;
        if (table == byte_tables_.size()) {
            byte_table& t = byte_tables_.emplace_back();
            t.node = bits->data2;
            std::memcpy(t.bits, image, 32);
            for (uint32_t c = 0; c < 256; c++) t.member[c] = image[c >> 3] & (0x80 >> (c & 7));
        }
        return add_op(kind, table, min, max, false, bits);
    }

    uint32_t block_entry(const kiv_value* blk) {
        for (uint32_t k = 0; k < quick_blocks_.size(); k++) {
            const kiv_value& b = quick_blocks_[k].block;
            if (b.data2 == blk->data2 && b.data1 == blk->data1) return k;
        }
        quick_blocks_.push_back({*blk, NOT_DECODED});
        return uint32_t(quick_blocks_.size() - 1);
    }

    uint32_t add_literal(const kiv_value* value, bool literal) {
        uint32_t t = type_of(value);
        if (!q_.block) {
            if (t == TYPE_CHAR) return add_op(QK_CHAR, char_::get_value(value));
            if (t == TYPE_BITSET) return q_.unit == 1 ? add_bitset(QK_BYTE_SET, value) : add_op(QK_BITSET, 0, 0, 0, false, value);
            if (t == TYPE_STRING && units_of(value) == value->data1 + 1)
                return add_op(QK_CHAR, text_of(value).at(value->data1));
            // Datatypes on text raise an error, which the general loop gives.
            if ((t == TYPE_DATATYPE || t == TYPE_TYPESET) && !literal && !q_.binary) return add_op(QK_UNSURE);
        }
        return add_op(QK_LITERAL, 0, 0, 0, literal, value);
    }

    // Decodes the block of an entry: its rules, each with the rule that
    // starts the alternative to try when it fails (the one after the next
    // `|`: `|` is never taken as an argument but by quote).
    void decode_block(uint32_t entry) {
        kiv_value blk = quick_blocks_[entry].block;
        quick_blocks_[entry].first = DECODING;
        decoding_++;
        const kiv_value* base = block::cells(&blk);
        uint32_t length = units_of(&blk);
        uint32_t i = std::min(blk.data1, length);
        std::vector<uint32_t>& rules = placed_;
        uint32_t first = uint32_t(rules.size());
        while (i < length) {
            uint32_t op = decode_rule(base, length, i);
            if (rules.size() > first) quick_ops_[rules.back()].next = op;
            rules.push_back(op);
        }
        quick_blocks_[entry].first = rules.size() > first ? rules[first] : Q_LAST;
        uint32_t fail_to = QA_FAIL;
        for (uint32_t n = uint32_t(rules.size()); n-- > first;) {
            quick_op& op = quick_ops_[rules[n]];
            if (op.kind == QK_BAR) fail_to = op.next == Q_LAST ? QA_MATCH : op.next;
            else op.fail_to = fail_to;
        }
        rules.resize(first);
        decoding_--;
    }

    // A block as a rule. A block that holds a single rule which enters no
    // other block is that rule (it fails the same way, and the input goes
    // back in either case); a block of one or two values is decoded at once
    // for that, unless blocks are already being decoded that deep.
    uint32_t block_rule(const kiv_value* blk) {
        uint32_t entry = block_entry(blk);
        if (quick_blocks_[entry].first == NOT_DECODED && decoding_ < 8 && units_of(blk) <= blk->data1 + 2)
            decode_block(entry);
        uint32_t first = quick_blocks_[entry].first;
        if (first < DECODING) {
            const quick_op& op = quick_ops_[first];
            if (op.next == Q_LAST && op.fail_to == QA_FAIL && simple_q(op.kind)) {
                quick_op copy = op;
                quick_ops_.push_back(copy);
                return uint32_t(quick_ops_.size() - 1);
            }
        }
        return add_op(QK_BLOCK, entry);
    }

    static bool simple_q(quick_kind kind) {
        return kind != QK_BAR && kind != QK_UNSURE && kind != QK_BLOCK && kind != QK_REPEAT && kind != QK_SEARCH &&
               kind != QK_NOT && kind != QK_AHEAD;
    }

    // One rule from base[i], its modifiers, counts and arguments included; i
    // moves past it. A rule left to the general loop takes one cell.
    uint32_t decode_rule(const kiv_value* base, uint32_t length, uint32_t& i) {
        const kiv_value* v = base + i++;
        switch (type_of(v)) {
            case TYPE_WORD:
                break;
            case TYPE_BLOCK:
                return block_rule(v);
            case TYPE_INTEGER:
                return decode_count(base, length, i, integer::get_value(v));
            case TYPE_SET_WORD: case TYPE_GET_WORD: case TYPE_PAREN:
            case TYPE_PATH: case TYPE_SET_PATH: case TYPE_GET_PATH:
                return add_op(QK_UNSURE);
            default:
                return add_literal(v, false);
        }
        keyword kw = keyword_of(v);
        switch (kw) {
            case NOT_KEYWORD: {
                kiv_value value;
                if (!quick_value(v, &value)) return add_op(QK_UNSURE);
                if (type_of(&value) == TYPE_BLOCK) return block_rule(&value);
                return add_literal(&value, false);
            }
            case KW_ANY: return decode_repeat(base, length, i, 0, -1);
            case KW_SOME: return decode_repeat(base, length, i, 1, -1);
            case KW_OPT: return decode_repeat(base, length, i, 0, 1);
            case KW_TO: case KW_THRU: return decode_search(base, length, i, kw == KW_THRU);
            case KW_NOT: case KW_AHEAD: {
                if (i >= length || keyword_of(base + i) == KW_BAR) return add_op(QK_UNSURE);
                uint32_t rule = decode_rule(base, length, i);
                return add_op(kw == KW_NOT ? QK_NOT : QK_AHEAD, rule);
            }
            case KW_SKIP: return add_op(QK_SKIP);
            case KW_END: return add_op(QK_END);
            case KW_NONE: return add_op(QK_NONE);
            case KW_FAIL: return add_op(QK_FAIL);
            case KW_BAR: return add_op(QK_BAR);
            case KW_QUOTE: {
                if (i >= length) return add_op(QK_UNSURE);
                kiv_value value = base[i++];
                return add_literal(&value, true);
            }
            default:
                return add_op(QK_UNSURE);
        }
    }

    // A count, or a range of counts, before a rule.
    uint32_t decode_count(const kiv_value* base, uint32_t length, uint32_t& i, int32_t low) {
        int32_t high = low;
        if (i < length && type_of(base + i) == TYPE_INTEGER) high = integer::get_value(base + i++);
        // Bad counts raise errors; a count of 0 passes over its rule unrun.
        if (low < 0 || high < low || high == 0) return add_op(QK_UNSURE);
        return decode_repeat(base, length, i, low, high);
    }

    // A repetition of the rule at base[i], from min to max times (-1: no
    // maximum).
    uint32_t decode_repeat(const kiv_value* base, uint32_t length, uint32_t& i, int32_t min, int32_t max) {
        kiv_value target;
        if (i >= length || !quick_target(base + i, keyword_of(base + i), &target)) return add_op(QK_UNSURE);
        if (plain_literal_q(&target)) {
            i++;
            if (!q_.block && q_.unit == 1 && type_of(&target) == TYPE_BITSET)
                return add_bitset(QK_BYTE_RUN, &target, min, max);
            return add_op(QK_RUN, 0, min, max, false, &target);
        }
        uint32_t rule = decode_rule(base, length, i);
        return add_op(QK_REPEAT, rule, min, max);
    }

    // to and thru of the rule at base[i].
    uint32_t decode_search(const kiv_value* base, uint32_t length, uint32_t& i, bool thru) {
        kiv_value target;
        if (i >= length) return add_op(QK_UNSURE);
        keyword kw = keyword_of(base + i);
        if (!quick_target(base + i, kw, &target)) return add_op(QK_UNSURE);
        if (kw == KW_END || (!kw && searchable_q(&target))) {
            i++;
            return add_op(kw == KW_END ? QK_TO_END : QK_FIND, 0, 0, 0, thru, &target);
        }
        uint32_t rule = decode_rule(base, length, i);
        return add_op(QK_SEARCH, rule, 0, 0, thru);
    }

    // Running ---------------------------------------------------------------------------

    uint32_t quick_char(uint32_t p) const { return string::get_char(q_.base + size_t(p) * q_.unit, q_.unit); }
    bool quick_same(uint32_t a, uint32_t b) const { return a == b || (q_.folding && fold(a) == fold(b)); }

    // A block: the alternatives in turn, with the input back at the start
    // for each. `cells` counts what the general loop would have pushed.
    [[gnu::noinline]] quick_outcome run_block(uint32_t entry, uint32_t& pos, uint32_t cells) {
        if ((cells += 2) > q_.room) return Q_UNSURE;
        if (quick_blocks_[entry].first == NOT_DECODED) decode_block(entry);
        uint32_t k = quick_blocks_[entry].first, start = pos;
        while (k != Q_LAST) {
            if (quick_ops_[k].kind == QK_BAR) return Q_MATCHED;
            quick_outcome r = run_rule(k, pos, cells);
            if (r == Q_MATCHED) {
                k = quick_ops_[k].next;
                continue;
            }
            if (r == Q_UNSURE) return r;
            pos = start;
            k = quick_ops_[k].fail_to;
            if (k == QA_FAIL) return Q_FAILED;
            if (k == QA_MATCH) return Q_MATCHED;
        }
        return Q_MATCHED;
    }

    // One decoded rule at pos: the frequent ones here, the others out of
    // line so that this stays light. (Decoding a block may move the list:
    // the rule is read before anything runs.)
    quick_outcome run_rule(uint32_t k, uint32_t& pos, uint32_t cells) {
        const quick_op& op = quick_ops_[k];
        switch (op.kind) {
            case QK_CHAR:
                if (pos >= q_.end || !quick_same(quick_char(pos), op.arg)) return Q_FAILED;
                pos++;
                return Q_MATCHED;
            case QK_BITSET:
                if (pos >= q_.end || !bit_view(&op.value).has(quick_char(pos))) return Q_FAILED;
                pos++;
                return Q_MATCHED;
            case QK_BYTE_SET:
                if (pos >= q_.end || !byte_tables_[op.arg].member[q_.base[pos]]) return Q_FAILED;
                pos++;
                return Q_MATCHED;
            case QK_BYTE_RUN: {
                uint32_t start = pos, end = q_.end;
                if (start > end || end - start < uint32_t(op.min)) return Q_FAILED;
                uint32_t stop = op.max >= 0 && end - start > uint32_t(op.max) ? start + uint32_t(op.max) : end;
                const uint8_t* text = q_.base;
                const bool* member = byte_tables_[op.arg].member;
                uint32_t p = start;
                while (p < stop && member[text[p]]) p++;
                if (p - start < uint32_t(op.min)) return Q_FAILED;
                pos = p;
                return Q_MATCHED;
            }
            case QK_BLOCK:
                return run_block(op.arg, pos, cells);
            default:
                return run_other(op, pos, cells);
        }
    }

    [[gnu::noinline]] quick_outcome run_other(const quick_op& op, uint32_t& pos, uint32_t cells) {
        switch (op.kind) {
            case QK_LITERAL:
                return quick_literal(&op.value, pos, op.flag);
            case QK_RUN: {
                uint32_t t = type_of(&op.value);
                int64_t after = !q_.block && (t == TYPE_BITSET || t == TYPE_CHAR)
                                    ? char_run(&op.value, {q_.base, q_.unit}, pos, q_.end, op.min, op.max)
                                    : literal_run(&op.value, pos, op.min, op.max);
                if (after < 0) return Q_FAILED;
                pos = uint32_t(after);
                return Q_MATCHED;
            }
            case QK_FIND: {
                int64_t after = search_from(&op.value, pos, op.flag);
                if (after < 0) return Q_FAILED;
                pos = uint32_t(after);
                return Q_MATCHED;
            }
            case QK_TO_END:
                pos = std::max(pos, q_.end);
                return Q_MATCHED;
            case QK_REPEAT:
                return run_repeat(op.arg, op.min, op.max, pos, cells);
            case QK_SEARCH:
                return run_search(op.arg, op.flag, pos, cells);
            case QK_NOT: case QK_AHEAD: {
                bool invert = op.kind == QK_NOT;
                if ((cells += 3) > q_.room) return Q_UNSURE;
                uint32_t start = pos;
                quick_outcome r = run_rule(op.arg, pos, cells);
                if (r == Q_UNSURE) return r;
                pos = start;
                return (r == Q_MATCHED) != invert ? Q_MATCHED : Q_FAILED;
            }
            case QK_SKIP:
                if (pos >= q_.end) return Q_FAILED;
                pos++;
                return Q_MATCHED;
            case QK_END: return pos >= q_.end ? Q_MATCHED : Q_FAILED;
            case QK_NONE: return Q_MATCHED;
            case QK_FAIL: return Q_FAILED;
            default: return Q_UNSURE;
        }
    }

    // A rule value matched as itself at pos.
    quick_outcome quick_literal(const kiv_value* rule, uint32_t& pos, bool literal) const {
        if (!q_.block && type_of(rule) == TYPE_STRING) {
            text_view text = text_of(rule);
            uint32_t length = units_of(rule), from = std::min(rule->data1, length), count = length - from;
            if (pos > q_.end || q_.end - pos < count) return Q_FAILED;
            for (uint32_t k = 0; k < count; k++)
                if (!quick_same(quick_char(pos + k), text.at(from + k))) return Q_FAILED;
            pos += count;
            return Q_MATCHED;
        }
        int64_t after = match_at(rule, pos, literal);
        if (after < 0) return Q_FAILED;
        pos = uint32_t(after);
        return Q_MATCHED;
    }

    // An iteration that matches without consuming ends a repetition.
    quick_outcome run_repeat(uint32_t rule, int32_t min, int32_t max, uint32_t& pos, uint32_t cells) {
        if ((cells += 3) > q_.room) return Q_UNSURE;
        for (int32_t done = 0;;) {
            uint32_t start = pos;
            quick_outcome r = run_rule(rule, pos, cells);
            if (r == Q_UNSURE) return r;
            if (r == Q_FAILED) {
                pos = start;
                return done >= min ? Q_MATCHED : Q_FAILED;
            }
            done++;
            if (pos == start || (max >= 0 && done >= max)) return Q_MATCHED;
        }
    }

    // to and thru: the rule tried at each position in turn up to the end.
    quick_outcome run_search(uint32_t rule, bool thru, uint32_t& pos, uint32_t cells) {
        if ((cells += 3) > q_.room) return Q_UNSURE;
        for (uint32_t p = pos;; p++) {
            uint32_t q = p;
            quick_outcome r = run_rule(rule, q, cells);
            if (r == Q_UNSURE) return r;
            if (r == Q_MATCHED) {
                pos = thru ? q : p;
                return Q_MATCHED;
            }
            if (p + 1 > q_.end) return Q_FAILED;
        }
    }

    // Whether a quick attempt at a block pays for its decoding: the general
    // loop runs a block of one or two values, or of literals only, about as
    // fast (and a repetition inside gets an attempt of its own).
    bool worth_decoding_q(const kiv_value* blk) const {
        uint32_t length = units_of(blk);
        if (length <= blk->data1 + 2) return false;
        const kiv_value* cells = block::cells(blk);
        for (uint32_t i = blk->data1; i < length; i++) {
            uint32_t t = type_of(cells + i);
            if (t == TYPE_BLOCK || (t == TYPE_WORD && keyword_of(cells + i) != KW_BAR)) return true;
        }
        return false;
    }

    // Tries a block about to be entered in one go; true when it is done.
    bool quick_enter(const kiv_value* blk) {
        // A block given up on is entered again at every iteration of a loop
        // around it: that answer comes first.
        uint64_t key = rule_key(blk, blk->data1, false);
        if (gave_up_q(key) || !worth_decoding_q(blk)) return false;
        // The decoded rules hold copies of values, which the collector does
        // not rewrite: their nodes must stay where they are (a comparison
        // may allocate).
        collector::compaction_guard keep_nodes;
        if (!quick_begin(0)) return false;
        uint32_t pos = input_.data1;
        quick_outcome r = run_block(block_entry(blk), pos, 0);
        if (r == Q_UNSURE) {
            give_up(key);
            return false;
        }
        if (r == Q_MATCHED) input_.data1 = pos;
        resolve(r == Q_MATCHED);
        return true;
    }

    // Tries a modifier waiting for the rule at `position` of the current
    // block in one go; true when it is done.
    bool quick_pending(int32_t type, uint32_t position) {
        if (type != F_REPEAT && type != F_TO && type != F_THRU && type != F_NOT && type != F_AHEAD) return false;
        collector::compaction_guard keep_nodes;  // as in quick_enter
        uint64_t key = rule_key(&rules_, position, true);
        // Counting the frame the general loop would push first.
        if (gave_up_q(key) || !quick_begin(3)) return false;
        const kiv_value* base = block::cells(&rules_);
        uint32_t length = rules_length(), i = position, pos = input_.data1;
        uint32_t rule;
        switch (type) {
            case F_REPEAT: rule = decode_repeat(base, length, i, pending_min_, pending_max_); break;
            case F_TO: case F_THRU: rule = decode_search(base, length, i, type == F_THRU); break;
            default: rule = decode_rule(base, length, i);
        }
        quick_outcome r = run_rule(rule, pos, 0);
        if (type == F_NOT || type == F_AHEAD) {
            pos = input_.data1;
            if (r != Q_UNSURE && type == F_NOT) r = r == Q_MATCHED ? Q_FAILED : Q_MATCHED;
        }
        if (r == Q_UNSURE) {
            give_up(key);
            return false;
        }
        rules_.data1 = i;
        if (r == Q_MATCHED) input_.data1 = pos;
        resolve(r == Q_MATCHED);
        return true;
    }

    // Keywords -----------------------------------------------------------------------

    // The value after a keyword, which must be there.
    const kiv_value* argument(keyword kw) {
        if (rules_.data1 >= rules_length()) fire_end(kw);
        return rule_at(rules_.data1++);
    }

    void keyword_rule(const kiv_value* v, keyword kw) {
        switch (kw) {
            case KW_ANY: set_pending(F_REPEAT, 0, -1, v); return;
            case KW_SOME: set_pending(F_REPEAT, 1, -1, v); return;
            case KW_OPT: set_pending(F_REPEAT, 0, 1, v); return;
            case KW_WHILE: set_pending(F_WHILE, 0, -1, v); return;
            case KW_TO: set_pending(F_TO, 0, 0, v); return;
            case KW_THRU: set_pending(F_THRU, 0, 0, v); return;
            case KW_NOT: set_pending(F_NOT, 0, 0, v); return;
            case KW_AHEAD: set_pending(F_AHEAD, 0, 0, v); return;
            case KW_COPY: case KW_SET: {
                kiv_value target = *argument(kw);
                if (type_of(&target) != TYPE_WORD) fire_rule(&target);
                set_pending(kw == KW_COPY ? F_COPY : F_SET, 0, 0, v);
                pending_word_ = target;
                return;
            }
            case KW_REMOVE: remove_rule(v); return;
            case KW_INSERT: insert_rule(); return;
            case KW_CHANGE: {
                bool only = rules_.data1 < rules_length() && keyword_of(rule_at(rules_.data1)) == KW_ONLY;
                if (only) rules_.data1++;
                if (rules_.data1 >= rules_length()) fire_rule(v);
                set_pending(only ? F_CHANGE_ONLY : F_CHANGE, 0, 0, v);
                return;
            }
            case KW_COLLECT: collect_rule(v); return;
            case KW_KEEP: keep_rule(v); return;
            case KW_INTO: into_rule(); return;
            case KW_CASE: {
                kiv_value w = *argument(kw);
                if (type_of(&w) != TYPE_WORD) fire_rule(&w);
                kiv_value value = argument_value(&w);
                set_pending(F_CASE, logic::truthy(&value) ? 1 : 0, 0, v);
                return;
            }
            case KW_IF: {
                kiv_value p = *argument(kw);
                if (type_of(&p) != TYPE_PAREN) fire_rule(&p);
                kiv_value value = eval_paren(&p);
                resolve(logic::truthy(&value));
                return;
            }
            case KW_QUOTE: {
                kiv_value value = *argument(kw);
                resolve(match_here(&value, true));
                return;
            }
            case KW_SKIP:
                if (at_end()) {
                    resolve(false);
                } else {
                    input_.data1++;
                    resolve(true);
                }
                return;
            case KW_END: resolve(at_end()); return;
            case KW_NONE: resolve(true); return;
            case KW_FAIL: resolve(false); return;
            case KW_BAR: end_block(true); return;
            case KW_BREAK: case KW_REJECT: leave_loop(kw == KW_BREAK); return;
            default:  // only, pick and after out of place
                fire_rule(v);
        }
    }

    void count_rule(const kiv_value* v) {
        kiv_value low = *v, high = *v;
        if (integer::get_value(&low) < 0) fire(err::SCRIPT, err::script::out_of_range, &low);
        if (rules_.data1 < rules_length() && type_of(rule_at(rules_.data1)) == TYPE_INTEGER) {
            high = *rule_at(rules_.data1++);
            if (integer::get_value(&high) < 0) fire(err::SCRIPT, err::script::out_of_range, &high);
            if (integer::get_value(&high) < integer::get_value(&low)) fire_rule(&high);
        }
        if (rules_.data1 >= rules_length()) fire_rule(&high);
        if (integer::get_value(&high) == 0) {
            rules_.data1 = skip_rule(rules_.data1);
            resolve(true);
            return;
        }
        set_pending(F_REPEAT, integer::get_value(&low), integer::get_value(&high), v);
    }

    void remove_rule(const kiv_value* v) {
        const kiv_value* next = argument(KW_REMOVE);
        if (path_q(type_of(next))) fire_rule(next);
        uint32_t at;
        if (!input_position(next, &at)) {
            rules_.data1--;
            set_pending(F_REMOVE, 0, 0, v);
            return;
        }
        uint32_t from = std::min(at, input_.data1), to = std::max(at, input_.data1);
        remove_range(from, to);
        input_.data1 = from;
        resolve(true);
    }

    void insert_rule() {
        uint32_t length = rules_length();
        bool only = rules_.data1 < length && keyword_of(rule_at(rules_.data1)) == KW_ONLY;
        if (only) rules_.data1++;
        uint32_t at = input_.data1;
        if (rules_.data1 + 1 < length && input_position(rule_at(rules_.data1), &at)) rules_.data1++;
        if (rules_.data1 >= length) {
            kiv_value w = keyword_word(KW_INSERT);
            fire_rule(&w);
        }
        kiv_value source = *rule_at(rules_.data1++);
        kiv_value value = argument_value(&source);
        clamp_input();
        at = std::min(at, input_length());
        int32_t delta = modify_at(at, 0, &value, only);
        if (at <= input_.data1) input_.data1 += uint32_t(delta);
        resolve(true);
    }

    // The matched part becomes the value after the rule; the input goes on
    // after the new content.
    bool change(bool m, uint32_t start, bool only) {
        if (rules_.data1 >= rules_length()) {
            kiv_value w = keyword_word(KW_CHANGE);
            fire_rule(&w);
        }
        kiv_value source = *rule_at(rules_.data1++);
        if (!m) return false;
        kiv_value value = argument_value(&source);
        clamp_input();
        uint32_t end = input_.data1;
        start = std::min(start, end);
        int32_t delta = modify_at(start, end - start, &value, only);
        input_.data1 = uint32_t(int32_t(end) + delta);
        return true;
    }

    void into_rule() {
        if (!block_input()) {
            kiv_value dt;
            datatype::make_at(&dt, type_of(&input_));
            fire(err::SCRIPT, err::script::parse_block, &dt);
        }
        uint32_t rule_position = rules_.data1;
        kiv_value rule = *argument(KW_INTO);
        if (type_of(&rule) == TYPE_WORD && !keyword_of(&rule)) rule = word_value(&rule);
        if (type_of(&rule) != TYPE_BLOCK) fire_end(KW_INTO);
        if (at_end()) {
            resolve(false);
            return;
        }
        kiv_value element = block::cells(&input_)[input_.data1];
        uint32_t t = type_of(&element);
        if (!series::block_like_q(t) && !series::string_like_q(t) && t != TYPE_BINARY) {
            resolve(false);
            return;
        }
        push_frame(F_INTO, rule_position);
        push_input(&element);
        enter_block(&rule);
    }

    void collect_rule(const kiv_value* v) {
        int32_t mode = COLLECT_PLAIN;
        kiv_value target = none_value;
        if (rules_.data1 < rules_length()) {
            keyword kw = keyword_of(rule_at(rules_.data1));
            mode = kw == KW_SET ? COLLECT_SET : kw == KW_INTO ? COLLECT_INTO : kw == KW_AFTER ? COLLECT_AFTER : mode;
        }
        if (mode != COLLECT_PLAIN) {
            rules_.data1++;
            target = *argument(KW_COLLECT);
            if (type_of(&target) != TYPE_WORD) fire_rule(&target);
            if (mode != COLLECT_SET) check_collect_target(&target);
        }
        set_pending(F_COLLECT, 0, 0, v);
        pending_word_ = target;
        pending_flag_ = mode;
    }

    void check_collect_target(const kiv_value* w) const {
        const kiv_value* value = _context::get_if(w);
        uint32_t t = value ? type_of(value) : TYPE_UNSET;
        if (!series::series_type_q(t)) fire(err::SCRIPT, err::script::parse_into_bad);
        if (!series::block_like_q(t)) fire(err::SCRIPT, err::script::parse_into_type);
    }

    kiv_value collection() const { return *stack_cell(uint32_t(collect_top_)); }

    void end_collect(bool m, const kiv_value* block, const kiv_value* target, int32_t mode) {
        switch (mode) {
            case COLLECT_PLAIN:
                if (collect_top_ >= 0) {
                    kiv_value outer = collection();
                    if (m) *block::alloc_tail(&outer) = *block;
                } else if (!collected_) {
                    collected_ = true;
                    result_ = *block;
                } else {
                    *block::alloc_tail(&result_) = *block;
                }
                return;
            case COLLECT_SET:
                if (m) {
                    kiv_value w = *target, b = *block;
                    _context::set(&w, &b);
                }
                return;
            default: {
                if (!m) return;
                check_collect_target(target);
                kiv_value series = *_context::get_if(target);
                if (mode == COLLECT_AFTER) series.data1 = units_of(&series);
                natives::call_action(SLOT_INSERT, {series, *block}, {-1, -1, -1});
                return;
            }
        }
    }

    void keep_rule(const kiv_value* v) {
        if (collect_top_ < 0) fire(err::SCRIPT, err::script::parse_keep);
        bool pick = rules_.data1 < rules_length() && keyword_of(rule_at(rules_.data1)) == KW_PICK;
        if (pick) rules_.data1++;
        if (rules_.data1 < rules_length() && type_of(rule_at(rules_.data1)) == TYPE_PAREN) {
            kiv_value p = *rule_at(rules_.data1++);
            kiv_value value = eval_paren(&p);
            keep_value(&value, pick);
            resolve(true);
            return;
        }
        set_pending(F_KEEP, 0, 0, v);
        pending_flag_ = pick;
    }

    void keep_value(const kiv_value* value, bool pick) {
        if (type_of(value) == TYPE_UNSET) return;
        kiv_value into = collection();
        if (pick && type_of(value) == TYPE_BLOCK) block::ks_append_block(&into, value);
        else *block::alloc_tail(&into) = *value;
    }

    // A single element is kept as itself, several as a series of the
    // input's type, or with `pick` one by one.
    void keep_range(uint32_t from, uint32_t to, bool pick) {
        kiv_value into = collection();
        if (pick) {
            for (uint32_t p = from; p < to; p++) *block::alloc_tail(&into) = element_at(p);
        } else if (to == from + 1) {
            *block::alloc_tail(&into) = element_at(from);
        } else {
            kiv_value part = copy_range(from, to);
            *block::alloc_tail(&into) = part;
        }
    }

    // break and reject end the innermost repetition of this call with
    // success or failure; outside any, the current block.
    void leave_loop(bool success) {
        uint32_t at = stack_length(), found = 0;
        while (at > rule_base_) {
            const kiv_value* top = stack_cell(at - 1);
            if (type_of(top) != TYPE_TRIPLE) {
                at -= 2;
                continue;
            }
            if (first_of(top) == F_REPEAT || first_of(top) == F_WHILE) {
                found = at;
                break;
            }
            at -= 3;
        }
        if (!found) {
            while (type_of(from_top(1)) == TYPE_TRIPLE) unwind_frame();
            end_block(success);
            return;
        }
        while (stack_length() > found) {
            if (type_of(from_top(1)) == TYPE_TRIPLE) unwind_frame();
            else pop_block(true);
        }
        if (!success) input_.data1 = std::min(uint32_t(second_of(stack_cell(found - 2))), input_length());
        match_ = success;
        drop_frame();
        resolve(success);
    }

    // Evaluation and tracing ---------------------------------------------------------

    kiv_value eval_paren(const kiv_value* paren) {
        if (const kiv_value* v = lone_word_value(paren)) {
            kiv_value result = *v;
            trace(EV_PAREN);
            return result;
        }
        kiv_value p = *paren;
        stack::mark_native(nullptr);
        interpreter::eval(&p, true);
        if (interpreter::exit_pending_q()) throw leave_parse{};
        kiv_value result = *stack::arguments;
        stack::unwind_drop();
        clamp_input();
        rules_.data1 = std::min(rules_.data1, rules_length());
        trace(EV_PAREN);
        return result;
    }

    // The value of a paren holding one word of plain data (as `keep (piece)`
    // does at every match): evaluating it would only read the word. Null for
    // anything else, which the evaluator then takes.
    static const kiv_value* lone_word_value(const kiv_value* paren) {
        if (interpreter::tracing() || paren->data1 + 1 != block::length_all(paren)) return nullptr;
        const kiv_value* word = block::cells(paren) + paren->data1;
        if (type_of(word) != TYPE_WORD) return nullptr;
        const kiv_value* v = _context::get_if(word);
        return v && type_of(v) != TYPE_UNSET && interpreter::literal_q(type_of(v)) ? v : nullptr;
    }

    void trace(event ev) {
        if (tracing_) emit(ev, rules_.data1);
    }

    // Calls the callback with the rules at a position and a copy of this
    // parse's part of the rule stack (the callback may change what it gets).
    void emit(event ev, uint32_t rule_position) {
        kiv_value rule = rules_;
        rule.data1 = std::min(rule_position, rules_length());
        kiv_value frames = rule_stack;
        frames.data1 = rule_base_;
        kiv_value snapshot = *block::clone(&frames, false, false);
        stack::pop(1);
        call_callback(&words[ev], &rule, &snapshot);
    }

    // Calls the trace callback with its five arguments (a callback taking
    // fewer gets the first ones); a falsy answer stops the parse.
    void call_callback(const kiv_value* ev, const kiv_value* rule, const kiv_value* frames) {
        const kiv_value args[5] = {*ev, match_ ? true_value : false_value, *rule, input_, *frames};
        kiv_value answer = interpreter::call_back({&callback_, &words[EVENT_COUNT], args, 5, interpreter::CB_PARSE});
        if (interpreter::exit_pending_q()) throw leave_parse{};
        clamp_input();
        rules_.data1 = std::min(rules_.data1, rules_length());
        if (!logic::truthy(&answer)) throw stop_parse{match_};
    }
};

}  // namespace

void init() {
    block::make_at(&input_stack, int32_t(INPUT_STACK_START));
    block::make_at(&rule_stack, int32_t(RULE_STACK_START));
    for (uint32_t kw = 1; kw < KEYWORD_COUNT; kw++) {
        int32_t s = word::symbol_of(word::load(KEYWORD_NAMES[kw]));
        enter_keyword(uint32_t(s), uint8_t(kw));
        enter_keyword(uint32_t(symbol::resolve(s)), uint8_t(kw));
    }
    for (uint32_t ev = 0; ev < EVENT_COUNT; ev++) words[ev] = *word::load(EVENT_NAMES[ev]);
    words[EVENT_COUNT] = *word::load("<parse-callback>");
    collector::add_mark_callback(mark_roots);
}

kiv_value process(const kiv_value* input, const kiv_value* rules, bool case_, int32_t limit,
                  const kiv_value* callback) {
    // A nested parse (from a paren or a callback) leaves the stacks as it
    // found them however it ends, so that the outer one goes on.
    uint32_t input_top = units_of(&input_stack);
    uint32_t rule_top = units_of(&rule_stack);
    auto restore = [&] {
        block::ks_set_tail(&input_stack, input_top);
        block::ks_set_tail(&rule_stack, rule_top);
    };
    engine e(input, rules, case_, limit, callback);
    try {
        kiv_value result = e.run();
        restore();
        return result;
    } catch (const stop_parse& stop) {
        restore();
        return stop.match ? true_value : false_value;
    } catch (const leave_parse&) {
        restore();
        return none_value;
    } catch (...) {
        restore();
        throw;
    }
}

}  // namespace kiv::parser
