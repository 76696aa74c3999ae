#include "link/phone_platform_libusb.h"
#include "link/usb_device_libusb.h"
#include "link/usb_transport_libusb.h"

#include "core/operator_log.h"
#include "link/phone_link.h"
#include "link/test_command_channel.h"
#include "link/tracing_transport.h"
#include "tests/support/bytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <vector>

namespace p2k {
namespace {

using test::Bytes;
using test::operator+;

constexpr uint16_t kOtherVendorId = 0x1234;

// A string descriptor as a device sends it: bLength, type 3, UTF-16LE units.
Bytes stringDescriptor(const std::string& text)
{
    Bytes raw{static_cast<uint8_t>(2 + 2 * text.size()), 0x03};
    for (char c : text) {
        raw.push_back(static_cast<uint8_t>(c));
        raw.push_back(0x00);
    }
    return raw;
}

// ---- the fake bus -------------------------------------------------------------

struct SentTransfer {
    UsbControlSetup setup;
    Bytes data;        // OUT: the bytes handed over
    size_t length = 0; // the data stage's size (wLength)
    uint32_t timeoutMs = 0;
};

// What the device does with the next control transfer: its libusb result
// and, for an IN transfer, the bytes it puts into the data stage.
struct DeviceReply {
    int result = 0;
    Bytes sent;
};

DeviceReply sends(const Bytes& bytes)
{
    return {static_cast<int>(bytes.size()), bytes};
}

DeviceReply accepts(size_t length)
{
    return {static_cast<int>(length), {}};
}

DeviceReply failsWith(int error)
{
    return {error, {}};
}

// One device on the fake bus and everything done to it.
struct FakeDevice {
    UsbDeviceInfo info;
    bool present = true;
    bool openable = true;
    std::map<uint8_t, Bytes> strings; // raw descriptors; a missing index stalls
    std::map<uint8_t, int> stringErrors;
    int claimResult = LIBUSB_SUCCESS;
    std::deque<DeviceReply> replies; // none left: the transfer fails with an I/O error

    int opens = 0;
    int closes = 0;
    std::vector<uint8_t> stringReads;
    std::vector<uint32_t> stringTimeouts;
    std::vector<uint8_t> claimed;
    std::vector<uint8_t> released;
    std::vector<SentTransfer> transfers;
};

class FakeHandle : public UsbDeviceHandle {
public:
    explicit FakeHandle(FakeDevice& device) : device_(device) { ++device_.opens; }
    ~FakeHandle() override { ++device_.closes; }
    FakeHandle(const FakeHandle&) = delete;
    FakeHandle& operator=(const FakeHandle&) = delete;

    int readStringDescriptor(uint8_t index, std::span<uint8_t> out, uint32_t timeoutMs) override
    {
        device_.stringReads.push_back(index);
        device_.stringTimeouts.push_back(timeoutMs);
        if (const auto error = device_.stringErrors.find(index); error != device_.stringErrors.end())
            return error->second;
        const auto raw = device_.strings.find(index);
        if (raw == device_.strings.end())
            return LIBUSB_ERROR_PIPE;
        const size_t count = std::min(raw->second.size(), out.size());
        std::copy_n(raw->second.begin(), count, out.begin());
        return static_cast<int>(count);
    }

    int claimInterface(uint8_t number) override
    {
        if (device_.claimResult == LIBUSB_SUCCESS)
            device_.claimed.push_back(number);
        return device_.claimResult;
    }

    void releaseInterface(uint8_t number) override { device_.released.push_back(number); }

    int controlTransfer(const UsbControlSetup& setup, std::span<uint8_t> data, uint32_t timeoutMs) override
    {
        const bool in = (setup.requestType & 0x80) != 0;
        device_.transfers.push_back({setup, in ? Bytes{} : Bytes(data.begin(), data.end()), data.size(), timeoutMs});
        if (device_.replies.empty())
            return LIBUSB_ERROR_IO;
        const DeviceReply reply = device_.replies.front();
        device_.replies.pop_front();
        if (in && reply.result >= 0)
            std::copy_n(reply.sent.begin(), std::min(reply.sent.size(), data.size()), data.begin());
        return reply.result;
    }

private:
    FakeDevice& device_;
};

struct BusState {
    std::deque<FakeDevice> devices;
    DepartureWait departure = DepartureWait::Unavailable;
    std::function<void()> onListing; // runs before each listing is taken
    std::vector<uint16_t> vendorsAsked;
    int departureWaits = 0;
};

bool sameDevice(const UsbDeviceInfo& a, const UsbDeviceInfo& b)
{
    return a.location == b.location && a.address == b.address;
}

class FakeBus : public UsbBus {
public:
    explicit FakeBus(BusState& state) : state_(state) {}

    std::vector<UsbDeviceInfo> devices(uint16_t vendorId) override
    {
        state_.vendorsAsked.push_back(vendorId);
        if (state_.onListing)
            state_.onListing();
        std::vector<UsbDeviceInfo> listed;
        for (const FakeDevice& device : state_.devices) {
            if (device.present && device.info.vendorId == vendorId)
                listed.push_back(device.info);
        }
        return listed;
    }

