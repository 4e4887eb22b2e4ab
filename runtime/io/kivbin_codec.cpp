// The `kivbin` codec object of `system/codecs`: its two routines.
#include <vector>

#include "runtime/boot.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/io/kivbin.h"
#include "runtime/stack.h"

namespace kiv::kivbin {

namespace {

// The header, the two counts and a one-byte record: the smallest image.
constexpr uint32_t MIN_IMAGE = 11;

void encode_star() {
    kiv_value data = stack::arguments[0];
    std::vector<uint8_t> image = logic::get(stack::arguments + 1) ? encode_cp(&data) : encode(&data);
    stack::set_last(binary::load(image.data(), uint32_t(image.size())));
}

void decode_routine() {
    kiv_value payload = stack::arguments[0];
    uint32_t t = type_of(&payload);
    if (t != TYPE_FILE && t != TYPE_URL && t != TYPE_BINARY) fire(err::SCRIPT, err::script::invalid_data, &payload);
    // A file or a URL is read first, as bytes.
    if (t != TYPE_BINARY) {
        payload = *actions::get<SLOT_READ>(&payload)(&payload, nullptr, nullptr, true, false, false, nullptr);
        if (type_of(&payload) != TYPE_BINARY) fire(err::SCRIPT, err::script::invalid_data, &payload);
        stack::arguments[0] = payload;  // held for the collector while decoding
    }
    uint32_t size = binary::ks_length_q(&payload);
    if (size < MIN_IMAGE) fire(err::SCRIPT, err::script::invalid_data, &payload);
    // Decoding allocates: it reads from a copy that no collection moves.
    std::vector<uint8_t> image(binary::ks_head(&payload), binary::ks_head(&payload) + size);
    kiv_value* values = block::push_only(1);
    codec_q = true;
    decode(image.data(), values, true, size);
    kiv_value result = block::length_all(values) == 1 ? block::cells(values)[0] : *values;
    stack::set_last(&result);
}

}  // namespace

void register_codec() {
    kiv_value codecs = *boot::field(boot::system_object(), "codecs");
    kiv_value name{TYPE_WORD, 0, uint32_t(symbol::make("kivbin")), 0};
    kiv_value* found = map::find_value(&codecs, &name, false);
    if (!found) return;
    kiv_value codec = *found;
    boot::bind_routine(&codec, "encode*", encode_star);
    boot::bind_routine(&codec, "decode", decode_routine);
}

}  // namespace kiv::kivbin
