// KIVBIN compact layout: the encoder, the decoder (codec and boot modes) and
// the boot load.
#include "runtime/io/kivbin.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/hash_block.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/vector.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/io/lz.h"
#include "runtime/memory.h"
#include "runtime/runtime.h"
#include "runtime/stack.h"
#include "runtime/system.h"

namespace kiv::kivbin {

bool codec_q = false;

namespace {

constexpr char MAGIC[6] = {'K', 'I', 'V', 'B', 'I', 'N'};
constexpr uint32_t HEADER_SIZE = 8;
constexpr uint8_t FLAG_B = 0x40;      // the record's flag B
constexpr uint8_t TYPE_BITS = 0x3F;   // the datatype id of a type byte
constexpr uint8_t LONG_TYPE = 63;     // a varint id follows
constexpr int32_t MAX_PATH = 65536;
// Values nest as deep in an image as mold and copy/deep go into them. Decoding
// allows more, since some values take two records per level (an op! and the
// function it wraps, a word and the object that binds it).
constexpr uint32_t MAX_DEPTH = cycles::CAPACITY;
constexpr uint32_t MAX_DECODE_DEPTH = 4 * MAX_DEPTH;

// Context flags byte.
constexpr uint8_t CTX_STACK_VALUES = 4;
constexpr uint8_t CTX_SELF_FLAG = 8;
constexpr uint8_t CTX_HAS_VALUES = 16;

// The 32-bit layout's record header word: the datatype id in the low byte,
// then bits whose meaning depends on the type.
constexpr uint32_t WIDE_NEW_LINE = 1u << 31;
constexpr uint32_t WIDE_REFERENCE = 1u << 19;
constexpr uint32_t WIDE_UNIT_SHIFT = 8;      // tuple length; unit size of strings, binaries, vectors
constexpr uint32_t WIDE_WRAPPED_SHIFT = 16;  // the type an op! wraps
constexpr uint32_t WIDE_NEGATIVE = 1u << 22;
constexpr uint32_t WIDE_COMPLEMENTED = 1u << 23;
constexpr uint32_t WIDE_HANDLERS = 1u << 24;
constexpr uint32_t WIDE_GLOBAL = 1u << 25;  // boot mode: a definition
constexpr uint32_t WIDE_CONTEXT_SHIFT = 26;
constexpr uint32_t WIDE_REFERENCE_RECORD = 0xFF;
constexpr uint32_t WIDE_BODY_HEAD = 8;  // record count and payload size

// Context flags as the 32-bit header carries them (bits 26-30) and back.
uint32_t wide_context_bits(uint8_t flags) {
    uint32_t bits = flags & 3;
    if (flags & CTX_SELF_FLAG) bits |= 4;
    if (flags & CTX_STACK_VALUES) bits |= 8;
    if (flags & CTX_HAS_VALUES) bits |= 16;
    return bits << WIDE_CONTEXT_SHIFT;
}
uint8_t context_flags_of(uint32_t header) {
    uint32_t bits = header >> WIDE_CONTEXT_SHIFT;
    return uint8_t((bits & 3) | (bits & 4 ? CTX_SELF_FLAG : 0) | (bits & 8 ? CTX_STACK_VALUES : 0) |
                   (bits & 16 ? CTX_HAS_VALUES : 0));
}

// The datatypes whose payload this runtime reads and writes; the others are
// either never written (routine!, triple!, handle!, port!, event!) or wait
// for their datatype.
bool never_written_q(uint32_t t) {
    return t == TYPE_ROUTINE || t == TYPE_TRIPLE || t == TYPE_HANDLE || t == TYPE_PORT || t == TYPE_EVENT;
}

bool block_family_q(uint32_t t) {
    return t == TYPE_BLOCK || t == TYPE_PAREN || (t >= TYPE_PATH && t <= TYPE_GET_PATH);
}

bool string_family_q(uint32_t t) {
    return t == TYPE_STRING || t == TYPE_FILE || t == TYPE_URL || t == TYPE_TAG || t == TYPE_EMAIL ||
           t == TYPE_REF;
}

// The records whose flag B means something: a series head, a bound word,
// the integer form of a number, handlers, a complemented bitset, a date's
// time, a tuple's length, money's sign. On any other record it is malformed.
bool flag_b_q(uint32_t t) {
    return block_family_q(t) || string_family_q(t) || t == TYPE_HASH || t == TYPE_BINARY || t == TYPE_VECTOR ||
           t == TYPE_IMAGE || (t >= TYPE_WORD && t <= TYPE_REFINEMENT) || t == TYPE_FLOAT || t == TYPE_TIME ||
           t == TYPE_PERCENT || t == TYPE_OBJECT || t == TYPE_BITSET || t == TYPE_DATE || t == TYPE_TUPLE ||
           t == TYPE_MONEY;
}

bool registered_q(uint32_t t) { return t < TYPE_COUNT && datatype::table[t].name != nullptr; }

[[noreturn]] void no_codec(const kiv_value* arg) { fire(err::ACCESS, err::access::no_codec, arg); }

[[noreturn]] void no_codec_type(uint32_t t) {
    kiv_value dt;
    datatype::make_at(&dt, t);
    no_codec(&dt);
}

// A context's owner is global when the context is the global one, or when
// its owner cell says so.
bool global_context_q(node_id ctx) {
    if (ctx == 0 || ctx == _context::global) return true;
    uint32_t owner = type_of(_context::self_of(ctx));
    return owner == TYPE_NONE || owner == TYPE_UNSET || owner == TYPE_BLOCK;
}

// ================================================================================
// Encoder
// ================================================================================

struct encoder_state {
    std::vector<uint8_t> payload;
    std::vector<uint8_t> strings;
    std::vector<uint32_t> offsets;
    std::unordered_map<int32_t, uint32_t> symbol_index;
    uint32_t counter = 0;
    // The paths to the containers met so far share their beginnings: each
    // link is one index and the link it continues (a link number + 1, 0 at
    // the root), so that remembering a path costs one number whatever its
    // length.
    struct path_link {
        uint32_t parent;
        uint32_t index;
    };
    std::vector<path_link> links;
    uint32_t tip = 0;  // the current path: its last link + 1
    uint32_t depth = 0;
    std::unordered_map<node_id, uint32_t> registry;  // a node's first path
    // Boot mode: the context of each root value that owns one, by node.
    bool boot = false;
    std::unordered_map<node_id, uint32_t> root_contexts;
    // The 32-bit layout, and the header bits its next record header takes.
    bool wide = false;
    uint32_t pending = 0;