    std::unique_ptr<UsbDeviceHandle> open(const UsbDeviceInfo& wanted) override
    {
        for (FakeDevice& device : state_.devices) {
            if (device.present && device.openable && sameDevice(device.info, wanted))
                return std::make_unique<FakeHandle>(device);
        }
        return nullptr;
    }

    DepartureWait waitForDeparture(const UsbDeviceInfo&, std::stop_token) override
    {
        ++state_.departureWaits;
        return state_.departure;
    }

private:
    BusState& state_;
};

// ---- the fake serial ports ------------------------------------------------------

struct PortsState {
    std::vector<AcmPort> acm;
    std::set<std::string> openable;
    bool writeFails = false;
    std::string reply; // what the modem has sent back
    std::map<std::string, std::string> written;
    std::vector<uint32_t> writtenAtMs;
    std::vector<size_t> readRooms;
    std::vector<uint32_t> readAtMs;
    int closes = 0;
};

class FakePort : public SerialPort {
public:
    FakePort(PortsState& state, std::string path, Clock& clock)
        : state_(state), path_(std::move(path)), clock_(clock) {}
    ~FakePort() override { ++state_.closes; }
    FakePort(const FakePort&) = delete;
    FakePort& operator=(const FakePort&) = delete;

    bool write(std::span<const uint8_t> bytes) override
    {
        if (state_.writeFails)
            return false;
        state_.written[path_].append(bytes.begin(), bytes.end());
        state_.writtenAtMs.push_back(clock_.tickMs());
        return true;
    }

    size_t readAvailable(std::span<uint8_t> into) override
    {
        state_.readRooms.push_back(into.size());
        state_.readAtMs.push_back(clock_.tickMs());
        const size_t count = std::min(state_.reply.size(), into.size());
        std::copy_n(state_.reply.begin(), count, into.begin());
        return count;
    }

private:
    PortsState& state_;
    std::string path_;
    Clock& clock_;
};

class FakePorts : public SerialPorts {
public:
    FakePorts(PortsState& state, Clock& clock) : state_(state), clock_(clock) {}

    std::vector<AcmPort> acmPorts() override { return state_.acm; }

    std::unique_ptr<SerialPort> open(const std::string& path) override
    {
        if (!state_.openable.contains(path))
            return nullptr;
        return std::make_unique<FakePort>(state_, path, clock_);
    }

private:
    PortsState& state_;
    Clock& clock_;
};

// ---- fixtures -----------------------------------------------------------------

// A phone on bus 1 behind hub ports 2.3 whose interface `number` is named by
// string descriptor `nameIndex` reading `name`.
FakeDevice phoneWithInterface(uint8_t number, uint8_t nameIndex, const std::string& name)
{
    FakeDevice device;
    device.info = UsbDeviceInfo{{1, {2, 3}}, 7, kPhoneVendorId, 1, {{number, nameIndex, kVendorSpecificClass}}};
    device.strings[nameIndex] = stringDescriptor(name);
    return device;
}

// The setup block the channel builds: index 8, whatever interface matched.
Bytes setupBlock(uint8_t type, uint8_t request, uint16_t value, uint16_t length)
{
    return {type,
            request,
            static_cast<uint8_t>(value),
            static_cast<uint8_t>(value >> 8),
            0x08,
            0x00,
            static_cast<uint8_t>(length),
            static_cast<uint8_t>(length >> 8)};
}

class LibusbTransportTest : public testing::Test {
protected:
    LibusbTransport& transportOn(uint8_t interfaceNumber)
    {
        transport = std::make_unique<LibusbTransport>(std::make_unique<FakeHandle>(device), interfaceNumber);
        return *transport;
    }

    TransferResult transfer(const Bytes& input, std::span<uint8_t> output, uint32_t timeoutMs = usb::kReadTimeoutMs)
    {
        return transport->controlTransfer(input, output, timeoutMs);
    }

