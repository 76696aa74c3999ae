// A long, seeded run of operator commands against a simulated phone that
// misbehaves at random: before about half of the commands one fault is
// queued (a random kind, striking after a random number of requests), and
// the PC side fails now and then too. After every command nothing may be
// left open, no PC file may be half-written or overwritten, no success may
// be claimed that did not happen, and every fault that struck must show in
// the log. The same seed gives the same run.

#include "core/cp1251.h"
#include "commands/pc_names.h"
#include "link/byte_order.h"
#include "sim/demo_phone.h"
#include "tests/support/log_segments.h"
#include "tests/support/phone_world.h"
#include "tests/support/ringtone_profiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <iostream>
#include <map>
#include <numeric>
#include <random>

namespace p2k::test {
namespace {

using PcFileMap = std::map<std::string, FakePcFiles::Stored>;

constexpr uint32_t kSeed = 0x50324B; // P2K_SOAK_SEED runs another seed, to explore
constexpr int kCommands = 3000;
constexpr uint32_t kMaxRequestsBeforeFault = 7;
constexpr uint16_t kFileSystemOpcode = 0x4A;
constexpr uint16_t kSeemReadOpcode = 0x20;
constexpr uint32_t kOpen = 0;
constexpr uint32_t kClose = 4;
constexpr const char* kUploadFolder = "/a/up/";

// What the soak needs to know of the requests the phone took: how many, and
// which one the queued fault struck.
struct RequestTally {
    uint64_t taken = 0;
    uint64_t victimNumber = 0; // the request the queued fault strikes; 0: none queued
    uint16_t victimOpcode = 0;
    Bytes victimData;
    bool victimQuiet = false;    // the log was silenced while it went out
    size_t victimAnswerData = 0; // answer data bytes the phone meant to send back
    bool awaitingVictimAnswer = false;
};

class RequestWatch : public UsbTransport {
public:
    RequestWatch(std::unique_ptr<UsbTransport> inner, RequestTally& tally, const OperatorLog& log)
        : inner_(std::move(inner)), tally_(tally), log_(log) {}