    void reset() {
        payload.clear();
        strings.clear();
        offsets.clear();
        symbol_index.clear();
        counter = 0;
        links.clear();
        links.shrink_to_fit();
        tip = 0;
        depth = 0;
        registry.clear();
        boot = false;
        root_contexts.clear();
        wide = false;
        pending = 0;
    }
};

encoder_state enc;

// Keeps the nodes the registry names alive while an encoding runs.
void mark_registry() {
    for (auto& [node, path] : enc.registry) {
        node_id n = node;
        collector::mark_node(&n);
    }
}

void put_byte(uint8_t b) { enc.payload.push_back(b); }

void put_varint(std::vector<uint8_t>& out, uint32_t v) {
    while (v >= 0x80) {
        out.push_back(uint8_t(v | 0x80));
        v >>= 7;
    }
    out.push_back(uint8_t(v));
}
void put_varint(uint32_t v) { put_varint(enc.payload, v); }
void put_zigzag(int32_t i) { put_varint((uint32_t(i) << 1) ^ uint32_t(i >> 31)); }

void put_u32(std::vector<uint8_t>& out, uint32_t v) {
    for (int k = 0; k < 4; k++) out.push_back(uint8_t(v >> (8 * k)));
}
void put_u32(uint32_t v) { put_u32(enc.payload, v); }

// Counts, lengths and indexes; signed numbers.
void put_count(uint32_t v) { enc.wide ? put_u32(v) : put_varint(v); }
void put_signed(int32_t i) { enc.wide ? put_u32(uint32_t(i)) : put_zigzag(i); }

// Raw bytes; the 32-bit layout pads them to a whole word.
void put_bytes(const uint8_t* p, size_t n) {
    enc.payload.insert(enc.payload.end(), p, p + n);
    if (enc.wide) enc.payload.resize((enc.payload.size() + 3) & ~size_t(3), 0);
}

// The record's header: in the compact layout a type byte whose flag B is b;
// in the 32-bit layout a word with the type's own bits and the new-line and
// reference bits noted before it.
void put_type(uint32_t type, bool b, uint32_t wide_bits = 0) {
    if (enc.wide) {
        put_u32(type | wide_bits | enc.pending);
        enc.pending = 0;
        return;
    }
    uint8_t flag = b ? FLAG_B : 0;
    if (type < LONG_TYPE) {
        put_byte(uint8_t(type) | flag);
        return;
    }
    put_byte(LONG_TYPE | flag);
    put_varint(type);
}

void put_symref(int32_t symbol) {
    auto [it, fresh] = enc.symbol_index.try_emplace(symbol, uint32_t(enc.offsets.size()));
    if (fresh) {
        enc.offsets.push_back(uint32_t(enc.strings.size()));
        uint32_t length;
        const char* name = symbol::name_of(symbol, &length);
        enc.strings.insert(enc.strings.end(), name, name + length);
        enc.strings.push_back(0);
        if (enc.wide) enc.strings.resize((enc.strings.size() + 7) & ~size_t(7), 0);
    }
    put_count(it->second);
}

// What comes before a record that names an earlier value by its path.
void put_reference_prefix() {
    if (enc.wide) enc.pending |= WIDE_REFERENCE;
    else put_byte(REFERENCE);
}

void put_path(uint32_t tip) {
    std::vector<uint32_t> path;
    for (uint32_t link = tip; link; link = enc.links[link - 1].parent) path.push_back(enc.links[link - 1].index);
    if (enc.wide) put_u32(WIDE_REFERENCE_RECORD);
    put_count(uint32_t(path.size()));
    for (auto i = path.rbegin(); i != path.rend(); ++i) put_count(*i);
}

// Low word first in the compact layout, high word first in the 32-bit one.
void put_double(double d) {
    uint64_t bits = std::bit_cast<uint64_t>(d);
    put_u32(uint32_t(enc.wide ? bits >> 32 : bits));
    put_u32(uint32_t(enc.wide ? bits : bits >> 32));
}

// The 32-bit layout's floating-point records start on a payload offset that
// is a multiple of 8: a padding record comes first when needed.
void put_wide_double(uint32_t type, double d) {
    if (enc.payload.size() % 8) put_u32(0);
    put_type(type, false);
    put_double(d);
}

bool negative_zero_q(double d) { return d == 0.0 && std::signbit(d); }

// float! and time!: the integer form when the value is a whole number that
// fits.
void put_float(uint32_t type, double d) {
    if (enc.wide) return put_wide_double(type, d);
    if (d >= -2147483000.0 && d <= 2147483000.0) {
        int32_t i = int32_t(d);
        if (double(i) == d && !negative_zero_q(d)) {
            put_type(type, true);
            put_zigzag(i);
            return;
        }
    }
    put_type(type, false);
    put_double(d);
}

void put_percent(double d) {
    if (enc.wide) return put_wide_double(TYPE_PERCENT, d);
    if (d >= -21474836.0 && d <= 21474836.0) {
        int32_t i = int32_t(d >= 0.0 ? d * 100 + 0.5 : d * 100 - 0.5);
        if (i / 100.0 == d && !negative_zero_q(d)) {
            put_type(TYPE_PERCENT, true);
            put_zigzag(i);
            return;
        }
    }
    put_type(TYPE_PERCENT, false);
    put_double(d);
}

void put_record(const kiv_value* v);

// The cells of a container as records, counted from 0 under it.
void put_cells(const kiv_value* first, uint32_t count) {
    uint32_t saved = enc.counter;
    enc.counter = 0;
    for (uint32_t i = 0; i < count; i++) put_record(first + i);
    enc.counter = saved;
}

void put_context(node_id ctx) {
    kiv_value* cell = _context::cell_of(ctx);
    bool stack_values = _context::on_stack_q(ctx);
    uint32_t n = _context::words_count(ctx);
    bool any_set = false;
    if (!stack_values)
        for (uint32_t i = 0; i < n && !any_set; i++) any_set = type_of(context::heap_value_ref(ctx, i)) != TYPE_UNSET;
    uint8_t flags = uint8_t(_context::kind_of(ctx) & 3) | (stack_values ? CTX_STACK_VALUES : 0) |
                    ((cell->header & CONTEXT_SELF) ? CTX_SELF_FLAG : 0) | (any_set ? CTX_HAS_VALUES : 0);
    if (enc.wide) {
        put_type(TYPE_CONTEXT, false, wide_context_bits(flags));
    } else {
        put_byte(TYPE_CONTEXT);
        put_byte(flags);
    }
    put_count(n);
    for (uint32_t i = 0; i < n; i++) put_symref(word::symbol_of(context::value_ref(ctx, i)));
    if (any_set) put_cells(context::heap_value_ref(ctx, 0), n);
}

// Shared values: a node met before is written as a reference to
// the path of its first occurrence.
const uint32_t* known_path(node_id node) {
    if (enc.boot) return nullptr;  // boot data is written without references
    auto it = enc.registry.find(node);
    return it == enc.registry.end() ? nullptr : &it->second;
}

void remember(node_id node) {
    if (!enc.boot) enc.registry.emplace(node, enc.tip);
}

// Runs a container's payload with its counter as the path's next link.
template <class Body>
void inside(Body body) {
    if (enc.depth == MAX_DEPTH) fire(err::INTERNAL, err::internal::too_deep);
    system::check_native_stack();
    enc.links.push_back({enc.tip, enc.counter});
    uint32_t tip = enc.tip = uint32_t(enc.links.size());
    enc.depth++;
    body();
    enc.depth--;
    enc.tip = enc.links[tip - 1].parent;
}

void put_object_payload(const kiv_value* obj) {
    node_id ctx = obj->data1;
    bool handlers = obj->data3 != 0;
    put_signed(int32_t(obj->data2));
    if (handlers) {
        const kiv_value* record = reinterpret_cast<kiv_value*>(series::buffer(obj->data3)->offset);
        for (int k = 0; k < 2; k++) {
            uint32_t slot = record[k].data2 >> 16;
            put_signed(slot == object::NO_HANDLER ? -1 : int32_t(slot));
        }
    }
    put_context(ctx);
}

void put_function_payload(const kiv_value* fn) {
    kiv_value spec{TYPE_BLOCK, 0, fn->data2, 0};
    kiv_value body = *function::extra_cell_of(fn, function::EXTRA_BODY);
    uint32_t spec_length = block::length_all(&spec);
    uint32_t body_length = type_of(&body) == TYPE_BLOCK ? block::length_all(&body) - body.data1 : 0;
    if (type_of(&body) != TYPE_BLOCK) block::make_at(&body, 1);
    put_count(spec_length);
    put_count(body_length);
    put_context(fn->data1);
    uint32_t saved = enc.counter;
    enc.counter = 0;
    put_record(&spec);
    enc.counter = 1;
    body.header &= ~FLAG_NEW_LINE;
    put_record(&body);
    enc.counter = saved;
}

void put_word(const kiv_value* w) {
    uint32_t t = type_of(w);
    node_id ctx = w->data1;
    if (global_context_q(ctx)) {
        put_type(t, false, WIDE_GLOBAL);
        put_symref(word::symbol_of(w));
        // The 32-bit layout always writes the slot.
        if (enc.wide) put_signed(ctx == _context::global ? word::index_of(w) : -1);
        return;
    }
    const kiv_value* owner = _context::self_of(ctx);
    if (enc.boot) {
        auto it = enc.root_contexts.find(ctx);
        if (it == enc.root_contexts.end()) no_codec(w);
        put_type(t, true);
        put_symref(word::symbol_of(w));
        put_varint(it->second);
        put_zigzag(word::index_of(w));
        return;
    }
    if (const auto* p = known_path(ctx)) {
        put_reference_prefix();
        put_type(t, true);
        put_symref(word::symbol_of(w));
        put_signed(word::index_of(w));
        put_path(*p);
        return;
    }
    uint32_t owner_type = type_of(owner);
    if (owner_type != TYPE_OBJECT && owner_type != TYPE_FUNCTION) no_codec(w);
    put_type(t, true);
    put_symref(word::symbol_of(w));
    put_signed(word::index_of(w));
    inside([&] {
        remember(ctx);
        bool handlers = owner_type == TYPE_OBJECT && owner->data3 != 0;
        put_type(owner_type, handlers, handlers ? WIDE_HANDLERS : 0);
        if (owner_type == TYPE_OBJECT) put_object_payload(owner);
        else put_function_payload(owner);
    });
}

// What a series record writes before its payload: the header and the head
// (the compact layout only when it is not 0; the 32-bit header also carries
// the unit size of strings, binaries and vectors).
void put_series_lead(const kiv_value* s) {
    uint32_t t = type_of(s);
    uint32_t head = s->data1;
    bool units = string_family_q(t) || t == TYPE_BINARY || t == TYPE_VECTOR;
    uint32_t unit = units ? unit_of(series::buffer_of(s)) : 0;
    put_type(t, head != 0, unit << WIDE_UNIT_SHIFT);
    if (head != 0 || enc.wide) put_count(head);
}

// An image is written whole each time it appears: its pixels are not a
// series that a path could name.
void put_image(const kiv_value* v) {
    put_series_lead(v);
    uint32_t w = image::width_of(v), h = image::height_of(v);
    if (enc.wide) {
        put_u32(w | h << 16);
    } else {
        put_varint(w);
        put_varint(h);
    }
    const uint32_t* p = image::lock(v, false);
    if (p) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(p);
        enc.payload.insert(enc.payload.end(), bytes, bytes + size_t(w) * h * 4);
    } else if (w && h) {
        enc.payload.insert(enc.payload.end(), size_t(w) * h * 4, 0);
    }
    image::unlock(v);
}

void put_series_payload(const kiv_value* s) {
    uint32_t t = type_of(s);
    series_buffer* b = series::buffer_of(s);
    if (block_family_q(t) || t == TYPE_HASH) {
        uint32_t n = series::used_units(b);
        put_count(n);
        // The cells are re-read per record: writing never allocates series.
        put_cells(reinterpret_cast<const kiv_value*>(b->offset), n);
        return;
    }
    uint32_t count = series::used_units(b);
    if (t == TYPE_BINARY) {
        put_count(count);
        put_bytes(b->offset, count);
        return;
    }
    uint32_t unit = unit_of(b);
    uint32_t log2 = uint32_t(std::countr_zero(unit));
    if (t == TYPE_VECTOR) {
        if (enc.wide) {
            put_count(count);
            put_count(vector::element_type_of(s));
        } else {
            put_byte(uint8_t(vector::element_type_of(s) << 2 | log2));
            put_count(count);
        }
        put_bytes(b->offset, size_t(count) * unit);
        return;
    }
    put_count(enc.wide ? count : (count << 2) | log2);
    put_bytes(b->offset, size_t(count) * unit);
}

void put_shared(const kiv_value* v) {
    uint32_t t = type_of(v);
    if (t == TYPE_OBJECT) {
        node_id ctx = v->data1;
        if (ctx == _context::global) no_codec(v);
        if (const auto* p = known_path(ctx)) {
            put_reference_prefix();
            put_type(t, false);
            put_path(*p);
            return;
        }
        inside([&] {
            remember(ctx);
            put_type(t, v->data3 != 0, v->data3 != 0 ? WIDE_HANDLERS : 0);
            put_object_payload(v);
        });
        return;
    }
    if (t == TYPE_FUNCTION) {
        if (const auto* p = known_path(v->data1)) {
            put_reference_prefix();
            put_type(t, false);
            put_path(*p);
            return;
        }
        inside([&] {
            remember(v->data1);
            put_type(t, false);
            put_function_payload(v);
        });
        return;
    }
    if (t == TYPE_BITSET) {
        bool complemented = bitset::complemented_q(v);
        uint32_t bits = complemented ? WIDE_COMPLEMENTED : 0;
        if (const auto* p = known_path(v->data2)) {
            put_reference_prefix();
            put_type(t, complemented, bits);
            put_path(*p);
            return;
        }
        inside([&] {
            remember(v->data2);
            put_type(t, complemented, bits);
            uint32_t n = bitset::byte_count(v);
            put_count(n);
            put_bytes(bitset::ks_head(v), n);
        });
        return;
    }
    if (t == TYPE_MAP) {
        if (const auto* p = known_path(v->data2)) {
            put_reference_prefix();
            put_type(t, false);
            put_path(*p);
            return;
        }
        inside([&] {
            remember(v->data2);
            put_type(t, false);
            put_count(2 * map::count(v));
            // Removed entries are left out; the counter numbers what is written.
            uint32_t saved = enc.counter;
            enc.counter = 0;
            for (uint32_t i = 0; i + 1 < map::entry_cells(v); i += 2)
                if (!map::removed_q(map::entries(v) + i + 1)) {
                    put_record(map::entries(v) + i);
                    put_record(map::entries(v) + i + 1);
                }
            enc.counter = saved;
        });
        return;
    }
    // The block and string families.
    if (const auto* p = known_path(v->data2)) {
        put_reference_prefix();
        put_series_lead(v);
        put_path(*p);
        return;
    }
    inside([&] {
        remember(v->data2);
        put_series_lead(v);
        put_series_payload(v);
    });
}

void put_typeset(const kiv_value* ts) {
    const uint8_t* bits = typeset::bits_of(ts);
    if (enc.wide) {
        put_type(TYPE_TYPESET, false);
        put_bytes(bits, 12);
        return;
    }
    uint8_t n = 12;
    while (n > 0 && bits[n - 1] == 0) n--;
    put_byte(TYPE_TYPESET);
    put_byte(n);
    enc.payload.insert(enc.payload.end(), bits, bits + n);
}

void put_callable(const kiv_value* v, uint32_t t) {
    put_type(t, false);
    put_count(v->data1);
    kiv_value spec{TYPE_BLOCK, 0, v->data2, 0};
    put_record(&spec);
    enc.counter--;
}

void put_error(const kiv_value* e) {
    inside([&] {
        remember(e->data1);
        put_type(TYPE_ERROR, false);
        put_count(uint32_t(integer::get_value(error::field(e, error::FIELD_CODE))));
        put_cells(error::field(e, error::FIELD_ARG1), 6);
    });
}

// The packed word, then the time (in the compact layout only when the date
// has one).
void put_date(const kiv_value* d) {
    uint32_t packed = date::packed_of(d);
    put_type(TYPE_DATE, date::time_q(packed));
    put_u32(packed);
    if (date::time_q(packed) || enc.wide) put_double(date::time_q(packed) ? date::time_of(d) : 0.0);
}

void put_record(const kiv_value* v) {
    if (v->header & FLAG_NEW_LINE) {
        if (enc.wide) enc.pending |= WIDE_NEW_LINE;
        else put_byte(NEW_LINE);
    }
    uint32_t t = type_of(v);
    switch (t) {
        case TYPE_UNSET:
        case TYPE_NONE: put_type(t, false); break;
        case TYPE_DATATYPE:
            put_type(t, false);
            put_count(v->data1);
            break;
        case TYPE_LOGIC:
            if (enc.wide) {
                put_type(t, false);
                put_u32(v->data1 ? 1 : 0);
            } else {
                put_byte(v->data1 ? LOGIC_TRUE : LOGIC_FALSE);
            }
            break;
        case TYPE_INTEGER: {
            int32_t i = integer::get_value(v);
            if (i >= 0 && i <= 63 && !enc.wide) {
                put_byte(uint8_t(SMALL_INTEGER + i));
            } else {
                put_type(t, false);
                put_signed(i);
            }
            break;
        }
        case TYPE_CHAR:
            put_type(t, false);
            put_count(v->data2);
            break;
        case TYPE_FLOAT:
        case TYPE_TIME: put_float(t, cell::get_float(v)); break;
        case TYPE_PERCENT: put_percent(cell::get_float(v)); break;
        case TYPE_PAIR:
            put_type(t, false);
            put_signed(pair::x_of(v));
            put_signed(pair::y_of(v));
            break;
        case TYPE_TUPLE: {
            uint32_t n = tuple::length_of(v);
            put_type(t, n != 3, n << WIDE_UNIT_SHIFT);
            if (enc.wide) {
                put_bytes(tuple::bytes_of(v), tuple::MAX_LENGTH);
                break;
            }
            if (n != 3) put_byte(uint8_t(n));
            put_bytes(tuple::bytes_of(v), n);
            break;
        }
        case TYPE_POINT2D:
        case TYPE_POINT3D:
            put_type(t, false);
            for (uint32_t i = 0; i < point::dimensions_of(t); i++) put_u32((&v->data1)[i]);
            break;
        case TYPE_TYPESET: put_typeset(v); break;
        case TYPE_DATE: put_date(v); break;
        case TYPE_MONEY: {
            bool negative = money::get_sign(v);
            put_type(t, negative, negative ? WIDE_NEGATIVE : 0);
            put_byte(uint8_t(money::get_currency(v)));
            const uint8_t* digits = money::digit_bytes(v);
            for (int32_t i = 0; i < money::DIGIT_BYTES; i++) put_byte(digits[i]);
            break;
        }
        case TYPE_ISSUE:
            put_type(t, false);
            put_symref(word::symbol_of(v));
            break;
        case TYPE_WORD:
        case TYPE_SET_WORD:
        case TYPE_LIT_WORD:
        case TYPE_GET_WORD:
        case TYPE_REFINEMENT: put_word(v); break;
        case TYPE_NATIVE:
        case TYPE_ACTION: put_callable(v, t); break;
        case TYPE_OP: {
            uint32_t wrapped = op_wrapped_type(v);
            if (wrapped == TYPE_ROUTINE) no_codec(v);
            if (enc.wide) put_type(TYPE_OP, false, wrapped << WIDE_WRAPPED_SHIFT);
            else put_byte(TYPE_OP);
            kiv_value inner = *v;
            inner.header = wrapped;
            put_record(&inner);
            enc.counter--;
            break;
        }
        case TYPE_ERROR: put_error(v); break;
        case TYPE_OBJECT:
        case TYPE_FUNCTION:
        case TYPE_BITSET: put_shared(v); break;
        default:
            if (never_written_q(t)) no_codec(v);
            if (block_family_q(t) || string_family_q(t) || t == TYPE_BINARY || t == TYPE_VECTOR || t == TYPE_HASH ||
                t == TYPE_MAP) {
                put_shared(v);
                break;
            }
            if (t == TYPE_IMAGE) {
                put_image(v);
                break;
            }
            // A datatype whose payload this runtime does not build yet.
            fire(err::INTERNAL, err::internal::not_done);
    }
    enc.counter++;
}

// Header, counts and symbol table in front of the payload.
std::vector<uint8_t> assemble(uint8_t version, uint32_t record_count) {
    std::vector<uint8_t> out(MAGIC, MAGIC + 6);
    bool symbols = !enc.offsets.empty();
    out.push_back(version);
    out.push_back((enc.wide ? 0 : FLAG_COMPACT) | (symbols ? FLAG_SYMBOLS : 0));
    auto put_number = [&](uint32_t v) { enc.wide ? put_u32(out, v) : put_varint(out, v); };
    put_number(record_count);
    put_number(uint32_t(enc.payload.size()));
    if (symbols) {
        put_number(uint32_t(enc.offsets.size()));
        put_number(uint32_t(enc.strings.size()));
        for (uint32_t o : enc.offsets) put_u32(out, o);
        out.insert(out.end(), enc.strings.begin(), enc.strings.end());
    }
    out.insert(out.end(), enc.payload.begin(), enc.payload.end());
    return out;
}

// Resets the encoder on every way out, errors included.
struct encoding {
    collector::compaction_guard keep_nodes;
    encoding() {
        static bool registered = false;
        if (!registered) collector::add_mark_callback(mark_registry);
        registered = true;
        enc.reset();
    }
    ~encoding() { enc.reset(); }
};

// ================================================================================
// Decoder
// ================================================================================

struct decoder {
    const uint8_t* start = nullptr;  // the header's first byte, for error offsets
    const uint8_t* p = nullptr;
    const uint8_t* end = nullptr;    // null: unbounded
    int32_t symbol_count = 0;
    int32_t* symbol_ids = nullptr;  // the ids made so far by table index, -1 before
    int32_t* global_slots = nullptr;  // their global context slots by table index, -1 before
    int32_t last_symbol = -1;         // the table index get_symbol read last
    const uint8_t* offsets = nullptr;
    const uint8_t* strings = nullptr;
    int32_t strings_size = 0;
    kiv_value target{};
    uint32_t root_base = 0;
    bool codec = true;
    uint32_t depth = 0;  // records being decoded inside one another
    bool wide = false;   // the 32-bit layout
    const uint8_t* body = nullptr;  // where the body starts: padding aligns to it
};

decoder dec;

[[noreturn]] void invalid() { invalid_record(dec.p); }

void need(size_t n) {
    if (dec.end && size_t(dec.end - dec.p) < n) invalid();
}

uint8_t get_byte() {
    need(1);
    return *dec.p++;
}

int32_t get_varint() {
    uint32_t v = 0;
    for (int shift = 0; shift < 35; shift += 7) {
        uint8_t b = get_byte();
        if (shift == 28 && (b & 0xF0)) {
            dec.p--;
            invalid();
        }
        v |= uint32_t(b & 0x7F) << shift;
        if (!(b & 0x80)) return int32_t(v);
    }
    invalid();
}

int32_t get_zigzag() {
    uint32_t v = uint32_t(get_varint());
    return int32_t((v >> 1) ^ (0u - (v & 1)));
}

uint32_t get_u32() {
    need(4);
    uint32_t v = uint32_t(dec.p[0]) | uint32_t(dec.p[1]) << 8 | uint32_t(dec.p[2]) << 16 | uint32_t(dec.p[3]) << 24;
    dec.p += 4;
    return v;
}

// An index, id or code point: a varint, or a word of the 32-bit layout.
int32_t get_index() { return dec.wide ? int32_t(get_u32()) : get_varint(); }
int32_t get_signed() { return dec.wide ? int32_t(get_u32()) : get_zigzag(); }

// A count of records or bytes: not negative, and no more than the items the
// bytes left could hold (each record of the 32-bit layout takes a word).
int32_t get_count(uint32_t item_size = 1) {
    int32_t n = get_index();
    if (n < 0 || (dec.end && n > (dec.end - dec.p) / (dec.wide ? item_size : 1u))) invalid();
    return n;
}
int32_t get_record_count() { return get_count(4); }

// Raw data of n bytes, then, in the 32-bit layout, the padding to a word.
const uint8_t* get_bytes(size_t n) {
    need(n);
    const uint8_t* data = dec.p;
    dec.p += n;
    if (dec.wide) {
        size_t pad = (4 - size_t(dec.p - dec.body) % 4) % 4;
        need(pad);
        dec.p += pad;
    }
    return data;
}

// Low word first in the compact layout, high word first in the 32-bit one.
double get_double() {
    uint64_t first = get_u32();
    uint64_t second = get_u32();
    return std::bit_cast<double>(dec.wide ? second | first << 32 : first | second << 32);
}

int32_t get_symbol() {
    const uint8_t* at = dec.p;
    int32_t index = get_index();
    if (index < 0 || index >= dec.symbol_count) invalid_record(at);
    uint32_t offset = uint32_t(dec.offsets[4 * index]) | uint32_t(dec.offsets[4 * index + 1]) << 8 |
                      uint32_t(dec.offsets[4 * index + 2]) << 16 | uint32_t(dec.offsets[4 * index + 3]) << 24;
    if (offset >= uint32_t(dec.strings_size)) invalid_record(at);
    dec.last_symbol = index;
    if (dec.symbol_ids && dec.symbol_ids[index] >= 0) return dec.symbol_ids[index];
    const char* name = reinterpret_cast<const char*>(dec.strings + offset);
    int32_t id = symbol::make_alt(reinterpret_cast<const uint8_t*>(name), uint32_t(std::strlen(name)));
    if (dec.symbol_ids) dec.symbol_ids[index] = id;
    return id;
}

// The container a value opens to a reference path.
struct container {
    kiv_value* cells = nullptr;
    int32_t lower = 0;  // the least index allowed (error! reaches back to `code`)
    uint32_t count = 0;
};

container open_container(const kiv_value* v) {
    uint32_t t = type_of(v);
    if (block_family_q(t) || t == TYPE_HASH || t == TYPE_MAP) {
        uint32_t length = block::length_all(v);
        uint32_t head = std::min(v->data1, length);
        return {block::cells(v) + head, 0, length - head};
    }
    if (t == TYPE_OBJECT) return {context::heap_value_ref(v->data1, 0), 0, _context::words_count(v->data1)};
    if (t == TYPE_ERROR) return {error::field(v, error::FIELD_ARG1), -3, error::FIELD_COUNT - error::FIELD_ARG1};
    if (t == TYPE_NATIVE || t == TYPE_ACTION) {
        kiv_value spec{TYPE_BLOCK, 0, v->data2, 0};
        return {block::cells(&spec), 0, block::length_all(&spec)};
    }
    if (any_word_q(t) && t != TYPE_ISSUE && !global_context_q(v->data1) && !_context::on_stack_q(v->data1))
        return {context::heap_value_ref(v->data1, 0), 0, _context::words_count(v->data1)};
    invalid();
}

// A function's two children: its spec (as a block) and its body cell.
kiv_value function_child(const kiv_value* fn, int32_t index, bool last) {
    uint32_t wrapped = type_of(fn) == TYPE_OP ? op_wrapped_type(fn) : type_of(fn);
    if (index == 0) {
        kiv_value spec{TYPE_BLOCK, 0, fn->data2, 0};
        return spec;
    }
    if (index == 1 && wrapped == TYPE_FUNCTION) {
        kiv_value body = *function::extra_cell_of(fn, function::EXTRA_BODY);
        if (type_of(&body) == TYPE_BLOCK) return body;
    }
    (void)last;
    invalid();
}

bool function_like_q(const kiv_value* v) {
    uint32_t t = type_of(v);
    return t == TYPE_FUNCTION || (t == TYPE_OP && op_wrapped_type(v) == TYPE_FUNCTION);
}

// Reads a reference path and returns a copy of the value it designates.
kiv_value resolve_path() {
    const uint8_t* at = dec.p;
    if (dec.wide && get_u32() != WIDE_REFERENCE_RECORD) invalid_record(at);
    int32_t n = get_index();
    if (n < 1 || n > MAX_PATH || (dec.end && n > (dec.end - dec.p) / (dec.wide ? 4 : 1))) invalid_record(at);
    kiv_value current = dec.target;
    for (int32_t k = 0; k < n; k++) {
        const uint8_t* index_at = dec.p;
        int32_t index = get_index();
        if (function_like_q(&current) || (any_word_q(type_of(&current)) && !global_context_q(current.data1) &&
                                          _context::on_stack_q(current.data1))) {
            // A word of a function context leads to the function itself.
            if (any_word_q(type_of(&current))) current = *_context::self_of(current.data1);
            if (!function_like_q(&current)) invalid();
            kiv_value child = function_child(&current, index, k == n - 1);
            if (k == n - 1 || index == 1) {
                current = child;
                continue;
            }
            // Index 0 followed by more: a cell of the spec.
            current = child;
            continue;
        }
        container c = open_container(&current);
        if (index < c.lower || index >= int32_t(c.count)) invalid_record(index_at);
        current = c.cells[index];
    }
    return current;
}

void decode_record(kiv_value* parent);

// Appends a value to a block and returns the cell it now lives in.
kiv_value* append(kiv_value* parent, const kiv_value* v) { return block::append_copy(parent, v); }

// Most records of code are words of the global context: a type byte and a
// symbol index, perhaps after a new-line byte. Once a name has been met (its
// symbol and slot known), such a record is read here in one go, under the
// nesting limits of decode_record; anything else, malformed input included,
// is left to the general path.
bool quick_global_word(kiv_value* parent) {
    if (dec.wide || !dec.global_slots || dec.depth >= MAX_DECODE_DEPTH) return false;
    system::check_native_stack();
    const uint8_t* p = dec.p;
    bool new_line = p < dec.end && *p == NEW_LINE;
    p += new_line;
    if (p == dec.end || *p < TYPE_WORD || *p > TYPE_REFINEMENT) return false;
    uint32_t t = *p++;
    uint32_t index = 0;
    for (int shift = 0;; shift += 7) {
        if (p == dec.end || shift > 14) return false;
        uint8_t b = *p++;
        index |= uint32_t(b & 0x7F) << shift;
        if (!(b & 0x80)) break;
    }
    if (index >= uint32_t(dec.symbol_count) || dec.global_slots[index] < 0) return false;
    dec.p = p;
    kiv_value* cell = block::alloc_tail(parent);
    *cell = kiv_value{t, _context::global, uint32_t(dec.symbol_ids[index]), uint32_t(dec.global_slots[index])};
    if (new_line) cell->header |= FLAG_NEW_LINE;
    return true;
}

// Decodes n records into a block value's series.
void decode_into(kiv_value* blk, int32_t n) {
    for (int32_t i = 0; i < n; i++)
        if (!quick_global_word(blk)) decode_record(blk);
}

uint32_t read_type(uint8_t header) {
    uint32_t t = header & TYPE_BITS;
    if (t == LONG_TYPE) {
        int32_t id = get_varint();
        if (id < 0) invalid();
        t = uint32_t(id);
    }
    return t;
}

// A record's header as either layout gives it.
struct record_head {
    const uint8_t* at = nullptr;  // its first byte (after any prefixes)
    uint32_t type = 0;
    bool b = false;     // the compact layout's flag B
    uint32_t bits = 0;  // the 32-bit layout's header word
    bool new_line = false, reference = false, definition = false;
    uint8_t special = 0;  // a compact header of 0x80 and above; COPY_OF for a reference record
};

bool has_head_q(uint32_t t) {
    return block_family_q(t) || string_family_q(t) || t == TYPE_HASH || t == TYPE_BINARY || t == TYPE_VECTOR ||
           t == TYPE_IMAGE;
}

// The header bits a type may set in the 32-bit layout; any other is a
// malformed record.
uint32_t wide_bits_allowed(uint32_t t) {
    uint32_t allowed = TYPE_MASK | WIDE_NEW_LINE;
    if (has_head_q(t) || t == TYPE_MAP || t == TYPE_BITSET || t == TYPE_OBJECT || t == TYPE_FUNCTION ||
        (t >= TYPE_WORD && t <= TYPE_REFINEMENT))
        allowed |= WIDE_REFERENCE;
    if (t == TYPE_TUPLE || string_family_q(t) || t == TYPE_BINARY || t == TYPE_VECTOR) allowed |= 0xFFu << WIDE_UNIT_SHIFT;
    if (t == TYPE_OP) allowed |= 0xFFu << WIDE_WRAPPED_SHIFT;
    if (t == TYPE_MONEY) allowed |= WIDE_NEGATIVE;
    if (t == TYPE_BITSET) allowed |= WIDE_COMPLEMENTED;
    if (t == TYPE_OBJECT) allowed |= WIDE_HANDLERS;
    if (t >= TYPE_WORD && t <= TYPE_ISSUE) allowed |= WIDE_GLOBAL;
    if (t == TYPE_CONTEXT) allowed |= 31u << WIDE_CONTEXT_SHIFT;
    return allowed;
}

record_head read_wide_head() {
    record_head h;
    uint32_t word;
    do {  // padding records
        h.at = dec.p;
        word = get_u32();
    } while (word == 0);
    if (word == WIDE_REFERENCE_RECORD) {
        dec.p = h.at;  // the path reader takes the marker
        h.special = COPY_OF;
        return h;
    }
    h.type = word & TYPE_MASK;
    h.bits = word;
    if (h.type >= TYPE_COUNT || (word & ~wide_bits_allowed(h.type))) invalid_record(h.at);
    h.new_line = word & WIDE_NEW_LINE;
    h.reference = h.type != TYPE_OP && (word & WIDE_REFERENCE);
    h.definition = !dec.codec && (word & WIDE_GLOBAL) && h.type >= TYPE_WORD && h.type <= TYPE_REFINEMENT;
    return h;
}

record_head read_compact_head() {
    record_head h;
    uint8_t b;
    for (;;) {
        b = get_byte();
        if (b == NEW_LINE) h.new_line = true;
        else if (b == REFERENCE) h.reference = true;
        else if (b == DEFINITION) h.definition = true;
        else break;
        need(1);
    }
    h.at = dec.p - 1;
    if (b >= SMALL_INTEGER) {
        if (h.reference || h.definition) invalid_record(h.at);
        if (b >= NEW_LINE && b != LOGIC_TRUE && b != LOGIC_FALSE && b != COPY_OF) invalid_record(h.at);
        h.special = b;
        return h;
    }
    h.type = read_type(b);
    h.b = b & FLAG_B;
    if (h.b && !flag_b_q(h.type)) invalid_record(h.at);
    return h;
}

record_head read_head() {
    record_head h = dec.wide ? read_wide_head() : read_compact_head();
    if (h.definition && dec.codec) invalid_record(h.at);
    return h;
}

// The header of a record that must be a plain one of a given type (a
// context inside an object or function record, the owner of a word).
record_head read_plain_head() {
    record_head h = read_head();
    if (h.special || h.new_line || h.reference || h.definition) invalid_record(h.at);
    return h;
}


// Where a decoded owner (object or function) becomes visible as soon as its
// context exists, so that references inside it can lead through it: a cell
// of the parent block, or the argument stack when it belongs to no block.
struct owner_slot {
    kiv_value* parent = nullptr;  // null: the stack
    uint32_t index = 0;