    FakeDevice device;
    std::unique_ptr<LibusbTransport> transport;
};

TEST_F(LibusbTransportTest, CommandGoesToInterfaceEightWithItsSetupAndData)
{
    transportOn(8);
    device.replies.push_back(accepts(10));
    const Bytes data{0x00, 0x01, 0x00, 0x4A, 0x00, 0x02, 0x00, 0x00, 0xAB, 0xCD};
    std::array<uint8_t, usb::kWriteOutputSize> output{};

    const TransferResult result = transfer(setupBlock(0x41, 0x02, 0, 10) + data + Bytes{0, 0}, output,
                                           usb::kWriteTimeoutMs);

    EXPECT_EQ(result.outcome, TransferOutcome::Done);
    ASSERT_EQ(device.transfers.size(), 1u);
    const SentTransfer& sent = device.transfers[0];
    EXPECT_EQ(sent.setup.requestType, 0x41);
    EXPECT_EQ(sent.setup.request, 0x02);
    EXPECT_EQ(sent.setup.value, 0);
    EXPECT_EQ(sent.setup.index, 8);
    // wLength bytes after the setup block; the two trailing zeros stay behind.
    EXPECT_EQ(sent.data, data);
    EXPECT_EQ(sent.timeoutMs, 1000u);
}

TEST_F(LibusbTransportTest, IndexIsTheMatchedInterfaceNotTheOneTheCallerWrote)
{
    transportOn(5);
    device.replies.push_back(accepts(8));
    device.replies.push_back(sends({0x00, 0x01, 0x00, 0x0A}));
    std::array<uint8_t, usb::kWriteOutputSize> writeOutput{};
    std::array<uint8_t, usb::kDriverOutputSize> readOutput{};

    transfer(setupBlock(0x41, 0x02, 0, 8) + Bytes(10, 0), writeOutput, usb::kWriteTimeoutMs);
    transfer(setupBlock(0xC1, 0x00, 0, 8) + Bytes{0}, readOutput);

    ASSERT_EQ(device.transfers.size(), 2u);
    EXPECT_EQ(device.transfers[0].setup.index, 5);
    EXPECT_EQ(device.transfers[1].setup.index, 5);
}

TEST_F(LibusbTransportTest, DataReadPassesTypeRequestValueAndLength)
{
    transportOn(8);
    device.replies.push_back(sends(Bytes(16, 0x11)));
    std::array<uint8_t, usb::kDriverOutputSize> output{};

    transfer(setupBlock(0xC1, 0x01, 3, 2 * 3 + 20 + 4) + Bytes{0}, output);

    ASSERT_EQ(device.transfers.size(), 1u);
    const SentTransfer& sent = device.transfers[0];
    EXPECT_EQ(sent.setup.requestType, 0xC1);
    EXPECT_EQ(sent.setup.request, 0x01);
    EXPECT_EQ(sent.setup.value, 3);
    EXPECT_EQ(sent.length, 30u);
    EXPECT_EQ(sent.timeoutMs, 40000u);
}

TEST_F(LibusbTransportTest, InDataArrivesBehindItsLittleEndianCount)
{
    transportOn(8);
    device.replies.push_back(sends({0x00, 0x01, 0x00, 0x0A, 0x55}));
    std::array<uint8_t, usb::kDriverOutputSize> output{};

    const TransferResult result = transfer(setupBlock(0xC1, 0x00, 0, 8) + Bytes{0}, output);

    EXPECT_EQ(result.outcome, TransferOutcome::Done);
    ASSERT_EQ(result.outputBytes, 9u);
    EXPECT_EQ(Bytes(output.begin(), output.begin() + 9), (Bytes{0x05, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x0A, 0x55}));
}

TEST_F(LibusbTransportTest, InRequestAsksNoMoreThanTheOutputHoldsAndNeverWritesPastIt)
{
    transportOn(8);
    // The handle even claims to have received more than there was room for.
    device.replies.push_back({100, Bytes(100, 0x77)});
    std::array<uint8_t, 16> buffer{};
    buffer.fill(0xEE);
    const std::span<uint8_t> output(buffer.data(), 7);

    const TransferResult result = transfer(setupBlock(0xC1, 0x01, 1, 100) + Bytes{0}, output);

    ASSERT_EQ(device.transfers.size(), 1u);
    EXPECT_EQ(device.transfers[0].length, 3u);
    EXPECT_EQ(result.outcome, TransferOutcome::Done);
    EXPECT_EQ(result.outputBytes, 7u);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 7), (Bytes{0x03, 0x00, 0x00, 0x00, 0x77, 0x77, 0x77}));
    EXPECT_TRUE(std::all_of(buffer.begin() + 7, buffer.end(), [](uint8_t b) { return b == 0xEE; }));
}

TEST_F(LibusbTransportTest, DataReadAsksForAtMost4096Bytes)
{
    transportOn(8);
    std::array<uint8_t, usb::kDriverOutputSize> output{};
    for (const uint16_t wLength : {4096, 4097}) {
        device.replies.push_back(sends(Bytes(4096, 0x55)));
        const TransferResult result = transfer(setupBlock(0xC1, 0x01, 1, wLength) + Bytes{0}, output);
        EXPECT_EQ(device.transfers.back().length, 4096u);
        EXPECT_EQ(result.outputBytes, 4100u);
    }
}

TEST_F(LibusbTransportTest, OutputWithoutRoomForThePrefixFailsUnsent)
{
    transportOn(8);
    std::array<uint8_t, 3> output{};

    const TransferResult result = transfer(setupBlock(0xC1, 0x00, 0, 8) + Bytes{0}, output);

    EXPECT_EQ(result.outcome, TransferOutcome::Failed);
    EXPECT_TRUE(device.transfers.empty());
}

TEST_F(LibusbTransportTest, WriteLeavesAZeroBlockOfFiveBytes)
{
    transportOn(8);
    device.replies.push_back(accepts(8));
    std::array<uint8_t, usb::kWriteOutputSize> output{};
    output.fill(0xEE);

    const TransferResult result = transfer(setupBlock(0x41, 0x02, 0, 8) + Bytes(10, 0), output);

    EXPECT_EQ(result.outcome, TransferOutcome::Done);
    EXPECT_EQ(result.outputBytes, 5u);
    EXPECT_EQ(Bytes(output.begin(), output.end()), Bytes(5, 0));
}

