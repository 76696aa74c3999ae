// p2kfm-cli end to end against the demo phone: output, exit status, files,
// and the demo folder's state afterwards.

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
    int status; // the exit code; -1 when a signal ended the tool
    std::string out;
    std::string err;
};

std::string quotedForShell(const std::string& text)
{
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string readAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class CliTest : public testing::Test {
protected:
    void SetUp() override { fs::create_directories(dir / "out"); }

    // Runs a shell line in dir, with $CLI standing for the tool.
    CliRun shell(const std::string& line)
    {
        const std::string command = "cd " + quotedForShell(dir.string()) + " && CLI=" + quotedForShell(P2KFM_CLI)
                                    + " && { " + line + " ; } 2>" + quotedForShell((dir / "stderr").string())
                                    + " </dev/null";
        CliRun run{0, "", ""};
        FILE* pipe = popen(command.c_str(), "r");
        std::array<char, 4096> buffer;
        size_t n = 0;
        while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
            run.out.append(buffer.data(), n);
        const int raw = pclose(pipe);
        run.status = WIFEXITED(raw) && WEXITSTATUS(raw) < 128 ? WEXITSTATUS(raw) : -1;
        run.err = readAll(dir / "stderr");
        return run;
    }

    CliRun cli(const std::string& args) { return shell("\"$CLI\" " + args); }

    std::string demoDir() const { return "--demo-dir " + (dir / "phone").string(); }
    std::string tsvOfDemoDir() { return cli(demoDir() + " list --tsv").out; }

    // Every file of the demo folder with its content: what a run must leave alone.
    std::map<std::string, std::string> folderState() const
    {
        std::map<std::string, std::string> state;
        for (const auto& entry : fs::recursive_directory_iterator(dir / "phone")) {
            if (entry.is_regular_file())
                state[entry.path().string()] = readAll(entry.path());
        }
        return state;
    }

    static std::string lastLine(const std::string& text)
    {
        const size_t end = text.size() - (text.ends_with('\n') ? 1 : 0);
        const size_t start = text.rfind('\n', end - 1);
        return text.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start + 1));
    }

    test::TempFolder temp;
    const fs::path dir = temp.path();
};

TEST_F(CliTest, ListPrintsTheLogAHeaderAndTabSeparatedRows)
{
    const CliRun plain = cli("--demo list");
    EXPECT_EQ(plain.status, 0);
    EXPECT_NE(plain.out.find("Получаю список файлов... ok\nНайдено файлов:33\n"), std::string::npos);
    EXPECT_NE(plain.out.find("      size flags(hex)  name\n"), std::string::npos);
    EXPECT_NE(plain.out.find("      1024          0  /a/mobile/picture/Thumb.bmp\n"), std::string::npos);
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
    EXPECT_EQ(readAll(dir / "out" / "Thumb.bmp"), std::string(demo->findFile("/a/mobile/picture/Thumb.bmp")->content.begin(),
                                                              demo->findFile("/a/mobile/picture/Thumb.bmp")->content.end()));
    EXPECT_EQ(readAll(dir / "out" / "Мелодия.mid").size(), 2750u);

    std::ofstream(dir / "out" / "Alarm.mid") << "keep";
    const CliRun again = cli("--demo get /a/mobile/audio/Alarm.mid --to " + out);
    EXPECT_EQ(again.status, 1);
    EXPECT_NE(again.out.find("Косяк!! Не могу создать файл!"), std::string::npos);
    EXPECT_EQ(lastLine(again.err), "p2kfm-cli: get: not every file was copied to the PC");
    EXPECT_EQ(readAll(dir / "out" / "Alarm.mid"), "keep");

    const CliRun missing = cli("--demo get /a/none.bin --to " + out);
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "p2kfm-cli: /a/none.bin: no such file on the phone\n");
    const CliRun noFolder = cli("--demo --trace get /a/mobile/audio/Ring01.mid --to missing");
    EXPECT_EQ(noFolder.status, 1);
    EXPECT_EQ(noFolder.err, "p2kfm-cli: " + (dir / "missing").string() + ": no such folder\n"); // no transfer traced
}

