// error! values: the catalog, making errors, the formed text, molding, path
// access, comparison, where and stack capture, and the uncaught report.
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/evaluator/interpreter.h"
#include "tests/unit/action_fixture.h"

using namespace kiv;
using namespace kiv::test;

namespace {

kiv_value w(const char* name, uint32_t type = TYPE_WORD) { return word_of(name, type); }

// A word with no context, as the runtime makes error arguments.
kiv_value loose(const char* name, uint32_t type = TYPE_WORD) {
    return kiv_value{type, 0, uint32_t(symbol::make(name)), uint32_t(-1)};
}

kiv_value make_error(const kiv_value& spec) { return call(SLOT_MAKE, {dtype(TYPE_ERROR), spec}); }

// The error the code raises, caught by a try frame of its own.
template <class F>
kiv_value caught(F code) {
    stack::mark_try(nullptr);
    kiv_value e = raised(code);
    sys.pending_exit = LEVEL_NONE;  // taken, as a catching native takes it
    return e;
}

std::string name_of(const kiv_value* word) { return symbol::name_of(word::symbol_of(word)); }

kiv_value get(const kiv_value& e, uint32_t f) { return *error::field(&e, f); }
void put(const kiv_value& e, uint32_t f, const kiv_value& v) { *error::field(&e, f) = v; }

std::string mold_with(const kiv_value& v, bool only, bool flat) {
    return text_of(call(SLOT_MOLD, {v}, {only ? 1 : -1, -1, flat ? 1 : -1, -1}));
}

using Errors = StackTest;

}  // namespace

TEST_F(Errors, CodesNameTheirCategoryAndId) {
    kiv_value e = make_error(int_value(300));
    EXPECT_EQ(type_of_v(e), uint32_t(TYPE_ERROR));
    EXPECT_EQ(e.data2, error::CLASS_ID);
    EXPECT_EQ(int_of(get(e, error::FIELD_CODE)), 300);
    kiv_value type = get(e, error::FIELD_TYPE), id = get(e, error::FIELD_ID);
    EXPECT_EQ(name_of(&type), "script");
    EXPECT_EQ(name_of(&id), "no-value");
    EXPECT_EQ(type.data1, error::catalog());  // bound to the catalog
    EXPECT_EQ(id.data1, error::category(err::SCRIPT));
    EXPECT_EQ(error::category_of(&e), err::SCRIPT);
    EXPECT_EQ(error::id_of(&e), uint32_t(err::script::no_value));
    EXPECT_EQ(error::get_type(&e), symbol::make("script"));
    EXPECT_EQ(error::get_id(&e), symbol::make("no-value"));
    for (uint32_t f = error::FIELD_ARG1; f < error::FIELD_COUNT; f++)
        EXPECT_EQ(type_of_v(get(e, f)), uint32_t(TYPE_NONE)) << f;

    kiv_value z = make_error(int_value(400));
    EXPECT_EQ(error::category_of(&z), err::MATH);
    EXPECT_EQ(error::id_of(&z), uint32_t(err::math::zero_divide));
    kiv_value last = make_error(int_value(394));
    EXPECT_EQ(error::id_of(&last), uint32_t(err::script::no_display));
}

// The catalog and the id enums list the same ids: each category's last id
// has a code, the next one does not.
TEST_F(Errors, TheCatalogMatchesTheIdEnums) {
    struct Last {
        err::category category;
        uint32_t id;
        const char* name;
    } lasts[] = {
        {err::THROW, err::throw_::while_cond, "while-cond"},   {err::NOTE, err::note::no_load, "no-load"},
        {err::SYNTAX, err::syntax::bad_char, "bad-char"},     {err::SCRIPT, err::script::no_display, "no-display"},
        {err::MATH, err::math::positive, "positive"},          {err::ACCESS, err::access::invalid_cmd, "invalid-cmd"},
        {err::USER, err::user::message, "message"},            {err::INTERNAL, err::internal::deprecated, "deprecated"},
    };
    for (const Last& l : lasts) {
        int32_t code = int32_t(l.category * 100 + l.id);
        kiv_value e = make_error(int_value(code));
        kiv_value id = get(e, error::FIELD_ID);
        EXPECT_EQ(name_of(&id), l.name);
        expect_error(caught([&] { make_error(int_value(code + 1)); }), err::SCRIPT, err::script::out_of_range);
    }
    // The reserved categories hold no ids.
    expect_error(caught([] { make_error(int_value(600)); }), err::SCRIPT, err::script::out_of_range);
    expect_error(caught([] { make_error(int_value(700)); }), err::SCRIPT, err::script::out_of_range);
}

