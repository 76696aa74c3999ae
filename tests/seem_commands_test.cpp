#include "tests/support/phone_world.h"
#include "tests/support/reading_names.h"
#include "tests/support/ringtone_profiles.h"
#include "tests/support/case_names.h"

#include <gtest/gtest.h>

namespace p2k::test {
namespace {

using test::PrintTo;

Bytes record(size_t size, uint8_t seed)
{
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(seed + i * 3);
    return bytes;
}

class SeemCommandsTest : public testing::Test, protected PhoneWorld {
protected:
    SeemCommandsTest()
    {
        link.attach(phone.open());
        link.setConnectedFlag(1);
        window.fields[control::kSeemRangeStart] = "0000";
        window.fields[control::kSeemRangeEnd] = "0300";
    }

    ~SeemCommandsTest() override
    {
        EXPECT_EQ(pc.openCount, 0);
        EXPECT_TRUE(phone.violations().empty());
    }

    bool range(const char* from, const char* to)
    {
        window.fields[control::kSeemRangeStart] = from;
        window.fields[control::kSeemRangeEnd] = to;
        dialogs.answers.push_back(DialogChoice{"D:/seem/xxxx_yyyy.seem", "xxxx_yyyy.seem"});
        return seems.downloadSeemRange();
    }

    void uploadFrom(const char* seemField, const char* recordField, std::optional<DialogChoice> choice)
    {
        window.fields[control::kSeemNumber] = seemField;
        window.fields[control::kSeemRecord] = recordField;
        dialogs.answers.push_back(choice);
        seems.uploadSeemRecord();
    }

