// typeset!: construction, set operations, membership, comparison and molds.
#include <bit>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/evaluator/interpreter.h"
#include "tests/unit/action_fixture.h"

using namespace kiv;
using namespace kiv::test;

namespace {

kiv_value w(const char* name, uint32_t type = TYPE_WORD) { return word_of(name, type); }

void define(const char* name, const kiv_value& value) {
    kiv_value word = w(name);
    _context::set(&word, &value);
}

kiv_value typeset_of(std::initializer_list<uint32_t> types) {
    kiv_value ts{TYPE_TYPESET, 0, 0, 0};
    for (uint32_t t : types) typeset::set_bit(&ts, t);
    return ts;
}

kiv_value make_ts(const kiv_value& spec) { return call(SLOT_MAKE, {dtype(TYPE_TYPESET), spec}); }

// The set operation on two operands, as the natives and actions call it.
kiv_value set_op(int32_t op, const kiv_value& a, const kiv_value& b) {
    stack::mark_native(nullptr);
    stack::push_value(&a);
    stack::push_value(&b);
    typeset::do_set_op(op);
    kiv_value r = *stack::arguments;
    stack::unwind_drop();
    return r;
}

template <class F>
kiv_value caught(F code) {
    stack::mark_try(nullptr);
    kiv_value e = raised(code);
    sys.pending_exit = LEVEL_NONE;  // taken, as a catching native takes it
    return e;
}

class Typesets : public StackTest {
  protected:
    void SetUp() override {
        StackTest::SetUp();
        // Datatype words hold their datatypes, as the boot data will make them.
        for (uint32_t id = 1; id <= datatype::top_id; id++)
            if (datatype::table[id].name) define(datatype::table[id].name, dtype(id));
        // Only registered datatypes have names to list; this branch of the
        // runtime registers no percent!, so this stands for number!.
        define("number!", typeset_of({TYPE_INTEGER, TYPE_FLOAT}));
    }
};

bool all_bits(const kiv_value& ts) { return ts.data1 == ~0u && ts.data2 == ~0u && ts.data3 == ~0u; }

uint32_t registered_types() {
    uint32_t n = 0;
    for (uint32_t id = 1; id <= datatype::top_id; id++)
        if (datatype::table[id].name) n++;
    return n;
}

}  // namespace

TEST_F(Typesets, BitLayout) {
    kiv_value ts = typeset_of({TYPE_DATATYPE, TYPE_INTEGER, TYPE_EVENT});
    const uint8_t* bytes = typeset::bits_of(&ts);
    EXPECT_EQ(bytes[0], 0x40);  // id 1
    EXPECT_EQ(bytes[1], 0x10);  // id 11
    EXPECT_EQ(bytes[6], 0x02);  // id 54
    EXPECT_TRUE(typeset::has_q(&ts, TYPE_INTEGER));
    EXPECT_FALSE(typeset::has_q(&ts, TYPE_FLOAT));
    EXPECT_FALSE(typeset::has_q(&ts, 200));
    // Only the registered types count: event! comes with the GUI backend.
    EXPECT_EQ(typeset::count(&ts), datatype::table[TYPE_EVENT].name ? 3u : 2u);
}

TEST_F(Typesets, MakeFromBlocksAndTypesets) {
    kiv_value ts = make_ts(block_of({w("logic!"), w("number!")}));
    EXPECT_EQ(type_of_v(ts), uint32_t(TYPE_TYPESET));
    for (uint32_t t : {TYPE_LOGIC, TYPE_INTEGER, TYPE_FLOAT}) EXPECT_TRUE(typeset::has_q(&ts, t)) << t;
    EXPECT_EQ(typeset::count(&ts), 3u);
    kiv_value direct = make_ts(block_of({dtype(TYPE_BLOCK), typeset_of({TYPE_PAREN})}));
    EXPECT_EQ(typeset::count(&direct), 2u);
    kiv_value same = make_ts(ts);
    EXPECT_EQ(same.data1, ts.data1);
    kiv_value converted = call(SLOT_TO, {dtype(TYPE_TYPESET), block_of({w("float!")})});
    EXPECT_TRUE(typeset::has_q(&converted, TYPE_FLOAT));

    kiv_value one = caught([] { make_ts(block_of({int_value(1)})); });
    expect_error(one, err::SCRIPT, err::script::invalid_arg);
    EXPECT_EQ(int_of(*error::field(&one, error::FIELD_ARG1)), 1);
    // A word is named as given, not by its value.
    define("not-a-type", int_value(3));
    kiv_value word_arg = caught([] { make_ts(block_of({w("not-a-type")})); });
    expect_error(word_arg, err::SCRIPT, err::script::invalid_arg);
    EXPECT_EQ(type_of(error::field(&word_arg, error::FIELD_ARG1)), uint32_t(TYPE_WORD));
    expect_error(caught([] { make_ts(block_of({w("no-such-type-word")})); }), err::SCRIPT, err::script::no_value);
    expect_error(caught([] { make_ts(int_value(5)); }), err::SCRIPT, err::script::bad_make_arg);
}

