#include "link/driver_platform.h"

#include "core/operator_log.h"
#include "link/usb_transport.h"
#include "tests/support/fake_driver_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <vector>

namespace p2k {
namespace {

using test::Bytes;
using test::DriverReply;
using test::FakeDriverSystem;
using test::FakeInterface;

using Calls = std::vector<std::string>;

const std::string kUsualPath = "\\\\?\\usb#vid_22b8&pid_4902&mi_08#6&1&0008#{4e1e1e15-52d7-11d4-852d-00105aa6f80b}";
const std::string kLaterPath = "\\\\?\\usb#vid_22b8&pid_4902&mi_0b#6&1&000b#{4e1e1e15-52d7-11d4-852d-00105aa6f80b}";
const std::string kPlainPath = "\\\\?\\usb#vid_22b8&pid_3802#6&2&0000#{4e1e1e15-52d7-11d4-852d-00105aa6f80b}";

FakeInterface member(const std::string& path, std::deque<DriverReply> replies)
{
    FakeInterface interface;
    interface.path = path;
    interface.replies = std::move(replies);
    return interface;
}

FakeInterface named(const std::string& path, const std::string& name)
{
    return member(path, {test::completesWith(test::descriptorOutput(name))});
}

FakeInterface commandInterface(const std::string& path)
{
    return named(path, "Motorola Test Command");
}

class DriverPlatformTest : public testing::Test {
protected:
    std::shared_ptr<FakeDriverSystem> fake = std::make_shared<FakeDriverSystem>();
    MemoryLogSink sink;
    OperatorLog log{&sink};
    FakeClock clock;
    DriverPlatform platform{fake, log, clock};
};

// ---- findPhone ----------------------------------------------------------------

TEST_F(DriverPlatformTest, ClassSetThatCannotBeHadFindsNothing)
{
    fake->setOpens = false;
    EXPECT_EQ(platform.findPhone().device, nullptr);
    EXPECT_EQ(fake->calls, Calls{"SetupDiGetClassDevs"});
}

TEST_F(DriverPlatformTest, EmptyClassEndsTheSearchAndDestroysTheSet)
{
    EXPECT_EQ(platform.findPhone().device, nullptr);
    EXPECT_EQ(fake->calls,
              (Calls{"SetupDiGetClassDevs", "SetupDiEnumDeviceInterfaces 0", "SetupDiDestroyDeviceInfoList interface set"}));
}

TEST_F(DriverPlatformTest, MatchIsOpenedNamedAndKept)
{
    fake->interfaces = {commandInterface(kUsualPath)};
    const FoundPhone found = platform.findPhone();
    ASSERT_NE(found.device, nullptr);
    EXPECT_EQ(found.devicePath, kUsualPath);
    EXPECT_EQ(sink.text(), "");
    const std::string device = "device " + kUsualPath;
    EXPECT_EQ(fake->takeCalls(),
              (Calls{"SetupDiGetClassDevs", "SetupDiEnumDeviceInterfaces 0", "SetupDiGetDeviceInterfaceDetail size",
                     "SetupDiGetDeviceInterfaceDetail 120 bytes", "CreateFile interface " + kUsualPath, "CreateEvent",
                     "ResetEvent event 1", "DeviceIoControl " + device + " 0x80002010 in 2 out 261 record 1",
                     "WaitForSingleObject event 1 5000 ms", "GetOverlappedResult " + device + " record 1",
                     "free record 1", "CloseHandle event 1", "SetupDiDestroyDeviceInfoList interface set"}));
    EXPECT_EQ(fake->requestInputs, std::vector<Bytes>{(Bytes{0x02, 0x00})}) << "string descriptor 2";
    EXPECT_EQ(fake->openHandles(), std::set<std::string>{device});
}

TEST_F(DriverPlatformTest, InterfaceNumberComesFromThePath)
{
    for (const auto& [path, number] : {std::pair{kUsualPath, 8}, {kLaterPath, 11}, {kPlainPath, 8}}) {
        fake->interfaces = {commandInterface(path)};
        const FoundPhone found = platform.findPhone();
        ASSERT_NE(found.device, nullptr) << path;
        EXPECT_EQ(found.device->interfaceNumber(), number) << path;
    }
}

TEST_F(DriverPlatformTest, DetailRecordHoldsAtLeastItsHead)
{
    FakeInterface sizedAtOnce = commandInterface(kUsualPath);
    sizedAtOnce.sizeAsk = {true, 0};
    sizedAtOnce.needed = 0;
    fake->interfaces = {sizedAtOnce};
    EXPECT_NE(platform.findPhone().device, nullptr);
    EXPECT_EQ(fake->detailRecordSizes, std::vector<size_t>{FakeDriverSystem::kDetailHeadSize});
}

// Each case puts one member before a command interface; what became of the search.
struct SearchCase {
    const char* name;
    FakeInterface first;
    bool secondTried;
    std::string logged;
};

FakeInterface sizeAskFails()
{
    FakeInterface interface = commandInterface(kLaterPath);
    interface.sizeAsk = {false, 87};
    return interface;
}

FakeInterface detailUnreadable()
{
    FakeInterface interface = commandInterface(kLaterPath);
    interface.detailReadable = false;
    return interface;
}

FakeInterface unopenable()
{
    FakeInterface interface = commandInterface(kLaterPath);
    interface.openable = false;
    return interface;
}

FakeInterface shortAnswer()
{
    return member(kLaterPath, {test::completesWith({0x15, 0, 0})});
}

class SearchPastOneMember : public DriverPlatformTest, public testing::WithParamInterface<SearchCase> {};

TEST_P(SearchPastOneMember, SkipsOrStops)
{
    const SearchCase& c = GetParam();
    fake->interfaces = {c.first, commandInterface(kUsualPath)};
    const FoundPhone found = platform.findPhone();
    EXPECT_EQ(found.device != nullptr, c.secondTried);
    EXPECT_EQ(found.devicePath, c.secondTried ? kUsualPath : "");
    EXPECT_EQ(sink.text(), c.logged);
    const Calls calls = fake->takeCalls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "SetupDiEnumDeviceInterfaces 1"), c.secondTried ? 1 : 0);
    EXPECT_EQ(calls.back(), "SetupDiDestroyDeviceInfoList interface set");
    std::set<std::string> open = fake->openHandles();
    open.erase("device " + kUsualPath);
    EXPECT_EQ(open, std::set<std::string>{}) << "the passed-over member's handles are closed";
}

