// The core's libusb platform and transport, in this process, through the
// real libusb against emulated devices.

#include "tests/usb_emulation/emulated_usb.h"

#include "core/operator_log.h"
#include "link/clock.h"
#include "link/phone_link.h"
#include "link/phone_platform_libusb.h"
#include "link/test_command_channel.h"
#include "services/seem_access.h"
#include "sim/demo_phone.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <optional>

namespace p2k::emu {
namespace {

class LibusbPlatformOverUmockdevTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (!preloadActive())
            GTEST_SKIP() << "umockdev's preload is not active, so libusb cannot be given an emulated phone";
        bus.emplace();
    }

    // Discovery over the real bus, made after the devices are in place.
    PhonePlatform& platform()
    {
        if (!platform_)
            platform_ = makeLibusbPlatform(log, systemClock());
        return *platform_;
    }

    FakeClock clock{1000};
    MemoryLogSink sink;
    OperatorLog log{&sink};
    std::unique_ptr<sim::SimulatedPhone> phone = sim::makeDemoPhone(systemClock());
    std::optional<EmulatedBus> bus;
    std::unique_ptr<PhonePlatform> platform_;
};

TEST_F(LibusbPlatformOverUmockdevTest, CommandInterfaceAtAnotherNumberIsClaimedAndAddressedByIt)
{
    EmulatedDevice& device = bus->plugIn(phoneInCommandMode(0x0B), phone.get());

    FoundPhone found = platform().findPhone();

    ASSERT_NE(found.device, nullptr);
    EXPECT_EQ(found.devicePath, "1-2:1.11");
    EXPECT_EQ(device.claimedInterfaces(), std::vector<uint8_t>{0x0B});
    PhoneLink link;
    link.attach(std::move(found.device));
    TestCommandChannel channel(link, log, clock);
    SeemAccess seems(channel);
    EXPECT_EQ(seems.suspendPhone(), 0);
    const std::vector<WireTransfer> wire = device.takeWire();
    ASSERT_FALSE(wire.empty());
    for (const WireTransfer& transfer : wire)
        EXPECT_EQ(transfer.interfaceIndex, 0x0B);
    EXPECT_TRUE(phone->suspended());
}

TEST_F(LibusbPlatformOverUmockdevTest, PhoneWithoutTheNameStringIsNotFoundAndLoggedOnce)
{
    DeviceLayout nameless = phoneInCommandMode();
    nameless.interfaces[2].nameIndex = 0;
    nameless.strings.erase(2);
    EmulatedDevice& device = bus->plugIn(nameless, phone.get());

    for (int search = 0; search < 3; ++search)
        EXPECT_EQ(platform().findPhone().device, nullptr);

    EXPECT_TRUE(device.claimedInterfaces().empty());
    // The vendor interfaces without a readable name were asked for string 2.
    EXPECT_EQ(sink.text(), "USB: IO Failed!\r\n");
    std::string port;
    EXPECT_EQ(platform().findModemPort(port), 0); // it lacks the command interface, so it may be a modem
}

TEST_F(LibusbPlatformOverUmockdevTest, OtherDeviceOfTheMakerIsPassedOverForThePhone)
{
    DeviceLayout other;
    other.productId = 0x6009;
    other.port = 1;
    other.interfaces = {{0, 0xFF, 1}};
    other.strings = {{1, "Motorola Flash Interface"}};
    EmulatedDevice& notAPhone = bus->plugIn(other);

    EXPECT_EQ(platform().findPhone().device, nullptr);
    EXPECT_EQ(notAPhone.stringsRead(), std::vector<uint8_t>{1});

    EmulatedDevice& device = bus->plugIn(phoneInCommandMode(), phone.get());
    const FoundPhone found = platform().findPhone();
    std::string port;

    ASSERT_NE(found.device, nullptr);
    EXPECT_EQ(found.devicePath, "1-2:1.8");
    EXPECT_TRUE(notAPhone.claimedInterfaces().empty());
    EXPECT_EQ(device.claimedInterfaces(), std::vector<uint8_t>{8});
    EXPECT_EQ(platform().findModemPort(port), -1); // the phone's own port: it is in command mode
    EXPECT_EQ(sink.text(), "");
}

TEST_F(LibusbPlatformOverUmockdevTest, RemovalIsSeenThroughHotplugWhenThePhoneIsUnplugged)
{
    EmulatedDevice& device = bus->plugIn(phoneInCommandMode(), phone.get());
    const FoundPhone found = platform().findPhone();
    ASSERT_NE(found.device, nullptr);
    std::stop_source stop;
    auto wait = std::async(std::launch::async,
                           [&] { platform().waitForRemoval(found.devicePath, stop.get_token()); });
    EXPECT_EQ(wait.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);

    bus->unplug(device);

    const bool ended = wait.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    stop.request_stop();
    EXPECT_TRUE(ended);
}

// One answer is at most s + 6 bytes; Linux carries 4096 in one control
// transfer. An answer of 4082 data bytes fills it exactly; the one size
// beyond, 4083, is taken off the phone and refused, and the next request
// goes through.
TEST_F(LibusbPlatformOverUmockdevTest, DataReadsBeyond4096BytesKeepThePhoneInStep)
{
    phone->setSeemRecord(0x0100, 1, std::vector<uint8_t>(4081, 0x11));
    phone->setSeemRecord(0x0100, 2, std::vector<uint8_t>(4082, 0x22));
    bus->plugIn(phoneInCommandMode(), phone.get());
    FoundPhone found = platform().findPhone();
    ASSERT_NE(found.device, nullptr);
    PhoneLink link;
    link.attach(std::move(found.device));
    TestCommandChannel channel(link, log, clock);
    SeemAccess seems(channel);
    std::vector<uint8_t> answer(SeemAccess::kMaxAnswer);

    EXPECT_EQ(seems.readSeem(0x0100, 1, 0, 0, answer), 0);
    EXPECT_EQ(seems.answerLength(), 4082u);
    EXPECT_EQ(answer[4081], 0x11);
    EXPECT_NE(seems.readSeem(0x0100, 2, 0, 0, answer), 0);
    EXPECT_EQ(sink.text(), "CMD: Answer packet invalid!\r\n");
    EXPECT_EQ(seems.readSeem(0x0100, 1, 0, 0, answer), 0);
    EXPECT_EQ(phone->violations(), std::vector<std::string>{});
}

} // namespace
} // namespace p2k::emu