    void publish(const kiv_value& v) const {
        if (parent) block::cells(parent)[index] = v;
        else *stack::get_top() = v;
    }
};

// Context record (type 14), first half: a new context and its words.
struct context_head {
    node_id ctx;
    uint8_t flags;
    int32_t count;
};

// The record a context comes in: an object! or function! record, or a
// context record of its own, which makes an object.
enum class context_owner { object, function, bare };

// A function's context keeps its values on the stack, an object's in a value
// series: flags that say otherwise would make a value that later code cannot
// use (an object without its value series).
bool context_flags_allowed(uint8_t flags, context_owner owner) {
    if (flags & ~(3 | CTX_STACK_VALUES | CTX_SELF_FLAG | CTX_HAS_VALUES)) return false;
    uint32_t kind = flags & 3;
    bool stack_values = flags & CTX_STACK_VALUES;
    switch (owner) {
        case context_owner::function: return kind == CTX_FUNCTION && stack_values;
        case context_owner::object: return kind != 3 && !stack_values;
        case context_owner::bare: return (kind == CTX_GLOBAL || kind == CTX_OBJECT) && !stack_values;
    }
    return false;
}

// After the header and the flags: the count and the words.
context_head decode_context_words(context_owner owner, uint8_t flags, const uint8_t* flags_at) {
    if (!context_flags_allowed(flags, owner)) invalid_record(flags_at);
    int32_t n = get_record_count();
    bool stack_values = flags & CTX_STACK_VALUES;
    uint32_t kind = owner == context_owner::object ? uint32_t(CTX_OBJECT) : uint32_t(flags & 3);
    node_id ctx = _context::create(uint32_t(n), stack_values, flags & CTX_SELF_FLAG, 0, kind);
    kiv_value holder{TYPE_OBJECT, ctx, uint32_t(-1), 0};
    stack::push_value(&holder);
    for (int32_t i = 0; i < n; i++) {
        kiv_value w{TYPE_WORD, 0, uint32_t(get_symbol()), uint32_t(-1)};
        _context::add_word(ctx, &w);
    }
    stack::pop(1);
    return {ctx, flags, n};
}

// The context record inside an object! or function! record.
context_head decode_context_head(context_owner owner) {
    if (dec.wide) {
        record_head h = read_plain_head();
        if (h.type != TYPE_CONTEXT) invalid_record(h.at);
        return decode_context_words(owner, context_flags_of(h.bits), h.at);
    }
    const uint8_t* at = dec.p;
    if ((get_byte() & TYPE_BITS) != TYPE_CONTEXT) invalid_record(at);
    const uint8_t* flags_at = dec.p;
    return decode_context_words(owner, get_byte(), flags_at);
}

// Second half: the values, into the context's value series.
void decode_context_values(const context_head& h) {
    if (!(h.flags & CTX_HAS_VALUES) || (h.flags & CTX_STACK_VALUES)) return;
    kiv_value values{TYPE_BLOCK, 0, _context::cell_of(h.ctx)->data2, 0};
    series::buffer(values.data2)->tail = series::buffer(values.data2)->offset;
    decode_into(&values, h.count);
    if (series::used_units(series::buffer(values.data2)) != uint32_t(h.count)) invalid();
}

kiv_value decode_object(bool handlers, const owner_slot& slot) {
    int32_t class_id = get_signed();
    if (handlers) {
        get_signed();
        get_signed();
    }
    context_head h = decode_context_head(context_owner::object);
    kiv_value obj = *object::push(h.ctx, dec.codec ? -1 : class_id);
    stack::pop(1);
    slot.publish(obj);
    decode_context_values(h);
    if (handlers) {
        object::attach_handlers(h.ctx, &obj);
        slot.publish(obj);
    }
    return obj;
}

// A block record of a function (spec or body): prefixes, type 5, an
// optional head, then its cells, or a reference to a block. The cells go
// into `blk`, made by the caller.
void decode_function_block(kiv_value* blk) {
    record_head h = read_head();
    if (h.special || h.definition || h.type != TYPE_BLOCK) invalid_record(h.at);
    if (h.b || dec.wide) get_count();
    if (h.reference) {
        kiv_value found = resolve_path();
        if (type_of(&found) != TYPE_BLOCK) invalid_record(h.at);
        blk->data2 = found.data2;
    } else {
        decode_into(blk, get_record_count());
    }
    if (h.new_line) blk->header |= FLAG_NEW_LINE;
}

kiv_value decode_function(const owner_slot& slot) {
    int32_t spec_length = get_record_count();
    int32_t body_length = get_record_count();
    context_head h = decode_context_head(context_owner::function);
    node_id extra = memory::alloc_unset_cells(function::EXTRA_CELLS);
    series::buffer(extra)->tail += function::EXTRA_CELLS * sizeof(kiv_value);
    kiv_value fn{TYPE_FUNCTION, h.ctx, 0, extra};
    kiv_value spec;
    block::make_at(&spec, std::max(spec_length, 1));
    fn.data2 = spec.data2;
    kiv_value* body = function::extra_cell_of(&fn, function::EXTRA_BODY);
    block::make_at(body, std::max(body_length, 1));
    *_context::self_of(h.ctx) = fn;
    slot.publish(fn);
    decode_function_block(&spec);
    fn.data2 = spec.data2;
    *_context::self_of(h.ctx) = fn;
    slot.publish(fn);
    kiv_value body_cell = *function::extra_cell_of(&fn, function::EXTRA_BODY);
    decode_function_block(&body_cell);
    body_cell.header &= ~FLAG_NEW_LINE;
    *function::extra_cell_of(&fn, function::EXTRA_BODY) = body_cell;
    return fn;
}

// native! and action!: the table index, then the spec record. The cell
// gets the argument cache the interpreter expects.
void decode_callable(kiv_value* parent, uint32_t t) {
    const uint8_t* at = dec.p;
    int32_t index = get_index();
    int32_t limit = t == TYPE_ACTION ? int32_t(ACTION_SLOTS) : int32_t(natives::count);
    if (index < 1 || index > limit) invalid_record(at);
    kiv_value temp;
    kiv_value* into = parent;
    if (dec.codec) {
        block::make_at(&temp, 1);
        stack::push_value(&temp);
        into = &temp;
    }
    uint32_t before = block::length_all(into);
    decode_record(into);
    kiv_value spec = block::cells(into)[before];
    if (type_of(&spec) != TYPE_BLOCK) invalid_record(at);
    block::ks_set_tail(into, before);
    stack::push_value(&spec);
    node_id ctx = _context::make_from_block(&spec, true, false, CTX_FUNCTION);
    node_id cache = memory::alloc_cells(2);
    series_buffer* b = series::buffer(cache);
    auto* cells = reinterpret_cast<kiv_value*>(b->offset);
    cells[0] = *_context::cell_of(ctx);
    cells[1] = unset_value;
    b->tail = b->offset + 2 * sizeof(kiv_value);
    kiv_value v{t, uint32_t(index), spec.data2, cache};
    append(parent, &v);
    stack::pop(dec.codec ? 2 : 1);
}

// Word records: the global context, or the context named by a root index
// (boot) or carried along (codec).
void decode_word(kiv_value* parent, const record_head& h) {
    uint32_t t = h.type;
    int32_t symbol = get_symbol();
    // The binding: compact flag B, or the 32-bit layout's global bit (codec)
    // or root index -1 (boot); the 32-bit layout always has the slot.
    const uint8_t* root_at = dec.p;
    int32_t root = -1, slot = -1;
    bool bound = h.b;
    if (dec.wide) {
        if (!dec.codec) root = get_signed();
        slot = get_signed();
        bound = dec.codec ? !(h.bits & WIDE_GLOBAL) : root != -1;
    }
    if (!bound) {
        if (h.reference) invalid();
        // Not through word::from_symbol: while booting, that anchors a copy
        // in the root block, which is the block being decoded into.
        kiv_value w{t, _context::global, uint32_t(symbol), 0};
        // A global word keeps its slot: each name is looked up once.
        int32_t* seen = dec.global_slots ? dec.global_slots + dec.last_symbol : nullptr;
        int32_t slot_of = seen && *seen >= 0 ? *seen : _context::add_word(_context::global, &w);
        if (seen) *seen = slot_of;
        w.data3 = uint32_t(slot_of);
        append(parent, &w);
        return;
    }
    node_id ctx;
    if (!dec.codec) {
        if (h.reference) invalid();
        if (!dec.wide) {
            root = get_varint();
            slot = get_zigzag();
        }
        uint32_t position = dec.root_base + uint32_t(root);
        if (root < 0 || position >= block::length_all(&dec.target)) invalid_record(root_at);
        kiv_value owner = block::cells(&dec.target)[position];
        if (type_of(&owner) != TYPE_OBJECT && type_of(&owner) != TYPE_FUNCTION) invalid_record(root_at);
        ctx = owner.data1;
    } else {
        if (!dec.wide) slot = get_zigzag();
        kiv_value owner;
        if (h.reference) {
            owner = resolve_path();
            uint32_t ot = type_of(&owner);
            if (ot == TYPE_OP && op_wrapped_type(&owner) == TYPE_FUNCTION) ot = TYPE_FUNCTION;
            if (ot != TYPE_OBJECT && ot != TYPE_FUNCTION && !any_word_q(ot)) invalid();
        } else {
            record_head oh = read_plain_head();
            if (oh.type != TYPE_OBJECT && oh.type != TYPE_FUNCTION) invalid_record(oh.at);
            stack::push_value(&none_value);
            owner = oh.type == TYPE_OBJECT ? decode_object(dec.wide ? oh.bits & WIDE_HANDLERS : oh.b, owner_slot{})
                                           : decode_function(owner_slot{});
            stack::pop(1);
        }
        ctx = owner.data1;
    }
    if (slot < 0) slot = _context::find_word(ctx, symbol, true);
    if (slot < 0 || uint32_t(slot) >= _context::words_count(ctx)) invalid();
    kiv_value w{t, ctx, uint32_t(symbol), uint32_t(slot)};
    append(parent, &w);
}

// The unit size a 32-bit header gives a string, binary or vector.
uint32_t wide_unit(const record_head& h) { return h.bits >> WIDE_UNIT_SHIFT & 0xFF; }

kiv_value decode_string(const record_head& h) {
    const uint8_t* at = dec.p;
    uint32_t unit, count;
    if (dec.wide) {
        unit = wide_unit(h);
        int32_t n = get_index();
        if (n < 0 || (unit != 1 && unit != 2 && unit != 4)) invalid_record(h.at);
        count = uint32_t(n);
    } else {
        int32_t l = get_varint();
        if (l < 0 || (l & 3) == 3) invalid_record(at);
        unit = 1u << (l & 3);
        count = uint32_t(l) >> 2;
    }
    const uint8_t* units = get_bytes(size_t(count) * unit);
    kiv_value s;
    string::make_at_unit(&s, std::max(count, 1u), unit);
    series_buffer* b = series::buffer(s.data2);
    std::memcpy(b->offset, units, size_t(count) * unit);
    b->tail = b->offset + size_t(count) * unit;
    s.header = h.type;
    return s;
}

kiv_value decode_binary(const record_head& h) {
    if (dec.wide && wide_unit(h) != 1) invalid_record(h.at);
    int32_t n = get_count();
    const uint8_t* bytes = get_bytes(size_t(n));
    kiv_value bin;
    binary::make_at(&bin, uint32_t(n));
    binary::ks_append(&bin, bytes, uint32_t(n));
    return bin;
}

// The element type and width: a byte of the compact layout (type and log2
// of the width), the header's unit and a word of the 32-bit layout.
kiv_value decode_vector(const record_head& h) {
    uint32_t type, width;
    int32_t n;
    if (dec.wide) {
        width = wide_unit(h);
        n = get_index();
        type = get_u32();
        if (n < 0) invalid_record(h.at);
    } else {
        uint8_t f = get_byte();
        type = f >> 2;
        width = 1u << (f & 3);
        n = get_count();
    }
    if (!vector::width_q(type, width)) invalid_record(h.at);
    const uint8_t* elements = get_bytes(size_t(n) * width);
    kiv_value vec;
    vector::make_at(&vec, uint32_t(n), type, width);
    series_buffer* b = series::buffer(vec.data2);
    std::memcpy(b->offset, elements, size_t(n) * width);
    return vec;
}

// Sides of at most 65,535 and their pixels within the input; the image is
// made on the stack so that the collector keeps it while it is appended.
kiv_value decode_image(const uint8_t* at, uint32_t head) {
    int32_t w, h;
    if (dec.wide) {
        uint32_t size = get_u32();
        w = int32_t(size & 0xFFFF);
        h = int32_t(size >> 16);
    } else {
        w = get_varint();
        h = get_varint();
    }
    if (w < 0 || h < 0 || w > int32_t(image::MAX_SIDE) || h > int32_t(image::MAX_SIDE)) invalid_record(at);
    uint64_t bytes = uint64_t(w) * uint64_t(h) * 4;
    if (head > uint64_t(w) * uint64_t(h)) invalid_record(at);
    need(size_t(bytes));
    if (!dec.end && bytes > INT32_MAX) invalid_record(at);
    kiv_value* cell = image::push(uint32_t(w), uint32_t(h));
    if (uint32_t* p = image::lock(cell, true)) std::memcpy(p, dec.p, size_t(bytes));
    image::unlock(cell);
    dec.p += bytes;
    cell->data1 = head;
    return *cell;
}

// Types whose reference may share another value's series, and what the copy
// keeps of the record.
bool shareable_q(uint32_t t) {
    return block_family_q(t) || string_family_q(t) || t == TYPE_HASH || t == TYPE_BINARY || t == TYPE_VECTOR ||
           t == TYPE_IMAGE || t == TYPE_MAP || t == TYPE_BITSET || t == TYPE_FUNCTION || t == TYPE_ACTION ||
           t == TYPE_NATIVE || t == TYPE_ROUTINE || t == TYPE_OP;
}

void decode_reference(kiv_value* parent, uint32_t t, uint32_t head) {
    const uint8_t* at = dec.p;
    kiv_value v = resolve_path();
    uint32_t found = type_of(&v);
    if (t == TYPE_OBJECT) {
        if (found != TYPE_OBJECT && !any_word_q(found)) invalid_record(at);
        append(parent, _context::self_of(v.data1));
        return;
    }
    if (t == TYPE_FUNCTION) {
        if (found == TYPE_OP) {
            v.header = TYPE_FUNCTION;
        } else if (found == TYPE_FUNCTION || any_word_q(found)) {
            v = *_context::self_of(v.data1);
            if (type_of(&v) != TYPE_FUNCTION) invalid_record(at);
        } else {
            invalid_record(at);
        }
        append(parent, &v);
        return;
    }
    if (!shareable_q(found)) invalid_record(at);
    bool same_family = (block_family_q(t) && block_family_q(found)) ||
                       (string_family_q(t) && string_family_q(found)) || (t == TYPE_BINARY && found == TYPE_BINARY);
    if (!same_family && t != found) invalid_record(at);
    if (same_family) v.header = (v.header & ~TYPE_MASK) | t;
    if (block_family_q(t) || string_family_q(t) || t == TYPE_BINARY) v.data1 = head;
    append(parent, &v);
}

void decode_typeset(kiv_value* parent) {
    const uint8_t* at = dec.p;
    uint8_t n = dec.wide ? 12 : get_byte();
    if (n > 12) invalid_record(at);
    kiv_value ts{TYPE_TYPESET, 0, 0, 0};
    std::memcpy(typeset::bits_of(&ts), get_bytes(n), n);
    append(parent, &ts);
}

// A date as the encoder writes it: a real day, a zone only with a time,
// and a time of day that lies within its day.
void decode_date(kiv_value* parent, bool flag_b) {
    const uint8_t* at = dec.p;
    uint32_t packed = get_u32();
    // The 32-bit layout always carries the time words; without a time they
    // hold 0.
    if (dec.wide) flag_b = date::time_q(packed);
    if (flag_b != date::time_q(packed)) invalid_record(at);
    int32_t month = date::month_of(packed), day = date::day_of(packed);
    if (month < 1 || month > 12 || day < 1 || day > date::month_length(date::year_of(packed), month))
        invalid_record(at);
    double time = flag_b || dec.wide ? get_double() : 0.0;
    if (!flag_b && time != 0.0) invalid_record(at);
    double local = time + date::zone_offset(date::zone_of(packed));
    if (flag_b ? !(local >= 0 && local < date::DAY) : date::zone_of(packed) != 0) invalid_record(at);
    kiv_value v;
    append(parent, date::make_at(&v, packed, time));
}

void decode_error(kiv_value* parent) {
    int32_t code = get_index();
    kiv_value dt, spec;
    datatype::make_at(&dt, TYPE_ERROR);
    integer::make_at(&spec, code);
    auto make = reinterpret_cast<actions::make_fn>(actions::get_action_ptr_from(TYPE_ERROR, &dt, SLOT_MAKE));
    kiv_value e = *make(&dt, &spec, TYPE_ERROR);
    kiv_value* cell = append(parent, &e);
    e = *cell;
    stack::pop(1);
    kiv_value fields{TYPE_BLOCK, 0, _context::cell_of(e.data1)->data2, 0};
    // The six stored fields replace arg1 to stack in place.
    series_buffer* b = series::buffer(fields.data2);
    kiv_value files = reinterpret_cast<kiv_value*>(b->offset)[error::FIELD_FILES];
    b->tail = b->offset + error::FIELD_ARG1 * sizeof(kiv_value);
    decode_into(&fields, 6);
    block::append_copy(&fields, &files);
}

// Counts a record's nesting while it is decoded.
struct nested_record {
    nested_record() {
        if (dec.depth == MAX_DECODE_DEPTH) fire(err::INTERNAL, err::internal::too_deep);
        system::check_native_stack();
        dec.depth++;
    }
    ~nested_record() { dec.depth--; }
};

// Builds the cell of a record whose header is read and which is neither a
// reference nor a word.
// The block family, hash! and map!: a new block, then its records.
void decode_block(kiv_value* parent, uint32_t t, uint32_t head) {
    const uint8_t* count_at = dec.p;
    int32_t n = get_record_count();
    if (t == TYPE_MAP && n % 2) invalid_record(count_at);
    kiv_value v;
    block::make_at(&v, std::max(n, 1));
    v.header = t == TYPE_MAP ? TYPE_BLOCK : t;
    v.data1 = head;
    uint32_t position = block::length_all(parent);
    kiv_value inner = *append(parent, &v);
    decode_into(&inner, n);
    if (t == TYPE_HASH) hash_block::index(block::cells(parent) + position);
    if (t == TYPE_MAP) {
        for (int32_t i = 0; i < n; i += 2)
            if (!map::key_type_q(type_of(block::cells(&inner) + i))) invalid_record(count_at);
        kiv_value m;
        map::make_from(&m, &inner);
        block::cells(parent)[position] = m;
    }
}

// Blocks nest deepest: their records take the small path of decode_block,
// so that deep images reach the depth limit before the native stack's.
[[gnu::noinline]] void decode_payload(kiv_value* parent, const record_head& h, uint32_t head) {
    uint32_t t = h.type;
    const uint8_t* at = h.at;
    uint32_t before = block::length_all(parent);
    kiv_value v;
    switch (t) {
        case TYPE_DATATYPE: {
            int32_t id = get_index();
            if (id < 1 || id >= int32_t(TYPE_COUNT)) invalid_record(at);
            datatype::make_at(&v, uint32_t(id));
            append(parent, &v);
            break;
        }
        case TYPE_UNSET: append(parent, &unset_value); break;
        case TYPE_NONE: append(parent, &none_value); break;
        case TYPE_LOGIC:  // the 32-bit layout only
            append(parent, get_u32() ? &true_value : &false_value);
            break;
        case TYPE_CHAR:
            char_::make_at(&v, uint32_t(get_index()));
            append(parent, &v);
            break;
        case TYPE_INTEGER:
            integer::make_at(&v, get_signed());
            append(parent, &v);
            break;
        case TYPE_FLOAT:
        case TYPE_TIME:
        case TYPE_PERCENT: {
            double d = h.b ? double(get_zigzag()) : get_double();
            if (h.b && t == TYPE_PERCENT) d /= 100.0;
            v = kiv_value{t, 0, 0, 0};
            cell::set_float(&v, d);
            append(parent, &v);
            break;
        }
        case TYPE_PAIR: {
            int32_t x = get_signed();
            pair::make_at(&v, x, get_signed());
            append(parent, &v);
            break;
        }
        case TYPE_TUPLE: {
            uint32_t n = dec.wide ? h.bits >> WIDE_UNIT_SHIFT & 0xFF : h.b ? get_byte() : 3;
            if (n < 1 || n > tuple::MAX_LENGTH) invalid_record(at);
            const uint8_t* bytes = get_bytes(dec.wide ? tuple::MAX_LENGTH : n);
            tuple::make_at(&v, n, bytes);
            append(parent, &v);
            break;
        }
        case TYPE_POINT2D:
        case TYPE_POINT3D:
            v = kiv_value{t, 0, 0, 0};
            for (uint32_t i = 0; i < point::dimensions_of(t); i++) (&v.data1)[i] = get_u32();
            append(parent, &v);
            break;
        case TYPE_TYPESET: decode_typeset(parent); break;
        case TYPE_DATE: decode_date(parent, h.b); break;
        case TYPE_MONEY: {
            need(1 + money::DIGIT_BYTES);
            uint8_t currency = get_byte();
            bool negative = dec.wide ? h.bits & WIDE_NEGATIVE : h.b;
            // A currency past the list or a nibble above 9 is no amount.
            if (!money::known_currency_q(currency) || !money::make_at_raw(&v, negative, currency, dec.p))
                invalid_record(at);
            dec.p += money::DIGIT_BYTES;
            append(parent, &v);
            break;
        }
        case TYPE_ISSUE: {
            int32_t symbol = get_symbol();
            v = kiv_value{TYPE_ISSUE, 0, uint32_t(symbol), uint32_t(-1)};
            append(parent, &v);
            break;
        }
        case TYPE_CONTEXT: {
            append(parent, &none_value);
            uint8_t flags = dec.wide ? context_flags_of(h.bits) : get_byte();
            context_head c = decode_context_words(context_owner::bare, flags, at);
            v = kiv_value{TYPE_OBJECT, c.ctx, uint32_t(-1), 0};
            *_context::self_of(c.ctx) = v;
            block::cells(parent)[before] = v;
            decode_context_values(c);
            break;
        }
        // Appended first: references inside them lead through them.
        case TYPE_OBJECT:
            append(parent, &none_value);
            decode_object(dec.wide ? h.bits & WIDE_HANDLERS : h.b, owner_slot{parent, before});
            break;
        case TYPE_FUNCTION:
            append(parent, &none_value);
            decode_function(owner_slot{parent, before});
            break;
        case TYPE_NATIVE:
        case TYPE_ACTION: decode_callable(parent, t); break;
        case TYPE_OP: {
            decode_record(parent);
            kiv_value* cell = block::cells(parent) + before;
            uint32_t wrapped = type_of(cell);
            if (wrapped != TYPE_NATIVE && wrapped != TYPE_ACTION && wrapped != TYPE_FUNCTION) invalid_record(at);
            if (dec.wide && wrapped != (h.bits >> WIDE_WRAPPED_SHIFT & 0xFF)) invalid_record(at);
            cell->header = (cell->header & FLAG_NEW_LINE) | TYPE_OP | (wrapped << OP_WRAPPED_SHIFT);
            if (wrapped == TYPE_FUNCTION) *function::extra_cell_of(cell, function::EXTRA_OP) = *cell;
            break;
        }
        case TYPE_ERROR: decode_error(parent); break;
        case TYPE_BITSET: {
            int32_t n = get_count();
            const uint8_t* bytes = get_bytes(size_t(n));
            bitset::make_at(&v, uint32_t(std::max(n, 1)));
            series_buffer* bb = series::buffer(v.data2);
            std::memcpy(bb->offset, bytes, size_t(n));
            bb->tail = bb->offset + n;
            if (dec.wide ? h.bits & WIDE_COMPLEMENTED : h.b) bb->flags |= SERIES_TYPE_FLAG;
            append(parent, &v);
            break;
        }
        default:
            if (string_family_q(t) || t == TYPE_BINARY) {
                v = t == TYPE_BINARY ? decode_binary(h) : decode_string(h);
                v.data1 = head;
                append(parent, &v);
            } else if (t == TYPE_VECTOR) {
                v = decode_vector(h);
                v.data1 = head;
                append(parent, &v);
            } else if (t == TYPE_IMAGE) {
                v = decode_image(at, head);
                append(parent, &v);
                stack::pop(1);
            } else {
                fire(err::INTERNAL, err::internal::not_done);
            }
    }
}

void decode_record(kiv_value* parent) {
    nested_record nesting;
    record_head h = read_head();
    const uint8_t* at = h.at;
    uint32_t before = block::length_all(parent);
    if (h.special) {
        kiv_value v;
        if (h.special == COPY_OF) v = resolve_path();
        else if (h.special == LOGIC_TRUE) v = true_value;
        else if (h.special == LOGIC_FALSE) v = false_value;
        else integer::make_at(&v, h.special - SMALL_INTEGER);
        kiv_value* cell = append(parent, &v);
        if (h.new_line) cell->header |= FLAG_NEW_LINE;
        return;
    }
    uint32_t t = h.type;
    if (h.definition && !(t >= TYPE_WORD && t <= TYPE_ISSUE)) invalid_record(at);
    // logic! has its own compact headers.
    bool logic_record = t == TYPE_LOGIC && dec.wide;
    if (t == 0 || (t == TYPE_LOGIC && !logic_record) || t == TYPE_SYMBOL || t == TYPE_SERIES || t >= TYPE_COUNT)
        invalid_record(at);
    if (never_written_q(t)) no_codec_type(t);
    if (!registered_q(t) && t != TYPE_CONTEXT) fire(err::INTERNAL, err::internal::not_done);
    uint32_t head = 0;
    if (has_head_q(t) && (h.b || dec.wide)) head = uint32_t(get_count());
    if (h.reference && (has_head_q(t) || t == TYPE_MAP || t == TYPE_BITSET || t == TYPE_OBJECT || t == TYPE_FUNCTION)) {
        decode_reference(parent, t, head);
    } else if (any_word_q(t) && t != TYPE_ISSUE) {
        decode_word(parent, h);
    } else {
        if (h.reference) invalid_record(at);
        if (block_family_q(t) || t == TYPE_HASH || t == TYPE_MAP) decode_block(parent, t, head);
        else decode_payload(parent, h, head);
    }
    if (h.new_line) block::cells(parent)[before].header |= FLAG_NEW_LINE;
    if (h.definition) {
        // The word, then the value: set it and take both back out.
        kiv_value w = block::cells(parent)[before];
        decode_record(parent);
        kiv_value value = block::cells(parent)[before + 1];
        value.header &= ~FLAG_NEW_LINE;
        w.header = TYPE_WORD;
        _context::set(&w, &value);
        block::ks_set_tail(parent, before);
    }
}

// Body after the header: counts, the symbol table, then records to the
// payload's end.
void decode_body(bool symbols) {
    const uint8_t* at = dec.p;
    get_index();  // the record count: the payload's end is what counts
    int32_t payload_size = get_index();
    dec.symbol_count = 0;
    dec.strings_size = 0;
    if (symbols) {
        int32_t n = get_index();
        int32_t s = get_index();
        if (n < 0 || s < 0) invalid_record(at);
        if (dec.end) {
            int64_t left = dec.end - dec.p;
            if (n > (left >> 2) || s > left - 4 * int64_t(n)) invalid_record(at);
        }
        dec.offsets = dec.p;
        dec.strings = dec.p + 4 * size_t(n);
        if (s > 0 && dec.strings[s - 1] != 0) invalid_record(dec.strings + s - 1);
        dec.symbol_count = n;
        dec.strings_size = s;
        dec.p = dec.strings + s;
    }
    // Each name is interned once, however often the records use it.
    std::vector<int32_t> ids(size_t(dec.symbol_count), -1), slots(size_t(dec.symbol_count), -1);
    dec.symbol_ids = ids.data();
    dec.global_slots = slots.data();
    if (payload_size < 0 || (dec.end && payload_size > dec.end - dec.p)) invalid_record(at);
    const uint8_t* payload_end = dec.p + payload_size;
    const uint8_t* saved_end = dec.end;
    dec.end = payload_end;
    while (dec.p < payload_end) decode_record(&dec.target);
    dec.end = saved_end;
    dec.symbol_ids = nullptr;
    dec.global_slots = nullptr;
}

// Boot data that cannot be read ends the process with an error status: a
// runtime without its boot values cannot do anything useful.
[[noreturn]] void print_and_exit(const char* message) {
    std::fputs(message, stderr);
    std::fputc('\n', stderr);
    std::exit(1);
}

}  // namespace

