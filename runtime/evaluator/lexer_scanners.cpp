// The lexer's scanners: the structural tokens (blocks, parens, maps, paths,
// multi-line strings, constructions, comments, commas) and the checks of
// words, issues and strings.
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/map.h"
#include "runtime/errors.h"
#include "runtime/evaluator/lexer_state.h"

namespace kiv::lexer {

namespace {

// A "(" opens a point when what follows looks like numbers and a comma: the
// first byte that cannot be part of a number is a comma, or the input ends
// first.
bool point_ahead_q(const uint8_t* p, const uint8_t* end) {
    if (end - p < 4) return false;
    for (; p < end; p++) {
        switch (*p) {
            case '\t': case ' ': case '#': case '+': case '-': case '.':
            case 'A': case 'E': case 'F': case 'I': case 'N':
            case 'a': case 'e': case 'f': case 'i': case 'n':
                continue;
            default:
                if (*p >= '0' && *p <= '9') continue;
                return *p == ',';
        }
    }
    return true;
}

// Opening a block, paren or map ("#[" opens from its "#"): not inside a
// point, and not when the callback says no.
void open_checked(lexer_state& r, uint32_t kind, const uint8_t* opening) {
    kiv_value* marker = innermost_marker(r);
    if (marker && kind_of(marker) == TYPE_POINT2D) throw_error(r, opening, r.cursor, TYPE_POINT2D);
    if (!fire_event(r, EV_OPEN, int32_t(kind), nullptr, opening, r.cursor, opening)) return;
    open_level(r, kind, opening);
    r.state = S_BETWEEN;
}

// A paren that commas turned into a point holds one number per coordinate;
// the point takes the paren's place.
void close_point(lexer_state& r, const kiv_value* marker) {
    const uint8_t* opening = r.input_start + marker->data3;
    uint32_t commas = marker->data2 >> COMMA_SHIFT;
    uint32_t count = r.tail - r.level;
    bool numbers = count == commas + 1;
    for (uint32_t i = r.level; numbers && i < r.tail; i++) {
        uint32_t t = type_of(cell_at(i));
        numbers = t == TYPE_INTEGER || t == TYPE_FLOAT;
    }
    if (!numbers) throw_error(r, opening, r.token_end + 1, commas == 2 ? TYPE_POINT3D : TYPE_POINT2D);
    double c[3] = {};
    for (uint32_t i = 0; i < count; i++) {
        const kiv_value* v = cell_at(r.level + i);
        c[i] = type_of(v) == TYPE_INTEGER ? double(integer::get_value(v)) : float_::get(v);
    }
    uint32_t at = r.level - 1;
    uint32_t enclosing = r.level - marker->data1;
    kiv_value value;
    point::make_at(&value, commas == 2 ? TYPE_POINT3D : TYPE_POINT2D, c[0], c[1], c[2]);
    kiv_value* cell = cell_at(at);
    value.header |= cell->header & FLAG_NEW_LINE;
    *cell = value;
    r.tail = at + 1;
    r.level = enclosing;
}

void check_map_values(lexer_state& r, const kiv_value* marker) {
    const uint8_t* opening = r.input_start + marker->data3;
    if ((r.tail - r.level) % 2) throw_error(r, opening, r.token_end + 1, TYPE_MAP);
    for (uint32_t i = r.level; i < r.tail; i += 2)
        if (!map::key_type_q(type_of(cell_at(i)))) throw_error(r, opening, r.token_end + 1, TYPE_MAP);
}

// "]" closes a block or a map, ")" a paren or a point.
void close_checked(lexer_state& r, uint32_t closing) {
    const uint8_t* delimiter = r.token_end;
    kiv_value* marker = innermost_marker(r);
    uint32_t kind = marker ? kind_of(marker) : 0;
    if (path_kind_q(kind)) throw_error(r, r.input_start + marker->data3, delimiter + 1, TYPE_PATH);
    bool fits = closing == TYPE_BLOCK ? kind == TYPE_BLOCK || kind == TYPE_MAP
                                      : kind == TYPE_PAREN || kind == TYPE_POINT2D;
    if (!fits) {
        // A callback learns of the stray delimiter as a close of its own
        // kind, so that it can tell a mismatch from an input still open.
        if (!fire_event(r, EV_CLOSE, int32_t(closing), nullptr, delimiter, delimiter + 1, delimiter + 1)) return;
        r.missing_type = int32_t(kind ? kind : closing);
        throw_error(r, delimiter, delimiter + 1, ERR_MISSING);
    }
    if (!fire_event(r, EV_CLOSE, int32_t(kind), nullptr, delimiter, delimiter + 1, delimiter + 1)) return;
    if (r.load_q && kind == TYPE_MAP) check_map_values(r, marker);
    if (r.load_q && kind == TYPE_POINT2D) close_point(r, marker);
    else close_level(r, kind);
    r.token_type = int32_t(kind);
    r.state = resume_state(r);
}

// Bytes at which a path element ends the path: blanks, line feeds,
// brackets, parens, braces, quotes, ":", "<", ";", letters, illegal bytes,
// NUL.
bool closes_path_q(uint8_t byte) {
    switch (byte_classes[byte] & 0xFF) {
        case C_BLANK: case C_LF: case C_LBRACKET: case C_RBRACKET: case C_LPAREN: case C_RPAREN:
        case C_LBRACE: case C_DQUOTE: case C_COLON: case C_LESS: case C_SEMICOLON: case C_LETTER:
        case C_ILLEGAL: case C_END:
            return true;
        default:
            return false;
    }
}

void check_utf8_of(lexer_state& r, const uint8_t* start, const uint8_t* end, uint32_t type) {
    for (const uint8_t* p = start; p < end;)
        if (decode_char(p, end) < 0) throw_error(r, r.token_start, end, type);
}

}  // namespace

void scan_end(lexer_state& r, const uint8_t*, const uint8_t*, uint32_t, bool) { r.cursor = r.input_end; }

void scan_error(lexer_state& r, const uint8_t* start, const uint8_t* end, uint32_t, bool) {
    int32_t type = type_table[r.previous_state];
    const uint8_t* from = r.string_depth > 0 ? r.string_start : start;
    // A delimited token (a string, a binary, a tag) that fails has not been
    // closed: its error is the token's, so that a callback learns what is
    // still open.
    if (r.string_depth > 0) r.type_override = TYPE_STRING;
    else if (type == TYPE_STRING || type == TYPE_BINARY || type == TYPE_TAG) r.type_override = type;
    throw_error(r, from, end, type ? type : ERR_BAD_CHAR);
}

void scan_block_open(lexer_state& r, const uint8_t*, const uint8_t*, uint32_t, bool) {
    const uint8_t* delimiter = r.token_end;
    if (*delimiter == '(' && point_ahead_q(delimiter + 1, r.input_end)) {
        r.point_delta = r.line_delta;
        r.state = S_IN_POINT;
        return;
    }
    open_checked(r, *delimiter == '(' ? TYPE_PAREN : TYPE_BLOCK, delimiter);
}

void scan_block_close(lexer_state& r, const uint8_t*, const uint8_t*, uint32_t, bool) {
    close_checked(r, TYPE_BLOCK);
}

void scan_paren_close(lexer_state& r, const uint8_t*, const uint8_t*, uint32_t, bool) {
    close_checked(r, TYPE_PAREN);
}

// A multi-line string goes on token after token from the multi-line states:
// each "{" nests one level deeper and each "}" one back; the flags of all
// its pieces gather in string_flags.
void scan_string_open(lexer_state& r, const uint8_t*, const uint8_t*, uint32_t flags, bool) {
    const uint8_t* brace = r.token_end;
    if (r.string_depth == 0) {
        if (!fire_event(r, EV_OPEN, TYPE_STRING, nullptr, brace, brace + 1, brace)) return;
        r.string_start = brace;
        r.string_flags = r.line_delta > 0 ? F_AFTER_LINE : 0;
    }
    r.string_depth++;
    r.string_flags |= flags;
    r.state = S_MULTILINE;
}

void scan_string_close(lexer_state& r, const uint8_t*, const uint8_t*, uint32_t flags, bool load) {
    r.string_flags |= flags;
    if (--r.string_depth > 0) {
        if (r.cursor >= r.input_end) throw_error(r, r.string_start, r.input_end, TYPE_STRING);
        return;
    }
    r.state = S_BETWEEN;
    const uint8_t* brace = r.token_end;
    // The whole string is the token from here on.
    r.token_start = r.string_start;
    if (!r.prescan_q) {
        bool go = true;
        if (!load || wants_q(r, EV_SCAN)) {
            load_text(r, r.string_start + 1, brace, r.string_flags, true, TYPE_STRING, false);
            go = fire_event(r, EV_SCAN, TYPE_STRING, nullptr, r.string_start, brace + 1, r.cursor);
        }
        if (load && go) {
            load_text(r, r.string_start + 1, brace, r.string_flags, true, TYPE_STRING, true);
            if (!fire_event(r, EV_LOAD, TYPE_STRING, cell_at(r.tail - 1), r.string_start, brace + 1, r.cursor))
                r.tail--;
        }
    }
    fire_event(r, EV_CLOSE, TYPE_STRING, nullptr, brace, brace + 1, r.cursor);
    r.string_flags = 0;
}

void scan_map_open(lexer_state& r, const uint8_t* start, const uint8_t* end, uint32_t, bool) {
    if (*start != '#') throw_error(r, start, end, TYPE_MAP);
    open_checked(r, TYPE_MAP, start);
}

// A word followed by "/": the path's kind comes from the word's first byte,
// and the word is its head.
void scan_path_open(lexer_state& r, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    uint32_t kind = *start == '\'' ? TYPE_LIT_PATH : *start == ':' ? TYPE_GET_PATH : TYPE_PATH;
    // A separator with nothing after it.
    if (r.cursor >= r.input_end) throw_error(r, start, r.input_end, TYPE_PATH);
    open_level(r, kind, start);
    r.state = S_PATH_ELEMENT;
    const uint8_t* head = kind == TYPE_PATH ? start : start + 1;
    if (!load) {
        if (!r.prescan_q) check_utf8_of(r, head, end, TYPE_WORD);
        return;
    }
    r.token_type = TYPE_WORD;
    if (!fire_event(r, EV_SCAN, TYPE_WORD, nullptr, start, end, r.cursor)) return;
    make_word(r, head, end, flags, TYPE_WORD);
    if (!fire_event(r, EV_LOAD, TYPE_WORD, cell_at(r.tail - 1), start, end, r.cursor)) r.tail--;
}

void scan_construct(lexer_state& r, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    kiv_value value;
    int32_t found = end - start >= 2 && start[0] == '#' && start[1] == '('
                        ? construct_value(start + 2, end, &value)
                        : CONSTRUCT_UNKNOWN;
    if (found == CONSTRUCT_UNKNOWN) throw_error(r, start, end, ERR_MALCONSTRUCT);
    r.token_type = int32_t(type_of(&value));
    if (!load) return;
    // The datatypes not registered yet join later.
    if (found == CONSTRUCT_PENDING) fire(err::INTERNAL, err::internal::not_done);
    append(r, value);
}

void scan_comment(lexer_state& r, const uint8_t* start, const uint8_t* end, uint32_t, bool) {
    if (!r.prescan_q) fire_event(r, EV_SCAN, -int32_t(K_COMMENT + 1), nullptr, start, end, r.cursor);
}

// Commas separate the coordinates of a point: one inside a paren makes it a
// point. Elsewhere a comma has no meaning.
void scan_comma(lexer_state& r, const uint8_t*, const uint8_t*, uint32_t, bool load) {
    const uint8_t* comma = r.token_end;
    kiv_value* marker = innermost_marker(r);
    uint32_t kind = marker ? kind_of(marker) : 0;
    if (kind != TYPE_PAREN && kind != TYPE_POINT2D) throw_error(r, comma, comma + 1, TYPE_POINT2D);
    uint32_t commas = kind == TYPE_POINT2D ? marker->data2 >> COMMA_SHIFT : 0;
    uint32_t point = commas == 0 ? TYPE_POINT2D : TYPE_POINT3D;
    if (commas == 2 || (load && r.tail - r.level != commas + 1)) throw_error(r, comma, comma + 1, point);
    marker->data2 = TYPE_POINT2D | (commas + 1) << COMMA_SHIFT;
}

// In load mode the loader checks the text as it decodes it.
void check_string(lexer_state& r, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    if (!load) load_text(r, start + 1, end, flags, true, TYPE_STRING, false);
}

// A word ends at the first Unicode blank; its colons and quote make it a
// set-word, get-word or lit-word.
void check_word(lexer_state& r, const uint8_t* start, const uint8_t* end, uint32_t flags, bool) {
    if (flags & (F_UTF8_WIDE | F_UTF8_FOUR)) {
        for (const uint8_t* p = start; p < end;) {
            const uint8_t* at = p;
            int32_t cp = decode_char(p, end);
            if (cp < 0) throw_error(r, start, end, TYPE_WORD);
            if (unicode_blank_q(cp)) {
                r.token_end = r.cursor = end = at;
                break;
            }
        }
    } else {
        check_utf8_of(r, start, end, TYPE_WORD);
    }
    int32_t type = TYPE_WORD;
    if (flags & F_COLON) {
        bool lead = *start == ':';
        bool trail = end - start > 1 && end[-1] == ':';
        if (lead && trail) throw_error(r, start, end, TYPE_WORD);
        for (const uint8_t* p = start + lead; p < end - trail; p++) {
            bool before_delimiter = p + 1 >= r.input_end || closes_path_q(p[1]);
            if (*p == ':' && !(r.state == S_PATH_ELEMENT && before_delimiter))
                throw_error(r, start, end, TYPE_WORD);
        }
        type = lead ? TYPE_GET_WORD : trail ? TYPE_SET_WORD : TYPE_WORD;
    }
    if (*start == '\'') {
        if (type == TYPE_SET_WORD) throw_error(r, start, end, TYPE_LIT_WORD);
        type = TYPE_LIT_WORD;
    }
    r.token_type = type;
}

void check_issue(lexer_state& r, const uint8_t* start, const uint8_t* end, uint32_t, bool) {
    if (end - start < 2 || *start != '#') throw_error(r, start, end, TYPE_ISSUE);
    check_utf8_of(r, start + 1, end, TYPE_ISSUE);
}

// After each path element: a closing byte ends the path (":" makes it a
// set-path), "/" announces the next element. Any other byte cannot follow
// an element.
void path_end(lexer_state& r) {
    const uint8_t* p = r.cursor;
    if (p < r.input_end && !closes_path_q(*p)) {
        if (*p != '/' || p + 1 >= r.input_end) throw_error(r, p, p + 1, TYPE_PATH);
        r.cursor = p + 1;
        return;
    }
    uint32_t kind = kind_of(innermost_marker(r));
    if (p < r.input_end && *p == ':') {
        if (p + 1 < r.input_end && p[1] == '/') throw_error(r, p, p + 2, TYPE_PATH);
        r.cursor = p + 1;
        kind = TYPE_SET_PATH;
    }
    close_level(r, kind);
    r.token_type = int32_t(kind);
    r.state = resume_state(r);
}

// The opening run counts the "%" before "{"; the closing run the "%" after
// the last "}". A shorter closing run is part of the text: the string goes
// on to a "}" followed by as many "%" as it opened with.
void extend_raw_string(lexer_state& r) {
    const uint8_t* start = r.token_start;
    const uint8_t* end = r.token_end;
    uint32_t opening = 0;
    while (start[opening] == '%') opening++;
    uint32_t closing = 0;
    while (end[-1 - int32_t(closing)] == '%') closing++;
    if (closing > opening) throw_error(r, start, end, TYPE_STRING);
    const uint8_t* p = end;
    while (closing < opening) {
        while (p < r.input_end && *p != '}') p++;
        if (p >= r.input_end) throw_error(r, start, r.input_end, TYPE_STRING);
        const uint8_t* run = ++p;
        while (p < r.input_end && *p == '%') p++;
        closing = uint32_t(p - run);
        if (closing > opening) throw_error(r, start, p, TYPE_STRING);
    }
    for (const uint8_t* q = end; q < p; q++) {
        r.flags |= byte_classes[*q] & ~0xFFu;
        r.line += *q == '\n';
    }
    r.token_end = r.cursor = p;
}

}  // namespace kiv::lexer
