// Control-flow natives: conditionals, loops, evaluation, and break,
// continue, return, exit and throw through nested loops and calls.
#include "runtime/evaluator/natives.h"
#include "tests/unit/natives_fixture.h"

using namespace kiv;
using namespace kiv::test;

namespace {

using Natives = NativesTest;

constexpr uint32_t UNSET = TYPE_UNSET;
constexpr uint32_t NONE = TYPE_NONE;

}  // namespace

TEST_F(Natives, TableHoldsEveryNativeInOrder) {
    EXPECT_EQ(natives::count, 107u);
    for (uint32_t i = 0; i < 107; i++) EXPECT_NE(natives::table[i], nullptr) << "slot " << i + 1;
    EXPECT_EQ(natives::table[0], &natives::if_);
    EXPECT_EQ(natives::table[79], &natives::return_);
    EXPECT_EQ(natives::table[106], &natives::apply);
    kiv_value f = run(":if");
    EXPECT_EQ(type_of(&f), uint32_t(TYPE_NATIVE));
    EXPECT_EQ(f.data1, 1u);
    EXPECT_EQ(run(":apply").data1, 107u);
    EXPECT_EQ(natives::table[98], &natives::call);
    EXPECT_EQ(natives::table[101], &natives::browse);
    for (uint32_t i = 0; i < 107; i++) EXPECT_NE(natives::table[i], &natives::not_done) << "slot " << i + 1;
}

TEST_F(Natives, ConditionalsUseTheLenientOrTheStrictTest) {
    EXPECT_EQ(int_run("if true [1]"), 1);
    EXPECT_EQ(type_run("if false [1]"), NONE);
    EXPECT_EQ(type_run("if none [1]"), NONE);
    EXPECT_EQ(int_run("if 0 [1]"), 1);
    EXPECT_EQ(int_run("if () [1]"), 1);
    EXPECT_EQ(type_run("if true []"), UNSET);
    EXPECT_EQ(type_run("unless true [1]"), NONE);
    EXPECT_EQ(int_run("unless none [2]"), 2);
    EXPECT_EQ(type_run("unless () [2]"), NONE);
    EXPECT_EQ(int_run("either true [1] [2]"), 1);
    EXPECT_EQ(int_run("either false [1] [2]"), 2);
    EXPECT_EQ(int_run("either 1 + 1 = 2 [1] [2]"), 1);
    expect_raises("either () [1] [2]", err::SCRIPT, err::script::no_return);
}

TEST_F(Natives, AnyAndAll) {
    EXPECT_EQ(type_run("any []"), NONE);
    EXPECT_EQ(type_run("all []"), NONE);
    EXPECT_EQ(int_run("all [1 2]"), 2);
    EXPECT_EQ(int_run("any [none 3]"), 3);
    EXPECT_EQ(int_run("any [false none 1 + 2 4]"), 3);
    EXPECT_EQ(type_run("any [false none]"), NONE);
    EXPECT_EQ(type_run("all [1 none 2]"), NONE);
    EXPECT_EQ(type_run("any [()]"), UNSET);  // unset counts as true
    EXPECT_EQ(type_run("all [1 ()]"), UNSET);
    // Evaluation stops at the deciding value.
    run("anyx: 0 any [anyx: 1 true anyx: 2]");
    EXPECT_EQ(int_run("anyx"), 1);
    run("allx: 0 all [allx: 1 false allx: 2]");
    EXPECT_EQ(int_run("allx"), 1);
}

TEST_F(Natives, Case) {
    EXPECT_EQ(int_run("case [false [1] true [2]]"), 2);
    EXPECT_EQ(type_run("case [false [1] none [2]]"), NONE);
    EXPECT_EQ(int_run("case/all [true [1] true [2]]"), 2);
    EXPECT_EQ(int_run("case [1 = 2 [1] 2 = 2 10 + 1]"), 11);
    run("casen: 0 case/all [true [casen: casen + 1] false [casen: 100] true [casen: casen + 10]]");
    EXPECT_EQ(int_run("casen"), 11);
    EXPECT_EQ(type_run("case/all [false [1]]"), NONE);
    expect_raises("case [true]", err::SCRIPT, err::script::need_value);
    expect_raises("case [() [1]]", err::SCRIPT, err::script::no_return);
}