INSTANTIATE_TEST_SUITE_P(
    DriverPlatform, SearchPastOneMember,
    testing::Values(SearchCase{"SizeAskFailsStops", sizeAskFails(), false, ""},
                    SearchCase{"DetailUnreadableSkips", detailUnreadable(), true, ""},
                    SearchCase{"OpenFailsSkips", unopenable(), true, ""},
                    SearchCase{"OtherNameSkips", named(kLaterPath, "Motorola Test Commands"), true, ""},
                    SearchCase{"OtherCaseSkips", named(kLaterPath, "motorola test command"), true, ""},
                    SearchCase{"RefusedRequestSkips", member(kLaterPath, {test::refusedAtOnce(31)}), true,
                               "USB: IO Failed!\r\n"},
                    SearchCase{"TimedOutRequestSkips", member(kLaterPath, {test::neverCompletes()}), true,
                               "USB: IO Time-out!\r\n"},
                    SearchCase{"HungCancelSkips", member(kLaterPath, {test::neverCompletes(WaitResult::TimedOut)}),
                               true, "USB: IO Failed!\r\n"},
                    SearchCase{"ShortAnswerSkips", shortAnswer(), true, "USB: Answer size invlid!\r\n"}),
    [](const testing::TestParamInfo<SearchCase>& info) { return std::string(info.param.name); });

