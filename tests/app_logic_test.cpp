#include "app/command_table.h"
#include "core/hex_field.h"
#include "core/operator_log.h"

#include <gtest/gtest.h>

#include <vector>

namespace p2k {
namespace {

struct HexCase {
    const char* text;
    uint32_t value;
};

constexpr HexCase kHexCases[] = {
    {"", 0},
    {"0300", 0x300},
    {"ffffffff", 0xFFFFFFFF},
    {"FFFFFFFF", 0xFFFFFFFF},
    {"12345678AB", 0x12345678},
    {" 12", 0},
    {"0x1F", 0},
    {"1G", 1},
    {"1:", 1},
    {"W", 0},
    {"4c", 0x4C},
    {"aBcD", 0xABCD},
    {"10000", 0x10000},
    {"9/", 9},
    {"@", 0},
    {"`", 0},
    {"g", 0},
};

TEST(ParseHexField, Table)
{
    for (const HexCase& c : kHexCases)
        EXPECT_EQ(parseHexField(c.text), c.value) << '"' << c.text << '"';
}

TEST(ParseHexField, StopsAtAnEmbeddedZero)
{
    EXPECT_EQ(parseHexField(std::string_view("12\0" "34", 5)), 0x12u);
}

class RecordingRunner : public CommandRunner {
public:
    void run(Command command) override { ran.push_back(command); }
    std::vector<Command> ran;
};

class DispatchTest : public testing::Test {
protected:
    MemoryLogSink sink;
    OperatorLog log{&sink};
    PhoneLink link;
    RecordingRunner runner;
    CommandDispatcher dispatcher{link, log, runner};
};

struct RouteCase {
    uint32_t id;
    Command command;
    bool needsPhone;
};

constexpr RouteCase kRoutes[] = {
    {1001, Command::RefreshFileList, true},      {1002, Command::UploadFile, true},
    {1003, Command::RestartPhone, true},         {1004, Command::About, false},
    {1005, Command::DownloadSelectedFiles, true}, {1101, Command::DownloadSelectedFiles, true},
    {1006, Command::DeleteSelectedFiles, true},  {1102, Command::DeleteSelectedFiles, true},
    {1007, Command::SuspendPhone, true},         {1011, Command::DownloadSeemRange, true},
    {1012, Command::UploadSeemRecord, true},     {1016, Command::ChangeAttributes, true},
    {1021, Command::UpdateRingtones, true},
};

TEST_F(DispatchTest, WithoutAPhoneCommandsThatNeedOneOnlyLogTheRefusal)
{
    for (int32_t flag : {0, 2, -1}) {
        link.setConnectedFlag(flag);
        for (const RouteCase& route : kRoutes) {
            sink.clear();
            runner.ran.clear();
            EXPECT_TRUE(dispatcher.dispatch(route.id));
            if (route.needsPhone) {
                EXPECT_EQ(sink.text(), "Тело не в коннекте\r\n") << route.id;
                EXPECT_TRUE(runner.ran.empty()) << route.id;
            } else {
                EXPECT_EQ(sink.text(), "") << route.id;
                EXPECT_EQ(runner.ran, std::vector<Command>{route.command}) << route.id;
            }
        }
    }
}

TEST_F(DispatchTest, WithAPhoneEveryCommandRunsOnceAndLogsNothingOfItsOwn)
{
    link.setConnectedFlag(1);
    for (const RouteCase& route : kRoutes) {
        runner.ran.clear();
        EXPECT_TRUE(dispatcher.dispatch(route.id));
        EXPECT_EQ(runner.ran, std::vector<Command>{route.command}) << route.id;
    }
    EXPECT_EQ(sink.text(), "");
}

TEST_F(DispatchTest, TableHoldsExactlyTheRoutedIdentifiers)
{
    EXPECT_EQ(commandTable().size(), std::size(kRoutes) + 1); // and the check box
    EXPECT_TRUE(findCommand(1020).has_value());
}

TEST_F(DispatchTest, NotificationsEnterAndEscapeMatchNothing)
{
    link.setConnectedFlag(0);
    // IDOK, IDCANCEL, an edit field's change notification, a button's
    // double-click notification, the log pane and unknown numbers.
    for (uint32_t param : {1u, 2u, (0x0300u << 16) | 1009u, (5u << 16) | 1001u, 1000u, 1008u, 1019u, 0u, 1100u,
                           1103u}) {
        EXPECT_FALSE(dispatcher.dispatch(param)) << param;
    }
    EXPECT_EQ(sink.text(), "");
    EXPECT_TRUE(runner.ran.empty());
}

TEST_F(DispatchTest, AutoRefreshToggleWorksWithoutAPhone)
{
    EXPECT_EQ(dispatcher.autoRefreshFlag(), 0);
    dispatcher.dispatch(1020);
    EXPECT_EQ(dispatcher.autoRefreshFlag(), 1);
    dispatcher.dispatch(1020);
    EXPECT_EQ(dispatcher.autoRefreshFlag(), 0);
    link.setConnectedFlag(1);
    dispatcher.dispatch(1020);
    EXPECT_EQ(dispatcher.autoRefreshFlag(), 1);
    EXPECT_EQ(sink.text(), "");
    EXPECT_TRUE(runner.ran.empty());
}

TEST(OperatorLogTest, OnlyQuietSwitchOneSilences)
{
    MemoryLogSink sink;
    OperatorLog log(&sink);
    log.appendLog("a");
    log.setQuietSwitch(1);
    log.appendLog("b");
    log.setQuietSwitch(2);
    log.appendLog("c");
    log.setQuietSwitch(-1);
    log.appendLog("d");
    log.setQuietSwitch(1);
    log.appendLog("e");
    log.setQuietSwitch(0);
    log.appendLog("Получаю\r\n");
    EXPECT_EQ(sink.text(), "acdПолучаю\r\n");
}

TEST(OperatorLogTest, WithoutASinkAppendsAreDropped)
{
    OperatorLog log;
    log.appendLog("nowhere"); // must not crash
    MemoryLogSink sink;
    log.setSink(&sink);
    log.appendLog("x");
    EXPECT_EQ(sink.text(), "x");
}

} // namespace
} // namespace p2k
