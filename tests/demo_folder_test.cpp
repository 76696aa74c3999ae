#include "sim/demo_folder.h"
#include "sim/demo_phone.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace p2k::sim {
namespace {

namespace fs = std::filesystem;

// The real disk, cut off at its cutAt-th write as if the process died there:
// that write leaves half its bytes behind, and nothing after it reaches the
// disk. Counts the writes it let through.
class CutOffDisk : public FolderDisk {
public:
    CutOffDisk(FolderDisk& real, int cutAt) : real_(real), cutAt_(cutAt) {}

    LockAttempt tryLock(const fs::path& path) override { return real_.tryLock(path); }
    bool flushWrites(const fs::path& folder) override { return fate_ == Fate::Done && real_.flushWrites(folder); }
    bool writeFile(const fs::path& path, std::span<const uint8_t> bytes) override
    {
        if (next() == Fate::Cut)
            real_.writeFile(path, bytes.first(bytes.size() / 2));
        return fate_ == Fate::Done && real_.writeFile(path, bytes);
    }
    bool replaceFile(const fs::path& from, const fs::path& to) override
    {
        return next() == Fate::Done && real_.replaceFile(from, to);
    }
    bool removeFile(const fs::path& path) override { return next() == Fate::Done && real_.removeFile(path); }

    int writes() const { return writes_; }
    bool cut() const { return fate_ != Fate::Done; }

private:
    enum class Fate { Done, Cut, Dead };
    Fate next()
    {
        if (fate_ == Fate::Done && ++writes_ == cutAt_)
            fate_ = Fate::Cut;
        else if (fate_ == Fate::Cut)
            fate_ = Fate::Dead;
        return fate_;
    }

    FolderDisk& real_;
    int cutAt_;
    int writes_ = 0;
    Fate fate_ = Fate::Done;
};

// Everything a demo phone keeps, as one comparable text.
std::string contentOf(const SimulatedPhone& phone)
{
    std::ostringstream out;
    out << "free " << phone.freeSpace() << "\n";
    for (const SimFile& file : phone.files())
        out << file.name << ' ' << file.attributes << ' ' << std::string(file.content.begin(), file.content.end()) << "\n";
    for (const auto& copy : phone.seemRecords())
        out << copy.seem << '_' << copy.record << ' ' << std::string(copy.bytes.begin(), copy.bytes.end()) << "\n";
    return out.str();
}

// Every kind of change a command can make; each round changes them anew.
void changeEverything(SimulatedPhone& phone, uint8_t round = 1)
{
    phone.addFile({toPhoneName("/a/новый.txt"), 0x21, {round, 2, 3}});
    SimFile thumb = *phone.findFile("/a/mobile/picture/Thumb.bmp");
    thumb.content.assign(5000, round);
    phone.addFile(thumb);
    SimFile alarm = *phone.findFile("/a/mobile/audio/Alarm.mid");
    alarm.attributes = round;
    phone.addFile(alarm);
    phone.setSeemRecord(0x004C, 1, std::vector<uint8_t>(60, round));
    phone.setSeemRecord(0x0123, 4, {9, round});
}

size_t blobCount(const fs::path& folder)
{
    size_t count = 0;
    for (const char* sub : {"files", "seem"})
        count += static_cast<size_t>(std::distance(fs::directory_iterator(folder / sub), {}));
    return count;
}

class DemoFolderTest : public testing::Test {
protected:
    std::unique_ptr<DemoFolder> open(FolderDisk& with) { return DemoFolder::open(clock, with, folder.string(), error); }
    std::unique_ptr<DemoFolder> open() { return open(*disk); }

