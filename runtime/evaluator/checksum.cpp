// Checksums and digests, and the `checksum` native.
#include "runtime/evaluator/checksum.h"

#include <openssl/evp.h>

#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "runtime/console_out.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/evaluator/native_support.h"
#include "runtime/evaluator/natives.h"
#include "runtime/io/simple_io.h"
#include "runtime/modules.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kiv::crypto {

namespace {

// The method words in the order they are made, each with its id.
constexpr std::array<std::pair<const char*, method_id_t>, 9> METHODS = {{
    {"tcp", TCP},
    {"md5", MD5},
    {"sha1", SHA1},
    {"crc32", CRC32},
    {"adler32", ADLER32},
    {"sha256", SHA256},
    {"sha384", SHA384},
    {"sha512", SHA512},
    {"hash", HASH},
}};
std::array<int32_t, 9> method_symbols{};

// Eight tables: the first is the classic byte-at-a-time table; the others
// let the loop take eight bytes per step, which gives the same register.
using crc_tables = std::array<std::array<uint32_t, 256>, 8>;

crc_tables build_crc_tables() {
    crc_tables t{};
    for (uint32_t n = 0; n < 256; n++) {
        uint32_t c = n;
        for (int k = 0; k < 8; k++) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[0][n] = c;
    }
    for (uint32_t n = 0; n < 256; n++)
        for (int k = 1; k < 8; k++) t[k][n] = (t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xFF];
    return t;
}

const crc_tables& crc_table() {
    static const crc_tables tables = build_crc_tables();
    return tables;
}

// libcrypto is opened on the first digest: linked in, its relocation
// would be paid at every start-up.
struct libcrypto {
    bool ok = false;
    const EVP_MD* (*md5)();
    const EVP_MD* (*sha1)();
    const EVP_MD* (*sha256)();
    const EVP_MD* (*sha384)();
    const EVP_MD* (*sha512)();
    EVP_MD_CTX* (*ctx_new)();
    void (*ctx_free)(EVP_MD_CTX*);
    int (*init)(EVP_MD_CTX*, const EVP_MD*, ENGINE*);
    int (*update)(EVP_MD_CTX*, const void*, size_t);
    int (*final)(EVP_MD_CTX*, unsigned char*, unsigned int*);
};

const libcrypto& crypto() {
    static const libcrypto api = [] {
        libcrypto a{};
        modules::library so("libcrypto.so.3");
        so.take(a.md5, "EVP_md5");
        so.take(a.sha1, "EVP_sha1");
        so.take(a.sha256, "EVP_sha256");
        so.take(a.sha384, "EVP_sha384");
        so.take(a.sha512, "EVP_sha512");
        so.take(a.ctx_new, "EVP_MD_CTX_new");
        so.take(a.ctx_free, "EVP_MD_CTX_free");
        so.take(a.init, "EVP_DigestInit_ex");
        so.take(a.update, "EVP_DigestUpdate");
        so.take(a.final, "EVP_DigestFinal_ex");
        a.ok = so.complete();
        return a;
    }();
    return api;
}

const EVP_MD* algorithm(int32_t id) {
    switch (id) {
        case MD5: return crypto().md5();
        case SHA1: return crypto().sha1();
        case SHA256: return crypto().sha256();
        case SHA384: return crypto().sha384();
        case SHA512: return crypto().sha512();
        default: return nullptr;
    }
}

// A refusal of the library is reported, never a digest left as allocated.
[[noreturn]] void library_failed() { fire(err::INTERNAL, err::internal::feature_na); }

struct md_ctx_free {
    void operator()(EVP_MD_CTX* c) const { crypto().ctx_free(c); }
};
using md_ctx = std::unique_ptr<EVP_MD_CTX, md_ctx_free>;

// One digest over a sequence of pieces.
struct hasher {
    md_ctx ctx;
    explicit hasher(int32_t id) : ctx(crypto().ok ? crypto().ctx_new() : nullptr) {
        if (!crypto().ok) library_failed();
        const EVP_MD* md = algorithm(id);
        if (!md) {
            kiv_value n;
            integer::make_at(&n, id);
            fire(err::SCRIPT, err::script::invalid_arg, &n);
        }
        if (!ctx || crypto().init(ctx.get(), md, nullptr) != 1) library_failed();
    }
    void update(const uint8_t* bytes, size_t length) {
        if (length && crypto().update(ctx.get(), bytes, length) != 1) library_failed();
    }
    uint32_t final(uint8_t* out) {
        unsigned int size = 0;
        if (crypto().final(ctx.get(), out, &size) != 1 || size > MAX_DIGEST) library_failed();
        return size;
    }
};

}  // namespace