TEST_F(LibusbTransportTest, WriteWhoseLengthExceedsTheInputFailsUnsent)
{
    transportOn(8);
    std::array<uint8_t, usb::kWriteOutputSize> output{};

    const TransferResult result = transfer(setupBlock(0x41, 0x02, 0, 20) + Bytes(10, 0), output);

    EXPECT_EQ(result.outcome, TransferOutcome::Failed);
    EXPECT_TRUE(device.transfers.empty());
}

TEST_F(LibusbTransportTest, InputShorterThanASetupBlockFails)
{
    transportOn(8);
    std::array<uint8_t, usb::kDriverOutputSize> output{};

    EXPECT_EQ(transfer({0xC1, 0x00, 0x00}, output).outcome, TransferOutcome::Failed);
    EXPECT_TRUE(device.transfers.empty());
}

TEST_F(LibusbTransportTest, TimeOutIsTimedOutAndEveryOtherErrorFailed)
{
    transportOn(8);
    const std::vector<std::pair<int, TransferOutcome>> cases = {
        {LIBUSB_ERROR_TIMEOUT, TransferOutcome::TimedOut}, {LIBUSB_ERROR_NO_DEVICE, TransferOutcome::Gone},
        {LIBUSB_ERROR_PIPE, TransferOutcome::Failed},      {LIBUSB_ERROR_IO, TransferOutcome::Failed},
        {LIBUSB_ERROR_OVERFLOW, TransferOutcome::Failed},  {LIBUSB_ERROR_OTHER, TransferOutcome::Failed},
    };
    for (const auto& [error, expected] : cases) {
        device.replies.push_back(failsWith(error));
        device.replies.push_back(failsWith(error));
        std::array<uint8_t, usb::kDriverOutputSize> output{};

        const TransferResult read = transfer(setupBlock(0xC1, 0x00, 0, 8) + Bytes{0}, output);
        const TransferResult write = transfer(setupBlock(0x41, 0x02, 0, 8) + Bytes(10, 0), output);

        EXPECT_EQ(read.outcome, expected) << libusb_error_name(error);
        EXPECT_EQ(read.outputBytes, 0u);
        EXPECT_EQ(write.outcome, expected) << libusb_error_name(error);
        EXPECT_EQ(write.outputBytes, 0u);
    }
}

TEST_F(LibusbTransportTest, ReleasesTheInterfaceThenClosesTheDevice)
{
    transportOn(5);
    transport.reset();

    EXPECT_EQ(device.released, (std::vector<uint8_t>{5}));
    EXPECT_EQ(device.closes, 1);
}

// The channel's own exchange over the transport: its prefix handling and the
// transport's agree.
class LibusbChannelTest : public LibusbTransportTest {
protected:
    void SetUp() override { link.attach(std::make_unique<LibusbTransport>(std::make_unique<FakeHandle>(device), 8)); }

    MemoryLogSink sink;
    OperatorLog log{&sink};
    FakeClock clock{1000};
    PhoneLink link;
    TestCommandChannel channel{link, log, clock};
    std::array<uint8_t, 64> answer{};
    uint32_t answerLength = 0;
};

TEST_F(LibusbChannelTest, TransactGetsTheAnswerDataThroughThePrefix)
{
    device.replies.push_back(accepts(8));
    device.replies.push_back(sends({0x00, 0x01, 0x00, 0x0A}));
    device.replies.push_back(sends({0x01, 0x00, 0x00, 0x00, 0x00, 0x0A, 0x80, 0x01, 0x80, 0x4A, 0x00, 0x02, 0x00,
                                    0x00, 0x12, 0x34}));

    EXPECT_EQ(channel.transact(0x4A, {}, answer, answerLength), kOk);

    EXPECT_EQ(answerLength, 2u);
    EXPECT_EQ(answer[0], 0x12);
    EXPECT_EQ(answer[1], 0x34);
    ASSERT_EQ(device.transfers.size(), 3u);
    EXPECT_EQ(device.transfers[2].setup.value, 1);
    EXPECT_EQ(device.transfers[2].length, 16u);
    EXPECT_EQ(sink.text(), "");
}

TEST_F(LibusbChannelTest, WriteTimeOutIsLoggedAsTheDriverWould)
{
    device.replies.push_back(failsWith(LIBUSB_ERROR_TIMEOUT));

    EXPECT_EQ(channel.transact(0x4A, {}, answer, answerLength), kFailed);

    EXPECT_NE(sink.text().find("USB: IO Time-out!\r\n"), std::string::npos);
}

TEST_F(LibusbChannelTest, VanishedDeviceIsLoggedAsGone)
{
    device.replies.push_back(failsWith(LIBUSB_ERROR_NO_DEVICE));

    EXPECT_EQ(channel.transact(0x4A, {}, answer, answerLength), kFailed);

    EXPECT_EQ(sink.text(), "USB: Device gone!\r\n");
}

