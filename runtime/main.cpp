// The program's entry point.
#include "runtime/boot.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/exits.h"
#include "runtime/runtime.h"
#include "runtime/stack.h"
#include "runtime/system.h"

int main(int argc, char** argv) {
    using namespace kiv;
    system::os_init(argc, argv);
    try {
        system::saved_stack_top = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
        runtime::init(kiv_boot_data, kiv_boot_data_size);
        boot::start();
        // The script of the command line, then the console's loop on the
        // terminal when there is no script or --catch asks for it; the loop
        // ends the process itself (quit, or the end of the input).
        boot::evaluate_source("system/console/launch");

    } catch (const kiv_exit& e) {
        // An error of the boot data or the library modules, or a throw that
        // no catcher took.
        if (e.level == LEVEL_ERROR) error::report_uncaught(stack::get_top());
        system::runtime_error(system::RT_NO_CATCH);
    }
    system::runtime_error(system::RT_QUIET);
}
