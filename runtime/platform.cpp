// The platform layer on POSIX.
#include "runtime/platform.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "runtime/console_out.h"
#include "runtime/system.h"

namespace kiv::platform {

void init() { console::probe(); }

namespace {

constexpr size_t HUGE_PAGE = size_t(2) << 20;

// The address space a frame takes: a frame of more than 1 MB but less than
// 2 MB (the first series frame) takes a whole huge page, the rest of which
// stays untouched.
size_t span_of(size_t size) { return size > HUGE_PAGE / 2 && size < HUGE_PAGE ? HUGE_PAGE : size; }

}  // namespace

// A frame of more than 1 MB starts on a 2 MB boundary and is offered huge
// pages: the system then fills it with a few page faults instead of one per
// 4 KB page, which is most of what filling a fresh frame costs.
void* alloc_frame(size_t size, bool executable) {
    int prot = PROT_READ | PROT_WRITE | (executable ? PROT_EXEC : 0);
    bool huge = !executable && size > HUGE_PAGE / 2;
    size_t span = span_of(size);
    size_t mapped = huge ? span + HUGE_PAGE : span;
    void* p = mmap(nullptr, mapped, prot, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    if (!huge) return p;
    uintptr_t start = reinterpret_cast<uintptr_t>(p);
    uintptr_t aligned = (start + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
    if (aligned > start) munmap(p, aligned - start);
    size_t after = start + mapped - (aligned + span);
    if (after) munmap(reinterpret_cast<void*>(aligned + span), after);
    madvise(reinterpret_cast<void*>(aligned), span, MADV_HUGEPAGE);  // a hint: refused, small pages serve
    return reinterpret_cast<void*>(aligned);
}

bool free_frame(void* address, size_t size) { return munmap(address, span_of(size)) == 0; }

char* get_current_dir(uint32_t* length) {
    for (size_t size = 256;; size *= 2) {
        char* buf = static_cast<char*>(memory::allocate(size));
        if (getcwd(buf, size)) {
            *length = uint32_t(std::strlen(buf));
            return buf;
        }
        memory::free(buf);
        if (errno != ERANGE) {
            *length = 0;
            return nullptr;
        }
    }
}

bool set_current_dir(const char* path) { return chdir(path) == 0; }

uint32_t wait_milliseconds(double seconds) {
    double ms = seconds * 1000.0;
    if (!(ms >= 1.0)) return 1;
    if (ms > 4294967295.0) return 4294967295u;
    return uint32_t(ms);
}

void wait(double seconds) {
    uint32_t ms = wait_milliseconds(seconds);
    timespec ts{time_t(ms / 1000), long(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR && !system::interrupt_pending) {
    }
}

bool set_env(const char* name, const char* value) {
    return (value ? setenv(name, value, 1) : unsetenv(name)) == 0;
}

const char* get_env(const char* name) { return getenv(name); }

double get_utc_time(bool precise) {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    double t = double(ts.tv_sec % 86400);
    if (precise) t += double(ts.tv_nsec) / 1e9;
    return t;
}

uint32_t pack_zone(int minutes) {
    int hours = minutes / 60;
    int quarters = minutes % 60;
    if (quarters < 0) quarters += 60;
    quarters /= 15;
    uint32_t h = hours < 0 ? (uint32_t(-hours) & 0xF) | 0x10 : uint32_t(hours) & 0xF;
    return (h << 2) | uint32_t(quarters);
}

uint32_t get_local_time(bool utc) {
    time_t now = time(nullptr);
    tm t;
    if (utc) gmtime_r(&now, &t);
    else localtime_r(&now, &t);
    uint32_t zone = utc ? 0 : pack_zone(int(t.tm_gmtoff / 60));
    return (uint32_t(t.tm_year + 1900) << 17) | (uint32_t(t.tm_mon + 1) << 12) |
           (uint32_t(t.tm_mday) << 7) | zone;
}

}  // namespace kiv::platform
