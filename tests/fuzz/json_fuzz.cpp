// load-json on arbitrary text next to the json-parser rules reading the
// same text: the runtime's reader must give the same value or the same
// error (a difference ends the process, which the fuzzer reports). Then
// what to-json writes of a value it read, read again in each layout.
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
            ruled: try [json-parser/read-rules text]
            unless either error? :value [
                all [error? :ruled value/id = ruled/id value/arg1 == ruled/arg1]
            ][
                all [not error? :ruled (mold/all :value) == mold/all :ruled]
            ][
                print ["reader and rules differ on" mold text]
                quit-return 3
            ]
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
