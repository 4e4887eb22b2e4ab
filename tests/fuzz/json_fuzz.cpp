// load-json on arbitrary text, and what to-json writes of a value it read,
// read again and written in each layout.
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/fuzz_runtime.h"

using namespace kiv;

namespace {
const fuzz::script* code = nullptr;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::start_runtime();
    code = new fuzz::script(R"(
        if string? text: try [to string! data] [
            value: try [load-json text]
            unless error? :value [
                try [load-json to-json :value]
                try [load-json to-json/ascii :value]
                try [load-json to-json/pretty :value "  "]
            ]
        ]
    )");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::define_bytes("data", data, size);
    code->run();
    return 0;
}
