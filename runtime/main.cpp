// The program's entry point.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtime/boot.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/exits.h"
#include "runtime/runtime.h"
#include "runtime/stack.h"
#include "runtime/system.h"

namespace {

constexpr const char* USAGE =
    "Usage: kiv [--catch] [--cli] [--] [script [argument ...]]\n"
    "\n"
    "Without a script, kiv starts the console: in a window when there is a display,\n"
    "else on the terminal. With one, it runs the script, whose arguments are in\n"
    "system/script/args, and ends.\n"
    "\n"
    "  --catch    stay at the console's prompt when the script has run\n"
    "  --cli      use the console on the terminal, even with a display\n"
    "  --         the next argument is the script, even if it begins with --\n"
    "  --help     print this text and end\n"
    "  --version  print the version and end\n";

// --help or --version among the switches in front of the script name.
const char* asked_for(int argc, char** argv) {
    for (int i = 1; i < argc && std::strncmp(argv[i], "--", 2) == 0; i++) {
        if (std::strcmp(argv[i], "--") == 0) break;
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "--version") == 0) return argv[i];
    }
    return nullptr;
}

// The console window opens when no script is named, --cli is not given and
// a display is named; whether the display can be opened is learned when the
// backend starts.
bool window_console_wanted(int argc, char** argv) {
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "--cli") == 0) return false;
        if (std::strcmp(argv[i], "--") == 0 || std::strncmp(argv[i], "--", 2) != 0) return false;
    }
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value && *value) return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace kiv;
    system::os_init(argc, argv);
    try {
        system::saved_stack_top = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
        runtime::init(kiv_boot_data, kiv_boot_data_size);
        boot::start();
        if (const char* switch_ = asked_for(argc, argv)) {
            if (std::strcmp(switch_, "--help") == 0) std::fputs(USAGE, stdout);
            else boot::evaluate_source("print [\"Kiv\" system/version]");
            return 0;
        }
        // The script of the command line, then the console's loop when
        // there is no script or --catch asks for it; the loop ends the
        // process itself (quit, or the end of the input).
        if (window_console_wanted(argc, argv)) {
            // A display that cannot be opened leaves the console on the
            // terminal.
            boot::evaluate_source(
                "either attempt [system/view/platform/init true] ["
                "    gui-console-ctx: make-gui-console gui-console-ctx/launch"
                "] [system/console/launch]");
        } else {
            boot::evaluate_source("system/console/launch");
        }

    } catch (const kiv_exit& e) {
        // An error of the boot data or the library modules, or a throw that
        // no catcher took.
        if (e.level == LEVEL_ERROR) error::report_uncaught(stack::get_top());
        system::runtime_error(system::RT_NO_CATCH);
    }
    system::runtime_error(system::RT_QUIET);
}
