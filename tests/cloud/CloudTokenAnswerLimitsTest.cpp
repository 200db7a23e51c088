// Token answers found by fuzzing, kept with what they must read as.
#include "cloud/CloudTokenStore.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>

// A lifetime past any clock (the fuzzer's 4.4e44 seconds) is taken as ten
// years, never as a time in the past.
TEST(CloudTokenAnswerLimitsTest, AbsurdLifetimesAreCappedAtTenYears) {
    const int64_t tenYears = int64_t(10) * 365 * 24 * 3600;
    for (const char* lifetime : {"444444444444444444444444444444444440000000000", "1e300", "315360000"}) {
        SCOPED_TRACE(lifetime);
        std::string error;
        const int64_t before = int64_t(std::time(nullptr));
        auto token = CloudTokenStore::fromTokenAnswer(
            std::string(R"({"access_token": "at", "refresh_token": "rt", "expires_in": )") + lifetime + "}", "old",
            &error);
        ASSERT_TRUE(token) << error;
        EXPECT_GE(token->expiresAt, before + tenYears);
        EXPECT_LE(token->expiresAt, int64_t(std::time(nullptr)) + tenYears);
    }
    std::string error;
    auto hour = CloudTokenStore::fromTokenAnswer(R"({"access_token": "at", "expires_in": 3599})", "old", &error);
    ASSERT_TRUE(hour) << error;
    EXPECT_EQ(hour->refresh, "old");
    EXPECT_NEAR(double(hour->expiresAt), double(std::time(nullptr) + 3599), 5);
}