    test::TempFolder temp;
    const fs::path folder = temp.path() / "phone"; // not there until the phone is first opened
    FakeClock clock;
    std::unique_ptr<FolderDisk> disk = makeFolderDisk();
    std::string error;
};

TEST_F(DemoFolderTest, FirstUseGetsTheDemoContentAndChangesPersist)
{
    auto opened = open();
    ASSERT_NE(opened, nullptr) << error;
    EXPECT_EQ(contentOf(opened->phone()), contentOf(*makeDemoPhone(clock)));
    changeEverything(opened->phone());
    ASSERT_TRUE(opened->save(error)) << error;
    const std::string saved = contentOf(opened->phone());
    opened.reset();

    auto again = open();
    ASSERT_NE(again, nullptr) << error;
    EXPECT_EQ(contentOf(again->phone()), saved);
    const SimFile* file = again->phone().findFile(toPhoneName("/a/новый.txt"));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->attributes, 0x21u);
    // The replaced blobs are gone: one blob per file and record.
    EXPECT_EQ(blobCount(folder), again->phone().files().size() + again->phone().seemRecordCount());
}

TEST_F(DemoFolderTest, ACommandThatChangesNothingWritesNothing)
{
    ASSERT_NE(open(), nullptr) << error;
    CutOffDisk counting(*disk, INT_MAX);
    auto opened = open(counting);
    ASSERT_NE(opened, nullptr) << error;
    ASSERT_TRUE(opened->save(error));
    EXPECT_EQ(counting.writes(), 0);

    // An attribute change writes the index alone, no blob.
    SimFile alarm = *opened->phone().findFile("/a/mobile/audio/Alarm.mid");
    alarm.attributes = 7;
    opened->phone().addFile(alarm);
    ASSERT_TRUE(opened->save(error));
    EXPECT_EQ(counting.writes(), 2); // the new index, its rename
}

TEST_F(DemoFolderTest, ASaveCutOffAtAnyWriteLeavesTheOldStateOrTheNew)
{
    ASSERT_NE(open(), nullptr) << error;
    int cutsSeen = 0;
    for (int cutAt = 1;; ++cutAt) {
        const auto round = static_cast<uint8_t>(2 * cutAt);
        CutOffDisk cutting(*disk, cutAt);
        auto opened = open(cutting);
        ASSERT_NE(opened, nullptr) << error;
        const std::string oldContent = contentOf(opened->phone());
        changeEverything(opened->phone(), round);
        const std::string newContent = contentOf(opened->phone());
        const bool saved = opened->save(error);
        opened.reset(); // the process is gone, and its lock with it
        if (!cutting.cut()) {
            EXPECT_TRUE(saved);
            break;
        }
        ++cutsSeen;
        auto reopened = open();
        ASSERT_NE(reopened, nullptr) << "cut at write " << cutAt << ": " << error;
        const std::string content = contentOf(reopened->phone());
        EXPECT_TRUE(content == oldContent || content == newContent) << "cut at write " << cutAt;
        if (saved)
            EXPECT_EQ(content, newContent) << "cut at write " << cutAt;
        else
            EXPECT_EQ(error, "cannot write the demo phone into " + folder.string()
                                 + "; it keeps the state it had before");
        // The next save clears what the cut left behind.
        changeEverything(reopened->phone(), static_cast<uint8_t>(round + 1));
        ASSERT_TRUE(reopened->save(error)) << error;
        EXPECT_EQ(blobCount(folder), reopened->phone().files().size() + reopened->phone().seemRecordCount());
        EXPECT_FALSE(fs::exists(folder / "p2kfm-demo-phone.txt.new"));
    }
    // Four blobs, the new index, its rename, then the four old blobs removed.
    EXPECT_EQ(cutsSeen, 10);
}

TEST_F(DemoFolderTest, AFirstUseCutOffLeavesAFolderThatStillOpens)
{
    CutOffDisk counting(*disk, INT_MAX);
    ASSERT_NE(open(counting), nullptr);
    const int writes = counting.writes(); // every blob, the index, its rename
    // A blob, the index, the rename.
    for (int cutAt : {1, writes - 1, writes}) {
        fs::remove_all(folder);
        CutOffDisk cutting(*disk, cutAt);
        EXPECT_EQ(open(cutting), nullptr) << "cut at write " << cutAt;
        auto reopened = open();
        ASSERT_NE(reopened, nullptr) << "cut at write " << cutAt << ": " << error;
        EXPECT_EQ(contentOf(reopened->phone()), contentOf(*makeDemoPhone(clock)));
    }
}

