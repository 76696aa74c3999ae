// File names a phone may send that a PC must not take at face value: paths
// that climb out ("..", "/", "\"), drive letters, the PC's device names,
// control characters, characters PC names forbid, names that fill the whole
// name field. They are listed and sorted like any other name, and a download
// saves them only inside the chosen folder, under a safe title, and never
// over an existing file.

#include "commands/pc_names.h"
#include "sim/demo_phone.h"
#include "tests/support/phone_world.h"
#include "tests/support/case_names.h"

#include <gtest/gtest.h>

namespace p2k::test {
namespace {

using test::PrintTo;

using Bytes = std::vector<uint8_t>;

constexpr const char* kFolder = "D:/down";
constexpr const char* kDecoy = "/a/decoy.bin";
const Bytes kDecoyContent(7, 'd');
const Bytes kKept = {'k', 'e', 'e', 'p'};

struct HostileName {
    const char* label;
    std::string phoneName; // the phone's raw bytes
    std::string title;     // the PC name it must be saved under
};

std::vector<HostileName> hostileNames()
{
    return {
        {"ClimbsOut", "/a/../../etc/passwd", "passwd"},
        {"ClimbsOutBackslashes", "..\\..\\Windows\\system.ini", "system.ini"},
        {"AbsoluteWindowsPath", "C:\\Windows\\win.ini", "win.ini"},
        {"DriveRelative", "C:evil.txt", "C_evil.txt"},
        {"NetworkPath", "\\\\server\\share\\x.txt", "x.txt"},
        {"Console", "/a/CON", "_CON"},
        {"ConsoleInput", "/a/conin$", "_conin$"},
        {"ConsoleOutputWithExtension", "/a/CONOUT$.txt", "_CONOUT$.txt"},
        {"NullDeviceWithExtension", "/a/nul.txt", "_nul.txt"},
        {"SerialPort", "/a/COM1.mid", "_COM1.mid"},
        {"SerialPortZero", "/a/com0", "_com0"},
        {"Printer", "/a/LPT1", "_LPT1"},
        {"DeviceWithBlankBeforeDot", "/a/con .txt", "_con .txt"},
        {"DeviceWithTwoExtensions", "/a/Aux.Tar.Gz", "_Aux.Tar.Gz"},
        {"ControlCharacters", "/a/bell\x07\x1b[31m.txt", "bell__[31m.txt"},
        {"Tab", "/a/tab\tname", "tab_name"},
        {"ForbiddenCharacters", "/a/x<y>z|w?.mid", "x_y_z_w_.mid"},
        {"QuotesAndStar", "/a/\"quoted\"*", "_quoted__"},
        {"DotDot", "/a/..", "phone_file"},
        {"Dot", "/a/.", "phone_file"},
        {"ThreeDots", "/a/...", "phone_file"},
        {"BlanksAndDots", "/a/ . ", "phone_file"},
        {"TrailingSeparator", "/a/dir/", "phone_file"},
        {"TrailingDotAndBlank", "/a/trailing. ", "trailing"},
        {"FullFieldNoZero", "/a/" + std::string(257, 'x'), std::string(257, 'x')},
        {"FullFieldOfDots", "/a/" + std::string(257, '.'), "phone_file"},
        {"RussianWithQuestionMark", sim::toPhoneName("/a/Мелодия?.mid"), "Мелодия_.mid"},
    };
}

class HostileNamesTest : public testing::Test, protected PhoneWorld {
protected:
    HostileNamesTest() { link.attach(phone.open()); }

    // The hostile files, then the decoy, which therefore heads the list and
    // takes the save dialog's name; the files after it go beside it.
    void listPhone(const std::vector<std::string>& names)
    {
        for (size_t i = 0; i < names.size(); ++i)
            phone.addFile({names[i], 0, contentOf(i)});
        phone.addFile({kDecoy, 0, kDecoyContent});
        ASSERT_TRUE(view.refreshFileList(window));
        sink.clear();
    }

    static Bytes contentOf(size_t index) { return Bytes(10 + index, static_cast<uint8_t>('0' + index)); }