[[noreturn]] void invalid_record(const uint8_t* position) {
    kiv_value offset;
    integer::make_at(&offset, int32_t(position - dec.start + 1));
    fire(err::SCRIPT, err::script::kb_invalid_record, &offset);
}

std::vector<uint8_t> encode_cp(const kiv_value* value) {
    encoding scope;
    codec_q = true;
    put_record(value);
    return assemble(VERSION, 1);
}

std::vector<uint8_t> encode(const kiv_value* value) {
    encoding scope;
    codec_q = true;
    enc.wide = true;
    put_record(value);
    return assemble(VERSION, 1);
}

kiv_value* decode(const uint8_t* data, kiv_value* target, bool codec, int64_t length) {
    // The decoder's state names nodes (the target, values being filled)
    // outside the cells the collector rewrites: they must not move.
    collector::compaction_guard keep_nodes;
    decoder saved = dec;
    dec = decoder{};
    dec.start = data;
    dec.p = data;
    dec.end = length < 0 ? nullptr : data + length;
    dec.codec = codec;
    dec.target = *target;
    struct restore {
        decoder saved;
        ~restore() { dec = saved; }
    } on_exit{saved};
    if ((dec.end && dec.end - data < int64_t(HEADER_SIZE)) || std::memcmp(data, MAGIC, 6) != 0) {
        if (!codec) print_and_exit("Error: Not a Kivbin file!");
        kiv_value arg = stack::arguments[0];
        fire(err::SCRIPT, err::script::invalid_data, &arg);
    }
    uint8_t flags = data[7];
    dec.p = data + HEADER_SIZE;
    // A compressed body is unpacked first; error offsets then count in the
    // unpacked bytes.
    std::optional<std::vector<uint8_t>> unpacked;
    if (flags & FLAG_COMPRESSED) {
        size_t available = dec.end ? size_t(dec.end - dec.p) : SIZE_MAX;
        unpacked = lz::decompress(dec.p, available);
        if (!unpacked) {
            if (!codec) print_and_exit("Error: Kivbin compressed data corrupted!");
            kiv_value arg = stack::arguments[0];
            fire(err::SCRIPT, err::script::invalid_data, &arg);
        }
        unpacked->reserve(1);  // an empty body still has an address: a null end would mean unbounded
        dec.start = dec.p = unpacked->data();
        dec.end = dec.p + unpacked->size();
    }
    dec.wide = !(flags & FLAG_COMPACT);
    dec.body = dec.p;
    if (dec.wide && dec.end && dec.end - dec.p < int64_t(WIDE_BODY_HEAD)) {
        if (!codec) invalid_record(dec.p);
        kiv_value arg = stack::arguments[0];
        fire(err::SCRIPT, err::script::invalid_data, &arg);
    }
    if (!codec) dec.root_base = block::length_all(target) - target->data1;
    decode_body(flags & FLAG_SYMBOLS);
    return block::cells(target) + target->data1 + dec.root_base;
}

