// The interpreter: expressions, infix operators, function calls,
// refinements, paths and non-local exits through nested calls.
#include <string>

#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/interpreter.h"
#include "tests/unit/action_fixture.h"
#include "tests/unit/natives_fixture.h"

using namespace kiv;
using namespace kiv::test;

namespace {

kiv_value w(const char* n, uint32_t t = TYPE_WORD) { return word_of(n, t); }
kiv_value blk(std::vector<kiv_value> cells) { return block_of(cells); }

kiv_value empty_paren() {
    kiv_value p = block_of({});
    p.header = TYPE_PAREN;
    return p;
}

void define(const char* name, const kiv_value& value) {
    kiv_value word = word_of(name);
    _context::set(&word, &value);
}

kiv_value action(const char* name, uint32_t slot, std::vector<kiv_value> spec) {
    kiv_value a = call(SLOT_MAKE, {dtype(TYPE_ACTION), blk({blk(spec), int_value(int32_t(slot))})});
    define(name, a);
    return a;
}

void op(const char* name, const kiv_value& callable) { define(name, call(SLOT_MAKE, {dtype(TYPE_OP), callable})); }

// A native that returns its argument from the function that called it.
constexpr int32_t RETURN_NATIVE = 120;
void return_native(bool, const int32_t*) { stack::throw_exit(true, false); }

class Interpreter : public StackTest {
  protected:
    void SetUp() override {
        StackTest::SetUp();
        static bool defined = false;
        if (defined) return;
        defined = true;
        kiv_value v12[] = {w("value1"), w("value2")};
        op("+", action("add", SLOT_ADD, {v12[0], v12[1]}));
        op("*", action("multiply", SLOT_MULTIPLY, {v12[0], v12[1]}));
        action("copy", SLOT_COPY, {w("value"), w("part", TYPE_REFINEMENT), w("length"), w("deep", TYPE_REFINEMENT),
                                   w("types", TYPE_REFINEMENT), w("kind")});
        natives::table[RETURN_NATIVE - 1] = return_native;
        define("ret", call(SLOT_MAKE, {dtype(TYPE_NATIVE), blk({blk({w("value")}), int_value(RETURN_NATIVE)})}));
    }

    // Evaluates a block as a script does and returns its result.
    kiv_value run(const kiv_value& code) {
        kiv_value* base = stack::top;
        interpreter::eval(&code, false);
        kiv_value result = *stack::get_top();
        EXPECT_EQ(stack::top, base + 1) << "the stack keeps exactly the result";
        stack::top = base;
        return result;
    }
};

}  // namespace

TEST_F(Interpreter, LiteralsBlocksAndOperatorsLeftToRight) {
    EXPECT_EQ(type_of_v(run(blk({}))), uint32_t(TYPE_UNSET));
    EXPECT_EQ(int_of(run(blk({int_value(1), int_value(2), int_value(3)}))), 3);
    EXPECT_EQ(int_of(run(blk({int_value(1), w("+"), int_value(2), w("*"), int_value(3)}))), 9);
    EXPECT_EQ(int_of(run(blk({int_value(2), w("*"), int_value(3), w("+"), int_value(1)}))), 7);
    kiv_value paren = blk({int_value(2), w("*"), int_value(3)});
    paren.header = TYPE_PAREN;
    EXPECT_EQ(int_of(run(blk({int_value(1), w("+"), paren}))), 7);
    EXPECT_EQ(int_of(run(blk({w("add"), int_value(1), w("+"), int_value(2), int_value(10)}))), 13);
}

