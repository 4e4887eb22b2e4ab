#pragma once
// string!: the string cell, its buffers and the core helpers every datatype
// uses to build and read text.
//
// A string cell is {header TYPE_STRING, head, node, scratch}: `head` is the
// signed cursor in code units from the buffer's offset, `node` names the
// buffer, and the fourth word is 0 or the node of the byte series that
// exports to UTF-8 and UTF-16 reuse (see unicode.h). file!, url!, tag!,
// email! and ref! share the layout.
//
// A buffer holds 1-, 2- or 4-byte units and widens as a whole when a code
// point that does not fit is stored. Widening and growth may give a series a
// new buffer, so every writer returns the buffer to go on with: callers
// continue with that one, never with one they read before the call.
#include <bit>
#include <cstdint>
#include <cstring>

#include "runtime/memory.h"
#include "runtime/value.h"

namespace kiv::string {

// Units are stored little-endian; the platforms Kiv runs on are.
static_assert(std::endian::native == std::endian::little);

// Comparison operation codes of the compare slot that string comparison
// tells apart.
enum compare_op : int32_t {
    OP_EQUAL = 0,
    OP_NOT_EQUAL = 1,
    OP_STRICT_EQUAL = 2,
    OP_LESSER = 3,
    OP_LESSER_EQUAL = 4,
    OP_GREATER = 5,
    OP_GREATER_EQUAL = 6,
    OP_SORT = 7,
    OP_CASE_SORT = 8,
    OP_SAME = 9,
    OP_FIND = 12,
};

// Where concatenate puts the source's text.
enum concat_mode : uint32_t { APPEND = 0, INSERT = 1, OVERWRITE = 2 };

// Encodings of load_at.
enum text_encoding : int32_t { UTF8 = 0, UTF16LE = -1 };

inline series_buffer* buffer_of(const kiv_value* str) { return series::buffer(str->data2); }
inline int32_t head_of(const kiv_value* str) { return int32_t(str->data1); }

// A unit other than 1, 2 or 4 is an internal fault: runtime error 101.
[[noreturn]] void bad_unit();

// The code point stored at p in a unit of 1, 2 or 4 bytes.
inline uint32_t get_char(const uint8_t* p, uint32_t unit) {
    switch (unit) {
        case 1: return *p;
        case 2: { uint16_t v; std::memcpy(&v, p, 2); return v; }
        case 4: { uint32_t v; std::memcpy(&v, p, 4); return v; }
        default: bad_unit();
    }
}
// Stores a code point at p in a unit of 1, 2 or 4 bytes (no width check).
inline void put_char(uint8_t* p, uint32_t unit, uint32_t cp) {
    switch (unit) {
        case 1: *p = uint8_t(cp); break;
        case 2: { uint16_t v = uint16_t(cp); std::memcpy(p, &v, 2); break; }
        case 4: std::memcpy(p, &cp, 4); break;
        default: bad_unit();
    }
}

// Accessors. A cursor past the tail reads as the tail; ks_head and
// ks_length_q also rewrite it there.
uint8_t* ks_head(kiv_value* str);
uint32_t ks_length_q(kiv_value* str);
uint32_t ks_length_all(const kiv_value* str);
uint8_t* ks_tail_ptr(const kiv_value* str);
bool ks_tail_q(const kiv_value* str);
uint32_t ks_abs_at(const kiv_value* str, uint32_t index);  // ignores the cursor
// Empties the buffer and sets its unit back to 1 and the cursor to 0.
kiv_value* ks_reset(kiv_value* str);
// Index from the cursor of the first unit equal to cp, -1 when absent.
int32_t ks_find_char(kiv_value* str, uint32_t cp);

// Constructors.
kiv_value* make_at(kiv_value* slot, uint32_t units);  // 1-byte units; 0 gives 1
kiv_value* make_at_unit(kiv_value* slot, uint32_t units, uint32_t unit);
kiv_value* push(const kiv_value* str);  // a copy on the argument stack

// Expands a buffer to hold `needed` bytes from its offset, to at least twice
// its size; more than 2^31 - 1 bytes raises `no-memory`.
series_buffer* reserve(series_buffer* buffer, uint64_t needed);

// Writers. Appending widens a 1-byte buffer from code point 128 on (its
// text stays ASCII), storing in place only from 256.
series_buffer* append_char(series_buffer* buffer, uint32_t cp);
// p lies in the used part; after a widening the same index is written.
series_buffer* write_char(series_buffer* buffer, uint8_t* p, uint32_t cp);
// index may be the length, which appends.
series_buffer* overwrite_char(series_buffer* buffer, uint32_t index, uint32_t cp);
series_buffer* insert_char(series_buffer* buffer, uint32_t index, uint32_t cp);
// Removes count units at an index from the buffer's offset.
series_buffer* remove_units(kiv_value* str, uint32_t index, uint32_t count);
// Cuts the text to n units when n lies below the tail.
series_buffer* truncate_to(series_buffer* buffer, uint32_t n);
// Widens from one unit to a wider one: 1 to 2, 1 to 4 or 2 to 4.
series_buffer* widen_to(series_buffer* buffer, uint32_t from, uint32_t to);
// Copies `length` units (below 1: to the source's tail) of a 1- or 2-byte
// source from index src_start into a wider target at index dst_start,
// zero-extending each. A null target is made by expanding the source's
// series to `size` bytes (the source buffer stays readable meanwhile).
// Unless keep_unit, the target's unit and tail become the new width and the
// copy's end. Returns the target.
series_buffer* copy_widened(series_buffer* source, series_buffer* target, uint32_t size,
                            uint32_t unit, uint32_t src_start, uint32_t dst_start,
                            int32_t length, bool keep_unit);
// Turns [first][gap][second] into [second][gap][first] in one buffer; the
// lengths are in bytes and second is first + first_len + gap.
void exchange_ranges(uint8_t* first, uint32_t first_len, uint8_t* second, uint32_t second_len,
                     uint32_t gap);
// The string side of `move` across unit widths: inserts the code points of
// `bytes` bytes at the source's cursor at the target's cursor, then removes
// them from the source. Returns the target's buffer.
series_buffer* move_units(kiv_value* source, kiv_value* target, uint32_t bytes);

// Brings the text of a string-like source (from its cursor, at most `part`
// units when part is not negative) into the target: appended, inserted or
// written over `offset` units after the target's cursor. A narrower source
// is widened to the target's unit unless keep_source, when its code points
// are copied one by one instead.
series_buffer* concatenate(kiv_value* target, kiv_value* source, int32_t part, uint32_t offset,
                           bool keep_source, concat_mode mode);
// concatenate's common case, appending all of a text of the target's own
// unit width at its tail in one copy; false, changing nothing, when the
// source is no such text.
bool append_same_width(kiv_value* target, kiv_value* source);
// Appends each byte as one code point (128-255 are Latin-1).
series_buffer* concatenate_literal(kiv_value* str, const char* text);
series_buffer* concatenate_bytes(kiv_value* str, const uint8_t* bytes, uint32_t n);

// Compares the texts from both cursors: -1, 0 or 1. Without op 2 (strict)
// or 8 (case-sensitive sort) both sides fold to upper case. With `match`
// the second must be a prefix of the first. Op 9 compares identity only.
int32_t compare_series(kiv_value* a, kiv_value* b, int32_t op, bool match);
// The text at the cursor begins with the ASCII literal.
bool starts_with_ascii_q(kiv_value* str, const char* text);
// Some unit at the cursor, or a multiple of skip units after it, equals cp
// (both folded to upper case unless case_sensitive).
bool contains_char_q(kiv_value* str, uint32_t cp, uint32_t skip, bool case_sensitive);
// The text at the cursor is "<", as many units as the tag holds, then ">".
bool angle_bracketed_q(kiv_value* str, kiv_value* tag);

// Upper-case hexadecimal digits in static buffers, valid until the next call.
const char* byte_to_hex(uint8_t byte);
// All eight digits, or from the first significant one with `shortest`
// (0 gives "00").
const char* to_hex(int32_t value, bool shortest);

// Decodes bytes into a string! in the given cell (a new one on the argument
// stack when null) and returns the cell. Any other encoding than UTF8 and
// UTF16LE (whose size is in bytes) raises `access` `no-codec`.
kiv_value* load_at(const uint8_t* src, uint32_t size, kiv_value* slot, int32_t encoding);
kiv_value* load(const uint8_t* src, uint32_t size, int32_t encoding);
// The same into a new cell appended to a block.
kiv_value* load_in(const uint8_t* src, uint32_t size, kiv_value* block, int32_t encoding);

// The string! actions (string_actions.cpp). file!, url!, tag!, email! and
// ref! inherit most of them, so they take any value of the string family.

// Appends the code point as mold writes it inside a string or a char!
// literal: control codes and "^" with a caret, 30 and 128-159 (every code
// point above 127 with `all`) as "^(" hexadecimal digits ")".
void mold_escape_char(kiv_value* buffer, uint32_t cp, bool all);

kiv_value* make(kiv_value* proto, kiv_value* spec, uint32_t type);
kiv_value* to(kiv_value* proto, kiv_value* spec, uint32_t type);
int32_t form(kiv_value* str, kiv_value* buffer, kiv_value* arg, int32_t part);
int32_t mold(kiv_value* str, kiv_value* buffer, bool only, bool all, bool flat, kiv_value* arg,
             int32_t part, int32_t indent);
kiv_value* eval_path(kiv_value* parent, kiv_value* element, kiv_value* value, kiv_value* path,
                     kiv_value* gparent, kiv_value* p_item, int32_t index, bool case_, bool get,
                     bool tail, bool notify);
int32_t compare(kiv_value* str1, kiv_value* str2, int32_t op);
kiv_value* append(kiv_value* str, kiv_value* value, int32_t part, bool only, int32_t dup, bool);
kiv_value* insert(kiv_value* str, kiv_value* value, int32_t part, bool only, int32_t dup,
                  bool append);
kiv_value* change(kiv_value* str, kiv_value* value, int32_t part, bool only, int32_t dup);
kiv_value* find(kiv_value* str, kiv_value* value, kiv_value* part, bool only, bool case_,
                bool same, bool any, kiv_value* with, kiv_value* skip, bool last, bool reverse,
                bool tail, bool match);
kiv_value* select(kiv_value* str, kiv_value* value, kiv_value* part, bool only, bool case_,
                  bool same, bool any, kiv_value* with, kiv_value* skip, bool last,
                  bool reverse);
kiv_value* sort(kiv_value* str, bool case_, kiv_value* skip, kiv_value* comparator,
                kiv_value* part, bool all, bool reverse, bool stable);
kiv_value* swap(kiv_value* str1, kiv_value* str2);
kiv_value* take(kiv_value* str, kiv_value* part, bool deep, bool last);
kiv_value* trim(kiv_value* str, bool head, bool tail, bool auto_, bool lines, bool all,
                kiv_value* with);
// Removes from the cursor on every code point of the set: the text of a
// string! or binary! `with` from its cursor, a char! or an integer!; tab,
// line feed, carriage return and space when `with` is null.
kiv_value* trim_with(kiv_value* str, kiv_value* with);
// unique, union, intersect, exclude and difference (OP_UNIQUE ...
// OP_DIFFERENCE) on the characters of two strings: the result replaces the
// first. `skip`, when not null, is the record size.
kiv_value* do_set_op(int32_t op, kiv_value* first, kiv_value* second, bool case_,
                     kiv_value* skip);

void init();  // registers string!

}  // namespace kiv::string
