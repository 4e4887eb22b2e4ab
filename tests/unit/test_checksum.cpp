// Checksums and digests: the routines other modules call directly (the
// compressor sums its streams piece by piece), and the edges of the sums.
// Expected values were computed with Python 3's zlib and hashlib.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/evaluator/checksum.h"

using namespace kiv;

namespace {

const uint8_t* bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

std::vector<uint8_t> pattern(size_t n) {
    std::vector<uint8_t> v(n);
    uint32_t x = 12345;
    for (auto& b : v) {
        x = x * 1103515245 + 12345;
        b = uint8_t(x >> 16);
    }
    return v;
}

}  // namespace

TEST(Checksum, CrcPiecesGiveTheWholeCrc) {
    std::vector<uint8_t> data = pattern(10007);
    uint32_t whole = crypto::crc32_update(0, data.data(), data.size());
    for (size_t cut : {size_t(0), size_t(1), size_t(7), size_t(8), size_t(9), size_t(5000), data.size()}) {
        uint32_t c = crypto::crc32_update(0, data.data(), cut);
        c = crypto::crc32_update(c, data.data() + cut, data.size() - cut);
        EXPECT_EQ(c, whole) << cut;
    }
    EXPECT_EQ(crypto::crc32(bytes("123456789"), 9), int32_t(0xCBF43926));
    // Every tail length after the eight-byte steps.
    EXPECT_EQ(crypto::crc32(bytes("The quick brown fox jumps over the lazy dog"), 43), int32_t(0x414FA339));
}

TEST(Checksum, AdlerPiecesAndLongRuns) {
    // 0xFF bytes make the largest sums: a run just past the reduction limit.
    std::vector<uint8_t> ff(5553 * 3, 0xFF);
    EXPECT_EQ(crypto::adler32(ff.data(), ff.size()), 0xA7CBD5AEu);
    uint32_t a = crypto::adler32_update(1, ff.data(), 100);
    EXPECT_EQ(crypto::adler32_update(a, ff.data() + 100, ff.size() - 100), 0xA7CBD5AEu);
    EXPECT_EQ(crypto::adler32(nullptr, 0), 1u);
}

TEST(Checksum, InternetChecksumOfLongInputs) {
    // 131,076 bytes of FF: the sum passes 32 bits' worth of carries.
    std::vector<uint8_t> ff(131076, 0xFF);
    EXPECT_EQ(crypto::tcp_checksum(ff.data(), ff.size()), 0u);
    ff.resize(131075);
    EXPECT_EQ(crypto::tcp_checksum(ff.data(), ff.size()), 0xFFu);
    EXPECT_EQ(crypto::tcp_checksum(nullptr, 0), 0xFFFFu);
}

TEST(Checksum, DigestSizesAndHmacKeyLengths) {
    uint8_t out[crypto::MAX_DIGEST];
    const int32_t ids[] = {crypto::MD5, crypto::SHA1, crypto::SHA256, crypto::SHA384, crypto::SHA512};
    for (int32_t id : ids) {
        EXPECT_EQ(crypto::digest(nullptr, 0, id, out), crypto::digest_size(id));
        EXPECT_EQ(crypto::hmac(nullptr, 0, nullptr, 0, id, out), crypto::digest_size(id));
    }
    EXPECT_EQ(crypto::digest_size(crypto::CRC32), 0u);
    // A key of the block length is used as it is; one byte more is hashed.
    std::vector<uint8_t> key(129, 0xAA);
    uint8_t a[crypto::MAX_DIGEST], b[crypto::MAX_DIGEST], hashed[crypto::MAX_DIGEST];
    crypto::digest(key.data(), 129, crypto::SHA512, hashed);
    crypto::hmac(bytes("x"), 1, key.data(), 129, crypto::SHA512, a);
    crypto::hmac(bytes("x"), 1, hashed, 64, crypto::SHA512, b);
    EXPECT_EQ(std::vector<uint8_t>(a, a + 64), std::vector<uint8_t>(b, b + 64));
    crypto::hmac(bytes("x"), 1, key.data(), 128, crypto::SHA512, a);
    EXPECT_NE(std::vector<uint8_t>(a, a + 64), std::vector<uint8_t>(b, b + 64));
}
