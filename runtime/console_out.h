#pragma once
// Text console output: the runtime's lowest output path, to the standard
// output.
//
// Text is always written as UTF-8 with LF line ends. ANSI escape sequences
// pass through untouched: on a terminal the terminal executes them, and
// redirected output keeps them as text. Every number and C string printed
// through the platform printers is also handed to the raw print hooks.
#include <cstdint>

namespace kiv::console {

constexpr uint32_t FORMAT_BUFFER_SIZE = 64;    // one formatted number
constexpr uint32_t OUTPUT_BUFFER_SIZE = 1024;
constexpr uint32_t OUTPUT_FLUSH_AT = 1020;     // flushed once it holds more

// Where output goes (the standard output unless changed) and whether that
// is a terminal. probe() sets the flag from the descriptor.
extern int output_fd;
extern bool tty_q;
// Whether the last byte written was a line end (a prompt starts a line).
extern bool at_line_start;

// The format buffer the number printers fill; prin_buffer writes from it.
extern char format_buffer[FORMAT_BUFFER_SIZE];

// Called once from platform::init, and again whenever output_fd changes.
void probe();

// Writes bytes / unit_width code units as UTF-8, then LF when asked. Unit
// width 1 is Latin-1, 2 is UTF-16 (surrogate pairs are joined; a lone
// surrogate is encoded as itself), 4 is code points. Everything written is
// out of the buffer when it returns. A code point above U+10FFFF raises
// `invalid-char`.
void write(const void* text, uint32_t bytes, uint32_t unit_width, bool lf);

}  // namespace kiv::console

namespace kiv::platform {

// Writes the bytes of a NUL-terminated text as they are, then hands them to
// the raw print hooks. Returns the text.
const char* prin_cstr(const char* text);

// Writes the first `count` bytes of the format buffer, then hands them to
// the raw print hooks.
void prin_buffer(uint32_t count);

void prin_int(int32_t value);      // "%i"
void prin_2hex(uint8_t value);     // "%02X"
void prin_hex(uint32_t value);     // "%08X"
void prin_float(double value);     // "%.16g"
void prin_float32(float value);    // "%.7g"

}  // namespace kiv::platform
