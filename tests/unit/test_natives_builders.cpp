// Function builders and the word, block and call natives.
#include "runtime/datatypes/function.h"
#include "tests/unit/natives_fixture.h"

using namespace kiv;
using namespace kiv::test;

namespace {

using Builders = NativesTest;

constexpr uint32_t UNSET = TYPE_UNSET;
constexpr uint32_t NONE = TYPE_NONE;

}  // namespace

TEST_F(Builders, FuncBuildsAFunctionFromSpecAndBody) {
    EXPECT_EQ(type_run("func [a] [a]"), uint32_t(TYPE_FUNCTION));
    EXPECT_EQ(int_run("fa1: func [a b] [a - b] fa1 10 3"), 7);
    EXPECT_EQ(int_run("fa2: func [\"doc\" a [integer!] \"arg doc\" /twice] [either twice [a * 2] [a]] fa2/twice 4"), 8);
    EXPECT_EQ(int_run("fa2 4"), 4);
    // Locals start as none; the /local slot itself is false.
    EXPECT_EQ(type_run("fa3: func [/local x] [x] fa3"), NONE);
    // The body is copied: changing the source block changes nothing.
    EXPECT_EQ(int_run("fb1: [1] fa4: func [] fb1 append fb1 2 fa4"), 1);
    // A return: spec after a refinement's arguments is not one of them.
    EXPECT_EQ(int_run("fa6: func [a /with b [integer!] return: [integer!]] [either with [b] [a]] fa6/with 1 2"), 2);
    EXPECT_EQ(int_run("fa6 1"), 1);
    expect_raises("func [a b:] []", err::SCRIPT, err::script::bad_func_def);
    expect_raises("func [a a] []", err::SCRIPT, err::script::dup_vars);
    expect_raises("fa5: func [a [integer!]] [a] fa5 none", err::SCRIPT, err::script::expect_arg);
}

TEST_F(Builders, FunctionMakesSetWordsLocal) {
    run("fl: 0 ff1: function [] [fl: 1 fl] ff1");
    EXPECT_EQ(int_run("ff1"), 1);
    EXPECT_EQ(int_run("fl"), 0);
    run("fl: 0 ff2: function/extern [] [fl: 1] [fl] ff2");
    EXPECT_EQ(int_run("fl"), 1);
    // foreach, remove-each and repeat words become locals too.
    run("fx: 0 ff3: function [] [foreach fx [1 2] [fx] repeat fy 2 [fy]] ff3");
    EXPECT_EQ(int_run("fx"), 0);
    EXPECT_EQ(int_run("ff4: function [a /local b] [b: a c: b + 1 c] ff4 5"), 6);
    EXPECT_EQ(int_run("ff5: function [a] [z: a] z: 9 ff5 1 z"), 9);
    // The source spec is left as it was.
    EXPECT_EQ(mold_of("fs: [a] function fs [q: a] fs"), "[a]");
}

TEST_F(Builders, DoesAndHas) {
    EXPECT_EQ(int_run("fd: does [40 + 2] fd"), 42);
    EXPECT_EQ(int_run("hx: 7 fh: has [hx] [hx: 1 hx] fh"), 1);
    EXPECT_EQ(int_run("hx"), 7);
    EXPECT_EQ(type_run("fh2: has [hy] [hy] fh2"), NONE);
    EXPECT_EQ(mold_of("hv: [hz] has hv [hz] hv"), "[hz]");
}

TEST_F(Builders, GetAndSet) {
    EXPECT_EQ(int_run("gv: 5 get 'gv"), 5);
    expect_raises("get 'never-set-gw", err::SCRIPT, err::script::no_value);
    EXPECT_EQ(type_run("get/any 'never-set-gw"), UNSET);
    EXPECT_EQ(int_run("gb: [1 2 3] get 'gb/2"), 2);
    EXPECT_EQ(int_run("set 'sa 3 sa"), 3);
    EXPECT_EQ(int_run("set 'sa 4"), 4);
    run("set [sa sb] [1 2]");
    EXPECT_EQ(int_run("sa"), 1);
    EXPECT_EQ(int_run("sb"), 2);
    run("set [sa sb] 5");
    EXPECT_EQ(int_run("sa + sb"), 10);
    run("set [sa sb] [7]");
    EXPECT_EQ(type_run("sb"), NONE);
    run("sa: 1 sb: 2 set/some [sa sb] reduce [10 none]");
    EXPECT_EQ(int_run("sa"), 10);
    EXPECT_EQ(int_run("sb"), 2);
    EXPECT_EQ(mold_of("set/only [sa sb] [1 2] sb"), "[1 2]");
    EXPECT_EQ(int_run("sp: [1 2] set 'sp/1 9 sp/1"), 9);
    expect_raises("set 'sa ()", err::SCRIPT, err::script::need_value);
    EXPECT_EQ(type_run("set/any 'sa () get/any 'sa"), UNSET);
    expect_raises("set [sa 1] [1 2]", err::SCRIPT, err::script::invalid_arg);
    // Nothing is set when one of the values is refused.
    run("sa: 1");
    expect_raises("set [sa sb] reduce [2 ()]", err::SCRIPT, err::script::need_value);
    EXPECT_EQ(int_run("sa"), 1);
}

