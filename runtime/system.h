#pragma once
// Process-wide state, the fatal runtime-error report, process set-up and the
// tracked heap.
#include <csignal>
#include <cstddef>
#include <cstdint>

namespace kiv {

struct heap_block;

// The process-wide record.
struct system_record {
    uint32_t pending_exit;        // exit level in flight (see exits.h)
    const uint8_t* boot_data;     // the boot blob carried by the executable
    heap_block* heap_head;        // every tracked heap block
};
extern system_record sys;

namespace system {

// Fatal runtime-error codes (the report's table holds their texts).
enum runtime_code : int {
    RT_QUIET = 0,
    RT_ACCESS_VIOLATION = 1,
    RT_ILLEGAL_INSTRUCTION = 17,
    RT_STACK_OVERFLOW = 19,
    RT_BUS_ERROR = 34,
    RT_OUT_OF_MEMORY = 94,
    RT_NO_CATCH = 95,
    RT_ASSERTION = 98,
    RT_UNKNOWN = 99,
    RT_NO_CASE = 100,
    RT_NO_SWITCH = 101,
};

// The text of a runtime-error code; "unknown error code!" outside the table.
const char* runtime_error_text(int code);

// Formats the report "*** Runtime Error %d: %s\n*** at: %08Xh" into buf.
int format_runtime_error(char* buf, size_t size, int code, uintptr_t address);

// Ends the process: code 0 quietly, any other code with the report on stderr.
// Every tracked heap block is freed; the exit status is the code.
[[noreturn]] void runtime_error(int code, uintptr_t address = 0);

// Process set-up: signal handlers on an alternate stack, standard handles,
// the native stack bounds and the command-line arguments.
void os_init(int argc, char** argv);

// Command-line arguments as UTF-8 (NULL-terminated like argv).
extern int argc;
extern char** argv;

// Lowest native stack address the runtime lets code reach before it raises
// `stack-overflow`; 0 until os_init has run.
extern uintptr_t native_stack_limit;

// Raises `stack-overflow` when the native stack is nearly exhausted. Deeply
// recursive code (evaluation, form, mold, sort) calls it on each level.
void check_native_stack_overflow();
inline void check_native_stack() {
    if (reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) < native_stack_limit)
        check_native_stack_overflow();
}

// Ctrl-C. Until the console's loop sets halt_on_interrupt, an interrupt ends
// the process with status 130; afterwards it sets interrupt_pending, which
// the evaluator checks on entering each block (and `wait` while it sleeps)
// and answers by halting the running command.
extern volatile std::sig_atomic_t interrupt_pending;
extern bool halt_on_interrupt;
void halt_interrupted();
inline void check_interrupt() {
    if (interrupt_pending) [[unlikely]]
        halt_interrupted();
}

// The native stack pointer recorded just before runtime initialisation; the
// collector scans from its own frame up to here.
extern uintptr_t saved_stack_top;

}  // namespace system

// The tracked heap: blocks that the runtime's fixed tables live in. A failed
// allocation is runtime error 94.
namespace memory {
void* allocate(size_t size);
void* allocate_zeroed(size_t size);
void* realloc(void* block, size_t size);  // size 0 frees the block
void free(void* block);
void free_all();
// Bytes the tracked heap holds, each block's bookkeeping included.
size_t heap_total();
}  // namespace memory

}  // namespace kiv
