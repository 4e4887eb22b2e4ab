// Files and directories over the POSIX calls: one open, the work and one
// close per operation.
#include "runtime/io/simple_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <ctime>

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/unicode.h"

namespace kiv::simple_io {

namespace {

// Size-less files are read in blocks of this size.
constexpr size_t COUNT_BLOCK = 65536;

// The system path of a file! as a std::string, so that two paths can be
// held at once without pinning their buffers.
std::string os_path(kiv_value* file) { return file::to_os_path(file); }

[[noreturn]] void cannot_open(const kiv_value* file) { fire(err::ACCESS, err::access::cannot_open, file); }

[[noreturn]] void out_of_range(const kiv_value* value) { fire(err::SCRIPT, err::script::out_of_range, value); }

// The 32-bit count or offset a refinement gives, -1 when it was not used.
int32_t refinement_int(const kiv_value* cell) { return cell ? integer::get_value(cell) : -1; }

// The bytes from the current position to the end, in blocks, but no more
// than `limit`: endless devices end there. More than a value can hold fails.
bool read_to_end(int fd, int64_t limit, std::vector<uint8_t>& out) {
    for (;;) {
        size_t had = out.size();
        int64_t want = std::min<int64_t>(int64_t(COUNT_BLOCK), limit - int64_t(had));
        if (want <= 0) return int64_t(had) <= INT32_MAX;
        out.resize(had + size_t(want));
        int64_t n = read_data(fd, out.data() + had, want);
        if (n < 0) return false;
        out.resize(had + size_t(n));
        if (n < want) return true;
    }
}

// Keeps at most `part` bytes from `seek` of what a size-less file gave.
io_status slice(std::vector<uint8_t>& bytes, int64_t part, int64_t seek) {
    if (seek > int64_t(bytes.size())) return io_status::past_end;
    bytes.erase(bytes.begin(), bytes.begin() + seek);
    if (part >= 0 && part < int64_t(bytes.size())) bytes.resize(size_t(part));
    return io_status::done;
}

io_status read_open(int fd, int64_t part, int64_t seek, std::vector<uint8_t>& out) {
    int64_t size = file_size(fd);
    if (size < 0) return io_status::cannot_open;
    if (size == 0) {
        int64_t limit = part >= 0 ? seek + part : int64_t(INT32_MAX) + 1;
        return read_to_end(fd, limit, out) ? slice(out, part, seek) : io_status::cannot_open;
    }
    if (seek > size) return io_status::past_end;
    int64_t count = size - seek;
    if (part >= 0 && part < count) count = part;
    // A value holds at most 2^31 - 1 units.
    if (count > INT32_MAX) return io_status::cannot_open;
    if (seek > 0 && seek_file(fd, seek) != seek) return io_status::cannot_open;
    out.resize(size_t(count));
    // Fewer bytes than the size promised means the file shrank meanwhile:
    // what was read is no longer what was asked for.
    return read_data(fd, out.data(), count) == count ? io_status::done : io_status::cannot_open;
}

// The value of the bytes read: a binary!, a block of lines or a string!.
kiv_value* bytes_value(const std::vector<uint8_t>& bytes, bool binary, bool lines, kiv_value* slot) {
    uint32_t size = uint32_t(bytes.size());
    if (binary) return copy_cell(binary::load(bytes.data(), size), slot);
    if (lines) return lines_to_block(bytes.data(), size, slot);
    if (bytes.empty()) return string::make_at(slot, 1);
    return string::load_at(bytes.data(), size, slot, string::UTF8);
}

// The name of a directory entry: "/" after a directory, a link to one
// included.
void append_entry(kiv_value* block, int dir_fd, const dirent* e) {
    std::string name = e->d_name;
    bool dir = e->d_type == DT_DIR;
    if (e->d_type == DT_LNK || e->d_type == DT_UNKNOWN) {
        struct stat st;
        dir = fstatat(dir_fd, e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
    }
    if (dir) name += '/';
    kiv_value* entry = string::load_in(reinterpret_cast<const uint8_t*>(name.data()), uint32_t(name.size()), block,
                                       string::UTF8);
    cell::set_type(entry, TYPE_FILE);
}

}  // namespace

// Descriptors -------------------------------------------------------------------

int open_file(const char* path, uint32_t mode) {
    int flags = O_CLOEXEC;
    if (mode & READ) flags |= O_RDONLY;
    else flags |= O_WRONLY | O_CREAT | ((mode & (APPEND | SEEK)) ? 0 : O_TRUNC);
    int fd;
    do fd = ::open(path, flags, 0666);
    while (fd < 0 && errno == EINTR);
    return fd;
}

int64_t file_size(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0) return -1;
    return S_ISREG(st.st_mode) ? int64_t(st.st_size) : 0;
}

int64_t seek_file(int fd, int64_t offset) { return int64_t(lseek(fd, off_t(offset), SEEK_SET)); }

int64_t read_data(int fd, uint8_t* buffer, int64_t count) {
    int64_t done = 0;
    while (done < count) {
        ssize_t n = ::read(fd, buffer + done, size_t(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        done += n;
    }
    return done;
}

bool write_data(int fd, const uint8_t* buffer, size_t count) {
    size_t done = 0;
    while (done < count) {
        ssize_t n = ::write(fd, buffer + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

int close_file(int fd) { return ::close(fd) == 0 || errno == EINTR ? 0 : -1; }

bool file_exists_q(const char* path) { return ::access(path, F_OK) == 0; }

bool make_dir(const char* path) { return ::mkdir(path, 0777) == 0; }

// Reading -------------------------------------------------------------------------

io_status read_bytes(const char* path, int64_t part, int64_t seek, std::vector<uint8_t>& out) {
    out.clear();
    int fd = open_file(path, READ);
    if (fd < 0) return io_status::cannot_open;
    io_status status = read_open(fd, part, seek, out);
    close_file(fd);
    return status;
}

kiv_value* lines_to_block(const uint8_t* bytes, uint32_t length, kiv_value* slot) {
    block::make_at(slot, 1);
    uint32_t start = 0;
    for (uint32_t i = 0; i < length; i++) {
        if (bytes[i] != '\n') continue;
        uint32_t end = i > start && bytes[i - 1] == '\r' ? i - 1 : i;
        string::load_in(bytes + start, end - start, slot, string::UTF8);
        start = i + 1;
    }
    if (start < length) string::load_in(bytes + start, length - start, slot, string::UTF8);
    return slot;
}

bool dir_q(const kiv_value* file) {
    kiv_value f = *file;
    uint32_t n = string::ks_length_q(&f);
    auto at_end = [&](uint32_t back) { return string::ks_abs_at(&f, f.data1 + n - back); };
    auto separator = [](uint32_t c) { return c == '/' || c == '\\'; };
    if (n == 0) return false;
    if (separator(at_end(1))) return true;
    // ".", "..", or "/." and "/.." at the end.
    uint32_t dots = at_end(1) == '.' ? (n >= 2 && at_end(2) == '.' ? 2 : 1) : 0;
    return dots > 0 && (n == dots || separator(at_end(dots + 1)));
}

kiv_value* read_dir(kiv_value* file, kiv_value* slot) {
    DIR* dir = opendir(os_path(file).c_str());
    if (!dir) cannot_open(file);
    block::make_at(slot, 16);
    // readdir tells its end from a failure by errno alone.
    for (;;) {
        errno = 0;
        const dirent* e = readdir(dir);
        if (!e) break;
        std::string_view name = e->d_name;
        if (name != "." && name != "..") append_entry(slot, dirfd(dir), e);
    }
    bool failed = errno != 0;
    closedir(dir);
    if (failed) cannot_open(file);
    return slot;
}

kiv_value* read(kiv_value* file, kiv_value* part, kiv_value* seek, bool binary, bool lines, kiv_value* slot) {
    if (dir_q(file)) return read_dir(file, slot);
    if (part && integer::get_value(part) < 0) out_of_range(part);
    if (seek && integer::get_value(seek) < 0) out_of_range(seek);
    std::vector<uint8_t> bytes;
    switch (read_bytes(os_path(file).c_str(), refinement_int(part), std::max(0, refinement_int(seek)), bytes)) {
        case io_status::cannot_open: cannot_open(file);
        case io_status::past_end: out_of_range(seek);
        case io_status::done: break;
    }
    return bytes_value(bytes, binary, lines, slot);
}

// Writing -------------------------------------------------------------------------

std::string value_to_bytes(kiv_value* value, int32_t part) {
    kiv_value text = *value;
    switch (type_of(value)) {
        case TYPE_STRING:
            break;
        case TYPE_BINARY: {
            uint32_t n = binary::ks_length_q(value);
            if (part > 0 && uint32_t(part) < n) n = uint32_t(part);
            return std::string(reinterpret_cast<const char*>(binary::ks_head(value)), n);
        }
        default:
            string::make_at(&text, 16);
            actions::mold_typed(value, &text, false, false, false, nullptr, INT32_MAX, 0);
    }
    int32_t count = part;
    const char* bytes = unicode::to_utf8(&text, &count);
    return std::string(bytes, size_t(count));
}

io_status write_file(const char* path, const std::string& bytes, int64_t seek, bool append) {
    const uint8_t* data = reinterpret_cast<const uint8_t*>(bytes.data());
    if (!path) return write_data(STDOUT_FILENO, data, bytes.size()) ? io_status::done : io_status::cannot_open;
    // An offset into a file that is not there lies past its end; opening
    // would leave an empty file behind.
    if (seek > 0 && !append && !file_exists_q(path)) return io_status::past_end;
    uint32_t mode = WRITE | (append ? uint32_t(APPEND) : 0) | (seek >= 0 ? uint32_t(SEEK) : 0);
    int fd = open_file(path, mode);
    if (fd < 0) return io_status::cannot_open;
    io_status status = io_status::done;
    if (append) {
        if (lseek(fd, 0, SEEK_END) < 0) status = io_status::cannot_open;
    } else if (seek > 0) {
        // Writing past the end would leave a hole of zeros in the file.
        int64_t size = file_size(fd);
        if (size < 0) status = io_status::cannot_open;
        else if (seek > size) status = io_status::past_end;
        else if (seek_file(fd, seek) != seek) status = io_status::cannot_open;
    }
    if (status == io_status::done && !write_data(fd, data, bytes.size())) status = io_status::cannot_open;
    if (close_file(fd) != 0 && status == io_status::done) status = io_status::cannot_open;
    return status;
}

int64_t write(kiv_value* file, kiv_value* value, kiv_value* part, kiv_value* seek, bool append, bool lines) {
    if (part && type_of(part) != TYPE_INTEGER) {
        kiv_value word = *word::load("part");
        fire(err::SCRIPT, err::script::invalid_refine_arg, &word, part);
    }
    int32_t count = refinement_int(part);
    if (part && count < 0) return -1;
    if (seek && integer::get_value(seek) < 0) out_of_range(seek);
    std::string bytes;
    if (lines && type_of(value) == TYPE_BLOCK) {
        kiv_value blk = *value;
        for (uint32_t i = blk.data1; i < block::length_all(&blk); i++) {
            bytes += value_to_bytes(block::cells(&blk) + i, -1);
            bytes += '\n';
        }
    } else {
        bytes = value_to_bytes(value, count);
        if (lines) bytes += '\n';
    }
    std::string path = file ? os_path(file) : std::string();
    switch (write_file(file ? path.c_str() : nullptr, bytes, refinement_int(seek), append)) {
        case io_status::cannot_open: cannot_open(file);
        case io_status::past_end: out_of_range(seek);
        case io_status::done: break;
    }
    return int64_t(bytes.size());
}

// Deleting, dates, renaming ---------------------------------------------------------

bool delete_(kiv_value* file) {
    std::string path = os_path(file);
    return (dir_q(file) ? ::rmdir(path.c_str()) : ::unlink(path.c_str())) == 0;
}

std::optional<file_time> query(kiv_value* file) {
    struct stat st;
    if (::stat(os_path(file).c_str(), &st) != 0) return std::nullopt;
    kiv_value f = *file;
    uint32_t n = string::ks_length_q(&f);
    uint32_t last = n ? string::ks_abs_at(&f, f.data1 + n - 1) : 0;
    if ((last == '/' || last == '\\') && !S_ISDIR(st.st_mode)) return std::nullopt;
    struct tm utc;
    if (!gmtime_r(&st.st_mtim.tv_sec, &utc)) return std::nullopt;
    return file_time{utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour,
                     utc.tm_min, utc.tm_sec, int32_t(st.st_mtim.tv_nsec)};
}

bool rename(kiv_value* from, kiv_value* to) {
    std::string old_path = os_path(from), new_path = os_path(to);
    // The target must not exist: renaming never replaces a file.
    if (renameat2(AT_FDCWD, old_path.c_str(), AT_FDCWD, new_path.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without the no-replace flag: check, then rename.
    struct stat st;
    if (::lstat(new_path.c_str(), &st) == 0) return false;
    return ::rename(old_path.c_str(), new_path.c_str()) == 0;
}

}  // namespace kiv::simple_io
