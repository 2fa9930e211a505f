#include "MainUnit.h"
#include "TestSupport.h"
#include "UserRobot.h"

#include <gtest/gtest.h>

TEST(CommandLine, OnlyTheFirstArgumentCounts)
{
    EXPECT_EQ(FirstArgument("Runwarden.exe -once"), "-once");
    EXPECT_EQ(FirstArgument("\"C:\\Program Files\\R\\Runwarden.exe\" -once x"), "-once");
    EXPECT_EQ(FirstArgument("Runwarden.exe \t-once"), "-once");
    EXPECT_EQ(FirstArgument("Runwarden.exe \"-on\"ce"), "-once");
    EXPECT_EQ(FirstArgument("Runwarden.exe x -once"), "x");
    EXPECT_EQ(FirstArgument("Runwarden.exe"), "");
    EXPECT_EQ(FirstArgument(""), "");
}