TEST_F(CliTest, NumbersAreRefusedUnlessStrictAndNothingIsSent)
{
    std::ofstream(dir / "p.seem", std::ios::binary) << std::string(60, '\x02');
    ASSERT_EQ(cli(demoDir() + " volume").status, 0);
    const auto before = folderState();
    const char* refused[] = {
        "seem-put 4c garbage p.seem", "seem-put 4c 0 p.seem",    "seem-get zz 4c", "seem-get 0x4c 10000",
        "seem-get 4c 4b",             "chattr abc /a/mobile/audio/Alarm.mid", "chattr 65537 /a/mobile/audio/Alarm.mid",
        "chattr 0x10 extra --tsv",    "-- chattr -1 /a/mobile/audio/Alarm.mid",
    };
    for (const char* args : refused) {
        const CliRun run = cli(demoDir() + " --trace " + args);
        EXPECT_EQ(run.status, 2) << args;
        EXPECT_EQ(run.out, "") << args;
        EXPECT_TRUE(run.err.starts_with("usage: p2kfm-cli [--demo | --demo-dir DIR] [--trace] ")) << args << run.err;
        EXPECT_EQ(run.err.find("OUT "), std::string::npos) << args;
    }
    EXPECT_EQ(lastLine(cli(demoDir() + " seem-put 4c garbage p.seem").err),
              "p2kfm-cli: seem-put: REC must be a record number from 1 to fffe in hex (optional 0x), not 'garbage'");
    EXPECT_EQ(lastLine(cli(demoDir() + " seem-get 4c 4b").err), "p2kfm-cli: seem-get: FROM 4c is after TO 4b");
    EXPECT_EQ(folderState(), before);
}

TEST_F(CliTest, RelativePathsAreTakenFromWhereTheToolStarted)
{
    fs::create_directories(dir / "t2");
    fs::create_directories(dir / "sub");
    fs::create_directories(dir / "sr");
    EXPECT_EQ(cli("--demo-dir ph get /a/mobile/picture/Thumb.bmp --to t2").status, 0);
    EXPECT_EQ(readAll(dir / "t2" / "Thumb.bmp").size(), 1024u);
    EXPECT_TRUE(fs::exists(dir / "ph" / "p2kfm-demo-phone.txt"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "t2"), {}), 1); // no copy of the phone inside

    EXPECT_EQ(shell("cd sub && \"$CLI\" --demo get /a/mobile/audio/Alarm.mid --to ..").status, 0);
    EXPECT_TRUE(fs::exists(dir / "Alarm.mid"));

    const CliRun seem = cli("--demo-dir ph seem-get 4c 4c --to sr");
    EXPECT_EQ(seem.status, 0);
    EXPECT_EQ(readAll(dir / "sr" / "004c_0001.seem").size(), 60u);

    std::ofstream(dir / "sub" / "song.mid") << "MThd";
    EXPECT_EQ(shell("cd sub && \"$CLI\" --demo-dir ../ph put song.mid --as /a/").status, 0);
    EXPECT_NE(cli("--demo-dir ph list --tsv").out.find("/a/song.mid\t0\t4\n"), std::string::npos);
}

TEST_F(CliTest, UploadNamesThatDoNotFitAreRefused)
{
    std::ofstream(dir / "song.mid") << "MThd";
    const std::string longPath = "/a/" + std::string(125, 'p');
    const CliRun cut = cli(demoDir() + " put song.mid --as " + longPath);
    EXPECT_EQ(cut.status, 2);
    EXPECT_EQ(lastLine(cut.err), "p2kfm-cli: put: --as has 128 characters; the upload path holds at most 127");

    const std::string longTitle = std::string(140, 't') + ".mid";
    std::ofstream(dir / longTitle) << "MThd";
    const CliRun tooLong = cli(demoDir() + " put " + longTitle + " --as /a/" + std::string(124, 'p'));
    EXPECT_EQ(tooLong.status, 1);
    EXPECT_TRUE(tooLong.out.ends_with(".mid - Косяк!! Имя длиннее 260 байт, телефон такое не примет\n")) << tooLong.out;
    EXPECT_EQ(tooLong.err, "p2kfm-cli: put: the phone name has 271 characters; this phone takes at most 260\n");
    EXPECT_EQ(tsvOfDemoDir().find("tttt"), std::string::npos);
}