void init() {
    for (size_t i = 0; i < METHODS.size(); i++) method_symbols[i] = symbol::make(METHODS[i].first);
}

bool known_method_q(int32_t symbol) {
    int32_t s = symbol::resolve(symbol);
    for (int32_t m : method_symbols)
        if (symbol::resolve(m) == s) return true;
    return false;
}

method_id_t method_id(int32_t symbol) {
    int32_t s = symbol::resolve(symbol);
    for (size_t i = 0; i < METHODS.size(); i++)
        if (symbol::resolve(method_symbols[i]) == s) return METHODS[i].second;
    fire(err::INTERNAL, err::internal::not_here);
}

uint32_t digest_size(int32_t id) {
    switch (id) {
        case MD5: return 16;
        case SHA1: return 20;
        case SHA256: return 32;
        case SHA384: return 48;
        case SHA512: return 64;
        default: return 0;
    }
}

uint32_t crc32_update(uint32_t crc, const uint8_t* p, size_t length) {
    const crc_tables& t = crc_table();
    uint32_t c = ~crc;
    for (; length >= 8; p += 8, length -= 8) {
        uint32_t lo = c ^ (uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
        c = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^ t[3][p[4]] ^
            t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
    }
    for (; length; p++, length--) c = (c >> 8) ^ t[0][(c ^ *p) & 0xFF];
    return ~c;
}

int32_t crc32(const uint8_t* bytes, size_t length) { return int32_t(crc32_update(0, bytes, length)); }

uint32_t adler32_update(uint32_t adler, const uint8_t* p, size_t length) {
    constexpr uint32_t BASE = 65521;
    // The largest run whose sums cannot pass 32 bits before reduction.
    constexpr size_t RUN = 5552;
    uint32_t a = adler & 0xFFFF, b = adler >> 16;
    while (length) {
        size_t n = length < RUN ? length : RUN;
        length -= n;
        for (; n; n--) {
            a += *p++;
            b += a;
        }
        a %= BASE;
        b %= BASE;
    }
    return b << 16 | a;
}

uint32_t adler32(const uint8_t* bytes, size_t length) { return adler32_update(1, bytes, length); }

uint32_t tcp_checksum(const uint8_t* p, size_t length) {
    // 64 bits hold the sum of 2^48 words: no input can carry out of it.
    uint64_t sum = 0;
    for (; length >= 2; p += 2, length -= 2) sum += uint32_t(p[0]) << 8 | p[1];
    if (length) sum += uint32_t(p[0]) << 8;
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return ~uint32_t(sum) & 0xFFFF;
}

uint32_t digest(const uint8_t* bytes, size_t length, int32_t id, uint8_t* out) {
    hasher h(id);
    h.update(bytes, length);
    return h.final(out);
}

uint32_t hmac(const uint8_t* data, size_t data_length, const uint8_t* key, size_t key_length, int32_t id,
              uint8_t* out) {
    size_t block = id == SHA384 || id == SHA512 ? 128 : 64;
    uint8_t short_key[MAX_DIGEST];
    if (key_length > block) {
        key_length = digest(key, key_length, id, short_key);
        key = short_key;
    }
    uint8_t inner_pad[128] = {}, outer_pad[128] = {};
    if (key_length) {
        std::memcpy(inner_pad, key, key_length);
        std::memcpy(outer_pad, key, key_length);
    }
    for (size_t i = 0; i < block; i++) {
        inner_pad[i] ^= 0x36;
        outer_pad[i] ^= 0x5C;
    }
    uint8_t inner[MAX_DIGEST];
    hasher in(id);
    in.update(inner_pad, block);
    in.update(data, data_length);
    uint32_t size = in.final(inner);
    hasher outer(id);
    outer.update(outer_pad, block);
    outer.update(inner, size);
    return outer.final(out);
}

}  // namespace kiv::crypto

