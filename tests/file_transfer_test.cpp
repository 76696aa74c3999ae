#include "link/tracing_transport.h"
#include "sim/demo_phone.h"
#include "tests/support/case_names.h"
#include "tests/support/phone_world.h"
#include "tests/support/reading_names.h"

#include <gtest/gtest.h>

namespace p2k::test {
namespace {

using test::PrintTo;

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

// A phone that gives one reading of an answer the simulator has to guess.
template <class Reading>
sim::PhoneConfig phoneReading(Reading sim::PhoneConfig::*field, Reading reading)
{
    sim::PhoneConfig config = phoneWith(268);
    config.*field = reading;
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

    bool upload(const std::string& title, const Bytes& bytes, const std::string& field = "/a/")
    {
        pc.files["C:/pc/" + title] = {bytes, false};
        dialogs.answers.push_back(DialogChoice{"C:/pc/" + title, title});
        window.fields[control::kUploadPath] = field;
        return files.uploadFile();
    }

    void saveTo(const std::string& path)
    {
        dialogs.answers.push_back(DialogChoice{path, path.substr(path.rfind('/') + 1)});
    }

    // Sets the interrupt flag once count more requests have gone out; gives
    // the request count it started from.
    uint64_t interruptAfter(uint64_t count)
    {
        fileSystem.setInterruptFlag(&interrupt);
        const uint64_t start = phone.requestCount();
        link.attach(std::make_unique<TracingTransport>(phone.open(), [this, start, count](const std::string&) {
            if (phone.requestCount() - start >= count)
                interrupt.store(true);
        }));
        return start;
    }

    std::atomic<bool> interrupt{false};

    const Bytes* phoneFile(const std::string& name)
    {
        const sim::SimFile* file = phone.findFile(name);
        return file ? &file->content : nullptr;
    }
};

// Every size from 2 to 4100 and every 1024·k + 1 up to 64 KiB and just past
// it, through the commands, on phones that acknowledge writes either way.
class RoundTripTest : public TransferTest, public testing::WithParamInterface<sim::WriteAcknowledge> {
protected:
    RoundTripTest() : TransferTest(phoneReading(&sim::PhoneConfig::writeAcknowledge, GetParam())) {}