TEST_F(Errors, CodesOutsideTheCatalogAreOutOfRange) {
    for (int32_t code : {395, -1, 1000, 399}) {
        kiv_value e = caught([&] { make_error(int_value(code)); });
        expect_error(e, err::SCRIPT, err::script::out_of_range);
        EXPECT_EQ(int_of(get(e, error::FIELD_ARG1)), code);
    }
}

TEST_F(Errors, MakeFromACategoryAndIdBlock) {
    kiv_value e = make_error(block_of({w("math"), w("overflow")}));
    EXPECT_EQ(int_of(get(e, error::FIELD_CODE)), 401);
    EXPECT_EQ(error::id_of(&e), uint32_t(err::math::overflow));
    kiv_value extra = make_error(block_of({w("math"), w("positive"), int_value(9)}));
    EXPECT_EQ(int_of(get(extra, error::FIELD_CODE)), 402);

    kiv_value no_id = caught([] { make_error(block_of({w("math")})); });
    expect_error(no_id, err::SCRIPT, err::script::invalid_spec_field);
    kiv_value field = get(no_id, error::FIELD_ARG1);
    EXPECT_EQ(name_of(&field), "id");

    kiv_value bad_id = caught([] { make_error(block_of({w("math"), int_value(12)})); });
    expect_error(bad_id, err::SCRIPT, err::script::invalid_arg);
    EXPECT_EQ(int_of(get(bad_id, error::FIELD_ARG1)), 12);

    kiv_value bad_type = caught([] { make_error(block_of({w("maths"), w("overflow")})); });
    expect_error(bad_type, err::SCRIPT, err::script::invalid_spec_field);
    field = get(bad_type, error::FIELD_ARG1);
    EXPECT_EQ(name_of(&field), "type");

    // `code` and `type` are fields of a category, not ids.
    for (const char* not_id : {"nothing", "type", "code"}) {
        kiv_value e2 = caught([&] { make_error(block_of({w("math"), w(not_id)})); });
        expect_error(e2, err::SCRIPT, err::script::invalid_spec_field);
        field = get(e2, error::FIELD_ARG1);
        EXPECT_EQ(name_of(&field), "id");
    }
    expect_error(caught([] { make_error(block_of({})); }), err::INTERNAL, err::internal::invalid_error);
    expect_error(caught([] { make_error(block_of({int_value(1)})); }), err::INTERNAL, err::internal::invalid_error);
}

TEST_F(Errors, MakeFromASetWordBlockSetsTheFields) {
    kiv_value spec = block_of({w("type", TYPE_SET_WORD), w("script", TYPE_LIT_WORD), w("id", TYPE_SET_WORD),
                               w("no-value", TYPE_LIT_WORD), w("arg1", TYPE_SET_WORD), w("foo", TYPE_LIT_WORD)});
    kiv_value e = make_error(spec);
    EXPECT_EQ(int_of(get(e, error::FIELD_CODE)), 300);
    EXPECT_EQ(formed(e), "*** Script Error: foo has no value\n*** Where: ???\n*** Near : none");

    kiv_value no_type = block_of({w("id", TYPE_SET_WORD), w("no-value", TYPE_LIT_WORD)});
    kiv_value e1 = caught([&] { make_error(no_type); });
    expect_error(e1, err::SCRIPT, err::script::invalid_spec_field);
    kiv_value field = get(e1, error::FIELD_ARG1);
    EXPECT_EQ(name_of(&field), "type");

    kiv_value wrong_id = block_of({w("type", TYPE_SET_WORD), w("math", TYPE_LIT_WORD), w("id", TYPE_SET_WORD),
                                   w("no-value", TYPE_LIT_WORD)});
    kiv_value e2 = caught([&] { make_error(wrong_id); });
    expect_error(e2, err::SCRIPT, err::script::invalid_spec_field);
    field = get(e2, error::FIELD_ARG1);
    EXPECT_EQ(name_of(&field), "id");
}

