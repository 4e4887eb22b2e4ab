// object!: making from specs and prototypes, change handlers, form, mold,
// paths, copy and comparison.
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/object.h"
#include "runtime/evaluator/interpreter.h"
#include "tests/unit/action_fixture.h"

using namespace kiv;
using namespace kiv::test;

using Objects = StackTest;

namespace {
kiv_value w(const char* n, uint32_t t = TYPE_WORD) { return word_of(n, t); }
kiv_value blk(std::vector<kiv_value> cells) { return block_of(cells); }
kiv_value make_object(const kiv_value& proto, std::vector<kiv_value> spec) {
    return call(SLOT_MAKE, {proto, blk(spec)});
}
kiv_value path_of(std::vector<kiv_value> cells, uint32_t type = TYPE_PATH) {
    kiv_value p = blk(cells);
    p.header = type;
    return p;
}
}  // namespace

TEST_F(Objects, MakeEvaluatesTheSpecAndGivesNewClasses) {
    kiv_value a = make_object(dtype(TYPE_OBJECT), {w("a", TYPE_SET_WORD), int_value(1), w("b", TYPE_SET_WORD), w("x", TYPE_LIT_WORD)});
    kiv_value b = make_object(dtype(TYPE_OBJECT), {w("a", TYPE_SET_WORD), int_value(1), w("b", TYPE_SET_WORD), w("x", TYPE_LIT_WORD)});
    EXPECT_GT(int32_t(a.data2), object::FIRST_CLASS);
    EXPECT_NE(a.data2, b.data2);
    EXPECT_EQ(molded(a), "make object! [\n    a: 1\n    b: 'x\n]");
    EXPECT_EQ(formed(a), "a: 1\nb: 'x");
    kiv_value same_fields = make_object(a, {w("a", TYPE_SET_WORD), int_value(2)});
    EXPECT_EQ(same_fields.data2, a.data2);
    kiv_value more = make_object(a, {w("c", TYPE_SET_WORD), int_value(3)});
    EXPECT_NE(more.data2, a.data2);
    EXPECT_EQ(int_of(*object::get_field(&same_fields, &(const kiv_value&)w("a"))), 2);
    EXPECT_EQ(int_of(*object::get_field(&a, &(const kiv_value&)w("a"))), 1);  // the prototype is untouched
    EXPECT_TRUE(actions::compare(&a, &b, COMP_EQUAL));
    EXPECT_FALSE(actions::compare(&a, &b, COMP_SAME));
    EXPECT_FALSE(actions::compare(&a, &more, COMP_EQUAL));
}

TEST_F(Objects, SelfIsTheObjectBeingMade) {
    kiv_value o = make_object(dtype(TYPE_OBJECT), {w("me", TYPE_SET_WORD), w("self")});
    kiv_value me = *object::get_field(&o, &(const kiv_value&)w("me"));
    EXPECT_EQ(type_of(&me), uint32_t(TYPE_OBJECT));
    EXPECT_EQ(me.data1, o.data1);
    EXPECT_EQ(molded(o), "make object! [\n    me: make object! [...]\n]");
}

TEST_F(Objects, PathsReadAndSetFields) {
    kiv_value o = make_object(dtype(TYPE_OBJECT), {w("pa", TYPE_SET_WORD), int_value(1)});
    kiv_value name = w("obj-p");
    _context::set(&name, &o);
    kiv_value read = blk({path_of({w("obj-p"), w("pa")})});
    interpreter::eval(&read, false);
    EXPECT_EQ(int_of(*stack::get_top()), 1);
    stack::reset();
    kiv_value set = blk({path_of({w("obj-p"), w("pa")}, TYPE_SET_PATH), int_value(5)});
    interpreter::eval(&set, false);
    EXPECT_EQ(int_of(*object::get_field(&o, &(const kiv_value&)w("pa"))), 5);
    stack::reset();
    stack::mark_try(nullptr);
    kiv_value missing = blk({path_of({w("obj-p"), w("nope")})});
    expect_error(raised([&] { interpreter::eval(&missing, false); }), err::SCRIPT, err::script::invalid_path);
}

