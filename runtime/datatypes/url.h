#pragma once
// url!: a text series (the string! cell and buffers) whose molded form is
// percent-escaped, which can be built from a block of parts, and whose paths
// join segments. Its parent is string!; file! derives from it.
//
// The percent helpers here are shared with enhex, dehex and the lexer.
#include <cstdint>

#include "runtime/value.h"

namespace kiv::url {

// Class modes. The general class keeps letters, digits and
// "!#$&'()*+,-./:=?@_~" plain; the unreserved one only letters, digits and
// "-._~". Any mode but UNRESERVED selects the general class.
constexpr int32_t GENERAL = 0;
constexpr int32_t UNRESERVED = 254;

// Whether the byte stays as it is under the class of `mode`; bytes from 128
// up never do.
bool plain_q(uint8_t byte, int32_t mode);

// The text of one byte: the byte itself (length 1) when plain, else "%XX"
// with upper-case digits (length 3) in a static buffer that the next call
// reuses.
const char* percent_encode_byte(int32_t mode, const uint8_t* byte, uint32_t* length);

// Appends to `result` (a string!) the escaped form of the UTF-8 bytes of
// `text` from its cursor.
void percent_encode(kiv_value* text, kiv_value* result, int32_t mode);

// True when p holds "%" and two hexadecimal digits (either case); *byte gets
// their value. Reads no further than the first byte that fails, so a
// NUL-terminated text is never overrun.
bool decode_escape(const uint8_t* p, uint8_t* byte);

// Appends to `result` (a string!) the text of `text` with its escapes
// decoded: escaped bytes that form one valid UTF-8 sequence give its code
// point; an escaped byte that begins no valid sequence gives the code point
// of its value. Never fails.
void percent_decode(kiv_value* text, kiv_value* result);

// Actions.
kiv_value* make(kiv_value* proto, kiv_value* spec, uint32_t type);
kiv_value* to(kiv_value* proto, kiv_value* spec, uint32_t type);
int32_t mold(kiv_value* url, kiv_value* buffer, bool only, bool all, bool flat, kiv_value* arg,
             int32_t part, int32_t indent);
kiv_value* eval_path(kiv_value* parent, kiv_value* element, kiv_value* value, kiv_value* path,
                     kiv_value* gparent, kiv_value* p_item, int32_t index, bool case_, bool get,
                     bool tail, bool notify);
kiv_value* open(kiv_value* url, bool new_, bool read, bool write, bool seek, kiv_value* allow);
kiv_value* read(kiv_value* url, kiv_value* part, kiv_value* seek, bool binary, bool lines,
                bool info, kiv_value* as);
kiv_value* write(kiv_value* url, kiv_value* data, bool binary, bool lines, bool info, bool append,
                 kiv_value* part, kiv_value* seek, kiv_value* allow, kiv_value* as);

void init();  // registers url!

}  // namespace kiv::url
