#include "app/application.h"
#include "app/demo_options.h"
#include "core/hex_field.h"
#include "app/window_logic.h"
#include "commands/seem_commands.h"
#include "tests/support/fake_window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include <algorithm>
#include <string>
#include <vector>

namespace p2k {
namespace {

// ---- status, About, tray, fields

TEST(WindowStatusText, ConnectionNotificationsName)
{
    EXPECT_EQ(connectionStatusText(1), "на связи!");
    EXPECT_EQ(connectionStatusText(0), "нет коннекта");
    EXPECT_EQ(kNoContactStatus, "нет контакта!");
}

TEST(WindowStatusText, OtherParametersChangeNothing)
{
    for (uint64_t param : {uint64_t{2}, uint64_t{0xFFFFFFFF}, uint64_t{0x100000001}, ~uint64_t{0}, uint64_t{0x10000}})
        EXPECT_FALSE(connectionStatusText(param).has_value()) << param;
}

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    lines.push_back(text.substr(start));
    return lines;
}

TEST(WindowAboutBox, NamesTheProgramThePhonesAndTheBuild)
{
    EXPECT_EQ(aboutCaption(), "About");
    const std::string text = aboutText();
    const std::vector<std::string> lines = linesOf(text);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_NE(lines.front().find("p2kfm"), std::string::npos);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "designed for Motorola P2K phones"), lines.end());
    EXPECT_EQ(lines.back(), "build 12.03.2004");
}

TEST(WindowTray, TipFitsTheShortRecord)
{
    EXPECT_EQ(trayTip(), "Left click to open service window.");
    EXPECT_LT(trayTip().size(), 64u); // 64 units with the terminating zero
}

TEST(WindowFields, SeemRangeStartsAsFourHexDigits)
{
    EXPECT_EQ(hex4(kInitialSeemRangeStart), "0000");
    EXPECT_EQ(hex4(kInitialSeemRangeEnd), "0300");
    EXPECT_EQ(hex4(0x4C), "004c");
    EXPECT_EQ(hex4(0xABCDE), "abcde");
    EXPECT_EQ(hex4(0xFFFFFFFF), "ffffffff");
}

TEST(WindowFields, WrittenValuesReadBack)
{
    for (uint32_t value : {0u, 0x300u, 0x4Cu, 0xFFFFu, 0x12345678u})
        EXPECT_EQ(parseHexField(hex4(value)), value);
}

// ---- the log pane's limit

constexpr LogPaneLimits kSmall{100, 75, 50};

TEST(WindowLogLimit, ScaledLimitsKeepTheirOrder)
{
    EXPECT_EQ(logPaneLimitsFor(4096).paneLimit, 4096u);
    EXPECT_EQ(logPaneLimitsFor(4096).highWater, 3072u);
    EXPECT_EQ(logPaneLimitsFor(4096).lowWater, 2048u);
    for (const LogPaneLimits& limits : {kLogPaneLimits, logPaneLimitsFor(kMinLogLimit), logPaneLimitsFor(1000)}) {
        EXPECT_LT(limits.lowWater, limits.highWater);
        EXPECT_LT(limits.highWater, limits.paneLimit);
    }
}

TEST(WindowLogLimit, NothingIsDroppedUpToTheHighWaterMark)
{
    EXPECT_FALSE(logNeedsTrim(0, 75, kSmall));
    EXPECT_FALSE(logNeedsTrim(70, 5, kSmall));
    EXPECT_TRUE(logNeedsTrim(70, 6, kSmall));
    EXPECT_EQ(logTrimLength(std::u16string(70, u'x'), 5, kSmall), 0u);
}