// ---- discovery --------------------------------------------------------------------

class LibusbPlatformTest : public testing::Test {
protected:
    FakeDevice& addDevice(FakeDevice device) { return bus.devices.emplace_back(std::move(device)); }

    FakeClock clock{1000};
    MemoryLogSink sink;
    OperatorLog log{&sink};
    BusState bus;
    PortsState ports;
    LibusbPlatform platform{std::make_unique<FakeBus>(bus), std::make_unique<FakePorts>(ports, clock), log, clock};
};

using LibusbDiscoveryTest = LibusbPlatformTest;

TEST_F(LibusbDiscoveryTest, ClaimsTheInterfaceNamedTestCommandAndAddressesItByNumber)
{
    FakeDevice& phone = addDevice(phoneWithInterface(8, 4, "Motorola Test Command"));
    phone.info.interfaces.insert(phone.info.interfaces.begin(), UsbInterfaceInfo{0, 3});
    phone.strings[3] = stringDescriptor("Motorola Communication Interface");

    FoundPhone found = platform.findPhone();

    ASSERT_NE(found.device, nullptr);
    EXPECT_EQ(found.devicePath, "1-2.3:1.8");
    EXPECT_EQ(phone.stringReads, (std::vector<uint8_t>{3, 4}));
    EXPECT_EQ(phone.stringTimeouts, (std::vector<uint32_t>{5000, 5000}));
    EXPECT_EQ(phone.claimed, (std::vector<uint8_t>{8}));
    EXPECT_EQ(bus.vendorsAsked, (std::vector<uint16_t>{0x22b8}));
    EXPECT_EQ(sink.text(), "");

    phone.replies.push_back(sends({0x00, 0x00, 0x00, 0x00}));
    std::array<uint8_t, usb::kDriverOutputSize> output{};
    found.device->controlTransfer(setupBlock(0xC1, 0x00, 0, 8) + Bytes{0}, output, usb::kReadTimeoutMs);
    ASSERT_EQ(phone.transfers.size(), 1u);
    EXPECT_EQ(phone.transfers[0].setup.index, 8);
}

TEST_F(LibusbDiscoveryTest, InterfaceFiveIsAddressedAsFive)
{
    FakeDevice& phone = addDevice(phoneWithInterface(5, 2, "Motorola Test Command"));

    FoundPhone found = platform.findPhone();

    ASSERT_NE(found.device, nullptr);
    EXPECT_EQ(found.devicePath, "1-2.3:1.5");
    phone.replies.push_back(accepts(8));
    std::array<uint8_t, usb::kWriteOutputSize> output{};
    found.device->controlTransfer(setupBlock(0x41, 0x02, 0, 8) + Bytes(10, 0), output, usb::kWriteTimeoutMs);
    ASSERT_EQ(phone.transfers.size(), 1u);
    EXPECT_EQ(phone.transfers[0].setup.index, 5);
}

// The claimed interface's number reaches the channel, so the setup blocks the
// trace shows are the ones that go out.
TEST_F(LibusbDiscoveryTest, InterfaceElevenIsWrittenByTheChannelAndShownByTheTrace)
{
    FakeDevice& phone = addDevice(phoneWithInterface(0x0B, 2, "Motorola Test Command"));
    FoundPhone found = platform.findPhone();
    ASSERT_NE(found.device, nullptr);
    EXPECT_EQ(found.device->interfaceNumber(), 0x0B);
    std::vector<std::string> lines;
    PhoneLink link;
    link.attach(std::make_unique<TracingTransport>(std::move(found.device),
                                                   [&lines](const std::string& line) { lines.push_back(line); }));
    TestCommandChannel channel{link, log, clock};
    phone.replies.push_back(accepts(8));
    phone.replies.push_back(sends({0x00, 0x01, 0x00, 0x08}));
    phone.replies.push_back(sends({0x01, 0x00, 0x00, 0x00, 0x00, 0x08, 0x80, 0x01, 0x60, 0x22, 0x00, 0x00, 0x00, 0x00}));
    std::array<uint8_t, 16> answer{};
    uint32_t answerLength = 0;

    EXPECT_EQ(channel.transact(0x22, {}, answer, answerLength), kOk);

    ASSERT_EQ(phone.transfers.size(), 3u);
    ASSERT_EQ(lines.size(), 3u);
    const char* setups[] = {"OUT 41 02 00 00 0b 00 08 00 |", "IN  c1 00 00 00 0b 00 08 00 |",
                            "IN  c1 01 01 00 0b 00 0e 00 |"};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(phone.transfers[i].setup.index, 0x0B) << i;
        EXPECT_EQ(lines[i].substr(0, 29), setups[i]);
    }
    EXPECT_EQ(sink.text(), "");
}

TEST_F(LibusbDiscoveryTest, NameDifferingOnlyInCaseDoesNotMatch)
{
    FakeDevice& phone = addDevice(phoneWithInterface(8, 2, "Motorola test command"));

    EXPECT_EQ(platform.findPhone().device, nullptr);
    EXPECT_TRUE(phone.claimed.empty());
    EXPECT_EQ(phone.closes, phone.opens);
}

