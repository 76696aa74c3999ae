// Every operator command with its k-th request failing, for k = 1, 2, ...
// until the command no longer makes k requests. Two ways to fail: the phone
// refuses the request (GENERIC FAILURE, nothing carried out), or the phone is
// unplugged right after receiving it (nothing carried out, every later
// request fails). Each time the command must end as it should, with its own
// text; files handled before the fault stay handled; no PC file is left
// half-written or open; no phone file is left open unless the phone itself
// refused to close it.

#include "core/cp1251.h"
#include "tests/support/log_segments.h"
#include "tests/support/phone_world.h"
#include "tests/support/ringtone_profiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>

namespace p2k::test {
namespace {

Bytes pattern(size_t size, uint8_t seed)
{
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(seed + i * 7 + i / 253);
    return bytes;
}

const Bytes kOne = pattern(700, 1);  // one read
const Bytes kTwo = pattern(1500, 2); // two reads, two writes
const Bytes kProfiles = pattern(60, 3);

sim::PhoneConfig smallChunks()
{
    sim::PhoneConfig config;
    config.entriesPerChunk = 3;
    return config;
}

// A phone with four files and three records of SEEM 0x004C, and the
// commands over it, as the application wires them.
struct Bench : PhoneWorld {
    Bench() : PhoneWorld(smallChunks())
    {
        phone.addFile({"/a/one.bin", 0, kOne});
        phone.addFile({"/a/two.bin", 0, kTwo});
        phone.addFile({"/a/three.txt", 0, Bytes(5, 't')});
        phone.addFile({"MyToneDB.db", 0, Bytes(600, 'm')});
        phone.setSeemRecord(0x4C, 1, kProfiles);
        phone.setSeemRecord(0x4C, 2, pattern(10, 4));
        phone.setSeemRecord(0x4C, 3, pattern(5, 5));
        link.attach(phone.open());
    }

    // The list as the operator sees it before the command; rows: MyToneDB.db,
    // three.txt, two.bin, one.bin.
    void showList()
    {
        ASSERT_TRUE(view.refreshFileList(window));
        sink.clear();
    }

