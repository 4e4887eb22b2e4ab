// Every unit test runs in an initialised runtime.
#include <gtest/gtest.h>

#include <cstdlib>

#include "runtime/boot.h"
#include "runtime/collector.h"
#include "runtime/runtime.h"
#include "runtime/system.h"

namespace {
class RuntimeEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        static char name[] = "kiv_unit_tests";
        static char* args[] = {name, nullptr};
        kiv::system::os_init(1, args);
        kiv::runtime::init(kiv_boot_data, kiv_boot_data_size);
        kiv::boot::start();
        // Tests choose when the collector runs.
        kiv::collector::active_q = false;
        // KIV_TEST_COLLECT=1 runs every test with the collector on and
        // collecting at every allocation.
        const char* collect = std::getenv("KIV_TEST_COLLECT");
        if (collect && *collect == '1') {
            kiv::collector::active_q = true;
            kiv::collector::set_stress(true);
        }
    }
};
}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new RuntimeEnvironment);
    return RUN_ALL_TESTS();
}
