#include "app/command_table.h"
#include "core/operator_log.h"
#include "link/phone_link.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace p2k {
namespace {

// A command that, like one waiting in a dialog's message loop, receives
// further command messages before it returns.
class NestingRunner : public CommandRunner {
public:
    void run(Command command) override
    {
        ran.push_back(command);
        if (whileRunning) {
            auto nested = std::move(whileRunning);
            whileRunning = nullptr;
            nested();
        }
    }
    std::vector<Command> ran;
    std::function<void()> whileRunning;
};

class CommandGuardTest : public testing::Test {
protected:
    CommandGuardTest() { link.setConnectedFlag(1); }

    MemoryLogSink sink;
    OperatorLog log{&sink};
    PhoneLink link;
    NestingRunner runner;
    CommandDispatcher dispatcher{link, log, runner};
};

TEST_F(CommandGuardTest, CommandsArrivingWhileOneRunsAreIgnored)
{
    bool nestedNamed = false;
    runner.whileRunning = [&] {
        EXPECT_TRUE(dispatcher.commandRunning());
        nestedNamed = dispatcher.dispatch(1001) && dispatcher.dispatch(1006) && dispatcher.dispatch(1004);
    };
    EXPECT_TRUE(dispatcher.dispatch(1005));
    EXPECT_TRUE(nestedNamed);
    EXPECT_EQ(runner.ran, std::vector<Command>{Command::DownloadSelectedFiles});
    EXPECT_FALSE(dispatcher.commandRunning());
    EXPECT_EQ(sink.text(), "");
}

TEST_F(CommandGuardTest, RefusalsAreNotLoggedWhileACommandRuns)
{
    runner.whileRunning = [&] {
        link.setConnectedFlag(0);
        dispatcher.dispatch(1001);
    };
    dispatcher.dispatch(1004);
    EXPECT_EQ(sink.text(), "");
}

TEST_F(CommandGuardTest, CommandsRunAgainOnceTheRunningOneHasReturned)
{
    runner.whileRunning = [&] { dispatcher.dispatch(1003); };
    dispatcher.dispatch(1001);
    dispatcher.dispatch(1003);
    EXPECT_EQ(runner.ran, (std::vector<Command>{Command::RefreshFileList, Command::RestartPhone}));
}

TEST_F(CommandGuardTest, TheCheckBoxFlagFollowsItsMarkEvenWhileACommandRuns)
{
    // The box flips its own mark; a lost click would leave the flag behind it.
    runner.whileRunning = [&] { dispatcher.dispatch(1020); };
    dispatcher.dispatch(1001);
    EXPECT_EQ(dispatcher.autoRefreshFlag(), 1);
}

} // namespace
} // namespace p2k