TEST_F(Builders, UnsetAndValueQ) {
    run("ua: 1 ub: 2 uc: 3");
    EXPECT_EQ(type_run("unset 'ua"), UNSET);
    EXPECT_FALSE(logic_run("value? 'ua"));
    EXPECT_TRUE(logic_run("value? 'uc"));
    run("unset [ub uc]");
    EXPECT_FALSE(logic_run("value? 'uc"));
    EXPECT_TRUE(logic_run("value? 1"));
    // A function's word outside its call has no value at hand.
    EXPECT_FALSE(logic_run("fv: func [local-a] [local-a] value? in :fv 'local-a"));
}

TEST_F(Builders, ContextInAndBind) {
    EXPECT_EQ(type_run("fc: func [ca] [context? 'ca] fc 1"), uint32_t(TYPE_FUNCTION));
    EXPECT_TRUE(logic_run("fc2: func [ca] [same? :fc2 context? 'ca] fc2 1"));
    EXPECT_EQ(type_run("in :fc 'nope"), NONE);
    EXPECT_EQ(type_run("in :fc 'ca"), uint32_t(TYPE_WORD));
    // Bound to the function, its word reads the running call's value.
    EXPECT_EQ(int_run("fi: func [ia code] [do code] ib: bind [ia * 2] :fi fi 21 ib"), 42);
    EXPECT_EQ(int_run("fi 5 bind/copy [ia + 1] :fi"), 6);
    EXPECT_EQ(int_run("fi2: func [ia] [w: 'ia do reduce [bind w 'ia]] fi2 3"), 3);
    // bind/copy leaves the original block bound as it was.
    run("ia: 100 src: [ia] copy-bound: bind/copy src :fi");
    EXPECT_EQ(int_run("do src"), 100);
    EXPECT_EQ(int_run("fi 8 copy-bound"), 8);
    expect_raises("fi 8 [in 1 'x]", err::SCRIPT, err::script::expect_arg);
}

TEST_F(Builders, Reduce) {
    EXPECT_EQ(mold_of("reduce [1 + 1 2 * 3]"), "[2 6]");
    EXPECT_EQ(mold_of("reduce []"), "[]");
    EXPECT_EQ(mold_of("rb: [x] reduce/into [1 + 1] rb rb"), "[2 x]");
    EXPECT_EQ(mold_of("rb: [x] reduce/into [1 + 1 3] rb"), "[x]");
    EXPECT_EQ(mold_of("rb: tail [x] reduce/into [1 2] rb head rb"), "[x 1 2]");
    EXPECT_EQ(int_run("rv: 4 reduce 'rv"), 4);
    EXPECT_EQ(int_run("reduce 7"), 7);
    EXPECT_EQ(type_run("reduce :add"), uint32_t(TYPE_ACTION));
    EXPECT_EQ(mold_of("reduce [[1 + 1] (2 + 2)]"), "[[1 + 1] 4]");
    // New-line markers of the results are cleared.
    EXPECT_FALSE(logic_run("new-line? reduce [\n 1]"));
    EXPECT_EQ(int_run("loop 2 [reduce [1 break/return 3]]"), 3);
}

TEST_F(Builders, Compose) {
    EXPECT_EQ(mold_of("compose [(1 + 1) ([a b])]"), "[2 a b]");
    EXPECT_EQ(mold_of("compose/only [(1 + 1) ([a b])]"), "[2 [a b]]");
    EXPECT_EQ(mold_of("compose [1 (()) 2]"), "[1 2]");
    EXPECT_EQ(mold_of("compose [([])]"), "[]");
    EXPECT_EQ(mold_of("compose [a [(1 + 1)]]"), "[a [(1 + 1)]]");
    EXPECT_EQ(mold_of("compose/deep [a [(1 + 1) [(2 + 2)]]]"), "[a [2 [4]]]");
    EXPECT_EQ(int_run("compose 5"), 5);
    EXPECT_EQ(mold_of("cb: [z] compose/into [(1) 2] cb cb"), "[1 2 z]");
    EXPECT_EQ(mold_of("cs: [(1 + 1)] compose cs cs"), "[(1 + 1)]");
    EXPECT_EQ(int_run("loop 2 [compose [(break/return 4)]]"), 4);
}

