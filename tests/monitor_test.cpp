#include "link/connection_monitor.h"

#include "tests/support/phone_world.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace p2k {
namespace {

// One notification as the window would see it: the value, the clock, and the
// link's state at that moment.
struct Note {
    int32_t connected = 0;
    uint32_t atMs = 0;
    int32_t flag = 0;
    bool hasDevice = false;
    bool operator==(const Note&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Note& note)
{
    return out << "{notify " << note.connected << " at " << note.atMs << " ms, flag " << note.flag
               << (note.hasDevice ? ", device}" : ", no device}");
}

Note connectedAt(uint32_t ms) { return {1, ms, 1, true}; }
Note disconnectedAt(uint32_t ms) { return {0, ms, 0, false}; }

// Forwards to another platform; the devices it hands out tell when they close.
class ClosingProbePlatform : public PhonePlatform {
public:
    ClosingProbePlatform(PhonePlatform& inner, std::function<void()> onClose)
        : inner_(inner), onClose_(std::move(onClose)) {}

    int findModemPort(std::string& portName) override { return inner_.findModemPort(portName); }
    void switchToCommandMode(const std::string& portName) override { inner_.switchToCommandMode(portName); }
    FoundPhone findPhone() override
    {
        FoundPhone found = inner_.findPhone();
        if (found.device)
            found.device = std::make_unique<Probe>(std::move(found.device), onClose_);
        return found;
    }
    void waitForRemoval(const std::string& devicePath, std::stop_token stop) override
    {
        inner_.waitForRemoval(devicePath, stop);
    }

private:
    class Probe : public UsbTransport {
    public:
        Probe(std::unique_ptr<UsbTransport> inner, std::function<void()> onClose)
            : inner_(std::move(inner)), onClose_(std::move(onClose)) {}
        ~Probe() override { onClose_(); }
        TransferResult controlTransfer(std::span<const uint8_t> input, std::span<uint8_t> output,
                                       uint32_t timeoutMs) override
        {
            return inner_->controlTransfer(input, output, timeoutMs);
        }

    private:
        std::unique_ptr<UsbTransport> inner_;
        std::function<void()> onClose_;
    };

    PhonePlatform& inner_;
    std::function<void()> onClose_;
};

class MonitorTest : public testing::Test, public test::PlatformWorld {
protected:
    explicit MonitorTest(sim::PhoneConfig config = {}) : PlatformWorld(config) {}

    // What the window gets told, recorded with the link's state.
    ConnectionMonitor::Notify recorder()
    {
        return [this](int32_t connected) {
            notes.push_back({connected, clock.tickMs(), link.connectedFlag(), link.hasDevice()});
        };
    }

    void runCycles(int count)
    {
        for (int i = 0; i < count; ++i)
            monitor.runCycle();
    }

    // Unplugs the phone once it has been watched for ms.
    void unplugAfterWatching(uint32_t ms)
    {
        platform.setWatchHook([this, ms](uint32_t watchedMs) {
            if (watchedMs == ms)
                phone.unplug();
        });
    }

