#include "link/tracing_transport.h"
#include "sim/demo_phone.h"
#include "tests/support/phone_world.h"

#include <gtest/gtest.h>

namespace p2k::test {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes pattern(size_t size)
{
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(i * 31 + 7 + i / 251);
    return bytes;
}

sim::PhoneConfig phoneWith(uint32_t entrySize, uint32_t freeSpace = 1843200)
{
    sim::PhoneConfig config;
    config.entrySize = entrySize;
    config.freeSpace = freeSpace;
    return config;
}

class TransferTest : public testing::Test, protected PhoneWorld {
protected:
    explicit TransferTest(sim::PhoneConfig config = phoneWith(268)) : PhoneWorld(config)
    {
        link.attach(phone.open());
        phone.addFile({"/a/seed.txt", 0, Bytes(5, 's')});
    }

    ~TransferTest() override
    {
        EXPECT_EQ(pc.openCount, 0) << "a PC file was left open";
        EXPECT_FALSE(phone.fileOpen()) << "a phone file was left open";
        EXPECT_EQ(log.quietSwitch(), 0);
        EXPECT_TRUE(phone.violations().empty());
    }

    void refresh()
    {
        view.refreshFileList(window);
        sink.clear();
    }

    void upload(const std::string& title, const Bytes& bytes, const std::string& field = "/a/")
    {
        pc.files["C:/pc/" + title] = {bytes, false};
        dialogs.answers.push_back(DialogChoice{"C:/pc/" + title, title});
        window.fields[control::kUploadPath] = field;
        files.uploadFile();
    }

    void saveTo(const std::string& path)
    {
        dialogs.answers.push_back(DialogChoice{path, path.substr(path.rfind('/') + 1)});
    }