TEST_F(DemoFolderTest, ASecondUserWaitsAFewSecondsThenGivesUp)
{
    auto first = open();
    ASSERT_NE(first, nullptr) << error;
    EXPECT_EQ(open(), nullptr);
    EXPECT_EQ(error, "the demo phone in " + folder.string() + " is in use by another p2kfm program; gave up after 5 s");
    EXPECT_EQ(clock.totalSleptMs(), DemoFolder::kLockWaitMs);
    first.reset();
    EXPECT_NE(open(), nullptr) << error;
}

TEST_F(DemoFolderTest, ForeignOrDamagedFoldersAreRefused)
{
    fs::create_directories(folder);
    std::ofstream(folder / "notes.txt") << "mine";
    EXPECT_EQ(open(), nullptr);
    EXPECT_EQ(error, "the folder is not empty and holds no demo phone: " + folder.string());
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), {}), 1); // not even a lock file

    fs::remove(folder / "notes.txt");
    ASSERT_NE(open(), nullptr);
    std::ofstream(folder / "p2kfm-demo-phone.txt", std::ios::app) << "file zz 0 00000.bin\n";
    EXPECT_EQ(open(), nullptr);
    EXPECT_NE(error.find("damaged"), std::string::npos);
}

TEST_F(DemoFolderTest, IndexCannotPointOutsideTheFolder)
{
    ASSERT_NE(open(), nullptr);
    std::ofstream(folder / "p2kfm-demo-phone.txt", std::ios::app) << "file 41 0 ../../etc/passwd\n";
    EXPECT_EQ(open(), nullptr);
}

std::string textOf(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The index with its header line followed by another line.
void writeIndexWith(const fs::path& index, const std::string& line)
{
    std::string text = textOf(index);
    text.insert(text.find('\n') + 1, line + "\n");
    std::ofstream(index, std::ios::binary | std::ios::trunc) << text;
}

TEST_F(DemoFolderTest, HeaderMayNameTheCommandInterfaceAndASaveKeepsIt)
{
    const fs::path index = folder / "p2kfm-demo-phone.txt";
    ASSERT_NE(open(), nullptr) << error;
    EXPECT_EQ(textOf(index).find("interface"), std::string::npos); // the usual phone names none
    writeIndexWith(index, "interface 11");

    std::unique_ptr<DemoFolder> opened = open();
    ASSERT_NE(opened, nullptr) << error;
    SimulatedPhone& phone = opened->phone();
    EXPECT_EQ(phone.config().commandInterface, 11);
    EXPECT_EQ(phone.open()->interfaceNumber(), 11);
    EXPECT_EQ(phone.files().size(), makeDemoPhone(clock)->files().size());

    phone.addFile({"/a/new.txt", 0, {1, 2}});
    ASSERT_TRUE(opened->save(error)) << error;
    opened.reset();
    EXPECT_EQ(textOf(index).rfind("p2kfm demo phone 1\ninterface 11\nfree ", 0), 0u) << textOf(index);
    std::unique_ptr<DemoFolder> again = open();
    ASSERT_NE(again, nullptr) << error;
    EXPECT_EQ(again->phone().config().commandInterface, 11);
}

TEST_F(DemoFolderTest, InterfaceNumberOutsideAByteOrNotDecimalIsADamagedLine)
{
    const fs::path index = folder / "p2kfm-demo-phone.txt";
    ASSERT_NE(open(), nullptr) << error;
    const std::string usual = textOf(index);
    for (const std::string bad : {"interface 256", "interface 0b", "interface -1", "interface", "interface 1x"}) {
        std::ofstream(index, std::ios::binary | std::ios::trunc) << usual;
        writeIndexWith(index, bad);
        error.clear();
        EXPECT_EQ(open(), nullptr) << bad;
        EXPECT_EQ(error, "damaged line in " + index.string() + ": " + bad);
    }
}

} // namespace
} // namespace p2k::sim
