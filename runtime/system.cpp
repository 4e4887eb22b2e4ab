// Process set-up and the fatal runtime-error report.
#include "runtime/system.h"

#include <pthread.h>
#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

#include <cfenv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "runtime/errors.h"

namespace kiv {

system_record sys;

namespace system {

int argc = 0;
char** argv = nullptr;
uintptr_t native_stack_limit = 0;
uintptr_t saved_stack_top = 0;
volatile std::sig_atomic_t interrupt_pending = 0;
bool halt_on_interrupt = false;

namespace {

struct code_text {
    int code;
    const char* text;
};

constexpr code_text runtime_errors[] = {
    {1, "access violation"}, {2, "invalid alignment"}, {3, "breakpoint"},
    {4, "single step"}, {5, "bounds exceeded"}, {6, "float denormal operan"},
    {7, "float divide by zero"}, {8, "float inexact result"},
    {9, "float invalid operation"}, {10, "float overflow"}, {11, "float stack check"},
    {12, "float underflow"}, {13, "integer divide by zero"}, {14, "integer overflow"},
    {15, "privileged instruction"}, {16, "invalid virtual address"},
    {17, "illegal instruction"}, {18, "non-continuable exception"},
    {19, "stack error or overflow"}, {20, "invalid disposition"}, {21, "guard page"},
    {22, "invalid handle"}, {23, "illegal operand"}, {24, "illegal addressing mode"},
    {25, "illegal trap"}, {26, "coprocessor error"},
    {27, "non-existent physical address"}, {28, "object specific hardware error"},
    {29, "hardware memory error consumed AR"}, {30, "hardware memory error consumed AO"},
    {31, "privileged register"}, {32, "segmentation fault"}, {33, "FPU error"},
    {34, "Bus error"}, {94, "out of memory"}, {95, "no CATCH for THROW"},
    {98, "assertion failed"}, {99, "unknown error"}, {100, "no value matched in CASE"},
    {101, "no value matched in SWITCH"},
};

// The room kept below the limit for raising the error and for signal-free
// C library calls made while it unwinds.
constexpr uintptr_t STACK_RESERVE = 256 * 1024;

uintptr_t stack_low = 0;  // lowest address of the main thread's stack

// A signal's runtime-error code: what each processor exception means here.
int signal_code(int sig, const siginfo_t* info) {
    switch (sig) {
        case SIGSEGV: {
            uintptr_t a = reinterpret_cast<uintptr_t>(info->si_addr);
            bool in_guard = stack_low && a < stack_low + STACK_RESERVE && a + 65536 >= stack_low;
            return in_guard ? RT_STACK_OVERFLOW : RT_ACCESS_VIOLATION;
        }
        case SIGBUS: return RT_BUS_ERROR;
        case SIGILL: return info->si_code == ILL_PRVOPC ? 15 : RT_ILLEGAL_INSTRUCTION;
        case SIGFPE:
            switch (info->si_code) {
                case FPE_INTDIV: return 13;
                case FPE_INTOVF: return 14;
                case FPE_FLTDIV: return 7;
                case FPE_FLTOVF: return 10;
                case FPE_FLTUND: return 12;
                case FPE_FLTRES: return 8;
                case FPE_FLTINV: return 9;
                default: return 33;
            }
        default: return RT_UNKNOWN;
    }
}

// Ctrl-C: once the console's loop runs it asks the evaluator to halt; before
// that, or when the evaluator has not taken the first request (a long
// native call), the process ends the way an interrupted program does.
void on_interrupt(int) {
    if (!halt_on_interrupt || interrupt_pending) _exit(128 + SIGINT);
    interrupt_pending = 1;
}

// The report is written with write(2): the handler runs on the alternate
// stack while the process may be in any state.
void on_signal(int sig, siginfo_t* info, void* context) {
    uintptr_t address = 0;
#if defined(__x86_64__)
    address = uintptr_t(static_cast<ucontext_t*>(context)->uc_mcontext.gregs[REG_RIP]);
#else
    (void)context;
#endif
    int code = signal_code(sig, info);
    char buf[160];
    int n = format_runtime_error(buf, sizeof buf, code, address);
    if (n > 0) {
        ssize_t w = write(STDERR_FILENO, buf, size_t(n));
        (void)w;
    }
    _exit(code);
}

// Built with a sanitizer, its own handlers report a fault with the stack
// that led there: the runtime's would only hide that report.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool SANITIZED = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool SANITIZED = true;
#else
constexpr bool SANITIZED = false;
#endif
#else
constexpr bool SANITIZED = false;
#endif

void install_signal_handlers() {
    static char alt_stack[64 * 1024];
    stack_t ss{};
    ss.ss_sp = alt_stack;
    ss.ss_size = sizeof alt_stack;
    sigaltstack(&ss, nullptr);
    struct sigaction sa{};
    sa.sa_sigaction = on_signal;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    // No SA_RESTART: a read waiting at the prompt returns, so that the
    // prompt can start afresh.
    struct sigaction interrupt{};
    interrupt.sa_handler = on_interrupt;
    sigemptyset(&interrupt.sa_mask);
    sigaction(SIGINT, &interrupt, nullptr);
    if (SANITIZED) return;
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) sigaction(sig, &sa, nullptr);
}

void find_stack_bounds() {
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return;
    void* addr = nullptr;
    size_t size = 0;
    if (pthread_attr_getstack(&attr, &addr, &size) == 0) {
        stack_low = reinterpret_cast<uintptr_t>(addr);
        native_stack_limit = stack_low + STACK_RESERVE;
    }
    pthread_attr_destroy(&attr);
}

}  // namespace

const char* runtime_error_text(int code) {
    for (const code_text& e : runtime_errors)
        if (e.code == code) return e.text;
    return "unknown error code!";
}

int format_runtime_error(char* buf, size_t size, int code, uintptr_t address) {
    return std::snprintf(buf, size, "*** Runtime Error %d: %s\n*** at: %08lXh\n", code,
                         runtime_error_text(code), static_cast<unsigned long>(address));
}

void runtime_error(int code, uintptr_t address) {
    std::fflush(stdout);
    if (code != RT_QUIET) {
        char buf[160];
        format_runtime_error(buf, sizeof buf, code, address);
        std::fputs(buf, stderr);
        std::fflush(stderr);
    }
    memory::free_all();
    std::exit(code);
}

void os_init(int count, char** args) {
    std::feclearexcept(FE_ALL_EXCEPT);
    std::fesetround(FE_TONEAREST);
    sys.heap_head = nullptr;
    find_stack_bounds();
    install_signal_handlers();
    // Arguments arrive as UTF-8 bytes already; they are kept as they are.
    argc = count;
    argv = args;
}

void check_native_stack_overflow() {
    fire(err::INTERNAL, err::internal::stack_overflow);
}

}  // namespace system
}  // namespace kiv
