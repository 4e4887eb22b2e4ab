// libFuzzer target for the chunked LZ decompressor: any input either
// unpacks to exactly the size its head gives or is refused; nothing is read
// outside the input. Each input is also compressed and unpacked again, which
// must give it back.
#include <cstdlib>
#include <cstring>

#include "runtime/io/lz.h"

using namespace kiv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (auto out = lz::decompress(data, size)) {
        uint32_t unpacked = data[4] | data[5] << 8 | data[6] << 16 | uint32_t(data[7]) << 24;
        if (out->size() != unpacked) std::abort();
    }
    std::vector<uint8_t> packed = lz::compress(data, size);
    auto back = lz::decompress(packed.data(), packed.size());
    if (!back || back->size() != size || (size && std::memcmp(back->data(), data, size) != 0)) std::abort();
    return 0;
}