    TransferResult controlTransfer(std::span<const uint8_t> input, std::span<uint8_t> output,
                                   uint32_t timeoutMs) override
    {
        const TransferResult result = inner_->controlTransfer(input, output, timeoutMs);
        // A request the phone took is a host-to-phone transfer that completed.
        if (input[0] == 0x41 && result.outcome == TransferOutcome::Done && ++tally_.taken == tally_.victimNumber) {
            tally_.victimOpcode = loadBe16(&input[10]);
            tally_.victimData.assign(input.begin() + 16, input.end() - 2);
            tally_.victimQuiet = log_.quietSwitch() == 1;
            tally_.victimAnswerData = 0;
            tally_.awaitingVictimAnswer = true;
        }
        // The victim's data answer: its packet length (after the driver prefix
        // and the count block) tells how much data the phone meant to send.
        const bool dataRead = input[0] == 0xC1 && input[1] == 0x01;
        if (dataRead && tally_.awaitingVictimAnswer && result.outputBytes >= 10) {
            tally_.victimAnswerData = loadBe16(&output[8]) - 8u;
            tally_.awaitingVictimAnswer = false;
        }
        return result;
    }

private:
    std::unique_ptr<UsbTransport> inner_;
    RequestTally& tally_;
    const OperatorLog& log_;
};

// The log text every fault leaves, when it strikes a request that is not silenced.
std::string traceOf(const sim::FaultSpec& fault)
{
    switch (fault.fault) {
    case sim::Fault::ErrorStatus:
        return fault.value == 0   ? "INVALID DATA LENGTH FOR COMMAND\r\n"
               : fault.value == 4 ? "UNSUPPORTED/INVALID OPCODE\r\n"
               : fault.value == 7 ? "GENERIC FAILURE\r\n"
                                  : "TEST COMMAND TASK TIMED OUT WAITING FOR RESPONSE\r\n";
    case sim::Fault::WrongSequence:
    case sim::Fault::AnswerCountTwo:
    case sim::Fault::ClearedAnswerFlag:
    case sim::Fault::DataLengthOffByOne:
    case sim::Fault::TruncatedAnswer: return "CMD: Answer packet invalid!\r\n";
    case sim::Fault::LostAnswer:
    case sim::Fault::StatusCountThree: return "CMD: Answer wait timeout!\r\n";
    case sim::Fault::UnplugMidRequest: return "USB: Device gone!\r\n";
    case sim::Fault::ShortDriverRead: return "USB: Answer size invlid!\r\n";
    case sim::Fault::StatusCountTwo:
        return fault.value == 2 ? "CMD: Answer packet invalid!\r\n" : "";
    case sim::Fault::OneByteAnswer:
    case sim::Fault::OversizedAnswer: return ""; // well-formed answers: the services judge them
    }
    return "";
}

// Texts by which a log line admits failure: the commands' own, the
// channel's, and the words of the phone's error statuses.
constexpr std::array<std::string_view, 10> kFailureMarks = {
    "Косяк", "Блин", "Не могу", "Отменено", "Чет я потерялся", "CMD: ", "USB: ", "FAILURE", "INVALID", "TIMED OUT"};

bool showsFailure(std::string_view text)
{
    return std::any_of(kFailureMarks.begin(), kFailureMarks.end(),
                       [&](std::string_view mark) { return text.find(mark) != std::string_view::npos; });
}

Bytes pattern(size_t size, uint32_t seed)
{
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(seed * 7 + i * 13 + i / 256);
    return bytes;
}

struct SoakCounts {
    int commands = 0;
    int faultsInjected = 0;
    int faultsStruck = 0;
    int unplugged = 0;
    int phoneResets = 0; // replugs: the phone kept a file open that the program closed, or never knew it opened
    int pcFaults = 0;
    int okFiles = 0; // files the log reports done, each checked
};

class SoakTest : public testing::Test, protected PhoneWorld {
protected:
    SoakTest() : PhoneWorld(phoneConfig())
    {
        fillPhone();
        attach();
    }

    static sim::PhoneConfig phoneConfig()
    {
        sim::PhoneConfig config;
        config.entriesPerChunk = 3;
        config.freeSpace = 50'000'000;
        return config;
    }

    void fillPhone()
    {
        const std::vector<std::pair<std::string, size_t>> files = {
            {"/a/audio/ring.mid", 700},  {"/a/audio/Мелодия.mid", 1500}, {"/a/picture/logo.gif", 1024},
            {"/a/picture/photo.jpg", 3000}, {"/a/system/error.log", 0}, {"/a/one.txt", 1},
            {"/a/video/clip.3gp", 2048}, {"MyToneDB.db", 600}};
        for (size_t i = 0; i < files.size(); ++i)
            phone.addFile({sim::toPhoneName(files[i].first), 0, pattern(files[i].second, static_cast<uint32_t>(i))});
        for (uint16_t record = 1; record <= 3; ++record) {
            phone.setSeemRecord(0x4C, record, pattern(record == 1 ? 60 : 20 + record, record));
            phone.setSeemRecord(0x105, record, pattern(record * 11, 100 + record));
        }
        phone.setSeemRecord(0x207, 1, {0x5A});
        seemNumbers = {0x4C, 0x105, 0x207};
    }

    void attach()
    {
        std::unique_ptr<UsbTransport> handle = phone.open();
        ASSERT_NE(handle, nullptr);
        link.attach(std::make_unique<RequestWatch>(std::move(handle), tally, log));
        attachment = phone.attachmentId();
    }

    uint32_t below(uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(random); }
    bool chance(uint32_t percent) { return below(100) < percent; }

    // ---- the faults -----------------------------------------------------

    // An index into weights, each as likely as its weight.
    template <size_t N>
    size_t pickWeighted(const std::array<uint32_t, N>& weights)
    {
        uint32_t pick = below(std::accumulate(weights.begin(), weights.end(), 0u));
        size_t index = 0;
        while (pick >= weights[index])
            pick -= weights[index++];
        return index;
    }

