#include <gtest/gtest.h>

#include "app/ProgramOptions.h"

namespace {

std::optional<ProgramOptions> parse(std::vector<std::string> args, std::string* error = nullptr) {
    return ProgramOptions::parse(args, error);
}

TEST(ProgramOptions, EveryFlagWithItsValue) {
    auto o = parse({"--home", "/tmp/h", "--device", "phone", "--headless", "--script", "s.txt", "--shots", "out",
                    "book.cbz"});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->home, "/tmp/h");
    EXPECT_EQ(o->device, "phone");
    EXPECT_TRUE(o->headless);
    EXPECT_EQ(o->script, "s.txt");
    EXPECT_EQ(o->shots, "out");
    EXPECT_EQ(o->target, "book.cbz");
    auto none = parse({});
    ASSERT_TRUE(none);
    EXPECT_FALSE(none->headless);
    EXPECT_FALSE(none->target);
}

TEST(ProgramOptions, MistakesAreNamed) {
    std::string error;
    EXPECT_FALSE(parse({"--home"}, &error));
    EXPECT_NE(error.find("--home"), std::string::npos);
    EXPECT_FALSE(parse({"--device", "toaster"}, &error));
    EXPECT_NE(error.find("toaster"), std::string::npos);
    EXPECT_FALSE(parse({"--frobnicate"}, &error));
    EXPECT_NE(error.find("--frobnicate"), std::string::npos);
    EXPECT_FALSE(parse({"a.cbz", "b.cbz"}, &error));
    EXPECT_FALSE(parse({"--script", ""}, &error));
    EXPECT_NE(ProgramOptions::usage().find("phone-se"), std::string::npos);
    // A device on the newer system, and only on a system the program knows.
    auto newer = parse({"--device", "pad@26"});
    ASSERT_TRUE(newer);
    EXPECT_EQ(newer->device, "pad@26");
    EXPECT_FALSE(parse({"--device", "pad@17"}, &error));
    EXPECT_NE(error.find("pad@17"), std::string::npos);
    EXPECT_NE(ProgramOptions::usage().find("@26"), std::string::npos);
    // Quick actions: the two the program offers, nothing else.
    auto quick = parse({"--quick-action", "reading"});
    ASSERT_TRUE(quick);
    EXPECT_EQ(quick->quickAction, "reading");
    EXPECT_FALSE(parse({"--quick-action", "camera"}, &error));
    EXPECT_NE(error.find("camera"), std::string::npos);
    EXPECT_FALSE(parse({"--quick-action"}, &error));
}

}  // namespace
