#include <Corvane/Corvane.h>
#include <gtest/gtest.h>

#include <string>

// Version(), the header's macros and project() (PROJECT_VERSION, passed in
// by the build) name one version.
TEST(Version, IsTheProjectsVersion) {
    EXPECT_STREQ(Corvane::Version(), PROJECT_VERSION);
    EXPECT_STREQ(CORVANE_VERSION_STRING, PROJECT_VERSION);
    const std::string numbers = std::to_string(CORVANE_VERSION_MAJOR) + "." +
                                std::to_string(CORVANE_VERSION_MINOR) + "." +
                                std::to_string(CORVANE_VERSION_PATCH);
    EXPECT_EQ(numbers, PROJECT_VERSION);
}
