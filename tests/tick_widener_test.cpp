#include "core/tick_widener.h"

#include <gtest/gtest.h>

namespace p2k {
namespace {

constexpr uint64_t kWrap = uint64_t{1} << 32;

TEST(TickWidener, FollowsTheTickAndCountsOnAcrossWraps)
{
    TickWidener widener;
    EXPECT_EQ(widener.widen(3'000'000'000u), 3'000'000'000u);
    EXPECT_EQ(widener.widen(0xFFFFFFF0u), 0xFFFFFFF0u);
    EXPECT_EQ(widener.widen(0x10u), kWrap + 0x10u);
    // A day after the wrap, then readings some twelve days apart through
    // a second wrap.
    EXPECT_EQ(widener.widen(86'400'000u), kWrap + 86'400'000u);
    EXPECT_EQ(widener.widen(0x40000000u), kWrap + 0x40000000u);
    EXPECT_EQ(widener.widen(0xB0000000u), kWrap + 0xB0000000u);
    EXPECT_EQ(widener.widen(0x20000000u), 2 * kWrap + 0x20000000u);
}

TEST(TickWidener, ALateReadingIsNoWrapAndMovesNothingBack)
{
    TickWidener widener;
    widener.widen(0xFFFFFFF0u);
    EXPECT_EQ(widener.widen(0x5u), kWrap + 0x5u);
    // Read just before the wrap by another thread, handed in after it.
    EXPECT_EQ(widener.widen(0xFFFFFFFAu), 0xFFFFFFFAu);
    EXPECT_EQ(widener.widen(0x6u), kWrap + 0x6u);
    EXPECT_EQ(widener.widen(0x2u), kWrap + 0x2u);
    EXPECT_EQ(widener.widen(0x7u), kWrap + 0x7u);
}

} // namespace
} // namespace p2k
