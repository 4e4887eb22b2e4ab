// image! inside the runtime: the pixel store API native code uses, its
// release by the collector, and the codecs at the byte level (hand-made BMP
// variants, bounds on header sizes, round trips of every lossless format).
#include <cstdlib>
#include <cstring>
#include <vector>

#include "runtime/collector.h"
#include "runtime/datatypes/image.h"
#include "runtime/errors.h"
#include "runtime/io/image_codecs.h"
#include "runtime/stack.h"
#include "tests/unit/natives_fixture.h"

using namespace kiv;
using namespace kiv::test;
namespace codecs = kiv::image_codecs;

namespace {

class Image : public NativesTest {};

int released = 0;
void count_release(void*) { released++; }

TEST_F(Image, StoreHoldsArgbRowsAndSharesAmongValues) {
    SetUp();
    kiv_value* img = image::push(3, 2);
    EXPECT_EQ(image::width_of(img), 3u);
    EXPECT_EQ(image::height_of(img), 2u);
    EXPECT_EQ(img->data3, 2u << 16 | 3u);
    uint32_t* p = image::lock(img, true);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[5], 0xFFFFFFFFu);  // opaque white
    p[4] = 0x80102030;
    image::unlock(img);
    kiv_value copy = *img;
    EXPECT_EQ(image::store_of(&copy), image::store_of(img));
    kiv_value tuple;
    image::pixel_to_tuple(&tuple, image::lock(&copy, false)[4]);
    image::unlock(&copy);
    EXPECT_EQ(molded(tuple), "16.32.48.127");
    EXPECT_EQ(image::tuple_to_pixel(&tuple), 0x80102030u);
    EXPECT_EQ(image::store_of(img)->locks, 0u);
}

TEST_F(Image, EmptySidesHaveNoStore) {
    SetUp();
    kiv_value* img = image::push(0, 7);
    EXPECT_EQ(image::store_of(img), nullptr);
    EXPECT_EQ(image::lock(img, false), nullptr);
    image::unlock(img);
    EXPECT_EQ(image::height_of(img), 7u);
}

TEST_F(Image, PixelsFromMemoryFollowTheStride) {
    SetUp();
    const uint32_t rows[] = {1, 2, 99, 3, 4, 99};  // two rows of 2, stride 12 bytes
    kiv_value* img = image::push_from_pixels(2, 2, rows, 12);
    const uint32_t* p = image::lock(img, false);
    EXPECT_EQ(std::vector<uint32_t>(p, p + 4), (std::vector<uint32_t>{1, 2, 3, 4}));
    image::unlock(img);
}

TEST_F(Image, WritingDropsTheRenderCopy) {
    SetUp();
    kiv_value* img = image::push(1, 1);
    image::store* s = image::store_of(img);
    s->render = s;
    s->release_render = count_release;
    released = 0;
    image::lock(img, false);
    image::unlock(img);
    EXPECT_EQ(released, 0);
    image::lock(img, true);
    image::unlock(img);
    EXPECT_EQ(released, 1);
    EXPECT_EQ(s->render, nullptr);
    EXPECT_TRUE(s->flags & image::WRITTEN);
}

TEST_F(Image, CollectorFreesStoresNoValueNames) {
    SetUp();
    collector::scan_native_q = false;
    released = 0;
    kiv_value* kept = image::push(2, 2);
    image::store_of(kept)->render = kept;
    image::store_of(kept)->release_render = count_release;
    kiv_value* dropped = image::push(2, 2);
    image::store_of(dropped)->render = dropped;
    image::store_of(dropped)->release_render = count_release;
    stack::pop(1);
    collector::do_cycle();
    EXPECT_EQ(released, 1);
    EXPECT_NE(image::store_of(kept), nullptr);
    stack::pop(1);
    collector::do_cycle();
    EXPECT_EQ(released, 2);
    collector::scan_native_q = true;
}

TEST_F(Image, ResizedAndFlippedCopies) {
    SetUp();
    const uint32_t four[] = {1, 2, 3, 4};
    kiv_value* img = image::push_from_pixels(2, 2, four, 0);
    kiv_value* big = image::push_resized(img, 4, 1);
    const uint32_t* p = image::lock(big, false);
    EXPECT_EQ(std::vector<uint32_t>(p, p + 4), (std::vector<uint32_t>{1, 1, 2, 2}));
    image::unlock(big);
    kiv_value* flipped = image::push_flipped(img);
    p = image::lock(flipped, false);
    EXPECT_EQ(std::vector<uint32_t>(p, p + 4), (std::vector<uint32_t>{3, 4, 1, 2}));
    image::unlock(flipped);
    EXPECT_NE(image::store_of(flipped), image::store_of(img));
}