TEST_F(Errors, MakeFromAStringIsAUserError) {
    kiv_value e = make_error(str("Something went wrong"));
    EXPECT_EQ(error::category_of(&e), err::USER);
    EXPECT_EQ(formed(e), "*** User Error: Something went wrong\n*** Where: ???\n*** Near : none");
    kiv_value bad = caught([] { make_error(flt(1.5)); });
    expect_error(bad, err::SCRIPT, err::script::bad_make_arg);
    EXPECT_EQ(get(bad, error::FIELD_ARG1).data1, uint32_t(TYPE_ERROR));
}

TEST_F(Errors, FormedTextOfEachTemplateKind) {
    kiv_value plain = *error::create(err::MATH, err::math::zero_divide, nullptr, nullptr, nullptr);
    EXPECT_EQ(formed(plain), "*** Math Error: attempt to divide by zero\n*** Where: ???\n*** Near : none");
    kiv_value one = int_value(7);
    kiv_value args = *error::create(err::THROW, err::throw_::throw_, &one, nullptr, nullptr);
    EXPECT_EQ(formed(args), "*** Throw Error: no catch for throw: 7\n*** Where: ???\n*** Near : none");
    // The internal category names its arguments by plain words.
    kiv_value a = loose("old"), b = loose("new");
    kiv_value dep = *error::create(err::INTERNAL, err::internal::deprecated, &a, &b, nullptr);
    EXPECT_EQ(formed(dep),
              "*** Internal Error: old is DEPRECATED, please use new instead\n*** Where: ???\n*** Near : none");
    kiv_value note = *error::create(err::NOTE, err::note::no_load, &one, nullptr, nullptr);
    EXPECT_EQ(formed(note), "*** note: cannot load:  7\n*** Where: ???\n*** Near : none");
}

TEST_F(Errors, SyntaxErrorsFormTheirArgumentsScriptErrorsMoldThem) {
    kiv_value lit = loose("foo", TYPE_LIT_WORD), dt = dtype(TYPE_INTEGER), at = loose("here", TYPE_GET_WORD);
    kiv_value syntax = *error::create(err::SYNTAX, err::syntax::invalid, &lit, &dt, &at);
    EXPECT_EQ(formed(syntax), "*** Syntax Error: foo invalid integer at here\n*** Where: ???\n*** Near : none");
    kiv_value script = *error::create(err::SCRIPT, err::script::cannot_use, &lit, &dt, nullptr);
    EXPECT_EQ(formed(script), "*** Script Error: cannot use 'foo on integer! value\n*** Where: ???\n*** Near : none");
}

TEST_F(Errors, WhereNearAndFilesLines) {
    kiv_value e = make_error(int_value(400));
    kiv_value fn = loose("divide");
    put(e, error::FIELD_WHERE, fn);
    std::vector<kiv_value> cells;
    for (int i = 0; i < 30; i++) cells.push_back(int_value(1000 + i));
    kiv_value code = block_of(cells);
    code.data1 = 2;  // the failing expression
    put(e, error::FIELD_NEAR, code);
    EXPECT_EQ(formed(e),
              "*** Math Error: attempt to divide by zero\n*** Where: divide\n"
              "*** Near : 1002 1003 1004 1005 1006 1007 1008 1009 ");
    put(e, error::FIELD_WHERE, str("somewhere"));
    put(e, error::FIELD_NEAR, block_of({w("a"), w("b")}));
    put(e, error::FIELD_FILES, block_of({w("x"), w("y")}));
    EXPECT_EQ(formed(e), "*** Math Error: attempt to divide by zero\n*** Where: somewhere\n*** Near : a b"
                         "\n*** Files: x y");
    put(e, error::FIELD_WHERE, int_value(3));
    put(e, error::FIELD_FILES, none_value);
    EXPECT_EQ(formed(e), "*** Math Error: attempt to divide by zero\n*** Where: ???\n*** Near : a b");
}

TEST_F(Errors, ArgumentsAreCutAtEightyCharacters) {
    std::vector<kiv_value> cells;
    for (int i = 0; i < 40; i++) cells.push_back(int_value(100 + i));
    kiv_value big = block_of(cells);
    kiv_value e = *error::create(err::SCRIPT, err::script::invalid_arg, &big, nullptr, nullptr);
    std::string molded_arg = "[100";
    for (int i = 101; molded_arg.size() < 80; i++) molded_arg += " " + std::to_string(i);
    molded_arg.resize(80);
    EXPECT_EQ(formed(e), "*** Script Error: invalid argument: " + molded_arg + "\n*** Where: ???\n*** Near : none");
}

