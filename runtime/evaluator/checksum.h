#pragma once
// Checksums and digests behind `checksum`: CRC-32, Adler-32 and the internet
// checksum are computed here; MD5 and the SHA family come from libcrypto;
// HMAC is built here on those digests. Also the method words and their ids.
#include <cstddef>
#include <cstdint>

namespace kiv::crypto {

// Algorithm ids of the methods that have one.
enum method_id_t : int32_t {
    TCP = 0,
    CRC32 = 1,
    MD5 = 2,
    SHA1 = 3,
    SHA256 = 4,
    SHA384 = 5,
    SHA512 = 6,
    ADLER32 = 7,  // no id of its own to the outside: never a digest
    HASH = 8,     // likewise
};

constexpr uint32_t MAX_DIGEST = 64;

// Makes the method symbols: tcp md5 sha1 crc32 adler32 sha256 sha384 sha512
// hash. Run once at start-up, before any `checksum`.
void init();
// Whether a symbol (any case) is one of the method words.
bool known_method_q(int32_t symbol);
// The id of a method word; callers ask known_method_q first.
method_id_t method_id(int32_t symbol);
// 16, 20, 32, 48 or 64 for the digest ids, else 0.
uint32_t digest_size(int32_t id);

// The reflected CRC-32 (polynomial 0xEDB88320) as a signed 32-bit integer.
// The update form carries the unsigned register between pieces (start
// with 0) so that callers can sum a stream.
int32_t crc32(const uint8_t* bytes, size_t length);
uint32_t crc32_update(uint32_t crc, const uint8_t* bytes, size_t length);
// Adler-32; the update form starts from 1.
uint32_t adler32(const uint8_t* bytes, size_t length);
uint32_t adler32_update(uint32_t adler, const uint8_t* bytes, size_t length);
// The 16-bit internet checksum (0 to 65535), for inputs of any size.
uint32_t tcp_checksum(const uint8_t* bytes, size_t length);

// The digest of the data into `out` (room for MAX_DIGEST bytes); returns its
// size. A library failure raises an error; an id without a digest raises
// `invalid-arg`.
uint32_t digest(const uint8_t* bytes, size_t length, int32_t id, uint8_t* out);
// The HMAC of the data under the key with the digest of the id, into `out`;
// returns its size. Same failures as digest.
uint32_t hmac(const uint8_t* data, size_t data_length, const uint8_t* key, size_t key_length, int32_t id,
              uint8_t* out);

}  // namespace kiv::crypto