TEST_F(Objects, ChangeHandlerSeesWordOldAndNew) {
    // handler-fn: func [word old new] [seen-word: word seen-old: old seen-new: new]
    kiv_value handler = call(SLOT_MAKE, {dtype(TYPE_FUNCTION),
                                         blk({blk({w("word"), w("old"), w("new")}),
                                              blk({w("seen-word", TYPE_SET_WORD), w("word"), w("seen-old", TYPE_SET_WORD),
                                                   w("old"), w("seen-new", TYPE_SET_WORD), w("new")})})});
    kiv_value hw = w("handler-fn");
    _context::set(&hw, &handler);
    kiv_value o = make_object(dtype(TYPE_OBJECT), {w("a", TYPE_SET_WORD), int_value(1), w("on-change*", TYPE_SET_WORD),
                                                  w("handler-fn", TYPE_GET_WORD)});
    EXPECT_NE(o.data3, 0u);
    kiv_value name = w("obj-h");
    _context::set(&name, &o);
    kiv_value set = blk({path_of({w("obj-h"), w("a")}, TYPE_SET_PATH), int_value(5)});
    interpreter::eval(&set, false);
    stack::reset();
    EXPECT_EQ(formed(*_context::get(&(const kiv_value&)w("seen-word"))), "a");
    EXPECT_EQ(int_of(*_context::get(&(const kiv_value&)w("seen-old"))), 1);
    EXPECT_EQ(int_of(*_context::get(&(const kiv_value&)w("seen-new"))), 5);
    // set of the whole object never overwrites the handler itself.
    object::set_many(&o, &(const kiv_value&)int_value(7), false, false, false);
    EXPECT_EQ(int_of(*object::get_field(&o, &(const kiv_value&)w("a"))), 7);
    EXPECT_EQ(type_of(object::get_field(&o, &(const kiv_value&)w("on-change*"))), uint32_t(TYPE_FUNCTION));
    stack::mark_try(nullptr);
    expect_error(raised([&] { make_object(dtype(TYPE_OBJECT), {w("on-change*", TYPE_SET_WORD), int_value(1)}); }),
                 err::SCRIPT, err::script::bad_field_set);
}

TEST_F(Objects, CopyGivesIndependentSeries) {
    kiv_value inner = blk({int_value(1)});
    kiv_value o = make_object(dtype(TYPE_OBJECT), {w("s", TYPE_SET_WORD), inner});
    kiv_value c = call(SLOT_COPY, {o}, {-1, 1, -1});
    kiv_value* cs = object::get_field(&c, &(const kiv_value&)w("s"));
    block::cells(cs)[0] = int_value(9);
    EXPECT_EQ(molded(*object::get_field(&o, &(const kiv_value&)w("s"))), "[1]");
    stack::mark_try(nullptr);
    expect_error(raised([&] { call(SLOT_COPY, {o, int_value(1)}, {1, -1, -1}); }), err::SCRIPT,
                 err::script::invalid_refine_arg);
}

TEST_F(Objects, NestedObjectsMoldWithIndentation) {
    kiv_value inner = make_object(dtype(TYPE_OBJECT), {w("b", TYPE_SET_WORD), int_value(2)});
    kiv_value outer = make_object(dtype(TYPE_OBJECT), {w("a", TYPE_SET_WORD), int_value(1), w("c", TYPE_SET_WORD), inner});
    EXPECT_EQ(molded(outer), "make object! [\n    a: 1\n    c: make object! [\n        b: 2\n    ]\n]");
}

TEST_F(Objects, DeepChangeHandlerGetsSevenArguments) {
    // handler: func [owner word target action new index part] [deep-seen: reduce-free: action deep-part: part]
    kiv_value handler = call(SLOT_MAKE, {dtype(TYPE_FUNCTION),
                                         blk({blk({w("owner"), w("word"), w("target"), w("action"), w("new"), w("index"),
                                                   w("part")}),
                                              blk({w("deep-action", TYPE_SET_WORD), w("action"), w("deep-part", TYPE_SET_WORD),
                                                   w("part")})})});
    kiv_value hw = w("deep-fn");
    _context::set(&hw, &handler);
    kiv_value o = make_object(dtype(TYPE_OBJECT), {w("s", TYPE_SET_WORD), blk({}), w("on-deep-change*", TYPE_SET_WORD),
                                                  w("deep-fn", TYPE_GET_WORD)});
    kiv_value target = *object::get_field(&o, &(const kiv_value&)w("s"));
    kiv_value action = w("appended");
    object::fire_on_deep_change(&o, &(const kiv_value&)w("s"), &target, &action, nullptr, 0, 3);
    EXPECT_EQ(formed(*_context::get(&(const kiv_value&)w("deep-action"))), "appended");
    EXPECT_EQ(int_of(*_context::get(&(const kiv_value&)w("deep-part"))), 3);
}