TEST(ImagePremultiplied, RoundTripsWhereAlphaAllows) {
    const uint32_t straight[] = {0xFF102030, 0x80FF8000, 0x00FFFFFF, 0x01FFFFFF};
    uint32_t pre[4], back[4];
    image::premultiply(straight, pre, 4);
    EXPECT_EQ(pre[0], 0xFF102030u);
    EXPECT_EQ(pre[1], 0x80804000u);
    EXPECT_EQ(pre[2], 0x00000000u);
    EXPECT_EQ(pre[3], 0x01010101u);
    image::unpremultiply(pre, back, 4);
    EXPECT_EQ(back[0], straight[0]);
    EXPECT_EQ(back[1], straight[1]);
    EXPECT_EQ(back[2], 0x00000000u);
    EXPECT_EQ(back[3], 0x01FFFFFFu);
}

TEST_F(Image, SidesAboveTheSizeWordAreRefused) {
    auto raised_by = [this](uint32_t w, uint32_t h) {
        SetUp();
        stack::mark_try(nullptr);
        return raised([&] { image::push(w, h); });
    };
    expect_error(raised_by(65536, 1), err::SCRIPT, err::script::out_of_range);
    expect_error(raised_by(1, 65536), err::SCRIPT, err::script::out_of_range);
    expect_error(raised_by(65535, 65535), err::INTERNAL, err::internal::no_memory);
    SetUp();
}

// The codecs --------------------------------------------------------------------

using bytes = std::vector<uint8_t>;

void put32(bytes& b, uint32_t v) {
    for (int i = 0; i < 4; i++) b.push_back(uint8_t(v >> (8 * i)));
}
void put16(bytes& b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}

// A BMP with a 40-byte header, the given extra header bytes (masks,
// palette) and pixel rows.
bytes bmp(int32_t width, int32_t height, uint16_t bits, uint32_t compression, const bytes& extra,
          const bytes& rows) {
    bytes b = {'B', 'M'};
    put32(b, uint32_t(54 + extra.size() + rows.size()));
    put32(b, 0);
    put32(b, uint32_t(54 + extra.size()));
    put32(b, 40);
    put32(b, uint32_t(width));
    put32(b, uint32_t(height));
    put16(b, 1);
    put16(b, bits);
    put32(b, compression);
    for (int i = 0; i < 5; i++) put32(b, 0);
    b.insert(b.end(), extra.begin(), extra.end());
    b.insert(b.end(), rows.begin(), rows.end());
    return b;
}

std::vector<uint32_t> decoded(const bytes& b, codecs::status expect = codecs::OK) {
    codecs::pixels px;
    codecs::status s = codecs::decode(b.data(), b.size(), &px);
    EXPECT_EQ(s, expect);
    if (s != codecs::OK) {
        EXPECT_EQ(px.data, nullptr);
        return {};
    }
    std::vector<uint32_t> out(px.data, px.data + size_t(px.width) * px.height);
    std::free(px.data);
    return out;
}

TEST(ImageCodecs, BmpVariants) {
    // 24 bits, bottom-up, rows padded to 4 bytes.
    EXPECT_EQ(decoded(bmp(1, 2, 24, 0, {}, {1, 2, 3, 0, 4, 5, 6, 0})),
              (std::vector<uint32_t>{0xFF060504, 0xFF030201}));
    // Top-down when the height is negative.
    EXPECT_EQ(decoded(bmp(1, -2, 24, 0, {}, {1, 2, 3, 0, 4, 5, 6, 0})),
              (std::vector<uint32_t>{0xFF030201, 0xFF060504}));
    // 16 bits 5-6-5 through bit fields.
    bytes masks;
    put32(masks, 0xF800), put32(masks, 0x07E0), put32(masks, 0x001F);
    EXPECT_EQ(decoded(bmp(1, 1, 16, 3, masks, {0xFF, 0xFF, 0, 0})), (std::vector<uint32_t>{0xFFFFFFFF}));
    // 32 bits with an alpha mask keep alpha; plain 32 bits are opaque.
    put32(masks, 0);
    bytes argb_masks;
    put32(argb_masks, 0xFF0000), put32(argb_masks, 0xFF00), put32(argb_masks, 0xFF), put32(argb_masks, 0xFF000000);
    EXPECT_EQ(decoded(bmp(1, 1, 32, 6, argb_masks, {1, 2, 3, 4})), (std::vector<uint32_t>{0x04030201}));
    EXPECT_EQ(decoded(bmp(1, 1, 32, 0, {}, {1, 2, 3, 4})), (std::vector<uint32_t>{0xFF030201}));
    // 1 and 4 bits through the palette (B, G, R, 0 entries).
    bytes palette = {0, 0, 0, 0, 255, 255, 255, 0};
    EXPECT_EQ(decoded(bmp(3, 1, 1, 0, palette, {0xA0, 0, 0, 0})),
              (std::vector<uint32_t>{0xFFFFFFFF, 0xFF000000, 0xFFFFFFFF}));
    EXPECT_EQ(decoded(bmp(2, 1, 4, 0, palette, {0x10, 0, 0, 0})), (std::vector<uint32_t>{0xFFFFFFFF, 0xFF000000}));
    // Run lengths: a run, an absolute run, end of line, end of picture.
    EXPECT_EQ(decoded(bmp(4, 1, 8, 1, palette, {2, 1, 0, 3, 0, 1, 0, 0, 0, 0, 0, 1})),
              (std::vector<uint32_t>{0xFFFFFFFF, 0xFFFFFFFF, 0xFF000000, 0xFFFFFFFF}));
    EXPECT_EQ(decoded(bmp(3, 1, 4, 2, palette, {3, 0x10, 0, 1})),
              (std::vector<uint32_t>{0xFFFFFFFF, 0xFF000000, 0xFFFFFFFF}));
}

