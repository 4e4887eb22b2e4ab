#pragma once
// The camera's capture side, apart from the GUI: frame sources that run a
// capture thread of their own (V4L2 devices, or a synthetic source for
// tests), and the grabber that hands one frame at a time to the GUI thread
// through a single atomic state word.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kiv::camera {

// Receives frames on the capture thread: 32-bit ARGB, width x height.
class frame_sink {
public:
    virtual ~frame_sink() = default;
    virtual void offer(const uint8_t* argb, size_t length) = 0;
};

class frame_source {
public:
    virtual ~frame_source() = default;
    // Starts capturing into the sink; false when the source cannot run.
    virtual bool start(frame_sink* sink) = 0;
    // Stops capturing and joins the capture thread; no offer follows.
    virtual void stop() = 0;
    virtual int width() const = 0;
    virtual int height() const = 0;
};

struct device {
    std::string name;  // what the driver calls it
    std::string path;
};

// A captured frame as 32-bit ARGB: `format` is a V4L2 pixel format (YUYV,
// or 32-bit ARGB copied as it is); a frame shorter than the picture fills
// what it covers and leaves the rest. Other formats fill nothing.
void frame_to_argb(uint32_t format, const uint8_t* data, size_t length, uint32_t* out, size_t pixels);

// The video capture devices under the folder (/dev), by path order.
std::vector<device> enumerate(const std::string& folder = "/dev");
// A source on a V4L2 device; null when it cannot be opened.
std::unique_ptr<frame_source> open_device(const std::string& path);
// A source that makes frames of one colour (0xAARRGGBB, its low byte the
// frame number) every `period_ms`, for tests.
std::unique_ptr<frame_source> synthetic_source(int width, int height, int period_ms, uint32_t colour);

// The hand-over. States: idle (no frame wanted), wanted (the GUI thread asks
// for one), copying (the capture thread fills the buffer), ready (a frame
// waits in the buffer). Only wanted -> copying and wanted -> idle race, and
// both go through compare-and-exchange.
class grabber : public frame_sink {
public:
    enum state_t : int { IDLE = 0, WANTED = 1, READY = 2, COPYING = 3 };

    // `ready` is called on the capture thread after a frame was copied; it
    // only tells the GUI thread (a posted message).
    grabber(int width, int height, std::function<void()> ready);

    void offer(const uint8_t* argb, size_t length) override;

    // GUI thread: asks for a frame and waits for it up to `timeout_s`;
    // true with the frame in `out`, false on time-out (the request is
    // withdrawn, and a frame arriving later is dropped).
    bool grab(std::vector<uint8_t>* out, double timeout_s);
    // GUI thread: asks for a frame without waiting.
    void want();
    // GUI thread: the frame that is ready, if any; the state goes idle.
    bool take_ready(std::vector<uint8_t>* out);

    int state() const { return state_.load(); }
    int width() const { return width_; }
    int height() const { return height_; }
    uint64_t dropped() const { return dropped_.load(); }

private:
    std::atomic<int> state_{IDLE};
    std::atomic<uint64_t> dropped_{0};
    int width_, height_;
    std::vector<uint8_t> buffer_;
    std::function<void()> ready_;
};

}  // namespace kiv::camera
