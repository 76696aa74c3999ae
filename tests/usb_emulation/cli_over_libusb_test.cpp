// p2kfm-cli, unmodified, through the real libusb against an emulated phone.

#include "tests/usb_emulation/emulated_usb.h"

#include "link/clock.h"
#include "sim/demo_phone.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <thread>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace p2k::emu {
namespace {

namespace fs = std::filesystem;

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
    std::vector<std::string> trace; // the --trace lines of standard error
};

std::string contentOf(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<std::string> traceLinesOf(const std::string& err)
{
    std::vector<std::string> lines;
    std::istringstream in(err);
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("OUT ") || line.starts_with("IN "))
            lines.push_back(line);
    }
    return lines;
}

class CliOverLibusbTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (!preloadActive())
            GTEST_SKIP() << "umockdev's preload is not active, so libusb cannot be given an emulated phone";
        bus_.emplace();
    }

    // Runs the tool with the arguments (no shell quoting: plain words only).
    CliRun cli(const std::string& args)
    {
        const fs::path out = dir / "stdout";
        const fs::path err = dir / "stderr";
        const std::string command = std::string(P2KFM_CLI) + " " + args + " >" + out.string() + " 2>" + err.string()
                                    + " </dev/null";
        const int raw = std::system(command.c_str());
        CliRun run;
        run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        run.out = contentOf(out);
        run.err = contentOf(err);
        run.trace = traceLinesOf(run.err);
        return run;
    }

    // The same transfers in the same order; on a difference, the first one.
    static void expectSameTransfers(const std::vector<WireTransfer>& wire, const std::vector<std::string>& trace)
    {
        EXPECT_EQ(wire.size(), trace.size());
        for (size_t i = 0; i < std::min(wire.size(), trace.size()); ++i) {
            if (wire[i].traceLine != trace[i]) {
                ADD_FAILURE() << "transfer " << i << " differs\n wire:  " << wire[i].traceLine.substr(0, 200)
                              << "\n trace: " << trace[i].substr(0, 200);
                return;
            }
        }
    }

    test::TempFolder temp;
    const fs::path dir = temp.path();
    std::unique_ptr<sim::SimulatedPhone> phone = sim::makeDemoPhone(systemClock());
    std::optional<EmulatedBus> bus_;
};

std::vector<uint8_t> bytesIn(const fs::path& path)
{
    const std::string content = contentOf(path);
    return {content.begin(), content.end()};
}

// A demo session, one tool run per command against the same phone: every
// opcode crosses the real libusb, and the wire carries what the trace shows.
TEST_F(CliOverLibusbTest, DemoSessionRunsEveryCommandThroughTheRealLibusb)
{
    EmulatedDevice& device = bus_->plugIn(phoneInCommandMode(), phone.get());
    fs::create_directories(dir / "out");
    std::ofstream(dir / "song.mid", std::ios::binary) << "MThd-some-song";
    const std::vector<uint8_t> profiles = *phone->seemRecord(0x004c, 0x0001);
    std::vector<uint8_t> changed = profiles;
    changed[0] ^= 0xFF;
    std::ofstream(dir / "p.seem", std::ios::binary).write(reinterpret_cast<const char*>(changed.data()), 60);
    const std::string out = (dir / "out").string();

    struct Step {
        std::string args;
        std::string expectedOut; // a piece of standard output
    };
    const Step steps[] = {
        {"list", "Получаю список файлов... ok\nНайдено файлов:33\n"},
        {"volume", "Name: /a\nСвободного места еще: 1800КБ\n"},
        {"get /a/mobile/picture/Thumb.bmp --to " + out, ""},
        {"put " + (dir / "song.mid").string() + " --as /a/mobile/audio/", ""},
        {"chattr 3 /a/mobile/audio/song.mid", ""},
        {"rm --yes /a/mobile/audio/Alarm.mid", ""},
        {"seem-get 4c 4c --to " + out, "Скачиваем СИМ из 004c to 004c\nПагодь пару минут...\nDone.\n"},
        {"seem-put 4c 1 " + (dir / "p.seem").string(), "Закачиваем СИМ N 004cзапись N 0001 ok\n"},
        {"suspend", ""},
        {"restart", ""},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.args);
        const CliRun run = cli("--trace " + step.args);
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        EXPECT_NE(run.out.find(step.expectedOut), std::string::npos) << run.out;
        expectSameTransfers(device.takeWire(), run.trace);
    }

    EXPECT_EQ(bytesIn(dir / "out" / "Thumb.bmp"), phone->findFile("/a/mobile/picture/Thumb.bmp")->content);
    ASSERT_NE(phone->findFile("/a/mobile/audio/song.mid"), nullptr);
    EXPECT_EQ(phone->findFile("/a/mobile/audio/song.mid")->attributes, 3u);
    EXPECT_EQ(phone->findFile("/a/mobile/audio/Alarm.mid"), nullptr);
    EXPECT_EQ(bytesIn(dir / "out" / "004c_0001.seem"), profiles);
    EXPECT_EQ(*phone->seemRecord(0x004c, 0x0001), changed);
    EXPECT_EQ(phone->restartCount(), 1);
    EXPECT_EQ(phone->violations(), std::vector<std::string>{});
    EXPECT_EQ(device.claimedInterfaces(), std::vector<uint8_t>(std::size(steps), 8));
}

