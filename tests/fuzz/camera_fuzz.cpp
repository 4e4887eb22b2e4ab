// Frames as a capture device hands them over: any bytes in any of the pixel
// formats, for a picture of any small size, convert without reading or
// writing past either buffer; the grabber takes frames of any length.
#include <linux/videodev2.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "view/gtk/camera_core.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    static const uint32_t formats[] = {V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_ARGB32, V4L2_PIX_FMT_ABGR32, V4L2_PIX_FMT_MJPEG};
    uint32_t format = formats[data[0] % 4];
    int w = 1 + data[1] % 64, h = 1 + data[2] % 64;
    data += 3, size -= 3;
    // The frame in a buffer of its own size, so that an overread shows.
    std::vector<uint8_t> frame(data, data + size);
    std::vector<uint32_t> out(size_t(w) * size_t(h));
    kiv::camera::frame_to_argb(format, frame.data(), frame.size(), out.data(), out.size());
    kiv::camera::grabber g(w, h, nullptr);
    g.want();
    g.offer(frame.data(), frame.size());
    std::vector<uint8_t> taken;
    if (!g.take_ready(&taken) || taken.size() != out.size() * 4) __builtin_trap();
    return 0;
}