namespace kiv::natives {

namespace {

bool text_q(uint32_t t) {
    return t == TYPE_STRING || t == TYPE_FILE || t == TYPE_URL || t == TYPE_TAG || t == TYPE_EMAIL || t == TYPE_REF;
}

// The bytes a checksum is taken of: a binary from its index (in place: no
// allocation happens while they are in use), a string's UTF-8 from its
// index, a file's whole content.
struct byte_view {
    const uint8_t* bytes = nullptr;
    size_t length = 0;
    std::vector<uint8_t> owned;

    void own() {
        bytes = owned.data();
        length = owned.size();
    }
};

void bytes_of(kiv_value* value, bool read_files, byte_view& view) {
    uint32_t t = type_of(value);
    if (t == TYPE_BINARY) {
        view.bytes = binary::ks_head(value);
        view.length = binary::ks_length_q(value);
    } else if (t == TYPE_FILE && read_files) {
        if (simple_io::dir_q(value) ||
            simple_io::read_bytes(file::to_os_path(value), -1, 0, view.owned) != simple_io::io_status::done)
            fire(err::ACCESS, err::access::cannot_open, value);
        view.own();
    } else if (text_q(t)) {
        kiv_value text = *value;
        int32_t count = -1;
        auto utf8 = reinterpret_cast<const uint8_t*>(unicode::to_utf8(&text, &count));
        view.owned.assign(utf8, utf8 + count);
        view.own();
    } else {
        fire_invalid(value);
    }
}

[[noreturn]] void invalid_with(const kiv_value* spec) {
    kiv_value w = actions::refinement_word("with");
    fire(err::SCRIPT, err::script::invalid_refine_arg, &w, spec);
}

}  // namespace

void checksum(bool, const int32_t* refs) {
    kiv_value* method = arg(1);
    kiv_value* spec = used(refs[0]) ? arg(refs[0]) : nullptr;
    if (!any_word_q(type_of(method)) || !crypto::known_method_q(word::symbol_of(method))) fire_invalid(method);
    crypto::method_id_t id = crypto::method_id(word::symbol_of(method));
    bool sum = id == crypto::CRC32 || id == crypto::TCP || id == crypto::ADLER32;
    if (spec && sum) invalid_with(spec);
    if (!spec && id == crypto::HASH) fire_invalid(method);
    if (spec && type_of(spec) == TYPE_INTEGER) {
        platform::prin_cstr("** /hash support not yet implemented; algorithm TBD.\n");
        integer::return_(0);
        return;
    }
    if (spec && id == crypto::HASH) invalid_with(spec);
    byte_view key, data;
    if (spec) {
        if (type_of(spec) != TYPE_BINARY && !text_q(type_of(spec))) invalid_with(spec);
        bytes_of(spec, false, key);
    }
    bytes_of(arg(0), true, data);
    switch (id) {
        case crypto::CRC32: integer::return_(crypto::crc32(data.bytes, data.length)); return;
        case crypto::TCP: integer::return_(int32_t(crypto::tcp_checksum(data.bytes, data.length))); return;
        case crypto::ADLER32: integer::return_(int32_t(crypto::adler32(data.bytes, data.length))); return;
        default: break;
    }
    uint8_t out[crypto::MAX_DIGEST];
    uint32_t size = spec ? crypto::hmac(data.bytes, data.length, key.bytes, key.length, id, out)
                         : crypto::digest(data.bytes, data.length, id, out);
    kiv_value* result = binary::load(out, size);
    stack::set_last(result);
}

}  // namespace kiv::natives