TEST_F(LibusbDiscoveryTest, NameWithOneExtraTrailingCharacterDoesNotMatch)
{
    FakeDevice& phone = addDevice(phoneWithInterface(8, 2, "Motorola Test Command."));

    EXPECT_EQ(platform.findPhone().device, nullptr);
    EXPECT_TRUE(phone.claimed.empty());
}

TEST_F(LibusbDiscoveryTest, NameEndingInAZeroUnitStillMatches)
{
    FakeDevice& phone = addDevice(phoneWithInterface(8, 2, std::string("Motorola Test Command") + '\0'));

    EXPECT_NE(platform.findPhone().device, nullptr);
    EXPECT_EQ(phone.claimed, (std::vector<uint8_t>{8}));
}

TEST_F(LibusbDiscoveryTest, UnreadableDescriptorDoesNotMatchAndLogsTheFailure)
{
    FakeDevice& phone = addDevice(phoneWithInterface(8, 2, "Motorola Test Command"));
    phone.stringErrors[2] = LIBUSB_ERROR_PIPE;

    EXPECT_EQ(platform.findPhone().device, nullptr);
    EXPECT_TRUE(phone.claimed.empty());
    EXPECT_EQ(sink.text(), "USB: IO Failed!\r\n");
}

TEST_F(LibusbDiscoveryTest, DescriptorTimeOutDoesNotMatchAndLogsTheTimeOut)
{
    FakeDevice& phone = addDevice(phoneWithInterface(8, 2, "Motorola Test Command"));
    phone.stringErrors[2] = LIBUSB_ERROR_TIMEOUT;

    EXPECT_EQ(platform.findPhone().device, nullptr);
    EXPECT_EQ(sink.text(), "USB: IO Time-out!\r\n");
}

TEST_F(LibusbDiscoveryTest, DescriptorOfAnotherTypeDoesNotMatch)
{
    FakeDevice& phone = addDevice(phoneWithInterface(8, 2, "Motorola Test Command"));
    phone.strings[2][1] = 0x02;

    EXPECT_EQ(platform.findPhone().device, nullptr);
    EXPECT_TRUE(phone.claimed.empty());
}

TEST_F(LibusbDiscoveryTest, DescriptorLengthFieldBoundsTheName)
{
    FakeDevice& phone = addDevice(phoneWithInterface(8, 2, "Motorola Test Command"));
    phone.strings[2][0] = static_cast<uint8_t>(2 + 2 * 20); // one character short

    EXPECT_EQ(platform.findPhone().device, nullptr);
}

