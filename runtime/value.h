#pragma once
// The value cell: the one record every part of the runtime handles.
#include <cstdint>
#include <cstring>
#include <bit>

namespace kiv {

// Datatype ids: the position of each datatype in the registry.
enum type_id : uint32_t {
    TYPE_DATATYPE = 1, TYPE_UNSET, TYPE_NONE, TYPE_LOGIC, TYPE_BLOCK, TYPE_PAREN,
    TYPE_STRING, TYPE_FILE, TYPE_URL, TYPE_CHAR, TYPE_INTEGER, TYPE_FLOAT,
    TYPE_SYMBOL, TYPE_CONTEXT, TYPE_WORD, TYPE_SET_WORD, TYPE_LIT_WORD,
    TYPE_GET_WORD, TYPE_REFINEMENT, TYPE_ISSUE, TYPE_NATIVE, TYPE_ACTION,
    TYPE_OP, TYPE_FUNCTION, TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH,
    TYPE_GET_PATH, TYPE_ROUTINE, TYPE_BITSET, TYPE_TRIPLE, TYPE_OBJECT,
    TYPE_TYPESET, TYPE_ERROR, TYPE_VECTOR, TYPE_HASH, TYPE_PAIR, TYPE_PERCENT,
    TYPE_TUPLE, TYPE_MAP, TYPE_BINARY, TYPE_SERIES, TYPE_TIME, TYPE_TAG,
    TYPE_EMAIL, TYPE_HANDLE, TYPE_DATE, TYPE_PORT, TYPE_MONEY, TYPE_REF,
    TYPE_POINT2D, TYPE_POINT3D, TYPE_IMAGE, TYPE_EVENT,
    TYPE_COUNT  // one past the last id
};

constexpr uint32_t TYPE_MASK = 0xFF;
constexpr uint32_t FLAG_NEW_LINE = 0x40000000;  // starts a new line when molded

// A node id names a series or context node (0 is no node).
using node_id = uint32_t;

// Four 32-bit words: the header (type id and flags), then the payload. A cell
// never holds a native pointer: nodes, tables and native objects are named by
// 32-bit ids so that the cell stays 16 bytes on a 64-bit machine.
struct alignas(16) kiv_value {
    uint32_t header;
    uint32_t data1;
    uint32_t data2;
    uint32_t data3;
};
static_assert(sizeof(kiv_value) == 16);

inline uint32_t type_of(const kiv_value* v) { return v->header & TYPE_MASK; }

namespace cell {
// Changes the type id and keeps the flags.
inline kiv_value* set_type(kiv_value* v, uint32_t type) {
    v->header = (v->header & ~TYPE_MASK) | type;
    return v;
}
inline kiv_value* clear_flag(kiv_value* v) {
    v->header &= ~FLAG_NEW_LINE;
    return v;
}
// A double lives in payload words 2 and 3.
inline double get_float(const kiv_value* v) {
    uint64_t bits = (uint64_t(v->data3) << 32) | v->data2;
    return std::bit_cast<double>(bits);
}
inline void set_float(kiv_value* v, double d) {
    uint64_t bits = std::bit_cast<uint64_t>(d);
    v->data2 = uint32_t(bits);
    v->data3 = uint32_t(bits >> 32);
}
}  // namespace cell

inline kiv_value* copy_cell(const kiv_value* src, kiv_value* dst) {
    if (src != dst) *dst = *src;
    return dst;
}

}  // namespace kiv
