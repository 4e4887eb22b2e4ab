// The natives table, and what the natives share.
#include "runtime/evaluator/natives.h"

#include <array>
#include <cmath>

#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/evaluator/native_support.h"
#include "runtime/runtime.h"

namespace kiv::natives {

void not_done(bool, const int32_t*) { fire(err::INTERNAL, err::internal::not_done); }

namespace {
uint32_t print_buffer_index;  // in the root block
}  // namespace

kiv_value* print_buffer() { return block::cells(&runtime::root) + print_buffer_index; }

// One line per native, in the order of their numbers (native n is entry n).
void init() {
    print_buffer_index = block::length_all(&runtime::root);
    block::append_value(&runtime::root, 32);
    register_({
        if_,                 //   1 if
        unless,              //   2 unless
        either,              //   3 either
        any,                 //   4 any
        all,                 //   5 all
        while_,              //   6 while
        until,               //   7 until
        loop,                //   8 loop
        repeat,              //   9 repeat
        forever,             //  10 forever
        foreach,             //  11 foreach
        forall,              //  12 forall
        remove_each,         //  13 remove-each
        func,                //  14 func
        function,            //  15 function
        does,                //  16 does
        has,                 //  17 has
        switch_,             //  18 switch
        case_,               //  19 case
        do_,                 //  20 do
        get,                 //  21 get
        set,                 //  22 set
        print,               //  23 print
        prin,                //  24 prin
        equal_q,             //  25 equal?
        not_equal_q,         //  26 not-equal?
        strict_equal_q,      //  27 strict-equal?
        lesser_q,            //  28 lesser?
        greater_q,           //  29 greater?
        lesser_or_equal_q,   //  30 lesser-or-equal?
        greater_or_equal_q,  //  31 greater-or-equal?
        same_q,              //  32 same?
        not_,                //  33 not
        type_q,              //  34 type?
        reduce,              //  35 reduce
        compose,             //  36 compose
        stats,               //  37 stats
        bind,                //  38 bind
        in,                  //  39 in
        parse,               //  40 parse
        union_,              //  41 union
        intersect,           //  42 intersect
        unique,              //  43 unique
        difference,          //  44 difference
        exclude,             //  45 exclude
        complement_q,        //  46 complement?
        dehex,               //  47 dehex
        enhex,               //  48 enhex
        negative_q,          //  49 negative?
        positive_q,          //  50 positive?
        max,                 //  51 max
        min,                 //  52 min
        shift,               //  53 shift
        to_hex,              //  54 to-hex
        sine,                //  55 sine
        cosine,              //  56 cosine
        tangent,             //  57 tangent
        arcsine,             //  58 arcsine
        arccosine,           //  59 arccosine
        arctangent,          //  60 arctangent
        arctangent2,         //  61 arctangent2
        NaN_q,               //  62 NaN?
        log_2,               //  63 log-2
        log_10,              //  64 log-10
        log_e,               //  65 log-e
        exp,                 //  66 exp
        square_root,         //  67 square-root
        construct,           //  68 construct
        value_q,             //  69 value?
        try_,                //  70 try
        uppercase,           //  71 uppercase
        lowercase,           //  72 lowercase
        as_pair,             //  73
        as_point2D,          //  74
        as_point3D,          //  75
        as_money,            //  76
        break_,              //  77 break
        continue_,           //  78 continue
        exit,                //  79 exit
        return_,             //  80 return
        throw_,              //  81 throw
        catch_,              //  82 catch
        extend,              //  83 extend
        debase,              //  84
        to_local_file,       //  85 to-local-file
        wait,                //  86 wait
        checksum,            //  87 checksum
        unset,               //  88 unset
        new_line,            //  89 new-line
        new_line_q,          //  90 new-line?
        enbase,              //  91
        context_q,           //  92 context?
        set_env,             //  93 set-env
        get_env,             //  94 get-env
        list_env,            //  95 list-env
        now,                 //  96 now
        sign_q,              //  97 sign?
        as,                  //  98 as
        call,                //  99 call
        zero_q,              // 100 zero?
        size_q,              // 101 size?
        browse,              // 102 browse
        compress,            // 103 compress
        decompress,          // 104 decompress
        recycle,             // 105 recycle
        transcode,           // 106 transcode
        apply,               // 107 apply
    });
}

// Shared by the natives ---------------------------------------------------------

kiv_value name_word(const char* name) { return *word::load(name); }

const kiv_value* body_word() {
    static const kiv_value w = name_word("<body>");
    return &w;
}

void fire_expect(const kiv_value* value, const char* argument) {
    kiv_value called = *stack::get_call();
    kiv_value dt;
    datatype::make_at(&dt, type_of(value));
    kiv_value a = name_word(argument);
    fire(err::SCRIPT, err::script::expect_arg, &called, &dt, &a);
}

void fire_invalid(const kiv_value* value) {
    kiv_value v = *value;
    fire(err::SCRIPT, err::script::invalid_arg, &v);
}

int32_t count_of(const kiv_value* count) {
    if (type_of(count) != TYPE_FLOAT) return integer::get_value(count);
    if (float_::integer_range_q(count)) {
        kiv_value dt;
        datatype::make_at(&dt, TYPE_INTEGER);
        fire(err::SCRIPT, err::script::type_limit, &dt);
    }
    return int32_t(std::trunc(float_::get(count)));
}

bool word_available_q(const kiv_value* word) {
    node_id ctx = word->data1;
    if (!ctx || word::index_of(word) < 0) return false;
    return !_context::on_stack_q(ctx) || _context::cell_of(ctx)->data2 != 0;
}

kiv_value call_action(uint32_t slot, std::initializer_list<kiv_value> args, std::initializer_list<int32_t> refs) {
    std::array<int32_t, 16> r;
    r.fill(-1);
    uint32_t i = 0;
    for (int32_t x : refs) r[i++] = x;
    stack::mark_native(nullptr);
    for (const kiv_value& a : args) stack::push_value(&a);
    actions::dispatch_table[slot](r.data());
    kiv_value result = *stack::arguments;
    stack::unwind_drop();
    return result;
}

}  // namespace kiv::natives
