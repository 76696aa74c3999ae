#include "sim/simulated_platform.h"

#include "link/removal_watch.h"
#include "tests/support/phone_world.h"

#include <gtest/gtest.h>

#include <stop_token>

namespace p2k::sim {
namespace {

class SimulatedPlatformTest : public testing::Test, public test::PlatformWorld {
protected:
    explicit SimulatedPlatformTest(PhoneConfig config = {}) : PlatformWorld(config, 1000) {}

    TestCommandChannel channel{link, log, clock};
    std::stop_source stop;
};

class SimulatedPlatformModemTest : public SimulatedPlatformTest {
protected:
    SimulatedPlatformModemTest() : SimulatedPlatformTest(test::modemPhone()) {}
};

// ---- modem port ---------------------------------------------------------------

TEST_F(SimulatedPlatformTest, NoModemPortWhileInCommandMode)
{
    std::string port = "unchanged";
    EXPECT_EQ(platform.findModemPort(port), -1);
    EXPECT_EQ(port, "unchanged");
}

TEST_F(SimulatedPlatformModemTest, ModemPortIsCom5WhileInModemMode)
{
    std::string port;
    EXPECT_EQ(platform.findModemPort(port), 0);
    EXPECT_EQ(port, "COM5");
}

TEST_F(SimulatedPlatformModemTest, NoModemPortWhileUnpluggedOrHeld)
{
    std::string port;
    phone.unplug();
    EXPECT_EQ(platform.findModemPort(port), -1);
    phone.plugIn();
    platform.holdPhone(true);
    EXPECT_EQ(platform.findModemPort(port), -1);
    platform.holdPhone(false);
    EXPECT_EQ(platform.findModemPort(port), 0);
}

TEST_F(SimulatedPlatformModemTest, SwitchWritesTheTextWaitsTwoSecondsAndBringsUpTheCommandInterface)
{
    EXPECT_EQ(platform.findPhone().device, nullptr);

    platform.switchToCommandMode("COM5");

    EXPECT_EQ(platform.bytesWrittenTo("COM5"), "at+mode=8\r\n");
    EXPECT_EQ(clock.tickMs(), 3000u);
    EXPECT_FALSE(phone.modemMode());
    std::string port;
    EXPECT_EQ(platform.findModemPort(port), -1);
    EXPECT_NE(platform.findPhone().device, nullptr);
}

TEST_F(SimulatedPlatformModemTest, SwitchOnAnotherPortWritesNothingAndDoesNotWait)
{
    platform.switchToCommandMode("COM6");
    EXPECT_EQ(platform.bytesWrittenTo("COM6"), "");
    EXPECT_EQ(platform.bytesWrittenTo("COM5"), "");
    EXPECT_EQ(clock.tickMs(), 1000u);
    EXPECT_TRUE(phone.modemMode());
}

TEST_F(SimulatedPlatformModemTest, APhoneThatIgnoresTheSwitchStaysAModem)
{
    platform.setModemIgnoresSwitch(true);
    platform.switchToCommandMode("COM5");
    platform.switchToCommandMode("COM5");
    EXPECT_EQ(platform.bytesWrittenTo("COM5"), "at+mode=8\r\nat+mode=8\r\n");
    EXPECT_TRUE(phone.modemMode());
    EXPECT_EQ(clock.tickMs(), 5000u);
}

TEST_F(SimulatedPlatformTest, SwitchWithoutAModemPortWritesNothing)
{
    platform.switchToCommandMode("COM5");
    EXPECT_EQ(platform.bytesWrittenTo("COM5"), "");
    EXPECT_EQ(clock.tickMs(), 1000u);
}

// ---- finding the interface ----------------------------------------------------------

PhoneConfig phoneAtInterfaceEleven()
{
    PhoneConfig config;
    config.commandInterface = 0x0B;
    return config;
}

class SimulatedPlatformInterfaceElevenTest : public SimulatedPlatformTest {
protected:
    SimulatedPlatformInterfaceElevenTest() : SimulatedPlatformTest(phoneAtInterfaceEleven()) {}
};

// The path names the number as the driver's would, the device carries it,
// and the phone, which takes no other index, answers and is watched.
TEST_F(SimulatedPlatformInterfaceElevenTest, PhoneAtAnotherInterfaceIsFoundUsedAndWatched)
{
    FoundPhone found = platform.findPhone();
    ASSERT_NE(found.device, nullptr);
    EXPECT_EQ(found.devicePath,
              "\\\\?\\usb#vid_22b8&pid_4902&mi_0b#6&1a2b3c4d&0&000b#{4e1e1e15-52d7-11d4-852d-00105aa6f80b}");
    EXPECT_EQ(found.device->interfaceNumber(), 0x0B);

    link.attach(std::move(found.device));
    platform.setWatchHook([&](uint32_t watchedMs) {
        if (watchedMs == 100) {
            EXPECT_EQ(test::sendRestart(channel), kOk);
        }
        if (watchedMs == 1000)
            stop.request_stop(); // the phone's departure went unnoticed
    });
    platform.waitForRemoval(found.devicePath, stop.get_token());

    EXPECT_EQ(phone.restartCount(), 1);
    EXPECT_TRUE(phone.violations().empty()) << phone.violations().front();
    EXPECT_LT(clock.tickMs(), 1150u);
}

TEST_F(SimulatedPlatformTest, FindsTheAttachedPhoneAndItsDeviceReachesThePhone)
{
    FoundPhone found = platform.findPhone();
    ASSERT_NE(found.device, nullptr);
    EXPECT_EQ(found.devicePath, simDevicePath(8));
    EXPECT_EQ(sink.text(), "");

    link.attach(std::move(found.device));
    EXPECT_EQ(test::sendRestart(channel), kOk);
    EXPECT_EQ(phone.restartCount(), 1);
}

TEST_F(SimulatedPlatformTest, NothingFoundWhileUnpluggedHeldOrInModemMode)
{
    phone.unplug();
    EXPECT_EQ(platform.findPhone().device, nullptr);
    phone.plugIn();
    platform.holdPhone(true);
    EXPECT_EQ(platform.findPhone().device, nullptr);
    platform.holdPhone(false);
    EXPECT_NE(platform.findPhone().device, nullptr);
    EXPECT_EQ(sink.text(), "");
}

TEST_F(SimulatedPlatformModemTest, NothingFoundInModemMode)
{
    EXPECT_EQ(platform.findPhone().device, nullptr);
    EXPECT_EQ(platform.descriptorReads(), 0u);
}

TEST_F(SimulatedPlatformTest, NearNamesAndUnreadableDescriptorsAreSkipped)
{
    phone.unplug();
    platform.setOtherInterfaces({{"motorola test command"},
                                 {"Motorola Test Command "},
                                 {"Motorola Test Comman"},
                                 {"Motorola Test Command", false}});
    EXPECT_EQ(platform.findPhone().device, nullptr);
    EXPECT_EQ(platform.descriptorReads(), 4u);
    EXPECT_EQ(sink.text(), "USB: IO Failed!\r\n");
}

TEST_F(SimulatedPlatformTest, ThePhoneIsFoundBehindOtherInterfaces)
{
    platform.setOtherInterfaces({{"USB Modem"}, {"MOTOROLA TEST COMMAND"}});
    const FoundPhone found = platform.findPhone();
    EXPECT_NE(found.device, nullptr);
    EXPECT_EQ(found.devicePath, simDevicePath(8));
    EXPECT_EQ(platform.descriptorReads(), 3u);
}

TEST_F(SimulatedPlatformTest, ALookAlikeWithTheExactNameIsOpenedFirst)
{
    platform.setOtherInterfaces({{"Motorola Test Command"}});
    FoundPhone found = platform.findPhone();
    ASSERT_NE(found.device, nullptr);
    EXPECT_NE(found.devicePath, simDevicePath(8));
    link.attach(std::move(found.device));
    EXPECT_EQ(test::sendRestart(channel), kFailed);
    EXPECT_EQ(phone.restartCount(), 0);
}

// ---- the removal watch ------------------------------------------------------------

TEST_F(SimulatedPlatformTest, WatchEndsWhenThePhoneIsUnplugged)
{
    const FoundPhone found = platform.findPhone();
    platform.setWatchHook([&](uint32_t watchedMs) {
        if (watchedMs == 300)
            phone.unplug();
    });
    platform.waitForRemoval(found.devicePath, stop.get_token());
    EXPECT_EQ(clock.tickMs(), 1300u);
    EXPECT_EQ(platform.lastWatchKey(), removalWatchKey(simDevicePath(8)));
}

TEST_F(SimulatedPlatformTest, WatchEndsWhenThePhoneRestarts)
{
    FoundPhone found = platform.findPhone();
    link.attach(std::move(found.device));
    platform.setWatchHook([&](uint32_t watchedMs) {
        if (watchedMs == 100) {
            EXPECT_EQ(test::sendRestart(channel), kOk);
        }
    });
    const uint32_t before = clock.tickMs();
    platform.waitForRemoval(found.devicePath, stop.get_token());
    // The restart's own polls sleep 1 ms each; the watch notices at its next step.
    EXPECT_EQ(phone.restartCount(), 1);
    EXPECT_GE(clock.tickMs() - before, 100u);
    EXPECT_LT(clock.tickMs() - before, 150u);
}

TEST_F(SimulatedPlatformTest, WatchEndsWhenThePhoneIsHeld)
{
    const FoundPhone found = platform.findPhone();
    platform.setWatchHook([&](uint32_t watchedMs) {
        if (watchedMs == 50)
            platform.holdPhone(true);
    });
    platform.waitForRemoval(found.devicePath, stop.get_token());
    EXPECT_EQ(clock.tickMs(), 1050u);
}

TEST_F(SimulatedPlatformTest, WatchReturnsAtOnceWhenItCannotBeSetUp)
{
    const FoundPhone found = platform.findPhone();
    platform.setWatchUnavailable(true);
    platform.waitForRemoval(found.devicePath, stop.get_token());
    EXPECT_EQ(clock.tickMs(), 1000u);
}

TEST_F(SimulatedPlatformTest, WatchOfAPathThatNamesNoKeyReturnsAtOnce)
{
    platform.findPhone();
    platform.waitForRemoval("\\\\?", stop.get_token());
    EXPECT_EQ(clock.tickMs(), 1000u);
    EXPECT_EQ(platform.lastWatchKey(), std::nullopt);
}

TEST_F(SimulatedPlatformTest, WatchEndsWhenStopIsRequested)
{
    const FoundPhone found = platform.findPhone();
    platform.setWatchHook([&](uint32_t watchedMs) {
        if (watchedMs == 200)
            stop.request_stop();
    });
    platform.waitForRemoval(found.devicePath, stop.get_token());
    EXPECT_EQ(clock.tickMs(), 1200u);
    EXPECT_TRUE(phone.attached());
}

TEST_F(SimulatedPlatformTest, WatchReturnsAtOnceWhenStopWasRequestedBefore)
{
    const FoundPhone found = platform.findPhone();
    stop.request_stop();
    platform.waitForRemoval(found.devicePath, stop.get_token());
    EXPECT_EQ(clock.tickMs(), 1000u);
}

TEST_F(SimulatedPlatformTest, AReplugBetweenStepsStillEndsTheWatch)
{
    const FoundPhone found = platform.findPhone();
    platform.setWatchHook([&](uint32_t watchedMs) {
        if (watchedMs == 100) {
            phone.unplug();
            phone.plugIn();
        }
    });
    platform.waitForRemoval(found.devicePath, stop.get_token());
    EXPECT_EQ(clock.tickMs(), 1100u);
}

} // namespace
} // namespace p2k::sim