TEST(WindowLogLimit, CutEndsAfterALineEndAndLeavesRoomForTheAppend)
{
    std::u16string text;
    for (int i = 0; i < 9; ++i)
        text += u"line " + std::u16string(1, char16_t(u'0' + i)) + u"\r\n"; // 9 lines of 8 units
    const size_t cut = logTrimLength(text, 10, kSmall);
    ASSERT_GT(cut, 0u);
    EXPECT_EQ(text.substr(cut - 2, 2), u"\r\n");
    EXPECT_LE(text.size() - cut + 10, kSmall.lowWater);
    // The shortest such cut: one line less would not fit.
    EXPECT_GT(text.size() - (cut - 8) + 10, kSmall.lowWater);
}

TEST(WindowLogLimit, ALineEndRightAtTheLeastCutCounts)
{
    // 76 units: the least cut is 76 + 4 - 50 = 30; a line ends exactly there.
    const std::u16string text = std::u16string(28, u'a') + u"\r\n" + std::u16string(44, u'b') + u"\r\n";
    EXPECT_EQ(logTrimLength(text, 4, kSmall), 30u);
}

TEST(WindowLogLimit, ALineEndSplitAcrossTheLeastCutIsNotUsed)
{
    // The least cut (30) falls between "\r" and "\n": the cut runs on to the next line end.
    const std::u16string text = std::u16string(29, u'a') + u"\r\n" + std::u16string(43, u'b') + u"\r\n";
    EXPECT_EQ(logTrimLength(text, 4, kSmall), 31u);
}

TEST(WindowLogLimit, WithoutALineEndFarEnoughTheWholeTextGoes)
{
    EXPECT_EQ(logTrimLength(std::u16string(80, u'x'), 1, kSmall), 80u);
    const std::u16string text = u"ab\r\n" + std::u16string(76, u'x');
    EXPECT_EQ(logTrimLength(text, 1, kSmall), text.size());
}

TEST(WindowLogLimit, AnAppendLargerThanTheLowWaterMarkTakesEverything)
{
    const std::u16string text = u"ab\r\ncd\r\n";
    EXPECT_EQ(logTrimLength(text, 90, kSmall), text.size());
}

TEST(WindowLogLimit, SelectionKeepsItsPlaceOrMovesToTheNewStart)
{
    EXPECT_EQ(selectionAfterTrim({40, 40}, 30), (LogSelection{10, 10}));
    EXPECT_EQ(selectionAfterTrim({35, 60}, 30), (LogSelection{5, 30}));
    EXPECT_EQ(selectionAfterTrim({10, 40}, 30), (LogSelection{0, 10}));
    EXPECT_EQ(selectionAfterTrim({3, 20}, 30), (LogSelection{0, 0}));
    EXPECT_EQ(selectionAfterTrim({30, 30}, 30), (LogSelection{0, 0}));
    EXPECT_EQ(selectionAfterTrim({7, 9}, 0), (LogSelection{7, 9}));
}

// A pane as the window keeps it: appends at the caret, old lines dropped first.
class PaneModel {
public:
    explicit PaneModel(LogPaneLimits limits) : limits_(limits) {}

    void append(std::u16string_view text)
    {
        if (logNeedsTrim(text_.size(), text.size(), limits_)) {
            const size_t cut = logTrimLength(text_, text.size(), limits_);
            text_.erase(0, cut);
            selection_ = selectionAfterTrim(selection_, cut);
        }
        text_.replace(selection_.start, selection_.end - selection_.start, text);
        selection_.start += text.size();
        selection_.end = selection_.start;
        longest_ = std::max(longest_, text_.size());
    }

    std::u16string text_;
    LogSelection selection_{0, 0};
    size_t longest_ = 0;
    LogPaneLimits limits_;
};

TEST(WindowLogLimit, ALongSessionStaysUnderTheHighWaterMarkInWholeLines)
{
    PaneModel pane(logPaneLimitsFor(kMinLogLimit));
    const std::u16string pieces[] = {u"Получаю список файлов...", u" ok\r\n", u"Тело не в коннекте\r\n",
                                     u"Файл: ", u"MyToneDB.db", u" ok\r\n"};
    for (int i = 0; i < 5000; ++i)
        pane.append(pieces[i % std::size(pieces)]);
    EXPECT_LE(pane.longest_, pane.limits_.highWater);
    EXPECT_GT(pane.text_.size(), pane.limits_.lowWater / 2);
    // The text starts with a whole line: the first line of the cycle.
    EXPECT_TRUE(pane.text_.starts_with(u"Получаю") || pane.text_.starts_with(u"Тело") ||
                pane.text_.starts_with(u"Файл"));
}

