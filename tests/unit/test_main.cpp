// Every unit test runs in an initialised runtime.
#include <gtest/gtest.h>

#include "runtime/runtime.h"
#include "runtime/system.h"

namespace {
class RuntimeEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        static char name[] = "kiv_unit_tests";
        static char* args[] = {name, nullptr};
        kiv::system::os_init(1, args);
        kiv::runtime::init();
    }
};
}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new RuntimeEnvironment);
    return RUN_ALL_TESTS();
}
