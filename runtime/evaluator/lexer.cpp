// The lexer's engine: the scanning loop, the records of active scans, the
// shared buffers, events and syntax errors.
#include "runtime/evaluator/lexer.h"

#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/exits.h"
#include "runtime/evaluator/lexer_state.h"
#include "runtime/memory.h"
#include "runtime/runtime.h"
#include "runtime/stack.h"
#include "runtime/system.h"
#include "runtime/unicode.h"

namespace kiv::lexer {

namespace {

constexpr uint32_t VALUE_CELLS = 1000;
constexpr uint32_t CONVERSION_BYTES = 100000;
constexpr uint32_t ERROR_TEXT_MAX = 30;

// Both buffers only grow, and a refused growth is the language error
// `no-memory`, not a fatal one: they live outside the tracked heap, whose
// allocator ends the process when the system says no.
struct {
    kiv_value* cells;
    uint32_t capacity;
} values;

struct {
    uint8_t* bytes;
    uint32_t size;
    uint32_t used;  // nested scans of strings take the space after it
} conversion;

// Bit n of byte n / 8 (0x80 >> n % 8) is set for a code point that ends a
// word like a blank does.
constexpr uint32_t BLANKS_BYTES = 0x2062;
uint8_t* unicode_blanks;
constexpr int32_t BLANK_CODES[] = {
    0x0085, 0x00A0, 0x1680, 0x2000, 0x2001, 0x2002, 0x2003, 0x2004, 0x2005, 0x2006, 0x2007,
    0x2008, 0x2009, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000,
};

handler scanners[FINAL_COUNT];
handler loaders[FINAL_COUNT];

// The (scanner, loader) pair of each token class, in class order.
const handler HANDLER_PAIRS[FINAL_COUNT][2] = {
    {scan_end, nullptr},                  // end of input
    {scan_error, nullptr},                // error
    {scan_block_open, nullptr},           // [
    {scan_block_close, nullptr},          // ]
    {scan_block_open, nullptr},           // ( (a paren, or a point)
    {scan_paren_close, nullptr},          // )
    {scan_string_open, nullptr},          // {
    {scan_string_close, nullptr},         // }
    {scan_map_open, nullptr},             // #[
    {scan_path_open, nullptr},            // word followed by /
    {scan_construct, nullptr},            // #( ... )
    {scan_comment, nullptr},              // ; comment
    {scan_comma, nullptr},                // ,
    {check_string, load_quoted_string},   // "string"
    {check_word, load_word},              // word
    {check_issue, load_word},             // #issue
    {nullptr, load_integer},              // integer
    {nullptr, load_refinement},           // /refinement
    {nullptr, load_char},                 // #"c"
    {nullptr, load_file},                 // %file
    {nullptr, load_binary},               // #{binary}
    {nullptr, load_percent},              // percent%
    {nullptr, load_float},                // float
    {nullptr, load_special_float},        // 1.#INF
    {nullptr, load_tuple},                // 1.2.3
    {nullptr, load_date},                 // date
    {nullptr, load_pair},                 // 1x2
    {nullptr, load_point},                // (1, 2)
    {nullptr, load_time},                 // 10:30
    {nullptr, load_money},                // $1.50
    {nullptr, load_tag},                  // <tag>
    {nullptr, load_url},                  // scheme:text
    {nullptr, load_email},                // name@host
    {nullptr, load_hex},                  // 0FFh
    {nullptr, load_raw_string},           // %{raw}%
    {nullptr, load_ref},                  // @ref
};

lexer_state* chain_head = nullptr;
lexer_state* chain_tail = nullptr;

syntax_report report;

// The position of the exit-states block in the root block.
uint32_t exit_states_index;

// Event words of a callback's body, by their bits.
int32_t event_symbols[6];

// Links a scan's record into the chain for as long as the scan runs, and
// unlinks it on every way out.
class chain_link {
  public:
    explicit chain_link(lexer_state& r) : r_(r) {
        r.parent = chain_tail;
        r.next = nullptr;
        uint32_t start = chain_tail ? chain_tail->tail : 0;
        r.head = r.level = r.tail = start;
        if (chain_tail) chain_tail->next = &r;
        else chain_head = &r;
        chain_tail = &r;
    }
    ~chain_link() {
        chain_tail = r_.parent;
        if (r_.parent) r_.parent->next = nullptr;
        else chain_head = nullptr;
    }
    chain_link(const chain_link&) = delete;
    chain_link& operator=(const chain_link&) = delete;

