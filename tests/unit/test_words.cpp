// Contexts, binding, word! and its variants, issue!.
#include "runtime/cycles.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/symbol.h"
#include "tests/unit/action_fixture.h"

using namespace kiv;
using namespace kiv::test;

using Words = StackTest;

TEST_F(Words, LoadingANameTwiceGivesOneSlotAndCaseVariantsShareIt) {
    kiv_value a = *word::load("print-w");
    kiv_value b = *word::load("print-w");
    EXPECT_EQ(a.data1, _context::global);
    EXPECT_EQ(a.data1, b.data1);
    EXPECT_EQ(a.data3, b.data3);
    kiv_value upper = *word::load("PRINT-W");
    EXPECT_EQ(upper.data3, a.data3);
    EXPECT_NE(upper.data2, a.data2);
    EXPECT_EQ(formed(upper), "PRINT-W");
    // A variant entered by exact lookup still shares the slot.
    kiv_value exact = *word::from_symbol(symbol::make("Print-W"));
    EXPECT_EQ(exact.data3, a.data3);
}

TEST_F(Words, SettingAndGettingThroughTheGlobalContext) {
    kiv_value w = word_of("answer-w");
    kiv_value v = int_value(42);
    _context::set(&w, &v);
    EXPECT_EQ(int_of(*_context::get(&w)), 42);
    EXPECT_EQ(int_of(*word::get(&w)), 42);
    stack::mark_try(nullptr);
    kiv_value unset_word = word_of("never-set-w");
    expect_error(raised([&] { word::get(&unset_word); }), err::SCRIPT, err::script::no_value);
    SetUp();
    stack::mark_try(nullptr);
    expect_error(raised([&] {
                     stack::push_value(&unset_word);
                     stack::push_value(&unset_value);
                     word::set();
                 }),
                 err::SCRIPT, err::script::need_value);
}

TEST_F(Words, ContextFromASpecBlockAddsEachWordOnce) {
    kiv_value spec = block_of({word_of("ca"), word_of("cb"), word_of("cc", TYPE_REFINEMENT),
                               word_of("cd"), word_of("ca"), word_of("ce", TYPE_SET_WORD)});
    node_id ctx = _context::make_from_block(&spec, true, false, CTX_FUNCTION);
    EXPECT_EQ(_context::words_count(ctx), 4u);
    const char* names[] = {"ca", "cb", "cc", "cd"};
    for (uint32_t i = 0; i < 4; i++) {
        kiv_value* entry = context::value_ref(ctx, i);
        EXPECT_STREQ(symbol::name_of(word::symbol_of(entry)), names[i]);
        EXPECT_EQ(word::index_of(entry), int32_t(i));
        EXPECT_EQ(entry->data1, ctx);
    }
    // A function's locals have no values outside a call.
    kiv_value local = *context::value_ref(ctx, 1);
    stack::mark_try(nullptr);
    expect_error(raised([&] { _context::get(&local); }), err::SCRIPT, err::script::not_in_context);
}

TEST_F(Words, DeepBindingReachesEveryWordButIssues) {
    node_id ctx = _context::create(8, false, false, 0, CTX_OBJECT);
    for (const char* n : {"bx", "by", "bz", "bp", "bq"}) {
        kiv_value w = word_of(n);
        _context::add_word(ctx, &w);
    }
    kiv_value nested = block_of({word_of("by")});
    kiv_value paren = block_of({word_of("bz")});
    paren.header = TYPE_PAREN;
    kiv_value path = block_of({word_of("bp"), word_of("bq")});
    path.header = TYPE_PATH;
    kiv_value issue{TYPE_ISSUE, _context::global, uint32_t(symbol::make("bx")), uint32_t(-1)};
    kiv_value outer = block_of({word_of("bx"), nested, paren, path, word_of("bx", TYPE_LIT_WORD),
                                word_of("bx", TYPE_GET_WORD), word_of("bx", TYPE_REFINEMENT), issue,
                                word_of("BX"), word_of("unbound-w")});
    // The nested block also holds the outer one: binding must terminate.
    *block::alloc_tail(&nested) = outer;
    _context::bind(&outer, ctx, false);
    kiv_value* cells = cells_of(outer);
    for (int i : {0, 4, 5, 6, 8}) EXPECT_EQ(cells[i].data1, ctx) << i;
    EXPECT_EQ(cells_of(nested)[0].data1, ctx);
    EXPECT_EQ(cells_of(paren)[0].data1, ctx);
    EXPECT_EQ(cells_of(path)[1].data1, ctx);
    EXPECT_EQ(cells[7].data1, _context::global);  // the issue
    EXPECT_EQ(cells[9].data1, _context::global);  // not in the context
    EXPECT_EQ(cycles::depth(), 0u);
}

TEST_F(Words, SelfIsTheContextsOwnCellButSELFIsAWord) {
    node_id ctx = _context::create(2, false, true, 0, CTX_OBJECT);
    kiv_value self = word_of("self"), SELF = word_of("SELF");
    kiv_value blk = block_of({self, SELF});
    _context::bind(&blk, ctx, true);
    EXPECT_EQ(cells_of(blk)[0].data1, ctx);
    EXPECT_EQ(word::index_of(&cells_of(blk)[0]), -1);
    EXPECT_EQ(_context::get(&cells_of(blk)[0]), _context::self_of(ctx));
    EXPECT_EQ(cells_of(blk)[1].data1, _context::global);
}