    void roundTrip(size_t size)
    {
        SCOPED_TRACE("size " + std::to_string(size));
        const Bytes original = pattern(size);
        const std::string title = "f" + std::to_string(size);
        sink.clear();
        upload(title, original);
        ASSERT_EQ(sink.text(), "Закачка.../a/" + title + " ok\r\n");
        ASSERT_EQ(*phoneFile("/a/" + title), original);
        refresh();
        list.selectNamed({"/a/" + title});
        saveTo("C:/down/" + title);
        files.downloadSelectedFiles();
        ASSERT_EQ(sink.text(), "Скачиваем.../a/" + title + " ok\r\n");
        ASSERT_EQ(pc.files["C:/down/" + title].bytes, original);
        // Keep the phone's list and the PC small: each size is checked on its own.
        ASSERT_EQ(fileSystem.deleteFile("/a/" + title), kOk);
        pc.files.clear();
        pc.created.clear();
    }
};

TEST_P(RoundTripTest, UploadThenDownloadIsByteIdentical)
{
    refresh();
    for (size_t size = 2; size <= 4100; ++size)
        roundTrip(size);
    for (size_t size = 1024 * 5 + 1; size <= 64 * 1024 + 1; size += 1024)
        roundTrip(size);
}

INSTANTIATE_TEST_SUITE_P(Acknowledged, RoundTripTest,
                         testing::Values(sim::WriteAcknowledge::Done, sim::WriteAcknowledge::ByteSix));

TEST_F(TransferTest, OneBytePhoneFileIsRefusedAndAnEmptyOneArrivesEmpty)
{
    phone.addFile({"/a/one", 0, Bytes{7}});
    phone.addFile({"/a/empty", 0, {}});
    refresh();
    list.selectNamed({"/a/one"});
    files.downloadSelectedFiles();
    EXPECT_EQ(sink.text(), "Скачиваем.../a/oneКосяк!! Файл в 1 байт не скачать: телефон отдаёт его так же, "
                           "как ответ об ошибке\r\n");
    EXPECT_TRUE(dialogs.shown.empty());

    sink.clear();
    list.selectNamed({"/a/empty"});
    saveTo("D:/empty");
    const uint64_t before = phone.requestCount();
    EXPECT_TRUE(files.downloadSelectedFiles());
    EXPECT_EQ(sink.text(), "Скачиваем.../a/empty ok\r\n");
    EXPECT_EQ(phone.requestCount(), before) << "an empty file needs no phone request";
    ASSERT_EQ(pc.files.count("D:/empty"), 1u);
    EXPECT_TRUE(pc.files["D:/empty"].bytes.empty());
}

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

// Over several files the bar counts the files, each moving it through its
// share: b.bin (1500 bytes) comes first in the list, then a.bin (2500).
TEST_F(TransferTest, SeveralFilesShareTheProgressBar)
{
    refresh();
    upload("a.bin", pattern(2500));
    upload("b.bin", pattern(1500));
    refresh();
    window.progress.clear();
    list.selectNamed({"/a/a.bin", "/a/b.bin"});
    saveTo("C:/down/first.bin");
    ASSERT_TRUE(files.downloadSelectedFiles()) << sink.text();
    const std::vector<FakeWindow::ProgressStep> steps = {
        {"range", 0, 2000}, {"position", 0, 0},    {"position", 682, 0},  {"position", 1000, 0},
        {"range", 0, 2000}, {"position", 1000, 0}, {"position", 1409, 0}, {"position", 1819, 0},
        {"position", 2000, 0}};
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
    EXPECT_EQ(sink.text(), "Закачка...Косяк!! Размер файла неправильный!\r\nФайл пустой, закачивать нечего\r\n");
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
    EXPECT_EQ(sink.text(), "Закачка...Косяк!! Размер файла неправильный!\r\n"
                           "Файл не меньше свободного места на телефоне\r\n");
    sink.clear();
    upload("fits.bin", pattern(2999));
    EXPECT_EQ(sink.text(), "Закачка.../a/fits.bin ok\r\n");
}

TEST_F(TransferTest, PcFileHeldByAWriterOrMissingCannotBeUploaded)
{
    refresh();
    pc.files["C:/pc/busy.bin"] = {pattern(10), true};
    dialogs.answers.push_back(DialogChoice{"C:/pc/busy.bin", "busy.bin"});
    files.uploadFile();
    EXPECT_EQ(sink.text(), "Закачка...Косяк!! Не могу открыть файл!");
    sink.clear();
    files.uploadFile(); // the dialog is cancelled
    EXPECT_EQ(sink.text(), "Закачка...Отменено\r\n");
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
    const std::string tooLong = " - Косяк!! Имя длиннее " + std::to_string(GetParam().entrySize - 8) +
                                " байт, телефон такое не примет\r\n";
    EXPECT_EQ(sink.text(), "Закачка..." + name + (GetParam().sent ? " ok\r\n" : tooLong));
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
    const uint64_t before = phone.requestCount();
    upload("a.bin", pattern(4));
    EXPECT_EQ(sink.text(), "Закачка.../a/a.bin - Косяк!! Сначала получите список файлов\r\n");
    EXPECT_EQ(phone.findFile("/a/a.bin"), nullptr);
    EXPECT_EQ(phone.requestCount() - before, 2u); // the volume name and the free space
}

const std::string kWriteFailed = " - Косяк!! Не могу записать файл на телефон";
const std::string kPieceRemoved = ", недописанный файл с телефона удалён\r\n";
const std::string kPieceLeft = ", и удалить недописанный файл не вышло: на телефоне лежит обрывок!\r\n";

// A write that fails part way leaves nothing on the phone, or says plainly
// that it could not: the second 1024-byte block is refused in each case.
struct FailedWrite {
    const char* name;
    std::vector<sim::FaultSpec> faults; // counted from the open
    std::string log;
    bool pieceLeft;
};

const FailedWrite kFailedWrites[] = {
    {"Refused", {{sim::Fault::OneByteAnswer, 0x00, 5}}, "Закачка.../a/w.bin" + kWriteFailed + kPieceRemoved, false},
    {"ErrorStatus", {{sim::Fault::ErrorStatus, 7, 5}}, "Закачка.../a/w.binGENERIC FAILURE\r\n" + kWriteFailed + kPieceRemoved,
     false},
    {"DeleteRefusedToo",
     {{sim::Fault::OneByteAnswer, 0x00, 5}, {sim::Fault::ErrorStatus, 7, 1}},
     "Закачка.../a/w.bin" + kWriteFailed + "GENERIC FAILURE\r\n" + kPieceLeft,
     true},
};

class FailedWriteTest : public TransferTest, public testing::WithParamInterface<FailedWrite> {};

TEST_P(FailedWriteTest, LeavesNoPartialFileAndNoRefresh)
{
    refresh();
    autoRefresh = 1;
    // Volume name, free space, open and the first block go through.
    for (const sim::FaultSpec& fault : GetParam().faults)
        phone.injectFault(fault);
    EXPECT_FALSE(upload("w.bin", pattern(3000)));
    EXPECT_EQ(sink.text(), GetParam().log);
    EXPECT_EQ(phone.findFile("/a/w.bin") != nullptr, GetParam().pieceLeft);
    EXPECT_FALSE(phone.fileOpen());
    EXPECT_EQ(phone.queuedFaultCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Writes, FailedWriteTest, testing::ValuesIn(kFailedWrites),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TransferTest, PhoneGoneMidUploadIsSaidPlainly)
{
    refresh();
    phone.injectFault({sim::Fault::UnplugMidRequest, 0, 4});
    upload("w.bin", pattern(3000));
    EXPECT_EQ(sink.text(), "Закачка.../a/w.binUSB: Device gone!\r\nТело отключилось, команда остановлена\r\n"
                           + kWriteFailed + kPieceLeft);
    EXPECT_EQ(phoneFile("/a/w.bin")->size(), 1024u);
}

TEST_F(TransferTest, InterruptedUploadRemovesItsPiece)
{
    refresh();
    // Interrupt once the second block has been written.
    const uint64_t start = interruptAfter(5);
    upload("big.bin", pattern(10000));
    EXPECT_EQ(sink.text(), "Закачка.../a/big.bin - Прервано" + kPieceRemoved);
    EXPECT_EQ(phone.findFile("/a/big.bin"), nullptr);
    // volume, free space, open, two blocks, then the close and the delete.
    EXPECT_EQ(phone.requestCount() - start, 7u);
}

// How the phone refuses an open is a guess; either way the upload stops
// before any data goes out and says so.
class OpenRefusalTest : public TransferTest, public testing::WithParamInterface<sim::OpenRefusal> {
protected:
    OpenRefusalTest() : TransferTest(phoneReading(&sim::PhoneConfig::openRefusal, GetParam())) {}
};

TEST_P(OpenRefusalTest, UploadStopsAtTheRefusedOpen)
{
    refresh();
    // A file the phone still holds open makes it refuse the next open.
    ASSERT_EQ(fileSystem.openFile("/a/seed.txt", 0), kOk);
    upload("n.bin", pattern(100));
    const std::string channelText = GetParam() == sim::OpenRefusal::ErrorStatus ? "GENERIC FAILURE\r\n" : "";
    EXPECT_EQ(sink.text(), "Закачка.../a/n.bin" + channelText + " - Косяк!! Телефон не открыл файл\r\n");
    EXPECT_EQ(phone.findFile("/a/n.bin"), nullptr);
    EXPECT_EQ(*phoneFile("/a/seed.txt"), Bytes(5, 's'));
}

INSTANTIATE_TEST_SUITE_P(Readings, OpenRefusalTest,
                         testing::Values(sim::OpenRefusal::ErrorStatus, sim::OpenRefusal::FailureByte));

TEST_F(TransferTest, OpenWhoseAnswerWentAstrayLeavesNoEmptyFile)
{
    refresh();
    phone.injectFault({sim::Fault::WrongSequence, 0, 2}); // the open is carried out, its answer garbled
    upload("g.bin", pattern(100));
    EXPECT_EQ(sink.text(), "Закачка.../a/g.binCMD: Answer packet invalid!\r\n - Косяк!! Телефон не открыл файл\r\n"
                           "Телефон всё же создал пустой файл - удалён\r\n");
    EXPECT_EQ(phone.findFile("/a/g.bin"), nullptr);
}

// Writing over a file keeps its tail: a name the last list shows is replaced
// only with consent, by deleting the old file first.
TEST_F(TransferTest, ExistingNameIsReplacedOnlyWhenTheOperatorSaysYes)
{
    phone.addFile({"/a/old.bin", 5, pattern(3412)});
    refresh();
    upload("old.bin", Bytes(9, 'n'));
    EXPECT_EQ(window.questions, std::vector<std::string>{"Файл /a/old.bin на телефоне уже есть. Заменить?"});
    EXPECT_EQ(window.defaultButtons, std::vector<MainWindow::DefaultButton>{MainWindow::DefaultButton::No});
    EXPECT_EQ(sink.text(), "Закачка.../a/old.bin - Такой файл на телефоне уже есть, не заменяю\r\n");
    EXPECT_EQ(*phoneFile("/a/old.bin"), pattern(3412));

    sink.clear();
    window.answers = {true};
    upload("old.bin", Bytes(9, 'n'));
    EXPECT_EQ(sink.text(), "Закачка.../a/old.bin - старый файл удалён ok\r\n");
    EXPECT_EQ(*phoneFile("/a/old.bin"), Bytes(9, 'n'));
    EXPECT_EQ(phone.findFile("/a/old.bin")->attributes, 0u);
}

TEST_F(TransferTest, ScriptsReplaceOrRefuseWithoutAsking)
{
    phone.addFile({"/a/old.bin", 0, pattern(3412)});
    refresh();
    using ExistingName = FileTransferCommands::ExistingName;
    const auto uploadWith = [&](ExistingName existing, const Bytes& bytes) {
        pc.files["C:/pc/old.bin"] = {bytes, false};
        dialogs.answers.push_back(DialogChoice{"C:/pc/old.bin", "old.bin"});
        window.fields[control::kUploadPath] = "/a/";
        return files.uploadFile(existing);
    };
    EXPECT_FALSE(uploadWith(ExistingName::Refuse, Bytes(9, 'n')));
    EXPECT_EQ(*phoneFile("/a/old.bin"), pattern(3412));
    EXPECT_TRUE(uploadWith(ExistingName::Replace, Bytes(9, 'n')));
    EXPECT_EQ(*phoneFile("/a/old.bin"), Bytes(9, 'n'));
    EXPECT_TRUE(window.questions.empty());

    sink.clear();
    phone.injectFault({sim::Fault::ErrorStatus, 7, 2}); // the delete
    EXPECT_FALSE(uploadWith(ExistingName::Replace, Bytes(4, 'x')));
    EXPECT_EQ(sink.text(), "Закачка.../a/old.binGENERIC FAILURE\r\n - Косяк!! Старый файл не удаляется "
                           "(может, его уже нет - обновите список), не заменяю\r\n");
    ASSERT_NE(phoneFile("/a/old.bin"), nullptr);
    EXPECT_EQ(*phoneFile("/a/old.bin"), Bytes(9, 'n'));
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
                           " - Косяк!! Телефон не открыл файл\r\nМеняем атрибут../a/seed.txt ok\r\n");
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

// The list comes back whole, whatever the entry size and however the phone
// chunks it; 11 entries of 268 bytes are as long as 67 of 44.
struct ListShape {
    uint32_t entrySize;
    uint16_t perChunk;
    size_t files;
};

void expectWholeList(const ListShape& shape)
{
    SCOPED_TRACE(std::to_string(shape.entrySize) + " bytes, " + std::to_string(shape.perChunk) + " per chunk, " +
                 std::to_string(shape.files) + " files");
    sim::PhoneConfig config = phoneWith(shape.entrySize);
    config.entriesPerChunk = shape.perChunk;
    PhoneWorld world(config);
    world.link.attach(world.phone.open());
    for (size_t i = 0; i < shape.files; ++i)
        world.phone.addFile({"/a/f" + std::to_string(i), static_cast<uint32_t>(i), pattern(i + 2)});
    ASSERT_TRUE(world.view.refreshFileList(world.window));
    EXPECT_EQ(world.fileSystem.entrySize(), shape.entrySize);
    ASSERT_EQ(world.list.rows.size(), shape.files);
    for (size_t i = 0; i < shape.files; ++i) {
        const std::string name = "/a/f" + std::to_string(i);
        EXPECT_EQ(world.view.lookupFileSize(name), i + 2) << name;
        EXPECT_EQ(world.view.lookupFileFlags(name), i) << name;
    }
}

TEST(ListEntrySize, TwoHundredSixtyEightByteEntriesInChunksOfElevenAndFifteen)
{
    for (const ListShape& shape : {ListShape{268, 11, 11}, ListShape{268, 11, 30}, ListShape{268, 15, 15},
                                   ListShape{268, 15, 26}, ListShape{268, 15, 41}})
        expectWholeList(shape);
}

TEST(ListEntrySize, FortyFourByteEntriesAtEveryChunkSize)
{
    for (uint16_t perChunk = 1; perChunk <= 92; ++perChunk)
        expectWholeList({44, perChunk, size_t{perChunk} * 2 + 1});
}

// Status 6 (done, no data) where data was due names nothing: no list, no
// volume, and nothing is guessed from what the buffers held before.
TEST_F(TransferTest, StatusSixWithoutDataToListAndVolumeReads)
{
    phone.addFile({"/a/b.txt", 0, Bytes(3, 'b')});
    refresh();
    phone.injectFault({sim::Fault::ErrorStatus, 6}); // the list count
    EXPECT_FALSE(view.refreshFileList(window));
    EXPECT_TRUE(list.rows.empty());
    sink.clear();
    phone.injectFault({sim::Fault::ErrorStatus, 6, 1}); // the first chunk
    EXPECT_FALSE(view.refreshFileList(window));
    EXPECT_NE(sink.text().find("Косяк!! Размер списка файлов неправильный !\r\n"), std::string::npos);
    EXPECT_TRUE(list.rows.empty());
    sink.clear();
    phone.injectFault({sim::Fault::ErrorStatus, 6}); // the volume name
    EXPECT_FALSE(upload("v.bin", pattern(10)));
    EXPECT_EQ(sink.text(), "Закачка...Чет я потерялся.. носитель не определяю\r\n");
}

TEST_F(TransferTest, LongNamesUploadAfterAListOfElevenEntryChunks)
{
    sim::PhoneConfig config = phoneWith(268);
    config.entriesPerChunk = 11;
    PhoneWorld world(config);
    world.link.attach(world.phone.open());
    for (int i = 0; i < 11; ++i)
        world.phone.addFile({"/a/f" + std::to_string(i), 0, pattern(3)});
    ASSERT_TRUE(world.view.refreshFileList(world.window));
    const std::string title(100, 'l');
    world.pc.files["C:/" + title] = {pattern(50), false};
    world.dialogs.answers.push_back(DialogChoice{"C:/" + title, title});
    world.window.fields[control::kUploadPath] = "/a/";
    EXPECT_TRUE(world.files.uploadFile());
    EXPECT_EQ(world.phone.findFile("/a/" + title)->content, pattern(50));
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
    // Interrupt once the third block has been asked for.
    const uint64_t start = interruptAfter(5);
    EXPECT_FALSE(files.downloadSelectedFiles());
    EXPECT_EQ(sink.text(), "Скачиваем.../a/big.binКосяк!! Не могу прочесть файл!");
    EXPECT_FALSE(phone.fileOpen());
    EXPECT_TRUE(pc.created.empty());
    // open, seek, three reads, then the close: nothing more.
    EXPECT_EQ(phone.requestCount() - start, 6u);
}

} // namespace
} // namespace p2k::test