    // One log line per handled file: label, name, then " ok" or what went wrong.
    std::vector<bool> fileLinesOk(const std::string& label) const
    {
        std::vector<bool> ok;
        for (const std::string& line : segmentsAfter(sink.text(), label))
            ok.push_back(line.find(" ok\r\n") != std::string::npos);
        return ok;
    }
};

// How the k-th request fails.
struct FailureKind {
    const char* name;
    sim::FaultSpec fault;
    std::string trace; // what the channel logs for it
    bool phoneGone;    // the phone went away with the request
};

const FailureKind kRefused{"Refused", {sim::Fault::ErrorStatus, 7}, "GENERIC FAILURE\r\n", false};
const FailureKind kUnplugged{"Unplugged", {sim::Fault::UnplugMidRequest}, "USB: Device gone!\r\n", true};

const std::string kGoneLine = "Тело отключилось, команда остановлена\r\n";

// Once the phone is gone, the command ends at its next request: a few lines
// at most, the gone line once.
void checkGone(const std::string& log)
{
    const size_t unplug = log.find(kUnplugged.trace);
    if (unplug == std::string::npos)
        return; // swallowed by the silent first open of a download
    const std::string after = log.substr(unplug);
    const auto lines = std::count(after.begin(), after.end(), '\n') + (after.ends_with("\n") ? 0 : 1);
    EXPECT_LE(lines, 5) << after;
    EXPECT_EQ(after.find(kUnplugged.trace, 1), std::string::npos) << "the transport's text comes once";
    const size_t gone = log.find(kGoneLine);
    EXPECT_EQ(log.find(kGoneLine, gone + 1), std::string::npos) << "the gone line comes once";
}

// One command: how to set it up, run it, and what must hold when its k-th
// request failed. requests names each request the command makes.
struct Scenario {
    const char* name;
    std::vector<const char*> requests;
    std::function<void(Bench&)> prepare;
    std::function<bool(Bench&)> run;
    std::function<void(Bench&, size_t k, const FailureKind&, bool result)> check;
};

void checkAlways(Bench& bench, const Scenario& scenario, size_t k, const FailureKind& kind)
{
    EXPECT_EQ(bench.pc.openCount, 0) << "a PC file was left open";
    EXPECT_EQ(bench.log.quietSwitch(), 0);
    EXPECT_TRUE(bench.phone.violations().empty()) << bench.phone.violations().front();
    const bool closeRefused = !kind.phoneGone && std::string_view(scenario.requests[k - 1]) == "close";
    EXPECT_EQ(bench.phone.fileOpen(), closeRefused) << "only a close the phone refused leaves its file open";
    // The silent first open of a download is the one place a reason goes unlogged.
    if (std::string_view(scenario.requests[k - 1]) != "quiet open") {
        EXPECT_NE(bench.sink.text().find(kind.trace), std::string::npos) << "the failure's reason is logged";
    }
    if (kind.phoneGone)
        checkGone(bench.sink.text());
}

void sweep(const Scenario& scenario, const FailureKind& kind)
{
    for (size_t k = 1;; ++k) {
        SCOPED_TRACE(std::string(kind.name) + ": request " + std::to_string(k) + " fails");
        Bench bench;
        scenario.prepare(bench);
        sim::FaultSpec fault = kind.fault;
        fault.afterRequests = static_cast<uint32_t>(k - 1);
        bench.phone.injectFault(fault);
        const bool result = scenario.run(bench);
        if (bench.phone.queuedFaultCount() > 0) {
            EXPECT_EQ(k - 1, scenario.requests.size()) << "the command makes as many requests as listed";
            return;
        }
        ASSERT_LE(k, scenario.requests.size()) << "the command makes more requests than listed";
        SCOPED_TRACE(std::string("that is the ") + scenario.requests[k - 1] + "\n" + bench.sink.text().substr(0, 600));
        checkAlways(bench, scenario, k, kind);
        scenario.check(bench, k, kind, result);
        if (testing::Test::HasFailure())
            return;
    }
}

// ---- the scenarios ----------------------------------------------------------

const std::string kFetchFailed = "Блин, чета пошло не так.. не получилось, короче..\r\n";

Scenario refreshScenario()
{
    return {"Refresh",
            {"list count", "list chunk", "list chunk", "volume name", "free space"},
            [](Bench&) {},
            [](Bench& b) { return b.view.refreshFileList(b.window); },
            [](Bench& b, size_t k, const FailureKind&, bool result) {
                // The list counts as fetched once its chunks are in; the volume block may still fail.
                EXPECT_EQ(result, k >= 4);
                EXPECT_EQ(b.list.rows.size(), k >= 4 ? 4u : 0u);
                const std::string ending = k <= 3   ? kFetchFailed
                                           : k == 4 ? "Косяк! Не могу определить имя носителя!\r\n"
                                                    : "Косяк! Не могу определить размер носителя!\r\n\r\n";
                EXPECT_TRUE(b.sink.text().ends_with(ending));
            }};
}

Scenario uploadScenario()
{
    return {"Upload",
            {"volume name", "free space", "open", "write", "write", "close"},
            [](Bench& b) {
                b.showList();
                b.pc.files["C:/pc/new.bin"] = {kTwo, false};
                b.dialogs.answers.push_back(DialogChoice{"C:/pc/new.bin", "new.bin"});
                b.window.fields[control::kUploadPath] = "/a/";
            },
            [](Bench& b) { return b.files.uploadFile(); },
            [](Bench& b, size_t k, const FailureKind& kind, bool result) {
                // A close the phone refuses comes after the data went through.
                EXPECT_EQ(result, k == 6);
                EXPECT_EQ(b.sink.text().ends_with(" ok\r\n"), k == 6);
                if (k <= 2) {
                    EXPECT_TRUE(b.sink.text().ends_with("Чет я потерялся.. носитель не определяю\r\n"));
                }
                // A failed write is removed again, unless the phone went away with it.
                const bool pieceLeft = kind.phoneGone && (k == 4 || k == 5);
                const sim::SimFile* stored = b.phone.findFile("/a/new.bin");
                EXPECT_EQ(stored != nullptr, k == 6 || pieceLeft) << "only a whole file stays on the phone";
                EXPECT_EQ(b.sink.text().find("на телефоне лежит обрывок!\r\n") != std::string::npos, pieceLeft);
                if (k == 6) {
                    EXPECT_EQ(stored->content, kTwo);
                }
                EXPECT_EQ(b.pc.files["C:/pc/new.bin"].bytes, kTwo) << "the PC file is only read";
            }};
}

// Rows two.bin, then one.bin: the first goes where the dialog says, the
// second beside it under its own name.
Scenario downloadScenario()
{
    return {"Download",
            {"quiet open", "seek", "read", "read", "close", "quiet open", "seek", "read", "close"},
            [](Bench& b) {
                b.showList();
                b.list.selectNamed({"/a/one.bin", "/a/two.bin"});
                b.dialogs.answers.push_back(DialogChoice{"D:/down/first.bin", "first.bin"});
            },
            [](Bench& b) { return b.files.downloadSelectedFiles(); },
            [](Bench& b, size_t k, const FailureKind& kind, bool result) {
                // A failed silent open is tried once more, audibly: that one
                // succeeds unless the phone is gone, or still holds the first file.
                const bool secondOpenWorks = !kind.phoneGone;
                const bool twoSaved = (k == 1 && secondOpenWorks) || k >= 5;
                const bool oneSaved = (k == 1 && secondOpenWorks) || (k == 6 && secondOpenWorks) || k == 9;
                const std::map<std::string, FakePcFiles::Stored> saved = b.pc.files;
                EXPECT_EQ(saved.size(), size_t{twoSaved} + size_t{oneSaved});
                if (twoSaved) {
                    EXPECT_EQ(b.pc.files["D:/down/first.bin"].bytes, kTwo);
                }
                if (oneSaved) {
                    EXPECT_EQ(b.pc.files["D:/down/one.bin"].bytes, kOne);
                }
                EXPECT_EQ(result, twoSaved && oneSaved);
                // Gone at the first file's close, the command stops before the second file.
                const std::string ending = k == 5 && kind.phoneGone ? kGoneLine
                                           : k == 2 || k == 7 ? "Косяк!! Кэннот сик ту зиро - сами думайте, че эт такое.."
                                           : k == 3 || k == 4 || k == 8 ? "Косяк!! Не могу прочесть файл!"
                                           : twoSaved && oneSaved ? " ok\r\n"
                                                                  : "Косяк!! Не могу открыть файл!";
                // Without the phone, the close after a failed seek or read fails too, and says so.
                EXPECT_NE(b.sink.text().find(ending), std::string::npos);
            }};
}

Scenario deleteScenario()
{
    return {"Delete",
            {"delete", "delete"},
            [](Bench& b) {
                b.showList();
                b.list.selectNamed({"/a/one.bin", "/a/two.bin"});
                b.window.answers = {true, true};
            },
            [](Bench& b) { return b.files.deleteSelectedFiles(); },
            [](Bench& b, size_t k, const FailureKind&, bool result) {
                EXPECT_FALSE(result);
                const std::vector<bool> lines = k == 1 ? std::vector<bool>{false} : std::vector<bool>{true, false};
                EXPECT_EQ(b.fileLinesOk("Удаляем..."), lines);
                EXPECT_EQ(b.phone.findFile("/a/two.bin") == nullptr, k == 2) << "a file deleted before stays deleted";
                EXPECT_NE(b.phone.findFile("/a/one.bin"), nullptr);
                EXPECT_TRUE(b.sink.text().ends_with(kFetchFailed));
            }};
}

Scenario attributeScenario()
{
    return {"AttributeChange",
            {"open", "close", "open", "close"},
            [](Bench& b) {
                b.showList();
                b.list.selectNamed({"/a/one.bin", "/a/two.bin"});
                b.window.fields[control::kAttributes] = "4";
            },
            [](Bench& b) { return b.files.changeAttributes(); },
            [](Bench& b, size_t k, const FailureKind& kind, bool result) {
                // A refused close keeps two.bin open, so one.bin cannot be opened.
                const bool twoChanged = k != 1;
                const bool oneChanged = k == 4 || (k == 1 && !kind.phoneGone);
                std::vector<bool> lines{twoChanged, oneChanged};
                if (kind.phoneGone && k <= 2)
                    lines.pop_back(); // the command stops once the phone is gone
                EXPECT_EQ(b.fileLinesOk("Меняем атрибут.."), lines);
                EXPECT_EQ(b.phone.findFile("/a/two.bin")->attributes, twoChanged ? 4u : 0u);
                EXPECT_EQ(b.phone.findFile("/a/one.bin")->attributes, oneChanged ? 4u : 0u);
                EXPECT_EQ(result, twoChanged && oneChanged);
            }};
}

Scenario seemDownloadScenario()
{
    return {"SeemDownload",
            {"read", "read", "read", "read"},
            [](Bench& b) {
                b.window.fields[control::kSeemRangeStart] = "4c";
                b.window.fields[control::kSeemRangeEnd] = "4c";
                b.dialogs.answers.push_back(DialogChoice{"D:/seem/xxxx_yyyy.seem", "xxxx_yyyy.seem"});
            },
            [](Bench& b) { return b.seems.downloadSeemRange(); },
            [](Bench& b, size_t k, const FailureKind&, bool result) {
                // A failed read ends the SEEM's records, as a missing record does.
                EXPECT_TRUE(result);
                EXPECT_TRUE(b.sink.text().ends_with("Done.\r\n"));
                const size_t saved = std::min<size_t>(k - 1, 3);
                ASSERT_EQ(b.pc.files.size(), saved);
                for (uint16_t record = 1; record <= saved; ++record) {
                    EXPECT_EQ(b.pc.files["D:/seem/004c_000" + std::to_string(record) + ".seem"].bytes,
                              *b.phone.seemRecord(0x4C, record));
                }
            }};
}

Scenario seemUploadScenario()
{
    return {"SeemUpload",
            {"read", "write"},
            [](Bench& b) {
                b.pc.files["C:/pc/p.seem"] = {pattern(60, 9), false};
                b.dialogs.answers.push_back(DialogChoice{"C:/pc/p.seem", "p.seem"});
                b.window.fields[control::kSeemNumber] = "4c";
                b.window.fields[control::kSeemRecord] = "1";
            },
            [](Bench& b) { return b.seems.uploadSeemRecord(); },
            [](Bench& b, size_t k, const FailureKind&, bool result) {
                EXPECT_FALSE(result);
                EXPECT_EQ(b.sink.text().find(" ok\r\n"), std::string::npos);
                EXPECT_EQ(*b.phone.seemRecord(0x4C, 1), kProfiles);
                EXPECT_EQ(b.dialogs.shown.size(), k == 1 ? 0u : 1u) << "no file is asked for without the record";
            }};
}

Scenario ringtoneScenario()
{
    return {"RingtoneUpdate",
            {"read", "write", "delete", "restart"},
            [](Bench&) {},
            [](Bench& b) { return b.seems.updateRingtones(); },
            [](Bench& b, size_t k, const FailureKind& kind, bool result) {
                // After the read, the update goes on whatever fails; it reports
                // success only when the profiles went back.
                EXPECT_EQ(result, k >= 3);
                EXPECT_EQ(*b.phone.seemRecord(0x4C, 1), k >= 3 ? patchedProfiles(kProfiles) : kProfiles);
                const bool deleted = k == 4 || (k == 2 && !kind.phoneGone);
                EXPECT_EQ(b.phone.findFile("MyToneDB.db") == nullptr, deleted);
                const bool restarted = k == 2 || k == 3 ? !kind.phoneGone : false;
                EXPECT_EQ(b.phone.restartCount(), restarted ? 1 : 0);
                if (k == 1) {
                    EXPECT_TRUE(b.sink.text().ends_with("Косяк!! Профили не прочитались, ничего не меняю\r\n"));
                }
            }};
}

struct Case {
    Scenario (*scenario)();
    const FailureKind* kind;
};

void PrintTo(const Case& c, std::ostream* out)
{
    *out << c.scenario().name << c.kind->name;
}

class FaultInjectionTest : public testing::TestWithParam<Case> {};

TEST_P(FaultInjectionTest, EveryRequestMayFail)
{
    sweep(GetParam().scenario(), *GetParam().kind);
}

std::vector<Case> allCases()
{
    std::vector<Case> cases;
    for (Scenario (*scenario)() : {refreshScenario, uploadScenario, downloadScenario, deleteScenario,
                                    attributeScenario, seemDownloadScenario, seemUploadScenario, ringtoneScenario}) {
        cases.push_back({scenario, &kRefused});
        cases.push_back({scenario, &kUnplugged});
    }
    return cases;
}

// ---- the operator interrupts --------------------------------------------------

// Raises the interrupt flag (Esc, the close box, Ctrl-C) before the request
// that would be the phone's n-th.
class InterruptBefore : public RequestGate {
public:
    InterruptBefore(const sim::SimulatedPhone& phone, std::atomic<bool>& flag, uint64_t n)
        : phone_(phone), flag_(flag), n_(n) {}
    void beforeRequest() override
    {
        if (phone_.requestCount() + 1 >= n_)
            flag_.store(true);
    }

private:
    const sim::SimulatedPhone& phone_;
    std::atomic<bool>& flag_;
    uint64_t n_;
};

// What a PC file may hold: a whole phone file or record, or a file the test put there.
bool isWhole(Bench& b, const Bytes& bytes)
{
    for (const sim::SimFile& file : b.phone.files()) {
        if (file.content == bytes)
            return true;
    }
    for (const auto& record : b.phone.seemRecords()) {
        if (record.bytes == bytes)
            return true;
    }
    return bytes == kTwo || bytes == pattern(60, 9);
}

// A phone file the command made or changed must be a whole copy of a PC file.
void expectNoPieceOnThePhone(Bench& b, const std::vector<sim::SimFile>& before)
{
    for (const sim::SimFile& file : b.phone.files()) {
        const bool unchanged = std::any_of(before.begin(), before.end(), [&](const sim::SimFile& old) {
            return old.name == file.name && old.content == file.content;
        });
        const bool copyOfPcFile = std::any_of(b.pc.files.begin(), b.pc.files.end(),
                                              [&](const auto& pcFile) { return pcFile.second.bytes == file.content; });
        EXPECT_TRUE(unchanged || copyOfPcFile) << file.name << " is half-written on the phone";
    }
}

void sweepInterrupts(const Scenario& scenario)
{
    for (size_t k = 1;; ++k) {
        SCOPED_TRACE("interrupted before request " + std::to_string(k));
        Bench bench;
        scenario.prepare(bench);
        const std::vector<sim::SimFile> phoneFilesBefore = bench.phone.files();
        std::atomic<bool> flag{false};
        InterruptBefore gate(bench.phone, flag, bench.phone.requestCount() + k);
        bench.channel.setInterruptFlag(&flag);
        bench.channel.setRequestGate(&gate);
        scenario.run(bench);
        const bool interrupted = bench.channel.reportInterrupted();
        if (!interrupted) {
            EXPECT_EQ(k - 1, scenario.requests.size()) << "the command makes as many requests as listed";
            return;
        }
        const std::string log = bench.sink.text();
        SCOPED_TRACE(log.substr(0, 600));
        EXPECT_TRUE(log.ends_with("Прервано\r\n"));
        const std::string before = log.substr(0, log.size() - std::string("Прервано\r\n").size());
        EXPECT_TRUE(before.empty() || before.ends_with("\n")) << "the line stands on its own";
        EXPECT_EQ(bench.pc.openCount, 0) << "a PC file was left open";
        EXPECT_FALSE(bench.phone.fileOpen()) << "a phone file was left open";
        EXPECT_TRUE(bench.phone.violations().empty());
        for (const auto& [path, stored] : bench.pc.files)
            EXPECT_TRUE(isWhole(bench, stored.bytes)) << path << " is half-written";
        expectNoPieceOnThePhone(bench, phoneFilesBefore);
        if (testing::Test::HasFailure())
            return;
    }
}

void PrintTo(Scenario (*scenario)(), std::ostream* out)
{
    *out << scenario().name;
}

class InterruptTest : public testing::TestWithParam<Scenario (*)()> {};

TEST_P(InterruptTest, EveryRequestMayBeInterrupted)
{
    sweepInterrupts(GetParam()());
}

INSTANTIATE_TEST_SUITE_P(Commands, InterruptTest,
                         testing::Values(refreshScenario, uploadScenario, downloadScenario, deleteScenario,
                                         attributeScenario, seemDownloadScenario, seemUploadScenario,
                                         ringtoneScenario),
                         [](const auto& info) { return std::string(info.param().name); });

INSTANTIATE_TEST_SUITE_P(Commands, FaultInjectionTest, testing::ValuesIn(allCases()), [](const auto& info) {
    return std::string(info.param.scenario().name) + info.param.kind->name;
});

} // namespace
} // namespace p2k::test