  private:
    lexer_state& r_;
};

// Space for the UTF-8 form of a string: after the part of the conversion
// buffer in use, or a block of its own when that cannot hold it. Given back
// when the scan ends.
class conversion_space {
  public:
    explicit conversion_space(uint64_t bytes) : saved_(conversion.used) {
        if (bytes <= conversion.size - conversion.used) {
            data = conversion.bytes + conversion.used;
            conversion.used += uint32_t(bytes);
            return;
        }
        own_ = static_cast<uint8_t*>(bytes < 0x80000000u ? std::malloc(size_t(bytes)) : nullptr);
        if (!own_) fire(err::INTERNAL, err::internal::no_memory);
        data = own_;
    }
    ~conversion_space() {
        if (own_) std::free(own_);
        else conversion.used = saved_;
    }
    conversion_space(const conversion_space&) = delete;
    conversion_space& operator=(const conversion_space&) = delete;
    uint8_t* data;

  private:
    uint32_t saved_;
    uint8_t* own_ = nullptr;
};

void grow_values() {
    uint64_t capacity = uint64_t(values.capacity) * 2;
    void* cells = capacity * sizeof(kiv_value) < 0x80000000u
                      ? std::realloc(values.cells, size_t(capacity * sizeof(kiv_value)))
                      : nullptr;
    if (!cells) fire(err::INTERNAL, err::internal::no_memory);
    values.cells = static_cast<kiv_value*>(cells);
    values.capacity = uint32_t(capacity);
}

// Positions as the callback and `consumed` see them: bytes, or characters
// for a string source, counted from the last position asked for.
uint32_t position_of(lexer_state& r, const uint8_t* p) {
    if (type_of(&r.source) != TYPE_STRING) return uint32_t(p - r.input_start);
    if (p >= r.cached_position) r.cached_count += unicode::count_chars(r.cached_position, p);
    else r.cached_count -= unicode::count_chars(p, r.cached_position);
    r.cached_position = p;
    return r.cached_count;
}

const uint8_t* byte_at(lexer_state& r, uint32_t position) {
    uint32_t size = uint32_t(r.input_end - r.input_start);
    if (type_of(&r.source) != TYPE_STRING) return r.input_start + (position < size ? position : size);
    return unicode::skip_chars(r.input_start, r.input_end, position);
}

// The byte that ends a token and belongs to it: a bracket, a closing quote
// or brace, a path separator, the "%" of a percent. The machine stops on it
// without consuming it, so the scan steps over it here, in every mode.
bool owns_last_byte(uint32_t final_state, const uint8_t* token_end, const uint8_t* input_end) {
    if (token_end >= input_end) return false;
    switch (final_state) {
        case S_BLOCK_OPEN: case S_BLOCK_CLOSE: case S_PAREN_OPEN: case S_PAREN_CLOSE:
        case S_STRING_OPEN: case S_STRING_CLOSE: case S_MAP_OPEN: case S_PATH_OPEN:
        case S_CONSTRUCT: case S_COMMA: case S_STRING: case S_CHAR: case S_BINARY:
        case S_PERCENT: case S_POINT: case S_TAG:
            return true;
        case S_FILE:
            return *token_end == '"';
        default:
            return false;
    }
}

bool structural_q(uint32_t cls) { return cls <= K_COMMA; }

void skip_leading_blanks(lexer_state& r) {
    const uint8_t* p = r.token_start;
    while (p < r.token_end) {
        const uint8_t* q = p;
        if (!unicode_blank_q(decode_char(q, r.token_end))) break;
        p = q;
    }
    r.token_start = p;
}

// A token the callback told to skip: nothing of it is checked or loaded. The
// scan moves on by one byte at least, or a token that consumed nothing would
// come back forever.
void skip_token(lexer_state& r) {
    if (r.cursor <= r.token_start && r.token_start < r.input_end) r.cursor = r.token_start + 1;
}

// Where a value token ends as callbacks see it: past its closing quote,
// brace or sign, which the machine stopped on.
const uint8_t* shown_end(const lexer_state& r) {
    return r.owns_end && r.token_end < r.input_end ? r.token_end + 1 : r.token_end;
}

// The scan of one value token: its check, then its load, with their events.
void scan_value(lexer_state& r, uint32_t cls) {
    bool load = r.load_q;
    if (!r.load_q || scanners[cls] || wants_q(r, EV_SCAN)) {
        if (scanners[cls]) scanners[cls](r, r.token_start, r.token_end, r.flags, r.load_q);
        else loaders[cls](r, r.token_start, r.token_end, r.flags, false);
        bool go = fire_event(r, EV_SCAN, r.token_type, nullptr, r.token_start, shown_end(r), r.cursor);
        load = load && go;
    }
    if (!load || !loaders[cls]) return;
    loaders[cls](r, r.token_start, r.token_end, r.flags, true);
    if (!fire_event(r, EV_LOAD, r.token_type, cell_at(r.tail - 1), r.token_start, shown_end(r),
                    r.cursor))
        r.tail--;
}

// One-value and prescan modes stop once a whole top-level value is done.
bool complete_q(lexer_state& r, uint32_t cls) {
    if (!r.one_q && !r.prescan_q) return false;
    if (r.token_type == 0 || r.state == S_PATH_ELEMENT || r.string_depth > 0 || cls == K_PATH_OPEN)
        return false;
    return r.tail == r.head || (r.tail == r.head + 1 && type_of(cell_at(r.head)) != TYPE_TRIPLE);
}

void scan_tokens(lexer_state& r) {
    while (r.cursor < r.input_end) {
        // Find the token.
        uint32_t s = r.state;
        uint32_t previous = s;
        uint32_t flags = 0, skip = 0, lines = 0, before = 0;
        const uint8_t* p = r.cursor;
        for (; p < r.input_end; p++) {
            uint32_t entry = byte_classes[*p];
            uint32_t cls = entry & 0xFF;
            flags |= entry & ~0xFFu;
            previous = s;
            s = transitions[previous][cls];
            skip += skip_table[s];
            if (s > S_LAST_INTERMEDIATE) break;
            lines += line_table[cls];
            if (s == S_BETWEEN) before += line_table[cls];
        }
        if (s <= S_LAST_INTERMEDIATE) {
            previous = s;
            flags |= byte_classes[0] & ~0xFFu;
            s = transitions[previous][C_END];
        }
        uint32_t cls = s - S_END;
        r.token_start = r.cursor + skip;
        r.cursor = r.token_end = p;
        r.line += int32_t(lines);
        r.line_delta = int32_t(before);
        r.previous_state = previous;
        r.type_override = -1;
        r.token_type = type_table[s];
        r.flags = flags;
        bool in_string = r.string_depth > 0;
        r.owns_end = false;
        if (s == S_END) r.cursor = r.input_end;
        else if (owns_last_byte(s, p, r.input_end)) r.cursor = p + 1, r.owns_end = !structural_q(cls);
        if (s == S_RAW_STRING) extend_raw_string(r);
        if (s == S_POINT) r.state = resume_state(r);

        if (r.prescan_q && structural_q(cls) && scanners[cls])
            scanners[cls](r, r.token_start, r.token_end, flags, false);

        if (s == S_WORD && (flags & (F_UTF8_WIDE | F_UTF8_FOUR))) {
            skip_leading_blanks(r);
            if (r.token_start == r.token_end) {
                if (r.cursor < r.input_end) continue;
                cls = K_END;
                r.token_type = 0;
            }
        }

        // Check and load it.
        bool go = !r.prescan_q;
        if (r.cb && !in_string) {
            int32_t type = r.token_type ? r.token_type : -int32_t(cls + 1);
            const uint8_t* input = structural_q(cls) ? r.token_start : r.cursor;
            const uint8_t* end = structural_q(cls) ? r.token_end : shown_end(r);
            go = fire_event(r, EV_PRESCAN, type, nullptr, r.token_start, end, input) && go;
        }
        if (go) {
            if (!structural_q(cls)) scan_value(r, cls);
            else if (scanners[cls]) scanners[cls](r, r.token_start, r.token_end, flags, r.load_q);
        } else if (!r.prescan_q) {
            skip_token(r);
        }
        if (r.state == S_PATH_ELEMENT && cls != K_PATH_OPEN) path_end(r);
        if (complete_q(r, cls)) return;
        r.last_type = r.token_type;
    }
    if (r.string_depth > 0 && r.last_type == 0)
        throw_error(r, r.string_start, r.input_end, TYPE_STRING);
}

// After a quiet stop, the blocks still open are closed where they stand, so
// that the values loaded so far keep their nesting.
void close_open_levels(lexer_state& r) {
    while (r.level > r.head) {
        uint32_t kind = kind_of(cell_at(r.level - 1));
        if (kind == TYPE_MAP) kind = TYPE_BLOCK;
        else if (kind == TYPE_POINT2D) kind = TYPE_PAREN;
        close_level(r, kind);
    }
}

void raise_missing_at_end(lexer_state& r) {
    kiv_value* marker = cell_at(r.level - 1);
    uint32_t kind = kind_of(marker);
    const uint8_t* opening = r.input_start + marker->data3;
    if (path_kind_q(kind)) throw_error(r, opening, r.input_end, TYPE_PATH);
    r.missing_type = int32_t(kind);
    throw_error(r, opening, r.input_end, ERR_MISSING_AT_END);
}

kiv_value block_of_cells(uint32_t first, uint32_t count, uint32_t type) {
    node_id node = memory::alloc_cells(count ? count : 1);
    series_buffer* b = series::buffer(node);
    if (count) std::memcpy(b->offset, cell_at(first), size_t(count) * sizeof(kiv_value));
    b->tail = b->offset + size_t(count) * sizeof(kiv_value);
    return kiv_value{type, 0, node, 0};
}

// With a destination, `out` may be null.
void store_results(lexer_state& r, kiv_value* out, kiv_value* destination) {
    uint32_t count = r.tail - r.head;
    if (r.one_q) {
        if (count == 0) {
            if (!destination) *out = unset_value;
            return;
        }
        kiv_value first = *cell_at(r.head);
        if (destination) block::append_copy(destination, &first);
        else *out = first;
        return;
    }
    if (destination) {
        for (uint32_t i = 0; i < count; i++) {
            kiv_value cell = *cell_at(r.head + i);
            *block::alloc_tail(destination) = cell;
        }
        if (out && out != destination) *out = *destination;
        return;
    }
    *out = block_of_cells(r.head, count, TYPE_BLOCK);
}

// The text of an error report: from the token's start, at most 30 bytes,
// never past a line feed or the input's end, and never cutting a character.
std::string error_text(const lexer_state& r, const uint8_t* start) {
    const uint8_t* end = start;
    while (end < r.input_end && end - start < int32_t(ERROR_TEXT_MAX) && *end != '\n') end++;
    if (end - start == int32_t(ERROR_TEXT_MAX)) {
        const uint8_t* last = end;
        while (last > start && (last[-1] & 0xC0) == 0x80) last--;
        if (last > start && last[-1] >= 0xC0 && last - 1 + unicode::utf8_length(last[-1]) > end) end = last - 1;
    }
    return std::string(reinterpret_cast<const char*>(start), size_t(end - start));
}

// A string! of text that may hold bytes that are not UTF-8: those become
// the characters of their byte values, so that any offending text can be
// shown.
kiv_value lenient_string(const std::string& text) {
    kiv_value s;
    string::make_at(&s, uint32_t(text.size()));
    const uint8_t* p = reinterpret_cast<const uint8_t*>(text.data());
    const uint8_t* end = p + text.size();
    series_buffer* b = string::buffer_of(&s);
    while (p < end) {
        const uint8_t* q = p;
        int32_t cp = decode_char(q, end);
        if (cp < 0) {
            cp = *p;
            q = p + 1;
        }
        b = string::append_char(b, uint32_t(cp));
        p = q;
    }
    return s;
}

kiv_value literal_string(const std::string& text) {
    kiv_value s;
    string::make_at(&s, uint32_t(text.size()));
    string::concatenate_literal(&s, text.c_str());
    return s;
}

[[noreturn]] void raise_syntax(lexer_state& r, const uint8_t* start, int32_t code) {
    report.line = r.line;
    report.text = error_text(r, start);
    kiv_value line = literal_string("(line " + std::to_string(r.line) + ")");
    kiv_value text = lenient_string(report.text);
    kiv_value kind;
    switch (code) {
        case ERR_BAD_CHAR:
            report.id = err::syntax::bad_char;
            report.type = 0;
            fire(err::SYNTAX, err::syntax::bad_char, &line, &text);
        case ERR_MALCONSTRUCT:
            report.id = err::syntax::malconstruct;
            report.type = 0;
            fire(err::SYNTAX, err::syntax::malconstruct, &line, &text);
        case ERR_MISSING:
        case ERR_MISSING_AT_END: {
            // The delimiter that would have made sense: the closing one of
            // the open block, or the opening one for a stray closing one.
            uint8_t offending = code == ERR_MISSING_AT_END ? '_' : *start;
            bool square = r.missing_type == TYPE_BLOCK || r.missing_type == TYPE_MAP;
            uint32_t missing = square ? (offending == ']' ? '[' : ']') : (offending == ')' ? '(' : ')');
            report.id = err::syntax::missing;
            report.type = missing;
            kind = kiv_value{TYPE_CHAR, 0, missing, 0};
            fire(err::SYNTAX, err::syntax::missing, &line, &kind, &text);
        }
        default:
            report.id = err::syntax::invalid;
            report.type = uint32_t(code);
            datatype::make_at(&kind, uint32_t(code));
            fire(err::SYNTAX, err::syntax::invalid, &line, &kind, &text);
    }
}

}  // namespace

// The value buffer --------------------------------------------------------------

kiv_value* cell_at(uint32_t index) { return values.cells + index; }

kiv_value* alloc_cell(lexer_state& r) {
    if (r.tail == values.capacity) grow_values();
    kiv_value* cell = values.cells + r.tail++;
    *cell = kiv_value{TYPE_UNSET | (r.line_delta > 0 ? FLAG_NEW_LINE : 0), 0, 0, 0};
    return cell;
}

kiv_value* append(lexer_state& r, const kiv_value& value) {
    kiv_value copy = value;
    kiv_value* cell = alloc_cell(r);
    copy.header |= cell->header & FLAG_NEW_LINE;
    *cell = copy;
    return cell;
}

kiv_value* innermost_marker(lexer_state& r) { return r.level > r.head ? cell_at(r.level - 1) : nullptr; }

void open_level(lexer_state& r, uint32_t kind, const uint8_t* delimiter) {
    kiv_value* marker = alloc_cell(r);
    marker->header = (marker->header & FLAG_NEW_LINE) | TYPE_TRIPLE;
    marker->data1 = r.tail - r.level;
    marker->data2 = kind;
    marker->data3 = uint32_t(delimiter - r.input_start);
    r.level = r.tail;
}

void close_level(lexer_state& r, uint32_t kind) {
    uint32_t at = r.level - 1;
    uint32_t enclosing = r.level - cell_at(at)->data1;
    // Checked and prescanned blocks hold nothing: a none stands in for them.
    kiv_value value = r.load_q ? block_of_cells(r.level, r.tail - r.level, kind) : none_value;
    if (r.load_q && kind == TYPE_MAP) {
        value.header = TYPE_BLOCK;
        map::make_from(&value, &value);
    }
    kiv_value* marker = cell_at(at);
    value.header |= marker->header & FLAG_NEW_LINE;
    *marker = value;
    r.tail = at + 1;
    r.level = enclosing;
}

uint32_t resume_state(lexer_state& r) {
    kiv_value* marker = innermost_marker(r);
    return marker && path_kind_q(kind_of(marker)) ? S_PATH_ELEMENT : S_BETWEEN;
}

// Events and errors ---------------------------------------------------------------

bool fire_event(lexer_state& r, uint32_t event, int32_t type, const kiv_value* value,
                const uint8_t* start, const uint8_t* end, const uint8_t* input) {
    if (!wants_q(r, event)) return true;
    event_info e{event, type, r.line, position_of(r, input), position_of(r, start),
                 position_of(r, end), value};
    uint32_t given = e.input;
    bool result = r.cb->call(r.cb->context, e);
    if (e.input != given) r.cursor = byte_at(r, e.input);
    return result;
}

void throw_error(lexer_state& r, const uint8_t* start, const uint8_t* end, int32_t code) {
    if (code > 0 && r.type_override > 0) code = r.type_override;
    if (wants_q(r, EV_ERROR)) {
        int32_t type = r.type_override > 0 ? r.type_override
                       : r.missing_type   ? r.missing_type
                       : r.token_type     ? r.token_type
                                          : int32_t(TYPE_ERROR);
        if (!fire_event(r, EV_ERROR, type, nullptr, start, end, end)) throw quiet_stop{TYPE_ERROR};
    }
    if (!r.load_q) throw quiet_stop{TYPE_ERROR};
    raise_syntax(r, start, code);
}

// Text ------------------------------------------------------------------------------

int32_t decode_char(const uint8_t*& p, const uint8_t* end) {
    uint32_t length = unicode::utf8_length(*p);
    if (*p < 0x80) return *p++;
    if (length == 0 || end - p < int32_t(length)) {
        p++;
        return -1;
    }
    int32_t cp;
    const uint8_t* next = unicode::fast_decode_utf8_char(p, &cp);
    p = next;
    return cp;
}

bool unicode_blank_q(int32_t cp) {
    if (cp < 0 || uint32_t(cp) >= BLANKS_BYTES * 8) return false;
    return unicode_blanks[cp >> 3] & (0x80 >> (cp & 7));
}

// Interfaces --------------------------------------------------------------------------

void init() {
    values.capacity = VALUE_CELLS;
    values.cells = static_cast<kiv_value*>(std::malloc(VALUE_CELLS * sizeof(kiv_value)));
    conversion.size = CONVERSION_BYTES;
    conversion.used = 0;
    conversion.bytes = static_cast<uint8_t*>(std::malloc(CONVERSION_BYTES));
    unicode_blanks = static_cast<uint8_t*>(std::calloc(BLANKS_BYTES, 1));
    if (!values.cells || !conversion.bytes || !unicode_blanks)
        system::runtime_error(system::RT_OUT_OF_MEMORY);
    for (int32_t cp : BLANK_CODES) unicode_blanks[cp >> 3] |= uint8_t(0x80 >> (cp & 7));

    for (uint32_t cls = 0; cls < FINAL_COUNT; cls++) {
        scanners[cls] = HANDLER_PAIRS[cls][0];
        loaders[cls] = HANDLER_PAIRS[cls][1];
    }

    const char* events[] = {"prescan", "scan", "load", "open", "close", "error"};
    for (uint32_t i = 0; i < 6; i++) event_symbols[i] = symbol::make(events[i]);

    // By class number. The comma class has a word of its own, so the entries
    // from there on are one further than their classes up to the point
    // class; only the structural classes (up to the comma) are ever looked
    // up.
    struct entry {
        const char* word;
        uint32_t type;
    };
    const entry entries[] = {
        {"eof", 0}, {nullptr, TYPE_ERROR}, {nullptr, TYPE_BLOCK}, {nullptr, TYPE_BLOCK},
        {nullptr, TYPE_PAREN}, {nullptr, TYPE_PAREN}, {nullptr, TYPE_STRING},
        {nullptr, TYPE_STRING}, {nullptr, TYPE_MAP}, {nullptr, TYPE_PATH},
        {nullptr, TYPE_DATATYPE}, {"comment", 0}, {"comma", 0}, {nullptr, TYPE_STRING},
        {nullptr, TYPE_WORD}, {nullptr, TYPE_ISSUE}, {nullptr, TYPE_INTEGER},
        {nullptr, TYPE_REFINEMENT}, {nullptr, TYPE_CHAR}, {nullptr, TYPE_FILE},
        {nullptr, TYPE_BINARY}, {nullptr, TYPE_PERCENT}, {nullptr, TYPE_FLOAT},
        {nullptr, TYPE_FLOAT}, {nullptr, TYPE_TUPLE}, {nullptr, TYPE_DATE}, {nullptr, TYPE_PAIR},
        {nullptr, TYPE_TIME}, {nullptr, TYPE_MONEY}, {nullptr, TYPE_TAG}, {nullptr, TYPE_URL},
        {nullptr, TYPE_EMAIL}, {"hex", 0}, {"rawstring", 0}, {nullptr, TYPE_REF},
    };
    exit_states_index = block::length_all(&runtime::root);
    kiv_value* states = block::make_in(&runtime::root, int32_t(std::size(entries)));
    for (const entry& e : entries) {
        kiv_value v{0, 0, 0, 0};
        if (e.word) word::make_at(symbol::make(e.word), &v);
        else datatype::make_at(&v, e.type);
        states = block::cells(&runtime::root) + exit_states_index;
        *block::alloc_tail(states) = v;
    }
}

int32_t scan(kiv_value* out, const uint8_t* text, uint32_t size, bool one, bool prescan,
             bool scan_only, int32_t* consumed, callback* cb, const kiv_value* source,
             kiv_value* destination) {
    lexer_state r{};
    chain_link link(r);
    r.input_start = r.cursor = r.cached_position = text;
    r.input_end = text + size;
    r.line = 1;
    r.type_override = -1;
    r.cb = cb;
    r.event_mask = cb ? cb->mask : 0;
    r.source = source ? *source : none_value;
    r.load_q = !prescan && !scan_only;
    r.one_q = one;
    r.prescan_q = prescan;
    int32_t type;
    try {
        scan_tokens(r);
        if (r.level > r.head) raise_missing_at_end(r);
        type = r.token_type;
    } catch (const quiet_stop& stop) {
        type = stop.type;
        if (r.load_q) close_open_levels(r);
    } catch (const kiv_exit&) {
        // The values completed before a syntax error stay in the caller's
        // block; those still open are dropped with the error.
        if (r.load_q && destination && !r.one_q) {
            while (r.level > r.head) {
                uint32_t at = r.level - 1;
                r.level -= cell_at(at)->data1;
                r.tail = at;
            }
            store_results(r, out, destination);
        }
        throw;
    }
    if (r.load_q) store_results(r, out, destination);
    if (consumed) *consumed = int32_t(position_of(r, r.cursor));
    return type;
}

int32_t scan_string(kiv_value* out, const kiv_value* str, int32_t length, bool one, bool prescan,
                    bool scan_only, int32_t* consumed, callback* cb, kiv_value* destination) {
    kiv_value source = *str;
    uint32_t available = string::ks_length_q(&source);
    uint32_t count = length >= 0 && uint32_t(length) < available ? uint32_t(length) : available;
    uint32_t unit = unit_of(string::buffer_of(&source));
    // The most UTF-8 bytes a character of each unit width can take.
    uint64_t worst = uint64_t(count) * (unit == 1 ? 2 : unit == 2 ? 3 : 4) + 1;
    conversion_space space(worst);
    uint32_t size = unicode::to_utf8_into(&source, space.data, int32_t(count), false);
    return scan(out, space.data, size, one, prescan, scan_only, consumed, cb, &source, destination);
}

kiv_value* load_single(const kiv_value* str, kiv_value* cell) {
    kiv_value source = *str;
    uint32_t length = string::ks_length_q(&source);
    int32_t consumed = 0;
    kiv_value loaded = unset_value;
    scan_string(&loaded, &source, -1, false, false, false, &consumed, nullptr, nullptr);
    if (uint32_t(consumed) < length) *cell = none_value;
    else if (block::length_all(&loaded) == 0) *cell = unset_value;
    else *cell = *block::cells(&loaded);
    return cell;
}

kiv_value* load_string(const kiv_value* str) { return load_single(str, stack::arguments); }

uint32_t event_mask(const kiv_value* body) {
    if (block::ks_length_q(body) < 1) return EV_ALL;
    const kiv_value* first = block::cells(body) + body->data1;
    if (type_of(first) != TYPE_BLOCK) return EV_ALL;
    uint32_t mask = 0;
    for (int32_t i = 0; i < block::ks_length_q(first); i++) {
        const kiv_value* w = block::cells(first) + first->data1 + i;
        if (type_of(w) != TYPE_WORD) continue;
        int32_t sym = symbol::resolve(word::symbol_of(w));
        for (uint32_t bit = 0; bit < 6; bit++)
            if (sym == symbol::resolve(event_symbols[bit])) mask |= 1u << bit;
    }
    return mask;
}

const kiv_value* exit_states() { return block::cells(&runtime::root) + exit_states_index; }

kiv_value type_value(int32_t type) {
    if (type == 0) return none_value;
    if (type > 0) return kiv_value{TYPE_DATATYPE, uint32_t(type), 0, 0};
    const kiv_value* states = exit_states();
    uint32_t index = uint32_t(-(type + 1));
    if (index >= block::length_all(states)) return none_value;
    return block::cells(states)[index];
}

void mark_states(void (*mark_values)(kiv_value* first, kiv_value* end)) {
    for (lexer_state* r = chain_head; r; r = r->next) {
        mark_values(cell_at(r->head), cell_at(r->tail));
        mark_values(&r->source, &r->source + 1);
        if (r->cb) mark_values(&r->cb->function, &r->cb->function + 1);
    }
}

const syntax_report& last_report() { return report; }

}  // namespace kiv::lexer