TEST_F(Interpreter, WordsAndTheirVariants) {
    EXPECT_EQ(int_of(run(blk({w("ia", TYPE_SET_WORD), int_value(5), w("ia")}))), 5);
    kiv_value x = run(blk({w("ib", TYPE_SET_WORD), w("x", TYPE_LIT_WORD), w("ib")}));
    EXPECT_EQ(type_of(&x), uint32_t(TYPE_WORD));
    EXPECT_EQ(type_of_v(run(blk({w("add", TYPE_GET_WORD)}))), uint32_t(TYPE_ACTION));
    EXPECT_EQ(type_of_v(run(blk({w("never-set-i", TYPE_GET_WORD)}))), uint32_t(TYPE_UNSET));
    struct Case {
        kiv_value code;
        uint32_t category, id;
    } errors[] = {
        {blk({w("ic", TYPE_SET_WORD)}), err::SCRIPT, err::script::need_value},
        {blk({w("never-set-i")}), err::SCRIPT, err::script::no_value},
        {blk({w("+"), int_value(1), int_value(2)}), err::SCRIPT, err::script::no_op_arg},
        {blk({w("add"), int_value(1)}), err::SCRIPT, err::script::no_arg},
        {blk({w("add"), int_value(1), empty_paren()}), err::SCRIPT, err::script::expect_arg},
        {blk({w("add"), int_value(1), none_value}), err::SCRIPT, err::script::invalid_type},
    };
    for (const Case& c : errors) {
        StackTest::SetUp();
        stack::mark_try(nullptr);
        expect_error(raised([&] { interpreter::eval(&c.code, false); }), err::category(c.category), c.id);
    }
}

TEST_F(Interpreter, FunctionsTakeEvaluatedArgumentsWithLookahead) {
    kiv_value fn = call(SLOT_MAKE, {dtype(TYPE_FUNCTION), blk({blk({w("a"), w("b")}), blk({w("a"), w("+"), w("b")})})});
    define("fab", fn);
    EXPECT_EQ(int_of(run(blk({w("fab"), int_value(1), int_value(2)}))), 3);
    EXPECT_EQ(int_of(run(blk({w("fab"), int_value(1), w("+"), int_value(2), int_value(3)}))), 6);
    kiv_value quoted = call(SLOT_MAKE, {dtype(TYPE_FUNCTION), blk({blk({w("x", TYPE_GET_WORD)}), blk({w("x")})})});
    define("fq", quoted);
    kiv_value paren = blk({int_value(1)});
    paren.header = TYPE_PAREN;
    EXPECT_EQ(type_of_v(run(blk({w("fq"), paren}))), uint32_t(TYPE_PAREN));
    kiv_value literal = call(SLOT_MAKE, {dtype(TYPE_FUNCTION), blk({blk({w("x", TYPE_LIT_WORD)}), blk({w("x")})})});
    define("fl", literal);
    EXPECT_EQ(int_of(run(blk({w("fl"), paren}))), 1);
}

TEST_F(Interpreter, ReturnLeavesTheFunctionThroughNestedCalls) {
    // fr: func [a] [(ret a * 2) 99]
    kiv_value paren = blk({w("ret"), w("a"), w("*"), int_value(2)});
    paren.header = TYPE_PAREN;
    kiv_value fn = call(SLOT_MAKE, {dtype(TYPE_FUNCTION), blk({blk({w("a")}), blk({paren, int_value(99)})})});
    define("fr", fn);
    // The argument is 21 + 1: ordinary arguments take the operator with them.
    EXPECT_EQ(int_of(run(blk({w("fr"), int_value(21), w("+"), int_value(1)}))), 44);
    EXPECT_EQ(sys.pending_exit, uint32_t(LEVEL_NONE));
    EXPECT_EQ(stack::ctop, stack::cbottom);
}

TEST_F(Interpreter, PathsSelectCallWithRefinementsAndSet) {
    kiv_value b = blk({int_value(10), int_value(20), int_value(30)});
    define("pb", b);
    kiv_value p = blk({w("pb"), int_value(2)});
    p.header = TYPE_PATH;
    EXPECT_EQ(int_of(run(blk({p}))), 20);
    kiv_value sp = p;
    sp.header = TYPE_SET_PATH;
    EXPECT_EQ(int_of(run(blk({sp, int_value(99)}))), 99);
    EXPECT_EQ(int_of(block::cells(&b)[1]), 99);
    kiv_value copy_part = blk({w("copy"), w("part")});
    copy_part.header = TYPE_PATH;
    kiv_value r = run(blk({copy_part, w("pb"), int_value(2)}));
    EXPECT_EQ(molded(r), "[10 99]");
    kiv_value twice = blk({w("copy"), w("part"), w("part")});
    twice.header = TYPE_PATH;
    stack::mark_try(nullptr);
    expect_error(raised([&] { interpreter::eval(&(const kiv_value&)blk({twice, w("pb"), int_value(1), int_value(1)}), false); }),
                 err::SCRIPT, err::script::dup_refine);
    StackTest::SetUp();
    kiv_value wrong = blk({w("copy"), w("only")});
    wrong.header = TYPE_PATH;
    stack::mark_try(nullptr);
    expect_error(raised([&] { interpreter::eval(&(const kiv_value&)blk({wrong, w("pb")}), false); }), err::SCRIPT,
                 err::script::no_refine);
}

