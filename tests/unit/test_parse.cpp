// PARSE: matching strings and blocks against grammar rules, backtracking,
// captures, changes to the input, the trace callback and the errors.
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/evaluator/lexer.h"
#include "tests/unit/natives_fixture.h"

using namespace kiv;
using namespace kiv::test;

namespace {

class Parse : public NativesTest {
  protected:
    // Loads the text with the lexer and evaluates it as a script; answers
    // the molded result, or "error " and the id of the error it raised. The
    // stacks must come back as they were.
    std::string outcome(const std::string& text) {
        StackTest::SetUp();
        stack::mark_try(nullptr);
        call_frame* frames = stack::ctop;
        kiv_value* base = stack::top;
        kiv_value code{TYPE_UNSET, 0, 0, 0};
        lexer::scan(&code, reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), false, false,
                    false, nullptr, nullptr, nullptr, nullptr);
        std::string result;
        try {
            interpreter::eval(&code, false);
            EXPECT_EQ(sys.pending_exit, uint32_t(LEVEL_NONE)) << text;
            EXPECT_EQ(stack::ctop, frames) << text << ": call frames left";
            EXPECT_EQ(stack::top, base + 1) << text << ": the stack keeps exactly the result";
            result = molded(*stack::get_top());
        } catch (const kiv_exit&) {
            kiv_value e = *stack::get_top();
            result = std::string("error ") + symbol::name_of(error::get_id(&e));
        }
        StackTest::SetUp();
        return result;
    }

    struct case_ {
        const char* code;
        const char* expected;
    };
    void check(std::initializer_list<case_> cases) {
        for (const case_& c : cases) EXPECT_EQ(outcome(c.code), c.expected) << c.code;
    }
};

}  // namespace

TEST_F(Parse, Smoke) {
    check({
        {R"(parse "abc" ["a" "b" "c"])", "true"},
        {R"(parse "abc" ["a" "b"])", "false"},
        {R"(parse "ABC" ["abc"])", "true"},
        {R"(parse/case "ABC" ["abc"])", "false"},
        {R"(parse [1 2 3] [some integer!])", "true"},
        {R"(parse "123" [integer!])", "error parse-unsupported"},
        {R"(parse [a b] ['a 'b])", "true"},
        {R"(parse "a" ["a" any])", "error parse-end"},
        {R"(parse [1 2] [collect [some [keep integer!]]])", "[1 2]"},
        {R"(parse [1] [keep integer!])", "error parse-keep"},
    });
}