TEST_F(Errors, UserErrorsReduceABlockMessage) {
    kiv_value message = block_of({str("value"), loose("arg2", TYPE_GET_WORD), str("is wrong"), int_value(5)});
    kiv_value two = int_value(2);
    kiv_value e = *error::create(err::USER, err::user::message, &message, &two, nullptr);
    EXPECT_EQ(formed(e), "*** User Error: value 2 is wrong\n*** Where: ???\n*** Near : none");
}

// Forming falls back to internal `invalid-error` for a category or id the
// catalog lacks, and leaves the error's own fields as they were.
TEST_F(Errors, FormingAnUnknownIdFallsBackWithoutChangingTheError) {
    kiv_value e = make_error(int_value(300));
    kiv_value arg = int_value(42);
    put(e, error::FIELD_ARG1, arg);
    put(e, error::FIELD_ID, w("no-such-id"));
    const std::string expected =
        "*** Internal Error: invalid error object field value: no-such-id\n*** Where: ???\n*** Near : none";
    EXPECT_EQ(formed(e), expected);
    EXPECT_EQ(formed(e), expected);  // the same text again: nothing was rewritten
    kiv_value type = get(e, error::FIELD_TYPE), id = get(e, error::FIELD_ID);
    EXPECT_EQ(name_of(&type), "script");
    EXPECT_EQ(name_of(&id), "no-such-id");
    EXPECT_EQ(int_of(get(e, error::FIELD_ARG1)), 42);

    put(e, error::FIELD_TYPE, w("nowhere"));
    EXPECT_EQ(formed(e),
              "*** Internal Error: invalid error object field value: nowhere\n*** Where: ???\n*** Near : none");
    type = get(e, error::FIELD_TYPE);
    EXPECT_EQ(name_of(&type), "nowhere");
    put(e, error::FIELD_TYPE, int_value(5));
    EXPECT_EQ(formed(e), "*** Internal Error: invalid error object field value: 5\n*** Where: ???\n*** Near : none");
    EXPECT_EQ(int_of(get(e, error::FIELD_ARG1)), 42);
}

TEST_F(Errors, MoldShowsTheFields) {
    kiv_value e = make_error(int_value(400));
    const char* fields_text[] = {"code: 400", "type: 'math", "id: 'zero-divide", "arg1: none", "arg2: none",
                                 "arg3: none", "near: none", "where: none", "stack: none", "files: none"};
    std::string lines, flat, only;
    for (const char* f : fields_text) {
        lines += std::string("    ") + f + "\n";
        flat += (flat.empty() ? "" : " ") + std::string(f);
        only += (only.empty() ? "" : "\n") + std::string(f);
    }
    EXPECT_EQ(molded(e), "make error! [\n" + lines + "]");
    EXPECT_EQ(mold_with(e, false, true), "make error! [" + flat + "]");
    EXPECT_EQ(mold_with(e, true, false), only);
    EXPECT_EQ(mold_with(e, true, true), flat);
    // Nested in a block on a new line, one level deeper.
    kiv_value nested = e;
    nested.header |= FLAG_NEW_LINE;
    std::string deeper;
    for (const char* f : fields_text) deeper += std::string("        ") + f + "\n";
    EXPECT_EQ(molded(block_of({nested})), "[\n    make error! [\n" + deeper + "    ]\n]");
}

TEST_F(Errors, AnErrorInsideItselfIsMarked) {
    kiv_value e = make_error(int_value(309));
    put(e, error::FIELD_ARG1, e);
    EXPECT_EQ(formed(e), "*** Script Error: invalid argument: ...\n*** Where: ???\n*** Near : none");
    EXPECT_NE(molded(e).find("arg1: ...\n"), std::string::npos);
}

