#pragma once
// A fixture for tests that run Kiv code with the natives bound to their
// words, as start-up will bind them.
#include <string>

#include "runtime/evaluator/interpreter.h"
#include "tests/unit/action_fixture.h"
#include "tests/unit/natives_setup.h"

namespace kiv::test {

class NativesTest : public StackTest {
  protected:
    // Evaluates the text as a script does, under a try frame so that an
    // error fails the test instead of ending the process. The stacks must
    // come back holding the value only.
    kiv_value run(const std::string& text) {
        StackTest::SetUp();
        stack::mark_try(nullptr);
        call_frame* frames = stack::ctop;
        kiv_value* base = stack::top;
        kiv_value code = read_code(text);
        try {
            interpreter::eval(&code, false);
        } catch (const kiv_exit&) {
            kiv_value e = *stack::get_top();
            ADD_FAILURE() << text << " raised error " << error::category_of(&e) << "/" << error::id_of(&e) << " " << molded(e);
            StackTest::SetUp();
            return none_value;
        }
        EXPECT_EQ(sys.pending_exit, uint32_t(LEVEL_NONE)) << text;
        EXPECT_EQ(stack::ctop, frames) << text << ": call frames left";
        EXPECT_EQ(stack::top, base + 1) << text << ": the stack keeps exactly the result";
        kiv_value result = *stack::get_top();
        StackTest::SetUp();
        return result;
    }

    // The error that evaluating the text raises.
    kiv_value error_of(const std::string& text) {
        StackTest::SetUp();
        stack::mark_try(nullptr);
        kiv_value code = read_code(text);
        kiv_value e = raised([&] { interpreter::eval(&code, false); });
        StackTest::SetUp();
        return e;
    }

    void expect_raises(const std::string& text, err::category c, uint32_t id) {
        SCOPED_TRACE(text);
        expect_error(error_of(text), c, id);
    }

    std::string mold_of(const std::string& text) { return molded(run(text)); }
    int32_t int_run(const std::string& text) {
        kiv_value v = run(text);
        EXPECT_EQ(type_of(&v), uint32_t(TYPE_INTEGER)) << text;
        return int_of(v);
    }
    double float_run(const std::string& text) {
        kiv_value v = run(text);
        EXPECT_EQ(type_of(&v), uint32_t(TYPE_FLOAT)) << text;
        return float_::get(&v);
    }
    bool logic_run(const std::string& text) {
        kiv_value v = run(text);
        EXPECT_EQ(type_of(&v), uint32_t(TYPE_LOGIC)) << text;
        return truth(v);
    }
    uint32_t type_run(const std::string& text) {
        kiv_value v = run(text);
        return type_of(&v);
    }
};

}  // namespace kiv::test
