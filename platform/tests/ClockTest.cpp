// Clock, random and identity services.
#include <gtest/gtest.h>

#include <set>

#include "platform/Clock.h"
#include "platform/Identity.h"
#include "platform/Random.h"

using namespace ostra::platform;

TEST(Clock, TickCountAdvancesAcrossSleep) {
    uint32_t before = GetTickCount();
    Sleep(20);
    EXPECT_GE(static_cast<uint32_t>(GetTickCount() - before), 15u);
}

TEST(Clock, LocalTimeHasValidParts) {
    LocalTime t = GetLocalTime();
    EXPECT_GE(t.Year, 2000);
    EXPECT_TRUE(t.Month >= 1 && t.Month <= 12);
    EXPECT_TRUE(t.Day >= 1 && t.Day <= 31);
    EXPECT_TRUE(t.Millisecond >= 0 && t.Millisecond < 1000);
}

TEST(Random, StaysInRangeAndRepeatsForASeed) {
    RandSeed(7);
    std::vector<int> first;
    for (int i = 0; i < 100; ++i) {
        int v = Random(40);
        ASSERT_TRUE(v >= 0 && v < 40);
        first.push_back(v);
    }
    RandSeed(7);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(Random(40), first[i]);
    EXPECT_EQ(Random(0), 0);
    EXPECT_EQ(Random(-5), 0);
}

TEST(Identity, NamesAreNotEmpty) {
    EXPECT_FALSE(GetUserName().empty());
    EXPECT_FALSE(GetComputerName().empty());
}