TEST_F(Natives, Switch) {
    run("switchb: 0");
    EXPECT_EQ(int_run("switch 2 [1 [10] 2 3 [30]]"), 30);
    EXPECT_EQ(int_run("switch 1 [1 [10] 2 3 [30]]"), 10);
    EXPECT_EQ(type_run("switch 4 [1 [10] 2 3 [30]]"), NONE);
    EXPECT_EQ(int_run("switch/default 4 [1 [10]] [99]"), 99);
    EXPECT_EQ(type_run("switch 3 [1 [10] 3]"), NONE);  // a match without a block after it
    EXPECT_EQ(int_run("switch 'b [a [1] b [2]]"), 2);
    EXPECT_EQ(int_run("switch [1 2] [[1] [10] [1 2] [20]]"), 20);  // a block is one value
    EXPECT_EQ(type_run("switch 2.0 [1 [10] 2 [20]]"), NONE);  // find's rules: 2.0 is not found as 2
}

TEST_F(Natives, LoopsAndTheirResults) {
    EXPECT_EQ(type_run("loop 0 [x]"), NONE);
    EXPECT_EQ(type_run("loop -1 [x]"), NONE);
    EXPECT_EQ(int_run("n: 0 loop 2.9 [n: n + 1] n"), 2);
    EXPECT_EQ(int_run("n: 0 loop 3 [n: n + 1]"), 3);
    EXPECT_EQ(int_run("loop 3 [break/return 5]"), 5);
    EXPECT_EQ(type_run("loop 3 [break]"), UNSET);
    EXPECT_EQ(type_run("while [true] [break/return 5]"), UNSET);
    EXPECT_EQ(int_run("n: 0 while [n < 5] [n: n + 1] n"), 5);
    EXPECT_EQ(type_run("n: 0 while [n < 5] [n: n + 1]"), UNSET);
    EXPECT_EQ(int_run("n: 0 until [n: n + 1 n = 4] n"), 4);
    EXPECT_EQ(logic_run("n: 0 until [n: n + 1 n = 4]"), true);
    EXPECT_EQ(int_run("until [break/return 7]"), 7);
    EXPECT_EQ(int_run("n: 0 until [n: n + 1 if n < 3 [continue] true] n"), 3);
    EXPECT_EQ(int_run("forever [break/return 8]"), 8);
    EXPECT_EQ(int_run("n: 0 forever [n: n + 1 if n = 10 [break]] n"), 10);
    expect_raises("until [()]", err::SCRIPT, err::script::no_return);
    expect_raises("while [()] [1]", err::SCRIPT, err::script::no_return);
    expect_raises("loop 3e10 [1]", err::SCRIPT, err::script::type_limit);
}

TEST_F(Natives, RepeatSetsItsCounterWord) {
    EXPECT_EQ(int_run("s: 0 repeat i 4 [s: s + i] s"), 10);
    EXPECT_EQ(int_run("repeat i 4 [i * 2]"), 8);
    EXPECT_EQ(int_run("i"), 4);  // not local: keeps its last value
    EXPECT_EQ(type_run("repeat j 0 [1]"), NONE);
    EXPECT_EQ(int_run("repeat k 10 [if k = 3 [break/return k * 100]]"), 300);
}

TEST_F(Natives, BreakAndContinueTakeTheInnermostLoop) {
    EXPECT_EQ(int_run("n: 0 loop 3 [loop 5 [n: n + 1 break] n: n + 10] n"), 33);
    EXPECT_EQ(int_run("n: 0 loop 3 [loop 5 [n: n + 1 continue n: n + 100]] n"), 15);
    EXPECT_EQ(int_run("n: 0 repeat i 6 [if i = 3 [continue] n: n + i] n"), 18);
    // Through a paren, a do and a nested conditional.
    EXPECT_EQ(int_run("loop 3 [do [(if true [break/return 4])]]"), 4);
    // A break in a function called from a loop body ends that loop.
    EXPECT_EQ(int_run("fb: func [] [break/return 9] loop 3 [fb]"), 9);
    expect_raises("break", err::THROW, err::throw_::break_);
    expect_raises("continue", err::THROW, err::throw_::continue_);
    expect_error(run("loop 2 [try/all [break]]"), err::THROW, err::throw_::break_);
    expect_raises("while [break] [1]", err::THROW, err::throw_::while_cond);
    expect_raises("while [continue] [1]", err::THROW, err::throw_::while_cond);
    // The while-cond error is the loop's, not an outer loop's break.
    EXPECT_EQ(type_of_v(run("loop 1 [try [while [break] [1]]]")), uint32_t(TYPE_ERROR));
}