// Where the interface's own name string cannot decide, string 2 does, as it
// does for the phone maker's driver; but only for a vendor-specific interface.
TEST_F(LibusbDiscoveryTest, StringTwoStandsInForAMissingOrUnreadableNameString)
{
    struct Case {
        const char* what;
        uint8_t nameIndex;
        uint8_t interfaceClass;
        std::optional<std::string> ownName; // none: the read of nameIndex stalls
        bool found;
        std::vector<uint8_t> reads;
    };
    const Case cases[] = {
        {"no name string", 0, kVendorSpecificClass, std::nullopt, true, {2}},
        {"unreadable name string", 4, kVendorSpecificClass, std::nullopt, true, {4, 2}},
        {"another name", 4, kVendorSpecificClass, "Motorola Accessory Interface", false, {4}},
        {"no name string, communication class", 0, 0x02, std::nullopt, false, {}},
        {"string 2 itself unreadable", 2, kVendorSpecificClass, std::nullopt, false, {2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BusState state;
        FakeDevice& phone = state.devices.emplace_back(phoneWithInterface(8, c.nameIndex, "unused"));
        phone.info.interfaces[0].interfaceClass = c.interfaceClass;
        phone.strings.clear();
        if (c.ownName)
            phone.strings[c.nameIndex] = stringDescriptor(*c.ownName);
        if (c.nameIndex != 2)
            phone.strings[2] = stringDescriptor("Motorola Test Command");
        LibusbPlatform own(std::make_unique<FakeBus>(state), std::make_unique<FakePorts>(ports, clock), log, clock);

        EXPECT_EQ(own.findPhone().device != nullptr, c.found);
        EXPECT_EQ(phone.stringReads, c.reads);
    }
}

TEST_F(LibusbDiscoveryTest, AFailingDeviceIsLoggedOnceUntilItComesBack)
{
    FakeDevice& phone = addDevice(phoneWithInterface(8, 2, "Motorola Test Command"));
    phone.stringErrors[2] = LIBUSB_ERROR_PIPE;

    for (int search = 0; search < 3; ++search)
        EXPECT_EQ(platform.findPhone().device, nullptr);
    EXPECT_EQ(phone.stringReads.size(), 3u);
    EXPECT_EQ(sink.text(), "USB: IO Failed!\r\n");

    phone.present = false;
    platform.findPhone();
    phone.present = true;
    phone.info.address = 8; // enumerated anew
    platform.findPhone();
    EXPECT_EQ(sink.text(), "USB: IO Failed!\r\nUSB: IO Failed!\r\n");
}

TEST_F(LibusbDiscoveryTest, DeviceThatCannotBeOpenedIsPassedOver)
{
    FakeDevice& locked = addDevice(phoneWithInterface(8, 2, "Motorola Test Command"));
    locked.openable = false;
    FakeDevice second = phoneWithInterface(8, 2, "Motorola Test Command");
    second.info.location.ports = {4};
    second.info.address = 9;
    FakeDevice& phone = addDevice(std::move(second));

    FoundPhone found = platform.findPhone();

    ASSERT_NE(found.device, nullptr);
    EXPECT_EQ(found.devicePath, "1-4:1.8");
    EXPECT_EQ(phone.claimed, (std::vector<uint8_t>{8}));
}

TEST_F(LibusbDiscoveryTest, InterfaceThatCannotBeClaimedIsNotFound)
{
    FakeDevice& phone = addDevice(phoneWithInterface(8, 2, "Motorola Test Command"));
    phone.claimResult = LIBUSB_ERROR_BUSY;

    EXPECT_EQ(platform.findPhone().device, nullptr);
    EXPECT_EQ(phone.closes, phone.opens);
}

TEST_F(LibusbDiscoveryTest, OnlyThePhoneMakersDevicesAreLookedAt)
{
    FakeDevice& other = addDevice(phoneWithInterface(8, 2, "Motorola Test Command"));
    other.info.vendorId = kOtherVendorId;

    EXPECT_EQ(platform.findPhone().device, nullptr);
    EXPECT_EQ(other.opens, 0);
}

TEST(LibusbInterfacePathTest, NamesBusPortsConfigurationAndInterfaceAsSysfsDoes)
{
    EXPECT_EQ(usbInterfacePath(UsbDeviceInfo{{3, {1}}, 4, kPhoneVendorId, 1, {}}, 8), "3-1:1.8");
    EXPECT_EQ(usbInterfacePath(UsbDeviceInfo{{1, {2, 3, 10}}, 4, kPhoneVendorId, 2, {}}, 5), "1-2.3.10:2.5");
}

// ---- removal ---------------------------------------------------------------------

class LibusbRemovalTest : public LibusbPlatformTest {
protected:
    // Connects the phone and returns its path.
    std::string connect()
    {
        phone = &addDevice(phoneWithInterface(8, 2, "Motorola Test Command"));
        found = platform.findPhone();
        return found.devicePath;
    }

    // The phone leaves the bus after it has been listed `count` more times.
    void leaveAfterListings(int count)
    {
        bus.onListing = [this, count]() mutable {
            if (count-- == 0)
                phone->present = false;
        };
    }

    FakeDevice* phone = nullptr;
    FoundPhone found;
    std::stop_source stop;
};

TEST_F(LibusbRemovalTest, HotplugDepartureEndsTheWaitWithoutPolling)
{
    const std::string path = connect();
    bus.departure = DepartureWait::Departed;
    const size_t listingsBefore = bus.vendorsAsked.size();

    platform.waitForRemoval(path, stop.get_token());

    EXPECT_EQ(bus.departureWaits, 1);
    EXPECT_EQ(bus.vendorsAsked.size(), listingsBefore);
    EXPECT_EQ(clock.sleepCount(), 0u);
}

TEST_F(LibusbRemovalTest, WithoutHotplugTheBusIsPolledEvery200Ms)
{
    const std::string path = connect();
    leaveAfterListings(3);

    platform.waitForRemoval(path, stop.get_token());

    EXPECT_EQ(clock.sleepCount(), 3u);
    EXPECT_EQ(clock.totalSleptMs(), 600u);
}

TEST_F(LibusbRemovalTest, DeviceBackInTheSameSocketUnderANewAddressCountsAsRemoved)
{
    const std::string path = connect();
    bus.onListing = [this] { phone->info.address = 8; };

    platform.waitForRemoval(path, stop.get_token());

    EXPECT_EQ(clock.sleepCount(), 0u);
}

TEST_F(LibusbRemovalTest, StopEndsThePolling)
{
    const std::string path = connect();
    int listings = 0;
    bus.onListing = [this, &listings] {
        if (++listings == 2)
            stop.request_stop();
    };

    platform.waitForRemoval(path, stop.get_token());

    EXPECT_TRUE(phone->present);
    EXPECT_EQ(clock.sleepCount(), 2u);
}

TEST_F(LibusbRemovalTest, StopRequestedBeforehandReturnsAtOnce)
{
    const std::string path = connect();
    stop.request_stop();

    platform.waitForRemoval(path, stop.get_token());

    EXPECT_EQ(bus.departureWaits, 0);
    EXPECT_EQ(clock.sleepCount(), 0u);
}

TEST_F(LibusbRemovalTest, PathFindPhoneDidNotGiveCannotBeWatched)
{
    connect();

    platform.waitForRemoval("1-9:1.8", stop.get_token());

    EXPECT_EQ(bus.departureWaits, 0);
    EXPECT_EQ(clock.sleepCount(), 0u);
}

// ---- modem port ------------------------------------------------------------------

using LibusbModemPortTest = LibusbPlatformTest;

// The phone in modem mode: bus 1, address 7, only its modem interfaces.
FakeDevice phoneInModemMode()
{
    FakeDevice device;
    device.info = UsbDeviceInfo{{1, {2, 3}}, 7, kPhoneVendorId, 1, {{0, 0, 0x02}, {1, 0, 0x0A}}};
    return device;
}

TEST_F(LibusbModemPortTest, PortOfThePhoneMakersDeviceInModemModeIsFound)
{
    addDevice(phoneInModemMode());
    ports.acm = {{"ttyACM0", kOtherVendorId, 1, 3}, {"ttyACM1", std::nullopt, 0, 0}, {"ttyACM2", kPhoneVendorId, 1, 7}};
    std::string port;

    EXPECT_EQ(platform.findModemPort(port), 0);
    EXPECT_EQ(port, "/dev/ttyACM2");
}

TEST_F(LibusbModemPortTest, PortIsPassedOverUnlessItsOwnDeviceLacksTheCommandInterface)
{
    struct Case {
        const char* what;
        std::function<void(FakeDevice&)> change;
    };
    const Case cases[] = {
        {"its device carries the command interface",
         [](FakeDevice& device) {
             device.info.interfaces.push_back({8, 2, kVendorSpecificClass});
             device.strings[2] = stringDescriptor("Motorola Test Command");
         }},
        {"its device is another one at the same bus", [](FakeDevice& device) { device.info.address = 9; }},
        {"its device cannot be opened", [](FakeDevice& device) { device.openable = false; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BusState state;
        c.change(state.devices.emplace_back(phoneInModemMode()));
        ports.acm = {{"ttyACM0", kPhoneVendorId, 1, 7}};
        LibusbPlatform own(std::make_unique<FakeBus>(state), std::make_unique<FakePorts>(ports, clock), log, clock);
        std::string port = "unchanged";

        EXPECT_EQ(own.findModemPort(port), -1);
        EXPECT_EQ(port, "unchanged");
    }
}

TEST_F(LibusbModemPortTest, NoPortOfThePhoneMakersDeviceMeansNone)
{
    addDevice(phoneInModemMode());
    ports.acm = {{"ttyACM0", kOtherVendorId, 1, 7}, {"ttyACM1", std::nullopt, 1, 7}};
    std::string port = "unchanged";

    EXPECT_EQ(platform.findModemPort(port), -1);
    EXPECT_EQ(port, "unchanged");
}

TEST_F(LibusbModemPortTest, SwitchWritesTheTextThenTakesTheReplyTwoSecondsLater)
{
    ports.openable = {"/dev/ttyACM0"};
    ports.reply = "\r\nOK\r\n";

    platform.switchToCommandMode("/dev/ttyACM0");

    EXPECT_EQ(ports.written["/dev/ttyACM0"], "at+mode=8\r\n");
    EXPECT_EQ(ports.writtenAtMs, (std::vector<uint32_t>{1000}));
    EXPECT_EQ(ports.readAtMs, (std::vector<uint32_t>{3000}));
    EXPECT_EQ(ports.readRooms, (std::vector<size_t>{256}));
    EXPECT_EQ(ports.closes, 1);
}

TEST_F(LibusbModemPortTest, PortThatCannotBeOpenedGetsNothingAndNoWait)
{
    platform.switchToCommandMode("/dev/ttyACM0");

    EXPECT_TRUE(ports.written.empty());
    EXPECT_EQ(clock.sleepCount(), 0u);
}

TEST_F(LibusbModemPortTest, FailedWriteClosesThePortWithoutWaiting)
{
    ports.openable = {"/dev/ttyACM0"};
    ports.writeFails = true;

    platform.switchToCommandMode("/dev/ttyACM0");

    EXPECT_EQ(clock.sleepCount(), 0u);
    EXPECT_TRUE(ports.readRooms.empty());
    EXPECT_EQ(ports.closes, 1);
}

// ---- the real bus and ports, where no hardware is needed -------------------------

TEST(LibusbRealSystemTest, DeviceThatIsNotOnTheBusIsNeitherOpenedNorWaitedFor)
{
    const std::unique_ptr<UsbBus> bus = makeLibusbBus();
    const UsbDeviceInfo absent{{255, {15, 15, 15}}, 0, kPhoneVendorId, 1, {}};

    EXPECT_EQ(bus->open(absent), nullptr);
    // With hotplug events the absence is seen at once; without, none can be reported.
    EXPECT_NE(bus->waitForDeparture(absent, std::stop_token()), DepartureWait::Stopped);
}

TEST(LibusbRealSystemTest, PortThatDoesNotExistIsNotOpened)
{
    EXPECT_EQ(makeSysfsSerialPorts()->open("/dev/p2kfm-no-such-port"), nullptr);
}

} // namespace
} // namespace p2k