TEST_F(Typesets, TypeBlocksOfFunctionSpecs) {
    define("a-word", w("something"));
    kiv_value list = block_of({});
    kiv_value types = block_of({w("logic!"), block_of({int_value(1)}), w("a-word"), w("number!")});
    kiv_value* ts = typeset::make_from_block(&list, &types);
    for (uint32_t t : {TYPE_LOGIC, TYPE_INTEGER, TYPE_FLOAT, TYPE_OBJECT}) EXPECT_TRUE(typeset::has_q(ts, t)) << t;
    EXPECT_EQ(std::popcount(ts->data1) + std::popcount(ts->data2) + std::popcount(ts->data3), 4);
    EXPECT_EQ(length_of(list), 1u);
    kiv_value bad = caught([&] {
        kiv_value types = block_of({w("integer!"), int_value(1)});
        typeset::make_from_block(&list, &types);
    });
    expect_error(bad, err::SCRIPT, err::script::invalid_type_spec);
    EXPECT_EQ(int_of(*error::field(&bad, error::FIELD_ARG1)), 1);
    kiv_value* all = typeset::make_default_in(&list);
    EXPECT_FALSE(typeset::has_q(all, TYPE_UNSET));
    EXPECT_TRUE(typeset::has_q(all, 0));
    EXPECT_TRUE(typeset::has_q(all, 95));
    EXPECT_EQ(typeset::count(all), registered_types() - 1);
}

TEST_F(Typesets, MoldAndForm) {
    kiv_value numbers = typeset_of({TYPE_FLOAT, TYPE_INTEGER});
    EXPECT_EQ(molded(numbers), "make typeset! [integer! float!]");
    EXPECT_EQ(formed(numbers), "make typeset! [integer! float!]");
    EXPECT_EQ(text_of(call(SLOT_MOLD, {numbers}, {1, -1, -1, -1})), "integer! float!");
    kiv_value empty = typeset_of({});
    EXPECT_EQ(molded(empty), "make typeset! []");
    // /only of an empty typeset writes nothing at all.
    kiv_value buffer = str("abc");
    actions::mold_typed(&empty, &buffer, true, false, false, nullptr, 100, 0);
    EXPECT_EQ(text_of(buffer), "abc");
    // /part stops the walk once the limit is used up.
    EXPECT_EQ(text_of(call(SLOT_MOLD, {typeset_of({TYPE_INTEGER, TYPE_FLOAT, TYPE_BLOCK}), int_value(3)}, {-1, -1, -1, 1})),
              "mak");
    kiv_value part = int_value(20);
    kiv_value out = str("");
    actions::mold_typed(&numbers, &out, false, false, false, &part, 20, 0);
    EXPECT_EQ(text_of(out), "make typeset! [integer!]");
}

TEST_F(Typesets, ComplementSetsEveryBit) {
    kiv_value all = call(SLOT_COMPLEMENT, {make_ts(block_of({}))});
    EXPECT_TRUE(all_bits(all));
    std::string expected = "make typeset! [";
    for (uint32_t id = 1; id <= datatype::top_id; id++)
        if (datatype::table[id].name) expected += std::string(datatype::table[id].name) + " ";
    expected.back() = ']';
    EXPECT_EQ(molded(all), expected);
}

TEST_F(Typesets, Find) {
    kiv_value numbers = typeset_of({TYPE_INTEGER, TYPE_FLOAT, TYPE_PERCENT});
    std::vector<int32_t> refs(11, -1);
    EXPECT_TRUE(truth(call(SLOT_FIND, {numbers, dtype(TYPE_INTEGER)}, refs)));
    EXPECT_TRUE(truth(call(SLOT_FIND, {numbers, dtype(TYPE_PERCENT)}, refs)));
    EXPECT_FALSE(truth(call(SLOT_FIND, {numbers, dtype(TYPE_STRING)}, refs)));
    refs[7] = 2;  // /last changes nothing
    EXPECT_TRUE(truth(call(SLOT_FIND, {numbers, dtype(TYPE_FLOAT)}, refs)));
    kiv_value e = caught([&] { call(SLOT_FIND, {numbers, int_value(5)}); });
    expect_error(e, err::SCRIPT, err::script::invalid_arg);
    EXPECT_EQ(int_of(*error::field(&e, error::FIELD_ARG1)), 5);
}