    std::vector<Note> notes;
    ConnectionMonitor monitor{link, platform, clock, recorder()};
};

class MonitorModemTest : public MonitorTest {
protected:
    MonitorModemTest() : MonitorTest(test::modemPhone()) {}
};

// ---- searching ------------------------------------------------------------------

TEST_F(MonitorTest, WithoutAPhoneNothingIsLoggedOrAnnouncedAndEachCycleTakesASecond)
{
    phone.unplug();
    runCycles(3);
    EXPECT_EQ(clock.tickMs(), 3000u);
    EXPECT_EQ(sink.text(), "");
    EXPECT_TRUE(notes.empty());
    EXPECT_EQ(link.connectedFlag(), 0);
    EXPECT_FALSE(link.hasDevice());
    EXPECT_EQ(platform.bytesWrittenTo("COM5"), "");
}

TEST_F(MonitorModemTest, AModemGetsTheSwitchTextOncePerCycleWithItsWaitAndPause)
{
    platform.setModemIgnoresSwitch(true);
    for (uint32_t cycle = 1; cycle <= 3; ++cycle) {
        monitor.runCycle();
        // 1000 ms search pause, 2000 ms for the reply, 5000 ms after the switch.
        EXPECT_EQ(clock.tickMs(), cycle * 8000);
        std::string expected;
        for (uint32_t i = 0; i < cycle; ++i)
            expected += "at+mode=8\r\n";
        EXPECT_EQ(platform.bytesWrittenTo("COM5"), expected);
    }
    EXPECT_TRUE(notes.empty());
    EXPECT_EQ(sink.text(), "");
}

TEST_F(MonitorModemTest, ASwitchedPhoneIsFoundInTheSameCycle)
{
    unplugAfterWatching(50);
    monitor.runCycle();
    EXPECT_EQ(platform.bytesWrittenTo("COM5"), "at+mode=8\r\n");
    EXPECT_EQ(notes, (std::vector{connectedAt(8000), disconnectedAt(8050)}));
    EXPECT_EQ(clock.tickMs(), 13050u);

    phone.plugIn();
    notes.clear();
    monitor.runCycle();
    // Back in command mode: no further switch, found after a second.
    EXPECT_EQ(platform.bytesWrittenTo("COM5"), "at+mode=8\r\n");
    EXPECT_EQ(notes, (std::vector{connectedAt(14050), disconnectedAt(14100)}));
}

TEST_F(MonitorTest, NamesDifferingInCaseOrByOneCharacterNeverConnect)
{
    phone.unplug();
    platform.setOtherInterfaces({{"motorola test command"},
                                 {"MOTOROLA TEST COMMAND"},
                                 {"Motorola Test Command "},
                                 {"Motorola Test Commands"},
                                 {"Motorola Test Comman"}});
    runCycles(3);
    EXPECT_EQ(platform.descriptorReads(), 15u);
    EXPECT_TRUE(notes.empty());
    EXPECT_EQ(link.connectedFlag(), 0);
    EXPECT_EQ(sink.text(), "");
}

TEST_F(MonitorTest, AnUnreadableDescriptorNeverConnects)
{
    phone.unplug();
    platform.setOtherInterfaces({{"Motorola Test Command", false}});
    runCycles(2);
    EXPECT_TRUE(notes.empty());
    EXPECT_EQ(link.connectedFlag(), 0);
    EXPECT_EQ(sink.text(), "USB: IO Failed!\r\nUSB: IO Failed!\r\n");
}

// ---- connected and lost ----------------------------------------------------------

TEST_F(MonitorTest, ARemovalIsAnnouncedAndFollowedByAFiveSecondPause)
{
    unplugAfterWatching(500);
    monitor.runCycle();
    EXPECT_EQ(notes, (std::vector{connectedAt(1000), disconnectedAt(1500)}));
    EXPECT_EQ(clock.tickMs(), 6500u);
    EXPECT_FALSE(link.hasDevice());

    phone.plugIn();
    monitor.runCycle();
    EXPECT_EQ(notes.size(), 4u);
    EXPECT_EQ(notes[2], connectedAt(7500));
    EXPECT_EQ(sink.text(), "");
}

TEST_F(MonitorTest, AWatchThatCannotBeOpenedAlternatesAboutEverySixSeconds)
{
    platform.setWatchUnavailable(true);
    runCycles(3);
    EXPECT_EQ(notes, (std::vector{connectedAt(1000), disconnectedAt(1000), connectedAt(7000), disconnectedAt(7000),
                                  connectedAt(13000), disconnectedAt(13000)}));
    EXPECT_EQ(clock.tickMs(), 18000u);
}

TEST_F(MonitorTest, FlagIsSetBeforeConnectedAndTheDeviceClosesBeforeTheFlagDrops)
{
    std::vector<std::pair<int32_t, size_t>> atClose; // flag and notifications so far
    ClosingProbePlatform probing(platform, [&] { atClose.emplace_back(link.connectedFlag(), notes.size()); });
    ConnectionMonitor probed(link, probing, clock, recorder());
    unplugAfterWatching(100);

    probed.runCycle();

    EXPECT_EQ(notes, (std::vector{connectedAt(1000), disconnectedAt(1100)}));
    // Closed once, while the flag was still 1 and only the connection had been announced.
    EXPECT_EQ(atClose, (std::vector<std::pair<int32_t, size_t>>{{1, 1}}));
}

TEST_F(MonitorTest, ARestartedPhoneIsLostAndFoundAgain)
{
    TestCommandChannel channel{link, log, clock};
    bool restarted = false;
    platform.setWatchHook([&](uint32_t) {
        if (restarted)
            return;
        restarted = true;
        EXPECT_EQ(test::sendRestart(channel), kOk);
    });
    monitor.runCycle();

    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0], connectedAt(1000));
    EXPECT_EQ(notes[1].connected, 0);
    EXPECT_EQ(phone.restartCount(), 1);