TEST_F(Builders, ConstructTakesTheSpecAsData) {
    EXPECT_EQ(mold_of("o: construct [a: 1 b: on c: none d: x e: (1 + 1)] "
                      "reduce [o/a type? o/b type? o/c type? o/d type? o/e]"),
              "[1 logic! none! word! paren!]");
    EXPECT_EQ(mold_of("o: construct/only [b: on] type? o/b"), "word!");
    EXPECT_EQ(mold_of("o: construct [a: b: 2] reduce [o/a o/b]"), "[2 2]");
    EXPECT_EQ(mold_of("p: construct [a: 1] o: construct/with [b: 2] p o/a: 5 reduce [p/a o/a o/b]"),
              "[1 5 2]");
}

TEST_F(Builders, NewLineMarkers) {
    EXPECT_TRUE(logic_run("nb: [1 2 3] new-line nb true new-line? nb"));
    EXPECT_FALSE(logic_run("new-line? next nb"));
    EXPECT_FALSE(logic_run("new-line nb false new-line? nb"));
    run("nb: [1 2 3 4 5] new-line/all nb true");
    EXPECT_TRUE(logic_run("new-line? next next next next nb"));
    run("nb: [1 2 3 4 5] new-line/skip nb true 2");
    EXPECT_TRUE(logic_run("new-line? nb"));
    EXPECT_FALSE(logic_run("new-line? next nb"));
    EXPECT_TRUE(logic_run("new-line? next next nb"));
    EXPECT_FALSE(logic_run("new-line? tail nb"));
    expect_raises("new-line/skip nb true 0", err::SCRIPT, err::script::invalid_arg);
}

TEST_F(Builders, ApplyCallsWithArgumentsFromABlock) {
    EXPECT_EQ(mold_of("ab: [1] apply :append [ab 2] ab"), "[1 2]");
    EXPECT_EQ(mold_of("ab: [1] apply 'append/only [ab [2]] ab"), "[1 [2]]");
    EXPECT_EQ(mold_of("ab: [1] apply 'append [ab [2 3]] ab"), "[1 2 3]");
    EXPECT_EQ(int_run("apply :add [1 + 1 3]"), 5);
    EXPECT_EQ(int_run("apply :+ [1 2]"), 3);  // an operator is called as its function
    EXPECT_EQ(int_run("af: func [a b /c d] [either c [a + b + d] [a - b]] apply :af [10 3]"), 7);
    // Refinements named in the block, their state evaluated.
    EXPECT_EQ(int_run("apply :af [10 3 /c true 100]"), 113);
    EXPECT_EQ(int_run("apply :af [10 3 /c 1 = 2 100]"), 7);
    EXPECT_EQ(mold_of("ab: [1] apply :append [ab [2] /only true] ab"), "[1 [2]]");
    // /all: every argument and refinement state in order.
    EXPECT_EQ(int_run("apply/all :af [10 3 true 100]"), 113);
    EXPECT_EQ(int_run("apply/all :af [10 3 false 100]"), 7);
    EXPECT_EQ(int_run("apply/all :af [10 3]"), 7);
    expect_raises("apply/all :af [10 3 1 100]", err::SCRIPT, err::script::expect_arg);
    EXPECT_EQ(int_run("apply/all 'af/c [10 3 100]"), 113);  // a path names the refinements
    // /safer: one cell per argument, inactive arguments skipped unevaluated.
    EXPECT_EQ(int_run("as-n: 0 apply/safer :af [10 3 /c false (as-n: 1)] as-n"), 0);
    EXPECT_EQ(int_run("apply :af [10 3 /c false (as-n: 2)] as-n"), 2);
    // Missing arguments are none.
    expect_raises("ai: func [a [integer!]] [a] apply :ai []", err::SCRIPT, err::script::expect_arg);
    EXPECT_EQ(type_run("ag: func [a b] [b] apply :ag [1]"), NONE);
    EXPECT_EQ(int_run("ah: func [a] [a] apply :ah [1 2 3]"), 1);  // no refinements: extra values ignored
    expect_raises("apply :af [10 3 4]", err::SCRIPT, err::script::bad_refine);
    expect_raises("apply :af [10 3 /nope true]", err::SCRIPT, err::script::no_refine);
    expect_raises("apply 1 []", err::SCRIPT, err::script::expect_arg);
    expect_raises("apply 'never-set-ap []", err::SCRIPT, err::script::invalid_arg);
    EXPECT_EQ(int_run("ar: func [a] [return a * 2] apply 'ar [4]"), 8);
}
