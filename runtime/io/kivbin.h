#pragma once
// KIVBIN: the binary serialisation of values. An 8-byte header ("KIVBIN",
// version, flags) and, in the compact layout, varints and one-byte record
// headers; shared series and contexts are written once and then named by a
// reference path (the indexes that lead to the first occurrence, from the
// decode target down).
//
// Two decoding modes: the codec (`load`/`save`, errors are error! values)
// and the boot load, which decodes the boot data into the root block once at
// start-up, sets the `word: value` definitions it carries and binds words to
// the contexts of values given by their root index.
#include <cstdint>
#include <functional>
#include <vector>

#include "runtime/value.h"

namespace kiv::kivbin {

constexpr uint8_t VERSION = 2;       // written by the encoders
constexpr uint8_t BOOT_VERSION = 1;  // carried by the boot data
constexpr uint8_t FLAG_COMPACT = 1;
constexpr uint8_t FLAG_COMPRESSED = 2;
constexpr uint8_t FLAG_SYMBOLS = 4;

// Record bytes of the compact layout.
constexpr uint8_t NEW_LINE = 0xC0;
constexpr uint8_t REFERENCE = 0xC1;
constexpr uint8_t LOGIC_TRUE = 0xC2;
constexpr uint8_t LOGIC_FALSE = 0xC3;
constexpr uint8_t DEFINITION = 0xC4;
constexpr uint8_t COPY_OF = 0xFF;
constexpr uint8_t SMALL_INTEGER = 0x80;  // 0x80 + n for integers 0 to 63

// Set by the codec and the encoders, clear during the boot load: picks the
// word record format, the errors raised and the class id of decoded objects.
extern bool codec_q;

// The compact encoding of one value, header included.
std::vector<uint8_t> encode_cp(const kiv_value* value);

// The same value in the 32-bit layout: every field a little-endian word,
// records on word boundaries, floating-point records on 8-byte ones.
std::vector<uint8_t> encode(const kiv_value* value);

// Decodes data (length < 0: unbounded, the boot data) appending every
// top-level value to the target block. Returns the first cell of this load
// in the target (boot mode; stale in codec mode).
kiv_value* decode(const uint8_t* data, kiv_value* target, bool codec, int64_t length);

// The boot load: decodes the boot data into the root block with the
// collector held off. Returns the first value of the load. The size bounds
// the reading (the image's own counts could only be trusted otherwise).
kiv_value* load_boot(const uint8_t* data, int64_t size);

// Start-up: binds the routines of the codec object `system/codecs/kivbin`
// (made by the boot library) to the encoder and decoder.
void register_codec();

// Raises `kb-invalid-record` at a byte of the current input.
[[noreturn]] void invalid_record(const uint8_t* position);

// The boot data writer used by the build: definitions (`word: value`, no
// root index) and root values, in order, sharing one symbol table. Words
// bound to a context other than the global one must belong to the context of
// a root value written before (an object or a function); anything else is a
// build error raised as `no-codec`.
class boot_writer {
  public:
    boot_writer();
    ~boot_writer();
    void definition(const kiv_value* word, const kiv_value* value);
    void root(const kiv_value* value);
    std::vector<uint8_t> finish();

  private:
    uint32_t roots_ = 0;
};

}  // namespace kiv::kivbin