kiv_value* load_boot(const uint8_t* data, int64_t size) {
    codec_q = false;
    bool active = collector::active_q;
    collector::active_q = false;
    kiv_value* result = decode(data, &runtime::root, false, size);
    collector::active_q = active;
    return result;
}

// Boot data writer ------------------------------------------------------------------

boot_writer::boot_writer() {
    static bool registered = false;
    if (!registered) collector::add_mark_callback(mark_registry);
    registered = true;
    enc.reset();
    enc.boot = true;
    codec_q = false;
}

boot_writer::~boot_writer() { enc.reset(); }

void boot_writer::definition(const kiv_value* word, const kiv_value* value) {
    put_byte(DEFINITION);
    kiv_value w = *word;
    w.header = TYPE_SET_WORD;
    w.data1 = _context::global;
    put_record(&w);
    put_record(value);
    enc.counter -= 2;
}

void boot_writer::root(const kiv_value* value) {
    put_record(value);
    uint32_t t = type_of(value);
    if (t == TYPE_OBJECT || t == TYPE_FUNCTION) enc.root_contexts.emplace(value->data1, roots_);
    roots_++;
}

std::vector<uint8_t> boot_writer::finish() { return assemble(BOOT_VERSION, roots_); }

}  // namespace kiv::kivbin
