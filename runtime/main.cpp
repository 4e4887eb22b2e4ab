// The program's entry point.
#include "runtime/collector.h"
#include "runtime/exits.h"
#include "runtime/runtime.h"
#include "runtime/system.h"

int main(int argc, char** argv) {
    using namespace kiv;
    system::os_init(argc, argv);
    try {
        system::saved_stack_top = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
        runtime::init();
        // The words made so far are anchored; from here on they need not be,
        // and any allocation may collect.
        runtime::boot_loading = false;
        collector::active_q = true;
    } catch (const kiv_exit&) {
        // A throw that no catcher took.
        system::runtime_error(system::RT_NO_CATCH);
    }
    system::runtime_error(system::RT_QUIET);
}
