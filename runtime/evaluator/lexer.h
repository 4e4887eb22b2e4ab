#pragma once
// The lexer: UTF-8 source text into Kiv values.
//
// A table-driven state machine finds one token at a time (lexer_tables.h);
// per-token-class handlers then check the token's text and load it as a
// value. Blocks, parens, maps and paths nest without recursion: opening one
// leaves a marker cell in a value buffer shared by all active scans, and
// closing it folds the cells after the marker into one value.
//
// A scan runs in one of three modes: load (values are made), scan (every
// token is checked, nothing is loaded) and prescan (only the state machine
// and the structural tokens run). In the last two a syntax error does not
// raise: the scan stops and reports the type error!.
#include <cstdint>
#include <string>

#include "runtime/value.h"

namespace kiv::lexer {

// Events a scan delivers to its callback, by their bits in an event mask.
enum event_bit : uint32_t {
    EV_PRESCAN = 1,  // a token was found
    EV_SCAN = 2,     // a value token passed its check
    EV_LOAD = 4,     // a value was loaded
    EV_OPEN = 8,     // a block, paren, map or multi-line string opens
    EV_CLOSE = 16,   // it closes
    EV_ERROR = 32,   // a syntax error was found
};
constexpr uint32_t EV_ALL = 63;

// One event. Positions count from the start of the scanned text, in bytes,
// or in characters when the source is a string!.
struct event_info {
    uint32_t event;  // one event bit
    // The token's datatype id; 0 for none; -(class + 1) for a structural
    // token, which type_value turns into the word that names its class.
    int32_t type;
    int32_t line;
    // Where the input stands: the token's end (its start for open events and
    // for prescan events of structural tokens). A callback that changes it
    // makes the scan go on from there.
    uint32_t input;
    uint32_t start, end;     // the token's text, end excluded
    const kiv_value* value;  // load events: the value (valid until the scan goes on)
};

// A scan's callback. Its result steers the scan: false skips a prescanned
// token, leaves a checked one unloaded, drops a loaded value, keeps a block
// from opening or closing, and ends the scan quietly on an error (true
// raises the error).
//
// This is where Kiv functions given to `transcode/trace` join: the
// interpreter's adapter puts the function in `function` (kept alive while
// the scan runs), builds the five arguments from the event (type_value
// gives its `type` argument) and sets `mask` from event_mask of the body.
struct callback {
    bool (*call)(void* context, event_info& e);
    void* context;
    uint32_t mask;       // the events wanted
    kiv_value function;  // the Kiv function behind the callback, none for a native one
};

// Start-up, once, after the stacks and the global context exist: the value
// and conversion buffers, the Unicode blanks, the handler tables and the
// block that names the structural token classes.
void init();

// Scans `size` bytes of UTF-8. one: stop after the first complete top-level
// value; prescan and scan_only: the modes above. Returns the type of the
// last token scanned (a datatype id, 0 for none, TYPE_ERROR). When values
// were loaded, in one-value mode the first one is copied into `out` (or
// appended to `destination`); otherwise they become a new block! in `out`,
// or are appended to `destination` (`out` may then be null; in the second
// case it receives the destination). `consumed`, when given, receives how far
// the scan got, in the units of the positions above. `source` is the series
// whose positions the callback sees (null: plain bytes).
int32_t scan(kiv_value* out, const uint8_t* text, uint32_t size, bool one, bool prescan,
             bool scan_only, int32_t* consumed, callback* cb, const kiv_value* source,
             kiv_value* destination);

// Scans a string! from its cursor, `length` characters or -1 for all of it,
// through the shared UTF-8 conversion buffer.
int32_t scan_string(kiv_value* out, const kiv_value* str, int32_t length, bool one,
                    bool prescan, bool scan_only, int32_t* consumed, callback* cb,
                    kiv_value* destination);

// The one value a whole string holds, in `cell`: none when the scan stopped
// before the end of the text, unset when it held nothing, else its first
// value.
kiv_value* load_single(const kiv_value* str, kiv_value* cell);
// The same into the current call's result slot.
kiv_value* load_string(const kiv_value* str);

// The events a Kiv callback wants, from its body: when the body starts with
// a block, the event words in it; otherwise all of them.
uint32_t event_mask(const kiv_value* body);

// The `type` argument of a callback: a datatype!, none, or for a structural
// token class the entry of exit_states that names it.
kiv_value type_value(int32_t type);
// The words and datatypes that name the token classes, by class number (the
// block `system/lexer/exit-states` will hold).
const kiv_value* exit_states();

// Marks what the active scans hold (their values so far, sources and
// callbacks); the collector calls it with its value marker.
void mark_states(void (*mark_values)(kiv_value* first, kiv_value* end));

// The arguments of the last syntax error the lexer raised, in plain form:
// until error! values keep their arguments, callers that show or test the
// message read them here.
struct syntax_report {
    uint32_t id;     // err::syntax id
    int32_t line;
    uint32_t type;   // invalid: the datatype; missing: the missing delimiter
    std::string text;  // the offending text
};
const syntax_report& last_report();

}  // namespace kiv::lexer
