// p2kfm-cli end to end against the demo phone: output, exit status, files.

#include "sim/demo_phone.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sys/wait.h>

namespace p2k {
namespace {

namespace fs = std::filesystem;

struct CliRun {
    int status;
    std::string out;
};

class CliTest : public testing::Test {
protected:
    void SetUp() override { fs::create_directories(dir / "out"); }

    // Runs the tool with arguments; stdout (and stderr when asked) captured.
    CliRun cli(const std::string& args, bool withStderr = false)
    {
        const std::string command = std::string(P2KFM_CLI) + " " + args + (withStderr ? " 2>&1" : " 2>/dev/null")
                                    + " </dev/null";
        CliRun run{0, ""};
        FILE* pipe = popen(command.c_str(), "r");
        std::array<char, 4096> buffer;
        size_t n = 0;
        while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
            run.out.append(buffer.data(), n);
        const int raw = pclose(pipe);
        run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        return run;
    }

    std::string demoDir() const { return "--demo-dir " + (dir / "phone").string(); }

    static std::vector<uint8_t> bytesOf(const fs::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }

    test::TempFolder temp;
    const fs::path dir = temp.path();
};

TEST_F(CliTest, ListPrintsTheLogAndTabSeparatedRows)
{
    const CliRun plain = cli("--demo list");
    EXPECT_EQ(plain.status, 0);
    EXPECT_NE(plain.out.find("Получаю список файлов... ok\nНайдено файлов:33\n"), std::string::npos);
    const CliRun tsv = cli("--demo list --tsv");
    EXPECT_EQ(tsv.status, 0);
    EXPECT_NE(tsv.out.find("/a/mobile/picture/Thumb.bmp\t0\t1024\n"), std::string::npos);
    EXPECT_NE(tsv.out.find("/a/mobile/audio/Мелодия.mid\t0\t2750\n"), std::string::npos);
    EXPECT_EQ(std::count(tsv.out.begin(), tsv.out.end(), '\n'), 33);
}

TEST_F(CliTest, GetCopiesFilesAndNeverOverwrites)
{
    FakeClock clock;
    const auto demo = sim::makeDemoPhone(clock);
    const std::string out = (dir / "out").string();
    const CliRun run = cli("--demo get /a/mobile/picture/Thumb.bmp /a/mobile/audio/Мелодия.mid --to " + out);
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(bytesOf(dir / "out" / "Thumb.bmp"), demo->findFile("/a/mobile/picture/Thumb.bmp")->content);
    EXPECT_EQ(bytesOf(dir / "out" / "Мелодия.mid"), demo->findFile(sim::toPhoneName("/a/mobile/audio/Мелодия.mid"))->content);

    std::ofstream(dir / "out" / "Alarm.mid") << "keep";
    const CliRun again = cli("--demo get /a/mobile/audio/Alarm.mid --to " + out);
    EXPECT_EQ(again.status, 1);
    EXPECT_NE(again.out.find("Косяк!! Не могу создать файл!"), std::string::npos);
    EXPECT_EQ(bytesOf(dir / "out" / "Alarm.mid"), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));