    // A fault that makes the host wait out the whole 40 s answer wait costs
    // 40000 polls, so those kinds come up less often than the others.
    sim::Fault randomFaultKind()
    {
        static constexpr std::array<sim::Fault, 12> kKinds = {
            sim::Fault::ErrorStatus, sim::Fault::WrongSequence, sim::Fault::AnswerCountTwo,
            sim::Fault::ClearedAnswerFlag, sim::Fault::DataLengthOffByOne, sim::Fault::OneByteAnswer,
            sim::Fault::OversizedAnswer, sim::Fault::TruncatedAnswer, sim::Fault::ShortDriverRead,
            sim::Fault::LostAnswer, sim::Fault::StatusCountThree, sim::Fault::UnplugMidRequest};
        static constexpr std::array<uint32_t, 12> kWeights = {4, 4, 4, 4, 4, 4, 4, 4, 4, 1, 1, 2};
        return kKinds[pickWeighted(kWeights)];
    }

    sim::FaultSpec randomFault()
    {
        static constexpr std::array<uint8_t, 4> kErrors = {0, 4, 7, 12};
        static constexpr std::array<uint8_t, 3> kBytes = {0, 1, 6};
        const sim::Fault kind = randomFaultKind();
        uint8_t value = 0;
        if (kind == sim::Fault::ErrorStatus)
            value = kErrors[below(kErrors.size())];
        if (kind == sim::Fault::OneByteAnswer)
            value = kBytes[below(kBytes.size())];
        return {kind, value, below(kMaxRequestsBeforeFault + 1)};
    }

    void maybeQueueFault()
    {
        if (queued || !chance(50))
            return;
        queued = randomFault();
        phone.injectFault(*queued);
        tally.victimNumber = tally.taken + queued->afterRequests + 1;
        ++counts.faultsInjected;
    }

    // The fault that struck during the command just run, if one did.
    std::optional<sim::FaultSpec> takeStruckFault()
    {
        if (!queued || tally.taken < tally.victimNumber)
            return std::nullopt;
        std::optional<sim::FaultSpec> struck = queued;
        queued.reset();
        tally.victimNumber = 0;
        ++counts.faultsStruck;
        return struck;
    }

    bool victimWas(uint32_t subcommand) const
    {
        return tally.victimOpcode == kFileSystemOpcode && tally.victimData.size() >= 4
               && loadBe32(tally.victimData.data()) == subcommand;
    }

    // ---- the commands -----------------------------------------------------

    void selectRandomRows(uint32_t most)
    {
        list.selected.clear();
        if (list.rows.empty())
            return;
        const uint32_t wanted = 1 + below(most);
        for (uint32_t i = 0; i < wanted; ++i)
            list.selected.insert(static_cast<int>(below(static_cast<uint32_t>(list.rows.size()))));
    }

    // The rows a selection command handles, in order.
    std::vector<const FakeList::Row*> selectedRows() const
    {
        std::vector<const FakeList::Row*> rows;
        for (int index : list.selected)
            rows.push_back(&list.rows[static_cast<size_t>(index)]);
        return rows;
    }

    // Each handled file's log line: its name first, then the command's texts.
    // The command's result says that every selected file went through.
    void checkFileLines(const std::string& label, bool result, const std::function<bool(const FakeList::Row&)>& done)
    {
        const std::vector<std::string> lines = segmentsAfter(sink.text(), label);
        const std::vector<const FakeList::Row*> rows = selectedRows();
        ASSERT_LE(lines.size(), rows.size());
        for (size_t i = 0; i < lines.size(); ++i) {
            const std::string name = cp1251ToUtf8(rows[i]->name);
            ASSERT_TRUE(lines[i].starts_with(name)) << lines[i];
            const bool ok = lines[i].find(" ok\r\n", name.size()) != std::string::npos;
            if (ok) {
                ++counts.okFiles;
                EXPECT_TRUE(done(*rows[i])) << "reported done but not done: " << rows[i]->name;
            } else {
                EXPECT_TRUE(showsFailure(lines[i].substr(name.size()))) << "a silent failure: " << lines[i];
                EXPECT_FALSE(result) << "a command with a failed file reports success";
            }
        }
        if (result) {
            EXPECT_EQ(lines.size(), rows.size()) << "a command that reports success handled every file";
        }
    }

