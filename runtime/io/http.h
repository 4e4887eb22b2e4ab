#pragma once
// HTTP and HTTPS requests through libcurl: one synchronous exchange per call,
// nothing kept between calls (no connections, no cookies). Redirects are
// followed and only the final response is reported; TLS peers are verified
// against the system's certificate store, or the bundle named by the
// SSL_CERT_FILE environment variable (SSL_CERT_DIR for a hashed folder).
//
// Time limits follow a platform request object's usual ones: 60 seconds to
// connect and 30 seconds without receiving a byte; KIV_HTTP_TIMEOUT (whole
// seconds) sets both.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/value.h"

namespace kiv::http {

// One response header line.
struct header_field {
    std::string name;
    std::string value;
};

// Splits raw response header text into its fields. Lines end at LF (a CR
// before it is dropped, and a lone CR ends a line too); a line holds a name,
// a colon and a value. Blanks (space, tab) around the value are dropped.
// Lines without a colon (the status line, the blank line at the end) and
// lines whose name is empty or holds a byte that no header name may hold
// are skipped. Never reads outside [text, text + size).
std::vector<header_field> split_headers(const uint8_t* text, size_t size);

// A new map! in `slot` (on the argument stack when null) of the header
// fields: each name becomes a word of the global context, each value a
// string! (UTF-8, or Latin-1 when the bytes are not valid UTF-8). A name that
// comes more than once maps to a block of its values in order.
kiv_value* headers_to_map(const uint8_t* text, size_t size, kiv_value* slot);

// Performs a request. `method` is a word; `headers` a block of name/value
// pairs or null; `data` a string!, binary! or block! body, or null. The result
// (pushed on the argument stack) is the body as a string!, a binary! or a
// block of lines, or with `info` the block [status headers body]. When the
// exchange fails (no connection, TLS refused, a body cut short, a time
// limit) nothing is pushed, null is returned and `reason` tells why.
// A header name or value holding CR, LF or NUL (or a name holding a colon or
// nothing) raises `invalid-arg` with that value before anything is sent.
kiv_value* request(const kiv_value* method, const kiv_value* url, const kiv_value* headers,
                   const kiv_value* data, bool binary, bool lines, bool info, std::string& reason);

}  // namespace kiv::http
