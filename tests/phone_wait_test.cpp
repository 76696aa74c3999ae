#include "link/phone_wait.h"

#include "tests/support/phone_world.h"

#include <gtest/gtest.h>

#include <vector>

namespace p2k {
namespace {

class PhoneWaitTest : public testing::Test, public test::PlatformWorld {
protected:
    explicit PhoneWaitTest(sim::PhoneConfig config = {}) : PlatformWorld(config, 1000) {}

    // Waits; the phone is plugged in when the wait has reported plugInAfter times.
    FoundPhone wait(uint32_t waitMs, size_t plugInAfter = SIZE_MAX)
    {
        return waitForPhone(platform, clock, waitMs, [this, plugInAfter](uint32_t leftMs) {
            reported.push_back(leftMs);
            if (reported.size() == plugInAfter)
                phone.plugIn();
        });
    }

    std::vector<uint32_t> reported;
};

TEST_F(PhoneWaitTest, PhoneThatIsThereIsTakenAtOnce)
{
    EXPECT_NE(wait(10000).device, nullptr);
    EXPECT_TRUE(reported.empty());
    EXPECT_EQ(clock.sleepCount(), 0u);
}

TEST_F(PhoneWaitTest, WaitZeroLooksOnceAndGivesUp)
{
    phone.unplug();
    EXPECT_EQ(wait(0).device, nullptr);
    EXPECT_TRUE(reported.empty());
    EXPECT_EQ(clock.sleepCount(), 0u);
}

TEST_F(PhoneWaitTest, PhoneAttachedLaterIsFoundInTheNextRound)
{
    phone.unplug();
    EXPECT_NE(wait(10000, 3).device, nullptr);
    EXPECT_EQ(reported, (std::vector<uint32_t>{10000, 9000, 8000}));
    EXPECT_EQ(clock.totalSleptMs(), 3000u);
}

TEST_F(PhoneWaitTest, NoPhoneEndsAfterTheWholeWaitAndNoLonger)
{
    phone.unplug();
    EXPECT_EQ(wait(2500).device, nullptr);
    EXPECT_EQ(reported, (std::vector<uint32_t>{2500, 1500, 500}));
    EXPECT_EQ(clock.totalSleptMs(), 2500u);
}

class PhoneWaitModemTest : public PhoneWaitTest {
protected:
    PhoneWaitModemTest() : PhoneWaitTest(test::modemPhone()) {}
};

TEST_F(PhoneWaitModemTest, PhoneInModemModeIsSwitchedAndGivenItsFiveSeconds)
{
    EXPECT_NE(wait(0).device, nullptr);
    EXPECT_EQ(platform.bytesWrittenTo("COM5"), "at+mode=8\r\n");
    EXPECT_GE(clock.totalSleptMs(), kAfterModemSwitchMs);
}

} // namespace
} // namespace p2k