TEST(WindowLogLimit, AppendsFollowTheOperatorsCaretAcrossDrops)
{
    PaneModel pane(kSmall);
    for (int i = 0; i < 6; ++i)
        pane.append(u"line\r\n"); // 36 units
    pane.selection_ = {12, 12};   // the operator clicked at the start of line 3
    for (int i = 0; i < 20; ++i)
        pane.append(u"new!\r\n");
    // The 24 units after the caret are still there, after it.
    EXPECT_EQ(pane.text_.substr(pane.selection_.start), u"line\r\nline\r\nline\r\nline\r\n");
    EXPECT_LE(pane.longest_, kSmall.highWater);
}

// ---- demo settings

TEST(WindowDemoOptions, NoArgumentsMeanNoTestSettings)
{
    const DemoOptions options = parseDemoOptions({});
    EXPECT_FALSE(options.holdPhone);
    EXPECT_FALSE(options.logLimit.has_value());
    EXPECT_FALSE(options.commandInterface.has_value());
}

TEST(WindowDemoOptions, HoldAndLogLimit)
{
    const std::vector<std::string> arguments = {"--hold-phone", "--log-limit=4096", "--other"};
    const DemoOptions options = parseDemoOptions(arguments);
    EXPECT_TRUE(options.holdPhone);
    EXPECT_EQ(options.logLimit, 4096u);
}

TEST(WindowDemoOptions, BadLogLimitsAreIgnored)
{
    for (const char* bad : {"--log-limit=", "--log-limit=12", "--log-limit=4k", "--log-limit=-5", "--log-limit 4096"}) {
        const std::vector<std::string> arguments = {bad};
        EXPECT_FALSE(parseDemoOptions(arguments).logLimit.has_value()) << bad;
    }
}

TEST(WindowDemoOptions, CommandInterfaceFromZeroTo255)
{
    for (const auto& [argument, number] : {std::pair{"--command-interface=11", 11}, std::pair{"--command-interface=0", 0},
                                           std::pair{"--command-interface=255", 255}}) {
        const std::vector<std::string> arguments = {argument};
        EXPECT_EQ(parseDemoOptions(arguments).commandInterface, number) << argument;
    }
    for (const char* bad : {"--command-interface=", "--command-interface=256", "--command-interface=0x0b",
                            "--command-interface=-1", "--command-interface=b", "--command-interface 11"}) {
        const std::vector<std::string> arguments = {bad};
        EXPECT_FALSE(parseDemoOptions(arguments).commandInterface.has_value()) << bad;
    }
}

TEST(WindowDemoOptions, UnplugAfterRequestsTakesTheNextArgument)
{
    struct Case {
        std::vector<std::string> arguments;
        std::optional<uint32_t> requests;
    };
    const std::vector<Case> cases = {
        {{"--unplug-after-requests", "40"}, 40},
        {{"--hold-phone", "--unplug-after-requests", "1"}, 1},
        {{"--unplug-after-requests", "0"}, std::nullopt},
        {{"--unplug-after-requests", "-3"}, std::nullopt},
        {{"--unplug-after-requests", "4x"}, std::nullopt},
        {{"--unplug-after-requests"}, std::nullopt},
        {{"--unplug-after-requests=40"}, std::nullopt},
    };
    for (const Case& c : cases) {
        const DemoOptions options = parseDemoOptions(c.arguments);
        EXPECT_EQ(options.unplugAfterRequests, c.requests) << c.arguments.front();
    }
}

TEST(WindowDemoOptions, AttachEventIsPerProcess)
{
    EXPECT_EQ(demoAttachEventName(1234), "Local\\p2kfm-demo-attach-1234");
    EXPECT_NE(demoAttachEventName(1), demoAttachEventName(2));
}

