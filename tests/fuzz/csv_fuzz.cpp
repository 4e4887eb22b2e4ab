// load-csv on arbitrary text in each of its result forms and options, and
// what to-csv writes of the rows it read, read again.
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
            rows: try [load-csv text]
            if block? :rows [try [load-csv to-csv rows]]
            try [load-csv/header text]
            try [load-csv/as-records text]
            try [load-csv/flat/trim text]
            try [load-csv/with/quote text ";" #"'"]
            if map? columns: try [load-csv/as-columns text] [try [to-csv columns]]
        ]
    )");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::define_bytes("data", data, size);
    code->run();
    return 0;
}
