// The program's entry point.
#include "runtime/boot.h"
#include "runtime/collector.h"
#include "runtime/exits.h"
#include "runtime/runtime.h"
#include "runtime/system.h"

int main(int argc, char** argv) {
    using namespace kiv;
    system::os_init(argc, argv);
    try {
        system::saved_stack_top = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
        runtime::init(kiv_boot_data);
        boot::start();
    } catch (const kiv_exit&) {
        // A throw that no catcher took.
        system::runtime_error(system::RT_NO_CATCH);
    }
    system::runtime_error(system::RT_QUIET);
}