TEST(ImageCodecs, DamagedBmpIsRefused) {
    bytes good = bmp(1, 1, 24, 0, {}, {1, 2, 3, 0});
    decoded(good);
    decoded(bytes(good.begin(), good.end() - 1), codecs::CORRUPT);  // a row cut short
    decoded(bmp(1, 1, 24, 1, {}, {1, 2, 3, 0}), codecs::CORRUPT);   // run lengths need 8 bits
    decoded(bmp(1, 1, 7, 0, {}, {1, 2, 3, 0}), codecs::CORRUPT);    // no such depth
    decoded(bmp(0, 1, 24, 0, {}, {1, 2, 3, 0}), codecs::CORRUPT);   // no pixels
    decoded(bmp(1, 1, 8, 1, {0, 0, 0, 0}, {5, 0}), codecs::CORRUPT);  // runs without their end
    decoded(bmp(65536, 1, 24, 0, {}, {}), codecs::TOO_LARGE);       // claims beyond the bound
    bytes huge = bmp(40000, 40000, 24, 0, {}, {});                  // within sides, not within the data
    decoded(huge, codecs::CORRUPT);
}

TEST(ImageCodecs, SniffingChecksTheLengthFirst) {
    const uint8_t png[] = {137, 'P', 'N', 'G'};
    EXPECT_EQ(codecs::sniff(png, 3), -1);
    EXPECT_EQ(codecs::sniff(png, 4), codecs::IMAGE_PNG);
    const uint8_t gif[] = {'G', 'I', 'F', '8', '9', 'a'};
    EXPECT_EQ(codecs::sniff(gif, 5), -1);
    EXPECT_EQ(codecs::sniff(gif, 6), codecs::IMAGE_GIF);
    EXPECT_EQ(codecs::sniff(nullptr, 0), -1);
}

TEST(ImageCodecs, LosslessRoundTrips) {
    std::vector<uint32_t> px(7 * 5);
    for (size_t i = 0; i < px.size(); i++) px[i] = uint32_t(i * 0x01030507u) | (i % 3 ? 0xFF000000u : 0);
    for (int32_t codec : {codecs::IMAGE_PNG, codecs::IMAGE_BMP, codecs::IMAGE_TIFF}) {
        SCOPED_TRACE(codec);
        codecs::bytes out;
        ASSERT_EQ(codecs::encode(px.data(), 7, 5, codec, &out), codecs::OK);
        EXPECT_EQ(decoded(bytes(out.data, out.data + out.size)), px);
        std::free(out.data);
    }
}

TEST(ImageCodecs, GifKeepsUpTo256ColoursAndReducesMore) {
    std::vector<uint32_t> px(256);
    for (uint32_t i = 0; i < 256; i++) px[i] = 0xFF000000 | i * 0x010101u;
    codecs::bytes out;
    ASSERT_EQ(codecs::encode(px.data(), 16, 16, codecs::IMAGE_GIF, &out), codecs::OK);
    EXPECT_EQ(decoded(bytes(out.data, out.data + out.size)), px);
    std::free(out.data);
    px[0] = 0xFF123457;  // a 257th colour
    px.push_back(0xFF000000);
    ASSERT_EQ(codecs::encode(px.data(), 257, 1, codecs::IMAGE_GIF, &out), codecs::OK);
    EXPECT_EQ(decoded(bytes(out.data, out.data + out.size)).size(), 257u);
    std::free(out.data);
}

TEST(ImageCodecs, EncodingRefusesEmptyAndOversizedPictures) {
    uint32_t p = 0;
    codecs::bytes out;
    EXPECT_EQ(codecs::encode(&p, 0, 1, codecs::IMAGE_PNG, &out), codecs::TOO_LARGE);
    EXPECT_EQ(codecs::encode(&p, 1, 1, 9, &out), codecs::CORRUPT);
    EXPECT_EQ(out.data, nullptr);
    codecs::pixels px;
    EXPECT_EQ(codecs::alloc_pixels(65536, 1, &px), codecs::TOO_LARGE);
    EXPECT_EQ(px.data, nullptr);
}

}  // namespace