// ---- the application's wiring

// The screenless window, whose status follows the connection as the real one's does.
class FakeWindow : public test::FakeWindow {
public:
    FakeWindow() { status = kNoContactStatus; }
    void notifyConnection(int32_t connected) override
    {
        test::FakeWindow::notifyConnection(connected);
        if (const auto text = connectionStatusText(static_cast<uint64_t>(connected)))
            status = *text;
    }
};

class NullTransport : public UsbTransport {
public:
    TransferResult controlTransfer(std::span<const uint8_t>, std::span<uint8_t>, uint32_t) override { return {}; }
};

// A phone that is found on every search and removed at once.
class BlinkingPlatform : public PhonePlatform {
public:
    int findModemPort(std::string&) override { return -1; }
    void switchToCommandMode(const std::string&) override {}
    FoundPhone findPhone() override { return {std::make_unique<NullTransport>(), "path"}; }
    void waitForRemoval(const std::string&, std::stop_token) override {}
};

class WindowApplication : public testing::Test {
protected:
    FakeClock clock;
    Application app{clock, [](OperatorLog&, Clock&) { return std::make_unique<BlinkingPlatform>(); }};
    FakeWindow window;
};

TEST_F(WindowApplication, TheLogGoesToTheAttachedWindowsPane)
{
    app.log().appendLog("before\r\n");
    app.attachWindow(window);
    app.log().appendLog("Тело не в коннекте\r\n");
    EXPECT_EQ(window.log.text(), "Тело не в коннекте\r\n");
}

TEST_F(WindowApplication, AboutRunsWithoutAPhonePhoneCommandsAreRefused)
{
    app.attachWindow(window);
    EXPECT_TRUE(app.dispatcher().dispatch(1004));
    EXPECT_EQ(window.aboutShown, 1);
    EXPECT_TRUE(app.dispatcher().dispatch(1001));
    EXPECT_EQ(window.log.text(), "Тело не в коннекте\r\n");
}

TEST_F(WindowApplication, CommandsWithoutAWindowDoNothing)
{
    app.link().setConnectedFlag(1);
    EXPECT_TRUE(app.dispatcher().dispatch(1004));
    EXPECT_EQ(window.aboutShown, 0);
}

// Discovery that logs a transport text on its first search, from the
// monitor's own thread, and finds nothing after.
class LoggingDiscovery : public BlinkingPlatform {
public:
    explicit LoggingDiscovery(OperatorLog& log) : log_(log) {}
    FoundPhone findPhone() override
    {
        if (!logged_.exchange(true)) {
            log_.appendLog("USB: IO Failed!\r\n");
            logged.set_value();
        }
        return {};
    }

    std::promise<void> logged;

private:
    OperatorLog& log_;
    std::atomic<bool> logged_{false};
};

TEST(WindowApplicationThreads, TheMonitorsTextsReachTheWindowsLogPane)
{
    FakeClock clock;
    LoggingDiscovery* discovery = nullptr;
    Application app{clock, [&](OperatorLog& log, Clock&) {
                        auto platform = std::make_unique<LoggingDiscovery>(log);
                        discovery = platform.get();
                        return platform;
                    }};
    FakeWindow window;
    app.attachWindow(window);
    app.log().appendLog("window\r\n");
    std::future<void> logged = discovery->logged.get_future();
    app.startMonitor();
    logged.wait();
    EXPECT_EQ(window.log.text(), "window\r\nUSB: IO Failed!\r\n");
}

TEST_F(WindowApplication, TheMonitorsNotificationsReachTheWindow)
{
    app.attachWindow(window);
    app.monitor().runCycle();
    EXPECT_EQ(window.notifications, (std::vector<int32_t>{1, 0}));
    EXPECT_EQ(window.status, "нет коннекта");
    EXPECT_EQ(app.link().connectedFlag(), 0);
}

} // namespace
} // namespace p2k