TEST_F(Natives, ForeachWalksRecords) {
    EXPECT_EQ(int_run("s: 0 foreach x [1 2 3] [s: s + x] s"), 6);
    EXPECT_EQ(type_run("foreach x [] [1]"), UNSET);
    EXPECT_EQ(int_run("foreach x [1 2 3] [x * 10]"), 30);
    EXPECT_EQ(mold_of("out: copy [] foreach [a b] [1 2 3 4 5] [append out reduce [b a]] out"), "[2 1 4 3 none 5]");
    EXPECT_EQ(int_run("b: next [1 2 3] s: 0 foreach x b [s: s + x] s"), 5);
    EXPECT_EQ(mold_of("b: [1 2 3] foreach x b [x] b"), "[1 2 3]");  // the position is not changed
    EXPECT_EQ(int_run("foreach x [1 2 3 4] [if x = 3 [break/return x * 7]]"), 21);
    EXPECT_EQ(int_run("s: 0 foreach x [1 2 3 4] [if x = 2 [continue] s: s + x] s"), 8);
    // A path value walks its elements like a block.
    EXPECT_EQ(int_run("n: 0 foreach x 'a/b/c [n: n + 1] n"), 3);
    expect_raises("foreach [] [1 2] [1]", err::SCRIPT, err::script::invalid_arg);
    expect_raises("foreach [a 1] [1 2] [1]", err::SCRIPT, err::script::invalid_arg);
}

TEST_F(Natives, ForallMovesTheWordAndPutsItBack) {
    EXPECT_EQ(int_run("fa: [1 2 3] s: 0 forall fa [s: s + fa/1] s"), 6);
    EXPECT_EQ(int_run("index? fa"), 1);
    EXPECT_EQ(int_run("fa: [1 2 3] forall fa [if fa/1 = 2 [break]] index? fa"), 2);
    EXPECT_EQ(int_run("fa: [1 2 3] forall fa [length? fa]"), 1);
    EXPECT_EQ(type_run("fa: tail [1 2 3] forall fa [1]"), UNSET);
    EXPECT_EQ(mold_of("fa: [1 2 3] out: copy [] forall fa [append out fa/1 * 2] out"), "[2 4 6]");
    expect_raises("fa: [1 2 3] forall fa [fa: [4 5]]", err::SCRIPT, err::script::bad_loop_series);
    expect_raises("fa: 5 forall fa [1]", err::SCRIPT, err::script::expect_arg);
}

TEST_F(Natives, RemoveEachRemovesRecordsAtOnce) {
    EXPECT_EQ(mold_of("re: [1 2 3 4 5 6] remove-each x re [x > 3] re"), "[1 2 3]");
    EXPECT_EQ(mold_of("remove-each x [1 2 3 4 5 6] [x % 2 = 0]"), "[1 3 5]");
    EXPECT_EQ(mold_of("remove-each [a b] [1 2 3 4 5 6] [a = 3]"), "[1 2 5 6]");
    EXPECT_EQ(mold_of("remove-each x [1 2 3] [()]"), "[]");  // unset counts as true
    EXPECT_EQ(mold_of("remove-each x next [1 2 3] [true]"), "[]");
    EXPECT_EQ(mold_of("re: [1 2 3] remove-each x next re [true] re"), "[1]");
    EXPECT_EQ(mold_of("re: [1 2 3 4] remove-each x re [if x = 3 [break] true] re"), "[3 4]");
    // Records that the body sees are those left in place.
    EXPECT_EQ(mold_of("seen: copy [] remove-each x [1 2 3] [append seen x true] seen"), "[1 2 3]");
}