TEST_F(Errors, PathsReadAndSetFieldsButNotTheStack) {
    kiv_value e = make_error(int_value(400));
    kiv_value id = call(SLOT_EVAL_PATH, {e, w("id")}, {0});
    EXPECT_EQ(name_of(&id), "zero-divide");
    EXPECT_EQ(int_of(call(SLOT_EVAL_PATH, {e, w("CODE")}, {0})), 400);
    EXPECT_EQ(int_of(call(SLOT_EVAL_PATH, {e, w("arg1"), int_value(5)}, {1})), 5);
    EXPECT_EQ(int_of(get(e, error::FIELD_ARG1)), 5);
    kiv_value read = caught([&] { call(SLOT_EVAL_PATH, {e, w("stack")}, {0}); });
    expect_error(read, err::SCRIPT, err::script::invalid_path_set);
    expect_error(caught([&] { call(SLOT_EVAL_PATH, {e, w("stack"), int_value(1)}, {1}); }), err::SCRIPT,
                 err::script::invalid_path_set);
    expect_error(caught([&] { call(SLOT_EVAL_PATH, {e, w("nothing")}, {0}); }), err::SCRIPT,
                 err::script::invalid_path);
    expect_error(caught([&] { call(SLOT_EVAL_PATH, {e, int_value(1)}, {0}); }), err::SCRIPT,
                 err::script::invalid_path);
}

TEST_F(Errors, ErrorsCompareFieldByField) {
    kiv_value a = make_error(int_value(400)), b = make_error(int_value(400)), c = make_error(int_value(401));
    EXPECT_TRUE(actions::compare(&a, &b, COMP_EQUAL));
    EXPECT_TRUE(actions::compare(&a, &b, COMP_STRICT_EQUAL));
    EXPECT_FALSE(actions::compare(&a, &b, COMP_SAME));
    EXPECT_TRUE(actions::compare(&a, &a, COMP_SAME));
    EXPECT_FALSE(actions::compare(&a, &c, COMP_EQUAL));
    EXPECT_TRUE(actions::compare(&a, &c, COMP_LESSER));
    kiv_value n = int_value(400);
    EXPECT_EQ(actions::compare_values(&a, &n, COMP_EQUAL), COMPARE_INCOMPARABLE);
    EXPECT_FALSE(actions::compare(&a, &n, COMP_EQUAL));
    put(b, error::FIELD_ARG1, int_value(1));
    EXPECT_FALSE(actions::compare(&a, &b, COMP_EQUAL));
}

TEST_F(Errors, WhereIsSetOnlyWhenNone) {
    kiv_value e = make_error(int_value(400));
    kiv_value first = loose("first"), second = loose("second");
    error::set_where(&e, &first);
    error::set_where(&e, &second);
    kiv_value where = get(e, error::FIELD_WHERE);
    EXPECT_EQ(name_of(&where), "first");
}

namespace {

// Runs code under the interpreter inside a try frame and returns the error
// it raised.
kiv_value raised_by(const kiv_value& code) {
    return caught([&] { interpreter::eval(&code, false); });
}

void define(const char* name, const kiv_value& value) {
    kiv_value word = w(name);
    _context::set(&word, &value);
}

}  // namespace

TEST_F(Errors, RaisedErrorsKnowWhereAndNearAndKeepTheirStack) {
    kiv_value body = block_of({int_value(1), w("undefined-thing"), int_value(2)});
    define("boom", call(SLOT_MAKE, {dtype(TYPE_FUNCTION), block_of({block_of({}), body})}));
    kiv_value e = raised_by(block_of({w("boom")}));
    ASSERT_EQ(type_of_v(get(e, error::FIELD_STACK)), uint32_t(TYPE_INTEGER));
    // Captured at once, as a catching native does, while the frames' records
    // are still those of the failed calls.
    error::capture_stack(&e);
    expect_error(e, err::SCRIPT, err::script::no_value);
    kiv_value where = get(e, error::FIELD_WHERE);
    EXPECT_EQ(name_of(&where), "boom");
    EXPECT_EQ(formed(e), "*** Script Error: undefined-thing has no value\n*** Where: boom\n*** Near : undefined-thing 2");
    kiv_value calls = get(e, error::FIELD_STACK);
    ASSERT_EQ(type_of_v(calls), uint32_t(TYPE_BLOCK));
    ASSERT_EQ(length_of(calls), 1u);
    EXPECT_EQ(name_of(cells_of(calls)), "boom");
    error::capture_stack(&e);  // a block stays as it is
    EXPECT_EQ(get(e, error::FIELD_STACK).data2, calls.data2);
    kiv_value n = int_value(1);
    error::capture_stack(&n);  // not an error: nothing happens
    // Once the error has left the function, the next error is not placed in it.
    EXPECT_EQ(type_of_v(get(make_error(int_value(400)), error::FIELD_NEAR)), uint32_t(TYPE_NONE));
}

