// Text console output on POSIX.
#include "runtime/console_out.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "runtime/datatypes/string.h"
#include "runtime/print_hooks.h"
#include "runtime/unicode.h"

namespace kiv::console {

int output_fd = 1;
bool at_line_start = true;
bool tty_q = false;
char format_buffer[FORMAT_BUFFER_SIZE];

// Room for one more code point (4 bytes) after the flush threshold.
static uint8_t output_buffer[OUTPUT_BUFFER_SIZE];
static uint32_t output_used = 0;

static_assert(OUTPUT_FLUSH_AT + 4 <= OUTPUT_BUFFER_SIZE);

void probe() { tty_q = isatty(output_fd) == 1; }

// Output errors are ignored, as a print has no one to report them to.
static void write_all(const void* data, size_t size) {
    auto* p = static_cast<const uint8_t*>(data);
    if (size > 0) at_line_start = p[size - 1] == '\n';
    while (size > 0) {
        ssize_t n = ::write(output_fd, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        p += n;
        size -= size_t(n);
    }
}

static void flush() {
    write_all(output_buffer, output_used);
    output_used = 0;
}

static uint32_t unit_at(const uint8_t* p, uint32_t unit_width) { return string::get_char(p, unit_width); }

void write(const void* text, uint32_t bytes, uint32_t unit_width, bool lf) {
    auto* p = static_cast<const uint8_t*>(text);
    const uint8_t* end = p + bytes / unit_width * unit_width;
    while (p < end) {
        uint32_t cp = unit_at(p, unit_width);
        p += unit_width;
        if (unit_width == 2 && cp >= 0xD800 && cp <= 0xDBFF && p < end) {
            uint32_t low = unit_at(p, 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                p += 2;
            }
        }
        // The text before a bad code point goes out before the error does.
        if (cp > unicode::MAX_CODEPOINT) flush();
        output_used += unicode::encode_utf8_char(cp, output_buffer + output_used);
        if (output_used > OUTPUT_FLUSH_AT) flush();
    }
    if (lf) output_buffer[output_used++] = '\n';
    flush();
}

}  // namespace kiv::console

namespace kiv::platform {

const char* prin_cstr(const char* text) {
    size_t length = std::strlen(text);
    console::write_all(text, length);
    dyn_print::run_string_hooks(text, uint32_t(length), false);
    return text;
}

void prin_buffer(uint32_t count) {
    console::write(console::format_buffer, count, 1, false);
    dyn_print::run_string_hooks(console::format_buffer, count, false);
}

// snprintf reports the length it wanted; the buffer keeps at most all but
// the terminating NUL.
static void prin_formatted(int length) {
    if (length < 0) length = 0;
    prin_buffer(std::min(uint32_t(length), console::FORMAT_BUFFER_SIZE - 1));
}

void prin_int(int32_t value) {
    prin_formatted(std::snprintf(console::format_buffer, console::FORMAT_BUFFER_SIZE, "%i", value));
}

void prin_2hex(uint8_t value) {
    prin_formatted(std::snprintf(console::format_buffer, console::FORMAT_BUFFER_SIZE, "%02X", value));
}

void prin_hex(uint32_t value) {
    prin_formatted(std::snprintf(console::format_buffer, console::FORMAT_BUFFER_SIZE, "%08X", value));
}

void prin_float(double value) {
    prin_formatted(std::snprintf(console::format_buffer, console::FORMAT_BUFFER_SIZE, "%.16g", value));
}

void prin_float32(float value) {
    prin_formatted(std::snprintf(console::format_buffer, console::FORMAT_BUFFER_SIZE, "%.7g",
                                 double(value)));
}

}  // namespace kiv::platform