TEST_F(DriverPlatformTest, PassedOverMemberIsClosedBeforeItsAbandonedRequestIsFreed)
{
    fake->interfaces = {member(kLaterPath, {test::neverCompletes(WaitResult::TimedOut)})};
    EXPECT_EQ(platform.findPhone().device, nullptr);
    const Calls calls = fake->takeCalls();
    const auto closed = std::find(calls.begin(), calls.end(), "CloseHandle device " + kLaterPath);
    const auto freed = std::find(calls.begin(), calls.end(), "free record 1");
    ASSERT_NE(closed, calls.end());
    ASSERT_NE(freed, calls.end());
    EXPECT_LT(closed, freed);
    EXPECT_TRUE(fake->openHandles().empty());
}

// ---- findModemPort ----------------------------------------------------------------

const std::string kMapKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
const std::string kMapName = "\\Device\\USBSER000";

TEST_F(DriverPlatformTest, ModemPortIsTheMapsComValue)
{
    fake->keys[kMapKey] = {{kMapName, "COM12"}};
    std::string port;
    EXPECT_EQ(platform.findModemPort(port), 0);
    EXPECT_EQ(port, "COM12");
    EXPECT_EQ(fake->calls, (Calls{"RegOpenKeyEx " + kMapKey, "RegQueryValueEx " + kMapName + " 256 bytes",
                                  "RegCloseKey key " + kMapKey}));
}

TEST_F(DriverPlatformTest, ModemPortNotFound)
{
    struct Case {
        const char* name;
        std::optional<std::map<std::string, std::string>> map;
    };
    for (const Case& c : {Case{"no map", std::nullopt}, Case{"no value", std::map<std::string, std::string>{}},
                          Case{"not a COM port", std::map<std::string, std::string>{{kMapName, "LPT1"}}},
                          Case{"lower case", std::map<std::string, std::string>{{kMapName, "com3"}}},
                          Case{"empty", std::map<std::string, std::string>{{kMapName, ""}}}}) {
        fake->keys.clear();
        if (c.map)
            fake->keys[kMapKey] = *c.map;
        std::string port = "untouched";
        EXPECT_EQ(platform.findModemPort(port), -1) << c.name;
        EXPECT_EQ(port, "untouched") << c.name;
        EXPECT_TRUE(fake->openHandles().empty()) << c.name;
    }
}

// ---- switchToCommandMode ------------------------------------------------------------

TEST_F(DriverPlatformTest, ModeSwitchWritesTheTextWithWriteTimeOutAndTakesTheReply)
{
    platform.switchToCommandMode("COM12");
    const std::string port = "port \\\\.\\COM12";
    EXPECT_EQ(fake->calls, (Calls{"CreateFile port \\\\.\\COM12", "SetCommTimeouts " + port,
                                  "WriteFile " + port + " 11 bytes", "ReadFile " + port + " 256 bytes",
                                  "CloseHandle " + port}));
    EXPECT_EQ(fake->portBytesWritten, test::text("at+mode=8\r\n"));
    PortTimeouts expected;
    expected.readInterval = 0xFFFFFFFF;
    expected.writeTotalConstant = 1000;
    EXPECT_EQ(fake->portTimeouts, expected);
    EXPECT_EQ(clock.totalSleptMs(), 2000u);
    EXPECT_EQ(sink.text(), "");
}