// The phone leaves while a data read is on the wire: the read fails at once
// (not after its 40 s), and the tool ends with the list command's own
// summary after the transport's texts.
TEST_F(CliOverLibusbTest, UnplugMidTransferFailsTheRequestAtOnce)
{
    EmulatedDevice& device = bus_->plugIn(phoneInCommandMode(), phone.get());
    device.holdCommandTransfer(3); // write, status poll, then the data read
    const auto start = std::chrono::steady_clock::now();
    auto run = std::async(std::launch::async, [this] { return cli("list"); });
    ASSERT_TRUE(device.waitUntilHeld(10000));

    bus_->unplug(device);
    const CliRun result = run.get();

    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "Получаю список файлов...USB: Device gone!\n"
                          "Блин, чета пошло не так.. не получилось, короче..\n")
        << result.err;
    EXPECT_EQ(result.err, "p2kfm-cli: list: the file list could not be read\n");
}

TEST_F(CliOverLibusbTest, WaitsForAPhoneAttachedAfterTheStart)
{
    auto run = std::async(std::launch::async, [this] { return cli("--wait 10 volume"); });
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    bus_->plugIn(phoneInCommandMode(), phone.get());

    const CliRun result = run.get();
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("Name: /a\n"), std::string::npos) << result.out;
    EXPECT_EQ(result.err, ""); // not a terminal: no status line
}

TEST_F(CliOverLibusbTest, WithoutAPhoneWaitZeroLooksOnceAndSaysSo)
{
    const auto start = std::chrono::steady_clock::now();
    const CliRun result = cli("--wait 0 list");

    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "Тело не в коннекте\n");
    EXPECT_EQ(result.err, "p2kfm-cli: no phone found within 0 s\n");
}

// What arrives on the PC side of a port within timeoutMs (real time).
std::string readPort(int fd, size_t count, int timeoutMs)
{
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (text.size() < count && std::chrono::steady_clock::now() < deadline) {
        pollfd port{fd, POLLIN, 0};
        if (::poll(&port, 1, 100) != 1)
            continue;
        char buffer[64];
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0)
            text.append(buffer, static_cast<size_t>(got));
    }
    return text;
}

TEST_F(CliOverLibusbTest, PhoneInModemModeIsSwitchedAndFoundUnderItsNewAddress)
{
    EmulatedDevice& modem = bus_->plugIn(phoneInModemMode());
    const int port = bus_->modemMasterFd(modem);
    ASSERT_GE(port, 0);
    auto run = std::async(std::launch::async, [this] { return cli("list"); });

    EXPECT_EQ(readPort(port, 11, 10000), "at+mode=8\r\n");
    bus_->unplug(modem);
    EmulatedDevice& device = bus_->plugIn(phoneInCommandMode(), phone.get());

    const CliRun result = run.get();
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("Найдено файлов:33\n"), std::string::npos) << result.out;
    EXPECT_EQ(device.claimedInterfaces(), std::vector<uint8_t>{8});
    EXPECT_EQ(modem.exclusiveOpens(), 1);
}

} // namespace
} // namespace p2k::emu