    std::vector<std::string> savedFiles() const
    {
        std::vector<std::string> names;
        for (const auto& [path, file] : pc.files)
            names.push_back(path);
        return names;
    }
};

TEST_F(SeemCommandsTest, StartValuesWalkTheWholeDefaultRange)
{
    phone.setSeemRecord(0x0300, 1, record(4, 1));
    dialogs.answers.push_back(DialogChoice{"D:/seem/xxxx_yyyy.seem", "xxxx_yyyy.seem"});
    seems.downloadSeemRange();
    EXPECT_EQ(dialogs.shown, std::vector<std::string>{"xxxx_yyyy.seem"});
    EXPECT_EQ(sink.text(), "Скачиваем СИМ из 0000 to 0300\r\nПагодь пару минут...\r\nDone.\r\n");
    EXPECT_EQ(savedFiles(), std::vector<std::string>{"D:/seem/0300_0001.seem"});
    EXPECT_EQ(pc.currentDirectory, "D:/seem");
    EXPECT_EQ(window.progress.front(), (FakeWindow::ProgressStep{"range", 0, 0x300}));
    EXPECT_EQ(window.progress.back(), (FakeWindow::ProgressStep{"position", 0x300, 0}));
}

TEST_F(SeemCommandsTest, OneSeemSavesItsRecordsWithoutStatusByte)
{
    phone.setSeemRecord(0x4C, 1, record(60, 10));
    phone.setSeemRecord(0x4C, 2, record(7, 20));
    phone.setSeemRecord(0x4C, 4, record(7, 30)); // after the gap: never reached
    range("4c", "4c");
    EXPECT_EQ(window.fields[control::kSeemRangeStart], "004c");
    EXPECT_EQ(window.fields[control::kSeemRangeEnd], "004c");
    EXPECT_EQ(savedFiles(), (std::vector<std::string>{"D:/seem/004c_0001.seem", "D:/seem/004c_0002.seem"}));
    EXPECT_EQ(pc.files["D:/seem/004c_0001.seem"].bytes, record(60, 10));
    EXPECT_EQ(pc.files["D:/seem/004c_0002.seem"].bytes, record(7, 20));
}

TEST_F(SeemCommandsTest, FirstAboveLastProcessesTheFirstOnly)
{
    phone.setSeemRecord(0x50, 1, record(3, 1));
    phone.setSeemRecord(0x10, 1, record(3, 1));
    range("50", "10");
    EXPECT_EQ(savedFiles(), std::vector<std::string>{"D:/seem/0050_0001.seem"});
    EXPECT_EQ(sink.text(), "Скачиваем СИМ из 0050 to 0010\r\nПагодь пару минут...\r\nDone.\r\n");
}

TEST_F(SeemCommandsTest, AllHundredTwentyEightRecordsAndNoMore)
{
    for (uint16_t r = 1; r <= 130; ++r)
        phone.setSeemRecord(0x20, r, record(2, static_cast<uint8_t>(r)));
    range("20", "21");
    EXPECT_EQ(pc.files.size(), 128u);
    EXPECT_EQ(pc.files.count("D:/seem/0020_0080.seem"), 1u);
    EXPECT_EQ(pc.files.count("D:/seem/0020_0081.seem"), 0u);
}

const std::string kRangeHead = "Скачиваем СИМ из 004c to 004d\r\nПагодь пару минут...\r\n";

TEST_F(SeemCommandsTest, ExistingFilesKeepTheirContentAndAreReported)
{
    phone.setSeemRecord(0x4C, 1, record(5, 1));
    phone.setSeemRecord(0x4C, 2, record(5, 2));
    pc.files["D:/seem/004c_0001.seem"] = {Bytes{9, 9}, false};
    EXPECT_FALSE(range("4c", "4d"));
    EXPECT_EQ(pc.files["D:/seem/004c_0001.seem"].bytes, (Bytes{9, 9}));
    EXPECT_EQ(pc.files["D:/seem/004c_0002.seem"].bytes, record(5, 2));
    EXPECT_EQ(sink.text(), kRangeHead + "Не сохранил 004c_0001.seem: такой файл уже есть\r\n"
                                        "Не сохранено записей: 1\r\nDone.\r\n");
}

TEST_F(SeemCommandsTest, RecordsThePcRefusesAreReportedAndLeaveNoFile)
{
    phone.setSeemRecord(0x4C, 1, record(5, 1));
    phone.setSeemRecord(0x4C, 2, record(5, 2));
    phone.setSeemRecord(0x4D, 1, record(5, 3));
    pc.failCreate = true;
    EXPECT_FALSE(range("4c", "4d"));
    EXPECT_EQ(sink.text(), kRangeHead + "Не сохранил 004c_0001.seem: не могу создать файл\r\n"
                                        "Не сохранил 004c_0002.seem: не могу создать файл\r\n"
                                        "Не сохранил 004d_0001.seem: не могу создать файл\r\n"
                                        "Не сохранено записей: 3\r\nDone.\r\n");
    sink.clear();
    pc.failCreate = false;
    pc.failWrite = true; // a full disk
    EXPECT_FALSE(range("4c", "4c"));
    EXPECT_EQ(sink.text(), "Скачиваем СИМ из 004c to 004c\r\nПагодь пару минут...\r\n"
                           "Не сохранил 004c_0001.seem: не могу записать\r\n"
                           "Не сохранил 004c_0002.seem: не могу записать\r\n"
                           "Не сохранено записей: 2\r\nDone.\r\n");
    EXPECT_TRUE(pc.files.empty()) << "no half-written SEEM file";
    pc.failWrite = false;
    EXPECT_TRUE(range("4c", "4d"));
    EXPECT_EQ(savedFiles(), (std::vector<std::string>{"D:/seem/004c_0001.seem", "D:/seem/004c_0002.seem",
                                                       "D:/seem/004d_0001.seem"}));
}

TEST_F(SeemCommandsTest, RecordsWhosePcWriteFailsLeaveNoFileAndTheRangeGoesOn)
{
    phone.setSeemRecord(0x4C, 1, record(60, 1));
    phone.setSeemRecord(0x4C, 2, record(5, 2));
    phone.setSeemRecord(0x4D, 1, record(5, 3));
    pc.failWrite = true;
    range("4c", "4d");
    // Every record was attempted, and none left a half-written file.
    EXPECT_EQ(pc.created, (std::vector<std::string>{"D:/seem/004c_0001.seem", "D:/seem/004c_0002.seem",
                                                     "D:/seem/004d_0001.seem"}));
    EXPECT_TRUE(savedFiles().empty());
}

TEST_F(SeemCommandsTest, CancelledDialogLogsNothing)
{
    seems.downloadSeemRange();
    EXPECT_EQ(sink.text(), "");
}

// An answer without record bytes ends the SEEM's records, however the phone
// words it: status 6, or the status byte alone.
TEST_F(SeemCommandsTest, AnswersWithoutRecordBytesEndTheSeem)
{
    phone.setSeemRecord(0x4C, 1, record(3, 1));
    phone.setSeemRecord(0x4C, 2, record(3, 2));
    phone.setSeemRecord(0x4C, 3, record(3, 3));
    phone.setSeemRecord(0x4D, 1, {});
    phone.setSeemRecord(0x4D, 2, record(3, 4));
    phone.injectFault({sim::Fault::ErrorStatus, 6, 1}); // 004c record 2
    EXPECT_TRUE(range("4c", "4d"));
    EXPECT_EQ(savedFiles(), std::vector<std::string>{"D:/seem/004c_0001.seem"});
    EXPECT_EQ(pc.files["D:/seem/004c_0001.seem"].bytes, record(3, 1));
    EXPECT_EQ(sink.text(), kRangeHead + "Done.\r\n");
}

// How a phone answers for a record it lacks is a guess; every reading ends the SEEM there.
class MissingRecordTest : public testing::TestWithParam<sim::MissingSeemRecord> {};

TEST_P(MissingRecordTest, ARunOfRecordsSavesThatRunOnly)
{
    sim::PhoneConfig config;
    config.missingSeemRecord = GetParam();
    PhoneWorld world(config);
    world.link.attach(world.phone.open());
    world.phone.setSeemRecord(0x0105, 1, record(12, 1));
    world.phone.setSeemRecord(0x0106, 1, record(12, 2));
    world.phone.setSeemRecord(0x0106, 2, record(12, 3));
    world.window.fields[control::kSeemRangeStart] = "0105";
    world.window.fields[control::kSeemRangeEnd] = "0107";
    world.dialogs.answers.push_back(DialogChoice{"D:/s/x", "x"});
    EXPECT_TRUE(world.seems.downloadSeemRange());
    std::vector<std::string> saved;
    for (const auto& [path, file] : world.pc.files)
        saved.push_back(path);
    EXPECT_EQ(saved, (std::vector<std::string>{"D:/s/0105_0001.seem", "D:/s/0106_0001.seem", "D:/s/0106_0002.seem"}));
    EXPECT_EQ(world.pc.files["D:/s/0106_0002.seem"].bytes, record(12, 3));
    // One read per record, one more that ends each SEEM.
    EXPECT_EQ(world.phone.requestCount(), 6u);
}

INSTANTIATE_TEST_SUITE_P(Readings, MissingRecordTest,
                         testing::Values(sim::MissingSeemRecord::FailureByte, sim::MissingSeemRecord::Done,
                                         sim::MissingSeemRecord::StatusByteOnly));

struct FieldCase {
    const char* seemText;
    const char* recordText;
    const char* seemShown;
    const char* recordShown;
};

void PrintTo(const FieldCase& c, std::ostream* out)
{
    *out << "fields \"" << c.seemText << "\" \"" << c.recordText << '"';
}

class SeemFieldTest : public SeemCommandsTest, public testing::WithParamInterface<FieldCase> {};

TEST_P(SeemFieldTest, FieldsAreClampedAndRewritten)
{
    uploadFrom(GetParam().seemText, GetParam().recordText, std::nullopt);
    EXPECT_EQ(window.fields[control::kSeemNumber], GetParam().seemShown);
    EXPECT_EQ(window.fields[control::kSeemRecord], GetParam().recordShown);
    EXPECT_TRUE(sink.text().starts_with(std::string("Закачиваем СИМ N ") + GetParam().seemShown + "запись N " +
                                        GetParam().recordShown + " - "));
}

INSTANTIATE_TEST_SUITE_P(Fields, SeemFieldTest,
                         testing::Values(FieldCase{"10000", "10000", "ffff", "0001"},
                                         FieldCase{"ffff", "ffff", "ffff", "0001"}, FieldCase{"", "", "0000", "0001"},
                                         FieldCase{"4c", "0", "004c", "0001"}, FieldCase{"fffe", "fffe", "fffe", "fffe"},
                                         FieldCase{"0000000000000004c", "2", "0000", "0002"}));

TEST_F(SeemCommandsTest, RangeFieldsClampToFFFF)
{
    range("10000", "fffff");
    EXPECT_EQ(window.fields[control::kSeemRangeStart], "ffff");
    EXPECT_EQ(window.fields[control::kSeemRangeEnd], "ffff");
    EXPECT_EQ(sink.text(), "Скачиваем СИМ из ffff to ffff\r\nПагодь пару минут...\r\nDone.\r\n");
}

TEST_F(SeemCommandsTest, UploadWritesTheRecordFromAFileOfItsLength)
{
    phone.setSeemRecord(0x4C, 1, record(60, 1));
    pc.files["D:/p.seem"] = {record(60, 99), false};
    uploadFrom("4c", "1", DialogChoice{"D:/p.seem", "p.seem"});
    EXPECT_EQ(sink.text(), "Закачиваем СИМ N 004cзапись N 0001 ok\r\n");
    EXPECT_EQ(*phone.seemRecord(0x4C, 1), record(60, 99));
}

TEST_F(SeemCommandsTest, UploadEndsWithItsReasonOnWrongFiles)
{
    phone.setSeemRecord(0x4C, 1, record(60, 1));
    pc.files["D:/long.seem"] = {record(61, 5), false};
    pc.files["D:/short.seem"] = {record(59, 5), false};
    pc.files["D:/busy.seem"] = {record(60, 5), true};
    const std::string line = "Закачиваем СИМ N 004cзапись N 0001 - ";
    const std::pair<const char*, std::string> cases[] = {
        {"D:/long.seem", "Косяк!! Размер файла неправильный! В файле 61 байт, в записи 60\r\n"},
        {"D:/short.seem", "Косяк!! Размер файла неправильный! В файле 59 байт, в записи 60\r\n"},
        {"D:/busy.seem", "Косяк!! Не могу открыть файл!\r\n"},
        {"D:/missing.seem", "Косяк!! Не могу открыть файл!\r\n"},
    };
    for (const auto& [path, reason] : cases) {
        sink.clear();
        uploadFrom("4c", "1", DialogChoice{path, "x"});
        EXPECT_EQ(sink.text(), line + reason) << path;
    }
    sink.clear();
    uploadFrom("4c", "1", std::nullopt);
    EXPECT_EQ(sink.text(), line + "Отменено\r\n");
    EXPECT_EQ(*phone.seemRecord(0x4C, 1), record(60, 1));

    sink.clear();
    pc.files["D:/p.seem"] = {record(60, 7), false};
    phone.injectFault({sim::Fault::OneByteAnswer, 2, 1}); // the write
    uploadFrom("4c", "1", DialogChoice{"D:/p.seem", "p.seem"});
    EXPECT_EQ(sink.text(), line + "Косяк!! Телефон запись не принял\r\n");
}

TEST_F(SeemCommandsTest, UploadOfAMissingRecordEndsBeforeTheDialog)
{
    uploadFrom("4c", "9", DialogChoice{"D:/p.seem", "p.seem"});
    EXPECT_EQ(sink.text(), "Закачиваем СИМ N 004cзапись N 0009 - Косяк!! Запись с телефона не читается\r\n");
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(SeemCommandsTest, EmptyAndOverlongRecordsAreNeverWrittenBack)
{
    phone.setSeemRecord(0x10, 1, {});
    phone.setSeemRecord(0x11, 1, record(4071, 1));
    phone.setSeemRecord(0x12, 1, record(4070, 1));
    pc.files["D:/empty.seem"] = {{}, false};
    pc.files["D:/big.seem"] = {record(4071, 2), false};
    pc.files["D:/fits.seem"] = {record(4070, 2), false};
    uploadFrom("10", "1", DialogChoice{"D:/empty.seem", "empty.seem"});
    uploadFrom("11", "1", DialogChoice{"D:/big.seem", "big.seem"});
    EXPECT_TRUE(dialogs.shown.empty()); // refused before a file is asked for
    dialogs.answers.clear();
    uploadFrom("12", "1", DialogChoice{"D:/fits.seem", "fits.seem"});
    EXPECT_EQ(sink.text(), "Закачиваем СИМ N 0010запись N 0001 - Косяк!! Пустую запись назад не пишу\r\n"
                           "Закачиваем СИМ N 0011запись N 0001 - Косяк!! Запись длиннее, чем телефон примет за раз\r\n"
                           "Закачиваем СИМ N 0012запись N 0001 ok\r\n");
    EXPECT_EQ(*phone.seemRecord(0x10, 1), Bytes{});
    EXPECT_EQ(*phone.seemRecord(0x11, 1), record(4071, 1));
    EXPECT_EQ(*phone.seemRecord(0x12, 1), record(4070, 2));
}

TEST_F(SeemCommandsTest, RingtoneUpdatePatchesTenOffsetsDeletesTheDatabaseAndRestarts)
{
    Bytes profiles = record(60, 1);
    profiles[12] = 0x02; // already patched there
    phone.setSeemRecord(0x4C, 1, profiles);
    phone.addFile({"MyToneDB.db", 0, Bytes(10, 1)});
    const uint32_t start = clock.tickMs();
    seems.updateRingtones();
    EXPECT_EQ(sink.text(), "Читаем профили..\r\nОбновляем профили..\r\nБаза рингтонов удалена\r\n");
    const Bytes& written = *phone.seemRecord(0x4C, 1);
    ASSERT_EQ(written.size(), 60u);
    EXPECT_EQ(written, patchedProfiles(profiles));
    EXPECT_EQ(phone.findFile("MyToneDB.db"), nullptr);
    EXPECT_EQ(phone.restartCount(), 1);
    EXPECT_GE(clock.tickMs() - start, 1500u);
}

TEST_F(SeemCommandsTest, ShortProfilesAreWrittenAtTheirOwnLength)
{
    phone.setSeemRecord(0x4C, 1, record(20, 1));
    seems.updateRingtones();
    const Bytes& written = *phone.seemRecord(0x4C, 1);
    ASSERT_EQ(written.size(), 20u);
    EXPECT_EQ(written[13], 0x02);
    EXPECT_EQ(written[14], record(20, 1)[14]);
}

struct FailedProfiles {
    const char* name;
    std::optional<Bytes> stored;
    std::optional<sim::FaultSpec> fault;
    std::string log;
};

class RingtoneRefusalTest : public SeemCommandsTest, public testing::WithParamInterface<FailedProfiles> {};

TEST_P(RingtoneRefusalTest, NothingIsWrittenDeletedOrRestarted)
{
    if (GetParam().stored)
        phone.setSeemRecord(0x4C, 1, *GetParam().stored);
    if (GetParam().fault)
        phone.injectFault(*GetParam().fault);
    phone.addFile({"MyToneDB.db", 0, Bytes(10, 1)});
    seems.updateRingtones();
    EXPECT_EQ(sink.text(), GetParam().log);
    EXPECT_NE(phone.findFile("MyToneDB.db"), nullptr);
    EXPECT_EQ(phone.restartCount(), 0);
    if (GetParam().stored) {
        EXPECT_EQ(*phone.seemRecord(0x4C, 1), *GetParam().stored);
    }
}

const std::string kNotRead = "Читаем профили..\r\nКосяк!! Профили не прочитались, ничего не меняю\r\n";
const std::string kNotWritable = "Читаем профили..\r\nКосяк!! Профили такой длины назад не записать, ничего не меняю\r\n";

INSTANTIATE_TEST_SUITE_P(
    Profiles, RingtoneRefusalTest,
    testing::Values(FailedProfiles{"Missing", std::nullopt, std::nullopt, kNotRead},
                    FailedProfiles{"ReadFails", record(60, 1), sim::FaultSpec{sim::Fault::ErrorStatus, 7},
                                   "GENERIC FAILURE\r\n" + kNotRead},
                    FailedProfiles{"NoBytesAtAll", record(60, 1), sim::FaultSpec{sim::Fault::OneByteAnswer, 0x00},
                                   kNotWritable},
                    FailedProfiles{"Empty", Bytes{}, std::nullopt, kNotWritable},
                    FailedProfiles{"TooLong", record(4071, 1), std::nullopt, kNotWritable}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SeemCommandsTest, ResultsTellHowItWent)
{
    EXPECT_FALSE(seems.downloadSeemRange()); // no folder chosen
    phone.setSeemRecord(0x4C, 1, record(60, 1));
    pc.files["D:/p.seem"] = {record(60, 9), false};
    window.fields[control::kSeemNumber] = "4c";
    window.fields[control::kSeemRecord] = "1";
    dialogs.answers.push_back(DialogChoice{"D:/p.seem", "p.seem"});
    EXPECT_TRUE(seems.uploadSeemRecord());
    window.fields[control::kSeemRecord] = "2";
    EXPECT_FALSE(seems.uploadSeemRecord());
    EXPECT_TRUE(seems.updateRingtones()); // last: the phone restarts
}

} // namespace
} // namespace p2k::test