    void refresh()
    {
        const std::vector<sim::SimFile> onPhone = phone.files();
        const bool result = view.refreshFileList(window);
        EXPECT_EQ(result, sink.text().find("Найдено файлов:") != std::string::npos);
        if (!result) {
            EXPECT_TRUE(list.rows.empty());
            EXPECT_TRUE(showsFailure(sink.text()));
            return;
        }
        ASSERT_EQ(list.rows.size(), onPhone.size()) << "a refresh that succeeds shows every file";
        for (size_t i = 0; i < onPhone.size(); ++i) {
            EXPECT_EQ(list.rows[onPhone.size() - 1 - i].name, onPhone[i].name);
            EXPECT_EQ(list.rows[onPhone.size() - 1 - i].size, std::to_string(onPhone[i].content.size()));
        }
    }

    // A PC file the operator picks as a source; it belongs to the PC before the command.
    void placePcFile(const std::string& path, const Bytes& bytes)
    {
        pc.files[path] = {bytes, false};
        pcBefore[path] = {bytes, false};
    }

    void upload()
    {
        const std::string title = "up" + std::to_string(counts.commands) + ".bin";
        const Bytes data = pattern(1 + below(3000), counts.commands);
        placePcFile("C:/pc/" + title, data);
        window.fields[control::kUploadPath] = kUploadFolder;
        const bool cancel = chance(5);
        dialogs.shown.clear();
        dialogs.answers = {cancel ? std::nullopt : std::optional(DialogChoice{"C:/pc/" + title, title})};
        const bool result = files.uploadFile();
        const sim::SimFile* stored = phone.findFile(kUploadFolder + title);
        EXPECT_EQ(result, sink.text().ends_with(" ok\r\n"));
        if (result) {
            ++counts.okFiles;
            ASSERT_NE(stored, nullptr) << "an upload reported done left no phone file";
            EXPECT_EQ(stored->content, data);
            return;
        }
        // Only a cancelled dialog ends an upload without a reason; a failed
        // one leaves no file behind unless the log says the phone kept a piece.
        const bool cancelled = cancel && !dialogs.shown.empty();
        EXPECT_TRUE(cancelled || showsFailure(sink.text())) << sink.text();
        if (sink.text().find("обрывок") == std::string::npos) {
            EXPECT_EQ(stored, nullptr) << "a failed upload left a file on the phone\n" << sink.text();
        }
    }

    // The operator's source files are not kept between commands: the PC's
    // files stay few, so that checking all of them after every command stays cheap.
    void tidySources()
    {
        std::erase_if(pc.files, [](const auto& file) { return file.first.starts_with("C:/pc/"); });
    }

    void download()
    {
        selectRandomRows(3);
        const std::string folder = "D:/down" + std::to_string(below(3));
        dialogs.answers = {chance(5) ? std::nullopt
                                     : std::optional(DialogChoice{folder + "/first" + std::to_string(below(4)),
                                                                  "first"})};
        std::map<std::string, Bytes> onPhone;
        for (const sim::SimFile& file : phone.files())
            onPhone[file.name] = file.content;
        const size_t createdBefore = pc.created.size();
        const bool result = files.downloadSelectedFiles();

        // Files kept on the PC, in the order they were made.
        std::vector<std::string> kept;
        for (size_t i = createdBefore; i < pc.created.size(); ++i) {
            if (pc.files.count(pc.created[i]))
                kept.push_back(pc.created[i]);
        }
        size_t next = 0;
        checkFileLines("Скачиваем...", result, [&](const FakeList::Row& row) {
            if (next >= kept.size() || !onPhone.count(row.name))
                return false;
            const Bytes& content = onPhone[row.name];
            const size_t listed = std::stoul(row.size);
            const std::string& path = kept[next++];
            if (listed > content.size())
                return false;
            // The PC file must hold the phone's content as listed.
            expectedNew[path] = Bytes(content.begin(), content.begin() + static_cast<std::ptrdiff_t>(listed));
            return folderOf(path) == folder;
        });
        EXPECT_EQ(next, kept.size()) << "a PC file was kept for a download not reported done";
    }