    bool download(const std::vector<std::string>& names)
    {
        list.selectNamed(names);
        dialogs.answers.push_back(DialogChoice{std::string(kFolder) + "/decoy.bin", "decoy.bin"});
        return files.downloadSelectedFiles();
    }

    ~HostileNamesTest() override
    {
        EXPECT_EQ(pc.openCount, 0);
        EXPECT_FALSE(phone.fileOpen());
        EXPECT_TRUE(phone.violations().empty());
        for (const std::string& path : pc.created) {
            EXPECT_EQ(folderOf(path), kFolder) << "a file was made outside the chosen folder: " << path;
            const std::string title = path.substr(std::string(kFolder).size() + 1);
            EXPECT_NE(title, ".");
            EXPECT_NE(title, "..");
            EXPECT_EQ(title.find_first_of("/\\:"), std::string::npos) << title;
        }
    }
};

TEST_F(HostileNamesTest, AllAreListedWholeAndSortWithoutLoss)
{
    std::vector<std::string> names;
    for (const HostileName& hostile : hostileNames())
        names.push_back(hostile.phoneName);
    listPhone(names);
    ASSERT_EQ(list.rows.size(), names.size() + 1);
    for (size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(list.rows[names.size() - i].name, names[i]) << "a name is shown as the phone sent it";
    for (int column : {0, 0, 1, 2}) {
        view.sortByColumn(column);
        std::vector<std::string> shown = list.names();
        std::vector<std::string> expected = names;
        expected.push_back(kDecoy);
        std::sort(shown.begin(), shown.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(shown, expected) << "sorting keeps every row";
    }
    for (size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(view.lookupFileSize(names[i]), contentOf(i).size());
}

class HostileDownloadTest : public HostileNamesTest, public testing::WithParamInterface<HostileName> {};

TEST_P(HostileDownloadTest, LandsInTheChosenFolderUnderItsSafeTitle)
{
    EXPECT_EQ(pcTitleForPhoneName(GetParam().phoneName), GetParam().title);
    listPhone({GetParam().phoneName});
    EXPECT_TRUE(download({kDecoy, GetParam().phoneName}));
    const std::string path = std::string(kFolder) + "/" + GetParam().title;
    EXPECT_EQ(pc.created, (std::vector<std::string>{std::string(kFolder) + "/decoy.bin", path}));
    EXPECT_EQ(pc.files[path].bytes, contentOf(0));
}

TEST_P(HostileDownloadTest, NeverOverwritesAFileOfItsTitle)
{
    const std::string path = std::string(kFolder) + "/" + GetParam().title;
    pc.files[path] = {kKept, false};
    listPhone({GetParam().phoneName});
    EXPECT_FALSE(download({kDecoy, GetParam().phoneName}));
    EXPECT_TRUE(sink.text().ends_with("Косяк!! Не могу создать файл!\r\n"));
    EXPECT_EQ(pc.files[path].bytes, kKept);
    EXPECT_EQ(pc.created, std::vector<std::string>{std::string(kFolder) + "/decoy.bin"});
}

TEST_P(HostileDownloadTest, AsTheFirstFileItProposesItsSafeTitle)
{
    listPhone({GetParam().phoneName});
    download({GetParam().phoneName});
    EXPECT_EQ(dialogs.shown, std::vector<std::string>{GetParam().title});
}

INSTANTIATE_TEST_SUITE_P(Names, HostileDownloadTest, testing::ValuesIn(hostileNames()),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(HostileNamesTest, TwoNamesWithOneTitleDoNotOverwriteEachOther)
{
    listPhone({"/a/..", "/a/..."});
    // Rows: decoy, "/a/...", "/a/..": the second phone_file finds the first in place.
    EXPECT_FALSE(download({kDecoy, "/a/..", "/a/..."}));
    EXPECT_EQ(pc.files[std::string(kFolder) + "/phone_file"].bytes, contentOf(1));
    EXPECT_TRUE(sink.text().ends_with("Косяк!! Не могу создать файл!\r\n"));
}

} // namespace
} // namespace p2k::test
