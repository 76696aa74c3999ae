// The window's life during a long command: the pump between requests and
// the cancel gestures, on a fake clock with a window that plays gestures.

#include "app/command_pump.h"
#include "tests/support/bytes.h"
#include "tests/support/phone_world.h"

#include <gtest/gtest.h>

#include <deque>

namespace p2k::test {
namespace {

// A window whose message queue holds the given gestures, one per pump.
class GestureWindow : public FakeWindow {
public:
    CommandGesture handleMessagesDuringCommand() override
    {
        ++pumps;
        if (gestures.empty())
            return CommandGesture::None;
        const CommandGesture next = gestures.front();
        gestures.pop_front();
        return next;
    }

    int pumps = 0;
    std::deque<CommandGesture> gestures;
};

struct PumpTest : testing::Test {
    FakeClock clock{1000};
    std::atomic<bool> interrupt{false};
    CommandPump pump{clock, interrupt};
    GestureWindow window;
};

TEST_F(PumpTest, HandlesMessagesAtMostEveryFiftyMilliseconds)
{
    pump.begin(&window);
    const std::vector<std::pair<uint32_t, int>> steps = {{0, 0}, {49, 0}, {1, 1}, {10, 1}, {39, 1}, {1, 2}, {500, 3}};
    for (const auto& [advanceMs, pumps] : steps) {
        clock.advance(advanceMs);
        pump.beforeRequest();
        EXPECT_EQ(window.pumps, pumps) << "at " << clock.tickMs();
    }
}

TEST_F(PumpTest, OutsideACommandNothingIsHandled)
{
    clock.advance(1000);
    pump.beforeRequest();
    pump.begin(nullptr); // a front end without a window
    clock.advance(1000);
    pump.beforeRequest();
    pump.begin(&window);
    pump.end();
    clock.advance(1000);
    pump.beforeRequest();
    EXPECT_EQ(window.pumps, 0);
}

TEST_F(PumpTest, EscInterruptsAndTheCloseBoxAlsoClosesAfterwards)
{
    struct Case {
        CommandGesture gesture;
        bool interrupted;
        bool closes;
    };
    for (const Case& c : {Case{CommandGesture::None, false, false}, Case{CommandGesture::Cancel, true, false},
                          Case{CommandGesture::Close, true, true}}) {
        pump.begin(&window);
        window.gestures = {c.gesture};
        clock.advance(CommandPump::kIntervalMs);
        pump.beforeRequest();
        pump.end();
        EXPECT_EQ(interrupt.load(), c.interrupted);
        EXPECT_EQ(pump.takeCloseRequest(), c.closes);
        EXPECT_FALSE(pump.takeCloseRequest()) << "a close is taken once";
    }
}

TEST_F(PumpTest, ANewCommandStartsUninterrupted)
{
    pump.begin(&window);
    pump.requestClose();
    pump.end();
    pump.begin(&window);
    EXPECT_FALSE(interrupt.load());
    EXPECT_FALSE(pump.takeCloseRequest());
}

// A SEEM range of 0x301 SEEMs on the simulated phone, with the window
// pumped between requests: the window breathes all along, and Esc stops the
// download at the next request, with one line saying so.
TEST(PumpedCommandTest, EscStopsALongSeemDownloadAtTheNextRequest)
{
    PhoneWorld world;
    for (uint16_t seem = 0; seem <= 0x300; seem += 0x10)
        world.phone.setSeemRecord(seem, 1, Bytes(40, static_cast<uint8_t>(seem)));
    world.link.attach(world.phone.open());
    std::atomic<bool> interrupt{false};
    CommandPump pump{world.clock, interrupt};
    GestureWindow window;
    world.channel.setRequestGate(&pump);
    world.channel.setInterruptFlag(&interrupt);
    world.window.fields[control::kSeemRangeStart] = "0000";
    world.window.fields[control::kSeemRangeEnd] = "0300";
    world.dialogs.answers.push_back(DialogChoice{"D:/seem/xxxx_yyyy.seem", "xxxx_yyyy.seem"});
    window.gestures = std::deque<CommandGesture>(9, CommandGesture::None);
    window.gestures.push_back(CommandGesture::Cancel);

    pump.begin(&window);
    const bool result = world.seems.downloadSeemRange();
    pump.end();
    world.channel.reportInterrupted();

    EXPECT_FALSE(result);
    EXPECT_EQ(window.pumps, 10) << "the download stopped right after Esc";
    // Each request here takes the channel's 1 ms pause: one pump per 50 requests.
    const uint64_t requests = world.phone.requestCount();
    EXPECT_GE(requests, 10u * CommandPump::kIntervalMs - 1);
    EXPECT_LE(requests, 10u * CommandPump::kIntervalMs + 1); // the request in hand still goes
    EXPECT_TRUE(world.sink.text().ends_with("Пагодь пару минут...\r\nПрервано\r\n"))
        << world.sink.text().substr(world.sink.text().size() - 200);
    EXPECT_EQ(world.pc.openCount, 0);
}

} // namespace
} // namespace p2k::test
