#pragma once
// Error categories and ids, by their positions in the error catalog.
// The runtime raises an error by naming a category and an id position; the
// catalog (boot data) holds the titles and message templates at the same
// positions, so the two must list them in the same order. An id counts from
// the category's first message (its `code` and `type` fields come before).
#include <cstdint>

namespace kiv::err {

enum category : uint32_t {
    THROW = 0,
    NOTE = 1,
    SYNTAX = 2,
    SCRIPT = 3,
    MATH = 4,
    ACCESS = 5,
    RESERVED1 = 6,
    RESERVED2 = 7,
    USER = 8,
    INTERNAL = 9,
    CATEGORY_COUNT
};

namespace throw_ {
enum id : uint32_t {
    break_ = 0,
    return_ = 1,
    throw_ = 2,
    continue_ = 3,
    while_cond = 4,
};
}

namespace note {
enum id : uint32_t {
    no_load = 0,
};
}

namespace syntax {
enum id : uint32_t {
    invalid = 0,
    missing = 1,
    no_header = 2,
    no_ks_header = 3,
    bad_header = 4,
    malconstruct = 5,
    bad_char = 6,
};
}

namespace script {
enum id : uint32_t {
    no_value = 0,
    need_value = 1,
    not_defined = 2,
    not_in_context = 3,
    no_arg = 4,
    expect_arg = 5,
    expect_val = 6,
    expect_type = 7,
    cannot_use = 8,
    invalid_arg = 9,
    invalid_type = 10,
    invalid_type_spec = 11,
    invalid_key_type = 12,
    invalid_op = 13,
    no_op_arg = 14,
    bad_op_spec = 15,
    invalid_data = 16,
    invalid_part = 17,
    not_same_type = 18,
    not_same_class = 19,
    not_related = 20,
    bad_func_def = 21,
    bad_func_arg = 22,
    bad_func_extern = 23,
    no_refine = 24,
    bad_refines = 25,
    bad_refine = 26,
    dup_refine = 27,
    word_first = 28,
    empty_path = 29,
    unset_path = 30,
    invalid_path = 31,
    invalid_path_set = 32,
    invalid_path_get = 33,
    bad_path_type = 34,
    bad_path_type2 = 35,
    bad_path_set = 36,
    bad_field_set = 37,
    dup_vars = 38,
    past_end = 39,
    missing_arg = 40,
    out_of_range = 41,
    invalid_chars = 42,
    invalid_compare = 43,
    wrong_type = 44,
    invalid_refine_arg = 45,
    type_limit = 46,
    size_limit = 47,
    no_return = 48,
    throw_usage = 49,
    locked_word = 50,
    protected_ = 51,
    bad_bad = 52,
    bad_make_arg = 53,
    bad_to_arg = 54,
    invalid_months = 55,
    invalid_spec_field = 56,
    missing_spec_field = 57,
    move_bad = 58,
    too_long = 59,
    invalid_char = 60,
    bad_loop_series = 61,
    wrong_denom = 62,
    bad_denom = 63,
    invalid_obj_evt = 64,
    parse_rule = 65,
    parse_end = 66,
    parse_invalid_ref = 67,
    parse_block = 68,
    parse_unsupported = 69,
    parse_infinite = 70,
    parse_stack = 71,
    parse_keep = 72,
    parse_into_bad = 73,
    parse_into_type = 74,
    draw_invalid = 75,
    draw_infinite = 76,
    invalid_data_facet = 77,
    face_type = 78,
    not_window = 79,
    bad_window = 80,
    not_linked = 81,
    not_event_type = 82,
    invalid_facet_type = 83,
    vid_invalid_syntax = 84,
    rtd_invalid_syntax = 85,
    rtd_no_match = 86,
    react_bad_func = 87,
    react_not_enough = 88,
    react_no_match = 89,
    react_bad_obj = 90,
    react_gctx = 91,
    lib_invalid_arg = 92,
    kb_invalid_record = 93,
    no_display = 94,
};
}

namespace math {
enum id : uint32_t {
    zero_divide = 0,
    overflow = 1,
    positive = 2,
};
}

namespace access {
enum id : uint32_t {
    cannot_open = 0,
    cannot_close = 1,
    invalid_utf8 = 2,
    not_open = 3,
    no_connect = 4,
    no_scheme = 5,
    unknown_scheme = 6,
    invalid_spec = 7,
    invalid_port = 8,
    invalid_actor = 9,
    no_port_action = 10,
    no_create = 11,
    no_codec = 12,
    bad_media = 13,
    invalid_cmd = 14,
};
}

namespace user {
enum id : uint32_t {
    message = 0,
};
}

namespace internal {
enum id : uint32_t {
    bad_path = 0,
    not_here = 1,
    no_memory = 2,
    wrong_mem = 3,
    stack_overflow = 4,
    limit_hit = 5,
    too_deep = 6,
    no_cycle = 7,
    feature_na = 8,
    not_done = 9,
    invalid_error = 10,
    routines = 11,
    kiv_system = 12,
    deprecated = 13,
};
}

}  // namespace kiv::err
