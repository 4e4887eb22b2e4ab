// The lexer on arbitrary bytes: transcode in its modes, load, and the text
// that mold makes of what was read, read again.
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
        try [transcode/scan data]
        try [transcode/prescan data]
        try [transcode/next data]
        try [load/trap data]
        if block? values: try [transcode data] [
            try [transcode mold values]
            try [transcode form values]
        ]
    )");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::define_bytes("data", data, size);
    code->run();
    return 0;
}
