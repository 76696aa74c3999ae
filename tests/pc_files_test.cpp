#include "commands/pc_files.h"
#include "commands/pc_names.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace p2k {
namespace {

TEST(PcTitle, SafeBareNames)
{
    const std::pair<std::string, std::string> cases[] = {
        {"/a/mobile/audio/Ring01.mid", "Ring01.mid"},
        {"MyToneDB.db", "MyToneDB.db"},
        {"../../etc/passwd", "passwd"},
        {"C:\\Windows\\win.ini", "win.ini"},
        {"/a/..", "phone_file"},
        {"/a/.", "phone_file"},
        {"/a/", "phone_file"},
        {"", "phone_file"},
        {"/a/name. . ", "name"},
        {"/a/CON", "_CON"},
        {"/a/nul.txt", "_nul.txt"},
        {"/a/com1.mid", "_com1.mid"},
        {"/a/COM10.mid", "COM10.mid"},
        {"/a/x:y*z?\"<>|.txt", "x_y_z_____.txt"},
        {"/a/tab\there", "tab_here"},
        {std::string("/a/\xCC\xE5\xEB\xEE\xE4\xE8\xFF.mid"), "Мелодия.mid"},
        {std::string("/a/cut\0tail", 11), "cut"},
    };
    for (const auto& [phoneName, title] : cases)
        EXPECT_EQ(pcTitleForPhoneName(phoneName), title) << phoneName;
}

TEST(PcPaths, FolderAndJoin)
{
    EXPECT_EQ(folderOf("D:/music/a.mid"), "D:/music");
    EXPECT_EQ(folderOf("C:\\dl\\x.bin"), "C:\\dl");
    EXPECT_EQ(folderOf("C:\\x.bin"), "C:\\");
    EXPECT_EQ(folderOf("/x.bin"), "/");
    EXPECT_EQ(folderOf("x.bin"), "");
    EXPECT_EQ(pathInFolder("C:\\dl", "y.bin"), "C:\\dl\\y.bin");
    EXPECT_EQ(pathInFolder("C:\\", "y.bin"), "C:\\y.bin");
    EXPECT_EQ(pathInFolder("/tmp", "y.bin"), "/tmp/y.bin");
    EXPECT_EQ(pathInFolder("", "y.bin"), "y.bin");
}

class StandardPcFilesTest : public testing::Test {
protected:
    std::string path(const char* name) const { return (folder.path() / name).string(); }

    test::TempFolder folder;
    std::unique_ptr<PcFiles> files = makeStandardPcFiles();
};

TEST_F(StandardPcFilesTest, CreateNewNeverOverwrites)
{
    {
        auto file = files->createNew(path("a.bin"));
        ASSERT_NE(file, nullptr);
        const std::vector<uint8_t> data = {1, 2, 3};
        EXPECT_TRUE(file->writeAll(data));
    }
    EXPECT_EQ(files->createNew(path("a.bin")), nullptr);
    auto again = files->openExisting(path("a.bin"));
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->size(), 3u);
    std::vector<uint8_t> back(3);
    EXPECT_TRUE(again->readAll(back));
    EXPECT_EQ(back, (std::vector<uint8_t>{1, 2, 3}));
    std::vector<uint8_t> tooMuch(4);
    EXPECT_FALSE(again->readAll(tooMuch));
}

TEST_F(StandardPcFilesTest, ExistingFilesOpenForReadingSoReadOnlyOnesToo)
{
    {
        auto file = files->createNew(path("ro.bin"));
        ASSERT_NE(file, nullptr);
        EXPECT_TRUE(file->writeAll(std::vector<uint8_t>{4, 5}));
    }
    std::filesystem::permissions(folder.path() / "ro.bin", std::filesystem::perms::owner_read);
    auto file = files->openExisting(path("ro.bin"));
    ASSERT_NE(file, nullptr);
    std::vector<uint8_t> back(2);
    EXPECT_TRUE(file->readAll(back));
    EXPECT_EQ(back, (std::vector<uint8_t>{4, 5}));
    // Opened for reading: nothing goes back through it.
    EXPECT_FALSE(file->writeAll(std::vector<uint8_t>{9}));
    file.reset();
    EXPECT_EQ(std::filesystem::file_size(folder.path() / "ro.bin"), 2u);

    auto empty = files->createNew(path("empty.bin"));
    ASSERT_NE(empty, nullptr);
    EXPECT_TRUE(empty->writeAll({}));
    EXPECT_EQ(std::filesystem::file_size(folder.path() / "empty.bin"), 0u);
}

TEST_F(StandardPcFilesTest, MissingFilesFoldersAndRemoval)
{
    EXPECT_EQ(files->openExisting(path("none")), nullptr);
    EXPECT_EQ(files->openExisting(folder.path().string()), nullptr);
    EXPECT_EQ(files->createNew(path("no/such/folder.bin")), nullptr);
    files->createNew(path("gone.bin"));
    files->removeIncomplete(path("gone.bin"));
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "gone.bin"));
}

} // namespace
} // namespace p2k