TEST_F(Interpreter, SetPathsChangeScalarsWhereTheyAreKept) {
    auto set_path = [](std::vector<kiv_value> cells) {
        kiv_value sp = blk(cells);
        sp.header = TYPE_SET_PATH;
        return sp;
    };
    kiv_value pair_cell;
    define("sp", *pair::make_at(&pair_cell, 1, 2));
    EXPECT_EQ(int_of(run(blk({set_path({w("sp"), w("x")}), int_value(5)}))), 5);
    EXPECT_EQ(molded(*_context::get(&(const kiv_value&)w("sp"))), "5x2");
    // Inside a block, and with a selector whose evaluation replaces the pair:
    // the cell is looked up once the selector is known.
    kiv_value b = blk({int_value(0), pair_cell});
    define("sb", b);
    run(blk({set_path({w("sb"), int_value(2), w("y")}), int_value(7)}));
    EXPECT_EQ(molded(b), "[0 1x7]");
    // sp/(sp: 1x2 'y): 9
    kiv_value selector = blk({w("sp", TYPE_SET_WORD), pair_cell, w("y", TYPE_LIT_WORD)});
    selector.header = TYPE_PAREN;
    run(blk({set_path({w("sp"), selector}), int_value(9)}));
    EXPECT_EQ(molded(*_context::get(&(const kiv_value&)w("sp"))), "1x9");
}

TEST_F(Interpreter, DeepRecursionRaisesStackOverflow) {
    // deep: func [n] [deep n]
    kiv_value fn = call(SLOT_MAKE, {dtype(TYPE_FUNCTION), blk({blk({w("n")}), blk({w("deep-i"), w("n")})})});
    define("deep-i", fn);
    stack::mark_try(nullptr);
    expect_error(raised([&] { interpreter::eval(&(const kiv_value&)blk({w("deep-i"), int_value(1)}), false); }),
                 err::INTERNAL, err::internal::stack_overflow);
}

namespace {
// Records the refinement positions a native receives.
int32_t seen_refs[2];
void refs_native(bool, const int32_t* refs) {
    seen_refs[0] = refs[0];
    seen_refs[1] = refs[1];
    copy_cell(&none_value, stack::arguments);
}
}  // namespace

TEST_F(Interpreter, RefinementsReachNativesInSpecOrder) {
    natives::table[119 - 1] = refs_native;
    define("tn", call(SLOT_MAKE, {dtype(TYPE_NATIVE), blk({blk({w("a"), w("x", TYPE_REFINEMENT), w("xa"),
                                                                 w("y", TYPE_REFINEMENT), w("ya")}),
                                                            int_value(119)})}));
    kiv_value path = blk({w("tn"), w("y"), w("x")});
    path.header = TYPE_PATH;
    run(blk({path, int_value(1), int_value(10), int_value(20)}));
    EXPECT_EQ(seen_refs[0], 2);  // /x: its argument came second
    EXPECT_EQ(seen_refs[1], 1);  // /y
    kiv_value plain = blk({w("tn"), int_value(1)});
    run(plain);
    EXPECT_EQ(seen_refs[0], -1);
    EXPECT_EQ(seen_refs[1], -1);
}

TEST_F(Interpreter, FunctionsInObjectsTakeRefinementsFromThePath) {
    // o: make object! [f: func [a /ref] [ref]]
    kiv_value f = call(SLOT_MAKE, {dtype(TYPE_FUNCTION), blk({blk({w("a"), w("ref", TYPE_REFINEMENT)}), blk({w("ref")})})});
    define("f-value", f);
    kiv_value o = call(SLOT_MAKE, {dtype(TYPE_OBJECT), blk({w("f", TYPE_SET_WORD), w("f-value", TYPE_GET_WORD)})});
    define("obj-f", o);
    kiv_value with = blk({w("obj-f"), w("f"), w("ref")});
    with.header = TYPE_PATH;
    EXPECT_TRUE(truth(run(blk({with, int_value(1)}))));
    kiv_value without = blk({w("obj-f"), w("f")});
    without.header = TYPE_PATH;
    EXPECT_FALSE(truth(run(blk({without, int_value(1)}))));
}