TEST_F(Words, WordComparisonCodes) {
    kiv_value a = word_of("cmp-a"), A = word_of("CMP-A"), lit = word_of("cmp-a", TYPE_LIT_WORD);
    EXPECT_TRUE(actions::compare(&a, &A, COMP_EQUAL));
    EXPECT_FALSE(actions::compare(&a, &A, COMP_STRICT_EQUAL));
    EXPECT_TRUE(actions::compare(&a, &lit, COMP_EQUAL));
    EXPECT_FALSE(actions::compare(&a, &lit, COMP_STRICT_EQUAL));
    EXPECT_EQ(actions::compare_values(&a, &lit, COMP_EQUAL_SPELLING), 0);
    kiv_value elsewhere = a;
    elsewhere.data1 = _context::create(1, false, false, 0, CTX_OBJECT);
    EXPECT_FALSE(actions::compare(&a, &elsewhere, COMP_SAME));
    EXPECT_TRUE(actions::compare(&a, &a, COMP_SAME));
    kiv_value b = word_of("cmp-b");
    EXPECT_TRUE(actions::compare(&a, &b, COMP_LESSER));
    kiv_value n = int_value(1);
    EXPECT_FALSE(actions::compare(&a, &n, COMP_EQUAL));
}

TEST_F(Words, FormMoldAndIndex) {
    struct Case {
        uint32_t type;
        const char* mold;
    } cases[] = {{TYPE_WORD, "mw"}, {TYPE_LIT_WORD, "'mw"}, {TYPE_SET_WORD, "mw:"},
                 {TYPE_GET_WORD, ":mw"}, {TYPE_REFINEMENT, "/mw"}, {TYPE_ISSUE, "#mw"}};
    for (const Case& c : cases) {
        kiv_value w = word_of("mw", c.type);
        EXPECT_EQ(formed(w), "mw");
        EXPECT_EQ(molded(w), c.mold);
    }
    kiv_value w = word_of("mw");
    EXPECT_EQ(int_of(call(SLOT_INDEX_Q, {w})), word::index_of(&w) + 1);
    kiv_value loose = w;
    loose.data3 = uint32_t(-1);
    EXPECT_EQ(type_of_v(call(SLOT_INDEX_Q, {loose})), uint32_t(TYPE_NONE));
}

TEST_F(Words, MakeAndToOfWords) {
    kiv_value sw = word_of("conv-w", TYPE_SET_WORD);
    kiv_value r = call(SLOT_TO, {dtype(TYPE_WORD), sw});
    EXPECT_EQ(type_of(&r), uint32_t(TYPE_WORD));
    EXPECT_EQ(r.data1, sw.data1);
    EXPECT_EQ(r.data3, sw.data3);
    kiv_value t = call(SLOT_TO, {dtype(TYPE_WORD), dtype(TYPE_INTEGER)});
    EXPECT_EQ(formed(t), "integer!");
    EXPECT_EQ(formed(call(SLOT_TO, {dtype(TYPE_WORD), true_value})), "true");
    stack::mark_try(nullptr);
    expect_error(raised([] { call(SLOT_TO, {dtype(TYPE_WORD), int_value(1)}); }), err::SCRIPT,
                 err::script::bad_to_arg);
}

TEST_F(Words, Issues) {
    kiv_value spaced = call(SLOT_TO, {dtype(TYPE_ISSUE), str("a b")});
    EXPECT_EQ(type_of(&spaced), uint32_t(TYPE_ISSUE));
    EXPECT_EQ(word::index_of(&spaced), -1);
    EXPECT_EQ(molded(spaced), "#a b");
    kiv_value lit = word_of("iss-w", TYPE_LIT_WORD);
    kiv_value from_lit = call(SLOT_TO, {dtype(TYPE_ISSUE), lit});
    EXPECT_EQ(from_lit.data3, lit.data3);
    EXPECT_EQ(from_lit.data2, lit.data2);
    kiv_value empty = call(SLOT_TO, {dtype(TYPE_ISSUE), str("")});
    EXPECT_EQ(molded(empty), "#");
    kiv_value x = call(SLOT_TO, {dtype(TYPE_ISSUE), str("xx")});
    kiv_value X = call(SLOT_TO, {dtype(TYPE_ISSUE), str("XX")});
    EXPECT_TRUE(actions::compare(&x, &X, COMP_EQUAL));
    EXPECT_FALSE(actions::compare(&x, &X, COMP_STRICT_EQUAL));
    kiv_value w = word_of("xx");
    EXPECT_EQ(actions::compare_values(&x, &w, COMP_EQUAL), COMPARE_INCOMPARABLE);
    EXPECT_EQ(actions::compare_values(&w, &x, COMP_EQUAL), COMPARE_INCOMPARABLE);
}

TEST_F(Words, DatatypeNamesAreWords) {
    kiv_value w = datatype::table[TYPE_INTEGER].word;
    EXPECT_EQ(type_of(&w), uint32_t(TYPE_WORD));
    EXPECT_STREQ(symbol::name_of(word::symbol_of(&w)), "integer!");
}

TEST_F(Words, TextLoadsAsAWord) {
    kiv_value sw = call(SLOT_TO, {dtype(TYPE_SET_WORD), str("foo")});
    EXPECT_EQ(type_of(&sw), uint32_t(TYPE_SET_WORD));
    EXPECT_EQ(molded(sw), "foo:");
    for (const char* bad : {"123", ""}) {
        SetUp();
        stack::mark_try(nullptr);
        expect_error(raised([&] { call(SLOT_TO, {dtype(TYPE_WORD), str(bad)}); }), err::SCRIPT,
                     err::script::invalid_chars);
    }
}