    EXPECT_EQ(cli("--demo get /a/none.bin --to " + out).status, 1);
    EXPECT_EQ(cli("--demo get /a/mobile/audio/Ring01.mid --to " + (dir / "missing").string()).status, 1);
}

TEST_F(CliTest, DemoDirKeepsPutRmChattrAndRingtoneUpdate)
{
    const fs::path song = dir / "song.mid";
    std::ofstream(song, std::ios::binary) << "MThd-some-song";
    EXPECT_EQ(cli(demoDir() + " put " + song.string() + " --as /a/mobile/audio/").status, 0);
    EXPECT_NE(cli(demoDir() + " list --tsv").out.find("/a/mobile/audio/song.mid\t0\t14\n"), std::string::npos);

    EXPECT_EQ(cli(demoDir() + " chattr 3 /a/mobile/audio/song.mid").status, 0);
    EXPECT_NE(cli(demoDir() + " list --tsv").out.find("/a/mobile/audio/song.mid\t3\t14\n"), std::string::npos);

    EXPECT_EQ(cli(demoDir() + " rm /a/mobile/audio/song.mid").status, 1); // no answer on stdin: no
    EXPECT_EQ(cli(demoDir() + " rm --yes /a/mobile/audio/song.mid").status, 0);
    EXPECT_EQ(cli(demoDir() + " list --tsv").out.find("song.mid"), std::string::npos);

    const CliRun update = cli(demoDir() + " update-ringtones");
    EXPECT_EQ(update.status, 0);
    EXPECT_EQ(update.out, "Читаем профили..\nОбновляем профили..\nБаза рингтонов удалена\n");
    EXPECT_EQ(cli(demoDir() + " list --tsv").out.find("MyToneDB.db"), std::string::npos);
}

TEST_F(CliTest, SeemGetAndPut)
{
    const std::string out = (dir / "out").string();
    const CliRun get = cli(demoDir() + " seem-get 4c 4c --to " + out);
    EXPECT_EQ(get.status, 0);
    EXPECT_EQ(get.out, "Скачиваем СИМ из 004c to 004c\nПагодь пару минут...\nDone.\n");
    std::vector<uint8_t> profiles = bytesOf(dir / "out" / "004c_0001.seem");
    ASSERT_EQ(profiles.size(), 60u);
    profiles[0] ^= 0xFF;
    std::ofstream(dir / "p.seem", std::ios::binary).write(reinterpret_cast<const char*>(profiles.data()), 60);
    const CliRun put = cli(demoDir() + " seem-put 4c 1 " + (dir / "p.seem").string());
    EXPECT_EQ(put.status, 0);
    EXPECT_EQ(put.out, "Закачиваем СИМ N 004cзапись N 0001 ok\n");
    fs::remove_all(dir / "out");
    fs::create_directories(dir / "out");
    cli(demoDir() + " seem-get 4c 4c --to " + out);
    EXPECT_EQ(bytesOf(dir / "out" / "004c_0001.seem"), profiles);
}

TEST_F(CliTest, VolumeRestartSuspendAndTrace)
{
    const CliRun volume = cli("--demo volume");
    EXPECT_EQ(volume.status, 0);
    EXPECT_EQ(volume.out, "Информация о носителе:\nName: /a\nСвободного места еще: 1800КБ\n");
    EXPECT_EQ(cli("--demo restart").status, 0);
    const CliRun trace = cli("--demo --trace suspend", true);
    EXPECT_EQ(trace.status, 0);
    const std::regex line("OUT 41 02 00 00 08 00 09 00 \\| 00 01 00 36 00 01 00 00 00 00 00\n"
                          "IN  c1 00 00 00 08 00 08 00 \\| 00 01 00 08 00 00 00 00\n"
                          "IN  c1 01 01 00 08 00 0e 00 \\| 01 00 00 00 00 08 80 01 60 36 00 00 00 00\n");
    EXPECT_TRUE(std::regex_search(trace.out, line)) << trace.out;
}

TEST_F(CliTest, UsageAndHelp)
{
    EXPECT_EQ(cli("").status, 1);
    EXPECT_EQ(cli("--help").status, 0);
    EXPECT_EQ(cli("frobnicate").status, 1);
    const CliRun help = cli("get --help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("get NAME... [--to DIR]"), std::string::npos);
    EXPECT_EQ(cli("--demo seem-get 4c").status, 1);
    EXPECT_EQ(cli("--demo get 歌.mid").status, 1);
}

TEST_F(CliTest, VersionIsTheProjectVersion)
{
    const CliRun version = cli("--version", true);
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("p2kfm-cli ") + P2KFM_VERSION + "\n");
}

} // namespace
} // namespace p2k