TEST_F(Interpreter, ATracerAskingForFetchGetsOnlyFetch) {
    // tracer: func [event code offset value ref frame] [[fetch] trace-count: trace-count + 1 trace-last: event]
    kiv_value counter = w("trace-count");
    kiv_value zero = int_value(0);
    _context::set(&counter, &zero);
    kiv_value body = blk({blk({w("fetch")}), w("trace-count", TYPE_SET_WORD), w("trace-count"), w("+"), int_value(1),
                          w("trace-last", TYPE_SET_WORD), w("event")});
    kiv_value tracer = call(SLOT_MAKE, {dtype(TYPE_FUNCTION),
                                        blk({blk({w("event"), w("code"), w("offset"), w("value"), w("ref"), w("frame")}),
                                             body})});
    *interpreter::tracer = tracer;
    interpreter::event_mask = interpreter::event_mask_of(&tracer);
    EXPECT_EQ(interpreter::event_mask, uint32_t(interpreter::EVT_FETCH));
    interpreter::trace_q = interpreter::tracing_q = true;
    run(blk({int_value(1), w("+"), int_value(2)}));
    interpreter::trace_q = interpreter::tracing_q = false;
    *interpreter::tracer = none_value;
    EXPECT_EQ(int_of(*_context::get(&counter)), 3);  // 1, the operator word, 2
    EXPECT_EQ(formed(*_context::get(&(const kiv_value&)w("trace-last"))), "fetch");
}

// Calls keep the global context's values and the argument lists of recent
// callables at hand between steps. Whatever gives a node another buffer (new
// global words growing the values, a collection compacting) must leave the
// calls reading the current ones.
class InterpreterKept : public NativesTest {};

TEST_F(InterpreterKept, GlobalWordsAfterTheValuesMove) {
    run("kept-x: 5 kept-f: func [a b] [a + b]");
    EXPECT_EQ(int_run("kept-f kept-x 1"), 6);
    for (int i = 0; i < 6000; i++) {
        kiv_value w = *word::load(("kept-word-" + std::to_string(i)).c_str());
        kiv_value v = int_value(i);
        _context::set(&w, &v);
    }
    EXPECT_EQ(int_run("kept-f kept-x 1"), 6);
    EXPECT_EQ(int_run("kept-x: 10 kept-f kept-x kept-word-5999"), 6009);
    collector::do_cycle();
    EXPECT_EQ(int_run("kept-f kept-x kept-word-17"), 27);
}

TEST_F(InterpreterKept, ArgumentListsOfManyCallables) {
    // More functions than the kept lists, of different arities and kinds of
    // argument, called in turn so that they share places among the kept.
    std::string defs, calls = "sum: 0 ";
    int32_t expected = 0;
    for (int i = 0; i < 150; i++) {
        std::string name = "kept-g" + std::to_string(i);
        switch (i % 3) {
            case 0: defs += name + ": func [a] [a + " + std::to_string(i) + "] "; calls += "sum: sum + " + name + " 1 "; break;
            case 1: defs += name + ": func [a b] [a * b] "; calls += "sum: sum + " + name + " 2 " + std::to_string(i) + " "; break;
            default: defs += name + ": func ['w /twice] [either twice [2] [1]] "; calls += "sum: sum + " + name + " x "; break;
        }
        expected += i % 3 == 0 ? 1 + i : i % 3 == 1 ? 2 * i : 1;
    }
    run(defs);
    EXPECT_EQ(int_run(calls + "sum"), expected);
    collector::do_cycle();
    EXPECT_EQ(int_run(calls + "sum"), expected);
    EXPECT_EQ(int_run("kept-g2/twice x"), 2);
    run("kept-t: func [a [integer!]] [a]");
    EXPECT_EQ(int_run("kept-t 3"), 3);
    expect_raises("kept-t \"three\"", err::SCRIPT, err::script::expect_arg);
}