    void remove()
    {
        selectRandomRows(2);
        window.answers.clear();
        for (size_t i = 0; i < list.selected.size(); ++i)
            window.answers.push_back(chance(85));
        const bool result = files.deleteSelectedFiles();
        checkFileLines("Удаляем...", result,
                       [&](const FakeList::Row& row) { return phone.findFile(row.name) == nullptr; });
    }

    void changeAttributes()
    {
        selectRandomRows(3);
        const uint32_t value = below(70000);
        window.fields[control::kAttributes] = std::to_string(value);
        const bool result = files.changeAttributes();
        checkFileLines("Меняем атрибут..", result, [&](const FakeList::Row& row) {
            const sim::SimFile* file = phone.findFile(row.name);
            return file && file->attributes == attributeFieldValue(std::to_string(value));
        });
    }

    // ---- SEEM -------------------------------------------------------------

    uint16_t randomSeem() { return seemNumbers[below(static_cast<uint32_t>(seemNumbers.size()))]; }

    std::map<std::pair<uint16_t, uint16_t>, Bytes> seemSnapshot() const
    {
        std::map<std::pair<uint16_t, uint16_t>, Bytes> records;
        for (uint16_t seem : seemNumbers) {
            for (uint16_t record = 1; record <= 4; ++record) {
                if (const Bytes* bytes = phone.seemRecord(seem, record))
                    records[{seem, record}] = *bytes;
            }
        }
        return records;
    }

    // The SEEM file a read of that record must give: the record, unless the
    // fault that struck that very read reshaped the answer; none when the
    // phone's answer held no record.
    std::optional<Bytes> seemFileContent(uint16_t seem, uint16_t record, const std::optional<sim::FaultSpec>& fault)
    {
        const bool thisRead = fault && tally.victimOpcode == kSeemReadOpcode && tally.victimData.size() == 8
                              && loadBe16(&tally.victimData[0]) == seem && loadBe16(&tally.victimData[2]) == record;
        // A status byte alone carries no record: nothing is saved for it.
        if (thisRead && fault->fault == sim::Fault::OneByteAnswer)
            return std::nullopt;
        const auto stored = seemsBefore.find({seem, record});
        if (stored == seemsBefore.end() || stored->second.empty())
            return std::nullopt;
        Bytes content = stored->second;
        if (thisRead && fault->fault == sim::Fault::OversizedAnswer)
            content.resize(SeemAccess::kMaxAnswer - 1, 0);
        return content;
    }

    void downloadSeems()
    {
        const uint16_t first = randomSeem();
        window.fields[control::kSeemRangeStart] = hex4(first);
        window.fields[control::kSeemRangeEnd] = hex4(first + below(2));
        const std::string folder = "D:/seem" + std::to_string(below(2));
        dialogs.answers = {DialogChoice{folder + "/xxxx_yyyy.seem", "xxxx_yyyy.seem"}};
        seemsBefore = seemSnapshot();
        // A phone gone mid-range stops the range early; records already saved
        // in that folder, or refused by the PC, fail the command.
        const bool result = seems.downloadSeemRange();
        const bool gone = sink.text().find("Тело отключилось, команда остановлена\r\n") != std::string::npos;
        const bool notSaved = sink.text().find("Не сохранил ") != std::string::npos;
        EXPECT_EQ(result, !gone && !notSaved) << sink.text();
        EXPECT_EQ(!gone, sink.text().ends_with("Done.\r\n"));
        seemFolder = folder;
    }

