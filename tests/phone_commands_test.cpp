#include "app/phone_commands.h"
#include "sim/demo_phone.h"
#include "tests/support/fake_list.h"
#include "tests/support/fake_pc.h"
#include "tests/support/fake_window.h"

#include <gtest/gtest.h>

namespace p2k::test {
namespace {

// Buttons through the dispatcher to the demo phone, as the window routes them.
class PhoneCommandsTest : public testing::Test {
protected:
    PhoneCommandsTest()
    {
        link.attach(phone->open());
        link.setConnectedFlag(1);
    }

    FakeClock clock;
    std::unique_ptr<sim::SimulatedPhone> phone = sim::makeDemoPhone(clock);
    MemoryLogSink sink;
    OperatorLog log{&sink};
    PhoneLink link;
    TestCommandChannel channel{link, log, clock};
    FakeWindow window;
    FakeList list;
    FakeDialogs dialogs;
    FakePcFiles pc;
    int32_t autoRefresh = 0;
    PhoneCommands commands{channel, log, clock, {window, list, dialogs, pc, autoRefresh}};
    CommandDispatcher dispatcher{link, log, commands};
};

TEST_F(PhoneCommandsTest, ButtonsReachThePhone)
{
    dispatcher.dispatch(1001);
    EXPECT_EQ(list.rows.size(), phone->files().size());
    dispatcher.dispatch(1004);
    EXPECT_EQ(window.aboutShown, 1);
    dispatcher.dispatch(1007);
    EXPECT_TRUE(phone->suspended());
    list.selected = {0};
    window.answers = {true};
    const std::string top = list.rows[0].name;
    dispatcher.dispatch(1102);
    EXPECT_EQ(phone->findFile(top), nullptr);
    dispatcher.dispatch(1003);
    EXPECT_EQ(phone->restartCount(), 1);
}

TEST_F(PhoneCommandsTest, SeemButtonsUseTheFields)
{
    window.fields[control::kSeemRangeStart] = "4c";
    window.fields[control::kSeemRangeEnd] = "4c";
    dialogs.answers.push_back(DialogChoice{"D:/s/x.seem", "x.seem"});
    dispatcher.dispatch(1011);
    EXPECT_EQ(pc.files.count("D:/s/004c_0001.seem"), 1u);
    EXPECT_EQ(pc.files["D:/s/004c_0001.seem"].bytes, *phone->seemRecord(0x4C, 1));
    dispatcher.dispatch(1021);
    EXPECT_EQ(phone->restartCount(), 1);
    EXPECT_NE(sink.text().find("База рингтонов удалена\r\n"), std::string::npos);
}

} // namespace
} // namespace p2k::test
