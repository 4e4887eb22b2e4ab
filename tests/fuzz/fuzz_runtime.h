#pragma once
// What every fuzz target shares: the runtime started once, from the boot
// data, and a way to run Kiv code on one input so that whatever it raises
// stays a Kiv error and leaves the stacks as they were.
#include <cstdint>
#include <string>

#include "runtime/boot.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/exits.h"
#include "runtime/runtime.h"
#include "runtime/stack.h"
#include "runtime/system.h"

namespace kiv::fuzz {

// Called from LLVMFuzzerInitialize. The collector scans the native stack up
// to system::saved_stack_top; left at zero, it scans up to the top of the
// thread's stack, above every frame libFuzzer runs an input from (recording
// this function's own frame would leave the caller's loop above the line).
inline void start_runtime() {
    static char name[] = "kiv-fuzz";
    static char* args[] = {name, nullptr};
    system::os_init(1, args);
    system::saved_stack_top = 0;
    runtime::init(kiv_boot_data, kiv_boot_data_size);
    boot::start();
}

// Sets a global word for the code that follows.
inline void define(const char* name, const kiv_value& value) {
    kiv_value w = *word::load(name);
    _context::set(&w, &value);
}

inline void define_bytes(const char* name, const uint8_t* data, size_t size) {
    kiv_value bin = *binary::load(data, uint32_t(size));
    stack::pop(1);
    define(name, bin);
}

// Runs a step inside a try frame; false when it raised or threw. The stacks
// come back to where they were either way.
template <class Step>
bool attempt(Step step) {
    kiv_value* arguments = stack::arguments;
    kiv_value* top = stack::top;
    call_frame* frames = stack::ctop;
    stack::mark_try(nullptr);
    bool ok = true;
    try {
        step();
    } catch (const kiv_exit&) {
        ok = false;
    }
    stack::arguments = arguments;
    stack::top = top;
    stack::ctop = frames;
    stack::throw_origin = nullptr;
    sys.pending_exit = LEVEL_NONE;
    return ok;
}

inline bool run(const kiv_value& code) {
    return attempt([&] {
        kiv_value* held = stack::push_value(&code);
        interpreter::eval(held, false);
    });
}

// The code of a fixed Kiv text, loaded once and anchored in the root block
// so that the collector keeps (and may move) it; read back through the root.
class script {
  public:
    explicit script(const std::string& text) {
        kiv_value code = boot::load_source(text);
        slot_ = block::length_all(&runtime::root);
        block::append_copy(&runtime::root, &code);
    }
    bool run() const { return fuzz::run(block::cells(&runtime::root)[slot_]); }

  private:
    uint32_t slot_;
};

}  // namespace kiv::fuzz