    // The phone stays away 3 s; 6 s later it is back.
    platform.setWatchUnavailable(true);
    monitor.runCycle();
    ASSERT_EQ(notes.size(), 4u);
    EXPECT_EQ(notes[2], connectedAt(notes[1].atMs + 6000));
}

// ---- ending the loop ---------------------------------------------------------------

// A one-way door between threads.
class Gate {
public:
    void open()
    {
        {
            std::lock_guard lock(mutex_);
            open_ = true;
        }
        changed_.notify_all();
    }
    void wait()
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return open_; });
    }
    void wait(std::stop_token stop)
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, stop, [this] { return open_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable_any changed_;
    bool open_ = false;
};

TEST_F(MonitorTest, StopEndsAConnectedWatchReleasesThePhoneAndAnnouncesNothingMore)
{
    Gate connected;
    std::vector<int32_t> heard;
    {
        ConnectionMonitor threaded(link, platform, clock, [&](int32_t value) {
            heard.push_back(value);
            connected.open();
        });
        threaded.start();
        connected.wait();
        threaded.requestStop();
    } // joins

    EXPECT_EQ(heard, (std::vector<int32_t>{1}));
    EXPECT_EQ(link.connectedFlag(), 0);
    EXPECT_FALSE(link.hasDevice());
    EXPECT_TRUE(phone.attached());
}

// Forwards to another platform and counts the searches.
class CountingPlatform : public ClosingProbePlatform {
public:
    CountingPlatform(PhonePlatform& inner, std::function<void()> onSearch)
        : ClosingProbePlatform(inner, [] {}), onSearch_(std::move(onSearch)) {}
    FoundPhone findPhone() override
    {
        onSearch_();
        return ClosingProbePlatform::findPhone();
    }

private:
    std::function<void()> onSearch_;
};

TEST_F(MonitorTest, DestroyingTheMonitorEndsASearchingLoop)
{
    phone.unplug();
    Gate searchedTwice;
    std::atomic<int> searches{0};
    CountingPlatform counting(platform, [&] {
        if (++searches == 2)
            searchedTwice.open();
    });
    {
        ConnectionMonitor threaded(link, counting, clock, recorder());
        threaded.start();
        searchedTwice.wait();
    } // requests stop and joins

    EXPECT_GE(searches.load(), 2);
    EXPECT_TRUE(notes.empty());
    EXPECT_EQ(link.connectedFlag(), 0);
}

TEST_F(MonitorTest, AStopRequestedBeforehandEndsRunCycleAtOnce)
{
    monitor.requestStop();
    monitor.runCycle();
    EXPECT_EQ(clock.tickMs(), 0u);
    EXPECT_TRUE(notes.empty());
    EXPECT_EQ(platform.descriptorReads(), 0u);
}

