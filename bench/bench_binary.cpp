// binary!: building a megabyte byte by byte and in chunks, the UTF-8 and
// text conversions and a KIVBIN round trip of it. Each figure is the whole
// run's time.
#include <chrono>
#include <cstdio>

#include "runtime/evaluator/interpreter.h"
#include "runtime/boot.h"
#include "runtime/runtime.h"
#include "runtime/stack.h"
#include "runtime/system.h"
#include "tests/unit/natives_setup.h"

namespace {

using namespace kiv;

double seconds_of(const char* text) {
    kiv_value code = test::read_code(text);
    stack::mark_native(nullptr);
    auto start = std::chrono::steady_clock::now();
    interpreter::eval(&code, false);
    auto end = std::chrono::steady_clock::now();
    stack::unwind_drop();
    return std::chrono::duration<double>(end - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    system::os_init(argc, argv);
    runtime::init(kiv_boot_data, kiv_boot_data_size);
    boot::start();
    test::evaluate_text("text: append/dup copy \"\" \"abcdéfgh\" 131072  mb: to binary! text  codec: system/codecs/kivbin");
    const char* runs[][2] = {
        {"append 1M single bytes", "b: make binary! 0 loop 1048576 [append b 65]"},
        {"(append 1M values to a block)", "k: make block! 0 loop 1048576 [append k 65]"},
        {"(append 1M strings to a string)", "s: make string! 0 loop 1048576 [append s \"A\"]"},
        {"append 16K chunks of 64 bytes", "b: make binary! 0 c: copy/part mb 64 loop 16384 [append b c]"},
        {"insert 10K bytes at the head", "b: copy mb loop 10000 [insert b 1]"},
        {"to binary! of 1M characters", "loop 10 [to binary! text]"},
        {"to string! of 1.1 MB of UTF-8", "loop 10 [to string! mb]"},
        {"mold of 1.1 MB", "loop 10 [mold mb]"},
        {"find a byte absent from 1.1 MB", "loop 10 [find mb 0]"},
        {"KIVBIN encode and decode 1.1 MB", "loop 10 [codec/decode codec/encode mb none]"},
    };
    std::printf("binary!: seconds per run\n");
    for (auto& r : runs) std::printf("  %-36s %7.3f s\n", r[0], seconds_of(r[1]));
    return 0;
}