    void uploadSeem()
    {
        const auto records = seemSnapshot();
        auto it = records.begin();
        std::advance(it, below(static_cast<uint32_t>(records.size())));
        Bytes bytes = it->second;
        bytes[0] ^= 0x5A;
        if (chance(15))
            bytes.push_back(0); // a file one byte too long is refused
        placePcFile("C:/pc/record.seem", bytes);
        window.fields[control::kSeemNumber] = hex4(it->first.first);
        window.fields[control::kSeemRecord] = hex4(it->first.second);
        dialogs.answers = {DialogChoice{"C:/pc/record.seem", "record.seem"}};
        const bool result = seems.uploadSeemRecord();
        EXPECT_EQ(result, sink.text().ends_with(" ok\r\n"));
        const Bytes* now = phone.seemRecord(it->first.first, it->first.second);
        ASSERT_NE(now, nullptr);
        EXPECT_TRUE(*now == it->second || *now == bytes) << "a record is rewritten whole or not at all";
        if (result) {
            ++counts.okFiles;
            EXPECT_EQ(*now, bytes) << "an upload reported done did not write the record";
        }
    }

    void updateRingtones()
    {
        const Bytes before = *phone.seemRecord(0x4C, 1);
        const Bytes patched = patchedProfiles(before);
        const bool result = seems.updateRingtones();
        const Bytes& after = *phone.seemRecord(0x4C, 1);
        EXPECT_TRUE(after == before || after == patched) << "the profiles are patched exactly, or left alone";
        if (result) {
            ++counts.okFiles;
            EXPECT_EQ(after, patched) << "an update reported done did not patch the profiles";
        }
    }

    // ---- after every command ------------------------------------------------

    // Every PC file made by the command is complete; every older one untouched.
    void checkPcFiles(const PcFileMap& before, const std::optional<sim::FaultSpec>& fault)
    {
        EXPECT_EQ(pc.openCount, 0) << "a PC file was left open";
        for (const auto& [path, file] : before) {
            ASSERT_TRUE(pc.files.count(path)) << "a PC file vanished: " << path;
            EXPECT_EQ(pc.files[path].bytes, file.bytes) << "a PC file was overwritten: " << path;
        }
        for (const auto& [path, file] : pc.files) {
            if (before.count(path))
                continue;
            if (expectedNew.count(path)) {
                EXPECT_EQ(file.bytes, expectedNew[path]) << "a downloaded file is incomplete: " << path;
                continue;
            }
            unsigned seem = 0;
            unsigned record = 0;
            const std::string name = path.substr(path.rfind('/') + 1);
            ASSERT_EQ(std::sscanf(name.c_str(), "%4x_%4x.seem", &seem, &record), 2) << "an unexpected file " << path;
            EXPECT_EQ(folderOf(path), seemFolder);
            const std::optional<Bytes> expected =
                seemFileContent(static_cast<uint16_t>(seem), static_cast<uint16_t>(record), fault);
            ASSERT_TRUE(expected) << "a SEEM file for a record the phone did not send: " << path;
            EXPECT_EQ(file.bytes, *expected) << path;
        }
    }

    // The phone keeps a file open only when the fault hit the open or the
    // close itself; the operator then replugs it. A handle from before a
    // restart or an unplug is replaced, as the monitor would.
    void checkPhone(const std::optional<sim::FaultSpec>& fault)
    {
        EXPECT_TRUE(phone.violations().empty()) << phone.violations().front();
        const bool unplugged = fault && fault->fault == sim::Fault::UnplugMidRequest;
        counts.unplugged += unplugged;
        if (phone.fileOpen()) {
            EXPECT_TRUE(fault && (victimWas(kOpen) || victimWas(kClose))) << "the program left a phone file open";
            ++counts.phoneResets;
            phone.unplug();
        }
        if (phone.attachmentId() != attachment) {
            clock.advance(phone.config().restartDowntimeMs);
            phone.plugIn();
            attach();
        }
    }