TEST_F(Natives, DoEvaluatesByDatatype) {
    EXPECT_EQ(type_run("do []"), UNSET);
    EXPECT_EQ(int_run("do [1 2 3]"), 3);
    EXPECT_EQ(int_run("do next [1 2 3]"), 3);
    EXPECT_EQ(type_run("do tail [1 2 3]"), UNSET);
    EXPECT_EQ(int_run("do 5"), 5);
    EXPECT_EQ(int_run("dv: 6 do 'dv"), 6);
    EXPECT_EQ(int_run("do pick [(1 + 2)] 1"), 3);
    EXPECT_EQ(int_run("db: [10 20] do 'db/2"), 20);
    EXPECT_EQ(type_run("do :add"), uint32_t(TYPE_ACTION));  // a function value is data
    expect_raises("do 'add", err::SCRIPT, err::script::no_arg);
    EXPECT_EQ(int_run("do/next [1 + 2 3] 'p"), 3);
    EXPECT_EQ(mold_of("do/next [1 + 2 3] 'p p"), "[3]");
    EXPECT_EQ(type_run("do/next [] 'p"), UNSET);
    // A string is scanned into a block first, refinements included.
    EXPECT_EQ(int_run("do \"1 + 2 * 3\""), 9);
    EXPECT_EQ(mold_of("do/next \"1 + 2 3\" 'p p"), "[3]");
    expect_raises("do try [1 / 0]", err::MATH, err::math::zero_divide);
    EXPECT_EQ(int_run("do/expand [#either 1 < 2 [3] [4]]"), 3);  // directives first
}

TEST_F(Natives, ReturnAndExitLeaveTheFunction) {
    EXPECT_EQ(int_run("fr1: func [a] [return a * 2 99] fr1 21"), 42);
    EXPECT_EQ(type_run("fe1: func [] [exit 99] fe1"), UNSET);
    // From inside loops, conditionals, parens and do.
    EXPECT_EQ(int_run("fr2: func [] [loop 10 [repeat i 10 [if i = 4 [return i]]] 0] fr2"), 4);
    EXPECT_EQ(int_run("fr3: func [] [foreach x [1 2 3] [while [true] [do [(return x * 5)]]]] fr3"), 5);
    EXPECT_EQ(int_run("fr4: func [] [either true [return 1] [2] 3] fr4 + 10"), 11);
    // Return ends only the innermost function.
    EXPECT_EQ(int_run("inner: func [] [return 1 2] outer: func [] [inner + 10] outer"), 11);
    // Through try: try lets return pass.
    EXPECT_EQ(int_run("fr5: func [] [try [return 6] 7] fr5"), 6);
    // Recursion keeps each level's values.
    EXPECT_EQ(int_run("fact: func [n] [if n < 2 [return 1] n * fact n - 1] fact 10"), 3628800);
    expect_raises("return 1", err::THROW, err::throw_::return_);
    expect_raises("exit", err::THROW, err::throw_::return_);
    expect_error(run("fr6: func [] [try/all [return 1]] fr6"), err::THROW, err::throw_::return_);
}

TEST_F(Natives, ThrowAndCatch) {
    EXPECT_EQ(int_run("catch [throw 1 2]"), 1);
    EXPECT_EQ(int_run("catch [2]"), 2);
    EXPECT_EQ(int_run("catch [throw/name 1 'a]"), 1);
    EXPECT_EQ(int_run("catch/name [throw/name 1 'a] 'a"), 1);
    EXPECT_EQ(int_run("catch/name [throw/name 1 'b] [a b]"), 1);
    // A throw other names pass on to the next catch.
    EXPECT_EQ(int_run("catch [catch/name [throw 1] 'a 2]"), 1);
    EXPECT_EQ(int_run("catch/name [catch/name [throw/name 3 'b] 'a 2] 'b"), 3);
    // Through loops, functions and try.
    EXPECT_EQ(int_run("ft: func [] [loop 3 [throw 4]] catch [ft 5]"), 4);
    EXPECT_EQ(int_run("catch [try [throw 6] 7]"), 6);
    EXPECT_EQ(int_run("n: 0 loop 3 [n: n + catch [throw 1]] n"), 3);
    expect_raises("throw 1", err::THROW, err::throw_::throw_);
    expect_raises("catch/name [throw 1] 'a", err::THROW, err::throw_::throw_);
    expect_raises("catch/name [1] [a 1]", err::SCRIPT, err::script::invalid_refine_arg);
    EXPECT_EQ(type_of_v(run("try/all [throw 1]")), uint32_t(TYPE_ERROR));
}

