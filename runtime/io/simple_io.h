#pragma once
// The runtime's thin file layer: whole-file reads (or a slice) into text, a
// block of lines or bytes, writes of text, bytes, lines or molded values,
// directory listings, deletion, renaming and modification times. Every
// operation opens, works and closes: no handle is kept between calls.
//
// Paths arrive as file! values in Kiv form, which on Linux is the system's
// form already (file::to_os_path). Text is UTF-8 with LF line ends; reading
// lines also drops one CR before each LF, so text from other systems splits
// cleanly.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "runtime/value.h"

namespace kiv::simple_io {

// Open mode bits.
enum open_mode : uint32_t { READ = 1, WRITE = 2, APPEND = 4, SEEK = 8 };

// A descriptor, or -1 when the open failed. Writing creates the file;
// without APPEND or SEEK an existing one is truncated.
int open_file(const char* path, uint32_t mode);
// The size in bytes; 0 for files that do not know theirs (/proc files,
// FIFOs, devices); -1 when it cannot be had.
int64_t file_size(int fd);
// Moves to an offset from the start; the new position or -1.
int64_t seek_file(int fd, int64_t offset);
// Reads up to count bytes, going on after partial reads; the bytes read
// (fewer only at the end of the file), or -1 when a read failed.
int64_t read_data(int fd, uint8_t* buffer, int64_t count);
// Writes all count bytes, going on after partial writes; false when a
// write failed.
bool write_data(int fd, const uint8_t* buffer, size_t count);
// 0, or -1 when the system reports a failure (such as a delayed write error).
int close_file(int fd);

bool file_exists_q(const char* path);
// Creates one directory level.
bool make_dir(const char* path);

// How a read or write ended.
enum class io_status { done, cannot_open, past_end };
// Reads from `seek` (0 or more) at most `part` bytes (-1: to the end). A
// file whose size reads as 0 is read through to its end in one pass, so
// FIFOs and /proc files give their content. An offset past the end is
// past_end; a failed or short read is cannot_open.
io_status read_bytes(const char* path, int64_t part, int64_t seek, std::vector<uint8_t>& out);

// A new block! of strings, one per line: lines end at LF, one CR before it
// is dropped, a last line without LF is kept as it is.
kiv_value* lines_to_block(const uint8_t* bytes, uint32_t length, kiv_value* slot);

// A path names a directory when it ends with "/" or "\", is "." or "..", or
// ends with "/." or "/.." (or their "\" forms).
bool dir_q(const kiv_value* file);

// The entries of a directory as file! names, "/" after each sub-directory,
// "." and ".." left out, in the system's order. Raises `cannot-open`.
kiv_value* read_dir(kiv_value* file, kiv_value* slot);

// What `read` of a file! gives: a directory listing, a string!, a block of
// lines, or (with binary) the bytes. `part` and `seek` are integer! cells
// or null. Raises `cannot-open` for what cannot be read.
kiv_value* read(kiv_value* file, kiv_value* part, kiv_value* seek, bool binary, bool lines, kiv_value* slot);

// The bytes a value is written as: a string's UTF-8 from its cursor (at
// most `part` characters when part is not negative), any other value
// molded first. Text and binary modes give the same bytes: line ends are
// written as they are.
std::string value_to_bytes(kiv_value* value, int32_t part);

// Writes the bytes to the file at `path` (standard output when null): at
// `seek` when it is 0 or more, at the end with `append` (which wins), into
// the truncated file otherwise. An offset past the end is past_end; a file
// that cannot be opened or written in full is cannot_open.
io_status write_file(const char* path, const std::string& bytes, int64_t seek, bool append);

// What `write` of a file! does (null: standard output). Returns the bytes
// written, or -1 for a negative part, which writes nothing. Raises
// `cannot-open` when the file cannot be written in full, `invalid-refine-arg`
// for a part that is no integer and `out-of-range` for a seek past the end.
int64_t write(kiv_value* file, kiv_value* value, kiv_value* part, kiv_value* seek, bool append, bool lines);

bool delete_(kiv_value* file);

// The last modification time in UTC, or nothing when the path cannot be
// queried (or ends with "/" but names no directory).
struct file_time {
    int32_t year, month, day, hour, minute, second, nanoseconds;
};
std::optional<file_time> query(kiv_value* file);

// Renames a file or directory; refuses (false) when the target exists.
bool rename(kiv_value* from, kiv_value* to);

}  // namespace kiv::simple_io
