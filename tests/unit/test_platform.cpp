// The platform layer.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <ctime>

#include "runtime/platform.h"
#include "runtime/system.h"

using namespace kiv;

TEST(Platform, WaitRoundsToMilliseconds) {
    struct {
        double seconds;
        uint32_t ms;
    } cases[] = {{0.0005, 1}, {0.0, 1}, {-3.0, 1}, {1.5, 1500}, {0.0019, 1}, {2.0, 2000}};
    for (auto& c : cases) EXPECT_EQ(platform::wait_milliseconds(c.seconds), c.ms) << c.seconds;
}

TEST(Platform, ZonePacking) {
    EXPECT_EQ(platform::pack_zone(330), 0b0010110u);   // UTC+5:30
    EXPECT_EQ(platform::pack_zone(-180), 0b1001100u);  // UTC-3
    EXPECT_EQ(platform::pack_zone(0), 0u);
    EXPECT_EQ(platform::pack_zone(585), 0b0100111u);   // UTC+9:45
}

TEST(Platform, LocalTimeCarriesTheZone) {
    const char* old = getenv("TZ");
    std::string saved = old ? old : "";
    setenv("TZ", "Asia/Kolkata", 1);
    tzset();
    uint32_t local = platform::get_local_time(false);
    uint32_t utc = platform::get_local_time(true);
    if (old) setenv("TZ", saved.c_str(), 1);
    else unsetenv("TZ");
    tzset();
    EXPECT_EQ(local & 0x7F, 0b0010110u);
    EXPECT_EQ(utc & 0x7F, 0u);
    EXPECT_GE(utc >> 17, 2024u);
    uint32_t month = (utc >> 12) & 0x1F, day = (utc >> 7) & 0x1F;
    EXPECT_TRUE(month >= 1 && month <= 12);
    EXPECT_TRUE(day >= 1 && day <= 31);
}

TEST(Platform, CurrentDirectoryAndEnvironment) {
    uint32_t len = 0;
    char* dir = platform::get_current_dir(&len);
    ASSERT_NE(dir, nullptr);
    EXPECT_EQ(len, std::strlen(dir));
    EXPECT_TRUE(platform::set_current_dir("/"));
    char* root = platform::get_current_dir(&len);
    EXPECT_STREQ(root, "/");
    EXPECT_EQ(len, 1u);
    EXPECT_TRUE(platform::set_current_dir(dir));
    EXPECT_FALSE(platform::set_current_dir("/no/such/dir/here"));
    memory::free(root);
    memory::free(dir);

    EXPECT_TRUE(platform::set_env("KIV_TEST_VAR", "value"));
    EXPECT_STREQ(platform::get_env("KIV_TEST_VAR"), "value");
    EXPECT_EQ(platform::get_env("KIV_NO_SUCH_VAR"), nullptr);
}

TEST(Platform, UtcTimeOfDay) {
    double t = platform::get_utc_time(true);
    EXPECT_GE(t, 0.0);
    EXPECT_LT(t, 86400.0);
    double whole = platform::get_utc_time(false);
    EXPECT_EQ(whole, double(int64_t(whole)));
}
