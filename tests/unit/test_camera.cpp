// The camera's capture side: the hand-over between a capture thread and the
// GUI thread, time-outs, late frames, stopping, and enumeration without
// devices. Built alone under ThreadSanitizer too (see tools/tsan_camera.sh).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <string>
#include <thread>

#include "view/gtk/camera_core.h"

using namespace kiv::camera;

namespace {

uint32_t first_pixel(const std::vector<uint8_t>& frame) {
    uint32_t p;
    std::memcpy(&p, frame.data(), 4);
    return p;
}

struct counting_sink : frame_sink {
    std::atomic<int> frames{0};
    void offer(const uint8_t*, size_t) override { frames++; }
};

}  // namespace

TEST(Camera, GrabTakesOneFrameFromTheCaptureThread) {
    std::atomic<int> posted{0};
    auto source = synthetic_source(8, 4, 5, 0xFF112200);
    grabber g(source->width(), source->height(), [&] { posted++; });
    ASSERT_TRUE(source->start(&g));
    for (int round = 0; round < 3; round++) {
        std::vector<uint8_t> frame;
        ASSERT_TRUE(g.grab(&frame, 3.0));
        EXPECT_EQ(frame.size(), 8u * 4 * 4);
        EXPECT_EQ(first_pixel(frame) & 0xFFFFFF00u, 0xFF112200u);
        EXPECT_EQ(g.state(), grabber::IDLE);
    }
    source->stop();
    EXPECT_GE(posted.load(), 3);
}

TEST(Camera, GrabTimesOutWithoutFramesAndDropsALateOne) {
    grabber g(2, 2, nullptr);
    std::vector<uint8_t> frame;
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(g.grab(&frame, 0.2));
    double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(waited, 0.2);
    EXPECT_EQ(g.state(), grabber::IDLE);
    // The frame that comes after the request was withdrawn is dropped.
    uint8_t late[16] = {};
    g.offer(late, sizeof late);
    EXPECT_EQ(g.state(), grabber::IDLE);
    EXPECT_EQ(g.dropped(), 1u);
    EXPECT_FALSE(g.take_ready(&frame));
}

TEST(Camera, StatesOfTheHandOver) {
    // Each row: the GUI asks (or not), one frame is offered; the state after.
    struct row {
        bool want;
        int after_offer;
        bool taken;
    } rows[] = {{false, grabber::IDLE, false}, {true, grabber::READY, true}};
    for (const row& r : rows) {
        int posted = 0;
        grabber g(1, 1, [&] { posted++; });
        if (r.want) g.want();
        uint8_t pixel[4] = {1, 2, 3, 4};
        g.offer(pixel, sizeof pixel);
        EXPECT_EQ(g.state(), r.after_offer);
        EXPECT_EQ(posted, r.taken ? 1 : 0);
        // A second frame before the first was taken is dropped.
        g.offer(pixel, sizeof pixel);
        std::vector<uint8_t> frame;
        EXPECT_EQ(g.take_ready(&frame), r.taken);
        if (r.taken) EXPECT_EQ(first_pixel(frame), 0x04030201u);
        EXPECT_EQ(g.state(), grabber::IDLE);
    }
}

TEST(Camera, ShortFramesFillWhatTheyHaveAndLongOnesAreCut) {
    grabber g(2, 1, nullptr);
    uint8_t big[64];
    std::memset(big, 7, sizeof big);
    g.want();
    g.offer(big, sizeof big);
    std::vector<uint8_t> frame;
    ASSERT_TRUE(g.take_ready(&frame));
    EXPECT_EQ(frame.size(), 8u);
}

TEST(Camera, StopJoinsTheCaptureThread) {
    counting_sink sink;
    auto source = synthetic_source(4, 4, 1, 0);
    ASSERT_TRUE(source->start(&sink));
    while (sink.frames.load() < 3) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    source->stop();
    int seen = sink.frames.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(sink.frames.load(), seen);
    // Destroying a running source stops it too.
    ASSERT_TRUE(source->start(&sink));
    source.reset();
    seen = sink.frames.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(sink.frames.load(), seen);
}

TEST(Camera, GrabsRacingTheCaptureThread) {
    auto source = synthetic_source(16, 16, 0, 0xFF000000);
    grabber g(16, 16, nullptr);
    ASSERT_TRUE(source->start(&g));
    std::vector<uint8_t> frame;
    int got = 0;
    for (int i = 0; i < 200; i++) {
        got += g.grab(&frame, 1.0);
        g.want();
        g.take_ready(&frame);
    }
    source->stop();
    EXPECT_EQ(got, 200);
}

TEST(Camera, NoDevices) {
    char folder[] = "/tmp/kiv-cameraXXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    EXPECT_TRUE(enumerate(folder).empty());
    EXPECT_TRUE(enumerate(std::string(folder) + "/missing").empty());
    EXPECT_EQ(open_device(std::string(folder) + "/video0"), nullptr);
    rmdir(folder);
}