TEST_F(DriverPlatformTest, ModeSwitchEndsAtTheFirstFailure)
{
    struct Case {
        const char* name;
        void (*script)(FakeDriverSystem&);
        size_t calls; // up to and including the failed one
    };
    const Case cases[] = {
        {"open fails", [](FakeDriverSystem& f) { f.portOpens = false; }, 1},
        {"time-outs refused", [](FakeDriverSystem& f) { f.portTimeoutsTaken = false; }, 2},
        {"write fails", [](FakeDriverSystem& f) { f.portWriteOk = false; }, 3},
        {"write times out", [](FakeDriverSystem& f) { f.portWriteCount = 4; }, 3},
    };
    for (const Case& c : cases) {
        auto fresh = std::make_shared<FakeDriverSystem>();
        c.script(*fresh);
        FakeClock quiet;
        DriverPlatform(fresh, log, quiet).switchToCommandMode("COM3");
        const bool opened = c.calls > 1;
        ASSERT_EQ(fresh->calls.size(), c.calls + (opened ? 1 : 0)) << c.name;
        if (opened) {
            EXPECT_EQ(fresh->calls.back(), "CloseHandle port \\\\.\\COM3") << c.name;
        }
        EXPECT_EQ(quiet.totalSleptMs(), 0u) << c.name;
        EXPECT_TRUE(fresh->openHandles().empty()) << c.name;
    }
}

// ---- waitForRemoval ----------------------------------------------------------------

const std::string kWatchKey = "SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\"
                              "{4e1e1e15-52d7-11d4-852d-00105aa6f80b}\\"
                              "##?#usb#vid_22b8&pid_4902&mi_08#6&1&0008#{4e1e1e15-52d7-11d4-852d-00105aa6f80b}"
                              "\\#\\Control";

TEST_F(DriverPlatformTest, RemovalWatchArmsTheKeysNotificationAndWaitsForItOrStop)
{
    fake->keys[kWatchKey] = {};
    platform.waitForRemoval(kUsualPath, std::stop_token{});
    const std::string key = "key " + kWatchKey;
    EXPECT_EQ(fake->calls, (Calls{"RegOpenKeyEx " + kWatchKey, "CreateEvent", "CreateEvent",
                                  "RegNotifyChangeKeyValue " + key + " event 1",
                                  "WaitForMultipleObjects event 1, event 2", "CloseHandle event 2",
                                  "CloseHandle event 1", "RegCloseKey " + key}));
}

TEST_F(DriverPlatformTest, StopRequestedBeforeTheWatchSignalsAtOnce)
{
    fake->keys[kWatchKey] = {};
    std::stop_source stop;
    stop.request_stop();
    platform.waitForRemoval(kUsualPath, stop.get_token());
    EXPECT_EQ(fake->calls.at(3), "SetEvent event 2");
    EXPECT_TRUE(fake->openHandles().empty());
}

TEST_F(DriverPlatformTest, RemovalWatchFallsBackOrReturns)
{
    struct Case {
        const char* name;
        std::string path;
        bool keyPresent;
        bool eventCreates;
        uint32_t notifyError;
        Calls tail; // the calls after the key was opened, before it is closed
    };
    const std::string key = "key " + kWatchKey;
    const Case cases[] = {
        {"short path", "\\\\?", true, true, 0, {}},
        {"key missing", kUsualPath, false, true, 0, {}},
        {"no events: blocking notification", kUsualPath, true, false, 0,
         {"CreateEvent", "CreateEvent", "RegNotifyChangeKeyValue " + key + " blocking"}},
        {"notification refused", kUsualPath, true, true, 5,
         {"CreateEvent", "CreateEvent", "RegNotifyChangeKeyValue " + key + " event 1", "CloseHandle event 2",
          "CloseHandle event 1"}},
    };
    for (const Case& c : cases) {
        auto fresh = std::make_shared<FakeDriverSystem>();
        if (c.keyPresent)
            fresh->keys[kWatchKey] = {};
        fresh->eventCreates = c.eventCreates;
        fresh->notifyError = c.notifyError;
        DriverPlatform(fresh, log, clock).waitForRemoval(c.path, std::stop_token{});
        Calls expected;
        if (c.path.size() >= 4)
            expected.push_back("RegOpenKeyEx " + kWatchKey);
        if (c.keyPresent && c.path.size() >= 4) {
            expected.insert(expected.end(), c.tail.begin(), c.tail.end());
            expected.push_back("RegCloseKey " + key);
        }
        EXPECT_EQ(fresh->calls, expected) << c.name;
    }
}

} // namespace
} // namespace p2k
