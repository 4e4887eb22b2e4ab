// The `kivbin` codec object of `system/codecs`: its two routines.
#include "runtime/boot.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/io/kivbin.h"
#include "runtime/stack.h"

namespace kiv::kivbin {

namespace {

// The bytes go out as a binary!, which this runtime does not have yet: the
// encoding runs (and raises what it must), then the missing datatype is
// reported.
void encode_star() {
    kiv_value data = stack::arguments[0];
    encode_cp(&data);
    fire(err::INTERNAL, err::internal::not_done);
}

void decode_routine() {
    kiv_value payload = stack::arguments[0];
    uint32_t t = type_of(&payload);
    if (t != TYPE_FILE && t != TYPE_URL && t != TYPE_BINARY) fire(err::SCRIPT, err::script::invalid_data, &payload);
    // Files and URLs are read as binary!, which is still to come.
    fire(err::INTERNAL, err::internal::not_done);
}

}  // namespace

void register_codec() {
    kiv_value codecs = *boot::field(boot::system_object(), "codecs");
    int32_t name = symbol::resolve(symbol::make("kivbin"));
    for (uint32_t i = codecs.data1; i + 1 < block::length_all(&codecs); i += 2) {
        kiv_value* key = block::cells(&codecs) + i;
        if (!any_word_q(type_of(key)) || symbol::resolve(word::symbol_of(key)) != name) continue;
        kiv_value codec = key[1];
        boot::bind_routine(&codec, "encode*", encode_star);
        boot::bind_routine(&codec, "decode", decode_routine);
        return;
    }
}

}  // namespace kiv::kivbin
