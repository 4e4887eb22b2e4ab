// compress and decompress: the method word selects the framing; the codecs
// are runtime/io/deflate.
#include <algorithm>
#include <string>

#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/evaluator/native_support.h"
#include "runtime/evaluator/natives.h"
#include "runtime/io/deflate.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kiv::natives {

namespace {

using routine = int32_t (*)(uint8_t*, size_t*, const uint8_t*, size_t);

// The largest binary! the runtime can hold.
constexpr size_t MAX_BINARY = 0x7FFFFFFF;

int32_t method_of(const kiv_value* word) {
    int32_t m = any_word_q(type_of(word)) ? compression::method_of(word::symbol_of(word)) : -1;
    if (m < 0) fire_invalid(word);
    return m;
}

// A new binary on the stack with room for `capacity` bytes, all counted as
// used until the caller sets the length; the address of its bytes.
uint8_t* new_binary(size_t capacity) {
    if (capacity > MAX_BINARY) fire(err::INTERNAL, err::internal::no_memory);
    kiv_value* bin = binary::make_at(stack::push(), uint32_t(capacity));
    return series::alloc_tail_bytes(binary::buffer_of(bin), uint32_t(capacity));
}

void set_length(kiv_value* bin, size_t length) {
    series_buffer* b = binary::buffer_of(bin);
    b->tail = b->offset + length;
}

// Runs the routine into a fresh binary of `capacity`, and once more with the
// size it asks for when that was too small; the result becomes the native's.
// The input is read through its cell after each allocation, which may move it.
void run(routine r, const kiv_value* method, size_t capacity, const std::string* text) {
    for (int attempt = 0;; attempt++) {
        uint8_t* out = new_binary(capacity);
        kiv_value* data = arg(0);
        const uint8_t* in = text ? reinterpret_cast<const uint8_t*>(text->data()) : binary::ks_head(data);
        size_t n = text ? text->size() : binary::ks_length_q(data);
        size_t length = capacity;
        int32_t result = r(out, &length, in, n);
        if (result == compression::TOO_SMALL && attempt == 0) {
            stack::pop(1);
            capacity = length;
            continue;
        }
        if (result != compression::OK) {
            kiv_value m = *method;
            fire(err::SCRIPT, err::script::invalid_data, &m);
        }
        kiv_value* bin = stack::get_top();
        set_length(bin, length);
        // A guess far above the result would keep its room for the life
        // of the value: a copy of the right size takes its place.
        if (length < capacity / 2) bin = binary::load(out, uint32_t(length));
        stack::set_last(bin);
        return;
    }
}

}  // namespace

void compress(bool, const int32_t*) {
    kiv_value* method = arg(1);
    int32_t m = method_of(method);
    std::string text;
    size_t n;
    if (type_of(arg(0)) == TYPE_BINARY) {
        n = binary::ks_length_q(arg(0));
    } else {
        kiv_value s = *arg(0);
        int32_t count = -1;
        const char* utf8 = unicode::to_utf8(&s, &count);
        text.assign(utf8, size_t(count));
        n = text.size();
    }
    // The fixed codes spend at most 9 bits on a byte, so this always fits.
    size_t bound = n + n / 8 + 32;
    routine r = m == compression::ZLIB ? zlib::compress : m == compression::GZIP ? gzip::compress : deflate::compress;
    run(r, method, bound, type_of(arg(0)) == TYPE_BINARY ? nullptr : &text);
}

void decompress(bool, const int32_t* refs) {
    kiv_value* method = arg(1);
    int32_t m = method_of(method);
    size_t n = binary::ks_length_q(arg(0));
    size_t capacity;
    if (m == compression::GZIP) {
        // The trailer gives the size (checked against the input's length).
        capacity = 0;
    } else if (used(refs[0])) {
        int32_t size = integer::get_value(arg(refs[0]));
        if (size < 0) fire(err::SCRIPT, err::script::out_of_range, arg(refs[0]));
        capacity = size_t(size);
    } else {
        // A guess that fits most data; the rest take a second pass.
        capacity = std::min(n * 4 + 64, size_t(64) << 20);
    }
    routine r = m == compression::ZLIB ? zlib::decompress : m == compression::GZIP ? gzip::decompress
                                                                                 : inflate::decompress;
    run(r, method, capacity, nullptr);
}

}  // namespace kiv::natives