// ---- a removal while a command is running -------------------------------------------

// What happened, in the order it happened, across threads.
class EventLog {
public:
    void add(std::string event)
    {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
    }
    std::vector<std::string> events() const
    {
        std::lock_guard lock(mutex_);
        return events_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
};

// A device whose first request hangs until the test lets it end, as a driver
// request does while the phone is being pulled out.
class SlowTransport : public UsbTransport {
public:
    SlowTransport(EventLog& events, Gate& entered, Gate& mayEnd) : events_(events), entered_(entered), mayEnd_(mayEnd) {}
    ~SlowTransport() override { events_.add(inside_.load() ? "device closed mid-request" : "device closed"); }

    TransferResult controlTransfer(std::span<const uint8_t>, std::span<uint8_t>, uint32_t) override
    {
        inside_.store(true);
        events_.add("request started");
        entered_.open();
        mayEnd_.wait();
        events_.add("request finished");
        inside_.store(false);
        return {TransferOutcome::Failed, 0};
    }

private:
    EventLog& events_;
    Gate& entered_;
    Gate& mayEnd_;
    std::atomic<bool> inside_{false};
};

// Hands out one device; its removal is signalled by the test.
class HandOverPlatform : public PhonePlatform {
public:
    HandOverPlatform(std::unique_ptr<UsbTransport> device, EventLog& events)
        : device_(std::move(device)), events_(events) {}

    int findModemPort(std::string&) override { return -1; }
    void switchToCommandMode(const std::string&) override {}
    FoundPhone findPhone() override { return {std::move(device_), "\\\\?\\usb#vid_22b8&pid_4902#slow"}; }
    void waitForRemoval(const std::string&, std::stop_token stop) override
    {
        removal.wait(stop);
        events_.add("removal seen");
        removalSeen.open();
    }

    Gate removal;
    Gate removalSeen;

private:
    std::unique_ptr<UsbTransport> device_;
    EventLog& events_;
};

TEST(MonitorRemovalDuringRequest, TheReleaseWaitsForTheRequestToEnd)
{
    EventLog events;
    Gate requestEntered, requestMayEnd, connected, disconnected;
    HandOverPlatform platform(std::make_unique<SlowTransport>(events, requestEntered, requestMayEnd), events);
    PhoneLink link;
    // Each thread has its own clock: the fake one is not shared between threads.
    FakeClock monitorClock;
    FakeClock channelClock;
    MemoryLogSink sink;
    OperatorLog log{&sink};
    TestCommandChannel channel{link, log, channelClock};
    int result = 99;
    {
        ConnectionMonitor monitor(link, platform, monitorClock, [&](int32_t value) {
            events.add("notify " + std::to_string(value));
            (value == 1 ? connected : disconnected).open();
        });
        monitor.start();
        connected.wait();

        std::thread command([&] {
            std::array<uint8_t, 16> answer{};
            uint32_t length = 0;
            result = channel.transact(0x4A, {}, answer, length);
        });
        requestEntered.wait();
        platform.removal.open();
        platform.removalSeen.wait();
        // Give the monitor thread every chance to run into the release.
        for (int i = 0; i < 10000; ++i)
            std::this_thread::yield();
        EXPECT_EQ(link.connectedFlag(), 1); // the release is still held up by the request

        requestMayEnd.open();
        command.join();
        disconnected.wait();
    }

    EXPECT_EQ(result, kFailed);
    EXPECT_EQ(sink.text(), "USB: IO Failed!\r\nCMD: Data write fail!\r\n");
    EXPECT_EQ(events.events(), (std::vector<std::string>{"notify 1", "request started", "removal seen",
                                                         "request finished", "device closed", "notify 0"}));
    EXPECT_EQ(link.connectedFlag(), 0);
    EXPECT_FALSE(link.hasDevice());
}

} // namespace
} // namespace p2k