TEST_F(Errors, CollectFrameWordsByLevel) {
    kiv_value body = block_of({});
    define("lister", call(SLOT_MAKE, {dtype(TYPE_FUNCTION), block_of({block_of({}), body})}));
    kiv_value lister = w("lister"), other = w("other-native");
    stack::mark_native(&other);
    stack::mark_native(&lister);
    stack::mark_native(nullptr);
    kiv_value all = block_of({}), functions = block_of({});
    stack::collect_frame_words(2, &all, 3);
    stack::collect_frame_words(1, &functions, 3);
    ASSERT_EQ(length_of(all), 2u);
    EXPECT_EQ(name_of(cells_of(all)), "other-native");
    EXPECT_EQ(name_of(cells_of(all) + 1), "lister");
    ASSERT_EQ(length_of(functions), 1u);
    EXPECT_EQ(name_of(cells_of(functions)), "lister");
    kiv_value first = block_of({});
    stack::collect_frame_words(2, &first, 1);
    EXPECT_EQ(length_of(first), 1u);
}

TEST_F(Errors, UnsupportedActionsNameTheArgument) {
    kiv_value spec = block_of({w("number")});
    define("negate-it", call(SLOT_MAKE, {dtype(TYPE_ACTION), block_of({spec, int_value(int32_t(SLOT_NEGATE))})}));
    kiv_value e = raised_by(block_of({w("negate-it"), block_of({int_value(1)})}));
    expect_error(e, err::SCRIPT, err::script::expect_arg);
    kiv_value arg3 = get(e, error::FIELD_ARG3);
    EXPECT_EQ(name_of(&arg3), "number");
    EXPECT_EQ(formed(e), "*** Script Error: negate-it does not allow block! for its number argument\n"
                         "*** Where: negate-it\n*** Near : negate-it [1]");
}

TEST_F(Errors, CallArgumentsCountWordsAndRefinements) {
    kiv_value spec = block_of({str("doc"), w("series"), block_of({}), w("value", TYPE_GET_WORD),
                               w("part", TYPE_REFINEMENT), w("length", TYPE_LIT_WORD)});
    define("args-of", call(SLOT_MAKE, {dtype(TYPE_ACTION), block_of({spec, int_value(int32_t(SLOT_FIND))})}));
    kiv_value called = w("args-of");
    stack::mark_native(&called);
    const char* names[] = {"series", "value", "part", "length", "<anon>"};
    for (uint32_t i = 0; i < 5; i++) {
        kiv_value a = error::get_call_arg(i);
        EXPECT_EQ(name_of(&a), names[i]);
    }
    stack::unwind_drop();
    kiv_value a = error::get_call_arg(0);  // no call at all
    EXPECT_EQ(name_of(&a), "<anon>");
}

TEST_F(Errors, TheTracerSeesEachErrorBeforeItIsThrown) {
    kiv_value spec = block_of({w("event"), w("code"), w("offset"), w("value"), w("ref"), w("frame")});
    kiv_value body = block_of({w("traced-error", TYPE_SET_WORD), w("value")});
    *interpreter::tracer = call(SLOT_MAKE, {dtype(TYPE_FUNCTION), block_of({spec, body})});
    interpreter::event_mask = interpreter::EVT_ERROR;
    interpreter::tracing_q = true;
    kiv_value e = caught([] { fire(err::MATH, err::math::overflow); });
    interpreter::tracing_q = false;
    *interpreter::tracer = none_value;
    expect_error(e, err::MATH, err::math::overflow);
    kiv_value traced_word = w("traced-error");
    kiv_value traced = *_context::get(&traced_word);
    expect_error(traced, err::MATH, err::math::overflow);
    EXPECT_EQ(traced.data1, e.data1);
}

TEST(ErrorsDeath, AnUncaughtErrorPrintsTheFormedError) {
    EXPECT_EXIT(
        {
            stack::ctop = stack::cbottom;
            stack::mark_native(nullptr);
            kiv_value zero = int_value(0);
            fire(err::SCRIPT, err::script::invalid_arg, &zero);
        },
        ::testing::ExitedWithCode(254),
        "^\\*\\*\\* Script Error: invalid argument: 0\n\\*\\*\\* Where: <not-found>\n\\*\\*\\* Near : none\n$");
}
