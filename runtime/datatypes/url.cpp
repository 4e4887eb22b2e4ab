// url!: percent-escaped molding, the percent helpers, URLs built from
// blocks, path joining, and the hand-over of read, write and open to HTTP
// and to ports.
#include "runtime/datatypes/url.h"

#include <array>
#include <climits>
#include <string>

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/errors.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/io/http.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kiv::url {

namespace {

// Which ASCII codes each class keeps plain.
using char_class = std::array<bool, 128>;

constexpr char_class class_of(const char* extra) {
    char_class plain{};
    for (int c = '0'; c <= '9'; c++) plain[c] = true;
    for (int c = 'A'; c <= 'Z'; c++) plain[c] = true;
    for (int c = 'a'; c <= 'z'; c++) plain[c] = true;
    for (const char* p = extra; *p; p++) plain[uint8_t(*p)] = true;
    return plain;
}

constexpr char_class GENERAL_PLAIN = class_of("!#$&'()*+,-./:=?@_~");
constexpr char_class UNRESERVED_PLAIN = class_of("-._~");

// The UTF-8 bytes of a text from its cursor.
std::string utf8_of(const kiv_value* text) {
    kiv_value s = *text;
    const uint8_t* head = string::ks_head(&s);
    uint32_t unit = series::unit_of_value(&s);
    std::string bytes(unicode::utf8_size(head, string::ks_tail_ptr(&s), unit), '\0');
    unicode::to_utf8_into(&s, reinterpret_cast<uint8_t*>(bytes.data()), -1, false);
    return bytes;
}

int32_t hex_digit(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The length of the UTF-8 sequence a lead byte may begin: 0 for ASCII, a
// continuation byte, or a byte that never leads (C0, C1, F5-FF).
uint32_t lead_length(uint8_t b) {
    if (b >= 0xC2 && b <= 0xDF) return 2;
    if (b >= 0xE0 && b <= 0xEF) return 3;
    if (b >= 0xF0 && b <= 0xF4) return 4;
    return 0;
}

// Decodes the escape at p, with the escapes after it when its byte leads a
// valid UTF-8 sequence; returns the position after what it took.
const uint8_t* decode_escaped(const uint8_t* p, uint32_t* cp) {
    uint8_t seq[5] = {};  // zero after the sequence makes the decoder stop
    decode_escape(p, &seq[0]);
    *cp = seq[0];
    uint32_t n = lead_length(seq[0]);
    for (uint32_t k = 1; k < n; k++)
        if (!decode_escape(p + 3 * k, &seq[k])) return p + 3;
    if (n == 0) return p + 3;
    int32_t decoded;
    const uint8_t* after = unicode::fast_decode_utf8_char(seq, &decoded);
    // What the strict decoder refuses (overlong forms, surrogates, U+FFFE)
    // falls back to the lead byte alone.
    if (decoded < 0 || after != seq + n || decoded == 0xFFFE) return p + 3;
    *cp = uint32_t(decoded);
    return p + 3 * n;
}

// Decodes one code point of UTF-8 that this runtime encoded (so any code
// point a string holds, lone surrogates included).
const uint8_t* decode_plain(const uint8_t* p, uint32_t* cp) {
    uint32_t n = unicode::utf8_length(*p);
    if (n == 0) {
        *cp = *p;
        return p + 1;
    }
    uint32_t c = *p & (0x7F >> n);
    for (uint32_t k = 1; k < n; k++) c = (c << 6) | (p[k] & 0x3F);
    *cp = c;
    return p + n;
}

[[noreturn]] void not_done() { fire(err::INTERNAL, err::internal::not_done); }

bool block_kind_q(uint32_t t) { return t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH; }

// The values of a block from its cursor, formed into "scheme://host",
// ":port" when the third value is an integer!, then each further value after
// "/", or after "#" when it is an issue!.
kiv_value* from_block(kiv_value* spec) {
    kiv_value blk = *spec;
    uint32_t length = block::length_all(&blk);
    uint32_t head = blk.data1 < length ? blk.data1 : length;
    if (head == length) {
        kiv_value dt;
        datatype::make_at(&dt, TYPE_URL);
        fire(err::SCRIPT, err::script::bad_to_arg, &dt, spec);
    }
    kiv_value* result = string::make_at(stack::push(), 32);
    auto form_at = [&](uint32_t i) {
        kiv_value cell = block::cells(&blk)[i];
        actions::form_typed(&cell, result, nullptr, INT_MAX);
    };
    form_at(head);
    string::concatenate_literal(result, "://");
    uint32_t i = head + 1;
    if (i < length) form_at(i++);
    if (i < length && type_of(block::cells(&blk) + i) == TYPE_INTEGER) {
        string::concatenate_literal(result, ":");
        form_at(i++);
    }
    for (; i < length; i++) {
        string::concatenate_literal(result, type_of(block::cells(&blk) + i) == TYPE_ISSUE ? "#" : "/");
        form_at(i);
    }
    return cell::set_type(result, TYPE_URL);
}

bool http_q(kiv_value* url) {
    kiv_value u = *url;
    return string::starts_with_ascii_q(&u, "http");
}

// Data that an HTTP request can carry.
void check_request_data(kiv_value* data) {
    switch (type_of(data)) {
        case TYPE_NONE: case TYPE_BLOCK: case TYPE_STRING: case TYPE_BINARY:
            return;
        default:
            fire(err::SCRIPT, err::script::invalid_arg, data);
    }
}

// A block written to an HTTP URL describes the request: [method [headers]
// data], each part optional from the end.
void check_request_block(kiv_value* spec) {
    kiv_value blk = *spec;
    uint32_t length = block::length_all(&blk);
    uint32_t head = blk.data1 < length ? blk.data1 : length;
    uint32_t count = length - head;
    if (count == 0) return;  // a get without headers or data
    kiv_value method = block::cells(&blk)[head];
    if (type_of(&method) != TYPE_WORD) fire(err::SCRIPT, err::script::invalid_arg, &method);
    if (count > 1) {
        kiv_value headers = block::cells(&blk)[head + 1];
        if (type_of(&headers) != TYPE_BLOCK) fire(err::SCRIPT, err::script::invalid_arg, &headers);
    }
    if (count > 2) {
        kiv_value data = block::cells(&blk)[head + 2];
        check_request_data(&data);
    }
}

kiv_value method_word(const char* name) {
    kiv_value w{0, 0, 0, 0};
    word::make_at(symbol::make(name), &w);
    return w;
}

// One HTTP exchange; a failed one raises `no-connect` with the URL and, as
// its second argument, the reason.
kiv_value* http_request(kiv_value* url, const kiv_value* method, const kiv_value* headers,
                        const kiv_value* data, bool binary, bool lines, bool info) {
    std::string reason;
    kiv_value* result = http::request(method, url, headers, data, binary, lines, info, reason);
    if (result) return result;
    kiv_value* why = string::load(reinterpret_cast<const uint8_t*>(reason.data()), uint32_t(reason.size()),
                                  string::UTF8);
    fire(err::ACCESS, err::access::no_connect, url, why);
}

}  // namespace

// Percent codes -----------------------------------------------------------------

bool plain_q(uint8_t byte, int32_t mode) {
    if (byte >= 128) return false;
    return mode == UNRESERVED ? UNRESERVED_PLAIN[byte] : GENERAL_PLAIN[byte];
}

const char* percent_encode_byte(int32_t mode, const uint8_t* byte, uint32_t* length) {
    static char escaped[4] = "%00";
    if (plain_q(*byte, mode)) {
        *length = 1;
        return reinterpret_cast<const char*>(byte);
    }
    const char* digits = string::byte_to_hex(*byte);
    escaped[1] = digits[0];
    escaped[2] = digits[1];
    *length = 3;
    return escaped;
}

void percent_encode(kiv_value* text, kiv_value* result, int32_t mode) {
    std::string bytes = utf8_of(text);
    std::string out;
    out.reserve(bytes.size());
    for (const char& c : bytes) {
        uint32_t n = 0;
        const char* piece = percent_encode_byte(mode, reinterpret_cast<const uint8_t*>(&c), &n);
        out.append(piece, n);
    }
    string::concatenate_bytes(result, reinterpret_cast<const uint8_t*>(out.data()), uint32_t(out.size()));
}

bool decode_escape(const uint8_t* p, uint8_t* byte) {
    if (p[0] != '%') return false;
    int32_t high = hex_digit(p[1]);
    if (high < 0) return false;
    int32_t low = hex_digit(p[2]);
    if (low < 0) return false;
    *byte = uint8_t(high << 4 | low);
    return true;
}

void percent_decode(kiv_value* text, kiv_value* result) {
    std::string bytes = utf8_of(text);  // NUL-terminated, as decode_escape needs
    const uint8_t* p = reinterpret_cast<const uint8_t*>(bytes.c_str());
    const uint8_t* end = p + bytes.size();
    while (p < end) {
        uint32_t cp;
        uint8_t byte;
        p = decode_escape(p, &byte) ? decode_escaped(p, &cp) : decode_plain(p, &cp);
        string::append_char(string::buffer_of(result), cp);
    }
}

// Actions ------------------------------------------------------------------------

kiv_value* make(kiv_value* proto, kiv_value* spec, uint32_t type) {
    if (type == TYPE_URL && block_kind_q(type_of(spec))) return from_block(spec);
    return string::make(proto, spec, type);
}

kiv_value* to(kiv_value* proto, kiv_value* spec, uint32_t type) {
    if (type == TYPE_URL && block_kind_q(type_of(spec))) return from_block(spec);
    return string::to(proto, spec, type);
}

int32_t mold(kiv_value* url, kiv_value* buffer, bool, bool, bool, kiv_value* arg, int32_t part,
             int32_t) {
    std::string bytes = utf8_of(url);
    std::string out;
    out.reserve(bytes.size());
    for (const char& c : bytes) {
        if (arg && int64_t(out.size()) >= part) break;
        uint32_t n = 0;
        const char* piece = percent_encode_byte(GENERAL, reinterpret_cast<const uint8_t*>(&c), &n);
        out.append(piece, n);
    }
    string::concatenate_bytes(buffer, reinterpret_cast<const uint8_t*>(out.data()), uint32_t(out.size()));
    return part - int32_t(out.size());
}

kiv_value* eval_path(kiv_value* parent, kiv_value* element, kiv_value* value, kiv_value* path,
                     kiv_value*, kiv_value*, int32_t, bool, bool, bool, bool) {
    if (value) {
        kiv_value p = path ? *path : none_value;
        fire(err::SCRIPT, err::script::bad_path_set, &p, element);
    }
    kiv_value segment = *element;
    if (type_of(&segment) == TYPE_GET_WORD) segment = *word::get(&segment);
    kiv_value base = *parent;
    kiv_value* result = string::make_at(stack::push(), 16);
    actions::form_typed(&segment, result, nullptr, INT_MAX);
    uint32_t base_length = string::ks_length_q(&base);
    bool base_slash = base_length > 0 && string::ks_abs_at(&base, base.data1 + base_length - 1) == '/';
    bool segment_slash = string::ks_length_all(result) > 0 && string::ks_abs_at(result, 0) == '/';
    if (!base_slash && !segment_slash) string::insert_char(string::buffer_of(result), 0, '/');
    else if (base_slash && segment_slash) string::remove_units(result, 0, 1);
    string::concatenate(result, &base, -1, 0, true, string::INSERT);
    return cell::set_type(result, type_of(parent));
}

// A URL of any scheme but HTTP is read, written and opened through a port
// made from its parts: the scheme's actor does the work.
kiv_value* port_of(kiv_value* url) {
    kiv_value name = *word::load("decode-url");
    kiv_value fn = *_context::get(&name);
    if (type_of(&fn) != TYPE_FUNCTION) fire(err::SCRIPT, err::script::invalid_arg, url);
    kiv_value* arg = stack::push_value(url);
    kiv_value parts = interpreter::call_back({&fn, &name, arg, 1, interpreter::CB_NONE});
    if (type_of(&parts) != TYPE_OBJECT) fire(err::SCRIPT, err::script::invalid_arg, url);
    *arg = parts;  // kept for the collector while the port is made
    auto make_port = reinterpret_cast<actions::make_fn>(actions::entry(TYPE_PORT, SLOT_MAKE));
    kiv_value dt;
    datatype::make_at(&dt, TYPE_PORT);
    return make_port(&dt, arg, TYPE_PORT);
}

kiv_value* open(kiv_value* url, bool new_, bool read, bool write, bool seek, kiv_value* allow) {
    kiv_value* port = port_of(url);
    return actions::get<SLOT_OPEN>(port)(port, new_, read, write, seek, allow);
}

kiv_value* read(kiv_value* url, kiv_value* part, kiv_value* seek, bool binary, bool lines, bool info,
                kiv_value* as) {
    if (http_q(url)) {
        if (part || seek || as) not_done();  // no partial, offset or codec reads over HTTP
        kiv_value get = method_word("GET");
        return http_request(url, &get, nullptr, nullptr, binary, lines, info);
    }
    kiv_value* port = port_of(url);
    return actions::get<SLOT_READ>(port)(port, part, seek, binary, lines, info, as);
}

kiv_value* write(kiv_value* url, kiv_value* data, bool binary, bool lines, bool info, bool append,
                 kiv_value* part, kiv_value* seek, kiv_value* allow, kiv_value* as) {
    if (http_q(url)) {
        if (seek || allow || as) not_done();  // no offset, mode or codec writes over HTTP
        if (type_of(data) != TYPE_BLOCK) {
            check_request_data(data);
            kiv_value post = method_word("POST");
            return http_request(url, &post, nullptr, data, binary, lines, info);
        }
        check_request_block(data);
        kiv_value blk = *data;
        uint32_t length = block::length_all(&blk);
        uint32_t head = blk.data1 < length ? blk.data1 : length;
        kiv_value parts[3] = {method_word("GET"), none_value, none_value};
        for (uint32_t i = 0; i < 3 && head + i < length; i++) parts[i] = block::cells(&blk)[head + i];
        const kiv_value* headers = type_of(&parts[1]) == TYPE_BLOCK ? &parts[1] : nullptr;
        const kiv_value* body = type_of(&parts[2]) == TYPE_NONE ? nullptr : &parts[2];
        return http_request(url, &parts[0], headers, body, binary, lines, info);
    }
    kiv_value* port = port_of(url);
    return actions::get<SLOT_WRITE>(port)(port, data, binary, lines, info, append, part, seek, allow, as);
}

void init() {
    using namespace actions;
    datatype::register_(TYPE_URL, TYPE_STRING, "url!", {
        impl<SLOT_MAKE>(make),            // make
        UNSUPPORTED,                      // random
        UNSUPPORTED,                      // reflect
        impl<SLOT_TO>(to),                // to
        INHERITED,                        // form
        impl<SLOT_MOLD>(mold),            // mold
        impl<SLOT_EVAL_PATH>(eval_path),  // eval-path
        UNSUPPORTED,                      // (empty)
        INHERITED,                        // compare
        INHERITED,                        // absolute
        INHERITED,                        // add
        INHERITED,                        // divide
        INHERITED,                        // multiply
        INHERITED,                        // negate
        INHERITED,                        // power
        INHERITED,                        // remainder
        INHERITED,                        // round
        INHERITED,                        // subtract
        INHERITED,                        // even?
        INHERITED,                        // odd?
        INHERITED,                        // and~
        INHERITED,                        // complement
        INHERITED,                        // or~
        INHERITED,                        // xor~
        INHERITED,                        // append
        INHERITED,                        // at
        INHERITED,                        // back
        INHERITED,                        // change
        INHERITED,                        // clear
        INHERITED,                        // copy
        INHERITED,                        // find
        INHERITED,                        // head
        INHERITED,                        // head?
        INHERITED,                        // index?
        INHERITED,                        // insert
        INHERITED,                        // length?
        INHERITED,                        // move
        INHERITED,                        // next
        INHERITED,                        // pick
        INHERITED,                        // poke
        UNSUPPORTED,                      // put
        INHERITED,                        // remove
        INHERITED,                        // reverse
        INHERITED,                        // select
        UNSUPPORTED,                      // sort
        INHERITED,                        // skip
        INHERITED,                        // swap
        INHERITED,                        // tail
        INHERITED,                        // tail?
        INHERITED,                        // take
        UNSUPPORTED,                      // trim
        UNSUPPORTED,                      // create
        UNSUPPORTED,                      // close
        UNSUPPORTED,                      // delete
        INHERITED,                        // modify
        impl<SLOT_OPEN>(open),            // open
        UNSUPPORTED,                      // open?
        UNSUPPORTED,                      // query
        impl<SLOT_READ>(read),            // read
        UNSUPPORTED,                      // rename
        UNSUPPORTED,                      // update
        impl<SLOT_WRITE>(write),          // write
    });
}

}  // namespace kiv::url