    // The fault and the request it struck, for failure messages.
    std::string describe(const sim::FaultSpec& fault) const
    {
        std::string text = "fault " + std::to_string(static_cast<int>(fault.fault)) + " value "
                           + std::to_string(fault.value) + " on opcode " + std::to_string(tally.victimOpcode) + ":";
        for (uint8_t byte : tally.victimData)
            text += " " + std::to_string(byte);
        return text;
    }

    void checkLog(const std::optional<sim::FaultSpec>& fault)
    {
        EXPECT_EQ(log.quietSwitch(), 0);
        EXPECT_FALSE(sink.text().empty()) << "a command that logs nothing";
        // Half of no answer data is all of it: such a truncated answer arrives whole.
        const bool unchanged = fault && fault->fault == sim::Fault::TruncatedAnswer && tally.victimAnswerData == 0;
        if (fault && !tally.victimQuiet && !unchanged) {
            EXPECT_NE(sink.text().find(traceOf(*fault)), std::string::npos)
                << "a fault left no trace in the log: " << describe(*fault) << "\n" << sink.text().substr(0, 2000);
        }
    }

    void runOneCommand()
    {
        maybeQueueFault();
        pc.failWrite = chance(3);
        pc.failCreate = chance(3);
        counts.pcFaults += pc.failWrite + pc.failCreate;
        sink.clear();
        window.progress.clear();
        expectedNew.clear();
        seemFolder.clear();
        seemsBefore.clear();
        pcBefore = pc.files;

        static constexpr std::array<void (SoakTest::*)(), 8> kCommandTable = {
            &SoakTest::refresh, &SoakTest::upload, &SoakTest::download, &SoakTest::remove,
            &SoakTest::changeAttributes, &SoakTest::downloadSeems, &SoakTest::uploadSeem, &SoakTest::updateRingtones};
        static constexpr std::array<uint32_t, 8> kWeights = {24, 14, 20, 6, 8, 12, 10, 6};
        (this->*kCommandTable[pickWeighted(kWeights)])();
        ++counts.commands;

        const std::optional<sim::FaultSpec> fault = takeStruckFault();
        checkPcFiles(pcBefore, fault);
        checkLog(fault);
        checkPhone(fault);
        tidySources();
        pc.failWrite = false;
        pc.failCreate = false;
    }

    const uint32_t seed = std::getenv("P2K_SOAK_SEED") ? std::stoul(std::getenv("P2K_SOAK_SEED")) : kSeed;
    std::mt19937 random{seed};
    RequestTally tally;
    std::optional<sim::FaultSpec> queued;
    uint64_t attachment = 0;
    std::vector<uint16_t> seemNumbers;
    PcFileMap pcBefore;
    std::map<std::string, Bytes> expectedNew;
    std::map<std::pair<uint16_t, uint16_t>, Bytes> seemsBefore;
    std::string seemFolder;
    SoakCounts counts;
};

TEST_F(SoakTest, ThousandsOfCommandsUnderRandomFaultsLoseNothing)
{
    for (int i = 0; i < kCommands && !HasFailure(); ++i) {
        SCOPED_TRACE("command " + std::to_string(i));
        runOneCommand();
    }
    RecordProperty("commands", counts.commands);
    RecordProperty("faults_injected", counts.faultsInjected);
    RecordProperty("faults_struck", counts.faultsStruck);
    std::cout << "soak: seed " << seed << ", " << counts.commands << " commands, " << counts.faultsInjected
              << " faults injected, " << counts.faultsStruck << " struck (" << counts.unplugged << " unplugs), "
              << counts.pcFaults << " PC faults, " << counts.okFiles << " reported successes checked, "
              << counts.phoneResets << " phone replugs for a file the phone kept open, "
              << phone.restartCount() << " restarts\n";
    EXPECT_EQ(counts.commands, kCommands);
    EXPECT_GT(counts.faultsStruck, kCommands / 4);
    EXPECT_GT(counts.okFiles, kCommands / 5);
}

} // namespace
} // namespace p2k::test