TEST_F(Natives, TryTurnsErrorsIntoValues) {
    kiv_value e = run("try [1 / 0]");
    expect_error(e, err::MATH, err::math::zero_divide);
    EXPECT_EQ(int_run("try [1 + 1]"), 2);
    EXPECT_EQ(int_run("loop 3 [try [break/return 5]]"), 5);  // break passes a plain try
    expect_error(run("loop 3 [try/all [break/return 5]]"), err::THROW, err::throw_::break_);
    expect_error(run("try/all [continue]"), err::THROW, err::throw_::continue_);
    expect_error(run("try [try [1 / 0] make op! 1]"), err::SCRIPT, err::script::invalid_type);
    // The stacks are usable after a caught error.
    EXPECT_EQ(int_run("try [1 / 0] fx: func [a] [a + 1] fx 1"), 2);
    expect_error(run("ftr: func [] [1 / 0] try [loop 2 [ftr]]"), err::MATH, err::math::zero_divide);
}

TEST_F(Natives, DoTraceInstallsTheTracerAroundTheEvaluation) {
    run("events: copy [] tracer-f: func [event code offset value ref frame] [[fetch] append events :value]");
    EXPECT_EQ(int_run("do/trace [1 + 2] :tracer-f"), 3);
    EXPECT_EQ(mold_of("events"), "[1 + 2]");
    EXPECT_FALSE(interpreter::trace_q);
    EXPECT_FALSE(interpreter::tracing_q);
    EXPECT_EQ(type_of(interpreter::tracer), uint32_t(TYPE_NONE));
    // init and end frame the evaluation, also when an error ends it.
    run("kinds: copy [] kinds-f: func [event code offset value ref frame] [[init end] append kinds event]");
    EXPECT_EQ(mold_of("do/trace [1] :kinds-f kinds"), "[init end]");
    expect_raises("kinds: copy [] do/trace [1 / 0] :kinds-f", err::MATH, err::math::zero_divide);
    EXPECT_EQ(mold_of("kinds"), "[init end]");
    EXPECT_FALSE(interpreter::trace_q);
    // A break passes through and still ends the trace.
    EXPECT_EQ(mold_of("kinds: copy [] loop 2 [do/trace [break] :kinds-f] kinds"), "[init end]");
    // A nested do/trace keeps the running tracer.
    EXPECT_EQ(mold_of("kinds: copy [] do/trace [do/trace [1] :tracer-f] :kinds-f kinds"), "[init end]");
}

TEST_F(Natives, ExitsCrossEachOthersCatchers) {
    // Each catcher takes only its own level; the others pass through it.
    EXPECT_EQ(int_run("fc1: func [] [catch [return 1] 2] fc1"), 1);
    EXPECT_EQ(int_run("loop 3 [catch [break/return 5]]"), 5);
    EXPECT_EQ(int_run("n: 0 loop 3 [catch [n: n + 1 continue n: 100]] n"), 3);
    EXPECT_EQ(int_run("catch [loop 3 [fc2: does [throw 7] fc2]]"), 7);
    EXPECT_EQ(type_run("fe2: does [loop 3 [foreach x [1 2] [exit]] 9] fe2"), uint32_t(TYPE_UNSET));
    EXPECT_EQ(int_run("n: 0 forall-b: [1 2 3 4] forall forall-b [if forall-b/1 = 2 [continue] n: n + forall-b/1] n"), 8);
    EXPECT_EQ(int_run("n: 0 foreach x [1 2] [foreach y [10 20] [if y = 20 [continue] n: n + x + y]] n"), 23);
    // A function returns through the loops and calls of its own body only.
    EXPECT_EQ(int_run("fin: func [] [loop 2 [return 3]] fout: func [] [loop 2 [fin] 4] fout"), 4);
    // Errors pass every catcher but try.
    expect_error(run("try [catch [loop 2 [1 / 0]]]"), err::MATH, err::math::zero_divide);
    // An unnamed throw reaches an outer catch through a named one.
    EXPECT_EQ(int_run("catch [loop 2 [catch/name [throw 8] 'other]]"), 8);
}

TEST_F(Natives, RunawayRecursionThroughNativesIsAnError) {
    expect_raises("deep-n: func [] [if true [loop 1 [deep-n]]] deep-n", err::INTERNAL, err::internal::stack_overflow);
    expect_error(run("deep-t: func [] [catch [try [deep-t]]] try [deep-t]"), err::INTERNAL, err::internal::stack_overflow);
    EXPECT_EQ(int_run("n: 0 loop 3 [try [deep-n] n: n + 1] n"), 3);
}