TEST_F(Typesets, SetOperations) {
    kiv_value numbers = typeset_of({TYPE_INTEGER, TYPE_FLOAT, TYPE_LOGIC});
    kiv_value lists = typeset_of({TYPE_BLOCK, TYPE_PAREN});
    kiv_value mixed = typeset_of({TYPE_INTEGER, TYPE_BLOCK});
    kiv_value u = set_op(OP_UNION, numbers, dtype(TYPE_BLOCK));
    EXPECT_EQ(typeset::count(&u), 4u);
    EXPECT_TRUE(typeset::has_q(&u, TYPE_BLOCK));
    kiv_value holder = block_of({});
    kiv_value everything = *typeset::make_default_in(&holder);
    kiv_value rest = set_op(OP_EXCLUDE, everything, numbers);
    EXPECT_FALSE(typeset::has_q(&rest, TYPE_INTEGER));
    EXPECT_FALSE(typeset::has_q(&rest, TYPE_LOGIC));
    EXPECT_TRUE(typeset::has_q(&rest, TYPE_BLOCK));
    kiv_value common = set_op(OP_INTERSECT, numbers, mixed);
    EXPECT_EQ(typeset::count(&common), 1u);
    kiv_value diff = set_op(OP_DIFFERENCE, numbers, mixed);
    EXPECT_EQ(molded(diff), "make typeset! [logic! block! float!]");
    EXPECT_EQ(set_op(OP_UNIQUE, lists, int_value(9)).data1, lists.data1);
    expect_error(caught([&] { set_op(OP_UNION, numbers, int_value(1)); }), err::SCRIPT, err::script::invalid_arg);

    // The bitwise actions are the same operations.
    EXPECT_EQ(call(SLOT_OR_T, {numbers, lists}).data1, set_op(OP_UNION, numbers, lists).data1);
    kiv_value both = call(SLOT_AND_T, {numbers, mixed});
    EXPECT_EQ(molded(both), "make typeset! [integer!]");
    kiv_value either = call(SLOT_XOR_T, {numbers, mixed});
    EXPECT_EQ(molded(either), "make typeset! [logic! block! float!]");
}

TEST_F(Typesets, Compare) {
    kiv_value a = typeset_of({TYPE_INTEGER, TYPE_FLOAT});
    kiv_value b = make_ts(block_of({w("float!"), w("integer!")}));
    kiv_value c = typeset_of({TYPE_INTEGER});
    EXPECT_TRUE(actions::compare(&a, &b, COMP_EQUAL));
    EXPECT_TRUE(actions::compare(&a, &b, COMP_STRICT_EQUAL));
    EXPECT_TRUE(actions::compare(&a, &b, COMP_SAME));
    EXPECT_TRUE(actions::compare(&a, &c, COMP_NOT_EQUAL));
    // The argument kind bits of a spec typeset do not matter.
    kiv_value marked = a;
    marked.header |= 2u << 20;
    EXPECT_TRUE(actions::compare(&a, &marked, COMP_EQUAL));
    EXPECT_EQ(actions::compare_values(&c, &a, COMP_SORT), -1);
    EXPECT_EQ(actions::compare_values(&a, &c, COMP_CASE_SORT), 1);
    kiv_value n = int_value(1);
    EXPECT_EQ(actions::compare_values(&a, &n, COMP_EQUAL), COMPARE_INCOMPARABLE);
    expect_error(caught([&] { actions::compare(&a, &c, COMP_LESSER); }), err::SCRIPT, err::script::invalid_compare);
}

TEST_F(Typesets, ToBlockListsTheTypeWords) {
    kiv_value blk = call(SLOT_TO, {dtype(TYPE_BLOCK), typeset_of({TYPE_FLOAT, TYPE_INTEGER})});
    ASSERT_EQ(type_of_v(blk), uint32_t(TYPE_BLOCK));
    ASSERT_EQ(length_of(blk), 2u);
    EXPECT_EQ(type_of(cells_of(blk)), uint32_t(TYPE_WORD));
    EXPECT_EQ(molded(blk), "[integer! float!]");
}

TEST_F(Typesets, ArgumentTypesAreCheckedAgainstTheSpecTypeset) {
    kiv_value spec = block_of({w("n"), block_of({w("integer!")})});
    kiv_value fn = call(SLOT_MAKE, {dtype(TYPE_FUNCTION), block_of({spec, block_of({w("n")})})});
    define("only-integers", fn);
    kiv_value code = block_of({w("only-integers"), str("text")});
    kiv_value e = caught([&] { interpreter::eval(&code, false); });
    expect_error(e, err::SCRIPT, err::script::expect_arg);
    EXPECT_EQ(error::field(&e, error::FIELD_ARG2)->data1, uint32_t(TYPE_STRING));
}
