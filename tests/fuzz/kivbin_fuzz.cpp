// The KIVBIN decoder on arbitrary records: the input follows the image's
// magic, so that mutations spend themselves on the version, the flags and
// the records. What decodes is molded, encoded and decoded again.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tests/fuzz/fuzz_runtime.h"

using namespace kiv;

namespace {
const fuzz::script* code = nullptr;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::start_runtime();
    code = new fuzz::script(R"(
        set/any 'value try [system/codecs/kivbin/decode data]
        unless error? :value [
            try [mold :value]
            try [system/codecs/kivbin/decode system/codecs/kivbin/encode :value none]
        ]
    )");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> image{'K', 'I', 'V', 'B', 'I', 'N'};
    image.insert(image.end(), data, data + size);
    fuzz::define_bytes("data", image.data(), image.size());
    code->run();
    return 0;
}