TEST_F(CliTest, DemoDirKeepsPutRmChattrAndRingtoneUpdate)
{
    const fs::path song = dir / "song.mid";
    std::ofstream(song, std::ios::binary) << "MThd-some-song";
    EXPECT_EQ(cli(demoDir() + " put " + song.string() + " --as /a/mobile/audio/").status, 0);
    EXPECT_NE(tsvOfDemoDir().find("/a/mobile/audio/song.mid\t0\t14\n"), std::string::npos);

    // The phone has that name now: only --replace writes over it, and then exactly.
    std::ofstream(song, std::ios::binary) << "short";
    const CliRun refused = cli(demoDir() + " put " + song.string() + " --as /a/mobile/audio/");
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(refused.out.ends_with("/a/mobile/audio/song.mid - Такой файл на телефоне уже есть, не заменяю\n"))
        << refused.out;
    EXPECT_NE(tsvOfDemoDir().find("/a/mobile/audio/song.mid\t0\t14\n"), std::string::npos);
    const CliRun replaced = cli(demoDir() + " put " + song.string() + " --as /a/mobile/audio/ --replace");
    EXPECT_EQ(replaced.status, 0);
    EXPECT_TRUE(replaced.out.ends_with("/a/mobile/audio/song.mid - старый файл удалён ok\n")) << replaced.out;
    const std::string out = (dir / "out").string();
    EXPECT_EQ(cli(demoDir() + " get /a/mobile/audio/song.mid --to " + out).status, 0);
    EXPECT_EQ(readAll(dir / "out" / "song.mid"), "short");

    EXPECT_EQ(cli(demoDir() + " chattr 0x21 /a/mobile/audio/song.mid").status, 0);
    EXPECT_NE(tsvOfDemoDir().find("/a/mobile/audio/song.mid\t21\t5\n"), std::string::npos);
    EXPECT_EQ(cli(demoDir() + " chattr 3 /a/mobile/audio/song.mid").status, 0);
    EXPECT_NE(tsvOfDemoDir().find("/a/mobile/audio/song.mid\t3\t5\n"), std::string::npos);

    const CliRun asked = cli(demoDir() + " rm /a/mobile/audio/song.mid"); // no answer on stdin: no
    EXPECT_EQ(asked.status, 1);
    EXPECT_EQ(lastLine(asked.err), "p2kfm-cli: rm: not every file was deleted");
    EXPECT_EQ(cli(demoDir() + " rm --yes /a/mobile/audio/song.mid").status, 0);
    EXPECT_EQ(tsvOfDemoDir().find("song.mid"), std::string::npos);

    const CliRun update = cli(demoDir() + " update-ringtones");
    EXPECT_EQ(update.status, 0);
    EXPECT_EQ(update.out, "Читаем профили..\nОбновляем профили..\nБаза рингтонов удалена\n");
    EXPECT_EQ(tsvOfDemoDir().find("MyToneDB.db"), std::string::npos);
}

TEST_F(CliTest, SeemGetAndPut)
{
    const std::string out = (dir / "out").string();
    const CliRun get = cli(demoDir() + " seem-get 4c 4c --to " + out);
    EXPECT_EQ(get.status, 0);
    EXPECT_EQ(get.out, "Скачиваем СИМ из 004c to 004c\nПагодь пару минут...\nDone.\n");
    std::string profiles = readAll(dir / "out" / "004c_0001.seem");
    ASSERT_EQ(profiles.size(), 60u);
    // A second run finds its files there: each is reported, and the tool fails.
    const CliRun again = cli(demoDir() + " seem-get 4c 4c --to " + out);
    EXPECT_EQ(again.status, 1);
    EXPECT_TRUE(again.out.ends_with("Не сохранил 004c_0003.seem: такой файл уже есть\nНе сохранено записей: 3\nDone.\n"))
        << again.out;
    profiles[0] = static_cast<char>(profiles[0] ^ 0xFF);
    std::ofstream(dir / "p.seem", std::ios::binary) << profiles;
    const CliRun put = cli(demoDir() + " seem-put 0x4C 0001 " + (dir / "p.seem").string());
    EXPECT_EQ(put.status, 0);
    EXPECT_EQ(put.out, "Закачиваем СИМ N 004cзапись N 0001 ok\n");
    fs::remove_all(dir / "out");
    fs::create_directories(dir / "out");
    cli(demoDir() + " seem-get 4c 4c --to " + out);
    EXPECT_EQ(readAll(dir / "out" / "004c_0001.seem"), profiles);

    // A file one byte short: the record stays, and the log's open line is ended.
    std::ofstream(dir / "short.seem", std::ios::binary) << profiles.substr(1);
    const CliRun refused = cli(demoDir() + " seem-put 4c 1 short.seem");
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out,
              "Закачиваем СИМ N 004cзапись N 0001 - Косяк!! Размер файла неправильный! В файле 59 байт, в записи 60\n");
    EXPECT_EQ(refused.err, "p2kfm-cli: seem-put: the SEEM record was not written\n");
}

