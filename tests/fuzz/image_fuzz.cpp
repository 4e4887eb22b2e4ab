// libFuzzer target for the image decoders (BMP, PNG, JPEG, GIF, TIFF): any
// input is taken as an encoded picture. Every status is fine; a crash, a
// sanitizer report or a leak is not. A picture that decodes is encoded again
// in each lossless format, which must decode to the same pixels.
//
// Pictures are limited to 2^22 pixels here, so that a header's claim stays
// within the fuzzer's memory; the decoders check every claim against that
// bound before allocating. The seed corpus (corpus/image/) holds small files
// of each format in its common variants.
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "runtime/io/image_codecs.h"

using namespace kiv::image_codecs;

namespace {

void round_trip(const pixels& px) {
    if (uint64_t(px.width) * px.height > 65536) return;
    for (int32_t codec : {IMAGE_PNG, IMAGE_BMP, IMAGE_TIFF}) {
        bytes out;
        if (encode(px.data, px.width, px.height, codec, &out) != OK) std::abort();
        pixels back;
        if (decode(out.data, out.size, &back) != OK || back.width != px.width || back.height != px.height ||
            std::memcmp(back.data, px.data, size_t(px.width) * px.height * 4) != 0)
            std::abort();
        std::free(back.data);
        std::free(out.data);
    }
    // Lossy ones: they must only succeed.
    for (int32_t codec : {IMAGE_JPEG, IMAGE_GIF}) {
        bytes out;
        if (encode(px.data, px.width, px.height, codec, &out) != OK) std::abort();
        std::free(out.data);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    max_pixels = uint64_t(1) << 22;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    pixels px;
    status s = decode(data, size, &px);
    if (s == OK) {
        if (!px.data || !px.width || !px.height) std::abort();
        round_trip(px);
        std::free(px.data);
    } else if (px.data) {
        std::abort();  // a failed decode keeps no memory
    }
    return 0;
}
