// Capture threads and the frame hand-over of the camera face.
#include "view/gtk/camera_core.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <dirent.h>
#include <thread>

namespace kiv::camera {

// Grabber ----------------------------------------------------------------------

grabber::grabber(int width, int height, std::function<void()> ready)
    : width_(width), height_(height), buffer_(size_t(width) * size_t(height) * 4), ready_(std::move(ready)) {}

void grabber::offer(const uint8_t* argb, size_t length) {
    int expected = WANTED;
    if (!state_.compare_exchange_strong(expected, COPYING)) {
        dropped_++;
        return;
    }
    if (length) std::memcpy(buffer_.data(), argb, std::min(length, buffer_.size()));
    state_.store(READY);
    if (ready_) ready_();
}

void grabber::want() {
    int expected = IDLE;
    state_.compare_exchange_strong(expected, WANTED);
}

bool grabber::grab(std::vector<uint8_t>* out, double timeout_s) {
    // Ask, unless a request is out already; a copy under way is let finish.
    for (;;) {
        int s = state_.load();
        if (s == WANTED) break;
        if (s == COPYING) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        if (state_.compare_exchange_weak(s, WANTED)) break;
    }
    double waited = 0;
    while (state_.load() != READY && waited <= timeout_s) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        waited += 0.01;
    }
    // Withdraw the request; when the capture thread took it, let it finish.
    int expected = WANTED;
    if (!state_.compare_exchange_strong(expected, IDLE))
        while (state_.load() == COPYING) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    bool got = state_.load() == READY;
    if (got) *out = buffer_;
    state_.store(IDLE);
    return got;
}

bool grabber::take_ready(std::vector<uint8_t>* out) {
    if (state_.load() != READY) return false;
    *out = buffer_;
    state_.store(IDLE);
    return true;
}

// Synthetic source ---------------------------------------------------------------

namespace {

class synthetic final : public frame_source {
public:
    synthetic(int w, int h, int period, uint32_t colour) : w_(w), h_(h), period_(period), colour_(colour) {}
    ~synthetic() override { stop(); }

    bool start(frame_sink* sink) override {
        stop();
        running_.store(true);
        thread_ = std::thread([this, sink] {
            std::vector<uint32_t> frame(size_t(w_) * size_t(h_));
            uint32_t n = 0;
            while (running_.load()) {
                std::fill(frame.begin(), frame.end(), (colour_ & 0xFFFFFF00u) | (n++ & 0xFF));
                sink->offer(reinterpret_cast<const uint8_t*>(frame.data()), frame.size() * 4);
                std::this_thread::sleep_for(std::chrono::milliseconds(period_));
            }
        });
        return true;
    }

    void stop() override {
        running_.store(false);
        if (thread_.joinable()) thread_.join();
    }

    int width() const override { return w_; }
    int height() const override { return h_; }

private:
    int w_, h_, period_;
    uint32_t colour_;
    std::atomic<bool> running_{false};
    std::thread thread_;
};

// V4L2 ---------------------------------------------------------------------------

int xioctl(int fd, unsigned long request, void* arg) {
    int r;
    do r = ioctl(fd, request, arg);
    while (r < 0 && errno == EINTR);
    return r;
}

uint8_t clamp8(int v) { return uint8_t(std::clamp(v, 0, 255)); }

// Two pixels of YUYV to ARGB.
void yuyv_to_argb(const uint8_t* in, uint32_t* out, size_t pixels) {
    for (size_t i = 0; i + 1 < pixels; i += 2, in += 4) {
        int u = in[1] - 128, v = in[3] - 128;
        for (int k = 0; k < 2; k++) {
            int c = (in[k * 2] - 16) * 298;
            uint8_t r = clamp8((c + 409 * v + 128) >> 8);
            uint8_t g = clamp8((c - 100 * u - 208 * v + 128) >> 8);
            uint8_t b = clamp8((c + 516 * u + 128) >> 8);
            out[i + size_t(k)] = 0xFF000000u | uint32_t(r) << 16 | uint32_t(g) << 8 | b;
        }
    }
}

class v4l2 final : public frame_source {
public:
    explicit v4l2(int fd) : fd_(fd) {}
    ~v4l2() override {
        stop();
        ::close(fd_);
    }

    bool configure() {
        v4l2_format fmt{};
        fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (xioctl(fd_, VIDIOC_G_FMT, &fmt) < 0) return false;
        fmt.fmt.pix.pixelformat = V4L2_PIX_FMT_YUYV;
        if (xioctl(fd_, VIDIOC_S_FMT, &fmt) < 0) return false;
        format_ = fmt.fmt.pix.pixelformat;
        if (format_ != V4L2_PIX_FMT_YUYV && format_ != V4L2_PIX_FMT_ABGR32 && format_ != V4L2_PIX_FMT_ARGB32)
            return false;
        w_ = int(fmt.fmt.pix.width), h_ = int(fmt.fmt.pix.height);
        return w_ > 0 && h_ > 0;
    }