TEST_F(CliTest, TwoRunsAtOnceLoseNothing)
{
    ASSERT_EQ(cli(demoDir() + " volume").status, 0);
    std::string line;
    for (int i = 0; i < 8; ++i) {
        std::ofstream(dir / ("p" + std::to_string(i) + ".mid")) << "MThd" << i;
        line += "{ \"$CLI\" " + demoDir() + " put p" + std::to_string(i) + ".mid --as /a/ >/dev/null 2>err" + std::to_string(i)
                + "; echo $? >rc" + std::to_string(i) + "; } & ";
    }
    shell(line + "wait");
    const std::string listed = tsvOfDemoDir();
    for (int i = 0; i < 8; ++i) {
        const std::string name = "/a/p" + std::to_string(i) + ".mid\t0\t5\n";
        const std::string rc = readAll(dir / ("rc" + std::to_string(i)));
        // A run either got its turn and kept its file, or said why it gave up.
        if (rc == "0\n") {
            EXPECT_NE(listed.find(name), std::string::npos) << name;
        } else {
            EXPECT_EQ(rc, "1\n");
            EXPECT_NE(readAll(dir / ("err" + std::to_string(i))).find("is in use by another p2kfm program; gave up after 5 s"),
                      std::string::npos);
            EXPECT_EQ(listed.find(name), std::string::npos) << name;
        }
    }
}

TEST_F(CliTest, ASaveThatCannotBeWrittenKeepsTheOldStateAndSaysSo)
{
    ASSERT_EQ(cli(demoDir() + " volume").status, 0);
    const auto before = folderState();
    EXPECT_EQ(cli(demoDir() + " list").status, 0);
    EXPECT_EQ(folderState(), before); // a command that changes nothing writes nothing

    std::ofstream(dir / "big.bin") << std::string(20000, 'b');
    // A file-size limit: the save's write fails...
    const CliRun refused = shell("trap '' XFSZ; ulimit -f 8; \"$CLI\" " + demoDir() + " put big.bin --as /a/");
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(lastLine(refused.err), "p2kfm-cli: cannot write the demo phone into " + (dir / "phone").string()
                                         + "; it keeps the state it had before");
    EXPECT_EQ(folderState(), before);
    // ...or, with the signal left as it is, ends the tool in the middle of it.
    const CliRun killed = shell("ulimit -f 8; \"$CLI\" " + demoDir() + " put big.bin --as /a/");
    EXPECT_EQ(killed.status, -1);
    const CliRun after = cli(demoDir() + " list --tsv");
    EXPECT_EQ(after.status, 0);
    EXPECT_EQ(after.out.find("big.bin"), std::string::npos);
}

TEST_F(CliTest, StandardOutputThatCannotBeWrittenIsAFailure)
{
    const CliRun full = shell("\"$CLI\" --demo list --tsv >/dev/full");
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(lastLine(full.err), "p2kfm-cli: cannot write to standard output");
}

TEST_F(CliTest, NamesAreEscapedWhereTheyWouldBreakTheOutput)
{
    std::ofstream(dir / "a\tb\nc.mid") << "MThd";
    ASSERT_EQ(cli(demoDir() + " put 'a\tb\nc.mid' --as '/a/x\\'").status, 0);
    EXPECT_NE(tsvOfDemoDir().find("/a/x\\\\a\\tb\\nc.mid\t0\t4\n"), std::string::npos);
    const CliRun dashed = cli(demoDir() + " get -- -x.mid");
    EXPECT_EQ(dashed.status, 1);
    EXPECT_EQ(dashed.err, "p2kfm-cli: -x.mid: no such file on the phone\n");
}

TEST_F(CliTest, VolumeRestartSuspendAndTrace)
{
    const CliRun volume = cli("--demo volume");
    EXPECT_EQ(volume.status, 0);
    EXPECT_EQ(volume.out, "Информация о носителе:\nName: /a\nСвободного места еще: 1800КБ\n");
    EXPECT_EQ(cli("--demo restart").status, 0);
    const CliRun trace = cli("--demo --trace suspend");
    EXPECT_EQ(trace.status, 0);
    // The OUT line holds wLength (9) bytes after the setup block: what goes on the wire.
    const std::regex line("OUT 41 02 00 00 08 00 09 00 \\| 00 01 00 36 00 01 00 00 00\n"
                          "IN  c1 00 00 00 08 00 08 00 \\| 00 01 00 08 00 00 00 00\n"
                          "IN  c1 01 01 00 08 00 0e 00 \\| 01 00 00 00 00 08 80 01 60 36 00 00 00 00\n");
    EXPECT_TRUE(std::regex_search(trace.err, line)) << trace.err;
}

