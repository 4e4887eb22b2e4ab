#pragma once
// The lexer's inside: the record of an active scan, the shared value
// buffer, and what the scanners and loaders share. Only the lexer's own
// files include this.
#include <cstdint>

#include "runtime/evaluator/lexer.h"
#include "runtime/evaluator/lexer_tables.h"
#include "runtime/value.h"

namespace kiv::lexer {

// Token classes: final state - S_END.
enum token_class : uint32_t {
    K_END, K_ERROR, K_BLOCK_OPEN, K_BLOCK_CLOSE, K_PAREN_OPEN, K_PAREN_CLOSE, K_STRING_OPEN,
    K_STRING_CLOSE, K_MAP_OPEN, K_PATH_OPEN, K_CONSTRUCT, K_COMMENT, K_COMMA, K_STRING, K_WORD,
    K_ISSUE, K_INTEGER, K_REFINEMENT, K_CHAR, K_FILE, K_BINARY, K_PERCENT, K_FLOAT,
    K_SPECIAL_FLOAT, K_TUPLE, K_DATE, K_PAIR, K_POINT, K_TIME, K_MONEY, K_TAG, K_URL, K_EMAIL,
    K_HEX, K_RAW_STRING, K_REF,
};
static_assert(K_REF + 1 == FINAL_COUNT);

// Error codes of throw_error besides a datatype id (`invalid`).
enum error_code : int32_t {
    ERR_BAD_CHAR = -1,
    ERR_MALCONSTRUCT = -2,
    ERR_MISSING = -3,         // a closing delimiter that closes nothing open
    ERR_MISSING_AT_END = -4,  // a block still open when the input ends
};

// The record of one active scan. Records of nested scans (a callback that
// scans again) form a chain; each scan's values live in the shared buffer
// from its head, after its parent's tail.
struct lexer_state {
    lexer_state* next;
    lexer_state* parent;
    uint32_t head;   // first cell of this scan in the value buffer
    uint32_t level;  // first cell of the innermost open block (past its marker)
    uint32_t tail;   // next free cell
    const uint8_t* input_start;
    const uint8_t* input_end;
    const uint8_t* cursor;       // where the next token starts
    const uint8_t* token_start;  // the current token
    const uint8_t* token_end;
    bool owns_end;               // the byte at token_end closes the token
    uint32_t flags;              // the current token's ORed byte flags
    int32_t line;        // of the current position, from 1
    int32_t line_delta;  // line feeds between the previous token and this one
    int32_t type_override;  // -1, or the datatype an error report names instead
    int32_t token_type;
    uint32_t state;           // the state the next token starts from
    uint32_t previous_state;  // the last intermediate state of the current token
    int32_t missing_type;     // the block whose closing delimiter is missing
    int32_t last_type;
    const uint8_t* string_start;  // the "{" of an open multi-line string
    int32_t string_depth;
    uint32_t string_flags;  // flags over all of its lines
    int32_t point_delta;    // line-delta of the "(" of a point
    callback* cb;
    uint32_t event_mask;
    kiv_value source;  // none for plain bytes
    bool load_q;
    bool one_q;
    bool prescan_q;
    const uint8_t* cached_position;  // last byte position turned into a character count
    uint32_t cached_count;
};

// A quiet end of a scan: a callback said stop, or a syntax error in a mode
// that reports instead of raising. The scan's catch frame takes it.
struct quiet_stop {
    int32_t type;
};

// Handlers, one scanner and one loader per token class (either may be
// empty): (record, token start, token end, the token's ORed flags, load?).
// Without load a loader only checks the text.
using handler = void (*)(lexer_state& r, const uint8_t* start, const uint8_t* end,
                         uint32_t flags, bool load);

// The value buffer. Cells are addressed by index: the buffer may move when
// it grows, so a cell pointer is good only until the next cell is made.
kiv_value* cell_at(uint32_t index);
// A new cell at the tail: unset, with the new-line marker when line feeds
// came before the token.
kiv_value* alloc_cell(lexer_state& r);
// Appends a value, adding the new-line marker as alloc_cell does.
kiv_value* append(lexer_state& r, const kiv_value& value);

// Block markers: a triple! cell whose payload holds the distance back to the
// enclosing level, the kind (its datatype id; a point keeps its commas in
// the upper 16 bits) and the offset of the opening delimiter.
constexpr uint32_t KIND_MASK = 0xFFFF;
constexpr uint32_t COMMA_SHIFT = 16;
kiv_value* innermost_marker(lexer_state& r);  // null at the scan's top level
inline uint32_t kind_of(const kiv_value* marker) { return marker->data2 & KIND_MASK; }
inline bool path_kind_q(uint32_t kind) { return kind >= TYPE_PATH && kind <= TYPE_GET_PATH; }
void open_level(lexer_state& r, uint32_t kind, const uint8_t* delimiter);
// Folds the cells of the innermost level into one value of the kind.
void close_level(lexer_state& r, uint32_t kind);
// The state after a value closes or ends: path elements go on inside a path.
uint32_t resume_state(lexer_state& r);

// Reports a syntax error (see error_code), or, in prescan and scan modes or
// when the callback says so, ends the scan quietly. Never returns.
[[noreturn]] void throw_error(lexer_state& r, const uint8_t* start, const uint8_t* end,
                              int32_t code);
// Calls the callback for an event it wants; true when there is none.
bool fire_event(lexer_state& r, uint32_t event, int32_t type, const kiv_value* value,
                const uint8_t* start, const uint8_t* end, const uint8_t* input);
inline bool wants_q(const lexer_state& r, uint32_t event) {
    return r.cb && (r.event_mask & event);
}

// UTF-8 of a token: one character at p (p advanced), -1 when the bytes up
// to end are not a valid sequence.
int32_t decode_char(const uint8_t*& p, const uint8_t* end);
// A code point that ends a word like a blank.
bool unicode_blank_q(int32_t cp);

// Scanners (lexer_scanners.cpp).
void scan_end(lexer_state&, const uint8_t*, const uint8_t*, uint32_t, bool);
void scan_error(lexer_state&, const uint8_t*, const uint8_t*, uint32_t, bool);
void scan_block_open(lexer_state&, const uint8_t*, const uint8_t*, uint32_t, bool);
void scan_block_close(lexer_state&, const uint8_t*, const uint8_t*, uint32_t, bool);
void scan_paren_close(lexer_state&, const uint8_t*, const uint8_t*, uint32_t, bool);
void scan_string_open(lexer_state&, const uint8_t*, const uint8_t*, uint32_t, bool);
void scan_string_close(lexer_state&, const uint8_t*, const uint8_t*, uint32_t, bool);
void scan_map_open(lexer_state&, const uint8_t*, const uint8_t*, uint32_t, bool);
void scan_path_open(lexer_state&, const uint8_t*, const uint8_t*, uint32_t, bool);
void scan_construct(lexer_state&, const uint8_t*, const uint8_t*, uint32_t, bool);
void scan_comment(lexer_state&, const uint8_t*, const uint8_t*, uint32_t, bool);
void scan_comma(lexer_state&, const uint8_t*, const uint8_t*, uint32_t, bool);
void check_string(lexer_state&, const uint8_t*, const uint8_t*, uint32_t, bool);
void check_word(lexer_state&, const uint8_t*, const uint8_t*, uint32_t, bool);
void check_issue(lexer_state&, const uint8_t*, const uint8_t*, uint32_t, bool);
// The end of a path element: closes the path or takes the separator.
void path_end(lexer_state& r);
// A raw string's token ends at the first closing run; one shorter than the
// opening run does not close it, so the token is carried on.
void extend_raw_string(lexer_state& r);

// Loaders (lexer_loaders.cpp).
void load_quoted_string(lexer_state&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_word(lexer_state&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_integer(lexer_state&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_refinement(lexer_state&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_char(lexer_state&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_file(lexer_state&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_binary(lexer_state&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_percent(lexer_state&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_float(lexer_state&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_special_float(lexer_state&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_tuple(lexer_state&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_date(lexer_state&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_pair(lexer_state&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_point(lexer_state&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_time(lexer_state&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_money(lexer_state&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_tag(lexer_state&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_url(lexer_state&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_email(lexer_state&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_hex(lexer_state&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_raw_string(lexer_state&, const uint8_t*, const uint8_t*, uint32_t, bool);
void load_ref(lexer_state&, const uint8_t*, const uint8_t*, uint32_t, bool);

// Shared by loaders and scanners: a word of a type from its UTF-8 name, and
// the text of a string-like token (escapes decoded when `escapes`) as a new
// series of the type, checked only when `load` is false.
void make_word(lexer_state& r, const uint8_t* start, const uint8_t* end, uint32_t flags,
               uint32_t type);
void load_text(lexer_state& r, const uint8_t* start, const uint8_t* end, uint32_t flags,
               bool escapes, uint32_t type, bool load);
// The value of a construction "#(name)": true, false, none, unset or a
// datatype. A datatype that is not registered yet is found (its value made)
// but cannot be loaded.
enum construct_result : int32_t { CONSTRUCT_UNKNOWN, CONSTRUCT_FOUND, CONSTRUCT_PENDING };
int32_t construct_value(const uint8_t* name, const uint8_t* end, kiv_value* out);

}  // namespace kiv::lexer