    const Bytes* phoneFile(const std::string& name)
    {
        const sim::SimFile* file = phone.findFile(name);
        return file ? &file->content : nullptr;
    }
};

struct RoundTrip {
    size_t size;
    bool readable;
};

void PrintTo(const RoundTrip& c, std::ostream* out)
{
    *out << c.size << " bytes";
}

class RoundTripTest : public TransferTest, public testing::WithParamInterface<RoundTrip> {};

TEST_P(RoundTripTest, UploadThenDownloadIsByteIdentical)
{
    const Bytes original = pattern(GetParam().size);
    refresh();
    upload("file.bin", original);
    EXPECT_EQ(sink.text(), "Закачка.../a/file.bin ok\r\n");
    ASSERT_NE(phoneFile("/a/file.bin"), nullptr);
    EXPECT_EQ(*phoneFile("/a/file.bin"), original);

    refresh();
    list.selectNamed({"/a/file.bin"});
    saveTo("C:/down/file.bin");
    files.downloadSelectedFiles();
    if (GetParam().readable) {
        EXPECT_EQ(sink.text(), "Скачиваем.../a/file.bin ok\r\n");
        EXPECT_EQ(pc.files["C:/down/file.bin"].bytes, original);
    } else {
        // The read's last answer is one byte: such files cannot be read.
        EXPECT_EQ(sink.text(), "Скачиваем.../a/file.binКосяк!! Не могу прочесть файл!");
        EXPECT_EQ(pc.files.count("C:/down/file.bin"), 0u);
        EXPECT_TRUE(dialogs.shown.size() == 1); // only the upload's open dialog
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, RoundTripTest,
                         testing::Values(RoundTrip{2, true}, RoundTrip{1023, true}, RoundTrip{1024, true},
                                         RoundTrip{1025, false}, RoundTrip{2048, true}, RoundTrip{2500, true},
                                         RoundTrip{100000, true}, RoundTrip{1, false}, RoundTrip{3073, false}),
                         [](const auto& info) { return "Size" + std::to_string(info.param.size); });

// The progress bar follows the bytes of the file, block by block, both ways.
TEST_F(TransferTest, UploadAndDownloadMoveTheProgressBarByTheBytesDone)
{
    refresh();
    window.progress.clear();
    upload("file.bin", pattern(2500));
    const std::vector<FakeWindow::ProgressStep> steps = {
        {"range", 0, 2500}, {"position", 0, 0}, {"position", 1024, 0}, {"position", 2048, 0}, {"position", 2500, 0}};
    EXPECT_EQ(window.progress, steps);

    refresh();
    window.progress.clear();
    list.selectNamed({"/a/file.bin"});
    saveTo("C:/down/file.bin");
    files.downloadSelectedFiles();
    EXPECT_EQ(window.progress, steps);
}

TEST_F(TransferTest, DownloadNeverRefreshesTheList)
{
    autoRefresh = 1;
    refresh();
    const std::vector<std::string> listed = list.names();
    phone.addFile({"/a/later.txt", 0, Bytes(3, 'l')});
    list.selectNamed({"/a/seed.txt"});
    saveTo("C:/down/seed.txt");
    files.downloadSelectedFiles();
    EXPECT_EQ(sink.text(), "Скачиваем.../a/seed.txt ok\r\n");
    EXPECT_EQ(list.names(), listed);
    EXPECT_EQ(pc.files["C:/down/seed.txt"].bytes, Bytes(5, 's'));
}

TEST_F(TransferTest, UploadRefusesEmptyAndTooLargeFiles)
{
    refresh();
    const size_t requests = phone.transferCount();
    upload("empty.bin", {});
    EXPECT_EQ(sink.text(), "Закачка...Косяк!! Размер файла неправильный!\r\n");
    EXPECT_EQ(phone.findFile("/a/empty.bin"), nullptr);
    EXPECT_GT(phone.transferCount(), requests); // the volume and free-space requests only
}

class SmallPhoneTest : public TransferTest {
protected:
    SmallPhoneTest() : TransferTest(phoneWith(268, 3000)) {}
};

TEST_F(SmallPhoneTest, FileAsLargeAsTheFreeSpaceIsRefusedOneByteLessGoes)
{
    refresh();
    upload("full.bin", pattern(3000));
    EXPECT_EQ(sink.text(), "Закачка...Косяк!! Размер файла неправильный!\r\n");
    sink.clear();
    upload("fits.bin", pattern(2999));
    EXPECT_EQ(sink.text(), "Закачка.../a/fits.bin ok\r\n");
}

TEST_F(TransferTest, ReadOnlyOrMissingPcFileCannotBeUploaded)
{
    refresh();
    pc.files["C:/pc/ro.bin"] = {pattern(10), true};
    dialogs.answers.push_back(DialogChoice{"C:/pc/ro.bin", "ro.bin"});
    files.uploadFile();
    EXPECT_EQ(sink.text(), "Закачка...Косяк!! Не могу открыть файл!");
    sink.clear();
    files.uploadFile(); // the dialog is cancelled: nothing more is said
    EXPECT_EQ(sink.text(), "Закачка...");
}

TEST_F(TransferTest, PhoneNameIsTheFieldJoinedToTheTitle)
{
    refresh();
    upload("x.bin", pattern(3), "");
    upload("y.bin", pattern(3), "/a/mobile");
    EXPECT_EQ(sink.text(), "Закачка...x.bin ok\r\nЗакачка.../a/mobiley.bin ok\r\n");
    EXPECT_NE(phoneFile("x.bin"), nullptr);
    EXPECT_NE(phoneFile("/a/mobiley.bin"), nullptr);
}

TEST_F(TransferTest, RussianNamesTravelInThePhonesCodePage)
{
    refresh();
    upload("Песня.mid", pattern(30));
    EXPECT_EQ(sink.text(), "Закачка.../a/Песня.mid ok\r\n");
    EXPECT_NE(phoneFile(sim::toPhoneName("/a/Песня.mid")), nullptr);
    sink.clear();
    const size_t before = phone.transferCount();
    upload("歌.mid", pattern(30));
    EXPECT_EQ(sink.text(), "Закачка.../a/歌.mid - Косяк!! Такое имя телефону не передать!\r\n");
    // Only the volume and free-space requests went out (three transfers each).
    EXPECT_EQ(phone.transferCount() - before, 6u);
}

struct NameBound {
    uint32_t entrySize;
    size_t length;
    bool sent;
};

void PrintTo(const NameBound& c, std::ostream* out)
{
    *out << "name of " << c.length << " in entries of " << c.entrySize;
}

class NameBoundTest : public TransferTest, public testing::WithParamInterface<NameBound> {
protected:
    NameBoundTest() : TransferTest(phoneWith(GetParam().entrySize)) {}
};

TEST_P(NameBoundTest, LongestNameIsTheEntrysNameField)
{
    refresh();
    const std::string title(GetParam().length - 3, 'n');
    upload(title, pattern(4));
    const std::string name = "/a/" + title;
    EXPECT_EQ(sink.text(), "Закачка..." + name + (GetParam().sent ? " ok\r\n" : ""));
    EXPECT_EQ(phone.findFile(name) != nullptr, GetParam().sent);
}

INSTANTIATE_TEST_SUITE_P(Bounds, NameBoundTest,
                         testing::Values(NameBound{44, 36, true}, NameBound{44, 37, false}, NameBound{268, 260, true},
                                         NameBound{268, 261, false}),
                         [](const auto& info) {
                             return "Entry" + std::to_string(info.param.entrySize) + "Name" +
                                    std::to_string(info.param.length);
                         });

TEST_F(TransferTest, UploadBeforeAnyListEndsAfterTheName)
{
    upload("a.bin", pattern(4));
    EXPECT_EQ(sink.text(), "Закачка.../a/a.bin");
    EXPECT_EQ(phone.findFile("/a/a.bin"), nullptr);
}

TEST_F(TransferTest, FailedPhoneWriteClosesAndDoesNotRefresh)
{
    refresh();
    autoRefresh = 1;
    // Volume name, free space and open go through; the write fails.
    phone.injectFault({sim::Fault::OneByteAnswer, 0x00, 3});
    upload("w.bin", pattern(10));
    EXPECT_EQ(sink.text(), "Закачка.../a/w.bin");
    EXPECT_FALSE(phone.fileOpen());
}

TEST_F(TransferTest, UploadRefreshesOnlyWithAutoRefresh)
{
    refresh();
    autoRefresh = 1;
    upload("r.bin", pattern(10));
    EXPECT_NE(sink.text().find(" ok\r\nПолучаю список файлов... ok\r\nНайдено файлов:2\r\n"), std::string::npos);
}

struct AttributeCase {
    const char* field;
    uint32_t attributes;
};

void PrintTo(const AttributeCase& c, std::ostream* out)
{
    *out << "field \"" << c.field << '"';
}

class AttributeTest : public TransferTest, public testing::WithParamInterface<AttributeCase> {};

TEST_P(AttributeTest, FieldValueBecomesTheOpenAttributes)
{
    phone.addFile({"/a/b.txt", 7, Bytes(3, 'b')});
    refresh();
    list.selectNamed({"/a/seed.txt", "/a/b.txt"});
    window.fields[control::kAttributes] = GetParam().field;
    files.changeAttributes();
    EXPECT_EQ(sink.text(), "Меняем атрибут../a/b.txt ok\r\nМеняем атрибут../a/seed.txt ok\r\n");
    EXPECT_EQ(phone.findFile("/a/b.txt")->attributes, GetParam().attributes);
    EXPECT_EQ(phone.findFile("/a/seed.txt")->attributes, GetParam().attributes);
}

INSTANTIATE_TEST_SUITE_P(Fields, AttributeTest,
                         testing::Values(AttributeCase{"65536", 65536}, AttributeCase{"65537", 0},
                                         AttributeCase{"4294967296", 0}, AttributeCase{"-1", 0},
                                         AttributeCase{"abc", 0}, AttributeCase{"", 0}, AttributeCase{" 12 ", 12},
                                         AttributeCase{"1f", 0}));

TEST_F(TransferTest, AttributeChangeGoesOnAfterAFailedOpen)
{
    phone.addFile({"/a/b.txt", 0, Bytes(3, 'b')});
    phone.addFile({"/a/c.txt", 0, Bytes(3, 'c')});
    refresh();
    list.selectNamed({"/a/seed.txt", "/a/b.txt", "/a/c.txt"});
    window.fields[control::kAttributes] = "4";
    // Rows: c, b, seed. The open of b (third request) fails.
    phone.injectFault({sim::Fault::ErrorStatus, 7, 2});
    files.changeAttributes();
    EXPECT_EQ(sink.text(), "Меняем атрибут../a/c.txt ok\r\nМеняем атрибут../a/b.txtGENERIC FAILURE\r\n"
                           "Меняем атрибут../a/seed.txt ok\r\n");
    EXPECT_EQ(phone.findFile("/a/b.txt")->attributes, 0u);
    EXPECT_EQ(phone.findFile("/a/c.txt")->attributes, 4u);
}

TEST_F(TransferTest, NothingSelected)
{
    refresh();
    autoRefresh = 1;
    const std::string notice = "Сначала надо файлы выбрать\r\n";
    const std::string refreshed = "Получаю список файлов... ok\r\n";
    files.changeAttributes();
    EXPECT_TRUE(sink.text().starts_with(notice + refreshed));
    sink.clear();
    files.deleteSelectedFiles();
    EXPECT_TRUE(sink.text().starts_with(notice + refreshed));
    sink.clear();
    files.downloadSelectedFiles();
    EXPECT_EQ(sink.text(), notice);
}

TEST_F(TransferTest, ThreeDownloadsOneDialogSecondTitleAlreadyThere)
{
    phone.addFile({"/a/mobile/b.mid", 0, pattern(100)});
    phone.addFile({"/a/mobile/c.mid", 0, pattern(200)});
    refresh();
    list.selectNamed({"/a/seed.txt", "/a/mobile/b.mid", "/a/mobile/c.mid"});
    pc.files["D:/music/b.mid"] = {Bytes{1, 2, 3}, false};
    saveTo("D:/music/first.mid");
    files.downloadSelectedFiles();
    // Rows: c, b, seed. c is saved as chosen; b exists already; seed is not handled.
    EXPECT_EQ(dialogs.shown, std::vector<std::string>{"c.mid"});
    EXPECT_EQ(sink.text(), "Скачиваем.../a/mobile/c.mid ok\r\n"
                           "Скачиваем.../a/mobile/b.midКосяк!! Не могу создать файл!\r\n");
    EXPECT_EQ(pc.files["D:/music/first.mid"].bytes, pattern(200));
    EXPECT_EQ(pc.files["D:/music/b.mid"].bytes, (Bytes{1, 2, 3}));
    EXPECT_EQ(pc.files.count("D:/music/seed.txt"), 0u);
    EXPECT_EQ(pc.currentDirectory, "D:/music");
}

TEST_F(TransferTest, LaterFilesLandBesideTheFirstUnderTheirTitles)
{
    phone.addFile({"/a/b.mid", 0, pattern(100)});
    refresh();
    list.selectNamed({"/a/seed.txt", "/a/b.mid"});
    saveTo("D:/music/first.mid");
    files.downloadSelectedFiles();
    EXPECT_EQ(pc.files["D:/music/seed.txt"].bytes, Bytes(5, 's'));
    EXPECT_EQ(pc.created, (std::vector<std::string>{"D:/music/first.mid", "D:/music/seed.txt"}));
}

TEST_F(TransferTest, FirstOpenFailsSilentlySecondSucceeds)
{
    refresh();
    list.selectNamed({"/a/seed.txt"});
    saveTo("D:/s.txt");
    phone.injectFault({sim::Fault::ErrorStatus, 7});
    files.downloadSelectedFiles();
    EXPECT_EQ(sink.text(), "Скачиваем.../a/seed.txt ok\r\n");
}

TEST_F(TransferTest, BothOpensFailLoudlyOnce)
{
    refresh();
    list.selectNamed({"/a/seed.txt"});
    phone.injectFault({sim::Fault::ErrorStatus, 7});
    phone.injectFault({sim::Fault::ErrorStatus, 5});
    files.downloadSelectedFiles();
    EXPECT_EQ(sink.text(), "Скачиваем.../a/seed.txtUNSUPPORTED/INVALID PARAMETER FOR OPCODE\r\n"
                           "Косяк!! Не могу открыть файл!");
}

TEST_F(TransferTest, ListedSizeZeroEndsTheDownload)
{
    phone.addFile({"/a/empty", 0, {}});
    refresh();
    list.selectNamed({"/a/empty", "/a/seed.txt"});
    files.downloadSelectedFiles();
    EXPECT_EQ(sink.text(), "Скачиваем.../a/emptyКосяк!! Размер файла неправильный!\r\n");
    EXPECT_TRUE(pc.created.empty());
}

TEST_F(TransferTest, ShortPhoneReadWritesNoPcFile)
{
    phone.addFile({"/a/long.bin", 0, pattern(3000)});
    refresh();
    // The phone now holds less than its list said.
    phone.addFile({"/a/long.bin", 0, pattern(2000)});
    list.selectNamed({"/a/long.bin"});
    saveTo("D:/long.bin");
    files.downloadSelectedFiles();
    EXPECT_EQ(sink.text(), "Скачиваем.../a/long.binКосяк!! Не могу прочесть файл!");
    EXPECT_TRUE(pc.created.empty());
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(TransferTest, CancelledSaveDialogAndFailedPcWrite)
{
    refresh();
    list.selectNamed({"/a/seed.txt"});
    files.downloadSelectedFiles();
    EXPECT_EQ(sink.text(), "Скачиваем.../a/seed.txtОтменено\r\n");
    sink.clear();
    pc.failWrite = true;
    saveTo("D:/seed.txt");
    files.downloadSelectedFiles();
    EXPECT_EQ(sink.text(), "Скачиваем.../a/seed.txtНе могу записать\r\n");
    EXPECT_EQ(pc.files.count("D:/seed.txt"), 0u); // no half-written copy
}

TEST_F(TransferTest, HostileNamesStayInsideTheChosenFolder)
{
    phone.addFile({"../../etc/passwd", 0, pattern(10)});
    phone.addFile({"C:\\Windows\\win.ini", 0, pattern(11)});
    phone.addFile({"/a/CON.txt", 0, pattern(12)});
    phone.addFile({"/a/..", 0, pattern(13)});
    phone.addFile({"/a/bad\x01:name?.txt", 0, pattern(14)});
    refresh();
    list.selectNamed({"/a/seed.txt", "../../etc/passwd", "C:\\Windows\\win.ini", "/a/CON.txt", "/a/..",
            "/a/bad\x01:name?.txt"});
    saveTo("D:/safe/first.txt");
    files.downloadSelectedFiles();
    std::vector<std::string> created = pc.created;
    std::sort(created.begin(), created.end());
    // The top row (the hostile "bad" name, listed last) took the dialog's name.
    EXPECT_EQ(created, (std::vector<std::string>{"D:/safe/_CON.txt", "D:/safe/first.txt", "D:/safe/passwd",
                                                 "D:/safe/phone_file", "D:/safe/seed.txt", "D:/safe/win.ini"}));
    EXPECT_EQ(dialogs.shown, std::vector<std::string>{"bad__name_.txt"});
}

TEST_F(TransferTest, DeleteAsksPerFileAndStopsAtNo)
{
    phone.addFile({"/a/b.txt", 0, Bytes(3, 'b')});
    phone.addFile({"/a/c.txt", 0, Bytes(3, 'c')});
    refresh();
    autoRefresh = 1;
    list.selectNamed({"/a/seed.txt", "/a/b.txt", "/a/c.txt"});
    window.answers = {true, false, true};
    files.deleteSelectedFiles();
    // Each question names its file.
    EXPECT_EQ(window.questions, (std::vector<std::string>{"Действительно удалить?\r\n/a/c.txt",
                                                          "Действительно удалить?\r\n/a/b.txt"}));
    EXPECT_EQ(sink.text(), "Удаляем.../a/c.txt ok\r\nУдаляем.../a/b.txtОтменено\r\n");
    EXPECT_EQ(phone.findFile("/a/c.txt"), nullptr);
    EXPECT_NE(phone.findFile("/a/b.txt"), nullptr);
    EXPECT_NE(phone.findFile("/a/seed.txt"), nullptr);
}

TEST_F(TransferTest, DeleteAllThenRefreshOrStopAtFailure)
{
    phone.addFile({"/a/b.txt", 0, Bytes(3, 'b')});
    refresh();
    autoRefresh = 1;
    list.selectNamed({"/a/seed.txt", "/a/b.txt"});
    window.answers = {true, true};
    files.deleteSelectedFiles();
    EXPECT_TRUE(sink.text().starts_with("Удаляем.../a/b.txt ok\r\nУдаляем.../a/seed.txt ok\r\nПолучаю список файлов..."));

    phone.addFile({"/a/d.txt", 0, Bytes(3, 'd')});
    refresh();
    list.selectNamed({"/a/d.txt"});
    window.answers = {true};
    phone.injectFault({sim::Fault::OneByteAnswer, 1});
    files.deleteSelectedFiles();
    EXPECT_EQ(sink.text(), "Удаляем.../a/d.txtБлин, чета пошло не так.. не получилось, короче..\r\n");
}

TEST(AttributeFieldValue, Table)
{
    EXPECT_EQ(attributeFieldValue("0"), 0u);
    EXPECT_EQ(attributeFieldValue("65536"), 65536u);
    EXPECT_EQ(attributeFieldValue("65537"), 0u);
    EXPECT_EQ(attributeFieldValue("+5"), 0u);
    EXPECT_EQ(attributeFieldValue("99999999999999999999"), 0u);
}

TEST_F(TransferTest, ResultsTellWhetherEveryFileWentThrough)
{
    EXPECT_TRUE(view.refreshFileList(window));
    pc.files["C:/pc/a.bin"] = {pattern(10), false};
    dialogs.answers.push_back(DialogChoice{"C:/pc/a.bin", "a.bin"});
    EXPECT_TRUE(files.uploadFile());
    EXPECT_FALSE(files.uploadFile()); // cancelled
    EXPECT_FALSE(files.downloadSelectedFiles()); // nothing selected
    view.refreshFileList(window);
    list.selectNamed({"a.bin", "/a/seed.txt"});
    saveTo("D:/a.bin");
    EXPECT_TRUE(files.downloadSelectedFiles());
    window.fields[control::kAttributes] = "3";
    EXPECT_TRUE(files.changeAttributes());
    window.answers = {true, false};
    EXPECT_FALSE(files.deleteSelectedFiles());
    phone.injectFault({sim::Fault::ErrorStatus, 7});
    EXPECT_FALSE(view.refreshFileList(window));
}

TEST_F(TransferTest, InterruptedDownloadStopsBetweenRequestsAndClosesThePhoneFile)
{
    phone.addFile({"/a/big.bin", 0, pattern(10000)});
    refresh();
    list.selectNamed({"/a/big.bin"});
    saveTo("D:/big.bin");
    std::atomic<bool> interrupt{false};
    fileSystem.setInterruptFlag(&interrupt);
    // Interrupt once the third block has been asked for.
    const uint64_t start = phone.requestCount();
    link.attach(std::make_unique<TracingTransport>(phone.open(), [&](const std::string&) {
        if (phone.requestCount() - start >= 5)
            interrupt.store(true);
    }));
    EXPECT_FALSE(files.downloadSelectedFiles());
    EXPECT_EQ(sink.text(), "Скачиваем.../a/big.binКосяк!! Не могу прочесть файл!");
    EXPECT_FALSE(phone.fileOpen());
    EXPECT_TRUE(pc.created.empty());
    // open, seek, three reads, then the close: nothing more.
    EXPECT_EQ(phone.requestCount() - start, 6u);
}

} // namespace
} // namespace p2k::test