// A demo folder whose header puts the command interface at 11: every
// command reaches it, and the trace shows index 0b.
TEST_F(CliTest, DemoDirPhoneAtInterfaceElevenWorksAndTracesItsIndex)
{
    ASSERT_EQ(cli(demoDir() + " volume").status, 0);
    const fs::path index = dir / "phone" / "p2kfm-demo-phone.txt";
    std::ifstream in(index, std::ios::binary);
    std::string text(std::istreambuf_iterator<char>(in), {});
    text.insert(text.find('\n') + 1, "interface 11\n");
    std::ofstream(index, std::ios::binary | std::ios::trunc) << text;

    const CliRun list = cli(demoDir() + " list --tsv");
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), 33);
    const CliRun trace = cli(demoDir() + " --trace suspend");
    EXPECT_EQ(trace.status, 0);
    const std::regex line("OUT 41 02 00 00 0b 00 09 00 \\| 00 01 00 36 00 01 00 00 00\n"
                          "IN  c1 00 00 00 0b 00 08 00 \\| 00 01 00 08 00 00 00 00\n"
                          "IN  c1 01 01 00 0b 00 0e 00 \\| 01 00 00 00 00 08 80 01 60 36 00 00 00 00\n");
    EXPECT_TRUE(std::regex_search(trace.err, line)) << trace.err;
}

TEST_F(CliTest, UsageAndHelp)
{
    const CliRun none = cli("");
    EXPECT_EQ(none.status, 2);
    EXPECT_EQ(lastLine(none.err), "p2kfm-cli: no command given");
    const CliRun help = cli("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("exit status: 0 everything went through, 1 a phone or PC operation failed,\n"
                            "2 the command line was refused (nothing was sent to the phone).\n"),
              std::string::npos);
    EXPECT_EQ(cli("frobnicate").status, 2);
    const CliRun getHelp = cli("get --help");
    EXPECT_EQ(getHelp.status, 0);
    EXPECT_EQ(getHelp.out, "usage: p2kfm-cli [--demo | --demo-dir DIR] [--trace] get NAME... [--to DIR]\n"
                           "  Copies phone files into DIR (default: here); never overwrites.\n");
    const CliRun noValue = cli("--demo get /a/x --to");
    EXPECT_EQ(noValue.status, 2);
    EXPECT_EQ(noValue.err, getHelp.out + "p2kfm-cli: --to needs a value\n");
    EXPECT_EQ(cli("--demo seem-get 4c").status, 2);
    EXPECT_EQ(cli("--demo get 歌.mid").status, 2);
    EXPECT_EQ(lastLine(cli("--demo --demo-dir x list").err), "p2kfm-cli: --demo and --demo-dir cannot be used together");
    EXPECT_EQ(lastLine(cli("--demo-dir '' list").err), "p2kfm-cli: --demo-dir needs a value, not an empty text");
    EXPECT_FALSE(fs::exists(dir / "x"));
    for (const char* wait : {"x", "3601", "1.5", "0x10"}) {
        const CliRun bad = cli(std::string("--demo --wait '") + wait + "' volume");
        EXPECT_EQ(bad.status, 2) << wait;
        EXPECT_EQ(lastLine(bad.err), std::string("p2kfm-cli: volume: --wait must be whole seconds from 0 to 3600, not '")
                                         + wait + "'")
            << wait;
    }
    EXPECT_EQ(cli("--demo --wait -1 volume").status, 2);
    EXPECT_EQ(cli("--demo --wait '' volume").status, 2);
    EXPECT_EQ(cli("--demo --wait 3600 volume").status, 0);
}

// Every example of the README's command-line section runs as written, on
// folders of the test's own.
TEST_F(CliTest, TheReadmeExamplesRun)
{
    std::ifstream readme(fs::path(P2K_SOURCE_DIR) / "README.md");
    std::ofstream(dir / "song.mid") << "MThd";
    int examples = 0;
    for (std::string line; std::getline(readme, line);) {
        if (!line.starts_with("build/native/p2kfm-cli "))
            continue;
        std::string command = line.substr(0, line.find('#'));
        command = std::regex_replace(command, std::regex("^build/native/p2kfm-cli"), "\"$$CLI\"");
        command = std::regex_replace(command, std::regex("~/p2k"), (dir / "p2k").string());
        command = std::regex_replace(command, std::regex("/tmp"), (dir / "out").string());
        const CliRun run = shell(command);
        EXPECT_EQ(run.status, 0) << line << "\n" << run.err;
        ++examples;
    }
    EXPECT_EQ(examples, 7);
}

TEST_F(CliTest, VersionIsTheProjectVersion)
{
    const CliRun version = cli("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("p2kfm-cli ") + P2KFM_VERSION + "\n");
}

} // namespace
} // namespace p2k