    bool start(frame_sink* sink) override {
        stop();
        v4l2_requestbuffers req{};
        req.count = 4;
        req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        req.memory = V4L2_MEMORY_MMAP;
        if (xioctl(fd_, VIDIOC_REQBUFS, &req) < 0 || req.count < 1) return false;
        for (uint32_t i = 0; i < req.count; i++) {
            v4l2_buffer b{};
            b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            b.memory = V4L2_MEMORY_MMAP;
            b.index = i;
            if (xioctl(fd_, VIDIOC_QUERYBUF, &b) < 0) return release(), false;
            void* p = mmap(nullptr, b.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, b.m.offset);
            if (p == MAP_FAILED) return release(), false;
            maps_.push_back({p, b.length});
            if (xioctl(fd_, VIDIOC_QBUF, &b) < 0) return release(), false;
        }
        v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (xioctl(fd_, VIDIOC_STREAMON, &type) < 0) return release(), false;
        running_.store(true);
        thread_ = std::thread([this, sink] { capture(sink); });
        return true;
    }

    void stop() override {
        running_.store(false);
        if (thread_.joinable()) thread_.join();
        if (!maps_.empty()) {
            v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            xioctl(fd_, VIDIOC_STREAMOFF, &type);
        }
        release();
    }

    int width() const override { return w_; }
    int height() const override { return h_; }

private:
    struct mapping {
        void* start;
        size_t length;
    };

    void release() {
        for (const mapping& m : maps_) munmap(m.start, m.length);
        maps_.clear();
    }

    void capture(frame_sink* sink) {
        std::vector<uint32_t> frame(size_t(w_) * size_t(h_));
        while (running_.load()) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            v4l2_buffer b{};
            b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            b.memory = V4L2_MEMORY_MMAP;
            if (xioctl(fd_, VIDIOC_DQBUF, &b) < 0) continue;
            const auto* data = static_cast<const uint8_t*>(maps_[b.index].start);
            frame_to_argb(format_, data, std::min(size_t(b.bytesused), maps_[b.index].length), frame.data(),
                          frame.size());
            sink->offer(reinterpret_cast<const uint8_t*>(frame.data()), frame.size() * 4);
            xioctl(fd_, VIDIOC_QBUF, &b);
        }
    }

    int fd_;
    int w_ = 0, h_ = 0;
    uint32_t format_ = 0;
    std::vector<mapping> maps_;
    std::atomic<bool> running_{false};
    std::thread thread_;
};

}  // namespace

void frame_to_argb(uint32_t format, const uint8_t* data, size_t length, uint32_t* out, size_t pixels) {
    if (format == V4L2_PIX_FMT_YUYV) {
        // Four bytes carry two pixels.
        yuyv_to_argb(data, out, std::min(pixels, length / 4 * 2));
    } else if (format == V4L2_PIX_FMT_ARGB32 || format == V4L2_PIX_FMT_ABGR32) {
        if (size_t n = std::min(pixels * 4, length / 4 * 4)) std::memcpy(out, data, n);
    }
}

std::unique_ptr<frame_source> synthetic_source(int width, int height, int period_ms, uint32_t colour) {
    return std::make_unique<synthetic>(width, height, period_ms, colour);
}

std::vector<device> enumerate(const std::string& folder) {
    std::vector<device> found;
    DIR* d = opendir(folder.c_str());
    if (!d) return found;
    std::vector<std::string> paths;
    while (dirent* e = readdir(d))
        if (!strncmp(e->d_name, "video", 5)) paths.push_back(folder + "/" + e->d_name);
    closedir(d);
    std::sort(paths.begin(), paths.end());
    for (const std::string& path : paths) {
        int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        v4l2_capability cap{};
        if (xioctl(fd, VIDIOC_QUERYCAP, &cap) == 0) {
            uint32_t caps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
            if ((caps & V4L2_CAP_VIDEO_CAPTURE) && (caps & V4L2_CAP_STREAMING))
                found.push_back({reinterpret_cast<const char*>(cap.card), path});
        }
        ::close(fd);
    }
    return found;
}

std::unique_ptr<frame_source> open_device(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    auto source = std::make_unique<v4l2>(fd);
    if (!source->configure()) return nullptr;
    return source;
}

}  // namespace kiv::camera
